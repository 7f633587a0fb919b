#include "platform/FirmwareApi.h"
#include "platform/win32/WinApi.h"
#include "platform/win32/Win32Platform.h"

#include <winternl.h>

#include <cstring>

namespace kyvex::platform {

namespace {

using EnumSystemFirmwareTablesFn = UINT(WINAPI*)(DWORD, PVOID, DWORD);
using GetSystemFirmwareTableFn = UINT(WINAPI*)(DWORD, DWORD, PVOID, DWORD);

// The system's own OBJECT_ATTRIBUTES: 24 bytes in a 32-bit process, 48 in a 64-bit one.
using UnicodeString = UNICODE_STRING;
using ObjectAttributes = OBJECT_ATTRIBUTES;
static_assert(sizeof(ObjectAttributes) == (sizeof(void*) == 8 ? 48 : 24));
using NtOpenSectionFn = LONG(NTAPI*)(PHANDLE, ACCESS_MASK, ObjectAttributes*);
using NtCloseFn = LONG(NTAPI*)(HANDLE);

class Win32Firmware : public FirmwareApi {
 public:
  explicit Win32Firmware(Win32Platform& owner) : owner_(owner) {}

  // Bound once per process: the service exists from Windows XP x64 and Server 2003 SP1 on.
  bool BindFirmwareTableService() override {
    static const bool bound = [this] {
      HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
      if (!kernel) {
        ::SetLastError(kErrorCallNotImplemented);
        return false;
      }
      enum_ = reinterpret_cast<EnumSystemFirmwareTablesFn>(
          reinterpret_cast<void*>(::GetProcAddress(kernel, "EnumSystemFirmwareTables")));
      get_ = reinterpret_cast<GetSystemFirmwareTableFn>(
          reinterpret_cast<void*>(::GetProcAddress(kernel, "GetSystemFirmwareTable")));
      return enum_ != nullptr && get_ != nullptr;
    }();
    return bound;
  }

  std::uint32_t EnumSystemFirmwareTables(std::uint32_t provider, std::uint8_t* buffer, std::uint32_t size) override {
    if (!BindFirmwareTableService()) return 0;
    return enum_(provider, buffer, buffer ? size : 0);
  }

  std::uint32_t GetSystemFirmwareTable(std::uint32_t provider, std::uint32_t tableId, std::uint8_t* buffer,
                                       std::uint32_t size) override {
    if (!BindFirmwareTableService()) return 0;
    return get_(provider, tableId, buffer, buffer ? size : 0);
  }

  MemoryGranularity GetSystemInfo() override {
    SYSTEM_INFO si;
    ::GetSystemInfo(&si);
    MemoryGranularity g;
    g.dwPageSize = si.dwPageSize;
    g.dwAllocationGranularity = si.dwAllocationGranularity;
    return g;
  }

  std::uint32_t NtOpenSection(void* entryPoint, Handle& section, std::uint32_t desiredAccess,
                              const std::string& objectName, std::uint32_t attributes) override {
    if (!entryPoint) return kStatusProcedureNotFound;
    std::wstring name = Widen(objectName);
    UnicodeString us;
    us.Length = static_cast<USHORT>(name.size() * sizeof(wchar_t));
    us.MaximumLength = static_cast<USHORT>(us.Length + sizeof(wchar_t));
    us.Buffer = name.data();
    ObjectAttributes oa;
    oa.Length = sizeof oa;
    oa.RootDirectory = nullptr;
    oa.ObjectName = &us;
    oa.Attributes = attributes;
    oa.SecurityDescriptor = nullptr;
    oa.SecurityQualityOfService = nullptr;
    HANDLE h = nullptr;
    const LONG status = reinterpret_cast<NtOpenSectionFn>(entryPoint)(&h, desiredAccess, &oa);
    if (status == 0) section = reinterpret_cast<Handle>(h);
    return static_cast<std::uint32_t>(status);
  }

  std::uint32_t NtClose(void* entryPoint, Handle handle) override {
    if (!entryPoint) return ::CloseHandle(reinterpret_cast<HANDLE>(handle)) ? kStatusSuccess : 0xC0000008;
    return static_cast<std::uint32_t>(reinterpret_cast<NtCloseFn>(entryPoint)(reinterpret_cast<HANDLE>(handle)));
  }

  const std::uint8_t* MapViewOfFile(Handle section, std::uint32_t access, std::uint32_t offsetHigh,
                                    std::uint32_t offsetLow, std::uint32_t bytes) override {
    return static_cast<const std::uint8_t*>(
        ::MapViewOfFile(reinterpret_cast<HANDLE>(section), access, offsetHigh, offsetLow, bytes));
  }

  bool UnmapViewOfFile(const std::uint8_t* view) override { return ::UnmapViewOfFile(view) != 0; }

  // Windows 9x maps the first megabyte into every process; the probe keeps an address that
  // is not readable from faulting the process.
  bool ReadLinearMemory(std::uint32_t address, std::uint8_t* destination, std::uint32_t size) override {
    const void* source = reinterpret_cast<const void*>(static_cast<std::uintptr_t>(address));
    if (size == 0) return true;
    if (::IsBadReadPtr(source, size)) return false;
    std::memcpy(destination, source, size);
    return true;
  }

  std::string GetTempPath() override {
    wchar_t buf[MAX_PATH + 1];
    const DWORD n = ::GetTempPathW(MAX_PATH + 1, buf);
    return n == 0 || n > MAX_PATH ? std::string() : Narrow(buf, n);
  }

  std::string GetEnvironmentVariable(const std::string& name) override {
    wchar_t buf[261];
    const DWORD n = ::GetEnvironmentVariableW(Widen(name).c_str(), buf, 261);
    return n == 0 || n > 260 ? std::string() : Narrow(buf, n);
  }

  bool DirectoryExists(const std::string& path) override {
    const DWORD a = ::GetFileAttributesW(Widen(path).c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
  }
  bool CreateDirectory(const std::string& path) override { return ::CreateDirectoryW(Widen(path).c_str(), nullptr); }
  bool RemoveDirectory(const std::string& path) override { return ::RemoveDirectoryW(Widen(path).c_str()); }
  bool DeleteFile(const std::string& path) override { return ::DeleteFileW(Widen(path).c_str()); }

  std::uint32_t WriteNewFile(const std::string& path, const std::vector<std::uint8_t>& data) override {
    HANDLE f = ::CreateFileW(Widen(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                             nullptr);
    if (f == INVALID_HANDLE_VALUE) return 0;
    DWORD written = 0;
    if (!::WriteFile(f, data.data(), static_cast<DWORD>(data.size()), &written, nullptr)) written = 0;
    ::CloseHandle(f);
    return written;
  }

  bool ReadWholeFile(const std::string& path, std::uint32_t maxBytes, std::vector<std::uint8_t>& data) override {
    HANDLE f = ::CreateFileW(Widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    data.assign(maxBytes, 0);
    DWORD total = 0;
    while (total < maxBytes) {
      DWORD n = 0;
      if (!::ReadFile(f, data.data() + total, maxBytes - total, &n, nullptr) || n == 0) break;
      total += n;
    }
    data.resize(total);
    ::CloseHandle(f);
    return true;
  }

  bool CreateProcess(const std::string& commandLine, std::uint32_t creationFlags, ProcessInformation& info) override {
    STARTUPINFOW si;
    std::memset(&si, 0, sizeof si);
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION pi;
    std::memset(&pi, 0, sizeof pi);
    std::wstring line = Widen(commandLine);
    if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, creationFlags, nullptr, nullptr, &si, &pi))
      return false;
    info.hProcess = reinterpret_cast<Handle>(pi.hProcess);
    info.hThread = reinterpret_cast<Handle>(pi.hThread);
    info.dwProcessId = pi.dwProcessId;
    return true;
  }

  std::uint32_t WaitForSingleObject(Handle handle, std::uint32_t milliseconds) override {
    return ::WaitForSingleObject(reinterpret_cast<HANDLE>(handle), milliseconds);
  }
  bool RunsDosPrograms() override {
#if defined(_WIN64)
    return false;
#else
    // IsWow64Process exists from XP SP2 on; where it is missing, so is WOW64.
    static const bool underWow64 = [] {
      using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);
      HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
      const auto isWow64 = kernel ? reinterpret_cast<IsWow64ProcessFn>(
                                        reinterpret_cast<void*>(::GetProcAddress(kernel, "IsWow64Process")))
                                  : nullptr;
      BOOL wow64 = FALSE;
      return isWow64 != nullptr && isWow64(::GetCurrentProcess(), &wow64) && wow64;
    }();
    return !underWow64;
#endif
  }
  bool TerminateProcess(Handle process, std::uint32_t exitCode) override {
    return ::TerminateProcess(reinterpret_cast<HANDLE>(process), exitCode);
  }
  bool CloseHandle(Handle handle) override { return ::CloseHandle(reinterpret_cast<HANDLE>(handle)); }

 private:
  Win32Platform& owner_;
  static inline EnumSystemFirmwareTablesFn enum_ = nullptr;
  static inline GetSystemFirmwareTableFn get_ = nullptr;
};
}  // namespace

std::unique_ptr<FirmwareApi> MakeWin32FirmwareApi(Win32Platform& owner) { return std::make_unique<Win32Firmware>(owner); }

}  // namespace kyvex::platform
