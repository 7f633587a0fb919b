// Device bytes are hostile input: identify blocks, inquiry and mode pages, property-query
// replies with their text offsets, SMART sectors, partition layouts, identify files and
// partition tables on the disk. Every parser gets the fuzzer's bytes.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/DeviceApi.h"
#include "platform/fake/FakePlatform.h"
#include "storage/Kyvex_IdentifyFile.h"
#include "storage/Kyvex_WinIOCTL.h"
#ifdef __linux__
#include "platform/linux/LinuxDevice.h"
#endif

using namespace kyvex;
namespace devio = kyvex::platform::devio;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static platform::FakePlatform fake;
  static platform::ScopedPlatform scope(fake);
  const std::vector<std::uint8_t> bytes(data, data + size);

  std::array<std::uint8_t, 512> block{};
  std::memcpy(block.data(), data, std::min<std::size_t>(size, 512));
  TDeviceInfo info;
  ParseIdentifyData(block, size > 0 && (data[0] & 1), info);

  std::string error;
  ReadIdentifyBlock(std::string(bytes.begin(), bytes.end()), block, error);
  DecodeSerialNumberHex(std::string(bytes.begin(), bytes.begin() + static_cast<long>(std::min<std::size_t>(size, 600))));

  // The same bytes as every reply a device could send.
  fake.devices = platform::FakeDevice{};
  auto& dev = fake.devices;
  const std::string path = "\\\\.\\PhysicalDrive0";
  dev.PassThroughReply(path, 0x12, std::nullopt, bytes);
  dev.PassThroughReply(path, 0x1A, std::nullopt, bytes);
  for (std::uint32_t code : {devio::kStorageQueryProperty, devio::kStorageGetMediaTypesEx, devio::kDiskGetDriveLayout,
                             devio::kVolumeGetVolumeDiskExtents, devio::kStorageGetMediaSerialNumber,
                             devio::kScsiGetAddress, devio::kDiskGetDriveGeometry})
    dev.Reply(path, code, bytes);
  std::array<std::uint8_t, 512> sector{};
  std::memcpy(sector.data(), data, std::min<std::size_t>(size, 512));
  dev.SmartReply(path, 0xB0, 0xD0, sector);

  const Handle h = OpenDevice(path);
  InquireBySCSIPassThrough(h, 0, info);
  TDiskLayout layout;
  GetDriveLayout(h, layout);
  TVolumeDiskExtent extent;
  GetVolumeDiskExtents(h, extent);
  dev.CloseHandle(h);
  QueryStorageProperty(path, 0, info);

#ifdef __linux__
  // The bytes as a disk: its partition table, in 512- and 4096-byte sectors.
  auto read = [&](std::uint64_t offset, std::uint32_t n, std::uint8_t* out) {
    if (offset > size || n > size - offset) return false;
    std::memcpy(out, data + offset, n);
    return true;
  };
  platform::linuxdev::ReadPartitionTable(read, size, 512);
  platform::linuxdev::ReadPartitionTable(read, size, 4096);
#endif
  return 0;
}
