#include "smbios/KSI_SMBIOS_Text.h"

#include <cstdio>
#include <initializer_list>

namespace kyvex {

const std::array<TSMBIOS_StructName, 42> SMBIOS_StructNames = {{
    {0, "BIOS Information"},
    {1, "System Information"},
    {2, "Base Board Information"},
    {3, "System Enclosure or Chassis"},
    {4, "Processor Information"},
    {5, "Memory Controller Information"},
    {6, "Memory Module Information"},
    {7, "Cache Information"},
    {8, "Port Connector Information"},
    {9, "System Slots"},
    {10, "On Board Devices Information"},
    {11, "OEM Strings"},
    {12, "System Configuration Options"},
    {13, "BIOS Language Information"},
    {14, "Group Associations"},
    {15, "System Event Log"},
    {16, "Physical Memory Array"},
    {17, "Memory Device"},
    {18, "32-bit Memory Error Information"},
    {19, "Memory Array Mapped Address"},
    {20, "Memory Device Mapped Address"},
    {21, "Built-in Pointing Device"},
    {22, "Portable Battery"},
    {23, "System Reset"},
    {24, "Hardware Security"},
    {25, "System Power Controls"},
    {26, "Voltage Probe"},
    {27, " Cooling Device"},  // the leading space is the name's own
    {28, "Temperature Probe"},
    {29, "Electrical Current Probe"},
    {30, "Out-of-Band Remote Access"},
    {31, "Boot Integrity Services (BIS) Entry Point"},
    {32, "System Boot Information"},
    {33, "64-bit Memory Error Information"},
    {34, "Management Device"},
    {35, "Management Device Component"},
    {36, "Management Device Threshold Data"},
    {37, "Memory Channel"},
    {38, "IPMI Device Information"},
    {39, "System Power Supply"},
    {126, "Inactive"},
    {127, "End-of-Table"},
}};

std::string SMBIOS_StructName(std::uint8_t StructType) {
  for (const auto& entry : SMBIOS_StructNames)
    if (entry.StructType == StructType) return entry.Name;
  return "Unknown";
}

const std::array<const char*, 25> SMBIOS_ChassisNames = {
    "Other",       "Unknown",         "Desktop",     "Low Profile Desktop",   "Pizza Box",
    "Mini Tower",  "Tower",           "Portable",    "LapTop",                "Notebook",
    "Hand Held",   "Docking Station", "All in One",  "SubNotebook",           "Space-Saving",
    "Lunch Box",   "Main Server Chassis", "Expansion Chassis", "SubChassis", "Bus Expansion Chassis",
    "Peripheral Chassis", "RAID Chassis", "Rack-Mount Chassis", "Sealed-case PC", "Multi-system Chassis"};

const std::array<const char*, 7> SMBIOS_InterleaveNames = {"Other", "Unknown", "1-Way", "2-Way",
                                                           "4-Way", "8-Way",   "16-Way"};

const std::array<const char*, 3> SMBIOS_VoltageNames = {"5V", "3.3V", "2.9V"};

const std::array<const char*, 5> SMBIOS_MemorySpeedNames = {"Other", "Unknown", "70ns", "60ns", "50ns"};

const std::array<const char*, 17> SMBIOS_UpgradeNames = {
    "Other",      "Unknown", "Daughter Board", "ZIF Socket",     "Replaceable Piggy Back", "None",
    "LIF Socket", "Slot 1",  "Slot 2",         "370-pin Socket", "Slot A",                 "Slot M",
    "Socket 423", "Socket A (Socket 462)",     "Socket 478",     "Socket 754",             "Socket 940"};

const std::array<const char*, 14> SMBIOS_FormFactorNames = {"Other", "Unknown", "SIMM", "SIP",     "Chip",
                                                            "DIP",   "ZIP",     "PropCard", "DIMM", "TSOP",
                                                            "RowChip", "RIMM",  "SODIMM", "SRIMM"};

const std::array<const char*, 18> SMBIOS_DeviceTypeNames = {
    "Other", "Unknown", "DRAM",  "EDRAM", "VRAM",  "SRAM",  "RAM",   "ROM",   "FLASH",
    "EEPROM", "FEPROM", "EPROM", "CDRAM", "3DRAM", "SDRAM", "SGRAM", "RDRAM", "DDR"};

const std::array<const char*, 11> SMBIOS_MemoryTypeNames = {"Other", "Unknown", "Standard", "Fast Page Mode",
                                                            "EDO",   "Parity",  "ECC",      "SIMM",
                                                            "DIMM",  "Burst EDO", "SDRAM"};

const std::array<const char*, 13> SMBIOS_TypeDetailNames = {
    "Reserved", "Other",       "Unknown", "FastPaged", "StaticColumn", "PseudoStatic", "RAMBUS",
    "Synchronous", "CMOS",     "EDO",     "WindowDRAM", "CacheDRAM",   "NonVolatile"};

const std::array<const char*, 40> SMBIOS_ConnectorNames = {
    "None",
    "Centronics",
    "Mini Centronics",
    "Proprietary",
    "DB-25 pin male",
    "DB-25 pin female",
    "DB-15 pin male",
    "DB-15 pin female",
    "DB-9 pin male",
    "DB-9 pin female",
    "RJ-11",
    "RJ-45",
    "50 Pin MiniSCSI",
    "Mini-DIN",
    "Micro-DIN",
    "PS/2",
    "Infrared",
    "HP-HIL",
    "Access Bus (USB)",
    "SSA SCSI",
    "Circular DIN-8 male",
    "Circular DIN-8 female",
    "On Board IDE",
    "On Board Floppy",
    "9 Pin Dual Inline (pin 10 cut)",
    "25 Pin Dual Inline (pin 26 cut)",
    "50 Pin Dual Inline",
    "68 Pin Dual Inline",
    "On Board Sound Input from CD-ROM",
    "Mini-Centronics Type-14",
    "Mini-Centronics Type-26",
    "Mini-jack (headphones)",
    "BNC",
    "1394",
    "PC-98",
    "PC-98Hireso",
    "PC-H98",
    "PC-98Note",
    "PC-98Full",
    "Other"};

const std::array<const char*, 35> SMBIOS_PortTypeNames = {
    "None",
    "Parallel Port XT/AT Compatible",
    "Parallel Port PS/2",
    "Parallel Port ECP",
    "Parallel Port EPP",
    "Parallel Port ECP/EPP",
    "Serial Port XT/AT Compatible",
    "Serial Port 16450 Compatible",
    "Serial Port 16550 Compatible",
    "Serial Port 16550A Compatible",
    "SCSI Port",
    "MIDI Port",
    "Joy Stick Port",
    "Keyboard Port",
    "Mouse Port",
    "SSA SCSI",
    "USB",
    "FireWire (IEEE P1394)",
    "PCMCIA Type I",
    "PCMCIA Type II",
    "PCMCIA Type III",
    "Cardbus",
    "Access Bus Port",
    "SCSI II",
    "SCSI Wide",
    "PC-98",
    "PC-98-Hireso",
    "PC-H98",
    "Video Port",
    "Audio Port",
    "Modem Port",
    "Network Port",
    "8251 Compatible",
    "8251 FIFO Compatible",
    "Other"};

const std::array<const char*, 24> SMBIOS_SlotTypeNames = {
    "Other",       "Unknown",          "ISA",     "MCA",       "EISA",
    "PCI",         "PC Card (PCMCIA)", "VL-VESA", "Proprietary", "Processor Card Slot",
    "Proprietary Memory Card", "I/O Riser Card Slot", "NuBus", "PCI - 66MHz Capable", "AGP",
    "AGP 2X",      "AGP 4X",           "PCI-X",   "AGP 8X",    "PC-98/C20",
    "PC-98/C24",   "PC-98/E",          "PC-98/Local Bus", "PC-98/Card"};

const std::array<const char*, 7> SMBIOS_DataBusNames = {"Other",  "Unknown", "8 bit",  "16 bit",
                                                        "32 bit", "64 bit",  "128 bit"};

const std::array<const char*, 4> SMBIOS_SlotUsageNames = {"Other", "Unknown", "Available", "InUse"};

const std::array<const char*, 4> SMBIOS_SlotLengthNames = {"Other", "Unknown", "Short", "Long"};

const std::array<const char*, 7> SMBIOS_SRAMTypeNames = {"Other",       "Unknown",     "Non-Burst",   "Burst",
                                                         "Pipeline Burst", "Synchronous", "Asynchronous"};

const std::array<const char*, 5> SMBIOS_CacheTypeNames = {"Other", "Unknown", "Instruction", "Data", "Unified"};

const std::array<const char*, 8> SMBIOS_AssociativityNames = {
    "Other",   "Unknown", "Direct Mapped", "2-way Set-Associative", "4-way Set-Associative",
    "Fully Associative", "8-way Set-Associative", "16-way Set-Associative"};

const std::array<const char*, 7> SMBIOS_OnBoardDeviceTypeNames = {"Other",    "Unknown",   "Video", "SCSICrl",
                                                                  "Ethernet", "TokenRing", "Sound"};

const std::array<const char*, 14> SMBIOS_ProbeLocationNames = {
    "Other",       "Unknown",          "Processor",          "Disk",              "Peripheral Bay",
    "System Management Module", "Motherboard", "Processor Module", "Power Unit",  "Add-In Card",
    "Front Panel Board", "Back Panel Board", "Power System Board", "Drive Back Plane"};

const std::array<const char*, 6> SMBIOS_ProbeStatusNames = {"Other",    "Unknown",  "OK",
                                                            "Non-Critical", "Critical", "Non-Recoverable"};

const std::array<const char*, 10> SMBIOS_ProcessorCharacteristicNames = {
    "Reserved",           "Unknown",    "64-bit Capable",          "Multi-Core",
    "Hardware Thread",    "Execute Protection", "Enhanced Virtualization", "Power/Performance Control",
    "128-bit Capable",    "Arm64 SoC ID"};

namespace {

// Codes that newer firmware uses beyond the text tables above, by the value the component
// stores (for most fields the code minus 1). Kept as constant data: a map built at start-up
// cost every run of the program more than decoding a whole table.
struct TMoreName {
  std::uint64_t code;
  const char* name;
};
using TMoreNames = std::initializer_list<TMoreName>;

const char* FindMore(const TMoreNames& more, std::uint64_t code) {
  for (const TMoreName& row : more)
    if (row.code == code) return row.name;
  return nullptr;
}

const TMoreNames kMoreChassis = {
    {25, "Compact PCI"}, {26, "Advanced TCA"}, {27, "Blade"},       {28, "Blade Enclosure"},
    {29, "Tablet"},      {30, "Convertible"},  {31, "Detachable"},  {32, "IoT Gateway"},
    {33, "Embedded PC"}, {34, "Mini PC"},      {35, "Stick PC"}};
const TMoreNames kMoreDeviceTypes = {
    {18, "DDR2"},  {19, "DDR2 FB-DIMM"}, {23, "DDR3"},   {24, "FBD2"},   {25, "DDR4"},   {26, "LPDDR"},
    {27, "LPDDR2"}, {28, "LPDDR3"},      {29, "LPDDR4"}, {30, "Logical non-volatile device"},
    {31, "HBM"},   {32, "HBM2"},         {33, "DDR5"},   {34, "LPDDR5"}, {35, "HBM3"}};
const TMoreNames kMoreFormFactors = {{14, "FB-DIMM"}, {15, "Die"}, {16, "CAMM"}};
const TMoreNames kMoreDataBus = {{7, "1x or x1"},   {8, "2x or x2"},   {9, "4x or x4"},  {10, "8x or x8"},
                                 {11, "12x or x12"}, {12, "16x or x16"}, {13, "32x or x32"}};
const TMoreNames kMoreSlotUsage = {{4, "Unavailable"}};
const TMoreNames kMoreSlotLength = {{4, "2.5\" drive form factor"}, {5, "3.5\" drive form factor"}};
// Port types 20h..23h are stored as 160..163 (the value minus 80h).
const TMoreNames kMorePortTypes = {{160, "SATA"}, {161, "SAS"}, {162, "MFDP"}, {163, "Thunderbolt"}};
// Processor upgrade codes 12h on (stored as the code minus 1).
const TMoreNames kMoreUpgrades = {
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
    {76, "Socket BGA1190"}, {77, "Socket BGA4129"}, {78, "Socket LGA4710"}, {79, "Socket LGA7529"},
    {80, "Socket BGA1964"}, {81, "Socket BGA1792"}, {82, "Socket BGA2049"}, {83, "Socket BGA2551"},
    {84, "Socket LGA1851"}, {85, "Socket BGA2114"}, {86, "Socket BGA2833"},
    // FEh: the socket is named by the structure's own Socket Type string.
    {253, "See socket type"}};
// Slot type codes (not the stored Typ) that the slot type table has no row for.
const TMoreNames kMoreSlotTypeCodes = {
    {0x14, "M.2 Socket 1-DP (Mechanical Key A)"},
    {0x15, "M.2 Socket 1-SD (Mechanical Key E)"},
    {0x16, "M.2 Socket 2 (Mechanical Key B)"},
    {0x17, "M.2 Socket 3 (Mechanical Key M)"},
    {0x18, "MXM Type I"},
    {0x19, "MXM Type II"},
    {0x1A, "MXM Type III (standard connector)"},
    {0x1B, "MXM Type III (HE connector)"},
    {0x1C, "MXM Type IV"},
    {0x1D, "MXM 3.0 Type A"},
    {0x1E, "MXM 3.0 Type B"},
    {0x1F, "PCI Express Gen 2 SFF-8639 (U.2)"},
    {0x20, "PCI Express Gen 3 SFF-8639 (U.2)"},
    {0x21, "PCI Express Mini 52-pin with bottom-side keep-outs"},
    {0x22, "PCI Express Mini 52-pin without bottom-side keep-outs"},
    {0x23, "PCI Express Mini 76-pin"},
    {0x24, "PCI Express Gen 4 SFF-8639 (U.2)"},
    {0x25, "PCI Express Gen 5 SFF-8639 (U.2)"},
    {0x26, "OCP NIC 3.0 Small Form Factor (SFF)"},
    {0x27, "OCP NIC 3.0 Large Form Factor (LFF)"},
    {0x28, "OCP NIC Prior to 3.0"},
    {0x30, "CXL Flexbus 1.0"},
    {0xA5, "PCI Express"},
    {0xA6, "PCI Express x1"},
    {0xA7, "PCI Express x2"},
    {0xA8, "PCI Express x4"},
    {0xA9, "PCI Express x8"},
    {0xAA, "PCI Express x16"},
    {0xAB, "PCI Express Gen 2"},
    {0xAC, "PCI Express Gen 2 x1"},
    {0xAD, "PCI Express Gen 2 x2"},
    {0xAE, "PCI Express Gen 2 x4"},
    {0xAF, "PCI Express Gen 2 x8"},
    {0xB0, "PCI Express Gen 2 x16"},
    {0xB1, "PCI Express Gen 3"},
    {0xB2, "PCI Express Gen 3 x1"},
    {0xB3, "PCI Express Gen 3 x2"},
    {0xB4, "PCI Express Gen 3 x4"},
    {0xB5, "PCI Express Gen 3 x8"},
    {0xB6, "PCI Express Gen 3 x16"},
    {0xB8, "PCI Express Gen 4"},
    {0xB9, "PCI Express Gen 4 x1"},
    {0xBA, "PCI Express Gen 4 x2"},
    {0xBB, "PCI Express Gen 4 x4"},
    {0xBC, "PCI Express Gen 4 x8"},
    {0xBD, "PCI Express Gen 4 x16"},
    {0xBE, "PCI Express Gen 5"},
    {0xBF, "PCI Express Gen 5 x1"},
    {0xC0, "PCI Express Gen 5 x2"},
    {0xC1, "PCI Express Gen 5 x4"},
    {0xC2, "PCI Express Gen 5 x8"},
    {0xC3, "PCI Express Gen 5 x16"},
    {0xC4, "PCI Express Gen 6 and Beyond"},
    {0xC5, "EDSFF E1"},
    {0xC6, "EDSFF E3"}};
const TMoreNames kNone = {};

std::string Unknown(std::uint64_t v) { return "Unknown (" + std::to_string(v) + ")"; }

template <std::size_t N>
std::string Named(const std::array<const char*, N>& table, std::uint64_t v, const TMoreNames& more = kNone) {
  if (const char* row = SMBIOS_Row(table, v)) return row;
  const char* name = FindMore(more, v);
  return name ? name : Unknown(v);
}

template <std::size_t N>
std::string SetText(std::uint64_t set, const std::array<const char*, N>& names) {
  std::string s;
  for (std::size_t n = 0; n < N; ++n)
    if ((set >> n) & 1u) s += (s.empty() ? "" : ", ") + std::string(names[n]);
  return s.empty() ? "none" : s;
}

std::string WithUnit(std::uint64_t v, const char* unit) { return std::to_string(v) + " " + unit; }

}  // namespace

std::string SMBIOS_ChassisText(std::uint64_t v) { return Named(SMBIOS_ChassisNames, v, kMoreChassis); }
std::string SMBIOS_InterleaveText(std::uint64_t v) { return Named(SMBIOS_InterleaveNames, v); }
std::string SMBIOS_UpgradeText(std::uint64_t v) { return Named(SMBIOS_UpgradeNames, v, kMoreUpgrades); }
std::string SMBIOS_FormFactorText(std::uint64_t v) { return Named(SMBIOS_FormFactorNames, v, kMoreFormFactors); }
std::string SMBIOS_DeviceTypeText(std::uint64_t v) { return Named(SMBIOS_DeviceTypeNames, v, kMoreDeviceTypes); }
std::string SMBIOS_PortTypeText(std::uint64_t v) { return Named(SMBIOS_PortTypeNames, v, kMorePortTypes); }
std::string SMBIOS_SlotTypeText(std::uint64_t v) { return Named(SMBIOS_SlotTypeNames, v); }
std::string SMBIOS_DataBusText(std::uint64_t v) { return Named(SMBIOS_DataBusNames, v, kMoreDataBus); }
std::string SMBIOS_SlotUsageText(std::uint64_t v) { return Named(SMBIOS_SlotUsageNames, v, kMoreSlotUsage); }
std::string SMBIOS_SlotLengthText(std::uint64_t v) { return Named(SMBIOS_SlotLengthNames, v, kMoreSlotLength); }
std::string SMBIOS_SRAMTypeText(std::uint64_t v) { return Named(SMBIOS_SRAMTypeNames, v); }
std::string SMBIOS_CacheTypeText(std::uint64_t v) { return Named(SMBIOS_CacheTypeNames, v); }
std::string SMBIOS_AssociativityText(std::uint64_t v) { return Named(SMBIOS_AssociativityNames, v); }
std::string SMBIOS_OnBoardDeviceTypeText(std::uint64_t v) { return Named(SMBIOS_OnBoardDeviceTypeNames, v); }
std::string SMBIOS_ProbeLocationText(std::uint64_t v) { return Named(SMBIOS_ProbeLocationNames, v); }
std::string SMBIOS_ProbeStatusText(std::uint64_t v) { return Named(SMBIOS_ProbeStatusNames, v); }

std::string SMBIOS_SlotTypeCodeText(std::uint64_t code) {
  if (code >= 0x01 && code <= 0x13) return SMBIOS_SlotTypeNames[code - 1];
  if (code >= 0xA0 && code <= 0xA4) return SMBIOS_SlotTypeNames[code - 0xA0 + 19];
  const char* name = FindMore(kMoreSlotTypeCodes, code);
  return name ? name : Unknown(code);
}

// Connectors keep the raw code: rows 34..38 of the table name the PC-98 connectors, whose
// codes A0h..A4h are stored as 160..164, while a stored 34 or 35 is a code of its own.
std::string SMBIOS_ConnectorText(std::uint64_t v) {
  if (v >= 160 && v <= 164) return SMBIOS_ConnectorNames[v - 160 + 34];
  if (v == 34) return "SAS/SATA Plug Receptacle";
  if (v == 35) return "USB Type-C Receptacle";
  if (v < 34 || v == 39) return SMBIOS_ConnectorNames[v];
  return Unknown(v);
}

std::string SMBIOS_MemorySpeedsText(std::uint64_t set) { return SetText(set, SMBIOS_MemorySpeedNames); }
std::string SMBIOS_MemoryTypesText(std::uint64_t set) { return SetText(set, SMBIOS_MemoryTypeNames); }
std::string SMBIOS_VoltagesText(std::uint64_t set) { return SetText(set, SMBIOS_VoltageNames); }

std::string SMBIOS_KilobytesText(std::uint64_t kb) { return WithUnit(kb, "KB"); }
std::string SMBIOS_MegabytesText(std::uint64_t mb) { return WithUnit(mb, "MB"); }
std::string SMBIOS_ModuleSizeText(std::uint64_t mb) { return mb ? WithUnit(mb, "MB") : "Not installed"; }

std::string SMBIOS_MemoryDeviceSizeText(std::uint64_t w) {
  if (w == 0) return "No module installed";
  if (w == 0xFFFF) return "Unknown";
  if (w & 0x8000) return WithUnit(w & 0x7FFF, "KB");
  return WithUnit(w, "MB");
}

std::string SMBIOS_MegahertzText(std::uint64_t mhz) { return mhz ? WithUnit(mhz, "MHz") : "Unknown"; }
std::string SMBIOS_NanosecondsText(std::uint64_t ns) { return ns ? WithUnit(ns, "ns") : "Unknown"; }
std::string SMBIOS_MegatransfersText(std::uint64_t mts) { return mts ? WithUnit(mts, "MT/s") : "Unknown"; }

std::string SMBIOS_ProbeTemperatureText(std::uint64_t w) {
  if (w == 0x8000) return "Unknown";
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f deg C", static_cast<std::int16_t>(static_cast<std::uint16_t>(w)) / 10.0);
  return buf;
}

std::string SMBIOS_ProbeNominalText(std::uint64_t w) { return w ? SMBIOS_ProbeTemperatureText(w) : "Unknown"; }

}  // namespace kyvex
