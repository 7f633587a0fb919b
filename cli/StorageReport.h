// What the command and the window show of the TKyvex_Storage component.
#pragma once

#include <functional>

#include <CLI/CLI.hpp>

#include "cli/Report.h"
#include "storage/KSI_Storage.h"

namespace kyvex::report {

// The physical devices (one window page) and the logical drives (another).
Sections StoragePhysicalSections(const TKyvex_Storage& storage);
Sections StorageLogicalSections(const TKyvex_Storage& storage);
nlohmann::ordered_json StorageJson(const TKyvex_Storage& storage);
// One record with every field under its own name.
nlohmann::ordered_json DeviceJson(const TDeviceInfo& device);
// A count line, then the physical and the logical sections.
std::string StorageText(const TKyvex_Storage& storage);

// Collects this machine's data and adds it to the full report.
void AddStorageReport(FullReport& report);

// Adds the component's own subcommand and sets `run` to what runs it once the command line
// has been parsed (answering the exit code).
CLI::App* AddStorageCommand(CLI::App& app, std::function<int()>& run);

}  // namespace kyvex::report
