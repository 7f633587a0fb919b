// Scripted answers for the platform's firmware tables, physical memory, temporary files and
// child processes. Physical memory is a sparse image; the firmware-table service answers
// from scripted tables; the DOS subsystem "runs" the segment-dump program it is handed by
// writing the segment the program names from the same image, so the whole dump round trip
// is exercised.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/FirmwareApi.h"

namespace kyvex::platform {

class FakeFirmware : public FirmwareApi {
 public:
  // --- Scripted answers -----------------------------------------------------------------
  bool tableServicePresent = false;
  // provider -> table id -> contents; EnumSystemFirmwareTables lists the ids in map order
  // unless enumOrder is set.
  std::map<std::uint32_t, std::map<std::uint32_t, std::vector<std::uint8_t>>> firmwareTables;
  std::vector<std::uint32_t> enumOrder;

  // Physical memory: blocks by start address; bytes no block covers read as 0xFF (open bus).
  std::map<std::uint32_t, std::vector<std::uint8_t>> physicalMemory;
  void SetPhysical(std::uint32_t address, const std::vector<std::uint8_t>& bytes);
  std::uint8_t PhysicalByte(std::uint64_t address) const;

  MemoryGranularity granularity;
  std::uint32_t sectionStatus = kStatusSuccess;  // what NtOpenSection answers
  bool mapFails = false;
  bool linearReadFaults = false;  // the Windows 9x copy faults

  std::string tempPath = "C:\\TEMP\\";
  std::map<std::string, std::string> environment{{"COMSPEC", "C:\\WINDOWS\\system32\\cmd.exe"}};
  std::set<std::string> directories;                          // upper case
  std::map<std::string, std::vector<std::uint8_t>> files;     // upper case path -> contents
  bool createDirectoryFails = false;
  bool createProcessFails = false;
  bool childHangs = false;      // the child never ends: every wait times out
  bool childWritesNothing = false;
  bool dosPrograms = true;  // false: a 64-bit system, or WOW64

  // --- What the components asked ----------------------------------------------------------
  std::vector<std::string> commandLines;
  std::vector<std::uint32_t> creationFlags;
  std::vector<std::uint32_t> waitTimeouts;
  std::vector<std::uint32_t> mappedOffsets;
  std::vector<std::uint32_t> linearReads;
  int terminated = 0;
  int openHandles = 0;  // sections, processes and threads not yet closed
  int openViews = 0;
  int firmwareTableCalls = 0;
  std::vector<std::uint32_t> providersAsked;  // the provider of every service call, in order
  std::vector<std::string> createdDirectories;
  std::vector<std::string> writtenFiles;  // every file created, also those deleted since

  // --- FirmwareApi ------------------------------------------------------------------------
  bool BindFirmwareTableService() override { return tableServicePresent; }
  std::uint32_t EnumSystemFirmwareTables(std::uint32_t provider, std::uint8_t* buffer, std::uint32_t size) override;
  std::uint32_t GetSystemFirmwareTable(std::uint32_t provider, std::uint32_t tableId, std::uint8_t* buffer,
                                       std::uint32_t size) override;
  MemoryGranularity GetSystemInfo() override { return granularity; }
  std::uint32_t NtOpenSection(void* entryPoint, Handle& section, std::uint32_t desiredAccess,
                              const std::string& objectName, std::uint32_t attributes) override;
  std::uint32_t NtClose(void* entryPoint, Handle handle) override;
  const std::uint8_t* MapViewOfFile(Handle section, std::uint32_t access, std::uint32_t offsetHigh,
                                    std::uint32_t offsetLow, std::uint32_t bytes) override;
  bool UnmapViewOfFile(const std::uint8_t* view) override;
  bool ReadLinearMemory(std::uint32_t address, std::uint8_t* destination, std::uint32_t size) override;
  std::string GetTempPath() override { return tempPath; }
  std::string GetEnvironmentVariable(const std::string& name) override;
  bool DirectoryExists(const std::string& path) override;
  bool CreateDirectory(const std::string& path) override;
  bool RemoveDirectory(const std::string& path) override;
  std::uint32_t WriteNewFile(const std::string& path, const std::vector<std::uint8_t>& data) override;
  bool ReadWholeFile(const std::string& path, std::uint32_t maxBytes, std::vector<std::uint8_t>& data) override;
  bool DeleteFile(const std::string& path) override;
  bool CreateProcess(const std::string& commandLine, std::uint32_t flags, ProcessInformation& info) override;
  std::uint32_t WaitForSingleObject(Handle handle, std::uint32_t milliseconds) override;
  bool TerminateProcess(Handle process, std::uint32_t exitCode) override;
  bool CloseHandle(Handle handle) override;
  bool RunsDosPrograms() override { return dosPrograms; }

  // The last entry point NtOpenSection was called through.
  void* sectionEntryPoint = nullptr;
  std::string sectionName;
  std::uint32_t sectionAccess = 0, sectionAttributes = 0;

 private:
  void RunDumper(const std::string& commandLine);
  std::set<Handle> handles_;
  Handle nextHandle_ = 0x5000;
  std::map<const std::uint8_t*, std::vector<std::uint8_t>> views_;
};

}  // namespace kyvex::platform
