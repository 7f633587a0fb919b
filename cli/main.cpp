// kyvex: this machine's hardware information on the command line.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <iostream>

#include "cli/Commands.h"
#include "common/Kyvex_Native.h"
#include "platform/VersionBlock.h"

#ifdef _WIN32
#include "platform/win32/WinApi.h"
#endif

namespace {

int RunReport(bool json) {
  kyvex::report::FullReport report;
  report.AsJson = json;
  kyvex::cli::AddSystemReport(report);
  kyvex::cli::AddCpuReport(report);
  kyvex::cli::AddSmbiosReport(report);
  kyvex::cli::AddStorageReport(report);
  if (json)
    std::cout << kyvex::report::JsonText(report.Json) << "\n";
  else
    std::cout << report.Text;
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
  SetConsoleOutputCP(CP_UTF8);
#endif
  CLI::App app{
      "kyvex - Kyvex System Information: shows the processor, firmware tables, storage devices and\n"
      "operating system of this machine, and saves them into storage files.\n"
      "Every command prints readable text, or JSON with --json."};
  app.set_version_flag("--version", [] {
    const std::string v = kyvex::platform::ProgramVersionText();
    return "kyvex " + (v.empty() ? std::string("(no version record)") : v);
  });
  app.require_subcommand(1);

  bool json = false;
  auto* report = app.add_subcommand("report", "Show everything known about this machine");
  report->add_flag("--json", json, "Print JSON instead of text");
  constexpr int kCommands = 5;
  std::function<int()> runs[kCommands];
  CLI::App* commands[kCommands] = {kyvex::cli::AddCpuCommand(app, runs[0]),
                                   kyvex::cli::AddSmbiosCommand(app, runs[1]),
                                   kyvex::cli::AddStorageCommand(app, runs[2]),
                                   kyvex::cli::AddSaveCommand(app, runs[3]),
                                   kyvex::cli::AddShowCommand(app, runs[4])};

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e);
  }

  int rc = 0;
  try {
    if (*report) {
      rc = RunReport(json);
    } else {
      for (int i = 0; i < kCommands; ++i)
        if (commands[i] && *commands[i] && runs[i]) rc = runs[i]();
    }
  } catch (const std::exception& e) {
    std::cerr << "kyvex: " << e.what() << "\n";
    rc = 1;
  }

  // Output that did not reach its file (a full disk, /dev/full, a closed pipe) is a failure,
  // not a success with a cut report.
  std::cout.flush();
  if (!std::cout || std::fflush(stdout) != 0) {
    std::cerr << "kyvex: the output could not be written\n";
    if (rc == 0) rc = 1;
  }

  try {
    kyvex::UnbindNativeAPI();
  } catch (const std::exception& e) {
    std::cerr << "kyvex: " << e.what() << "\n";
  }
  return rc;
}
