#include "report/SmbiosReport.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>
#include <string_view>

#include "common/Kyvex_Routines.h"
#include "platform/Platform.h"
#include "platform/Text.h"
#include "report/FieldReport.h"
#include "smbios/KSI_SMBIOS_Fields.h"

namespace kyvex::report {

namespace {

using Json = nlohmann::ordered_json;

std::string Hex(std::uint64_t v, int digits) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "%0*llX", digits, static_cast<unsigned long long>(v));
  return std::string(buf) + "h";
}

const char* SourceName(TSMBIOS_TableSource s) {
  static const char* const names[] = {"tsNone", "tsFirmwareArea", "tsPhysicalMemory", "tsFirmwareService",
                                      "tsLoaded", "tsIdentityOnly"};
  return s < std::size(names) ? names[s] : "tsNone";
}

std::string SourceText(TSMBIOS_TableSource s) {
  switch (s) {
    case tsFirmwareArea: return "firmware area (C0000h-FFFFFh)";
    case tsPhysicalMemory: return "physical memory";
    case tsFirmwareService: return "firmware-table service";
    case tsLoaded: return "loaded table";
    case tsIdentityOnly: return "none";
    default: return "none";
  }
}

// The plain rows of the component's values whose names begin with `group`: the values of one
// structure share the start of their names.
Lines GroupRows(const TKyvex_SMBIOS& s, std::string_view group, Lines lines = {}) {
  const TFieldRows rows(lines);
  VisitSMBIOSFields(s, [&](const TField& f, const auto& value) {
    if (std::string_view(f.Name).starts_with(group)) rows(f, value);
  });
  return lines;
}

// The plain rows of one record.
template <class Record, class Visit>
Lines RecordRows(const Record& r, Visit visit) {
  Lines lines;
  visit(r, TFieldRows(lines));
  return lines;
}

// Every record of a list as JSON, through its field list.
template <class Record, class Visit>
Json ListJson(const TKyvex_SMBIOS& s, std::uint32_t (TKyvex_SMBIOS::*count)() const,
              Record (TKyvex_SMBIOS::*get)(std::uint32_t) const, Visit visit) {
  Json list = Json::array();
  for (std::uint32_t i = 0; i < (s.*count)(); ++i) list.push_back(FieldsJson((s.*get)(i), visit));
  return list;
}

std::string Volts(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f V", v);
  return buf;
}

bool HasStructure(const TKyvex_SMBIOS& s, std::uint8_t type) {
  for (const auto& e : s.StructTables())
    if (e.StructType == type) return true;
  return false;
}

std::string Numbered(const char* what, std::uint32_t i) { return std::string(what) + " " + std::to_string(i); }

// Puts a row after the row labelled `after` (at the end when there is none).
void InsertRow(Lines& lines, const std::string& after, std::string label, std::string value) {
  auto it = std::find_if(lines.begin(), lines.end(), [&](const auto& l) { return l.first == after; });
  lines.insert(it == lines.end() ? it : it + 1, {std::move(label), std::move(value)});
}

// A count byte of FFh hands over to the word of SMBIOS 3.0.
std::uint32_t Count(std::uint8_t byte, std::uint16_t word) { return byte == 0xFF && word ? word : byte; }

bool OnLinux() { return PlatformSnapshot().PlatformId == platform::kPlatformLinux; }

// What a reading without a table tells the user: whether more rights would help, and which
// records only the tables hold.
std::string NoTableText(const TKyvex_SMBIOS& s) {
  if (s.TablesNeedRights())
    return OnLinux() ? "not readable without root: memory devices, processors, caches, slots and ports need "
                       "root (run it as root, for example with sudo)"
                     : "not readable without administrator rights: memory devices, processors, caches, slots "
                       "and ports need them (run it as administrator)";
  return OnLinux() ? "none: this system offers no SMBIOS tables (/sys/firmware/dmi/tables, /dev/mem)"
                   : "none: this system offers no SMBIOS tables";
}

}  // namespace

Sections SmbiosSystemSections(const TKyvex_SMBIOS& s) {
  Sections out;
  Lines table;
  const bool loaded = !s.LiveData();
  const bool identityOnly = !loaded && s.TableSource() == tsIdentityOnly;
  if (!loaded && (s.TableSource() == tsNone || identityOnly)) {
    table.push_back({"Entry point", "none found"});
    table.push_back({"Table", NoTableText(s)});
    if (identityOnly)
      table.push_back({"Values", OnLinux() ? "BIOS, system, main board and chassis from /sys/class/dmi/id, "
                                             "without serial numbers and UUID"
                                           : "BIOS, system and main board from the registry, without serial "
                                             "numbers and UUID"});
    out.push_back({"SMBIOS", table});
    if (!identityOnly) return out;
  } else {
    table.push_back({"Version", s.Version().empty() ? "unknown" : s.Version()});
    if (loaded) {
      // A file keeps the decoded values only: the entry point's kind, the table's source and
      // its structure list stay those of whatever this component collected before, if anything.
      table.push_back({"Entry point", (s.SMBIOSAddress() ? "at " + Hex(s.SMBIOSAddress(), 5) + ", " : "") +
                                          "revision " + (s.Revision().empty() ? "unknown" : s.Revision())});
      if (s.StructStart()) table.push_back({"Table address", Hex(s.StructStart(), 8)});
      table.push_back({"Table length", std::to_string(s.StructLength()) + " bytes"});
      if (s.StructCount() != 0xFFFF) table.push_back({"Structures", std::to_string(s.StructCount()) + " announced"});
      table.push_back({"Data", "loaded from " + s.StorageFileName()});
    } else {
      if (!s.EntryPointAnchor().empty())
        table.push_back({"Entry point", "\"" + s.EntryPointAnchor() + "\"" +
                                            (s.SMBIOSAddress() ? " at " + Hex(s.SMBIOSAddress(), 5) : "") +
                                            ", revision " + s.Revision()});
      table.push_back({"Table source", SourceText(s.TableSource())});
      if (s.StructStart()) table.push_back({"Table address", Hex(s.StructStart(), 8)});
      table.push_back({"Table length", std::to_string(s.StructLength()) + " bytes"});
      table.push_back({"Structures", std::to_string(s.StructTables().size()) + " found" +
                                         (s.StructCount() != 0xFFFF && s.StructCount() != s.StructTables().size()
                                              ? ", " + std::to_string(s.StructCount()) + " announced"
                                              : "")});
    }
    out.push_back({"SMBIOS", table});
  }
  Lines bios = GroupRows(s, "BIOS");
  if (s.BIOSExtendedSize())
    for (auto& l : bios)
      if (l.first == "ROM size") l.second = SMBIOS_MegabytesText(s.BIOSExtendedSize());
  out.push_back({"BIOS", bios});
  out.push_back({"System", GroupRows(s, "System")});
  out.push_back({"Main board", GroupRows(s, "MainBoard")});
  // Without a chassis structure the type is no more than the cleared value; a file keeps no
  // structure list, so loaded data show theirs.
  const bool chassisKnown = loaded || HasStructure(s, 3) || (identityOnly && s.IdentityChassisType());
  const std::string chassisType = chassisKnown ? SMBIOS_ChassisText(s.ChassisModel()) : "";
  out.push_back({"Chassis", GroupRows(s, "Chassis", {{"Type", chassisType}})});
  return out;
}

void EachSmbiosDeviceSection(const TKyvex_SMBIOS& s, const std::function<void(Section)>& sink) {
  bool any = false;
  auto add = [&](Section section) {
    any = true;
    sink(std::move(section));
  };
  // Loaded data carry no structure list; a memory controller shows in its values.
  const bool memoryController =
      s.LiveData() ? HasStructure(s, 5)
                   : s.MemCtrlSlotCount() || s.MemCtrlMaxSize() || s.MemCtrlSupportedSpeeds() ||
                         s.MemCtrlSupportedTypes() || s.MemCtrlSupportedVoltages();
  if (memoryController) add({"Memory controller", GroupRows(s, "MemCtrl")});
  for (std::uint32_t i = 0; i < s.MemoryDeviceCount(); ++i) {
    const auto m = s.GetMemoryDevice(i);
    Lines lines = RecordRows(m, SMBIOS_MemoryDeviceFields);
    // The newer values where the structure has them; a loaded file has only the older ones.
    InsertRow(lines, "Part number", "Size",
              m.ExtendedSize ? SMBIOS_MegabytesText(m.ExtendedSize) : SMBIOS_MemoryDeviceSizeText(m.Size));
    InsertRow(lines, "Part number", "Speed",
              m.SpeedMTs ? SMBIOS_MegatransfersText(m.SpeedMTs) : SMBIOS_NanosecondsText(m.Speed));
    if (m.ConfiguredSpeedMTs)
      InsertRow(lines, "Speed", "Configured speed", SMBIOS_MegatransfersText(m.ConfiguredSpeedMTs));
    lines.push_back({"Width", std::to_string(m.DataWidth) + " bits (" + std::to_string(m.TotalWidth) + " total)"});
    add({Numbered("Memory device", i), lines});
  }
  for (std::uint32_t i = 0; i < s.MemoryModuleCount(); ++i)
    add({Numbered("Memory module", i), RecordRows(s.GetMemoryModule(i), SMBIOS_MemoryModuleFields)});
  for (std::uint32_t i = 0; i < s.ProcessorCount(); ++i) {
    const auto p = s.GetProcessor(i);
    Lines lines = RecordRows(p, SMBIOS_ProcessorFields);
    lines.push_back({"Voltage", p.Voltage > 0 ? Volts(p.Voltage) : "Unknown"});
    if (const std::uint32_t cores = Count(p.CoreCount, p.CoreCount2))
      lines.push_back({"Cores", std::to_string(cores) + (p.CoreEnabled ? " (" +
                                                                            std::to_string(Count(p.CoreEnabled, p.CoreEnabled2)) +
                                                                            " enabled)"
                                                                      : "")});
    if (const std::uint32_t threads = Count(p.ThreadCount, p.ThreadCount2))
      lines.push_back({"Threads", std::to_string(threads)});
    add({Numbered("Processor", i), lines});
  }
  for (std::uint32_t i = 0; i < s.CacheCount(); ++i) {
    const auto c = s.GetCache(i);
    Lines lines = RecordRows(c, SMBIOS_CacheFields);
    // The 32-bit sizes where the structure has them (64 MB and more do not fit the others).
    InsertRow(lines, "SRAM type", "Maximum size", SMBIOS_KilobytesText(c.MaxSize2 ? c.MaxSize2 : c.MaxSize));
    InsertRow(lines, "Maximum size", "Installed size",
              SMBIOS_KilobytesText(c.InstalledSize2 ? c.InstalledSize2 : c.InstalledSize));
    add({Numbered("Cache", i), lines});
  }
  for (std::uint32_t i = 0; i < s.SystemSlotCount(); ++i)
    add({Numbered("System slot", i), RecordRows(s.GetSystemSlot(i), SMBIOS_SystemSlotFields)});
  for (std::uint32_t i = 0; i < s.PortCount(); ++i)
    add({Numbered("Port", i), RecordRows(s.GetPort(i), SMBIOS_PortFields)});
  for (std::uint32_t i = 0; i < s.OnBoardDeviceCount(); ++i) {
    const auto d = s.GetOnBoardDevice(i);
    Lines lines = RecordRows(d, SMBIOS_OnBoardDeviceFields);
    lines.push_back({"Status", d.Status ? "Enabled" : "Disabled"});
    add({Numbered("On-board device", i), lines});
  }
  for (std::uint32_t i = 0; i < s.TemperatureProbeCount(); ++i)
    add(
        {Numbered("Temperature probe", i), RecordRows(s.GetTemperatureProbe(i), SMBIOS_TemperatureProbeFields)});
  if (!any) sink({"Devices", {{"Records", s.TablesNeedRights() ? NoTableText(s) : "none"}}});
}

Sections SmbiosDeviceSections(const TKyvex_SMBIOS& s) {
  Sections out;
  EachSmbiosDeviceSection(s, [&out](Section section) { out.push_back(std::move(section)); });
  return out;
}

namespace {

// The report with its long lists left out (null where they stand) and, beside it, a way to
// make each of their elements: a table of tens of thousands of structures is written one
// element at a time rather than built whole.
struct SmbiosJsonParts {
  Json head;
  struct List {
    const char* key;
    std::size_t count;
    std::function<Json(std::size_t)> element;
  };
  std::vector<List> lists;
};

template <class Record, class Visit>
SmbiosJsonParts::List ListOf(const char* key, const TKyvex_SMBIOS& s, std::uint32_t (TKyvex_SMBIOS::*count)() const,
                             Record (TKyvex_SMBIOS::*get)(std::uint32_t) const, Visit visit) {
  return {key, (s.*count)(), [&s, get, visit](std::size_t i) {
            return FieldsJson((s.*get)(static_cast<std::uint32_t>(i)), visit);
          }};
}

SmbiosJsonParts SmbiosParts(const TKyvex_SMBIOS& s) {
  SmbiosJsonParts parts;
  Json& j = parts.head;
  j = FieldsJson(s, SMBIOS_Fields);
  // Where the last reading found the table; a file does not keep it.
  j["TableSource"] = SourceName(s.TableSource());
  if (s.TablesNeedRights()) j["TablesNeedRights"] = true;

  j["ProcessorCount"] = s.ProcessorCount();
  j["MemoryModuleCount"] = s.MemoryModuleCount();
  j["MemoryDeviceCount"] = s.MemoryDeviceCount();
  j["PortCount"] = s.PortCount();
  j["SystemSlotCount"] = s.SystemSlotCount();
  j["CacheCount"] = s.CacheCount();
  j["OnBoardDeviceCount"] = s.OnBoardDeviceCount();
  j["TemperatureProbeCount"] = s.TemperatureProbeCount();

  using C = TKyvex_SMBIOS;
  parts.lists = {
      ListOf("ProcessorList", s, &C::ProcessorCount, &C::GetProcessor, SMBIOS_ProcessorFields),
      ListOf("MemoryModuleList", s, &C::MemoryModuleCount, &C::GetMemoryModule, SMBIOS_MemoryModuleFields),
      ListOf("MemoryDeviceList", s, &C::MemoryDeviceCount, &C::GetMemoryDevice, SMBIOS_MemoryDeviceFields),
      ListOf("PortList", s, &C::PortCount, &C::GetPort, SMBIOS_PortFields),
      ListOf("SystemSlotList", s, &C::SystemSlotCount, &C::GetSystemSlot, SMBIOS_SystemSlotFields),
      ListOf("CacheList", s, &C::CacheCount, &C::GetCache, SMBIOS_CacheFields),
      ListOf("OnBoardDeviceList", s, &C::OnBoardDeviceCount, &C::GetOnBoardDevice, SMBIOS_OnBoardDeviceFields),
      ListOf("TemperatureProbeList", s, &C::TemperatureProbeCount, &C::GetTemperatureProbe,
             SMBIOS_TemperatureProbeFields),
      {"StructTables", s.StructTables().size(),
       [&s](std::size_t i) {
         const auto& e = s.StructTables()[i];
         return Json{{"Address", e.Address},
                     {"StructType", e.StructType},
                     {"Length", e.Length},
                     {"Handle", e.Handle},
                     {"Name", e.Name}};
       }},
  };
  for (const auto& list : parts.lists) j[list.key] = nullptr;
  j["LiveData"] = s.LiveData();
  if (!s.LiveData()) j["StorageFileName"] = Readable(s.StorageFileName());
  return parts;
}


}  // namespace

Json SmbiosJson(const TKyvex_SMBIOS& s) {
  SmbiosJsonParts parts = SmbiosParts(s);
  for (const auto& list : parts.lists) {
    Json& items = parts.head[list.key];
    items = Json::array();
    for (std::size_t i = 0; i < list.count; ++i) items.push_back(list.element(i));
  }
  return std::move(parts.head);
}

void WriteSmbiosJson(std::ostream& out, const TKyvex_SMBIOS& s) {
  const SmbiosJsonParts parts = SmbiosParts(s);
  JsonObjectWriter object(out);
  for (const auto& [key, value] : parts.head.items()) {
    const std::string& name = key;  // older clang cannot capture a structured binding
    const auto list = std::find_if(parts.lists.begin(), parts.lists.end(),
                                   [&name](const SmbiosJsonParts::List& l) { return name == l.key; });
    if (list == parts.lists.end())
      object.Member(name, value);
    else
      WriteNestedJsonArray(object.Key(name), list->count, 1, list->element);
  }
  object.End();
}

std::string StructTablesText(const TKyvex_SMBIOS& s) {
  std::string out = "Structures\n";
  char buf[160];
  for (const auto& e : s.StructTables()) {
    std::snprintf(buf, sizeof buf, "  Handle 0x%04X, type %3u, %3u bytes at %s: %s\n", e.Handle, e.StructType,
                  e.Length, Hex(e.Address, 8).c_str(), e.Name.c_str());
    out += buf;
  }
  return out;
}

}  // namespace kyvex::report
