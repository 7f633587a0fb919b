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
  std::lock_guard lock(mutex_);
  if (auto it = boundThreads_.find(std::this_thread::get_id()); it != boundThreads_.end()) return it->second;
  const std::uint32_t mask = processAffinity ? processAffinity : SystemMask();
  for (std::size_t i = 0; i < 32; ++i)
    if (mask & (1u << i)) return i;
  return 0;
}

void FakeProcessor::GetSystemInfo(SystemInfo& info) {
  std::lock_guard lock(mutex_);
  info = SystemInfo{};
  info.dwPageSize = 4096;
  info.dwNumberOfProcessors = Count();
  info.dwActiveProcessorMask = SystemMask();
  info.dwProcessorType = 586;
}

bool FakeProcessor::GetProcessAffinityMask(Handle process, std::uint32_t& processMask, std::uint32_t& systemMask) {
  std::lock_guard lock(mutex_);
  if (affinityQueryFails || process != kCurrentProcessHandle) return false;
  processMask = processAffinity ? processAffinity : SystemMask();
  systemMask = SystemMask();
  return true;
}

bool FakeProcessor::BindProcessAffinitySetter() {
  std::lock_guard lock(mutex_);
  ++bindLookups;
  return affinitySetterPresent;
}

bool FakeProcessor::SetProcessAffinityMask(Handle process, std::uint32_t mask) {
  std::lock_guard lock(mutex_);
  if (!affinitySetterPresent || process != kCurrentProcessHandle) return false;
  affinityCalls.push_back(mask);
  // Windows refuses a mask that is empty or names a processor the system does not have.
  if (mask == 0 || (mask & ~SystemMask()) != 0) return false;
  processAffinity = mask;
  return true;
}

std::uint32_t FakeProcessor::LogicalProcessorCount() {
  std::lock_guard lock(mutex_);
  return Count();
}

bool FakeProcessor::BindThreadToProcessor(std::uint32_t index) {
  std::lock_guard lock(mutex_);
  threadBindings.push_back(index);
  if (index >= Count() || unbindable.count(index)) return false;
  boundThreads_[std::this_thread::get_id()] = index;
  return true;
}

void FakeProcessor::ReleaseThreadBinding() {
  std::lock_guard lock(mutex_);
  if (boundThreads_.erase(std::this_thread::get_id())) ++threadReleases;
}

int FakeProcessor::GetThreadPriority(Handle thread) {
  std::lock_guard lock(mutex_);
  if (priorityQueryFails || thread != kCurrentThreadHandle) return kThreadPriorityErrorReturn;
  return threadPriority;
}

bool FakeProcessor::SetThreadPriority(Handle thread, int priority) {
  std::lock_guard lock(mutex_);
  if (thread != kCurrentThreadHandle) return false;
  priorityCalls.push_back(priority);
  if (priority == kThreadPriorityTimeCritical) ++timeCriticalRaises;
  threadPriority = priority;
  return true;
}

bool FakeProcessor::CanToggleIdFlag() {
  std::lock_guard lock(mutex_);
  const std::size_t cpu = CurrentCpu();
  idFlagTests.push_back(cpu);
  return cpu < cpus.size() && cpus[cpu].hasCpuid;
}

X86Registers FakeProcessor::Cpuid(std::uint32_t leaf, std::uint32_t subLeaf) {
  std::lock_guard lock(mutex_);
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

std::uint64_t FakeProcessor::ReadTimeStampCounter() {
  std::lock_guard lock(mutex_);
  return static_cast<std::uint64_t>(tscCycles);
}

bool FakeProcessor::QueryPerformanceCounter(std::int64_t& count) {
  std::lock_guard lock(mutex_);
  if (counterFails) return false;
  ++counterReads;
  count = static_cast<std::int64_t>(counterTicks);
  Advance(counterStep);
  return true;
}

bool FakeProcessor::QueryPerformanceFrequency(std::int64_t& frequency) {
  std::lock_guard lock(mutex_);
  if (counterFails) return false;
  frequency = counterFrequency;
  return true;
}

std::uint32_t FakeProcessor::GetTickCount() {
  std::lock_guard lock(mutex_);
  const std::int64_t f = counterFrequency > 0 ? counterFrequency : 10'000'000;
  const auto ms = static_cast<std::uint32_t>(counterTicks * 1000 / static_cast<std::uint64_t>(f));
  Advance(counterStep);
  return ms;
}

void FakeProcessor::Sleep(std::uint32_t milliseconds) {
  {
    std::lock_guard lock(mutex_);
    sleeps.push_back(milliseconds);
  }
  // Outside the lock: a sleep that takes real time lets the other threads go on meanwhile.
  if (onSleep) onSleep(milliseconds);
  std::lock_guard lock(mutex_);
  const std::int64_t f = counterFrequency > 0 ? counterFrequency : 10'000'000;
  Advance(static_cast<std::uint64_t>(milliseconds) * static_cast<std::uint64_t>(f) / 1000);
}

}  // namespace kyvex::platform
