// A save writes its new file under a temporary name beside the target. A process killed
// during a save leaves that file behind; the next save of the same target removes it, and
// nothing else: not the temporary file of a process that still runs, not a file of another
// target, not a name that only resembles the pattern.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "CompoundTestSupport.h"
#include "TestProcesses.h"
#include "compound/Ole.h"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace {

using namespace kyvex::ole;
using kyvex::testing::EndedProcessId;
using kyvex::testing::OwnProcessId;
using kyvex::testing::TempDir;

constexpr DWORD kWrite = STGM_READWRITE | STGM_SHARE_EXCLUSIVE;

TEST(CompoundTempFiles, ASaveRemovesTheLeftoversOfEndedProcessesAndNothingElse) {
  TempDir dir;
  const std::string path = dir.File("data.cfb");
  {
    std::shared_ptr<IStorage> stg;
    ASSERT_EQ(StgCreateDocfile(path, kWrite | STGM_CREATE, 0, &stg), S_OK) << LastErrorText();
    ASSERT_EQ(stg->Commit(STGC_DEFAULT), S_OK) << LastErrorText();
  }
  const std::string ended = std::to_string(EndedProcessId());
  const std::string self = std::to_string(OwnProcessId());
#ifdef _WIN32
  const std::string mark = "~", otherMark = ".";
  const bool caseBlind = true;
#else
  const std::string mark = ".", otherMark = "~";
  const bool caseBlind = false;
#endif
  struct Case {
    std::string name;
    bool removed;
  };
  const std::vector<Case> cases = {
      {mark + "data.cfb." + ended + "-0.tmp", true},
      {mark + "data.cfb." + ended + "-4294967295.tmp", true},
      {mark + "DATA.CFB." + ended + "-1.tmp", caseBlind},  // the same target where names ignore case
      {mark + "data.cfb." + self + "-0.tmp", false},        // a save of a running process
#ifndef _WIN32
      {mark + "data.cfb." + std::to_string(getppid()) + "-0.tmp", false},
#endif
      {mark + "other.cfb." + ended + "-0.tmp", false},
      {mark + "data.cf." + ended + "-0.tmp", false},
      {mark + "data.cfb.x." + ended + "-0.tmp", false},
      {otherMark + "data.cfb." + ended + "-0.tmp", false},
      {"data.cfb." + ended + "-0.tmp", false},
      {mark + "data.cfb.0" + ended + "-0.tmp", false},
      {mark + "data.cfb." + ended + "-00.tmp", false},
      {mark + "data.cfb." + ended + ".tmp", false},
      {mark + "data.cfb." + ended + "-0-1.tmp", false},
      {mark + "data.cfb." + ended + "-4294967296.tmp", false},
      {mark + "data.cfb.-" + ended + "-0.tmp", false},
      {mark + "data.cfb.0-0.tmp", false},
      {mark + "data.cfb." + ended + "-0.tmp.bak", false},
      {mark + "data.cfb." + ended + "-3.TMP", false},  // the engine writes its suffix in one spelling
  };
  for (const Case& c : cases) kyvex::testing::WriteBytes(dir.File(c.name), {1, 2, 3});
  // A folder is never a save's leftover, whatever its name.
  const std::string folderName = mark + "data.cfb." + ended + "-2.tmp";
  std::filesystem::create_directory(dir.File(folderName));

  {
    std::shared_ptr<IStorage> stg;
    ASSERT_EQ(StgOpenStorage(path, nullptr, kWrite, nullptr, 0, &stg), S_OK) << LastErrorText();
    std::shared_ptr<IStorage> sub;
    ASSERT_EQ(stg->CreateStorage(u"Saved", kWrite | STGM_CREATE, 0, 0, &sub), S_OK);
    sub.reset();
    ASSERT_EQ(stg->Commit(STGC_DEFAULT), S_OK) << LastErrorText();
  }

  for (const Case& c : cases) EXPECT_EQ(!std::filesystem::exists(dir.File(c.name)), c.removed) << c.name;
  EXPECT_TRUE(std::filesystem::is_directory(dir.File(folderName)));

  std::shared_ptr<IStorage> stg;
  ASSERT_EQ(StgOpenStorage(path, nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, nullptr, 0, &stg), S_OK)
      << LastErrorText();
  STATSTG st;
  EXPECT_EQ(stg->StatElement(u"Saved", &st), S_OK);
}

}  // namespace

#ifndef _WIN32
#include <sys/stat.h>

namespace {

// The new file takes the place of the old one with its owner and mode: root saving over a
// user's file must not leave it root's and unreadable to its owner.
TEST(CompoundTempFiles, TheReplacedFileKeepsItsOwnerAndMode) {
  TempDir dir;
  const std::string path = dir.File("user.cfb");
  {
    std::shared_ptr<IStorage> stg;
    ASSERT_EQ(StgCreateDocfile(path, kWrite | STGM_CREATE, 0, &stg), S_OK) << LastErrorText();
    ASSERT_EQ(stg->Commit(STGC_DEFAULT), S_OK) << LastErrorText();
  }
  const bool root = ::geteuid() == 0;
  const uid_t owner = root ? 4321 : ::geteuid();
  const gid_t group = root ? 4321 : ::getegid();
  if (root) ASSERT_EQ(::chown(path.c_str(), owner, group), 0);
  ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
  {
    std::shared_ptr<IStorage> stg, sub;
    ASSERT_EQ(StgOpenStorage(path, nullptr, kWrite, nullptr, 0, &stg), S_OK) << LastErrorText();
    ASSERT_EQ(stg->CreateStorage(u"Changed", kWrite | STGM_CREATE, 0, 0, &sub), S_OK) << LastErrorText();
    ASSERT_EQ(stg->Commit(STGC_DEFAULT), S_OK) << LastErrorText();
  }
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(st.st_uid, owner);
  EXPECT_EQ(st.st_gid, group);
  if (!root) GTEST_SKIP() << "the owner part needs root (only root can give a file to another user)";
}

}  // namespace
#endif
