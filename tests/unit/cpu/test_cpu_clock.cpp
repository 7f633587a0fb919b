// The clock measurement over the fake platform's virtual counter and time-stamp counter.
#include <gtest/gtest.h>

#include "cpu/KSI_CPUClock.h"
#include "platform/fake/FakePlatform.h"

using namespace kyvex;
using platform::FakePlatform;
using platform::ScopedPlatform;

namespace {

TEST(NormalizeFrequency, SnapsToTheNearestStep) {
  const std::pair<int, int> cases[] = {
      {1995, 2000}, {1010, 1020}, {2394, 2390}, {2009, 2000}, {2096, 2100}, {1433, 1433}, {1466, 1466},
      {1450, 1450}, {1441, 1433}, {1442, 1450}, {0, 0},       {99, 100},    {2596, 2600}, {-5, -5},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(NormalizeFrequency(in), out) << in;
}

TEST(CounterMethod, SettlesWhenThreePassesAgree) {
  FakePlatform fake;
  fake.processor.tscMHzByPass = {2993, 2994, 2993};
  ScopedPlatform use(fake);
  const TFrequencyInfo info = MeasureFrequencyByCounter(10000);
  EXPECT_EQ(fake.processor.timeCriticalRaises, 3);
  EXPECT_EQ(fake.processor.priorityCalls, (std::vector<int>{15, 0, 15, 0, 15, 0})) << "raised for each pass only";
  EXPECT_EQ(info.RawFrequency, 2993u);
  EXPECT_EQ(info.NormalizedFrequency, 2990u);
  EXPECT_EQ(info.IntervalParameter, 10000u);
  EXPECT_EQ(info.Microseconds, 3000u) << "two windows of 10000 ticks at 10 MHz: 1 ms per pass";
  EXPECT_NEAR(info.Cycles, 8980000.0, 2.0);
}

TEST(CounterMethod, WithoutAgreementTwentyPassesAndTheClosestThreeCount) {
  FakePlatform fake;
  for (int i = 0; i < 25; ++i) fake.processor.tscMHzByPass.push_back(i % 2 ? 3000 : 2000);
  // Passes 10 to 12 come closest (each within 9 of their mean), yet do not agree.
  fake.processor.tscMHzByPass[9] = 2990;
  fake.processor.tscMHzByPass[10] = 2996;
  fake.processor.tscMHzByPass[11] = 2993;
  ScopedPlatform use(fake);
  const TFrequencyInfo info = MeasureFrequencyByCounter(10000);
  EXPECT_EQ(fake.processor.timeCriticalRaises, 20);
  EXPECT_EQ(info.RawFrequency, 2993u);
  EXPECT_EQ(info.Microseconds, 3000u);
}

TEST(CounterMethod, APreemptedWindowIsTimedInFull) {
  // Every second read of the counter jumps by 5 ms: the windows last 5 ms instead of 1 ms,
  // longer than 32 bits of ticks times 100000 can hold.
  FakePlatform fake;
  fake.processor.tscMHz = 2400;
  fake.processor.counterStep = 50000;
  ScopedPlatform use(fake);
  const TFrequencyInfo info = MeasureFrequencyByCounter(10000);
  EXPECT_EQ(info.RawFrequency, 2400u);
  EXPECT_EQ(info.Microseconds, 3 * 5000u);
}

TEST(CounterMethod, APassThatDisagreedDoesNotCount) {
  // The first pass counted cycles of a time it did not measure (preempted before reading
  // the time-stamp counter); the next three agree.
  FakePlatform fake;
  fake.processor.tscMHzByPass = {9000, 2993, 2993, 2993};
  ScopedPlatform use(fake);
  const TFrequencyInfo info = MeasureFrequencyByCounter(10000);
  EXPECT_EQ(fake.processor.timeCriticalRaises, 4);
  EXPECT_EQ(info.RawFrequency, 2993u);
  EXPECT_EQ(info.NormalizedFrequency, 2990u);
}

TEST(CounterMethod, RoundingCarriesOnlyUpward) {
  // 2994.46 cycles per microsecond: the tenths round to 29945 and the hundredths to 299446,
  // below ten times the tenths. That is no carry; taken as a huge unsigned difference it
  // would carry twice and report 2995, which snaps to 3000.
  FakePlatform fake;
  fake.processor.tscMHz = 2994.46;
  ScopedPlatform use(fake);
  const TFrequencyInfo info = MeasureFrequencyByCounter(10000);
  EXPECT_EQ(info.RawFrequency, 2994u);
  EXPECT_EQ(info.NormalizedFrequency, 2990u);
}

TEST(CounterMethod, ACounterAtTheProcessorsRateIsTimedOverAWholeMillisecond) {
  // Multiprocessor XP and 2003 report the time-stamp rate as the performance counter's
  // frequency. 10000 ticks of such a counter last 3-4 µs; timed in whole microseconds they
  // made 3.0-3.2 GHz parts read 3333 MHz.
  struct Case {
    std::int64_t counterHz;
    double mhz;
    std::uint32_t raw, normalized;
  };
  const Case cases[] = {{3'000'000'000, 3000, 3000, 3000}, {2'839'800'000, 2839.8, 2840, 2833}, {3'200'000'000, 3200, 3200, 3200}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.counterHz);
    FakePlatform fake;
    fake.processor.counterFrequency = c.counterHz;
    fake.processor.tscMHz = c.mhz;
    fake.processor.counterStep = 97;  // a counter read costs about 30 ns at these rates
    ScopedPlatform use(fake);
    const TFrequencyInfo info = MeasureFrequencyByCounter(10000);
    EXPECT_EQ(info.RawFrequency, c.raw);
    EXPECT_EQ(info.NormalizedFrequency, c.normalized);
    EXPECT_EQ(info.IntervalParameter, 10000u);
    EXPECT_NEAR(info.Microseconds, 3000.0, 3.0) << "three passes of at least 1 ms each";
  }
}

TEST(CounterMethod, PriorityIsLeftAloneWhenItCannotBeRead) {
  FakePlatform fake;
  fake.processor.tscMHz = 1000;
  fake.processor.priorityQueryFails = true;
  ScopedPlatform use(fake);
  EXPECT_EQ(MeasureFrequencyByCounter(10000).NormalizedFrequency, 1000u);
  EXPECT_TRUE(fake.processor.priorityCalls.empty());
}

TEST(SleepMethod, CyclesAcrossTheSleep) {
  FakePlatform fake;
  fake.processor.tscMHz = 2400;
  fake.processor.counterFrequency = 3579545;  // the ACPI timer's rate
  ScopedPlatform use(fake);
  const TFrequencyInfo info = MeasureFrequencyBySleep(200);
  EXPECT_EQ(fake.processor.sleeps, (std::vector<std::uint32_t>{200}));
  EXPECT_EQ(info, (TFrequencyInfo{2400, 2400, 200, 0, 0}));
}

TEST(SleepMethod, WaitsAtLeastFiveMilliseconds) {
  FakePlatform fake;
  fake.processor.tscMHz = 1000;
  ScopedPlatform use(fake);
  MeasureFrequencyBySleep(0);
  EXPECT_GE(fake.processor.counterTicks, 50000u) << "5 ms at 10 MHz";
}

TEST(MeasureFrequency, TheHigherNormalizedResultWinsTheCounterMethodOnATie) {
  struct Case {
    double sleepingMHz;
    std::uint32_t frequency, interval;
  };
  const Case cases[] = {{2400, 2990, 10000}, {3400, 3400, 200}, {2994, 2990, 10000}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sleepingMHz);
    FakePlatform fake;
    fake.processor.tscMHz = 2993;
    fake.processor.onSleep = [&fake, &c](std::uint32_t ms) {
      if (ms == 200) fake.processor.tscMHz = c.sleepingMHz;
    };
    ScopedPlatform use(fake);
    const TFrequencyInfo info = MeasureFrequency();
    EXPECT_EQ(info.NormalizedFrequency, c.frequency);
    EXPECT_EQ(info.IntervalParameter, c.interval);
  }
}

TEST(MeasureFrequency, NoPerformanceCounterGivesZero) {
  FakePlatform fake;
  fake.processor.tscMHz = 2000;
  fake.processor.counterFails = true;
  ScopedPlatform use(fake);
  EXPECT_EQ(MeasureFrequencyByCounter(10000), TFrequencyInfo{});
  EXPECT_EQ(MeasureFrequency().NormalizedFrequency, 0u);
}

}  // namespace
