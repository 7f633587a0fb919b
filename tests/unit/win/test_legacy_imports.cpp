// The stand-in for GetTickCount64 that every Windows program carries so that it loads on
// systems without it.
#if defined(_WIN32)
#include <gtest/gtest.h>
#include <windows.h>

#include "platform/win32/LegacyImports.h"

using kyvex::platform::WidenTickCount;

TEST(LegacyImports, TheSlotTheRuntimeCallsAnswersLikeTheSystem) {
  using Fn = ULONGLONG(WINAPI*)();
  const auto system = reinterpret_cast<Fn>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "GetTickCount64")));
  ASSERT_NE(system, nullptr) << "this system has GetTickCount64: the slot must lead to it";
  const ULONGLONG before = system();
  const ULONGLONG ours = kyvex_GetTickCount64_slot();
  const ULONGLONG after = system();
  EXPECT_LE(before, ours);
  EXPECT_LE(ours, after);
}

TEST(LegacyImports, WideningCountsEveryWrapOfTheTickCount) {
  std::atomic<std::uint64_t> last{0};
  EXPECT_EQ(WidenTickCount(last, 5), 5u);
  EXPECT_EQ(WidenTickCount(last, 0xFFFFFFF0u), 0xFFFFFFF0u);
  EXPECT_EQ(WidenTickCount(last, 10), 0x1'0000000Aull);   // wrapped
  EXPECT_EQ(WidenTickCount(last, 10), 0x1'0000000Aull);   // the same moment again
  EXPECT_EQ(WidenTickCount(last, 0x80000000u), 0x1'80000000ull);
  EXPECT_EQ(WidenTickCount(last, 3), 0x2'00000003ull);    // the second wrap
}
#endif
