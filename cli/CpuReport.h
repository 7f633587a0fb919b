// What the command and the window show of the TKyvex_CPU component.
#pragma once

#include <functional>

#include <CLI/CLI.hpp>

#include "cli/Report.h"
#include "cpu/KSI_CPU.h"

namespace kyvex::report {

// The processor's identification, caches and features, for its window page and text.
Sections CpuSections(const TKyvex_CPU& cpu);
nlohmann::ordered_json CpuJson(const TKyvex_CPU& cpu);

// Collects this machine's data and adds it to the full report.
void AddCpuReport(FullReport& report);

// Adds the component's own subcommand and sets `run` to what runs it once the command line
// has been parsed (answering the exit code).
CLI::App* AddCpuCommand(CLI::App& app, std::function<int()>& run);

}  // namespace kyvex::report
