// The platform's services for processors: count, affinity, CPUID and RDTSC, performance
// counter, tick count, sleep and thread priority, in the shapes of the Windows services the
// processor component was designed against (kernel32 on a 32-bit system: affinity masks are
// 32 bits wide, one bit per logical processor).
#pragma once

#include <cstdint>
#include <memory>

#include "platform/Platform.h"

namespace kyvex::platform {

// SYSTEM_INFO, the members the components read.
struct SystemInfo {
  std::uint16_t wProcessorArchitecture = 0;
  std::uint32_t dwPageSize = 0;
  std::uint32_t dwActiveProcessorMask = 0;
  std::uint32_t dwNumberOfProcessors = 0;
  std::uint32_t dwProcessorType = 0;
  std::uint16_t wProcessorLevel = 0;
  std::uint16_t wProcessorRevision = 0;
};

// The pseudo handles GetCurrentProcess and GetCurrentThread answer on Windows.
constexpr Handle kCurrentProcessHandle = static_cast<Handle>(-1);
constexpr Handle kCurrentThreadHandle = static_cast<Handle>(-2);

// Thread priorities (THREAD_PRIORITY_*) and GetThreadPriority's failure value.
constexpr int kThreadPriorityIdle = -15;
constexpr int kThreadPriorityLowest = -2;
constexpr int kThreadPriorityNormal = 0;
constexpr int kThreadPriorityHighest = 2;
constexpr int kThreadPriorityTimeCritical = 15;
constexpr int kThreadPriorityErrorReturn = 0x7FFFFFFF;

class ProcessorApi {
 public:
  virtual ~ProcessorApi() = default;

  // --- Processors and affinity ------------------------------------------------------------
  virtual void GetSystemInfo(SystemInfo& info) = 0;
  virtual Handle GetCurrentProcess() = 0;
  virtual Handle GetCurrentThread() = 0;
  virtual bool GetProcessAffinityMask(Handle process, std::uint32_t& processMask,
                                      std::uint32_t& systemMask) = 0;
  // Looks SetProcessAffinityMask up in KERNEL32.DLL (the loaded module, else loading it),
  // as systems without the service (Windows 9x) must be told apart at run time. False when
  // the module or the entry point is missing; SetProcessAffinityMask then fails.
  virtual bool BindProcessAffinitySetter() = 0;
  virtual bool SetProcessAffinityMask(Handle process, std::uint32_t mask) = 0;

  // --- Any number of processors -------------------------------------------------------------
  // The masks above reach the first 32 processors. These reach every one (all processor groups
  // on Windows 7 and later, the whole CPU set on Linux), for the calling thread only.
  // How many logical processors the system has, numbered 0..N-1 as the calls below take them.
  virtual std::uint32_t LogicalProcessorCount() = 0;
  // Moves the calling thread onto logical processor `index`. False, with the thread left where
  // it was, when it may not run there: no such processor, or one outside what the process is
  // allowed (a container's CPU set, a job object).
  virtual bool BindThreadToProcessor(std::uint32_t index) = 0;
  // Lets the calling thread run wherever it could before its first binding.
  virtual void ReleaseThreadBinding() = 0;

  // --- Thread priority ----------------------------------------------------------------------
  // kThreadPriorityErrorReturn when the priority cannot be read.
  virtual int GetThreadPriority(Handle thread) = 0;
  virtual bool SetThreadPriority(Handle thread, int priority) = 0;

  // --- Instructions, executed on the calling thread -----------------------------------------
  // Whether bit 21 of EFLAGS (the ID flag) can be changed: the processor has CPUID.
  virtual bool CanToggleIdFlag() = 0;
  // CPUID with EAX = leaf and ECX = subLeaf.
  virtual X86Registers Cpuid(std::uint32_t leaf, std::uint32_t subLeaf) = 0;
  // RDTSC: the time-stamp counter, EDX:EAX.
  virtual std::uint64_t ReadTimeStampCounter() = 0;

  // --- Clocks -------------------------------------------------------------------------------
  virtual bool QueryPerformanceCounter(std::int64_t& count) = 0;
  virtual bool QueryPerformanceFrequency(std::int64_t& frequency) = 0;
  // Milliseconds since start-up, wrapping at 2^32.
  virtual std::uint32_t GetTickCount() = 0;
  virtual void Sleep(std::uint32_t milliseconds) = 0;
};

class LinuxPlatform;
class Win32Platform;
std::unique_ptr<ProcessorApi> MakeLinuxProcessorApi(LinuxPlatform& owner);
std::unique_ptr<ProcessorApi> MakeWin32ProcessorApi(Win32Platform& owner);

}  // namespace kyvex::platform
