// ATA identify data as ParseIdentifyData reads it: recorded blocks of real drives against
// hdparm's reading of the same blocks, and the rules one word at a time.
#include <gtest/gtest.h>

#include "storage/Kyvex_IdentifyFile.h"
#include "storage/Kyvex_WinIOCTL.h"
#include "unit/storage/StorageTestSupport.h"

using namespace kyvex;
using namespace storage_test;

namespace {

TDeviceInfo Parse(Block b, bool swap = true) {
  TDeviceInfo info;
  ParseIdentifyData(b, swap, info);
  return info;
}

struct RealDrive {
  const char* file;
  const char* vendor;
  const char* model;
  const char* serial;
  const char* revision;
  std::uint64_t sectors;  // hdparm: LBA48 user addressable sectors, else LBA
  int ataVersion;         // hdparm: highest of "Supported:"
};

// hdparm --Istdin of each block gives these model, serial, firmware, sector count and
// supported ATA versions.
const RealDrive kRealDrives[] = {
    {"ST320410A--3.39", "", "ST320410A", "5FB3QF34", "3.39", 39100223, 6},
    {"WDC_WD5000AAKS--00TMA0-12.01C01", "WDC", "WD5000AAKS-00TMA0", "WD-WCAPW0493929", "12.01C01", 976773168, 7},
    {"INTEL_SSDSA2CW120G3--4PC10302", "INTEL", "SSDSA2CW120G3", "CVPR109301UZ120LGN", "4PC10302", 234441648, 8},
    {"MCCOE64GEMPP--2.9.09", "", "MCCOE64GEMPP", "SE808N0608", "2.9.09", 117231408, 7},
    // 2 TB: words 60-61 stop at 268435455 sectors; the 48-bit count is the real size.
    {"Samsung_SSD_870_EVO_2TB.identify.bin", "Samsung", "SSD 870 EVO 2TB", "S6PPNX0W203715P", "SVT02B6Q", 3907029168,
     11},
    {"StarDrive-SBFM61.2.bin", "SATA", "SSD", "A45A078A198600476509", "SBFM61.2", 468862128, 11},
};

TEST(IdentifyData, RealDrivesReadAsHdparmReadsThem) {
  for (const auto& d : kRealDrives) {
    SCOPED_TRACE(d.file);
    const TDeviceInfo info = Parse(IdentifyOf(d.file));
    EXPECT_EQ(info.Vendor, d.vendor);
    EXPECT_EQ(info.Model, d.model);
    EXPECT_EQ(info.SerialNumber, d.serial);
    EXPECT_EQ(info.Revision, d.revision);
    EXPECT_EQ(info.Size, static_cast<std::int64_t>(d.sectors * 512));
    EXPECT_EQ(info.ATAVersion, d.ataVersion);
    // hdparm marks the SMART feature set supported and enabled on all of them.
    EXPECT_TRUE(info.SMARTSupport);
    EXPECT_TRUE(info.SMARTActive);
    EXPECT_EQ(info.DeviceType, kDeviceTypeDisk);
    EXPECT_EQ(info.Cylinders, 16383);
    EXPECT_EQ(info.Heads, 16);
    EXPECT_EQ(info.SectorsPerTrack, 63);
    EXPECT_TRUE(info.ExtraInfoAvailable);
  }
}

TEST(IdentifyData, HdparmTextAndRawBytesGiveTheSameBlock) {
  const auto text = ReadData("WDC_WD5000AAKS-00TMA0.hdparm.txt");
  Block fromText{};
  std::string error;
  ASSERT_TRUE(ReadIdentifyBlock(std::string(text.begin(), text.end()), fromText, error)) << error;
  EXPECT_EQ(fromText, IdentifyOf("WDC_WD5000AAKS--00TMA0-12.01C01"));

  const Block raw = IdentifyOf("Samsung_SSD_870_EVO_2TB.identify.bin");
  Block fromRaw{};
  ASSERT_TRUE(ReadIdentifyBlock(std::string(raw.begin(), raw.end()), fromRaw, error));
  EXPECT_EQ(fromRaw, raw);
}

TEST(IdentifyData, BadIdentifyFilesAreRefusedWithTheLineAtFault) {
  std::string words;
  for (int i = 0; i < 32; ++i) words += "0040 3fff c837 0010 0000 0000 003f 0000\n";
  struct Case {
    std::string contents;
    const char* message;
  } cases[] = {
      {"/dev/sda:\n" + words.substr(0, words.size() - 5) + "\n", "holds 255 words"},
      {words + "0000\n", "line 33: more than 256 words"},
      {"/dev/sda:\n0040 3fff c8x7 0010\n", "line 2: \"c8x7\""},
      {"0040 3fff 12345 0010\n", "line 1: \"12345\""},
      {"", "holds 0 words"},
      {std::string(511, '\0'), "line 1"},
  };
  for (const auto& c : cases) {
    Block b{};
    std::string error;
    EXPECT_FALSE(ReadIdentifyBlock(c.contents, b, error));
    EXPECT_NE(error.find(c.message), std::string::npos) << error;
  }
  Block b{};
  std::string error;
  EXPECT_TRUE(ReadIdentifyBlock("\n/dev/sdb:\n" + words + "\n\n", b, error)) << error;
  EXPECT_EQ(b[0], 0x40);
  EXPECT_EQ(b[3], 0x3F);
}

TEST(IdentifyData, TextsAreSwappedTrimmedAndSplitAtTheFirstSpace) {
  struct Case {
    const char* modelText;
    const char* vendor;
    const char* model;
  } cases[] = {
      {"WDC WD2500JB-00REA0", "WDC", "WD2500JB-00REA0"},
      {"ST320410A", "", "ST320410A"},
      {"  IC35L060AVV207-0", "", "IC35L060AVV207-0"},
      {"Samsung SSD 870 EVO 2TB", "Samsung", "SSD 870 EVO 2TB"},
      {"", "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.modelText);
    const TDeviceInfo info = Parse(IdentifyBuilder::Disk(c.modelText, "  WD-WMA1234  ").b);
    EXPECT_EQ(info.Vendor, c.vendor);
    EXPECT_EQ(info.Model, c.model);
    EXPECT_EQ(info.SerialNumber, "WD-WMA1234");
    EXPECT_EQ(info.Revision, "1.0");
  }

  // Without swapping the texts are read as they stand, and the block itself is left alone.
  Block natural = IdentifyBuilder::Disk("ABCD EFGH", "SERIAL").b;
  for (int n = 10; n <= 46; ++n)
    if (n <= 19 || n >= 23) std::swap(natural[2 * n], natural[2 * n + 1]);
  const Block before = natural;
  TDeviceInfo info;
  ParseIdentifyData(natural, false, info);
  EXPECT_EQ(natural, before);
  EXPECT_EQ(info.Vendor, "ABCD");
  EXPECT_EQ(info.Model, "EFGH");
  EXPECT_EQ(info.SerialNumber, "SERIAL");

  // Swapping happens in the block itself, for words 10-19 and 23-46 only.
  Block swapped = IdentifyBuilder::Disk("ABCD EFGH", "SERIAL").Word(9, 0x1234).Word(47, 0x5678).b;
  ParseIdentifyData(swapped, true, info);
  EXPECT_EQ(swapped[54], 'A');
  EXPECT_EQ(swapped[20], 'S');
  EXPECT_EQ(devio::Get16(&swapped[18]), 0x1234);
  EXPECT_EQ(devio::Get16(&swapped[94]), 0x5678);
}

TEST(IdentifyData, DeviceTypeFromWordZero) {
  struct Case {
    std::uint16_t word0;
    std::uint32_t type;
    bool removable;
  } cases[] = {
      {0x85C0, kDeviceTypeCdRom, false},  // packet device (bit 15), whatever else is set
      {0x0080, kDeviceTypeDisk, true},
      {0x00C0, kDeviceTypeDisk, true},
      {0x0040, kDeviceTypeDisk, false},
      {0x0000, kDeviceTypeUnknown, false},
  };
  for (const auto& c : cases) {
    TDeviceInfo info;
    info.Removable = true;  // the parse decides anew
    ParseIdentifyData(IdentifyBuilder::Disk("M", "S").Word(0, c.word0).b, true, info);
    EXPECT_EQ(info.DeviceType, c.type) << std::hex << c.word0;
    EXPECT_EQ(info.Removable, c.removable) << std::hex << c.word0;
  }
}

TEST(IdentifyData, SizeRule) {
  struct Case {
    const char* what;
    std::uint16_t w1, w3, w6;
    std::uint32_t lba28;
    std::uint16_t w83;
    std::uint64_t lba48;
    std::int64_t size;
  } cases[] = {
      {"just below the threshold: C*H*S", 1024, 16, 63, 16515071, 0x4000, 0, 1024LL * 16 * 63 * 512},
      {"at the threshold: the sector count", 1024, 16, 63, 16515072, 0x4000, 0, 16515072LL * 512},
      {"C*H*S is computed in 32 bits", 65535, 65535, 65535, 0, 0x4000, 0,
       static_cast<std::int64_t>(static_cast<std::uint32_t>(65535u * 65535u * 65535u)) * 512},
      {"48-bit count when the feature set is there", 16383, 16, 63, 0x0FFFFFFF, 0x4400, 3907029168,
       3907029168LL * 512},
      {"48-bit count ignored when word 83 is not valid", 16383, 16, 63, 0x0FFFFFFF, 0x8400, 3907029168,
       0x0FFFFFFFLL * 512},
      {"48-bit count ignored without the feature bit", 16383, 16, 63, 0x0FFFFFFF, 0x4000, 3907029168,
       0x0FFFFFFFLL * 512},
      {"48-bit count beyond 48 bits is not an address", 16383, 16, 63, 0x0FFFFFFF, 0x4400, 0xFFFFFFFFFFFFFFFF,
       0x0FFFFFFFLL * 512},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    IdentifyBuilder b = IdentifyBuilder::Disk("M", "S");
    b.Word(1, c.w1).Word(3, c.w3).Word(6, c.w6).Sectors(c.lba28).Word(83, c.w83);
    for (int i = 0; i < 4; ++i) b.Word(100 + i, static_cast<std::uint16_t>(c.lba48 >> (16 * i)));
    EXPECT_EQ(Parse(b.b).Size, c.size);
  }
}

TEST(IdentifyData, AtaVersion) {
  struct Case {
    std::uint16_t w80, w81;
    int version;
  } cases[] = {
      {0x007E, 0, 6},       // ATA-1 to ATA/ATAPI-6
      {0x0010, 0, 4},
      {0x0000, 0, 1},       // nothing reported
      {0x0001, 0, 1},       // bit 0 is reserved
      {0x01F0, 0, 8},       // ATA8-ACS
      {0x0FF0, 0x0110, 11}, // ACS-4
      {0xFFFF, 0x0019, 6},  // major word not reported: the minor-version code
      {0xFFFF, 0x0006, 3},  // a draft code counts by its absolute value
      {0xFFFF, 0x001D, 1},  // code without a version
      {0xFFFF, 0x1234, 1},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Parse(IdentifyBuilder::Disk("M", "S").Word(80, c.w80).Word(81, c.w81).b).ATAVersion, c.version)
        << std::hex << c.w80 << " " << c.w81;
}

TEST(IdentifyData, SmartSupportNeedsValidWords) {
  struct Case {
    std::uint16_t w82, w83, w85, w87;
    bool support, active;
  } cases[] = {
      {0x0001, 0x4000, 0x0001, 0x4000, true, true},
      {0x0001, 0x4000, 0x0000, 0x4000, true, false},
      {0x0001, 0x4000, 0x0001, 0x8000, true, false},   // word 87 not valid
      {0x0001, 0x8000, 0x0001, 0x4000, false, false},  // word 83 reads 1 0: not valid
      {0x0001, 0xC000, 0x0001, 0x4000, false, false},
      {0x0000, 0x4000, 0x0001, 0x4000, false, false},  // enabled but not supported: never active
  };
  for (const auto& c : cases) {
    const TDeviceInfo info =
        Parse(IdentifyBuilder::Disk("M", "S").Word(82, c.w82).Word(83, c.w83).Word(85, c.w85).Word(87, c.w87).b);
    EXPECT_EQ(info.SMARTSupport, c.support);
    EXPECT_EQ(info.SMARTActive, c.active);
  }
}

TEST(IdentifyData, GeometryBufferAndOnlyItsOwnFields) {
  TDeviceInfo info;
  info.Device = 5;
  info.PHYSIndex = -1;
  info.BusType = 11;
  info.LocationAvailable = true;
  ParseIdentifyData(IdentifyBuilder::Disk("M", "S").Word(1, 100).Word(3, 7).Word(4, 512 * 63).Word(5, 512)
                        .Word(6, 63).Word(21, 16).Word(22, 4).b,
                    true, info);
  EXPECT_EQ(info.Cylinders, 100);
  EXPECT_EQ(info.Heads, 7);
  EXPECT_EQ(info.BytesPerTrack, 512 * 63);
  EXPECT_EQ(info.BytesPerSector, 512);
  EXPECT_EQ(info.CtlBufSize, 16u * 512);
  EXPECT_EQ(info.ECCCode, 4u);
  EXPECT_EQ(info.Device, 5u);
  EXPECT_EQ(info.PHYSIndex, -1);
  EXPECT_EQ(info.BusType, 11u);
  EXPECT_TRUE(info.LocationAvailable);
}

}  // namespace
