// kyvex: this machine's hardware information on the command line.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <iostream>

#include "app/Lib01.h"
#include "cli/Report.h"
#include "common/Kyvex_Native.h"

#ifdef _WIN32
#include "platform/win32/WinApi.h"
#endif

namespace {

int RunReport(bool json) {
  const auto summary = kyvex::report::CollectSystemSummary();
  if (json) {
    nlohmann::ordered_json out;
    out["System"] = kyvex::report::ToJson(summary);
    std::cout << out.dump(2) << "\n";
  } else {
    std::cout << "System\n" << kyvex::report::ToText(summary);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
  SetConsoleOutputCP(CP_UTF8);
#endif
  CLI::App app{
      "kyvex - Kyvex System Information: shows the hardware and operating system of this machine.\n"
      "Every command prints readable text, or JSON with --json."};
  app.set_version_flag("--version", [] {
    const std::string v = kyvex::GetVersionText();
    return "kyvex " + (v.empty() ? std::string("(no version record)") : v);
  });
  app.require_subcommand(1);

  bool json = false;
  auto* report = app.add_subcommand("report", "Show everything known about this machine");
  report->add_flag("--json", json, "Print JSON instead of text");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e);
  }

  int rc = 0;
  if (*report) rc = RunReport(json);

  try {
    kyvex::UnbindNativeAPI();
  } catch (const std::exception& e) {
    std::cerr << "kyvex: " << e.what() << "\n";
  }
  return rc;
}
