// The deterministic cache leaves (Intel's 4, AMD's 0x8000001D): decoded straight from recorded
// dumps, and what the processor component takes from them where its own method finds nothing.
// The expected values are those the cpuid tool prints for the same dumps.
#include <gtest/gtest.h>

#include <vector>

#include "cpu/KSI_CPU.h"
#include "cpu/KSI_CPUCacheLeaves.h"
#include "platform/CpuidSnapshot.h"
#include "tests/unit/cpu/CpuTestSupport.h"
#include "unit/compound/CompoundTestSupport.h"

using namespace kyvex;
using namespace kyvex::cputest;
using platform::CpuidLeaves;
using platform::FakePlatform;
using platform::ScopedPlatform;

namespace {

CpuidLeaves FirstProcessorOf(const std::string& file) {
  std::string error;
  auto snapshot = platform::ParseCpuidDump(ReadFile(DataPath(file)), error);
  EXPECT_TRUE(snapshot && !snapshot->empty()) << file << ": " << error;
  return snapshot && !snapshot->empty() ? snapshot->front() : CpuidLeaves{};
}

struct Expected {
  int level;
  TCacheKind kind;
  std::uint32_t size;
  int ways, lineSize, sharedBy;
};

TEST(CacheLeaves, RecordedProcessors) {
  struct Case {
    const char* file;
    std::uint32_t leaf;
    std::vector<Expected> caches;
  };
  const Case cases[] = {
      // Leaf 2 gives 0xFF: everything is in leaf 4.
      {"GenuineIntel00206A7_SandyBridge_CPUID.txt", 4,
       {{1, ckData, 32, 8, 64, 2}, {1, ckCode, 32, 8, 64, 2}, {2, ckUnified, 256, 8, 64, 2},
        {3, ckUnified, 6144, 12, 64, 16}}},
      // 11 ways and a level 3 that is no power of two.
      {"GenuineIntel0050654_SkylakeXeon_CPUID.txt", 4,
       {{1, ckData, 32, 8, 64, 2}, {1, ckCode, 32, 8, 64, 2}, {2, ckUnified, 1024, 16, 64, 2},
        {3, ckUnified, 25344, 11, 64, 64}}},
      // Hybrid: the caches of the core the dump was taken on.
      {"GenuineIntel0090672_AlderLake_01_LC_BC_CPUID.txt", 4,
       {{1, ckData, 48, 12, 64, 2}, {1, ckCode, 32, 8, 64, 2}, {2, ckUnified, 1280, 10, 64, 8},
        {3, ckUnified, 30720, 12, 64, 128}}},
      {"GenuineIntel00806A1_Lakefield_CPUID.txt", 4,
       {{1, ckData, 32, 8, 64, 1}, {1, ckCode, 32, 8, 64, 1}, {2, ckUnified, 1536, 12, 64, 8},
        {3, ckUnified, 4096, 16, 64, 16}}},
      // Leaf 2's descriptors are known here; leaf 4 says the same and has no level 3.
      {"GenuineIntel0010676_Penryn_CPUID.txt", 4,
       {{1, ckData, 32, 8, 64, 1}, {1, ckCode, 32, 8, 64, 1}, {2, ckUnified, 3072, 12, 64, 2}}},
      // Zhaoxin under Centaur's name answers Intel's leaf.
      {"CentaurHauls00307B1_ZXE_CPUID.txt", 4,
       {{1, ckData, 32, 8, 64, 1}, {1, ckCode, 32, 8, 64, 1}, {2, ckUnified, 4096, 16, 64, 4}}},
      {"AuthenticAMD0600F20_K15_Vishera_CPUID.txt", 0x8000001D,
       {{1, ckData, 16, 4, 64, 1}, {1, ckCode, 64, 2, 64, 2}, {2, ckUnified, 2048, 16, 64, 2},
        {3, ckUnified, 8192, 64, 64, 8}}},
      {"AuthenticAMD0800F12_K17_Zen_CPUID4.txt", 0x8000001D,
       {{1, ckData, 32, 8, 64, 2}, {1, ckCode, 64, 4, 64, 2}, {2, ckUnified, 512, 8, 64, 2},
        {3, ckUnified, 8192, 16, 64, 6}}},
      {"AuthenticAMD0A20F12_K19_Vermeer_00_CPUID.txt", 0x8000001D,
       {{1, ckData, 32, 8, 64, 2}, {1, ckCode, 32, 8, 64, 2}, {2, ckUnified, 512, 8, 64, 2},
        {3, ckUnified, 98304, 16, 64, 16}}},
      {"AuthenticAMD0B00F21_K20_Turin_01_CPUID.txt", 0x8000001D,
       {{1, ckData, 48, 12, 64, 1}, {1, ckCode, 32, 8, 64, 1}, {2, ckUnified, 1024, 16, 64, 1},
        {3, ckUnified, 32768, 16, 64, 8}}},
      {"HygonGenuine0900F02_Hygon_CPUID.txt", 0x8000001D,
       {{1, ckData, 32, 8, 64, 2}, {1, ckCode, 64, 4, 64, 2}, {2, ckUnified, 512, 8, 64, 2},
        {3, ckUnified, 8192, 16, 64, 8}}},
      // Neither leaf: K10 has no topology extensions, a Pentium 4 Northwood no leaf 4, and a
      // bhyve guest hides AMD's topology extensions.
      {"AuthenticAMD0100F42_K10_Deneb_CPUID.txt", 0, {}},
      {"GenuineIntel0000F29_P4_Northwood_CPUID.txt", 0, {}},
      {"AuthenticAMD0B00F21_Turin_bhyve_CPUID.txt", 0, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    const CpuidLeaves leaves = FirstProcessorOf(c.file);
    EXPECT_EQ(DeterministicCacheLeaf(leaves), c.leaf);
    const std::vector<TCacheInfo> caches = DeterministicCaches(leaves);
    ASSERT_EQ(caches.size(), c.caches.size());
    for (std::size_t i = 0; i < caches.size(); ++i) {
      SCOPED_TRACE(i);
      const auto& e = c.caches[i];
      EXPECT_EQ(caches[i].Level, e.level);
      EXPECT_EQ(caches[i].Kind, e.kind);
      EXPECT_EQ(caches[i].Size, e.size);
      EXPECT_EQ(caches[i].Ways, e.ways);
      EXPECT_EQ(caches[i].LineSize, e.lineSize);
      EXPECT_EQ(caches[i].SharedBy, e.sharedBy);
      EXPECT_FALSE(caches[i].FullyAssociative);
    }
  }
}

// Sub-leaves as a processor could give them: the walk ends at type 0, skips types the leaves
// do not define, and stops after a bounded number of sub-leaves on a leaf that never ends.
TEST(CacheLeaves, SubLeafWalk) {
  CpuidLeaves l;
  l.Set(0, VendorLeaf("GenuineIntel", 4));
  // Level 1 data, fully associative: 4 ways x 1 set x 64 bytes is 256 bytes, below a KB.
  l.Set(4, {0x00000221, 0x00C0003F, 0, 0}, 0);
  l.Set(4, {0x00000044, 0x01C0003F, 0x3F, 0}, 1);  // type 4: not a cache kind the leaf defines
  l.Set(4, {0x0000C143, 0x01C0003F, 0x0FFF, 2}, 2);  // level 2, 4096 sets, inclusive, shared by 4
  l.Set(4, {0x00000063, 0x01C0003F, 0x3F, 0}, 4);    // behind the type-0 sub-leaf 3: not read
  auto caches = DecodeCacheLeaf(l, 4);
  ASSERT_EQ(caches.size(), 2u);
  EXPECT_TRUE(caches[0].FullyAssociative);
  EXPECT_EQ(caches[0].Size, 0u);
  EXPECT_EQ(caches[1].Level, 2);
  EXPECT_EQ(caches[1].Size, 2048u);
  EXPECT_EQ(caches[1].SharedBy, 4);
  EXPECT_TRUE(caches[1].Inclusive);

  for (std::uint32_t sub = 0; sub < 100; ++sub) l.Set(4, {0x00000121, 0x01C0003F, 0x3F, 0}, sub);
  EXPECT_EQ(DecodeCacheLeaf(l, 4).size(), kMaxCacheSubLeaves);
}

// Where a leaf is there but the processor does not say so, it is not read: the largest
// standard leaf below 4, AMD's leaf without the topology-extensions bit or past the largest
// extended leaf, and AMD's own leaf 4 (reserved there).
TEST(CacheLeaves, LeavesAreReadOnlyWhereTheProcessorOffersThem) {
  const X86Registers level1 = {0x00000121, 0x01C0003F, 0x3F, 0};
  struct Case {
    const char* what;
    const char* vendor;
    std::uint32_t maxLeaf, maxExtended, extendedEcx;
    bool leaf4, leaf8000001D;
    std::uint32_t expected;
  };
  const Case cases[] = {
      {"Intel with leaf 4", "GenuineIntel", 4, 0x80000008, 0, true, false, 4},
      {"largest standard leaf 3", "GenuineIntel", 3, 0x80000008, 0, true, false, 0},
      {"AMD with the topology extensions", "AuthenticAMD", 0x10, 0x8000001E, 1u << 22, false, true, 0x8000001D},
      {"AMD without the bit", "AuthenticAMD", 0x10, 0x8000001E, 0, false, true, 0},
      {"AMD, largest extended leaf below", "AuthenticAMD", 0x10, 0x8000001C, 1u << 22, false, true, 0},
      {"AMD answering leaf 4", "AuthenticAMD", 0x10, 0x8000001E, 0, true, false, 0},
      {"Hygon takes AMD's leaf", "HygonGenuine", 0x10, 0x8000001E, 1u << 22, true, true, 0x8000001D},
      {"another vendor with AMD's leaf only", "  Shanghai  ", 0x10, 0x8000001E, 1u << 22, false, true, 0x8000001D},
      {"another vendor prefers leaf 4", "  Shanghai  ", 0x10, 0x8000001E, 1u << 22, true, true, 4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    CpuidLeaves l;
    l.Set(0, VendorLeaf(c.vendor, c.maxLeaf));
    l.Set(0x80000000, {c.maxExtended, 0, 0, 0});
    l.Set(0x80000001, {0, 0, c.extendedEcx, 0});
    if (c.leaf4) l.Set(4, level1);
    if (c.leaf8000001D) l.Set(0x8000001D, level1);
    EXPECT_EQ(DeterministicCacheLeaf(l), c.expected);
    EXPECT_EQ(DeterministicCaches(l).size(), c.expected ? 1u : 0u);
  }
}

// Split level-1 caches never stand in for a unified one; a level 2 or 3 given with another
// type is still that level's cache.
TEST(CacheLeaves, WhichCacheFillsWhichProperty) {
  const std::vector<TCacheInfo> caches = {
      {.Level = 1, .Kind = ckData}, {.Level = 1, .Kind = ckCode}, {.Level = 2, .Kind = ckData}};
  EXPECT_EQ(FindCache(caches, 1, ckData), &caches[0]);
  EXPECT_EQ(FindCache(caches, 1, ckCode), &caches[1]);
  EXPECT_EQ(FindCache(caches, 1, ckUnified), nullptr);
  EXPECT_EQ(FindCache(caches, 2, ckUnified), &caches[2]);
  EXPECT_EQ(FindCache(caches, 3, ckUnified), nullptr);
}

TEST(CacheLeaves, WaysTheEnumerationCannotExpressAreNone) {
  struct Case {
    int ways;
    bool fully;
    TCacheAssociativity expected;
  };
  const Case cases[] = {{1, false, caDirect}, {2, false, ca2Way}, {8, false, ca8Way}, {12, false, ca12Way},
                        {16, false, ca16Way}, {10, false, caNone}, {11, false, caNone}, {64, false, caNone},
                        {6, true, caFull}};
  for (const auto& c : cases) EXPECT_EQ(AssociativityOfWays(c.ways, c.fully), c.expected) << c.ways;
}

void ExpectCache(const TCPUCacheDetails& c, int size, int lineSize, TCacheAssociativity a, const char* which) {
  EXPECT_EQ(c.Size(), size) << which;
  EXPECT_EQ(c.LineSize(), lineSize) << which;
  EXPECT_EQ(c.Associativity(), a) << which;
}

// The component: the existing properties keep what their method decodes and take the
// deterministic leaves' values only where it leaves them empty; the list holds every cache.
TEST(CacheLeaves, ComponentFillsOnlyWhatItsMethodLeavesEmpty) {
  struct Case {
    const char* file;
    struct {
      int size, lineSize;
      TCacheAssociativity a;
    } code, data, level2, level3;
    std::size_t listed;
  };
  const Case cases[] = {
      // Nothing from the descriptors: all four from leaf 4.
      {"GenuineIntel00206A7_SandyBridge_CPUID.txt", {32, 64, ca8Way}, {32, 64, ca8Way}, {256, 64, ca8Way},
       {6144, 64, ca12Way}, 4},
      // 11 ways: the enumeration has no value, the list has the number.
      {"GenuineIntel0050654_SkylakeXeon_CPUID.txt", {32, 64, ca8Way}, {32, 64, ca8Way}, {1024, 64, ca16Way},
       {25344, 64, caNone}, 4},
      // Leaf 2 names the level-1 caches (30h, 2Ch) but its level 2 (48h) is not in the table.
      {"GenuineIntel0010676_Penryn_CPUID.txt", {32, 64, ca8Way}, {32, 64, ca8Way}, {3072, 64, ca12Way},
       {0, 0, caNone}, 3},
      // The extended-leaf method reads no level 3: AMD's leaf gives it (96 MB, stacked cache).
      {"AuthenticAMD0A20F12_K19_Vermeer_00_CPUID.txt", {32, 64, ca8Way}, {32, 64, ca8Way}, {512, 64, ca8Way},
       {98304, 64, ca16Way}, 4},
      // Not in the vendor table: everything from AMD's leaf.
      {"HygonGenuine0900F02_Hygon_CPUID.txt", {64, 64, ca4Way}, {32, 64, ca8Way}, {512, 64, ca8Way},
       {8192, 64, ca16Way}, 4},
      // bhyve hides AMD's leaf: the extended leaves alone.
      {"AuthenticAMD0B00F21_Turin_bhyve_CPUID.txt", {32, 64, ca8Way}, {48, 64, ca12Way}, {1024, 64, ca8Way},
       {0, 0, caNone}, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    FakePlatform fake;
    LoadDump(fake, c.file);
    ScopedPlatform use(fake);
    TKyvex_CPU cpu;
    cpu.CollectData();
    const auto& k = cpu.Cache();
    ExpectCache(k.Level1().Code(), c.code.size, c.code.lineSize, c.code.a, "L1 code");
    ExpectCache(k.Level1().Data(), c.data.size, c.data.lineSize, c.data.a, "L1 data");
    ExpectCache(k.Level2(), c.level2.size, c.level2.lineSize, c.level2.a, "L2");
    ExpectCache(k.Level3(), c.level3.size, c.level3.lineSize, c.level3.a, "L3");
    EXPECT_EQ(cpu.CacheList().size(), c.listed);
  }
}

// Vendors the table does not know: never the descriptor layout; the deterministic leaves,
// else AMD's layout of 0x80000005/6 where the vendor is known to use it, else nothing.
TEST(CacheLeaves, UnknownVendors) {
  struct Case {
    const char* what;
    const char* vendor;
    bool leaf4;
    int l1Data, level2, level3;
  };
  const Case cases[] = {
      {"Zhaoxin with leaf 4", "  Shanghai  ", true, 48, 2048, 8192},
      {"Zhaoxin without it: AMD's layout", "  Shanghai  ", false, 32, 4096, 0},
      {"another vendor with leaf 4", "VendorXVendo", true, 48, 2048, 8192},
      // The extended leaves hold bytes the descriptor table would read as caches (0Ah, 43h).
      {"another vendor without it: nothing", "VendorXVendo", false, 0, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    FakePlatform fake;
    auto& p = fake.processor.cpus[0];
    p.Set(0, VendorLeaf(c.vendor, c.leaf4 ? 4 : 1));
    p.Set(1, {SignatureOf(7, 59, 3), 0, 0, 0});
    if (c.leaf4) {
      p.Set(4, {0x00000121, 0x02C0003F, 0x3F, 0}, 0);  // level 1 data: 64 sets x 12 ways x 64
      p.Set(4, {0x00000143, 0x03C0003F, 0x7FF, 0}, 1);  // level 2: 2048 x 16 x 64
      p.Set(4, {0x00000163, 0x03C0003F, 0x1FFF, 0}, 2);  // level 3: 8192 x 16 x 64
    }
    p.Set(0x80000000, {0x80000008, 0, 0, 0});
    p.Set(0x80000005, {0, 0, 0x2008010A, 0x20080140});
    p.Set(0x80000006, {0, 0, 0x10008143, 0});
    ScopedPlatform use(fake);
    TKyvex_CPU cpu;
    cpu.CollectData();
    ASSERT_EQ(cpu.Vendor(), cvUnknown);
    EXPECT_EQ(cpu.Cache().Level1().Data().Size(), c.l1Data);
    EXPECT_EQ(cpu.Cache().Level2().Size(), c.level2);
    EXPECT_EQ(cpu.Cache().Level3().Size(), c.level3);
    EXPECT_EQ(cpu.Cache().Trace().Size(), 0);
  }
}

// A file keeps neither the list nor the hypervisor: after a load, nothing of the machine the
// component last refreshed on stands beside the file's processor.
TEST(CacheLeaves, ALoadKeepsNothingOfTheLastRefresh) {
  FakePlatform fake;
  LoadDump(fake, "AuthenticAMD0800F12_K17_Zen_CPUID4.txt");  // recorded under Hyper-V
  ScopedPlatform use(fake);
  kyvex::testing::TempDir dir;
  const std::string file = dir.File("zen.kyx");
  TKyvex_CPU cpu;
  cpu.SaveToStorageFile(file);
  ASSERT_EQ(cpu.CacheList().size(), 4u);
  ASSERT_EQ(cpu.HypervisorInfo().Name, "Microsoft Hyper-V");
  const TCPUCacheRecords before = cpu.Cache().Records();

  ASSERT_TRUE(cpu.LoadFromStorageFile(file));
  EXPECT_TRUE(cpu.CacheList().empty());
  EXPECT_EQ(cpu.HypervisorInfo(), THypervisorInfo{});
  EXPECT_EQ(cpu.Cache().Level2().Size(), before.Level2.Size);
  EXPECT_EQ(cpu.Cache().Level1().Code().Size(), before.Level1Code.Size);
}

}  // namespace
