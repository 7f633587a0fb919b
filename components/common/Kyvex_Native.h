// Late binding of the native system library (ntdll) on the NT family: the module handle,
// whether we loaded it ourselves, and the entry points resolved from it.
#pragma once

#include <array>
#include <stdexcept>
#include <string>

#include "platform/Platform.h"

namespace kyvex {

// The exports bound, in the order they are resolved.
constexpr std::array<const char*, 16> kNativeExportNames = {
    "NtQueryInformationToken", "NtOpenProcessToken",       "NtOpenSection",
    "NtClose",                 "NtOpenProcess",            "NtQuerySystemInformation",
    "NtCreateSection",         "NtMapViewOfSection",       "NtUnmapViewOfSection",
    "NtOpenFile",              "NtCreateFile",             "NtQueryObject",
    "NtQueryInformationProcess", "NtQueryInformationThread", "NtQueryInformationFile",
    "NtDuplicateObject"};

struct TNativeBinding {
  platform::Handle Module = platform::kInvalidHandle;
  bool LoadedByUs = false;
  // Entry points by the index of their name in kNativeExportNames; null when unresolved.
  std::array<void*, kNativeExportNames.size()> EntryPoints{};

  void* EntryPoint(const std::string& name) const;
};

// The current binding (empty until BindNativeAPI binds it).
const TNativeBinding& NativeBinding();

// Binds anew on every call; true when the module is present and NtQueryObject resolved.
bool BindNativeAPI();

// Raised when the module this unit loaded cannot be freed.
class ENativeUnloadError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Releases the module at program end when this unit loaded it; raises ENativeUnloadError
// ("Unload Error: NTDLL.DLL - 0x...") when it cannot be freed.
void UnbindNativeAPI();

}  // namespace kyvex
