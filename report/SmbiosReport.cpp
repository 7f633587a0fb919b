#include "report/SmbiosReport.h"

#include <cstdio>
#include <map>

#include "platform/Text.h"

namespace kyvex::report {

namespace {

using Json = nlohmann::ordered_json;

std::string Hex(std::uint64_t v, int digits) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "%0*llX", digits, static_cast<unsigned long long>(v));
  return std::string(buf) + "h";
}

std::string Unknown(unsigned v) { return "Unknown (" + std::to_string(v) + ")"; }

// Codes that newer firmware uses beyond the component's own text tables, by the value the
// component stores (for most fields the code minus 1). The component keeps the value as it
// decodes; only the display names it.
const std::map<unsigned, const char*> kMoreChassis = {
    {25, "Compact PCI"}, {26, "Advanced TCA"}, {27, "Blade"},       {28, "Blade Enclosure"},
    {29, "Tablet"},      {30, "Convertible"},  {31, "Detachable"},  {32, "IoT Gateway"},
    {33, "Embedded PC"}, {34, "Mini PC"},      {35, "Stick PC"}};
const std::map<unsigned, const char*> kMoreDeviceTypes = {
    {18, "DDR2"},  {19, "DDR2 FB-DIMM"}, {23, "DDR3"},   {24, "FBD2"},   {25, "DDR4"},   {26, "LPDDR"},
    {27, "LPDDR2"}, {28, "LPDDR3"},      {29, "LPDDR4"}, {30, "Logical non-volatile device"},
    {31, "HBM"},   {32, "HBM2"},         {33, "DDR5"},   {34, "LPDDR5"}, {35, "HBM3"}};
const std::map<unsigned, const char*> kMoreFormFactors = {{14, "FB-DIMM"}, {15, "Die"}, {16, "CAMM"}};
const std::map<unsigned, const char*> kMoreDataBus = {{7, "1x or x1"},   {8, "2x or x2"},   {9, "4x or x4"},
                                                      {10, "8x or x8"},  {11, "12x or x12"}, {12, "16x or x16"},
                                                      {13, "32x or x32"}};
const std::map<unsigned, const char*> kMoreSlotUsage = {{4, "Unavailable"}};
const std::map<unsigned, const char*> kMoreSlotLength = {{4, "2.5\" drive form factor"},
                                                         {5, "3.5\" drive form factor"}};
// Port types 20h..23h are stored as 160..163 (the value minus 80h).
const std::map<unsigned, const char*> kMorePortTypes = {{160, "SATA"}, {161, "SAS"}, {162, "MFDP"},
                                                        {163, "Thunderbolt"}};
// Processor upgrade codes 12h on (stored as the code minus 1).
const std::map<unsigned, const char*> kMoreUpgrades = {
    {17, "Socket 939"}, {18, "Socket mPGA604"}, {19, "Socket LGA771"}, {20, "Socket LGA775"}, {21, "Socket S1"},
    {22, "Socket AM2"}, {23, "Socket F (1207)"}, {24, "Socket LGA1366"}, {25, "Socket G34"}, {26, "Socket AM3"},
    {27, "Socket C32"}, {28, "Socket LGA1156"}, {29, "Socket LGA1567"}, {30, "Socket PGA988A"},
    {31, "Socket BGA1288"}, {32, "Socket rPGA988B"}, {33, "Socket BGA1023"}, {34, "Socket BGA1224"},
    {35, "Socket LGA1155"}, {36, "Socket LGA1356"}, {37, "Socket LGA2011"}, {38, "Socket FS1"},
    {39, "Socket FS2"}, {40, "Socket FM1"}, {41, "Socket FM2"}, {42, "Socket LGA2011-3"},
    {43, "Socket LGA1356-3"}, {44, "Socket LGA1150"}, {45, "Socket BGA1168"}, {46, "Socket BGA1234"},
    {47, "Socket BGA1364"}, {48, "Socket AM4"}, {49, "Socket LGA1151"}, {50, "Socket BGA1356"},
    {51, "Socket BGA1440"}, {52, "Socket BGA1515"}, {53, "Socket LGA3647-1"}, {54, "Socket SP3"},
    {55, "Socket SP3r2"}, {56, "Socket LGA2066"}, {57, "Socket BGA1392"}, {58, "Socket BGA1510"},
    {59, "Socket BGA1528"}, {60, "Socket LGA4189"}, {61, "Socket LGA1200"}, {62, "Socket LGA4677"},
    {63, "Socket LGA1700"}, {64, "Socket BGA1744"}, {65, "Socket BGA1781"}, {66, "Socket BGA1211"},
    {67, "Socket BGA2422"}, {68, "Socket LGA1211"}, {69, "Socket LGA2422"}, {70, "Socket LGA5773"},
    {71, "Socket BGA5773"}, {72, "Socket AM5"}, {73, "Socket SP5"}, {74, "Socket SP6"}, {75, "Socket BGA883"},
    {76, "Socket BGA1190"}, {77, "Socket BGA4129"}, {78, "Socket LGA4710"}, {79, "Socket LGA7529"}};
const std::map<unsigned, const char*> kNone;

template <std::size_t N>
std::string Named(const std::array<const char*, N>& table, unsigned v, const std::map<unsigned, const char*>& more = kNone) {
  if (const char* row = SMBIOS_Row(table, v)) return row;
  auto it = more.find(v);
  return it != more.end() ? it->second : Unknown(v);
}

// Connectors keep the raw code: rows 34..38 of the table name the PC-98 connectors, whose
// codes A0h..A4h are stored as 160..164, while a stored 34 or 35 is a code of its own.
std::string ConnectorName(unsigned v) {
  if (v >= 160 && v <= 164) return SMBIOS_ConnectorNames[v - 160 + 34];
  if (v == 34) return "SAS/SATA Plug Receptacle";
  if (v == 35) return "USB Type-C Receptacle";
  if (v < 34 || v == 39) return SMBIOS_ConnectorNames[v];
  return Unknown(v);
}

template <std::size_t N>
Json Enumeration(unsigned v, const std::array<const char*, N>& valueNames, const std::string& text) {
  Json j = {{"Value", v}};
  if (v < N) j["Name"] = valueNames[v];
  j["Text"] = text;
  return j;
}

template <std::size_t N, typename Set>
Json SetNames(Set set, const std::array<const char*, N>& names) {
  Json a = Json::array();
  for (unsigned n = 0; n < N; ++n)
    if (InSet(set, n)) a.push_back(names[n]);
  return a;
}

template <std::size_t N, typename Set>
std::string SetText(Set set, const std::array<const char*, N>& names) {
  std::string s;
  for (unsigned n = 0; n < N; ++n)
    if (InSet(set, n)) s += (s.empty() ? "" : ", ") + std::string(names[n]);
  return s.empty() ? "none" : s;
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

std::string KB(std::uint32_t kb) { return std::to_string(kb) + " KB"; }

// The memory device's size word: MB, KB when bit 15 is set, FFFFh unknown, 0 no module.
std::string MemoryDeviceSize(std::uint16_t w) {
  if (w == 0) return "No module installed";
  if (w == 0xFFFF) return "Unknown";
  if (w & 0x8000) return std::to_string(w & 0x7FFF) + " KB";
  return std::to_string(w) + " MB";
}

std::string TypeDetailsText(std::uint16_t bits) {
  std::string s;
  for (unsigned n = 0; n < SMBIOS_TypeDetailNames.size(); ++n)
    if (bits & (1u << n)) s += (s.empty() ? "" : ", ") + std::string(SMBIOS_TypeDetailNames[n]);
  return s.empty() ? "none" : s;
}

Json TypeDetailsJson(std::uint16_t bits) {
  Json a = Json::array();
  for (unsigned n = 0; n < SMBIOS_TypeDetailNames.size(); ++n)
    if (bits & (1u << n)) a.push_back(SMBIOS_TypeDetailNames[n]);
  return a;
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
  out.push_back({"BIOS",
                 {{"Vendor", Shown(s.BIOSVendor())},
                  {"Version", Shown(s.BIOSVersion())},
                  {"Date", Shown(s.BIOSDate())},
                  {"ROM size", s.BIOSSize() ? KB(s.BIOSSize()) : ""}}});
  out.push_back({"System",
                 {{"Manufacturer", Shown(s.SystemManufacturer())},
                  {"Model", Shown(s.SystemModel())},
                  {"Version", Shown(s.SystemVersion())},
                  {"Serial number", Shown(s.SystemSerial())},
                  {"UUID", s.SystemUUID()}}});
  out.push_back({"Main board",
                 {{"Manufacturer", Shown(s.MainBoardManufacturer())},
                  {"Model", Shown(s.MainBoardModel())},
                  {"Version", Shown(s.MainBoardVersion())},
                  {"Serial number", Shown(s.MainBoardSerial())},
                  {"Asset tag", Shown(s.MainBoardAssetTag())},
                  {"Location in chassis", Shown(s.MainBoardLocationInChassis())}}});
  out.push_back({"Chassis",
                 {{"Type", !loaded && !HasStructure(s, 3)
                               ? ""
                               : Named(SMBIOS_ChassisNames, s.ChassisModel(), kMoreChassis)},
                  {"Manufacturer", Shown(s.ChassisManufacturer())},
                  {"Version", Shown(s.ChassisVersion())},
                  {"Serial number", Shown(s.ChassisSerial())},
                  {"Asset tag", Shown(s.ChassisAssetTag())}}});
  return out;
}

Sections SmbiosDeviceSections(const TKyvex_SMBIOS& s) {
  Sections out;
  // Loaded data carry no structure list; a memory controller shows in its values.
  const bool memoryController =
      s.LiveData() ? HasStructure(s, 5)
                   : s.MemCtrlSlotCount() || s.MemCtrlMaxSize() || s.MemCtrlSupportedSpeeds() ||
                         s.MemCtrlSupportedTypes() || s.MemCtrlSupportedVoltages();
  if (memoryController)
    out.push_back({"Memory controller",
                   {{"Supported interleave", Named(SMBIOS_InterleaveNames, s.MemCtrlSupportedInterleave())},
                    {"Current interleave", Named(SMBIOS_InterleaveNames, s.MemCtrlCurrentInterleave())},
                    {"Maximum module size", std::to_string(s.MemCtrlMaxSize()) + " MB"},
                    {"Supported speeds", SetText(s.MemCtrlSupportedSpeeds(), SMBIOS_MemorySpeedNames)},
                    {"Supported types", SetText(s.MemCtrlSupportedTypes(), SMBIOS_MemoryTypeNames)},
                    {"Supported voltages", SetText(s.MemCtrlSupportedVoltages(), SMBIOS_VoltageNames)},
                    {"Slots", std::to_string(s.MemCtrlSlotCount())}}});
  for (std::uint32_t i = 0; i < s.MemoryDeviceCount(); ++i) {
    const auto m = s.GetMemoryDevice(i);
    out.push_back({Numbered("Memory device", i),
                   {{"Locator", Shown(m.DeviceLocator)},
                    {"Bank", Shown(m.BankLocator)},
                    {"Size", MemoryDeviceSize(m.Size)},
                    {"Type", Named(SMBIOS_DeviceTypeNames, m.Device, kMoreDeviceTypes)},
                    {"Type details", TypeDetailsText(m.TypeDetails)},
                    {"Form factor", Named(SMBIOS_FormFactorNames, m.FormFactor, kMoreFormFactors)},
                    {"Width", std::to_string(m.DataWidth) + " bits (" + std::to_string(m.TotalWidth) + " total)"},
                    {"Speed", m.Speed ? std::to_string(m.Speed) + " ns" : "Unknown"},
                    {"Manufacturer", Shown(m.Manufacturer)},
                    {"Serial number", Shown(m.SerialNumber)},
                    {"Asset tag", Shown(m.AssetTag)},
                    {"Part number", Shown(m.PartNumber)}}});
  }
  for (std::uint32_t i = 0; i < s.MemoryModuleCount(); ++i) {
    const auto m = s.GetMemoryModule(i);
    out.push_back({Numbered("Memory module", i),
                   {{"Socket", Shown(m.Socket)},
                    {"Size", m.Size ? std::to_string(m.Size) + " MB" : "Not installed"},
                    {"Types", SetText(m.Types, SMBIOS_MemoryTypeNames)},
                    {"Speed", m.Speed ? std::to_string(m.Speed) + " ns" : "Unknown"}}});
  }
  for (std::uint32_t i = 0; i < s.ProcessorCount(); ++i) {
    const auto p = s.GetProcessor(i);
    out.push_back({Numbered("Processor", i),
                   {{"Socket", Shown(p.Socket)},
                    {"Manufacturer", Shown(p.Manufacturer)},
                    {"Version", Shown(p.Version)},
                    {"Upgrade", Named(SMBIOS_UpgradeNames, p.Upgrade, kMoreUpgrades)},
                    {"Voltage", p.Voltage > 0 ? Volts(p.Voltage) : "Unknown"},
                    {"Current speed", p.Frequency ? std::to_string(p.Frequency) + " MHz" : "Unknown"},
                    {"External clock", p.ExternalClock ? std::to_string(p.ExternalClock) + " MHz" : "Unknown"},
                    {"Serial number", Shown(p.SerialNumber)},
                    {"Asset tag", Shown(p.AssetTag)},
                    {"Part number", Shown(p.PartNumber)}}});
  }
  for (std::uint32_t i = 0; i < s.CacheCount(); ++i) {
    const auto c = s.GetCache(i);
    out.push_back({Numbered("Cache", i),
                   {{"Designation", Shown(c.Designation)},
                    {"Type", Named(SMBIOS_CacheTypeNames, c.Typ)},
                    {"Installed size", KB(c.InstalledSize)},
                    {"Maximum size", KB(c.MaxSize)},
                    {"Associativity", Named(SMBIOS_AssociativityNames, c.Associativity)},
                    {"SRAM type", Named(SMBIOS_SRAMTypeNames, c.SRAMType)},
                    {"Speed", c.Speed ? std::to_string(c.Speed) + " ns" : "Unknown"}}});
  }
  for (std::uint32_t i = 0; i < s.SystemSlotCount(); ++i) {
    const auto t = s.GetSystemSlot(i);
    out.push_back({Numbered("System slot", i),
                   {{"Designation", Shown(t.Designation)},
                    {"Type", Named(SMBIOS_SlotTypeNames, t.Typ)},
                    {"Data bus", Named(SMBIOS_DataBusNames, t.DataBus, kMoreDataBus)},
                    {"Usage", Named(SMBIOS_SlotUsageNames, t.Usage, kMoreSlotUsage)},
                    {"Length", Named(SMBIOS_SlotLengthNames, t.Length, kMoreSlotLength)},
                    {"ID", std::to_string(t.ID)}}});
  }
  for (std::uint32_t i = 0; i < s.PortCount(); ++i) {
    const auto p = s.GetPort(i);
    out.push_back({Numbered("Port", i),
                   {{"Internal designator", Shown(p.InternalDesignator)},
                    {"Internal connector", ConnectorName(p.InternalConnector)},
                    {"External designator", Shown(p.ExternalDesignator)},
                    {"External connector", ConnectorName(p.ExternalConnector)},
                    {"Type", Named(SMBIOS_PortTypeNames, p.Typ, kMorePortTypes)}}});
  }
  for (std::uint32_t i = 0; i < s.OnBoardDeviceCount(); ++i) {
    const auto d = s.GetOnBoardDevice(i);
    out.push_back({Numbered("On-board device", i),
                   {{"Name", Shown(d.DeviceName)},
                    {"Type", Named(SMBIOS_OnBoardDeviceTypeNames, d.Typ)},
                    {"Status", d.Status ? "Enabled" : "Disabled"}}});
  }
  for (std::uint32_t i = 0; i < s.TemperatureProbeCount(); ++i) {
    const auto t = s.GetTemperatureProbe(i);
    // The probe's words are tenths of a degree Celsius, 8000h where unknown.
    auto tenths = [](std::uint16_t w) {
      if (w == 0x8000) return std::string("Unknown");
      char buf[32];
      std::snprintf(buf, sizeof buf, "%.1f deg C", static_cast<std::int16_t>(w) / 10.0);
      return std::string(buf);
    };
    out.push_back({Numbered("Temperature probe", i),
                   {{"Description", Shown(t.Description)},
                    {"Location", Named(SMBIOS_ProbeLocationNames, t.Location)},
                    {"Status", Named(SMBIOS_ProbeStatusNames, t.Status)},
                    {"Maximum", tenths(t.Max)},
                    {"Minimum", tenths(t.Min)},
                    {"Nominal value", t.Value ? tenths(t.Value) : "Unknown"}}});
  }
  if (out.empty()) out.push_back({"Devices", {{"Records", "none"}}});
  return out;
}

Json SmbiosJson(const TKyvex_SMBIOS& s) {
  Json j;
  j["Version"] = s.Version();
  j["Revision"] = s.Revision();
  j["MajorVersion"] = s.MajorVersion();
  j["MinorVersion"] = s.MinorVersion();
  j["EntryPoint"] = s.EntryPointAnchor();
  j["TableSource"] = SourceName(s.TableSource());
  j["SMBIOSAddress"] = s.SMBIOSAddress();
  j["StructStart"] = s.StructStart();
  j["StructLength"] = s.StructLength();
  j["StructCount"] = s.StructCount();
  j["BIOSVendor"] = Readable(s.BIOSVendor());
  j["BIOSVersion"] = Readable(s.BIOSVersion());
  j["BIOSDate"] = Readable(s.BIOSDate());
  j["BIOSSize"] = s.BIOSSize();
  j["SystemModel"] = Readable(s.SystemModel());
  j["SystemManufacturer"] = Readable(s.SystemManufacturer());
  j["SystemVersion"] = Readable(s.SystemVersion());
  j["SystemSerial"] = Readable(s.SystemSerial());
  j["SystemUUID"] = s.SystemUUID();
  j["MainBoardModel"] = Readable(s.MainBoardModel());
  j["MainBoardManufacturer"] = Readable(s.MainBoardManufacturer());
  j["MainBoardVersion"] = Readable(s.MainBoardVersion());
  j["MainBoardSerial"] = Readable(s.MainBoardSerial());
  j["MainBoardAssetTag"] = Readable(s.MainBoardAssetTag());
  j["MainBoardLocationInChassis"] = Readable(s.MainBoardLocationInChassis());
  j["ChassisModel"] = Enumeration(s.ChassisModel(), SMBIOS_ChassisValueNames,
                                  Named(SMBIOS_ChassisNames, s.ChassisModel(), kMoreChassis));
  j["ChassisManufacturer"] = Readable(s.ChassisManufacturer());
  j["ChassisVersion"] = Readable(s.ChassisVersion());
  j["ChassisSerial"] = Readable(s.ChassisSerial());
  j["ChassisAssetTag"] = Readable(s.ChassisAssetTag());
  j["MemCtrlCurrentInterleave"] = Enumeration(s.MemCtrlCurrentInterleave(), SMBIOS_InterleaveValueNames,
                                              Named(SMBIOS_InterleaveNames, s.MemCtrlCurrentInterleave()));
  j["MemCtrlSupportedInterleave"] = Enumeration(s.MemCtrlSupportedInterleave(), SMBIOS_InterleaveValueNames,
                                                Named(SMBIOS_InterleaveNames, s.MemCtrlSupportedInterleave()));
  j["MemCtrlSupportedSpeeds"] = SetNames(s.MemCtrlSupportedSpeeds(), SMBIOS_MemorySpeedValueNames);
  j["MemCtrlSupportedTypes"] = SetNames(s.MemCtrlSupportedTypes(), SMBIOS_MemoryTypeValueNames);
  j["MemCtrlSupportedVoltages"] = SetNames(s.MemCtrlSupportedVoltages(), SMBIOS_VoltageValueNames);
  j["MemCtrlMaxSize"] = s.MemCtrlMaxSize();
  j["MemCtrlSlotCount"] = s.MemCtrlSlotCount();

  j["ProcessorCount"] = s.ProcessorCount();
  j["MemoryModuleCount"] = s.MemoryModuleCount();
  j["MemoryDeviceCount"] = s.MemoryDeviceCount();
  j["PortCount"] = s.PortCount();
  j["SystemSlotCount"] = s.SystemSlotCount();
  j["CacheCount"] = s.CacheCount();
  j["OnBoardDeviceCount"] = s.OnBoardDeviceCount();
  j["TemperatureProbeCount"] = s.TemperatureProbeCount();

  Json list = Json::array();
  for (std::uint32_t i = 0; i < s.ProcessorCount(); ++i) {
    const auto p = s.GetProcessor(i);
    list.push_back({{"Manufacturer", Readable(p.Manufacturer)},
                    {"Version", Readable(p.Version)},
                    {"Socket", Readable(p.Socket)},
                    {"SerialNumber", Readable(p.SerialNumber)},
                    {"AssetTag", Readable(p.AssetTag)},
                    {"PartNumber", Readable(p.PartNumber)},
                    {"Frequency", p.Frequency},
                    {"ExternalClock", p.ExternalClock},
                    {"Upgrade", p.Upgrade},
                    {"UpgradeText", Named(SMBIOS_UpgradeNames, p.Upgrade, kMoreUpgrades)},
                    {"Voltage", p.Voltage}});
  }
  j["ProcessorList"] = list;
  list = Json::array();
  for (std::uint32_t i = 0; i < s.MemoryModuleCount(); ++i) {
    const auto m = s.GetMemoryModule(i);
    list.push_back({{"Socket", Readable(m.Socket)},
                    {"Speed", m.Speed},
                    {"Size", m.Size},
                    {"Types", SetNames(m.Types, SMBIOS_MemoryTypeValueNames)}});
  }
  j["MemoryModuleList"] = list;
  list = Json::array();
  for (std::uint32_t i = 0; i < s.MemoryDeviceCount(); ++i) {
    const auto m = s.GetMemoryDevice(i);
    list.push_back({{"DeviceLocator", Readable(m.DeviceLocator)},
                    {"BankLocator", Readable(m.BankLocator)},
                    {"Manufacturer", Readable(m.Manufacturer)},
                    {"SerialNumber", Readable(m.SerialNumber)},
                    {"AssetTag", Readable(m.AssetTag)},
                    {"PartNumber", Readable(m.PartNumber)},
                    {"Speed", m.Speed},
                    {"Size", m.Size},
                    {"SizeText", MemoryDeviceSize(m.Size)},
                    {"TotalWidth", m.TotalWidth},
                    {"DataWidth", m.DataWidth},
                    {"FormFactor", m.FormFactor},
                    {"FormFactorText", Named(SMBIOS_FormFactorNames, m.FormFactor, kMoreFormFactors)},
                    {"Device", m.Device},
                    {"DeviceText", Named(SMBIOS_DeviceTypeNames, m.Device, kMoreDeviceTypes)},
                    {"TypeDetails", m.TypeDetails},
                    {"TypeDetailsText", TypeDetailsJson(m.TypeDetails)}});
  }
  j["MemoryDeviceList"] = list;
  list = Json::array();
  for (std::uint32_t i = 0; i < s.PortCount(); ++i) {
    const auto p = s.GetPort(i);
    list.push_back({{"InternalDesignator", Readable(p.InternalDesignator)},
                    {"ExternalDesignator", Readable(p.ExternalDesignator)},
                    {"InternalConnector", p.InternalConnector},
                    {"InternalConnectorText", ConnectorName(p.InternalConnector)},
                    {"ExternalConnector", p.ExternalConnector},
                    {"ExternalConnectorText", ConnectorName(p.ExternalConnector)},
                    {"Typ", p.Typ},
                    {"TypText", Named(SMBIOS_PortTypeNames, p.Typ, kMorePortTypes)}});
  }
  j["PortList"] = list;
  list = Json::array();
  for (std::uint32_t i = 0; i < s.SystemSlotCount(); ++i) {
    const auto t = s.GetSystemSlot(i);
    list.push_back({{"Designation", Readable(t.Designation)},
                    {"Typ", t.Typ},
                    {"TypText", Named(SMBIOS_SlotTypeNames, t.Typ)},
                    {"DataBus", t.DataBus},
                    {"DataBusText", Named(SMBIOS_DataBusNames, t.DataBus, kMoreDataBus)},
                    {"ID", t.ID},
                    {"Usage", t.Usage},
                    {"UsageText", Named(SMBIOS_SlotUsageNames, t.Usage, kMoreSlotUsage)},
                    {"Length", t.Length},
                    {"LengthText", Named(SMBIOS_SlotLengthNames, t.Length, kMoreSlotLength)}});
  }
  j["SystemSlotList"] = list;
  list = Json::array();
  for (std::uint32_t i = 0; i < s.CacheCount(); ++i) {
    const auto c = s.GetCache(i);
    list.push_back({{"Designation", Readable(c.Designation)},
                    {"Typ", c.Typ},
                    {"TypText", Named(SMBIOS_CacheTypeNames, c.Typ)},
                    {"SRAMType", c.SRAMType},
                    {"SRAMTypeText", Named(SMBIOS_SRAMTypeNames, c.SRAMType)},
                    {"MaxSize", c.MaxSize},
                    {"InstalledSize", c.InstalledSize},
                    {"Speed", c.Speed},
                    {"Associativity", c.Associativity},
                    {"AssociativityText", Named(SMBIOS_AssociativityNames, c.Associativity)}});
  }
  j["CacheList"] = list;
  list = Json::array();
  for (std::uint32_t i = 0; i < s.OnBoardDeviceCount(); ++i) {
    const auto d = s.GetOnBoardDevice(i);
    list.push_back({{"DeviceName", Readable(d.DeviceName)},
                    {"Typ", d.Typ},
                    {"TypText", Named(SMBIOS_OnBoardDeviceTypeNames, d.Typ)},
                    {"Status", d.Status}});
  }
  j["OnBoardDeviceList"] = list;
  list = Json::array();
  for (std::uint32_t i = 0; i < s.TemperatureProbeCount(); ++i) {
    const auto t = s.GetTemperatureProbe(i);
    list.push_back({{"Description", Readable(t.Description)},
                    {"Location", t.Location},
                    {"LocationText", Named(SMBIOS_ProbeLocationNames, t.Location)},
                    {"Status", t.Status},
                    {"StatusText", Named(SMBIOS_ProbeStatusNames, t.Status)},
                    {"Max", t.Max},
                    {"Min", t.Min},
                    {"Resolution", t.Resolution},
                    {"Tolerance", t.Tolerance},
                    {"Accuracy", t.Accuracy},
                    {"Value", t.Value}});
  }
  j["TemperatureProbeList"] = list;
  list = Json::array();
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
