// The container layer: wrappers and their reference rule, element look-up, sub-storages,
// property sets, the typed value routines and the date-time conversions.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <map>

#include "CompoundTestSupport.h"
#include "components/common/Kyvex_SS.h"

namespace {

using namespace kyvex;
using kyvex::testing::TempDir;
using kyvex::testing::U;

constexpr std::uint32_t kRead = 0x10;
constexpr std::uint32_t kWrite = 0x12;
constexpr std::uint32_t kCreate = 0x1012;

std::unique_ptr<TStructuredSTorage> CreateRoot(const std::string& path) {
  std::shared_ptr<ole::IStorage> stg;
  OleCheck(ole::StgCreateDocfile(path, kCreate, 0, &stg), "creating");
  return std::make_unique<TStructuredSTorage>(nullptr, stg);
}

std::unique_ptr<TStructuredSTorage> OpenRoot(const std::string& path, std::uint32_t mode) {
  std::shared_ptr<ole::IStorage> stg;
  OleCheck(ole::StgOpenStorage(path, nullptr, mode, nullptr, 0, &stg), "opening");
  return std::make_unique<TStructuredSTorage>(nullptr, stg);
}

template <class F>
ole::HRESULT RaisedStatus(F&& f, std::string* message = nullptr) {
  try {
    f();
  } catch (const EOleSysError& e) {
    if (message) *message = e.what();
    return e.ErrorCode();
  }
  return ole::S_OK;
}

TEST(KyvexSS, WrappersCountTheirDependantsAndFreePathLevelsWithTheLastOne) {
  TempDir dir;
  const std::string path = dir.File("refs.cfb");
  auto root = CreateRoot(path);
  EXPECT_EQ(root->RefCount(), 1);
  EXPECT_FALSE(root->IsChild());
  {
    auto cpu = root->OpenSubStorage("CPU", kWrite, true);
    EXPECT_EQ(root->RefCount(), 2);
    EXPECT_TRUE(cpu->IsChild());
    EXPECT_EQ(cpu->Parent(), root.get());
    {
      auto set = cpu->OpenPropertySet(FMTID_DocSummaryInformation, kWrite, true);
      ASSERT_NE(set, nullptr);
      EXPECT_EQ(set->Owner(), cpu.get());
      EXPECT_EQ(cpu->RefCount(), 2);
      WriteIntegerProperty(set->PropertyStorage(), "Level", 1);
    }
    EXPECT_EQ(cpu->RefCount(), 1);
  }
  EXPECT_EQ(root->RefCount(), 1);
  {
    auto deep = root->OpenSubStorage("Storage\\Devices\\Disk0", kWrite, true);
    TStructuredSTorage* devices = deep->Parent();
    TStructuredSTorage* storage = devices->Parent();
    EXPECT_EQ(storage->Parent(), root.get());
    EXPECT_EQ(devices->RefCount(), 0);
    EXPECT_EQ(storage->RefCount(), 0);
    EXPECT_EQ(root->RefCount(), 2);
    auto set = deep->OpenPropertySet(FMTID_DocSummaryInformation, kWrite, true);
    WriteStringProperty(set->PropertyStorage(), "Model", "Disk");
  }
  EXPECT_EQ(root->RefCount(), 1) << "the path's levels were not all released";
  root.reset();

  root = OpenRoot(path, kRead);
  auto disk = root->OpenSubStorage("\\Storage\\Devices\\Disk0", kRead, false);
  auto set = disk->OpenPropertySet(FMTID_DocSummaryInformation, kRead, false);
  ASSERT_NE(set, nullptr);
  EXPECT_EQ(ReadStringProperty(set->PropertyStorage(), "Model"), "Disk");
}

TEST(KyvexSS, AWrapperFreedOutOfOrderLeavesNoDanglingParent) {
  TempDir dir;
  auto root = CreateRoot(dir.File("order.cfb"));
  auto child = root->OpenSubStorage("CPU", kWrite, true);
  auto set = child->OpenPropertySet(FMTID_DocSummaryInformation, kWrite, true);
  root.reset();
  EXPECT_EQ(child->Parent(), nullptr);
  child.reset();
  EXPECT_EQ(set->Owner(), nullptr);
  // The file is closed with its root: the set is no longer usable, and says so.
  EXPECT_EQ(RaisedStatus([&] { WriteIntegerProperty(set->PropertyStorage(), "Late", 1); }), ole::STG_E_REVERTED);
}

TEST(KyvexSS, ElementExistsFindsAnyElementWhateverTheLetterCase) {
  TempDir dir;
  auto root = CreateRoot(dir.File("exists.cfb"));
  // Fourteen elements; in directory order (shorter names first) the twelfth is "Storage11".
  for (int i = 0; i < 12; ++i) root->OpenSubStorage("Storage" + std::to_string(i + 1), kWrite, true);
  root->OpenSubStorage("CPU", kWrite, true);
  root->OpenPropertySet(FMTID_SummaryInformation, kWrite, true);
  std::shared_ptr<ole::IEnumSTATSTG> e;
  ASSERT_EQ(root->Storage()->EnumElements(0, nullptr, 0, &e), ole::S_OK);
  std::vector<ole::STATSTG> all(20);
  ole::ULONG got = 0;
  e->Next(20, all.data(), &got);
  ASSERT_EQ(got, 14u);
  ASSERT_EQ(all[11].pwcsName, u"Storage11");

  for (const char* name : {"Storage11", "storage11", "STORAGE11", "\\Storage11", "Storage12", "cpu", "Cpu", "Storage1",
                           "\005SummaryInformation", "\005summaryinformation"})
    EXPECT_TRUE(root->ElementExists(name)) << name;
  for (const char* name : {"", "\\", "Storage13", "Storage", "CPU0", "\\\\CPU", "SMBIOS"})
    EXPECT_FALSE(root->ElementExists(name)) << name;
}

TEST(KyvexSS, OpenSubStorageCreatesOpensOrRaises) {
  TempDir dir;
  auto root = CreateRoot(dir.File("sub.cfb"));
  std::string message;
  EXPECT_EQ(RaisedStatus([&] { root->OpenSubStorage("CPU", kWrite, false); }, &message), ole::STG_E_FILENOTFOUND);
  EXPECT_NE(message.find("0x80030002"), std::string::npos) << message;
  EXPECT_NE(message.find("CPU"), std::string::npos) << message;
  EXPECT_EQ(root->RefCount(), 1);
  {
    auto created = root->OpenSubStorage("CPU", kWrite, true);
    auto set = created->OpenPropertySet(FMTID_DocSummaryInformation, kWrite, true);
    WriteIntegerProperty(set->PropertyStorage(), "Count", 4);
  }
  {
    auto opened = root->OpenSubStorage("cpu", kWrite, true);
    auto set = opened->OpenPropertySet(FMTID_DocSummaryInformation, kWrite, false);
    ASSERT_NE(set, nullptr);
    EXPECT_EQ(ReadIntegerProperty(set->PropertyStorage(), "Count"), 4);
  }
  // A property set's stream is no storage; a failing level of a path frees the ones before.
  root->OpenPropertySet(FMTID_SummaryInformation, kWrite, true);
  EXPECT_EQ(RaisedStatus([&] { root->OpenSubStorage("\005SummaryInformation", kWrite, true); }),
            ole::STG_E_FILENOTFOUND);
  EXPECT_EQ(RaisedStatus([&] { root->OpenSubStorage("CPU\\Absent\\Deeper", kWrite, false); }),
            ole::STG_E_FILENOTFOUND);
  EXPECT_EQ(RaisedStatus([&] { root->OpenSubStorage("Bad/Name", kWrite, true); }), ole::STG_E_INVALIDNAME);
  EXPECT_EQ(root->RefCount(), 1);
}

TEST(KyvexSS, AnAbsentPropertySetIsNoneAndReadsAsEmpty) {
  TempDir dir;
  auto root = CreateRoot(dir.File("none.cfb"));
  auto cpu = root->OpenSubStorage("CPU", kWrite, true);
  auto set = cpu->OpenPropertySet(FMTID_DocSummaryInformation, kWrite, false);
  EXPECT_EQ(set, nullptr);
  EXPECT_EQ(cpu->RefCount(), 1);
  const std::shared_ptr<ole::IPropertyStorage> none;
  EXPECT_EQ(ReadStringProperty(none, "Name"), "");
  EXPECT_EQ(ReadIntegerProperty(none, "Count"), 0);
  EXPECT_EQ(ReadDoubleProperty(none, "Ratio"), 0.0);
  EXPECT_EQ(ReadStringPropertyById(none, 2), "");
  EXPECT_EQ(ReadDateTimePropertyById(none, 12), 0.0);
  EXPECT_EQ(RaisedStatus([&] { WriteIntegerProperty(none, "Count", 1); }), ole::STG_E_INVALIDPOINTER);
}

TEST(KyvexSS, TypedValuesRoundTripAndRewritesReplace) {
  TempDir dir;
  const std::string path = dir.File("values.cfb");
  const TDateTime stamp = 45351.0 + 86399999.0 / 86400000.0;  // 2024-02-29 23:59:59.999
  {
    auto root = CreateRoot(path);
    auto set = root->OpenSubStorage("CPU", kWrite, true)->OpenPropertySet(FMTID_DocSummaryInformation, kWrite, true);
    const auto& ps = set->PropertyStorage();
    WriteStringProperty(ps, "Vendor", "first");
    WriteStringProperty(ps, "vendor", "GenuineIntel");
    WriteStringProperty(ps, "Empty", "");
    WriteStringProperty(ps, "Name", "Größe ✓ 日本 𝄞");
    WriteStringProperty(ps, "Raw", "\x80\xE9 bytes");  // not UTF-8: taken as Windows-1252
    WriteIntegerProperty(ps, "Min", std::numeric_limits<std::int64_t>::min());
    WriteIntegerProperty(ps, "Max", std::numeric_limits<std::int64_t>::max());
    WriteDoubleProperty(ps, "Ratio", -1.0e-300);
    WriteStringPropertyById(ps, 19, "Admin");
    WriteDateTimePropertyById(ps, 12, stamp);
  }
  auto root = OpenRoot(path, kRead);
  auto set = root->OpenSubStorage("CPU", kRead, false)->OpenPropertySet(FMTID_DocSummaryInformation, kRead, false);
  ASSERT_NE(set, nullptr);
  const auto& ps = set->PropertyStorage();
  EXPECT_EQ(ReadStringProperty(ps, "VENDOR"), "GenuineIntel");
  EXPECT_EQ(ReadStringProperty(ps, "Empty"), "");
  EXPECT_EQ(ReadStringProperty(ps, "Name"), "Größe ✓ 日本 𝄞");
  EXPECT_EQ(ReadStringProperty(ps, "Raw"), "€é bytes");
  EXPECT_EQ(ReadIntegerProperty(ps, "Min"), std::numeric_limits<std::int64_t>::min());
  EXPECT_EQ(ReadIntegerProperty(ps, "Max"), std::numeric_limits<std::int64_t>::max());
  EXPECT_EQ(ReadDoubleProperty(ps, "Ratio"), -1.0e-300);
  EXPECT_EQ(ReadStringPropertyById(ps, 19), "Admin");
  EXPECT_NEAR(ReadDateTimePropertyById(ps, 12), stamp, 0.5 / 86400000.0);
  EXPECT_EQ(ReadIntegerProperty(ps, "NeverWritten"), 0);
  EXPECT_EQ(ReadStringProperty(ps, "NeverWritten"), "");

  std::vector<ole::STATPROPSTG> props;
  ASSERT_EQ(ps->Enum(&props), ole::S_OK);
  std::map<std::u16string, ole::VARTYPE> types;
  for (const auto& p : props)
    if (!p.lpwstrName.empty()) types[p.lpwstrName] = p.vt;
  EXPECT_EQ(types.size(), 7u) << "a rewritten name must not be stored twice";
  EXPECT_EQ(types[u"Vendor"], ole::VT_LPWSTR);
  EXPECT_EQ(types[u"Empty"], ole::VT_LPWSTR);
  EXPECT_EQ(types[u"Min"], ole::VT_I8);
  EXPECT_EQ(types[u"Ratio"], ole::VT_R8);
  ole::PROPVARIANT v;
  const ole::PROPSPEC created = ole::PROPSPEC::ById(12);
  ASSERT_EQ(ps->ReadMultiple(1, &created, &v), ole::S_OK);
  EXPECT_EQ(v.vt, ole::VT_FILETIME);
}

TEST(KyvexSS, ValuesOfAnotherTypeReadAsDocumented) {
  TempDir dir;
  auto root = CreateRoot(dir.File("types.cfb"));
  auto set = root->OpenPropertySet(FMTID_DocSummaryInformation, kWrite, true);
  const auto& ps = set->PropertyStorage();
  struct Case {
    const char16_t* name;
    ole::PROPVARIANT stored;
    std::int64_t asInteger;
    double asDouble;
    const char* asString;
  };
  ole::PROPVARIANT narrow;
  narrow.vt = ole::VT_LPSTR;
  narrow.pwszVal = u"narrow";
  ole::PROPVARIANT blob;
  blob.vt = ole::VT_BLOB;
  blob.blob = {1, 2};
  const Case cases[] = {
      {u"I2", ole::PROPVARIANT::Int(ole::VT_I2, -5), -5, -5.0, ""},
      {u"I4", ole::PROPVARIANT::Int(ole::VT_I4, 123456), 123456, 123456.0, ""},
      {u"UI4", ole::PROPVARIANT::Int(ole::VT_UI4, 4000000000), 4000000000, 4000000000.0, ""},
      {u"UI8Big", ole::PROPVARIANT::Int(ole::VT_UI8, -1), 0, 0.0, ""},
      {u"I8Inexact", ole::PROPVARIANT::I8((std::int64_t{1} << 53) + 1), (std::int64_t{1} << 53) + 1, 0.0, ""},
      {u"BoolTrue", ole::PROPVARIANT::Int(ole::VT_BOOL, -1), 1, 0.0, ""},
      {u"R8Whole", ole::PROPVARIANT::R8(42.0), 42, 42.0, ""},
      {u"R8Fraction", ole::PROPVARIANT::R8(0.5), 0, 0.5, ""},
      {u"R8Huge", ole::PROPVARIANT::R8(1e300), 0, 1e300, ""},
      {u"Text", ole::PROPVARIANT::LPWSTR(u"12"), 0, 0.0, "12"},
      {u"Narrow", narrow, 0, 0.0, "narrow"},
      {u"Blob", blob, 0, 0.0, ""},
      {u"Stamp", ole::PROPVARIANT::FileTime({1, 2}), 0, 0.0, ""},
  };
  for (const Case& c : cases) {
    const ole::PROPSPEC spec = ole::PROPSPEC::ByName(c.name);
    ASSERT_EQ(ps->WriteMultiple(1, &spec, &c.stored, ole::PID_FIRST_USABLE), ole::S_OK);
  }
  for (const Case& c : cases) {
    const std::string name = kyvex::text::Utf16ToUtf8(c.name);
    EXPECT_EQ(ReadIntegerProperty(ps, name), c.asInteger) << name;
    EXPECT_EQ(ReadDoubleProperty(ps, name), c.asDouble) << name;
    EXPECT_EQ(ReadStringProperty(ps, name), c.asString) << name;
  }
  // A VT_DATE is a day count like the date-time itself.
  ole::PROPVARIANT date;
  date.vt = ole::VT_DATE;
  date.dblVal = 36526.5;
  const ole::PROPSPEC id = ole::PROPSPEC::ById(40);
  ASSERT_EQ(ps->WriteMultiple(1, &id, &date, ole::PID_FIRST_USABLE), ole::S_OK);
  EXPECT_EQ(ReadDateTimePropertyById(ps, 40), 36526.5);
  EXPECT_EQ(ReadDateTimePropertyById(ps, 2), 0.0) << "an integer is no date-time";
}

TEST(KyvexSS, AllSixteenSummaryHeaderValuesSurviveTheirWriteOrder) {
  // Ids 2, 18, 4, 5, 3 and 12, then named values, then id 19, then named values: a name given
  // the id after the highest one present would take 19 and lose its value to the security
  // text.
  TempDir dir;
  const std::string path = dir.File("header.cfb");
  {
    auto root = CreateRoot(path);
    auto set = root->OpenPropertySet(FMTID_SummaryInformation, kWrite, true);
    const auto& ps = set->PropertyStorage();
    WriteStringPropertyById(ps, 2, "Kyvex System Information Storage File");
    WriteStringPropertyById(ps, 18, "Kyvex System Information Component Suite 10.2.0");
    WriteStringPropertyById(ps, 4, "Kyvex");
    WriteStringPropertyById(ps, 5, "Debian GNU/Linux 12");
    WriteStringPropertyById(ps, 3, "HOST");
    WriteDateTimePropertyById(ps, 12, 45000.5);
    WriteStringProperty(ps, "OS.LoggedUser", "logged");
    WriteStringProperty(ps, "OS.Account", "account");
    WriteIntegerProperty(ps, "OS.Platform", 64);
    WriteIntegerProperty(ps, "OS.MajorVersion", 6);
    WriteIntegerProperty(ps, "OS.MinorVersion", 1);
    WriteIntegerProperty(ps, "OS.BuildNumber", 65535);
    WriteStringProperty(ps, "OS.CSD", "");
    WriteStringPropertyById(ps, 19, "NON-Admin");
    WriteIntegerProperty(ps, "VMWare", 0);
    WriteIntegerProperty(ps, "VPC", 1);
  }
  auto root = OpenRoot(path, kRead);
  auto set = root->OpenPropertySet(FMTID_SummaryInformation, kRead, false);
  ASSERT_NE(set, nullptr);
  const auto& ps = set->PropertyStorage();
  EXPECT_EQ(ReadStringPropertyById(ps, 2), "Kyvex System Information Storage File");
  EXPECT_EQ(ReadStringPropertyById(ps, 18), "Kyvex System Information Component Suite 10.2.0");
  EXPECT_EQ(ReadStringPropertyById(ps, 4), "Kyvex");
  EXPECT_EQ(ReadStringPropertyById(ps, 5), "Debian GNU/Linux 12");
  EXPECT_EQ(ReadStringPropertyById(ps, 3), "HOST");
  EXPECT_EQ(ReadDateTimePropertyById(ps, 12), 45000.5);
  EXPECT_EQ(ReadStringProperty(ps, "OS.LoggedUser"), "logged");
  EXPECT_EQ(ReadStringProperty(ps, "OS.Account"), "account");
  EXPECT_EQ(ReadIntegerProperty(ps, "OS.Platform"), 64);
  EXPECT_EQ(ReadIntegerProperty(ps, "OS.MajorVersion"), 6);
  EXPECT_EQ(ReadIntegerProperty(ps, "OS.MinorVersion"), 1);
  EXPECT_EQ(ReadIntegerProperty(ps, "OS.BuildNumber"), 65535);
  EXPECT_EQ(ReadStringProperty(ps, "OS.CSD"), "");
  EXPECT_EQ(ReadStringPropertyById(ps, 19), "NON-Admin");
  EXPECT_EQ(ReadIntegerProperty(ps, "VMWare"), 0);
  EXPECT_EQ(ReadIntegerProperty(ps, "VPC"), 1);
}

TEST(KyvexSS, ComponentSetsGetIdsTwoThreeFourInWriteOrder) {
  TempDir dir;
  auto root = CreateRoot(dir.File("component.cfb"));
  auto set = root->OpenSubStorage("CPU", kWrite, true)->OpenPropertySet(FMTID_DocSummaryInformation, kWrite, true);
  const char* names[] = {"Vendor", "Family", "Model", "Stepping", "Name"};
  for (const char* n : names) WriteIntegerProperty(set->PropertyStorage(), n, 1);
  WriteIntegerProperty(set->PropertyStorage(), "family", 2);  // rewritten: keeps id 3
  std::vector<ole::STATPROPSTG> props;
  ASSERT_EQ(set->PropertyStorage()->Enum(&props), ole::S_OK);
  ASSERT_EQ(props.size(), 5u);
  for (std::size_t i = 0; i < props.size(); ++i) {
    EXPECT_EQ(props[i].propid, i + 2);
    EXPECT_EQ(props[i].lpwstrName, U(names[i]));
  }
}

TEST(KyvexSS, DateTimesConvertWithoutTimeZoneToTheMillisecond) {
  struct Known {
    TDateTime dateTime;
    std::uint64_t fileTime;
  };
  const Known known[] = {
      {0.0, 94353120000000000ull},                                   // 1899-12-30
      {36526.5, 125912016000000000ull},                              // 2000-01-01 12:00
      {-1.25, 94352472000000000ull},                                 // 1899-12-29 06:00
      {45351.0 + 86399999.0 / 86400000.0, 133537247999990000ull},    // 2024-02-29 23:59:59.999
      {-109205.0, 0ull},                                             // 1601-01-01
  };
#ifndef _WIN32
  // The conversion takes no notice of the time zone.
  setenv("TZ", "Pacific/Chatham", 1);
  tzset();
#endif
  for (const Known& k : known) {
    const ole::FILETIME ft = DateTimeToFileTime(k.dateTime);
    EXPECT_EQ((std::uint64_t{ft.dwHighDateTime} << 32) | ft.dwLowDateTime, k.fileTime) << k.dateTime;
    const ole::FILETIME back{static_cast<std::uint32_t>(k.fileTime), static_cast<std::uint32_t>(k.fileTime >> 32)};
    EXPECT_NEAR(FileTimeToDateTime(back), k.dateTime, 0.5 / 86400000.0);
  }
#ifndef _WIN32
  unsetenv("TZ");
  tzset();
#endif
  // Round trips to the millisecond across the range, on both sides of 1899-12-30.
  for (double d : {-109204.999, -50000.123456, -0.75, 0.000011574, 1.5, 45123.987654321, 2958465.999}) {
    const double back = FileTimeToDateTime(DateTimeToFileTime(d));
    EXPECT_EQ(std::trunc(back), std::trunc(d)) << d;
    EXPECT_NEAR(std::fabs(back - std::trunc(back)), std::fabs(d - std::trunc(d)), 0.5 / 86400000.0) << d;
  }
  // What has no FILETIME form.
  EXPECT_EQ(DateTimeToFileTime(-109206.0), (ole::FILETIME{0, 0}));
  EXPECT_EQ(DateTimeToFileTime(std::nan("")), (ole::FILETIME{0, 0}));
  EXPECT_EQ(DateTimeToFileTime(1e12), (ole::FILETIME{0xFFFFFFFF, 0x7FFFFFFF}));
  EXPECT_EQ(FileTimeToDateTime({0, 0x80000000}), 0.0);
  // 23:59:59.9996 rounds to the next day, not to a 24th hour.
  const double almost = 1.0 + 86399999.6 / 86400000.0;
  EXPECT_EQ(FileTimeToDateTime(DateTimeToFileTime(almost)), 2.0);
}

TEST(KyvexSS, ErrorsCarryStatusAndMessage) {
  const EOleSysError e(ole::STG_E_SHAREVIOLATION, "opening \"a.cfb\"", "held by another program");
  EXPECT_EQ(e.ErrorCode(), ole::STG_E_SHAREVIOLATION);
  const std::string what = e.what();
  EXPECT_NE(what.find("0x80030020"), std::string::npos) << what;
  EXPECT_NE(what.find("opening \"a.cfb\""), std::string::npos) << what;
  EXPECT_NE(what.find("held by another program"), std::string::npos) << what;
  const std::runtime_error& base = e;
  EXPECT_STREQ(base.what(), what.c_str());

  TempDir dir;
  const std::string path = dir.File("held.cfb");
  auto root = CreateRoot(path);
  std::string message;
  EXPECT_EQ(RaisedStatus([&] { OpenRoot(path, kRead); }, &message), ole::STG_E_SHAREVIOLATION);
  EXPECT_NE(message.find("0x80030020"), std::string::npos) << message;
}

TEST(KyvexSS, ARootFreedDuringAnExceptionKeepsThePreviousFile) {
  TempDir dir;
  const std::string path = dir.File("unwind.cfb");
  {
    auto root = CreateRoot(path);
    WriteIntegerProperty(root->OpenSubStorage("CPU", kWrite, true)
                             ->OpenPropertySet(FMTID_DocSummaryInformation, kWrite, true)
                             ->PropertyStorage(),
                         "Saved", 1);
  }
  try {
    auto root = OpenRoot(path, kWrite);
    root->Storage()->DestroyElement(u"CPU");
    auto cpu = root->OpenSubStorage("CPU", kWrite, true);
    throw std::runtime_error("the component failed half-way");
  } catch (const std::runtime_error&) {
  }
  {
    auto root = OpenRoot(path, kRead);
    auto set = root->OpenSubStorage("CPU", kRead, false)->OpenPropertySet(FMTID_DocSummaryInformation, kRead, false);
    ASSERT_NE(set, nullptr) << "the unfinished save replaced the file";
    EXPECT_EQ(ReadIntegerProperty(set->PropertyStorage(), "Saved"), 1);
  }
  {
    auto root = OpenRoot(path, kWrite);
    root->Storage()->DestroyElement(u"CPU");
  }  // freed normally: the change is saved
  EXPECT_FALSE(OpenRoot(path, kRead)->ElementExists("CPU"));
}

#ifndef _WIN32
TEST(KyvexSS, CommitRaisesWhenTheFileCannotBeWritten) {
  TempDir dir;
  std::filesystem::create_directory(dir.Path() / "sub");
  auto root = CreateRoot(dir.File("sub/x.cfb"));
  root->OpenSubStorage("CPU", kWrite, true);
  std::filesystem::remove_all(dir.Path() / "sub");
  std::string message;
  EXPECT_TRUE(ole::Failed(RaisedStatus([&] { root->Commit(); }, &message)));
  EXPECT_NE(message.find("x.cfb"), std::string::npos) << message;
}
#endif

}  // namespace
