// What the command and the window show about this machine, as data, text and JSON. The
// JSON keys are the names the components use, so that output maps one-to-one to the
// library and to the storage file.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "cpu/KSI_CPUHypervisor.h"

namespace kyvex::report {

struct SystemSummary {
  std::string OSName;
  std::string Edition;
  int OSKind = 0;
  std::uint32_t Platform = 0;
  std::int32_t MajorVersion = 0, MinorVersion = 0, BuildNumber = 0;
  std::string CSDVersion;
  int ProductType = 0;
  std::uint16_t Suites = 0;
  std::string MachineName;
  std::string Account;       // the user running the program
  std::string LoggedUser;    // the default logon user, else the current user
  std::string AccountType;   // "Admin" or "NON-Admin"
  bool VMWare = false;
  bool VPC = false;
  // What CPUID says beside the two probes (processor 0's leaves; every processor of a
  // virtual machine answers them alike).
  THypervisorInfo Hypervisor;
};

// The system summary of the current platform.
SystemSummary CollectSystemSummary();

nlohmann::ordered_json ToJson(const SystemSummary& s);

// One "Label: value" line per item, labels aligned.
std::string ToText(const SystemSummary& s);

// "Windows XP Professional", "Debian GNU/Linux 12 (bookworm)": the name and, when there is
// one, the edition.
std::string FullOSName(const SystemSummary& s);

// "5.1.2600 Service Pack 3"
std::string VersionText(const SystemSummary& s);

// The probes' answer ("VMware", "Virtual PC"), then the hypervisor CPUID names where it is
// another ("Virtual PC; CPUID: Microsoft Hyper-V"); "none detected" where neither finds one.
std::string VirtualMachineText(const SystemSummary& s);

// Lines of (label, value) pairs, for text output and the window's pages alike.
using Lines = std::vector<std::pair<std::string, std::string>>;
Lines SummaryLines(const SystemSummary& s);
std::string FormatLines(const Lines& lines);

// Bytes as hardware or firmware gave them, as UTF-8: what is not valid UTF-8 is read as
// Windows-1252, so that nothing is lost and JSON stays valid.
std::string Readable(const std::string& s);
// For text output, also control characters (a brand string may hold zero bytes) become spaces:
// they would move the cursor.
std::string Shown(const std::string& s);

// A titled group of lines; a component's report is a list of them.
struct Section {
  std::string Title;
  Lines Items;
};
using Sections = std::vector<Section>;
// Each section as its title, then its lines indented.
std::string FormatSections(const Sections& sections);

// The whole report, built up by the components in turn: the JSON or the text, whichever is
// printed (AsJson), not both.
struct FullReport {
  bool AsJson = false;
  nlohmann::ordered_json Json = nlohmann::ordered_json::object();
  std::string Text;
};

}  // namespace kyvex::report
