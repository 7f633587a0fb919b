// A full refresh of the storage component on this machine: every PhysicalDrive, Cdrom and
// Tape path, the miniport and SMART identify routes, and every drive letter. It should stay
// well under 100 ms, since the window refreshes it each time it is shown.
#include <benchmark/benchmark.h>

#include "platform/linux/LinuxDevice.h"
#include "storage/KSI_Storage.h"

namespace {

// The Linux layer keeps its enumeration of disks and mounts for a second; a cold refresh
// takes it anew, as the first refresh after a device came or went does.
void Refresh(benchmark::State& state, bool cold) {
  kyvex::TKyvex_Storage storage;
  auto& devices = kyvex::platform::Current().Devices();
  for (auto _ : state) {
    if (cold) kyvex::platform::SetLinuxDeviceOptions(devices, {});
    storage.CollectData();
    benchmark::DoNotOptimize(storage.PhysicalCount());
  }
  state.counters["physical"] = storage.PhysicalCount();
  state.counters["logical"] = storage.LogicalCount();
}

void BM_StorageRefreshCold(benchmark::State& state) { Refresh(state, true); }
void BM_StorageRefreshWarm(benchmark::State& state) { Refresh(state, false); }
BENCHMARK(BM_StorageRefreshCold)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StorageRefreshWarm)->Unit(benchmark::kMillisecond);

}  // namespace
