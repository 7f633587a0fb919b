// Processors on Windows: kernel32's calls as they are, and the CPUID and RDTSC instructions.
#include "platform/ProcessorApi.h"
#include "platform/X86.h"
#include "platform/win32/WinApi.h"
#include "platform/win32/Win32Platform.h"

namespace kyvex::platform {

namespace {

using SetProcessAffinityMaskFn = BOOL(WINAPI*)(HANDLE, DWORD_PTR);

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
