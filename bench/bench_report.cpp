// The full report of this machine without its clock measurement.
//
// A report is the operating system's facts, every processor's leaves, the SMBIOS tables and
// the storage devices, plus a clock measurement that sleeps for 200 ms. With the clocks given
// (as a capture gives them), what remains is the report's own work beyond starting the
// program; it is meant to stay under 10 ms:
//   BM_ReportWithoutClock/text, BM_ReportWithoutClock/json
#include <benchmark/benchmark.h>

#include <memory>

#include "cpu/KSI_CPUProcessors.h"
#include "platform/ProcessorApi.h"
#include "report/MachineReport.h"

namespace {

using namespace kyvex;

void BM_ReportWithoutClock(benchmark::State& state) {
  const std::uint32_t count = platform::Current().Processor().LogicalProcessorCount();
  TFrequencyInfo clock;
  clock.RawFrequency = clock.NormalizedFrequency = 2000;
  UseRecordedClocks(std::make_shared<const TRecordedClocks>(count, clock));
  const bool json = state.range(0) != 0;
  std::size_t bytes = 0;
  for (auto _ : state) {
    const std::string text = report::MachineReport(json);
    bytes = text.size();
    benchmark::DoNotOptimize(text.data());
  }
  UseRecordedClocks(nullptr);
  state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_ReportWithoutClock)->ArgName("json")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
