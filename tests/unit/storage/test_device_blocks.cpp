// The device block codecs: every block the platforms write and the component reads (or the
// other way round) comes back from its decoder as it went into its encoder, for ordinary and
// extreme values; blocks cut short, and counts, offsets and lengths that reach past the block,
// are refused or cut where the block ends.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "platform/DeviceBlocks.h"

namespace devio = kyvex::platform::devio;

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::int64_t kMin64 = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t kMax64 = std::numeric_limits<std::int64_t>::max();
constexpr std::uint32_t kMax32 = std::numeric_limits<std::uint32_t>::max();

Bytes Cut(const Bytes& b, std::size_t n) { return Bytes(b.begin(), b.begin() + static_cast<long>(std::min(n, b.size()))); }

// A fixed-size block: the encoder writes exactly its size, the decoder gives the value back
// and refuses the block one byte short.
template <class Block>
void FixedRoundTrip(const Block& value, std::size_t size = Block::kSize) {
  const Bytes bytes = value.Encode();
  EXPECT_EQ(bytes.size(), Block::kSize);
  EXPECT_EQ(Block::Decode(bytes), value);
  EXPECT_EQ(Block::Decode(Cut(bytes, size)), value);
  EXPECT_FALSE(Block::Decode(Cut(bytes, size - 1)));
}

TEST(DeviceBlocks, FixedBlocksRoundTripAndRefuseShortBlocks) {
  for (const auto& v : {devio::SmartVersion{1, 1, 0x05, 7}, devio::SmartVersion{0xFF, 0xFF, 0xFF, kMax32}})
    FixedRoundTrip(v);
  for (const auto& g : {devio::DiskGeometry{60801, devio::kMediaFixed, 255, 63, 512},
                        devio::DiskGeometry{kMin64, kMax32, kMax32, kMax32, kMax32},
                        devio::DiskGeometry{kMax64, 0, 0, 0, 4096}})
    FixedRoundTrip(g);
  for (const auto& a : {devio::ScsiAddress{2, 0, 1, 0}, devio::ScsiAddress{255, 255, 255, 255}}) FixedRoundTrip(a);
  for (const auto& q : {devio::StoragePropertyQuery{}, devio::StoragePropertyQuery{6, devio::StoragePropertyQuery::kExistsQuery}})
    FixedRoundTrip(q, 8);  // the additional parameters are not needed

  devio::SrbIoControl srb;
  srb.signature = {'S', 'C', 'S', 'I', 'D', 'I', 'S', 'K'};
  srb.timeout = 10000;
  srb.controlCode = 0x1B0501;
  srb.returnCode = kMax32;
  srb.length = 528;
  FixedRoundTrip(srb);

  // SENDCMDINPARAMS: most senders leave off the one data byte.
  devio::SmartCommandIn in{512, 0xD0, 1, 1, 0x4F, 0xC2, 0xA0, 0xB0, 7};
  FixedRoundTrip(in, devio::SmartCommandIn::kShortSize);
  FixedRoundTrip(devio::SmartCommandIn{kMax32, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
                 devio::SmartCommandIn::kShortSize);
}

// --- SMART ----------------------------------------------------------------------------------

TEST(DeviceBlocks, SmartCommandOutCarriesWhatArrived) {
  Bytes sector(512);
  for (std::size_t i = 0; i < sector.size(); ++i) sector[i] = static_cast<std::uint8_t>(i * 7);
  const auto full = devio::SmartCommandOut::Sector(sector.data(), devio::kSmartIdeError, 0x04);
  const Bytes bytes = full.Encode();
  ASSERT_EQ(bytes.size(), devio::SmartCommandOut::kSize);
  EXPECT_EQ(devio::SmartCommandOut::Decode(bytes), full);
  EXPECT_EQ(devio::SmartCommandOut::Sector(nullptr).data, Bytes(512, 0));

  // A driver that answers with its status alone, or with part of the sector: the data are what
  // came, and the buffer size it states is not taken for their length.
  const auto header = devio::SmartCommandOut::Decode(Cut(bytes, 16));
  ASSERT_TRUE(header);
  EXPECT_EQ(header->bufferSize, 512u);
  EXPECT_EQ(header->driverError, devio::kSmartIdeError);
  EXPECT_TRUE(header->data.empty());
  EXPECT_EQ(devio::SmartCommandOut::Decode(Cut(bytes, 100))->data, Cut(sector, 84));
  EXPECT_FALSE(devio::SmartCommandOut::Decode(Cut(bytes, 15)));
}

TEST(DeviceBlocks, SmartDataEntriesAsFarAsTheSectorReaches) {
  devio::SmartData d;
  d.revision = 0x0010;
  for (std::size_t i = 0; i < d.entries.size(); ++i)
    for (std::size_t k = 0; k < d.entries[i].size(); ++k) d.entries[i][k] = static_cast<std::uint8_t>(0x80 + i + k);
  const Bytes bytes = d.Encode();
  ASSERT_EQ(bytes.size(), 512u);
  EXPECT_EQ(devio::SmartData::Decode(bytes), d);

  // Cut inside the third entry: two whole entries, the rest unused.
  const auto cut = devio::SmartData::Decode(Cut(bytes, 2 + 12 * 2 + 5));
  ASSERT_TRUE(cut);
  EXPECT_EQ(cut->entries[1], d.entries[1]);
  EXPECT_EQ(cut->entries[2], devio::SmartData::Entry{});
  EXPECT_EQ(cut->entries[29], devio::SmartData::Entry{});
  EXPECT_EQ(devio::SmartData::Decode(Cut(bytes, 2))->revision, 0x10);
  EXPECT_FALSE(devio::SmartData::Decode(Cut(bytes, 1)));
}

// --- Drive layout, media types, volume extents: counted entries --------------------------------

TEST(DeviceBlocks, DriveLayoutRoundTripAndCountsBeyondTheBlock) {
  std::vector<devio::PartitionInfo> entries = {
      {1LL << 20, 100LL << 30, 2048, 1, 0x07, true, true, false},
      {},  // an unused slot survives the trip
      {kMax64, kMin64, kMax32, kMax32, 0xFF, true, true, true},
  };
  for (const auto& layout : {devio::DriveLayout{0xA1B2C3D4, entries}, devio::DriveLayout{0, {}}}) {
    const Bytes bytes = layout.Encode();
    EXPECT_EQ(bytes.size(), 8 + 32 * layout.entries.size());
    EXPECT_EQ(devio::DriveLayout::Decode(bytes), layout);
  }
  Bytes bytes = devio::DriveLayout{7, entries}.Encode();
  // The count names more entries than came, or the last entry is cut: only whole entries.
  devio::Put32(bytes.data(), 1000);
  EXPECT_EQ(devio::DriveLayout::Decode(bytes)->entries, entries);
  EXPECT_EQ(devio::DriveLayout::Decode(Cut(bytes, bytes.size() - 1))->entries.size(), 2u);
  EXPECT_EQ(devio::DriveLayout::Decode(Cut(bytes, 8))->signature, 7u);
  EXPECT_TRUE(devio::DriveLayout::Decode(Cut(bytes, 8))->entries.empty());
  EXPECT_FALSE(devio::DriveLayout::Decode(Cut(bytes, 7)));
}

TEST(DeviceBlocks, MediaTypesTakeTheFormOfTheirDevice) {
  devio::MediaInfo disk;
  disk.mediaType = devio::kMediaFixed;
  disk.cylinders = 60801;
  disk.tracksPerCylinder = 255;
  disk.sectorsPerTrack = 63;
  disk.bytesPerSector = 512;
  disk.numberMediaSides = 2;
  disk.characteristics = devio::kMediaCurrentlyMounted | devio::kMediaReadWrite;
  devio::MediaInfo cd;
  cd.mediaType = devio::kMediaCdRom;
  cd.bytesPerSector = 2048;
  cd.cylinders = kMin64;
  devio::MediaInfo tape;  // only the fields a tape entry has
  tape.mediaType = 0x20;
  tape.characteristics = kMax32;
  tape.currentBlockSize = 65536;
  tape.busType = devio::kBusSas;
  for (const auto& types : {devio::MediaTypes{devio::kFileDeviceDisk, {disk}},
                            devio::MediaTypes{devio::kFileDeviceDvd, {cd, disk, cd}},
                            devio::MediaTypes{devio::kFileDeviceTape, {tape, tape}}, devio::MediaTypes{kMax32, {}}}) {
    const Bytes bytes = types.Encode();
    EXPECT_EQ(bytes.size(), 8 + 32 * types.media.size());
    EXPECT_EQ(devio::MediaTypes::Decode(bytes), types);
  }
  // A tape entry lays the media type where a disk entry has its cylinders.
  const Bytes tapeBytes = devio::MediaTypes{devio::kFileDeviceTape, {tape}}.Encode();
  EXPECT_EQ(devio::Get32(&tapeBytes[8]), 0x20u);
  EXPECT_EQ(devio::Get32(&tapeBytes[20]), devio::kBusSas);

  Bytes bytes = devio::MediaTypes{devio::kFileDeviceDisk, {disk, disk}}.Encode();
  devio::Put32(&bytes[4], kMax32);
  EXPECT_EQ(devio::MediaTypes::Decode(bytes)->media.size(), 2u);
  EXPECT_EQ(devio::MediaTypes::Decode(Cut(bytes, 8 + 32 + 31))->media.size(), 1u);
  EXPECT_FALSE(devio::MediaTypes::Decode(Cut(bytes, 7)));
}

TEST(DeviceBlocks, VolumeExtentsKeepTheStatedCount) {
  const std::vector<devio::DiskExtent> extents = {{0, 1LL << 20, 5LL << 30}, {kMax32, kMax64, kMin64}};
  const Bytes two = devio::VolumeDiskExtents{extents}.Encode();
  ASSERT_EQ(two.size(), 8u + 2 * 24);
  EXPECT_EQ(devio::VolumeDiskExtents::Decode(two), (devio::VolumeDiskExtents{extents, 2}));

  // No extent: the structure still holds its one slot.
  const Bytes none = devio::VolumeDiskExtents{}.Encode();
  EXPECT_EQ(none.size(), 8u + 24);
  EXPECT_EQ(devio::VolumeDiskExtents::Decode(none), (devio::VolumeDiskExtents{{}, 0}));

  // A count beyond what came: the count as stated, the extents that are there.
  const auto cut = devio::VolumeDiskExtents::Decode(Cut(two, 8 + 24 + 23));
  EXPECT_EQ(cut, (devio::VolumeDiskExtents{{extents[0]}, 2}));
  EXPECT_EQ(devio::VolumeDiskExtents::Decode(Cut(two, 8)), (devio::VolumeDiskExtents{{}, 2}));
  EXPECT_FALSE(devio::VolumeDiskExtents::Decode(Cut(two, 7)));
}

// --- Texts: device descriptor, media serial number, inquiry ------------------------------------

// The protocol-specific query and its reply: the query's data area follows the protocol data
// and is as large as its length says; the reply's data is what its offset and length name,
// cut where the block ends, and nothing when the offset lies beyond it.
TEST(DeviceBlocks, ProtocolQueryAndDataDescriptor) {
  devio::ProtocolQuery q;
  q.propertyId = devio::ProtocolQuery::kAdapterProperty;
  q.data = {devio::ProtocolSpecificData::kProtocolNvme, devio::ProtocolSpecificData::kNvmeIdentify, 1, 0, 0, 4096,
            0, 7, 8, kMax32};
  const Bytes query = q.Encode();
  ASSERT_EQ(query.size(), devio::ProtocolQuery::kHeaderSize + 4096);
  auto expected = q;
  expected.data.dataOffset = devio::ProtocolSpecificData::kSize;
  EXPECT_EQ(devio::ProtocolQuery::Decode(query), expected);
  EXPECT_EQ(devio::ProtocolQuery::Decode(Cut(query, devio::ProtocolQuery::kHeaderSize)), expected);
  EXPECT_FALSE(devio::ProtocolQuery::Decode(Cut(query, devio::ProtocolQuery::kHeaderSize - 1)));
  // The plain query's decoder reads the same header.
  EXPECT_EQ(devio::StoragePropertyQuery::Decode(query)->propertyId, devio::ProtocolQuery::kAdapterProperty);

  devio::ProtocolDataDescriptor d;
  d.data = expected.data;
  d.payload = Bytes(512, 0xA5);
  const Bytes reply = d.Encode();
  ASSERT_EQ(reply.size(), devio::ProtocolDataDescriptor::kHeaderSize + 512);
  auto back = d;
  back.data.dataLength = 512;
  EXPECT_EQ(devio::ProtocolDataDescriptor::Decode(reply), back);
  EXPECT_EQ(devio::ProtocolDataDescriptor::Decode(Cut(reply, reply.size() - 12))->payload, Bytes(500, 0xA5));
  EXPECT_FALSE(devio::ProtocolDataDescriptor::Decode(Cut(reply, devio::ProtocolDataDescriptor::kHeaderSize - 1)));
  for (std::uint32_t offset : {600u, kMax32}) {  // the data said to lie beyond the block
    Bytes far = reply;
    devio::Put32(&far[8 + 16], offset);
    EXPECT_TRUE(devio::ProtocolDataDescriptor::Decode(far)->payload.empty()) << offset;
  }
  Bytes huge = reply;  // a length beyond the block
  devio::Put32(&huge[8 + 20], kMax32);
  EXPECT_EQ(devio::ProtocolDataDescriptor::Decode(huge)->payload.size(), 512u);
}

TEST(DeviceBlocks, DeviceDescriptorTextsRoundTripAndStayInsideTheBlock) {
  devio::DeviceDescriptor full;
  full.deviceType = 5;
  full.deviceTypeModifier = 0x80;
  full.removableMedia = true;
  full.commandQueueing = true;
  full.vendor = "HL-DT-ST";
  full.product = std::string(300, 'P');
  full.revision = "";  // a text that is there but empty
  full.serialNumber = "4457572d41433156333234";
  full.busType = devio::kBusNvme;
  devio::DeviceDescriptor bare;  // no texts at all
  bare.busType = devio::kBusUsb;
  for (const auto& d : {full, bare}) {
    const Bytes bytes = d.Encode();
    EXPECT_EQ(devio::Get32(&bytes[4]), bytes.size());
    EXPECT_EQ(devio::DeviceDescriptor::Decode(bytes), d);
  }
  EXPECT_EQ(bare.Encode().size(), devio::DeviceDescriptor::kFixedSize);
  EXPECT_FALSE(devio::DeviceDescriptor::Decode(Cut(bare.Encode(), devio::DeviceDescriptor::kFixedSize - 1)));

  // Cut inside the product: the vendor whole, the product up to the cut, the texts beyond the
  // cut absent.
  const Bytes bytes = full.Encode();
  const std::uint32_t productAt = devio::Get32(&bytes[16]);
  const auto cut = devio::DeviceDescriptor::Decode(Cut(bytes, productAt + 10));
  ASSERT_TRUE(cut);
  EXPECT_EQ(cut->vendor, "HL-DT-ST");
  EXPECT_EQ(cut->product, std::string(10, 'P'));
  EXPECT_FALSE(cut->revision);
  EXPECT_FALSE(cut->serialNumber);
  EXPECT_EQ(cut->busType, devio::kBusNvme);

  // Offsets that point outside the block or at its end name no text.
  Bytes hostile = bare.Encode();
  devio::Put32(&hostile[12], kMax32);
  devio::Put32(&hostile[16], static_cast<std::uint32_t>(hostile.size()));
  devio::Put32(&hostile[20], 8);  // inside the fixed part: whatever stands there, up to a zero
  const auto odd = devio::DeviceDescriptor::Decode(hostile);
  ASSERT_TRUE(odd);
  EXPECT_FALSE(odd->vendor);
  EXPECT_FALSE(odd->product);
  EXPECT_EQ(odd->revision, std::string());
}

TEST(DeviceBlocks, MediaSerialNumberAsFarAsItsLengthAndTheBlockReach) {
  for (const std::string& serial : {std::string(), std::string("MEDIA-77"), std::string(280, 'S')}) {
    const devio::MediaSerialNumber m{serial, 0};
    EXPECT_EQ(devio::MediaSerialNumber::Decode(m.Encode()), m);
  }
  EXPECT_EQ(devio::MediaSerialNumber::Decode(devio::MediaSerialNumber{"X", kMax32}.Encode())->result, kMax32);
  const Bytes bytes = devio::MediaSerialNumber{"ABCDEFGH", 0}.Encode();
  EXPECT_EQ(devio::MediaSerialNumber::Decode(Cut(bytes, 16 + 3))->serialNumber, "ABC");
  Bytes shorter = bytes;
  devio::Put32(&shorter[0], 5);
  EXPECT_EQ(devio::MediaSerialNumber::Decode(shorter)->serialNumber, "ABCDE");
  Bytes longer = bytes;
  devio::Put32(&longer[0], kMax32);
  EXPECT_EQ(devio::MediaSerialNumber::Decode(longer)->serialNumber, "ABCDEFGH");  // its terminator ends it
  EXPECT_FALSE(devio::MediaSerialNumber::Decode(Cut(bytes, 15)));
}

TEST(DeviceBlocks, InquiryTextsAsFarAsTheDataReach) {
  const devio::InquiryData cd{0x05, "PIONEER", "DVD-RW  DVR-115D", "1.13", "07/10/23  PIONEER"};
  const devio::InquiryData disk{0x00, "ATA", "ST3500418AS", "CC38", ""};
  const devio::InquiryData full{0x7F, "VVVVVVVV", "PPPPPPPPPPPPPPPP", "RRRR", "SSSSSSSSSSSSSSSSSSSS"};
  for (const auto& i : {cd, disk, full}) {
    const Bytes bytes = i.Encode();
    EXPECT_EQ(bytes.size(), 96u);
    EXPECT_EQ(bytes[4], 91);
    EXPECT_EQ(devio::InquiryData::Decode(bytes), i);
  }
  // A device that sends less than the standard data: the texts up to where it stopped.
  const Bytes bytes = cd.Encode();
  EXPECT_EQ(devio::InquiryData::Decode(Cut(bytes, 36)), (devio::InquiryData{0x05, "PIONEER", "DVD-RW  DVR-115D", "1.13", ""}));
  EXPECT_EQ(devio::InquiryData::Decode(Cut(bytes, 20)), (devio::InquiryData{0x05, "PIONEER", "DVD-", "", ""}));
  EXPECT_EQ(devio::InquiryData::Decode(Cut(bytes, 5)), (devio::InquiryData{0x05, "", "", "", ""}));
  EXPECT_FALSE(devio::InquiryData::Decode(Cut(bytes, 4)));
}

TEST(DeviceBlocks, ModeSensePageAfterItsBlockDescriptors) {
  const devio::ModeSense6Data cdPage{0, 0, {}, 0x2A, {0x3F, 0x37, 0x29, 0x23}};
  const devio::ModeSense6Data withDescriptors{0x70, 0x80, Bytes(8, 0xBD), 0x2A, Bytes(28, 0x11)};
  const devio::ModeSense6Data emptyPage{0, 0, Bytes(240, 1), 0x3F, {}};
  for (const auto& m : {cdPage, withDescriptors, emptyPage}) {
    const Bytes bytes = m.Encode();
    EXPECT_EQ(bytes[0], bytes.size() - 1);
    EXPECT_EQ(devio::ModeSense6Data::Decode(bytes), m);
  }
  // The PS bit is no part of the page code.
  Bytes saved = cdPage.Encode();
  saved[4] |= 0x80;
  EXPECT_EQ(devio::ModeSense6Data::Decode(saved)->pageCode, 0x2A);

  // The page's bytes as far as both its length and the data reach; without the page's own
  // two bytes there is no page.
  const Bytes bytes = withDescriptors.Encode();
  EXPECT_EQ(devio::ModeSense6Data::Decode(Cut(bytes, 4 + 8 + 2 + 3))->page, Bytes(3, 0x11));
  Bytes shortPage = bytes;
  shortPage[4 + 8 + 1] = 1;
  EXPECT_EQ(devio::ModeSense6Data::Decode(shortPage)->page, Bytes(1, 0x11));
  EXPECT_FALSE(devio::ModeSense6Data::Decode(Cut(bytes, 4 + 8 + 1)));
  EXPECT_FALSE(devio::ModeSense6Data::Decode(Cut(bytes, 3)));
  Bytes descriptorsPastTheEnd = bytes;
  descriptorsPastTheEnd[3] = 200;
  EXPECT_FALSE(devio::ModeSense6Data::Decode(descriptorsPastTheEnd));
}

// --- SCSI pass-through ----------------------------------------------------------------------------

// Both header forms round-trip through the codec, and a driver of one form refuses the other
// (a 64-bit driver must not read a 32-bit header's SenseInfoOffset as the high half of its
// DataBufferOffset).
// The ATA PASS-THROUGH blocks byte for byte as SAT lays them out (CHECK POWER MODE with the
// registers asked back; SMART READ DATA by PIO), every register back through either form at
// values that tell the positions apart, and what is not such a block refused.
TEST(AtaCommandBlockCodec, BothFormsByteForByteAndRoundTrip) {
  using devio::AtaCommandBlock;
  auto bytes = [](const AtaCommandBlock& b, bool twelve) {
    const auto c = b.Encode(twelve);
    return Bytes(c.begin(), c.begin() + b.Length(twelve));
  };
  const auto check = AtaCommandBlock::NonData(0xE5);
  EXPECT_EQ(bytes(check, false), (Bytes{0x85, 0x06, 0x20, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xE5, 0}));
  EXPECT_EQ(bytes(check, true), (Bytes{0xA1, 0x06, 0x20, 0, 0, 0, 0, 0, 0, 0xE5, 0, 0}));
  const auto smart = AtaCommandBlock::PioIn(0xB0, 0xD0, 1, 0, 0x4F, 0xC2);
  EXPECT_EQ(bytes(smart, false), (Bytes{0x85, 0x08, 0x0E, 0, 0xD0, 0, 1, 0, 0, 0, 0x4F, 0, 0xC2, 0, 0xB0, 0}));
  EXPECT_EQ(bytes(smart, true), (Bytes{0xA1, 0x08, 0x0E, 0xD0, 1, 0, 0x4F, 0xC2, 0, 0xB0, 0, 0}));

  const AtaCommandBlock distinct{0x0F, 0xA5, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77};
  for (bool twelve : {false, true}) {
    SCOPED_TRACE(twelve ? "12-byte" : "16-byte");
    for (const auto& b : {check, smart, distinct}) {
      const auto c = b.Encode(twelve);
      EXPECT_EQ(devio::AtaCommandBlock::Decode(c.data(), b.Length(twelve)), b);
      EXPECT_FALSE(devio::AtaCommandBlock::Decode(c.data(), b.Length(twelve) - 1u));
    }
  }
  const std::uint8_t inquiry[16] = {0x12, 0, 0, 0, 96};
  EXPECT_FALSE(devio::AtaCommandBlock::Decode(inquiry, 16));
  EXPECT_FALSE(devio::AtaCommandBlock::Decode(inquiry, 0));
}

TEST(PassThroughCodec, BothFormsRoundTripAndRefuseEachOther) {
  for (const auto* form : {&devio::kPassThrough32, &devio::kPassThrough64}) {
    SCOPED_TRACE(form->length);
    devio::PassThroughRequest in;
    in.pathId = 1;
    in.targetId = 2;
    in.lun = 3;
    in.cdbLength = 10;
    in.senseInfoLength = 18;
    in.dataIn = 1;
    in.dataTransferLength = 100;
    in.timeOutValue = 7;
    in.senseInfoOffset = form->length;
    in.dataBufferOffset = form->length + 20;
    for (int i = 0; i < 16; ++i) in.cdb[i] = static_cast<std::uint8_t>(0xA0 + i);
    std::vector<std::uint8_t> block(form->length + 20 + 100, 0xEE);
    devio::WritePassThrough(in, block.data(), *form);
    const auto size = static_cast<std::uint32_t>(block.size());

    devio::PassThroughRequest out;
    ASSERT_TRUE(devio::ReadPassThrough(block.data(), form->length, size, out, *form));
    EXPECT_EQ(out, in);

    const auto& other = form->length == 44 ? devio::kPassThrough64 : devio::kPassThrough32;
    EXPECT_FALSE(devio::ReadPassThrough(block.data(), size, size, out, other));
    // A data area that does not fit the output buffer, and a data area over the header.
    EXPECT_FALSE(devio::ReadPassThrough(block.data(), form->length, size - 1, out, *form));
    devio::PassThroughRequest overlapping = in;
    overlapping.dataBufferOffset = form->length - 4;
    devio::WritePassThrough(overlapping, block.data(), *form);
    EXPECT_FALSE(devio::ReadPassThrough(block.data(), form->length, size, out, *form));
  }
  // The wide form's offset is 64 bits: a high half that is set points outside any buffer.
  std::vector<std::uint8_t> wide(200, 0);
  devio::PassThroughRequest r;
  r.cdbLength = 6;
  r.dataTransferLength = 8;
  r.dataBufferOffset = 60;
  devio::WritePassThrough(r, wide.data(), devio::kPassThrough64);
  devio::PassThroughRequest out;
  ASSERT_TRUE(devio::ReadPassThrough(wide.data(), 56, 200, out, devio::kPassThrough64));
  wide[devio::kPassThrough64.dataBufferOffsetAt + 4] = 1;
  EXPECT_FALSE(devio::ReadPassThrough(wide.data(), 56, 200, out, devio::kPassThrough64));
}

// A request of the component's shape in `form`: the sense area right after the header, the
// data 32 bytes on.
devio::PassThroughRequest InquiryRequest(const devio::PassThroughForm& form, std::uint32_t length = 192) {
  devio::PassThroughRequest r;
  r.cdbLength = 6;
  r.senseInfoLength = 24;
  r.dataIn = 1;
  r.dataTransferLength = length;
  r.timeOutValue = 2;
  r.senseInfoOffset = form.length;
  r.dataBufferOffset = form.length + 32;
  r.cdb[0] = 0x12;
  r.cdb[4] = static_cast<std::uint8_t>(length);
  return r;
}

// What a driver completes comes back from the reply decoder: the status, the data moved, the
// sense bytes; with the byte count the call reports, in both forms.
TEST(PassThroughCodec, CompletedRequestsReadBack) {
  for (const auto* form : {&devio::kPassThrough32, &devio::kPassThrough64}) {
    SCOPED_TRACE(form->length);
    const auto r = InquiryRequest(*form);
    const Bytes inquiry = devio::InquiryData{5, "PIONEER", "DVD-RW", "1.13", ""}.Encode();
    const Bytes sense = {0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x24, 0, 0, 0, 0, 0};
    struct Case {
      std::uint8_t status;
      Bytes data, sense;
      std::uint32_t returned;  // what the call reports
    } cases[] = {
        {0, inquiry, {}, r.dataBufferOffset + 96},
        {0, Bytes(300, 0xAA), {}, r.dataBufferOffset + 192},  // more than asked for: cut at the request
        {2, {}, sense, form->length + 18},                      // CHECK CONDITION with sense only
        {2, {}, Bytes(40, 0x71), form->length + 24},            // sense cut at the request's length
        {0, {}, {}, form->length},
    };
    for (const auto& c : cases) {
      Bytes header(form->length);
      devio::WritePassThrough(r, header.data(), *form);
      Bytes block(r.dataBufferOffset + 192, 0);
      EXPECT_EQ(devio::CompletePassThrough(header.data(), r, c.status, c.data, c.sense, block.data(), *form), c.returned);
      const auto reply = devio::ReadPassThroughReply(Cut(block, c.returned), r, *form);
      ASSERT_TRUE(reply);
      EXPECT_EQ(reply->scsiStatus, c.status);
      EXPECT_EQ(reply->data, Cut(c.data, 192));
      EXPECT_EQ(reply->sense, Cut(c.sense, 24));
    }
  }
}

TEST(PassThroughCodec, RepliesAreReadOnlyAsFarAsEveryCountReaches) {
  const auto& form = devio::kNativePassThrough;
  const auto r = InquiryRequest(form, 96);
  Bytes header(form.length);
  devio::WritePassThrough(r, header.data(), form);
  Bytes block(r.dataBufferOffset + 192, 0xEE);  // 0xEE: bytes a previous request left
  const Bytes data(96, 0x42);
  const std::uint32_t returned = devio::CompletePassThrough(header.data(), r, 0, data, {}, block.data(), form);

  // The call reported fewer bytes than the header's count: the data end where the reply does.
  EXPECT_EQ(devio::ReadPassThroughReply(Cut(block, returned - 50), r, form)->data, Bytes(46, 0x42));
  // A header that claims more than the request asked for: the request's length holds, and the
  // bytes after it (left there before) are not taken.
  Bytes claiming = block;
  devio::Put32(&claiming[12], 192);
  EXPECT_EQ(devio::ReadPassThroughReply(claiming, r, form)->data, data);
  // A header that comes back with other offsets is not followed.
  Bytes moved = Cut(block, returned);
  devio::Put32(&moved[form.dataBufferOffsetAt], form.length);
  EXPECT_EQ(devio::ReadPassThroughReply(moved, r, form)->data, data);
  // Without the whole header there is no reply.
  EXPECT_FALSE(devio::ReadPassThroughReply(Cut(block, form.length - 1), r, form));
  // A request whose areas lie on the header or past the block reads nothing from there.
  auto odd = r;
  odd.dataBufferOffset = 2;
  odd.senseInfoOffset = static_cast<std::uint32_t>(block.size());
  const auto nothing = devio::ReadPassThroughReply(block, odd, form);
  EXPECT_TRUE(nothing->data.empty());
  EXPECT_TRUE(nothing->sense.empty());
}

}  // namespace
