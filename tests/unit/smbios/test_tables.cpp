// Whole tables decoded end to end: dumps of real machines (read alongside dmidecode's
// reading of the same files) and the complete tables of a desktop, a laptop and a virtual
// machine written from the SMBIOS structure layouts.
#include <gtest/gtest.h>

#include <memory>
#include <sstream>

#include "report/SmbiosReport.h"
#include "smbios/KSI_SMBIOS.h"
#include "unit/smbios/SmbiosTables.h"

using namespace kyvex;
using namespace smbios_test;

namespace {

TKyvex_SMBIOS& FromDump(TKyvex_SMBIOS& s, const std::string& name) {
  const Bytes image = ReadFile(DataFile(name));
  std::string error;
  EXPECT_TRUE(s.LoadDumpImage(image, error)) << name << ": " << error;
  s.CollectData();
  return s;
}

TEST(RecordedTables, DecodeAsDmidecodeReadsThem) {
  struct Case {
    const char* file;
    const char* version;
    std::size_t structures;
    const char* biosVendor;
    const char* systemModel;
    TSMBIOS_Chassis chassis;
    const char* processor;
    std::uint16_t mhz;
    const char* firstLocator;
    std::uint16_t firstSize;
  };
  const Case cases[] = {
      {"qemu-kvm-vm.bin", "2.4", 10, "QEMU", "", smchOther, "Processor_0", 0, "DIMM 0", 384},
      {"dell-precision-3620.bin", "3.0", 99, "Dell Inc.", "Precision Tower 3620", smchDesktop,
       "Intel(R) Xeon(R) CPU E3-1225 v5 @ 3.30GHz", 3300, "DIMM1", 8192},
      {"dell-poweredge-1300.bin", "2.2", 83, "Dell Computer Corporation", "PowerEdge 1300/600          ",
       smchMiniTower, "Processor_0", 600, "DIMM_A", 256},
      {"lenovo-thinkpad-t430.bin", "2.7", 69, "LENOVO", "2347A49", smchNotebook,
       "Intel(R) Core(TM) i5-3320M CPU @ 2.60GHz", 2600, "ChannelA-DIMM0", 4096},
      // Two more BIOS structures (option ROMs) right after the first one.
      {"dell-poweredge-8450.bin", "2.1", 164, "Intel Corporation", "Dell PowerEdge 8450", smchMainServer,
       "Intel Pentium (R) III Xeon(TM) Processor", 700, "", 0},
  };
  for (const auto& c : cases) {
    TKyvex_SMBIOS s;
    FromDump(s, c.file);
    EXPECT_EQ(s.Version(), c.version) << c.file;
    EXPECT_EQ(s.StructTables().size(), c.structures) << c.file;
    // Announced by the 2.x entry points, counted by the walk for the 64-bit one.
    EXPECT_EQ(s.StructCount(), c.structures) << c.file;
    EXPECT_EQ(s.BIOSVendor(), c.biosVendor) << c.file;
    EXPECT_EQ(s.SystemModel(), c.systemModel) << c.file;
    EXPECT_EQ(s.ChassisModel(), c.chassis) << c.file;
    ASSERT_GT(s.ProcessorCount(), 0u) << c.file;
    EXPECT_EQ(s.GetProcessor(0).Version, c.processor) << c.file;
    EXPECT_EQ(s.GetProcessor(0).Frequency, c.mhz) << c.file;
    if (c.firstSize) {
      EXPECT_EQ(s.GetMemoryDevice(0).DeviceLocator, c.firstLocator) << c.file;
      EXPECT_EQ(s.GetMemoryDevice(0).Size, c.firstSize) << c.file;
    }
  }
}

TEST(RecordedTables, SixtyFourBitEntryPointTable) {
  TKyvex_SMBIOS s;
  FromDump(s, "dell-precision-3620.bin");
  EXPECT_EQ(s.EntryPointAnchor(), "_SM3_");
  EXPECT_EQ(s.BIOSVersion(), "2.1.9");
  EXPECT_EQ(s.BIOSDate(), "01/24/2017");
  EXPECT_EQ(s.SystemSerial(), "7KNZBH2");
  EXPECT_EQ(s.SystemUUID(), "44454C4C4B00104E805AB7C04F424832") << "table order, no byte swapping";
  EXPECT_EQ(s.MainBoardModel(), "09WH54");
  EXPECT_EQ(s.MainBoardSerial(), "/7KNZBH2/CN722006CF01LX/");
  EXPECT_EQ(s.GetMemoryDevice(0).PartNumber, "HMA41GU6AFR8N-TF    ");
  EXPECT_EQ(s.GetMemoryDevice(0).Device, 0x1A - 1) << "DDR4";
}

// The values of SMBIOS 2.5 to 3.5 that the older fields cannot hold, as dmidecode 3.4 reads
// the same dumps: memory speeds in MT/s (DDR4 and DDR5 read 0 ns as cycle times), 32 GB
// modules, 64 MB level-3 caches, ROMs of 16 MB and more, core and thread counts.
TEST(RecordedTables, NewerValuesAsDmidecodeReadsThem) {
  struct Case {
    const char* file;
    std::uint32_t romMB;  // BIOSExtendedSize
    std::uint32_t device;  // the memory device looked at
    std::uint32_t sizeMB, speed, configured;
    std::uint16_t sizeWord;
    std::uint8_t memoryType;  // stored (code - 1)
    const char* memoryTypeText;
    std::uint32_t l3;  // the cache looked at, and its size in KB
    std::uint32_t l3KB;
    std::uint16_t family;
    std::uint32_t cores, enabled, threads;
    std::uint16_t characteristics;
  };
  const Case cases[] = {
      {"asrock-ryzen.bin", 16, 1, 32768, 2400, 2400, 0x7FFF, 0x19, "DDR4", 2, 65536, 0x6B, 12, 12, 24, 0x00FC},
      {"gigabyte-x399.bin", 16, 0, 0, 2933, 2933, 16384, 0x19, "DDR4", 2, 65536, 0x6B, 32, 32, 64, 0x00FC},
      {"lenovo-thinkpad-t490.bin", 32, 0, 0, 2667, 2400, 8192, 0x19, "DDR4", 2, 8192, 0xC6, 4, 4, 8, 0x00FC},
      {"beelink-eq12.bin", 0, 0, 0, 5600, 4800, 16384, 0x21, "DDR5", 2, 2048, 0x01, 4, 4, 4, 0x00EC},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    TKyvex_SMBIOS s;
    FromDump(s, c.file);
    EXPECT_EQ(s.BIOSExtendedSize(), c.romMB);
    ASSERT_GT(s.MemoryDeviceCount(), c.device);
    const auto m = s.GetMemoryDevice(c.device);
    EXPECT_EQ(m.Size, c.sizeWord);
    EXPECT_EQ(m.ExtendedSize, c.sizeMB);
    EXPECT_EQ(m.SpeedMTs, c.speed);
    EXPECT_EQ(m.ConfiguredSpeedMTs, c.configured);
    EXPECT_EQ(m.Speed, 0) << "faster than 1000 MT/s: no whole ns";
    EXPECT_EQ(m.Device, c.memoryType);
    EXPECT_EQ(SMBIOS_DeviceTypeText(m.Device), c.memoryTypeText);
    ASSERT_GT(s.CacheCount(), c.l3);
    EXPECT_EQ(s.GetCache(c.l3).MaxSize2, c.l3KB);
    EXPECT_EQ(s.GetCache(c.l3).InstalledSize2, c.l3KB);
    ASSERT_GT(s.ProcessorCount(), 0u);
    const auto p = s.GetProcessor(0);
    EXPECT_EQ(p.Family, c.family);
    EXPECT_EQ(p.CoreCount, c.cores);
    EXPECT_EQ(p.CoreEnabled, c.enabled);
    EXPECT_EQ(p.ThreadCount, c.threads);
    EXPECT_EQ(p.Characteristics, c.characteristics);
    EXPECT_EQ(p.CoreCount2, c.cores) << "3.0 tables repeat the counts in the words";
  }

  // The report and the JSON show them.
  TKyvex_SMBIOS s;
  FromDump(s, "asrock-ryzen.bin");
  const auto devices = report::SmbiosDeviceSections(s);
  EXPECT_EQ(RowValue(devices, "Memory device 1", "Size"), "32768 MB") << "not the size word's 32767 MB";
  EXPECT_EQ(RowValue(devices, "Memory device 1", "Speed"), "2400 MT/s");
  EXPECT_EQ(RowValue(devices, "Memory device 1", "Configured speed"), "2400 MT/s");
  EXPECT_EQ(RowValue(devices, "Cache 2", "Maximum size"), "65536 KB");
  EXPECT_EQ(RowValue(devices, "Cache 2", "Installed size"), "65536 KB");
  EXPECT_EQ(RowValue(devices, "Processor 0", "Cores"), "12 (12 enabled)");
  EXPECT_EQ(RowValue(devices, "Processor 0", "Threads"), "24");
  EXPECT_EQ(RowValue(devices, "Processor 0", "Characteristics"),
            "64-bit Capable, Multi-Core, Hardware Thread, Execute Protection, Enhanced Virtualization, "
            "Power/Performance Control");
  EXPECT_EQ(RowValue(report::SmbiosSystemSections(s), "BIOS", "ROM size"), "16 MB");
  const auto j = report::SmbiosJson(s);
  EXPECT_EQ(j["MemoryDeviceList"][1]["ExtendedSize"], 32768);
  EXPECT_EQ(j["MemoryDeviceList"][1]["SpeedMTs"], 2400);
  EXPECT_EQ(j["CacheList"][2]["MaxSize2"], 65536);
  EXPECT_EQ(j["ProcessorList"][0]["ThreadCount"], 24);
  EXPECT_EQ(j["BIOSExtendedSize"], 16);

  // Slot type codes that the stored type cannot hold: M.2 and PCI Express widths.
  TKyvex_SMBIOS x;
  FromDump(x, "gigabyte-x399.bin");
  ASSERT_GE(x.SystemSlotCount(), 2u);
  EXPECT_EQ(x.GetSystemSlot(0).SlotType, 0x14);
  EXPECT_EQ(x.GetSystemSlot(0).Typ, 0) << "as the stored type always had it";
  EXPECT_EQ(SMBIOS_SlotTypeCodeText(x.GetSystemSlot(0).SlotType), "M.2 Socket 1-DP (Mechanical Key A)");
  EXPECT_EQ(x.GetSystemSlot(1).SlotType, 0xA9);
  EXPECT_EQ(SMBIOS_SlotTypeCodeText(x.GetSystemSlot(1).SlotType), "PCI Express x8");
}

// The Hyper-V table announces 17307 bytes and 5 structures; after its fifth structure
// (OEM strings) the rest is zeros. dmidecode stops at the first header of length 0 there.
TEST(RecordedTables, ZeroFilledSpaceAfterTheLastStructureYieldsNoPhantoms) {
  TKyvex_SMBIOS s;
  FromDump(s, "hyperv-vm.bin");
  std::vector<std::uint8_t> types;
  for (const auto& e : s.StructTables()) types.push_back(e.StructType);
  EXPECT_EQ(types, (std::vector<std::uint8_t>{0, 1, 2, 3, 11}));
  EXPECT_EQ(s.StructCount(), 5);
  EXPECT_EQ(s.StructLength(), 17307);
  EXPECT_EQ(s.PortCount() + s.TemperatureProbeCount() + s.MemoryDeviceCount(), 0u);
  EXPECT_EQ(s.MemCtrlCurrentInterleave(), smisUnknown) << "no memory controller";
  EXPECT_EQ(s.SystemModel(), "Virtual Machine");
  EXPECT_EQ(s.ChassisModel(), smchDesktop);
  const std::string devices = report::FormatSections(report::SmbiosDeviceSections(s));
  EXPECT_EQ(devices.find("Memory controller"), std::string::npos) << devices;
}

TEST(WrittenTables, DesktopLaptopAndVirtualMachine) {
  TKyvex_SMBIOS d;
  Decode(d, DesktopTable(), 2, 3);
  EXPECT_EQ(d.StructTables().size(), 17u);
  EXPECT_EQ(d.ProcessorCount(), 1u);
  EXPECT_EQ(d.MemoryModuleCount(), 2u);
  EXPECT_EQ(d.GetMemoryModule(0), (TSMBIOS_MemoryModule{"DIMM0", 60, 512, 1u << smmtSDRAM}));
  EXPECT_EQ(d.GetMemoryModule(1).Size, 0u) << "7Fh: not installed";
  EXPECT_EQ(d.CacheCount(), 2u);
  EXPECT_EQ(d.GetCache(0), (TSMBIOS_Cache{"L1 Cache", 8, 8, 1, 3, 6, 0, 8, 8}));
  EXPECT_EQ(d.GetCache(1), (TSMBIOS_Cache{"Cache_1", 512, 512, 4, 4, 6, 10, 512, 512}));
  EXPECT_EQ(d.PortCount(), 2u);
  EXPECT_EQ(d.GetPort(0), (TSMBIOS_Port{"PS2KB", "Keyboard", 15, 15, 13}));
  EXPECT_EQ(d.GetPort(1), (TSMBIOS_Port{"USB1", "PortSlot_1", 39, 18, 16}));
  EXPECT_EQ(d.SystemSlotCount(), 2u);
  EXPECT_EQ(d.GetSystemSlot(0), (TSMBIOS_SystemSlot{"PCI1", 5, 4, 1, 2, 3, 0x06}));
  EXPECT_EQ(d.GetSystemSlot(1), (TSMBIOS_SystemSlot{"AGP", 17, 4, 8, 3, 2, 0x12}));
  EXPECT_EQ(d.OnBoardDeviceCount(), 2u);
  EXPECT_EQ(d.GetOnBoardDevice(1), (TSMBIOS_OnBoardDevice{"Onboard Ethernet", 4, false}));
  EXPECT_EQ(d.TemperatureProbeCount(), 1u);
  EXPECT_EQ(d.GetTemperatureProbe(0), (TSMBIOS_TemperatureProbe{"CPU Temp", 2, 2, 0, 1000, 10, 20, 5, 400}));

  TKyvex_SMBIOS l;
  Decode(l, LaptopTable(), 2, 7);
  EXPECT_EQ(l.BIOSSize(), 16384u);
  EXPECT_EQ(l.ChassisModel(), smchNotebook);
  EXPECT_EQ(l.GetProcessor(0).Upgrade, 0x20) << "beyond the upgrade names: stored as decoded";
  EXPECT_DOUBLE_EQ(l.GetProcessor(0).Voltage, 1.0);
  EXPECT_EQ(l.GetProcessor(0).SerialNumber, "");
  EXPECT_EQ(l.MemoryModuleCount() + l.CacheCount() + l.PortCount() + l.SystemSlotCount(), 0u);
  EXPECT_EQ(l.MemCtrlMaxSize(), 0) << "no memory controller";

  TKyvex_SMBIOS v;
  Decode(v, VirtualMachineTable(), 2, 4);
  EXPECT_EQ(v.BIOSSize(), 64u);
  EXPECT_EQ(v.SystemUUID(), "00000000000000000000000000000000");
  EXPECT_EQ(v.ChassisModel(), smchOther);
  ASSERT_EQ(v.ProcessorCount(), 2u);
  EXPECT_EQ(v.GetProcessor(0).Version, "pc-i440fx-7.2");
  EXPECT_EQ(v.GetProcessor(1).Version, "Processor_1");
  EXPECT_EQ(v.GetProcessor(1).Upgrade, 0);
  EXPECT_EQ(v.GetMemoryDevice(0), (TSMBIOS_MemoryDevice{64, 64, 2048, 8, "DIMM 0", "", 6, 2}));
  EXPECT_EQ(v.StructTables()[6].Name, "System Boot Information");
}

TEST(WrittenTables, ReportOfADecodedTable) {
  TKyvex_SMBIOS s;
  Decode(s, LaptopTable(), 2, 7);
  const auto j = report::SmbiosJson(s);
  EXPECT_EQ(j["ChassisModel"]["Name"], "smchNotebook");
  EXPECT_EQ(j["ChassisModel"]["Text"], "Notebook");
  EXPECT_EQ(j["MemoryDeviceList"][0]["DeviceText"], "DDR3");
  EXPECT_EQ(j["MemoryDeviceList"][0]["FormFactorText"], "SODIMM");
  EXPECT_EQ(j["ProcessorList"][0]["UpgradeText"], "Socket rPGA988B");
  EXPECT_EQ(j["StructTables"].size(), s.StructTables().size());

  const std::string system = report::FormatSections(report::SmbiosSystemSections(s));
  EXPECT_NE(system.find("Version:       ThinkPad T430"), std::string::npos) << system;
  EXPECT_NE(system.find("Type:          Notebook"), std::string::npos) << system;
  const std::string devices = report::FormatSections(report::SmbiosDeviceSections(s));
  EXPECT_NE(devices.find("Memory device 1"), std::string::npos);
  EXPECT_NE(devices.find("Size:          No module installed"), std::string::npos) << devices;

  // Firmware strings that are not UTF-8, or hold control characters, still make valid JSON
  // and a readable line.
  TKyvex_SMBIOS odd;
  Decode(odd, Concat({Bios(0, "Fabricant \xE9lectronique", "V1\x1B[2J", "", 0), EndOfTable()}), 2, 3);
  const std::string dumped = report::SmbiosJson(odd).dump();
  EXPECT_NE(dumped.find("Fabricant \xC3\xA9lectronique"), std::string::npos);
  const std::string text = report::FormatSections(report::SmbiosSystemSections(odd));
  EXPECT_EQ(text.find('\x1B'), std::string::npos);
}

// The command writes the report piece by piece: the same text as the whole document gives, for
// recorded tables of every kind, a table with hostile strings, and none at all.
TEST(WrittenTables, StreamedJsonIsTheDocumentsText) {
  std::vector<std::pair<std::string, std::unique_ptr<TKyvex_SMBIOS>>> cases;
  for (const char* name : {"dell-precision-3620.bin", "gigabyte-x399.bin", "no table", "odd strings"})
    cases.emplace_back(name, std::make_unique<TKyvex_SMBIOS>());
  FromDump(*cases[0].second, cases[0].first);
  FromDump(*cases[1].second, cases[1].first);
  Decode(*cases[3].second,
         Concat({Bios(0, "Fabricant \xE9lectronique\n\"x\"", "V1\x1B[2J", "", 0), EndOfTable()}), 2, 3);
  for (const auto& [what, s] : cases) {
    std::ostringstream streamed;
    report::WriteSmbiosJson(streamed, *s);
    EXPECT_EQ(streamed.str(), report::JsonText(report::SmbiosJson(*s))) << what;
  }
}

TEST(WrittenTables, ReportWithoutTables) {
  TKyvex_SMBIOS s;
  const auto sections = report::SmbiosSystemSections(s);
  ASSERT_EQ(sections.size(), 1u);
  EXPECT_EQ(sections[0].Items[0], (std::pair<std::string, std::string>{"Entry point", "none found"}));
  EXPECT_EQ(report::SmbiosJson(s)["ProcessorList"].size(), 0u);
}

}  // namespace
