// Processor refresh speed.
//
// A refresh of this machine's processor is the clock measurement (a 200 ms sleep and at least
// three counter passes) plus everything else: a few dozen bindings of the process to the
// processor, each with its CPUID executions. The benchmarks show the two parts apart:
//   BM_ClockMeasurement        the measurement alone, bound to processor 0: the floor;
//   BM_RefreshLive             a whole refresh of processor 0;
//   BM_RefreshLiveWithoutClock the same refresh with real bindings, CPUID and priorities but
//                              a clock that costs nothing: what a refresh adds to the floor.
// Saving a component refreshes every processor in turn, and every refresh counts the
// physical processors by binding to each of them once more, so part of the work of saving
// grows with the square of the processor count: BM_RefreshEveryProcessor/N shows the
// refreshes of a save on fake machines of N processors with an instant clock (processors
// from the 33rd on are not bound, as a 32-bit mask has no bit for them).
#include <benchmark/benchmark.h>

#include <memory>

#include "cpu/KSI_CPU.h"
#include "platform/ProcessorApi.h"
#include "platform/fake/FakePlatform.h"

namespace {

using namespace kyvex;
using namespace kyvex::platform;

void BM_ClockMeasurement(benchmark::State& state) {
  for (auto _ : state) {
    SelectProcessor(0);
    benchmark::DoNotOptimize(MeasureFrequency());
    RestoreProcessorAffinity();
  }
}
BENCHMARK(BM_ClockMeasurement)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_RefreshLive(benchmark::State& state) {
  TKyvex_CPU cpu;
  for (auto _ : state) cpu.CollectData();
  state.counters["MHz"] = cpu.Frequency();
}
BENCHMARK(BM_RefreshLive)->Unit(benchmark::kMillisecond)->Iterations(5);

// The machine's own processor services, with the clock services answered by the fake's
// virtual clock.
class InstantClock : public ProcessorApi {
 public:
  explicit InstantClock(ProcessorApi& real) : real_(real) {
    clock_.tscMHz = 1000;
    clock_.counterStep = 5000;  // two reads end a measuring window
  }
  void GetSystemInfo(SystemInfo& info) override { real_.GetSystemInfo(info); }
  Handle GetCurrentProcess() override { return real_.GetCurrentProcess(); }
  Handle GetCurrentThread() override { return real_.GetCurrentThread(); }
  bool GetProcessAffinityMask(Handle p, std::uint32_t& mask, std::uint32_t& system) override {
    return real_.GetProcessAffinityMask(p, mask, system);
  }
  bool BindProcessAffinitySetter() override { return real_.BindProcessAffinitySetter(); }
  bool SetProcessAffinityMask(Handle p, std::uint32_t mask) override { return real_.SetProcessAffinityMask(p, mask); }
  std::uint32_t LogicalProcessorCount() override { return real_.LogicalProcessorCount(); }
  bool BindThreadToProcessor(std::uint32_t index) override { return real_.BindThreadToProcessor(index); }
  void ReleaseThreadBinding() override { real_.ReleaseThreadBinding(); }
  int GetThreadPriority(Handle t) override { return real_.GetThreadPriority(t); }
  bool SetThreadPriority(Handle t, int priority) override { return real_.SetThreadPriority(t, priority); }
  bool CanToggleIdFlag() override { return real_.CanToggleIdFlag(); }
  X86Registers Cpuid(std::uint32_t leaf, std::uint32_t subLeaf) override { return real_.Cpuid(leaf, subLeaf); }
  std::uint64_t ReadTimeStampCounter() override { return clock_.ReadTimeStampCounter(); }
  bool QueryPerformanceCounter(std::int64_t& count) override { return clock_.QueryPerformanceCounter(count); }
  bool QueryPerformanceFrequency(std::int64_t& f) override { return clock_.QueryPerformanceFrequency(f); }
  std::uint32_t GetTickCount() override { return clock_.GetTickCount(); }
  void Sleep(std::uint32_t ms) override {
    if (ms == 0) real_.Sleep(0);  // the binding's yield is real work of a refresh
    else clock_.Sleep(ms);
  }

 private:
  ProcessorApi& real_;
  FakeProcessor clock_;
};

// Everything of the native platform, with the processor services above.
class NativeWithInstantClock : public FakePlatform {
 public:
  NativeWithInstantClock() : processor_(Native().Processor()) {}
  ProcessorApi& Processor() override { return processor_; }
  bool RegKeyExists(RegRoot root, const std::string& key) override { return Native().RegKeyExists(root, key); }
  std::optional<RegistryValue> RegQueryValue(RegRoot root, const std::string& key, const std::string& name) override {
    return Native().RegQueryValue(root, key, name);
  }

 private:
  InstantClock processor_;
};

void BM_RefreshLiveWithoutClock(benchmark::State& state) {
  NativeWithInstantClock platform;
  ScopedPlatform use(platform);
  TKyvex_CPU cpu;
  for (auto _ : state) cpu.CollectData();
}
BENCHMARK(BM_RefreshLiveWithoutClock)->Unit(benchmark::kMillisecond);

void BM_RefreshEveryProcessor(benchmark::State& state) {
  FakePlatform fake;
  std::string error;
  // A Pentium 4 with hyper-threading, repeated: two logical processors a package.
  const std::string dump =
      "0x00000000 0x00: eax=0x00000002 ebx=0x756e6547 ecx=0x6c65746e edx=0x49656e69\n"
      "0x00000001 0x00: eax=0x00000f29 ebx=0x00020809 ecx=0x00004400 edx=0xbfebfbff\n"
      "0x00000002 0x00: eax=0x665b5001 ebx=0x00000000 ecx=0x00000000 edx=0x007b7040\n";
  fake.processor.LoadCpuidDump(dump, error);
  const FakeCpu one = fake.processor.cpus[0];
  fake.processor.cpus.assign(static_cast<std::size_t>(state.range(0)), one);
  fake.processor.counterStep = 5000;
  fake.processor.tscMHz = 2800;
  ScopedPlatform use(fake);
  TKyvex_CPU cpu;
  for (auto _ : state) {
    for (int i = 0; i < state.range(0); ++i) {
      cpu.SetCPUIndex(static_cast<std::uint8_t>(i));
      cpu.CollectData();
    }
    // The fake's logs would grow without bound.
    fake.processor.cpuidCalls.clear();
    fake.processor.affinityCalls.clear();
    fake.processor.idFlagTests.clear();
    fake.processor.priorityCalls.clear();
    fake.processor.sleeps.clear();
  }
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_RefreshEveryProcessor)->RangeMultiplier(2)->Range(1, 64)->Complexity()->Unit(benchmark::kMillisecond);

}  // namespace
