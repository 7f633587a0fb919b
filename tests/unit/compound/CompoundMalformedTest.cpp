// Damaged and hostile files: each gives a failure status and says what is wrong, and none
// crashes, hangs or allocates beyond the size of the file. The fixtures and how each one is
// damaged are in tests/data/compound/make_fixtures.py.
#include <gtest/gtest.h>

#include "CompoundTestSupport.h"
#include "compound/Ole.h"

namespace {

using namespace kyvex::ole;
using kyvex::testing::FixturePath;
using kyvex::testing::ReadBytes;

constexpr DWORD kRead = STGM_READ | STGM_SHARE_EXCLUSIVE;

struct BadFile {
  const char* file;
  HRESULT status;
  const char* says;  // a part of LastErrorText()
};

TEST(CompoundMalformed, DamagedContainersFailWithAFittingStatusAndReason) {
  const BadFile cases[] = {
      {"not-compound.txt", STG_E_FILEALREADYEXISTS, "not a compound file"},
      {"empty.cfb", STG_E_FILEALREADYEXISTS, "not a compound file"},
      {"short-header.cfb", STG_E_INVALIDHEADER, "shorter than the 512-byte header"},
      {"bad-byte-order.cfb", STG_E_INVALIDHEADER, "byte-order mark"},
      {"bad-sector-shift.cfb", STG_E_INVALIDHEADER, "sector shift 12"},
      {"truncated.cfb", STG_E_DOCFILECORRUPT, "outside the file"},
      {"absurd-fat-count.cfb", STG_E_DOCFILECORRUPT, "claims 2147483647 FAT sectors"},
      {"sector-outside-file.cfb", STG_E_DOCFILECORRUPT, "sector 5000, outside the file"},
      {"fat-loop.cfb", STG_E_DOCFILECORRUPT, "directory chain reaches sector"},
      {"difat-loop.cfb", STG_E_DOCFILECORRUPT, "DIFAT chain reaches sector 10 a second time"},
      {"directory-cycle.cfb", STG_E_DOCFILECORRUPT, "reached a second time"},
      {"absurd-stream-size.cfb", STG_E_DOCFILECORRUPT, "needs 8388608 sectors"},
      {"mini-sector-outside.cfb", STG_E_DOCFILECORRUPT, "mini sector 1000"},
      {"duplicate-names.cfb", STG_E_DOCFILECORRUPT, "occurs twice"},
  };
  for (const BadFile& c : cases) {
    SCOPED_TRACE(c.file);
    std::shared_ptr<IStorage> root;
    const HRESULT hr = StgOpenStorage(FixturePath(c.file), nullptr, kRead, nullptr, 0, &root);
    EXPECT_EQ(hr, c.status) << std::hex << hr << " " << LastErrorText();
    EXPECT_NE(LastErrorText().find(c.says), std::string::npos) << LastErrorText();
    EXPECT_EQ(root, nullptr);
    // The same bytes from memory give the same answer.
    const auto bytes = ReadBytes(FixturePath(c.file));
    EXPECT_EQ(StgOpenStorageOnMemory(bytes, &root), c.status);
  }
}

TEST(CompoundMalformed, DamagedPropertySetsFailToOpenWhileTheFileStillLoads) {
  const BadFile cases[] = {
      {"propset-bad-header.cfb", STG_E_INVALIDHEADER, "byte-order mark 0x0000FEFF"},
      {"propset-section-count.cfb", STG_E_INVALIDHEADER, "claims 1000000 sections"},
      {"propset-offset-outside.cfb", STG_E_DOCFILECORRUPT, "lies outside its section"},
      {"propset-absurd-count.cfb", STG_E_DOCFILECORRUPT, "claims 268435456 properties"},
      {"propset-bad-dictionary.cfb", STG_E_DOCFILECORRUPT, "dictionary entry 0"},
      {"propset-string-overrun.cfb", STG_E_DOCFILECORRUPT, "a string of 2147483647 characters"},
      {"propset-shared-values.cfb", STG_E_DOCFILECORRUPT, "more bytes than their section holds"},
  };
  for (const BadFile& c : cases) {
    SCOPED_TRACE(c.file);
    std::shared_ptr<IStorage> root;
    ASSERT_EQ(StgOpenStorage(FixturePath(c.file), nullptr, kRead, nullptr, 0, &root), S_OK) << LastErrorText();
    std::shared_ptr<IPropertySetStorage> sets;
    ASSERT_EQ(root->QueryPropertySetStorage(&sets), S_OK);
    std::shared_ptr<IPropertyStorage> set;
    const HRESULT hr = sets->Open(FMTID_SummaryInformation, kRead, &set);
    EXPECT_EQ(hr, c.status) << std::hex << hr << " " << LastErrorText();
    EXPECT_NE(LastErrorText().find(c.says), std::string::npos) << LastErrorText();
    EXPECT_EQ(set, nullptr);
  }
}

TEST(CompoundMalformed, EveryTruncationOfAValidFileIsRefusedOrReadSafely) {
  // Cut a valid file at every sector boundary and a few odd places: no cut may be taken for
  // a different valid file silently missing its storages, and none may crash.
  const auto whole = ReadBytes(FixturePath("foreign-types.cfb"));
  for (std::size_t cut = 0; cut < whole.size(); cut += (cut % 512 == 0 ? 7 : 505)) {
    SCOPED_TRACE(cut);
    const std::vector<std::uint8_t> part(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(cut));
    std::shared_ptr<IStorage> root;
    const HRESULT hr = StgOpenStorageOnMemory(part, &root);
    if (Succeeded(hr)) {
      // Only the zero-filled tail of the last sector may be missing.
      EXPECT_GT(cut, whole.size() - 512);
      STATSTG st;
      EXPECT_EQ(root->StatElement(u"Ansi", &st), S_OK);
    } else {
      EXPECT_FALSE(LastErrorText().empty());
    }
  }
}

}  // namespace
