// The Linux layer's processor services, on this machine.
#ifdef __linux__
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "platform/ProcessorApi.h"
#include "platform/linux/LinuxPlatform.h"

using namespace kyvex::platform;

namespace {

cpu_set_t ThreadAffinity() {
  cpu_set_t set;
  CPU_ZERO(&set);
  sched_getaffinity(0, sizeof set, &set);
  return set;
}

TEST(LinuxProcessor, BindsEachProcessorAndRestoresTheWholeSet) {
  LinuxPlatform native;
  auto& api = native.Processor();
  SystemInfo info;
  api.GetSystemInfo(info);
  ASSERT_GT(info.dwNumberOfProcessors, 0u);
  const cpu_set_t before = ThreadAffinity();

  std::uint32_t processMask = 0, systemMask = 0;
  ASSERT_TRUE(api.GetProcessAffinityMask(api.GetCurrentProcess(), processMask, systemMask));
  EXPECT_EQ(systemMask, info.dwActiveProcessorMask);
  ASSERT_TRUE(api.BindProcessAffinitySetter());
  const std::uint32_t n = std::min<std::uint32_t>(info.dwNumberOfProcessors, 32);
  for (std::uint32_t i = 0; i < n; ++i) {
    if (!(processMask & (1u << i))) continue;  // not ours to run on (a cpuset)
    ASSERT_TRUE(api.SetProcessAffinityMask(api.GetCurrentProcess(), 1u << i)) << i;
    api.Sleep(0);
    std::uint32_t bound = 0, system = 0;
    ASSERT_TRUE(api.GetProcessAffinityMask(api.GetCurrentProcess(), bound, system));
    EXPECT_EQ(bound, 1u << i);
    // Re-query the original mask, as the component does, then restore it.
    ASSERT_TRUE(api.SetProcessAffinityMask(api.GetCurrentProcess(), processMask));
    ASSERT_TRUE(api.GetProcessAffinityMask(api.GetCurrentProcess(), processMask, system));
  }
  const cpu_set_t after = ThreadAffinity();
  EXPECT_TRUE(CPU_EQUAL(&before, &after));
  EXPECT_FALSE(api.SetProcessAffinityMask(api.GetCurrentProcess(), 0)) << "an empty mask is refused";
  if (n < 32) {
    EXPECT_FALSE(api.SetProcessAffinityMask(api.GetCurrentProcess(), 1u << n)) << "no such processor";
  }
  EXPECT_TRUE(CPU_EQUAL(&before, &after));
}

TEST(LinuxProcessor, BindsTheThreadToAnyProcessorItMayUseAndGivesItsSetBack) {
  LinuxPlatform native;
  auto& api = native.Processor();
  const std::uint32_t n = api.LogicalProcessorCount();
  ASSERT_GT(n, 0u);
  const cpu_set_t before = ThreadAffinity();
  std::uint32_t bound = 0;
  for (std::uint32_t i = 0; i < n; ++i) {
    if (!api.BindThreadToProcessor(i)) continue;  // outside this process's CPU set
    ++bound;
    const cpu_set_t now = ThreadAffinity();
    EXPECT_EQ(CPU_COUNT(&now), 1) << i;
    EXPECT_TRUE(CPU_ISSET(sched_getcpu(), &now)) << "the thread runs there at once";
  }
  EXPECT_GE(bound, 1u);
  EXPECT_FALSE(api.BindThreadToProcessor(n)) << "no such processor";
  api.ReleaseThreadBinding();
  const cpu_set_t after = ThreadAffinity();
  EXPECT_TRUE(CPU_EQUAL(&before, &after));
}

TEST(LinuxProcessor, ProcessorsAreTheOnlineCpusWithoutHoles) {
  const auto root = std::filesystem::temp_directory_path() / ("kyvex-cpu-" + std::to_string(getpid()));
  std::filesystem::create_directories(root / "sys/devices/system/cpu");
  std::ofstream(root / "sys/devices/system/cpu/online") << "0,2-3,8\n";
  LinuxPlatform fixture(root.string());
  SystemInfo info;
  fixture.Processor().GetSystemInfo(info);
  EXPECT_EQ(info.dwNumberOfProcessors, 4u);
  EXPECT_EQ(info.dwActiveProcessorMask, 0xFu);
  EXPECT_EQ(fixture.Processor().LogicalProcessorCount(), 4u);
  std::filesystem::remove_all(root);
}

TEST(LinuxProcessor, PriorityIsRaisedAndGivenBack) {
  LinuxPlatform native;
  auto& api = native.Processor();
  const auto thread = api.GetCurrentThread();
  const int niceBefore = getpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)));
  const int saved = api.GetThreadPriority(thread);
  EXPECT_EQ(saved, kThreadPriorityNormal);
  EXPECT_TRUE(api.SetThreadPriority(thread, kThreadPriorityTimeCritical));
  EXPECT_EQ(api.GetThreadPriority(thread), kThreadPriorityTimeCritical);
  EXPECT_TRUE(api.SetThreadPriority(thread, saved));
  EXPECT_EQ(getpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid))), niceBefore);
  EXPECT_EQ(api.GetThreadPriority(api.GetCurrentProcess()), kThreadPriorityErrorReturn) << "not a thread handle";
}

TEST(LinuxProcessor, CountersAndInstructions) {
  LinuxPlatform native;
  auto& api = native.Processor();
  std::int64_t f = 0, c0 = 0, c1 = 0;
  ASSERT_TRUE(api.QueryPerformanceFrequency(f));
  EXPECT_EQ(f, 10'000'000);
  ASSERT_TRUE(api.QueryPerformanceCounter(c0));
  const std::uint32_t t0 = api.GetTickCount();
  api.Sleep(20);
  ASSERT_TRUE(api.QueryPerformanceCounter(c1));
  EXPECT_GE(c1 - c0, 200'000) << "a sleep never ends early";
  EXPECT_GE(api.GetTickCount() - t0, 19u);
#if defined(__x86_64__) || defined(__i386__)
  EXPECT_TRUE(api.CanToggleIdFlag());
  const X86Registers leaf0 = api.Cpuid(0, 0);
  EXPECT_GE(leaf0.eax, 1u);
  const std::uint64_t tsc0 = api.ReadTimeStampCounter();
  EXPECT_GT(api.ReadTimeStampCounter(), tsc0);
#endif
}

}  // namespace
#endif
