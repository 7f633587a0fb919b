// Saving the processor component into a storage file and loading it back: the layout of every
// processor's storage, round trips, widths and sets, and files that hold less than a save.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "common/Kyvex_SS.h"
#include "unit/StorageFileDump.h"
#include "unit/cpu/CpuTestSupport.h"
#include "unit/TestFolders.h"

using namespace kyvex;
using namespace kyvex::cputest;
using namespace kyvex::filedump;
using platform::FakePlatform;
using platform::ScopedPlatform;
namespace fs = std::filesystem;

namespace {

constexpr const char* kGroups[] = {"Standard1", "Standard2", "Extended1", "Extended2", "PowerManagement"};

std::string I8(std::int64_t v) { return "I8 " + std::to_string(v); }
std::string Str(const std::string& s) { return "LPWSTR " + s; }

// The values of a processor as the file must hold them, in write order, named and kinded
// independently of the component's own table.
std::vector<std::pair<std::string, std::string>> StoredValues(const TKyvex_CPU& c) {
  std::vector<std::pair<std::string, std::string>> v = {
      {"CPUCount", I8(c.CPUCount())},
      {"CPUPhysicalCount", I8(c.CPUPhysicalCount())},
      {"CPUType", I8(c.CPUType())},
      {"CPUIDSupported", I8(c.CPUIDSupported())},
      {"Vendor", I8(c.Vendor())},
      {"CPUName", Str(c.CPUName())},
      {"GenericName", Str(c.GenericName())},
      {"MarketingName", Str(c.MarketingName())},
      {"CodeName", Str(c.CodeName())},
      {"Frequency", I8(c.Frequency())},
      {"APICID", I8(c.APICID())},
      {"LogicalID", I8(c.LogicalID())},
      {"PhysicalID", I8(c.PhysicalID())},
      {"LogicalPerPackage", I8(c.LogicalPerPackage())},
      {"Family", I8(c.Family())},
      {"Model", I8(c.Model())},
      {"Stepping", I8(c.Stepping())},
      {"FamilyEx", I8(c.FamilyEx())},
      {"ModelEx", I8(c.ModelEx())},
      {"SteppingEx", I8(c.SteppingEx())},
      {"Brand", I8(c.Brand())},
      {"IntelBrand", I8(c.IntelBrand().Mask())},
      {"Revision", Str(c.Revision())},
      {"Technology", Str(c.Technology())},
      {"SerialNumber", Str(c.SerialNumber())},
      {"FDIVBug", I8(c.FDIVBug())}};
  auto cache = [&v](const std::string& prefix, const TCPUCacheDetails& d) {
    v.push_back({prefix + "Size", I8(d.Size())});
    v.push_back({prefix + "LineSize", I8(d.LineSize())});
    v.push_back({prefix + "Associativity", I8(d.Associativity())});
  };
  cache("Cache.Level1.Data.", c.Cache().Level1().Data());
  cache("Cache.Level1.Code.", c.Cache().Level1().Code());
  cache("Cache.Level1.Unified.", c.Cache().Level1().Unified());
  cache("Cache.Level2.", c.Cache().Level2());
  cache("Cache.Level3.", c.Cache().Level3());
  cache("Cache.Trace.", c.Cache().Trace());
  // A name met twice in a group keeps its first id and its last value.
  for (std::uint8_t g = 1; g <= 5; ++g) {
    for (const auto& f : c.Features().Group(g).Features()) {
      const std::string name = std::string("Features.") + kGroups[g - 1] + "." + f.Name;
      auto it = std::find_if(v.begin(), v.end(), [&](const auto& p) { return p.first == name; });
      if (it == v.end()) v.push_back({name, I8(f.Available)});
      else it->second = I8(f.Available);
    }
  }
  return v;
}

std::vector<std::string> Lines(const std::vector<std::pair<std::string, std::string>>& values) {
  std::vector<std::string> out;
  std::uint32_t id = 2;
  for (const auto& [name, value] : values) out.push_back(std::to_string(id++) + " " + name + " = " + value);
  return out;
}

void ExpectSameCache(const TCPUCacheDetails& a, const TCPUCacheDetails& b, const char* what) {
  EXPECT_EQ(a.Size(), b.Size()) << what;
  EXPECT_EQ(a.LineSize(), b.LineSize()) << what;
  EXPECT_EQ(a.Associativity(), b.Associativity()) << what;
}

// Every stored value of `loaded` equals `live`'s.
void ExpectSameProcessor(const TKyvex_CPU& loaded, const TKyvex_CPU& live) {
  EXPECT_EQ(StoredValues(loaded), StoredValues(live));
  ExpectSameCache(loaded.Cache().Level1().Data(), live.Cache().Level1().Data(), "L1 data");
  ExpectSameCache(loaded.Cache().Level1().Code(), live.Cache().Level1().Code(), "L1 code");
  ExpectSameCache(loaded.Cache().Level2(), live.Cache().Level2(), "L2");
  for (std::uint8_t g = 1; g <= 5; ++g)
    EXPECT_EQ(loaded.Features().Group(g).Features(), live.Features().Group(g).Features()) << kGroups[g - 1];
}

// Nothing of a processor is left: zero, empty, none, and no feature available.
void ExpectCleared(const TKyvex_CPU& c) {
  EXPECT_EQ(c.CPUCount(), 0);
  EXPECT_EQ(c.Vendor(), cvNone);
  EXPECT_EQ(c.CPUName(), "");
  EXPECT_EQ(c.CodeName(), "");
  EXPECT_EQ(c.Family(), 0);
  EXPECT_EQ(c.Frequency(), 0u);
  EXPECT_EQ(c.Cache().Level2().Size(), 0);
  EXPECT_EQ(c.Cache().Level2().Associativity(), caNone);
  EXPECT_TRUE(c.IntelBrand().Empty());
  for (std::uint8_t g = 1; g <= 5; ++g)
    for (const auto& f : c.Features().Group(g).Features()) EXPECT_FALSE(f.Available) << f.Name;
}

class CpuPersistence : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = kyvex::testing::TestFolder("kyvex-cpu-");
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    file_ = (dir_ / "machine.kyx").string();
    fake_.computerName = "werkbank";
    fake_.processor.tscMHz = 2994;
    use_ = std::make_unique<ScopedPlatform>(fake_);
  }
  void TearDown() override {
    use_.reset();
    fs::remove_all(dir_);
  }

  // Two EPYC logical processors that differ in their APIC ids.
  void TwoProcessors() {
    LoadDump(fake_, "AuthenticAMD0A10F11_EPYC_2cpus_CPUID.txt");
    ASSERT_EQ(fake_.processor.cpus.size(), 2u);
  }

  // The live description of processor `index`.
  static void Collect(TKyvex_CPU& c, std::uint8_t index) {
    c.SetCPUIndex(index);
    c.CollectData();
  }

  // A file whose processor "0" holds exactly the given values, written by hand.
  void Seed(const std::vector<std::pair<std::string, std::variant<std::int64_t, std::string>>>& values) {
    std::shared_ptr<ole::IStorage> root;
    ASSERT_EQ(ole::StgCreateDocfile(file_, 0x1012, 0, &root), ole::S_OK);
    TStructuredSTorage wrapper(nullptr, root);
    {
      auto processor = wrapper.OpenSubStorage("CPU\\0", 0x12, true);
      auto set = processor->OpenPropertySet(FMTID_DocSummaryInformation, 0x12, true);
      for (const auto& [name, value] : values) {
        if (auto* i = std::get_if<std::int64_t>(&value)) WriteIntegerProperty(set->PropertyStorage(), name, *i);
        else WriteStringProperty(set->PropertyStorage(), name, std::get<std::string>(value));
      }
    }
    wrapper.Commit();
  }

  fs::path dir_;
  std::string file_;
  FakePlatform fake_;
  std::unique_ptr<ScopedPlatform> use_;
};

TEST_F(CpuPersistence, SavesEveryProcessorWithItsValuesInWriteOrder) {
  TwoProcessors();
  TKyvex_CPU saved;
  saved.SaveToStorageFile(file_);
  EXPECT_EQ(saved.CPUIndex(), 1) << "the save ends on the last processor";
  EXPECT_TRUE(saved.LiveData());

  EXPECT_EQ(Elements(file_, {}), (std::vector<std::string>{"\x05SummaryInformation", "CPU"}));
  EXPECT_EQ(Elements(file_, {"CPU"}), (std::vector<std::string>{"0", "1"}));
  for (std::uint8_t i = 0; i < 2; ++i) {
    SCOPED_TRACE(int(i));
    EXPECT_EQ(Elements(file_, {"CPU", std::to_string(i)}),
              (std::vector<std::string>{"\x05" "DocumentSummaryInformation"}));
    TKyvex_CPU live;
    Collect(live, i);
    const auto props = Properties(file_, {"CPU", std::to_string(i)});
    EXPECT_EQ(props, Lines(StoredValues(live)));
    ASSERT_GT(props.size(), 44u);
    EXPECT_EQ(props[44], "46 Features.Standard1.FPU = I8 1") << "features follow the 44 values";
  }
  // The two storages describe different processors.
  EXPECT_NE(Properties(file_, {"CPU", "0"}), Properties(file_, {"CPU", "1"}));
}

TEST_F(CpuPersistence, LoadRestoresTheStoredProcessorAsItWasNamed) {
  TwoProcessors();
  TKyvex_CPU().SaveToStorageFile(file_);
  // The machine is gone: a load must not ask the processor anything.
  fake_.processor.cpus.assign(1, platform::FakeCpu{});
  for (std::uint8_t i = 0; i < 2; ++i) {
    SCOPED_TRACE(int(i));
    TKyvex_CPU loaded;
    loaded.SetCPUIndex(i);
    ASSERT_TRUE(loaded.LoadFromStorageFile(file_));
    EXPECT_FALSE(loaded.LiveData());
    EXPECT_EQ(loaded.StorageInfo().MachineName, "WERKBANK");
    EXPECT_EQ(loaded.CPUIndex(), i);
    FakePlatform original;
    original.processor.tscMHz = 2994;
    LoadDump(original, "AuthenticAMD0A10F11_EPYC_2cpus_CPUID.txt");
    ScopedPlatform use(original);
    TKyvex_CPU live;
    Collect(live, i);
    EXPECT_EQ(loaded.APICID(), live.APICID());
    EXPECT_NE(loaded.MarketingName(), "");
    ExpectSameProcessor(loaded, live);
  }
}

TEST_F(CpuPersistence, ValuesKeepTheirWidthsSetsAndBooleans) {
  struct Case {
    std::int64_t seed;
    std::int64_t (*read)(const TKyvex_CPU&);
    std::int64_t expected;
    const char* name;
  };
  const std::vector<Case> cases = {
      {0x1FF, [](const TKyvex_CPU& c) -> std::int64_t { return c.CPUCount(); }, 0xFF, "CPUCount"},
      {-1, [](const TKyvex_CPU& c) -> std::int64_t { return c.CPUType(); }, -1, "CPUType"},
      {0x100000007, [](const TKyvex_CPU& c) -> std::int64_t { return c.Family(); }, 7, "Family"},
      {-1, [](const TKyvex_CPU& c) -> std::int64_t { return c.Frequency(); }, 0xFFFFFFFF, "Frequency"},
      {12, [](const TKyvex_CPU& c) -> std::int64_t { return c.IntelBrand().Mask(); }, 12, "IntelBrand"},
      {2, [](const TKyvex_CPU& c) -> std::int64_t { return c.FDIVBug(); }, 0, "FDIVBug"},
      {1, [](const TKyvex_CPU& c) -> std::int64_t { return c.CPUIDSupported(); }, 1, "CPUIDSupported"},
      {3, [](const TKyvex_CPU& c) -> std::int64_t { return c.Vendor(); }, cvAmd, "Vendor"},
      {4, [](const TKyvex_CPU& c) -> std::int64_t { return c.Cache().Level2().Associativity(); }, ca8Way,
       "Cache.Level2.Associativity"},
      {-2, [](const TKyvex_CPU& c) -> std::int64_t { return c.Cache().Level3().Size(); }, -2, "Cache.Level3.Size"},
      {0x1234, [](const TKyvex_CPU& c) -> std::int64_t { return c.APICID(); }, 0x34, "APICID"},
  };
  // Values a damaged or foreign file may hold: bits beyond the set's members, ordinals the
  // enumerations do not have.
  const std::vector<Case> foreign = {
      {64, [](const TKyvex_CPU& c) -> std::int64_t { return c.IntelBrand().Mask(); }, 0, "IntelBrand"},
      {200, [](const TKyvex_CPU& c) -> std::int64_t { return c.Vendor(); }, cvUnknown, "Vendor"},
      {9, [](const TKyvex_CPU& c) -> std::int64_t { return c.Cache().Level2().Associativity(); }, caNone,
       "Cache.Level2.Associativity"},
      {0x107, [](const TKyvex_CPU& c) -> std::int64_t { return c.Cache().Level2().Associativity(); }, caFull,
       "Cache.Level2.Associativity"},
  };
  for (const auto* table : {&cases, &foreign}) {  // NOLINT
    for (const Case& k : *table) {
      SCOPED_TRACE(std::string(k.name) + " = " + std::to_string(k.seed));
      Seed({{k.name, k.seed}, {"CPUName", std::string("Çekirdek™ İşlemci – 3 GHz")}});
      TKyvex_CPU c;
      ASSERT_TRUE(c.LoadFromStorageFile(file_));
      EXPECT_EQ(k.read(c), k.expected);
      EXPECT_EQ(c.CPUName(), "Çekirdek™ İşlemci – 3 GHz");
    }
  }
  // A brand set of Xeon and MP is stored as 12.
  Seed({{"IntelBrand", std::int64_t{12}}});
  TKyvex_CPU c;
  ASSERT_TRUE(c.LoadFromStorageFile(file_));
  EXPECT_EQ(c.IntelBrand(), (TIntelBrands{ibXeon, ibMP}));

  // Features: only a stored 1 makes an entry available; the list is the loaded vendor's.
  Seed({{"Vendor", std::int64_t{cvIntel}}, {"Features.Standard1.FPU", std::int64_t{1}},
        {"Features.Standard1.TSC", std::int64_t{2}}, {"Features.Standard2.SSE3", std::int64_t{-1}}});
  ASSERT_TRUE(c.LoadFromStorageFile(file_));
  EXPECT_TRUE(c.Features().Standard1().GetFeature(0).Available);
  EXPECT_EQ(c.Features().Standard1().GetFeature(0).Name, "FPU");
  EXPECT_FALSE(c.Features().Standard1().FindFeatureByBit(4).Available) << "TSC stored as 2";
  EXPECT_FALSE(c.Features().Standard2().FindFeatureByBit(0).Available) << "SSE3 stored as -1";
  EXPECT_GT(c.Features().Standard2().Count(), 0u);
}

TEST_F(CpuPersistence, MissingProcessorsAndStoragesClearTheValues) {
  TKyvex_CPU c;
  Collect(c, 0);  // one processor, the fake's default
  ASSERT_EQ(c.CPUCount(), 1);
  c.SaveToStorageFile(file_);

  // A processor the file does not hold.
  TKyvex_CPU second;
  Collect(second, 0);
  second.SetCPUIndex(1);
  EXPECT_FALSE(second.LoadFromStorageFile(file_));
  EXPECT_FALSE(second.LiveData());
  ExpectCleared(second);

  // The processor's storage without its values.
  Destroy(file_, {"CPU", "0", "\x05" "DocumentSummaryInformation"});
  TKyvex_CPU noValues;
  Collect(noValues, 0);
  EXPECT_FALSE(noValues.LoadFromStorageFile(file_));
  ExpectCleared(noValues);

  // A storage file without any processors.
  Destroy(file_, {"CPU"});
  TKyvex_CPU noCpu;
  Collect(noCpu, 0);
  EXPECT_FALSE(noCpu.LoadFromStorageFile(file_));
  EXPECT_EQ(noCpu.StorageInfo().MachineName, "WERKBANK") << "the header was read";
  ExpectCleared(noCpu);
}

// Byte patches of a saved file, standing for damage that the engine's writer cannot make.
struct Damage {
  const char* what;
  void (*apply)(std::string& bytes);
  const char* named;  // the element the error must name
};

// The directory entry of the storage named "0" becomes an empty stream.
void ProcessorAsStream(std::string& bytes) {
  for (std::size_t at = 512; at + 128 <= bytes.size(); at += 128) {
    char* e = bytes.data() + at;
    const bool nameIsZero = e[0] == '0' && e[1] == 0 && std::all_of(e + 2, e + 64, [](char c) { return c == 0; });
    if (!nameIsZero || e[64] != 4 || e[65] != 0 || e[66] != 1) continue;
    e[66] = 2;                                 // a stream
    std::memset(e + 76, 0xFF, 4);             // without children
    std::memset(e + 120, 0, 4);               // and without bytes
    return;
  }
  ADD_FAILURE() << "no storage named 0";
}

// The property set's byte-order mark is cut, so the set cannot be read.
void ValuesUnreadable(std::string& bytes) {
  // DocSummaryInformation's format id as stored, 28 bytes into its set's stream.
  const std::string fmtid("\x02\xD5\xCD\xD5\x9C\x2E\x1B\x10\x93\x97\x08\x00\x2B\x2C\xF9\xAE", 16);
  const std::size_t at = bytes.find(fmtid);
  ASSERT_NE(at, std::string::npos);
  ASSERT_EQ(bytes.find(fmtid, at + 1), std::string::npos) << "one processor, one such set";
  ASSERT_GE(at, 28u);
  ASSERT_EQ(bytes.substr(at - 28, 2), std::string("\xFE\xFF"));
  bytes[at - 28] = 0;
  bytes[at - 27] = 0;
}

TEST_F(CpuPersistence, ProcessorsThatAreThereButCannotBeReadRaiseAndClearTheValues) {
  const Damage cases[] = {{"processor storage is a stream", ProcessorAsStream, "CPU/0"},
                          {"values cannot be read", ValuesUnreadable, "CPU/0/DocumentSummaryInformation"}};
  for (const Damage& d : cases) {
    SCOPED_TRACE(d.what);
    fake_.processor.cpus.assign(1, platform::FakeCpu{});  // one processor: one set to damage
    TKyvex_CPU().SaveToStorageFile(file_);
    std::string bytes = ReadFile(file_);
    d.apply(bytes);
    std::ofstream(file_, std::ios::binary | std::ios::trunc) << bytes;

    // A component that holds a processor with names, caches and features.
    TwoProcessors();
    TKyvex_CPU loaded;
    Collect(loaded, 0);
    ASSERT_NE(loaded.Family(), 0);
    try {
      loaded.LoadFromStorageFile(file_);
      ADD_FAILURE() << "a damaged processor read as absent";
    } catch (const EOleSysError& e) {
      EXPECT_NE(std::string(e.what()).find(d.named), std::string::npos) << e.what();
    }
    EXPECT_EQ(loaded.StorageInfo().MachineName, "WERKBANK") << "the header was read: the processor raised";
    EXPECT_FALSE(loaded.LiveData());
    ExpectCleared(loaded);
  }
}

TEST_F(CpuPersistence, FilesThatAreNoStorageFilesChangeNothing) {
  TKyvex_CPU c;
  Collect(c, 0);
  c.SaveToStorageFile(file_);
  const auto before = StoredValues(c);

  const std::string text = (dir_ / "notes.txt").string();
  std::ofstream(text) << "CPU 0: not a storage file\n";
  EXPECT_FALSE(c.LoadFromStorageFile(text));
  EXPECT_FALSE(c.LoadFromStorageFile((dir_ / "absent.kyx").string()));
  EXPECT_EQ(StoredValues(c), before);

  fs::resize_file(file_, 512);  // recognised by its header, but cut
  EXPECT_THROW(c.LoadFromStorageFile(file_), EOleSysError);
}

TEST_F(CpuPersistence, SavingAgainReplacesOnlyTheProcessorsAndRefreshesTheHeader) {
  {
    std::shared_ptr<ole::IStorage> root;
    ASSERT_EQ(ole::StgCreateDocfile(file_, 0x1012, 0, &root), ole::S_OK);
    TStructuredSTorage wrapper(nullptr, root);
    {
      auto other = wrapper.OpenSubStorage("SMBIOS", 0x12, true);
      auto set = other->OpenPropertySet(FMTID_DocSummaryInformation, 0x12, true);
      WriteStringProperty(set->PropertyStorage(), "BIOSVendor", "Phoenix");
    }
    wrapper.Commit();
  }
  TwoProcessors();
  TKyvex_CPU().SaveToStorageFile(file_);
  EXPECT_EQ(Elements(file_, {"CPU"}), (std::vector<std::string>{"0", "1"}));

  // The same file from a one-processor machine with another name.
  fake_.processor.cpus.resize(1);
  use_.reset();  // the machine name is taken when the platform is set
  fake_.computerName = "laptop";
  use_ = std::make_unique<ScopedPlatform>(fake_);
  TKyvex_CPU c;
  c.SaveToStorageFile(file_);
  EXPECT_EQ(c.CPUIndex(), 0);
  EXPECT_EQ(Elements(file_, {}), (std::vector<std::string>{"\x05SummaryInformation", "CPU", "SMBIOS"}));
  EXPECT_EQ(Elements(file_, {"CPU"}), (std::vector<std::string>{"0"}));
  EXPECT_EQ(Properties(file_, {"SMBIOS"}), (std::vector<std::string>{"2 BIOSVendor = LPWSTR Phoenix"}));
  TKyvex_CPU loaded;
  ASSERT_TRUE(loaded.LoadFromStorageFile(file_));
  EXPECT_EQ(loaded.StorageInfo().MachineName, "LAPTOP");
  EXPECT_EQ(loaded.CPUCount(), 1);
}

}  // namespace
