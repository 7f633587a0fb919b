// Decoding a typical SMBIOS table of a few kilobytes (a workstation's, 5.5 KB, 99
// structures) from the table window: the walk, the system records and every device list.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <streambuf>
#include <vector>

#include "report/SmbiosReport.h"
#include "smbios/KSI_SMBIOS.h"

#ifdef __linux__
#include <sys/resource.h>
#endif

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

// A hostile dump: a 64-bit entry point and 16 MiB of the smallest structures there are (a
// four-byte header and the empty string set), of the types that each make a record, so that
// a walk without a limit would describe almost three million of them.
std::vector<std::uint8_t> MinimalStructuresDump() {
  constexpr std::size_t kTable = 16u << 20;
  std::vector<std::uint8_t> image(0x20, 0);
  const char anchor[] = "_SM3_";
  std::copy(anchor, anchor + 5, image.begin());
  image[6] = 0x18;  // entry point length
  image[7] = 3;     // version 3.2
  image[8] = 2;
  image[0x0A] = 1;
  for (int i = 0; i < 4; ++i) image[0x0C + i] = static_cast<std::uint8_t>(kTable >> (8 * i));
  image[0x10] = 0x20;
  constexpr std::uint8_t kTypes[] = {4, 7, 8, 9, 17, 28};
  std::uint16_t handle = 0;
  while (image.size() + 6 <= 0x20 + kTable) {
    const std::uint8_t type = kTypes[handle % std::size(kTypes)];
    image.insert(image.end(), {type, 4, static_cast<std::uint8_t>(handle), static_cast<std::uint8_t>(handle >> 8), 0, 0});
    ++handle;
  }
  return image;
}

double PeakResidentMiB() {
#ifdef __linux__
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_maxrss) / 1024.0;
#else
  return 0.0;
#endif
}

// Where `kyvex smbios --json` writes: bytes counted, not kept.
struct CountingStream {
  struct Counter : std::streambuf {
    std::size_t count = 0;
    int_type overflow(int_type c) override {
      if (c != traits_type::eof()) ++count;
      return c;
    }
    std::streamsize xsputn(const char*, std::streamsize n) override {
      count += static_cast<std::size_t>(n);
      return n;
    }
  } bytes;
  std::ostream stream{&bytes};
};

// Such a dump decodes in well under a second and under 100 MB (peak_MiB, the dump included):
// the walk stops at the most structures a table can count. The second benchmark adds what
// `kyvex smbios --json --dump-bin` writes for those 65,535 records, element by element (the
// whole document built at once took the process to about 240 MB); the peak is the process's,
// so it is run second.
void DecodeMinimal(benchmark::State& state, bool json) {
  const auto image = MinimalStructuresDump();
  kyvex::TKyvex_SMBIOS s;
  std::string error;
  if (!s.LoadDumpImage(image, error)) {
    state.SkipWithError(error.c_str());
    return;
  }
  std::size_t printed = 0;
  for (auto _ : state) {
    s.CollectData();
    if (json) {
      CountingStream out;
      kyvex::report::WriteSmbiosJson(out.stream, s);
      printed = out.bytes.count;
    }
    benchmark::DoNotOptimize(s.MemoryDeviceCount());
  }
  state.counters["structures"] = static_cast<double>(s.StructTables().size());
  if (json) state.counters["json_MiB"] = static_cast<double>(printed) / (1 << 20);
  state.counters["peak_MiB"] = PeakResidentMiB();
}
void BM_DecodeMinimalStructures16MiB(benchmark::State& state) { DecodeMinimal(state, false); }
void BM_DecodeMinimalStructures16MiBToJson(benchmark::State& state) { DecodeMinimal(state, true); }
BENCHMARK(BM_DecodeMinimalStructures16MiB)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_DecodeMinimalStructures16MiBToJson)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
