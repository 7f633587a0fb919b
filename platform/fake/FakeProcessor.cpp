#include "platform/fake/FakeProcessor.h"

#include <algorithm>

namespace kyvex::platform {

FakeProcessor::FakeProcessor() : cpus(1) {}

bool FakeProcessor::LoadCpuidDump(std::string_view text, std::string& error) {
  auto parsed = ParseCpuidDump(text, error);
  if (!parsed) return false;
  cpus = std::move(*parsed);
  processorCount.reset();
  processAffinity = 0;
  return true;
}

std::uint32_t FakeProcessor::Count() const {
  return processorCount ? *processorCount : static_cast<std::uint32_t>(cpus.size());
}

std::uint32_t FakeProcessor::SystemMask() const {
  const std::uint32_t n = Count();
  return n >= 32 ? 0xFFFFFFFFu : (1u << n) - 1;
}

std::size_t FakeProcessor::CurrentCpu() const {
  const std::uint32_t mask = processAffinity ? processAffinity : SystemMask();
  for (std::size_t i = 0; i < 32; ++i)
    if (mask & (1u << i)) return i;
  return 0;
}

void FakeProcessor::GetSystemInfo(SystemInfo& info) {
  info = SystemInfo{};
  info.dwPageSize = 4096;
  info.dwNumberOfProcessors = Count();
  info.dwActiveProcessorMask = SystemMask();
  info.dwProcessorType = 586;
}

bool FakeProcessor::GetProcessAffinityMask(Handle process, std::uint32_t& processMask, std::uint32_t& systemMask) {
  if (affinityQueryFails || process != kCurrentProcessHandle) return false;
  processMask = processAffinity ? processAffinity : SystemMask();
  systemMask = SystemMask();
  return true;
}

bool FakeProcessor::BindProcessAffinitySetter() {
  ++bindLookups;
  return affinitySetterPresent;
}

bool FakeProcessor::SetProcessAffinityMask(Handle process, std::uint32_t mask) {
  if (!affinitySetterPresent || process != kCurrentProcessHandle) return false;
  affinityCalls.push_back(mask);
  // Windows refuses a mask that is empty or names a processor the system does not have.
  if (mask == 0 || (mask & ~SystemMask()) != 0) return false;
  processAffinity = mask;
  return true;
}

int FakeProcessor::GetThreadPriority(Handle thread) {
  if (priorityQueryFails || thread != kCurrentThreadHandle) return kThreadPriorityErrorReturn;
  return threadPriority;
}

bool FakeProcessor::SetThreadPriority(Handle thread, int priority) {
  if (thread != kCurrentThreadHandle) return false;
  priorityCalls.push_back(priority);
  if (priority == kThreadPriorityTimeCritical) ++timeCriticalRaises;
  threadPriority = priority;
  return true;
}

bool FakeProcessor::CanToggleIdFlag() {
  const std::size_t cpu = CurrentCpu();
  idFlagTests.push_back(cpu);
  return cpu < cpus.size() && cpus[cpu].hasCpuid;
}

X86Registers FakeProcessor::Cpuid(std::uint32_t leaf, std::uint32_t subLeaf) {
  const std::size_t cpu = CurrentCpu();
  cpuidCalls.push_back({cpu, leaf, subLeaf});
  return cpu < cpus.size() ? cpus[cpu].Get(leaf, subLeaf) : X86Registers{};
}

void FakeProcessor::Advance(std::uint64_t ticks) {
  double mhz = tscMHz;
  if (!tscMHzByPass.empty()) {
    const std::size_t pass = static_cast<std::size_t>(std::max(timeCriticalRaises, 1)) - 1;
    mhz = tscMHzByPass[std::min(pass, tscMHzByPass.size() - 1)];
  }
  counterTicks += ticks;
  if (counterFrequency > 0) tscCycles += static_cast<double>(ticks) * mhz * 1e6 / static_cast<double>(counterFrequency);
}

std::uint64_t FakeProcessor::ReadTimeStampCounter() { return static_cast<std::uint64_t>(tscCycles); }

bool FakeProcessor::QueryPerformanceCounter(std::int64_t& count) {
  if (counterFails) return false;
  ++counterReads;
  count = static_cast<std::int64_t>(counterTicks);
  Advance(counterStep);
  return true;
}

bool FakeProcessor::QueryPerformanceFrequency(std::int64_t& frequency) {
  if (counterFails) return false;
  frequency = counterFrequency;
  return true;
}

std::uint32_t FakeProcessor::GetTickCount() {
  const std::int64_t f = counterFrequency > 0 ? counterFrequency : 10'000'000;
  const auto ms = static_cast<std::uint32_t>(counterTicks * 1000 / static_cast<std::uint64_t>(f));
  Advance(counterStep);
  return ms;
}

void FakeProcessor::Sleep(std::uint32_t milliseconds) {
  sleeps.push_back(milliseconds);
  if (onSleep) onSleep(milliseconds);
  const std::int64_t f = counterFrequency > 0 ? counterFrequency : 10'000'000;
  Advance(static_cast<std::uint64_t>(milliseconds) * static_cast<std::uint64_t>(f) / 1000);
}

}  // namespace kyvex::platform
