// Storage-file speed: a file of N storages, each holding a property set of 45 named values
// (6 strings, 39 integers: the size of a large storage-device save), written and then read
// back through the container layer exactly as the components do it (OpenSubStorage looks the
// name up with ElementExists before every open or create). The time should grow close to
// linearly with N. storage_vs_ole32 sets the same work beside Windows' ole32.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

#include "EngineStorageWork.h"

namespace {

using namespace kyvex::bench;

std::string BenchFile() {
  return (std::filesystem::temp_directory_path() / "kyvex-bench-storage.cfb").string();
}

void BM_StorageFileWriteThenRead(benchmark::State& state) {
  const int storages = static_cast<int>(state.range(0));
  const std::string path = BenchFile();
  for (auto _ : state) {
    WriteWithContainer(path, storages);
    benchmark::DoNotOptimize(ReadWithContainer(path, storages));
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
  for (auto _ : state) WriteWithContainer(path, storages);
  std::filesystem::remove(path);
}
BENCHMARK(BM_StorageFileWrite)->Arg(1000)->Unit(benchmark::kMillisecond);

void BM_StorageFileRead(benchmark::State& state) {
  const int storages = static_cast<int>(state.range(0));
  const std::string path = BenchFile();
  WriteWithContainer(path, storages);
  for (auto _ : state) benchmark::DoNotOptimize(ReadWithContainer(path, storages));
  std::filesystem::remove(path);
}
BENCHMARK(BM_StorageFileRead)->Arg(1000)->Unit(benchmark::kMillisecond);

}  // namespace
