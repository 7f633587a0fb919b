#include "report/SmbiosReport.h"

#include <cstdio>
#include <string_view>

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
                                      "tsLoaded"};
  return s < std::size(names) ? names[s] : "tsNone";
}

std::string SourceText(TSMBIOS_TableSource s) {
  switch (s) {
    case tsFirmwareArea: return "firmware area (C0000h-FFFFFh)";
    case tsPhysicalMemory: return "physical memory";
    case tsFirmwareService: return "firmware-table service";
    case tsLoaded: return "loaded table";
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

}  // namespace

Sections SmbiosSystemSections(const TKyvex_SMBIOS& s) {
  Sections out;
  Lines table;
  const bool loaded = !s.LiveData();
  if (!loaded && s.TableSource() == tsNone) {
    table.push_back({"Entry point", "none found"});
    table.push_back({"Table", "none: this machine's SMBIOS tables could not be read"});
    out.push_back({"SMBIOS", table});
    return out;
  }
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
  out.push_back({"BIOS", GroupRows(s, "BIOS")});
  out.push_back({"System", GroupRows(s, "System")});
  out.push_back({"Main board", GroupRows(s, "MainBoard")});
  // Without a chassis structure the type is no more than the cleared value; a file keeps no
  // structure list, so loaded data show theirs.
  const std::string chassisType = !loaded && !HasStructure(s, 3) ? "" : SMBIOS_ChassisText(s.ChassisModel());
  out.push_back({"Chassis", GroupRows(s, "Chassis", {{"Type", chassisType}})});
  return out;
}

Sections SmbiosDeviceSections(const TKyvex_SMBIOS& s) {
  Sections out;
  // Loaded data carry no structure list; a memory controller shows in its values.
  const bool memoryController =
      s.LiveData() ? HasStructure(s, 5)
                   : s.MemCtrlSlotCount() || s.MemCtrlMaxSize() || s.MemCtrlSupportedSpeeds() ||
                         s.MemCtrlSupportedTypes() || s.MemCtrlSupportedVoltages();
  if (memoryController) out.push_back({"Memory controller", GroupRows(s, "MemCtrl")});
  for (std::uint32_t i = 0; i < s.MemoryDeviceCount(); ++i) {
    const auto m = s.GetMemoryDevice(i);
    Lines lines = RecordRows(m, SMBIOS_MemoryDeviceFields);
    lines.push_back({"Width", std::to_string(m.DataWidth) + " bits (" + std::to_string(m.TotalWidth) + " total)"});
    out.push_back({Numbered("Memory device", i), lines});
  }
  for (std::uint32_t i = 0; i < s.MemoryModuleCount(); ++i)
    out.push_back({Numbered("Memory module", i), RecordRows(s.GetMemoryModule(i), SMBIOS_MemoryModuleFields)});
  for (std::uint32_t i = 0; i < s.ProcessorCount(); ++i) {
    const auto p = s.GetProcessor(i);
    Lines lines = RecordRows(p, SMBIOS_ProcessorFields);
    lines.push_back({"Voltage", p.Voltage > 0 ? Volts(p.Voltage) : "Unknown"});
    out.push_back({Numbered("Processor", i), lines});
  }
  for (std::uint32_t i = 0; i < s.CacheCount(); ++i)
    out.push_back({Numbered("Cache", i), RecordRows(s.GetCache(i), SMBIOS_CacheFields)});
  for (std::uint32_t i = 0; i < s.SystemSlotCount(); ++i)
    out.push_back({Numbered("System slot", i), RecordRows(s.GetSystemSlot(i), SMBIOS_SystemSlotFields)});
  for (std::uint32_t i = 0; i < s.PortCount(); ++i)
    out.push_back({Numbered("Port", i), RecordRows(s.GetPort(i), SMBIOS_PortFields)});
  for (std::uint32_t i = 0; i < s.OnBoardDeviceCount(); ++i) {
    const auto d = s.GetOnBoardDevice(i);
    Lines lines = RecordRows(d, SMBIOS_OnBoardDeviceFields);
    lines.push_back({"Status", d.Status ? "Enabled" : "Disabled"});
    out.push_back({Numbered("On-board device", i), lines});
  }
  for (std::uint32_t i = 0; i < s.TemperatureProbeCount(); ++i)
    out.push_back(
        {Numbered("Temperature probe", i), RecordRows(s.GetTemperatureProbe(i), SMBIOS_TemperatureProbeFields)});
  if (out.empty()) out.push_back({"Devices", {{"Records", "none"}}});
  return out;
}

Json SmbiosJson(const TKyvex_SMBIOS& s) {
  Json j = FieldsJson(s, SMBIOS_Fields);
  // Where the last reading found the table; a file does not keep it.
  j["TableSource"] = SourceName(s.TableSource());

  j["ProcessorCount"] = s.ProcessorCount();
  j["MemoryModuleCount"] = s.MemoryModuleCount();
  j["MemoryDeviceCount"] = s.MemoryDeviceCount();
  j["PortCount"] = s.PortCount();
  j["SystemSlotCount"] = s.SystemSlotCount();
  j["CacheCount"] = s.CacheCount();
  j["OnBoardDeviceCount"] = s.OnBoardDeviceCount();
  j["TemperatureProbeCount"] = s.TemperatureProbeCount();

  using C = TKyvex_SMBIOS;
  j["ProcessorList"] = ListJson(s, &C::ProcessorCount, &C::GetProcessor, SMBIOS_ProcessorFields);
  j["MemoryModuleList"] = ListJson(s, &C::MemoryModuleCount, &C::GetMemoryModule, SMBIOS_MemoryModuleFields);
  j["MemoryDeviceList"] = ListJson(s, &C::MemoryDeviceCount, &C::GetMemoryDevice, SMBIOS_MemoryDeviceFields);
  j["PortList"] = ListJson(s, &C::PortCount, &C::GetPort, SMBIOS_PortFields);
  j["SystemSlotList"] = ListJson(s, &C::SystemSlotCount, &C::GetSystemSlot, SMBIOS_SystemSlotFields);
  j["CacheList"] = ListJson(s, &C::CacheCount, &C::GetCache, SMBIOS_CacheFields);
  j["OnBoardDeviceList"] = ListJson(s, &C::OnBoardDeviceCount, &C::GetOnBoardDevice, SMBIOS_OnBoardDeviceFields);
  j["TemperatureProbeList"] =
      ListJson(s, &C::TemperatureProbeCount, &C::GetTemperatureProbe, SMBIOS_TemperatureProbeFields);
  Json list = Json::array();
  for (const auto& e : s.StructTables())
    list.push_back({{"Address", e.Address},
                    {"StructType", e.StructType},
                    {"Length", e.Length},
                    {"Handle", e.Handle},
                    {"Name", e.Name}});
  j["StructTables"] = list;
  j["LiveData"] = s.LiveData();
  if (!s.LiveData()) j["StorageFileName"] = Readable(s.StorageFileName());
  return j;
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
