// Whole tables decoded end to end: dumps of real machines (read alongside dmidecode's
// reading of the same files) and the complete tables of a desktop, a laptop and a virtual
// machine written from the SMBIOS structure layouts.
#include <gtest/gtest.h>

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

TEST(WrittenTables, DesktopLaptopAndVirtualMachine) {
  TKyvex_SMBIOS d;
  Decode(d, DesktopTable(), 2, 3);
  EXPECT_EQ(d.StructTables().size(), 17u);
  EXPECT_EQ(d.ProcessorCount(), 1u);
  EXPECT_EQ(d.MemoryModuleCount(), 2u);
  EXPECT_EQ(d.GetMemoryModule(0), (TSMBIOS_MemoryModule{"DIMM0", 60, 512, 1u << smmtSDRAM}));
  EXPECT_EQ(d.GetMemoryModule(1).Size, 0u) << "7Fh: not installed";
  EXPECT_EQ(d.CacheCount(), 2u);
  EXPECT_EQ(d.GetCache(0), (TSMBIOS_Cache{"L1 Cache", 8, 8, 1, 3, 6, 0}));
  EXPECT_EQ(d.GetCache(1), (TSMBIOS_Cache{"Cache_1", 512, 512, 4, 4, 6, 10}));
  EXPECT_EQ(d.PortCount(), 2u);
  EXPECT_EQ(d.GetPort(0), (TSMBIOS_Port{"PS2KB", "Keyboard", 15, 15, 13}));
  EXPECT_EQ(d.GetPort(1), (TSMBIOS_Port{"USB1", "PortSlot_1", 39, 18, 16}));
  EXPECT_EQ(d.SystemSlotCount(), 2u);
  EXPECT_EQ(d.GetSystemSlot(0), (TSMBIOS_SystemSlot{"PCI1", 5, 4, 1, 2, 3}));
  EXPECT_EQ(d.GetSystemSlot(1), (TSMBIOS_SystemSlot{"AGP", 17, 4, 8, 3, 2}));
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

TEST(WrittenTables, ReportWithoutTables) {
  TKyvex_SMBIOS s;
  const auto sections = report::SmbiosSystemSections(s);
  ASSERT_EQ(sections.size(), 1u);
  EXPECT_EQ(sections[0].Items[0], (std::pair<std::string, std::string>{"Entry point", "none found"}));
  EXPECT_EQ(report::SmbiosJson(s)["ProcessorList"].size(), 0u);
}

}  // namespace
