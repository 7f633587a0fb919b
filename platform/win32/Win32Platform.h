// The real Windows calls behind the platform layer, close to one-to-one. Strings come from
// the wide-character APIs and are converted to UTF-8.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "platform/Platform.h"

namespace kyvex::platform {

class Win32Platform : public Platform {
 public:
  Win32Platform();
  ~Win32Platform() override;

  ProcessorApi& Processor() override;
  FirmwareApi& Firmware() override;
  DeviceApi& Devices() override;

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

 private:
  std::unique_ptr<ProcessorApi> processor_;
  std::unique_ptr<FirmwareApi> firmware_;
  std::unique_ptr<DeviceApi> devices_;
};

// The SIDs of a token's group list, read through `query`, which has the shape of
// GetTokenInformation(token, TokenGroups, buffer, size, &needed). The list is asked for again
// with the size the system names for as long as the buffer is too small: a member of many
// domain groups has a list of several kilobytes.
using TokenInformationQuery = std::function<bool(void* buffer, std::uint32_t size, std::uint32_t& needed)>;
std::optional<std::vector<std::vector<std::uint8_t>>> ReadTokenGroupSids(const TokenInformationQuery& query);

// UTF-8 <-> the wide strings of the Windows APIs.
std::wstring Widen(const std::string& s);
std::string Narrow(const wchar_t* s, std::size_t n);
std::string Narrow(const std::wstring& s);

}  // namespace kyvex::platform
