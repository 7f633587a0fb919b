#include "report/MachineReport.h"

#include <memory>

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

void AddCpuReport(FullReport& report, std::shared_ptr<const TProcessorCensus> census) {
  // This machine's processors, read once and every clock measured.
  if (!census) {
    auto read = std::make_shared<TProcessorCensus>(ReadProcessorCensus());
    MeasureClocks(*read);
    census = std::move(read);
  }
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

std::string MachineReport(bool json, std::shared_ptr<const TProcessorCensus> census) {
  FullReport report;
  report.AsJson = json;
  AddSystemReport(report);
  AddCpuReport(report, std::move(census));
  AddSmbiosReport(report);
  AddStorageReport(report);
  return json ? JsonText(report.Json) + "\n" : report.Text;
}

}  // namespace kyvex::report
