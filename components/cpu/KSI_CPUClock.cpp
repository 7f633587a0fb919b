#include "cpu/KSI_CPUClock.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "platform/ProcessorApi.h"

namespace kyvex {

const std::array<int, 10> FrequencySteps = {0, 20, 33, 50, 60, 66, 80, 90, 100, 133};

namespace {

// The nearest integer, halves to the even neighbour, kept modulo 2^32 like the counts it is
// mixed with. Values that are not finite or negative give 0.
std::uint32_t RoundToU32(long double v) {
  if (!std::isfinite(v) || v <= 0) return 0;
  const long double r = std::nearbyint(v);  // the default rounding mode: to nearest, ties to even
  if (r >= 18446744073709551615.0L) return 0xFFFFFFFFu;
  return static_cast<std::uint32_t>(static_cast<std::uint64_t>(r));
}

platform::ProcessorApi& Api() { return platform::Current().Processor(); }

}  // namespace

int NormalizeFrequency(int mhz) {
  // Nothing measures a negative frequency; there is no step below 0 to snap it to.
  if (mhz < 0) return mhz;
  const int r = mhz % 100;
  for (std::size_t i = 1; i < FrequencySteps.size(); ++i) {
    if (r >= FrequencySteps[i]) continue;
    const int lo = FrequencySteps[i - 1], hi = FrequencySteps[i];
    return r - lo < hi - r ? mhz + (lo - r) : mhz + (hi - r);
  }
  return mhz;
}

TFrequencyInfo MeasureFrequencyByCounter(std::uint32_t threshold) {
  auto& api = Api();
  std::int64_t frequency64 = 0;
  if (!api.QueryPerformanceFrequency(frequency64)) return {};
  const std::uint64_t F = frequency64 > 0 ? static_cast<std::uint64_t>(frequency64) : 0;
  // A window of `threshold` ticks lasts 1 ms at 10 MHz and 2.8 ms at 3.58 MHz, but only 3-4 µs
  // where the counter runs at the processor's rate (2.8 GHz and more on multiprocessor XP):
  // the whole microseconds of so short a window are off by up to 15%. Such counters get a
  // window of at least 1 ms; slower ones keep `threshold`.
  const std::uint64_t windowTicks = std::max<std::uint64_t>(threshold, F / 1000);
  const std::uint32_t window = static_cast<std::uint32_t>(std::min<std::uint64_t>(windowTicks, 0xFFFFFFFFu));

  struct Pass {
    std::uint32_t cycles, us, f;
  };
  std::vector<Pass> passes;
  // The loop stops once the three latest passes agree: each within 3 of their mean (the
  // differences of 3·f and the sum S, so no division).
  auto offMean = [](const Pass* trio) {
    const std::int64_t S = std::int64_t{trio[0].f} + trio[1].f + trio[2].f;
    std::int64_t worst = 0;
    for (int i = 0; i < 3; ++i) {
      const std::int64_t d = 3 * std::int64_t{trio[i].f} - S;
      worst = std::max(worst, d < 0 ? -d : d);
    }
    return worst;
  };
  const platform::Handle thread = api.GetCurrentThread();
  while (passes.size() < 20 && (passes.size() < 3 || offMean(&passes[passes.size() - 3]) > 3)) {
    std::int64_t t0 = 0, t1 = 0;
    if (!api.QueryPerformanceCounter(t0)) return {};
    t1 = t0;
    const int saved = api.GetThreadPriority(thread);
    const bool raised = saved != platform::kThreadPriorityErrorReturn;
    if (raised) api.SetThreadPriority(thread, platform::kThreadPriorityTimeCritical);
    std::uint32_t s0 = 0, s1 = 0;
    bool counted = true;
    // The time-stamp counter is read right after the performance counter, so both windows
    // end on a counter edge.
    while (counted && static_cast<std::uint32_t>(t1 - t0) < window) {
      counted = api.QueryPerformanceCounter(t1);
      s0 = static_cast<std::uint32_t>(api.ReadTimeStampCounter());
    }
    t0 = t1;
    while (counted && static_cast<std::uint32_t>(t1 - t0) < window) {
      counted = api.QueryPerformanceCounter(t1);
      s1 = static_cast<std::uint32_t>(api.ReadTimeStampCounter());
    }
    if (raised) api.SetThreadPriority(thread, saved);
    if (!counted) return {};

    Pass p;
    p.cycles = s1 - s0;
    // In 64 bits: a window the thread was preempted in lasts longer than planned, and 32
    // bits of ticks times 100000 would wrap after 4.3 ms at 10 MHz.
    const std::uint64_t ticks = static_cast<std::uint64_t>(static_cast<std::uint32_t>(t1 - t0)) * 100000u;
    p.us = F > 0 ? RoundToU32(static_cast<long double>(ticks) / (static_cast<long double>(F) / 10.0L)) : 0;
    p.f = p.us != 0 ? RoundToU32(static_cast<long double>(p.cycles) / p.us) : p.cycles;
    passes.push_back(p);
  }

  // The result comes from three consecutive passes: the three that agreed, or, when no three
  // did within 20 passes, the three that came closest (the latest of equals). Not from every
  // pass: a thread preempted between its last counter read and the time-stamp read (a
  // virtual machine's host does that even to a time-critical thread) counts cycles for time
  // it did not measure, and one such pass moves an average over all passes by hundreds of MHz.
  std::size_t best = passes.size() - 3;
  for (std::size_t i = passes.size() - 3; i-- > 0;)
    if (offMean(&passes[i]) < offMean(&passes[best])) best = i;
  const std::uint32_t C = passes[best].cycles + passes[best + 1].cycles + passes[best + 2].cycles;
  const std::uint32_t U = passes[best].us + passes[best + 1].us + passes[best + 2].us;
  std::uint32_t x1 = 0, x10 = 0, x100 = 0;
  if (U > 0) {
    // The tenths and hundredths from 64-bit products: C·100 passes 2^32 with a slow counter
    // (3.58 MHz windows of 2.8 ms) at 5 GHz.
    x1 = RoundToU32(static_cast<long double>(C) / U);
    x10 = RoundToU32(static_cast<long double>(static_cast<std::uint64_t>(C) * 10u) / U);
    x100 = RoundToU32(static_cast<long double>(static_cast<std::uint64_t>(C) * 100u) / U);
  }
  // Each finer digit may carry into the coarser one. The differences are signed: a rounded
  // hundredth below ten times the rounded tenth means "no carry", not a huge carry.
  if (static_cast<std::int64_t>(x100) - 10 * static_cast<std::int64_t>(x10) >= 6) ++x10;
  std::uint32_t normalized = x1;
  if (static_cast<std::int64_t>(x10) - 10 * static_cast<std::int64_t>(x1) >= 6) normalized = x1 + 1;

  TFrequencyInfo info;
  info.RawFrequency = x1;
  info.NormalizedFrequency = static_cast<std::uint32_t>(NormalizeFrequency(static_cast<int>(normalized)));
  info.IntervalParameter = threshold;
  info.Cycles = C;
  info.Microseconds = U;
  return info;
}

TFrequencyInfo MeasureFrequencyBySleep(int milliseconds) {
  auto& api = Api();
  if (milliseconds < 0) milliseconds = 0;
  const std::uint64_t tsc0 = api.ReadTimeStampCounter();
  std::int64_t c0 = 0, c1 = 0, F = 0;
  bool ok = api.QueryPerformanceCounter(c0);
  const std::uint32_t t = api.GetTickCount();
  api.Sleep(static_cast<std::uint32_t>(milliseconds));
  while (api.GetTickCount() - t < 5) {
  }
  const std::uint64_t tsc1 = api.ReadTimeStampCounter();
  ok = api.QueryPerformanceCounter(c1) && ok;
  ok = api.QueryPerformanceFrequency(F) && ok;

  TFrequencyInfo info;
  info.IntervalParameter = static_cast<std::uint32_t>(milliseconds);
  // Without a counter, or with one that did not move, there is no interval to divide by.
  if (ok && F > 0 && c1 > c0) {
    const long double seconds = static_cast<long double>(c1 - c0) / static_cast<long double>(F);
    info.RawFrequency = RoundToU32(static_cast<long double>(tsc1 - tsc0) / seconds / 1000000.0L);
  }
  info.NormalizedFrequency = static_cast<std::uint32_t>(NormalizeFrequency(static_cast<int>(info.RawFrequency)));
  return info;
}

TFrequencyInfo MeasureFrequency() {
  const TFrequencyInfo a = MeasureFrequencyByCounter(10000);
  const TFrequencyInfo b = MeasureFrequencyBySleep(200);
  return a.NormalizedFrequency < b.NormalizedFrequency ? b : a;
}

}  // namespace kyvex
