// The platform layer: every service the components ask of the operating system, in the
// shapes of the Windows services they were designed against. The components are written
// once over this interface; platform/win32 answers it with the real Windows calls,
// platform/linux translates from Linux sources, platform/fake answers from scripted data.
//
// Failures are reported the Windows way: a false/empty result, with GetLastError() telling
// why where the components look at the reason.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kyvex::platform {

using Handle = std::uintptr_t;
constexpr Handle kInvalidHandle = 0;

// Windows error codes the components look at (ERROR_*; prefixed so that they live beside
// <windows.h>, which defines the plain names as macros).
constexpr std::uint32_t kErrorSuccess = 0;
constexpr std::uint32_t kErrorFileNotFound = 2;
constexpr std::uint32_t kErrorAccessDenied = 5;
constexpr std::uint32_t kErrorInvalidHandle = 6;
constexpr std::uint32_t kErrorNotSupported = 50;
constexpr std::uint32_t kErrorInvalidParameter = 87;
constexpr std::uint32_t kErrorInsufficientBuffer = 122;
constexpr std::uint32_t kErrorNoToken = 1008;

// dwPlatformId values (VER_PLATFORM_*). Linux has an id of its own, outside the range
// Windows uses.
constexpr std::uint32_t kPlatformWin32s = 0;
constexpr std::uint32_t kPlatformWin32Windows = 1;
constexpr std::uint32_t kPlatformWin32NT = 2;
constexpr std::uint32_t kPlatformLinux = 64;

// OSVERSIONINFOEXA. The first five members form the 148-byte OSVERSIONINFOA; the rest are
// only filled by the extended (156-byte) call.
struct OSVersionInfo {
  std::uint32_t dwMajorVersion = 0;
  std::uint32_t dwMinorVersion = 0;
  std::uint32_t dwBuildNumber = 0;
  std::uint32_t dwPlatformId = 0;
  std::string szCSDVersion;  // at most 128 bytes
  std::uint16_t wServicePackMajor = 0;
  std::uint16_t wServicePackMinor = 0;
  std::uint16_t wSuiteMask = 0;
  std::uint8_t wProductType = 0;
};

enum class RegRoot { LocalMachine, CurrentUser };

constexpr std::uint32_t kRegSz = 1;
constexpr std::uint32_t kRegExpandSz = 2;
constexpr std::uint32_t kRegBinary = 3;
constexpr std::uint32_t kRegDword = 4;

// A registry value: kRegSz values carry their text (UTF-8) in `text`, kRegDword values their
// number in `dword`; `data` holds the raw bytes for every type.
struct RegistryValue {
  std::uint32_t type = 0;
  std::string text;
  std::uint32_t dword = 0;
  std::vector<std::uint8_t> data;
};

// VS_FIXEDFILEINFO.
struct FixedFileInfo {
  std::uint32_t dwSignature = 0;
  std::uint32_t dwStrucVersion = 0;
  std::uint32_t dwFileVersionMS = 0;
  std::uint32_t dwFileVersionLS = 0;
  std::uint32_t dwProductVersionMS = 0;
  std::uint32_t dwProductVersionLS = 0;
  std::uint32_t dwFileFlagsMask = 0;
  std::uint32_t dwFileFlags = 0;
  std::uint32_t dwFileOS = 0;
  std::uint32_t dwFileType = 0;
  std::uint32_t dwFileSubtype = 0;
  std::uint32_t dwFileDateMS = 0;
  std::uint32_t dwFileDateLS = 0;
};

// SYSTEMTIME.
struct SystemTime {
  std::uint16_t wYear = 0, wMonth = 0, wDayOfWeek = 0, wDay = 0;
  std::uint16_t wHour = 0, wMinute = 0, wSecond = 0, wMilliseconds = 0;
};

// The four general registers an instruction probe reads and writes.
struct X86Registers {
  std::uint32_t eax = 0, ebx = 0, ecx = 0, edx = 0;
};

// Access rights and information classes the rights test uses.
constexpr std::uint32_t kTokenQuery = 8;

// Well-known SIDs in their binary form, as a token's group list holds them.
std::vector<std::uint8_t> SidAdministrators();  // S-1-5-32-544
std::vector<std::uint8_t> SidUsers();           // S-1-5-32-545
std::vector<std::uint8_t> SidEveryone();        // S-1-1-0

class ProcessorApi;  // platform/ProcessorApi.h: processors, CPUID, clocks, priority
class FirmwareApi;   // platform/FirmwareApi.h: firmware tables, physical memory, child processes
class DeviceApi;     // platform/DeviceApi.h: device paths, I/O control requests, drives

class Platform {
 public:
  virtual ~Platform() = default;

  // --- Service areas, each in its own interface -----------------------------------------
  virtual ProcessorApi& Processor() = 0;
  virtual FirmwareApi& Firmware() = 0;
  virtual DeviceApi& Devices() = 0;

  // --- Errors -------------------------------------------------------------------------
  // The last error of the calling thread, as GetLastError().
  virtual std::uint32_t GetLastError() = 0;

  // --- Version ------------------------------------------------------------------------
  // GetVersionExA. extended=false asks for the 148-byte OSVERSIONINFOA, true for the
  // 156-byte OSVERSIONINFOEXA (refused by Windows 95 and NT before SP6).
  virtual bool GetVersionEx(OSVersionInfo& info, bool extended) = 0;

  // --- Registry (read-only) -------------------------------------------------------------
  virtual bool RegKeyExists(RegRoot root, const std::string& subKey) = 0;
  virtual std::optional<RegistryValue> RegQueryValue(RegRoot root, const std::string& subKey,
                                                     const std::string& valueName) = 0;

  // --- Time -------------------------------------------------------------------------------
  // GetLocalTime: the local wall-clock time.
  virtual SystemTime GetLocalTime() = 0;

  // --- Names and rights ---------------------------------------------------------------
  virtual std::optional<std::string> GetComputerName() = 0;
  virtual std::optional<std::string> GetUserName() = 0;
  virtual bool OpenThreadToken(std::uint32_t access, bool openAsSelf, Handle& token) = 0;
  virtual bool OpenProcessToken(std::uint32_t access, Handle& token) = 0;
  // TokenGroups: the SIDs of the token's groups in binary form, or nothing when the query fails.
  virtual std::optional<std::vector<std::vector<std::uint8_t>>> GetTokenGroupSids(Handle token) = 0;
  virtual bool CloseHandle(Handle h) = 0;

  // --- Instruction probes ---------------------------------------------------------------
  // Execute the VMware guest-port read (IN EAX, DX) or Virtual PC's guest call (0F 3F 07 0B)
  // with the given registers. False when the processor faulted; the registers then keep
  // the values they were given.
  virtual bool ProbeVMwarePort(X86Registers& regs) = 0;
  virtual bool ProbeVirtualPCCall(X86Registers& regs) = 0;

  // --- Modules ------------------------------------------------------------------------
  virtual Handle GetModuleHandle(const std::string& name) = 0;
  virtual Handle LoadLibrary(const std::string& name) = 0;
  virtual void* GetProcAddress(Handle module, const std::string& name) = 0;
  virtual bool FreeLibrary(Handle module) = 0;

  // The full path of the running executable.
  virtual std::string GetModuleFileName() = 0;

  // --- Version resource -----------------------------------------------------------------
  // GetFileVersionInfoSize / GetFileVersionInfo / VerQueryValue("\\").
  virtual std::uint32_t GetFileVersionInfoSize(const std::string& path) = 0;
  virtual bool GetFileVersionInfo(const std::string& path, std::vector<std::uint8_t>& block) = 0;
  virtual bool VerQueryRoot(const std::vector<std::uint8_t>& block, FixedFileInfo& info) = 0;
};

// The platform the components talk to. Starts as the real platform of the build.
Platform& Current();

// The real platform of this build (Linux or Win32), created on first use.
Platform& Native();

// Makes `p` the current platform for the lifetime of the object and restores the previous
// one afterwards; the start-up values derived from the platform (see PlatformSnapshot)
// are taken anew on both transitions, so tests see the values of the platform they set.
class ScopedPlatform {
 public:
  explicit ScopedPlatform(Platform& p);
  ~ScopedPlatform();
  ScopedPlatform(const ScopedPlatform&) = delete;
  ScopedPlatform& operator=(const ScopedPlatform&) = delete;

 private:
  Platform* previous_;
};

// Registered by the layers that keep start-up values derived from the platform, and run
// whenever the current platform changes.
using PlatformChangedHook = void (*)();
void OnPlatformChanged(PlatformChangedHook hook);

}  // namespace kyvex::platform
