// kyvex: this machine's hardware information on the command line.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string_view>
#include <utility>
#include <iostream>
#include <memory>
#include <optional>
#include <stdexcept>

#include "cli/Commands.h"
#include "common/Kyvex_Native.h"
#include "platform/VersionBlock.h"
#include "report/MachineReport.h"

#include "report/Capture.h"
#include "report/CaptureArchive.h"
#ifdef _WIN32
#include "platform/win32/WinApi.h"
#endif

namespace {

int RunReport(bool json) {
  kyvex::report::WriteMachineReport(std::cout, json);
  return 0;
}

// The command named on the command line: the first word that is neither an option nor the value
// of --sysroot ("" where there is none).
std::string NamedCommand(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view a = argv[i];
    if (a == "--") return "";
    if (a == "--sysroot") {
      ++i;
      continue;
    }
    if (!a.empty() && a[0] != '-') return std::string(a);
  }
  return "";
}

std::string VersionText() {
  const std::string v = kyvex::platform::ProgramVersionText();
  return "kyvex " + (v.empty() ? std::string("(no version record)") : v);
}

// The forms run most, by people and scripts alike: `cpu`, `smbios` or `storage`, with --json and
// the file to decode, each at most once and in any order. Building the command line costs more
// than decoding a dump, so these are read here; anything else (help, other options, a value
// that looks like an option, `--opt=value`) goes to the full command line, which answers it or
// says what is wrong. Nothing where the form is not one of these.
std::function<int()> QuickCommand(int argc, char** argv) {
  struct Form {
    const char* command;
    const char* fileOption;
    int (*run)(bool json, const std::string& file);
  };
  static constexpr Form kForms[] = {{"cpu", "--cpuid-dump", kyvex::cli::RunCpuCommand},
                                    {"smbios", "--dump-bin", kyvex::cli::RunSmbiosCommand},
                                    {"storage", "--identify", kyvex::cli::RunStorageCommand}};
  if (argc < 2) return nullptr;
  const std::string_view command = argv[1];
  // The full command line answers --version by throwing, and the first exception a statically
  // linked program throws sorts its whole unwinding table (two milliseconds here).
  if (argc == 2 && command == "--version")
    return [] {
      std::cout << VersionText() << "\n";
      return 0;
    };
  for (const Form& form : kForms) {
    if (command != form.command) continue;
    bool json = false;
    const char* file = nullptr;
    for (int i = 2; i < argc; ++i) {
      const std::string_view a = argv[i];
      if (a == "--json" && !json) {
        json = true;
      } else if (a == form.fileOption && !file && i + 1 < argc && argv[i + 1][0] != '\0' && argv[i + 1][0] != '-') {
        file = argv[++i];
      } else {
        return nullptr;
      }
    }
    return [run = form.run, json, file = std::string(file ? file : "")] { return run(json, file); };
  }
  return nullptr;
}

// Output that did not reach its file (a full disk, /dev/full, a closed pipe) is a failure, not a
// success with a cut report.
int Finish(int rc) {
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

constexpr int kCommands = 5;

// The parsed command line. Building a command's options costs more than most commands' own work
// (a dump decode is a few hundred thousand instructions), so only the named command gets them;
// the others are only named, which is all the program's help and its errors need.
struct CommandLine {
  CLI::App app{
      "kyvex - Kyvex System Information: shows the processor, firmware tables, storage devices and\n"
      "operating system of this machine, and saves them into storage files.\n"
      "Every command prints readable text, or JSON with --json."};
  std::string sysroot;
  bool json = false;
  std::string captureDir, captureArchive;
  bool maskSerials = false;
  CLI::App* report = nullptr;
  CLI::App* capture = nullptr;
  std::function<int()> runs[kCommands];
  CLI::App* commands[kCommands] = {};
  bool built[kCommands + 2] = {};  // whether each command (report and capture last) has its options

  // `only`: the one command to build (with its options); "" for every command, without options.
  explicit CommandLine(const std::string& only) {
    app.set_version_flag("--version", VersionText);
    app.require_subcommand(1);
#ifdef _WIN32
    // A capture's folder copied from Linux has lost its links; its archive keeps them.
    app.add_option("--sysroot", sysroot,
                   "Answer from FILE, the archive of a machine recorded by `kyvex capture --archive` on Linux (or\n"
                   "its folder packed with tar czf; a folder copied to Windows has lost its links and is refused),\n"
                   "instead of this machine: nothing of this machine is read and no clock is measured (the\n"
                   "captured clocks are shown). With report, cpu, smbios, storage, save and show")
        ->option_text("FILE.tar.gz");
#else
    app.add_option("--sysroot", sysroot,
                   "Answer from DIR, a machine recorded by `kyvex capture` (its folder, or the archive --archive\n"
                   "wrote), instead of this machine: nothing of this machine is read and no clock is measured (the\n"
                   "captured clocks are shown). With report, cpu, smbios, storage, save and show")
        ->option_text("DIR");
#endif

    auto wanted = [&](const char* name) { return only.empty() || only == name; };
    if (wanted("report")) {
      report = app.add_subcommand("report", "Show everything known about this machine");
      if ((built[kCommands] = !only.empty())) report->add_flag("--json", json, "Print JSON instead of text");
    }
    if (wanted("capture")) {
      capture = app.add_subcommand(
          "capture",
          "Record this machine into the new folder DIR: the /proc, /sys and /etc files the program reads, the SMBIOS\n"
          "entry point and table, every device's replies to the requests sent to it, every processor's CPUID leaves\n"
          "and clock, the operating system's facts, and the report it gives. `kyvex --sysroot DIR ...` shows it on\n"
          "any machine. The folder's README describes its plain-text layout. Run as root to include the SMBIOS\n"
          "table and the devices' replies.");
      if ((built[kCommands + 1] = !only.empty())) {
        capture->add_option("DIR", captureDir, "The folder to write (new or empty); may be left out with --archive");
        capture->add_option("--archive", captureArchive,
                            "Also (or, without DIR, only) write the capture as the new gzip'd tar FILE; --sysroot\n"
                            "takes such a file as it takes the folder")
            ->option_text("FILE.tar.gz");
        capture->callback([this] {
          if (captureDir.empty() && captureArchive.empty())
            throw CLI::ValidationError("capture", "DIR or --archive FILE is required");
        });
        capture->add_flag("--mask-serials", maskSerials,
                          "Replace serial numbers and UUIDs by placeholders of the same length (the same value by\n"
                          "the same placeholder in every file), so that the capture can be sent without giving away identities");
      }
    }
    using Adder = CLI::App* (*)(CLI::App&, std::function<int()>*);
    static constexpr std::pair<const char*, Adder> kAdders[kCommands] = {
        {"cpu", kyvex::cli::AddCpuCommand},     {"smbios", kyvex::cli::AddSmbiosCommand},
        {"storage", kyvex::cli::AddStorageCommand}, {"save", kyvex::cli::AddSaveCommand},
        {"show", kyvex::cli::AddShowCommand}};
    for (int i = 0; i < kCommands; ++i) {
      if (!wanted(kAdders[i].first)) continue;
      built[i] = !only.empty();
      commands[i] = kAdders[i].second(app, built[i] ? &runs[i] : nullptr);
    }
  }

  // The command the parse chose, where it was built without its options.
  std::string ChosenUnbuilt() const {
    CLI::App* all[kCommands + 2] = {commands[0], commands[1], commands[2], commands[3], commands[4], report, capture};
    for (int i = 0; i < kCommands + 2; ++i)
      if (all[i] && *all[i] && !built[i]) return all[i]->get_name();
    return "";
  }
};

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
  SetConsoleOutputCP(CP_UTF8);
#endif
  if (const auto quick = QuickCommand(argc, argv)) {
    int rc = 0;
    try {
      rc = quick();
    } catch (const std::exception& e) {
      std::cerr << "kyvex: " << e.what() << "\n";
      rc = 1;
    }
    return Finish(rc);
  }
  auto named = NamedCommand(argc, argv);
  static constexpr const char* kNames[] = {"report", "capture", "cpu", "smbios", "storage", "save", "show"};
  if (std::find(std::begin(kNames), std::end(kNames), named) == std::end(kNames)) named.clear();
  auto line = std::make_unique<CommandLine>(named);
  try {
    line->app.parse(argc, argv);
    // Where the parse chose a command the look ahead did not see, it is built whole and the
    // command line read again.
    if (const std::string chosen = line->ChosenUnbuilt(); !chosen.empty()) {
      line = std::make_unique<CommandLine>(chosen);
      line->app.parse(argc, argv);
    }
  } catch (const CLI::ParseError& e) {
    return line->app.exit(e);
  }
  const std::string& sysroot = line->sysroot;
  const bool json = line->json;
  std::string& captureDir = line->captureDir;
  const std::string& captureArchive = line->captureArchive;
  const bool maskSerials = line->maskSerials;
  CLI::App* const report = line->report;
  CLI::App* const capture = line->capture;
  auto& runs = line->runs;
  auto& commands = line->commands;

  int rc = 0;
  try {
#ifndef _WIN32
    if (capture && *capture) {
      if (!sysroot.empty()) throw std::runtime_error("capture records this machine; --sysroot does not go with it");
      std::string error;
      // Refused before the machine is read, not after.
      if (!captureArchive.empty() && std::filesystem::exists(std::filesystem::symlink_status(captureArchive)))
        throw std::runtime_error(captureArchive + ": exists; an archive is written as a new file");
      std::optional<kyvex::capture::PrivateFolder> scratch;
      if (captureDir.empty()) {
        scratch.emplace(error);
        if (scratch->Path().empty()) throw std::runtime_error("capture: " + error);
        captureDir = scratch->Path() + "/capture";
      }
      kyvex::platform::LinuxPlatform machine("/");
      kyvex::capture::CaptureOptions options;
      options.maskSerials = maskSerials;
      kyvex::capture::CaptureSummary summary;
      const std::string shown = scratch ? captureArchive : captureDir;
      if (!kyvex::capture::CaptureMachine(machine, kyvex::platform::linuxdev::KernelSystemCalls(), captureDir, options,
                                          summary, error)) {
        std::cerr << "kyvex capture: " << shown << ": " << error << "\n";
        rc = 1;
      } else if (!captureArchive.empty() && !kyvex::capture::WriteCaptureArchive(captureDir, captureArchive, error)) {
        std::cerr << "kyvex capture: " << captureArchive << ": " << error << "\n";
        rc = 1;
      } else {
        for (const auto& note : summary.notes) std::cerr << "kyvex capture: note: " << note << "\n";
        std::cout << "Captured " << (captureArchive.empty() ? captureDir
                                     : scratch           ? captureArchive
                                                         : captureDir + " and " + captureArchive)
                  << ": " << summary.files << " files, " << summary.requests
                  << " device calls, " << summary.processors << " processors";
        if (maskSerials) std::cout << ", " << summary.masked << " serial numbers and UUIDs masked";
        std::cout << "\n";
      }
    }
#else
    (void)captureDir, (void)captureArchive, (void)maskSerials;
    if (capture && *capture) throw std::runtime_error("capture records a Linux machine; it is not available on Windows");
#endif
    std::unique_ptr<kyvex::capture::OpenedCapture> opened;
    std::optional<kyvex::platform::ScopedPlatform> scope;
    if (!sysroot.empty()) {
      std::string error;
      opened = kyvex::capture::OpenCapture(sysroot, error);
      if (!opened) {
        std::cerr << "kyvex: --sysroot " << sysroot << ": " << error << "\n";
        return 1;
      }
      scope.emplace(opened->Platform());
      kyvex::UseRecordedClocks(opened->Clocks());
    }
    struct Finish {
      kyvex::capture::OpenedCapture* opened;
      int& rc;
      std::string dir;
      ~Finish() {
        kyvex::UseRecordedClocks(nullptr);
        if (!opened) return;
        // What was refused is named: the output would otherwise be taken for the captured machine's.
        for (const auto& p : opened->Problems()) {
          std::cerr << "kyvex: --sysroot " << dir << ": " << p << "\n";
          if (p.rfind("devices.txt holds no reply", 0) != 0 && rc == 0) rc = 1;
        }
      }
    } finish{opened.get(), rc, sysroot};
    if (capture && *capture) {
    } else if (report && *report) {
      rc = RunReport(json);
    } else {
      for (int i = 0; i < kCommands; ++i)
        if (commands[i] && *commands[i] && runs[i]) rc = runs[i]();
    }
  } catch (const std::exception& e) {
    std::cerr << "kyvex: " << e.what() << "\n";
    rc = 1;
  }

  return Finish(rc);
}
