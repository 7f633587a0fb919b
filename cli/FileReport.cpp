#include "cli/FileReport.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <vector>

#include "cli/CpuReport.h"
#include "cli/SmbiosReport.h"
#include "cli/StorageReport.h"
#include "compound/Ole.h"
#include "platform/Text.h"
#include "cpu/KSI_CPU.h"
#include "smbios/KSI_SMBIOS.h"
#include "storage/KSI_Storage.h"


namespace kyvex::report {

std::string FormatDateTime(TDateTime value) {
  if (value == 0 || !std::isfinite(value) || std::fabs(value) > 3e6) return "";
  // The whole part counts days from 1899-12-30 (also below it); the fraction, taken without
  // its sign, is the time of day.
  std::int64_t day = static_cast<std::int64_t>(std::trunc(value));
  std::int64_t ms = std::llround(std::fabs(value - static_cast<double>(day)) * 86400000.0);
  if (ms >= 86400000) {
    ms -= 86400000;
    day += value < 0 ? -1 : 1;
  }
  // Civil date of a day count (days since 1970-01-01 here), proleptic Gregorian.
  const std::int64_t z = day - 25569 + 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  const std::int64_t d = doy - (153 * mp + 2) / 5 + 1;
  const std::int64_t m = mp < 10 ? mp + 3 : mp - 9;
  const std::int64_t y = yoe + era * 400 + (m <= 2);
  const std::int64_t secs = ms / 1000;
  char buf[128];
  std::snprintf(buf, sizeof buf, "%04lld-%02lld-%02lld %02lld:%02lld:%02lld", static_cast<long long>(y),
                static_cast<long long>(m), static_cast<long long>(d), static_cast<long long>(secs / 3600),
                static_cast<long long>(secs / 60 % 60), static_cast<long long>(secs % 60));
  return buf;
}

Lines StorageInfoLines(const TStorageInfoRecord& info) {
  return {
      {"Machine", info.MachineName},
      {"Operating system", info.OSName},
      {"Version", std::to_string(info.MajorVersion) + "." + std::to_string(info.MinorVersion) + "." +
                      std::to_string(info.BuildNumber) + (info.CSDVersion.empty() ? "" : " " + info.CSDVersion)},
      {"Platform id", std::to_string(info.Platform)},
      {"Written by", info.Application},
      {"Written at", FormatDateTime(info.CreationTime)},
      {"Account", info.Account + (info.AccountType.empty() ? "" : " (" + info.AccountType + ")")},
      {"Logon user", info.LoggedUser},
      {"Virtual machine", info.VMWare ? "VMware" : info.VPC ? "Virtual PC" : "none detected"},
  };
}

nlohmann::ordered_json StorageInfoJson(const TStorageInfoRecord& info) {
  return {
      {"MachineName", info.MachineName},
      {"Application", info.Application},
      {"OSName", info.OSName},
      {"Platform", info.Platform},
      {"MajorVersion", info.MajorVersion},
      {"MinorVersion", info.MinorVersion},
      {"BuildNumber", info.BuildNumber},
      {"CSDVersion", info.CSDVersion},
      {"CreationTime", info.CreationTime},
      {"CreationTimeText", FormatDateTime(info.CreationTime)},
      {"AccountType", info.AccountType},
      {"LoggedUser", info.LoggedUser},
      {"Account", info.Account},
      {"VMWare", info.VMWare},
      {"VPC", info.VPC},
  };
}

namespace {

// What `kyvex show` found in a file, component by component: nothing for a component the file
// does not hold.
struct FileContents {
  TStorageInfoRecord info;
  std::vector<std::unique_ptr<TKyvex_CPU>> processors;
  std::unique_ptr<TKyvex_SMBIOS> smbios;
  std::unique_ptr<TKyvex_Storage> storage;
};

// The processors are taken from "0" on up to the first one the file does not hold, as the
// other components take their records.
FileContents LoadFile(const std::string& file) {
  FileContents c;
  for (unsigned i = 0; i < 256; ++i) {
    auto cpu = std::make_unique<TKyvex_CPU>();
    cpu->SetCPUIndex(static_cast<std::uint8_t>(i));
    if (!cpu->LoadFromStorageFile(file)) break;
    c.processors.push_back(std::move(cpu));
  }
  auto smbios = std::make_unique<TKyvex_SMBIOS>();
  if (smbios->LoadFromStorageFile(file)) c.smbios = std::move(smbios);
  auto storage = std::make_unique<TKyvex_Storage>();
  const bool held = storage->LoadFromStorageFile(file);
  c.info = storage->StorageInfo();  // the header is read also when no devices are held
  if (held) c.storage = std::move(storage);
  return c;
}

std::string Held(std::size_t count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

}  // namespace

bool HoldsOtherData(const std::string& FileName) {
  if (ole::StgIsStorageFile(FileName) != ole::S_FALSE) return false;
  std::error_code ec;
  const auto size = std::filesystem::file_size(std::filesystem::path(std::u8string(FileName.begin(), FileName.end())), ec);
  return ec || size > 0;  // a file whose size cannot be told is not taken for empty
}

CLI::App* AddSaveCommand(CLI::App& app, std::function<int()>& run) {
  auto* cmd = app.add_subcommand(
      "save",
      "Collect this machine's information (every processor, the SMBIOS tables, the storage devices) and save it\n"
      "into a storage file. An existing storage file keeps what it holds besides these; any other file is\n"
      "left alone unless --force is given. The file is written beside the old one and takes its place only when complete.");
  auto file = std::make_shared<std::string>();
  auto force = std::make_shared<bool>(false);
  cmd->add_option("FILE", *file, "The storage file to write")->required();
  cmd->add_flag("--force", *force, "Replace FILE also when it is some other kind of file");
  run = [file, force] {
    if (!*force && HoldsOtherData(*file)) {
      std::cerr << "kyvex: " << *file << " is not a storage file; it was left as it is (--force replaces it)\n";
      return 1;
    }
    // The window's refresh order; each save also renews the file's header.
    TKyvex_Storage storage;
    storage.CollectData();
    storage.SaveToStorageFile(*file);
    TKyvex_SMBIOS smbios;
    smbios.CollectData();
    smbios.SaveToStorageFile(*file);
    TKyvex_CPU cpu;
    cpu.SaveToStorageFile(*file);  // refreshes each processor as it saves it
    std::cout << "Saved " << *file << ": " << Held(cpu.CPUCount(), "processor", "processors") << ", "
              << (smbios.TableSource() == tsNone ? std::string("no SMBIOS table")
                                                 : "SMBIOS " + smbios.Version() + " (" +
                                                       Held(smbios.StructCount(), "structure", "structures") + ")")
              << ", " << Held(storage.PhysicalCount(), "physical device", "physical devices") << ", "
              << Held(storage.LogicalCount(), "logical drive", "logical drives") << "\n";
    return 0;
  };
  return cmd;
}

CLI::App* AddShowCommand(CLI::App& app, std::function<int()>& run) {
  auto* cmd = app.add_subcommand(
      "show",
      "Show what a storage file holds: the machine it was saved on, every processor, the SMBIOS tables and\n"
      "the storage devices. Nothing is collected from this machine.");
  auto file = std::make_shared<std::string>();
  auto json = std::make_shared<bool>(false);
  cmd->add_option("FILE", *file, "The storage file to read")->required();
  cmd->add_flag("--json", *json,
                "Print JSON instead of text: \"StorageInfo\", then \"CPU\" (one object per processor), \"SMBIOS\" and\n"
                "\"Storage\" as `kyvex report --json` has them; null for a component the file does not hold");
  run = [file, json] {
    if (ole::StgIsStorageFile(*file) != ole::S_OK) {
      const auto status = ole::StgIsStorageFile(*file);
      std::cerr << "kyvex: " << *file
                << (status == ole::STG_E_FILENOTFOUND ? ": no such file\n" : " is not a storage file\n");
      return 1;
    }
    const FileContents c = LoadFile(*file);
    if (*json) {
      nlohmann::ordered_json out;
      out["File"] = Readable(*file);
      out["StorageInfo"] = StorageInfoJson(c.info);
      out["CPU"] = nlohmann::ordered_json::array();
      for (const auto& cpu : c.processors) out["CPU"].push_back(CpuJson(*cpu));
      out["SMBIOS"] = c.smbios ? SmbiosJson(*c.smbios) : nlohmann::ordered_json();
      out["Storage"] = c.storage ? StorageJson(*c.storage) : nlohmann::ordered_json();
      std::cout << out.dump(2) << "\n";
      return 0;
    }
    std::string text = FormatSections({{"Storage file " + *file, StorageInfoLines(c.info)}});
    if (c.processors.empty()) text += "\nProcessors: none in this file\n";
    for (const auto& cpu : c.processors) text += "\n" + FormatSections(CpuSections(*cpu));
    if (c.smbios)
      text += "\n" + FormatSections(SmbiosSystemSections(*c.smbios)) + "\n" +
              FormatSections(SmbiosDeviceSections(*c.smbios));
    else
      text += "\nSMBIOS: none in this file\n";
    text += c.storage ? "\n" + StorageText(*c.storage) : "\nStorage devices: none in this file\n";
    std::cout << text;
    return 0;
  };
  return cmd;
}

}  // namespace kyvex::report
