#include "report/StorageReport.h"

#include <cstdio>
#include <span>

#include "platform/Text.h"
#include "report/FieldReport.h"
#include "storage/KSI_Storage_Fields.h"
#include "storage/KSI_Storage_Text.h"

namespace kyvex::report {

namespace {

const auto& kDeviceTypes = StorageDeviceTypeNames;
const auto& kPartitionTypes = StoragePartitionTypeNames;
const auto& kSmartAttributes = StorageSmartAttributeNames;

const char* NameOf(std::span<const TStorageName> table, std::uint32_t value) { return StorageNameOf(table, value); }

// "Name (value)", or "(value)" for a value the table does not name.
std::string Named(std::span<const TStorageName> table, std::uint32_t value) {
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

std::string DriveText(char drive) { return LetterText(drive); }

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

// The lines both pages show of any record: the plain rows of the record's fields, then size,
// geometry and location.
void CommonLines(const TDeviceInfo& d, Lines& lines) {
  VisitDeviceFields(d, TFieldRows(lines));
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
  // An NVMe controller's identify data has no ATA version, buffer or ECC words.
  if (d.ATAVersion != 0) {
    lines.push_back({"ATA version", std::to_string(d.ATAVersion)});
    lines.push_back({"Controller buffer", Bytes(d.CtlBufSize)});
    lines.push_back({"ECC bytes", std::to_string(d.ECCCode)});
  }
  lines.push_back({"SMART", d.SMARTSupport ? (d.SMARTActive ? "supported, enabled" : "supported, disabled") : "not supported"});
}

// The critical-warning bits of the NVMe health log, lowest first.
std::string CriticalWarningText(std::uint8_t bits) {
  static const char* kBits[] = {"available spare below threshold", "temperature out of range", "reliability degraded",
                                "read-only", "volatile memory backup failed", "persistent memory region read-only"};
  std::string s;
  for (unsigned i = 0; i < 8; ++i) {
    if (!(bits & (1u << i))) continue;
    s += s.empty() ? "" : ", ";
    s += i < std::size(kBits) ? kBits[i] : "bit " + std::to_string(i);
  }
  return s.empty() ? "none" : s;
}

void HealthLines(const TDeviceInfo& d, Lines& lines) {
  const TNvmeHealth& h = d.Health;
  if (!h.Available) return;
  lines.push_back({"Temperature", std::to_string(d.Temperature) + " °C"});
  lines.push_back({"Critical warning", Hex8(h.CriticalWarning) + " (" + CriticalWarningText(h.CriticalWarning) + ")"});
  lines.push_back({"Available spare", std::to_string(h.AvailableSpare) + "% (threshold " +
                                          std::to_string(h.AvailableSpareThreshold) + "%)"});
  lines.push_back({"Percentage used", std::to_string(h.PercentageUsed) + "%"});
  lines.push_back({"Power-on hours", std::to_string(h.PowerOnHours)});
  lines.push_back({"Unsafe shutdowns", std::to_string(h.UnsafeShutdowns)});
  lines.push_back({"Media errors", std::to_string(h.MediaErrors)});
}

// A power in watts from microwatts, with the four decimals NVMe's finer unit needs.
std::string Watts(std::uint32_t microwatts) {
  char text[32];
  std::snprintf(text, sizeof text, "%u.%04u W", microwatts / 1000000, (microwatts % 1000000) / 100);
  return text;
}

void PowerLines(const TDeviceInfo& d, Lines& lines) {
  const TNvmePowerState& p = d.Power;
  if (!p.Available) return;
  std::string text = "PS" + std::to_string(p.State) + " of " + std::to_string(p.StateCount);
  if (p.NonOperational) text += ", non-operational";
  if (p.MaxPowerMicrowatts) text += ", at most " + Watts(p.MaxPowerMicrowatts);
  lines.push_back({"Power state", text});
}

nlohmann::ordered_json PowerJson(const TNvmePowerState& p) {
  return {{"State", p.State},
          {"States", p.StateCount},
          {"NonOperational", p.NonOperational},
          {"MaxPowerMicrowatts", p.MaxPowerMicrowatts}};
}

nlohmann::ordered_json HealthJson(const TNvmeHealth& h) {
  return {{"CriticalWarning", h.CriticalWarning},
          {"CriticalWarningText", CriticalWarningText(h.CriticalWarning)},
          {"AvailableSpare", h.AvailableSpare},
          {"AvailableSpareThreshold", h.AvailableSpareThreshold},
          {"PercentageUsed", h.PercentageUsed},
          {"PowerOnHours", h.PowerOnHours},
          {"UnsafeShutdowns", h.UnsafeShutdowns},
          {"MediaErrors", h.MediaErrors}};
}

nlohmann::ordered_json PartitionJson(const TPartitionInfo& p) {
  return FieldsJson(p, [](const auto& r, auto&& v) { VisitPartitionFields(r, v); });
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

}  // namespace

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

nlohmann::ordered_json DeviceJson(const TDeviceInfo& d) {
  nlohmann::ordered_json j = FieldsJson(d, [](const auto& r, auto&& v) { VisitDeviceFields(r, v); });
  j["Layout"] = nlohmann::ordered_json::array();
  for (const auto& p : d.Layout) j["Layout"].push_back(PartitionJson(p));
  j["SMARTAttributes"] = nlohmann::ordered_json::array();
  for (const auto& a : d.SMARTAttributes) j["SMARTAttributes"].push_back(AttributeJson(a));
  // Only a disk whose health log was read has one; never saved, so a loaded file has none.
  if (d.Health.Available) j["Health"] = HealthJson(d.Health);
  if (d.Power.Available) j["PowerState"] = PowerJson(d.Power);
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
    HealthLines(d, lines);
    PowerLines(d, lines);
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

}  // namespace kyvex::report
