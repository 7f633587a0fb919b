// The five feature groups built from the definition table.
#include <gtest/gtest.h>

#include "cpu/KSI_CPU.h"
#include "tests/unit/cpu/CpuTestSupport.h"

using namespace kyvex;
using namespace kyvex::cputest;
using platform::FakePlatform;
using platform::ScopedPlatform;

namespace {

std::vector<std::string> Names(const TCPUFeatureSet& set, bool availableOnly) {
  std::vector<std::string> names;
  for (const auto& f : set.Features())
    if (!availableOnly || f.Available) names.push_back(f.Name);
  return names;
}

// A processor of `vendor` whose leaves 1, 0x80000001 and 0x80000007 give the registers.
void Refresh(TKyvex_CPU& cpu, const std::string& vendor, X86Registers leaf1, X86Registers extended, X86Registers power) {
  FakePlatform fake;
  auto& p = fake.processor.cpus[0];
  p.Set(0, VendorLeaf(vendor, 1));
  p.Set(1, leaf1);
  p.Set(0x80000000, {0x80000007, 0, 0, 0});
  p.Set(0x80000001, extended);
  p.Set(0x80000007, power);
  ScopedPlatform use(fake);
  cpu.CollectData();
}

TEST(CPUFeatures, StandardGroups) {
  TKyvex_CPU cpu;
  const std::uint32_t edx = ~((1u << 10) | (1u << 18) | (1u << 20) | (1u << 30));
  Refresh(cpu, "GenuineIntel", {0x00000F29, 0, 1u << 10, edx}, {}, {});
  const auto& s1 = cpu.Features().Standard1();
  const auto& s2 = cpu.Features().Standard2();
  EXPECT_EQ(s1.Count(), 29u);
  EXPECT_EQ(s2.Count(), 9u);
  std::vector<std::string> missing;
  for (const auto& f : s1.Features())
    if (!f.Available) missing.push_back(f.Name);
  EXPECT_EQ(missing, (std::vector<std::string>{"PSN", "IA-64"}));
  EXPECT_EQ(Names(s2, true), (std::vector<std::string>{"CID"}));
  EXPECT_EQ(s1.GetFeature(0), (TCPUFeature{0, "FPU", "Floating point unit", fgStandard1, true}));
  EXPECT_EQ(s2.FindFeatureByBit(13), (TCPUFeature{13, "CX16", "CMPXCHG16B instrucion support", fgStandard2, false}));
}

TEST(CPUFeatures, MissingEntriesAreEmptyRecords) {
  TKyvex_CPU cpu;
  Refresh(cpu, "GenuineIntel", {0x00000F29, 0, 0, 0xFFFFFFFF}, {}, {});
  const auto& s1 = cpu.Features().Standard1();
  EXPECT_EQ(s1.FindFeatureByBit(10), TCPUFeature{}) << "no row has bit 10";
  EXPECT_EQ(s1.GetFeature(static_cast<std::uint8_t>(s1.Count())), TCPUFeature{});
  EXPECT_EQ(s1.GetFeature(255), TCPUFeature{});
}

TEST(CPUFeatures, ExtendedGroupsByFeatureClass) {
  const std::vector<std::string> extended1 = {"FPU",  "VME",  "DE",   "PSE",  "TSC",  "MSR",   "PAE",    "MCE",  "CX8",
                                              "SEP",  "MTRR", "CMOV", "PAT",  "PSE36", "MMX",  "SSE2",   "IA-64", "APIC",
                                              "PGE",  "MP",   "NX",   "MMX+", "x64",   "3DNOW+", "3DNOW"};
  struct Case {
    const char* vendor;
    std::vector<std::string> names;
  };
  std::vector<std::string> classZero = extended1;
  classZero[16] = "3DNOW+";  // the IA-64 entry is overwritten by the later row with its bit
  const Case cases[] = {{"GenuineIntel", extended1}, {"AuthenticAMD", extended1}, {"CyrixInstead", extended1},
                        {"GenuineTMx86", classZero}, {"CentaurHauls", classZero}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.vendor);
    TKyvex_CPU cpu;
    Refresh(cpu, c.vendor, {0x00000543, 0, 0, 0}, {0, 0, 0x2, 1u << 30}, {0, 0, 0, 0x100});
    const auto& e1 = cpu.Features().Extended1();
    EXPECT_EQ(Names(e1, false), c.names);
    EXPECT_EQ(Names(e1, true), c.names == extended1 ? (std::vector<std::string>{"IA-64", "3DNOW+"})
                                                    : (std::vector<std::string>{"3DNOW+", "3DNOW+"}));
    EXPECT_EQ(e1.FindFeatureByBit(9).Description, "On-chip APIC hardware");
    EXPECT_EQ(Names(cpu.Features().Extended2(), true), (std::vector<std::string>{"CMPL"}));
    EXPECT_EQ(Names(cpu.Features().PowerManagement(), false),
              (std::vector<std::string>{"TS", "FID", "VID", "TPP", "TM", "STC", "ITSC"}));
    EXPECT_EQ(Names(cpu.Features().PowerManagement(), true), (std::vector<std::string>{"ITSC"}));
    for (const auto& f : cpu.Features().PowerManagement().Features()) EXPECT_EQ(f.Group, fgPowerManagement);
  }
}

}  // namespace
