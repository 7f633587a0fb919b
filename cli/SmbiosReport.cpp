#include "cli/SmbiosReport.h"

namespace kyvex::report {

Sections SmbiosSystemSections(const TKyvex_SMBIOS&) { return {}; }
Sections SmbiosDeviceSections(const TKyvex_SMBIOS&) { return {}; }
nlohmann::ordered_json SmbiosJson(const TKyvex_SMBIOS&) { return nlohmann::ordered_json::object(); }
void AddSmbiosReport(FullReport&) {}
CLI::App* AddSmbiosCommand(CLI::App&, std::function<int()>&) { return nullptr; }

}  // namespace kyvex::report
