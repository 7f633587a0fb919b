#include "cli/CpuReport.h"

namespace kyvex::report {

Sections CpuSections(const TKyvex_CPU&) { return {}; }
nlohmann::ordered_json CpuJson(const TKyvex_CPU&) { return nlohmann::ordered_json::object(); }
void AddCpuReport(FullReport&) {}
CLI::App* AddCpuCommand(CLI::App&, std::function<int()>&) { return nullptr; }

}  // namespace kyvex::report
