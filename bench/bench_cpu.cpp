// Processor refresh speed.
//
// A refresh of this machine's processor is the clock measurement (a 200 ms sleep and at least
// three counter passes) plus the reading of every processor's leaves, one binding each:
//   BM_ClockMeasurement        the measurement alone, bound to processor 0: the floor;
//   BM_RefreshLive             a whole refresh of processor 0;
//   BM_RefreshLiveWithoutClock the same refresh with real bindings and CPUID but a clock that
//                              costs nothing: what a refresh adds to the floor.
// A walk over every processor (the save, `kyvex cpu --all`, the report) reads them once and
// measures their clocks together:
//   BM_WalkEveryProcessor/N    the walk on fake machines of N processors, instant clock: the
//                              decoding's share, which grows with N only linearly;
//   BM_WalkWithSleepingClock/N/invariant  the walk on a fake of N processors whose sleeps take
//                              real time; "ratio" is its time over one measurement's (the
//                              measurements run side by side, or once where the counters are
//                              invariant), so it should stay near 1 whatever N is.
#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <thread>

#include "cpu/KSI_CPU.h"
#include "platform/ProcessorApi.h"
#include "platform/fake/FakePlatform.h"

namespace {

using namespace kyvex;
using namespace kyvex::platform;

void BM_ClockMeasurement(benchmark::State& state) {
  auto& api = Current().Processor();
  for (auto _ : state) {
    api.BindThreadToProcessor(0);
    benchmark::DoNotOptimize(MeasureFrequency());
    api.ReleaseThreadBinding();
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

// A Pentium 4 with hyper-threading, or with `invariant` a processor whose time-stamp counter
// runs at one rate everywhere, repeated `count` times.
FakePlatform& ManyProcessors(FakePlatform& fake, int count, bool invariant) {
  std::string error;
  const std::string dump =
      "0x00000000 0x00: eax=0x00000002 ebx=0x756e6547 ecx=0x6c65746e edx=0x49656e69\n"
      "0x00000001 0x00: eax=0x00000f29 ebx=0x00020809 ecx=0x00004400 edx=0xbfebfbff\n"
      "0x00000002 0x00: eax=0x665b5001 ebx=0x00000000 ecx=0x00000000 edx=0x007b7040\n"
      "0x80000000 0x00: eax=0x80000007 ebx=0x00000000 ecx=0x00000000 edx=0x00000000\n";
  fake.processor.LoadCpuidDump(dump, error);
  FakeCpu one = fake.processor.cpus[0];
  if (invariant) one.Set(0x80000007, {0, 0, 0, 1u << 8});
  fake.processor.cpus.assign(static_cast<std::size_t>(count), one);
  fake.processor.counterStep = 5000;  // two reads end a measuring window
  fake.processor.tscMHz = 2800;
  return fake;
}

// What the save and `kyvex cpu --all` do: one reading, every clock, every processor decoded.
void WalkEveryProcessor() {
  auto census = std::make_shared<TProcessorCensus>(ReadProcessorCensus());
  MeasureClocks(*census);
  TKyvex_CPU cpu;
  cpu.UseProcessorCensus(census);
  for (std::uint32_t i = 0; i < census->Processors.size(); ++i) {
    cpu.SetCPUIndex(i);
    cpu.CollectData();
  }
}

void ClearLogs(FakePlatform& fake) {
  // The fake's logs would grow without bound.
  fake.processor.cpuidCalls.clear();
  fake.processor.affinityCalls.clear();
  fake.processor.threadBindings.clear();
  fake.processor.idFlagTests.clear();
  fake.processor.priorityCalls.clear();
  fake.processor.sleeps.clear();
}

void BM_WalkEveryProcessor(benchmark::State& state) {
  FakePlatform fake;
  ManyProcessors(fake, static_cast<int>(state.range(0)), false);
  ScopedPlatform use(fake);
  for (auto _ : state) {
    WalkEveryProcessor();
    ClearLogs(fake);
  }
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_WalkEveryProcessor)->RangeMultiplier(4)->Range(1, 256)->Complexity()->Unit(benchmark::kMillisecond);

void BM_WalkWithSleepingClock(benchmark::State& state) {
  FakePlatform fake;
  ManyProcessors(fake, static_cast<int>(state.range(0)), state.range(1) != 0);
  fake.processor.onSleep = [](std::uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); };
  ScopedPlatform use(fake);
  const auto start = std::chrono::steady_clock::now();
  MeasureFrequency();
  const double one = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  double walks = 0;
  for (auto _ : state) {
    const auto t0 = std::chrono::steady_clock::now();
    WalkEveryProcessor();
    walks += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    ClearLogs(fake);
  }
  state.counters["ratio"] = walks / static_cast<double>(state.iterations()) / one;
}
BENCHMARK(BM_WalkWithSleepingClock)
    ->ArgsProduct({{1, 64, 256}, {0, 1}})
    ->ArgNames({"processors", "invariant"})
    ->Iterations(2)
    ->Unit(benchmark::kMillisecond);

}  // namespace
