// The platform's services for firmware tables, physical memory, temporary files and child
// processes, in the shapes of the Windows services the components were designed against.
//
// Reply blocks keep Windows' byte layouts: a 'RSMB' table is the RawSMBIOSData block (used
// calling method, major, minor, DMI revision, a 32-bit length at 4, the table from 8), an
// enumeration of firmware tables is a list of 32-bit identifiers.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace kyvex::platform {

// Firmware-table providers ('FIRM', 'RSMB' as the service spells their signatures).
constexpr std::uint32_t kProviderFIRM = 0x4649524D;
constexpr std::uint32_t kProviderRSMB = 0x52534D42;

// Status codes of the native section calls (NTSTATUS).
constexpr std::uint32_t kStatusSuccess = 0;
constexpr std::uint32_t kStatusAccessDenied = 0xC0000022;
constexpr std::uint32_t kStatusObjectNameNotFound = 0xC0000034;
constexpr std::uint32_t kStatusProcedureNotFound = 0xC000007A;

// Object attributes and access rights of the physical-memory section.
constexpr std::uint32_t kObjCaseInsensitive = 0x40;
constexpr std::uint32_t kSectionMapRead = 4;
constexpr std::uint32_t kFileMapRead = 4;

// WaitForSingleObject answers and the flags the console command is started with.
constexpr std::uint32_t kWaitObject0 = 0;
constexpr std::uint32_t kWaitTimeout = 0x102;
constexpr std::uint32_t kWaitFailed = 0xFFFFFFFF;
constexpr std::uint32_t kInfinite = 0xFFFFFFFF;
constexpr std::uint32_t kCreateNewConsole = 0x10;
constexpr std::uint32_t kCreateNewProcessGroup = 0x200;
constexpr std::uint32_t kErrorCallNotImplemented = 120;

// The part of SYSTEM_INFO that memory mapping needs.
struct MemoryGranularity {
  std::uint32_t dwPageSize = 4096;
  // A view's file offset must be a multiple of this (64 KB on Windows).
  std::uint32_t dwAllocationGranularity = 65536;
};

// What CreateProcess hands back.
struct ProcessInformation {
  Handle hProcess = kInvalidHandle;
  Handle hThread = kInvalidHandle;
  std::uint32_t dwProcessId = 0;
};

class FirmwareApi {
 public:
  virtual ~FirmwareApi() = default;

  // --- Firmware-table service ------------------------------------------------------------
  // Binds EnumSystemFirmwareTables and GetSystemFirmwareTable where the system has them
  // (kept for later calls); false when it does not.
  virtual bool BindFirmwareTableService() = 0;
  // Both answer the size the whole answer needs and copy it only when `size` is enough,
  // as the Windows calls do; 0 when the provider or table is unknown.
  virtual std::uint32_t EnumSystemFirmwareTables(std::uint32_t provider, std::uint8_t* buffer,
                                                 std::uint32_t size) = 0;
  virtual std::uint32_t GetSystemFirmwareTable(std::uint32_t provider, std::uint32_t tableId,
                                               std::uint8_t* buffer, std::uint32_t size) = 0;

  // --- Physical memory ------------------------------------------------------------------
  // GetSystemInfo's page size and allocation granularity.
  virtual MemoryGranularity GetSystemInfo() = 0;
  // NtOpenSection through the entry point bound from the native library (null when unbound),
  // with the object name and the attributes of an OBJECT_ATTRIBUTES block of length 24.
  virtual std::uint32_t NtOpenSection(void* entryPoint, Handle& section, std::uint32_t desiredAccess,
                                      const std::string& objectName, std::uint32_t attributes) = 0;
  virtual std::uint32_t NtClose(void* entryPoint, Handle handle) = 0;
  // MapViewOfFile of a section: a read-only view of `bytes` bytes at the 64-bit offset, or
  // null. Every view is released with UnmapViewOfFile.
  virtual const std::uint8_t* MapViewOfFile(Handle section, std::uint32_t access, std::uint32_t offsetHigh,
                                            std::uint32_t offsetLow, std::uint32_t bytes) = 0;
  virtual bool UnmapViewOfFile(const std::uint8_t* view) = 0;
  // Windows 9x keeps the first megabyte of physical memory at the same linear addresses in
  // every process: copy from there, false when the copy faulted.
  virtual bool ReadLinearMemory(std::uint32_t address, std::uint8_t* destination, std::uint32_t size) = 0;

  // --- Temporary files and child processes ----------------------------------------------
  virtual std::string GetTempPath() = 0;  // with its trailing separator; empty on failure
  virtual std::string GetEnvironmentVariable(const std::string& name) = 0;  // empty when unset
  virtual bool DirectoryExists(const std::string& path) = 0;
  virtual bool CreateDirectory(const std::string& path) = 0;
  virtual bool RemoveDirectory(const std::string& path) = 0;
  // CreateFile(CREATE_ALWAYS) and WriteFile: the number of bytes written, 0 when the file
  // could not be created.
  virtual std::uint32_t WriteNewFile(const std::string& path, const std::vector<std::uint8_t>& data) = 0;
  // CreateFile(OPEN_EXISTING, shared read and write) and ReadFile of at most `maxBytes`;
  // false when the file cannot be opened.
  virtual bool ReadWholeFile(const std::string& path, std::uint32_t maxBytes, std::vector<std::uint8_t>& data) = 0;
  virtual bool DeleteFile(const std::string& path) = 0;
  // CreateProcess of a command line with a hidden window, the creation flags given and no
  // inherited handles.
  virtual bool CreateProcess(const std::string& commandLine, std::uint32_t creationFlags,
                             ProcessInformation& info) = 0;
  virtual std::uint32_t WaitForSingleObject(Handle handle, std::uint32_t milliseconds) = 0;
  virtual bool TerminateProcess(Handle process, std::uint32_t exitCode) = 0;
  virtual bool CloseHandle(Handle handle) = 0;
  // Whether a 16-bit DOS program can run here. Only 32-bit Windows has the virtual DOS
  // machine: a 64-bit process, or a 32-bit one under WOW64, would write such a program and
  // start a command interpreter for nothing.
  virtual bool RunsDosPrograms() = 0;
};

class LinuxPlatform;
class Win32Platform;
std::unique_ptr<FirmwareApi> MakeLinuxFirmwareApi(LinuxPlatform& owner);
std::unique_ptr<FirmwareApi> MakeWin32FirmwareApi(Win32Platform& owner);

}  // namespace kyvex::platform
