// The storage component in a storage file: what a save writes, element by element and value
// by value, what a load rebuilds from it, and how a load copes with files that hold less.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "report/StorageReport.h"
#include "common/Kyvex_SS.h"
#include "platform/Text.h"
#include "platform/fake/FakePlatform.h"
#include "storage/KSI_Storage.h"
#include "unit/compound/CompoundTestSupport.h"

using namespace kyvex;
using kyvex::testing::TempDir;
using platform::FakePlatform;
using platform::ScopedPlatform;

namespace {

class TestStorage : public TKyvex_Storage {
 public:
  using TKyvex_Storage::FLogicalDevices;
  using TKyvex_Storage::FPhysicalDevices;
};

TSMARTAttribute Attribute(std::uint8_t id, std::uint8_t raw) {
  TSMARTAttribute a;
  a.Bytes = {id, 0x32, 0, 100, 90, raw, 0, 0, 0, 0, 0, 0};
  return a;
}

// Values at the edges of every width: the top bit of each unsigned field set, negative signed
// ones, text outside ASCII, a 64-bit geometry, a fully flagged partition.
TDeviceInfo Disk() {
  TDeviceInfo d;
  d.Device = 0xFFFFFFFE;
  d.PHYSIndex = -1;
  d.SerialNumber = "S3Z9NB0K123456";
  d.Model = "Samsung SSD 860 EVO — Çağrı Ölçüm";
  d.Vendor = "ATA";
  d.Revision = "RVT04B6Q";
  d.VendorStr = "Ünvan";
  d.LocationAvailable = true;
  d.HaId = 0xFF;
  d.Target = 1;
  d.Lun = 0x80;
  d.PathID = 2;
  d.DeviceType = kDeviceTypeDisk;
  d.MediaType = 0xFFFFFFFF;
  d.BusType = 11;
  d.Size = 500107862016;
  d.Cylinders = -5;
  d.Heads = 255;
  d.BytesPerSector = 512;
  d.BytesPerTrack = 32256;
  d.SectorsPerTrack = 63;
  d.ExtraInfoAvailable = true;
  d.CtlBufSize = 0x80000000;
  d.ECCCode = 4;
  d.ATAVersion = -2;
  d.SMARTSupport = true;
  d.SMARTActive = false;
  d.Layout = {{1048576, 0x7FFFFFFFFFFFFFFF, 0xFFFFFFFF, 1, 0xEE, true, true, false},
              {-1, 0, 0, 2, 0x07, false, false, true}};
  d.Geometry = {0x100000001, 12, 255, 63, 4096};
  d.SMARTAttributes = {Attribute(5, 0), Attribute(194, 41)};
  d.Temperature = 0xC8;
  return d;
}

TDeviceInfo DvdWriter() {
  TDeviceInfo d;
  d.Device = 1;
  d.PHYSIndex = -1;
  d.Model = "DVD-RAM GH22NS50";
  d.Vendor = "HL-DT-ST";
  d.DeviceType = kDeviceTypeCdRom;
  d.Removable = true;
  d.Read_CDR = d.Read_CDRW = d.Write_CDR = d.Write_CDRW = true;
  d.Read_DVDROM = d.Read_DVDR = d.Read_DVDRAM = d.Write_DVDR = d.Write_DVDRAM = true;
  return d;
}

TDeviceInfo Volume(char letter, std::int32_t physIndex) {
  TDeviceInfo d;
  d.Drive = letter;
  d.Device = static_cast<unsigned char>(letter);
  d.PHYSIndex = physIndex;
  d.Model = "Samsung SSD 860 EVO — Çağrı Ölçüm";
  d.DeviceType = kDeviceTypeDisk;
  d.Layout = {{1048576, 0x7FFFFFFFFFFFFFFF, 0xFFFFFFFF, 1, 0xEE, true, true, false}};
  return d;
}

// What a load gives back of a saved record: the geometry's media type and the SMART list
// are not stored.
TDeviceInfo AsLoaded(TDeviceInfo d) {
  d.Geometry.MediaType = 0;
  d.SMARTAttributes.clear();
  return d;
}

std::shared_ptr<ole::IStorage> OpenRoot(const std::string& file, std::uint32_t mode) {
  std::shared_ptr<ole::IStorage> root;
  EXPECT_EQ(ole::StgOpenStorage(file, nullptr, mode, nullptr, 0, &root), ole::S_OK);
  return root;
}

// The storage at a "\"-separated path below `root`; none when a level is missing.
std::shared_ptr<ole::IStorage> Below(std::shared_ptr<ole::IStorage> s, const std::string& path, std::uint32_t mode) {
  std::size_t start = 0;
  while (s && start <= path.size()) {
    const std::size_t end = path.find('\\', start);
    const std::string name = path.substr(start, end == std::string::npos ? std::string::npos : end - start);
    std::shared_ptr<ole::IStorage> next;
    if (s->OpenStorage(text::Utf8ToUtf16(name), nullptr, mode, nullptr, 0, &next) != ole::S_OK) return nullptr;
    s = next;
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return s;
}

std::vector<std::string> ElementNames(const std::shared_ptr<ole::IStorage>& s) {
  std::vector<std::string> names;
  std::shared_ptr<ole::IEnumSTATSTG> e;
  EXPECT_EQ(s->EnumElements(0, nullptr, 0, &e), ole::S_OK);
  ole::STATSTG entry;
  ole::ULONG fetched = 0;
  while (e->Next(1, &entry, &fetched) == ole::S_OK && fetched == 1) names.push_back(text::Utf16ToUtf8(entry.pwcsName));
  return names;
}

std::shared_ptr<ole::IPropertyStorage> ValuesOf(const std::shared_ptr<ole::IStorage>& s, std::uint32_t mode) {
  std::shared_ptr<ole::IPropertySetStorage> sets;
  EXPECT_EQ(s->QueryPropertySetStorage(&sets), ole::S_OK);
  std::shared_ptr<ole::IPropertyStorage> set;
  EXPECT_EQ(sets->Open(ole::FMTID_DocSummaryInformation, mode, &set), ole::S_OK);
  return set;
}

// One stored property as the file holds it.
struct Stored {
  std::string name;
  ole::PROPID id;
  ole::VARTYPE vt;
  std::int64_t number;
  std::string text;
  bool operator==(const Stored&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Stored& p) {
  return os << p.id << " \"" << p.name << "\" vt " << p.vt << " = " << (p.vt == ole::VT_LPWSTR ? "\"" + p.text + "\"" : std::to_string(p.number));
}

std::vector<Stored> Dump(const std::shared_ptr<ole::IStorage>& s) {
  const auto set = ValuesOf(s, 0x10);
  ole::STATPROPSETSTG stat;
  EXPECT_EQ(set->Stat(&stat), ole::S_OK);
  EXPECT_EQ(stat.clsid, ole::GUID_NULL);
  EXPECT_EQ(stat.grfFlags, 0u);
  std::vector<ole::STATPROPSTG> props;
  EXPECT_EQ(set->Enum(&props), ole::S_OK);
  std::vector<Stored> out;
  for (const auto& p : props) {
    const ole::PROPSPEC spec = ole::PROPSPEC::ById(p.propid);
    ole::PROPVARIANT v;
    set->ReadMultiple(1, &spec, &v);
    out.push_back({text::Utf16ToUtf8(p.lpwstrName), p.propid, v.vt, v.vt == ole::VT_LPWSTR ? 0 : v.hVal,
                   text::Utf16ToUtf8(v.pwszVal)});
  }
  return out;
}

// The expected properties, numbered from 2 in the order given.
std::vector<Stored> Numbered(std::vector<Stored> rows) {
  ole::PROPID id = 2;
  for (auto& r : rows) r.id = id++;
  return rows;
}
Stored S(const char* name, const std::string& value) { return {name, 0, ole::VT_LPWSTR, 0, value}; }
Stored I(const char* name, std::int64_t value) { return {name, 0, ole::VT_I8, value, ""}; }

class StoragePersistence : public ::testing::Test {
 protected:
  void SetUp() override {
    component_.FPhysicalDevices = {Disk(), DvdWriter()};
    component_.FLogicalDevices = {Volume('C', 0), Volume('\xC4', -1)};
  }

  // Changes the saved file through the engine directly, as another writer would.
  void Edit(const std::function<void(const std::shared_ptr<ole::IStorage>& root)>& change) {
    auto root = OpenRoot(file_, 0x12);
    ASSERT_TRUE(root);
    change(root);
    ASSERT_EQ(root->Commit(0), ole::S_OK);
  }

  FakePlatform fake_;
  ScopedPlatform use_{fake_};
  TempDir dir_;
  std::string file_ = dir_.File("machine.kyx");
  TestStorage component_;
};

TEST_F(StoragePersistence, RoundTripRebuildsBothListsExceptWhatIsNotStored) {
  component_.SaveToStorageFile(file_);
  EXPECT_EQ(component_.FPhysicalDevices[0], Disk()) << "saving leaves the component as it was";

  TestStorage loaded;
  ASSERT_TRUE(loaded.LoadFromStorageFile(file_));
  EXPECT_FALSE(loaded.LiveData());
  EXPECT_EQ(loaded.StorageFileName(), file_);
  EXPECT_EQ(loaded.StorageInfo().MachineName, "FAKEHOST");
  ASSERT_EQ(loaded.PhysicalCount(), 2);
  ASSERT_EQ(loaded.LogicalCount(), 2);
  EXPECT_EQ(loaded.FPhysicalDevices[0], AsLoaded(Disk()));
  EXPECT_EQ(loaded.FPhysicalDevices[1], AsLoaded(DvdWriter()));
  EXPECT_EQ(loaded.FLogicalDevices[0], AsLoaded(Volume('C', 0)));
  EXPECT_EQ(loaded.FLogicalDevices[1], AsLoaded(Volume('\xC4', -1))) << "a letter outside ASCII comes back as its byte";
  EXPECT_EQ(loaded.FPhysicalDevices[0].Temperature, 0xC8) << "kept although the attributes are not";
  // The report of loaded data stays valid JSON with that letter.
  EXPECT_EQ(report::StorageJson(loaded)["LogicalDevices"][1]["Drive"], "Ä");
}

TEST_F(StoragePersistence, LayoutOfTheFileElementByElement) {
  component_.SaveToStorageFile(file_);
  const auto root = OpenRoot(file_, 0x10);
  EXPECT_EQ(ElementNames(root), (std::vector<std::string>{"Storage", "\x05SummaryInformation"}));
  EXPECT_EQ(ElementNames(Below(root, "Storage", 0x10)), (std::vector<std::string>{"LogicalDevices", "PhysicalDevices"}));
  EXPECT_EQ(ElementNames(Below(root, "Storage\\PhysicalDevices", 0x10)), (std::vector<std::string>{"0", "1"}));
  EXPECT_EQ(ElementNames(Below(root, "Storage\\LogicalDevices", 0x10)), (std::vector<std::string>{"0", "1"}));
  const std::string set = "\x05" "DocumentSummaryInformation";
  EXPECT_EQ(ElementNames(Below(root, "Storage\\PhysicalDevices\\0", 0x10)), (std::vector<std::string>{"Layout", set}));
  EXPECT_EQ(ElementNames(Below(root, "Storage\\PhysicalDevices\\1", 0x10)), (std::vector<std::string>{set}))
      << "no Layout element without partitions";
  EXPECT_EQ(ElementNames(Below(root, "Storage\\PhysicalDevices\\0\\Layout", 0x10)), (std::vector<std::string>{"0", "1"}));
  EXPECT_EQ(ElementNames(Below(root, "Storage\\PhysicalDevices\\0\\Layout\\1", 0x10)), (std::vector<std::string>{set}));

  const auto disk = Numbered({
      S("Drive", ""), S("Vendor", "ATA"), S("Model", "Samsung SSD 860 EVO — Çağrı Ölçüm"), S("Revision", "RVT04B6Q"),
      S("VendorStr", "Ünvan"), S("SerialNumber", "S3Z9NB0K123456"),
      I("DeviceType", 7), I("MediaType", 4294967295), I("BusType", 11), I("Removable", 0),
      I("Device", 4294967294), I("PHYSIndex", -1), I("HaId", 255), I("Target", 1), I("Lun", 128), I("PathID", 2),
      I("Size", 500107862016), I("Cylinders", -5), I("Heads", 255), I("BytesPerSector", 512),
      I("BytesPerTrack", 32256), I("SectorsPerTrack", 63), I("CtlBufSize", 2147483648), I("ECCCode", 4),
      I("ATAVersion", -2), I("Temperature", 200), I("SMARTSupport", 1), I("SMARTActive", 0),
      I("Read_CDR", 0), I("Read_CDRW", 0), I("Write_CDR", 0), I("Write_CDRW", 0), I("Read_DVDROM", 0),
      I("Read_DVDR", 0), I("Read_DVDRAM", 0), I("Write_DVDR", 0), I("Write_DVDRAM", 0),
      I("Geometry.Cylinders", 0x100000001), I("Geometry.TracksPerCylinder", 255),
      I("Geometry.SectorsPerTrack", 63), I("Geometry.BytesPerSectors", 4096),
      I("_LocationAvailable", 1), I("_ExtraInfoAvailable", 1)});
  EXPECT_EQ(Dump(Below(root, "Storage\\PhysicalDevices\\0", 0x10)), disk);

  const auto partition = Numbered({I("StartingOffset", 1048576), I("Length", 0x7FFFFFFFFFFFFFFF),
                                   I("HiddenSectors", 4294967295), I("Number", 1), I("Typ", 0xEE),
                                   I("BootIndicator", 1), I("Recognized", 1), I("Rewrite", 0)});
  EXPECT_EQ(Dump(Below(root, "Storage\\PhysicalDevices\\0\\Layout\\0", 0x10)), partition);

  // A logical record's letter is stored as its one-character text.
  const auto volume = Dump(Below(root, "Storage\\LogicalDevices\\0", 0x10));
  ASSERT_FALSE(volume.empty());
  EXPECT_EQ(volume[0], (Stored{"Drive", 2, ole::VT_LPWSTR, 0, "C"}));
  EXPECT_EQ(Dump(Below(root, "Storage\\LogicalDevices\\1", 0x10))[0].text, "Ä");
}

// Values another writer may have put in the file: only 1 counts as true, narrower fields keep
// their low bits, long text is cut, an absent value reads as empty.
TEST_F(StoragePersistence, ForeignValuesAreReadSafely) {
  component_.SaveToStorageFile(file_);
  const std::string longModel = std::string(254, 'a') + "ğğ";
  Edit([&](const std::shared_ptr<ole::IStorage>& root) {
    const auto device = ValuesOf(Below(root, "Storage\\PhysicalDevices\\0", 0x12), 0x12);
    const std::vector<std::pair<const char*, std::int64_t>> numbers = {
        {"Removable", 2}, {"SMARTSupport", -1}, {"_LocationAvailable", 2}, {"DeviceType", 0x100000005},
        {"PHYSIndex", 0xFFFFFFFE}, {"HaId", 0x1FF}, {"Temperature", -1}};
    for (const auto& [name, value] : numbers) WriteIntegerProperty(device, name, value);
    WriteStringProperty(device, "Model", longModel);
    const ole::PROPSPEC vendor = ole::PROPSPEC::ByName(u"Vendor");
    ASSERT_EQ(device->DeleteMultiple(1, &vendor), ole::S_OK);
    WriteIntegerProperty(ValuesOf(Below(root, "Storage\\PhysicalDevices\\0\\Layout\\0", 0x12), 0x12), "BootIndicator", 2);
    WriteStringProperty(ValuesOf(Below(root, "Storage\\LogicalDevices\\0", 0x12), 0x12), "Drive", "");
  });

  TestStorage loaded;
  ASSERT_TRUE(loaded.LoadFromStorageFile(file_));
  const TDeviceInfo& d = loaded.FPhysicalDevices.at(0);
  EXPECT_FALSE(d.Removable);
  EXPECT_FALSE(d.SMARTSupport);
  EXPECT_FALSE(d.LocationAvailable);
  EXPECT_EQ(d.DeviceType, 5u);
  EXPECT_EQ(d.PHYSIndex, -2);
  EXPECT_EQ(d.HaId, 0xFF);
  EXPECT_EQ(d.Temperature, 0xFF);
  EXPECT_EQ(d.Model, std::string(254, 'a')) << "cut within 255 bytes, not inside a character";
  EXPECT_EQ(d.Vendor, "");
  EXPECT_FALSE(d.Layout.at(0).BootIndicator);
  EXPECT_EQ(loaded.FLogicalDevices.at(0).Drive, 0);
}

// What a file holds of the component decides what a load gives; the component held live
// records before each load, which must be gone afterwards.
TEST_F(StoragePersistence, FilesThatHoldLessOrNothing) {
  struct Case {
    const char* what;
    std::function<void(const std::shared_ptr<ole::IStorage>&)> change;
    bool result;
    int physical, logical, firstLayout;
  };
  auto destroy = [](const char* path, const char16_t* name) {
    return [=](const std::shared_ptr<ole::IStorage>& root) {
      auto s = path[0] ? Below(root, path, 0x12) : root;
      ASSERT_TRUE(s);
      ASSERT_EQ(s->DestroyElement(name), ole::S_OK);
    };
  };
  const std::vector<Case> cases = {
      {"everything", [](const auto&) {}, true, 2, 2, 2},
      {"no Storage element", destroy("", u"Storage"), false, 0, 0, -1},
      {"gap in the physical list", destroy("Storage\\PhysicalDevices", u"0"), true, 0, 2, -1},
      {"no physical list", destroy("Storage", u"PhysicalDevices"), true, 0, 2, -1},
      {"no logical list", destroy("Storage", u"LogicalDevices"), true, 2, 0, 2},
      {"gap in a layout", destroy("Storage\\PhysicalDevices\\0\\Layout", u"0"), true, 2, 2, 0},
      {"second layout entry missing", destroy("Storage\\PhysicalDevices\\0\\Layout", u"1"), true, 2, 2, 1},
      {"no layout", destroy("Storage\\PhysicalDevices\\0", u"Layout"), true, 2, 2, 0},
      {"record without values",
       [](const std::shared_ptr<ole::IStorage>& root) {
         std::shared_ptr<ole::IPropertySetStorage> sets;
         ASSERT_EQ(Below(root, "Storage\\PhysicalDevices\\1", 0x12)->QueryPropertySetStorage(&sets), ole::S_OK);
         ASSERT_EQ(sets->Delete(ole::FMTID_DocSummaryInformation), ole::S_OK);
       },
       true, 1, 2, 2},
      {"lists emptied",
       [](const std::shared_ptr<ole::IStorage>& root) {
         auto storage = Below(root, "Storage", 0x12);
         for (const char16_t* list : {u"PhysicalDevices", u"LogicalDevices"}) {
           ASSERT_EQ(storage->DestroyElement(list), ole::S_OK);
           std::shared_ptr<ole::IStorage> created;
           ASSERT_EQ(storage->CreateStorage(list, 0x1012, 0, 0, &created), ole::S_OK);
         }
       },
       true, 0, 0, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TestStorage saver;
    saver.FPhysicalDevices = {Disk(), DvdWriter()};
    saver.FLogicalDevices = {Volume('C', 0), Volume('D', 0)};
    saver.SaveToStorageFile(file_);
    Edit(c.change);

    TestStorage loaded;
    loaded.FPhysicalDevices = {DvdWriter(), DvdWriter(), DvdWriter()};
    loaded.FLogicalDevices = {Volume('E', 1)};
    EXPECT_EQ(loaded.LoadFromStorageFile(file_), c.result);
    EXPECT_FALSE(loaded.LiveData());
    EXPECT_EQ(loaded.PhysicalCount(), c.physical);
    EXPECT_EQ(loaded.LogicalCount(), c.logical);
    if (c.firstLayout >= 0 && loaded.PhysicalCount() > 0) {
      EXPECT_EQ(static_cast<int>(loaded.FPhysicalDevices[0].Layout.size()), c.firstLayout);
    }
    if (loaded.LogicalCount() == 2) {
      EXPECT_EQ(loaded.FLogicalDevices[1].Drive, 'D');
    }
  }
}

TEST_F(StoragePersistence, NotAStorageFileGivesFalseAndEmptyLists) {
  std::ofstream(file_) << "Drive C: Samsung SSD\n";
  for (const std::string& file : {file_, dir_.File("absent.kyx")}) {
    SCOPED_TRACE(file);
    TestStorage loaded;
    loaded.FPhysicalDevices = {Disk()};
    loaded.FLogicalDevices = {Volume('C', 0)};
    EXPECT_FALSE(loaded.LoadFromStorageFile(file));
    EXPECT_FALSE(loaded.LiveData());
    EXPECT_EQ(loaded.PhysicalCount(), 0);
    EXPECT_EQ(loaded.LogicalCount(), 0);
  }
}

TEST_F(StoragePersistence, LoadOfAFileInUseLeavesNoLiveRecords) {
  component_.SaveToStorageFile(file_);
  const auto holder = OpenRoot(file_, 0x12);
  ASSERT_TRUE(holder);
  TestStorage loaded;
  loaded.FPhysicalDevices = {Disk()};
  try {
    EXPECT_FALSE(loaded.LoadFromStorageFile(file_));
  } catch (const EOleSysError& e) {
    EXPECT_EQ(e.ErrorCode(), ole::STG_E_SHAREVIOLATION);
  }
  EXPECT_EQ(loaded.PhysicalCount(), 0);
  EXPECT_FALSE(loaded.LiveData());
}

// Another component's storage in the file survives, and a second save replaces the first one
// completely rather than leaving records of it behind.
TEST_F(StoragePersistence, SavingAgainReplacesOnlyItsOwnStorage) {
  {
    std::shared_ptr<ole::IStorage> root;
    ASSERT_EQ(ole::StgCreateDocfile(file_, 0x1012, 0, &root), ole::S_OK);
    std::shared_ptr<ole::IStorage> cpu;
    ASSERT_EQ(root->CreateStorage(u"CPU", 0x1012, 0, 0, &cpu), ole::S_OK);
    TStructuredSTorage wrapper(nullptr, cpu);
    auto set = wrapper.OpenPropertySet(FMTID_DocSummaryInformation, 0x12, true);
    WriteStringProperty(set->PropertyStorage(), "CPUName", "Athlon XP 2400+");
    set.reset();
    ASSERT_EQ(root->Commit(0), ole::S_OK);
  }
  component_.SaveToStorageFile(file_);
  component_.FPhysicalDevices = {DvdWriter()};
  component_.FLogicalDevices.clear();
  component_.SaveToStorageFile(file_);

  const auto root = OpenRoot(file_, 0x10);
  EXPECT_EQ(ElementNames(root), (std::vector<std::string>{"CPU", "Storage", "\x05SummaryInformation"}));
  EXPECT_EQ(ReadStringProperty(ValuesOf(Below(root, "CPU", 0x10), 0x10), "CPUName"), "Athlon XP 2400+");
  EXPECT_EQ(ElementNames(Below(root, "Storage\\PhysicalDevices", 0x10)), (std::vector<std::string>{"0"}));
  EXPECT_TRUE(ElementNames(Below(root, "Storage\\LogicalDevices", 0x10)).empty());
  EXPECT_EQ(ElementNames(Below(root, "Storage\\PhysicalDevices\\0", 0x10)).size(), 1u) << "the old Layout is gone";
}

}  // namespace
