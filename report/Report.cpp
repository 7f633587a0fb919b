#include "report/Report.h"

#include <ostream>

#include <algorithm>

#include "common/Kyvex_Routines.h"
#include "cpu/KSI_CPU.h"
#include "platform/Text.h"

namespace kyvex::report {

std::string Readable(const std::string& s) { return text::Sanitize(s, text::TextLines::Multi); }

std::string Shown(const std::string& s) {
  std::string r = Readable(s);
  for (char& c : r)
    if (c == '\t' || c == '\n') c = ' ';
  return r;
}

std::string JsonText(const nlohmann::ordered_json& j) {
  return j.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

void WriteNestedJson(std::ostream& out, const nlohmann::ordered_json& value, int depth) {
  // The library's own writer, told where the value stands: the text is made indented once,
  // instead of being made and then copied line by line to indent it.
  std::string text;
  nlohmann::detail::serializer<nlohmann::ordered_json> writer(nlohmann::detail::output_adapter<char, std::string>(text),
                                                               ' ', nlohmann::ordered_json::error_handler_t::replace);
  writer.dump(value, true, false, 2, static_cast<unsigned int>(depth) * 2);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
}

void WriteNestedJsonArray(std::ostream& out, std::size_t count, int depth,
                          const std::function<nlohmann::ordered_json(std::size_t)>& element) {
  if (count == 0) {
    out << "[]";
    return;
  }
  const std::string indent(static_cast<std::size_t>(depth) * 2, ' ');
  out << "[";
  for (std::size_t i = 0; i < count; ++i) {
    out << (i == 0 ? "\n" : ",\n") << indent << "  ";
    WriteNestedJson(out, element(i), depth + 1);
  }
  out << "\n" << indent << "]";
}

std::ostream& JsonObjectWriter::Key(const std::string& key) {
  out_ << (first_ ? "{\n  " : ",\n  ") << nlohmann::ordered_json(key).dump() << ": ";
  first_ = false;
  return out_;
}

void JsonObjectWriter::Member(const std::string& key, const nlohmann::ordered_json& value) {
  WriteNestedJson(Key(key), value, 1);
}

void JsonObjectWriter::End() { out_ << (first_ ? "{}" : "\n}"); }

std::string LetterText(char letter) {
  if (!letter) return {};
  const char32_t c = text::Cp1252ToUnicode(static_cast<unsigned char>(letter));
  std::string utf8;
  text::AppendUtf8(utf8, c);
  return text::Sanitize(utf8);
}

SystemSummary CollectSystemSummary() {
  const TPlatformSnapshot& snap = PlatformSnapshot();
  SystemSummary s;
  s.OSName = snap.OSName;
  s.Edition = GetOSEdition(snap.OSKind, snap.ProductType, snap.Suites);
  s.OSKind = snap.OSKind;
  s.Platform = snap.PlatformId;
  s.MajorVersion = snap.MajorVersion;
  s.MinorVersion = snap.MinorVersion;
  s.BuildNumber = snap.BuildNumber;
  s.CSDVersion = snap.CSDVersion;
  s.ProductType = snap.ProductType;
  s.Suites = snap.Suites;
  s.MachineName = snap.MachineName;
  s.Account = GetCurrentUserName();
  s.LoggedUser = GetDefaultLogonUser();
  if (s.LoggedUser.empty()) s.LoggedUser = s.Account;
  s.AccountType = IsAdmin() ? "Admin" : "NON-Admin";
  s.VMWare = IsVMWare();
  s.VPC = IsVirtualPC();
  // Every processor of a virtual machine reports the same hypervisor: the one this thread
  // runs on answers for all.
  if (const platform::CpuidLeaves leaves = ReadProcessorLeaves(); leaves.hasCpuid)
    s.Hypervisor = DecodeHypervisor(leaves);
  return s;
}

nlohmann::ordered_json ToJson(const SystemSummary& s) {
  return {
      {"OSName", s.OSName},
      {"Edition", s.Edition},
      {"OSKind", s.OSKind},
      {"Platform", s.Platform},
      {"MajorVersion", s.MajorVersion},
      {"MinorVersion", s.MinorVersion},
      {"BuildNumber", s.BuildNumber},
      {"CSDVersion", s.CSDVersion},
      {"ProductType", s.ProductType},
      {"Suites", s.Suites},
      {"MachineName", s.MachineName},
      {"Account", s.Account},
      {"LoggedUser", s.LoggedUser},
      {"AccountType", s.AccountType},
      {"VMWare", s.VMWare},
      {"VPC", s.VPC},
      // As the processor's values of the same names.
      {"HypervisorPresent", s.Hypervisor.Present},
      {"HypervisorSignature", Readable(s.Hypervisor.Signature)},
      {"Hypervisor", s.Hypervisor.Name},
      {"HypervisorLeaf", s.Hypervisor.Leaf},
  };
}

std::string FullOSName(const SystemSummary& s) {
  return s.Edition.empty() ? s.OSName : s.OSName + " " + s.Edition;
}

std::string VersionText(const SystemSummary& s) {
  std::string v = std::to_string(s.MajorVersion) + "." + std::to_string(s.MinorVersion) + "." +
                  std::to_string(s.BuildNumber);
  if (!s.CSDVersion.empty()) v += " " + s.CSDVersion;
  return v;
}

std::string VirtualMachineText(const SystemSummary& s) {
  std::string vm = s.VMWare ? "VMware" : s.VPC ? "Virtual PC" : "";
  const std::string hypervisor = Shown(HypervisorText(s.Hypervisor));
  if (!hypervisor.empty() && hypervisor != vm) vm += (vm.empty() ? "" : "; CPUID: ") + hypervisor;
  return vm.empty() ? "none detected" : vm;
}

Lines SummaryLines(const SystemSummary& s) {
  const std::string vm = VirtualMachineText(s);
  return {
      {"Operating system", s.OSName},
      {"Edition", s.Edition.empty() ? "-" : s.Edition},
      {"Version", VersionText(s)},
      {"Machine", s.MachineName},
      {"User", s.Account},
      {"Logon user", s.LoggedUser},
      {"Rights", s.AccountType == "Admin" ? "administrator" : "standard user"},
      {"Virtual machine", vm},
  };
}

namespace {

std::size_t LabelWidth(const Lines& lines) {
  std::size_t width = 0;
  for (const auto& [label, value] : lines) width = std::max(width, label.size());
  return width;
}

void AppendLine(std::string& out, const std::string& label, const std::string& value, std::size_t width) {
  out.append(label).append(":").append(width - label.size() + 1, ' ').append(value).append("\n");
}

}  // namespace

std::string FormatLines(const Lines& lines) {
  const std::size_t width = LabelWidth(lines);
  std::string out;
  for (const auto& [label, value] : lines) AppendLine(out, label, value, width);
  return out;
}

std::string ToText(const SystemSummary& s) { return FormatLines(SummaryLines(s)); }

std::string FormatSections(const Sections& sections) {
  std::string out, line;
  for (const auto& section : sections) {
    if (!out.empty()) out += "\n";
    out.append(section.Title).append("\n");
    const std::size_t width = LabelWidth(section.Items);
    for (const auto& [label, value] : section.Items) {
      line.clear();
      AppendLine(line, label, value, width);
      // Every line is indented, those a value breaks into as well.
      for (std::size_t pos = 0; pos < line.size();) {
        const std::size_t end = line.find('\n', pos);
        out.append("  ").append(line, pos, end - pos + 1);
        pos = end + 1;
      }
    }
  }
  return out;
}

}  // namespace kyvex::report
