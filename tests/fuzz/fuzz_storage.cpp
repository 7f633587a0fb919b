// Device bytes are hostile input: identify blocks, inquiry and mode pages, property-query
// replies with their text offsets, SMART sectors, partition layouts, identify files and
// partition tables on the disk. Every parser gets the fuzzer's bytes, and every device block
// that decodes must decode the same again after its encoder has written it.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "FuzzShown.h"
#include "platform/DeviceApi.h"
#include "report/StorageReport.h"
#include "platform/fake/FakePlatform.h"
#include "storage/Kyvex_IdentifyFile.h"
#include "storage/Kyvex_WinIOCTL.h"
#ifdef __linux__
#include "platform/linux/LinuxDevice.h"
#endif

using namespace kyvex;
namespace devio = kyvex::platform::devio;

namespace {

// What a decoder accepts, its encoder writes so that the decoder reads the same values again.
template <class Block, class Same>
void Stable(devio::BlockView bytes, Same same) {
  const auto first = Block::Decode(bytes);
  if (!first) return;
  const auto second = Block::Decode(first->Encode());
  if (!second || !same(*first, *second)) __builtin_trap();
}
template <class Block>
void Stable(devio::BlockView bytes) {
  Stable<Block>(bytes, [](const Block& a, const Block& b) { return a == b; });
}

void DeviceBlocks(devio::BlockView bytes) {
  Stable<devio::SmartVersion>(bytes);
  Stable<devio::SmartCommandIn>(bytes);
  Stable<devio::SmartCommandOut>(bytes);
  Stable<devio::SmartData>(bytes);
  Stable<devio::SrbIoControl>(bytes);
  Stable<devio::InquiryData>(bytes);
  Stable<devio::ModeSense6Data>(bytes);
  Stable<devio::DiskGeometry>(bytes);
  Stable<devio::DriveLayout>(bytes);
  Stable<devio::StoragePropertyQuery>(bytes);
  Stable<devio::DeviceDescriptor>(bytes);
  Stable<devio::MediaTypes>(bytes);
  Stable<devio::MediaSerialNumber>(bytes);
  Stable<devio::ScsiAddress>(bytes);
  // The count a reply states is kept beside the extents it holds; only these are written.
  Stable<devio::VolumeDiskExtents>(
      bytes, [](const devio::VolumeDiskExtents& a, const devio::VolumeDiskExtents& b) { return a.extents == b.extents; });
  // The bytes as a pass-through reply to a request of the component's shape, in both forms.
  for (const auto* form : {&devio::kPassThrough32, &devio::kPassThrough64}) {
    devio::PassThroughRequest sent;
    sent.senseInfoLength = 24;
    sent.dataTransferLength = 192;
    sent.senseInfoOffset = form->length;
    sent.dataBufferOffset = form->length + 32;
    if (const auto reply = devio::ReadPassThroughReply(bytes, sent, *form))
      if (reply->data.size() > 192 || reply->sense.size() > 24) __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static platform::FakePlatform fake;
  static platform::ScopedPlatform scope(fake);
  const std::vector<std::uint8_t> bytes(data, data + size);
  DeviceBlocks(bytes);

  std::array<std::uint8_t, 512> block{};
  std::memcpy(block.data(), data, std::min<std::size_t>(size, 512));
  TDeviceInfo info;
  ParseIdentifyData(block, size > 0 && (data[0] & 1), info);
  fuzz::CheckJson(report::IdentifyJson(info));
  fuzz::CheckShown(report::FormatLines(report::IdentifyTextLines(info)));

  // The bytes as a file for `kyvex storage --identify`, shown as that command shows it.
  std::string error;
  if (ReadIdentifyBlock(std::string(bytes.begin(), bytes.end()), block, error)) {
    TDeviceInfo fromFile;
    ParseIdentifyData(block, true, fromFile);
    fuzz::CheckJson(report::IdentifyJson(fromFile));
    fuzz::CheckShown(report::FormatLines(report::IdentifyTextLines(fromFile)));
  }
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
  fuzz::CheckJson(report::DeviceJson(info));

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
