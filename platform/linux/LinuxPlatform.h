// The Linux translation layer: answers the Windows-shaped platform calls from Linux sources
// (procfs, sysfs, /etc, /dev). Every file it reads is taken below a root folder, "/" on a
// running system, so that tests can point it at a fixture tree.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "platform/Platform.h"

namespace kyvex::platform {

class LinuxPlatform : public Platform {
 public:
  explicit LinuxPlatform(std::string root = "/");
  ~LinuxPlatform() override;

  ProcessorApi& Processor() override;
  FirmwareApi& Firmware() override;
  DeviceApi& Devices() override;

  const std::string& Root() const { return root_; }
  // The file `path` (absolute, e.g. "/proc/cpuinfo") below the root folder.
  std::string PathOf(const std::string& path) const;
  // The whole contents of a file below the root; empty when it cannot be read.
  std::string ReadTextFile(const std::string& path) const;

  std::uint32_t GetLastError() override;
  bool GetVersionEx(OSVersionInfo& info, bool extended) override;
  SystemTime GetLocalTime() override;
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
  std::string GetModuleFileName() override;
  std::uint32_t GetFileVersionInfoSize(const std::string& path) override;
  bool GetFileVersionInfo(const std::string& path, std::vector<std::uint8_t>& block) override;
  bool VerQueryRoot(const std::vector<std::uint8_t>& block, FixedFileInfo& info) override;

  // The values of the registry keys this layer answers, as (value name -> value); empty when
  // the key is not one of them. Exposed for tests.
  std::map<std::string, RegistryValue> RegistryKey(RegRoot root, const std::string& subKey);

  // The processors of /proc/cpuinfo as the CentralProcessor\N keys describe them.
  struct CpuInfoEntry {
    std::string vendor, modelName;
    int family = 0, model = 0, stepping = 0;
    std::uint32_t mhz = 0;
  };
  std::vector<CpuInfoEntry> ReadCpuInfo() const;

  // PRETTY_NAME of os-release (/etc/os-release, else /usr/lib/os-release), else NAME,
  // else "Linux".
  std::string OsPrettyName() const;

 private:
  void SetLastError(std::uint32_t e);
  std::string root_;
  std::unique_ptr<ProcessorApi> processor_;
  std::unique_ptr<FirmwareApi> firmware_;
  std::unique_ptr<DeviceApi> devices_;
};

}  // namespace kyvex::platform
