// A whole save reaches the file in one replacement, and a load of every part reads one image
// of the file: a save killed or failing part-way leaves the earlier file whole, and a file
// replaced during a load does not mix into what was read.
#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>

#ifdef __linux__
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "compound/Ole.h"
#include "cpu/KSI_CPU.h"
#include "smbios/KSI_SMBIOS.h"
#include "storage/KSI_Storage.h"
#include "unit/cpu/CpuTestSupport.h"

using namespace kyvex;
using namespace kyvex::cputest;
using platform::FakePlatform;
using platform::ScopedPlatform;
namespace fs = std::filesystem;

namespace {

// A machine named `name` whose processor's brand string is "`name` processor".
void Machine(FakePlatform& fake, const std::string& name) {
  fake.computerName = name;
  auto& p = fake.processor.cpus[0];
  p.Set(0, VendorLeaf("GenuineIntel", 1));
  p.Set(1, {0x000306A9, 0, 0, 0});
  p.Set(0x80000000, {0x80000004, 0, 0, 0});
  SetBrandString(p, name + " processor");
}

// Storage devices, SMBIOS, the processors: each component's save, gathered into one write.
void SaveWhole(const std::string& file) {
  TStorageFileSave once(file);
  TKyvex_Storage storage;
  storage.CollectData();
  storage.SaveToStorageFile(file);
  TKyvex_SMBIOS smbios;
  smbios.CollectData();
  smbios.SaveToStorageFile(file);
  TKyvex_CPU cpu;
  cpu.SaveToStorageFile(file);
  once.Commit();
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// The header's machine (its name as the system spells it, in capitals), and the machine the
// processor names.
std::pair<std::string, std::string> Origin(const std::string& file) {
  TStorageFileImage image(file);
  TKyvex_CPU cpu;
  if (!cpu.LoadFromStorageFile(file)) return {};
  const std::string brand = cpu.MarketingName();
  return {Lower(cpu.StorageInfo().MachineName), brand.substr(0, brand.find(' '))};
}

class StorageFileOnce : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::path(::testing::TempDir()) /
           ("kyvex-once-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "-" +
            std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));  // runs from other
                                                                                        // build trees keep apart
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    file_ = (dir_ / "machine.kyx").string();
    Machine(alpha_, "alpha");
    Machine(beta_, "beta");
    ScopedPlatform use(alpha_);
    SaveWhole(file_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  fs::path dir_;
  std::string file_;
  FakePlatform alpha_, beta_;
};

TEST_F(StorageFileOnce, ASaveThatFailsPartWayLeavesTheEarlierFileWhole) {
  ASSERT_EQ(Origin(file_), std::make_pair(std::string("alpha"), std::string("alpha")));
  const auto before = fs::file_size(file_);
  {
    ScopedPlatform use(beta_);
    try {
      TStorageFileSave once(file_);
      TKyvex_KSIC_Component header;
      header.SaveToStorageFile(file_);
      TKyvex_CPU cpu;
      cpu.SaveToStorageFile(file_);
      throw std::runtime_error("the disk is full");  // before the commit
    } catch (const std::runtime_error&) {
    }
  }
  EXPECT_EQ(Origin(file_), std::make_pair(std::string("alpha"), std::string("alpha")));
  EXPECT_EQ(fs::file_size(file_), before);

  ScopedPlatform use(beta_);
  SaveWhole(file_);
  EXPECT_EQ(Origin(file_), std::make_pair(std::string("beta"), std::string("beta")));
}

TEST_F(StorageFileOnce, TheSaveIsWrittenOnce) {
  int writes = 0;
  ole::SetCommitStepHook([&writes](int step) { writes += step == 0; });
  ScopedPlatform use(beta_);
  SaveWhole(file_);
  ole::SetCommitStepHook(nullptr);
  EXPECT_EQ(writes, 1) << "storage, SMBIOS and every processor in one replacement";
}

TEST_F(StorageFileOnce, ALoadReadsTheImageTakenWhenItBegan) {
  const std::string other = (dir_ / "other.kyx").string();
  {
    ScopedPlatform use(beta_);
    SaveWhole(other);
  }
  TStorageFileImage image(file_);
  TKyvex_KSIC_Component header;
  ASSERT_TRUE(header.LoadFromStorageFile(file_));
  // Another save replaces the file between the header and the processors.
  fs::rename(other, file_);
  TKyvex_CPU cpu;
  ASSERT_TRUE(cpu.LoadFromStorageFile(file_));
  EXPECT_EQ(Lower(header.StorageInfo().MachineName), "alpha");
  EXPECT_EQ(cpu.MarketingName(), "alpha processor");
}

#ifdef __linux__
// Saves killed at random moments: whatever loads afterwards is one save's, never the header of
// one beside the processors of another.
TEST_F(StorageFileOnce, KilledSavesLeaveOneSavesData) {
  // Saves of alternating machines in child processes, killed after a random wait.
  auto saveInChild = [this](FakePlatform& machine) {
    const pid_t child = fork();
    if (child == 0) {
      ScopedPlatform use(machine);
      try {
        SaveWhole(file_);
      } catch (...) {
        _exit(2);
      }
      _exit(0);
    }
    return child;
  };
  // How long one such save takes here, from the fork to its end, to kill within it.
  const auto t0 = std::chrono::steady_clock::now();
  const pid_t timed = saveInChild(alpha_);
  ASSERT_GE(timed, 0);
  waitpid(timed, nullptr, 0);
  const auto span = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - t0);
  std::mt19937 random(20261211);
  std::uniform_int_distribution<long> when(0, std::max<long>(span.count() * 3 / 2, 1));
  int completed = 0;
  for (int i = 0; i < 200; ++i) {
    const pid_t child = saveInChild(i % 2 ? alpha_ : beta_);
    ASSERT_GE(child, 0);
    usleep(static_cast<useconds_t>(when(random)));
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    completed += WIFEXITED(status) && WEXITSTATUS(status) == 0;
    const auto [machine, processor] = Origin(file_);
    ASSERT_TRUE(machine == "alpha" || machine == "beta") << "kill " << i << ": header of " << machine;
    ASSERT_EQ(machine, processor) << "kill " << i;
  }
  // Both outcomes happen: the kills land inside saves and after them.
  EXPECT_GT(completed, 0);
  EXPECT_LT(completed, 200);
}
#endif

}  // namespace
