// Every device I/O primitive against recorded replies on the fake platform: what it sends,
// what each reply field becomes, and how it fails.
#include <gtest/gtest.h>

#include <vector>

#include "common/Kyvex_Routines.h"
#include "platform/fake/FakePlatform.h"
#include "storage/Kyvex_WinIOCTL.h"
#include "unit/storage/StorageTestSupport.h"

using namespace kyvex;
using namespace storage_test;
using platform::FakePlatform;
using platform::ScopedPlatform;

namespace {

const char* kDrive0 = "\\\\.\\PhysicalDrive0";

class Primitives : public ::testing::Test {
 protected:
  FakePlatform fake;
  platform::FakeDevice& dev = fake.devices;

  Handle Open(const std::string& path) { return OpenDevice(path); }
};

class NTPrimitives : public Primitives {
 protected:
  ScopedPlatform scope{fake};
};

class Win9xPrimitives : public Primitives {
 protected:
  // Windows 98, set before the platform becomes current so that its snapshot sees it.
  bool win98_ = [this] {
    fake.version.dwPlatformId = platform::kPlatformWin32Windows;
    fake.version.dwMajorVersion = 4;
    fake.version.dwMinorVersion = 10;
    return true;
  }();
  ScopedPlatform scope{fake};
};

TEST_F(NTPrimitives, OpenDeviceOpensReadWriteUnderTheCriticalErrorMode) {
  dev.Device(kDrive0);
  dev.errorMode = 0x8000;
  const Handle h = Open(kDrive0);
  ASSERT_NE(h, platform::kInvalidHandle);
  EXPECT_EQ(dev.opens.back().access, devio::kGenericRead | devio::kGenericWrite);
  EXPECT_EQ(dev.errorModes, (std::vector<std::uint32_t>{devio::kSemFailCriticalErrors, 0x8000}));
  EXPECT_EQ(dev.errorMode, 0x8000u);
  dev.CloseHandle(h);
  EXPECT_EQ(Open("\\\\.\\PhysicalDrive9"), platform::kInvalidHandle);
  EXPECT_EQ(dev.errorMode, 0x8000u);
}

// --- IdentifyBySMART -------------------------------------------------------------------------

void AddSmartDisk(platform::FakeDevice& dev, const std::string& path, const Block& identify, std::uint8_t map) {
  dev.Reply(path, devio::kSmartGetVersion, devio::SmartVersion{1, 1, map, 7}.Encode());
  dev.SmartReply(path, 0xEC, std::nullopt, identify);
}

TEST_F(NTPrimitives, IdentifyBySmartSendsTheIdentifyAndRunsTheFollowUps) {
  AddSmartDisk(dev, kDrive0, IdentifyOf("WDC_WD5000AAKS--00TMA0-12.01C01"), 0x01);
  dev.SmartReply(kDrive0, 0xB0, 0xD0, SmartDataOf("WDC_WD5000AAKS--00TMA0-12.01C01"));
  dev.Reply(kDrive0, devio::kStorageGetMediaTypesEx, DiskMediaTypes());
  dev.Reply(kDrive0, devio::kScsiGetAddress, devio::ScsiAddress{2, 0, 1, 0}.Encode());
  dev.Reply(kDrive0, devio::kDiskGetDriveGeometry, Geometry(60801));
  dev.Reply(kDrive0, devio::kDiskGetDriveLayout, devio::DriveLayout{0x1234, {Partition(1, 100, 0x07, 1)}}.Encode());

  TDeviceInfo info;
  ASSERT_TRUE(IdentifyBySMART(0, info));
  const auto sent = dev.CallsOf(devio::kSmartRcvDriveData).front();
  EXPECT_EQ(sent.input.size(), 33u);
  EXPECT_EQ(sent.input[10], 0xEC);
  EXPECT_EQ(sent.input[9], 0xB0);  // (0xA0 | (index + 1) << 4) for index 0
  EXPECT_EQ(sent.input[5], 1);
  EXPECT_EQ(sent.input[6], 1);
  EXPECT_EQ(devio::Get32(sent.input.data()), 512u);

  EXPECT_EQ(info.Device, 0u);
  EXPECT_EQ(info.PHYSIndex, -1);
  EXPECT_EQ(info.Model, "WD5000AAKS-00TMA0");
  EXPECT_EQ(info.SerialNumber, "WD-WCAPW0493929");
  EXPECT_EQ(info.MediaType, devio::kMediaFixed);
  EXPECT_TRUE(info.LocationAvailable);
  EXPECT_EQ(info.HaId, 2);
  EXPECT_EQ(info.Target, 1);
  EXPECT_EQ(info.Geometry.Cylinders, 60801);
  // The identify data keep their own geometry numbers; only Geometry comes from the request.
  EXPECT_EQ(info.Cylinders, 16383);
  ASSERT_EQ(info.Layout.size(), 1u);
  EXPECT_EQ(info.Layout[0].Typ, 0x07);
  EXPECT_FALSE(info.SMARTAttributes.empty());
  EXPECT_EQ(dev.CallsOf(devio::kStorageGetMediaSerialNumber).size(), 0u);  // it had a serial number
  EXPECT_EQ(dev.openHandles, 0);
}

TEST_F(NTPrimitives, IdentifyBySmartDriveHeadAndCommandChoice) {
  struct Case {
    std::uint8_t index, map, driveHead, first;
  } cases[] = {{1, 0x02, 0xA0, 0xEC}, {3, 0x00, 0xE0, 0xA1}, {2, 0x04, 0xB0, 0xEC}, {9, 0xFF, 0xA0, 0xA1}};
  for (const auto& c : cases) {
    FakePlatform f;
    ScopedPlatform s(f);
    const std::string path = "\\\\.\\PhysicalDrive" + std::to_string(c.index);
    f.devices.Reply(path, devio::kSmartGetVersion, devio::SmartVersion{1, 1, c.map, 7}.Encode());
    f.devices.SmartReply(path, c.first, std::nullopt, IdentifyBuilder::Disk("M", "S").b);
    TDeviceInfo info;
    EXPECT_TRUE(IdentifyBySMART(c.index, info));
    const auto sent = f.devices.CallsOf(devio::kSmartRcvDriveData).front();
    EXPECT_EQ(sent.input[9], c.driveHead) << int(c.index);
    EXPECT_EQ(sent.input[10], c.first) << int(c.index);
    EXPECT_EQ(sent.input[12], c.index);
  }
}

TEST_F(NTPrimitives, IdentifyBySmartTriesTheOtherCommandOnceWhenRefused) {
  dev.Reply(kDrive0, devio::kSmartGetVersion, devio::SmartVersion{1, 1, 0x00, 7}.Encode());
  // The packet command the device map asks for is refused by this disk (a driver error);
  // the disk answers IDENTIFY DEVICE.
  dev.SmartReply(kDrive0, 0xA1, std::nullopt, Block{}, devio::kSmartIdeError);
  dev.SmartReply(kDrive0, 0xEC, std::nullopt, IdentifyBuilder::Disk("WDC WD800", "X").b);
  TDeviceInfo info;
  ASSERT_TRUE(IdentifyBySMART(0, info));
  EXPECT_EQ(info.Model, "WD800");
  const auto calls = dev.CallsOf(devio::kSmartRcvDriveData);
  ASSERT_GE(calls.size(), 2u);
  EXPECT_EQ(calls[0].input[10], 0xA1);
  EXPECT_EQ(calls[1].input[10], 0xEC);

  // A request that fails outright also switches; both failing gives false.
  FakePlatform f;
  ScopedPlatform s(f);
  f.devices.Reply(kDrive0, devio::kSmartGetVersion, devio::SmartVersion{1, 1, 0x01, 7}.Encode());
  f.devices.SmartReply(kDrive0, 0xA1, std::nullopt, Block{}, devio::kSmartIdeError);
  EXPECT_FALSE(IdentifyBySMART(0, info));
  ASSERT_EQ(f.devices.CallsOf(devio::kSmartRcvDriveData).size(), 2u);
  EXPECT_EQ(f.devices.CallsOf(devio::kSmartRcvDriveData)[1].input[10], 0xA1);
  EXPECT_EQ(f.devices.openHandles, 0);
}

TEST_F(NTPrimitives, IdentifyBySmartWithoutSmartDriverDescribesARemovableDisk) {
  const char* drive4 = "\\\\.\\PhysicalDrive4";
  dev.Reply(drive4, devio::kDiskGetDriveGeometry, Geometry(100, 64, 32, 512, devio::kMediaRemovable));
  dev.Reply(drive4, devio::kDiskGetDriveLayout, devio::DriveLayout{0, {Partition(0, 50, 0x06, 1)}}.Encode());
  TDeviceInfo info;
  ASSERT_TRUE(IdentifyBySMART(4, info));
  EXPECT_EQ(info.DeviceType, kDeviceTypeDisk);
  EXPECT_TRUE(info.Removable);
  EXPECT_EQ(info.Size, 100LL * 64 * 32 * 512);
  EXPECT_EQ(info.Cylinders, 100);
  EXPECT_EQ(info.Heads, 64);
  EXPECT_EQ(info.SectorsPerTrack, 32);
  EXPECT_EQ(info.Geometry, TDiskGeometry{});
  EXPECT_EQ(info.Layout.size(), 1u);
  EXPECT_EQ(info.Device, 4u);
  EXPECT_EQ(info.PHYSIndex, -1);
  EXPECT_TRUE(info.Model.empty());

  dev.Device("\\\\.\\PhysicalDrive1");  // neither SMART nor geometry
  EXPECT_FALSE(IdentifyBySMART(1, info));
  EXPECT_EQ(dev.openHandles, 0);
}

// A disk that takes no ATA PASS-THROUGH (a SAS disk) is asked its power condition with
// REQUEST SENSE before anything that would spin it up; asleep, it is described by what the
// storage driver knows. An NVMe disk is not asked: its pages are read in any power state.
TEST_F(NTPrimitives, IdentifyBySmartAsksAScsiDiskItsPowerCondition) {
  const std::vector<std::uint8_t> standby = {0x70, 0, 0, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x5E, 0x02, 0, 0, 0, 0};
  const std::vector<std::uint8_t> active(18, 0);
  struct Case {
    const char* what;
    std::uint32_t bus;
    std::vector<std::uint8_t> sense;
    bool asked, standby;
  } cases[] = {
      {"SAS disk in standby", devio::kBusSas, standby, true, true},
      {"SAS disk awake", devio::kBusSas, active, true, false},
      {"NVMe disk", devio::kBusNvme, standby, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakePlatform f;
    ScopedPlatform s(f);
    auto& d = f.devices;
    d.PassThroughReply(kDrive0, 0x85, std::nullopt, {}, 0x02);  // CHECK CONDITION: no such command
    d.PassThroughReply(kDrive0, 0xA1, std::nullopt, {}, 0x02);
    d.PassThroughReply(kDrive0, 0x03, std::nullopt, c.sense);
    d.Reply(kDrive0, devio::kStorageQueryProperty, Property("SEAGATE", "ST600MM0006", "0004", "S0M0XYZ", c.bus));
    d.Reply(kDrive0, devio::kDiskGetDriveGeometry, Geometry(72961));
    d.Reply(kDrive0, devio::kDiskGetDriveLayout, devio::DriveLayout{0, {Partition(1, 100, 0x07, 1)}}.Encode());
    TDeviceInfo info;
    EXPECT_TRUE(IdentifyBySMART(0, info));
    EXPECT_EQ(info.Standby, c.standby);
    int requestSense = 0;
    for (const auto& call : d.CallsOf(devio::kScsiPassThrough)) {
      devio::PassThroughRequest r;
      ASSERT_TRUE(devio::ReadPassThrough(call.input.data(), static_cast<std::uint32_t>(call.input.size()), call.outSize, r));
      if (r.cdb[0] != 0x03) continue;
      ++requestSense;
      EXPECT_EQ(r.cdbLength, 6);
      EXPECT_EQ(r.dataIn, 1);
      EXPECT_GE(r.dataTransferLength, 18u);
      EXPECT_EQ(r.cdb[4], r.dataTransferLength);
    }
    EXPECT_EQ(requestSense > 0, c.asked);
    if (c.standby) {
      EXPECT_EQ(info.Model, "ST600MM0006");
      EXPECT_TRUE(d.CallsOf(devio::kSmartGetVersion).empty());
      EXPECT_TRUE(d.CallsOf(devio::kSmartRcvDriveData).empty());
      EXPECT_TRUE(d.CallsOf(devio::kDiskGetDriveLayout).empty());
    } else {
      EXPECT_FALSE(d.CallsOf(devio::kSmartGetVersion).empty());
    }
    EXPECT_EQ(d.openHandles, 0);
  }
}

// Windows' AHCI and IDE drivers do not translate ATA PASS-THROUGH: CHECK POWER MODE then goes
// through their own request, and a SATA disk asleep there is left asleep too. The request
// carries no data, asks for a ready drive, and reads the mode from the count register the
// driver writes back; a refused command (ERR) tells nothing and the disk is read as before.
TEST_F(NTPrimitives, IdentifyBySmartAsksTheAtaPortDriverWhenPassThroughIsNotTranslated) {
  struct Case {
    const char* what;
    bool scsiPassThrough;  // the SCSI pass-through reaches the device (and is refused)
    std::uint8_t count, status;
    bool standby;
  } cases[] = {
      {"standby, ATA PASS-THROUGH refused", true, 0x00, 0x50, true},
      {"standby, no SCSI pass-through", false, 0x00, 0x50, true},
      {"idle", true, 0x80, 0x50, false},
      {"active", false, 0xFF, 0x50, false},
      {"refused", true, 0x00, 0x51, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakePlatform f;
    ScopedPlatform s(f);
    auto& d = f.devices;
    if (c.scsiPassThrough) {
      d.PassThroughReply(kDrive0, 0x85, std::nullopt, {}, 0x02);
      d.PassThroughReply(kDrive0, 0xA1, std::nullopt, {}, 0x02);
    }
    devio::AtaPassThrough answer;
    answer.flags = devio::AtaPassThrough::kDrdyRequired;
    answer.currentTaskFile[1] = c.count;
    answer.currentTaskFile[6] = c.status;
    d.Reply(kDrive0, devio::kAtaPassThrough, answer.Encode());
    AddSmartDisk(d, kDrive0, IdentifyOf("WDC_WD5000AAKS--00TMA0-12.01C01"), 0x01);
    d.Reply(kDrive0, devio::kStorageQueryProperty, Property("", "WDC WD5000AAKS-00TMA0", "", "", devio::kBusSata));
    TDeviceInfo info;
    EXPECT_TRUE(IdentifyBySMART(0, info));
    EXPECT_EQ(info.Standby, c.standby);
    EXPECT_EQ(d.CallsOf(devio::kSmartGetVersion).empty(), c.standby);
    EXPECT_EQ(d.CallsOf(devio::kSmartRcvDriveData).empty(), c.standby);  // no IDENTIFY, no SMART read

    const auto sent = d.CallsOf(devio::kAtaPassThrough);
    ASSERT_FALSE(sent.empty());
    const auto request = devio::AtaPassThrough::Decode(sent.front().input);
    ASSERT_TRUE(request);
    EXPECT_EQ(sent.front().input.size(), devio::kNativeAtaPassThrough.length);
    EXPECT_EQ(request->flags, devio::AtaPassThrough::kDrdyRequired);
    EXPECT_EQ(request->dataTransferLength, 0u);
    EXPECT_EQ(request->currentTaskFile, (std::array<std::uint8_t, 8>{0, 0, 0, 0, 0, 0, 0xE5, 0}));
    // A SATA disk is never asked REQUEST SENSE where its driver answered for the drive.
    for (const auto& call : d.CallsOf(devio::kScsiPassThrough))
      EXPECT_NE(devio::ReadPassThroughHeader(call.input.data()).cdb[0], 0x03);
    EXPECT_EQ(d.openHandles, 0);
  }
}

// --- IdentifyBySCSIMiniport ------------------------------------------------------------------

TEST_F(NTPrimitives, MiniportIdentifySendsTheBlockAndKeepsTheFirstHalfOfTheData) {
  const Block identify = IdentifyBuilder::Disk("IC35L060AVV207-0", "VNVB01G2").Word(200, 0xBEEF).b;
  dev.MiniportReply("\\\\.\\Scsi1:", 1, identify);
  TDeviceInfo info;
  ASSERT_TRUE(IdentifyBySCSIMiniport(3, info));  // controller 1, drive 1
  const auto sent = dev.CallsOf(devio::kScsiMiniport).front();
  EXPECT_EQ(sent.input.size(), 60u);
  EXPECT_EQ(sent.outSize, 556u);
  EXPECT_EQ(devio::Get32(&sent.input[0]), 28u);
  EXPECT_EQ(std::string(sent.input.begin() + 4, sent.input.begin() + 12), "SCSIDISK");
  EXPECT_EQ(devio::Get32(&sent.input[12]), 10000u);
  EXPECT_EQ(devio::Get32(&sent.input[16]), 0x1B0501u);
  EXPECT_EQ(devio::Get32(&sent.input[24]), 528u);
  EXPECT_EQ(devio::Get32(&sent.input[28]), 0u);
  EXPECT_EQ(sent.input[38], 0xEC);
  EXPECT_EQ(sent.input[40], 1);
  EXPECT_EQ(info.Model, "IC35L060AVV207-0");
  EXPECT_EQ(info.Device, 3u);
  EXPECT_EQ(IdentifyBuffer()[54], 'I');     // swapped in the shared buffer
  EXPECT_NE(devio::Get16(&IdentifyBuffer()[400]), 0xBEEF);  // word 200 is not copied
}

TEST_F(NTPrimitives, MiniportPositionWithoutModelTextIsEmpty) {
  dev.MiniportReply("\\\\.\\Scsi0:", 0, IdentifyBuilder{}.Serial("X").b);  // the answer of an empty position
  TDeviceInfo info;
  EXPECT_FALSE(IdentifyBySCSIMiniport(0, info));
  EXPECT_FALSE(IdentifyBySCSIMiniport(2, info));  // \\.\Scsi1: does not exist
  EXPECT_EQ(dev.openHandles, 0);
}

// --- InquireBySCSIPassThrough ----------------------------------------------------------------

// A MODE SENSE(6) reply carrying page 2Ah, from the page bytes as a drive returned them.
std::vector<std::uint8_t> ModePage2A(std::uint8_t blockDescriptorLength = 0) {
  const auto page = ReadData("dvd_rw_mode_2a");  // the page from its byte 2 (read abilities) on
  std::vector<std::uint8_t> d = {0, 0, 0, blockDescriptorLength};
  d.insert(d.end(), blockDescriptorLength, 0);
  d.push_back(0x2A);
  d.push_back(static_cast<std::uint8_t>(page.size()));
  d.insert(d.end(), page.begin(), page.end());
  d[0] = static_cast<std::uint8_t>(d.size() - 1);
  return d;
}

TEST_F(NTPrimitives, PassThroughInquiryAndOpticalAbilities) {
  const char* cd = "\\\\.\\Cdrom0";
  dev.PassThroughReply(cd, 0x12, std::nullopt, ReadData("dvd_rw_std"));
  dev.PassThroughReply(cd, 0x1A, 0x2A, ModePage2A());
  dev.Reply(cd, devio::kDiskGetDriveGeometry, Geometry(1000, 64, 32, 2048, devio::kMediaRemovable));
  const Handle h = Open(cd);
  TDeviceInfo info;
  ASSERT_TRUE(InquireBySCSIPassThrough(h, 0, info));
  dev.CloseHandle(h);

  const auto sent = dev.CallsOf(devio::kScsiPassThrough);
  // Inquiry, mode sense, and before the SMART read the power mode, in the 16-byte form alone
  // (the 12-byte one is BLANK to an optical drive) and without data.
  ASSERT_EQ(sent.size(), 3u);
  devio::PassThroughRequest power;
  ASSERT_TRUE(devio::ReadPassThrough(sent[2].input.data(), static_cast<std::uint32_t>(sent[2].input.size()),
                                     sent[2].outSize, power));
  EXPECT_EQ(power.cdbLength, 16);
  EXPECT_EQ(std::vector<int>(power.cdb.begin(), power.cdb.begin() + 3), (std::vector<int>{0x85, 0x06, 0x20}));
  EXPECT_EQ(power.cdb[14], 0xE5);
  EXPECT_EQ(power.dataTransferLength, 0u);
  // The header in this process's form, the sense area right after it, the data 32 bytes on.
  const devio::PassThroughForm& form = devio::kNativePassThrough;
  EXPECT_EQ(form.length, sizeof(void*) == 8 ? 56u : 44u);
  EXPECT_EQ(sent[0].input.size(), form.length);
  EXPECT_EQ(sent[0].outSize, form.length + 32 + 192);
  devio::PassThroughRequest r;
  ASSERT_TRUE(devio::ReadPassThrough(sent[0].input.data(), form.length, sent[0].outSize, r));
  EXPECT_EQ(r.cdbLength, 6);
  EXPECT_EQ(r.senseInfoLength, 24);
  EXPECT_EQ(r.dataIn, 1);
  EXPECT_EQ(r.dataTransferLength, 192u);
  EXPECT_EQ(r.dataBufferOffset, form.length + 32);
  EXPECT_EQ(r.senseInfoOffset, form.length);
  EXPECT_EQ(r.cdb[0], 0x12);
  EXPECT_EQ(r.cdb[4], 192);
  // The mode sense goes out in the block as the inquiry returned it: only three bytes changed.
  const std::uint8_t* cdb = &sent[1].input[form.cdbAt];
  EXPECT_EQ(cdb[0], 0x1A);
  EXPECT_EQ(cdb[1], 0x08);
  EXPECT_EQ(cdb[2], 0x2A);
  EXPECT_EQ(cdb[4], 192);
  EXPECT_EQ(devio::Get32(&sent[1].input[12]), 96u);  // the inquiry's transfer length

  EXPECT_EQ(info.Vendor, "PIONEER");
  EXPECT_EQ(info.Model, "DVD-RW  DVR-115D");
  EXPECT_EQ(info.Revision, "1.13");
  EXPECT_EQ(info.VendorStr, "07/10/23  PIONEER");
  // Page bytes 2 and 3: 3Fh reads CD-R, CD-RW, DVD-ROM, DVD-R, DVD-RAM; 17h writes CD-R,
  // CD-RW and DVD-R.
  EXPECT_TRUE(info.Read_CDR && info.Read_CDRW && info.Read_DVDROM && info.Read_DVDR && info.Read_DVDRAM);
  EXPECT_TRUE(info.Write_CDR && info.Write_CDRW && info.Write_DVDR);
  EXPECT_FALSE(info.Write_DVDRAM);
  EXPECT_EQ(info.Size, 1000LL * 64 * 32 * 2048);
  EXPECT_EQ(info.BytesPerSector, 2048);
}

TEST_F(NTPrimitives, AbilitiesOnlyFromAPageTheDeviceReturned) {
  // A disk refuses the page: the data area still holds its inquiry data, whose bytes 6 and 7
  // (01h, 3Eh) would read as CD and DVD abilities.
  const char* disk = "\\\\.\\PhysicalDrive0";
  dev.PassThroughReply(disk, 0x12, std::nullopt, ReadData("BD146863B3_std"));
  dev.PassThroughReply(disk, 0x1A, std::nullopt, {}, 0x02);
  const Handle h = Open(disk);
  TDeviceInfo info;
  EXPECT_TRUE(InquireBySCSIPassThrough(h, 0, info));
  EXPECT_EQ(info.Vendor, "COMPAQ");
  EXPECT_EQ(info.Model, "BD146863B3");
  EXPECT_FALSE(info.Read_CDR || info.Read_CDRW || info.Write_CDRW || info.Write_DVDR || info.Write_DVDRAM);

  // A drive that sends block descriptors although asked for none: the page follows them.
  FakePlatform f;
  ScopedPlatform s(f);
  f.devices.PassThroughReply("\\\\.\\Cdrom0", 0x12, std::nullopt, ReadData("dvd_rw_std"));
  f.devices.PassThroughReply("\\\\.\\Cdrom0", 0x1A, 0x2A, ModePage2A(8));
  const Handle cd = OpenDevice("\\\\.\\Cdrom0");
  EXPECT_TRUE(InquireBySCSIPassThrough(cd, 0, info));
  EXPECT_TRUE(info.Read_DVDRAM);
  EXPECT_TRUE(info.Write_DVDR);
}

TEST_F(NTPrimitives, PassThroughFailures) {
  const char* tape = "\\\\.\\Tape0";
  dev.PassThroughReply(tape, 0x12, std::nullopt, ReadData("EXB-220_std"), 0x02);  // CHECK CONDITION
  dev.Reply(tape, devio::kStorageGetMediaTypesEx, [] {
    devio::MediaInfo m;
    m.mediaType = 0x20;
    m.busType = devio::kBusScsi;
    return devio::MediaTypes{devio::kFileDeviceTape, {m}}.Encode();
  }());
  const Handle h = Open(tape);
  TDeviceInfo info;
  info.Model = "left over";
  EXPECT_FALSE(InquireBySCSIPassThrough(h, 7, info));
  EXPECT_TRUE(info.Model.empty());
  EXPECT_EQ(info.Device, 7u);
  EXPECT_EQ(info.PHYSIndex, -1);
  // The follow-ups still ran: media types of a tape sit at bytes 8 and 20.
  EXPECT_EQ(info.DeviceType, kDeviceTypeTape);
  EXPECT_EQ(info.MediaType, 0x20u);
  EXPECT_EQ(info.BusType, devio::kBusScsi);
  dev.CloseHandle(h);

  // An invalid handle: every request fails, nothing is learnt.
  EXPECT_FALSE(InquireBySCSIPassThrough(platform::kInvalidHandle, 1, info));
  EXPECT_EQ(info.Size, 0);
  EXPECT_EQ(info.DeviceType, 0u);
}

// --- QueryStorageProperty --------------------------------------------------------------------

TEST_F(NTPrimitives, PropertyQueryFillsEmptyTextsThroughAQueryOnlyHandle) {
  auto& d = dev.Device(kDrive0);
  d.opensReadWrite = false;  // no administrator rights
  // "WD-WCAV1234" as some systems hand it over: hex digits of byte-swapped words.
  dev.Reply(kDrive0, devio::kStorageQueryProperty,
            Property("ATA     ", "WDC WD5000AAKS-00TMA0", "12.01C01", "4457572d41433156333234", devio::kBusSata));
  dev.Reply(kDrive0, devio::kDiskGetDriveGeometry, Geometry(60801));
  dev.Reply(kDrive0, devio::kScsiGetAddress, devio::ScsiAddress{0, 0, 0, 0}.Encode());
  dev.SmartReply(kDrive0, 0xB0, 0xD0, SmartData({{194, 100, 100, 40}}));

  TDeviceInfo info;
  info.Vendor = "from the inquiry";
  info.SMARTAttributes.resize(3);
  ASSERT_TRUE(QueryStorageProperty(kDrive0, 2, info));
  EXPECT_EQ(dev.opens.back().access, 0u);
  EXPECT_EQ(info.Vendor, "from the inquiry");
  EXPECT_EQ(info.Model, "WDC WD5000AAKS-00TMA0");
  EXPECT_EQ(info.Revision, "12.01C01");
  EXPECT_EQ(info.SerialNumber, "WD-WCAV1234");
  EXPECT_EQ(info.BusType, devio::kBusSata);
  EXPECT_EQ(info.Device, 2u);
  EXPECT_EQ(info.PHYSIndex, -1);
  EXPECT_EQ(info.Size, 60801LL * 255 * 63 * 512);
  EXPECT_TRUE(info.LocationAvailable);
  // SMART needs read and write access, which a query-only handle lacks.
  EXPECT_TRUE(info.SMARTAttributes.empty());
  EXPECT_FALSE(dev.CallsOf(devio::kSmartRcvDriveData).front().succeeded);
  EXPECT_EQ(dev.openHandles, 0);
}

TEST_F(NTPrimitives, PropertyQueryWithoutTextsStillSetsBusAndRemovable) {
  dev.Reply(kDrive0, devio::kStorageQueryProperty, Property("", "", "", "", devio::kBusUsb, true, 0));
  TDeviceInfo info;
  info.Model = "kept";
  info.Size = 99;
  ASSERT_TRUE(QueryStorageProperty(kDrive0, 0, info));
  EXPECT_EQ(info.Model, "kept");
  EXPECT_TRUE(info.Vendor.empty() && info.Revision.empty() && info.SerialNumber.empty());
  EXPECT_EQ(info.BusType, devio::kBusUsb);
  EXPECT_TRUE(info.Removable);
  EXPECT_EQ(info.Size, 0);  // no geometry: the size from it reads zero
  EXPECT_EQ(info.DeviceType, 0u);

  // The device type byte only fills a type still unknown.
  dev.Reply("\\\\.\\Cdrom0", devio::kStorageQueryProperty, Property("", "X", "", "", devio::kBusAtapi, true, 5));
  info.DeviceType = 0;
  ASSERT_TRUE(QueryStorageProperty("\\\\.\\Cdrom0", 0, info));
  EXPECT_EQ(info.DeviceType, 5u);
  info.DeviceType = 51;
  ASSERT_TRUE(QueryStorageProperty("\\\\.\\Cdrom0", 0, info));
  EXPECT_EQ(info.DeviceType, 51u);
}

TEST_F(NTPrimitives, PropertyQueryOffsetsAreChecked) {
  // Offsets past the reply, and a text that runs to the end of the buffer unterminated.
  std::vector<std::uint8_t> reply(10231, 'A');
  std::fill(reply.begin(), reply.begin() + 36, 0);
  devio::Put32(&reply[12], 0xFFFFFFF0);
  devio::Put32(&reply[16], 10231);
  devio::Put32(&reply[20], 10000);
  devio::Put32(&reply[24], 0);
  dev.Reply(kDrive0, devio::kStorageQueryProperty, reply);
  TDeviceInfo info;
  ASSERT_TRUE(QueryStorageProperty(kDrive0, 0, info));
  EXPECT_TRUE(info.Vendor.empty());
  EXPECT_TRUE(info.Model.empty());
  EXPECT_EQ(info.Revision, std::string(231, 'A'));

  dev.Device("\\\\.\\PhysicalDrive1").opensQueryOnly = false;
  info.Model = "untouched";
  EXPECT_FALSE(QueryStorageProperty("\\\\.\\PhysicalDrive1", 1, info));
  EXPECT_EQ(info.Model, "untouched");
  EXPECT_FALSE(QueryStorageProperty("\\\\.\\PhysicalDrive7", 1, info));
}

TEST_F(NTPrimitives, LongTextsAreCutTo255Bytes) {
  dev.Reply(kDrive0, devio::kStorageQueryProperty, Property("V", std::string(300, 'M'), "R", "", 0));
  dev.Reply(kDrive0, devio::kStorageGetMediaSerialNumber, devio::MediaSerialNumber{std::string(280, 'S')}.Encode());
  TDeviceInfo info;
  ASSERT_TRUE(QueryStorageProperty(kDrive0, 0, info));
  EXPECT_EQ(info.Model.size(), 255u);
  EXPECT_EQ(info.SerialNumber, std::string(255, 'S'));
}

// --- The 9x family's routes ------------------------------------------------------------------

TEST_F(Win9xPrimitives, SmartDriverIdentifySelectsTheDriveByParity) {
  const char* vsd = "\\\\.\\SMARTVSD";
  dev.SmartReply(vsd, 0xEC, std::nullopt, IdentifyBuilder::Disk("QUANTUM FIREBALL", "Q1").b, 0, 1);
  dev.SmartReply(vsd, 0xB0, 0xD0, SmartData({{194, 90, 80, 38}}), 0, 1);
  // Positions without a drive: the driver answers with an error byte and no data.
  dev.SmartReply(vsd, 0xEC, std::nullopt, Block{}, 10);
  TDeviceInfo info;
  ASSERT_TRUE(IdentifyBySMARTVSD(1, info));
  const auto sent = dev.CallsOf(devio::kSmartRcvDriveData);
  EXPECT_EQ(sent[0].input.size(), 32u);
  EXPECT_EQ(sent[0].input[9], 0xB0);  // 0xA0 | (1 & 1) << 4
  EXPECT_EQ(sent[0].input[12], 1);
  EXPECT_EQ(sent[1].input[9], 0xB0);
  EXPECT_EQ(info.Model, "FIREBALL");
  EXPECT_EQ(info.Temperature, 38);
  EXPECT_EQ(info.Device, 1u);
  EXPECT_FALSE(IdentifyBySMARTVSD(2, info));
  EXPECT_EQ(dev.openHandles, 0);
}

TEST_F(NTPrimitives, SmartDriverDriveHeadOnTheNTFamily) {
  dev.SmartReply("\\\\.\\SMARTVSD", 0xEC, std::nullopt, IdentifyBuilder::Disk("M", "S").b);
  TDeviceInfo info;
  ASSERT_TRUE(IdentifyBySMARTVSD(1, info));
  EXPECT_EQ(dev.CallsOf(devio::kSmartRcvDriveData)[0].input[9], 0xA0);
}

class Ports : public Win9xPrimitives {
 protected:
  Ports() {
    dev.ldt = std::vector<devio::Descriptor>(16);
    (*dev.ldt)[0] = {0xFF, 0xFF, 0, 0, 0, 0xF2, 0xCF, 0};  // in use
    platform::FakeAtaDrive disk;
    disk.identify = IdentifyBuilder::Disk("Maxtor 6Y080L0", "Y2P0").b;
    platform::FakeAtaDrive cd;
    cd.packet = true;
    cd.identify = IdentifyBuilder{}.Word(0, 0x8580).Model("LITE-ON LTR-52327S").b;
    dev.ataChannels[0x1F0] = {disk, std::nullopt};
    dev.ataChannels[0x170] = {std::nullopt, cd};
  }
};

TEST_F(Ports, IdentifiesADiskAndAPacketDevice) {
  TDeviceInfo info;
  ASSERT_TRUE(IdentifyByPorts(0, info));
  EXPECT_EQ(info.Model, "6Y080L0");
  EXPECT_EQ(info.DeviceType, kDeviceTypeDisk);
  EXPECT_EQ(dev.ataCommands, (std::vector<std::pair<std::uint16_t, std::uint8_t>>{{0x1F0, 0xEC}}));

  ASSERT_TRUE(IdentifyByPorts(3, info));  // secondary slave
  EXPECT_EQ(info.Model, "LTR-52327S");
  EXPECT_EQ(info.DeviceType, kDeviceTypeCdRom);
  EXPECT_EQ(dev.ataCommands.back(), (std::pair<std::uint16_t, std::uint8_t>{0x170, 0xA1}));
  EXPECT_EQ(IdentifyBuffer()[54], 'L');

  // Every transfer went through a gate in the first free entry, cleared afterwards.
  EXPECT_EQ(dev.refusedGateCalls, 0);
  EXPECT_GT(dev.gateCalls, 0);
  EXPECT_EQ((*dev.ldt)[1], devio::Descriptor{});
  EXPECT_EQ((*dev.ldt)[0][5], 0xF2);
}

TEST_F(Ports, NothingThereOrNoWayIn) {
  TDeviceInfo info;
  EXPECT_FALSE(IdentifyByPorts(1, info));  // primary slave: nobody answers
  EXPECT_FALSE(IdentifyByPorts(4, info));  // no controller at 1E8h

  const int before = dev.portTransfers;
  EXPECT_FALSE(IdentifyByPorts(8, info));
  EXPECT_FALSE(IdentifyByPorts(9, info));
  EXPECT_EQ(dev.portTransfers, before);

  fake.vmwareReply = platform::X86Registers{0, 0x564D5868, 0, 0};
  EXPECT_FALSE(IdentifyByPorts(0, info));
  EXPECT_EQ(dev.portTransfers, before);
  fake.vmwareReply.reset();

  // A full table, or none: no status can be read, and the first checked wait fails.
  for (auto& d : *dev.ldt) d[5] = 0x92;
  EXPECT_FALSE(IdentifyByPorts(0, info));
  dev.ldt.reset();
  EXPECT_FALSE(IdentifyByPorts(0, info));
  EXPECT_EQ(dev.portTransfers, before);
}

TEST_F(Ports, PortsMoveOneTwoOrFourBytes) {
  std::uint32_t v = 0;
  EXPECT_FALSE(ReadPort(0x1F7, &v, 3));
  EXPECT_FALSE(WritePort(0x1F6, 0xA0, 0));
  EXPECT_TRUE(ReadPort(0x3F7, &v, 4));  // nothing on the bus reads all ones
  EXPECT_EQ(v, 0xFFFFFFFFu);
  EXPECT_TRUE(WritePort(0x1F6, 0xA0, 1));
  std::uint8_t status = 0;
  EXPECT_TRUE(ReadPort(0x1F7, &status, 1));
  EXPECT_EQ(status, 0x50);
}

// --- Follow-up requests ----------------------------------------------------------------------

TEST_F(NTPrimitives, SmartAttributesAndTemperature) {
  const Handle h = [&] {
    dev.SmartReply(kDrive0, 0xB0, 0xD0, SmartDataOf("ST320410A--3.39"));
    return Open(kDrive0);
  }();
  TDeviceInfo info;
  info.Device = 0x105;
  ASSERT_TRUE(ReadSMARTAttributes(h, info));
  const auto sent = dev.CallsOf(devio::kSmartRcvDriveData).back();
  EXPECT_EQ(sent.input.size(), 32u);
  EXPECT_EQ(sent.input[4], 0xD0);
  EXPECT_EQ(sent.input[7], 0x4F);
  EXPECT_EQ(sent.input[8], 0xC2);
  EXPECT_EQ(sent.input[9], 0xA0);
  EXPECT_EQ(sent.input[10], 0xB0);
  EXPECT_EQ(sent.input[12], 0x05);  // the low byte of Device
  // The recorded drive's attributes, as smartctl lists them: 1 3 4 5 7 9 10 12 194 195 197 198 199 200 202.
  std::vector<int> ids;
  for (const auto& a : info.SMARTAttributes) ids.push_back(a.Id());
  EXPECT_EQ(ids, (std::vector<int>{1, 3, 4, 5, 7, 9, 10, 12, 194, 195, 197, 198, 199, 200, 202}));
  EXPECT_EQ(info.Temperature, info.SMARTAttributes[8].Bytes[5]);
  EXPECT_EQ(info.SMARTAttributes[0].Raw(), 0x019C5999u);

  // Unused entries are skipped wherever they are; without attribute 194 the temperature is 0.
  FakePlatform f;
  ScopedPlatform s(f);
  f.devices.SmartReply(kDrive0, 0xB0, 0xD0, SmartData({{1, 100, 100, 0}, {0, 0, 0, 0}, {9, 98, 98, 7}}));
  const Handle h2 = OpenDevice(kDrive0);
  info.Temperature = 50;
  ASSERT_TRUE(ReadSMARTAttributes(h2, info));
  ASSERT_EQ(info.SMARTAttributes.size(), 2u);
  EXPECT_EQ(info.SMARTAttributes[1].Id(), 9);
  EXPECT_EQ(info.Temperature, 0);
}

TEST_F(NTPrimitives, MediaTypesByDeviceKind) {
  dev.Reply(kDrive0, devio::kStorageGetMediaTypesEx, DiskMediaTypes(devio::kMediaRemovable));
  const Handle h = Open(kDrive0);
  TDeviceInfo info;
  GetMediaTypes(h, info);
  EXPECT_EQ(info.DeviceType, devio::kFileDeviceDisk);
  EXPECT_EQ(info.MediaType, devio::kMediaRemovable);
  EXPECT_EQ(info.BusType, 0u);
  info.DeviceType = 51;
  GetMediaTypes(h, info);
  EXPECT_EQ(info.DeviceType, 51u);
}

TEST_F(NTPrimitives, DriveLayoutKeepsUsedEntriesAndReadsBeyondTwelve) {
  std::vector<devio::PartitionInfo> entries;
  for (std::uint32_t i = 0; i < 20; ++i) entries.push_back(Partition(1 + i * 10, 10, i % 4 == 3 ? 0 : 0x83, i + 1));
  entries[1].BootIndicator = true;
  dev.Reply(kDrive0, devio::kDiskGetDriveLayout, devio::DriveLayout{0xCAFE, entries}.Encode());
  const Handle h = Open(kDrive0);
  TDiskLayout layout;
  ASSERT_TRUE(GetDriveLayout(h, layout));
  ASSERT_EQ(layout.size(), 15u);  // five of the twenty are unused
  EXPECT_EQ(layout[0].StartingOffset, 1LL << 20);
  EXPECT_EQ(layout[0].Length, 10LL << 20);
  EXPECT_EQ(layout[0].Number, 1u);
  EXPECT_TRUE(layout[1].BootIndicator);
  EXPECT_EQ(layout[14].Number, 19u);
  EXPECT_EQ(dev.CallsOf(devio::kDiskGetDriveLayout).front().outSize, 400u);

  // All entries unused: an empty layout, and still a success.
  FakePlatform f;
  ScopedPlatform s(f);
  f.devices.Reply(kDrive0, devio::kDiskGetDriveLayout, devio::DriveLayout{1, std::vector<devio::PartitionInfo>(4)}.Encode());
  layout.resize(3);
  EXPECT_TRUE(GetDriveLayout(OpenDevice(kDrive0), layout));
  EXPECT_TRUE(layout.empty());
}

TEST_F(NTPrimitives, DriveLayoutCountBeyondTheReplyIsBounded) {
  auto reply = devio::DriveLayout{0, {Partition(1, 1, 0x07, 1)}}.Encode();
  devio::Put32(reply.data(), 0xFFFFFFFF);
  dev.Reply(kDrive0, devio::kDiskGetDriveLayout, reply);
  TDiskLayout layout;
  ASSERT_TRUE(GetDriveLayout(Open(kDrive0), layout));
  EXPECT_EQ(layout.size(), 1u);
}

TEST_F(NTPrimitives, AddressGeometryExtentsAndMediaSerial) {
  const char* c = "\\\\.\\C:";
  dev.Reply(c, devio::kScsiGetAddress, devio::ScsiAddress{1, 2, 3, 4}.Encode());
  dev.Reply(c, devio::kVolumeGetVolumeDiskExtents, devio::VolumeDiskExtents{{{2, 1LL << 20, 5LL << 30}}}.Encode());
  dev.Reply(c, devio::kStorageGetMediaSerialNumber, devio::MediaSerialNumber{"  MEDIA-77  "}.Encode());
  const Handle h = Open(c);
  TDeviceInfo info;
  ASSERT_TRUE(GetSCSIAddress(h, info));
  EXPECT_EQ(std::vector<int>({info.HaId, info.PathID, info.Target, info.Lun}), std::vector<int>({1, 2, 3, 4}));
  TVolumeDiskExtent e;
  ASSERT_TRUE(GetVolumeDiskExtents(h, e));
  EXPECT_EQ(e.NumberOfDiskExtents, 1u);
  EXPECT_EQ(e.DiskNumber, 2u);
  EXPECT_EQ(e.StartingOffset, 1LL << 20);
  EXPECT_EQ(e.ExtentLength, 5LL << 30);
  EXPECT_EQ(GetMediaSerialNumber(h), "MEDIA-77");

  TDiskGeometry g;
  g.Cylinders = 5;
  EXPECT_FALSE(GetDriveGeometry(h, g));
  EXPECT_EQ(g, TDiskGeometry{});

  const std::size_t calls = dev.calls.size();
  EXPECT_FALSE(GetVolumeDiskExtents(platform::kInvalidHandle, e));
  EXPECT_EQ(dev.calls.size(), calls);
  EXPECT_EQ(e.StartingOffset, 0);
}

// Replies cut short of their fixed part describe nothing: each routine fails (or leaves the
// record as it was) instead of taking what lies in its buffer beyond the reply.
TEST_F(NTPrimitives, RepliesCutShortAreRefused) {
  auto cut = [](std::vector<std::uint8_t> block, std::size_t n) {
    block.resize(n);
    return block;
  };
  // Complete blocks whose every field is set, each reply one byte short of what it needs.
  const auto descriptor = Property("VENDOR", "MODEL", "REV", "SERIAL", devio::kBusSata, true, 5);
  dev.Reply(kDrive0, devio::kDiskGetDriveGeometry, cut(Geometry(60801), devio::DiskGeometry::kSize - 1));
  dev.Reply(kDrive0, devio::kScsiGetAddress, cut(devio::ScsiAddress{1, 2, 3, 4}.Encode(), 7));
  dev.Reply(kDrive0, devio::kStorageGetMediaTypesEx, cut(DiskMediaTypes(), 7));
  dev.Reply(kDrive0, devio::kStorageGetMediaSerialNumber, cut(devio::MediaSerialNumber{"MEDIA"}.Encode(), 15));
  dev.Reply(kDrive0, devio::kDiskGetDriveLayout, cut(devio::DriveLayout{1, {Partition(1, 1, 0x07, 1)}}.Encode(), 7));
  dev.Reply(kDrive0, devio::kVolumeGetVolumeDiskExtents, cut(devio::VolumeDiskExtents{{{2, 1 << 20, 1 << 30}}}.Encode(), 8));
  dev.Reply(kDrive0, devio::kStorageQueryProperty, cut(descriptor, devio::DeviceDescriptor::kFixedSize - 1));
  const Handle h = Open(kDrive0);

  TDiskGeometry g{1, 2, 3, 4, 5};
  EXPECT_FALSE(GetDriveGeometry(h, g));
  EXPECT_EQ(g, TDiskGeometry{});
  TDeviceInfo info;
  info.MediaType = 99;
  EXPECT_FALSE(GetSCSIAddress(h, info));
  EXPECT_FALSE(info.LocationAvailable);
  GetMediaTypes(h, info);
  EXPECT_EQ(info.MediaType, 99u);
  EXPECT_EQ(info.DeviceType, 0u);
  EXPECT_EQ(GetMediaSerialNumber(h), "");
  TDiskLayout layout(2);
  EXPECT_FALSE(GetDriveLayout(h, layout));
  EXPECT_TRUE(layout.empty());
  // The count names an extent that the reply does not hold.
  TVolumeDiskExtent e;
  EXPECT_FALSE(GetVolumeDiskExtents(h, e));
  EXPECT_EQ(e.DiskNumber, 0u);
  EXPECT_FALSE(QueryStorageProperty(kDrive0, 0, info));
  EXPECT_TRUE(info.Model.empty());
  EXPECT_EQ(info.BusType, 0u);
  dev.CloseHandle(h);
}

// A mode page whose own length ends before its abilities counts for nothing, whatever bytes
// follow it in the data.
TEST_F(NTPrimitives, AbilitiesOnlyFromBytesOfThePage) {
  const char* cd = "\\\\.\\Cdrom0";
  dev.PassThroughReply(cd, 0x12, std::nullopt, Inquiry(5, "VENDOR", "MODEL", "REV"));
  auto mode = devio::ModeSense6Data{0, 0, {}, 0x2A, {}}.Encode();  // a page of no bytes
  mode.insert(mode.end(), {0x3F, 0x37});
  dev.PassThroughReply(cd, 0x1A, 0x2A, mode);
  const Handle h = Open(cd);
  TDeviceInfo info;
  EXPECT_TRUE(InquireBySCSIPassThrough(h, 0, info));
  EXPECT_EQ(info.Model, "MODEL");
  EXPECT_FALSE(info.Read_CDR || info.Read_CDRW || info.Read_DVDROM || info.Read_DVDR || info.Read_DVDRAM);
  EXPECT_FALSE(info.Write_CDR || info.Write_CDRW || info.Write_DVDR || info.Write_DVDRAM);
  dev.CloseHandle(h);
}

TEST(SerialNumberHex, DecodesSwappedWordsAndLeavesPlainTextAlone) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"", ""},
      {"    ", ""},
      {"4457572d41433156333234", "WD-WCAV1234"},      // 16-bit words with swapped bytes
      {"20204457312d", "WD-1"},                       // padding blanks trimmed after decoding
      {"  4457572d41433156333234  ", "WD-WCAV1234"},  // blanks around the digits
      {"57443157", "DWW1"},
      {"575744", "WWD"},                              // a last word of two digits stands alone
      // Plain serial numbers are not shuffled or turned into control codes, though they hold
      // hex digit pairs.
      {"WD-WCAPW0493929", "WD-WCAPW0493929"},
      {"WD-WMAZA5643210", "WD-WMAZA5643210"},
      {"S4EWNX0R345678L", "S4EWNX0R345678L"},
      {"S6PPNX0W203715P", "S6PPNX0W203715P"},
      {"Z1D2ABCD", "Z1D2ABCD"},
      {"2020ZZ41", "2020ZZ41"},
      {"1234567890", "1234567890"},  // all hex, but decodes to control codes
      {"314", "314"},                // an odd number of digits is no encoding
      {" ZZZZ ", "ZZZZ"},
  };
  for (const auto& c : cases) EXPECT_EQ(DecodeSerialNumberHex(c.in), c.out) << c.in;
}

TEST_F(NTPrimitives, DriveLettersFromTheRoots) {
  dev.driveLetters = "ACdZ";
  EXPECT_EQ(GetDriveLetters(), "ACDZ");
  dev.driveLetters.clear();
  EXPECT_EQ(GetDriveLetters(), "");
}

}  // namespace
