// kyvex storage, and the storage devices of the full report.
#include <array>
#include <iostream>

#include "cli/Commands.h"
#include "report/StorageReport.h"
#include "storage/Kyvex_IdentifyFile.h"

namespace kyvex::cli {

using namespace report;

namespace {

int RunIdentify(const std::string& file, bool json) {
  // An identify block is 512 bytes, hdparm's text of it a few kilobytes: a device or a disk
  // image named by mistake is not read whole.
  constexpr std::size_t kMaxIdentifyFile = 1u << 20;
  std::string contents, error;
  if (!ReadInputFile(file, kMaxIdentifyFile, contents, error)) {
    std::cerr << "kyvex storage: " << file << ": " << error << "\n";
    return 1;
  }
  std::array<std::uint8_t, 512> block{};
  if (!ReadIdentifyBlock(contents, block, error)) {
    std::cerr << "kyvex storage: " << file << ": " << error << "\n";
    return 1;
  }
  TDeviceInfo d;
  ParseIdentifyData(block, true, d);
  if (json) {
    nlohmann::ordered_json j = {{"File", Readable(file)}};
    j.update(IdentifyJson(d));
    std::cout << report::JsonText(j) << "\n";
  } else {
    std::cout << FormatSections({{"ATA identify data: " + file, IdentifyTextLines(d)}});
  }
  return 0;
}

}  // namespace

int RunStorageCommand(bool json, const std::string& identifyFile) {
  if (!identifyFile.empty()) return RunIdentify(identifyFile, json);
  TKyvex_Storage storage;
  storage.CollectData();
  if (json)
    std::cout << report::JsonText(StorageJson(storage)) << "\n";
  else
    std::cout << StorageText(storage);
  return 0;
}

CLI::App* AddStorageCommand(CLI::App& app, std::function<int()>* run) {
  auto* cmd = app.add_subcommand(
      "storage",
      "Show the storage devices: physical disks, optical and tape drives, and the drive letters of mounted file "
      "systems, with the physical device each one lies on");
  if (!run) return cmd;
  auto json = std::make_shared<bool>(false);
  auto identify = std::make_shared<std::string>();
  cmd->add_flag("--json", *json, "Print JSON instead of text");
  cmd->add_option("--identify", *identify,
                  "Decode one ATA identify block of another machine instead: the text `hdparm --Istdout` prints, "
                  "or the 512 raw bytes")
      ->type_name("FILE");
  *run = [json, identify] { return RunStorageCommand(*json, *identify); };
  return cmd;
}


}  // namespace kyvex::cli
