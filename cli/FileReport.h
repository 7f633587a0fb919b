// Storage files on the command line: `kyvex save FILE` and `kyvex show FILE`.
#pragma once

#include <functional>

#include <CLI/CLI.hpp>

#include "cli/Report.h"
#include "common/KSI_Common.h"

namespace kyvex::report {

// The machine description a storage file's header carries.
Lines StorageInfoLines(const TStorageInfoRecord& info);
nlohmann::ordered_json StorageInfoJson(const TStorageInfoRecord& info);

// A date-time as "YYYY-MM-DD HH:MM:SS" (empty for 0).
std::string FormatDateTime(TDateTime value);

// Whether the file exists, holds data and is not a storage file: a save would replace it, so
// the program refuses to save there (an empty file has nothing to lose).
bool HoldsOtherData(const std::string& FileName);

CLI::App* AddSaveCommand(CLI::App& app, std::function<int()>& run);
CLI::App* AddShowCommand(CLI::App& app, std::function<int()>& run);

}  // namespace kyvex::report
