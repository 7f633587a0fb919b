// The operating-system description, names, rights and virtual-machine tests, over the fake
// platform.
#include <gtest/gtest.h>

#include "common/Kyvex_Routines.h"
#include "platform/Text.h"
#include "platform/fake/FakePlatform.h"

using namespace kyvex;
using platform::FakePlatform;
using platform::RegRoot;
using platform::ScopedPlatform;

namespace {

struct OSCase {
  const char* what;
  std::uint32_t platformId, major, minor, build;
  const char* csd;
  std::uint8_t productTypeByte;
  std::uint16_t suiteMask;
  TOSKind kind;
  const char* name;
  TNTProductType productType;
  const char* edition;
};

const OSCase kOSCases[] = {
    {"NT 3.51 workstation", 2, 3, 51, 1057, "Service Pack 5", 1, 0, 1, "Windows NT 3.x", 1, "Workstation"},
    {"NT 4 server", 2, 4, 0, 1381, "Service Pack 4", 3, 0, 3, "Windows NT 4.x", 2, "Server"},
    {"NT 4 domain controller", 2, 4, 0, 1381, "", 2, 0, 3, "Windows NT 4.x", 3, "Enterprise Server"},
    {"2000 professional", 2, 5, 0, 2195, "", 1, 0, 10, "Windows 2000", 1, "Professional"},
    {"2000 domain controller", 2, 5, 0, 2195, "", 2, 0, 10, "Windows 2000", 2, "Server"},
    {"2000 advanced server", 2, 5, 0, 2195, "", 3, 0x2, 10, "Windows 2000", 3, "Advanced Server"},
    {"2000 datacenter", 2, 5, 0, 2195, "", 3, 0x80, 10, "Windows 2000", 4, "Datacenter Server"},
    {"XP home", 2, 5, 1, 2600, "Service Pack 2", 1, 0x200, 11, "Windows XP", 1, "Home Edition"},
    {"XP professional", 2, 5, 1, 2600, "Service Pack 3", 1, 0x100, 11, "Windows XP", 1, "Professional"},
    {"XP64 workstation", 2, 5, 2, 3790, "", 1, 0, 12, "Windows XP64", 1, "Professional"},
    {"2003 standard", 2, 5, 2, 3790, "", 3, 0x110, 13, "Windows Server 2003", 2, "Standard Edition"},
    {"2003 web (blade)", 2, 5, 2, 3790, "", 3, 0x400, 13, "Windows Server 2003", 5, "Web Edition"},
    {"2003 enterprise+datacenter: later bit wins", 2, 5, 2, 3790, "", 3, 0x82, 13, "Windows Server 2003", 4,
     "Datacenter Edition"},
    {"2003 enterprise", 2, 5, 2, 3790, "", 3, 0x2, 13, "Windows Server 2003", 3, "Enterprise Edition"},
    {"Vista", 2, 6, 0, 6000, "", 1, 0, 14, "Windows Vista", 1, ""},
    {"Server 2008 keeps the Vista name", 2, 6, 0, 6001, "Service Pack 1", 3, 0, 14, "Windows Vista", 2, ""},
    {"7: kind 14, its own name", 2, 6, 1, 7601, "Service Pack 1", 1, 0, 14, "Windows 7", 1, ""},
    {"Server 2008 R2", 2, 6, 1, 7601, "Service Pack 1", 3, 0x10, 14, "Windows Server 2008 R2", 2, ""},
    {"8", 2, 6, 2, 9200, "", 1, 0x100, 14, "Windows 8", 1, ""},
    {"Server 2012 domain controller", 2, 6, 2, 9200, "", 2, 0, 14, "Windows Server 2012", 2, ""},
    {"8.1", 2, 6, 3, 9600, "", 1, 0x100, 14, "Windows 8.1", 1, ""},
    {"Server 2012 R2", 2, 6, 3, 9600, "", 3, 0x80, 14, "Windows Server 2012 R2", 4, ""},
    {"unknown minor of 6", 2, 6, 4, 9841, "", 1, 0, 14, "Windows Vista", 1, ""},
    {"major 10: kind 0, platform name", 2, 10, 0, 19045, "", 1, 0x100, 0, "Windows 10 Pro", 1, ""},
    {"last build of 10", 2, 10, 0, 21999, "", 1, 0x100, 0, "Windows 10 Pro", 1, ""},
    {"11 under the name of 10", 2, 10, 0, 22000, "", 1, 0x100, 0, "Windows 11 Pro", 1, ""},
    {"11 24H2", 2, 10, 0, 26100, "", 1, 0x100, 0, "Windows 11 Pro", 1, ""},
    {"a server of build 26100 keeps its name", 2, 10, 0, 26100, "", 3, 0x10, 0, "Windows 10 Pro", 2, ""},
    {"95", 1, 4, 0, 950, "", 0, 0, 2, "Windows 95", 0, ""},
    {"95 OSR1", 1, 4, 0, 950, "A", 0, 0, 4, "Windows 95 OSR 1", 0, ""},
    {"95 OSR2", 1, 4, 0, 1111, " B ", 0, 0, 5, "Windows 95 OSR 2", 0, ""},
    {"95 OSR2.5 trimmed", 1, 4, 0, 1212, " C", 0, 0, 6, "Windows 95 OSR 2.5", 0, ""},
    {"95 lower-case c stays 95", 1, 4, 0, 1212, " c", 0, 0, 2, "Windows 95", 0, ""},
    {"98", 1, 4, 10, 1998, "", 0, 0, 7, "Windows 98", 0, ""},
    {"98 SE", 1, 4, 10, 2222, "", 0, 0, 8, "Windows 98 Second Edition", 0, ""},
    {"98 SE, high word set", 1, 4, 10, 0x040A08AE, "", 0, 0, 8, "Windows 98 Second Edition", 0, ""},
    {"Me", 1, 4, 90, 3000, "", 0, 0, 9, "Windows Millenium Edition", 0, ""},
    {"9x suites are ignored", 1, 4, 90, 3000, "", 3, 0x200, 9, "Windows Millenium Edition", 0, ""},
    {"unknown 9x version", 1, 5, 0, 0, "", 0, 0, 0, "Windows 10 Pro", 0, ""},
};

class OSInfoTest : public ::testing::TestWithParam<OSCase> {};

TEST_P(OSInfoTest, KindNameProductTypeAndEdition) {
  const OSCase& c = GetParam();
  FakePlatform fake;
  fake.version = {};
  fake.version.dwPlatformId = c.platformId;
  fake.version.dwMajorVersion = c.major;
  fake.version.dwMinorVersion = c.minor;
  fake.version.dwBuildNumber = c.build;
  fake.version.szCSDVersion = c.csd;
  fake.version.wProductType = c.productTypeByte;
  fake.version.wSuiteMask = c.suiteMask;
  fake.SetRegistryString(RegRoot::LocalMachine, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", "ProductName",
                         "Windows 10 Pro");
  fake.SetRegistryString(RegRoot::LocalMachine, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion", "ProductName",
                         "Windows 10 Pro");
  ScopedPlatform use(fake);

  std::uint32_t platformId, major, minor, build;
  std::string name, csd;
  TNTProductType productType;
  TNTSuites suites;
  const TOSKind kind = GetOSInfo(platformId, major, minor, name, productType, suites, csd, build);
  EXPECT_EQ(kind, c.kind);
  EXPECT_EQ(name, c.name);
  EXPECT_EQ(productType, c.productType);
  EXPECT_EQ(GetOSEdition(kind, productType, suites), c.edition);
  EXPECT_EQ(build, c.build & 0xFFFF);
  EXPECT_EQ(csd, kyvex::text::Trim(c.csd));
  EXPECT_EQ(suites, c.platformId == 2 ? (c.suiteMask & 0xFFF) : 0);

  // The snapshot of the same platform agrees.
  const auto& snap = PlatformSnapshot();
  EXPECT_EQ(snap.OSKind, c.kind);
  EXPECT_EQ(snap.OSName, c.name);
  EXPECT_EQ(snap.BuildNumber, static_cast<std::int32_t>(c.build & 0xFFFF));
}

INSTANTIATE_TEST_SUITE_P(Table, OSInfoTest, ::testing::ValuesIn(kOSCases),
                         [](const auto& info) { return "case" + std::to_string(info.index); });

TEST(OSInfo, SuitesAboveBit11AreDropped) {
  FakePlatform fake;
  fake.version.wSuiteMask = 0xF000 | 0x200;
  ScopedPlatform use(fake);
  EXPECT_EQ(PlatformSnapshot().Suites, 0x200);
}

TEST(OSInfo, ServicePack6aNeedsTheHotfixValueOne) {
  for (std::uint32_t installed : {1u, 0u}) {
    FakePlatform fake;
    fake.version = {};
    fake.version.dwPlatformId = 2;
    fake.version.dwMajorVersion = 4;
    fake.version.szCSDVersion = "Service Pack 6";
    fake.SetRegistryDword(RegRoot::LocalMachine,
                          "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Hotfix\\Q246009", "Installed",
                          installed);
    ScopedPlatform use(fake);
    EXPECT_EQ(PlatformSnapshot().CSDVersion, installed == 1 ? "Service Pack 6a" : "Service Pack 6");
  }
}

TEST(OSInfo, RefusedExtendedRecordLeavesEverythingZero) {
  FakePlatform fake;
  fake.extendedVersionFails = true;
  fake.SetRegistryString(RegRoot::LocalMachine, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion", "ProductName",
                         "Windows 95");
  ScopedPlatform use(fake);
  const auto& snap = PlatformSnapshot();
  EXPECT_EQ(snap.OSKind, 0);
  EXPECT_EQ(snap.MajorVersion, 0);
  EXPECT_EQ(snap.PlatformId, 0u);
  // The plain record still answered.
  EXPECT_TRUE(snap.VersionRecordRead);
  EXPECT_EQ(snap.VersionRecord.dwMajorVersion, 5u);
}

TEST(OSInfo, NameIsNeverEmptyForUnknownSystems) {
  FakePlatform fake;
  fake.version.dwMajorVersion = 10;  // no ProductName in the registry
  ScopedPlatform use(fake);
  EXPECT_EQ(PlatformSnapshot().OSName, "Windows");
}

TEST(OSInfo, LinuxKernelVersionsAreNotWindows9x) {
  std::string name = "Debian";
  for (auto [major, minor] : {std::pair{4u, 0u}, {4u, 10u}, {4u, 90u}}) {
    EXPECT_EQ(GetOSName(platform::kPlatformLinux, 0, major, minor, "", 2222, name), 0);
    EXPECT_EQ(name, "Debian");
  }
}

TEST(MachineName, RegistryReplacesTheApiNameAndTheSnapshotUpperCasesIt) {
  FakePlatform fake;
  fake.computerName = "api-name";
  {
    ScopedPlatform use(fake);
    EXPECT_EQ(GetMachineName(), "api-name");
    EXPECT_EQ(PlatformSnapshot().MachineName, "API-NAME");
  }
  fake.SetRegistryString(RegRoot::LocalMachine, "SYSTEM\\CurrentControlSet\\Control\\ComputerName\\ComputerName",
                         "ComputerName", "Reg-Name-ç");
  fake.computerName.reset();
  ScopedPlatform use(fake);
  EXPECT_EQ(GetMachineName(), "Reg-Name-ç");
  EXPECT_EQ(PlatformSnapshot().MachineName, "REG-NAME-ç");  // ASCII letters only
}

TEST(UserNames, CurrentAndDefaultLogonUser) {
  FakePlatform fake;
  fake.userName.reset();
  ScopedPlatform use(fake);
  EXPECT_EQ(GetCurrentUserName(), "");
  EXPECT_EQ(GetDefaultLogonUser(), "");
  fake.userName = "ayşe";
  fake.SetRegistryString(RegRoot::LocalMachine, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon",
                         "DefaultUserName", "ignored");
  EXPECT_EQ(GetCurrentUserName(), "ayşe");
  EXPECT_EQ(GetDefaultLogonUser(), "");
  fake.SetRegistryString(RegRoot::LocalMachine, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon",
                         "AltDefaultUserName", "mehmet");
  EXPECT_EQ(GetDefaultLogonUser(), "mehmet");
}

TEST(IsAdmin, TokenRoutesAndGroupMatch) {
  using platform::SidAdministrators;
  using platform::SidEveryone;
  using platform::SidUsers;
  using Sids = std::vector<std::vector<std::uint8_t>>;
  struct Case {
    const char* what;
    std::uint32_t threadTokenError;
    bool processTokenOpens;
    std::optional<std::vector<std::vector<std::uint8_t>>> groups;
    bool expected;
  };
  const Case cases[] = {
      {"thread token, admin group", 0, true, Sids{SidEveryone(), SidAdministrators()}, true},
      {"no thread token: process token", platform::kErrorNoToken, true, Sids{SidAdministrators()}, true},
      {"process token, not admin", platform::kErrorNoToken, true, Sids{SidEveryone(), SidUsers()}, false},
      {"thread token refused for another reason", platform::kErrorAccessDenied, true,
       Sids{SidAdministrators()}, false},
      {"no token at all", platform::kErrorNoToken, false, Sids{SidAdministrators()}, false},
      {"group query fails", platform::kErrorNoToken, true, std::nullopt, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    FakePlatform fake;
    fake.threadTokenError = c.threadTokenError;
    fake.processTokenOpens = c.processTokenOpens;
    fake.groupSids = c.groups;
    ScopedPlatform use(fake);
    EXPECT_EQ(IsAdmin(), c.expected);
    EXPECT_EQ(fake.openTokens, 0) << "token handle left open";
  }
}

TEST(VirtualMachineProbes, RegistersAndResults) {
  FakePlatform fake;
  ScopedPlatform use(fake);
  // Real hardware: both instructions fault.
  EXPECT_FALSE(IsVMWare());
  EXPECT_FALSE(IsVirtualPC());
  ASSERT_EQ(fake.vmwareCalls.size(), 1u);
  EXPECT_EQ(fake.vmwareCalls[0].eax, 0x564D5868u);
  EXPECT_EQ(fake.vmwareCalls[0].ebx, 0u);
  EXPECT_EQ(fake.vmwareCalls[0].ecx, 0x0Au);
  EXPECT_EQ(fake.vmwareCalls[0].edx, 0x5658u);
  ASSERT_EQ(fake.virtualPCCalls.size(), 1u);
  EXPECT_EQ(fake.virtualPCCalls[0].eax, 1u);
  EXPECT_EQ(fake.virtualPCCalls[0].ebx, 0u);

  // Inside the guests.
  fake.vmwareReply = platform::X86Registers{6, 0x564D5868, 0, 0};
  fake.virtualPCReply = platform::X86Registers{1, 0, 0, 0};
  EXPECT_TRUE(IsVMWare());
  EXPECT_TRUE(IsVirtualPC());
  // The port answered, but not with the magic value; the call returned with EBX changed.
  fake.vmwareReply = platform::X86Registers{0, 0xFFFFFFFF, 0, 0};
  fake.virtualPCReply = platform::X86Registers{1, 0xFFFFFFFF, 0, 0};
  EXPECT_FALSE(IsVMWare());
  EXPECT_FALSE(IsVirtualPC());
}

TEST(VirtualMachineProbes, NativeProbesReturnWithoutKillingTheProcess) {
  // Runs the real instructions on this processor: outside a guest they fault, and the
  // guard must turn the fault into false. Running them twice checks the guard is re-armed.
  for (int i = 0; i < 2; ++i) {
    EXPECT_FALSE(IsVMWare());
    EXPECT_FALSE(IsVirtualPC());
  }
}

TEST(IsBitSet, BitNumberWrapsAt32) {
  EXPECT_TRUE(IsBitSet(0x2, 1));
  EXPECT_TRUE(IsBitSet(0x2, 33));
  EXPECT_FALSE(IsBitSet(0x2, 32));
  EXPECT_TRUE(IsBitSet(0x80000000u, 31));
  EXPECT_TRUE(IsBitSet(0x80000000u, 255));
}

TEST(StripBlanks, Cases) {
  const std::pair<std::string, std::string> cases[] = {
      {"  A B\r\nC ", "ABC"},
      {"A\rB", "A\rB"},
      {"A\nB", "A\nB"},
      {"\t WD  C-123 \x01", "WDC-123"},
      {"A\r\r\n\nB", "A\r\nB"},  // one pass: a pair formed by a removal stays
      {"", ""},
      {"   ", ""},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(StripBlanks(in), out) << in;
}

}  // namespace
