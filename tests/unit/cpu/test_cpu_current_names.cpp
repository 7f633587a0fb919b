// The names of processors from 2006 on: the table's own consistency, and recorded dumps of
// real processors against the names their vendors give them.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "cpu/KSI_CPU.h"
#include "tests/unit/cpu/CpuTestSupport.h"

namespace kyvex::currentnames {
#include "cpu/KSI_CPUCurrentNames.inc"
}  // namespace kyvex::currentnames

using namespace kyvex;
using namespace kyvex::cputest;
using platform::FakePlatform;
using platform::ScopedPlatform;

namespace {

std::string Text(const char* s) { return s ? s : ""; }

TEST(CurrentNameRows, EveryRowIsWellFormed) {
  for (const auto& r : currentnames::kCurrentRows) {
    SCOPED_TRACE(Text(r.vendor) + " " + std::to_string(r.family) + "/" + std::to_string(r.modelLo) + " " + Text(r.codeName));
    EXPECT_LE(r.modelLo, r.modelHi);
    EXPECT_LE(r.steppingLo, r.steppingHi);
    EXPECT_GE(r.steppingLo, 0);
    EXPECT_LE(r.steppingHi, 15);
    EXPECT_GE(r.score, 1);
    EXPECT_EQ(std::strlen(r.vendor), 12u) << "leaf 0 gives twelve characters";
    EXPECT_FALSE(Text(r.cpuName).empty());
    EXPECT_FALSE(Text(r.codeName).empty());
    if (r.brand) EXPECT_GT(r.score, 1) << "a refined row must outrank the generic one";
  }
}

TEST(CurrentNameRows, RowsOfOneKeyNeverOverlap) {
  // Two rows that hold for the same processor at the same score would leave the answer to
  // the order of the table.
  const auto& rows = currentnames::kCurrentRows;
  const std::size_t n = std::size(rows);
  for (std::size_t i = 0; i < n; ++i) {
    for (std::size_t j = i + 1; j < n; ++j) {
      const auto& a = rows[i];
      const auto& b = rows[j];
      if (std::strcmp(a.vendor, b.vendor) != 0 || a.family != b.family || a.score != b.score) continue;
      if (Text(a.brand) != Text(b.brand) || a.minL3 != b.minL3) continue;
      const bool models = a.modelLo <= b.modelHi && b.modelLo <= a.modelHi;
      const bool steppings = a.steppingLo <= b.steppingHi && b.steppingLo <= a.steppingHi;
      EXPECT_FALSE(models && steppings) << a.codeName << " and " << b.codeName;
    }
  }
}

struct Expected {
  const char* file;
  const char *cpuName, *codeName, *technology;
};

TEST(CurrentNameRows, RecordedProcessors) {
  const Expected cases[] = {
      {"GenuineIntel0010676_Penryn_CPUID.txt", "Core 2", "Wolfdale/Penryn", "45 nm"},
      {"GenuineIntel00106A4_Bloomfield_CPUID.txt", "Core i7", "Bloomfield", "45 nm"},
      {"GenuineIntel00106C2_DiamondvilleDC_CPUID.txt", "Atom", "Bonnell", "45 nm"},
      {"GenuineIntel00306C3_Haswell_CPUID.txt", "Core", "Haswell", "22 nm"},
      {"GenuineIntel0030673_Silvermont3_CPUID.txt", "Atom", "Silvermont (Bay Trail)", "22 nm"},
      {"GenuineIntel00506C9_Goldmont_CPUID.txt", "Atom", "Goldmont (Apollo Lake)", "14 nm"},
      {"GenuineIntel0050654_SkylakeXeon_CPUID.txt", "Xeon", "Skylake-SP", "14 nm"},
      {"GenuineIntel00906EA_Coffeelake_CPUID.txt", "Core", "Coffee Lake", "14 nm"},
      {"GenuineIntel00806A1_Lakefield_CPUID.txt", "Core", "Lakefield", "10 nm"},
      {"GenuineIntel0090672_AlderLake_01_LC_BC_CPUID.txt", "Core", "Alder Lake-S", "Intel 7"},
      {"GenuineIntel00B06E0_AlderLakeN_02_CPUID.txt", "Core i3/N", "Gracemont (Alder Lake-N)", "Intel 7"},
      {"GenuineIntel00C0662_ArrowLake_08_CPUID.txt", "Core Ultra", "Arrow Lake-S", "3 nm"},
      {"GenuineIntel00806F8_SapphireRapids_05_CPUID.txt", "Xeon", "Sapphire Rapids", "Intel 7"},
      {"AuthenticAMD0100F42_K10_Deneb_CPUID.txt", "Phenom II", "Deneb", "45 nm"},
      {"AuthenticAMD0600F20_K15_Vishera_CPUID.txt", "FX", "Vishera", "32 nm"},
      {"AuthenticAMD0800F12_K17_Zen_CPUID4.txt", "EPYC", "Naples", "14 nm"},
      {"AuthenticAMD0870F10_K17_Matisse_01_CPUID.txt", "Ryzen", "Matisse", "7 nm"},
      {"AuthenticAMD0A20F12_K19_Vermeer_00_CPUID.txt", "Ryzen", "Vermeer", "7 nm"},
      {"AuthenticAMD0A70F41_K19_Phoenix_03_CPUID.txt", "Ryzen", "Phoenix", "4 nm"},
      {"AuthenticAMD0B40F40_K20_GraniteRidge_03_CPUID.txt", "Ryzen", "Granite Ridge", "4 nm"},
      {"AuthenticAMD0B00F21_K20_Turin_01_CPUID.txt", "EPYC", "Turin", "4 nm"},
      {"AuthenticAMD0A10F11_EPYC_2cpus_CPUID.txt", "EPYC", "Genoa", "5 nm"},
      {"CentaurHauls00006F2_CNA_Isaiah_CPUID.txt", "Nano", "Isaiah", "65 nm"},
      {"CentaurHauls00307B1_ZXE_CPUID.txt", "KaiXian KX-6000", "LuJiaZui", "16 nm"},
      {"HygonGenuine0900F02_Hygon_CPUID.txt", "Hygon", "Dhyana", "14 nm"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    FakePlatform fake;
    LoadDump(fake, c.file);
    ScopedPlatform use(fake);
    TKyvex_CPU cpu;
    cpu.CollectData();
    EXPECT_EQ(cpu.CPUName(), c.cpuName);
    EXPECT_EQ(cpu.CodeName(), c.codeName);
    EXPECT_EQ(cpu.Technology(), c.technology);
  }
}

}  // namespace

namespace {

// Hygon describes its caches in AMD's leaves; read as descriptors they gave 128 KB of
// level 2 with 32-byte lines.
TEST(CurrentNameRows, HygonCachesComeFromAmdsLeaves) {
  FakePlatform fake;
  LoadDump(fake, "HygonGenuine0900F02_Hygon_CPUID.txt");
  ScopedPlatform use(fake);
  TKyvex_CPU cpu;
  cpu.CollectData();
  EXPECT_EQ(cpu.Cache().Level2().Size(), 512);
  EXPECT_EQ(cpu.Cache().Level2().LineSize(), 64);
  EXPECT_EQ(cpu.Cache().Level1().Data().Size(), 32);
  EXPECT_EQ(cpu.Cache().Level1().Code().Size(), 64);
}

}  // namespace
