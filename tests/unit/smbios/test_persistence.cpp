// Saving the SMBIOS component into a storage file and loading it back: the layout element by
// element, round trips, and files that hold less than a save writes.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "report/Report.h"
#include "report/SmbiosReport.h"
#include "common/Kyvex_SS.h"
#include "platform/Text.h"
#include "platform/fake/FakePlatform.h"
#include "smbios/KSI_SMBIOS.h"
#include "smbios/KSI_SMBIOS_Fields.h"
#include "unit/StorageFileDump.h"
#include "unit/smbios/SmbiosTables.h"
#include "unit/TestFolders.h"

using namespace kyvex;
using namespace smbios_test;
using namespace kyvex::filedump;
using platform::FakePlatform;
using platform::ScopedPlatform;
namespace fs = std::filesystem;

namespace {

constexpr const char* kValuesStream = "\x05" "DocumentSummaryInformation";
const char* const kLists[] = {"ProcessorList", "SystemSlotList",    "CacheList",        "OnBoardDeviceList",
                              "PortList",      "MemoryModuleList",  "MemoryDeviceList", "TemperatureProbeList"};

// A stored value as the tests name it: a 64-bit integer, a double or a string.
using Value = std::variant<std::int64_t, double, std::string>;
Value I(std::int64_t v) { return v; }
Value D(double v) { return v; }
Value S(std::string v) { return v; }

// One property: the value a test writes into a file, and the value the component must hold
// after loading it and therefore write when it saves.
struct Row {
  std::string name;
  Value seed;
  Value saved;
};

std::vector<std::string> Sorted(std::vector<std::string> v) {
  std::sort(v.begin(), v.end());
  return v;
}

// The lines Properties gives for rows written in order into a fresh set.
std::vector<std::string> Expected(const std::vector<Row>& rows) {
  std::vector<std::string> out;
  std::uint32_t id = 2;
  for (const auto& r : rows) {
    std::string line = std::to_string(id++) + " " + r.name + " = ";
    if (auto* i = std::get_if<std::int64_t>(&r.saved)) line += "I8 " + std::to_string(*i);
    if (auto* d = std::get_if<double>(&r.saved)) line += "R8 " + std::to_string(*d);
    if (auto* s = std::get_if<std::string>(&r.saved)) line += "LPWSTR " + *s;
    out.push_back(line);
  }
  return out;
}

void WriteRows(TStructuredSTorage& storage, const std::vector<Row>& rows) {
  auto set = storage.OpenPropertySet(FMTID_DocSummaryInformation, 0x12, true);
  // Backwards, so that the ids of the seed are not the ones a save hands out.
  for (auto r = rows.rbegin(); r != rows.rend(); ++r) {
    const auto& ps = set->PropertyStorage();
    if (auto* i = std::get_if<std::int64_t>(&r->seed)) WriteIntegerProperty(ps, r->name, *i);
    if (auto* d = std::get_if<double>(&r->seed)) WriteDoubleProperty(ps, r->name, *d);
    if (auto* s = std::get_if<std::string>(&r->seed)) WriteStringProperty(ps, r->name, *s);
  }
}

// --- The component's values --------------------------------------------------------------

using Getter = std::function<Value(const TKyvex_SMBIOS&)>;
template <class T>
Getter Get(T (TKyvex_SMBIOS::*getter)() const) {
  return [getter](const TKyvex_SMBIOS& s) -> Value {
    if constexpr (std::is_same_v<std::remove_cvref_t<T>, std::string>)
      return (s.*getter)();
    else
      return static_cast<std::int64_t>((s.*getter)());
  };
}

struct ComponentRow {
  Row row;
  Getter get;
};

// The component values in the order they are stored. The seeds carry bits above each
// value's width (and beyond each set's elements), which a load must drop.
const std::vector<ComponentRow>& ComponentRows() {
  using C = TKyvex_SMBIOS;
  static const std::vector<ComponentRow> rows = {
      {{"Version", S("2.7"), S("2.7")}, Get(&C::Version)},
      {{"Revision", S("2.1"), S("2.1")}, Get(&C::Revision)},
      {{"MajorVersion", I(0x102), I(2)}, Get(&C::MajorVersion)},
      {{"MinorVersion", I(7), I(7)}, Get(&C::MinorVersion)},
      {{"SMBIOSAddress", I(0xFFFFFFF0), I(0xFFFFFFF0)}, Get(&C::SMBIOSAddress)},
      {{"StructStart", I(-1), I(0xFFFFFFFF)}, Get(&C::StructStart)},
      {{"StructLength", I(0xFFFF), I(0xFFFF)}, Get(&C::StructLength)},
      {{"StructCount", I(0x10042), I(0x42)}, Get(&C::StructCount)},
      {{"BIOSVendor", S("Phoenix Technologies, LTD"), S("Phoenix Technologies, LTD")}, Get(&C::BIOSVendor)},
      {{"BIOSVersion", S("A12 – révision"), S("A12 – révision")}, Get(&C::BIOSVersion)},
      {{"BIOSDate", S("12/31/2099"), S("12/31/2099")}, Get(&C::BIOSDate)},
      {{"BIOSSize", I(0x100000), I(0x100000)}, Get(&C::BIOSSize)},
      {{"SystemModel", S("Çalışma İstasyonu 7"), S("Çalışma İstasyonu 7")}, Get(&C::SystemModel)},
      {{"SystemManufacturer", S("Müller & Söhne"), S("Müller & Söhne")}, Get(&C::SystemManufacturer)},
      {{"SystemVersion", S("版本 2"), S("版本 2")}, Get(&C::SystemVersion)},
      {{"SystemSerial", S(""), S("")}, Get(&C::SystemSerial)},
      {{"SystemUUID", S("4C4C4544-0042-3510"), S("4C4C4544-0042-3510")}, Get(&C::SystemUUID)},
      {{"MainboardModel", S("0X8DPW"), S("0X8DPW")}, Get(&C::MainBoardModel)},
      {{"MainboardManufacturer", S("Dell Inc."), S("Dell Inc.")}, Get(&C::MainBoardManufacturer)},
      {{"MainboardVersion", S("A00"), S("A00")}, Get(&C::MainBoardVersion)},
      {{"MainboardSerial", S("/7XKJ2/"), S("/7XKJ2/")}, Get(&C::MainBoardSerial)},
      {{"MainboardAssetTag", S("Board tag"), S("Board tag")}, Get(&C::MainBoardAssetTag)},
      {{"MainboardLocationInChassis", S("Fach 3"), S("Fach 3")}, Get(&C::MainBoardLocationInChassis)},
      {{"ChassisModel", I(0x2FE), I(0xFE)}, Get(&C::ChassisModel)},
      {{"ChassisManufacturer", S("Chassis Inc."), S("Chassis Inc.")}, Get(&C::ChassisManufacturer)},
      {{"ChassisVersion", S("CV 1"), S("CV 1")}, Get(&C::ChassisVersion)},
      {{"ChassisSerial", S("CH-42"), S("CH-42")}, Get(&C::ChassisSerial)},
      {{"ChassisAssetTag", S("Chassis tag"), S("Chassis tag")}, Get(&C::ChassisAssetTag)},
      {{"MemCtrlCurrentInterleave", I(smisTwoWay), I(smisTwoWay)}, Get(&C::MemCtrlCurrentInterleave)},
      {{"MemCtrlSupportedInterleave", I(smisEightWay), I(smisEightWay)}, Get(&C::MemCtrlSupportedInterleave)},
      {{"MemCtrlSupportedSpeeds", I(0xE4), I(1 << smms70ns)}, Get(&C::MemCtrlSupportedSpeeds)},
      {{"MemCtrlSupportedTypes", I(0xF410), I(1040)}, Get(&C::MemCtrlSupportedTypes)},
      {{"MemCtrlSupportedVoltages", I(0x0B), I(3)}, Get(&C::MemCtrlSupportedVoltages)},
      {{"MemCtrlMaxSize", I(0x18000), I(0x8000)}, Get(&C::MemCtrlMaxSize)},
      {{"MemCtrlSlotCount", I(0x1FF), I(255)}, Get(&C::MemCtrlSlotCount)}};
  return rows;
}

std::vector<Row> Rows(const std::vector<ComponentRow>& rows) {
  std::vector<Row> out;
  for (const auto& r : rows) out.push_back(r.row);
  return out;
}

template <class R>
std::vector<R> Records(const TKyvex_SMBIOS& s, std::uint32_t (TKyvex_SMBIOS::*count)() const,
                       R (TKyvex_SMBIOS::*get)(std::uint32_t) const) {
  std::vector<R> out;
  for (std::uint32_t i = 0; i < (s.*count)(); ++i) out.push_back((s.*get)(i));
  return out;
}

// The values of records that a file holds, one text each ("Name=value"): the newer values
// beside them are decoded from a table only.
template <class R, class Visit>
std::vector<std::string> StoredValues(const std::vector<R>& records, Visit visit) {
  std::vector<std::string> out;
  for (const auto& r : records)
    visit(r, [&out](const TField& f, const auto& v) {
      if (!f.IsStored()) return;
      using T = std::remove_cvref_t<decltype(v)>;
      if constexpr (std::is_same_v<T, std::string>)
        out.push_back(std::string(f.Name) + "=" + v);
      else
        out.push_back(std::string(f.Name) + "=" + std::to_string(v));
    });
  return out;
}

// Every stored value and record of two components.
void ExpectSameData(const TKyvex_SMBIOS& a, const TKyvex_SMBIOS& b) {
  using C = TKyvex_SMBIOS;
  for (const auto& r : ComponentRows()) EXPECT_EQ(r.get(a), r.get(b)) << r.row.name;
  auto same = [&](auto count, auto get, auto visit) {
    EXPECT_EQ(StoredValues(Records(a, count, get), visit), StoredValues(Records(b, count, get), visit));
  };
  same(&C::ProcessorCount, &C::GetProcessor, SMBIOS_ProcessorFields);
  same(&C::MemoryModuleCount, &C::GetMemoryModule, SMBIOS_MemoryModuleFields);
  same(&C::MemoryDeviceCount, &C::GetMemoryDevice, SMBIOS_MemoryDeviceFields);
  same(&C::PortCount, &C::GetPort, SMBIOS_PortFields);
  same(&C::SystemSlotCount, &C::GetSystemSlot, SMBIOS_SystemSlotFields);
  same(&C::CacheCount, &C::GetCache, SMBIOS_CacheFields);
  same(&C::OnBoardDeviceCount, &C::GetOnBoardDevice, SMBIOS_OnBoardDeviceFields);
  same(&C::TemperatureProbeCount, &C::GetTemperatureProbe, SMBIOS_TemperatureProbeFields);
}

std::uint32_t RecordCount(const TKyvex_SMBIOS& s, const std::string& list) {
  if (list == "ProcessorList") return s.ProcessorCount();
  if (list == "MemoryModuleList") return s.MemoryModuleCount();
  if (list == "MemoryDeviceList") return s.MemoryDeviceCount();
  if (list == "PortList") return s.PortCount();
  if (list == "SystemSlotList") return s.SystemSlotCount();
  if (list == "CacheList") return s.CacheCount();
  if (list == "OnBoardDeviceList") return s.OnBoardDeviceCount();
  return s.TemperatureProbeCount();
}

class SmbiosPersistence : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = kyvex::testing::TestFolder("kyvex-smbios-");
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    file_ = (dir_ / "machine.kyx").string();
    fake_.computerName = "werkbank";
    use_ = std::make_unique<ScopedPlatform>(fake_);
  }
  void TearDown() override {
    use_.reset();
    fs::remove_all(dir_);
  }

  // A component that decoded one of the recorded tables.
  static void FromDump(TKyvex_SMBIOS& s, const std::string& name) {
    std::string error;
    ASSERT_TRUE(s.LoadDumpImage(ReadFile(DataFile(name)), error)) << error;
    s.CollectData();
  }

  // A file that holds the given values and lists below "SMBIOS", written by hand.
  void Seed(const std::vector<Row>& values, const std::vector<std::pair<std::string, std::vector<std::vector<Row>>>>& lists) {
    std::shared_ptr<ole::IStorage> root;
    ASSERT_EQ(ole::StgCreateDocfile(file_, 0x1012, 0, &root), ole::S_OK);
    TStructuredSTorage wrapper(nullptr, root);
    {
      auto own = wrapper.OpenSubStorage("SMBIOS", 0x12, true);
      WriteRows(*own, values);
      for (const auto& [name, records] : lists) {
        auto list = own->OpenSubStorage(name, 0x12, true);
        for (std::size_t i = 0; i < records.size(); ++i) {
          auto record = list->OpenSubStorage(std::to_string(i), 0x12, true);
          WriteRows(*record, records[i]);
        }
      }
    }
    wrapper.Commit();
  }

  fs::path dir_;
  std::string file_;
  FakePlatform fake_;
  std::unique_ptr<ScopedPlatform> use_;
};

TEST_F(SmbiosPersistence, ComponentValuesLoadAndSaveWithTheirNamesKindsAndIds) {
  Seed(Rows(ComponentRows()), {});
  TKyvex_SMBIOS s;
  EXPECT_TRUE(s.LoadFromStorageFile(file_)) << "the file holds the component's data, though no list";
  EXPECT_FALSE(s.LiveData());
  EXPECT_EQ(s.StorageFileName(), file_);
  for (const auto& r : ComponentRows()) EXPECT_EQ(r.get(s), r.row.saved) << r.row.name;
  EXPECT_EQ(s.MemCtrlSupportedTypes(), (1u << smmtEDO) | (1u << smmtSDRAM));

  const std::string saved = (dir_ / "saved.kyx").string();
  s.SaveToStorageFile(saved);
  EXPECT_EQ(Properties(saved, {"SMBIOS"}), Expected(Rows(ComponentRows())));
  // The storage holds its values and all eight lists, empty ones too, and nothing else.
  std::vector<std::string> elements(std::begin(kLists), std::end(kLists));
  elements.push_back(kValuesStream);
  EXPECT_EQ(Elements(saved, {"SMBIOS"}), Sorted(elements));
  for (const char* list : kLists) EXPECT_TRUE(Elements(saved, {"SMBIOS", list}).empty()) << list;
}

TEST_F(SmbiosPersistence, RecordsLoadAndSaveWithTheirNamesKindsAndIds) {
  const std::vector<std::pair<std::string, std::vector<std::vector<Row>>>> lists = {
      {"ProcessorList",
       {{{"Manufacturer", S("GenuineIntel"), S("GenuineIntel")},
         {"Version", S("Xeon® E5-2680"), S("Xeon® E5-2680")},
         {"Socket", S("CPU1"), S("CPU1")},
         {"SerialNumber", S(""), S("")},
         {"AssetTag", S("Unité 1"), S("Unité 1")},
         {"PartNumber", S("PN-1"), S("PN-1")},
         {"Frequency", I(0x10BB8), I(3000)},
         {"ExternalClock", I(100), I(100)},
         {"Upgrade", I(0x12C), I(0x2C)},
         {"Voltage", D(1.35), D(1.35)}}}},
      {"MemoryModuleList",
       {{{"Socket", S("DIMM_A"), S("DIMM_A")},
         {"Speed", I(60), I(60)},
         {"Size", I(0x180000000), I(0x80000000)},
         {"Types", I(0xF410), I(1040)}}}},
      {"MemoryDeviceList",
       {{{"DeviceLocator", S("DIMM 1"), S("DIMM 1")},
         {"BankLocator", S("BANK 0"), S("BANK 0")},
         {"Manufacturer", S("Samsung"), S("Samsung")},
         {"SerialNumber", S("12345678"), S("12345678")},
         {"AssetTag", S("Étiquette"), S("Étiquette")},
         {"PartNumber", S("M393B1K70DH0"), S("M393B1K70DH0")},
         {"Speed", I(1), I(1)},
         {"Size", I(0x8400), I(0x8400)},
         {"TotalWidth", I(72), I(72)},
         {"DataWidth", I(64), I(64)},
         {"FormFactor", I(8), I(8)},
         {"Device", I(0x17), I(0x17)},
         {"TypeDetails", I(0xFFFF), I(0x1FFF)}}}},
      {"PortList",
       {{{"InternalDesignator", S("J1A1"), S("J1A1")},
         {"ExternalDesignator", S("Keyboard"), S("Keyboard")},
         {"InternalConnector", I(160), I(160)},
         {"ExternalConnector", I(15), I(15)},
         {"Typ", I(13), I(13)}}}},
      {"SystemSlotList",
       {{{"Designation", S("PCIE1 – x16"), S("PCIE1 – x16")},
         {"Typ", I(0xA5), I(0xA5)},
         {"DataBus", I(12), I(12)},
         {"ID", I(0x10101), I(0x0101)},
         {"Usage", I(2), I(2)},
         {"Length", I(3), I(3)}}}},
      {"CacheList",
       {{{"Designation", S("L2-Cache"), S("L2-Cache")},
         {"Typ", I(4), I(4)},
         {"SRAMType", I(1), I(1)},
         {"MaxSize", I(0xFFC0), I(0xFFC0)},
         {"InstalledSize", I(4096), I(4096)},
         {"Speed", I(7), I(7)},
         {"Associativity", I(6), I(6)}}}},
      {"OnBoardDeviceList",
       {{{"DeviceName", S("Intel® Ethernet"), S("Intel® Ethernet")}, {"Typ", I(4), I(4)}, {"Status", I(1), I(1)}},
        {{"DeviceName", S("Sound"), S("Sound")}, {"Typ", I(6), I(6)}, {"Status", I(2), I(0)}}}},
      {"TemperatureProbeList",
       {{{"Description", S("CPU Temp"), S("CPU Temp")},
         {"Location", I(2), I(2)},
         {"Status", I(3), I(3)},
         {"Max", I(0x8000), I(0x8000)},
         {"Min", I(0xFFF6), I(0xFFF6)},
         {"Resolution", I(1), I(1)},
         {"Tolerance", I(2), I(2)},
         {"Accuracy", I(5), I(5)},
         {"Value", I(450), I(450)}}}}};
  Seed({}, lists);

  TKyvex_SMBIOS s;
  ASSERT_TRUE(s.LoadFromStorageFile(file_));
  using C = TKyvex_SMBIOS;
  EXPECT_EQ(Records(s, &C::ProcessorCount, &C::GetProcessor),
            (std::vector<TSMBIOS_Processor>{{"CPU1", "GenuineIntel", "Xeon® E5-2680", 0x2C, 1.35, 3000, 100, "",
                                             "Unité 1", "PN-1"}}));
  EXPECT_EQ(Records(s, &C::MemoryModuleCount, &C::GetMemoryModule),
            (std::vector<TSMBIOS_MemoryModule>{{"DIMM_A", 60, 0x80000000, 1040}}));
  EXPECT_EQ(Records(s, &C::MemoryDeviceCount, &C::GetMemoryDevice),
            (std::vector<TSMBIOS_MemoryDevice>{{72, 64, 0x8400, 8, "DIMM 1", "BANK 0", 0x17, 0x1FFF, 1, "Samsung",
                                                "12345678", "Étiquette", "M393B1K70DH0"}}));
  EXPECT_EQ(Records(s, &C::PortCount, &C::GetPort),
            (std::vector<TSMBIOS_Port>{{"J1A1", "Keyboard", 160, 15, 13}}));
  EXPECT_EQ(Records(s, &C::SystemSlotCount, &C::GetSystemSlot),
            (std::vector<TSMBIOS_SystemSlot>{{"PCIE1 – x16", 0xA5, 12, 0x0101, 2, 3}}));
  EXPECT_EQ(Records(s, &C::CacheCount, &C::GetCache),
            (std::vector<TSMBIOS_Cache>{{"L2-Cache", 0xFFC0, 4096, 1, 4, 6, 7}}));
  EXPECT_EQ(Records(s, &C::OnBoardDeviceCount, &C::GetOnBoardDevice),
            (std::vector<TSMBIOS_OnBoardDevice>{{"Intel® Ethernet", 4, true}, {"Sound", 6, false}}))
      << "only a stored 1 is true";
  EXPECT_EQ(Records(s, &C::TemperatureProbeCount, &C::GetTemperatureProbe),
            (std::vector<TSMBIOS_TemperatureProbe>{{"CPU Temp", 2, 3, 0xFFF6, 0x8000, 1, 2, 5, 450}}));

  const std::string saved = (dir_ / "saved.kyx").string();
  s.SaveToStorageFile(saved);
  for (const auto& [list, records] : lists) {
    std::vector<std::string> names;
    for (std::size_t i = 0; i < records.size(); ++i) {
      names.push_back(std::to_string(i));
      EXPECT_EQ(Properties(saved, {"SMBIOS", list, std::to_string(i)}), Expected(records[i])) << list << " " << i;
      EXPECT_EQ(Elements(saved, {"SMBIOS", list, std::to_string(i)}), std::vector<std::string>{kValuesStream});
    }
    EXPECT_EQ(Elements(saved, {"SMBIOS", list}), names) << list;
  }
}

TEST_F(SmbiosPersistence, RecordedMachinesSurviveARoundTrip) {
  for (const char* dump : {"dell-poweredge-8450.bin", "dell-precision-3620.bin", "lenovo-thinkpad-t430.bin",
                           "qemu-kvm-vm.bin"}) {
    SCOPED_TRACE(dump);
    TKyvex_SMBIOS original;
    FromDump(original, dump);
    original.SaveToStorageFile(file_);
    TKyvex_SMBIOS loaded;
    ASSERT_TRUE(loaded.LoadFromStorageFile(file_));
    ExpectSameData(original, loaded);
    EXPECT_NE(original.StructCount(), 0xFFFF) << "the dump's entry point gives it";
    // And a second generation writes the same file content.
    const std::string again = (dir_ / "again.kyx").string();
    loaded.SaveToStorageFile(again);
    for (const char* list : kLists)
      for (std::uint32_t i = 0; i < RecordCount(loaded, list); i += 7)
        EXPECT_EQ(Properties(again, {"SMBIOS", list, std::to_string(i)}),
                  Properties(file_, {"SMBIOS", list, std::to_string(i)}));
    EXPECT_EQ(Properties(again, {"SMBIOS"}), Properties(file_, {"SMBIOS"}));
  }
}

TEST_F(SmbiosPersistence, FirmwareBytesThatAreNotUtf8ComeBackAsTheirCharacters) {
  TKyvex_SMBIOS s;
  Decode(s, Concat({Bios(0, "Fabricant \xE9lectronique", "1.0", "", 0), EndOfTable()}), 2, 3);
  s.SaveToStorageFile(file_);
  TKyvex_SMBIOS loaded;
  ASSERT_TRUE(loaded.LoadFromStorageFile(file_));
  EXPECT_EQ(loaded.BIOSVendor(), "Fabricant \xC3\xA9lectronique");
  EXPECT_EQ(loaded.BIOSVendor(), s.BIOSVendor());
}

TEST_F(SmbiosPersistence, EveryRecordIsKeptBeyondAnEightBitCount) {
  // Three on-board device structures of 125 entries each.
  std::vector<Bytes> parts = {Structure(0, 0, Area(0x12))};
  for (int k = 0; k < 3; ++k) {
    Area a(4 + 2 * 125);
    std::vector<std::string> names;
    for (int i = 0; i < 125; ++i) {
      a.U8(4 + 2 * i, static_cast<std::uint8_t>(0x80 | (i % 7 + 1))).U8(5 + 2 * i, static_cast<std::uint8_t>(i + 1));
      names.push_back("Device " + std::to_string(k * 125 + i));
    }
    parts.push_back(Structure(10, static_cast<std::uint16_t>(k + 1), a, names));
  }
  parts.push_back(EndOfTable());
  Bytes table;
  for (const auto& p : parts) table.insert(table.end(), p.begin(), p.end());
  TKyvex_SMBIOS s;
  Decode(s, table, 2, 3);
  ASSERT_EQ(s.OnBoardDeviceCount(), 375u);
  s.SaveToStorageFile(file_);
  TKyvex_SMBIOS loaded;
  ASSERT_TRUE(loaded.LoadFromStorageFile(file_));
  ASSERT_EQ(loaded.OnBoardDeviceCount(), 375u);
  EXPECT_EQ(loaded.GetOnBoardDevice(374), s.GetOnBoardDevice(374));
  EXPECT_EQ(loaded.GetOnBoardDevice(374).DeviceName, "Device 374");
}

TEST_F(SmbiosPersistence, ListsEndAtTheFirstMissingRecord) {
  TKyvex_SMBIOS original;
  FromDump(original, "dell-poweredge-8450.bin");
  struct Case {
    Path destroyed;  // below "SMBIOS"
    std::string list;
    std::uint32_t count;  // records loaded from that list
  };
  const Case cases[] = {
      {{"MemoryDeviceList", "3"}, "MemoryDeviceList", 3},
      {{"MemoryDeviceList", "0"}, "MemoryDeviceList", 0},
      {{"SystemSlotList", "1", kValuesStream}, "SystemSlotList", 1},
      {{"PortList"}, "PortList", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.destroyed.front() + "\\" + c.destroyed.back());
    ASSERT_GT(RecordCount(original, c.list), c.count + 1) << "the recorded table has records past the gap";
    original.SaveToStorageFile(file_);
    Path path = {"SMBIOS"};
    path.insert(path.end(), c.destroyed.begin(), c.destroyed.end());
    Destroy(file_, path);
    TKyvex_SMBIOS loaded;
    EXPECT_TRUE(loaded.LoadFromStorageFile(file_));
    EXPECT_EQ(RecordCount(loaded, c.list), c.count);
    for (const char* list : kLists) {
      if (list != c.list) EXPECT_EQ(RecordCount(loaded, list), RecordCount(original, list)) << list;
    }
    EXPECT_EQ(loaded.SystemModel(), original.SystemModel());
  }
}

TEST_F(SmbiosPersistence, StorageFileWithoutTheComponentResetsEverything) {
  {
    TKyvex_KSIC_Component header;
    header.SaveToStorageFile(file_);
  }
  TKyvex_SMBIOS s;
  Decode(s, DesktopTable(), 2, 3);
  ASSERT_GT(s.ProcessorCount(), 0u);
  EXPECT_FALSE(s.LoadFromStorageFile(file_)) << "the file holds nothing of the component";
  EXPECT_FALSE(s.LiveData());
  for (const auto& r : ComponentRows()) {
    const Value empty = std::holds_alternative<std::string>(r.row.saved) ? S("") : I(0);
    EXPECT_EQ(r.get(s), empty) << r.row.name;
  }
  EXPECT_EQ(s.ChassisModel(), smchOther);
  for (const char* list : kLists) EXPECT_EQ(RecordCount(s, list), 0u) << list;

  // The storage without its values: the lists load, the values read empty.
  Decode(s, DesktopTable(), 2, 3);
  s.SaveToStorageFile(file_);
  Destroy(file_, {"SMBIOS", kValuesStream});
  TKyvex_SMBIOS loaded;
  EXPECT_TRUE(loaded.LoadFromStorageFile(file_));
  EXPECT_EQ(loaded.SystemModel(), "");
  EXPECT_EQ(loaded.ProcessorCount(), s.ProcessorCount());
}

TEST_F(SmbiosPersistence, FilesThatCannotBeReadChangeNothing) {
  TKyvex_SMBIOS s, before;
  Decode(s, DesktopTable(), 2, 3);
  Decode(before, DesktopTable(), 2, 3);

  std::ofstream(file_) << "BIOS dump, not a storage file\n";
  EXPECT_FALSE(s.LoadFromStorageFile(file_));
  EXPECT_FALSE(s.LiveData());
  EXPECT_EQ(s.StorageFileName(), file_);
  ExpectSameData(s, before);
  EXPECT_FALSE(s.LoadFromStorageFile((dir_ / "absent.kyx").string()));
  ExpectSameData(s, before);

  // A storage file cut after its header: recognised, but it cannot be opened.
  before.SaveToStorageFile(file_);
  fs::resize_file(file_, 512);
  ASSERT_EQ(ole::StgIsStorageFile(file_), ole::S_OK);
  EXPECT_THROW(s.LoadFromStorageFile(file_), EOleSysError);
  ExpectSameData(s, before);
}

// Damage made on a saved file's bytes, for elements the engine opens only when asked for them.
Bytes Utf16(const std::string& ascii) {
  Bytes out;
  for (char c : ascii) out.insert(out.end(), {static_cast<std::uint8_t>(c), 0});
  return out;
}

void WriteBytes(const std::string& file, const Bytes& bytes) {
  std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                              static_cast<std::streamsize>(bytes.size()));
}

// The last values set of the file whose dictionary names `property` loses its byte-order
// mark. A set's stream begins on a 64-byte boundary with FE FF 00 00 and holds its format id
// at 1Ch.
void BreakValuesNaming(const std::string& file, const std::string& property) {
  Bytes bytes = ReadFile(file);
  const Bytes name = Utf16(property), fmtid = {0x02, 0xD5, 0xCD, 0xD5};
  const auto at = std::find_end(bytes.begin(), bytes.end(), name.begin(), name.end());
  ASSERT_NE(at, bytes.end()) << property;
  for (std::size_t p = static_cast<std::size_t>(at - bytes.begin()) / 64 * 64;; p -= 64) {
    if (bytes[p] == 0xFE && bytes[p + 1] == 0xFF && std::equal(fmtid.begin(), fmtid.end(), bytes.begin() + p + 0x1C)) {
      bytes[p] = bytes[p + 1] = 0;
      return WriteBytes(file, bytes);
    }
    ASSERT_GT(p, 0u) << "no set header before " << property;
  }
}

// The directory entry of the storage `name` (UTF-16 name, its length in bytes at 40h, the
// kind at 42h) made a stream's.
void StorageBecomesStream(const std::string& file, const std::string& name) {
  Bytes bytes = ReadFile(file);
  Bytes entry = Utf16(name);
  entry.insert(entry.end(), {0, 0});
  for (std::size_t p = 0; p + 128 <= bytes.size(); p += 128) {
    if (!std::equal(entry.begin(), entry.end(), bytes.begin() + p) || bytes[p + 0x40] != entry.size() ||
        bytes[p + 0x42] != 1)
      continue;
    bytes[p + 0x42] = 2;
    return WriteBytes(file, bytes);
  }
  ADD_FAILURE() << "no storage " << name;
}

TEST_F(SmbiosPersistence, DamagedElementsRaiseAndLeaveTheComponentAsItWas) {
  TKyvex_SMBIOS desktop, laptop;
  Decode(desktop, DesktopTable(), 2, 3);
  Decode(laptop, LaptopTable(), 2, 7);
  ASSERT_EQ(desktop.MemoryDeviceCount(), 0u) << "an empty list: its storage has no elements below it";
  ASSERT_EQ(desktop.CacheCount(), 2u) << "the cache list comes after three lists a load has taken by then";
  struct Case {
    std::function<void(const std::string&)> damage;
    const char* named;  // what the error names
  };
  const Case cases[] = {
      {[](const std::string& f) { BreakValuesNaming(f, "MainboardLocationInChassis"); },
       "SMBIOS/DocumentSummaryInformation"},
      {[](const std::string& f) { BreakValuesNaming(f, "Associativity"); }, "SMBIOS/CacheList/"},
      {[](const std::string& f) { StorageBecomesStream(f, "MemoryDeviceList"); }, "SMBIOS/MemoryDeviceList"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.named);
    desktop.SaveToStorageFile(file_);
    c.damage(file_);
    TKyvex_SMBIOS s;
    Decode(s, LaptopTable(), 2, 7);
    try {
      s.LoadFromStorageFile(file_);
      ADD_FAILURE() << "the damaged file loaded";
    } catch (const EOleSysError& e) {
      EXPECT_NE(std::string(e.what()).find(c.named), std::string::npos) << e.what();
    }
    ExpectSameData(s, laptop);
  }
}

TEST_F(SmbiosPersistence, SharesTheFileWithOtherComponents) {
  // Another component's storage, already in the file.
  {
    std::shared_ptr<ole::IStorage> root;
    ASSERT_EQ(ole::StgCreateDocfile(file_, 0x1012, 0, &root), ole::S_OK);
    TStructuredSTorage wrapper(nullptr, root);
    {
      auto cpu = wrapper.OpenSubStorage("CPU", 0x12, true);
      auto set = cpu->OpenPropertySet(FMTID_DocSummaryInformation, 0x12, true);
      WriteStringProperty(set->PropertyStorage(), "CPUName", "Pentium® III");
    }
    wrapper.Commit();
  }
  TKyvex_SMBIOS big, small;
  FromDump(big, "dell-poweredge-8450.bin");
  FromDump(small, "qemu-kvm-vm.bin");
  ASSERT_GT(big.MemoryDeviceCount(), small.MemoryDeviceCount());
  big.SaveToStorageFile(file_);
  small.SaveToStorageFile(file_);  // replaces the whole storage: no record of the first save is left

  TKyvex_SMBIOS loaded;
  ASSERT_TRUE(loaded.LoadFromStorageFile(file_));
  ExpectSameData(loaded, small);
  EXPECT_EQ(loaded.StorageInfo().MachineName, "WERKBANK");
  EXPECT_EQ(Elements(file_, {}), (std::vector<std::string>{"\x05SummaryInformation", "CPU", "SMBIOS"}));
  EXPECT_EQ(Properties(file_, {"CPU"}), (std::vector<std::string>{"2 CPUName = LPWSTR Pentium® III"}));
}

TEST_F(SmbiosPersistence, ReportOfLoadedDataSaysWhereItCameFrom) {
  TKyvex_SMBIOS original;
  FromDump(original, "lenovo-thinkpad-t430.bin");
  original.SaveToStorageFile(file_);
  TKyvex_SMBIOS loaded;  // never collected: no structure table of its own
  ASSERT_TRUE(loaded.LoadFromStorageFile(file_));
  const std::string system = report::FormatSections(report::SmbiosSystemSections(loaded));
  EXPECT_NE(system.find("loaded from " + file_), std::string::npos) << system;
  EXPECT_NE(system.find("ThinkPad T430"), std::string::npos) << system;
  EXPECT_NE(system.find("Notebook"), std::string::npos) << "chassis type of the file: " << system;
  EXPECT_EQ(system.find("could not be read"), std::string::npos) << system;
  // A file holds the older values only: where the newer ones gave a row its value, the
  // loaded data fall back to what the file holds.
  const auto shown = report::SmbiosDeviceSections(original);
  const auto reloaded = report::SmbiosDeviceSections(loaded);
  for (const char* label : {"Locator", "Part number", "Size", "Type", "Form factor"})
    EXPECT_EQ(RowValue(reloaded, "Memory device 0", label), RowValue(shown, "Memory device 0", label)) << label;
  EXPECT_EQ(RowValue(shown, "Memory device 0", "Speed"), "1600 MT/s");
  EXPECT_EQ(RowValue(reloaded, "Memory device 0", "Speed"), "Unknown") << "DDR3-1600 has no whole ns";
  EXPECT_EQ(RowValue(reloaded, "Cache 3", "Maximum size"), "3072 KB");
  const auto j = report::SmbiosJson(loaded);
  EXPECT_EQ(j["LiveData"], false);
  EXPECT_EQ(j["StorageFileName"], file_);
  auto storedOnly = [](nlohmann::ordered_json list) {
    for (auto& device : list)
      for (const char* key : {"SpeedMTs", "ConfiguredSpeedMTs", "ExtendedSize"}) device.erase(key);
    return list;
  };
  EXPECT_EQ(storedOnly(j["MemoryDeviceList"]), storedOnly(report::SmbiosJson(original)["MemoryDeviceList"]));
}

}  // namespace
