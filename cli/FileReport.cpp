#include "cli/FileReport.h"

#include <cmath>
#include <cstdio>
#include <iostream>
#include <memory>

#include "compound/Ole.h"


namespace kyvex::report {

std::string FormatDateTime(TDateTime value) {
  if (value == 0 || !std::isfinite(value) || std::fabs(value) > 3e6) return "";
  // The whole part counts days from 1899-12-30 (also below it); the fraction, taken without
  // its sign, is the time of day.
  std::int64_t day = static_cast<std::int64_t>(std::trunc(value));
  std::int64_t ms = std::llround(std::fabs(value - static_cast<double>(day)) * 86400000.0);
  if (ms >= 86400000) {
    ms -= 86400000;
    day += value < 0 ? -1 : 1;
  }
  // Civil date of a day count (days since 1970-01-01 here), proleptic Gregorian.
  const std::int64_t z = day - 25569 + 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  const std::int64_t d = doy - (153 * mp + 2) / 5 + 1;
  const std::int64_t m = mp < 10 ? mp + 3 : mp - 9;
  const std::int64_t y = yoe + era * 400 + (m <= 2);
  const std::int64_t secs = ms / 1000;
  char buf[128];
  std::snprintf(buf, sizeof buf, "%04lld-%02lld-%02lld %02lld:%02lld:%02lld", static_cast<long long>(y),
                static_cast<long long>(m), static_cast<long long>(d), static_cast<long long>(secs / 3600),
                static_cast<long long>(secs / 60 % 60), static_cast<long long>(secs % 60));
  return buf;
}

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
  return {
      {"MachineName", info.MachineName},
      {"Application", info.Application},
      {"OSName", info.OSName},
      {"Platform", info.Platform},
      {"MajorVersion", info.MajorVersion},
      {"MinorVersion", info.MinorVersion},
      {"BuildNumber", info.BuildNumber},
      {"CSDVersion", info.CSDVersion},
      {"CreationTime", info.CreationTime},
      {"CreationTimeText", FormatDateTime(info.CreationTime)},
      {"AccountType", info.AccountType},
      {"LoggedUser", info.LoggedUser},
      {"Account", info.Account},
      {"VMWare", info.VMWare},
      {"VPC", info.VPC},
  };
}

CLI::App* AddSaveCommand(CLI::App& app, std::function<int()>& run) {
  auto* cmd = app.add_subcommand("save", "Save this machine's information into a storage file (replaces the\n"
                                         "parts of an existing storage file that this program writes)");
  auto file = std::make_shared<std::string>();
  cmd->add_option("FILE", *file, "The storage file to write")->required();
  run = [file] {
    TKyvex_KSIC_Component header;
    header.SaveToStorageFile(*file);
    std::cout << "Saved " << *file << "\n";
    return 0;
  };
  return cmd;
}

CLI::App* AddShowCommand(CLI::App& app, std::function<int()>& run) {
  auto* cmd = app.add_subcommand("show", "Show the information held in a storage file");
  auto file = std::make_shared<std::string>();
  auto json = std::make_shared<bool>(false);
  cmd->add_option("FILE", *file, "The storage file to read")->required();
  cmd->add_flag("--json", *json, "Print JSON instead of text");
  run = [file, json] {
    TKyvex_KSIC_Component header;
    if (!header.LoadFromStorageFile(*file)) {
      const auto status = ole::StgIsStorageFile(*file);
      std::cerr << "kyvex: " << *file
                << (status == ole::STG_E_FILENOTFOUND ? ": no such file\n" : " is not a storage file\n");
      return 1;
    }
    if (*json) {
      nlohmann::ordered_json out;
      out["File"] = *file;
      out["StorageInfo"] = StorageInfoJson(header.StorageInfo());
      std::cout << out.dump(2) << "\n";
    } else {
      std::cout << FormatSections({{"Storage file " + *file, StorageInfoLines(header.StorageInfo())}});
    }
    return 0;
  };
  return cmd;
}

}  // namespace kyvex::report
