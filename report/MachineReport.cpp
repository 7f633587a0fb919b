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
  JsonObjectWriter object(out);
  auto part = [&](const char* key, void (*add)(FullReport&)) {
    FullReport report;
    report.AsJson = json;
    add(report);
    if (json)
      object.Member(key, report.Json[key]);
    else
      out << report.Text;
  };
  part("System", AddSystemReport);

  census = CensusToReport(std::move(census));
  TKyvex_CPU cpu;
  cpu.UseProcessorCensus(census);
  auto collect = [&](std::size_t i) -> const TKyvex_CPU& {
    cpu.SetCPUIndex(static_cast<std::uint32_t>(i));
    cpu.CollectData();
    return cpu;
  };
  const std::size_t count = census->Processors.size();
  if (json)
    WriteNestedJsonArray(object.Key("CPU"), count, 1, [&](std::size_t i) { return CpuJson(collect(i)); });
  else
    for (std::size_t i = 0; i < count; ++i) out << "\n" << FormatSections(CpuSections(collect(i)));

  part("SMBIOS", AddSmbiosReport);
  part("Storage", AddStorageReport);
  if (json) {
    object.End();
    out << "\n";
  }
}

std::string MachineReport(bool json, std::shared_ptr<const TProcessorCensus> census) {
  std::ostringstream out;
  WriteMachineReport(out, json, std::move(census));
  return std::move(out).str();
}

}  // namespace kyvex::report
