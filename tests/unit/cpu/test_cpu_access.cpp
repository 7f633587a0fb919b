// CPUID access and processor binding, over the fake platform.
#include <gtest/gtest.h>

#include "cpu/KSI_CPU.h"
#include "tests/unit/cpu/CpuTestSupport.h"

using namespace kyvex;
using platform::FakePlatform;
using platform::ScopedPlatform;

namespace {

// Four processors whose leaf 0 answers its own index in EAX, so that a reply shows where
// the instruction ran.
void FourProcessors(FakePlatform& fake) {
  fake.processor.cpus.assign(4, {});
  for (std::uint32_t i = 0; i < 4; ++i) fake.processor.cpus[i].Set(0, {100 + i, 0, 0, 0});
  fake.processor.processAffinity = 0b1011;  // the process may not run on processor 2
}

TEST(ProcessorBinding, ExecutesOnTheChosenProcessorAndRestoresTheProcessMask) {
  FakePlatform fake;
  FourProcessors(fake);
  ScopedPlatform use(fake);
  TCPUIDRegisters regs;
  for (std::uint8_t i = 0; i < 4; ++i) {
    CPUIDOnProcessor(i, 0, 1, regs);
    EXPECT_EQ(regs.EAX, 100u + i);
    EXPECT_EQ(fake.processor.processAffinity, 0b1011u) << "the process mask is back after each execution";
  }
  EXPECT_EQ(fake.processor.affinityCalls,
            (std::vector<std::uint32_t>{0b0001, 0b1011, 0b0010, 0b1011, 0b0100, 0b1011, 0b1000, 0b1011}));
  EXPECT_EQ(fake.processor.sleeps, (std::vector<std::uint32_t>{0, 0, 0, 0}));
}

TEST(ProcessorBinding, OutOfRangeIndexesAndMissingServices) {
  struct Case {
    const char* what;
    std::uint8_t index;
    bool setterPresent, queryFails;
    std::uint32_t expectedEax;
    std::vector<std::uint32_t> expectedCalls;
  };
  const Case cases[] = {
      {"index at the processor count uses processor 0", 4, true, false, 100, {0b0001, 0b1011}},
      {"index 32 and above binds nothing", 32, true, false, 100, {}},
      {"no affinity setter (Windows 9x): no binding", 3, false, false, 100, {}},
      {"no current mask to restore: no binding", 3, true, true, 100, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    FakePlatform fake;
    FourProcessors(fake);
    fake.processor.processAffinity = 0;  // runs on processor 0 when not bound
    fake.processor.affinitySetterPresent = c.setterPresent;
    fake.processor.affinityQueryFails = c.queryFails;
    ScopedPlatform use(fake);
    TCPUIDRegisters regs;
    CPUIDOnProcessor(c.index, 0, 1, regs);
    EXPECT_EQ(regs.EAX, c.expectedEax);
    if (c.setterPresent) {
      // The mask saved is the whole system's (0b1111), as the process had it.
      std::vector<std::uint32_t> expected = c.expectedCalls;
      for (auto& m : expected)
        if (m == 0b1011) m = 0b1111;
      EXPECT_EQ(fake.processor.affinityCalls, expected);
    } else {
      EXPECT_TRUE(fake.processor.affinityCalls.empty());
    }
  }
}

TEST(ProcessorBinding, TheSetterIsLookedUpOncePerPlatform) {
  FakePlatform fake;
  ScopedPlatform use(fake);
  TCPUIDRegisters regs;
  CPUIDOnProcessor(0, 0, 1, regs);
  CPUIDOnProcessor(0, 0, 1, regs);
  EXPECT_EQ(fake.processor.bindLookups, 1);
  FakePlatform other;
  ScopedPlatform useOther(other);
  CPUIDOnProcessor(0, 0, 1, regs);
  EXPECT_EQ(other.processor.bindLookups, 1) << "a new platform is asked anew";
}

TEST(CpuidAccess, RepeatKeepsTheLastExecutionAndZeroCountExecutesNothing) {
  FakePlatform fake;
  fake.processor.cpus[0].Set(2, {0x665b5001, 1, 2, 3});
  ScopedPlatform use(fake);
  TCPUIDRegisters regs{9, 9, 9, 9};
  RepeatCPUID(2, 0, regs);
  EXPECT_EQ(regs, (TCPUIDRegisters{9, 9, 9, 9}));
  EXPECT_TRUE(fake.processor.cpuidCalls.empty());
  RepeatCPUID(2, 3, regs);
  EXPECT_EQ(regs, (TCPUIDRegisters{0x665b5001, 1, 2, 3}));
  EXPECT_EQ(fake.processor.cpuidCalls.size(), 3u);
  EXPECT_EQ(fake.processor.cpuidCalls.back().subLeaf, 0u);
}

TEST(CpuidAccess, LeafRangesAndSupport) {
  struct Case {
    std::uint32_t leaf;
    int range;
    bool supported;
  };
  // Basic leaves up to 2, extended up to 0x80000004, Transmeta's up to 0x80860007.
  const Case cases[] = {
      {0, 0, true},           {2, 0, true},           {3, 0, false},          {0x7FFFFFFF, 0, false},
      {0x80000000, 1, true},  {0x80000004, 1, true},  {0x80000005, 1, false}, {0x80000008, 1, false},
      {0x80000009, 0, false}, {0x80860003, 2, true},  {0x80860007, 2, true},  {0x80860008, 0, false},
  };
  FakePlatform fake;
  fake.processor.cpus[0].Set(0, {2, 0, 0, 0});
  fake.processor.cpus[0].Set(0x80000000, {0x80000004, 0, 0, 0});
  fake.processor.cpus[0].Set(0x80860000, {0x80860007, 0, 0, 0});
  ScopedPlatform use(fake);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.leaf);
    EXPECT_EQ(LeafRange(c.leaf), c.range);
    EXPECT_EQ(IsLeafSupported(0, c.leaf), c.supported);
  }
  EXPECT_EQ(MaxLeafOfRange(0, 3), 0u);
}

TEST(CpuidAccess, TextHelpers) {
  EXPECT_EQ(RegisterToText(0x756e6547), "Genu");
  EXPECT_EQ(RegisterToText(0x00410042), std::string("B\0A\0", 4)) << "zero bytes stay in the text";
  EXPECT_EQ(SplitSerialGroup("00000F29"), "0000-0F29");
}

TEST(CpuidAccess, VendorSignatures) {
  struct Case {
    const char* text;
    bool ignoreCase;
    TCpuVendor vendor;
  };
  const Case cases[] = {
      {"GenuineIntel", false, cvIntel},     {"genuineintel", false, cvUnknown}, {"genuineintel", true, cvIntel},
      {"UMC UMC UMC ", false, cvUMC},       {"UMC UMC UMC", false, cvUnknown},  {"SiS SiS SiS ", false, cvSiS},
      {"SiS SiS SiS", true, cvSiS},         {"SiS SiS SiSx", false, cvUnknown}, {"Geode by NSC", false, cvGeode},
      {"HygonGenuine", false, cvUnknown},   {"", false, cvUnknown},             {"BadCpuVendor", false, cvUnknown},
  };
  for (const auto& c : cases) EXPECT_EQ(VendorFromSignature(c.text, c.ignoreCase), c.vendor) << c.text;
}

TEST(CpuidAccess, PhysicalProcessorsAreThoseWithLogicalIdZero) {
  struct Case {
    const char* what;
    std::vector<std::uint32_t> ebx;  // leaf 1 EBX per processor
    std::uint32_t edx;
    std::vector<bool> cpuid;
    std::uint8_t expected;
  };
  const Case cases[] = {
      {"two packages of two threads", {0x00020000, 0x01020000, 0x02020000, 0x03020000}, 1u << 28, {}, 2},
      {"no HTT bit: every processor counts", {0x01020000, 0x01020000}, 0, {}, 2},
      {"three logical per package round up to four", {0x00030000, 0x01030000, 0x03030000, 0x04030000}, 1u << 28, {}, 2},
      {"logical count 0", {0x05000000}, 1u << 28, {}, 1},
      {"a processor without CPUID counts as one", {0x01020000, 0x01020000}, 1u << 28, {false, true}, 1},
      {"no processors", {}, 0, {}, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    FakePlatform fake;
    fake.processor.cpus.assign(c.ebx.size(), {});
    for (std::size_t i = 0; i < c.ebx.size(); ++i) {
      fake.processor.cpus[i].Set(1, {0, c.ebx[i], 0, c.edx});
      if (i < c.cpuid.size()) fake.processor.cpus[i].hasCpuid = c.cpuid[i];
    }
    ScopedPlatform use(fake);
    EXPECT_EQ(CountPhysicalProcessors(), c.expected);
  }
}

TEST(CpuidAccess, DivisionTestOnThisFloatingPointUnit) { EXPECT_FALSE(HasFDIVBug()); }

}  // namespace
