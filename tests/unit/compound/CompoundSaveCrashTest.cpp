// A save killed part-way must leave the earlier file whole: a child process saves a large
// file and is killed with SIGKILL at every step of writing it, and at random moments; after
// each kill the file must load and hold either the old content or the complete new one, and
// the next save must clear away what the killed one left in the folder.
#ifndef _WIN32

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <thread>
#include <vector>

#include "CompoundTestSupport.h"
#include "components/common/Kyvex_SS.h"

namespace {

using namespace kyvex;
using kyvex::testing::TempDir;

const std::string kPayload = [] {
  std::string s(3u << 19, 'p');  // 3 MB as UTF-16: the save writes several chunks
  for (std::size_t i = 0; i < s.size(); i += 1021) s[i] = static_cast<char>('a' + i % 26);
  return s;
}();

void WriteGeneration(const std::string& path, const std::string& generation, bool create) {
  std::shared_ptr<ole::IStorage> stg;
  OleCheck(create ? ole::StgCreateDocfile(path, 0x1012, 0, &stg)
                  : ole::StgOpenStorage(path, nullptr, 0x12, nullptr, 0, &stg));
  TStructuredSTorage root(nullptr, stg);
  root.Storage()->DestroyElement(u"CPU");
  auto cpu = root.OpenSubStorage("CPU", 0x12, true);
  auto set = cpu->OpenPropertySet(FMTID_DocSummaryInformation, 0x12, true);
  WriteStringProperty(set->PropertyStorage(), "Generation", generation);
  WriteStringProperty(set->PropertyStorage(), "Payload", generation == "new" ? kPayload : "small");
  for (int i = 0; i < 50; ++i) {
    auto item = cpu->OpenSubStorage("Item" + std::to_string(i), 0x12, true);
    WriteIntegerProperty(item->OpenPropertySet(FMTID_DocSummaryInformation, 0x12, true)->PropertyStorage(), "Index", i);
  }
  set.reset();
  cpu.reset();
  root.Commit();
}

// "old" or "new", after checking that the file is whole.
std::string LoadGeneration(const std::string& path) {
  std::shared_ptr<ole::IStorage> stg;
  OleCheck(ole::StgOpenStorage(path, nullptr, 0x10, nullptr, 0, &stg), "loading after the kill");
  TStructuredSTorage root(nullptr, stg);
  auto cpu = root.OpenSubStorage("CPU", 0x10, false);
  auto set = cpu->OpenPropertySet(FMTID_DocSummaryInformation, 0x10, false);
  EXPECT_NE(set, nullptr);
  if (!set) return "no set";
  const std::string generation = ReadStringProperty(set->PropertyStorage(), "Generation");
  EXPECT_EQ(ReadStringProperty(set->PropertyStorage(), "Payload") == kPayload, generation == "new");
  for (int i : {0, 49}) {
    auto item = cpu->OpenSubStorage("Item" + std::to_string(i), 0x10, false);
    EXPECT_EQ(ReadIntegerProperty(item->OpenPropertySet(FMTID_DocSummaryInformation, 0x10, false)->PropertyStorage(),
                                  "Index"),
              i);
  }
  return generation;
}

// What else the folder holds besides the file.
std::vector<std::string> Leftovers(const TempDir& dir, const std::string& file) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir.Path()))
    if (entry.path().filename() != file) names.push_back(entry.path().filename().string());
  return names;
}

// Runs the new save in a child process; kill decides how it ends. Returns whether the child
// died of SIGKILL.
template <class Setup>
bool SaveInChild(const std::string& path, Setup&& setupChild, int killAfterMicros = -1, pid_t* childPid = nullptr) {
  const pid_t pid = fork();
  if (childPid) *childPid = pid;
  if (pid == 0) {
    setupChild();
    try {
      WriteGeneration(path, "new", false);
    } catch (...) {
      _exit(2);
    }
    _exit(0);
  }
  if (killAfterMicros >= 0) {
    std::this_thread::sleep_for(std::chrono::microseconds(killAfterMicros));
    kill(pid, SIGKILL);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
}

TEST(CompoundSaveCrash, AKillAtAnyStepOfASaveLeavesAWholeFile) {
  TempDir dir;
  const std::string path = dir.File("crash.cfb");
  // How many steps a save of the new generation takes.
  int steps = 0;
  WriteGeneration(path, "old", true);
  ole::SetCommitStepHook([&steps](int) { ++steps; });
  WriteGeneration(path, "new", false);
  ole::SetCommitStepHook(nullptr);
  ASSERT_GE(steps, 5) << "the save should take several steps";

  // The temporary file of a save that is still running must survive every save around it;
  // the children's parent (this process) stands for such a saver.
  const std::string running = ".crash.cfb." + std::to_string(getpid()) + "-7.tmp";
  kyvex::testing::WriteBytes(dir.File(running), {1});

  for (int stop = 0; stop < steps; ++stop) {
    SCOPED_TRACE("killed at step " + std::to_string(stop) + " of " + std::to_string(steps));
    WriteGeneration(path, "old", false);
    EXPECT_EQ(Leftovers(dir, "crash.cfb"), std::vector<std::string>{running}) << "the next save clears up";
    pid_t child = 0;
    const bool killed = SaveInChild(
        path,
        [stop] {
          ole::SetCommitStepHook([stop](int step) {
            if (step == stop) raise(SIGKILL);
          });
        },
        -1, &child);
    ASSERT_TRUE(killed);
    // Only the last step comes after the rename; a kill before it leaves the child's file.
    const bool renamed = stop == steps - 1;
    std::vector<std::string> left = Leftovers(dir, "crash.cfb");
    std::erase(left, running);
    if (renamed) {
      EXPECT_TRUE(left.empty()) << left.front();
    } else {
      const std::string childsPrefix = ".crash.cfb." + std::to_string(child) + "-";
      ASSERT_EQ(left.size(), 1u);
      EXPECT_TRUE(left[0].starts_with(childsPrefix) && left[0].ends_with(".tmp")) << left[0];
    }
    EXPECT_EQ(LoadGeneration(path), renamed ? "new" : "old");
  }
  WriteGeneration(path, "old", false);
  EXPECT_EQ(Leftovers(dir, "crash.cfb"), std::vector<std::string>{running});
}

TEST(CompoundSaveCrash, AKillAtARandomMomentLeavesTheOldOrTheNewFile) {
  TempDir dir;
  const std::string path = dir.File("random.cfb");
  WriteGeneration(path, "old", true);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(SaveInChild(path, [] {}));
  const auto saveMicros = static_cast<int>(
      std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start).count());
  EXPECT_EQ(LoadGeneration(path), "new");

  std::mt19937 random(12345);
  std::uniform_int_distribution<int> when(0, saveMicros);
  int sawOld = 0, sawNew = 0;
  for (int round = 0; round < 10; ++round) {
    WriteGeneration(path, "old", false);
    EXPECT_TRUE(Leftovers(dir, "random.cfb").empty());
    SaveInChild(path, [] {}, when(random));
    const std::string generation = LoadGeneration(path);
    EXPECT_TRUE(generation == "old" || generation == "new") << generation;
    (generation == "old" ? sawOld : sawNew)++;
  }
  RecordProperty("old", sawOld);
  RecordProperty("new", sawNew);
}

}  // namespace

#endif
