#include "report/MachineReport.h"

#include <memory>
#include <ostream>
#include <sstream>

#include "cpu/KSI_CPU.h"
#include "report/CpuReport.h"
#include "report/SmbiosReport.h"
#include "report/StorageReport.h"

namespace kyvex::report {

using Json = nlohmann::ordered_json;

void AddSystemReport(FullReport& report) {
  const auto summary = CollectSystemSummary();
  if (report.AsJson)
    report.Json["System"] = ToJson(summary);
  else
    report.Text += FormatSections({{"System", SummaryLines(summary)}});
}

namespace {

// This machine's processors, read once and every clock measured, where none were given.
std::shared_ptr<const TProcessorCensus> CensusToReport(std::shared_ptr<const TProcessorCensus> census) {
  if (census) return census;
  auto read = std::make_shared<TProcessorCensus>(ReadProcessorCensus());
  MeasureClocks(*read);
  return read;
}

}  // namespace

void AddCpuReport(FullReport& report, std::shared_ptr<const TProcessorCensus> census) {
  census = CensusToReport(std::move(census));
  TKyvex_CPU cpu;
  cpu.UseProcessorCensus(census);
  Json all = Json::array();
  for (std::uint32_t i = 0; i < census->Processors.size(); ++i) {
    cpu.SetCPUIndex(i);
    cpu.CollectData();
    if (report.AsJson)
      all.push_back(CpuJson(cpu));
    else
      report.Text += "\n" + FormatSections(CpuSections(cpu));
  }
  if (report.AsJson) report.Json["CPU"] = all;
}

void AddSmbiosReport(FullReport& report) {
  TKyvex_SMBIOS smbios;
  smbios.CollectData();
  if (report.AsJson)
    report.Json["SMBIOS"] = SmbiosJson(smbios);
  else
    report.Text += "\n" + FormatSections(SmbiosSystemSections(smbios)) + "\n" +
                   FormatSections(SmbiosDeviceSections(smbios));
}

void AddStorageReport(FullReport& report) {
  TKyvex_Storage storage;
  storage.CollectData();
  if (report.AsJson)
    report.Json["Storage"] = StorageJson(storage);
  else
    report.Text += "\n" + StorageText(storage);
}

void WriteMachineReport(std::ostream& out, bool json, std::shared_ptr<const TProcessorCensus> census) {
  // Each part is written as soon as it is collected, and each processor as soon as it is
  // formatted: a machine of hundreds of processors is never held as one document.
  bool first = true;
  auto part = [&](const char* key, void (*add)(FullReport&)) {
    FullReport report;
    report.AsJson = json;
    add(report);
    if (json) {
      out << (first ? "{\n  \"" : ",\n  \"") << key << "\": ";
      WriteNestedJson(out, report.Json[key], 1);
    } else {
      out << report.Text;
    }
    first = false;
  };
  part("System", AddSystemReport);

  census = CensusToReport(std::move(census));
  const auto count = static_cast<std::uint32_t>(census->Processors.size());
  if (json) out << ",\n  \"CPU\": " << (count == 0 ? "[]" : "[\n");
  TKyvex_CPU cpu;
  cpu.UseProcessorCensus(census);
  for (std::uint32_t i = 0; i < count; ++i) {
    cpu.SetCPUIndex(i);
    cpu.CollectData();
    if (json) {
      out << "    ";
      WriteNestedJson(out, CpuJson(cpu), 2);
      out << (i + 1 < count ? ",\n" : "\n  ]");
    } else {
      out << "\n" << FormatSections(CpuSections(cpu));
    }
  }

  part("SMBIOS", AddSmbiosReport);
  part("Storage", AddStorageReport);
  if (json) out << "\n}\n";
}

std::string MachineReport(bool json, std::shared_ptr<const TProcessorCensus> census) {
  std::ostringstream out;
  WriteMachineReport(out, json, std::move(census));
  return std::move(out).str();
}

}  // namespace kyvex::report
