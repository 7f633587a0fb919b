// Processors on Linux, answered in the shapes of kernel32's services.
//
// Windows numbers the logical processors 0..N-1 and gives each a bit of a 32-bit affinity
// mask. Linux numbers the CPUs it knows, online or not; processor i here is the i-th online
// CPU, so a machine with CPU 1 offline still has processors 0..N-1 without holes. Binding
// uses sched_setaffinity on the calling thread (Linux has no process-wide affinity call);
// the component binds and measures on the same thread, which is what it needs.
#ifdef __linux__
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <thread>
#include <string>
#include <vector>

#include "platform/ProcessorApi.h"
#include "platform/X86.h"
#include "platform/linux/LinuxPlatform.h"

namespace kyvex::platform {

namespace {

// "0-3,6,8-9" (the kernel's CPU list format) -> the CPU numbers in order; empty when the
// text is not such a list.
[[maybe_unused]] std::vector<int> ParseCpuList(const std::string& text) {
  std::vector<int> cpus;
  std::size_t pos = 0;
  auto number = [&](int& out) {
    if (pos >= text.size() || text[pos] < '0' || text[pos] > '9') return false;
    long n = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
      n = n * 10 + (text[pos++] - '0');
      if (n > 65535) return false;
    }
    out = static_cast<int>(n);
    return true;
  };
  while (pos < text.size() && text[pos] != '\n') {
    int first = 0, last = 0;
    if (!number(first)) return {};
    last = first;
    if (pos < text.size() && text[pos] == '-') {
      ++pos;
      if (!number(last) || last < first) return {};
    }
    for (int c = first; c <= last; ++c) cpus.push_back(c);
    if (pos < text.size() && text[pos] == ',') ++pos;
  }
  return cpus;
}

#ifdef __linux__
// Windows priority -> nice value, relative to the thread's own except for the two levels
// that are absolute on Windows as well (time-critical and idle).
int NiceFor(int priority, int base) {
  switch (priority) {
    case kThreadPriorityTimeCritical: return -20;
    case kThreadPriorityIdle: return 19;
    case 2: return base - 10;
    case 1: return base - 5;
    case -1: return base + 5;
    case -2: return base + 10;
    default: return base;
  }
}

pid_t ThreadId() { return static_cast<pid_t>(syscall(SYS_gettid)); }

// Per thread, as the Windows calls are: the priority last set (Linux keeps only the nice
// value, which this layer may not have been allowed to change), the thread's own nice value
// before the first change, and the full CPU set behind the last affinity query.
thread_local int t_priority = kThreadPriorityNormal;
thread_local bool t_baseKnown = false;
thread_local int t_baseNice = 0;
thread_local bool t_savedKnown = false;
thread_local cpu_set_t t_savedSet;
thread_local std::uint32_t t_savedMask = 0;
// The thread's CPU set before its first BindThreadToProcessor, in the kernel's size.
thread_local std::vector<unsigned char> t_unboundSet;
// A captured machine's processor the thread is "bound" to: whose leaves CPUID answers.
thread_local std::uint32_t t_recordedIndex = 0;

// CPU sets sized for CPU numbers up to `highest`, at least the kernel's default of 1024, as
// sched_getaffinity refuses a buffer smaller than the kernel's own mask.
struct CpuSet {
  explicit CpuSet(int highest) : count(std::max(highest + 1, CPU_SETSIZE)), bytes(CPU_ALLOC_SIZE(count)) {
    storage.assign(bytes, 0);
  }
  cpu_set_t* get() { return reinterpret_cast<cpu_set_t*>(storage.data()); }
  int count;
  std::size_t bytes;
  std::vector<unsigned char> storage;
};
#else
// A build that only replays captures answers for the captured machine alone: the running
// machine's processors are not there to be bound or counted.
thread_local int t_priority = kThreadPriorityNormal;
thread_local std::uint32_t t_recordedIndex = 0;
#endif

class LinuxProcessor : public ProcessorApi {
 public:
  explicit LinuxProcessor(LinuxPlatform& owner) : owner_(owner) {}

  void GetSystemInfo(SystemInfo& info) override {
    info = SystemInfo{};
    if (const auto* r = owner_.Recorded()) {
      info.wProcessorArchitecture = r->architecture;
      info.dwProcessorType = r->architecture == 9 ? 8664 : 586;
      info.dwPageSize = r->pageSize;
      info.dwNumberOfProcessors = static_cast<std::uint32_t>(r->processors.size());
      info.dwActiveProcessorMask = MaskOfFirst(r->processors.size());
      RevisionFromCpuInfo();
      info.wProcessorLevel = level_;
      info.wProcessorRevision = revision_;
      return;
    }
#ifndef __linux__
    return;
#else
#if defined(__x86_64__)
    info.wProcessorArchitecture = 9;  // PROCESSOR_ARCHITECTURE_AMD64
    info.dwProcessorType = 8664;
#else
    info.wProcessorArchitecture = 0;  // PROCESSOR_ARCHITECTURE_INTEL
    info.dwProcessorType = 586;
#endif
    const long page = sysconf(_SC_PAGESIZE);
    info.dwPageSize = page > 0 ? static_cast<std::uint32_t>(page) : 4096;
    const auto cpus = OnlineCpus();
    info.dwNumberOfProcessors = static_cast<std::uint32_t>(cpus.size());
    info.dwActiveProcessorMask = MaskOfFirst(cpus.size());
    RevisionFromCpuInfo();
    info.wProcessorLevel = level_;
    info.wProcessorRevision = revision_;
#endif
  }

  void RevisionFromCpuInfo() {
    std::call_once(levelOnce_, [this] {
      const auto entries = owner_.ReadCpuInfo();
      if (entries.empty()) return;
      level_ = static_cast<std::uint16_t>(entries[0].family);
      revision_ = static_cast<std::uint16_t>(((entries[0].model & 0xFF) << 8) | (entries[0].stepping & 0xFF));
    });
  }

  Handle GetCurrentProcess() override { return kCurrentProcessHandle; }
  Handle GetCurrentThread() override { return kCurrentThreadHandle; }

  bool GetProcessAffinityMask(Handle process, std::uint32_t& processMask, std::uint32_t& systemMask) override {
    if (process != kCurrentProcessHandle) return false;
    if (const auto* r = owner_.Recorded()) {
      processMask = systemMask = MaskOfFirst(r->processors.size());
      return true;
    }
#ifndef __linux__
    return false;
#else
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) != 0) return false;
    const auto cpus = OnlineCpus();
    processMask = 0;
    for (std::size_t i = 0; i < cpus.size() && i < 32; ++i)
      if (cpus[i] < CPU_SETSIZE && CPU_ISSET(cpus[i], &set)) processMask |= 1u << i;
    systemMask = MaskOfFirst(cpus.size());
    // A 32-bit mask cannot carry CPUs past the 32nd; remember the whole set so that handing
    // this mask back restores all of them.
    t_savedSet = set;
    t_savedMask = processMask;
    t_savedKnown = true;
    return true;
#endif
  }

  bool BindProcessAffinitySetter() override { return true; }

  bool SetProcessAffinityMask(Handle process, std::uint32_t mask) override {
    if (process != kCurrentProcessHandle || mask == 0) return false;
    if (const auto* r = owner_.Recorded()) return (mask & ~MaskOfFirst(r->processors.size())) == 0;
#ifndef __linux__
    return false;
#else
    cpu_set_t set;
    if (t_savedKnown && mask == t_savedMask) {
      set = t_savedSet;
    } else {
      CPU_ZERO(&set);
      const auto cpus = OnlineCpus();
      for (std::size_t i = 0; i < 32; ++i) {
        if (!(mask & (1u << i))) continue;
        if (i >= cpus.size() || cpus[i] >= CPU_SETSIZE) return false;  // no such processor
        CPU_SET(cpus[i], &set);
      }
    }
    return sched_setaffinity(0, sizeof set, &set) == 0;
#endif
  }

  std::uint32_t LogicalProcessorCount() override {
    if (const auto* r = owner_.Recorded()) return static_cast<std::uint32_t>(r->processors.size());
#ifdef __linux__
    return static_cast<std::uint32_t>(OnlineCpus().size());
#else
    return 0;
#endif
  }

  bool BindThreadToProcessor(std::uint32_t index) override {
    if (const auto* r = owner_.Recorded()) {
      if (index >= r->processors.size()) return false;
      t_recordedIndex = index;
      return true;
    }
#ifndef __linux__
    return false;
#else
    const auto cpus = OnlineCpus();
    if (index >= cpus.size()) return false;
    const int cpu = cpus[index];
    CpuSet set(std::max(cpu, cpus.back()));
    if (t_unboundSet.empty()) {
      CpuSet before(set.count - 1);
      // A thread whose set cannot be read could not be given it back: it is not moved.
      if (sched_getaffinity(0, before.bytes, before.get()) != 0) return false;
      t_unboundSet = std::move(before.storage);
    }
    CPU_SET_S(static_cast<std::size_t>(cpu), set.bytes, set.get());
    // The kernel refuses a CPU outside the task's cpuset (EINVAL): the thread stays where it was.
    return sched_setaffinity(0, set.bytes, set.get()) == 0;
#endif
  }

  void ReleaseThreadBinding() override {
    if (owner_.IsRecorded()) {
      t_recordedIndex = 0;
      return;
    }
#ifdef __linux__
    if (t_unboundSet.empty()) return;
    sched_setaffinity(0, t_unboundSet.size(), reinterpret_cast<cpu_set_t*>(t_unboundSet.data()));
    t_unboundSet.clear();
#endif
  }

  int GetThreadPriority(Handle thread) override {
    return thread == kCurrentThreadHandle ? t_priority : kThreadPriorityErrorReturn;
  }

  // Raising a thread above its nice value needs CAP_SYS_NICE; without it the thread keeps
  // its priority and the call still succeeds, so that callers behave as on Windows, where
  // a process may always raise its own threads.
  bool SetThreadPriority(Handle thread, int priority) override {
    if (thread != kCurrentThreadHandle) return false;
    if (owner_.IsRecorded()) {
      t_priority = priority;
      return true;
    }
#ifndef __linux__
    return false;
#else
    const pid_t tid = ThreadId();
    if (!t_baseKnown) {
      errno = 0;
      const int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(tid));
      t_baseNice = errno == 0 ? nice : 0;
      t_baseKnown = true;
    }
    int nice = NiceFor(priority, t_baseNice);
    if (nice < -20) nice = -20;
    if (nice > 19) nice = 19;
    setpriority(PRIO_PROCESS, static_cast<id_t>(tid), nice);
    t_priority = priority;
    return true;
#endif
  }

#if KYVEX_HAVE_X86
  bool CanToggleIdFlag() override {
    if (const auto* leaves = RecordedLeaves()) return leaves->hasCpuid;
    return !owner_.IsRecorded() && x86::CanToggleIdFlag();
  }
  X86Registers Cpuid(std::uint32_t leaf, std::uint32_t subLeaf) override {
    if (const auto* leaves = RecordedLeaves()) return leaves->Get(leaf, subLeaf);
    if (owner_.IsRecorded()) return {};
    return x86::Cpuid(leaf, subLeaf);
  }
  // A captured machine's clocks were measured when it was captured; its counters do not run.
  std::uint64_t ReadTimeStampCounter() override { return owner_.IsRecorded() ? 0 : x86::ReadTimeStampCounter(); }
#else
  // Only a captured x86 machine's processors answer here.
  bool CanToggleIdFlag() override {
    const auto* leaves = RecordedLeaves();
    return leaves && leaves->hasCpuid;
  }
  X86Registers Cpuid(std::uint32_t leaf, std::uint32_t subLeaf) override {
    const auto* leaves = RecordedLeaves();
    return leaves ? leaves->Get(leaf, subLeaf) : X86Registers{};
  }
  std::uint64_t ReadTimeStampCounter() override { return 0; }
#endif

  // A 10 MHz counter, as Windows' performance counter runs on current systems.
  bool QueryPerformanceCounter(std::int64_t& count) override {
    if (owner_.IsRecorded()) return false;
#ifdef __linux__
    timespec ts{};
    if (clock_gettime(CLOCK_MONOTONIC_RAW, &ts) != 0) return false;
    count = static_cast<std::int64_t>(ts.tv_sec) * 10'000'000 + ts.tv_nsec / 100;
    return true;
#else
    (void)count;
    return false;
#endif
  }

  bool QueryPerformanceFrequency(std::int64_t& frequency) override {
    if (owner_.IsRecorded()) return false;
    frequency = 10'000'000;
    return true;
  }

  std::uint32_t GetTickCount() override {
#ifndef __linux__
    return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
#else
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    const std::uint64_t ms = static_cast<std::uint64_t>(ts.tv_sec) * 1000u + static_cast<std::uint64_t>(ts.tv_nsec) / 1'000'000u;
    return static_cast<std::uint32_t>(ms);
#endif
  }

  void Sleep(std::uint32_t milliseconds) override {
#ifndef __linux__
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
#else
    if (milliseconds == 0) {
      sched_yield();  // Sleep(0) gives up the rest of the time slice
      return;
    }
    timespec left{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1'000'000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
#endif
  }

 private:
  const CpuidLeaves* RecordedLeaves() const {
    const auto* r = owner_.Recorded();
    if (!r || t_recordedIndex >= r->processors.size()) return nullptr;
    return &r->processors[t_recordedIndex];
  }

#ifdef __linux__
  std::vector<int> OnlineCpus() const {
    auto cpus = ParseCpuList(owner_.ReadTextFile("/sys/devices/system/cpu/online"));
    if (cpus.empty()) {
      const long n = sysconf(_SC_NPROCESSORS_ONLN);
      for (long i = 0; i < (n > 0 ? n : 1); ++i) cpus.push_back(static_cast<int>(i));
    }
    return cpus;
  }
#endif

  static std::uint32_t MaskOfFirst(std::size_t n) {
    return n >= 32 ? 0xFFFFFFFFu : static_cast<std::uint32_t>((1u << n) - 1);
  }

  LinuxPlatform& owner_;
  std::once_flag levelOnce_;
  std::uint16_t level_ = 0, revision_ = 0;
};

}  // namespace

std::unique_ptr<ProcessorApi> MakeLinuxProcessorApi(LinuxPlatform& owner) {
  return std::make_unique<LinuxProcessor>(owner);
}

}  // namespace kyvex::platform
