// The platform `kyvex cpu --cpuid-dump` runs the processor component on: the running machine
// with its processors replaced by a recording.
#include <gtest/gtest.h>

#include "cpu/KSI_CPU.h"
#include "platform/CpuidSnapshot.h"
#include "platform/fake/FakePlatform.h"

using namespace kyvex;
using namespace kyvex::platform;

namespace {

// Two processors of one vendor that tell apart by their APIC IDs and brand strings.
CpuidSnapshot TwoProcessors() {
  CpuidSnapshot s(2);
  for (std::uint32_t i = 0; i < 2; ++i) {
    s[i].Set(0, {1, 0x756e6547, 0x6c65746e, 0x49656e69});  // "GenuineIntel"
    s[i].Set(1, {0x000306A9, (i ? 2u : 0u) << 24 | 0x00100800, 0x7FBAE3FF, 0xBFEBFBFF});
    s[i].Set(0x80000000, {0x80000004, 0, 0, 0});
    const std::string brand = i ? "Second processor" : "First processor";
    std::uint32_t words[12] = {};
    for (std::size_t k = 0; k < brand.size(); ++k) words[k / 4] |= static_cast<std::uint32_t>(brand[k]) << (8 * (k % 4));
    for (std::uint32_t leaf = 0; leaf < 3; ++leaf)
      s[i].Set(0x80000002 + leaf, {words[leaf * 4], words[leaf * 4 + 1], words[leaf * 4 + 2], words[leaf * 4 + 3]});
  }
  return s;
}

TEST(CpuidSnapshot, EachBoundProcessorAnswersFromItsRecordingAtTheGivenClock) {
  FakePlatform machine;
  machine.SetRegistryString(RegRoot::LocalMachine, "HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0",
                            "ProcessorNameString", "This machine's own processor");
  machine.computerName = "thisbox";
  SnapshotPlatform recorded(machine, TwoProcessors(), 2600);
  ScopedPlatform use(recorded);

  TKyvex_CPU cpu;
  EXPECT_EQ(GetProcessorCount(), 2);
  for (std::uint8_t i = 0; i < 2; ++i) {
    cpu.SetCPUIndex(i);
    cpu.CollectData();
    EXPECT_EQ(cpu.APICID(), i ? 2 : 0) << "the bound processor's own leaf 1";
    EXPECT_EQ(cpu.MarketingName().substr(0, 6), i ? "Second" : "First ");
    EXPECT_EQ(cpu.Frequency(), 2600u) << "the clock runs at the rate given";
  }
  // The registry's description of the running machine's processors does not show through;
  // the rest of the machine does.
  EXPECT_FALSE(recorded.RegQueryValue(RegRoot::LocalMachine, "HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0",
                                      "ProcessorNameString"));
  EXPECT_EQ(recorded.GetComputerName().value_or(""), "thisbox");
}

TEST(CpuidSnapshot, WithoutAClockTheCounterStandsStill) {
  SnapshotProcessor p(TwoProcessors(), 0);
  const std::uint64_t before = p.ReadTimeStampCounter();
  p.Sleep(100);
  EXPECT_EQ(p.ReadTimeStampCounter(), before);
  EXPECT_FALSE(p.SetProcessAffinityMask(p.GetCurrentProcess(), 0b100)) << "no third processor";
  EXPECT_TRUE(p.SetProcessAffinityMask(p.GetCurrentProcess(), 0b10));
  EXPECT_EQ(p.Cpuid(1, 0).ebx >> 24, 2u);
}

}  // namespace
