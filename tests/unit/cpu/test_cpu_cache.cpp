// The two cache methods: descriptor bytes looked up in the table, and the extended leaves.
#include <gtest/gtest.h>

#include "cpu/KSI_CPU.h"
#include "tests/unit/cpu/CpuTestSupport.h"

using namespace kyvex;
using namespace kyvex::cputest;
using platform::FakePlatform;
using platform::ScopedPlatform;

namespace {

struct Expected {
  int size, lineSize;
  TCacheAssociativity associativity;
};

void ExpectCache(const TCPUCacheDetails& c, Expected e, const char* which) {
  EXPECT_EQ(c.Size(), e.size) << which;
  EXPECT_EQ(c.LineSize(), e.lineSize) << which;
  EXPECT_EQ(c.Associativity(), e.associativity) << which;
}

FakeCpu IntelWithLeaf2(X86Registers leaf2) {
  FakeCpu p;
  p.Set(0, VendorLeaf("GenuineIntel", 2));
  p.Set(1, {0x00000F29, 0, 0, 0});
  p.Set(2, leaf2);
  return p;
}

TEST(CacheDescriptors, IntelLeaf2DecodesEveryLevel) {
  FakePlatform fake;
  // Count byte 01h, then 50h, 5Bh, 66h; EDX holds 70h and 7Ah.
  fake.processor.cpus[0] = IntelWithLeaf2({0x665B5001, 0, 0, 0x00007A70});
  ScopedPlatform use(fake);
  TKyvex_CPU cpu;
  cpu.CollectData();
  const auto& c = cpu.Cache();
  ExpectCache(c.Level1().Code(), {0, 0, caNone}, "L1 code: 50h is a TLB");
  ExpectCache(c.Level1().Data(), {8, 64, ca4Way}, "L1 data (66h)");
  ExpectCache(c.Level1().Unified(), {0, 0, caNone}, "L1 unified");
  ExpectCache(c.Level2(), {256, 64, ca8Way}, "L2 (7Ah, its numbers not its description)");
  ExpectCache(c.Level3(), {0, 0, caNone}, "L3");
  ExpectCache(c.Trace(), {12, 0, ca8Way}, "trace (70h is also a TLB row)");
  EXPECT_EQ(c.Level2().Descriptors()[3], 0x66u) << "the record keeps the slots it was decoded from";
  EXPECT_EQ(c.Level2().Descriptors()[12], 0x70u);
}

TEST(CacheDescriptors, AssociativityFromTheFirstPresentRowSizesFromTheLast) {
  FakePlatform fake;
  // 41h (128 KB, 4-way, 32), 7Fh (256 KB, 2-way, 64) and 86h (512 KB, 4-way, 64) in table order.
  fake.processor.cpus[0] = IntelWithLeaf2({0x00417F01, 0, 0, 0x00000086});
  ScopedPlatform use(fake);
  TKyvex_CPU cpu;
  cpu.CollectData();
  ExpectCache(cpu.Cache().Level2(), {512, 64, ca4Way}, "L2");
}

TEST(CacheDescriptors, Leaf2RunsAsOftenAsItsCountSays) {
  FakePlatform fake;
  fake.processor.cpus[0] = IntelWithLeaf2({0x00004103, 0, 0, 0});
  ScopedPlatform use(fake);
  TKyvex_CPU cpu;
  cpu.CollectData();
  int leaf2 = 0;
  for (const auto& call : fake.processor.cpuidCalls) leaf2 += call.leaf == 2;
  EXPECT_EQ(leaf2, 1 + 3) << "once for the count, then 3 times; the levels decode the last answer";
  EXPECT_EQ(cpu.Cache().Level2().Size(), 128);
}

TEST(CacheDescriptors, RegistersWithBit31KeepTheEarlierSlots) {
  TKyvex_CPU cpu;
  StoreDescriptorBytes(cpu, 0x665B5001, 1);
  StoreDescriptorBytes(cpu, 0x00007A70, 4);
  StoreDescriptorBytes(cpu, 0x80000041, 1);
  StoreDescriptorBytes(cpu, 0x00000000, 2);
  EXPECT_EQ(cpu.Descriptors()[1], 0x50u) << "bit 31 set: the register holds no descriptors";
  EXPECT_TRUE(HasDescriptor(cpu, 0x7A));
  EXPECT_FALSE(HasDescriptor(cpu, 0x41));
  StoreDescriptorBytes(cpu, 0x00000000, 4);
  EXPECT_FALSE(HasDescriptor(cpu, 0x7A));

  // Across refreshes too: a later leaf 2 whose EDX has bit 31 set leaves the earlier bytes.
  FakePlatform first, second;
  first.processor.cpus[0] = IntelWithLeaf2({0x665B5001, 0, 0, 0x00007A70});
  second.processor.cpus[0] = IntelWithLeaf2({0x00000001, 0, 0, 0x80000000});
  TKyvex_CPU refreshed;
  {
    ScopedPlatform use(first);
    refreshed.CollectData();
  }
  ScopedPlatform use(second);
  refreshed.CollectData();
  EXPECT_EQ(refreshed.Cache().Level2().Size(), 256);
  EXPECT_EQ(refreshed.Cache().Level1().Data().Size(), 0) << "EAX was valid and replaced 66h";
}

TEST(CacheDescriptors, OtherDescriptorVendorsUseTheExtendedLeaves) {
  FakePlatform fake;
  auto& p = fake.processor.cpus[0];
  p.Set(0, VendorLeaf("Geode by NSC", 2));
  p.Set(1, {0x00000540, 0, 0, 0});
  p.Set(2, {0x00000001, 0, 0, 0x00000044});           // not read: only Intel uses leaf 2
  p.Set(0x80000000, {0x80000006, 0, 0, 0});
  p.Set(0x80000005, {0, 0, 0x0000000A, 0});           // level 1: 0Ah
  p.Set(0x80000006, {0, 0, 0, 0x00007043});           // levels 2, 3 and trace: 43h, 70h
  ScopedPlatform use(fake);
  TKyvex_CPU cpu;
  cpu.CollectData();
  ExpectCache(cpu.Cache().Level1().Data(), {8, 32, ca2Way}, "L1 data");
  ExpectCache(cpu.Cache().Level2(), {512, 32, ca4Way}, "L2");
  ExpectCache(cpu.Cache().Trace(), {12, 0, ca8Way}, "trace");
}

TEST(CacheExtendedLeaves, LevelsOneAndTwo) {
  struct Case {
    const char* what;
    const char* vendor;
    std::uint32_t signature;
    std::uint32_t l1Data, l1Code, l2;  // 0x80000005 ECX and EDX, 0x80000006 ECX
    Expected code, data, level2;
  };
  const Case cases[] = {
      {"AMD K8: the 4-bit code in bits 15..12", "AuthenticAMD", 0x00000F4A, 0x40020140, 0x40020140, 0x04008140,
       {64, 64, ca2Way}, {64, 64, ca2Way}, {1024, 64, ca16Way}},
      {"AMD code 6 is 8-way, whatever bits 23..16 hold", "AuthenticAMD", 0x00000F4A, 0, 0, 0x01FF6040,
       {0, 0, caNone}, {0, 0, caNone}, {511, 64, ca8Way}},
      {"AMD family 6: level 2 is 16-way", "AuthenticAMD", 0x00000680, 0x40020140, 0x40020140, 0x01002140,
       {64, 64, ca2Way}, {64, 64, ca2Way}, {256, 64, ca16Way}},
      {"level 1 gives the ways themselves: 8-way and fully associative", "AuthenticAMD", 0x00A10F11, 0x20080140,
       0x20FF0140, 0x0400F140, {32, 64, caFull}, {32, 64, ca8Way}, {1024, 64, caFull}},
      {"an unknown code is none", "AuthenticAMD", 0x00000F4A, 0x40030140, 0, 0x02003140,
       {0, 0, caNone}, {64, 64, caNone}, {512, 64, caNone}},
      {"VIA C3 Samuel 2: level 2 in the level-1 layout", "CentaurHauls", 0x00000673, 0x40040120, 0x40040120, 0x40040120,
       {64, 32, ca4Way}, {64, 32, ca4Way}, {64, 32, ca4Way}},
      {"VIA C3 Nehemiah: the usual layout", "CentaurHauls", 0x00000698, 0x40040120, 0x40040120, 0x00408120,
       {64, 32, ca4Way}, {64, 32, ca4Way}, {64, 32, ca16Way}},
      {"Transmeta Crusoe", "GenuineTMx86", 0x00000543, 0x40100120, 0x40080140, 0x02004180,
       {64, 64, ca8Way}, {64, 32, ca16Way}, {512, 128, ca4Way}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    FakePlatform fake;
    auto& p = fake.processor.cpus[0];
    p.Set(0, VendorLeaf(c.vendor, 1));
    p.Set(1, {c.signature, 0, 0, 0});
    p.Set(0x80000000, {0x80000006, 0, 0, 0});
    p.Set(0x80000005, {0xFF08FF08, 0xFF20FF20, c.l1Data, c.l1Code});
    p.Set(0x80000006, {0, 0x42004200, c.l2, 0x0A009140});
    ScopedPlatform use(fake);
    TKyvex_CPU cpu;
    cpu.CollectData();
    const auto& cache = cpu.Cache();
    ExpectCache(cache.Level1().Code(), c.code, "L1 code");
    ExpectCache(cache.Level1().Data(), c.data, "L1 data");
    ExpectCache(cache.Level2(), c.level2, "L2");
    ExpectCache(cache.Level1().Unified(), {0, 0, caNone}, "L1 unified");
    ExpectCache(cache.Level3(), {0, 0, caNone}, "L3: not read by this method");
    ExpectCache(cache.Trace(), {0, 0, caNone}, "trace");
    EXPECT_EQ(cache.Level2().Descriptors(), TDescriptorSlots{});
  }
}

TEST(CacheExtendedLeaves, AssociativityCodes) {
  struct Case {
    std::uint8_t value;
    TCacheAssociativity code, ways;
  };
  const Case cases[] = {
      {0x00, caNone, caNone},   {0x01, caDirect, caDirect}, {0x02, ca2Way, ca2Way}, {0x03, caNone, caNone},
      {0x04, ca4Way, ca4Way},   {0x06, ca8Way, caNone},     {0x07, ca12Way, caNone}, {0x08, ca16Way, ca8Way},
      {0x0C, caNone, ca12Way},  {0x0F, caFull, caNone},     {0x10, caNone, ca16Way}, {0xFF, caNone, caFull},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(AMDAssociativity(c.value), c.code) << int(c.value);
    EXPECT_EQ(WaysAssociativity(c.value), c.ways) << int(c.value);
  }
}

}  // namespace
