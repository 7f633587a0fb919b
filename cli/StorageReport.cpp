#include "cli/StorageReport.h"

namespace kyvex::report {

Sections StoragePhysicalSections(const TKyvex_Storage&) { return {}; }
Sections StorageLogicalSections(const TKyvex_Storage&) { return {}; }
nlohmann::ordered_json StorageJson(const TKyvex_Storage&) { return nlohmann::ordered_json::object(); }
void AddStorageReport(FullReport&) {}
CLI::App* AddStorageCommand(CLI::App&, std::function<int()>&) { return nullptr; }

}  // namespace kyvex::report
