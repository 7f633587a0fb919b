// What the command and the window show about this machine, as data, text and JSON. The
// JSON keys are the names the components use, so that output maps one-to-one to the
// library and to the storage file.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <functional>
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

// A value for the JSON. Texts from outside were made valid where they were captured; this is
// the same conversion again (which changes nothing there) for whatever reaches a report by
// another way, such as a file name given on the command line.
std::string Readable(const std::string& s);
// For a line of text output: also the tabs and line feeds a multi-line value keeps become
// spaces, as they would break the line's layout.
std::string Shown(const std::string& s);

// JSON as printed: indented by two. Every text was made valid UTF-8 where it was captured;
// should one have escaped that, it is printed with U+FFFD rather than failing the command.
std::string JsonText(const nlohmann::ordered_json& j);
// Writes `value` as JsonText formats it where it stands `depth` levels deep in a document, so
// that a long document can be written a part at a time and read the same.
void WriteNestedJson(std::ostream& out, const nlohmann::ordered_json& value, int depth);
// Writes an array of `count` elements standing `depth` levels deep, as JsonText lays it out,
// asking `element` for each in turn: the elements are never held together.
void WriteNestedJsonArray(std::ostream& out, std::size_t count, int depth,
                          const std::function<nlohmann::ordered_json(std::size_t)>& element);

// Writes a document's top-level object a member at a time, as JsonText lays it out.
class JsonObjectWriter {
 public:
  explicit JsonObjectWriter(std::ostream& out) : out_(out) {}
  // Starts the member `key`: its value is written next, one level deep.
  std::ostream& Key(const std::string& key);
  void Member(const std::string& key, const nlohmann::ordered_json& value);
  // Closes the object (no line break after it).
  void End();

 private:
  std::ostream& out_;
  bool first_ = true;
};

// A drive letter as text: a letter loaded from a storage file may be any byte of the system's
// code page (Windows-1252), which alone is not UTF-8; empty for none.
std::string LetterText(char letter);

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
