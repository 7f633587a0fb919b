#include "platform/fake/FakePlatform.h"

#include "platform/Text.h"
#include "platform/VersionBlock.h"

namespace kyvex::platform {
namespace {
constexpr Handle kFakeToken = 0x7001;

std::string NormalizeKey(const std::string& key) {
  std::string k = key;
  while (!k.empty() && k.front() == '\\') k.erase(k.begin());
  return text::AsciiUpper(k);
}
}  // namespace

FakePlatform::FakePlatform() {
  version.dwPlatformId = kPlatformWin32NT;
  version.dwMajorVersion = 5;
  version.dwMinorVersion = 1;
  version.dwBuildNumber = 2600;
  version.szCSDVersion = "Service Pack 3";
  version.wProductType = 1;
  version.wSuiteMask = 0x100;
}

std::string FakePlatform::KeyOf(RegRoot root, const std::string& key) {
  return (root == RegRoot::LocalMachine ? "HKLM\\" : "HKCU\\") + NormalizeKey(key);
}

bool FakePlatform::GetVersionEx(OSVersionInfo& info, bool extended) {
  if (versionFails || (extended && extendedVersionFails)) return false;
  info = version;
  if (!extended) {
    info.wServicePackMajor = info.wServicePackMinor = info.wSuiteMask = 0;
    info.wProductType = 0;
  }
  return true;
}

void FakePlatform::AddRegistryKey(RegRoot root, const std::string& key) { keys_.insert(KeyOf(root, key)); }

void FakePlatform::SetRegistryString(RegRoot root, const std::string& key, const std::string& name,
                                     const std::string& value) {
  AddRegistryKey(root, key);
  RegistryValue v;
  v.type = kRegSz;
  v.text = value;
  v.data.assign(value.begin(), value.end());
  v.data.push_back(0);
  registry_[KeyOf(root, key)][text::AsciiUpper(name)] = v;
}

void FakePlatform::SetRegistryDword(RegRoot root, const std::string& key, const std::string& name,
                                    std::uint32_t value) {
  AddRegistryKey(root, key);
  RegistryValue v;
  v.type = kRegDword;
  v.dword = value;
  for (int i = 0; i < 4; ++i) v.data.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
  registry_[KeyOf(root, key)][text::AsciiUpper(name)] = v;
}

bool FakePlatform::RegKeyExists(RegRoot root, const std::string& subKey) {
  return keys_.count(KeyOf(root, subKey)) != 0;
}

std::optional<RegistryValue> FakePlatform::RegQueryValue(RegRoot root, const std::string& subKey,
                                                         const std::string& valueName) {
  auto key = registry_.find(KeyOf(root, subKey));
  if (key == registry_.end()) return std::nullopt;
  auto value = key->second.find(text::AsciiUpper(valueName));
  if (value == key->second.end()) return std::nullopt;
  return value->second;
}

std::optional<std::string> FakePlatform::GetComputerName() { return computerName; }
std::optional<std::string> FakePlatform::GetUserName() { return userName; }

bool FakePlatform::OpenThreadToken(std::uint32_t, bool, Handle& token) {
  if (threadTokenError != 0) {
    lastError = threadTokenError;
    return false;
  }
  token = kFakeToken;
  ++openTokens;
  return true;
}

bool FakePlatform::OpenProcessToken(std::uint32_t, Handle& token) {
  if (!processTokenOpens) {
    lastError = kErrorAccessDenied;
    return false;
  }
  token = kFakeToken;
  ++openTokens;
  return true;
}

std::optional<std::vector<std::vector<std::uint8_t>>> FakePlatform::GetTokenGroupSids(Handle token) {
  if (token != kFakeToken) return std::nullopt;
  return groupSids;
}

bool FakePlatform::CloseHandle(Handle h) {
  if (h == kFakeToken && openTokens > 0) {
    --openTokens;
    return true;
  }
  lastError = kErrorInvalidHandle;
  return false;
}

bool FakePlatform::ProbeVMwarePort(X86Registers& regs) {
  vmwareCalls.push_back(regs);
  if (!vmwareReply) return false;
  regs = *vmwareReply;
  return true;
}

bool FakePlatform::ProbeVirtualPCCall(X86Registers& regs) {
  virtualPCCalls.push_back(regs);
  if (!virtualPCReply) return false;
  regs = *virtualPCReply;
  return true;
}

Handle FakePlatform::GetModuleHandle(const std::string& name) {
  auto it = loadedModules.find(text::AsciiUpper(name));
  return it == loadedModules.end() ? kInvalidHandle : it->second;
}

Handle FakePlatform::LoadLibrary(const std::string& name) {
  ++loadLibraryCalls;
  const std::string key = text::AsciiUpper(name);
  auto it = loadableModules.find(key);
  if (it == loadableModules.end()) {
    lastError = kErrorFileNotFound;
    return kInvalidHandle;
  }
  loadedModules[key] = it->second;
  return it->second;
}

void* FakePlatform::GetProcAddress(Handle module, const std::string& name) {
  auto it = exports.find(module);
  if (it == exports.end() || !it->second.count(name)) return nullptr;
  // Any distinct non-null address will do: the components never call through a fake.
  return const_cast<std::string*>(&*it->second.find(name));
}

bool FakePlatform::FreeLibrary(Handle module) {
  if (unfreeable.count(module)) return false;
  freedModules.push_back(module);
  for (auto it = loadedModules.begin(); it != loadedModules.end();)
    it = it->second == module ? loadedModules.erase(it) : std::next(it);
  return true;
}

std::uint32_t FakePlatform::GetFileVersionInfoSize(const std::string& path) {
  auto it = versionBlocks.find(path);
  return it == versionBlocks.end() ? 0 : static_cast<std::uint32_t>(it->second.size());
}

bool FakePlatform::GetFileVersionInfo(const std::string& path, std::vector<std::uint8_t>& block) {
  auto it = versionBlocks.find(path);
  if (it == versionBlocks.end()) return false;
  block = it->second;
  return true;
}

bool FakePlatform::VerQueryRoot(const std::vector<std::uint8_t>& block, FixedFileInfo& info) {
  return QueryVersionRoot(block, info);
}

}  // namespace kyvex::platform
