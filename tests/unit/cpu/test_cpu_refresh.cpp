// The processor component's refresh over scripted CPUID tables.
#include <gtest/gtest.h>

#include "cpu/KSI_CPU.h"
#include "tests/unit/cpu/CpuTestSupport.h"

using namespace kyvex;
using namespace kyvex::cputest;
using platform::FakePlatform;
using platform::RegRoot;
using platform::ScopedPlatform;

namespace {

constexpr std::uint32_t kHTT = 1u << 28;
constexpr std::uint32_t kTSC = 1u << 4;

FakeCpu WithLeaf1(const std::string& vendor, X86Registers leaf1, std::uint32_t maxLeaf = 1) {
  FakeCpu cpu;
  cpu.Set(0, VendorLeaf(vendor, maxLeaf));
  cpu.Set(1, leaf1);
  return cpu;
}

TEST(CPURefresh, IdentificationFromLeaf1) {
  FakePlatform fake;
  // Stepping 9, model 2, family 15, type 0; brand 0, one logical processor, APIC ID 0; HTT.
  fake.processor.cpus[0] = WithLeaf1("GenuineIntel", {0x00000F29, 0x00010000, 0, kHTT});
  ScopedPlatform use(fake);
  TKyvex_CPU cpu;
  cpu.CollectData();
  EXPECT_TRUE(cpu.CPUIDSupported());
  EXPECT_EQ(cpu.Vendor(), cvIntel);
  EXPECT_EQ(cpu.VendorID(), "GenuineIntel");
  EXPECT_EQ(cpu.Family(), 15);
  EXPECT_EQ(cpu.Model(), 2);
  EXPECT_EQ(cpu.Stepping(), 9);
  EXPECT_EQ(cpu.CPUType(), 0);
  EXPECT_EQ(cpu.Brand(), 0);
  EXPECT_EQ(cpu.GenericName(), "x86 Family 15 Model 2 Stepping 9");
  EXPECT_EQ(cpu.APICID(), 0);
  EXPECT_EQ(cpu.LogicalPerPackage(), 1);
  EXPECT_EQ(cpu.LogicalID(), 0);
  EXPECT_EQ(cpu.PhysicalID(), 0);
  EXPECT_EQ(cpu.SerialNumber(), "0000-0F29-1000-0000-0000-0000");
  EXPECT_EQ(cpu.CPUCount(), 1);
  EXPECT_EQ(cpu.CPUPhysicalCount(), 1);
}

TEST(CPURefresh, FamilyAndModelExtensions) {
  struct Case {
    const char* what;
    std::uint32_t eax;
    int family, model, type, extendedModel, displayModel;
  };
  const Case cases[] = {
      {"base family and model 15, extended model 2: added", 0x00020FF0, 15, 17, 0, 2, 47},
      {"family 25 model 1 with extended model 1", 0x00A10F11, 25, 1, 0, 1, 17},
      {"Sandy Bridge: family 6 keeps the base model", 0x000206A7, 6, 10, 0, 2, 42},
      {"OverDrive Pentium", 0x00001531, 5, 3, 1, 0, 3},
      {"extended family only counts with base 15", 0x00F00633, 6, 3, 0, 0, 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    FakePlatform fake;
    fake.processor.cpus[0] = WithLeaf1("GenuineIntel", {c.eax, 0, 0, 0});
    ScopedPlatform use(fake);
    TKyvex_CPU cpu;
    cpu.CollectData();
    EXPECT_EQ(cpu.Family(), c.family);
    EXPECT_EQ(cpu.Model(), c.model);
    EXPECT_EQ(cpu.CPUType(), c.type);
    EXPECT_EQ(cpu.ExtendedModel(), c.extendedModel);
    EXPECT_EQ(cpu.DisplayModel(), c.displayModel);
  }
}

TEST(CPURefresh, ApicIdentifiers) {
  struct Case {
    const char* what;
    std::uint32_t ebx, edx;
    std::uint8_t apic, perPackage, logical, physical;
  };
  const Case cases[] = {
      {"second thread of the second package", 0x03020000, kHTT, 3, 2, 1, 1},
      {"logical count 0", 0x05000000, kHTT, 5, 0, 0, 5},
      {"no HTT bit", 0x03020000, 0, 255, 1, 0, 255},
      {"eight per package", 0x0D080000, kHTT, 13, 8, 5, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    FakePlatform fake;
    fake.processor.cpus[0] = WithLeaf1("GenuineIntel", {0x00000F29, c.ebx, 0, c.edx});
    ScopedPlatform use(fake);
    TKyvex_CPU cpu;
    cpu.CollectData();
    EXPECT_EQ(cpu.APICID(), c.apic);
    EXPECT_EQ(cpu.LogicalPerPackage(), c.perPackage);
    EXPECT_EQ(cpu.LogicalID(), c.logical);
    EXPECT_EQ(cpu.PhysicalID(), c.physical);
  }
}

TEST(CPURefresh, DescribesTheProcessorAtCPUIndex) {
  FakePlatform fake;
  fake.processor.cpus.assign(2, WithLeaf1("GenuineIntel", {0x00000F29, 0x00020000, 0, kHTT}));
  fake.processor.cpus[1].Set(1, {0x00000F29, 0x01020000, 0, kHTT});
  ScopedPlatform use(fake);
  TKyvex_CPU cpu;
  cpu.SetCPUIndex(1);
  cpu.CollectData();
  EXPECT_EQ(cpu.APICID(), 1);
  EXPECT_EQ(cpu.LogicalID(), 1);
  EXPECT_EQ(cpu.CPUCount(), 2);
  EXPECT_EQ(cpu.CPUPhysicalCount(), 1);
  cpu.SetCPUIndex(7);  // beyond the processors: processor 0
  cpu.CollectData();
  EXPECT_EQ(cpu.APICID(), 0);
  EXPECT_EQ(cpu.CPUIndex(), 7) << "the property keeps what was set";
}

TEST(CPURefresh, BrandStrings) {
  struct Case {
    const char* what;
    const char* vendor;
    std::uint32_t maxExtended;
    bool transmetaLeaves;
    std::string expected;
  };
  const std::string padded = std::string("   Intel(R) Pentium(R) 4 CPU 2.80GHz") + '\0' + '\0';
  const Case cases[] = {
      {"leading blanks and trailing zero bytes go", "GenuineIntel", 0x80000004, false, "Intel(R) Pentium(R) 4 CPU 2.80GHz"},
      {"no brand leaves: empty", "GenuineIntel", 0x80000001, false, ""},
      {"Transmeta's leaves when the usual ones are missing", "GenuineIntel", 0x80000001, true,
       "Transmeta(tm) Crusoe(tm) Processor TM5800 with 64 characters"},
      {"a Transmeta processor gets none from CPUID", "GenuineTMx86", 0x80000004, true, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    FakePlatform fake;
    auto& p = fake.processor.cpus[0];
    p = WithLeaf1(c.vendor, {0x00000543, 0, 0, 0});
    p.Set(0x80000000, {c.maxExtended, 0, 0, 0});
    SetBrandString(p, padded);
    if (c.transmetaLeaves) {
      p.Set(0x80860000, {0x80860007, 0, 0, 0});
      SetBrandString(p, "Transmeta(tm) Crusoe(tm) Processor TM5800 with 64 characters", 0x80860003, 4);
    }
    ScopedPlatform use(fake);
    TKyvex_CPU cpu;
    cpu.CollectData();
    EXPECT_EQ(cpu.MarketingName(), c.expected);
  }
}

TEST(CPURefresh, TransmetaIdentificationIsEbxOnly) {
  FakePlatform fake;
  fake.processor.cpus[0] = WithLeaf1("GenuineTMx86", {0x00000543, 0x0000ABCD, 0x1, 0x0084893F});
  ScopedPlatform use(fake);
  TKyvex_CPU cpu;
  cpu.CollectData();
  EXPECT_EQ(cpu.Vendor(), cvTransmeta);
  EXPECT_EQ(cpu.SerialNumber(), "0000-ABCD");
}

TEST(CPURefresh, AmdBrandIndexFromTheExtendedLeaf) {
  struct Case {
    std::uint32_t eax, ebx;
    int brand;
  };
  const Case cases[] = {
      {0x00000F51, 0x00000000, 0x64},  // family 15 model 5, leaf 1 EBX all zero: the extended leaf's
      {0x00000F51, 0x00000100, 0x00},  // EBX not zero: its own low byte
      {0x00000F4A, 0x00000000, 0x00},  // model 4: its own
  };
  for (const auto& c : cases) {
    FakePlatform fake;
    auto& p = fake.processor.cpus[0];
    p = WithLeaf1("AuthenticAMD", {c.eax, c.ebx, 0, 0});
    p.Set(0x80000000, {0x80000001, 0, 0, 0});
    p.Set(0x80000001, {c.eax, 0x00000164, 0, 0});
    ScopedPlatform use(fake);
    TKyvex_CPU cpu;
    cpu.CollectData();
    EXPECT_EQ(cpu.Brand(), c.brand) << std::hex << c.eax << " " << c.ebx;
    EXPECT_EQ(cpu.FamilyEx(), 15);
    EXPECT_EQ(cpu.SteppingEx(), static_cast<int>(c.eax & 0xF));
  }
}

TEST(CPURefresh, RegistryFallbackWithoutLeaf1) {
  const std::string key = "HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0";
  struct Case {
    const char* what;
    bool hasCpuid;
    bool keyPresent, namePresent;
    TCpuVendor vendor;
    std::string generic, marketing;
  };
  const Case cases[] = {
      {"no CPUID: the registry describes the processor", false, true, true, cvCyrix, "x86 Family 4 Model 9 Stepping 1",
       "Cyrix 5x86"},
      {"no key: the CPUID vendor stays", true, false, false, cvAmd, "", ""},
      {"no brand value: the brand string stays", true, true, false, cvCyrix, "x86 Family 4 Model 9 Stepping 1",
       "earlier brand"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    FakePlatform fake;
    // CPUID answers only leaf 0 (maximum leaf 0), or nothing at all.
    fake.processor.cpus[0].Set(0, VendorLeaf("AuthenticAMD", 0));
    fake.processor.cpus[0].hasCpuid = c.hasCpuid;
    if (c.keyPresent) {
      fake.SetRegistryString(RegRoot::LocalMachine, key, "VendorIdentifier", "cyrixinstead");
      fake.SetRegistryString(RegRoot::LocalMachine, key, "Identifier", "x86 Family 4 Model 9 Stepping 1");
      if (c.namePresent) fake.SetRegistryString(RegRoot::LocalMachine, key, "ProcessorNameString", "Cyrix 5x86");
    }
    ScopedPlatform use(fake);
    TKyvex_CPU cpu;
    if (!c.namePresent && c.keyPresent) {
      // An earlier refresh left a brand string: a fake whose extended leaves give one.
      FakePlatform earlier;
      earlier.processor.cpus[0] = WithLeaf1("AuthenticAMD", {0x00000F51, 0, 0, 0});
      earlier.processor.cpus[0].Set(0x80000000, {0x80000004, 0, 0, 0});
      SetBrandString(earlier.processor.cpus[0], "earlier brand");
      ScopedPlatform useEarlier(earlier);
      cpu.CollectData();
    }
    cpu.CollectData();
    EXPECT_EQ(cpu.CPUIDSupported(), c.hasCpuid);
    EXPECT_EQ(cpu.Vendor(), c.vendor);
    EXPECT_EQ(cpu.GenericName(), c.generic);
    EXPECT_EQ(cpu.MarketingName(), c.marketing);
    EXPECT_EQ(cpu.Family(), 0) << "cleared at the start of every refresh";
    EXPECT_EQ(cpu.Frequency(), 0u) << "no time-stamp counter can be known to exist";
    EXPECT_EQ(fake.processor.counterReads, 0u) << "nothing was measured";
    if (!c.hasCpuid) {
      EXPECT_TRUE(fake.processor.cpuidCalls.empty()) << "no CPUID on a processor without it";
      EXPECT_EQ(cpu.CPUPhysicalCount(), 1);
    }
  }
}

TEST(CPURefresh, FeatureGroupsFollowTheSupportedLeaves) {
  FakePlatform fake;
  auto& p = fake.processor.cpus[0];
  p = WithLeaf1("AuthenticAMD", {0x00000680, 0, 0, 0x0383FBFF});
  p.Set(0x80000000, {0x80000001, 0, 0, 0});
  p.Set(0x80000001, {0x00000780, 0, 0x1, 0xC1C3FBFF});
  p.Set(0x80000007, {0, 0, 0, 0x1});  // beyond the maximum: not read
  ScopedPlatform use(fake);
  TKyvex_CPU cpu;
  cpu.CollectData();
  EXPECT_EQ(cpu.Features().Standard1().Count(), 29u);
  EXPECT_EQ(cpu.Features().Standard2().Count(), 9u);
  EXPECT_EQ(cpu.Features().Extended1().Count(), 25u);
  EXPECT_EQ(cpu.Features().Extended2().Count(), 2u);
  EXPECT_EQ(cpu.Features().PowerManagement().Count(), 0u);
  EXPECT_TRUE(cpu.Features().Extended1().FindFeatureByBit(31).Available) << "3DNow! from 0x80000001 EDX";
  EXPECT_TRUE(cpu.Features().Extended2().FindFeatureByBit(0).Available);
  EXPECT_EQ(cpu.ExtendedRegisters(), (TCPUIDRegisters{0x00000780, 0, 0x1, 0xC1C3FBFF}));
  EXPECT_EQ(cpu.PowerRegisters(), TCPUIDRegisters{});
}

TEST(CPURefresh, ClockIsMeasuredOnTheProcessorWhenItHasATimeStampCounter) {
  for (bool tsc : {true, false}) {
    SCOPED_TRACE(tsc);
    FakePlatform fake;
    fake.processor.cpus.assign(2, WithLeaf1("GenuineIntel", {0x00000F29, 0, 0, tsc ? kTSC : 0}));
    fake.processor.tscMHz = 2993;
    ScopedPlatform use(fake);
    TKyvex_CPU cpu;
    cpu.SetCPUIndex(1);
    cpu.CollectData();
    EXPECT_EQ(cpu.Frequency(), tsc ? 2990u : 0u);
    EXPECT_EQ(cpu.FrequencyInfo().RawFrequency, tsc ? 2993u : 0u);
    if (tsc) {
      EXPECT_EQ(fake.processor.threadBindings.back(), 1u) << "measured on processor 1 itself";
      EXPECT_EQ(fake.processor.CurrentCpu(), 0u) << "the binding is undone after the measurement";
      EXPECT_GT(fake.processor.timeCriticalRaises, 2);
      EXPECT_EQ(fake.processor.threadPriority, 0) << "the priority is back";
    } else {
      EXPECT_EQ(fake.processor.counterReads, 0u);
    }
  }
}

// A vendor no table knows (Hygon's processors are named by the rows of current processors;
// this one, with Hygon's signature, by nothing).
TEST(CPURefresh, UnknownVendorKeepsNamesEmpty) {
  FakePlatform fake;
  auto& p = fake.processor.cpus[0];
  p = WithLeaf1("UnknownChips", {0x00900F02, 0, 0, 0});
  p.Set(0x80000000, {0x80000004, 0, 0, 0});
  SetBrandString(p, "Hygon C86 3185  8-core Processor");
  ScopedPlatform use(fake);
  TKyvex_CPU cpu;
  cpu.CollectData();
  EXPECT_EQ(cpu.Vendor(), cvUnknown);
  EXPECT_EQ(cpu.VendorID(), "UnknownChips");
  EXPECT_EQ(cpu.CPUName(), "");
  EXPECT_EQ(cpu.CodeName(), "");
  EXPECT_EQ(cpu.Revision(), "");
  EXPECT_EQ(cpu.Technology(), "");
  EXPECT_EQ(cpu.MarketingName(), "Hygon C86 3185  8-core Processor");
}

}  // namespace
