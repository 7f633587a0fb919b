// kyvex save and kyvex show: storage files on the command line.
#include <filesystem>
#include <iostream>
#include <optional>
#include <memory>
#include <vector>

#include "cli/Commands.h"
#include "common/Kyvex_SS.h"
#include "cpu/KSI_CPU.h"
#include "report/CpuReport.h"
#include "report/HeaderReport.h"
#include "report/SmbiosReport.h"
#include "report/StorageReport.h"
#include "smbios/KSI_SMBIOS.h"
#include "storage/KSI_Storage.h"

namespace kyvex::cli {

using namespace report;

namespace {

// What `kyvex show` found in a file, component by component: nothing for a component the file
// does not hold, and a line for each part that is there but could not be read.
struct FileContents {
  TStorageInfoRecord info;
  std::vector<std::unique_ptr<TKyvex_CPU>> processors;
  std::unique_ptr<TKyvex_SMBIOS> smbios;
  std::unique_ptr<TKyvex_Storage> storage;
  std::vector<std::string> errors;
  bool cpuDamaged = false, smbiosDamaged = false, storageDamaged = false;
};

// The processors are taken from "0" on up to the first one the file does not hold, as the
// other components take their records. A part that cannot be read is noted and the others are
// still read: what the file does hold is shown.
// As many as Linux can be built for: a file claiming more is not a machine's.
constexpr std::uint32_t kMaxStoredProcessors = 8192;

FileContents LoadFile(const std::string& file) {
  FileContents c;
  // Every part from one reading of the file: one replaced meanwhile cannot mix in.
  TStorageFileImage image(file);
  auto load = [&c](const std::string& what, TKyvex_KSIC_Component& component, const std::string& f,
                   bool* damaged = nullptr) {
    try {
      return component.LoadFromStorageFile(f);
    } catch (const std::exception& e) {
      c.errors.push_back(what + ": " + e.what());
      if (damaged) *damaged = true;
      return false;
    }
  };
  TKyvex_KSIC_Component header;
  if (load("header", header, file)) c.info = header.StorageInfo();
  if (!c.errors.empty()) return c;  // every part is read through the header
  for (std::uint32_t i = 0; i < kMaxStoredProcessors; ++i) {
    auto cpu = std::make_unique<TKyvex_CPU>();
    cpu->SetCPUIndex(i);
    if (!load("processor " + std::to_string(i), *cpu, file, &c.cpuDamaged)) break;
    c.processors.push_back(std::move(cpu));
  }
  auto smbios = std::make_unique<TKyvex_SMBIOS>();
  if (load("SMBIOS", *smbios, file, &c.smbiosDamaged)) c.smbios = std::move(smbios);
  auto storage = std::make_unique<TKyvex_Storage>();
  if (load("storage devices", *storage, file, &c.storageDamaged)) c.storage = std::move(storage);
  return c;
}

// What stands at `file` where it is there but is not a regular file (a folder, a device, a
// pipe): a save must not turn it into a file, and a load could read it once only.
std::optional<std::string> NotARegularFile(const std::string& file) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::file_status st = fs::status(fs::path(std::u8string(file.begin(), file.end())), ec);
  if (ec || !fs::exists(st) || fs::is_regular_file(st)) return std::nullopt;
  switch (st.type()) {
    case fs::file_type::directory: return "a folder";
    case fs::file_type::block:
    case fs::file_type::character: return "a device";
    case fs::file_type::fifo: return "a pipe";
    case fs::file_type::socket: return "a socket";
    default: return "not a regular file";
  }
}

std::string Held(std::size_t count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

}  // namespace

CLI::App* AddSaveCommand(CLI::App& app, std::function<int()>* run) {
  auto* cmd = app.add_subcommand(
      "save",
      "Collect this machine's information (every processor, the SMBIOS tables, the storage devices) and save it\n"
      "into a storage file. An existing storage file keeps what it holds besides these; any other file is\n"
      "left alone unless --force is given. The file is written beside the old one and takes its place only when complete;\n"
      "another save of the file, or a program holding it, is waited for up to five seconds.");
  if (!run) return cmd;
  auto file = std::make_shared<std::string>();
  auto force = std::make_shared<bool>(false);
  cmd->add_option("FILE", *file, "The storage file to write")->required();
  cmd->add_flag("--force", *force, "Replace FILE also when it is some other kind of file");
  *run = [file, force] {
    if (const auto what = NotARegularFile(*file)) {
      std::cerr << "kyvex: " << *file << " is " << *what << ", not a file; nothing was written\n";
      return 1;
    }
    if (!*force && HoldsOtherData(*file)) {
      std::cerr << "kyvex: " << *file << " is not a storage file; it was left as it is (--force replaces it)\n";
      return 1;
    }
    // The window's refresh order; each save also renews the file's header. Everything is
    // collected into one image of the file, which replaces the file once at the end.
    TKyvex_Storage storage;
    TKyvex_SMBIOS smbios;
    TKyvex_CPU cpu;
    {
      TStorageFileSave once(*file);
      storage.CollectData();
      storage.SaveToStorageFile(*file);
      smbios.CollectData();
      smbios.SaveToStorageFile(*file);
      cpu.SaveToStorageFile(*file);  // refreshes each processor as it saves it
      once.Commit();
    }
    std::cout << "Saved " << *file << ": " << Held(cpu.LogicalProcessorCount(), "processor", "processors") << ", "
              << (smbios.TableSource() == tsNone ? std::string("no SMBIOS table")
                                                 : "SMBIOS " + smbios.Version() + " (" +
                                                       Held(smbios.StructCount(), "structure", "structures") + ")")
              << ", " << Held(storage.PhysicalCount(), "physical device", "physical devices") << ", "
              << Held(storage.LogicalCount(), "logical drive", "logical drives") << "\n";
    return 0;
  };
  return cmd;
}

CLI::App* AddShowCommand(CLI::App& app, std::function<int()>* run) {
  auto* cmd = app.add_subcommand(
      "show",
      "Show what a storage file holds: the machine it was saved on, every processor, the SMBIOS tables and\n"
      "the storage devices. Nothing is collected from this machine.");
  if (!run) return cmd;
  auto file = std::make_shared<std::string>();
  auto json = std::make_shared<bool>(false);
  cmd->add_option("FILE", *file, "The storage file to read")->required();
  cmd->add_flag("--json", *json,
                "Print JSON instead of text: \"StorageInfo\", then \"CPU\" (one object per processor), \"SMBIOS\" and\n"
                "\"Storage\" as `kyvex report --json` has them; null for a component the file does not hold");
  *run = [file, json] {
    if (const auto what = NotARegularFile(*file)) {
      std::cerr << "kyvex show: " << *file << " is " << *what << "; a storage file is needed\n";
      return 1;
    }
    if (const auto status = ole::StgIsStorageFile(*file); status != ole::S_OK) {
      // What the system said where the file could not be read (no such file, permission
      // denied, a loop of symbolic links); "not a storage file" only where it was read.
      if (ole::Failed(status))
        std::cerr << "kyvex show: " << Shown(ole::LastErrorText()) << "\n";
      else
        std::cerr << "kyvex: " << *file << " is not a storage file\n";
      return 1;
    }
    FileContents c = LoadFile(*file);
    // A part that is there but damaged is an error; it is named, and what could be read is
    // still shown, marked as incomplete.
    for (const auto& error : c.errors) std::cerr << "kyvex show: " << *file << ": " << error << "\n";
    const int status = c.errors.empty() ? 0 : 1;
    // Each processor is written out and let go as soon as it is formatted: a file of hundreds
    // of processors is never held as one document.
    std::ostream& out = std::cout;
    if (*json) {
      JsonObjectWriter object(out);
      object.Member("File", Readable(*file));
      object.Member("Complete", c.errors.empty());
      if (!c.errors.empty()) {
        nlohmann::ordered_json errors = nlohmann::ordered_json::array();
        for (const auto& error : c.errors) errors.push_back(Readable(error));
        object.Member("Errors", errors);
      }
      object.Member("StorageInfo", StorageInfoJson(c.info));
      WriteNestedJsonArray(object.Key("CPU"), c.processors.size(), 1, [&c](std::size_t i) {
        auto json = CpuJson(*c.processors[i]);
        c.processors[i].reset();
        return json;
      });
      object.Member("SMBIOS", c.smbios ? SmbiosJson(*c.smbios) : nlohmann::ordered_json());
      object.Member("Storage", c.storage ? StorageJson(*c.storage) : nlohmann::ordered_json());
      object.End();
      out << "\n";
      return status;
    }
    out << FormatSections({{"Storage file " + Shown(*file), StorageInfoLines(c.info)}});
    if (!c.errors.empty()) {
      out << "\nIncomplete: parts of this file could not be read\n";
      for (const auto& error : c.errors) out << "  " << Shown(error) << "\n";
    }
    auto absent = [](bool damaged) { return damaged ? ": could not be read\n" : ": none in this file\n"; };
    if (c.processors.empty()) out << "\nProcessors" << absent(c.cpuDamaged);
    for (auto& cpu : c.processors) {
      out << "\n" << FormatSections(CpuSections(*cpu));
      cpu.reset();
    }
    if (c.smbios)
      out << "\n" << FormatSections(SmbiosSystemSections(*c.smbios)) << "\n"
          << FormatSections(SmbiosDeviceSections(*c.smbios));
    else
      out << "\nSMBIOS" << absent(c.smbiosDamaged);
    if (c.storage)
      out << "\n" << StorageText(*c.storage);
    else
      out << "\nStorage devices" << absent(c.storageDamaged);
    return status;
  };
  return cmd;
}

}  // namespace kyvex::cli
