// The processor's clock: time-stamp-counter cycles counted over an interval timed by the
// performance counter, measured two ways and snapped to the usual frequency steps.
#pragma once

#include <array>
#include <cstdint>

namespace kyvex {

struct TFrequencyInfo {
  std::uint32_t RawFrequency = 0;         // MHz, as measured
  std::uint32_t NormalizedFrequency = 0;  // MHz, rounded and snapped to a step
  std::uint32_t IntervalParameter = 0;    // counter-tick threshold, or milliseconds slept
  std::uint32_t Cycles = 0;               // counter method: accumulated time-stamp cycles
  std::uint32_t Microseconds = 0;         // counter method: accumulated time
  bool operator==(const TFrequencyInfo&) const = default;
};

extern const std::array<int, 10> FrequencySteps;

// Snaps the MHz value's last two digits to the nearest step (halfway rounds up).
int NormalizeFrequency(int mhz);
// Two windows of `threshold` counter ticks per pass, 3 to 20 passes until the last three
// agree. All zero when the performance counter is missing.
TFrequencyInfo MeasureFrequencyByCounter(std::uint32_t threshold);
// Cycles across a sleep of `milliseconds`. Raw and normalized 0 when the performance
// counter is missing.
TFrequencyInfo MeasureFrequencyBySleep(int milliseconds);
// Both methods (10000 ticks, 200 ms); the higher normalized result wins, the counter
// method on a tie.
TFrequencyInfo MeasureFrequency();

}  // namespace kyvex
