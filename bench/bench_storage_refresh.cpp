// A full refresh of the storage component on this machine: every PhysicalDrive, Cdrom and
// Tape path, the miniport and SMART identify routes, and every drive letter. It should stay
// well under 100 ms, since the window refreshes it each time it is shown.
#include <benchmark/benchmark.h>

#include <string>

#include "platform/fake/FakePlatform.h"
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

// A larger machine replayed: 8 SATA disks with SMART, 20 partitions with a drive letter each
// (C: to V:). Measures the component's own work, every route and every link, without the
// cost of a kernel; it should stay under 50 ms.
namespace devio = kyvex::platform::devio;

std::vector<std::uint8_t> Descriptor(int n) {
  devio::DeviceDescriptor d;
  d.vendor = "ATA";
  d.product = "BENCH DISK " + std::to_string(n);
  d.revision = "1.0";
  d.serialNumber = "SN" + std::to_string(n);
  d.busType = devio::kBusSata;
  return d.Encode();
}

void ReplayedMachine(kyvex::platform::FakeDevice& dev) {
  constexpr int kDisks = 8, kPartitions = 20;
  std::vector<std::vector<devio::PartitionInfo>> layouts(kDisks);
  for (int p = 0; p < kPartitions; ++p) {
    auto& layout = layouts[static_cast<std::size_t>(p % kDisks)];
    devio::PartitionInfo e;
    e.StartingOffset = (static_cast<std::int64_t>(layout.size()) * 100000 + 1) << 20;
    e.Length = 100000LL << 20;
    e.HiddenSectors = static_cast<std::uint32_t>(e.StartingOffset / 512);
    e.Number = static_cast<std::uint32_t>(layout.size() + 1);
    e.Typ = 0x07;
    e.Recognized = true;
    layout.push_back(e);
  }
  std::array<std::uint8_t, 512> identify{};
  identify[0] = 0x40;
  identify[2 * 80] = 0x7E;
  identify[2 * 82] = 0x01;
  identify[2 * 85] = 0x01;
  for (int w = 27; w < 47; ++w) identify[2 * w] = identify[2 * w + 1] = 'A';
  devio::SmartData smart;
  smart.revision = 0x10;
  smart.entries[0] = {194, 0x22, 0, 100, 100, 35};
  const auto smartBytes = smart.Encode();
  std::array<std::uint8_t, 512> smartBlock{};
  std::copy_n(smartBytes.begin(), std::min<std::size_t>(smartBytes.size(), 512), smartBlock.begin());
  char letter = 'C';
  for (int n = 0; n < kDisks; ++n) {
    const std::string path = "\\\\.\\PhysicalDrive" + std::to_string(n);
    const auto port = static_cast<std::uint8_t>(n);
    std::vector<std::pair<std::uint32_t, std::vector<std::uint8_t>>> replies = {
        {devio::kStorageQueryProperty, Descriptor(n)},
        {devio::kScsiGetAddress, devio::ScsiAddress{port, 0, 0, 0}.Encode()},
        {devio::kDiskGetDriveGeometry, devio::DiskGeometry{121601, devio::kMediaFixed, 255, 63, 512}.Encode()},
        {devio::kDiskGetDriveLayout, devio::DriveLayout{0x1000u + port, layouts[static_cast<std::size_t>(n)]}.Encode()},
    };
    for (const auto& [code, data] : replies) dev.Reply(path, code, data);
    dev.PassThroughReply(path, 0x12, std::nullopt,
                         devio::InquiryData{0, "ATA", "BENCH DISK " + std::to_string(n), "1.0", ""}.Encode());
    dev.Reply(path, devio::kSmartGetVersion, devio::SmartVersion{1, 1, static_cast<std::uint8_t>(1u << (n % 8)), 7}.Encode());
    dev.SmartReply(path, 0xEC, std::nullopt, identify);
    dev.SmartReply(path, 0xB0, 0xD0, smartBlock);
    for (const auto& part : layouts[static_cast<std::size_t>(n)]) {
      const std::string volume = std::string("\\\\.\\") + letter + ":";
      for (const auto& [code, data] : replies) dev.Reply(volume, code, data);
      dev.Reply(volume, devio::kVolumeGetVolumeDiskExtents,
                devio::VolumeDiskExtents{{{static_cast<std::uint32_t>(n), part.StartingOffset, part.Length}}}.Encode());
      dev.driveLetters += letter;
      dev.driveTypes[std::string(1, letter) + ":\\"] = devio::kDriveFixed;
      ++letter;
    }
  }
}

void BM_StorageRefreshReplayed8Disks20Partitions(benchmark::State& state) {
  kyvex::platform::FakePlatform fake;
  ReplayedMachine(fake.devices);
  kyvex::platform::ScopedPlatform scope(fake);
  kyvex::TKyvex_Storage storage;
  for (auto _ : state) {
    fake.devices.calls.clear();  // the fake keeps every call; a long run must not grow it
    fake.devices.opens.clear();
    storage.CollectData();
    benchmark::DoNotOptimize(storage.PhysicalCount());
  }
  state.counters["physical"] = storage.PhysicalCount();
  state.counters["logical"] = storage.LogicalCount();
}
BENCHMARK(BM_StorageRefreshReplayed8Disks20Partitions)->Unit(benchmark::kMillisecond);

}  // namespace
