// The Linux translation layer over a fixture tree, the version block and the ELF reader.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "app/Lib01.h"
#include "common/Kyvex_Routines.h"
#include "platform/VersionBlock.h"
#include "platform/fake/FakePlatform.h"

#ifndef _WIN32
#include "platform/linux/LinuxPlatform.h"
#endif

using namespace kyvex;
using namespace kyvex::platform;
namespace fs = std::filesystem;

namespace {

TEST(VersionBlock, RoundTripAndDamagedBlocks) {
  const auto block = BuildVersionBlock(2, 0, 0, 2);
  FixedFileInfo info;
  ASSERT_TRUE(QueryVersionRoot(block, info));
  EXPECT_EQ(info.dwFileVersionMS, 0x00020000u);
  EXPECT_EQ(info.dwFileVersionLS, 0x00000002u);

  auto truncated = block;
  truncated.resize(block.size() - 1);
  EXPECT_FALSE(QueryVersionRoot(truncated, info)) << "wLength past the end of the block";
  auto badSignature = block;
  badSignature[40] ^= 0xFF;
  EXPECT_FALSE(QueryVersionRoot(badSignature, info));
  auto noTerminator = block;
  for (std::size_t i = 6; i < noTerminator.size(); ++i) noTerminator[i] |= 1;
  EXPECT_FALSE(QueryVersionRoot(noTerminator, info));
  EXPECT_FALSE(QueryVersionRoot({}, info));
}

TEST(VersionText, FromTheVersionRecordOrEmpty) {
  FakePlatform fake;
  ScopedPlatform use(fake);
  EXPECT_EQ(GetVersionText(), "") << "no version record";
  fake.versionBlocks[fake.moduleFileName] = BuildVersionBlock(2, 0, 0, 2);
  EXPECT_EQ(GetVersionText(), "2.0.0.2");
  fake.versionBlocks[fake.moduleFileName] = BuildVersionBlock(65535, 1, 300, 4);
  EXPECT_EQ(GetVersionText(), "65535.1.300.4");
  fake.versionBlocks[fake.moduleFileName] = {1, 2, 3};  // unreadable
  EXPECT_EQ(GetVersionText(), "");
}

TEST(VersionText, NativeProgramsCarryTheRecordAndTheTestProgramDoesNot) {
  // The test program is built without the version record.
  EXPECT_EQ(GetVersionText(), "");
#ifdef KYVEX_CLI_PATH
  EXPECT_EQ(GetFileVersionText(KYVEX_CLI_PATH), "2.0.0.2");
#endif
}

#ifndef _WIN32

class FixtureTree : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() /
            ("kyvex-root-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    fs::create_directories(root_);
  }
  void TearDown() override { fs::remove_all(root_); }
  void Write(const std::string& path, const std::string& content) {
    fs::create_directories((root_ / path.substr(1)).parent_path());
    std::ofstream(root_ / path.substr(1), std::ios::binary) << content;
  }
  fs::path root_;
};

TEST_F(FixtureTree, VersionNameAndRegistryFromLinuxSources) {
  Write("/proc/sys/kernel/osrelease", "5.15.167.4-microsoft-standard\n");
  Write("/proc/sys/kernel/hostname", "build-host.example.org\n");
  Write("/etc/os-release", "NAME=\"Debian GNU/Linux\"\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\n");
  Write("/proc/cpuinfo",
        "processor\t: 0\nvendor_id\t: GenuineIntel\ncpu family\t: 6\nmodel\t\t: 158\n"
        "model name\t: Intel(R) Core(TM) i7-8700 CPU @ 3.20GHz\nstepping\t: 10\ncpu MHz\t\t: 3191.998\n\n"
        "processor\t: 1\nvendor_id\t: GenuineIntel\ncpu family\t: 6\nmodel\t\t: 158\n"
        "model name\t: Intel(R) Core(TM) i7-8700 CPU @ 3.20GHz\nstepping\t: 10\ncpu MHz\t\t: 800.000\n");
  LinuxPlatform linux(root_.string());

  OSVersionInfo v;
  ASSERT_TRUE(linux.GetVersionEx(v, true));
  EXPECT_EQ(v.dwPlatformId, kPlatformLinux);
  EXPECT_EQ(v.dwMajorVersion, 5u);
  EXPECT_EQ(v.dwMinorVersion, 15u);
  EXPECT_EQ(v.dwBuildNumber, 167u);
  EXPECT_EQ(v.szCSDVersion, "");
  EXPECT_EQ(linux.GetComputerName().value_or(""), "build-host");

  auto cpu1 = "HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\1";
  EXPECT_EQ(linux.RegQueryValue(RegRoot::LocalMachine, cpu1, "Identifier")->text, "x86 Family 6 Model 158 Stepping 10");
  EXPECT_EQ(linux.RegQueryValue(RegRoot::LocalMachine, cpu1, "vendoridentifier")->text, "GenuineIntel");
  EXPECT_EQ(linux.RegQueryValue(RegRoot::LocalMachine, cpu1, "~MHz")->dword, 800u);
  EXPECT_FALSE(linux.RegQueryValue(RegRoot::LocalMachine, "HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\2",
                                   "Identifier"));
  EXPECT_FALSE(linux.RegQueryValue(RegRoot::LocalMachine, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon",
                                   "AltDefaultUserName"));
  EXPECT_FALSE(linux.RegQueryValue(RegRoot::CurrentUser, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion",
                                   "ProductName"));

  // The routines over this layer: kind 0, named after os-release, no edition.
  ScopedPlatform use(linux);
  const auto& snap = PlatformSnapshot();
  EXPECT_EQ(snap.OSKind, 0);
  EXPECT_EQ(snap.OSName, "Debian GNU/Linux 12 (bookworm)");
  EXPECT_EQ(GetOSEdition(snap.OSKind, snap.ProductType, snap.Suites), "");
  EXPECT_EQ(snap.MachineName, "BUILD-HOST");
  EXPECT_EQ(snap.BuildNumber, 167);
}

TEST_F(FixtureTree, KernelFourTenIsNotWindows98) {
  Write("/proc/sys/kernel/osrelease", "4.10.0\n");
  Write("/proc/sys/kernel/hostname", "h\n");
  LinuxPlatform linux(root_.string());
  ScopedPlatform use(linux);
  EXPECT_EQ(PlatformSnapshot().OSKind, 0);
  EXPECT_EQ(PlatformSnapshot().OSName, "Linux") << "no os-release: the name is still not empty";
}

TEST(LinuxPlatform, RightsFollowTheEffectiveUser) {
  LinuxPlatform linux;
  ScopedPlatform use(linux);
  EXPECT_EQ(IsAdmin(), geteuid() == 0);
  EXPECT_FALSE(GetCurrentUserName().empty());
}

TEST(ElfSection, FindsTheSectionAndRejectsOtherFiles) {
  const std::string self = LinuxPlatform().GetModuleFileName();
  EXPECT_TRUE(ReadElfSection(self, ".text").has_value());
  EXPECT_FALSE(ReadElfSection(self, ".no_such_section").has_value());
  const auto tmp = fs::temp_directory_path() / "kyvex-not-elf";
  std::ofstream(tmp) << "#!/bin/sh\n";
  EXPECT_FALSE(ReadElfSection(tmp.string(), ".text").has_value());
  // A header whose section table lies past the end of the file.
  std::string elf(64, '\0');
  elf[0] = 0x7F, elf[1] = 'E', elf[2] = 'L', elf[3] = 'F', elf[4] = 2, elf[5] = 1;
  elf[0x28] = 0x10, elf[0x2F] = 0x7F;   // e_shoff far away
  elf[0x3A] = 64, elf[0x3C] = 5, elf[0x3E] = 1;
  std::ofstream(tmp, std::ios::binary) << elf;
  EXPECT_FALSE(ReadElfSection(tmp.string(), ".text").has_value());
  fs::remove(tmp);
}

#endif  // !_WIN32

}  // namespace
