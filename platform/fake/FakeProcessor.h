// Scripted processors: a CPUID table per logical processor, an affinity that decides which
// table answers, and one virtual clock behind the performance counter, the tick count, sleep
// and the time-stamp counter. Tests set what they need and read back what was asked.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/CpuidSnapshot.h"
#include "platform/ProcessorApi.h"

namespace kyvex::platform {

// One logical processor's CPUID answers. A leaf that is not in the table answers zeros.
using FakeCpu = CpuidLeaves;

class FakeProcessor : public ProcessorApi {
 public:
  FakeProcessor();

  // --- Processors -------------------------------------------------------------------------
  std::vector<FakeCpu> cpus;                    // one processor with an empty table to start
  std::optional<std::uint32_t> processorCount;  // what GetSystemInfo reports; else cpus.size()
  // Loads a dump (see ParseCpuidDump, platform/CpuidSnapshot.h) into `cpus`; false, with the
  // reason in `error` and nothing changed, when the text is not a dump.
  bool LoadCpuidDump(std::string_view text, std::string& error);

  // --- Affinity ---------------------------------------------------------------------------
  bool affinitySetterPresent = true;      // BindProcessAffinitySetter finds the entry point
  bool affinityQueryFails = false;
  std::uint32_t processAffinity = 0;      // 0: every processor (the start-up value)
  std::vector<std::uint32_t> affinityCalls;  // every mask SetProcessAffinityMask was given
  int bindLookups = 0;                    // calls of BindProcessAffinitySetter
  // The processor the calling thread runs on: the one it was bound to, else the lowest
  // processor the process's affinity allows.
  std::size_t CurrentCpu() const;

  // --- Binding threads, any number of processors -------------------------------------------
  std::set<std::uint32_t> unbindable;         // processors outside the process's CPU set
  std::vector<std::uint32_t> threadBindings;  // every processor BindThreadToProcessor was asked for
  int threadReleases = 0;                     // ReleaseThreadBinding calls that undid a binding

  // --- Thread priority --------------------------------------------------------------------
  int threadPriority = kThreadPriorityNormal;
  bool priorityQueryFails = false;
  std::vector<int> priorityCalls;  // every priority SetThreadPriority was given
  int timeCriticalRaises = 0;      // how often the thread was raised to time-critical

  // --- Clock ------------------------------------------------------------------------------
  // Everything runs on one virtual time in performance-counter ticks. Each read of the
  // performance counter or the tick count advances it by `counterStep`; Sleep advances it by
  // the time slept. The time-stamp counter runs at `tscMHz`, or, when `tscMHzByPass` is set,
  // at its entry for the current clock-measurement pass (a pass raises the thread to
  // time-critical once: entry k serves from the (k+1)-th raise on; the last entry stays).
  std::int64_t counterFrequency = 10'000'000;
  bool counterFails = false;  // both QueryPerformanceCounter and QueryPerformanceFrequency fail
  std::uint64_t counterTicks = 0;
  std::uint64_t counterStep = 1;
  double tscMHz = 0;
  std::vector<double> tscMHzByPass;
  double tscCycles = 0;  // the time-stamp counter's value
  std::vector<std::uint32_t> sleeps;
  std::function<void(std::uint32_t milliseconds)> onSleep;  // runs before the clock moves on
  std::uint64_t counterReads = 0;
  void Advance(std::uint64_t ticks);

  // --- Log ----------------------------------------------------------------------------------
  struct CpuidCall {
    std::size_t cpu;
    std::uint32_t leaf, subLeaf;
  };
  std::vector<CpuidCall> cpuidCalls;
  std::vector<std::size_t> idFlagTests;  // the processor each CanToggleIdFlag ran on

  // --- ProcessorApi -------------------------------------------------------------------------
  void GetSystemInfo(SystemInfo& info) override;
  Handle GetCurrentProcess() override { return kCurrentProcessHandle; }
  Handle GetCurrentThread() override { return kCurrentThreadHandle; }
  bool GetProcessAffinityMask(Handle process, std::uint32_t& processMask, std::uint32_t& systemMask) override;
  bool BindProcessAffinitySetter() override;
  bool SetProcessAffinityMask(Handle process, std::uint32_t mask) override;
  std::uint32_t LogicalProcessorCount() override;
  bool BindThreadToProcessor(std::uint32_t index) override;
  void ReleaseThreadBinding() override;
  int GetThreadPriority(Handle thread) override;
  bool SetThreadPriority(Handle thread, int priority) override;
  bool CanToggleIdFlag() override;
  X86Registers Cpuid(std::uint32_t leaf, std::uint32_t subLeaf) override;
  std::uint64_t ReadTimeStampCounter() override;
  bool QueryPerformanceCounter(std::int64_t& count) override;
  bool QueryPerformanceFrequency(std::int64_t& frequency) override;
  std::uint32_t GetTickCount() override;
  void Sleep(std::uint32_t milliseconds) override;

 private:
  // Threads may measure their processors' clocks side by side: every call takes the lock, and
  // all of them share the one virtual time.
  mutable std::recursive_mutex mutex_;
  std::map<std::thread::id, std::uint32_t> boundThreads_;
  std::uint32_t Count() const;
  std::uint32_t SystemMask() const;
};

}  // namespace kyvex::platform
