// The device blocks as this process's Windows headers lay them out. The components build and
// read them at byte offsets; here every block the codec writes or the component sends is read
// back through the system's own structure, in the 32-bit and in the 64-bit build, where the
// sizes and alignments differ.
#if defined(_WIN32)
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <vector>

#include "platform/DeviceApi.h"
#include "platform/fake/FakePlatform.h"
#include "storage/Kyvex_WinIOCTL.h"

// After our headers: winioctl.h defines IsRecognizedPartition as a macro.
#include <windows.h>
#include <winioctl.h>
#include <ntddscsi.h>

using namespace kyvex;
using namespace kyvex::platform;

namespace {

// The block as the structure; `needed` is how much of it must be there (a sender may leave
// off a structure's trailing data byte).
template <typename T>
T As(const std::vector<std::uint8_t>& block, std::size_t needed = sizeof(T)) {
  T t{};
  EXPECT_GE(block.size(), needed);
  std::memcpy(&t, block.data(), std::min(block.size(), sizeof(T)));
  return t;
}

TEST(WindowsLayouts, PassThroughHeaderIsThisProcessForm) {
  EXPECT_EQ(sizeof(SCSI_PASS_THROUGH), devio::kNativePassThrough.length);
  EXPECT_EQ(offsetof(SCSI_PASS_THROUGH, DataBufferOffset), devio::kNativePassThrough.dataBufferOffsetAt);
  EXPECT_EQ(offsetof(SCSI_PASS_THROUGH, SenseInfoOffset), devio::kNativePassThrough.senseInfoOffsetAt);
  EXPECT_EQ(offsetof(SCSI_PASS_THROUGH, Cdb), devio::kNativePassThrough.cdbAt);

  devio::PassThroughRequest r;
  r.cdbLength = 6;
  r.senseInfoLength = 24;
  r.dataIn = SCSI_IOCTL_DATA_IN;
  r.dataTransferLength = 192;
  r.timeOutValue = 2;
  r.senseInfoOffset = devio::kNativePassThrough.length;
  r.dataBufferOffset = devio::kNativePassThrough.length + 32;
  r.cdb[0] = 0x12;
  std::vector<std::uint8_t> block(devio::kNativePassThrough.length);
  devio::WritePassThrough(r, block.data());
  const auto spt = As<SCSI_PASS_THROUGH>(block);
  EXPECT_EQ(spt.Length, sizeof(SCSI_PASS_THROUGH));
  EXPECT_EQ(spt.CdbLength, 6);
  EXPECT_EQ(spt.SenseInfoLength, 24);
  EXPECT_EQ(spt.DataIn, SCSI_IOCTL_DATA_IN);
  EXPECT_EQ(spt.DataTransferLength, 192u);
  EXPECT_EQ(spt.TimeOutValue, 2u);
  EXPECT_EQ(spt.DataBufferOffset, devio::kNativePassThrough.length + 32);
  EXPECT_EQ(spt.SenseInfoOffset, devio::kNativePassThrough.length);
  EXPECT_EQ(spt.Cdb[0], 0x12);
}

TEST(WindowsLayouts, RepliesTheCodecWritesReadThroughTheSystemStructures) {
  devio::Geometry g;
  g.cylinders = 60801;
  g.mediaType = devio::kMediaFixed;
  g.tracksPerCylinder = 255;
  g.sectorsPerTrack = 63;
  g.bytesPerSector = 512;
  const auto geometry = As<DISK_GEOMETRY>(devio::GeometryReply(g));
  EXPECT_EQ(geometry.Cylinders.QuadPart, 60801);
  EXPECT_EQ(geometry.MediaType, FixedMedia);
  EXPECT_EQ(geometry.TracksPerCylinder, 255u);
  EXPECT_EQ(geometry.SectorsPerTrack, 63u);
  EXPECT_EQ(geometry.BytesPerSector, 512u);

  devio::LayoutEntry second;
  second.startingOffset = 0x7E00;
  second.length = 1LL << 33;
  second.hiddenSectors = 63;
  second.number = 2;
  second.type = 0x07;
  second.bootIndicator = true;
  second.recognized = true;
  const auto layoutBlock = devio::DriveLayoutReply(0xA1B2C3D4, {devio::LayoutEntry{}, second});
  ASSERT_EQ(layoutBlock.size(), offsetof(DRIVE_LAYOUT_INFORMATION, PartitionEntry) + 2 * sizeof(PARTITION_INFORMATION));
  std::vector<std::uint8_t> aligned(layoutBlock);
  const auto* layout = reinterpret_cast<const DRIVE_LAYOUT_INFORMATION*>(aligned.data());
  EXPECT_EQ(layout->PartitionCount, 2u);
  EXPECT_EQ(layout->Signature, 0xA1B2C3D4u);
  EXPECT_EQ(layout->PartitionEntry[1].StartingOffset.QuadPart, 0x7E00);
  EXPECT_EQ(layout->PartitionEntry[1].PartitionLength.QuadPart, 1LL << 33);
  EXPECT_EQ(layout->PartitionEntry[1].HiddenSectors, 63u);
  EXPECT_EQ(layout->PartitionEntry[1].PartitionNumber, 2u);
  EXPECT_EQ(layout->PartitionEntry[1].PartitionType, 0x07);
  EXPECT_TRUE(layout->PartitionEntry[1].BootIndicator);
  EXPECT_TRUE(layout->PartitionEntry[1].RecognizedPartition);

  const auto extentsBlock = devio::VolumeDiskExtentsReply({{0, 0, 0}, {3, 1LL << 20, 5LL << 30}});
  ASSERT_EQ(extentsBlock.size(), offsetof(VOLUME_DISK_EXTENTS, Extents) + 2 * sizeof(DISK_EXTENT));
  std::vector<std::uint8_t> extentsCopy(extentsBlock);
  const auto* extents = reinterpret_cast<const VOLUME_DISK_EXTENTS*>(extentsCopy.data());
  EXPECT_EQ(extents->NumberOfDiskExtents, 2u);
  EXPECT_EQ(extents->Extents[1].DiskNumber, 3u);
  EXPECT_EQ(extents->Extents[1].StartingOffset.QuadPart, 1LL << 20);
  EXPECT_EQ(extents->Extents[1].ExtentLength.QuadPart, 5LL << 30);

  devio::DeviceDescriptor d;
  d.deviceType = 5;
  d.removableMedia = true;
  d.vendor = "VENDOR";
  d.serialNumber = "SERIAL";
  d.busType = devio::kBusAta;
  const auto descriptorBlock = devio::DeviceDescriptorReply(d);
  const auto descriptor = As<STORAGE_DEVICE_DESCRIPTOR>(descriptorBlock);
  EXPECT_EQ(descriptor.Size, descriptorBlock.size());
  EXPECT_EQ(descriptor.DeviceType, 5);
  EXPECT_TRUE(descriptor.RemovableMedia);
  EXPECT_EQ(descriptor.BusType, BusTypeAta);
  EXPECT_EQ(descriptor.ProductIdOffset, 0u);
  EXPECT_STREQ(reinterpret_cast<const char*>(&descriptorBlock[descriptor.VendorIdOffset]), "VENDOR");
  EXPECT_STREQ(reinterpret_cast<const char*>(&descriptorBlock[descriptor.SerialNumberOffset]), "SERIAL");

  devio::MediaInfo tape;
  tape.tape = true;
  tape.mediaType = 0x20;
  tape.currentBlockSize = 512;
  tape.busType = devio::kBusScsi;
  const auto mediaBlock = devio::MediaTypesReply(devio::kFileDeviceTape, {tape});
  ASSERT_EQ(mediaBlock.size(), sizeof(GET_MEDIA_TYPES));
  const auto media = As<GET_MEDIA_TYPES>(mediaBlock);
  EXPECT_EQ(media.DeviceType, FILE_DEVICE_TAPE);
  EXPECT_EQ(media.MediaInfoCount, 1u);
  EXPECT_EQ(media.MediaInfo[0].DeviceSpecific.TapeInfo.MediaType, 0x20);
  EXPECT_EQ(media.MediaInfo[0].DeviceSpecific.TapeInfo.CurrentBlockSize, 512u);
  EXPECT_EQ(media.MediaInfo[0].DeviceSpecific.TapeInfo.BusType, BusTypeScsi);

  const auto address = As<SCSI_ADDRESS>(devio::ScsiAddressReply(2, 0, 1, 0));
  EXPECT_EQ(address.Length, sizeof(SCSI_ADDRESS));
  EXPECT_EQ(address.PortNumber, 2);
  EXPECT_EQ(address.TargetId, 1);

  const auto version = As<GETVERSIONINPARAMS>(devio::SmartVersionReply(1, 1, 0x05, 7));
  EXPECT_EQ(version.bIDEDeviceMap, 0x05);
  EXPECT_EQ(version.fCapabilities, 7u);

  std::uint8_t data[512] = {0xAB};
  const auto outBlock = devio::SendCmdOutReply(data, 0, 0);
  EXPECT_EQ(outBlock.size(), offsetof(SENDCMDOUTPARAMS, bBuffer) + 512);
  EXPECT_EQ(outBlock[offsetof(SENDCMDOUTPARAMS, bBuffer)], 0xAB);
}

TEST(WindowsLayouts, RequestsTheComponentSendsReadThroughTheSystemStructures) {
  FakePlatform fake;
  ScopedPlatform scope(fake);
  const char* drive = "\\\\.\\PhysicalDrive0";
  fake.devices.Reply(drive, devio::kSmartGetVersion, devio::SmartVersionReply(1, 1, 0x01, 7));
  std::array<std::uint8_t, 512> identify{};
  fake.devices.SmartReply(drive, 0xEC, std::nullopt, identify);
  TDeviceInfo info;
  IdentifyBySMART(0, info);
  const auto smart = fake.devices.CallsOf(devio::kSmartRcvDriveData);
  ASSERT_FALSE(smart.empty());
  EXPECT_EQ(smart[0].input.size(), sizeof(SENDCMDINPARAMS));
  const auto in = As<SENDCMDINPARAMS>(smart[0].input);
  EXPECT_EQ(in.cBufferSize, 512u);
  EXPECT_EQ(in.irDriveRegs.bCommandReg, ID_CMD);
  EXPECT_EQ(in.bDriveNumber, 0);

  const char* port = "\\\\.\\Scsi0:";
  fake.devices.MiniportReply(port, 1, identify);
  IdentifyBySCSIMiniport(1, info);
  const auto miniport = fake.devices.CallsOf(devio::kScsiMiniport);
  ASSERT_FALSE(miniport.empty());
  const auto srb = As<SRB_IO_CONTROL>(miniport[0].input);
  EXPECT_EQ(srb.HeaderLength, sizeof(SRB_IO_CONTROL));
  EXPECT_EQ(std::memcmp(srb.Signature, "SCSIDISK", 8), 0);
  std::vector<std::uint8_t> command(miniport[0].input.begin() + sizeof(SRB_IO_CONTROL), miniport[0].input.end());
  const auto cmd = As<SENDCMDINPARAMS>(command, offsetof(SENDCMDINPARAMS, bBuffer));
  EXPECT_EQ(cmd.irDriveRegs.bCommandReg, ID_CMD);
  EXPECT_EQ(cmd.bDriveNumber, 1);

  fake.devices.Reply(drive, devio::kStorageQueryProperty, devio::DeviceDescriptorReply({}));
  QueryStorageProperty(drive, 0, info);
  const auto query = fake.devices.CallsOf(devio::kStorageQueryProperty);
  ASSERT_FALSE(query.empty());
  const auto q = As<STORAGE_PROPERTY_QUERY>(query[0].input);
  EXPECT_EQ(q.PropertyId, StorageDeviceProperty);
  EXPECT_EQ(q.QueryType, PropertyStandardQuery);
}

}  // namespace
#endif
