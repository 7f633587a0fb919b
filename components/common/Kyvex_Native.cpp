#include "common/Kyvex_Native.h"

#include <cstdio>

#include "common/Kyvex_Routines.h"

namespace kyvex {

namespace {
constexpr const char* kNtdll = "NTDLL.DLL";
TNativeBinding g_binding;
}  // namespace

void* TNativeBinding::EntryPoint(const std::string& name) const {
  for (std::size_t i = 0; i < kNativeExportNames.size(); ++i)
    if (name == kNativeExportNames[i]) return EntryPoints[i];
  return nullptr;
}

const TNativeBinding& NativeBinding() { return g_binding; }

bool BindNativeAPI() {
  auto& p = platform::Current();
  if (PlatformSnapshot().PlatformId == platform::kPlatformWin32NT) {
    g_binding.Module = p.GetModuleHandle(kNtdll);
    g_binding.LoadedByUs = g_binding.Module == platform::kInvalidHandle;
    if (g_binding.Module == platform::kInvalidHandle) g_binding.Module = p.LoadLibrary(kNtdll);
    if (g_binding.Module != platform::kInvalidHandle)
      for (std::size_t i = 0; i < kNativeExportNames.size(); ++i)
        g_binding.EntryPoints[i] = p.GetProcAddress(g_binding.Module, kNativeExportNames[i]);
  }
  return g_binding.Module != platform::kInvalidHandle && g_binding.EntryPoint("NtQueryObject") != nullptr;
}

void UnbindNativeAPI() {
  if (g_binding.Module == platform::kInvalidHandle || !g_binding.LoadedByUs) return;
  auto& p = platform::Current();
  if (!p.FreeLibrary(g_binding.Module)) {
    char msg[96];
    std::snprintf(msg, sizeof msg, "Unload Error: %s - 0x%llx", kNtdll,
                  static_cast<unsigned long long>(p.GetModuleHandle(kNtdll)));
    throw ENativeUnloadError(msg);
  }
  g_binding.Module = platform::kInvalidHandle;
  g_binding.EntryPoints = {};
  g_binding.LoadedByUs = false;
}

}  // namespace kyvex
