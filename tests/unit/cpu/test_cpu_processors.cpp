// Many processors, processors the process may not run on, the topology counted over all of
// them, and their clocks: the reading of every processor that a refresh decodes from.
#include <algorithm>
#include <filesystem>
#include <random>
#include <set>

#include <gtest/gtest.h>

#include "CpuTestSupport.h"
#include "cpu/KSI_CPU_Fields.h"
#include "report/CpuReport.h"

using namespace kyvex;
using namespace kyvex::cputest;
using platform::FakePlatform;
using platform::ScopedPlatform;

namespace {

constexpr std::uint32_t kTSC = 1u << 4, kHTT = 1u << 28;

// An Intel processor with leaf 0Bh: two threads a core (shift 1), 32 logical processors a
// package (shift 5), its x2APIC ID `id`.
FakeCpu X2ApicProcessor(std::uint32_t id, std::uint32_t edx = kHTT) {
  FakeCpu p;
  p.Set(0, VendorLeaf("GenuineIntel", 0xB));
  p.Set(1, {SignatureOf(6, 85, 4), (id & 0xFF) << 24 | 32u << 16, 0, edx});
  p.Set(0xB, {1, 2, 0x100, id}, 0);
  p.Set(0xB, {5, 32, 0x201, id}, 1);
  p.Set(0xB, {0, 0, 2, id}, 2);
  return p;
}

std::vector<FakeCpu> X2ApicMachine(std::uint32_t count) {
  std::vector<FakeCpu> cpus;
  for (std::uint32_t i = 0; i < count; ++i) cpus.push_back(X2ApicProcessor(i));
  return cpus;
}

TEST(ProcessorCensus, EveryProcessorIsReadOnItselfOnceAndDescribedByItsOwnLeaves) {
  for (std::uint32_t count : {40u, 256u}) {
    SCOPED_TRACE(count);
    FakePlatform fake;
    fake.processor.cpus = X2ApicMachine(count);
    ScopedPlatform use(fake);
    auto census = std::make_shared<TProcessorCensus>(ReadProcessorCensus());
    std::vector<std::uint32_t> once(count);
    for (std::uint32_t i = 0; i < count; ++i) once[i] = i;
    EXPECT_EQ(fake.processor.threadBindings, once) << "one binding per processor";
    EXPECT_EQ(fake.processor.CurrentCpu(), 0u) << "the thread is given its affinity back";

    TKyvex_CPU cpu;
    cpu.UseProcessorCensus(census);
    for (std::uint32_t i : {0u, 31u, 32u, 35u, 39u, count - 1}) {
      cpu.SetCPUIndex(i);
      cpu.CollectData();
      EXPECT_TRUE(cpu.ProcessorAvailable());
      EXPECT_EQ(cpu.APICID(), i & 0xFF) << "processor " << i;
      EXPECT_EQ(cpu.Place().ApicId, i);
      EXPECT_EQ(cpu.Place().Package, i / 32);
      EXPECT_EQ(cpu.Place().Core, i % 32 / 2);
    }
    EXPECT_EQ(fake.processor.threadBindings.size(), count) << "refreshes from a shared reading bind nothing";
    EXPECT_EQ(cpu.LogicalProcessorCount(), count);
    EXPECT_EQ(cpu.CPUCount(), std::min(count, 255u)) << "the byte-wide count stops at 255, never wraps to 0";
    EXPECT_EQ(cpu.PackageCount(), (count + 31) / 32);
    EXPECT_EQ(cpu.CoresPerPackage(), 16u);
    EXPECT_EQ(cpu.ThreadsPerCore(), 2u);
    EXPECT_EQ(cpu.TopologySource(), "leaf 0Bh");
  }
}

TEST(ProcessorCensus, AProcessorOutsideTheCpuSetIsMarkedAndNeverShownWithAnothersData) {
  FakePlatform fake;
  fake.processor.cpus = X2ApicMachine(4);
  SetBrandString(fake.processor.cpus[2], "must not be read");
  fake.processor.unbindable = {2};
  ScopedPlatform use(fake);
  TKyvex_CPU cpu;
  cpu.SetCPUIndex(1);
  cpu.CollectData();
  EXPECT_TRUE(cpu.ProcessorAvailable());
  EXPECT_EQ(cpu.APICID(), 1);
  cpu.SetCPUIndex(2);
  cpu.CollectData();
  EXPECT_FALSE(cpu.ProcessorAvailable());
  EXPECT_FALSE(cpu.CPUIDSupported());
  EXPECT_EQ(cpu.Vendor(), cvNone);
  EXPECT_EQ(cpu.APICID(), 0);
  EXPECT_EQ(cpu.MarketingName(), "");
  EXPECT_EQ(cpu.LogicalProcessorCount(), 4u) << "the system's counts stay";
  EXPECT_EQ(cpu.CoresPerPackage(), 2u) << "counted over the three processors read";
  for (const auto& cpuid : fake.processor.cpuidCalls) EXPECT_NE(cpuid.cpu, 2u) << "leaf " << cpuid.leaf;

  const auto sections = report::CpuSections(cpu);
  ASSERT_EQ(sections.size(), 1u);
  EXPECT_EQ(sections[0].Items.back().first, "Availability");
  EXPECT_EQ(report::CpuJson(cpu)["ProcessorAvailable"], false);
}

TEST(ProcessorCensus, SaveKeepsEveryProcessorPastTheByteWideCount) {
  FakePlatform fake;
  fake.processor.cpus = X2ApicMachine(300);
  ScopedPlatform use(fake);
  // Named per run: other build trees' test runs share the temporary folder.
  const auto file = std::filesystem::path(::testing::TempDir()) /
                    ("kyvex-300-processors-" + std::to_string(std::random_device{}()) + ".kyx");
  TKyvex_CPU saved;
  saved.SaveToStorageFile(file.string());
  EXPECT_EQ(fake.processor.threadBindings.size(), 300u) << "the save reads the processors once";
  for (std::uint32_t i : {0u, 255u, 256u, 299u}) {
    TKyvex_CPU loaded;
    loaded.SetCPUIndex(i);
    ASSERT_TRUE(loaded.LoadFromStorageFile(file.string())) << i;
    EXPECT_EQ(loaded.APICID(), i & 0xFF);
    EXPECT_EQ(loaded.CPUCount(), 255) << "stored in its byte";
  }
  TKyvex_CPU beyond;
  beyond.SetCPUIndex(300);
  EXPECT_FALSE(beyond.LoadFromStorageFile(file.string()));
  std::filesystem::remove(file);
}

// Machines whose topology the leaves give in different ways.
TEST(ProcessorTopology, CountsPackagesCoresAndThreadsAndNamesHybridCores) {
  // A hybrid part: two performance cores with two threads, two efficiency cores with one.
  auto hybrid = [](std::uint32_t id, bool performance) {
    FakeCpu p = X2ApicProcessor(id);
    p.Set(0, VendorLeaf("GenuineIntel", 0x1A));
    p.Set(7, {0, 0, 0, 1u << 15});
    p.Set(0x1A, {performance ? 0x40000000u : 0x20000000u, 0, 0, 0});
    return p;
  };
  // A Pentium 4 Xeon pair with hyper-threading: leaf 1 alone.
  auto xeon = [](std::uint32_t apic) {
    FakeCpu p;
    p.Set(0, VendorLeaf("GenuineIntel", 2));
    p.Set(1, {0x00000F29, apic << 24 | 2u << 16, 0, kHTT | kTSC});
    return p;
  };
  // A hypervisor that hands out host APIC IDs under a count of 16 a package: no processor
  // has the first logical number of its package.
  auto guest = [](std::uint32_t apic) {
    FakeCpu p;
    p.Set(0, VendorLeaf("GenuineIntel", 4));
    p.Set(1, {0x000306A9, apic << 24 | 16u << 16, 0, kHTT});
    p.Set(4, {15u << 26 | 0x121, 0, 0, 0});  // 16 cores a package
    return p;
  };
  struct Case {
    const char* what;
    std::vector<FakeCpu> cpus;
    std::uint32_t packages, cores, threads;
    int physical;  // CPUPhysicalCount
    const char* source;
  };
  const Case cases[] = {
      {"hybrid", {hybrid(0, true), hybrid(1, true), hybrid(2, true), hybrid(3, true), hybrid(8, false),
                  hybrid(10, false)}, 1, 4, 2, 1, "leaf 0Bh"},
      {"two hyper-threaded packages", {xeon(0), xeon(1), xeon(6), xeon(7)}, 2, 1, 2, 2, "leaf 1"},
      {"host APIC IDs in a guest", {guest(2), guest(5)}, 1, 2, 1, 1, "leaves 1 and 4"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    FakePlatform fake;
    fake.processor.cpus = c.cpus;
    ScopedPlatform use(fake);
    TKyvex_CPU cpu;
    cpu.CollectData();
    EXPECT_EQ(cpu.PackageCount(), c.packages);
    EXPECT_EQ(cpu.CoresPerPackage(), c.cores);
    EXPECT_EQ(cpu.ThreadsPerCore(), c.threads);
    EXPECT_EQ(cpu.CPUPhysicalCount(), c.physical);
    EXPECT_EQ(cpu.TopologySource(), c.source);
  }

  FakePlatform fake;
  fake.processor.cpus = cases[0].cpus;
  ScopedPlatform use(fake);
  TKyvex_CPU cpu;
  for (std::uint32_t i : {1u, 4u}) {
    cpu.SetCPUIndex(i);
    cpu.CollectData();
    EXPECT_EQ(cpu.Place().CoreType, i == 1 ? ctPerformance : ctEfficiency);
    EXPECT_EQ(report::CpuJson(cpu)["CoreType"]["Text"], i == 1 ? "performance" : "efficiency");
  }
}

TEST(ProcessorTopology, CacheSharersAreTheProcessorsThereNotTheIdsReserved) {
  FakePlatform fake;
  fake.processor.cpus = X2ApicMachine(4);
  for (auto& p : fake.processor.cpus) {
    // Level 1 data for the 2 IDs of a core, level 3 for 64 IDs, though 4 processors exist.
    p.Set(4, {1u << 14 | 1 << 5 | 1, 0x01C0003F, 63, 0}, 0);
    p.Set(4, {63u << 14 | 3 << 5 | 3, 0x03C0003F, 8191, 0}, 1);
    p.Set(4, {0, 0, 0, 0}, 2);
  }
  ScopedPlatform use(fake);
  TKyvex_CPU cpu;
  cpu.SetCPUIndex(2);
  cpu.CollectData();
  ASSERT_EQ(cpu.CacheList().size(), 2u);
  EXPECT_EQ(cpu.CacheList()[0].SharedBy, 2);
  EXPECT_EQ(cpu.CacheList()[1].SharedBy, 4);
}

// Recorded with `cpuid -r` on a virtual machine whose hypervisor gives APIC IDs 209 and 243, a
// count of 254 logical processors a package in leaf 1, and an empty leaf 8000001Eh.
TEST(ProcessorTopology, RecordedGuestCountsOnePackageOfTwoCores) {
  std::string error;
  auto snapshot = platform::ParseCpuidDump(ReadFile(DataPath("AuthenticAMD0B00F21_bhyve_2cpus_CPUID.txt")), error);
  ASSERT_TRUE(snapshot) << error;
  auto census = std::make_shared<TProcessorCensus>(CensusFromRecording(std::move(*snapshot), 0));
  TKyvex_CPU cpu;
  cpu.UseProcessorCensus(census);
  cpu.CollectData();
  EXPECT_EQ(cpu.LogicalProcessorCount(), 2u);
  EXPECT_EQ(cpu.CPUPhysicalCount(), 1) << "the leaf-1 split finds no first logical processor";
  EXPECT_EQ(cpu.PackageCount(), 1u);
  EXPECT_EQ(cpu.CoresPerPackage(), 2u);
  EXPECT_EQ(cpu.ThreadsPerCore(), 1u);
}

TEST(ProcessorClock, InvariantCountersAreMeasuredOnceOthersEachOnItsOwnProcessor) {
  for (bool invariant : {true, false}) {
    SCOPED_TRACE(invariant);
    FakePlatform fake;
    fake.processor.cpus = X2ApicMachine(4);
    for (auto& p : fake.processor.cpus) {
      p.Set(1, {SignatureOf(6, 85, 4), 0, 0, kTSC | kHTT});
      p.Set(0x80000000, {0x80000007, 0, 0, 0});
      p.Set(0x80000007, {0, 0, 0, invariant ? 1u << 8 : 0u});
    }
    fake.processor.cpus[3].hasCpuid = false;  // no counter it could say it has
    fake.processor.tscMHz = 3000;
    ScopedPlatform use(fake);
    TProcessorCensus census = ReadProcessorCensus();
    fake.processor.threadBindings.clear();
    MeasureClocks(census);
    std::multiset<std::uint32_t> measured(fake.processor.threadBindings.begin(), fake.processor.threadBindings.end());
    const std::multiset<std::uint32_t> expected =
        invariant ? std::multiset<std::uint32_t>{0} : std::multiset<std::uint32_t>{0, 1, 2};
    EXPECT_EQ(measured, expected);
    for (std::uint32_t i = 0; i < 3; ++i) {
      EXPECT_TRUE(census.Processors[i].ClockKnown) << i;
      EXPECT_EQ(census.Processors[i].Clock.NormalizedFrequency, 3000u) << i;
    }
    EXPECT_FALSE(census.Processors[3].ClockKnown);
  }
}

TEST(ProcessorLeaves, EnumeratedSubLeavesAndTheHypervisorRangeOnlyWhereItsBitSaysSo) {
  for (bool hypervisor : {false, true}) {
    SCOPED_TRACE(hypervisor);
    FakePlatform fake;
    auto& p = fake.processor.cpus[0];
    p.Set(0, VendorLeaf("GenuineIntel", 4));
    p.Set(1, {0x000906EA, 0, hypervisor ? 1u << 31 : 0u, 0});
    p.Set(4, {0x121, 0, 0, 0}, 0);
    p.Set(4, {0x122, 0, 0, 0}, 1);
    p.Set(4, {0x143, 0, 0, 0}, 2);  // sub-leaf 3 is type 0: the end
    p.Set(4, {0x163, 0, 0, 0}, 4);  // past the end: never asked
    p.Set(0x40000000, {0x40000001, 0x4B4D564B, 0x564B4D56, 0x4D});
    p.Set(0x80000000, {0x80000001, 0, 0, 0});
    ScopedPlatform use(fake);
    const platform::CpuidLeaves leaves = ReadProcessorLeaves();
    auto asked = [&](std::uint32_t leaf, std::uint32_t sub) { return leaves.leaves.count({leaf, sub}) == 1; };
    EXPECT_TRUE(asked(4, 3));
    EXPECT_FALSE(asked(4, 4));
    EXPECT_EQ(asked(0x40000000, 0), hypervisor);
    EXPECT_EQ(asked(0x40000001, 0), hypervisor);
    EXPECT_TRUE(asked(0x80000001, 0));
    EXPECT_FALSE(asked(0x80000002, 0)) << "past the announced maximum";
  }
}

}  // namespace
