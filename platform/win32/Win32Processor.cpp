// Processors on Windows: kernel32's calls as they are, and the CPUID and RDTSC instructions.
#include "platform/ProcessorApi.h"
#include "platform/X86.h"
#include "platform/win32/WinApi.h"
#include "platform/win32/Win32Platform.h"

namespace kyvex::platform {

namespace {

using SetProcessAffinityMaskFn = BOOL(WINAPI*)(HANDLE, DWORD_PTR);

// GROUP_AFFINITY, spelled out: the headers declare it only for Windows 7 targets, and the
// program still starts on XP, where the calls that take it are looked up and not found.
struct GroupAffinity {
  ULONG_PTR Mask;
  WORD Group;
  WORD Reserved[3];
};
using SetThreadGroupAffinityFn = BOOL(WINAPI*)(HANDLE, const GroupAffinity*, GroupAffinity*);
using GetActiveProcessorCountFn = DWORD(WINAPI*)(WORD);
using GetActiveProcessorGroupCountFn = WORD(WINAPI*)();
using SetThreadAffinityMaskFn = DWORD_PTR(WINAPI*)(HANDLE, DWORD_PTR);
constexpr WORD kAllProcessorGroups = 0xFFFF;

// The calling thread's affinity before its first binding: a group affinity where processor
// groups exist, else the plain mask.
thread_local bool t_bound = false;
thread_local GroupAffinity t_groupBefore{};
thread_local DWORD_PTR t_maskBefore = 0;

template <class Fn>
Fn Kernel32Entry(const char* name) {
  HMODULE kernel = ::GetModuleHandleA("KERNEL32.DLL");
  return kernel ? reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(kernel, name))) : nullptr;
}

class Win32Processor : public ProcessorApi {
 public:
  explicit Win32Processor(Win32Platform& owner) : owner_(owner) {}

  void GetSystemInfo(SystemInfo& info) override {
    SYSTEM_INFO si{};
    ::GetSystemInfo(&si);
    info = SystemInfo{};
    info.wProcessorArchitecture = si.wProcessorArchitecture;
    info.dwPageSize = si.dwPageSize;
    info.dwActiveProcessorMask = static_cast<std::uint32_t>(si.dwActiveProcessorMask);
    info.dwNumberOfProcessors = si.dwNumberOfProcessors;
    info.dwProcessorType = si.dwProcessorType;
    info.wProcessorLevel = si.wProcessorLevel;
    info.wProcessorRevision = si.wProcessorRevision;
  }

  Handle GetCurrentProcess() override { return reinterpret_cast<Handle>(::GetCurrentProcess()); }
  Handle GetCurrentThread() override { return reinterpret_cast<Handle>(::GetCurrentThread()); }

  bool GetProcessAffinityMask(Handle process, std::uint32_t& processMask, std::uint32_t& systemMask) override {
    DWORD_PTR p = 0, s = 0;
    if (!::GetProcessAffinityMask(reinterpret_cast<HANDLE>(process), &p, &s)) return false;
    processMask = static_cast<std::uint32_t>(p);
    systemMask = static_cast<std::uint32_t>(s);
    return true;
  }

  // Windows 95, 98 and Me have no SetProcessAffinityMask: bind it at run time.
  bool BindProcessAffinitySetter() override {
    HMODULE kernel = ::GetModuleHandleA("KERNEL32.DLL");
    if (!kernel) kernel = ::LoadLibraryA("KERNEL32.DLL");
    setter_ = kernel ? reinterpret_cast<SetProcessAffinityMaskFn>(
                           reinterpret_cast<void*>(::GetProcAddress(kernel, "SetProcessAffinityMask")))
                     : nullptr;
    return setter_ != nullptr;
  }

  bool SetProcessAffinityMask(Handle process, std::uint32_t mask) override {
    if (!setter_ && !BindProcessAffinitySetter()) return false;
    return setter_(reinterpret_cast<HANDLE>(process), mask) != FALSE;
  }

  std::uint32_t LogicalProcessorCount() override {
    if (auto count = Kernel32Entry<GetActiveProcessorCountFn>("GetActiveProcessorCount")) {
      const DWORD n = count(kAllProcessorGroups);
      if (n > 0) return n;
    }
    SYSTEM_INFO si{};
    ::GetSystemInfo(&si);
    return si.dwNumberOfProcessors;
  }

  // Processors are numbered group by group, as GetActiveProcessorCount counts them; within a
  // group the active processors are its lowest bits.
  bool BindThreadToProcessor(std::uint32_t index) override {
    const HANDLE thread = ::GetCurrentThread();
    auto setGroup = Kernel32Entry<SetThreadGroupAffinityFn>("SetThreadGroupAffinity");
    auto groupCount = Kernel32Entry<GetActiveProcessorGroupCountFn>("GetActiveProcessorGroupCount");
    auto count = Kernel32Entry<GetActiveProcessorCountFn>("GetActiveProcessorCount");
    if (setGroup && groupCount && count) {
      const WORD groups = groupCount();
      for (WORD g = 0; g < groups; ++g) {
        const DWORD inGroup = count(g);
        if (index >= inGroup) {
          index -= inGroup;
          continue;
        }
        if (index >= sizeof(ULONG_PTR) * 8) return false;
        GroupAffinity wanted{};
        wanted.Mask = ULONG_PTR{1} << index;
        wanted.Group = g;
        GroupAffinity before{};
        if (!setGroup(thread, &wanted, &before)) return false;
        if (!t_bound) {
          t_groupBefore = before;
          t_bound = true;
        }
        return true;
      }
      return false;
    }
    auto setMask = Kernel32Entry<SetThreadAffinityMaskFn>("SetThreadAffinityMask");
    if (!setMask || index >= sizeof(DWORD_PTR) * 8 || index >= LogicalProcessorCount()) return false;
    const DWORD_PTR before = setMask(thread, DWORD_PTR{1} << index);
    if (before == 0) return false;  // outside the process's mask
    if (!t_bound) {
      t_maskBefore = before;
      t_bound = true;
    }
    return true;
  }

  void ReleaseThreadBinding() override {
    if (!t_bound) return;
    const GroupAffinity group = t_groupBefore;
    const DWORD_PTR mask = t_maskBefore;
    t_bound = false;
    t_groupBefore = {};
    t_maskBefore = 0;
    if (group.Mask != 0) {
      if (auto setGroup = Kernel32Entry<SetThreadGroupAffinityFn>("SetThreadGroupAffinity"))
        setGroup(::GetCurrentThread(), &group, nullptr);
    } else if (mask != 0) {
      if (auto setMask = Kernel32Entry<SetThreadAffinityMaskFn>("SetThreadAffinityMask"))
        setMask(::GetCurrentThread(), mask);
    }
  }

  int GetThreadPriority(Handle thread) override {
    const int p = ::GetThreadPriority(reinterpret_cast<HANDLE>(thread));
    return p == THREAD_PRIORITY_ERROR_RETURN ? kThreadPriorityErrorReturn : p;
  }

  bool SetThreadPriority(Handle thread, int priority) override {
    return ::SetThreadPriority(reinterpret_cast<HANDLE>(thread), priority) != FALSE;
  }

  bool CanToggleIdFlag() override { return x86::CanToggleIdFlag(); }
  X86Registers Cpuid(std::uint32_t leaf, std::uint32_t subLeaf) override { return x86::Cpuid(leaf, subLeaf); }
  std::uint64_t ReadTimeStampCounter() override { return x86::ReadTimeStampCounter(); }

  bool QueryPerformanceCounter(std::int64_t& count) override {
    LARGE_INTEGER v{};
    if (!::QueryPerformanceCounter(&v)) return false;
    count = v.QuadPart;
    return true;
  }

  bool QueryPerformanceFrequency(std::int64_t& frequency) override {
    LARGE_INTEGER v{};
    if (!::QueryPerformanceFrequency(&v)) return false;
    frequency = v.QuadPart;
    return true;
  }

  std::uint32_t GetTickCount() override { return ::GetTickCount(); }
  void Sleep(std::uint32_t milliseconds) override { ::Sleep(milliseconds); }

 private:
  [[maybe_unused]] Win32Platform& owner_;
  SetProcessAffinityMaskFn setter_ = nullptr;
};

}  // namespace

std::unique_ptr<ProcessorApi> MakeWin32ProcessorApi(Win32Platform& owner) {
  return std::make_unique<Win32Processor>(owner);
}

}  // namespace kyvex::platform
