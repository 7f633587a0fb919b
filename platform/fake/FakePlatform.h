// A platform that answers from scripted data, so that every component can run its full
// refresh in a test without touching the machine. Everything is public: a test sets what
// it needs and reads back what the components asked.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "platform/fake/FakeDevice.h"
#include "platform/fake/FakeFirmware.h"
#include "platform/fake/FakeProcessor.h"

namespace kyvex::platform {

class FakePlatform : public Platform {
 public:
  FakePlatform();

  // The scripted service areas.
  FakeProcessor processor;
  FakeFirmware firmware;
  FakeDevice devices;
  ProcessorApi& Processor() override { return processor; }
  FirmwareApi& Firmware() override { return firmware; }
  DeviceApi& Devices() override { return devices; }

  // --- Scripted answers -----------------------------------------------------------------
  OSVersionInfo version;            // what GetVersionEx answers
  bool versionFails = false;        // both calls fail
  bool extendedVersionFails = false;  // only the 156-byte call fails (Windows 95, NT4 < SP6)

  // Registry: key path (case-insensitive, without leading backslash) -> values by name.
  void SetRegistryString(RegRoot root, const std::string& key, const std::string& name,
                         const std::string& value);
  void SetRegistryDword(RegRoot root, const std::string& key, const std::string& name,
                        std::uint32_t value);
  void AddRegistryKey(RegRoot root, const std::string& key);

  SystemTime localTime{2026, 12, 4, 10, 14, 30, 15, 250};

  std::optional<std::string> computerName = std::string("FAKEHOST");
  std::optional<std::string> userName = std::string("tester");

  // Tokens: no thread token (kErrorNoToken) unless threadTokenError is 0.
  std::uint32_t threadTokenError = kErrorNoToken;
  bool processTokenOpens = true;
  std::optional<std::vector<std::vector<std::uint8_t>>> groupSids;  // nothing: the query fails
  int openTokens = 0;  // tokens opened and not yet closed

  // Instruction probes: nothing means the processor faults.
  std::optional<X86Registers> vmwareReply;
  std::optional<X86Registers> virtualPCReply;
  std::vector<X86Registers> vmwareCalls, virtualPCCalls;

  // Modules: name (upper case) -> handle; exports per handle.
  std::map<std::string, Handle> loadedModules;     // already in the process
  std::map<std::string, Handle> loadableModules;   // LoadLibrary can bring these in
  std::map<Handle, std::set<std::string>> exports;
  std::set<Handle> unfreeable;                     // FreeLibrary fails for these
  std::vector<Handle> freedModules;
  int loadLibraryCalls = 0;

  std::string moduleFileName = "C:\\Program Files\\Kyvex\\vorlan-install.exe";
  std::map<std::string, std::vector<std::uint8_t>> versionBlocks;  // by path

  std::uint32_t lastError = 0;

  // --- Platform -------------------------------------------------------------------------
  std::uint32_t GetLastError() override { return lastError; }
  bool GetVersionEx(OSVersionInfo& info, bool extended) override;
  SystemTime GetLocalTime() override { return localTime; }
  bool RegKeyExists(RegRoot root, const std::string& subKey) override;
  std::optional<RegistryValue> RegQueryValue(RegRoot root, const std::string& subKey,
                                             const std::string& valueName) override;
  std::optional<std::string> GetComputerName() override;
  std::optional<std::string> GetUserName() override;
  bool OpenThreadToken(std::uint32_t access, bool openAsSelf, Handle& token) override;
  bool OpenProcessToken(std::uint32_t access, Handle& token) override;
  std::optional<std::vector<std::vector<std::uint8_t>>> GetTokenGroupSids(Handle token) override;
  bool CloseHandle(Handle h) override;
  bool ProbeVMwarePort(X86Registers& regs) override;
  bool ProbeVirtualPCCall(X86Registers& regs) override;
  Handle GetModuleHandle(const std::string& name) override;
  Handle LoadLibrary(const std::string& name) override;
  void* GetProcAddress(Handle module, const std::string& name) override;
  bool FreeLibrary(Handle module) override;
  std::string GetModuleFileName() override { return moduleFileName; }
  std::uint32_t GetFileVersionInfoSize(const std::string& path) override;
  bool GetFileVersionInfo(const std::string& path, std::vector<std::uint8_t>& block) override;
  bool VerQueryRoot(const std::vector<std::uint8_t>& block, FixedFileInfo& info) override;

 private:
  static std::string KeyOf(RegRoot root, const std::string& key);
  std::map<std::string, std::map<std::string, RegistryValue>> registry_;
  std::set<std::string> keys_;
};

}  // namespace kyvex::platform
