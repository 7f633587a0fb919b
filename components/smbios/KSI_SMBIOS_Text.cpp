#include "smbios/KSI_SMBIOS_Text.h"

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

}  // namespace kyvex
