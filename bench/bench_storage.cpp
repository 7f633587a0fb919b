// Storage-file speed: a file of N storages, each holding a property set of 45 named values
// (6 strings, 39 integers: the size of a large storage-device save), written and then read
// back through the container layer exactly as the components do it (OpenSubStorage looks the
// name up with ElementExists before every open or create). The time should grow close to
// linearly with N.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

#include "components/common/Kyvex_SS.h"

namespace {

using namespace kyvex;

constexpr int kStrings = 6;
constexpr int kIntegers = 39;

std::string ValueName(int i) { return (i < kStrings ? "Text" : "Number") + std::to_string(i); }

void WriteFile(const std::string& path, int storages) {
  std::shared_ptr<ole::IStorage> stg;
  OleCheck(ole::StgCreateDocfile(path, 0x1012, 0, &stg), "creating");
  TStructuredSTorage root(nullptr, stg);
  auto top = root.OpenSubStorage("Storage", 0x12, true);
  for (int d = 0; d < storages; ++d) {
    auto device = top->OpenSubStorage("Device" + std::to_string(d), 0x12, true);
    auto set = device->OpenPropertySet(FMTID_DocSummaryInformation, 0x12, true);
    const auto& ps = set->PropertyStorage();
    for (int i = 0; i < kStrings; ++i)
      WriteStringProperty(ps, ValueName(i), "Value text " + std::to_string(d * 100 + i));
    for (int i = kStrings; i < kStrings + kIntegers; ++i) WriteIntegerProperty(ps, ValueName(i), d * 1000 + i);
  }
  top.reset();
  root.Commit();
}

std::int64_t ReadFile(const std::string& path, int storages) {
  std::shared_ptr<ole::IStorage> stg;
  OleCheck(ole::StgOpenStorage(path, nullptr, 0x10, nullptr, 0, &stg), "opening");
  TStructuredSTorage root(nullptr, stg);
  auto top = root.OpenSubStorage("Storage", 0x10, false);
  std::int64_t sum = 0;
  for (int d = 0; d < storages; ++d) {
    auto device = top->OpenSubStorage("Device" + std::to_string(d), 0x10, false);
    auto set = device->OpenPropertySet(FMTID_DocSummaryInformation, 0x10, false);
    const auto& ps = set->PropertyStorage();
    for (int i = 0; i < kStrings; ++i) sum += static_cast<std::int64_t>(ReadStringProperty(ps, ValueName(i)).size());
    for (int i = kStrings; i < kStrings + kIntegers; ++i) sum += ReadIntegerProperty(ps, ValueName(i));
  }
  return sum;
}

std::string BenchFile() {
  return (std::filesystem::temp_directory_path() / "kyvex-bench-storage.cfb").string();
}

void BM_StorageFileWriteThenRead(benchmark::State& state) {
  const int storages = static_cast<int>(state.range(0));
  const std::string path = BenchFile();
  for (auto _ : state) {
    WriteFile(path, storages);
    benchmark::DoNotOptimize(ReadFile(path, storages));
  }
  state.counters["file_MB"] = static_cast<double>(std::filesystem::file_size(path)) / (1 << 20);
  state.counters["us_per_storage"] = benchmark::Counter(
      static_cast<double>(storages), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
  std::filesystem::remove(path);
}
BENCHMARK(BM_StorageFileWriteThenRead)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

void BM_StorageFileWrite(benchmark::State& state) {
  const int storages = static_cast<int>(state.range(0));
  const std::string path = BenchFile();
  for (auto _ : state) WriteFile(path, storages);
  std::filesystem::remove(path);
}
BENCHMARK(BM_StorageFileWrite)->Arg(1000)->Unit(benchmark::kMillisecond);

void BM_StorageFileRead(benchmark::State& state) {
  const int storages = static_cast<int>(state.range(0));
  const std::string path = BenchFile();
  WriteFile(path, storages);
  for (auto _ : state) benchmark::DoNotOptimize(ReadFile(path, storages));
  std::filesystem::remove(path);
}
BENCHMARK(BM_StorageFileRead)->Arg(1000)->Unit(benchmark::kMillisecond);

}  // namespace
