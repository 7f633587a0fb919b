// The device blocks as this process's Windows headers lay them out, in the 32-bit and in the
// 64-bit build, where the sizes and alignments differ. Both directions of each codec meet the
// system's own structure: what an encoder writes (a platform's reply, the component's request)
// is read back through the structure, and a block filled through the structure, as a Windows
// driver fills it, decodes to the same values.
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

// A zeroed block of `size` bytes whose start is the structure, as a driver's output buffer.
template <typename T>
struct Filled {
  std::vector<std::uint8_t> bytes;
  explicit Filled(std::size_t size = sizeof(T)) : bytes(std::max(size, sizeof(T)), 0) {}
  // The allocation is aligned for any structure.
  T* operator->() { return reinterpret_cast<T*>(bytes.data()); }
  devio::BlockView Block(std::size_t size = sizeof(T)) const { return devio::BlockView(bytes.data(), size); }
};

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

  // The reply as a port driver leaves it: status and counts in the header, the data at the
  // offset the request named.
  Filled<SCSI_PASS_THROUGH> reply(r.dataBufferOffset + 192);
  std::memcpy(reply.bytes.data(), block.data(), block.size());
  reply->ScsiStatus = 0;
  reply->DataTransferLength = 36;
  reply->SenseInfoLength = 0;
  for (int i = 0; i < 36; ++i) reply.bytes[r.dataBufferOffset + i] = static_cast<std::uint8_t>(i + 1);
  const auto decoded = devio::ReadPassThroughReply(reply.Block(r.dataBufferOffset + 36), r);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->scsiStatus, 0);
  ASSERT_EQ(decoded->data.size(), 36u);
  EXPECT_EQ(decoded->data.front(), 1);
  EXPECT_EQ(decoded->data.back(), 36);
  EXPECT_TRUE(decoded->sense.empty());
}

// ATA_PASS_THROUGH_EX in this process's form: the request read through the structure, and
// the registers a driver writes back read through the codec.
TEST(WindowsLayouts, AtaPassThroughIsThisProcessForm) {
  const devio::AtaPassThroughForm& form = devio::kNativeAtaPassThrough;
  EXPECT_EQ(sizeof(ATA_PASS_THROUGH_EX), form.length);
  EXPECT_EQ(offsetof(ATA_PASS_THROUGH_EX, DataBufferOffset), form.dataBufferOffsetAt);
  EXPECT_EQ(offsetof(ATA_PASS_THROUGH_EX, PreviousTaskFile), form.previousTaskFileAt);
  EXPECT_EQ(offsetof(ATA_PASS_THROUGH_EX, CurrentTaskFile), form.currentTaskFileAt);
  EXPECT_EQ(devio::kAtaPassThrough, static_cast<std::uint32_t>(IOCTL_ATA_PASS_THROUGH));
  EXPECT_EQ(devio::AtaPassThrough::kDrdyRequired, ATA_FLAGS_DRDY_REQUIRED);
  EXPECT_EQ(devio::AtaPassThrough::kDataIn, ATA_FLAGS_DATA_IN);

  devio::AtaPassThrough r;
  r.flags = devio::AtaPassThrough::kDrdyRequired;
  r.timeOutValue = 5;
  r.dataBufferOffset = form.length;
  r.currentTaskFile[6] = 0xE5;
  const auto block = r.Encode();
  const auto apt = As<ATA_PASS_THROUGH_EX>(block);
  EXPECT_EQ(apt.Length, sizeof(ATA_PASS_THROUGH_EX));
  EXPECT_EQ(apt.AtaFlags, ATA_FLAGS_DRDY_REQUIRED);
  EXPECT_EQ(apt.DataTransferLength, 0u);
  EXPECT_EQ(apt.TimeOutValue, 5u);
  EXPECT_EQ(apt.DataBufferOffset, sizeof(ATA_PASS_THROUGH_EX));
  EXPECT_EQ(apt.CurrentTaskFile[6], 0xE5);

  Filled<ATA_PASS_THROUGH_EX> reply;
  std::memcpy(reply.bytes.data(), block.data(), block.size());
  reply->CurrentTaskFile[1] = 0x80;  // idle
  reply->CurrentTaskFile[6] = 0x50;
  const auto decoded = devio::AtaPassThrough::Decode(reply.Block());
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->currentTaskFile[1], 0x80);
  EXPECT_EQ(decoded->currentTaskFile[6], 0x50);
  EXPECT_EQ(decoded->dataBufferOffset, sizeof(ATA_PASS_THROUGH_EX));
  EXPECT_FALSE(devio::AtaPassThrough::Decode(reply.Block(sizeof(ATA_PASS_THROUGH_EX) - 1)));
}

// The protocol-specific query of NVMe pages: the request read back through
// STORAGE_PROPERTY_QUERY and STORAGE_PROTOCOL_SPECIFIC_DATA, and a reply filled through
// STORAGE_PROTOCOL_DATA_DESCRIPTOR as the storage driver fills it.
TEST(WindowsLayouts, NvmeProtocolQueryAndReply) {
  EXPECT_EQ(sizeof(STORAGE_PROTOCOL_SPECIFIC_DATA), devio::ProtocolSpecificData::kSize);
  EXPECT_EQ(offsetof(STORAGE_PROPERTY_QUERY, AdditionalParameters) + sizeof(STORAGE_PROTOCOL_SPECIFIC_DATA),
            devio::ProtocolQuery::kHeaderSize);
  EXPECT_EQ(sizeof(STORAGE_PROTOCOL_DATA_DESCRIPTOR), devio::ProtocolDataDescriptor::kHeaderSize);
  EXPECT_EQ(devio::ProtocolQuery::kAdapterProperty, static_cast<std::uint32_t>(StorageAdapterProtocolSpecificProperty));
  EXPECT_EQ(devio::ProtocolQuery::kDeviceProperty, static_cast<std::uint32_t>(StorageDeviceProtocolSpecificProperty));
  EXPECT_EQ(devio::ProtocolSpecificData::kProtocolNvme, static_cast<std::uint32_t>(ProtocolTypeNvme));
  EXPECT_EQ(devio::ProtocolSpecificData::kNvmeIdentify, static_cast<std::uint32_t>(NVMeDataTypeIdentify));
  EXPECT_EQ(devio::ProtocolSpecificData::kNvmeLogPage, static_cast<std::uint32_t>(NVMeDataTypeLogPage));
  EXPECT_EQ(devio::ProtocolSpecificData::kNvmeFeature, static_cast<std::uint32_t>(NVMeDataTypeFeature));
  EXPECT_EQ(offsetof(STORAGE_PROTOCOL_SPECIFIC_DATA, FixedProtocolReturnData), 24u);

  devio::ProtocolQuery q;
  q.propertyId = devio::ProtocolQuery::kDeviceProperty;
  q.data.protocolType = devio::ProtocolSpecificData::kProtocolNvme;
  q.data.dataType = devio::ProtocolSpecificData::kNvmeLogPage;
  q.data.requestValue = 2;
  q.data.dataLength = 512;
  const auto block = q.Encode();
  ASSERT_EQ(block.size(), devio::ProtocolQuery::kHeaderSize + 512);
  const auto query = As<STORAGE_PROPERTY_QUERY>(block, offsetof(STORAGE_PROPERTY_QUERY, AdditionalParameters));
  EXPECT_EQ(query.PropertyId, StorageDeviceProtocolSpecificProperty);
  EXPECT_EQ(query.QueryType, PropertyStandardQuery);
  STORAGE_PROTOCOL_SPECIFIC_DATA data;
  std::memcpy(&data, block.data() + offsetof(STORAGE_PROPERTY_QUERY, AdditionalParameters), sizeof data);
  EXPECT_EQ(data.ProtocolType, ProtocolTypeNvme);
  EXPECT_EQ(data.DataType, static_cast<DWORD>(NVMeDataTypeLogPage));
  EXPECT_EQ(data.ProtocolDataRequestValue, 2u);
  EXPECT_EQ(data.ProtocolDataRequestSubValue, 0u);
  EXPECT_EQ(data.ProtocolDataOffset, sizeof(STORAGE_PROTOCOL_SPECIFIC_DATA));
  EXPECT_EQ(data.ProtocolDataLength, 512u);

  Filled<STORAGE_PROTOCOL_DATA_DESCRIPTOR> reply(sizeof(STORAGE_PROTOCOL_DATA_DESCRIPTOR) + 512);
  reply->Version = sizeof(STORAGE_PROTOCOL_DATA_DESCRIPTOR);
  reply->Size = sizeof(STORAGE_PROTOCOL_DATA_DESCRIPTOR);
  reply->ProtocolSpecificData = data;
  auto* payload = reinterpret_cast<std::uint8_t*>(&reply->ProtocolSpecificData) + data.ProtocolDataOffset;
  payload[0] = 0x04;
  payload[511] = 0x5A;
  const auto decoded = devio::ProtocolDataDescriptor::Decode(reply.Block(reply.bytes.size()));
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->data.dataType, devio::ProtocolSpecificData::kNvmeLogPage);
  ASSERT_EQ(decoded->payload.size(), 512u);
  EXPECT_EQ(decoded->payload.front(), 0x04);
  EXPECT_EQ(decoded->payload.back(), 0x5A);
  // What the Linux layer and the fake write reads back through the structure the same way.
  devio::ProtocolDataDescriptor ours;
  ours.data = decoded->data;
  ours.payload = decoded->payload;
  const auto encoded = ours.Encode();
  EXPECT_EQ(encoded, reply.bytes);
}

TEST(WindowsLayouts, RepliesTheCodecWritesReadThroughTheSystemStructures) {
  const auto geometry = As<DISK_GEOMETRY>(devio::DiskGeometry{60801, devio::kMediaFixed, 255, 63, 512}.Encode());
  EXPECT_EQ(geometry.Cylinders.QuadPart, 60801);
  EXPECT_EQ(geometry.MediaType, FixedMedia);
  EXPECT_EQ(geometry.TracksPerCylinder, 255u);
  EXPECT_EQ(geometry.SectorsPerTrack, 63u);
  EXPECT_EQ(geometry.BytesPerSector, 512u);

  devio::PartitionInfo second;
  second.StartingOffset = 0x7E00;
  second.Length = 1LL << 33;
  second.HiddenSectors = 63;
  second.Number = 2;
  second.Typ = 0x07;
  second.BootIndicator = true;
  second.Recognized = true;
  const auto layoutBlock = devio::DriveLayout{0xA1B2C3D4, {devio::PartitionInfo{}, second}}.Encode();
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

  const auto extentsBlock = devio::VolumeDiskExtents{{{0, 0, 0}, {3, 1LL << 20, 5LL << 30}}}.Encode();
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
  const auto descriptorBlock = d.Encode();
  const auto descriptor = As<STORAGE_DEVICE_DESCRIPTOR>(descriptorBlock);
  EXPECT_EQ(descriptor.Size, descriptorBlock.size());
  EXPECT_EQ(descriptor.DeviceType, 5);
  EXPECT_TRUE(descriptor.RemovableMedia);
  EXPECT_EQ(descriptor.BusType, BusTypeAta);
  EXPECT_EQ(descriptor.ProductIdOffset, 0u);
  EXPECT_STREQ(reinterpret_cast<const char*>(&descriptorBlock[descriptor.VendorIdOffset]), "VENDOR");
  EXPECT_STREQ(reinterpret_cast<const char*>(&descriptorBlock[descriptor.SerialNumberOffset]), "SERIAL");

  devio::MediaInfo tape;
  tape.mediaType = 0x20;
  tape.currentBlockSize = 512;
  tape.busType = devio::kBusScsi;
  const auto mediaBlock = devio::MediaTypes{devio::kFileDeviceTape, {tape}}.Encode();
  ASSERT_EQ(mediaBlock.size(), sizeof(GET_MEDIA_TYPES));
  const auto media = As<GET_MEDIA_TYPES>(mediaBlock);
  EXPECT_EQ(media.DeviceType, FILE_DEVICE_TAPE);
  EXPECT_EQ(media.MediaInfoCount, 1u);
  EXPECT_EQ(media.MediaInfo[0].DeviceSpecific.TapeInfo.MediaType, 0x20);
  EXPECT_EQ(media.MediaInfo[0].DeviceSpecific.TapeInfo.CurrentBlockSize, 512u);
  EXPECT_EQ(media.MediaInfo[0].DeviceSpecific.TapeInfo.BusType, BusTypeScsi);

  const auto address = As<SCSI_ADDRESS>(devio::ScsiAddress{2, 0, 1, 0}.Encode());
  EXPECT_EQ(address.Length, sizeof(SCSI_ADDRESS));
  EXPECT_EQ(address.PortNumber, 2);
  EXPECT_EQ(address.TargetId, 1);

  const auto versionBlock = devio::SmartVersion{1, 1, 0x05, 7}.Encode();
  ASSERT_EQ(versionBlock.size(), sizeof(GETVERSIONINPARAMS));
  const auto version = As<GETVERSIONINPARAMS>(versionBlock);
  EXPECT_EQ(version.bIDEDeviceMap, 0x05);
  EXPECT_EQ(version.fCapabilities, 7u);

  std::uint8_t data[512] = {0xAB};
  const auto outBlock = devio::SmartCommandOut::Sector(data, SMART_IDE_ERROR, 0x04).Encode();
  EXPECT_EQ(outBlock.size(), offsetof(SENDCMDOUTPARAMS, bBuffer) + 512);
  const auto out = As<SENDCMDOUTPARAMS>(outBlock);
  EXPECT_EQ(out.cBufferSize, 512u);
  EXPECT_EQ(out.DriverStatus.bDriverError, SMART_IDE_ERROR);
  EXPECT_EQ(out.DriverStatus.bIDEError, 0x04);
  EXPECT_EQ(outBlock[offsetof(SENDCMDOUTPARAMS, bBuffer)], 0xAB);
}

TEST(WindowsLayouts, BlocksFilledThroughTheSystemStructuresDecode) {
  Filled<DISK_GEOMETRY> geometry;
  geometry->Cylinders.QuadPart = 0x123456789LL;
  geometry->MediaType = RemovableMedia;
  geometry->TracksPerCylinder = 16;
  geometry->SectorsPerTrack = 63;
  geometry->BytesPerSector = 4096;
  EXPECT_EQ(devio::DiskGeometry::Decode(geometry.Block()),
            (devio::DiskGeometry{0x123456789LL, devio::kMediaRemovable, 16, 63, 4096}));

  constexpr std::size_t kLayoutSize = offsetof(DRIVE_LAYOUT_INFORMATION, PartitionEntry) + 2 * sizeof(PARTITION_INFORMATION);
  Filled<DRIVE_LAYOUT_INFORMATION> layout(kLayoutSize);
  layout->PartitionCount = 2;
  layout->Signature = 0xCAFEF00D;
  PARTITION_INFORMATION& p = layout->PartitionEntry[1];
  p.StartingOffset.QuadPart = 1LL << 20;
  p.PartitionLength.QuadPart = 3LL << 40;
  p.HiddenSectors = 2048;
  p.PartitionNumber = 2;
  p.PartitionType = 0x0C;
  p.BootIndicator = TRUE;
  p.RecognizedPartition = TRUE;
  p.RewritePartition = TRUE;
  const auto decodedLayout = devio::DriveLayout::Decode(layout.Block(kLayoutSize));
  ASSERT_TRUE(decodedLayout);
  EXPECT_EQ(decodedLayout->signature, 0xCAFEF00Du);
  ASSERT_EQ(decodedLayout->entries.size(), 2u);
  EXPECT_EQ(decodedLayout->entries[0], devio::PartitionInfo{});
  EXPECT_EQ(decodedLayout->entries[1], (devio::PartitionInfo{1LL << 20, 3LL << 40, 2048, 2, 0x0C, true, true, true}));

  constexpr std::size_t kExtentsSize = offsetof(VOLUME_DISK_EXTENTS, Extents) + 2 * sizeof(DISK_EXTENT);
  Filled<VOLUME_DISK_EXTENTS> extents(kExtentsSize);
  extents->NumberOfDiskExtents = 2;
  extents->Extents[1].DiskNumber = 4;
  extents->Extents[1].StartingOffset.QuadPart = 1LL << 30;
  extents->Extents[1].ExtentLength.QuadPart = 7LL << 30;
  const auto decodedExtents = devio::VolumeDiskExtents::Decode(extents.Block(kExtentsSize));
  ASSERT_TRUE(decodedExtents);
  EXPECT_EQ(decodedExtents->count, 2u);
  ASSERT_EQ(decodedExtents->extents.size(), 2u);
  EXPECT_EQ(decodedExtents->extents[1], (devio::DiskExtent{4, 1LL << 30, 7LL << 30}));

  // A descriptor whose texts follow the raw properties, as the class drivers place them.
  Filled<STORAGE_DEVICE_DESCRIPTOR> descriptor(96);
  descriptor->Version = sizeof(STORAGE_DEVICE_DESCRIPTOR);
  descriptor->Size = 96;
  descriptor->DeviceType = 0;
  descriptor->RemovableMedia = TRUE;
  descriptor->BusType = BusTypeUsb;
  descriptor->ProductIdOffset = sizeof(STORAGE_DEVICE_DESCRIPTOR);
  descriptor->SerialNumberOffset = sizeof(STORAGE_DEVICE_DESCRIPTOR) + 16;
  std::memcpy(&descriptor.bytes[descriptor->ProductIdOffset], "Flash Disk", 11);
  std::memcpy(&descriptor.bytes[descriptor->SerialNumberOffset], "0123456789", 11);
  const auto decodedDescriptor = devio::DeviceDescriptor::Decode(descriptor.Block(96));
  ASSERT_TRUE(decodedDescriptor);
  EXPECT_TRUE(decodedDescriptor->removableMedia);
  EXPECT_EQ(decodedDescriptor->busType, devio::kBusUsb);
  EXPECT_FALSE(decodedDescriptor->vendor);
  EXPECT_EQ(decodedDescriptor->product, "Flash Disk");
  EXPECT_EQ(decodedDescriptor->serialNumber, "0123456789");

  Filled<GET_MEDIA_TYPES> media;
  media->DeviceType = FILE_DEVICE_DISK;
  media->MediaInfoCount = 1;
  media->MediaInfo[0].DeviceSpecific.DiskInfo.Cylinders.QuadPart = 60801;
  media->MediaInfo[0].DeviceSpecific.DiskInfo.MediaType = static_cast<STORAGE_MEDIA_TYPE>(FixedMedia);
  media->MediaInfo[0].DeviceSpecific.DiskInfo.TracksPerCylinder = 255;
  media->MediaInfo[0].DeviceSpecific.DiskInfo.SectorsPerTrack = 63;
  media->MediaInfo[0].DeviceSpecific.DiskInfo.BytesPerSector = 512;
  media->MediaInfo[0].DeviceSpecific.DiskInfo.NumberMediaSides = 1;
  media->MediaInfo[0].DeviceSpecific.DiskInfo.MediaCharacteristics = MEDIA_CURRENTLY_MOUNTED | MEDIA_READ_WRITE;
  const auto decodedMedia = devio::MediaTypes::Decode(media.Block());
  ASSERT_TRUE(decodedMedia);
  EXPECT_EQ(decodedMedia->deviceType, devio::kFileDeviceDisk);
  ASSERT_EQ(decodedMedia->media.size(), 1u);
  EXPECT_EQ(decodedMedia->media[0].cylinders, 60801);
  EXPECT_EQ(decodedMedia->media[0].mediaType, devio::kMediaFixed);
  EXPECT_EQ(decodedMedia->media[0].bytesPerSector, 512u);
  EXPECT_EQ(decodedMedia->media[0].characteristics, devio::kMediaCurrentlyMounted | devio::kMediaReadWrite);

  Filled<SCSI_ADDRESS> address;
  address->Length = sizeof(SCSI_ADDRESS);
  address->PortNumber = 3;
  address->PathId = 1;
  address->TargetId = 5;
  address->Lun = 2;
  EXPECT_EQ(devio::ScsiAddress::Decode(address.Block()), (devio::ScsiAddress{3, 1, 5, 2}));

  Filled<GETVERSIONINPARAMS> version;
  version->bVersion = 1;
  version->bRevision = 1;
  version->bIDEDeviceMap = 0x0A;
  version->fCapabilities = CAP_ATA_ID_CMD | CAP_SMART_CMD;
  EXPECT_EQ(devio::SmartVersion::Decode(version.Block()), (devio::SmartVersion{1, 1, 0x0A, 5}));

  constexpr std::size_t kOutSize = offsetof(SENDCMDOUTPARAMS, bBuffer) + 512;
  Filled<SENDCMDOUTPARAMS> out(kOutSize);
  out->cBufferSize = 512;
  out->DriverStatus.bDriverError = SMART_IDE_ERROR;
  out->DriverStatus.bIDEError = 0x04;
  out->bBuffer[0] = 0x5A;
  const auto decodedOut = devio::SmartCommandOut::Decode(out.Block(kOutSize));
  ASSERT_TRUE(decodedOut);
  EXPECT_EQ(decodedOut->driverError, SMART_IDE_ERROR);
  EXPECT_EQ(decodedOut->ideError, 0x04);
  ASSERT_EQ(decodedOut->data.size(), 512u);
  EXPECT_EQ(decodedOut->data[0], 0x5A);

  Filled<SENDCMDINPARAMS> in;
  in->cBufferSize = 512;
  in->irDriveRegs.bFeaturesReg = READ_ATTRIBUTES;
  in->irDriveRegs.bCylLowReg = SMART_CYL_LOW;
  in->irDriveRegs.bCylHighReg = SMART_CYL_HI;
  in->irDriveRegs.bCommandReg = SMART_CMD;
  in->bDriveNumber = 3;
  const auto decodedIn = devio::SmartCommandIn::Decode(in.Block(offsetof(SENDCMDINPARAMS, bBuffer)));
  ASSERT_TRUE(decodedIn);
  EXPECT_EQ(decodedIn->features, READ_ATTRIBUTES);
  EXPECT_EQ(decodedIn->cylLow, SMART_CYL_LOW);
  EXPECT_EQ(decodedIn->cylHigh, SMART_CYL_HI);
  EXPECT_EQ(decodedIn->command, SMART_CMD);
  EXPECT_EQ(decodedIn->driveNumber, 3);
}

TEST(WindowsLayouts, RequestsTheComponentSendsReadThroughTheSystemStructures) {
  FakePlatform fake;
  ScopedPlatform scope(fake);
  const char* drive = "\\\\.\\PhysicalDrive0";
  fake.devices.Reply(drive, devio::kSmartGetVersion, devio::SmartVersion{1, 1, 0x01, 7}.Encode());
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
  EXPECT_EQ(srb.Length, offsetof(SENDCMDOUTPARAMS, bBuffer) + 512);
  std::vector<std::uint8_t> command(miniport[0].input.begin() + sizeof(SRB_IO_CONTROL), miniport[0].input.end());
  const auto cmd = As<SENDCMDINPARAMS>(command, offsetof(SENDCMDINPARAMS, bBuffer));
  EXPECT_EQ(cmd.irDriveRegs.bCommandReg, ID_CMD);
  EXPECT_EQ(cmd.bDriveNumber, 1);

  fake.devices.Reply(drive, devio::kStorageQueryProperty, devio::DeviceDescriptor{}.Encode());
  QueryStorageProperty(drive, 0, info);
  const auto query = fake.devices.CallsOf(devio::kStorageQueryProperty);
  ASSERT_FALSE(query.empty());
  const auto q = As<STORAGE_PROPERTY_QUERY>(query[0].input);
  EXPECT_EQ(q.PropertyId, StorageDeviceProperty);
  EXPECT_EQ(q.QueryType, PropertyStandardQuery);
}

}  // namespace
#endif
