// The SMBIOS readers over arbitrary bytes: the input as a dump image (entry point, table),
// and as a raw table decoded under the version its first two bytes name. The walk must end,
// the readers stay inside their windows, and every decoded string must reach the JSON report.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <vector>

#include "FuzzShown.h"
#include "report/SmbiosReport.h"
#include "smbios/KSI_SMBIOS.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::uint8_t> bytes(data, data + size);
  kyvex::TKyvex_SMBIOS s;
  std::string error;
  if (s.LoadDumpImage(bytes, error)) {
    s.CollectData();
  } else if (size >= 2) {
    s.LoadTable(data + 2, size - 2, data[0], data[1]);
    s.SetReadLocalMemory(false);
    s.CollectData();
  }
  // Strings straight from the table must make valid JSON and text without control characters.
  const auto json = kyvex::report::SmbiosJson(s);
  kyvex::fuzz::CheckJson(json);
  // The command writes the same document piece by piece.
  std::ostringstream streamed;
  kyvex::report::WriteSmbiosJson(streamed, s);
  if (streamed.str() != kyvex::report::JsonText(json)) __builtin_trap();
  kyvex::fuzz::CheckShown(kyvex::report::FormatSections(kyvex::report::SmbiosSystemSections(s)));
  kyvex::fuzz::CheckShown(kyvex::report::FormatSections(kyvex::report::SmbiosDeviceSections(s)));
  return 0;
}
