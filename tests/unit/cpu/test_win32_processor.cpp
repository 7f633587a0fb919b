// The Windows layer's processor services, on the system the test runs on (Wine here).
#ifdef _WIN32
#include <windows.h>

#include <gtest/gtest.h>

#include "cpu/KSI_CPU.h"
#include "platform/ProcessorApi.h"

using namespace kyvex;
using namespace kyvex::platform;

namespace {

TEST(Win32Processor, BindsEachProcessorAndRestoresTheMask) {
  auto& api = Native().Processor();
  SystemInfo info;
  api.GetSystemInfo(info);
  ASSERT_GT(info.dwNumberOfProcessors, 0u);
  ASSERT_TRUE(api.BindProcessAffinitySetter());
  const Handle process = api.GetCurrentProcess();
  std::uint32_t before = 0, system = 0;
  ASSERT_TRUE(api.GetProcessAffinityMask(process, before, system));
  const std::uint32_t n = info.dwNumberOfProcessors < 32 ? info.dwNumberOfProcessors : 32;
  for (std::uint32_t i = 0; i < n; ++i) {
    if (!(before & (1u << i))) continue;
    ASSERT_TRUE(api.SetProcessAffinityMask(process, 1u << i)) << i;
    std::uint32_t bound = 0;
    ASSERT_TRUE(api.GetProcessAffinityMask(process, bound, system));
    EXPECT_EQ(bound, 1u << i);
    ASSERT_TRUE(api.SetProcessAffinityMask(process, before));
  }
  std::uint32_t after = 0;
  ASSERT_TRUE(api.GetProcessAffinityMask(process, after, system));
  EXPECT_EQ(after, before);
}

// The thread's own affinity, read by setting it to what it is.
DWORD_PTR ThreadMask() {
  const DWORD_PTR process = [] {
    DWORD_PTR p = 0, s = 0;
    ::GetProcessAffinityMask(::GetCurrentProcess(), &p, &s);
    return p;
  }();
  const DWORD_PTR old = ::SetThreadAffinityMask(::GetCurrentThread(), process);
  ::SetThreadAffinityMask(::GetCurrentThread(), old);
  return old;
}

TEST(Win32Processor, BindsTheThreadToAnyProcessorAndGivesItsAffinityBack) {
  auto& api = Native().Processor();
  const std::uint32_t n = api.LogicalProcessorCount();
  ASSERT_GT(n, 0u);
  const DWORD_PTR before = ThreadMask();
  for (std::uint32_t i = 0; i < n && i < sizeof(DWORD_PTR) * 8; ++i) {
    ASSERT_TRUE(api.BindThreadToProcessor(i)) << i;
    EXPECT_EQ(ThreadMask(), DWORD_PTR{1} << i);
  }
  EXPECT_FALSE(api.BindThreadToProcessor(n)) << "no such processor";
  api.ReleaseThreadBinding();
  EXPECT_EQ(ThreadMask(), before);
}

TEST(Win32Processor, PriorityCountersAndInstructions) {
  auto& api = Native().Processor();
  const Handle thread = api.GetCurrentThread();
  const int saved = api.GetThreadPriority(thread);
  ASSERT_NE(saved, kThreadPriorityErrorReturn);
  EXPECT_TRUE(api.SetThreadPriority(thread, kThreadPriorityTimeCritical));
  EXPECT_EQ(api.GetThreadPriority(thread), kThreadPriorityTimeCritical);
  EXPECT_TRUE(api.SetThreadPriority(thread, saved));
  EXPECT_EQ(api.GetThreadPriority(thread), saved);

  std::int64_t f = 0, c0 = 0, c1 = 0;
  ASSERT_TRUE(api.QueryPerformanceFrequency(f));
  EXPECT_GT(f, 0);
  ASSERT_TRUE(api.QueryPerformanceCounter(c0));
  api.Sleep(20);
  ASSERT_TRUE(api.QueryPerformanceCounter(c1));
  EXPECT_GE(c1 - c0, f / 50 - f / 500) << "a sleep of 20 ms never ends much early";

  EXPECT_TRUE(api.CanToggleIdFlag());
  const std::uint64_t tsc0 = api.ReadTimeStampCounter();
  EXPECT_GT(api.ReadTimeStampCounter(), tsc0);
}

TEST(Win32Processor, CpuidAgreesWithTheRegistryDescription) {
  auto& api = Native().Processor();
  const X86Registers leaf0 = api.Cpuid(0, 0);
  EXPECT_GE(leaf0.eax, 1u);
  const std::string vendor = RegisterToText(leaf0.ebx) + RegisterToText(leaf0.edx) + RegisterToText(leaf0.ecx);
  const auto fromRegistry = Native().RegQueryValue(RegRoot::LocalMachine,
                                                   "HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0",
                                                   "VendorIdentifier");
  ASSERT_TRUE(fromRegistry);
  EXPECT_EQ(fromRegistry->text, vendor);
  EXPECT_NE(api.Cpuid(1, 0).eax, 0u) << "the signature";
}

}  // namespace
#endif
