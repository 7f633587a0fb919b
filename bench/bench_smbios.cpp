// Decoding a typical SMBIOS table of a few kilobytes (a workstation's, 5.5 KB, 99
// structures) from the table window: the walk, the system records and every device list.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "smbios/KSI_SMBIOS.h"

namespace {

std::vector<std::uint8_t> TypicalDump() {
  const auto path = std::filesystem::path(__FILE__).parent_path().parent_path() / "tests" / "data" / "smbios" /
                    "dell-precision-3620.bin";
  std::ifstream f(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

void BM_DecodeTypicalTable(benchmark::State& state) {
  const auto image = TypicalDump();
  kyvex::TKyvex_SMBIOS s;
  std::string error;
  if (!s.LoadDumpImage(image, error)) {
    state.SkipWithError(error.c_str());
    return;
  }
  for (auto _ : state) {
    s.CollectData();
    benchmark::DoNotOptimize(s.MemoryDeviceCount());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(image.size()));
  state.counters["structures"] = static_cast<double>(s.StructTables().size());
}
BENCHMARK(BM_DecodeTypicalTable)->Unit(benchmark::kMicrosecond);

}  // namespace
