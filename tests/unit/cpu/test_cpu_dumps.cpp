// Real processors of several vendors and eras, end to end from their recorded `cpuid -r`
// dumps: identification, caches, names and the clock the fake runs at.
#include <gtest/gtest.h>

#include "cpu/KSI_CPU.h"
#include "tests/unit/cpu/CpuTestSupport.h"

using namespace kyvex;
using namespace kyvex::cputest;
using platform::FakePlatform;
using platform::ScopedPlatform;

namespace {

struct Cache {
  int size, lineSize;
  TCacheAssociativity associativity;
};

struct DumpCase {
  const char* file;
  TCpuVendor vendor;
  int family, model, stepping, brand;
  const char* marketingName;
  const char *cpuName, *codeName, *revision, *technology;
  Cache l1Code, l1Data, l2;
  double mhz;
  std::uint32_t frequency;
};

void ExpectCache(const TCPUCacheDetails& c, Cache e, const char* which) {
  EXPECT_EQ(c.Size(), e.size) << which;
  EXPECT_EQ(c.LineSize(), e.lineSize) << which;
  EXPECT_EQ(c.Associativity(), e.associativity) << which;
}

TEST(RecordedProcessors, EndToEnd) {
  const DumpCase cases[] = {
      {"GenuineIntel0000683_P3_Coppermine_CPUID.txt", cvIntel, 6, 8, 3, 2, "",
       "Pentium III", "A80526, Coppermine", "B0,cB0,cB0c", "0.18 µm",
       {16, 32, ca4Way}, {16, 32, ca4Way}, {256, 32, ca8Way}, 866, 866},
      {"GenuineIntel0000F29_P4_Northwood_CPUID.txt", cvIntel, 15, 2, 9, 9, "Intel(R) Pentium(R) 4 CPU 2.80GHz",
       "Pentium 4", "Northwood", "D1", "0.13 µm",
       {0, 0, caNone}, {8, 64, ca4Way}, {512, 64, ca8Way}, 2793.5, 2790},
      {"AuthenticAMD0000680_K7_Thoroughbred_CPUID.txt", cvAmd, 6, 8, 0, 0, "AMD Athlon(tm) XP 2200+",
       "Athlon XP", "Thoroughbred", "A0", "0.13 µm",
       {64, 64, ca2Way}, {64, 64, ca2Way}, {256, 64, ca16Way}, 1800, 1800},
      {"AuthenticAMD0000F4A_K8_Clawhammer_CPUID.txt", cvAmd, 15, 4, 10, 0, "AMD Athlon(tm) 64 Processor 2800+",
       "Athlon 64", "Clawhammer", "", "0.13 µm",
       {64, 64, ca2Way}, {64, 64, ca2Way}, {512, 64, ca16Way}, 1800, 1800},
      {"AuthenticAMD0000F51_K8_Sledgehammer_CPUID.txt", cvAmd, 15, 5, 1, 0x81, "AMD Opteron(tm) Processor 240 HE",
       "Opteron", "Sledgehammer", "SH7-B3", "0.13 µm",
       {64, 64, ca2Way}, {64, 64, ca2Way}, {1024, 64, ca16Way}, 1400, 1400},
      {"GenuineIntel00206A7_SandyBridge_CPUID.txt", cvIntel, 6, 10, 7, 0, "Intel(R) Core(TM) i5-2400 CPU @ 3.10GHz",
       "Core", "Sandy Bridge", "", "32 nm", {32, 64, ca8Way}, {32, 64, ca8Way}, {256, 64, ca8Way}, 3092.9, 3090},
      {"GenuineTMx860000543_Crusoe_CPUID.txt", cvTransmeta, 5, 4, 3, 0, "",
       "Crusoe", "TM5600/TM5800", "", "", {64, 64, ca8Way}, {64, 32, ca16Way}, {512, 128, ca4Way}, 0, 0},
      {"CentaurHauls0000673_C5B_Samuel2_CPUID.txt", cvIDT, 6, 7, 3, 0, "VIA Samuel 2",
       "VIA C3 C5B", "Samuel 2", "", "0.13 µm", {64, 32, ca4Way}, {64, 32, ca4Way}, {64, 32, ca4Way}, 800, 800},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    FakePlatform fake;
    LoadDump(fake, c.file);
    fake.processor.tscMHz = c.mhz;
    ScopedPlatform use(fake);
    TKyvex_CPU cpu;
    cpu.CollectData();
    EXPECT_EQ(cpu.Vendor(), c.vendor);
    EXPECT_EQ(cpu.Family(), c.family);
    EXPECT_EQ(cpu.Model(), c.model);
    EXPECT_EQ(cpu.Stepping(), c.stepping);
    EXPECT_EQ(cpu.Brand(), c.brand);
    EXPECT_EQ(cpu.MarketingName(), c.marketingName);
    EXPECT_EQ(cpu.CPUName(), c.cpuName);
    EXPECT_EQ(cpu.CodeName(), c.codeName);
    EXPECT_EQ(cpu.Revision(), c.revision);
    EXPECT_EQ(cpu.Technology(), c.technology);
    ExpectCache(cpu.Cache().Level1().Code(), c.l1Code, "L1 code");
    ExpectCache(cpu.Cache().Level1().Data(), c.l1Data, "L1 data");
    ExpectCache(cpu.Cache().Level2(), c.l2, "L2");
    EXPECT_EQ(cpu.Frequency(), c.frequency);
    EXPECT_FALSE(cpu.FDIVBug());
  }
}

TEST(RecordedProcessors, FeatureFlagsAndIdentificationText) {
  FakePlatform fake;
  LoadDump(fake, "GenuineIntel0000683_P3_Coppermine_CPUID.txt");
  ScopedPlatform use(fake);
  TKyvex_CPU cpu;
  cpu.CollectData();
  EXPECT_EQ(cpu.SerialNumber(), "0000-0683-0387-FBFF-0000-0000");
  EXPECT_EQ(cpu.GenericName(), "x86 Family 6 Model 8 Stepping 3");
  EXPECT_EQ(cpu.IntelBrand(), (TIntelBrands{ibPentium}));
  EXPECT_TRUE(cpu.Features().Standard1().FindFeatureByBit(25).Available) << "SSE";
  EXPECT_TRUE(cpu.Features().Standard1().FindFeatureByBit(18).Available) << "the Pentium III's serial number";
  EXPECT_FALSE(cpu.Features().Standard1().FindFeatureByBit(26).Available) << "no SSE2";
  EXPECT_EQ(cpu.Features().Extended1().Count(), 0u) << "no extended leaves";
  EXPECT_EQ(cpu.APICID(), 255) << "no HTT bit";
}

TEST(RecordedProcessors, AllProcessorsDumpTakesTheProcessorAskedFor) {
  FakePlatform fake;
  LoadDump(fake, "AuthenticAMD0A10F11_EPYC_2cpus_CPUID.txt");
  fake.processor.tscMHz = 2596.13;
  ScopedPlatform use(fake);
  TKyvex_CPU cpu;
  for (std::uint8_t index : {0, 1}) {
    SCOPED_TRACE(int(index));
    cpu.SetCPUIndex(index);
    cpu.CollectData();
    EXPECT_EQ(cpu.CPUCount(), 2);
    EXPECT_EQ(cpu.CPUPhysicalCount(), 1) << "two threads of one package";
    EXPECT_EQ(cpu.APICID(), index);
    EXPECT_EQ(cpu.LogicalID(), index);
    EXPECT_EQ(cpu.Vendor(), cvAmd);
    EXPECT_EQ(cpu.Family(), 25);
    EXPECT_EQ(cpu.Model(), 1);
    EXPECT_EQ(cpu.DisplayModel(), 17);
    EXPECT_EQ(cpu.MarketingName(), "AMD EPYC");
    EXPECT_EQ(cpu.CPUName(), "EPYC");
    EXPECT_EQ(cpu.CodeName(), "Genoa") << "family 25, model 17";
    EXPECT_EQ(cpu.Frequency(), 2600u);
    ExpectCache(cpu.Cache().Level1().Data(), {32, 64, ca8Way}, "L1 data");
    ExpectCache(cpu.Cache().Level2(), {1024, 64, ca8Way}, "L2");
    EXPECT_TRUE(cpu.Features().Extended1().FindFeatureByBit(29).Available) << "x64";
    EXPECT_TRUE(cpu.Features().PowerManagement().FindFeatureByBit(8).Available) << "invariant TSC";
  }
}

}  // namespace
