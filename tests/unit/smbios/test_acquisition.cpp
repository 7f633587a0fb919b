// How the component finds the entry point and the table: the firmware-table service, the
// physical-memory section, the 'RSMB' table, the Windows 9x copy and the Linux sources, over
// the fake platform and over a Linux fixture tree.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "common/Kyvex_Native.h"
#include "platform/fake/FakePlatform.h"
#include "report/SmbiosReport.h"
#include "smbios/KSI_SMBIOS.h"
#include "unit/smbios/SmbiosTables.h"

#ifndef _WIN32
#include "platform/linux/LinuxPlatform.h"
#endif

using namespace kyvex;
using namespace smbios_test;
using platform::FakePlatform;
using platform::ScopedPlatform;

namespace {

Bytes Rsmb(std::uint8_t major, std::uint8_t minor, const Bytes& table) {
  Bytes raw{0, major, minor, 0x23, 0, 0, 0, 0};
  const auto n = static_cast<std::uint32_t>(table.size());
  for (int i = 0; i < 4; ++i) raw[4 + i] = static_cast<std::uint8_t>(n >> (8 * i));
  raw.insert(raw.end(), table.begin(), table.end());
  return raw;
}

// A machine whose firmware area C0000h..FFFFFh and memory above it are scripted.
struct Machine {
  FakePlatform fake;
  Bytes area = Bytes(0x40000, 0xFF);
  const Bytes table = DesktopTable();

  Machine() {
    fake.loadedModules["NTDLL.DLL"] = 0x7C900000;
    for (const char* name : kNativeExportNames) fake.exports[0x7C900000].insert(name);
    Admin(true);
  }
  void Admin(bool admin) {
    fake.groupSids = std::vector<std::vector<std::uint8_t>>{platform::SidUsers()};
    if (admin) fake.groupSids->push_back(platform::SidAdministrators());
  }
  void Put(std::uint32_t address, const Bytes& bytes) {
    if (address >= 0xC0000 && address < 0x100000)
      std::copy(bytes.begin(), bytes.end(), area.begin() + (address - 0xC0000));
    else
      fake.firmware.SetPhysical(address, bytes);
  }
  Bytes Entry(std::uint32_t tableAddress) const {
    return EntryPoint2(2, 3, static_cast<std::uint16_t>(table.size()), tableAddress, 16, 0x21);
  }
  // The area goes to physical memory, and to the service's 'FIRM' regions when `service`.
  void Publish(bool service) {
    fake.firmware.SetPhysical(0xC0000, area);
    if (service) {
      fake.firmware.tableServicePresent = true;
      fake.firmware.firmwareTables[platform::kProviderFIRM][0xC0000] = Bytes(area.begin(), area.begin() + 0x20000);
      fake.firmware.firmwareTables[platform::kProviderFIRM][0xE0000] = Bytes(area.begin() + 0x20000, area.end());
    }
  }
};

TEST(Acquisition, FirmwareServiceAreaHoldsEntryPointAndTable) {
  Machine m;
  m.Put(0xF0000, m.Entry(0xF1000));
  m.Put(0xF1000, m.table);
  m.Publish(true);
  ScopedPlatform use(m.fake);
  TKyvex_SMBIOS s;
  s.CollectData();
  EXPECT_EQ(s.SMBIOSAddress(), 0x30000u) << "an offset from C0000h";
  EXPECT_EQ(s.StructStart(), 0u) << "cut out of the area";
  EXPECT_EQ(s.StructLength(), m.table.size());
  EXPECT_EQ(s.StructCount(), 16);
  EXPECT_EQ(s.Version(), "2.3");
  EXPECT_EQ(s.Revision(), "2.1");
  EXPECT_EQ(s.EntryPointAnchor(), "_SM_");
  EXPECT_EQ(s.TableSource(), tsFirmwareArea);
  EXPECT_EQ(s.BIOSVendor(), "Award Software");
  EXPECT_EQ(s.ProcessorCount(), 1u);
  EXPECT_TRUE(m.fake.firmware.sectionName.empty()) << "no physical memory was needed";
}

TEST(Acquisition, TableAboveTheFirmwareAreaComesFromASourceThatHoldsIt) {
  // The bytes after the entry point look like a table of their own; they must never be
  // decoded as this machine's.
  const Bytes decoy = Structure(0, 0, Area(0x12).U8(0x04, 1), {"NOT THE TABLE"});
  struct Case {
    const char* what;
    bool sectionOpens, rsmb;
    TSMBIOS_TableSource source;
    std::uint32_t structStart;
  };
  for (const Case& c : {Case{"physical memory", true, false, tsPhysicalMemory, 0x7FFE0000},
                        Case{"section refused: RSMB", false, true, tsFirmwareService, 0},
                        Case{"RSMB before the section", true, true, tsFirmwareService, 0},
                        Case{"neither: nothing decoded", false, false, tsNone, 0x7FFE0000}}) {
    Machine m;
    Bytes entry = m.Entry(0x7FFE0000);
    m.Put(0xF0000, entry);
    m.Put(0xF0000 + 0x1F, decoy);
    m.Put(0x7FFE0000, m.table);
    m.Publish(true);
    if (!c.sectionOpens) m.fake.firmware.sectionStatus = platform::kStatusAccessDenied;
    if (c.rsmb) m.fake.firmware.firmwareTables[platform::kProviderRSMB][0] = Rsmb(2, 3, m.table);
    ScopedPlatform use(m.fake);
    TKyvex_SMBIOS s;
    s.CollectData();
    EXPECT_EQ(s.TableSource(), c.source) << c.what;
    EXPECT_EQ(s.SMBIOSAddress(), 0x30000u) << c.what;
    EXPECT_EQ(s.Version(), "2.3") << c.what;
    EXPECT_NE(s.BIOSVendor(), "NOT THE TABLE") << c.what;
    EXPECT_EQ(s.BIOSVendor(), c.source == tsNone ? "" : "Award Software") << c.what;
    if (c.source != tsNone) EXPECT_EQ(s.StructStart(), c.structStart) << c.what;
    if (c.source == tsNone) EXPECT_TRUE(s.StructTables().empty()) << c.what;
    if (c.rsmb) EXPECT_TRUE(m.fake.firmware.sectionName.empty()) << c.what;
  }
}

// A UEFI machine: the service has no 'FIRM' regions and the physical-memory section is
// refused, as on every NT system since Server 2003 SP1. With 'RSMB' there, 'RSMB' is the first
// thing asked, nothing is written to the temporary folder and no process is started. Without
// it the segment dump is what is left, but only where DOS programs run: 64-bit Windows (and
// WOW64) writes and starts nothing either. The case with the dump shows that the fake would
// have seen one.
TEST(Acquisition, UefiMachineUsesRsmbWithoutTheSegmentDump) {
  struct Case {
    bool rsmb, dosPrograms;
    TSMBIOS_TableSource source;
    bool dumpRuns;
  };
  for (const Case& c : {Case{true, true, tsFirmwareService, false}, Case{true, false, tsFirmwareService, false},
                        Case{false, true, tsNone, true}, Case{false, false, tsNone, false}}) {
    SCOPED_TRACE(testing::Message() << "RSMB " << c.rsmb << ", DOS programs " << c.dosPrograms);
    Machine m;
    m.fake.firmware.tableServicePresent = true;
    m.fake.firmware.sectionStatus = platform::kStatusAccessDenied;
    m.fake.firmware.dosPrograms = c.dosPrograms;
    if (c.rsmb) m.fake.firmware.firmwareTables[platform::kProviderRSMB][0] = Rsmb(3, 4, LaptopTable());
    ScopedPlatform use(m.fake);
    TKyvex_SMBIOS s;
    s.CollectData();
    const auto& fw = m.fake.firmware;
    EXPECT_EQ(s.TableSource(), c.source);
    ASSERT_FALSE(fw.providersAsked.empty());
    EXPECT_EQ(fw.providersAsked.front(), platform::kProviderRSMB) << "the service's table is asked first";
    if (c.rsmb) {
      EXPECT_EQ(s.SystemVersion(), "ThinkPad T430");
      EXPECT_TRUE(fw.sectionName.empty()) << "the section is not even asked for";
      EXPECT_EQ(s.RomWindow().MemorySize(), 0u) << "no firmware area was read";
    }
    EXPECT_EQ(fw.writtenFiles.empty(), !c.dumpRuns);
    EXPECT_EQ(fw.createdDirectories.empty(), !c.dumpRuns);
    EXPECT_EQ(fw.commandLines.empty(), !c.dumpRuns);
    EXPECT_EQ(fw.openHandles, 0);
  }
}

TEST(Acquisition, PhysicalMemoryWindowDependsOnRights) {
  for (bool admin : {true, false}) {
    Machine m;
    m.Admin(admin);
    m.Put(0xE0010, m.Entry(0xE1000));  // outside F0000h..FFFFFh
    m.Put(0xE1000, m.table);
    m.Publish(false);
    ScopedPlatform use(m.fake);
    TKyvex_SMBIOS s;
    s.CollectData();
    EXPECT_EQ(s.RomWindow().StartAddress(), admin ? 0xC0000u : 0xF0000u);
    EXPECT_EQ(s.RomWindow().MemorySize(), admin ? 0x40000u : 0x10000u);
    EXPECT_EQ(s.RomWindow().EndAddress(), 0xFFFFFu);
    EXPECT_EQ(s.SMBIOSAddress(), admin ? 0xE0010u : 0u);
    EXPECT_EQ(s.StructStart(), admin ? 0xE1000u : 0u);
    EXPECT_EQ(s.TableSource(), admin ? tsPhysicalMemory : tsNone);
    EXPECT_EQ(s.SystemModel(), admin ? "P4P800" : "");
  }
}

TEST(Acquisition, AnchorsAreSearchedInOrder) {
  {
    // "_SM_" without "_DMI_" 16 bytes on is not taken; the lone "_DMI_" is, 16 bytes back.
    Machine m;
    Bytes broken = m.Entry(0xF1000);
    broken[0x10] = 'X';
    m.Put(0xF0000, broken);
    Bytes legacy(0x0F, 0);
    std::memcpy(legacy.data(), "_DMI_", 5);
    legacy[6] = static_cast<std::uint8_t>(m.table.size());
    legacy[7] = static_cast<std::uint8_t>(m.table.size() >> 8);
    legacy[8] = 0x00, legacy[9] = 0x10, legacy[10] = 0x0F;  // F1000h
    legacy[0x0C] = 7;
    legacy[0x0E] = 0x21;
    m.Put(0xF8010, legacy);
    m.Put(0xF1000, m.table);
    m.Publish(false);
    ScopedPlatform use(m.fake);
    TKyvex_SMBIOS s;
    s.CollectData();
    EXPECT_EQ(s.EntryPointAnchor(), "_DMI_");
    EXPECT_EQ(s.SMBIOSAddress(), 0xF8000u);
    EXPECT_EQ(s.Version(), "2.1") << "the legacy entry point's version is its BCD revision";
    EXPECT_EQ(s.StructCount(), 7);
    EXPECT_EQ(s.BIOSVendor(), "Award Software");
  }
  {
    // Only a 64-bit entry point: the table at its 64-bit address, counted by the walk.
    Machine m;
    m.Put(0xF0100, EntryPoint3(3, 2, 0x4000, 0x7FF00000));
    m.Put(0x7FF00000, m.table);
    m.Publish(false);
    ScopedPlatform use(m.fake);
    TKyvex_SMBIOS s;
    s.CollectData();
    EXPECT_EQ(s.EntryPointAnchor(), "_SM3_");
    EXPECT_EQ(s.SMBIOSAddress(), 0xF0100u);
    EXPECT_EQ(s.Version(), "3.2");
    EXPECT_EQ(s.Revision(), "0.1");
    EXPECT_EQ(s.StructStart(), 0x7FF00000u);
    EXPECT_EQ(s.StructLength(), 0x4000) << "the entry point gives a maximum; the walk ends at end-of-table";
    EXPECT_EQ(s.StructCount(), s.StructTables().size());
    EXPECT_EQ(s.StructTables().back().StructType, 127);
    EXPECT_EQ(s.GetProcessor(0).SerialNumber, "CPU-SERIAL");
  }
  {
    // A 64-bit table address above 4 GB is out of the windows' reach.
    Machine m;
    m.Put(0xF0100, EntryPoint3(3, 0, 0x1000, 0x100000000ull));
    m.Publish(false);
    ScopedPlatform use(m.fake);
    TKyvex_SMBIOS s;
    s.CollectData();
    EXPECT_EQ(s.EntryPointAnchor(), "_SM3_");
    EXPECT_EQ(s.TableSource(), tsNone);
    EXPECT_TRUE(s.StructTables().empty());
  }
}

TEST(Acquisition, RsmbWhenTheAreaHasNoEntryPoint) {
  Machine m;
  m.Publish(true);
  m.fake.firmware.firmwareTables[platform::kProviderRSMB][0] = Rsmb(3, 4, LaptopTable());
  ScopedPlatform use(m.fake);
  TKyvex_SMBIOS s;
  s.CollectData();
  EXPECT_EQ(s.TableSource(), tsFirmwareService);
  EXPECT_EQ(s.SMBIOSAddress(), 0u);
  EXPECT_EQ(s.StructStart(), 0u);
  EXPECT_EQ(s.EntryPointAnchor(), "");
  EXPECT_EQ(s.Version(), "3.4");
  EXPECT_EQ(s.Revision(), "2.3");
  EXPECT_EQ(s.StructLength(), LaptopTable().size());
  EXPECT_EQ(s.StructCount(), s.StructTables().size());
  EXPECT_EQ(s.SystemVersion(), "ThinkPad T430");
  EXPECT_EQ(s.GetMemoryDevice(0).PartNumber, "M471B5273DH0-CK0");
}

TEST(Acquisition, RsmbRepliesThatDoNotAddUpAreClipped) {
  Machine m;
  m.Publish(true);
  Bytes raw = Rsmb(2, 7, LaptopTable());
  raw[4] = 0xFF, raw[5] = 0xFF, raw[6] = 0xFF, raw[7] = 0x7F;  // claims far more than it holds
  m.fake.firmware.firmwareTables[platform::kProviderRSMB][0] = raw;
  ScopedPlatform use(m.fake);
  TKyvex_SMBIOS s;
  s.CollectData();
  EXPECT_EQ(s.TableWindow().MemorySize(), LaptopTable().size());
  EXPECT_EQ(s.SystemVersion(), "ThinkPad T430");

  m.fake.firmware.firmwareTables[platform::kProviderRSMB][0] = Bytes{0, 2, 7};
  s.CollectData();
  EXPECT_EQ(s.TableSource(), tsNone) << "shorter than its header";
}

TEST(Acquisition, NothingFoundReportsCleanlyAndForgetsTheLastTable) {
  Machine m;
  m.Put(0xF0000, m.Entry(0xF1000));
  m.Put(0xF1000, m.table);
  m.Publish(false);
  ScopedPlatform use(m.fake);
  TKyvex_SMBIOS s;
  s.CollectData();
  ASSERT_EQ(s.BIOSVendor(), "Award Software");

  m.fake.firmware.physicalMemory.clear();
  m.fake.firmware.sectionStatus = platform::kStatusAccessDenied;
  m.fake.firmware.environment.clear();  // no segment dump either
  s.CollectData();
  EXPECT_EQ(s.TableSource(), tsNone);
  EXPECT_EQ(s.SMBIOSAddress(), 0u);
  EXPECT_EQ(s.Version(), "");
  EXPECT_EQ(s.BIOSVendor(), "") << "the earlier refresh's table is not decoded again";
  EXPECT_EQ(s.BIOSSize(), 0u);
  EXPECT_EQ(s.ProcessorCount(), 0u);
  EXPECT_TRUE(s.StructTables().empty());
  EXPECT_TRUE(s.LiveData());
  // Nothing of the earlier table is left: not its entry point's revision either, and the
  // enumerations are back at their "unknown" members.
  EXPECT_EQ(s.Revision(), "");
  EXPECT_EQ(s.MajorVersion(), 0);
  EXPECT_EQ(s.ChassisModel(), smchUnknown);
  EXPECT_EQ(s.MemCtrlCurrentInterleave(), smisUnknown);
  TKyvex_SMBIOS never;
  never.CollectData();
  EXPECT_EQ(report::SmbiosJson(s), report::SmbiosJson(never));
}

// A reading without a table says what more rights would give, in the words of the system it
// runs on, and only where the process lacks them.
TEST(Acquisition, NoTableReportTellsWhatNeedsRights) {
  const char* const kKey = "HARDWARE\\DESCRIPTION\\System\\BIOS";
  struct Case {
    const char* what;
    std::uint32_t platformId;
    bool admin, identity;
    const char* expected;     // in the text report
    const char* notExpected;  // nor this
  };
  const Case cases[] = {
      {"Linux, no root", platform::kPlatformLinux, false, true, "need root", "could not be read"},
      {"Linux, no root, nothing at all", platform::kPlatformLinux, false, false, "need root", "Main board"},
      {"Linux, root", platform::kPlatformLinux, true, false, "offers no SMBIOS tables", "need root"},
      {"Windows, no administrator", platform::kPlatformWin32NT, false, true, "administrator rights", "root"},
      {"Windows 98: no rights to lack", platform::kPlatformWin32Windows, false, false, "offers no SMBIOS tables",
       "administrator"},
  };
  for (const auto& c : cases) {
    Machine m;
    m.Admin(c.admin);
    m.fake.version.dwPlatformId = c.platformId;
    m.fake.firmware.sectionStatus = platform::kStatusAccessDenied;
    m.fake.firmware.environment.clear();
    if (c.identity) {
      m.fake.SetRegistryString(platform::RegRoot::LocalMachine, kKey, "SystemManufacturer", "LENOVO");
      m.fake.SetRegistryString(platform::RegRoot::LocalMachine, kKey, "BaseBoardProduct", "20N2000RUS");
    }
    ScopedPlatform use(m.fake);
    TKyvex_SMBIOS s;
    s.CollectData();
    const bool needRights = !c.admin && c.platformId != platform::kPlatformWin32Windows;
    EXPECT_EQ(s.TablesNeedRights(), needRights) << c.what;
    EXPECT_EQ(s.TableSource(), c.identity ? tsIdentityOnly : tsNone) << c.what;
    const std::string text = report::FormatSections(report::SmbiosSystemSections(s)) +
                             report::FormatSections(report::SmbiosDeviceSections(s));
    EXPECT_NE(text.find(c.expected), std::string::npos) << c.what << "\n" << text;
    EXPECT_EQ(text.find(c.notExpected), std::string::npos) << c.what << "\n" << text;
    if (c.identity) EXPECT_EQ(s.MainBoardModel(), "20N2000RUS") << c.what;
    EXPECT_EQ(report::SmbiosJson(s).value("TablesNeedRights", false), needRights) << c.what;
  }
}

TEST(Acquisition, Windows9xCopiesTheAreaDirectly) {
  Machine m;
  m.fake.version.dwPlatformId = platform::kPlatformWin32Windows;
  m.fake.version.dwMajorVersion = 4;
  m.fake.version.dwMinorVersion = 90;
  m.Put(0xF0000, m.Entry(0xF1000));
  m.Put(0xF1000, m.table);
  m.Publish(false);
  ScopedPlatform use(m.fake);
  TKyvex_SMBIOS s;
  s.CollectData();
  EXPECT_EQ(m.fake.firmware.linearReads, (std::vector<std::uint32_t>{0xC0000, 0xF1000}));
  EXPECT_EQ(s.TableSource(), tsPhysicalMemory);
  EXPECT_EQ(s.BIOSVendor(), "Award Software");

  m.fake.firmware.linearReadFaults = true;
  s.CollectData();
  EXPECT_FALSE(s.RomWindow().HoldsData());
  EXPECT_EQ(s.TableSource(), tsNone);
  EXPECT_EQ(s.BIOSVendor(), "");
}

TEST(Acquisition, LoadedTableIsDecodedWithoutReadingMemory) {
  Machine m;
  ScopedPlatform use(m.fake);
  TKyvex_SMBIOS s;
  const Bytes table = LaptopTable();
  Decode(s, table, 2, 7);
  EXPECT_EQ(s.StructCount(), 0xFFFF);
  EXPECT_EQ(s.StructLength(), table.size());
  EXPECT_EQ(s.StructStart(), 0u);
  EXPECT_EQ(s.Version(), "2.7");
  EXPECT_EQ(s.TableSource(), tsLoaded);
  EXPECT_EQ(s.SystemModel(), "2349KTG");
  EXPECT_EQ(m.fake.firmware.firmwareTableCalls, 0);
  EXPECT_TRUE(m.fake.firmware.mappedOffsets.empty());
}

TEST(Acquisition, DumpImagesOfEveryEntryPointKind) {
  const Bytes table = LaptopTable();
  const auto n = static_cast<std::uint16_t>(table.size());
  Bytes legacy(0x0F, 0);
  std::memcpy(legacy.data(), "_DMI_", 5);
  legacy[6] = static_cast<std::uint8_t>(n), legacy[7] = static_cast<std::uint8_t>(n >> 8), legacy[0x0E] = 0x26;
  const struct {
    Bytes entry;
    const char* anchor;
    const char* version;
  } cases[] = {{EntryPoint2(2, 7, n, 0x20, 9), "_SM_", "2.7"},
               {EntryPoint3(3, 3, n, 0x20), "_SM3_", "3.3"},
               {legacy, "_DMI_", "2.6"}};
  for (const auto& c : cases) {
    TKyvex_SMBIOS s;
    std::string error;
    ASSERT_TRUE(s.LoadDumpImage(DumpImage(c.entry, table), error)) << error;
    EXPECT_FALSE(s.ReadLocalMemory());
    s.CollectData();
    EXPECT_EQ(s.EntryPointAnchor(), c.anchor);
    EXPECT_EQ(s.Version(), c.version);
    EXPECT_EQ(s.SystemVersion(), "ThinkPad T430") << c.anchor;
    EXPECT_EQ(s.StructLength(), n);
    EXPECT_EQ(s.DumpShortfall(), "") << "a whole table";
  }

  TKyvex_SMBIOS s;
  std::string error;
  EXPECT_FALSE(s.LoadDumpImage(Bytes(10, 0), error));
  EXPECT_NE(error.find("too short"), std::string::npos);
  EXPECT_FALSE(s.LoadDumpImage(DumpImage(Bytes{'M', 'Z'}, table), error));
  EXPECT_NE(error.find("no SMBIOS entry point"), std::string::npos);

  // A table cut short by the file: what the file holds is decoded, the rest reads 0.
  Bytes cut = DumpImage(EntryPoint2(2, 7, n, 0x20, 9), table);
  cut.resize(0x20 + 0x30);
  ASSERT_TRUE(s.LoadDumpImage(cut, error));
  s.CollectData();
  EXPECT_EQ(s.TableWindow().MemorySize(), 0x30u);
  EXPECT_EQ(s.BIOSSize(), 1024u * 16);
  EXPECT_NE(s.DumpShortfall().find("(48 of " + std::to_string(n) + " bytes)"), std::string::npos) << s.DumpShortfall();
  // A 64-bit entry point gives the table's maximum size, which a shorter table does not miss.
  Bytes maximum = DumpImage(EntryPoint3(3, 3, static_cast<std::uint16_t>(n + 0x100), 0x20), table);
  ASSERT_TRUE(s.LoadDumpImage(maximum, error));
  EXPECT_EQ(s.DumpShortfall(), "");
}

#ifndef _WIN32
namespace fs = std::filesystem;

struct FixtureTree {
  fs::path root;
  FixtureTree() {
    root = fs::temp_directory_path() / ("kyvex-smbios-" + std::to_string(::getpid()));
    fs::remove_all(root);
    fs::create_directories(root);
  }
  ~FixtureTree() { fs::remove_all(root); }
  void Write(const std::string& path, const Bytes& data) {
    const fs::path p = root / path.substr(1);
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(data.data()), data.size());
  }
};

TEST(LinuxAcquisition, KernelTablesAreTheFirmwareServicesTable) {
  const Bytes image = ReadFile(DataFile("dell-precision-3620.bin"));
  ASSERT_GT(image.size(), 0x20u);
  FixtureTree tree;
  tree.Write("/sys/firmware/dmi/tables/smbios_entry_point", Bytes(image.begin(), image.begin() + 0x18));
  tree.Write("/sys/firmware/dmi/tables/DMI", Bytes(image.begin() + 0x20, image.end()));
  platform::LinuxPlatform layer(tree.root.string());
  ScopedPlatform use(layer);
  TKyvex_SMBIOS s;
  s.CollectData();
  EXPECT_EQ(s.TableSource(), tsFirmwareService);
  EXPECT_EQ(s.Version(), "3.0");
  EXPECT_EQ(s.SystemManufacturer(), "Dell Inc.");
  EXPECT_EQ(s.SystemModel(), "Precision Tower 3620");
  EXPECT_FALSE(fs::exists(fs::temp_directory_path() / "~RomDmp1")) << "no segment dump without an interpreter";
}

TEST(LinuxAcquisition, DevMemWherePermitted) {
  const Bytes table = DesktopTable();
  Bytes mem(0x100000, 0);
  const Bytes entry = EntryPoint2(2, 3, static_cast<std::uint16_t>(table.size()), 0xF1000, 16);
  std::copy(entry.begin(), entry.end(), mem.begin() + 0xF0000);
  std::copy(table.begin(), table.end(), mem.begin() + 0xF1000);
  FixtureTree tree;
  tree.Write("/dev/mem", mem);
  platform::LinuxPlatform layer(tree.root.string());
  ScopedPlatform use(layer);
  TKyvex_SMBIOS s;
  s.CollectData();
  EXPECT_EQ(s.TableSource(), tsPhysicalMemory);
  EXPECT_EQ(s.SMBIOSAddress(), 0xF0000u);
  EXPECT_EQ(s.SystemModel(), "P4P800");
}

TEST(LinuxAcquisition, NoTablesAnywhereIsNoError) {
  FixtureTree tree;
  platform::LinuxPlatform layer(tree.root.string());
  ScopedPlatform use(layer);
  TKyvex_SMBIOS s;
  s.CollectData();
  EXPECT_EQ(s.TableSource(), tsNone);
  EXPECT_EQ(s.SMBIOSAddress(), 0u);
  EXPECT_EQ(s.SystemModel(), "");
  EXPECT_EQ(s.ProcessorCount(), 0u);
}

// Without read access to the tables (here: the tree has none), the kernel's identity files
// name the BIOS, system, board and chassis. The serial and UUID files are root's alone: the
// layer never reads them, so that a root run does not show more than the tables would.
TEST(LinuxAcquisition, IdentityFilesWhenTheTablesCannotBeRead) {
  FixtureTree tree;
  auto put = [&](const char* file, const std::string& text) {
    tree.Write(std::string("/sys/class/dmi/id/") + file, Bytes(text.begin(), text.end()));
  };
  put("bios_vendor", "LENOVO\n");
  put("bios_version", "N2IET98W (1.76 )\n");
  put("bios_date", "10/19/2021\n");
  put("sys_vendor", "LENOVO\n");
  put("product_name", "20N2000RUS\n");
  put("product_version", "ThinkPad T490\n");
  put("board_vendor", "LENOVO\n");
  put("board_name", "20N2000RUS\n");
  put("board_version", "SDK0J40697 WIN\n");
  put("board_asset_tag", "Not Available\n");
  put("chassis_vendor", "LENOVO\n");
  put("chassis_version", "None\n");
  put("chassis_type", "10\n");
  put("product_serial", "PF1ABCDE\n");
  put("product_uuid", "12345678-1234-1234-1234-123456789abc\n");
  put("board_serial", "L1HF9AB0123\n");
  put("chassis_serial", "PF1ABCDE\n");
  platform::LinuxPlatform layer(tree.root.string());
  ScopedPlatform use(layer);
  TKyvex_SMBIOS s;
  s.CollectData();
  EXPECT_EQ(s.TableSource(), tsIdentityOnly);
  EXPECT_EQ(s.BIOSVendor(), "LENOVO");
  EXPECT_EQ(s.BIOSVersion(), "N2IET98W (1.76 )");
  EXPECT_EQ(s.BIOSDate(), "10/19/2021");
  EXPECT_EQ(s.SystemManufacturer(), "LENOVO");
  EXPECT_EQ(s.SystemModel(), "20N2000RUS");
  EXPECT_EQ(s.SystemVersion(), "ThinkPad T490");
  EXPECT_EQ(s.MainBoardManufacturer(), "LENOVO");
  EXPECT_EQ(s.MainBoardModel(), "20N2000RUS");
  EXPECT_EQ(s.MainBoardVersion(), "SDK0J40697 WIN");
  EXPECT_EQ(s.MainBoardAssetTag(), "Not Available");
  EXPECT_EQ(s.ChassisManufacturer(), "LENOVO");
  EXPECT_EQ(s.ChassisModel(), smchNotebook);
  EXPECT_TRUE(s.IdentityChassisType());
  EXPECT_EQ(s.SystemSerial() + s.SystemUUID() + s.MainBoardSerial() + s.ChassisSerial(), "");
  EXPECT_EQ(s.BIOSSize(), 0u) << "only the table knows the ROM size";
  EXPECT_EQ(s.ProcessorCount() + s.MemoryDeviceCount() + s.CacheCount() + s.SystemSlotCount(), 0u);
  EXPECT_EQ(s.Version(), "");
  const std::string system = report::FormatSections(report::SmbiosSystemSections(s));
  EXPECT_NE(system.find("Notebook"), std::string::npos) << system;
  EXPECT_NE(system.find("/sys/class/dmi/id"), std::string::npos) << system;

  // A chassis type file alone that holds no number is left out, not taken as code 0.
  put("chassis_type", "\n");
  s.CollectData();
  EXPECT_FALSE(s.IdentityChassisType());
  EXPECT_EQ(s.ChassisModel(), smchUnknown);
}

TEST(LinuxAcquisition, ThisMachine) {
  if (fs::exists("/sys/firmware/dmi/tables/DMI") || fs::exists("/dev/mem") || fs::exists("/sys/class/dmi/id"))
    GTEST_SKIP() << "this machine has firmware tables to read";
  TKyvex_SMBIOS s;
  s.CollectData();
  EXPECT_EQ(s.TableSource(), tsNone);
  EXPECT_EQ(s.Version(), "");
  EXPECT_TRUE(s.StructTables().empty());
}
#endif

}  // namespace
