// The decoding rules of the system and device records, each over a small table that holds
// the structure in question.
#include <gtest/gtest.h>

#include "report/SmbiosReport.h"
#include "smbios/KSI_SMBIOS.h"
#include "unit/smbios/SmbiosTables.h"

using namespace kyvex;
using namespace smbios_test;

namespace {

// A table of one structure (after a BIOS structure, so that the walk's padding rule is on).
TKyvex_SMBIOS& One(TKyvex_SMBIOS& s, const Bytes& structure, std::uint8_t major = 2, std::uint8_t minor = 3) {
  Decode(s, Concat({Structure(0, 0, Area(0x12)), structure, EndOfTable()}), major, minor);
  return s;
}

TEST(SystemRecords, BiosSystemBoardAndChassis) {
  TKyvex_SMBIOS s;
  Decode(s, DesktopTable(), 2, 3);
  EXPECT_EQ(s.BIOSVendor(), "Award Software");
  EXPECT_EQ(s.BIOSVersion(), "ASUS P4P800 1014");
  EXPECT_EQ(s.BIOSDate(), "03/09/2004");
  EXPECT_EQ(s.BIOSSize(), 512u);
  EXPECT_EQ(s.SystemManufacturer(), "ASUSTeK Computer Inc.");
  EXPECT_EQ(s.SystemModel(), "P4P800");
  EXPECT_EQ(s.SystemVersion(), "1.0");
  EXPECT_EQ(s.SystemSerial(), "SYS-0001");
  EXPECT_EQ(s.SystemUUID(), "00112233445566778899AABBCCDDEEFF");
  EXPECT_EQ(s.MainBoardManufacturer(), "ASUSTeK Computer Inc.");
  EXPECT_EQ(s.MainBoardModel(), "P4P800");
  EXPECT_EQ(s.MainBoardVersion(), "Rev 1.xx");
  EXPECT_EQ(s.MainBoardSerial(), "MB-1234");
  EXPECT_EQ(s.MainBoardAssetTag(), "Asset-MB");
  EXPECT_EQ(s.MainBoardLocationInChassis(), "Board slot");
  EXPECT_EQ(s.ChassisModel(), smchDesktop) << "83h: desktop with its lock bit";
  EXPECT_EQ(s.ChassisManufacturer(), "Chassis Manufacture");
  EXPECT_EQ(s.ChassisVersion(), "Chassis Version");
  EXPECT_EQ(s.ChassisSerial(), "CH-42");
  EXPECT_EQ(s.ChassisAssetTag(), "Asset-CH");
  EXPECT_EQ(s.MemCtrlSupportedInterleave(), smisFourWay);
  EXPECT_EQ(s.MemCtrlCurrentInterleave(), smisTwoWay);
  EXPECT_EQ(s.MemCtrlMaxSize(), 2048);
  EXPECT_EQ(s.MemCtrlSupportedSpeeds(), 1u << smms60ns);
  EXPECT_EQ(s.MemCtrlSupportedTypes(), (1u << smmtEDO) | (1u << smmtSDRAM));
  EXPECT_EQ(s.MemCtrlSupportedVoltages(), 1u << smv33V);
  EXPECT_EQ(s.MemCtrlSlotCount(), 3);
}

TEST(SystemRecords, VersionDependentAndEdgeFields) {
  TKyvex_SMBIOS s;
  One(s, Structure(1, 1, Area(0x08).U8(0x04, 1), {"Old"}));
  EXPECT_EQ(s.SystemUUID(), "") << "a 2.0 system structure has no UUID";
  EXPECT_EQ(s.SystemManufacturer(), "Old");

  One(s, Structure(2, 2, Area(0x09).U8(0x04, 1).U8(0x08, 1), {"Board"}));
  EXPECT_EQ(s.MainBoardAssetTag(), "Board");
  EXPECT_EQ(s.MainBoardLocationInChassis(), "") << "no location in a 9-byte board structure";

  One(s, Structure(1, 1, Area(0x19).U8(0x04, 3).U8(0x05, 9), {"A", "B"}));
  EXPECT_EQ(s.SystemManufacturer(), "") << "string number past the set";
  EXPECT_EQ(s.SystemModel(), "");

  // Strings are kept as stored, blanks included; a byte that is not UTF-8 is read as Windows-1252 and a
  // control character shown escaped, as they are read.
  Decode(s, Concat({Structure(0, 0, Area(0x12).U8(0x04, 1).U8(0x05, 2), {"  Vendor ", "V\xE9rsion\x1B"}), EndOfTable()}), 2, 3);
  EXPECT_EQ(s.BIOSVendor(), "  Vendor ");
  EXPECT_EQ(s.BIOSVersion(), "V\xC3\xA9rsion\\x1B");
}

TEST(SystemRecords, EnumerationCodesAndPowersOfTwo) {
  struct Case {
    std::uint8_t chassisCode, sizeCode;
    TSMBIOS_Chassis chassis;
    std::uint16_t maxSize;
  };
  const Case cases[] = {{0x01, 0x00, smchOther, 1},           {0x83, 0x0C, smchDesktop, 4096},
                        {0x0A, 0x0F, smchNotebook, 32768},   {0x19, 0x10, smchMultiSystem, 0},
                        {0x00, 0xFF, TSMBIOS_Chassis(255), 0}, {0x24, 0x01, TSMBIOS_Chassis(35), 2}};
  for (const auto& c : cases) {
    TKyvex_SMBIOS s;
    Decode(s, Concat({Structure(3, 3, Area(0x09).U8(0x05, c.chassisCode)), Structure(5, 5, Area(0x0F).U8(0x08, c.sizeCode)), EndOfTable()}), 2, 3);
    EXPECT_EQ(s.ChassisModel(), c.chassis) << int(c.chassisCode);
    EXPECT_EQ(s.MemCtrlMaxSize(), c.maxSize) << int(c.sizeCode);
  }
}

TEST(SystemRecords, TheLastMemoryControllerDecidesAndTheFirstOfTheOthers) {
  TKyvex_SMBIOS s;
  Decode(s, Concat({Structure(1, 0, Area(0x08).U8(0x04, 1), {"First"}),
                    Structure(5, 5, Area(0x0F).U8(0x06, 2).U8(0x07, 2).U8(0x0E, 2)),
                    Structure(1, 1, Area(0x08).U8(0x04, 1), {"Second"}),
                    Structure(5, 6, Area(0x0F).U8(0x06, 7).U8(0x07, 0).U8(0x0E, 8)), EndOfTable()}),
         2, 3);
  EXPECT_EQ(s.SystemManufacturer(), "First");
  EXPECT_EQ(s.MemCtrlSupportedInterleave(), smisSixteenWay);
  EXPECT_EQ(s.MemCtrlCurrentInterleave(), TSMBIOS_InterleaveSupport(255)) << "code 0 minus 1, in 8 bits";
  EXPECT_EQ(s.MemCtrlSlotCount(), 8);
}

TEST(SystemRecords, NothingDecodedWithoutATable) {
  TKyvex_SMBIOS s;
  s.SetReadLocalMemory(false);
  s.CollectData();
  EXPECT_EQ(s.BIOSSize(), 0u) << "no BIOS structure is made up from an empty window";
  EXPECT_EQ(s.ChassisModel(), smchUnknown);
  EXPECT_EQ(s.StructCount(), 0xFFFF);
  EXPECT_EQ(s.StructLength(), 0);
  EXPECT_TRUE(s.StructTables().empty());
}

TEST(DeviceRecords, Processors) {
  struct Case {
    std::uint8_t voltage;
    double volts;
  };
  for (const Case c : {Case{0x8C, 1.2}, Case{0x02, 3.3}, Case{0x00, 0.0}, Case{0x07, 5.0}, Case{0x04, 2.9},
                       Case{0x81, 0.1}}) {
    TKyvex_SMBIOS s;
    One(s, Structure(4, 4, Area(0x23).U8(0x11, c.voltage)));
    ASSERT_EQ(s.ProcessorCount(), 1u);
    EXPECT_DOUBLE_EQ(s.GetProcessor(0).Voltage, c.volts) << int(c.voltage);
  }

  TKyvex_SMBIOS s;
  Decode(s, DesktopTable(), 2, 3);
  ASSERT_EQ(s.ProcessorCount(), 1u);
  const auto p = s.GetProcessor(0);
  EXPECT_EQ(p.Socket, "Socket 478");
  EXPECT_EQ(p.Manufacturer, "Intel");
  EXPECT_EQ(p.Version, "Intel(R) Pentium(R) 4 CPU 2.80GHz");
  EXPECT_EQ(p.Upgrade, 14);
  EXPECT_EQ(SMBIOS_UpgradeNames[p.Upgrade], std::string("Socket 478"));
  EXPECT_DOUBLE_EQ(p.Voltage, 1.5);
  EXPECT_EQ(p.Frequency, 2800);
  EXPECT_EQ(p.ExternalClock, 200);
  EXPECT_EQ(p.SerialNumber, "CPU-SERIAL");
  EXPECT_EQ(p.AssetTag, "CPU-ASSET");
  EXPECT_EQ(p.PartNumber, "CPU-PART");
}

TEST(DeviceRecords, StringsOfVersion23AreReadFrom23On) {
  const Bytes processor = Structure(4, 4, Area(0x23).U8(0x20, 1).U8(0x21, 2).U8(0x22, 3), {"S", "A", "P"});
  const Bytes memory = Structure(17, 17, Area(0x1B).U16(0x15, 0x0085).U8(0x17, 1).U8(0x18, 2).U8(0x19, 3).U8(0x1A, 4),
                                 {"M", "S", "A", "P"});
  const struct {
    std::uint8_t major, minor;
    bool read;
  } versions[] = {{2, 2, false}, {2, 3, true}, {3, 0, true}, {2, 10, true}, {0, 0, false}};
  for (const auto& v : versions) {
    TKyvex_SMBIOS s;
    Decode(s, Concat({processor, memory, EndOfTable()}), v.major, v.minor);
    const auto p = s.GetProcessor(0);
    const auto m = s.GetMemoryDevice(0);
    const std::string at = std::to_string(v.major) + "." + std::to_string(v.minor);
    EXPECT_EQ(p.SerialNumber, v.read ? "S" : "") << at;
    EXPECT_EQ(p.AssetTag, v.read ? "A" : "") << at;
    EXPECT_EQ(p.PartNumber, v.read ? "P" : "") << at;
    EXPECT_EQ(m.Speed, v.read ? 7 : 0) << at << ": 133 MHz is 7 ns";
    EXPECT_EQ(m.Manufacturer, v.read ? "M" : "") << at;
    EXPECT_EQ(m.SerialNumber, v.read ? "S" : "") << at;
    EXPECT_EQ(m.AssetTag, v.read ? "A" : "") << at;
    EXPECT_EQ(m.PartNumber, v.read ? "P" : "") << at;
  }
}

TEST(DeviceRecords, FieldsPastAShortStructureReadZero) {
  // A 32-byte processor and a 21-byte memory device in a 2.4 table: the bytes where the
  // longer structures keep their serial number and speed belong to the string set here.
  TKyvex_SMBIOS s;
  Decode(s, Concat({Structure(4, 4, Area(0x20).U8(0x04, 1), {"CPU 1"}),
                    Structure(17, 17, Area(0x15).U8(0x10, 1), {"DIMM 0"}), EndOfTable()}),
         2, 4);
  EXPECT_EQ(s.GetProcessor(0).Socket, "CPU 1");
  EXPECT_EQ(s.GetProcessor(0).SerialNumber, "");
  EXPECT_EQ(s.GetMemoryDevice(0).DeviceLocator, "DIMM 0");
  EXPECT_EQ(s.GetMemoryDevice(0).Speed, 0);
  EXPECT_EQ(s.GetMemoryDevice(0).Manufacturer, "");
}

TEST(DeviceRecords, BlankNamesAreNumberedWithinTheirList) {
  TKyvex_SMBIOS s;
  Decode(s, Concat({Structure(4, 1, Area(0x1A).U8(0x10, 1), {"Named CPU"}), Structure(4, 2, Area(0x1A)),
                    Structure(4, 3, Area(0x1A).U8(0x10, 1), {" \t"}), Structure(7, 4, Area(0x13)),
                    Structure(8, 5, Area(0x09)), Structure(9, 6, Area(0x0D)), EndOfTable()}),
         2, 3);
  ASSERT_EQ(s.ProcessorCount(), 3u);
  EXPECT_EQ(s.GetProcessor(0).Version, "Named CPU");
  EXPECT_EQ(s.GetProcessor(1).Version, "Processor_1");
  EXPECT_EQ(s.GetProcessor(2).Version, "Processor_2") << "a blank string counts as none";
  EXPECT_EQ(s.GetCache(0).Designation, "Cache_0");
  EXPECT_EQ(s.GetPort(0).ExternalDesignator, "PortSlot_0");
  EXPECT_EQ(s.GetPort(0).InternalDesignator, "");
  EXPECT_EQ(s.GetSystemSlot(0).Designation, "Slot_0");
}

TEST(DeviceRecords, MemoryModules) {
  const struct {
    std::uint8_t sizeByte;
    std::uint32_t size;
  } cases[] = {{0x87, 128}, {0x7F, 0}, {0x7D, 0}, {0x0B, 2048}, {0x1F, 0x80000000u}, {0x20, 0}, {0x00, 1}};
  for (const auto& c : cases) {
    TKyvex_SMBIOS s;
    One(s, Structure(6, 6, Area(0x0C).U8(0x04, 1).U8(0x06, 70).U16(0x07, 0x0C10).U8(0x09, c.sizeByte), {"BANK0"}));
    const auto m = s.GetMemoryModule(0);
    EXPECT_EQ(m.Size, c.size) << int(c.sizeByte);
    EXPECT_EQ(m.Socket, "BANK0");
    EXPECT_EQ(m.Speed, 70);
    EXPECT_EQ(m.Types, (1u << smmtEDO) | (1u << smmtSDRAM)) << "bit 11 is past the set";
  }
}

TEST(DeviceRecords, Caches) {
  TKyvex_SMBIOS s;
  Decode(s, Concat({Structure(7, 1, Area(0x13).U8(0x04, 1).U16(0x07, 0x8100).U16(0x09, 0x0200).U16(0x0D, 0x0012)
                                        .U8(0x0F, 15).U8(0x11, 0x05).U8(0x12, 0x08),
                              {"L2"}),
                    Structure(7, 2, Area(0x0F).U16(0x07, 0xFFFF)),
                    Structure(7, 3, Area(0x13).U8(0x11, 0x06).U8(0x12, 0x09).U16(0x0D, 0x0080)), EndOfTable()}),
         2, 3);
  ASSERT_EQ(s.CacheCount(), 3u);
  const auto l2 = s.GetCache(0);
  EXPECT_EQ(l2.MaxSize, 16384);
  EXPECT_EQ(l2.InstalledSize, 512);
  EXPECT_EQ(l2.SRAMType, 4) << "the highest set bit";
  EXPECT_EQ(l2.Typ, 4);
  EXPECT_EQ(l2.Associativity, 7);
  EXPECT_EQ(l2.Speed, 15);
  const auto shortCache = s.GetCache(1);
  EXPECT_EQ(shortCache.MaxSize, static_cast<std::uint16_t>(0x7FFF * 64)) << "kept in 16 bits";
  EXPECT_EQ(shortCache.Typ, 1);
  EXPECT_EQ(shortCache.Associativity, 1);
  EXPECT_EQ(shortCache.Speed, 0);
  const auto newer = s.GetCache(2);
  EXPECT_EQ(newer.Typ, 1) << "cache type 6 is past the rule";
  EXPECT_EQ(newer.Associativity, 1) << "associativity 9 is past the rule";
  EXPECT_EQ(newer.SRAMType, 0) << "bit 7 is past the SRAM types";
}

TEST(DeviceRecords, PortsSlotsAndOnBoardDevices) {
  const struct {
    std::uint8_t internal, type;
    std::uint8_t connector, typ;
  } ports[] = {{0xFF, 0xA1, 39, 33}, {0x0F, 0xFF, 15, 34}, {0x00, 0xA0, 0, 32}, {0x22, 0x20, 34, 160},
               {0x12, 0x10, 18, 16}};
  for (const auto& c : ports) {
    TKyvex_SMBIOS s;
    One(s, Structure(8, 8, Area(0x09).U8(0x05, c.internal).U8(0x08, c.type)));
    EXPECT_EQ(s.GetPort(0).InternalConnector, c.connector);
    EXPECT_EQ(s.GetPort(0).Typ, c.typ) << int(c.type);
  }
  const struct {
    std::uint8_t type, typ;
  } slots[] = {{0xA2, 21}, {0x06, 5}, {0x20, 0}, {0x13, 18}, {0xA4, 23}, {0xA5, 0}, {0x00, 255}};
  for (const auto& c : slots) {
    TKyvex_SMBIOS s;
    One(s, Structure(9, 9, Area(0x0D).U8(0x05, c.type).U8(0x06, 5).U8(0x07, 4).U8(0x08, 3).U16(0x09, 0x0102)));
    const auto t = s.GetSystemSlot(0);
    EXPECT_EQ(t.Typ, c.typ) << int(c.type);
    EXPECT_EQ(t.DataBus, 4);
    EXPECT_EQ(t.Usage, 3);
    EXPECT_EQ(t.Length, 2);
    EXPECT_EQ(t.ID, 0x0102);
  }

  TKyvex_SMBIOS s;
  Decode(s, Concat({Structure(10, 1, Area(0x08).U8(0x04, 0x83).U8(0x05, 1).U8(0x06, 0x87).U8(0x07, 2), {"VGA", "Audio"}),
                    Structure(10, 2, Area(0x07).U8(0x04, 0x09).U8(0x05, 1), {"SATA"}),
                    Structure(10, 3, Area(0x05).U8(0x04, 0x85)), EndOfTable()}),
         2, 3);
  ASSERT_EQ(s.OnBoardDeviceCount(), 3u) << "(7 - 4) div 2 = 1 entry; a 5-byte structure has none";
  EXPECT_EQ(s.GetOnBoardDevice(0), (TSMBIOS_OnBoardDevice{"VGA", 2, true}));
  EXPECT_EQ(s.GetOnBoardDevice(1), (TSMBIOS_OnBoardDevice{"Audio", 6, true}));
  EXPECT_EQ(s.GetOnBoardDevice(2), (TSMBIOS_OnBoardDevice{"SATA", 0, false})) << "type 9 is past the rule";
}

TEST(DeviceRecords, MemoryDevicesAndTemperatureProbes) {
  TKyvex_SMBIOS s;
  Decode(s, LaptopTable(), 2, 7);
  ASSERT_EQ(s.MemoryDeviceCount(), 2u);
  const auto m = s.GetMemoryDevice(0);
  EXPECT_EQ(m.TotalWidth, 64);
  EXPECT_EQ(m.DataWidth, 64);
  EXPECT_EQ(m.Size, 4096);
  EXPECT_EQ(m.FormFactor, 12);
  EXPECT_EQ(SMBIOS_FormFactorNames[m.FormFactor], std::string("SODIMM"));
  EXPECT_EQ(m.DeviceLocator, "ChannelA-DIMM0");
  EXPECT_EQ(m.BankLocator, "BANK 0");
  EXPECT_EQ(m.Device, 23) << "DDR3 lies past the device type names";
  EXPECT_EQ(m.TypeDetails, 0x0080);
  EXPECT_EQ(m.Speed, 0) << "1600 MHz is less than 1 ns";
  EXPECT_EQ(m.PartNumber, "M471B5273DH0-CK0");
  EXPECT_EQ(s.GetMemoryDevice(1).Size, 0);

  TKyvex_SMBIOS t;
  One(t, Structure(17, 1, Area(0x15).U16(0x13, 0xFFFF)));
  EXPECT_EQ(t.GetMemoryDevice(0).TypeDetails, 0x1FFF) << "bits 13 to 15 dropped";

  const struct {
    std::uint8_t length, locationStatus;
    std::uint8_t location, status;
    std::uint16_t value;
  } probes[] = {{0x16, 0x67, 6, 2, 400}, {0x14, 0x67, 6, 2, 0}, {0x16, 0x00, 255, 255, 400}};
  for (const auto& c : probes) {
    Area area(c.length);
    area.U8(0x04, 1).U8(0x05, c.locationStatus).U16(0x06, 1000).U16(0x08, 100).U16(0x0A, 10).U16(0x0C, 20).U16(0x0E, 5);
    // A 20-byte probe has no nominal value: its string set starts where the value would be.
    if (c.length >= 0x16) area.U16(0x14, c.value);
    TKyvex_SMBIOS p;
    One(p, Structure(28, 28, area, {" \tCPU Temp \r\n"}));
    const auto probe = p.GetTemperatureProbe(0);
    EXPECT_EQ(probe.Description, "CPU Temp");
    EXPECT_EQ(probe.Location, c.location);
    EXPECT_EQ(probe.Status, c.status);
    EXPECT_EQ(probe.Max, 1000);
    EXPECT_EQ(probe.Min, 100);
    EXPECT_EQ(probe.Resolution, 10);
    EXPECT_EQ(probe.Tolerance, 20);
    EXPECT_EQ(probe.Accuracy, 5);
    EXPECT_EQ(probe.Value, c.value) << int(c.length);
  }
}

TEST(DeviceRecords, LargeListsAreCountedWholeAndIndexesArePassedSafely) {
  std::vector<Bytes> parts{Structure(0, 0, Area(0x12))};
  for (int i = 0; i < 300; ++i)
    parts.push_back(Structure(17, static_cast<std::uint16_t>(i + 1), Area(0x15).U8(0x10, 1), {"D" + std::to_string(i)}));
  parts.push_back(EndOfTable());
  Bytes table;
  for (const auto& p : parts) table.insert(table.end(), p.begin(), p.end());
  TKyvex_SMBIOS s;
  Decode(s, table, 2, 3);
  ASSERT_EQ(s.MemoryDeviceCount(), 300u);
  EXPECT_EQ(s.GetMemoryDevice(299).DeviceLocator, "D299");
  EXPECT_EQ(s.GetMemoryDevice(300), TSMBIOS_MemoryDevice{});
  EXPECT_EQ(s.GetProcessor(0), TSMBIOS_Processor{});
}

}  // namespace

// The newer values where the older field hands over to a wider one: each case a structure at
// the edge (the marker value, and the structure one byte too short for the wider field).
TEST(DeviceRecords, WiderValuesOfNewerStructures) {
  struct MemoryCase {
    const char* what;
    std::uint8_t length;
    std::uint16_t sizeWord, speedWord, configuredWord;
    std::uint32_t extendedSize, extendedSpeed, extendedConfigured;
    std::uint32_t sizeMB, speed, configured;
  };
  const MemoryCase memory[] = {
      {"2.3: speed word only", 0x1B, 2048, 266, 0, 0, 0, 0, 0, 266, 0},
      {"2.7: configured speed", 0x22, 8192, 1600, 1333, 0, 0, 0, 0, 1600, 1333},
      {"7FFFh: extended size", 0x28, 0x7FFF, 3200, 3200, 65536, 0, 0, 65536, 3200, 3200},
      {"7FFFh too short for the extended size", 0x1F, 0x7FFF, 3200, 0, 65536, 0, 0, 0, 3200, 0},
      {"extended size's reserved bit 31", 0x28, 0x7FFF, 0, 0, 0x80008000, 0, 0, 0x8000, 0, 0},
      {"3.3: FFFFh speeds in the dwords", 0x5C, 0x7FFF, 0xFFFF, 0xFFFF, 131072, 70000, 68000, 131072, 70000, 68000},
      {"FFFFh without the dwords", 0x54, 16384, 0xFFFF, 0xFFFF, 0, 70000, 68000, 0, 0, 0},
  };
  for (const auto& c : memory) {
    Area a(c.length);
    a.U16(0x0C, c.sizeWord).U8(0x10, 1);
    if (c.length >= 0x17) a.U16(0x15, c.speedWord);
    if (c.length >= 0x20) a.U32(0x1C, c.extendedSize);
    if (c.length >= 0x22) a.U16(0x20, c.configuredWord);
    if (c.length >= 0x58) a.U32(0x54, c.extendedSpeed);
    if (c.length >= 0x5C) a.U32(0x58, c.extendedConfigured);
    TKyvex_SMBIOS s;
    One(s, Structure(17, 0x11, a, {"DIMM"}), 3, 3);
    ASSERT_EQ(s.MemoryDeviceCount(), 1u) << c.what;
    const auto m = s.GetMemoryDevice(0);
    EXPECT_EQ(m.Size, c.sizeWord) << c.what << ": the older field as it was";
    EXPECT_EQ(m.ExtendedSize, c.sizeMB) << c.what;
    EXPECT_EQ(m.SpeedMTs, c.speed) << c.what;
    EXPECT_EQ(m.ConfiguredSpeedMTs, c.configured) << c.what;
    EXPECT_EQ(m.DeviceLocator, "DIMM") << c.what;
  }

  struct ProcessorCase {
    const char* what;
    std::uint8_t length, familyByte;
    std::uint16_t family2;
    std::uint8_t cores, enabled, threads;
    std::uint16_t cores2, enabled2, threads2;
    std::uint16_t family;
    std::uint32_t shownCores, shownThreads;
  };
  const ProcessorCase processors[] = {
      {"2.3 structure: no counts", 0x23, 0xB3, 0, 8, 8, 16, 0, 0, 0, 0xB3, 0, 0},
      {"2.5 counts", 0x28, 0xC6, 0, 8, 8, 16, 0, 0, 0, 0xC6, 8, 16},
      {"FEh: Processor Family 2", 0x2A, 0xFE, 0x0100, 4, 4, 8, 0, 0, 0, 0x0100, 4, 8},
      {"FEh in a structure without Family 2", 0x28, 0xFE, 0x0100, 4, 4, 8, 0, 0, 0, 0xFE, 4, 8},
      {"FFh: the 3.0 words", 0x30, 0x6B, 0, 0xFF, 0xFF, 0xFF, 384, 380, 768, 0x6B, 384, 768},
  };
  for (const auto& c : processors) {
    Area a(c.length);
    a.U8(0x04, 1).U8(0x06, c.familyByte);
    if (c.length >= 0x28) a.U8(0x23, c.cores).U8(0x24, c.enabled).U8(0x25, c.threads).U16(0x26, 0x00FC);
    if (c.length >= 0x2A) a.U16(0x28, c.family2);
    if (c.length >= 0x30) a.U16(0x2A, c.cores2).U16(0x2C, c.enabled2).U16(0x2E, c.threads2);
    TKyvex_SMBIOS s;
    One(s, Structure(4, 0x04, a, {"CPU0"}), 3, 0);
    ASSERT_EQ(s.ProcessorCount(), 1u) << c.what;
    const auto p = s.GetProcessor(0);
    EXPECT_EQ(p.Family, c.family) << c.what;
    EXPECT_EQ(p.CoreCount2, c.cores2) << c.what;
    EXPECT_EQ(p.ThreadCount2, c.threads2) << c.what;
    EXPECT_EQ(p.Characteristics, c.length >= 0x28 ? 0x00FC : 0) << c.what;
    const auto sections = report::SmbiosDeviceSections(s);
    const std::string none = "(none)";
    EXPECT_EQ(RowValue(sections, "Processor 0", "Threads"), c.shownThreads ? std::to_string(c.shownThreads) : none)
        << c.what;
    const std::string cores = RowValue(sections, "Processor 0", "Cores");
    if (c.shownCores)
      EXPECT_EQ(cores.substr(0, cores.find(' ')), std::to_string(c.shownCores)) << c.what;
    else
      EXPECT_EQ(cores, none) << c.what;
  }

  // 3.6: an upgrade code of FEh leaves the socket to the Socket Type string at 32h.
  {
    TKyvex_SMBIOS s;
    One(s, Structure(4, 0x04, Area(0x33).U8(0x04, 1).U8(0x19, 0xFE).U8(0x32, 2), {"CPU0", "LGA9999"}), 3, 6);
    EXPECT_EQ(s.GetProcessor(0).SocketType, "LGA9999");
    EXPECT_EQ(SMBIOS_UpgradeText(s.GetProcessor(0).Upgrade), "See socket type");
    EXPECT_EQ(RowValue(report::SmbiosDeviceSections(s), "Processor 0", "Socket type"), "LGA9999");
  }

  // Caches: bit 31 of the 32-bit sizes selects 64 KB units; a 3.0 structure has none, and
  // its 16-bit sizes are taken without the cut at 16 bits.
  for (std::uint8_t length : {0x13, 0x1B}) {
    Area a(length);
    a.U8(0x04, 1).U16(0x07, 0x8400).U16(0x09, 0x8400);
    if (length >= 0x1B) a.U32(0x13, 0x80000800).U32(0x17, 0x00020000);
    TKyvex_SMBIOS s;
    One(s, Structure(7, 0x07, a, {"L3"}), 3, 1);
    const auto c = s.GetCache(0);
    EXPECT_EQ(c.MaxSize, 0) << "1024 x 64 KB does not fit the 16-bit field";
    EXPECT_EQ(c.MaxSize2, length >= 0x1B ? 0x800u * 64 : 65536u);
    EXPECT_EQ(c.InstalledSize2, length >= 0x1B ? 0x20000u : 65536u);
  }

  // BIOS: FFh hands over to the extended size, in MB or GB.
  struct BiosCase {
    std::uint8_t length, sizeByte;
    std::uint16_t extended;
    std::uint32_t mb;
  };
  for (const auto& c : {BiosCase{0x1A, 0xFF, 0x0020, 32}, BiosCase{0x1A, 0xFF, 0x4002, 2048},
                        BiosCase{0x1A, 0xFF, 0x8002, 0}, BiosCase{0x18, 0xFF, 0x0020, 0},
                        BiosCase{0x1A, 0x3F, 0x0020, 0}}) {
    Area a(c.length);
    a.U8(0x09, c.sizeByte);
    if (c.length >= 0x1A) a.U16(0x18, c.extended);
    TKyvex_SMBIOS s;
    Decode(s, Concat({Structure(0, 0, a), EndOfTable()}), 3, 1);
    EXPECT_EQ(s.BIOSExtendedSize(), c.mb) << std::hex << c.extended;
    EXPECT_EQ(s.BIOSSize(), (c.sizeByte + 1u) * 64) << "the older value as it was";
  }
}

// Slot types by their code: the codes the stored type knows keep its texts; the newer ones
// get the standard's names; a load gives the code back wherever the stored type holds it.
TEST(DeviceRecords, SlotTypeCodes) {
  const struct {
    std::uint8_t code;
    std::uint8_t typ;
    const char* text;
  } cases[] = {
      {0x06, 5, "PCI"},
      {0x13, 18, "AGP 8X"},
      {0xA2, 21, "PC-98/E"},
      {0x17, 0, "M.2 Socket 3 (Mechanical Key M)"},
      {0xAA, 0, "PCI Express x16"},
      {0xB6, 0, "PCI Express Gen 3 x16"},
      {0xBD, 0, "PCI Express Gen 4 x16"},
      {0xC3, 0, "PCI Express Gen 5 x16"},
      {0xB7, 0, "Unknown (183)"},
  };
  for (const auto& c : cases) {
    TKyvex_SMBIOS s;
    One(s, Structure(9, 0x09, Area(0x11).U8(0x04, 1).U8(0x05, c.code).U8(0x06, 0x0D), {"SLOT"}), 3, 4);
    ASSERT_EQ(s.SystemSlotCount(), 1u);
    const auto slot = s.GetSystemSlot(0);
    EXPECT_EQ(slot.Typ, c.typ) << c.text;
    EXPECT_EQ(slot.SlotType, c.code) << c.text;
    EXPECT_EQ(SMBIOS_SlotTypeCodeText(slot.SlotType), c.text);
    EXPECT_EQ(SMBIOS_DataBusText(slot.DataBus), "16x or x16");
  }
}
