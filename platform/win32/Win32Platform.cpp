#include "platform/win32/Win32Platform.h"

#include "platform/win32/WinApi.h"

#include "platform/DeviceApi.h"
#include "platform/FirmwareApi.h"
#include "platform/ProcessorApi.h"
#include "platform/Text.h"

namespace kyvex::platform {

Platform& NativeInstance() {
  static Win32Platform instance;
  return instance;
}

std::wstring Widen(const std::string& s) {
  const std::u16string u = text::Utf8ToUtf16(s);
  return std::wstring(u.begin(), u.end());
}

std::string Narrow(const wchar_t* s, std::size_t n) {
  return text::Utf16ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(s), n));
}

std::string Narrow(const std::wstring& s) { return Narrow(s.data(), s.size()); }

namespace {
HKEY RootKey(RegRoot root) { return root == RegRoot::LocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER; }

std::wstring KeyPath(const std::string& subKey) {
  std::string k = subKey;
  while (!k.empty() && k.front() == '\\') k.erase(k.begin());
  return Widen(k);
}
}  // namespace

Win32Platform::Win32Platform()
    : processor_(MakeWin32ProcessorApi(*this)),
      firmware_(MakeWin32FirmwareApi(*this)),
      devices_(MakeWin32DeviceApi(*this)) {}

Win32Platform::~Win32Platform() = default;

ProcessorApi& Win32Platform::Processor() { return *processor_; }
FirmwareApi& Win32Platform::Firmware() { return *firmware_; }
DeviceApi& Win32Platform::Devices() { return *devices_; }

std::uint32_t Win32Platform::GetLastError() { return ::GetLastError(); }

bool Win32Platform::GetVersionEx(OSVersionInfo& info, bool extended) {
  info = OSVersionInfo{};
  OSVERSIONINFOEXW v;
  ZeroMemory(&v, sizeof v);
  v.dwOSVersionInfoSize = extended ? sizeof(OSVERSIONINFOEXW) : sizeof(OSVERSIONINFOW);
  if (!::GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&v))) return false;
  info.dwMajorVersion = v.dwMajorVersion;
  info.dwMinorVersion = v.dwMinorVersion;
  info.dwBuildNumber = v.dwBuildNumber;
  info.dwPlatformId = v.dwPlatformId;
  info.szCSDVersion = Narrow(v.szCSDVersion, wcsnlen(v.szCSDVersion, 128));
  if (extended) {
    info.wServicePackMajor = v.wServicePackMajor;
    info.wServicePackMinor = v.wServicePackMinor;
    info.wSuiteMask = v.wSuiteMask;
    info.wProductType = v.wProductType;
  }
  return true;
}

SystemTime Win32Platform::GetLocalTime() {
  SYSTEMTIME st;
  ::GetLocalTime(&st);
  return {st.wYear, st.wMonth, st.wDayOfWeek, st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds};
}

bool Win32Platform::RegKeyExists(RegRoot root, const std::string& subKey) {
  HKEY key;
  if (RegOpenKeyExW(RootKey(root), KeyPath(subKey).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
    return false;
  RegCloseKey(key);
  return true;
}

std::optional<RegistryValue> Win32Platform::RegQueryValue(RegRoot root, const std::string& subKey,
                                                          const std::string& valueName) {
  HKEY key;
  LONG rc = RegOpenKeyExW(RootKey(root), KeyPath(subKey).c_str(), 0, KEY_READ, &key);
  if (rc != ERROR_SUCCESS) {
    SetLastError(static_cast<DWORD>(rc));
    return std::nullopt;
  }
  const std::wstring name = Widen(valueName);
  DWORD type = 0, size = 0;
  rc = RegQueryValueExW(key, name.c_str(), nullptr, &type, nullptr, &size);
  std::vector<std::uint8_t> data;
  if (rc == ERROR_SUCCESS) {
    data.resize(size);
    rc = RegQueryValueExW(key, name.c_str(), nullptr, &type, data.data(), &size);
    data.resize(size);
  }
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS) {
    SetLastError(static_cast<DWORD>(rc));
    return std::nullopt;
  }
  RegistryValue v;
  v.type = type;
  v.data = data;
  if (type == REG_SZ || type == REG_EXPAND_SZ) {
    std::wstring w(data.size() / 2, L'\0');
    memcpy(w.data(), data.data(), w.size() * 2);
    w.resize(wcsnlen(w.c_str(), w.size()));
    v.text = Narrow(w);
  } else if (type == REG_DWORD && data.size() >= 4) {
    v.dword = data[0] | (data[1] << 8) | (data[2] << 16) | (static_cast<std::uint32_t>(data[3]) << 24);
  }
  return v;
}

std::optional<std::string> Win32Platform::GetComputerName() {
  wchar_t buf[256];
  DWORD size = 255;
  if (!::GetComputerNameW(buf, &size)) return std::nullopt;
  return Narrow(buf, size);
}

std::optional<std::string> Win32Platform::GetUserName() {
  wchar_t buf[256];
  DWORD size = 255;
  if (!::GetUserNameW(buf, &size)) return std::nullopt;
  return Narrow(buf, wcsnlen(buf, 255));
}

bool Win32Platform::OpenThreadToken(std::uint32_t access, bool openAsSelf, Handle& token) {
  HANDLE h = nullptr;
  if (!::OpenThreadToken(::GetCurrentThread(), access, openAsSelf, &h)) return false;
  token = reinterpret_cast<Handle>(h);
  return true;
}

bool Win32Platform::OpenProcessToken(std::uint32_t access, Handle& token) {
  HANDLE h = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), access, &h)) return false;
  token = reinterpret_cast<Handle>(h);
  return true;
}

std::optional<std::vector<std::vector<std::uint8_t>>> ReadTokenGroupSids(const TokenInformationQuery& query) {
  // 8-byte units: the list holds pointers.
  std::vector<std::uint64_t> buffer(1024 / sizeof(std::uint64_t));
  // The list may grow between two questions; a few rounds settle it.
  for (int attempt = 0;; ++attempt) {
    std::uint32_t needed = 0;
    const auto size = static_cast<std::uint32_t>(buffer.size() * sizeof(std::uint64_t));
    if (query(buffer.data(), size, needed)) break;
    if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed <= size || attempt == 4) return std::nullopt;
    buffer.assign((needed + sizeof(std::uint64_t) - 1) / sizeof(std::uint64_t), 0);
  }
  const auto* groups = reinterpret_cast<const TOKEN_GROUPS*>(buffer.data());
  std::vector<std::vector<std::uint8_t>> sids;
  for (DWORD i = 0; i < groups->GroupCount; ++i) {
    PSID sid = groups->Groups[i].Sid;
    if (!IsValidSid(sid)) continue;
    const DWORD len = GetLengthSid(sid);
    const auto* p = static_cast<const std::uint8_t*>(sid);
    sids.emplace_back(p, p + len);
  }
  return sids;
}

std::optional<std::vector<std::vector<std::uint8_t>>> Win32Platform::GetTokenGroupSids(Handle token) {
  return ReadTokenGroupSids([token](void* buffer, std::uint32_t size, std::uint32_t& needed) {
    DWORD n = 0;
    const bool ok = ::GetTokenInformation(reinterpret_cast<HANDLE>(token), TokenGroups, buffer, size, &n) != FALSE;
    needed = n;
    return ok;
  });
}

bool Win32Platform::CloseHandle(Handle h) { return ::CloseHandle(reinterpret_cast<HANDLE>(h)) != 0; }

Handle Win32Platform::GetModuleHandle(const std::string& name) {
  return reinterpret_cast<Handle>(::GetModuleHandleW(Widen(name).c_str()));
}

Handle Win32Platform::LoadLibrary(const std::string& name) {
  return reinterpret_cast<Handle>(::LoadLibraryW(Widen(name).c_str()));
}

void* Win32Platform::GetProcAddress(Handle module, const std::string& name) {
  return reinterpret_cast<void*>(::GetProcAddress(reinterpret_cast<HMODULE>(module), name.c_str()));
}

bool Win32Platform::FreeLibrary(Handle module) { return ::FreeLibrary(reinterpret_cast<HMODULE>(module)) != 0; }

std::string Win32Platform::GetModuleFileName() {
  std::wstring buf(32768, L'\0');
  const DWORD n = ::GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
  buf.resize(n);
  return Narrow(buf);
}

std::uint32_t Win32Platform::GetFileVersionInfoSize(const std::string& path) {
  DWORD dummy = 0;
  return ::GetFileVersionInfoSizeW(Widen(path).c_str(), &dummy);
}

bool Win32Platform::GetFileVersionInfo(const std::string& path, std::vector<std::uint8_t>& block) {
  const std::wstring wpath = Widen(path);
  DWORD dummy = 0;
  const DWORD size = ::GetFileVersionInfoSizeW(wpath.c_str(), &dummy);
  if (size == 0) return false;
  block.assign(size, 0);
  return ::GetFileVersionInfoW(wpath.c_str(), 0, size, block.data()) != 0;
}

bool Win32Platform::VerQueryRoot(const std::vector<std::uint8_t>& block, FixedFileInfo& info) {
  void* p = nullptr;
  UINT len = 0;
  if (!::VerQueryValueW(block.data(), L"\\", &p, &len) || !p || len < sizeof(VS_FIXEDFILEINFO)) return false;
  const auto* f = static_cast<const VS_FIXEDFILEINFO*>(p);
  info.dwSignature = f->dwSignature;
  info.dwStrucVersion = f->dwStrucVersion;
  info.dwFileVersionMS = f->dwFileVersionMS;
  info.dwFileVersionLS = f->dwFileVersionLS;
  info.dwProductVersionMS = f->dwProductVersionMS;
  info.dwProductVersionLS = f->dwProductVersionLS;
  info.dwFileFlagsMask = f->dwFileFlagsMask;
  info.dwFileFlags = f->dwFileFlags;
  info.dwFileOS = f->dwFileOS;
  info.dwFileType = f->dwFileType;
  info.dwFileSubtype = f->dwFileSubtype;
  info.dwFileDateMS = f->dwFileDateMS;
  info.dwFileDateLS = f->dwFileDateLS;
  return true;
}

}  // namespace kyvex::platform
