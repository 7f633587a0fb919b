// The threading runtime linked statically into every program calls GetTickCount64, which the
// kernel32 of Windows XP and Server 2003 lacks: their loader would refuse to start any of our
// programs. This object supplies the import slot itself, so the linker takes it in place of
// kernel32's; the function behind it takes the system's own where there is one and otherwise
// widens the 32-bit tick count. Every executable of the Windows build links this object.
#include "platform/win32/LegacyImports.h"

#include <windows.h>

namespace kyvex::platform {

std::uint64_t WidenTickCount(std::atomic<std::uint64_t>& last, std::uint32_t now) {
  std::uint64_t previous = last.load();
  for (;;) {
    std::uint64_t next = (previous & ~std::uint64_t{0xFFFFFFFF}) | now;
    if (now < static_cast<std::uint32_t>(previous)) next += std::uint64_t{1} << 32;
    if (last.compare_exchange_weak(previous, next)) return next;
  }
}

}  // namespace kyvex::platform

namespace {

using TickCount64Fn = ULONGLONG(WINAPI*)();

TickCount64Fn SystemTickCount64() {
  static const TickCount64Fn fn = [] {
    HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    return kernel ? reinterpret_cast<TickCount64Fn>(reinterpret_cast<void*>(::GetProcAddress(kernel, "GetTickCount64")))
                  : nullptr;
  }();
  return fn;
}

ULONGLONG WINAPI TickCount64() {
  if (const TickCount64Fn fn = SystemTickCount64()) return fn();
  static std::atomic<std::uint64_t> last{0};
  return kyvex::platform::WidenTickCount(last, ::GetTickCount());
}

}  // namespace

__attribute__((used)) ULONGLONG(WINAPI* kyvex_GetTickCount64_slot)() = TickCount64;
