#include "cli/StorageReport.h"

#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>

#include "platform/Text.h"
#include "storage/Kyvex_IdentifyFile.h"

namespace kyvex::report {

namespace {

struct Name {
  std::uint32_t value;
  const char* name;
};

constexpr Name kDeviceTypes[] = {
    {2, "CD-ROM"}, {7, "Disk"}, {31, "Tape"}, {34, "Unknown"}, {51, "DVD"},
};

constexpr Name kBusTypes[] = {
    {0, "Unknown"}, {1, "SCSI"},  {2, "ATAPI"}, {3, "ATA"},  {4, "IEEE 1394"}, {5, "SSA"},
    {6, "Fibre Channel"}, {7, "USB"}, {8, "RAID"}, {9, "iSCSI"}, {10, "SAS"}, {11, "SATA"},
    {12, "SD"}, {13, "MMC"}, {14, "Virtual"}, {15, "File-backed virtual"}, {16, "Storage Spaces"},
    {17, "NVMe"},
};

constexpr Name kMediaTypes[] = {
    {11, "Removable media"}, {12, "Fixed media"}, {0x20, "DDS 4mm tape"}, {0x27, "DLT tape"},
    {0x33, "CD-ROM"}, {0x34, "CD-R"}, {0x35, "CD-RW"}, {0x36, "DVD-ROM"}, {0x37, "DVD-R"},
    {0x38, "DVD-RW"},
};

constexpr Name kPartitionTypes[] = {
    {0x01, "FAT12"}, {0x04, "FAT16 (small)"}, {0x05, "Extended"}, {0x06, "FAT16"},
    {0x07, "NTFS / exFAT"}, {0x0B, "FAT32"}, {0x0C, "FAT32 (LBA)"}, {0x0E, "FAT16 (LBA)"},
    {0x0F, "Extended (LBA)"}, {0x27, "Windows recovery"}, {0x82, "Linux swap"}, {0x83, "Linux"},
    {0x85, "Linux extended"}, {0x8E, "Linux LVM"}, {0xA5, "FreeBSD"}, {0xAF, "HFS+"},
    {0xEE, "GPT"}, {0xEF, "EFI system"}, {0xFD, "Linux RAID"},
};

constexpr Name kSmartAttributes[] = {
    {1, "Raw read error rate"}, {3, "Spin-up time"}, {4, "Start/stop count"},
    {5, "Reallocated sectors"}, {7, "Seek error rate"}, {9, "Power-on hours"},
    {10, "Spin retry count"}, {12, "Power cycle count"}, {190, "Airflow temperature"},
    {194, "Temperature"}, {196, "Reallocation events"}, {197, "Pending sectors"},
    {198, "Offline uncorrectable"}, {199, "UDMA CRC errors"},
};

template <std::size_t N>
const char* NameOf(const Name (&table)[N], std::uint32_t value) {
  for (const auto& n : table)
    if (n.value == value) return n.name;
  return nullptr;
}

template <std::size_t N>
std::string Named(const Name (&table)[N], std::uint32_t value) {
  const char* name = NameOf(table, value);
  return (name ? std::string(name) + " " : std::string()) + "(" + std::to_string(value) + ")";
}

std::string YesNo(bool b) { return b ? "yes" : "no"; }

std::string Bytes(std::int64_t n) {
  static const char* kUnits[] = {"KiB", "MiB", "GiB", "TiB", "PiB"};
  std::string digits = std::to_string(n);
  for (int i = static_cast<int>(digits.size()) - 3; i > (n < 0 ? 1 : 0); i -= 3) digits.insert(static_cast<std::size_t>(i), ",");
  std::string out = digits + " bytes";
  if (n >= 1024) {
    double v = static_cast<double>(n);
    int unit = -1;
    while (v >= 1024 && unit < 4) {
      v /= 1024;
      ++unit;
    }
    char buf[32];
    std::snprintf(buf, sizeof buf, " (%.1f %s)", v, kUnits[unit]);
    out += buf;
  }
  return out;
}

std::string Hex8(unsigned v) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "0x%02X", v & 0xFF);
  return buf;
}

// A letter loaded from a storage file may be any code-page byte; alone it would not be valid
// UTF-8, which the JSON output refuses.
std::string DriveText(char drive) { return drive ? Readable(std::string(1, drive)) : std::string(); }

std::string Title(const TDeviceInfo& d) {
  std::string t = d.Vendor;
  if (!d.Model.empty()) t += (t.empty() ? "" : " ") + d.Model;
  return t.empty() ? "(no name)" : t;
}

std::string PartitionText(const TPartitionInfo& p) {
  const char* name = NameOf(kPartitionTypes, p.Typ);
  std::string s = "type " + Hex8(p.Typ) + (name ? std::string(" ") + name : std::string()) + ", offset " +
                  std::to_string(p.StartingOffset) + ", length " + Bytes(p.Length);
  if (p.BootIndicator) s += ", boot";
  return s;
}

std::string Abilities(const TDeviceInfo& d) {
  std::string reads, writes;
  auto add = [](std::string& list, bool on, const char* what) {
    if (on) list += (list.empty() ? "" : ", ") + std::string(what);
  };
  add(reads, d.Read_CDR, "CD-R");
  add(reads, d.Read_CDRW, "CD-RW");
  add(reads, d.Read_DVDROM, "DVD-ROM");
  add(reads, d.Read_DVDR, "DVD-R");
  add(reads, d.Read_DVDRAM, "DVD-RAM");
  add(writes, d.Write_CDR, "CD-R");
  add(writes, d.Write_CDRW, "CD-RW");
  add(writes, d.Write_DVDR, "DVD-R");
  add(writes, d.Write_DVDRAM, "DVD-RAM");
  if (reads.empty() && writes.empty()) return {};
  return "reads " + (reads.empty() ? std::string("-") : reads) + "; writes " + (writes.empty() ? std::string("-") : writes);
}

// The lines both pages show of any record.
void CommonLines(const TDeviceInfo& d, Lines& lines) {
  auto text = [&lines](const char* label, const std::string& value) {
    if (!value.empty()) lines.push_back({label, value});
  };
  text("Vendor", d.Vendor);
  text("Model", d.Model);
  text("Revision", d.Revision);
  text("Serial number", d.SerialNumber);
  text("Vendor text", d.VendorStr);
  lines.push_back({"Device type", Named(kDeviceTypes, d.DeviceType)});
  lines.push_back({"Bus", Named(kBusTypes, d.BusType)});
  if (d.MediaType) lines.push_back({"Media", Named(kMediaTypes, d.MediaType)});
  lines.push_back({"Removable", YesNo(d.Removable)});
  lines.push_back({"Size", Bytes(d.Size)});
  if (d.Cylinders || d.Heads || d.SectorsPerTrack)
    lines.push_back({"Geometry", std::to_string(d.Cylinders) + " cylinders, " + std::to_string(d.Heads) + " heads, " +
                                     std::to_string(d.SectorsPerTrack) + " sectors/track, " +
                                     std::to_string(d.BytesPerSector) + " bytes/sector"});
  if (d.LocationAvailable)
    lines.push_back({"Location", "port " + std::to_string(d.HaId) + ", path " + std::to_string(d.PathID) + ", target " +
                                     std::to_string(d.Target) + ", lun " + std::to_string(d.Lun)});
}

void IdentifyLines(const TDeviceInfo& d, Lines& lines) {
  if (!d.ExtraInfoAvailable) return;
  lines.push_back({"ATA version", std::to_string(d.ATAVersion)});
  lines.push_back({"Controller buffer", Bytes(d.CtlBufSize)});
  lines.push_back({"ECC bytes", std::to_string(d.ECCCode)});
  lines.push_back({"SMART", d.SMARTSupport ? (d.SMARTActive ? "supported, enabled" : "supported, disabled") : "not supported"});
}

nlohmann::ordered_json PartitionJson(const TPartitionInfo& p) {
  nlohmann::ordered_json j = {
      {"StartingOffset", p.StartingOffset}, {"Length", p.Length}, {"HiddenSectors", p.HiddenSectors},
      {"Number", p.Number}, {"Typ", p.Typ},
  };
  if (const char* name = NameOf(kPartitionTypes, p.Typ)) j["TypName"] = name;
  j["BootIndicator"] = p.BootIndicator;
  j["Recognized"] = p.Recognized;
  j["Rewrite"] = p.Rewrite;
  return j;
}

nlohmann::ordered_json AttributeJson(const TSMARTAttribute& a) {
  nlohmann::ordered_json j = {{"Id", a.Id()}};
  if (const char* name = NameOf(kSmartAttributes, a.Id())) j["Name"] = name;
  j["Flags"] = a.Flags();
  j["Current"] = a.Current();
  j["Worst"] = a.Worst();
  j["Raw"] = a.Raw();
  return j;
}

// The fields ParseIdentifyData fills.
nlohmann::ordered_json IdentifyJson(const TDeviceInfo& d) {
  nlohmann::ordered_json j = {{"DeviceType", d.DeviceType}};
  if (const char* name = NameOf(kDeviceTypes, d.DeviceType)) j["DeviceTypeName"] = name;
  j["Removable"] = d.Removable;
  j["Vendor"] = d.Vendor;
  j["Model"] = d.Model;
  j["Revision"] = d.Revision;
  j["SerialNumber"] = d.SerialNumber;
  j["Size"] = d.Size;
  j["Cylinders"] = d.Cylinders;
  j["Heads"] = d.Heads;
  j["SectorsPerTrack"] = d.SectorsPerTrack;
  j["BytesPerSector"] = d.BytesPerSector;
  j["BytesPerTrack"] = d.BytesPerTrack;
  j["ExtraInfoAvailable"] = d.ExtraInfoAvailable;
  j["CtlBufSize"] = d.CtlBufSize;
  j["ECCCode"] = d.ECCCode;
  j["ATAVersion"] = d.ATAVersion;
  j["SMARTSupport"] = d.SMARTSupport;
  j["SMARTActive"] = d.SMARTActive;
  return j;
}

Lines IdentifyTextLines(const TDeviceInfo& d) {
  Lines lines;
  lines.push_back({"Vendor", d.Vendor.empty() ? "-" : d.Vendor});
  lines.push_back({"Model", d.Model.empty() ? "-" : d.Model});
  lines.push_back({"Revision", d.Revision.empty() ? "-" : d.Revision});
  lines.push_back({"Serial number", d.SerialNumber.empty() ? "-" : d.SerialNumber});
  lines.push_back({"Device type", Named(kDeviceTypes, d.DeviceType)});
  lines.push_back({"Removable", YesNo(d.Removable)});
  lines.push_back({"Size", Bytes(d.Size)});
  lines.push_back({"Geometry", std::to_string(d.Cylinders) + " cylinders, " + std::to_string(d.Heads) + " heads, " +
                                   std::to_string(d.SectorsPerTrack) + " sectors/track, " +
                                   std::to_string(d.BytesPerSector) + " bytes/sector, " +
                                   std::to_string(d.BytesPerTrack) + " bytes/track"});
  IdentifyLines(d, lines);
  return lines;
}

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
    std::cout << j.dump(2) << "\n";
  } else {
    std::cout << FormatSections({{"ATA identify data: " + file, IdentifyTextLines(d)}});
  }
  return 0;
}

}  // namespace

nlohmann::ordered_json DeviceJson(const TDeviceInfo& d) {
  nlohmann::ordered_json j;
  j["Device"] = d.Device;
  j["Drive"] = DriveText(d.Drive);
  j["PHYSIndex"] = d.PHYSIndex;
  j["SerialNumber"] = d.SerialNumber;
  j["Model"] = d.Model;
  j["Vendor"] = d.Vendor;
  j["Revision"] = d.Revision;
  j["VendorStr"] = d.VendorStr;
  j["LocationAvailable"] = d.LocationAvailable;
  j["HaId"] = d.HaId;
  j["Target"] = d.Target;
  j["Lun"] = d.Lun;
  j["PathID"] = d.PathID;
  j["DeviceType"] = d.DeviceType;
  if (const char* name = NameOf(kDeviceTypes, d.DeviceType)) j["DeviceTypeName"] = name;
  j["MediaType"] = d.MediaType;
  if (const char* name = NameOf(kMediaTypes, d.MediaType)) j["MediaTypeName"] = name;
  j["BusType"] = d.BusType;
  if (const char* name = NameOf(kBusTypes, d.BusType)) j["BusTypeName"] = name;
  j["Removable"] = d.Removable;
  j["Size"] = d.Size;
  j["Cylinders"] = d.Cylinders;
  j["Heads"] = d.Heads;
  j["BytesPerSector"] = d.BytesPerSector;
  j["BytesPerTrack"] = d.BytesPerTrack;
  j["SectorsPerTrack"] = d.SectorsPerTrack;
  j["ExtraInfoAvailable"] = d.ExtraInfoAvailable;
  j["CtlBufSize"] = d.CtlBufSize;
  j["ECCCode"] = d.ECCCode;
  j["ATAVersion"] = d.ATAVersion;
  j["SMARTSupport"] = d.SMARTSupport;
  j["SMARTActive"] = d.SMARTActive;
  j["Layout"] = nlohmann::ordered_json::array();
  for (const auto& p : d.Layout) j["Layout"].push_back(PartitionJson(p));
  j["Geometry"] = {
      {"Cylinders", d.Geometry.Cylinders},
      {"MediaType", d.Geometry.MediaType},
      {"TracksPerCylinder", d.Geometry.TracksPerCylinder},
      {"SectorsPerTrack", d.Geometry.SectorsPerTrack},
      {"BytesPerSector", d.Geometry.BytesPerSector},
  };
  j["SMARTAttributes"] = nlohmann::ordered_json::array();
  for (const auto& a : d.SMARTAttributes) j["SMARTAttributes"].push_back(AttributeJson(a));
  j["Temperature"] = d.Temperature;
  j["Read_CDR"] = d.Read_CDR;
  j["Read_CDRW"] = d.Read_CDRW;
  j["Write_CDR"] = d.Write_CDR;
  j["Write_CDRW"] = d.Write_CDRW;
  j["Read_DVDROM"] = d.Read_DVDROM;
  j["Read_DVDR"] = d.Read_DVDR;
  j["Read_DVDRAM"] = d.Read_DVDRAM;
  j["Write_DVDR"] = d.Write_DVDR;
  j["Write_DVDRAM"] = d.Write_DVDRAM;
  return j;
}

Sections StoragePhysicalSections(const TKyvex_Storage& storage) {
  Sections sections;
  const auto& devices = storage.PhysicalDevices();
  for (std::size_t i = 0; i < devices.size(); ++i) {
    const TDeviceInfo& d = devices[i];
    Lines lines;
    CommonLines(d, lines);
    IdentifyLines(d, lines);
    if (!d.SMARTAttributes.empty()) {
      lines.push_back({"Temperature", std::to_string(d.Temperature) + " °C"});
      for (const auto& a : d.SMARTAttributes) {
        const char* name = NameOf(kSmartAttributes, a.Id());
        lines.push_back({"SMART " + std::to_string(a.Id()) + (name ? std::string(" ") + name : std::string()),
                         "current " + std::to_string(a.Current()) + ", worst " + std::to_string(a.Worst()) +
                             ", raw " + std::to_string(a.Raw())});
      }
    }
    if (const std::string a = Abilities(d); !a.empty()) lines.push_back({"Optical", a});
    for (std::size_t k = 0; k < d.Layout.size(); ++k)
      lines.push_back({"Partition " + std::to_string(d.Layout[k].Number), PartitionText(d.Layout[k])});
    if (d.Drive) lines.push_back({"Drive", DriveText(d.Drive) + ":"});
    sections.push_back({"Physical device " + std::to_string(i) + ": " + Title(d), lines});
  }
  return sections;
}

Sections StorageLogicalSections(const TKyvex_Storage& storage) {
  Sections sections;
  const auto& physical = storage.PhysicalDevices();
  for (const auto& d : storage.LogicalDevices()) {
    Lines lines;
    if (d.PHYSIndex >= 0 && static_cast<std::size_t>(d.PHYSIndex) < physical.size())
      lines.push_back({"Physical device", std::to_string(d.PHYSIndex) + ": " + Title(physical[static_cast<std::size_t>(d.PHYSIndex)])});
    if (!d.Layout.empty()) lines.push_back({"Partition", PartitionText(d.Layout.front())});
    CommonLines(d, lines);
    sections.push_back({"Drive " + DriveText(d.Drive) + ": " + Title(d), lines});
  }
  return sections;
}

nlohmann::ordered_json StorageJson(const TKyvex_Storage& storage) {
  nlohmann::ordered_json j;
  j["PhysicalCount"] = storage.PhysicalCount();
  j["LogicalCount"] = storage.LogicalCount();
  j["PhysicalDevices"] = nlohmann::ordered_json::array();
  for (const auto& d : storage.PhysicalDevices()) j["PhysicalDevices"].push_back(DeviceJson(d));
  j["LogicalDevices"] = nlohmann::ordered_json::array();
  for (const auto& d : storage.LogicalDevices()) j["LogicalDevices"].push_back(DeviceJson(d));
  j["LiveData"] = storage.LiveData();
  if (!storage.LiveData()) j["StorageFileName"] = Readable(storage.StorageFileName());
  return j;
}

std::string StorageText(const TKyvex_Storage& storage) {
  std::string out = "Storage devices: " + std::to_string(storage.PhysicalCount()) + " physical, " +
                    std::to_string(storage.LogicalCount()) + " logical\n";
  Sections all = StoragePhysicalSections(storage);
  const Sections logical = StorageLogicalSections(storage);
  all.insert(all.end(), logical.begin(), logical.end());
  if (!all.empty()) out += "\n" + FormatSections(all);
  return out;
}

void AddStorageReport(FullReport& report) {
  TKyvex_Storage storage;
  storage.CollectData();
  report.Json["Storage"] = StorageJson(storage);
  report.Text += "\n" + StorageText(storage);
}

CLI::App* AddStorageCommand(CLI::App& app, std::function<int()>& run) {
  auto* cmd = app.add_subcommand(
      "storage",
      "Show the storage devices: physical disks, optical and tape drives, and the drive letters of mounted file "
      "systems, with the physical device each one lies on");
  auto json = std::make_shared<bool>(false);
  auto identify = std::make_shared<std::string>();
  cmd->add_flag("--json", *json, "Print JSON instead of text");
  cmd->add_option("--identify", *identify,
                  "Decode one ATA identify block of another machine instead: the text `hdparm --Istdout` prints, "
                  "or the 512 raw bytes")
      ->type_name("FILE");
  run = [json, identify] {
    if (!identify->empty()) return RunIdentify(*identify, *json);
    TKyvex_Storage storage;
    storage.CollectData();
    if (*json)
      std::cout << StorageJson(storage).dump(2) << "\n";
    else
      std::cout << StorageText(storage);
    return 0;
  };
  return cmd;
}

}  // namespace kyvex::report
