// ATA identify data as ParseIdentifyData reads it: recorded blocks of real drives against
// hdparm's reading of the same blocks, and the rules one word at a time.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "platform/Text.h"
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

// NVMe pages (tests/data/storage/nvme: a Samsung PM981's identify pages and health log) and
// the rules one field at a time.
namespace {

std::vector<std::uint8_t> Nvme(const std::string& page) { return ReadData("nvme/pm981." + page + ".bin"); }

}  // namespace

// nvme-cli's reading of the same pages (its JSON, written through the replay in that folder)
// checks ours: identity, size and every health value, for a healthy and a worn disk.
TEST(NvmePages, ReadAsNvmeCliReadsThem) {
  auto json = [](const std::string& name) {
    const auto bytes = ReadData("nvme/" + name + ".nvme-cli.json");
    return nlohmann::json::parse(std::string(bytes.begin(), bytes.end()));
  };
  auto number = [](const nlohmann::json& v) {  // 64-bit counters come as texts
    return v.is_string() ? std::stoull(v.get<std::string>()) : v.get<std::uint64_t>();
  };
  const auto ctrl = json("pm981.id-ctrl"), ns = json("pm981.id-ns");
  TDeviceInfo info;
  ASSERT_TRUE(ParseNvmeIdentifyController(Nvme("id-ctrl"), info));
  EXPECT_EQ(info.Model, text::Trim(ctrl["mn"].get<std::string>()));
  EXPECT_EQ(info.SerialNumber, text::Trim(ctrl["sn"].get<std::string>()));
  EXPECT_EQ(info.Revision, text::Trim(ctrl["fr"].get<std::string>()));
  const unsigned format = ns["flbas"].get<unsigned>() & 0x0F;
  EXPECT_EQ(NvmeNamespaceBytes(Nvme("id-ns")),
            static_cast<std::int64_t>(number(ns["nsze"]) << ns["lbafs"][format]["ds"].get<unsigned>()));

  for (const char* log : {"pm981.smart-log", "pm981-worn.smart-log"}) {
    SCOPED_TRACE(log);
    const auto cli = json(log);
    TDeviceInfo health;
    ASSERT_TRUE(ParseNvmeHealthLog(ReadData(std::string("nvme/") + log + ".bin"), health));
    EXPECT_EQ(health.Health.CriticalWarning, number(cli["critical_warning"]));
    EXPECT_EQ(health.Temperature, number(cli["temperature"]) - 273);
    EXPECT_EQ(health.Health.AvailableSpare, number(cli["avail_spare"]));
    EXPECT_EQ(health.Health.AvailableSpareThreshold, number(cli["spare_thresh"]));
    EXPECT_EQ(health.Health.PercentageUsed, number(cli["percent_used"]));
    EXPECT_EQ(health.Health.PowerOnHours, number(cli["power_on_hours"]));
    EXPECT_EQ(health.Health.UnsafeShutdowns, number(cli["unsafe_shutdowns"]));
    EXPECT_EQ(health.Health.MediaErrors, number(cli["media_errors"]));
  }
}

// The current power state (the Power Management feature's value) read against its descriptor
// in the identify page, every state checked with nvme-cli's reading of the descriptors. The
// feature's upper bits (the workload hint) do not name the state; a state the controller does
// not have, or a page cut before its descriptor, gives nothing and leaves the record alone.
TEST(NvmePages, PowerStateFromTheFeatureAndItsDescriptor) {
  const auto bytes = ReadData("nvme/pm981.id-ctrl.nvme-cli.json");
  const auto cli = nlohmann::json::parse(std::string(bytes.begin(), bytes.end()));
  const auto page = Nvme("id-ctrl");
  const unsigned states = cli["npss"].get<unsigned>() + 1;
  ASSERT_EQ(states, 5u);
  for (unsigned ps = 0; ps < states; ++ps) {
    SCOPED_TRACE(ps);
    const auto& psd = cli["psds"][ps];
    const unsigned flags = psd["flags"].get<unsigned>();
    TDeviceInfo info;
    ASSERT_TRUE(ParseNvmePowerState(page, ps | 0x20, info));  // workload hint 1
    EXPECT_TRUE(info.Power.Available);
    EXPECT_EQ(info.Power.State, ps);
    EXPECT_EQ(info.Power.StateCount, states);
    EXPECT_EQ(info.Power.NonOperational, (flags & 0x02) != 0);
    EXPECT_EQ(info.Power.MaxPowerMicrowatts, psd["max_power"].get<unsigned>() * ((flags & 0x01) ? 100u : 10000u));
  }
  // The disk's deepest states: PS3 at most 0.0350 W, PS4 0.0075 W, both non-operational.
  TDeviceInfo deep;
  ASSERT_TRUE(ParseNvmePowerState(page, 4, deep));
  EXPECT_EQ(deep.Power, (TNvmePowerState{true, 4, 5, true, 7500}));

  TDeviceInfo untouched;
  EXPECT_FALSE(ParseNvmePowerState(page, 5, untouched));
  EXPECT_FALSE(ParseNvmePowerState(page, 31, untouched));
  auto cut = page;
  cut.resize(2048 + 32 * 4 + 31);  // PS4's descriptor one byte short
  EXPECT_FALSE(ParseNvmePowerState(cut, 4, untouched));
  EXPECT_FALSE(untouched.Power.Available);
  TDeviceInfo fits;
  EXPECT_TRUE(ParseNvmePowerState(cut, 3, fits));
  cut.resize(263);
  EXPECT_FALSE(ParseNvmePowerState(cut, 0, deep));
  EXPECT_EQ(deep.Power.State, 4);
}

TEST(NvmePages, IdentifyControllerTextsAndWhatAPageMustHold) {
  TDeviceInfo info;
  info.Model = "from the descriptor";
  ASSERT_TRUE(ParseNvmeIdentifyController(Nvme("id-ctrl"), info));
  EXPECT_EQ(info.Model, "SAMSUNG MZVLB512HBJQ-000L7");
  EXPECT_EQ(info.SerialNumber, "S4ENNX0N123456");
  EXPECT_EQ(info.Revision, "5M2QEXF7");
  // A page cut before the firmware revision, or one without a model (no controller there),
  // leaves the record alone.
  auto cut = Nvme("id-ctrl");
  cut.resize(71);
  TDeviceInfo untouched;
  untouched.Model = "kept";
  EXPECT_FALSE(ParseNvmeIdentifyController(cut, untouched));
  auto blank = Nvme("id-ctrl");
  std::fill(blank.begin() + 24, blank.begin() + 64, ' ');
  EXPECT_FALSE(ParseNvmeIdentifyController(blank, untouched));
  EXPECT_EQ(untouched.Model, "kept");
}

TEST(NvmePages, NamespaceSizeFromTheFormatInUse) {
  EXPECT_EQ(NvmeNamespaceBytes(Nvme("id-ns")), 1000215216LL * 512);
  struct Case {
    const char* what;
    std::uint8_t flbas;     // byte 26
    std::uint8_t shift;     // LBADS of the format it picks
    std::uint64_t blocks;
    std::int64_t bytes;
  } cases[] = {
      {"4 KiB blocks in format 1", 0x01, 12, 122096646, 122096646LL * 4096},
      {"format 17 through the high bits", 0x21, 12, 1000, 4096000},
      {"metadata bit ignored", 0x10 | 0x01, 12, 10, 40960},
      {"block size below 512", 0x01, 8, 1000, 0},
      {"block size beyond reason", 0x01, 40, 1000, 0},
      {"no blocks", 0x01, 12, 0, 0},
      {"more bytes than 63 bits hold", 0x01, 12, 1ULL << 52, 0},
  };
  for (const auto& c : cases) {
    auto ns = Nvme("id-ns");
    devio::Put64(ns.data(), c.blocks);
    ns[26] = c.flbas;
    const unsigned format = (c.flbas & 0x0F) | ((c.flbas & 0x60) >> 1);
    ns[128 + 4 * format + 2] = c.shift;
    EXPECT_EQ(NvmeNamespaceBytes(ns), c.bytes) << c.what;
  }
  auto shortPage = Nvme("id-ns");
  shortPage.resize(383);  // the LBA formats end at byte 383
  EXPECT_EQ(NvmeNamespaceBytes(shortPage), 0);
}

TEST(NvmePages, HealthLogValuesTemperatureAndCounters) {
  TDeviceInfo info;
  ASSERT_TRUE(ParseNvmeHealthLog(Nvme("smart-log"), info));
  EXPECT_EQ(info.Health, (TNvmeHealth{true, 0x00, 100, 10, 3, 5123, 47, 0}));
  EXPECT_EQ(info.Temperature, 37);
  EXPECT_TRUE(info.SMARTSupport);
  EXPECT_TRUE(info.SMARTActive);

  // A worn disk past its rated life with every warning up, counters beyond 64 bits, a
  // temperature the controller does not report and one below freezing.
  auto log = Nvme("smart-log");
  log[0] = 0x3F;
  log[5] = 255;
  log[128 + 8] = 1;                      // power-on hours: 2^64 + 5123
  devio::Put64(&log[144], UINT64_MAX);   // exactly 64 bits of unsafe shutdowns
  devio::Put64(&log[160], 12);
  for (auto [kelvin, celsius] : {std::pair<std::uint16_t, int>{0, 0}, {263, 0}, {273, 0}, {274, 1}, {600, 255}}) {
    devio::Put16(&log[1], kelvin);
    TDeviceInfo worn;
    ASSERT_TRUE(ParseNvmeHealthLog(log, worn));
    EXPECT_EQ(worn.Temperature, celsius) << kelvin;
    EXPECT_EQ(worn.Health.CriticalWarning, 0x3F);
    EXPECT_EQ(worn.Health.PercentageUsed, 255);
    EXPECT_EQ(worn.Health.PowerOnHours, UINT64_MAX);
    EXPECT_EQ(worn.Health.UnsafeShutdowns, UINT64_MAX);
    EXPECT_EQ(worn.Health.MediaErrors, 12u);
  }
  log.resize(175);  // the media-error counter ends at byte 175
  TDeviceInfo none;
  EXPECT_FALSE(ParseNvmeHealthLog(log, none));
  EXPECT_FALSE(none.Health.Available);
  EXPECT_FALSE(none.SMARTSupport);
}
