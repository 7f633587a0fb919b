// What the command and the window show of the TKyvex_SMBIOS component.
#pragma once

#include <functional>

#include <CLI/CLI.hpp>

#include "cli/Report.h"
#include "smbios/KSI_SMBIOS.h"

namespace kyvex::report {

// BIOS, system, board and chassis (one window page) and the device records (another).
Sections SmbiosSystemSections(const TKyvex_SMBIOS& smbios);
Sections SmbiosDeviceSections(const TKyvex_SMBIOS& smbios);
nlohmann::ordered_json SmbiosJson(const TKyvex_SMBIOS& smbios);

// Collects this machine's data and adds it to the full report.
void AddSmbiosReport(FullReport& report);

// Adds the component's own subcommand and sets `run` to what runs it once the command line
// has been parsed (answering the exit code).
CLI::App* AddSmbiosCommand(CLI::App& app, std::function<int()>& run);

}  // namespace kyvex::report
