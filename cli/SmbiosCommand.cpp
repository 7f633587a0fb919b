// kyvex smbios, and the firmware tables of the full report.
#include <iostream>
#include <vector>

#include "cli/Commands.h"
#include "report/SmbiosReport.h"

namespace kyvex::cli {

using namespace report;

namespace {
struct SmbiosOptions {
  bool json = false;
  bool structures = false;
  std::string dumpFile;
};

// A dump is an entry point and a table: nothing near this size. Reading stops here, so that
// a wrong file (a disk image, a device) is not read whole.
constexpr std::size_t kMaxDumpFile = 0x20 + 0x1000000;

int RunSmbios(const SmbiosOptions& o) {
  TKyvex_SMBIOS smbios;
  if (!o.dumpFile.empty()) {
    std::string content, error;
    if (!ReadInputFile(o.dumpFile, kMaxDumpFile, content, error)) {
      std::cerr << "kyvex smbios: " << o.dumpFile << ": " << error << "\n";
      return 1;
    }
    // Copied as bytes, not char by char (a converting copy of a large table cost more than its
    // decoding).
    const auto* image = reinterpret_cast<const std::uint8_t*>(content.data());
    if (!smbios.LoadDumpImage(std::vector<std::uint8_t>(image, image + content.size()), error)) {
      std::cerr << "kyvex smbios: " << o.dumpFile << ": " << error << "\n";
      return 1;
    }
  }
  smbios.CollectData();
  // What is there is shown; a dump cut short, or a table past the walk's limit, says so and
  // fails.
  const std::string source = o.dumpFile.empty() ? std::string("the SMBIOS table") : o.dumpFile;
  int status = 0;
  for (const std::string* problem : {&smbios.DumpShortfall(), &smbios.WalkLimitText()})
    if (!problem->empty()) {
      std::cerr << "kyvex smbios: " << source << ": " << *problem << "\n";
      status = 1;
    }
  if (o.json) {
    WriteSmbiosJson(std::cout, smbios);
    std::cout << "\n";
    return status;
  }
  // Each record's section is written as it is made: a table of tens of thousands of records is
  // never held as text at once.
  std::cout << FormatSections(SmbiosSystemSections(smbios)) << "\n";
  bool first = true;
  EachSmbiosDeviceSection(smbios, [&first](Section section) {
    std::cout << (first ? "" : "\n") << FormatSections({std::move(section)});
    first = false;
  });
  if (o.structures) std::cout << "\n" << StructTablesText(smbios);
  return status;
}
}  // namespace

int RunSmbiosCommand(bool json, const std::string& dumpFile) {
  SmbiosOptions options;
  options.json = json;
  options.dumpFile = dumpFile;
  return RunSmbios(options);
}

CLI::App* AddSmbiosCommand(CLI::App& app, std::function<int()>* run) {
  auto options = std::make_shared<SmbiosOptions>();
  auto* cmd = app.add_subcommand(
      "smbios",
      "Show the firmware's SMBIOS tables: BIOS, system, main board, chassis, memory controller and\n"
      "devices (memory, processors, caches, slots, ports, on-board devices, temperature probes).\n"
      "Reads this machine's tables, or with --dump-bin a table recorded on another machine.");
  if (!run) return cmd;
  cmd->add_flag("--json", options->json, "Print JSON instead of text");
  cmd->add_option("--dump-bin", options->dumpFile,
                  "Decode FILE, a dump in the format of `dmidecode --dump-bin` (entry point at offset 0,\n"
                  "\"_SM_\" or \"_SM3_\", table at offset 20h), instead of this machine's tables")
      ->option_text("FILE");
  cmd->add_flag("--structures", options->structures, "Also list every structure of the table (text output)");
  *run = [options] { return RunSmbios(*options); };
  return cmd;
}


}  // namespace kyvex::cli
