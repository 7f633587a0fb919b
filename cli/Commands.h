// The kyvex program's commands: each collects what it shows (this machine, a recorded dump or
// a storage file) and prints it through the report library.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include <CLI/CLI.hpp>

#include "report/Report.h"

namespace kyvex::cli {

// Reads at most `limit` bytes of a file named on the command line into `content`; false with
// the reason in `error` for a folder, a missing file or a read error. The limit keeps a wrong
// file (a disk image, a device) from being read whole.
bool ReadInputFile(const std::string& name, std::size_t limit, std::string& content, std::string& error);

// Each adds its subcommand and, given `run`, its options, setting `*run` to what runs it once
// the command line has been parsed (answering the exit code). Without `run` only the name and
// description are added: enough for the program's help and for telling commands apart.
CLI::App* AddCpuCommand(CLI::App& app, std::function<int()>* run);
CLI::App* AddSmbiosCommand(CLI::App& app, std::function<int()>* run);
CLI::App* AddStorageCommand(CLI::App& app, std::function<int()>* run);
CLI::App* AddSaveCommand(CLI::App& app, std::function<int()>* run);
CLI::App* AddShowCommand(CLI::App& app, std::function<int()>* run);

// The runs of the common forms `cpu`, `smbios` and `storage` with only --json and the file they
// decode (empty: this machine), as the full command line would run them.
int RunCpuCommand(bool json, const std::string& dumpFile);
int RunSmbiosCommand(bool json, const std::string& dumpFile);
int RunStorageCommand(bool json, const std::string& identifyFile);

}  // namespace kyvex::cli
