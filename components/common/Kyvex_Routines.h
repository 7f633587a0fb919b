// Facts and services of the operating system that are not hardware data themselves: a
// readable description of the running system, machine and user names, administrator rights,
// the virtual-machine tests, and two small helpers. Free routines; the values computed once
// at start-up form the PlatformSnapshot.
#pragma once

#include <cstdint>
#include <string>

#include "platform/Platform.h"

namespace kyvex {

// Kind of operating system; 0 when none of the known kinds matches.
using TOSKind = std::uint8_t;
constexpr TOSKind kOSKindCount = 15;

// The name text of each kind (empty for kind 0, whose name comes from the platform).
const char* OSKindName(TOSKind kind);

// NT product type: 0 none or unknown, 1 workstation, 2 server, 3 advanced or enterprise
// server, 4 datacenter server, 5 web server.
using TNTProductType = std::uint8_t;

// NT suites: bit k is bit k of the platform's suite mask, k = 0..11.
using TNTSuites = std::uint16_t;
constexpr TNTSuites kSuiteSmallBusiness = 0x1;
constexpr TNTSuites kSuiteEnterprise = 0x2;
constexpr TNTSuites kSuiteBackOffice = 0x4;
constexpr TNTSuites kSuiteCommunications = 0x8;
constexpr TNTSuites kSuiteTerminal = 0x10;
constexpr TNTSuites kSuiteSmallBusinessRestricted = 0x20;
constexpr TNTSuites kSuiteEmbeddedNT = 0x40;
constexpr TNTSuites kSuiteDatacenter = 0x80;
constexpr TNTSuites kSuiteSingleUserTS = 0x100;
constexpr TNTSuites kSuitePersonal = 0x200;
constexpr TNTSuites kSuiteBlade = 0x400;
constexpr TNTSuites kSuiteEmbeddedRestricted = 0x800;

// The values taken once at program start.
struct TPlatformSnapshot {
  TOSKind OSKind = 0;
  std::string OSName;
  TNTProductType ProductType = 0;
  TNTSuites Suites = 0;
  std::string CSDVersion;  // trimmed, with the Service Pack 6a rule
  std::uint32_t PlatformId = 0;
  std::int32_t MajorVersion = 0;
  std::int32_t MinorVersion = 0;
  std::int32_t BuildNumber = 0;  // low 16 bits
  std::string MachineName;       // upper case (ASCII letters)

  // The plain version record (OSVERSIONINFOA) as read at start; VersionRecordRead is false
  // when that call failed.
  bool VersionRecordRead = false;
  platform::OSVersionInfo VersionRecord;
};

// The snapshot of the current platform: taken on first use and again whenever the current
// platform changes (tests), never refreshed otherwise.
const TPlatformSnapshot& PlatformSnapshot();

TOSKind GetOSInfo(std::uint32_t& PlatformId, std::uint32_t& Major, std::uint32_t& Minor,
                  std::string& OSName, TNTProductType& ProductType, TNTSuites& Suites,
                  std::string& CSDVersion, std::uint32_t& BuildNumber);
TOSKind GetOSName(std::uint32_t PlatformId, std::uint8_t ProductTypeByte, std::uint32_t Major,
                  std::uint32_t Minor, const std::string& CSDVersion, std::uint32_t BuildNumber,
                  std::string& OSName);
std::string GetOSEdition(TOSKind Kind, TNTProductType ProductType, TNTSuites Suites);

// The running system's own product name ("Microsoft Windows 7", "Debian GNU/Linux 12
// (bookworm)"), never empty: the name of the systems the kinds above do not know.
std::string GetPlatformProductName(std::uint32_t PlatformId);

std::string GetMachineName();
std::string GetCurrentUserName();
std::string GetDefaultLogonUser();
bool IsAdmin();
bool IsVMWare();
bool IsVirtualPC();
bool IsBitSet(std::uint32_t Value, std::uint8_t Bit);
std::string StripBlanks(const std::string& S);

}  // namespace kyvex
