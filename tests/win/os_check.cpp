// Run under Wine set to report a given Windows version: checks that the start-up snapshot
// names that system as the routines should (kind, name, edition, version, service pack).
// Arguments: kind name edition major.minor.build service-pack; the name "registry:ProductName"
// stands for the product name the system's registry gives.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/Kyvex_Routines.h"

int main(int argc, char** argv) {
  if (argc != 6) {
    std::fprintf(stderr, "usage: os_check KIND NAME EDITION MAJOR.MINOR.BUILD SERVICEPACK\n");
    return 2;
  }
  const auto& s = kyvex::PlatformSnapshot();
  const std::string edition = kyvex::GetOSEdition(s.OSKind, s.ProductType, s.Suites);
  const std::string version =
      std::to_string(s.MajorVersion) + "." + std::to_string(s.MinorVersion) + "." + std::to_string(s.BuildNumber);
  int failures = 0;
  auto check = [&](const char* what, const std::string& got, const std::string& want) {
    if (got != want) {
      std::fprintf(stderr, "%s: got \"%s\", expected \"%s\"\n", what, got.c_str(), want.c_str());
      ++failures;
    }
  };
  check("kind", std::to_string(s.OSKind), argv[1]);
  const std::string name = argv[2];
  check("name", s.OSName,
        name == "registry:ProductName" ? kyvex::GetPlatformProductName(s.PlatformId) : name);
  check("edition", edition, argv[3]);
  check("version", version, argv[4]);
  check("service pack", s.CSDVersion, argv[5]);
  std::printf("%s %s (kind %d, product type %d, suites 0x%x) %s %s\n", s.OSName.c_str(), edition.c_str(), s.OSKind,
              s.ProductType, s.Suites, version.c_str(), s.CSDVersion.c_str());
  return failures == 0 ? 0 : 1;
}
