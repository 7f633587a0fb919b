// The compound-file engine through its COM-shaped interfaces: what is written comes back,
// the file keeps the directory order ole32 needs, statuses are ole32's, and a file is held
// and replaced safely.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>

#include "CompoundTestSupport.h"
#include "compound/Ole.h"

namespace {

using namespace kyvex::ole;
using kyvex::testing::FixturePath;
using kyvex::testing::RawDirectory;
using kyvex::testing::ReadBytes;
using kyvex::testing::TempDir;
using kyvex::testing::U;
using kyvex::testing::WriteBytes;

constexpr DWORD kRead = STGM_READ | STGM_SHARE_EXCLUSIVE;
constexpr DWORD kWrite = STGM_READWRITE | STGM_SHARE_EXCLUSIVE;
constexpr DWORD kCreate = kWrite | STGM_CREATE;

std::shared_ptr<IStorage> CreateFile(const std::string& path) {
  std::shared_ptr<IStorage> s;
  EXPECT_EQ(StgCreateDocfile(path, kCreate, 0, &s), S_OK) << LastErrorText();
  return s;
}

std::shared_ptr<IStorage> OpenFile(const std::string& path, DWORD mode) {
  std::shared_ptr<IStorage> s;
  EXPECT_EQ(StgOpenStorage(path, nullptr, mode, nullptr, 0, &s), S_OK) << LastErrorText();
  return s;
}

std::shared_ptr<IStorage> NewStorage(IStorage& parent, std::u16string_view name) {
  std::shared_ptr<IStorage> s;
  EXPECT_EQ(parent.CreateStorage(name, kCreate, 0, 0, &s), S_OK) << LastErrorText();
  return s;
}

std::shared_ptr<IStorage> SubStorage(IStorage& parent, std::u16string_view name, DWORD mode) {
  std::shared_ptr<IStorage> s;
  EXPECT_EQ(parent.OpenStorage(name, nullptr, mode, nullptr, 0, &s), S_OK) << LastErrorText();
  return s;
}

std::shared_ptr<IPropertyStorage> NewSet(IStorage& stg, const FMTID& fmtid) {
  std::shared_ptr<IPropertySetStorage> sets;
  EXPECT_EQ(stg.QueryPropertySetStorage(&sets), S_OK);
  std::shared_ptr<IPropertyStorage> ps;
  EXPECT_EQ(sets->Create(fmtid, &GUID_NULL, PROPSETFLAG_DEFAULT, kCreate, &ps), S_OK) << LastErrorText();
  return ps;
}

HRESULT OpenSet(IStorage& stg, const FMTID& fmtid, DWORD mode, std::shared_ptr<IPropertyStorage>* ps) {
  std::shared_ptr<IPropertySetStorage> sets;
  EXPECT_EQ(stg.QueryPropertySetStorage(&sets), S_OK);
  return sets->Open(fmtid, mode, ps);
}

std::vector<std::u16string> Names(IStorage& stg) {
  std::shared_ptr<IEnumSTATSTG> e;
  EXPECT_EQ(stg.EnumElements(0, nullptr, 0, &e), S_OK);
  std::vector<std::u16string> names;
  STATSTG batch[3];
  ULONG got = 0;
  HRESULT hr;
  do {
    hr = e->Next(3, batch, &got);
    for (ULONG i = 0; i < got; ++i) names.push_back(batch[i].pwcsName);
  } while (hr == S_OK);
  EXPECT_EQ(hr, S_FALSE);
  return names;
}

void Write(IPropertyStorage& ps, std::u16string_view name, const PROPVARIANT& v) {
  const PROPSPEC spec = PROPSPEC::ByName(name);
  ASSERT_EQ(ps.WriteMultiple(1, &spec, &v, PID_FIRST_USABLE), S_OK) << LastErrorText();
}

PROPVARIANT Read(IPropertyStorage& ps, std::u16string_view name, HRESULT expect = S_OK) {
  const PROPSPEC spec = PROPSPEC::ByName(name);
  PROPVARIANT v;
  EXPECT_EQ(ps.ReadMultiple(1, &spec, &v), expect);
  return v;
}

PROPVARIANT ReadId(IPropertyStorage& ps, PROPID id, HRESULT expect = S_OK) {
  const PROPSPEC spec = PROPSPEC::ById(id);
  PROPVARIANT v;
  EXPECT_EQ(ps.ReadMultiple(1, &spec, &v), expect);
  return v;
}

std::map<std::u16string, PROPID> IdsByName(IPropertyStorage& ps) {
  std::vector<STATPROPSTG> props;
  EXPECT_EQ(ps.Enum(&props), S_OK);
  std::map<std::u16string, PROPID> ids;
  for (const auto& p : props) ids[p.lpwstrName] = p.propid;
  return ids;
}

void ExpectSame(const PROPVARIANT& want, const PROPVARIANT& got, const std::string& what) {
  SCOPED_TRACE(what);
  ASSERT_EQ(got.vt, want.vt);
  switch (want.vt) {
    case VT_R8: case VT_R4: case VT_DATE:
      if (std::isnan(want.dblVal)) {
        EXPECT_TRUE(std::isnan(got.dblVal));
      } else {
        EXPECT_EQ(std::memcmp(&want.dblVal, &got.dblVal, sizeof(double)), 0) << want.dblVal << " vs " << got.dblVal;
      }
      break;
    case VT_FILETIME: EXPECT_EQ(got.filetime, want.filetime); break;
    case VT_LPWSTR: case VT_LPSTR: case VT_BSTR: EXPECT_EQ(got.pwszVal, want.pwszVal); break;
    case VT_BLOB: case VT_CLSID: EXPECT_EQ(got.blob, want.blob); break;
    default: EXPECT_EQ(got.hVal, want.hVal); break;
  }
}

PROPVARIANT Blob(std::size_t n) {
  PROPVARIANT v;
  v.vt = VT_BLOB;
  for (std::size_t i = 0; i < n; ++i) v.blob.push_back(static_cast<std::uint8_t>(i * 7));
  return v;
}

struct NamedValue {
  std::u16string name;
  PROPVARIANT value;
};

std::vector<NamedValue> EveryKind() {
  PROPVARIANT lpstr;
  lpstr.vt = VT_LPSTR;
  lpstr.pwszVal = u"narrow text";
  PROPVARIANT empty;
  PROPVARIANT clsid;
  clsid.vt = VT_CLSID;
  clsid.blob.assign(16, 0xA5);
  return {
      {u"Text", PROPVARIANT::LPWSTR(u"GenuineIntel")},
      {u"Empty", PROPVARIANT::LPWSTR(u"")},
      {U("Gerätename ✓"), PROPVARIANT::LPWSTR(U("Ünïcødé ✓ 日本語 𝄞"))},
      {u"MinI8", PROPVARIANT::I8(std::numeric_limits<std::int64_t>::min())},
      {u"MaxI8", PROPVARIANT::I8(std::numeric_limits<std::int64_t>::max())},
      {u"Pi", PROPVARIANT::R8(3.141592653589793)},
      {u"NegativeZero", PROPVARIANT::R8(-0.0)},
      {u"Infinity", PROPVARIANT::R8(std::numeric_limits<double>::infinity())},
      {u"Denormal", PROPVARIANT::R8(std::numeric_limits<double>::denorm_min())},
      {u"Stamp", PROPVARIANT::FileTime({0x89ABCDEF, 0x01D9F00D})},
      {u"Short", PROPVARIANT::Int(VT_I2, -2)},
      {u"Long", PROPVARIANT::Int(VT_I4, -70000)},
      {u"Unsigned", PROPVARIANT::Int(VT_UI4, 4000000000)},
      {u"Flag", PROPVARIANT::Int(VT_BOOL, -1)},
      {u"AllBits", PROPVARIANT::Int(VT_UI8, -1)},
      {u"Byte", PROPVARIANT::Int(VT_UI1, 200)},
      {u"Blob", Blob(3)},
      {u"Narrow", lpstr},
      {u"Class", clsid},
      {u"Nothing", empty},
  };
}

TEST(CompoundEngine, EveryValueKindTreeAndNameSurviveAReopen) {
  TempDir dir;
  const std::string path = dir.File("round.cfb");
  const auto values = EveryKind();
  {
    auto root = CreateFile(path);
    auto cpu = NewStorage(*root, u"CPU");
    auto cache = NewStorage(*cpu, u"Cache");
    auto set = NewSet(*cache, FMTID_DocSummaryInformation);
    for (const auto& nv : values) Write(*set, nv.name, nv.value);
    NewStorage(*root, U("Gerät ✓ 日本"));
    NewStorage(*cpu, u"EmptyStorage");
    auto summary = NewSet(*root, FMTID_SummaryInformation);
    const PROPSPEC title = PROPSPEC::ById(2);
    const PROPVARIANT text = PROPVARIANT::LPWSTR(u"Kyvex System Information Storage File");
    ASSERT_EQ(summary->WriteMultiple(1, &title, &text, PID_FIRST_USABLE), S_OK);
    ASSERT_EQ(root->Commit(STGC_DEFAULT), S_OK) << LastErrorText();
  }
  auto root = OpenFile(path, kRead);
  EXPECT_EQ(Names(*root), (std::vector<std::u16string>{u"CPU", U("Gerät ✓ 日本"), u"\005SummaryInformation"}));
  auto cpu = SubStorage(*root, u"CPU", kRead);
  EXPECT_EQ(Names(*cpu), (std::vector<std::u16string>{u"Cache", u"EmptyStorage"}));
  auto cache = SubStorage(*cpu, u"Cache", kRead);
  STATSTG st;
  ASSERT_EQ(cache->StatElement(u"\005DocumentSummaryInformation", &st), S_OK);
  EXPECT_EQ(st.type, STGTY_STREAM);
  std::shared_ptr<IPropertyStorage> set;
  ASSERT_EQ(OpenSet(*cache, FMTID_DocSummaryInformation, kRead, &set), S_OK) << LastErrorText();
  for (const auto& nv : values) ExpectSame(nv.value, Read(*set, nv.name), kyvex::text::Utf16ToUtf8(nv.name));
  std::shared_ptr<IPropertyStorage> summary;
  ASSERT_EQ(OpenSet(*root, FMTID_SummaryInformation, kRead, &summary), S_OK);
  EXPECT_EQ(ReadId(*summary, 2).pwszVal, u"Kyvex System Information Storage File");
  EXPECT_EQ(ReadId(*summary, PID_CODEPAGE).hVal, 1200);
}

TEST(CompoundEngine, SetsOnBothSidesOfTheMiniStreamCutoffAndLargeSetsSurvive) {
  // A set of one named blob is 112 bytes plus the blob: 3980 bytes give a 4092-byte stream
  // (mini stream), 3984 give 4096 (regular sectors).
  TempDir dir;
  const std::string path = dir.File("cutoff.cfb");
  const std::pair<const char16_t*, std::size_t> cases[] = {{u"Below", 3980}, {u"At", 3984}, {u"Above", 9000}};
  {
    auto root = CreateFile(path);
    for (const auto& [name, size] : cases) {
      auto stg = NewStorage(*root, name);
      Write(*NewSet(*stg, FMTID_DocSummaryInformation), u"B", Blob(size));
    }
    auto many = NewStorage(*root, u"Many");
    auto set = NewSet(*many, FMTID_DocSummaryInformation);
    for (int i = 0; i < 300; ++i)
      Write(*set, U("Value" + std::to_string(i)), PROPVARIANT::LPWSTR(U("text number " + std::to_string(i))));
  }
  auto root = OpenFile(path, kRead);
  for (const auto& [name, size] : cases) {
    auto stg = SubStorage(*root, name, kRead);
    STATSTG st;
    ASSERT_EQ(stg->StatElement(u"\005DocumentSummaryInformation", &st), S_OK);
    EXPECT_EQ(st.cbSize, 112 + size);
    std::shared_ptr<IPropertyStorage> set;
    ASSERT_EQ(OpenSet(*stg, FMTID_DocSummaryInformation, kRead, &set), S_OK) << LastErrorText();
    ExpectSame(Blob(size), Read(*set, u"B"), "blob");
  }
  std::shared_ptr<IPropertyStorage> set;
  ASSERT_EQ(OpenSet(*SubStorage(*root, u"Many", kRead), FMTID_DocSummaryInformation, kRead, &set), S_OK);
  for (int i = 0; i < 300; ++i)
    EXPECT_EQ(Read(*set, U("Value" + std::to_string(i))).pwszVal, U("text number " + std::to_string(i)));
}

TEST(CompoundEngine, SetsReopenedAfterTheirInterfacesCloseStillHoldTheirValues) {
  // A file open for reading lets a set's parsed values go with its last interface; one open
  // for writing must keep values not yet committed.
  TempDir dir;
  const std::string path = dir.File("reopen.cfb");
  {
    auto root = CreateFile(path);
    Write(*NewSet(*root, FMTID_DocSummaryInformation), u"Name", PROPVARIANT::LPWSTR(u"saved"));
    ASSERT_EQ(root->Commit(STGC_DEFAULT), S_OK) << LastErrorText();
  }
  {
    auto root = OpenFile(path, kRead);
    for (int round = 0; round < 2; ++round) {
      std::shared_ptr<IPropertyStorage> first, second;
      ASSERT_EQ(OpenSet(*root, FMTID_DocSummaryInformation, kRead, &first), S_OK) << LastErrorText();
      ASSERT_EQ(OpenSet(*root, FMTID_DocSummaryInformation, kRead, &second), S_OK) << LastErrorText();
      first.reset();  // the other interface still reads
      EXPECT_EQ(Read(*second, u"Name").pwszVal, u"saved") << "round " << round;
    }
  }
  auto root = OpenFile(path, kWrite);
  {
    std::shared_ptr<IPropertyStorage> set;
    ASSERT_EQ(OpenSet(*root, FMTID_DocSummaryInformation, kWrite, &set), S_OK) << LastErrorText();
    Write(*set, u"Name", PROPVARIANT::LPWSTR(u"changed"));
  }
  {
    std::shared_ptr<IPropertyStorage> set;
    ASSERT_EQ(OpenSet(*root, FMTID_DocSummaryInformation, kRead, &set), S_OK) << LastErrorText();
    EXPECT_EQ(Read(*set, u"Name").pwszVal, u"changed");
  }
  // A released set is written to its stream, not to the file: reverting still returns to what
  // was committed, and a commit writes what was released.
  ASSERT_EQ(root->Revert(), S_OK) << LastErrorText();
  {
    std::shared_ptr<IPropertyStorage> set;
    ASSERT_EQ(OpenSet(*root, FMTID_DocSummaryInformation, kWrite, &set), S_OK) << LastErrorText();
    EXPECT_EQ(Read(*set, u"Name").pwszVal, u"saved");
    Write(*set, u"Name", PROPVARIANT::LPWSTR(u"committed"));
    Write(*set, u"Count", PROPVARIANT::I8(-5));
  }
  ASSERT_EQ(root->Commit(STGC_DEFAULT), S_OK) << LastErrorText();
  root.reset();
  root = OpenFile(path, kRead);
  std::shared_ptr<IPropertyStorage> set;
  ASSERT_EQ(OpenSet(*root, FMTID_DocSummaryInformation, kRead, &set), S_OK) << LastErrorText();
  EXPECT_EQ(Read(*set, u"Name").pwszVal, u"committed");
  EXPECT_EQ(Read(*set, u"Count").hVal, -5);
}

TEST(CompoundEngine, FileBeyondSevenMegabytesUsesTheDifat) {
  TempDir dir;
  const std::string path = dir.File("big.cfb");
  std::u16string big(4u << 20, u'x');
  for (std::size_t i = 0; i < big.size(); i += 4093) big[i] = static_cast<char16_t>(u'a' + i % 26);
  {
    auto root = CreateFile(path);
    Write(*NewSet(*NewStorage(*root, u"Big"), FMTID_DocSummaryInformation), u"Huge", PROPVARIANT::LPWSTR(big));
    Write(*NewSet(*NewStorage(*root, u"Small"), FMTID_DocSummaryInformation), u"Tiny", PROPVARIANT::I8(7));
  }
  const auto bytes = ReadBytes(path);
  ASSERT_GT(bytes.size(), 7u << 20);
  EXPECT_GT(kyvex::testing::Le32(bytes, 0x48), 0u) << "no DIFAT sector";
  EXPECT_GT(kyvex::testing::Le32(bytes, 0x2C), 109u);
  auto root = OpenFile(path, kRead);
  std::shared_ptr<IPropertyStorage> set;
  ASSERT_EQ(OpenSet(*SubStorage(*root, u"Big", kRead), FMTID_DocSummaryInformation, kRead, &set), S_OK);
  EXPECT_TRUE(Read(*set, u"Huge").pwszVal == big);
  ASSERT_EQ(OpenSet(*SubStorage(*root, u"Small", kRead), FMTID_DocSummaryInformation, kRead, &set), S_OK);
  EXPECT_EQ(Read(*set, u"Tiny").hVal, 7);
}

bool DirectoryLess(const std::u16string& a, const std::u16string& b) {
  if (a.size() != b.size()) return a.size() < b.size();
  for (std::size_t i = 0; i < a.size(); ++i) {
    const char16_t x = UpperUnit(a[i]), y = UpperUnit(b[i]);
    if (x != y) return x < y;
  }
  return false;
}

TEST(CompoundEngine, SiblingsFollowLengthThenUpperCaseOrderInABalancedBlackTree) {
  TempDir dir;
  const std::string path = dir.File("order.cfb");
  {
    auto root = CreateFile(path);
    for (const char* n : {"10", "2", "b", "A", "aa", "Zz", "ab", "AC"}) NewStorage(*root, U(n));
    NewStorage(*root, U("ä"));
    auto many = NewStorage(*root, u"Many");
    for (int i = 0; i < 1000; ++i) NewStorage(*many, U("Device" + std::to_string(i)));
  }
  auto root = OpenFile(path, kRead);
  EXPECT_EQ(Names(*root), (std::vector<std::u16string>{u"2", u"A", u"b", U("ä"), u"10", u"aa", u"ab", u"AC", u"Zz",
                                                       u"Many"}));
  root.reset();

  // The bytes themselves: every storage's sibling tree, read in order, is sorted; it is
  // balanced and black.
  const auto entries = RawDirectory(ReadBytes(path));
  ASSERT_FALSE(entries.empty());
  ASSERT_EQ(entries[0].type, 5);
  std::size_t checkedMany = 0;
  for (const auto& parent : entries) {
    if (parent.type != 1 && parent.type != 5) continue;
    std::vector<std::u16string> inOrder;
    std::size_t maxDepth = 0;
    std::vector<std::pair<std::uint32_t, std::size_t>> stack;
    std::uint32_t at = parent.child;
    std::size_t depth = 1;
    while (at != 0xFFFFFFFF || !stack.empty()) {
      while (at != 0xFFFFFFFF) {
        ASSERT_LT(at, entries.size());
        EXPECT_EQ(entries[at].color, 1) << "entry " << at << " is not black";
        maxDepth = std::max(maxDepth, depth);
        stack.emplace_back(at, depth);
        at = entries[at].left;
        ++depth;
      }
      auto [id, d] = stack.back();
      stack.pop_back();
      inOrder.push_back(entries[id].name);
      at = entries[id].right;
      depth = d + 1;
    }
    for (std::size_t i = 1; i < inOrder.size(); ++i)
      EXPECT_TRUE(DirectoryLess(inOrder[i - 1], inOrder[i])) << "out of order at " << i;
    if (inOrder.size() == 1000) {
      EXPECT_LE(maxDepth, 10u) << "1000 siblings should be 10 levels deep at most";
      ++checkedMany;
    }
  }
  EXPECT_EQ(checkedMany, 1u);
}

TEST(CompoundEngine, ElementAndPropertyNamesIgnoreCase) {
  TempDir dir;
  const std::string path = dir.File("case.cfb");
  auto root = CreateFile(path);
  NewStorage(*root, u"CPU");
  std::shared_ptr<IStorage> s;
  EXPECT_EQ(root->OpenStorage(u"cpu", nullptr, kWrite, nullptr, 0, &s), S_OK);
  EXPECT_EQ(root->CreateStorage(u"Cpu", kWrite, 0, 0, &s), STG_E_FILEALREADYEXISTS);
  STATSTG st;
  ASSERT_EQ(root->StatElement(u"cPU", &st), S_OK);
  EXPECT_EQ(st.pwcsName, u"CPU");
  NewStorage(*root, U("Ärger"));
  EXPECT_EQ(root->StatElement(U("ärger"), &st), S_OK);

  auto set = NewSet(*root, FMTID_DocSummaryInformation);
  Write(*set, u"FDIVBug", PROPVARIANT::I8(1));
  Write(*set, u"fdivbug", PROPVARIANT::LPWSTR(u"replaced"));
  EXPECT_EQ(Read(*set, u"FDIVBUG").pwszVal, u"replaced");
  std::vector<STATPROPSTG> props;
  ASSERT_EQ(set->Enum(&props), S_OK);
  ASSERT_EQ(props.size(), 1u);
  EXPECT_EQ(props[0].lpwstrName, u"FDIVBug");

  EXPECT_EQ(root->DestroyElement(u"cpu"), S_OK);
  EXPECT_EQ(root->StatElement(u"CPU", &st), STG_E_FILENOTFOUND);
}

TEST(CompoundEngine, NewNamesTakeTheLowestUnusedIdAndKeepIt) {
  TempDir dir;
  auto root = CreateFile(dir.File("ids.cfb"));
  auto set = NewSet(*root, FMTID_SummaryInformation);
  auto writeId = [&](PROPID id) {
    const PROPSPEC spec = PROPSPEC::ById(id);
    const PROPVARIANT v = PROPVARIANT::I8(id);
    ASSERT_EQ(set->WriteMultiple(1, &spec, &v, PID_FIRST_USABLE), S_OK);
  };
  writeId(2);
  writeId(4);
  Write(*set, u"A", PROPVARIANT::I8(0));
  Write(*set, u"B", PROPVARIANT::I8(0));
  writeId(6);
  Write(*set, u"C", PROPVARIANT::I8(0));
  Write(*set, u"a", PROPVARIANT::I8(9));  // rewriting keeps id 3
  // Two new names in one call, and a first id above the free ones.
  const PROPSPEC specs[] = {PROPSPEC::ByName(u"D"), PROPSPEC::ByName(u"E")};
  const PROPVARIANT vals[] = {PROPVARIANT::I8(1), PROPVARIANT::I8(2)};
  ASSERT_EQ(set->WriteMultiple(2, specs, vals, 100), S_OK);
  EXPECT_EQ(IdsByName(*set), (std::map<std::u16string, PROPID>{
                                 {u"", 6}, {u"A", 3}, {u"B", 5}, {u"C", 7}, {u"D", 100}, {u"E", 101}}));
  EXPECT_EQ(ReadId(*set, 3).hVal, 9);
  EXPECT_EQ(set->WriteMultiple(2, specs, vals, 1), STG_E_INVALIDPARAMETER);
}

TEST(CompoundEngine, StatusesMatchOle32) {
  TempDir dir;
  const std::string compound = dir.File("a.cfb");
  const std::string text = dir.File("t.txt");
  const std::string empty = dir.File("e.cfb");
  const std::string absent = dir.File("absent.cfb");
  WriteBytes(text, {'h', 'e', 'l', 'l', 'o'});
  WriteBytes(empty, {});
  {
    auto root = CreateFile(compound);
    NewStorage(*root, u"CPU");
    NewSet(*root, FMTID_SummaryInformation);
  }
  struct Case {
    const char* what;
    std::function<HRESULT()> call;
    HRESULT expected;
  };
  std::shared_ptr<IStorage> out;
  const std::vector<Case> cases = {
      {"IsStorageFile compound", [&] { return StgIsStorageFile(compound); }, S_OK},
      {"IsStorageFile text", [&] { return StgIsStorageFile(text); }, S_FALSE},
      {"IsStorageFile empty", [&] { return StgIsStorageFile(empty); }, S_FALSE},
      {"IsStorageFile absent", [&] { return StgIsStorageFile(absent); }, STG_E_FILENOTFOUND},
      {"OpenStorage text", [&] { return StgOpenStorage(text, nullptr, kRead, nullptr, 0, &out); },
       STG_E_FILEALREADYEXISTS},
      {"OpenStorage empty", [&] { return StgOpenStorage(empty, nullptr, kWrite, nullptr, 0, &out); },
       STG_E_FILEALREADYEXISTS},
      {"OpenStorage absent", [&] { return StgOpenStorage(absent, nullptr, kRead, nullptr, 0, &out); },
       STG_E_FILENOTFOUND},
      {"CreateDocfile without STGM_CREATE", [&] { return StgCreateDocfile(compound, kWrite, 0, &out); },
       STG_E_FILEALREADYEXISTS},
      {"CreateDocfile for reading", [&] { return StgCreateDocfile(absent, kRead | STGM_CREATE, 0, &out); },
       STG_E_INVALIDFLAG},
      {"OpenStorage in an absent folder",
       [&] { return StgOpenStorage(dir.File("none/a.cfb"), nullptr, kRead, nullptr, 0, &out); }, STG_E_PATHNOTFOUND},
      {"CreateDocfile in an absent folder", [&] { return StgCreateDocfile(dir.File("none/a.cfb"), kCreate, 0, &out); },
       STG_E_PATHNOTFOUND},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.call(), c.expected) << c.what;
    out.reset();
  }
  EXPECT_FALSE(std::filesystem::exists(absent));

  auto root = OpenFile(compound, kWrite);
  std::shared_ptr<IStorage> sub;
  EXPECT_EQ(root->OpenStorage(u"Absent", nullptr, kWrite, nullptr, 0, &sub), STG_E_FILENOTFOUND);
  EXPECT_EQ(root->OpenStorage(u"\005SummaryInformation", nullptr, kWrite, nullptr, 0, &sub), STG_E_FILENOTFOUND);
  EXPECT_EQ(root->DestroyElement(u"Absent"), STG_E_FILENOTFOUND);
  std::shared_ptr<IPropertyStorage> set;
  EXPECT_EQ(OpenSet(*root, FMTID_DocSummaryInformation, kWrite, &set), STG_E_FILENOTFOUND);
  EXPECT_EQ(set, nullptr);
  ASSERT_EQ(OpenSet(*root, FMTID_SummaryInformation, kWrite, &set), S_OK);
  EXPECT_EQ(ReadId(*set, 42, S_FALSE).vt, VT_EMPTY);
  EXPECT_EQ(Read(*set, u"NoSuchName", S_FALSE).vt, VT_EMPTY);
  EXPECT_EQ(root->DestroyElement(u"CPU"), S_OK);
}

TEST(CompoundEngine, ModesNamesAndReadOnlyAccessAreChecked) {
  TempDir dir;
  const std::string path = dir.File("modes.cfb");
  {
    auto root = CreateFile(path);
    std::shared_ptr<IStorage> s;
    for (std::u16string_view bad : {u"", u"a/b", u"a\\b", u"a:b", u"a!b", u"0123456789012345678901234567890X"})
      EXPECT_EQ(root->CreateStorage(bad, kCreate, 0, 0, &s), STG_E_INVALIDNAME) << kyvex::text::Utf16ToUtf8(bad);
    EXPECT_EQ(root->CreateStorage(u"0123456789012345678901234567890", kCreate, 0, 0, &s), S_OK);
    EXPECT_EQ(root->CreateStorage(u"Shared", STGM_READWRITE | STGM_SHARE_DENY_NONE, 0, 0, &s), STG_E_INVALIDFLAG);
    NewSet(*NewStorage(*root, u"CPU"), FMTID_DocSummaryInformation);
  }
  auto root = OpenFile(path, kRead);
  std::shared_ptr<IStorage> s;
  EXPECT_EQ(root->CreateStorage(u"New", kCreate, 0, 0, &s), STG_E_ACCESSDENIED);
  EXPECT_EQ(root->DestroyElement(u"CPU"), STG_E_ACCESSDENIED);
  EXPECT_EQ(root->OpenStorage(u"CPU", nullptr, kWrite, nullptr, 0, &s), STG_E_ACCESSDENIED);
  auto cpu = SubStorage(*root, u"CPU", kRead);
  std::shared_ptr<IPropertyStorage> set;
  EXPECT_EQ(OpenSet(*cpu, FMTID_DocSummaryInformation, kWrite, &set), STG_E_ACCESSDENIED);
  ASSERT_EQ(OpenSet(*cpu, FMTID_DocSummaryInformation, kRead, &set), S_OK);
  const PROPSPEC spec = PROPSPEC::ByName(u"X");
  const PROPVARIANT v = PROPVARIANT::I8(1);
  EXPECT_EQ(set->WriteMultiple(1, &spec, &v, PID_FIRST_USABLE), STG_E_ACCESSDENIED);
}

TEST(CompoundEngine, DestroyedElementsAndClosedFilesAnswerReverted) {
  TempDir dir;
  auto root = CreateFile(dir.File("revert.cfb"));
  auto cpu = NewStorage(*root, u"CPU");
  auto inner = NewStorage(*cpu, u"Cache");
  auto set = NewSet(*inner, FMTID_DocSummaryInformation);
  ASSERT_EQ(root->DestroyElement(u"CPU"), S_OK);
  std::shared_ptr<IStorage> s;
  EXPECT_EQ(inner->CreateStorage(u"X", kCreate, 0, 0, &s), STG_E_REVERTED);
  const PROPSPEC spec = PROPSPEC::ByName(u"X");
  const PROPVARIANT v = PROPVARIANT::I8(1);
  EXPECT_EQ(set->WriteMultiple(1, &spec, &v, PID_FIRST_USABLE), STG_E_REVERTED);

  auto other = NewStorage(*root, u"Other");
  root.reset();  // closes the file
  EXPECT_EQ(other->CreateStorage(u"X", kCreate, 0, 0, &s), STG_E_REVERTED);
}

TEST(CompoundEngine, AnOpenFileIsHeldExclusively) {
  TempDir dir;
  const std::string path = dir.File("held.cfb");
  CreateFile(path).reset();
  for (DWORD first : {kRead, kWrite}) {
    auto held = OpenFile(path, first);
    std::shared_ptr<IStorage> second;
    for (DWORD mode : {kRead, kWrite, STGM_READ | STGM_SHARE_DENY_NONE})
      EXPECT_EQ(StgOpenStorage(path, nullptr, mode, nullptr, 0, &second), STG_E_SHAREVIOLATION)
          << "first " << first << ", second " << mode;
    EXPECT_EQ(StgCreateDocfile(path, kCreate, 0, &second), STG_E_SHAREVIOLATION);
    held.reset();
    EXPECT_EQ(StgOpenStorage(path, nullptr, kRead, nullptr, 0, &second), S_OK) << LastErrorText();
  }
  // A file being created is held too.
  auto created = CreateFile(dir.File("new.cfb"));
  std::shared_ptr<IStorage> second;
  EXPECT_EQ(StgOpenStorage(dir.File("new.cfb"), nullptr, kRead, nullptr, 0, &second), STG_E_SHAREVIOLATION);
}

std::size_t FilesIn(const std::filesystem::path& dir) {
  return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(dir), {}));
}

TEST(CompoundEngine, TheFileChangesOnlyWhenCommittedAndRevertLeavesItAsItWas) {
  TempDir dir;
  const std::string path = dir.File("save.cfb");
  {
    auto root = CreateFile(path);
    Write(*NewSet(*NewStorage(*root, u"CPU"), FMTID_DocSummaryInformation), u"Old", PROPVARIANT::I8(1));
  }
  const auto before = ReadBytes(path);
  {
    auto root = CreateFile(path);  // replaces the file, but only at the commit
    Write(*NewSet(*NewStorage(*root, u"Storage"), FMTID_DocSummaryInformation), u"New", PROPVARIANT::I8(2));
#ifndef _WIN32  // Windows lets nobody read a held file
    EXPECT_EQ(ReadBytes(path), before);
#endif
    ASSERT_EQ(root->Revert(), S_OK);
    EXPECT_TRUE(Names(*root).empty());
  }
  EXPECT_EQ(ReadBytes(path), before);
  {
    auto root = OpenFile(path, kWrite);
    ASSERT_EQ(root->DestroyElement(u"CPU"), S_OK);
    NewStorage(*root, u"Storage");
    ASSERT_EQ(root->Commit(STGC_DEFAULT), S_OK) << LastErrorText();
    EXPECT_NE(ReadBytes(path), before);
  }
  EXPECT_EQ(Names(*OpenFile(path, kRead)), std::vector<std::u16string>{u"Storage"});
  EXPECT_EQ(FilesIn(dir.Path()), 1u) << "a temporary file was left behind";
}

#ifndef _WIN32
TEST(CompoundEngine, AFailedWriteIsReportedAndNotTakenForDone) {
  TempDir dir;
  std::filesystem::create_directory(dir.Path() / "sub");
  const std::string path = dir.File("sub/gone.cfb");
  auto root = CreateFile(path);
  NewStorage(*root, u"CPU");
  // The folder vanishes under the open file: the new file cannot be written beside the old.
  std::filesystem::remove_all(dir.Path() / "sub");
  const HRESULT hr = root->Commit(STGC_DEFAULT);
  EXPECT_TRUE(Failed(hr)) << std::hex << hr;
  EXPECT_NE(LastErrorText().find("gone.cfb"), std::string::npos) << LastErrorText();
  EXPECT_TRUE(Failed(root->Commit(STGC_DEFAULT))) << "a second try must not claim success either";
}
#endif

TEST(CompoundEngine, SetsWrittenElsewhereAreReadWithTheirTypesAndKeptOnRewrite) {
  TempDir dir;
  const std::string path = dir.File("foreign.cfb");
  WriteBytes(path, ReadBytes(FixturePath("foreign-types.cfb")));
  PROPVARIANT vector;
  vector.vt = VT_VECTOR | VT_I4;
  vector.blob = {3, 0, 0, 0, 7, 0, 0, 0, 8, 0, 0, 0, 9, 0, 0, 0};
  PROPVARIANT ansi;
  ansi.vt = VT_LPSTR;
  ansi.pwszVal = u"Ansi";
  PROPVARIANT clsid;
  clsid.vt = VT_CLSID;
  clsid.blob = {0x67, 0x45, 0x23, 0x01, 0xAB, 0x89, 0xEF, 0xCD, 0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
  const std::vector<NamedValue> expected = {
      {u"Short", PROPVARIANT::Int(VT_I2, -1234)},
      {u"Long", PROPVARIANT::Int(VT_I4, -123456789)},
      {u"Unsigned", PROPVARIANT::Int(VT_UI4, 4000000000)},
      {u"Flag", PROPVARIANT::Int(VT_BOOL, -1)},
      {u"Bytes", Blob(0)},
      {u"Big", PROPVARIANT::Int(VT_UI8, static_cast<std::int64_t>(18000000000000000000ull))},
      {u"Nothing", PROPVARIANT{}},
      {u"Ansi", ansi},
      {u"Class", clsid},
      {u"Vector", vector},
      {u"Byte", PROPVARIANT::Int(VT_UI1, 254)},
      {u"Real", PROPVARIANT::R8(2.5)},
  };
  auto check = [&](IStorage& root, std::int64_t size) {
    std::shared_ptr<IPropertyStorage> set;
    ASSERT_EQ(OpenSet(root, FMTID_DocSummaryInformation, kRead, &set), S_OK) << LastErrorText();
    for (const auto& nv : expected) {
      PROPVARIANT want = nv.value;
      if (nv.name == u"Bytes") want.blob = {1, 2, 3, 4, 5};
      ExpectSame(want, Read(*set, nv.name), kyvex::text::Utf16ToUtf8(nv.name));
    }
    EXPECT_EQ(ReadId(*set, PID_LOCALE).hVal, 0x409);
    std::shared_ptr<IPropertyStorage> ansiSet;
    ASSERT_EQ(OpenSet(*SubStorage(root, u"Ansi", kRead), FMTID_SummaryInformation, kRead, &ansiSet), S_OK)
        << LastErrorText();
    EXPECT_EQ(Read(*ansiSet, U("größe")).hVal, size);
    EXPECT_EQ(Read(*ansiSet, u"Name").pwszVal, U("Café€"));
  };
  check(*OpenFile(path, kRead), 42);
  {
    auto root = OpenFile(path, kWrite);
    std::shared_ptr<IPropertyStorage> set;
    ASSERT_EQ(OpenSet(*root, FMTID_DocSummaryInformation, kWrite, &set), S_OK);
    Write(*set, u"Added", PROPVARIANT::I8(5));
    std::shared_ptr<IPropertyStorage> ansiSet;
    ASSERT_EQ(OpenSet(*SubStorage(*root, u"Ansi", kWrite), FMTID_SummaryInformation, kWrite, &ansiSet), S_OK);
    Write(*ansiSet, U("Größe"), PROPVARIANT::I8(43));
  }
  auto root = OpenFile(path, kRead);
  {
    std::shared_ptr<IPropertyStorage> set;
    ASSERT_EQ(OpenSet(*root, FMTID_DocSummaryInformation, kRead, &set), S_OK);
    EXPECT_EQ(Read(*set, u"Added").hVal, 5);
  }
  check(*root, 43);
  root.reset();  // Windows lets nobody read a held file
  // The second section (user-defined properties) is carried over as it was.
  const auto bytes = ReadBytes(path);
  const std::u16string kept = u"kept as it is";
  const std::string keptBytes(reinterpret_cast<const char*>(kept.data()), kept.size() * 2);
  EXPECT_NE(std::string(bytes.begin(), bytes.end()).find(keptBytes), std::string::npos);
}

TEST(CompoundEngine, DictionariesPaddedAsWineWritesThemAreRead) {
  // Wine's ole32 puts four stray bytes after names of odd length ("VPC", "OS.LoggedUser").
  auto root = OpenFile(FixturePath("wine-dictionary-padding.cfb"), kRead);
  std::shared_ptr<IPropertyStorage> set;
  ASSERT_EQ(OpenSet(*root, FMTID_SummaryInformation, kRead, &set), S_OK) << LastErrorText();
  EXPECT_EQ(IdsByName(*set),
            (std::map<std::u16string, PROPID>{{u"VPC", 2}, {u"OS.LoggedUser", 3}, {u"Even", 4}, {u"VMWare", 5}}));
  EXPECT_EQ(Read(*set, u"OS.LoggedUser").pwszVal, u"user");
  EXPECT_EQ(Read(*set, u"VMWare").hVal, 0);
}

TEST(CompoundEngine, ADegenerateSiblingChainLoadsAndIsRebalancedOnWrite) {
  TempDir dir;
  const std::string path = dir.File("chain.cfb");
  WriteBytes(path, ReadBytes(FixturePath("deep-chain.cfb")));
  {
    auto root = OpenFile(path, kWrite);
    auto devices = SubStorage(*root, u"Devices", kWrite);
    const auto names = Names(*devices);
    ASSERT_EQ(names.size(), 1000u);
    for (int i : {0, 1, 499, 999}) {
      std::shared_ptr<IPropertyStorage> set;
      ASSERT_EQ(OpenSet(*SubStorage(*devices, U("Item" + std::to_string(i)), kRead), FMTID_DocSummaryInformation,
                        kRead, &set),
                S_OK);
      EXPECT_EQ(Read(*set, u"Index").hVal, i);
    }
    NewStorage(*devices, u"Item1000");
  }
  const auto entries = RawDirectory(ReadBytes(path));
  // Depth of the longest left or right descent from any node stays logarithmic.
  std::size_t longest = 0;
  for (const auto& e : entries) {
    std::size_t run = 0;
    for (std::uint32_t at = e.right; at != 0xFFFFFFFF && at < entries.size(); at = entries[at].right) ++run;
    longest = std::max(longest, run);
  }
  EXPECT_LE(longest, 11u);
}

TEST(CompoundEngine, DeepNestingIsWrittenReadAndFreedWithoutRecursion) {
  TempDir dir;
  const std::string path = dir.File("nest.cfb");
  constexpr int kDepth = 3000;
  {
    auto root = CreateFile(path);
    std::shared_ptr<IStorage> at = root;
    for (int i = 0; i < kDepth; ++i) at = NewStorage(*at, u"L");
    Write(*NewSet(*at, FMTID_DocSummaryInformation), u"Bottom", PROPVARIANT::I8(kDepth));
  }
  auto root = OpenFile(path, kRead);
  std::shared_ptr<IStorage> at = root;
  for (int i = 0; i < kDepth; ++i) at = SubStorage(*at, u"l", kRead);
  std::shared_ptr<IPropertyStorage> set;
  ASSERT_EQ(OpenSet(*at, FMTID_DocSummaryInformation, kRead, &set), S_OK);
  EXPECT_EQ(Read(*set, u"Bottom").hVal, kDepth);
}

TEST(CompoundEngine, StreamNamesOfPropertySetsFollowTheFormatId) {
  EXPECT_EQ(FmtIdToPropStgName(FMTID_SummaryInformation), u"\005SummaryInformation");
  EXPECT_EQ(FmtIdToPropStgName(FMTID_DocSummaryInformation), u"\005DocumentSummaryInformation");
  // Any other set gets a 26-character name of its own (checked against ole32 itself in the
  // interoperability test), under which it is found again.
  const FMTID custom{0x12345678, 0x9ABC, 0xDEF0, {1, 2, 3, 4, 5, 6, 7, 8}};
  const std::u16string name = FmtIdToPropStgName(custom);
  EXPECT_EQ(name.size(), 27u);
  EXPECT_NE(name, FmtIdToPropStgName(FMTID_UserDefinedProperties));
  TempDir dir;
  const std::string path = dir.File("custom.cfb");
  Write(*NewSet(*CreateFile(path), custom), u"Mine", PROPVARIANT::I8(1));
  auto root = OpenFile(path, kRead);
  STATSTG st;
  EXPECT_EQ(root->StatElement(name, &st), S_OK);
  std::shared_ptr<IPropertyStorage> set;
  ASSERT_EQ(OpenSet(*root, custom, kRead, &set), S_OK);
  EXPECT_EQ(Read(*set, u"Mine").hVal, 1);
}

}  // namespace
