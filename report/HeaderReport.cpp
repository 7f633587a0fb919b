#include "report/HeaderReport.h"

#include "common/Kyvex_SS.h"
#include "report/FieldReport.h"

namespace kyvex::report {

Lines StorageInfoLines(const TStorageInfoRecord& info) {
  return {
      {"Machine", info.MachineName},
      {"Operating system", info.OSName},
      {"Version", std::to_string(info.MajorVersion) + "." + std::to_string(info.MinorVersion) + "." +
                      std::to_string(info.BuildNumber) + (info.CSDVersion.empty() ? "" : " " + info.CSDVersion)},
      {"Platform id", std::to_string(info.Platform)},
      {"Written by", info.Application},
      {"Written at", FormatDateTime(info.CreationTime)},
      {"Account", info.Account + (info.AccountType.empty() ? "" : " (" + info.AccountType + ")")},
      {"Logon user", info.LoggedUser},
      {"Virtual machine", info.VMWare ? "VMware" : info.VPC ? "Virtual PC" : "none detected"},
  };
}

nlohmann::ordered_json StorageInfoJson(const TStorageInfoRecord& info) {
  return FieldsJson(info, [](const auto& r, auto&& v) { VisitStorageInfoFields(r, v); });
}

}  // namespace kyvex::report
