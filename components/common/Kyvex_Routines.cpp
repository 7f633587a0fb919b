#include "common/Kyvex_Routines.h"

#include <optional>
#include <string_view>

#include "platform/Text.h"

namespace kyvex {

using platform::Current;
using platform::RegRoot;

namespace {

constexpr const char* kOSKindNames[kOSKindCount] = {
    "",
    "Windows NT 3.x",
    "Windows 95",
    "Windows NT 4.x",
    "Windows 95 OSR 1",
    "Windows 95 OSR 2",
    "Windows 95 OSR 2.5",
    "Windows 98",
    "Windows 98 Second Edition",
    "Windows Millenium Edition",
    "Windows 2000",
    "Windows XP",
    "Windows XP64",
    "Windows Server 2003",
    "Windows Vista",
};

struct EditionRow {
  TOSKind kind;
  TNTProductType productType;
  const char* edition;
};

// The versions after Vista share its kind (every major 6), but not its name: a client and a
// server of one version have names of their own.
struct VersionName {
  std::uint32_t minor;
  const char* client;  // product type byte 1 (VER_NT_WORKSTATION)
  const char* server;
};
constexpr VersionName kVersion6Names[] = {
    {1, "Windows 7", "Windows Server 2008 R2"},
    {2, "Windows 8", "Windows Server 2012"},
    {3, "Windows 8.1", "Windows Server 2012 R2"},
};

// Windows 11 kept version 10.0 and the registry's product name of Windows 10; its builds
// start here.
constexpr std::uint32_t kFirstWindows11Build = 22000;

// Kinds 11 and 12 (XP, XP64) do not depend on the product type; see GetOSEdition.
constexpr EditionRow kEditions[] = {
    {1, 1, "Workstation"},         {1, 2, "Server"},             {1, 3, "Enterprise Server"},
    {3, 1, "Workstation"},         {3, 2, "Server"},             {3, 3, "Enterprise Server"},
    {10, 1, "Professional"},       {10, 2, "Server"},            {10, 3, "Advanced Server"},
    {10, 4, "Datacenter Server"},  {13, 2, "Standard Edition"},  {13, 3, "Enterprise Edition"},
    {13, 4, "Datacenter Edition"}, {13, 5, "Web Edition"},
};

std::optional<std::string> RegString(RegRoot root, const std::string& key, const std::string& name) {
  auto v = Current().RegQueryValue(root, key, name);
  if (!v || (v->type != platform::kRegSz && v->type != platform::kRegExpandSz)) return std::nullopt;
  return text::Sanitize(v->text);
}

TPlatformSnapshot TakeSnapshot() {
  TPlatformSnapshot s;
  std::uint32_t platformId = 0, major = 0, minor = 0, build = 0;
  s.OSKind = GetOSInfo(platformId, major, minor, s.OSName, s.ProductType, s.Suites, s.CSDVersion, build);
  s.PlatformId = platformId;
  s.MajorVersion = static_cast<std::int32_t>(major);
  s.MinorVersion = static_cast<std::int32_t>(minor);
  s.BuildNumber = static_cast<std::int32_t>(build);
  s.MachineName = text::AsciiUpper(GetMachineName());
  s.VersionRecordRead = Current().GetVersionEx(s.VersionRecord, false);
  if (!s.VersionRecordRead) s.VersionRecord = platform::OSVersionInfo{};
  return s;
}

std::optional<TPlatformSnapshot>& SnapshotSlot() {
  static std::optional<TPlatformSnapshot> slot;
  return slot;
}

void RetakeSnapshot() { SnapshotSlot() = TakeSnapshot(); }

// Each S-1-5-32-544 in binary form: revision 1, two sub-authorities, authority 5 (NT).
constexpr std::uint8_t kAdministratorsSid[] = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 0x02, 0, 0};

}  // namespace

const char* OSKindName(TOSKind kind) { return kind < kOSKindCount ? kOSKindNames[kind] : ""; }

const TPlatformSnapshot& PlatformSnapshot() {
  static const bool hooked = (platform::OnPlatformChanged(RetakeSnapshot), true);
  (void)hooked;
  auto& slot = SnapshotSlot();
  if (!slot) slot = TakeSnapshot();
  return *slot;
}

TOSKind GetOSName(std::uint32_t PlatformId, std::uint8_t ProductTypeByte, std::uint32_t Major,
                  std::uint32_t Minor, const std::string& CSDVersion, std::uint32_t BuildNumber,
                  std::string& OSName) {
  TOSKind kind = 0;
  if (PlatformId == platform::kPlatformWin32NT) {
    switch (Major) {
      case 3: kind = 1; break;
      case 4: kind = 3; break;
      case 5: kind = 10; break;
      case 6: kind = 14; break;
      default: kind = 0; break;
    }
    if (Major == 5 && Minor == 1) kind = 11;
    if (Major == 5 && Minor == 2) kind = ProductTypeByte == 1 ? 12 : 13;
  } else if (PlatformId != platform::kPlatformLinux) {
    // The Windows 9x rows. Linux is left out: its kernel versions (4.0, 4.10, ...) would
    // otherwise read as Windows 95 or 98.
    if (Major == 4 && Minor == 0) {
      kind = 2;
      if (CSDVersion == "A") kind = 4;
      else if (CSDVersion == "B") kind = 5;
      else if (CSDVersion == "C") kind = 6;
    } else if (Major == 4 && Minor == 10) {
      kind = (BuildNumber & 0xFFFF) == 2222 ? 8 : 7;
    } else if (Major == 4 && Minor == 90) {
      kind = 9;
    }
  }
  if (kind != 0) OSName = kOSKindNames[kind];
  if (kind == 14) {
    for (const auto& row : kVersion6Names)
      if (row.minor == Minor) OSName = ProductTypeByte == 1 ? row.client : row.server;
  }
  const std::string_view win10 = "Windows 10";
  if (PlatformId == platform::kPlatformWin32NT && Major == 10 && BuildNumber >= kFirstWindows11Build &&
      ProductTypeByte == 1 && OSName.compare(0, win10.size(), win10) == 0)
    OSName = "Windows 11" + OSName.substr(win10.size());
  return kind;
}

std::string GetPlatformProductName(std::uint32_t PlatformId) {
  const char* key = PlatformId == platform::kPlatformWin32NT || PlatformId == platform::kPlatformLinux
                        ? "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion"
                        : "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
  std::string name = text::TrimSanitized(RegString(RegRoot::LocalMachine, key, "ProductName").value_or(""));
  if (!name.empty()) return name;
  return PlatformId == platform::kPlatformLinux ? "Linux" : "Windows";
}

TOSKind GetOSInfo(std::uint32_t& PlatformId, std::uint32_t& Major, std::uint32_t& Minor,
                  std::string& OSName, TNTProductType& ProductType, TNTSuites& Suites,
                  std::string& CSDVersion, std::uint32_t& BuildNumber) {
  platform::OSVersionInfo v;
  if (!Current().GetVersionEx(v, true)) v = platform::OSVersionInfo{};
  PlatformId = v.dwPlatformId;
  CSDVersion = text::Sanitize(text::Trim(v.szCSDVersion.substr(0, 128)));
  Major = v.dwMajorVersion;
  Minor = v.dwMinorVersion;
  BuildNumber = v.dwBuildNumber & 0xFFFF;
  // Systems the kinds do not know keep the platform's own product name.
  OSName = GetPlatformProductName(PlatformId);
  const TOSKind kind = GetOSName(PlatformId, v.wProductType, Major, Minor, CSDVersion, BuildNumber, OSName);
  Suites = 0;
  ProductType = 0;
  if (PlatformId == platform::kPlatformWin32NT) {
    if (CSDVersion == "Service Pack 6") {
      auto installed = Current().RegQueryValue(
          RegRoot::LocalMachine, "\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Hotfix\\Q246009", "Installed");
      if (installed && installed->type == platform::kRegDword && installed->dword == 1)
        CSDVersion = "Service Pack 6a";
    }
    switch (v.wProductType) {
      case 1: ProductType = 1; break;
      case 2: ProductType = 3; break;  // domain controller
      case 3: ProductType = 2; break;
      default: break;
    }
    if (Major >= 5 && v.wProductType == 2) ProductType = 2;
    for (int bit = 0; bit <= 11; ++bit) {
      if (!(v.wSuiteMask & (1u << bit))) continue;
      Suites |= static_cast<TNTSuites>(1u << bit);
      if (bit == 1) ProductType = 3;
      if (bit == 7) ProductType = 4;
      if (bit == 10) ProductType = 5;
    }
  }
  return kind;
}

std::string GetOSEdition(TOSKind Kind, TNTProductType ProductType, TNTSuites Suites) {
  if (Kind == 11 || Kind == 12) return (Suites & kSuitePersonal) ? "Home Edition" : "Professional";
  for (const auto& row : kEditions)
    if (row.kind == Kind && row.productType == ProductType) return row.edition;
  return "";
}

std::string GetMachineName() {
  std::string name = Current().GetComputerName().value_or("");
  if (auto reg = RegString(RegRoot::LocalMachine,
                           "\\SYSTEM\\CurrentControlSet\\Control\\ComputerName\\ComputerName", "ComputerName"))
    name = *reg;
  return text::CutUtf8(text::Sanitize(name), 255);
}

std::string GetCurrentUserName() {
  return text::CutUtf8(text::Sanitize(Current().GetUserName().value_or("")), 255);
}

std::string GetDefaultLogonUser() {
  return RegString(RegRoot::LocalMachine, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon",
                   "AltDefaultUserName")
      .value_or("");
}

bool IsAdmin() {
  auto& p = Current();
  platform::Handle token = platform::kInvalidHandle;
  if (!p.OpenThreadToken(platform::kTokenQuery, true, token)) {
    if (p.GetLastError() != platform::kErrorNoToken) return false;
    if (!p.OpenProcessToken(platform::kTokenQuery, token)) return false;
  }
  auto groups = p.GetTokenGroupSids(token);
  p.CloseHandle(token);
  if (!groups) return false;
  const std::vector<std::uint8_t> admins(std::begin(kAdministratorsSid), std::end(kAdministratorsSid));
  for (const auto& sid : *groups)
    if (sid == admins) return true;
  return false;
}

bool IsVMWare() {
  platform::X86Registers r;
  r.eax = 0x564D5868;  // 'VMXh'
  r.ebx = 0;
  r.ecx = 0x0A;        // get version
  r.edx = 0x5658;      // port 'VX'
  return Current().ProbeVMwarePort(r) && r.ebx == 0x564D5868;
}

bool IsVirtualPC() {
  // Inside a Virtual PC guest the call 0F 3F 07 0B is handled and leaves EBX at 0; a real
  // processor raises an invalid-opcode fault, which the probe reports as false.
  platform::X86Registers r;
  r.eax = 1;
  r.ebx = 0;
  return Current().ProbeVirtualPCCall(r) && r.ebx == 0;
}

bool IsBitSet(std::uint32_t Value, std::uint8_t Bit) { return ((Value >> (Bit % 32)) & 1u) != 0; }

std::string StripBlanks(const std::string& S) {
  const std::string trimmed = text::Trim(S);
  std::string noSpaces;
  for (char c : trimmed)
    if (c != ' ') noSpaces += c;
  std::string out;
  for (std::size_t i = 0; i < noSpaces.size(); ++i) {
    if (noSpaces[i] == '\r' && i + 1 < noSpaces.size() && noSpaces[i + 1] == '\n') {
      ++i;
      continue;
    }
    out += noSpaces[i];
  }
  return out;
}

}  // namespace kyvex
