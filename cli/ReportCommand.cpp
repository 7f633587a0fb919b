// kyvex report: the operating system's summary; the components add their own parts.
#include "cli/Commands.h"

namespace kyvex::cli {

using namespace report;

void AddSystemReport(FullReport& report) {
  const auto summary = CollectSystemSummary();
  if (report.AsJson)
    report.Json["System"] = ToJson(summary);
  else
    report.Text += FormatSections({{"System", SummaryLines(summary)}});
}

}  // namespace kyvex::cli
