// The storage component's refresh replayed over whole recorded machines: which routes make
// which records, how records of one device merge, how drive letters link to their disks.
#include <gtest/gtest.h>

#include "platform/fake/FakePlatform.h"
#include "storage/KSI_Storage.h"
#include "unit/storage/StorageTestSupport.h"

using namespace kyvex;
using namespace storage_test;
using platform::FakePlatform;
using platform::ScopedPlatform;

namespace {

std::string Path(const char* kind, int n) { return std::string("\\\\.\\") + kind + std::to_string(n); }
std::string Letter(char c) { return std::string("\\\\.\\") + c + ":"; }

// A disk as Windows shows it to an administrator: inquiry, property query, address,
// geometry and media types on its own path.
void AddDisk(platform::FakeDevice& dev, const std::string& path, const std::string& inquiryModel,
             const std::string& model, const std::string& serial, std::uint8_t port, std::int64_t cylinders) {
  dev.PassThroughReply(path, 0x12, std::nullopt, Inquiry(0, "ATA", inquiryModel, "1C01"));
  dev.Reply(path, devio::kStorageQueryProperty, Property("ATA", model, "12.01C01", serial, devio::kBusSata));
  dev.Reply(path, devio::kScsiGetAddress, devio::ScsiAddress{port, 0, 0, 0}.Encode());
  dev.Reply(path, devio::kDiskGetDriveGeometry, Geometry(cylinders));
  dev.Reply(path, devio::kStorageGetMediaTypesEx, DiskMediaTypes());
}

// SMART on a disk's path: the version, the identify data and the attribute values.
void AddSmart(platform::FakeDevice& dev, const std::string& path, std::uint8_t map, const Block& identify,
              const Block& values) {
  dev.Reply(path, devio::kSmartGetVersion, devio::SmartVersion{1, 1, map, 7}.Encode());
  dev.SmartReply(path, 0xEC, std::nullopt, identify);
  dev.SmartReply(path, 0xB0, 0xD0, values);
}

// A volume on a disk: the disk's answers through the volume, its layout and the extent.
void AddVolume(platform::FakeDevice& dev, char letter, const std::string& diskPath,
               const std::vector<devio::PartitionInfo>& diskLayout, std::uint32_t diskNumber, const devio::PartitionInfo& own) {
  const std::string path = Letter(letter);
  for (const auto& rule : dev.Device(diskPath).rules)
    if (rule.code != devio::kSmartGetVersion && rule.code != devio::kSmartRcvDriveData) dev.Device(path).rules.push_back(rule);
  dev.Reply(path, devio::kDiskGetDriveLayout, devio::DriveLayout{0x11223344, diskLayout}.Encode());
  dev.Reply(path, devio::kVolumeGetVolumeDiskExtents,
            devio::VolumeDiskExtents{{{diskNumber, own.StartingOffset, own.Length}}}.Encode());
  dev.driveLetters += letter;
  dev.driveTypes[std::string(1, letter) + ":\\"] = devio::kDriveFixed;
}

// The whole machine: a SATA disk with two volumes and SMART, a DVD writer, a tape drive, a
// second disk reachable only through SMART that holds a volume nothing else names, a USB
// stick that has a drive letter but no disk path, an unnamed SMART position and a network
// drive.
struct Workstation {
  FakePlatform fake;
  platform::FakeDevice& dev = fake.devices;
  devio::PartitionInfo c = Partition(1, 102400, 0x07, 1), d = Partition(102401, 300000, 0x07, 2);
  devio::PartitionInfo st = Partition(1, 19000, 0x0C, 1);

  Workstation() {
    const std::string pd0 = Path("PhysicalDrive", 0), pd1 = Path("PhysicalDrive", 1), pd2 = Path("PhysicalDrive", 2);
    AddDisk(dev, pd0, "WDC WD5000AAKS-0", "WDC WD5000AAKS-00TMA0", "", 0, 60801);
    AddSmart(dev, pd0, 0x01, IdentifyOf("WDC_WD5000AAKS--00TMA0-12.01C01"), SmartDataOf("WDC_WD5000AAKS--00TMA0-12.01C01"));
    dev.Reply(pd0, devio::kDiskGetDriveLayout, devio::DriveLayout{0x11223344, {c, d}}.Encode());
    AddVolume(dev, 'C', pd0, {c, d}, 0, c);
    AddVolume(dev, 'D', pd0, {c, d}, 0, d);

    // Only SMART answers on this one.
    dev.Device(pd1).opensQueryOnly = false;
    AddSmart(dev, pd1, 0x02, IdentifyOf("ST320410A--3.39"), SmartDataOf("ST320410A--3.39"));
    dev.Reply(pd1, devio::kDiskGetDriveLayout, devio::DriveLayout{0x55667788, {st}}.Encode());
    dev.Reply(Letter('F'), devio::kStorageQueryProperty, Property("", "Virtual Volume", "", "", devio::kBusUnknown));
    dev.Reply(Letter('F'), devio::kDiskGetDriveLayout, devio::DriveLayout{0x55667788, {st}}.Encode());
    dev.Reply(Letter('F'), devio::kVolumeGetVolumeDiskExtents, devio::VolumeDiskExtents{{{1, st.StartingOffset, st.Length}}}.Encode());

    // A SMART position that answers with empty identify data.
    dev.Device(pd2).opensQueryOnly = false;
    AddSmart(dev, pd2, 0x04, Block{}, Block{});

    const std::string cd = Path("Cdrom", 0);
    dev.PassThroughReply(cd, 0x12, std::nullopt, ReadData("dvd_rw_std"));
    auto page = ReadData("dvd_rw_mode_2a");
    std::vector<std::uint8_t> mode = {static_cast<std::uint8_t>(page.size() + 5), 0, 0, 0, 0x2A,
                                      static_cast<std::uint8_t>(page.size())};
    mode.insert(mode.end(), page.begin(), page.end());
    dev.PassThroughReply(cd, 0x1A, 0x2A, mode);
    dev.Reply(cd, devio::kStorageQueryProperty, Property("PIONEER", "DVD-RW  DVR-115D", "1.13", "", devio::kBusSata, true, 5));
    devio::MediaInfo dvd;
    dvd.mediaType = devio::kMediaCdRom;
    dev.Reply(cd, devio::kStorageGetMediaTypesEx, devio::MediaTypes{devio::kFileDeviceDvd, {dvd}}.Encode());
    dev.Reply(cd, devio::kScsiGetAddress, devio::ScsiAddress{1, 0, 0, 0}.Encode());

    const std::string tape = Path("Tape", 0);
    dev.PassThroughReply(tape, 0x12, std::nullopt, ReadData("EXB-220_std"));
    dev.Reply(tape, devio::kStorageQueryProperty, Property("EXABYTE", "EXB-220", "6.05", "", devio::kBusScsi, true, 1));
    devio::MediaInfo dds;
    dds.mediaType = 0x20;
    dds.busType = devio::kBusScsi;
    dev.Reply(tape, devio::kStorageGetMediaTypesEx, devio::MediaTypes{devio::kFileDeviceTape, {dds}}.Encode());
    dev.Reply(tape, devio::kScsiGetAddress, devio::ScsiAddress{2, 0, 3, 0}.Encode());

    const std::string stick = Letter('E');
    dev.Reply(stick, devio::kStorageQueryProperty, Property("Generic", "Flash Disk", "8.07", "", devio::kBusUsb, true));
    dev.Reply(stick, devio::kDiskGetDriveGeometry, Geometry(487, 255, 63, 512, devio::kMediaRemovable));
    dev.Reply(stick, devio::kVolumeGetVolumeDiskExtents, devio::VolumeDiskExtents{{{3, 16384, 4LL << 30}}}.Encode());
    dev.driveLetters = "CDEFZ";
    dev.driveTypes["E:\\"] = devio::kDriveRemovable;
    dev.driveTypes["Z:\\"] = devio::kDriveRemote;
  }
};

TEST(StorageRefresh, WholeWorkstation) {
  Workstation m;
  ScopedPlatform scope(m.fake);
  TKyvex_Storage storage;
  storage.CollectData();
  ASSERT_EQ(storage.PhysicalCount(), 5);
  ASSERT_EQ(storage.LogicalCount(), 4);
  const auto& p = storage.PhysicalDevices();
  const auto& l = storage.LogicalDevices();

  // The disk's own path made record 0; SMART identify only filled its empty parts: the
  // serial number, the identify group and the attributes, not its name or its size.
  EXPECT_EQ(p[0].Model, "WDC WD5000AAKS-0");
  EXPECT_EQ(p[0].Vendor, "ATA");
  EXPECT_EQ(p[0].SerialNumber, "WD-WCAPW0493929");
  EXPECT_TRUE(p[0].ExtraInfoAvailable);
  EXPECT_TRUE(p[0].SMARTSupport);
  EXPECT_FALSE(p[0].SMARTAttributes.empty());
  EXPECT_NE(p[0].Temperature, 0);
  EXPECT_EQ(p[0].Size, 60801LL * 255 * 63 * 512);
  EXPECT_TRUE(p[0].Layout.empty());
  EXPECT_EQ(p[0].DeviceType, devio::kFileDeviceDisk);
  EXPECT_EQ(p[0].BusType, devio::kBusSata);
  EXPECT_EQ(p[0].PHYSIndex, -1);
  EXPECT_EQ(p[0].Drive, 0);

  EXPECT_EQ(p[1].Model, "DVD-RW  DVR-115D");
  EXPECT_EQ(p[1].DeviceType, devio::kFileDeviceDvd);
  EXPECT_TRUE(p[1].Read_DVDRAM);
  EXPECT_TRUE(p[1].Removable);
  EXPECT_EQ(p[1].Size, 0);
  EXPECT_TRUE(p[1].SMARTAttributes.empty());

  EXPECT_EQ(p[2].Vendor, "EXABYTE");
  EXPECT_EQ(p[2].DeviceType, kDeviceTypeTape);
  EXPECT_EQ(p[2].MediaType, 0x20u);
  EXPECT_EQ(p[2].Target, 3);

  // The disk only SMART reached, with its layout; the empty SMART position added nothing.
  EXPECT_EQ(p[3].Model, "ST320410A");
  EXPECT_EQ(p[3].SerialNumber, "5FB3QF34");
  EXPECT_EQ(p[3].Device, 1u);
  EXPECT_EQ(p[3].BusType, 0u);
  EXPECT_EQ(p[3].Size, 39100223LL * 512);
  ASSERT_EQ(p[3].Layout.size(), 1u);

  // The stick has no disk path: its drive became a physical record of its own.
  EXPECT_EQ(p[4].Model, "Flash Disk");
  EXPECT_EQ(p[4].Drive, 'E');
  EXPECT_EQ(p[4].PHYSIndex, -1);

  struct Link {
    char drive;
    int phys;
    std::int64_t partitionStart;  // -1: no layout entry
  } links[] = {{'C', 0, 1LL << 20}, {'D', 0, 102401LL << 20}, {'E', 4, -1}, {'F', 3, 1LL << 20}};
  for (std::size_t i = 0; i < 4; ++i) {
    SCOPED_TRACE(links[i].drive);
    EXPECT_EQ(l[i].Drive, links[i].drive);
    EXPECT_EQ(l[i].Device, static_cast<std::uint32_t>(links[i].drive));
    EXPECT_EQ(l[i].PHYSIndex, links[i].phys);
    EXPECT_FALSE(l[i].Model.empty());
    if (links[i].partitionStart < 0) {
      EXPECT_TRUE(l[i].Layout.empty());
    } else {
      ASSERT_EQ(l[i].Layout.size(), 1u);
      EXPECT_EQ(l[i].Layout[0].StartingOffset, links[i].partitionStart);
    }
  }
  EXPECT_FALSE(l[0].Removable);
  EXPECT_TRUE(l[2].Removable);  // no device type came back for the stick: the drive type decided
  EXPECT_EQ(l[2].DeviceType, kDeviceTypeDisk);
  EXPECT_EQ(m.dev.openHandles, 0);
}

TEST(StorageRefresh, SecondRefreshRebuildsTheSameLists) {
  Workstation m;
  ScopedPlatform scope(m.fake);
  TKyvex_Storage storage;
  storage.CollectData();
  const TDeviceInfoArray physical = storage.PhysicalDevices(), logical = storage.LogicalDevices();
  storage.CollectData();
  EXPECT_EQ(storage.PhysicalDevices(), physical);
  EXPECT_EQ(storage.LogicalDevices(), logical);
  EXPECT_TRUE(storage.LiveData());
}

TEST(StorageRefresh, TwoVolumesOnOneDiskLinkFirstWithMergeThenWithout) {
  FakePlatform fake;
  auto& dev = fake.devices;
  const std::string pd0 = Path("PhysicalDrive", 0);
  const auto c = Partition(1, 1000, 0x07, 1), d = Partition(1001, 1000, 0x07, 2);
  AddDisk(dev, pd0, "ST3500418AS", "ST3500418AS", "", 0, 60801);
  AddVolume(dev, 'C', pd0, {c, d}, 0, c);
  AddVolume(dev, 'D', pd0, {c, d}, 0, d);
  // Each volume reports a serial number of its own, so that a merge would show.
  dev.Device(Letter('C')).rules.insert(dev.Device(Letter('C')).rules.begin(),
                                       {devio::kStorageGetMediaSerialNumber, {}, {true, 0, devio::MediaSerialNumber{"SER-C"}.Encode()}});
  dev.Device(Letter('D')).rules.insert(dev.Device(Letter('D')).rules.begin(),
                                       {devio::kStorageGetMediaSerialNumber, {}, {true, 0, devio::MediaSerialNumber{"SER-D"}.Encode()}});
  ScopedPlatform scope(fake);
  TKyvex_Storage storage;
  storage.CollectData();
  ASSERT_EQ(storage.PhysicalCount(), 1);
  ASSERT_EQ(storage.LogicalCount(), 2);
  EXPECT_EQ(storage.LogicalDevices()[0].PHYSIndex, 0);
  EXPECT_EQ(storage.LogicalDevices()[1].PHYSIndex, 0);
  EXPECT_EQ(storage.PhysicalDevices()[0].SerialNumber, "SER-C");
}

TEST(StorageRefresh, PartitionLinksEveryHolderAndKeepsTheLast) {
  FakePlatform fake;
  auto& dev = fake.devices;
  const auto shared = Partition(1, 500, 0x0C, 1);
  for (int n : {0, 1}) {
    const std::string path = Path("PhysicalDrive", n);
    dev.Device(path).opensQueryOnly = false;
    // Word 0 names no device type: the drive's type fills it in when merged.
    AddSmart(dev, path, static_cast<std::uint8_t>(1 << n),
             IdentifyBuilder::Disk(n ? "Disk B" : "Disk A", n ? "B1" : "A1").Word(0, 0).b, SmartData({}));
    dev.Reply(path, devio::kDiskGetDriveLayout, devio::DriveLayout{0, {shared}}.Encode());
  }
  dev.Reply(Letter('C'), devio::kStorageQueryProperty, Property("", "Mirror", "", "MIRROR-SN", 0, true));
  dev.Reply(Letter('C'), devio::kDiskGetDriveLayout, devio::DriveLayout{0, {shared}}.Encode());
  dev.Reply(Letter('C'), devio::kVolumeGetVolumeDiskExtents, devio::VolumeDiskExtents{{{0, shared.StartingOffset, shared.Length}}}.Encode());
  dev.driveLetters = "C";
  dev.driveTypes["C:\\"] = devio::kDriveFixed;
  ScopedPlatform scope(fake);
  TKyvex_Storage storage;
  storage.CollectData();
  ASSERT_EQ(storage.PhysicalCount(), 2);
  EXPECT_EQ(storage.LogicalDevices()[0].PHYSIndex, 1);
  // Both holders were merged with the drive's data.
  EXPECT_EQ(storage.PhysicalDevices()[0].DeviceType, kDeviceTypeDisk);
  EXPECT_EQ(storage.PhysicalDevices()[1].DeviceType, kDeviceTypeDisk);
}

// Two disks of one model with one partition table between them (a server's pair): each
// letter links to the disk at its own address, and the disks keep their own serial numbers,
// whichever disk the letters come from first.
TEST(StorageRefresh, TwinDisksLinkByLocationNotModel) {
  struct Case {
    const char* letters;      // the volumes, in letter order
    std::vector<int> holder;  // the disk each letter lies on
  } cases[] = {{"CD", {1, 0}}, {"CD", {0, 1}}, {"CDE", {1, 0, 1}}};
  const auto first = Partition(1, 500, 0x07, 1), second = Partition(501, 500, 0x07, 2);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.letters);
    FakePlatform fake;
    auto& dev = fake.devices;
    for (int n : {0, 1}) {
      const std::string path = Path("PhysicalDrive", n);
      AddDisk(dev, path, "ST4000NM0035-1V4", "ST4000NM0035-1V4", n ? "ZC1B" : "ZC1A", static_cast<std::uint8_t>(n), 486401);
      dev.Reply(path, devio::kDiskGetDriveLayout, devio::DriveLayout{0, {first, second}}.Encode());
    }
    std::vector<int> used(2, 0);
    for (std::size_t i = 0; c.letters[i]; ++i) {
      const int disk = c.holder[i];
      AddVolume(dev, c.letters[i], Path("PhysicalDrive", disk), {first, second}, static_cast<std::uint32_t>(disk),
                used[disk]++ ? second : first);
    }
    ScopedPlatform scope(fake);
    TKyvex_Storage storage;
    storage.CollectData();
    ASSERT_EQ(storage.PhysicalCount(), 2);
    ASSERT_EQ(storage.LogicalCount(), static_cast<int>(c.holder.size()));
    for (std::size_t i = 0; i < c.holder.size(); ++i)
      EXPECT_EQ(storage.LogicalDevices()[i].PHYSIndex, c.holder[i]) << c.letters[i];
    EXPECT_EQ(storage.PhysicalDevices()[0].SerialNumber, "ZC1A");
    EXPECT_EQ(storage.PhysicalDevices()[1].SerialNumber, "ZC1B");
    EXPECT_EQ(storage.PhysicalDevices()[1].HaId, 1);
  }
}

// Without a location on one side, the model still tells.
TEST(StorageRefresh, ModelLinksWhereALocationIsMissing) {
  TDeviceInfo located, unlocated;
  located.Model = unlocated.Model = "Virtio block device";
  located.LocationAvailable = true;
  located.HaId = 3;
  EXPECT_TRUE(DevicesMatch(located, unlocated, false));
  TDeviceInfo elsewhere = located;
  elsewhere.HaId = 4;
  EXPECT_FALSE(DevicesMatch(located, elsewhere, false));
  elsewhere.HaId = 3;
  elsewhere.Model = "Other";
  EXPECT_TRUE(DevicesMatch(located, elsewhere, true));
}

TEST(StorageRefresh, NoVolumeExtentNoLayoutEntry) {
  FakePlatform fake;
  auto& dev = fake.devices;
  // A partition at offset 0 (a superfloppy) and a failing extent request: the zeroed extent
  // block must not pass for a match.
  dev.Reply(Letter('C'), devio::kStorageQueryProperty, Property("", "Superfloppy", "", "", devio::kBusUsb));
  dev.Reply(Letter('C'), devio::kDiskGetDriveLayout, devio::DriveLayout{0, {Partition(0, 100, 0x06, 1)}}.Encode());
  dev.driveLetters = "C";
  ScopedPlatform scope(fake);
  TKyvex_Storage storage;
  storage.CollectData();
  ASSERT_EQ(storage.LogicalCount(), 1);
  EXPECT_TRUE(storage.LogicalDevices()[0].Layout.empty());
  EXPECT_EQ(storage.PhysicalCount(), 1);  // adopted
}

TEST(StorageRefresh, WithoutAdministratorRightsOnlyTheQueryRouteAnswers) {
  Workstation m;
  for (const char* path : {"\\\\.\\PhysicalDrive0", "\\\\.\\PhysicalDrive1", "\\\\.\\PhysicalDrive2", "\\\\.\\Cdrom0",
                           "\\\\.\\Tape0", "\\\\.\\C:", "\\\\.\\D:", "\\\\.\\E:", "\\\\.\\F:"})
    m.dev.Device(path).opensReadWrite = false;
  ScopedPlatform scope(m.fake);
  TKyvex_Storage storage;
  storage.CollectData();
  // Disk, DVD and tape by their paths; the stick and F (whose layout needs read access)
  // adopted.
  EXPECT_EQ(storage.PhysicalCount(), 5);
  for (const auto& d : storage.PhysicalDevices()) {
    EXPECT_FALSE(d.ExtraInfoAvailable);
    EXPECT_TRUE(d.SMARTAttributes.empty());
    EXPECT_TRUE(d.VendorStr.empty());
  }
  EXPECT_EQ(storage.PhysicalDevices()[0].Model, "WDC WD5000AAKS-00TMA0");
  EXPECT_EQ(storage.LogicalCount(), 4);
  EXPECT_EQ(storage.LogicalDevices()[3].PHYSIndex, 4);
}

TEST(StorageRefresh, MiniportOnlyWhenNoDevicePathAnswered) {
  FakePlatform fake;
  auto& dev = fake.devices;
  const Block identify = IdentifyBuilder::Disk("IBM-DTLA-307030", "YKDYKT1").b;
  dev.MiniportReply("\\\\.\\Scsi0:", 0, identify);
  dev.Device(Path("PhysicalDrive", 0)).opensQueryOnly = false;
  AddSmart(dev, Path("PhysicalDrive", 0), 0x01, identify, SmartData({{194, 100, 100, 33}}));
  ScopedPlatform scope(fake);
  TKyvex_Storage storage;
  storage.CollectData();
  ASSERT_EQ(storage.PhysicalCount(), 1);  // SMART identify found the same model and serial
  EXPECT_EQ(storage.PhysicalDevices()[0].Model, "IBM-DTLA-307030");
  EXPECT_EQ(storage.PhysicalDevices()[0].Temperature, 33);

  // With a disk path answering, the miniport is not asked.
  FakePlatform other;
  AddDisk(other.devices, Path("PhysicalDrive", 0), "X", "X", "1", 0, 10);
  other.devices.MiniportReply("\\\\.\\Scsi0:", 0, identify);
  ScopedPlatform scope2(other);
  storage.CollectData();
  EXPECT_EQ(storage.PhysicalCount(), 1);
  EXPECT_TRUE(other.devices.CallsOf(devio::kScsiMiniport).empty());
}

TEST(StorageRefresh, SmartRecordOfAKnownDeviceAddsNoRecord) {
  // Two SMART records name the same model and serial; the second carries identify data, so
  // it merges into the first, filling only what was empty.
  FakePlatform fake;
  auto& dev = fake.devices;
  const Block identify = IdentifyBuilder::Disk("Maxtor 6Y080L0", "Y2P0").b;
  for (int n : {0, 1}) {
    dev.Device(Path("PhysicalDrive", n)).opensQueryOnly = false;
    AddSmart(dev, Path("PhysicalDrive", n), static_cast<std::uint8_t>(1 << n), identify,
             SmartData({{194, 100, 100, static_cast<std::uint8_t>(30 + n)}}));
  }
  ScopedPlatform scope(fake);
  TKyvex_Storage storage;
  storage.CollectData();
  ASSERT_EQ(storage.PhysicalCount(), 1);
  EXPECT_EQ(storage.PhysicalDevices()[0].Temperature, 30);
  EXPECT_EQ(storage.PhysicalDevices()[0].Device, 0u);
}

// An NVMe disk on Windows 10: the storage driver gives its descriptor (the serial number as
// the EUI-64 the driver makes of it) and, through the protocol-specific query, the
// controller's identify data, the namespace's and the health log (tests/data/storage/nvme).
// The controller's own texts win; an older system whose driver knows no protocol query
// leaves the descriptor's record as it was, without health.
TEST(StorageRefresh, NvmeDiskThroughTheProtocolSpecificQuery) {
  for (bool protocolQuery : {true, false}) {
    SCOPED_TRACE(protocolQuery ? "Windows 10" : "older driver");
    FakePlatform fake;
    platform::FakeDevice& dev = fake.devices;
    const std::string pd0 = Path("PhysicalDrive", 0);
    auto page = [&](std::uint32_t property, std::uint32_t type, std::uint32_t value, const std::string& file) {
      platform::FakeIoRule rule;
      rule.code = devio::kStorageQueryProperty;
      rule.accepts = [=](devio::BlockView in) {
        const auto q = devio::ProtocolQuery::Decode(in);
        return q && q->propertyId == property && q->data.protocolType == devio::ProtocolSpecificData::kProtocolNvme &&
               q->data.dataType == type && q->data.requestValue == value && q->data.requestSubValue == 0;
      };
      devio::ProtocolDataDescriptor reply;
      reply.data = devio::ProtocolQuery::Decode(devio::ProtocolQuery{}.Encode())->data;
      reply.data.protocolType = devio::ProtocolSpecificData::kProtocolNvme;
      reply.data.dataType = type;
      reply.data.requestValue = value;
      reply.payload = ReadData("nvme/" + file);
      rule.reply.data = reply.Encode();
      if (protocolQuery) dev.Device(pd0).rules.push_back(rule);
    };
    page(devio::ProtocolQuery::kAdapterProperty, devio::ProtocolSpecificData::kNvmeIdentify, 1, "pm981.id-ctrl.bin");
    page(devio::ProtocolQuery::kDeviceProperty, devio::ProtocolSpecificData::kNvmeIdentify, 0, "pm981.id-ns.bin");
    page(devio::ProtocolQuery::kDeviceProperty, devio::ProtocolSpecificData::kNvmeLogPage, 2, "pm981.smart-log.bin");
    {
      // Get Features, Power Management: the controller is in PS3; the value comes back in the
      // protocol data, with no data behind it.
      platform::FakeIoRule rule;
      rule.code = devio::kStorageQueryProperty;
      rule.accepts = [](devio::BlockView in) {
        const auto q = devio::ProtocolQuery::Decode(in);
        return q && q->propertyId == devio::ProtocolQuery::kAdapterProperty &&
               q->data.dataType == devio::ProtocolSpecificData::kNvmeFeature && q->data.requestValue == 0x02;
      };
      devio::ProtocolDataDescriptor reply;
      reply.data.protocolType = devio::ProtocolSpecificData::kProtocolNvme;
      reply.data.dataType = devio::ProtocolSpecificData::kNvmeFeature;
      reply.data.requestValue = 0x02;
      reply.data.fixedReturnData = 0x03;
      rule.reply.data = reply.Encode();
      if (protocolQuery) dev.Device(pd0).rules.push_back(rule);
    }
    // Every other query (the device descriptor) is answered with the descriptor.
    dev.Reply(pd0, devio::kStorageQueryProperty,
              Property("NVMe", "SAMSUNG MZVLB512", "5M2Q", "0025_3884_B91B_04D1.", devio::kBusNvme));
    dev.Reply(pd0, devio::kScsiGetAddress, devio::ScsiAddress{1, 0, 0, 0}.Encode());
    dev.Reply(pd0, devio::kDiskGetDriveGeometry, Geometry(62260));
    dev.Reply(pd0, devio::kStorageGetMediaTypesEx, DiskMediaTypes());
    ScopedPlatform scope(fake);
    TKyvex_Storage storage;
    storage.CollectData();
    ASSERT_EQ(storage.PhysicalCount(), 1);
    const TDeviceInfo& disk = storage.PhysicalDevices()[0];
    EXPECT_EQ(disk.BusType, devio::kBusNvme);
    if (!protocolQuery) {
      EXPECT_EQ(disk.Model, "SAMSUNG MZVLB512");
      EXPECT_EQ(disk.SerialNumber, "0025_3884_B91B_04D1.");
      EXPECT_EQ(disk.Size, 62260LL * 255 * 63 * 512);
      EXPECT_FALSE(disk.Health.Available);
      EXPECT_FALSE(disk.SMARTSupport);
      // The device descriptor that answers the feature query is no protocol data.
      EXPECT_FALSE(disk.Power.Available);
      continue;
    }
    EXPECT_EQ(disk.Model, "SAMSUNG MZVLB512HBJQ-000L7");
    EXPECT_EQ(disk.SerialNumber, "S4ENNX0N123456");
    EXPECT_EQ(disk.Revision, "5M2QEXF7");
    EXPECT_EQ(disk.Size, 1000215216LL * 512);
    EXPECT_TRUE(disk.SMARTSupport && disk.SMARTActive && disk.ExtraInfoAvailable);
    EXPECT_EQ(disk.Temperature, 37);
    EXPECT_EQ(disk.Health, (TNvmeHealth{true, 0, 100, 10, 3, 5123, 47, 0}));
    EXPECT_EQ(disk.Power, (TNvmePowerState{true, 3, 5, true, 35000}));
    // The queries went out on a handle opened with access rights, in the form the storage
    // driver takes: the protocol data right behind the query header, room for a whole page;
    // the feature's query names no data.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> asked;  // property, data length
    for (const auto& call : dev.CallsOf(devio::kStorageQueryProperty)) {
      const auto q = devio::ProtocolQuery::Decode(call.input);
      if (!q || !devio::ProtocolQuery::IsProtocolProperty(q->propertyId)) continue;
      EXPECT_EQ(q->data.dataOffset, q->data.dataLength ? devio::ProtocolSpecificData::kSize : 0u);
      EXPECT_EQ(call.input.size(), devio::ProtocolQuery::kHeaderSize + q->data.dataLength);
      EXPECT_GE(call.outSize, call.input.size());
      asked.emplace_back(q->propertyId, q->data.dataLength);
    }
    EXPECT_EQ(asked, (std::vector<std::pair<std::uint32_t, std::uint32_t>>{{49, 4096}, {49, 0}, {50, 4096}, {50, 512}}));
  }
}

TEST(StorageRefresh, Win9xUsesPortsThenTheSmartDriver) {
  FakePlatform fake;
  fake.version.dwPlatformId = platform::kPlatformWin32Windows;
  fake.version.dwMajorVersion = 4;
  fake.version.dwMinorVersion = 90;
  auto& dev = fake.devices;
  dev.ldt = std::vector<devio::Descriptor>(4);
  platform::FakeAtaDrive disk, cd;
  disk.identify = IdentifyBuilder::Disk("Maxtor 6Y080L0", "Y2P0").b;
  cd.packet = true;
  cd.identify = IdentifyBuilder{}.Word(0, 0x8580).Model("LITE-ON LTR-52327S").b;
  dev.ataChannels[0x1F0] = {disk, cd};
  // The SMART driver knows the secondary master, which the ports cannot reach here.
  dev.SmartReply("\\\\.\\SMARTVSD", 0xEC, std::nullopt, IdentifyBuilder::Disk("QUANTUM FIREBALL", "Q1").b, 0, 2);
  dev.SmartReply("\\\\.\\SMARTVSD", 0xEC, std::nullopt, Block{}, 10);
  dev.driveLetters = "C";
  ScopedPlatform scope(fake);
  TKyvex_Storage storage;
  storage.CollectData();
  ASSERT_EQ(storage.PhysicalCount(), 3);
  EXPECT_EQ(storage.LogicalCount(), 0);
  EXPECT_EQ(storage.PhysicalDevices()[0].Model, "6Y080L0");
  EXPECT_EQ(storage.PhysicalDevices()[1].Model, "LTR-52327S");
  EXPECT_EQ(storage.PhysicalDevices()[2].Model, "FIREBALL");
  EXPECT_EQ(storage.PhysicalDevices()[2].Device, 2u);
  EXPECT_TRUE(dev.opens.size() > 0);
  for (const auto& open : dev.opens) EXPECT_EQ(open.path, "\\\\.\\SMARTVSD");
}

TEST(StorageRefresh, Win9xInsideAVirtualMachineTouchesNoPort) {
  FakePlatform fake;
  fake.version.dwPlatformId = platform::kPlatformWin32Windows;
  fake.version.dwMajorVersion = 4;
  fake.vmwareReply = platform::X86Registers{0, 0x564D5868, 0, 0};
  fake.devices.ldt = std::vector<devio::Descriptor>(4);
  fake.devices.SmartReply("\\\\.\\SMARTVSD", 0xEC, std::nullopt, IdentifyBuilder::Disk("VMware Virtual IDE", "00").b, 0, 0);
  ScopedPlatform scope(fake);
  TKyvex_Storage storage;
  storage.CollectData();
  ASSERT_EQ(storage.PhysicalCount(), 1);
  EXPECT_EQ(storage.PhysicalDevices()[0].Model, "Virtual IDE");
  EXPECT_EQ(fake.devices.portTransfers, 0);
}

TEST(StorageAccessors, CopiesAndResetRecords) {
  Workstation m;
  ScopedPlatform scope(m.fake);
  TKyvex_Storage storage;
  TDeviceInfo info;
  storage.GetPhysicalDevice(0, info);
  EXPECT_EQ(info, TDeviceInfo{});  // nothing collected yet

  storage.CollectData();
  for (int bad : {-1, storage.PhysicalCount()}) {
    info.Model = "stale";
    storage.GetPhysicalDevice(bad, info);
    EXPECT_EQ(info, TDeviceInfo{});
  }
  storage.GetPhysicalDevice(3, info);
  ASSERT_EQ(info.Layout.size(), 1u);
  info.Layout.clear();
  info.SMARTAttributes.clear();
  EXPECT_EQ(storage.PhysicalDevices()[3].Layout.size(), 1u);
  EXPECT_FALSE(storage.PhysicalDevices()[3].SMARTAttributes.empty());

  storage.GetLogicalDevice(1, info);
  EXPECT_EQ(info.Drive, 'D');
  storage.GetLogicalDevice(storage.LogicalCount(), info);
  EXPECT_EQ(info, TDeviceInfo{});
}

TEST(StorageMerge, FillsOnlyEmptyParts) {
  TDeviceInfo target, source;
  source.Removable = true;
  source.DeviceType = 7;
  source.SerialNumber = "S";
  source.LocationAvailable = true;
  source.HaId = 1, source.Target = 2, source.Lun = 3, source.PathID = 4;
  source.ExtraInfoAvailable = true;
  source.ATAVersion = 7, source.CtlBufSize = 8192, source.ECCCode = 4, source.SMARTSupport = true;
  source.SMARTAttributes.resize(2);
  source.Temperature = 40;
  source.Model = "M";
  source.Size = 100;
  source.Layout.resize(1);
  source.Read_CDR = true;

  target.DeviceType = kDeviceTypeUnknown;
  target.SerialNumber = "  ";
  MergeDeviceInfo(target, source);
  EXPECT_TRUE(target.Removable);
  EXPECT_EQ(target.DeviceType, 7u);
  EXPECT_EQ(target.SerialNumber, "S");
  EXPECT_EQ(std::vector<int>({target.HaId, target.Target, target.Lun, target.PathID}), std::vector<int>({1, 2, 3, 4}));
  EXPECT_EQ(target.ATAVersion, 7);
  EXPECT_EQ(target.CtlBufSize, 8192u);
  EXPECT_EQ(target.SMARTAttributes.size(), 2u);
  EXPECT_EQ(target.Temperature, 40);
  // Never merged: names, sizes, layout, optical abilities.
  EXPECT_TRUE(target.Model.empty());
  EXPECT_EQ(target.Size, 0);
  EXPECT_TRUE(target.Layout.empty());
  EXPECT_FALSE(target.Read_CDR);

  TDeviceInfo full = source;
  full.DeviceType = 0;  // known, though 0: only the unknown type 34 is replaced
  full.SerialNumber = "OWN";
  full.HaId = 9;
  full.ATAVersion = 5;
  full.Temperature = 30;
  TDeviceInfo other = source;
  other.DeviceType = 2;
  MergeDeviceInfo(full, other);
  EXPECT_EQ(full.DeviceType, 0u);
  EXPECT_EQ(full.SerialNumber, "OWN");
  EXPECT_EQ(full.HaId, 9);
  EXPECT_EQ(full.ATAVersion, 5);
  EXPECT_EQ(full.Temperature, 30);
}

TEST(StorageMerge, MatchingRule) {
  TDeviceInfo a, b;
  a.Model = " WDC WD5000AAKS-00TMA0 ";
  b.Model = "wdcwd5000aaks-00tma0";
  a.SerialNumber = "WD-1";
  b.SerialNumber = "wd-1\r\n";
  EXPECT_TRUE(DevicesMatch(a, b, false));
  EXPECT_TRUE(DevicesMatch(a, b, true));
  b.SerialNumber = "WD-2";
  EXPECT_FALSE(DevicesMatch(a, b, true));
  EXPECT_TRUE(DevicesMatch(a, b, false));

  b.Model = "other";
  a.LocationAvailable = b.LocationAvailable = true;
  a.HaId = b.HaId = 1;
  a.Target = b.Target = 2;
  a.PathID = 0;
  b.PathID = 5;  // the path is not compared
  EXPECT_TRUE(DevicesMatch(a, b, true));
  b.Lun = 1;
  EXPECT_FALSE(DevicesMatch(a, b, false));
  b.LocationAvailable = false;
  b.Lun = 0;
  EXPECT_FALSE(DevicesMatch(a, b, false));
}

}  // namespace
