// The Linux device layer over a recorded machine: a sysfs, procfs and /dev tree built in a
// temporary folder (SATA disk with partitions, virtio disk, NVMe namespace, optical and tape
// drives, loop and zram devices, a mount table), and the partition-table reader over images.
#ifdef __linux__

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "platform/linux/LinuxDevice.h"
#include "platform/linux/LinuxPlatform.h"
#include "storage/KSI_Storage.h"
#include "unit/storage/LinuxMachineSupport.h"
#include "unit/storage/StorageTestSupport.h"

using namespace kyvex;
using namespace storage_test;
namespace fs = std::filesystem;
using platform::LinuxPlatform;
using platform::ScopedPlatform;
using platform::linuxdev::ReadPartitionTable;

namespace {

// --- Disk images --------------------------------------------------------------------------------

struct Image {
  std::vector<std::uint8_t> bytes;
  explicit Image(std::size_t sectors) : bytes(sectors * 512, 0) {}
  std::uint8_t* Sector(std::uint64_t lba) { return &bytes[lba * 512]; }
  // One 16-byte slot of the partition record at `lba`.
  void Slot(std::uint64_t lba, int slot, std::uint8_t type, std::uint32_t start, std::uint32_t count, bool boot = false) {
    std::uint8_t* s = Sector(lba);
    std::uint8_t* e = s + 446 + 16 * slot;
    e[0] = boot ? 0x80 : 0;
    e[4] = type;
    devio::Put32(e + 8, start);
    devio::Put32(e + 12, count);
    s[510] = 0x55;
    s[511] = 0xAA;
  }
  platform::linuxdev::DiskReader Reader() {
    return [this](std::uint64_t offset, std::uint32_t size, std::uint8_t* out) {
      if (offset + size > bytes.size()) return false;
      std::memcpy(out, &bytes[offset], size);
      return true;
    };
  }
};

// A primary partition, an extended one holding two logical drives, and a signature.
Image MbrImage() {
  Image img(32768);  // 16 MiB
  devio::Put32(img.Sector(0) + 440, 0xA1B2C3D4);
  img.Slot(0, 0, 0x83, 2048, 20480, true);
  img.Slot(0, 1, 0x05, 22528, 8000);
  img.Slot(22528, 0, 0x07, 2048, 1000);
  img.Slot(22528, 1, 0x05, 4000, 4000);  // link to the next record, relative to the extended partition
  img.Slot(26528, 0, 0x82, 2048, 1000);
  return img;
}

struct GptPart {
  const char* typeGuid;  // as stored: mixed-endian bytes written from the text
  std::uint64_t first, last;
};

void PutGuid(std::uint8_t* p, const std::string& text) {
  auto hex = [&](std::size_t at) { return static_cast<std::uint8_t>(std::stoi(text.substr(at, 2), nullptr, 16)); };
  const std::uint32_t a = static_cast<std::uint32_t>(std::stoul(text.substr(0, 8), nullptr, 16));
  devio::Put32(p, a);
  devio::Put16(p + 4, static_cast<std::uint16_t>(std::stoul(text.substr(9, 4), nullptr, 16)));
  devio::Put16(p + 6, static_cast<std::uint16_t>(std::stoul(text.substr(14, 4), nullptr, 16)));
  p[8] = hex(19);
  p[9] = hex(21);
  for (int i = 0; i < 6; ++i) p[10 + i] = hex(24 + 2 * static_cast<std::size_t>(i));
}

// A GPT disk: protective MBR, primary header at LBA 1 with 128 entries from LBA 2, backup
// header on the last sector with its entries before it.
Image GptImage(const std::vector<GptPart>& parts) {
  const std::uint64_t sectors = 8192;  // 4 MiB
  Image img(sectors);
  img.Slot(0, 0, 0xEE, 1, static_cast<std::uint32_t>(sectors - 1));
  std::vector<std::uint8_t> entries(128 * 128, 0);
  for (std::size_t i = 0; i < parts.size(); ++i) {
    std::uint8_t* e = &entries[i * 128];
    PutGuid(e, parts[i].typeGuid);
    e[16] = static_cast<std::uint8_t>(i + 1);  // a unique GUID
    devio::Put64(e + 32, parts[i].first);
    devio::Put64(e + 40, parts[i].last);
  }
  auto header = [&](std::uint64_t self, std::uint64_t other, std::uint64_t entriesLba) {
    std::uint8_t* h = img.Sector(self);
    std::memcpy(h, "EFI PART", 8);
    devio::Put32(h + 8, 0x00010000);
    devio::Put32(h + 12, 92);
    devio::Put64(h + 24, self);
    devio::Put64(h + 32, other);
    devio::Put64(h + 40, 34);
    devio::Put64(h + 48, sectors - 34);
    devio::Put64(h + 72, entriesLba);
    devio::Put32(h + 80, 128);
    devio::Put32(h + 84, 128);
    devio::Put32(h + 88, platform::linuxdev::Crc32(entries.data(), entries.size()));
    devio::Put32(h + 16, platform::linuxdev::Crc32(h, 92));
    std::memcpy(img.Sector(entriesLba), entries.data(), entries.size());
  };
  header(1, sectors - 1, 2);
  header(sectors - 1, 1, sectors - 33);
  return img;
}

constexpr const char* kLinuxFs = "0FC63DAF-8483-4772-8E79-3D69D8477DE4";
constexpr const char* kEfi = "C12A7328-F81F-11D2-BA4B-00A0C93EC93B";
constexpr const char* kBasicData = "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7";
constexpr const char* kUnknown = "12345678-9ABC-DEF0-1234-56789ABCDEF0";

TEST(PartitionTable, MbrWithAnExtendedChainInLegacyOrder) {
  Image img = MbrImage();
  const auto t = ReadPartitionTable(img.Reader(), img.bytes.size(), 512);
  ASSERT_TRUE(t.found);
  EXPECT_FALSE(t.gpt);
  EXPECT_EQ(t.signature, 0xA1B2C3D4u);
  // Four slots of the master record, then four of each extended record.
  ASSERT_EQ(t.entries.size(), 12u);
  struct Want {
    std::size_t index;
    std::uint8_t type;
    std::int64_t start, length;
    std::uint32_t hidden, number;
  } want[] = {
      {0, 0x83, 2048LL * 512, 20480LL * 512, 2048, 1},
      {1, 0x05, 22528LL * 512, 8000LL * 512, 22528, 0},
      {4, 0x07, (22528LL + 2048) * 512, 1000LL * 512, 2048, 5},
      {5, 0x05, (22528LL + 4000) * 512, 4000LL * 512, 4000, 0},
      {8, 0x82, (26528LL + 2048) * 512, 1000LL * 512, 2048, 6},
  };
  for (const auto& w : want) {
    SCOPED_TRACE(w.index);
    const auto& e = t.entries[w.index];
    EXPECT_EQ(e.Typ, w.type);
    EXPECT_EQ(e.StartingOffset, w.start);
    EXPECT_EQ(e.Length, w.length);
    EXPECT_EQ(e.HiddenSectors, w.hidden);
    EXPECT_EQ(e.Number, w.number);
  }
  EXPECT_TRUE(t.entries[0].BootIndicator);
  EXPECT_TRUE(t.entries[4].Recognized);
  EXPECT_FALSE(t.entries[0].Recognized);
  EXPECT_EQ(t.entries[2].Typ, 0);
  EXPECT_EQ(t.entries[2].StartingOffset, 0);
}

TEST(PartitionTable, HostileRecordsEndTheChain) {
  Image loop = MbrImage();
  loop.Slot(26528, 1, 0x05, 0, 1);      // a link back to the first extended record
  Image beyond = MbrImage();
  beyond.Slot(26528, 1, 0x0F, 0xFFFFFF00u, 10);  // a link past the disk's end
  Image unsigned_ = MbrImage();
  unsigned_.Sector(26528)[510] = 0;     // the second record has no signature
  for (Image* img : {&loop, &beyond, &unsigned_}) {
    const auto t = ReadPartitionTable(img->Reader(), img->bytes.size(), 512);
    EXPECT_TRUE(t.found);
    EXPECT_LE(t.entries.size(), 12u);
    EXPECT_GE(t.entries.size(), 8u);
  }
  Image blank(100);
  EXPECT_FALSE(ReadPartitionTable(blank.Reader(), blank.bytes.size(), 512).found);
  EXPECT_FALSE(ReadPartitionTable(blank.Reader(), 100, 512).found);
}

TEST(PartitionTable, GptEntriesWithTheirMbrTypes) {
  Image img = GptImage({{kEfi, 40, 2047}, {kLinuxFs, 2048, 4095}, {kBasicData, 4096, 6143}, {kUnknown, 6144, 8000}});
  const auto t = ReadPartitionTable(img.Reader(), img.bytes.size(), 512);
  ASSERT_TRUE(t.gpt);
  ASSERT_EQ(t.entries.size(), 4u);
  EXPECT_EQ(t.entries[0].Typ, 0xEF);
  EXPECT_EQ(t.entries[1].Typ, 0x83);
  EXPECT_EQ(t.entries[2].Typ, 0x07);
  EXPECT_TRUE(t.entries[2].Recognized);
  EXPECT_EQ(t.entries[3].Typ, 0xEE);
  EXPECT_EQ(t.entries[0].StartingOffset, 40LL * 512);
  EXPECT_EQ(t.entries[0].Length, 2008LL * 512);
  EXPECT_EQ(t.entries[1].Number, 2u);
}

TEST(PartitionTable, DamagedPrimaryGptFallsBackToTheBackup) {
  Image img = GptImage({{kLinuxFs, 2048, 4095}});
  img.Sector(1)[17] ^= 0xFF;  // the primary header's checksum
  auto t = ReadPartitionTable(img.Reader(), img.bytes.size(), 512);
  ASSERT_TRUE(t.gpt);
  EXPECT_EQ(t.entries.size(), 1u);

  img.Sector(8191)[30] ^= 0xFF;  // the backup's own address
  t = ReadPartitionTable(img.Reader(), img.bytes.size(), 512);
  EXPECT_FALSE(t.gpt);
  ASSERT_EQ(t.entries.size(), 4u);  // the protective record itself
  EXPECT_EQ(t.entries[0].Typ, 0xEE);

  Image badEntries = GptImage({{kLinuxFs, 2048, 4095}});
  badEntries.Sector(2)[40] ^= 1;
  badEntries.Sector(8191 - 32)[40] ^= 1;
  EXPECT_FALSE(ReadPartitionTable(badEntries.Reader(), badEntries.bytes.size(), 512).gpt);
}

TEST(PartitionTable, RandomBytesNeverEscapeTheDisk) {
  std::mt19937 rng(7);
  for (int round = 0; round < 100; ++round) {
    Image img(64);
    for (auto& b : img.bytes) b = static_cast<std::uint8_t>(rng());
    img.Slot(0, round % 4, round % 2 ? 0xEE : 0x05, rng() % 128, rng());
    std::memcpy(img.Sector(1), "EFI PART", 8);
    const auto t = ReadPartitionTable(img.Reader(), img.bytes.size(), 512);
    EXPECT_LE(t.entries.size(), 4u + 4u * 257u);
  }
}

// --- The layer over a recorded machine -------------------------------------------------------------

using linux_machine::Recorder;
using linux_machine::ScsiReply;
using linux_machine::Tree;

void Block_(Tree& t, const std::string& parent, const std::string& name, const std::string& size, bool removable,
            const std::string& deviceLink) {
  linux_machine::BlockDevice(t, parent, name, size, removable, deviceLink);
}

struct Machine {
  Tree tree;
  const std::string sata = "sys/devices/pci0000:00/0000:00:1f.2/ata1/host0/target0:0:0/0:0:0:0";
  const std::string dvd = "sys/devices/pci0000:00/0000:00:1f.2/ata2/host1/target1:0:0/1:0:0:0";
  const std::string tape = "sys/devices/pci0000:00/0000:00:1e.0/host2/target2:0:3/2:0:3:0";
  const std::string virtio = "sys/devices/pci0000:00/0000:00:02.0/virtio1";
  const std::string nvme = "sys/devices/pci0000:00/0000:00:04.0/nvme/nvme0";

  Machine() {
    Tree& t = tree;
    t.File(sata + "/vendor", "ATA     \n");
    t.File(sata + "/model", "WDC WD5000AAKS-0\n");
    t.File(sata + "/rev", "1C01\n");
    t.File(sata + "/type", "0\n");
    t.File(sata + "/vpd_pg80", std::string("\0\x80\0\x0F", 4) + "WD-WCAPW0493929");
    Block_(t, sata, "sda", "976773168", false, "../..");
    for (auto [name, start, size] : {std::tuple{"sda1", "2048", "204800"}, std::tuple{"sda2", "206848", "40000"}}) {
      const std::string dir = sata + "/block/sda/" + name;
      t.File(dir + "/partition", "1\n");
      t.File(dir + "/start", std::string(start) + "\n");
      t.File(dir + "/size", std::string(size) + "\n");
      t.Link(std::string("sys/class/block/") + name, "../../" + dir.substr(4));
    }
    t.File("sys/class/ata_link/link1/sata_spd", "3.0 Gbps\n");

    t.File(dvd + "/vendor", "HL-DT-ST\n");
    t.File(dvd + "/model", "DVDRAM GH24NSD1 \n");
    t.File(dvd + "/rev", "LG00\n");
    t.File(dvd + "/type", "5\n");
    Block_(t, dvd, "sr0", "0", true, "../..");

    t.File(tape + "/vendor", "EXABYTE \n");
    t.File(tape + "/model", "EXB-89008E00012F\n");
    t.File(tape + "/rev", "V41b\n");
    t.File(tape + "/type", "1\n");
    t.Link("sys/class/scsi_tape/st0/device", "../../../" + tape.substr(4));

    t.File(virtio + "/vendor", "0x1af4\n");
    t.File(virtio + "/device", "0x0002\n");
    Block_(t, virtio, "vda", "536870912", false, "../..");
    t.File(virtio + "/block/vda/serial", "overlayblk");

    t.File(nvme + "/model", "Samsung SSD 980 PRO 1TB                 \n");
    t.File(nvme + "/serial", "S5GXNF0R123456      \n");
    t.File(nvme + "/firmware_rev", "5B2QGXA7\n");
    Block_(t, nvme, "nvme0n1", "1953525168", false, "../..");
    Block_(t, nvme, "nvme0c0n1", "1953525168", false, "../..");
    t.File(nvme + "/block/nvme0c0n1/hidden", "1\n");

    Block_(t, "sys/devices/virtual", "loop0", "262144", false, "");
    t.File("sys/devices/virtual/block/loop0/loop/backing_file", "/tmp/disk.img\n");
    Block_(t, "sys/devices/virtual", "loop1", "0", false, "");
    Block_(t, "sys/devices/virtual", "zram0", "8388608", false, "");

    t.File("proc/self/mounts",
           "/dev/sda1 /boot ext4 rw 0 0\n"
           "/dev/vda / ext4 rw,relatime 0 0\n"
           "overlay /var/lib/docker overlay rw 0 0\n"
           "/dev/sda1 /mnt/again ext4 rw 0 0\n"
           "/dev/loop0 /snap/core squashfs ro 0 0\n"
           "/dev/zram0 /tmp zram rw 0 0\n"
           "/dev/sda2 /home\\040data ext4 rw 0 0\n");
    t.File("proc/sys/dev/cdrom/info",
           "CD-ROM information, Id: cdrom.c 3.20 2003/12/17\n\n"
           "drive name:\t\tsr0\ndrive speed:\t\t48\nCan write CD-R:\t\t1\nCan write CD-RW:\t1\n"
           "Can read DVD:\t\t1\nCan write DVD-R:\t1\nCan write DVD-RAM:\t1\n\n");
    // The SATA disk's node is an image file here; the others have no node (as on a machine
    // whose nodes cannot be opened).
    tree.Bytes("dev/sda", MbrImage().bytes);
  }
};

TEST(LinuxDevices, PathsLettersAndNodes) {
  Machine m;
  LinuxPlatform layer(m.tree.Root());
  auto& dev = layer.Devices();
  struct Case {
    const char* path;
    const char* node;
  } cases[] = {
      {"\\\\.\\PhysicalDrive0", "/dev/nvme0n1"}, {"\\\\.\\PHYSICALDRIVE1", "/dev/sda"},
      {"\\\\.\\PhysicalDrive2", "/dev/vda"}, {"\\\\.\\PhysicalDrive3", ""},
      {"\\\\.\\Cdrom0", "/dev/sr0"}, {"\\\\.\\Cdrom1", ""}, {"\\\\.\\Tape0", "/dev/nst0"},
      {"\\\\.\\C:", "/dev/vda"}, {"\\\\.\\D:", "/dev/sda1"}, {"\\\\.\\e:", "/dev/sda2"}, {"\\\\.\\F:", ""},
      {"\\\\.\\Scsi0:", ""}, {"\\\\.\\SMARTVSD", ""}, {"C:\\", ""}, {"\\\\.\\PhysicalDrive00000001", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(platform::LinuxDeviceNode(dev, c.path), c.node) << c.path;

  char buffer[64];
  ASSERT_EQ(dev.GetLogicalDriveStrings(sizeof buffer, buffer), 12u);
  EXPECT_EQ(std::string(buffer, 13), std::string("C:\\\0D:\\\0E:\\\0\0", 13));
  EXPECT_EQ(dev.GetLogicalDriveStrings(5, buffer), 13u);
  EXPECT_EQ(dev.GetDriveType("C:\\"), devio::kDriveFixed);
  EXPECT_EQ(dev.GetDriveType("Q:\\"), devio::kDriveNoRootDir);

  // Loop devices with a file behind them, when asked for: a physical drive after the real
  // disks, and a drive letter in mount order.
  platform::SetLinuxDeviceOptions(dev, {true});
  EXPECT_EQ(platform::LinuxDeviceNode(dev, "\\\\.\\PhysicalDrive3"), "/dev/loop0");
  EXPECT_EQ(platform::LinuxDeviceNode(dev, "\\\\.\\PhysicalDrive4"), "");  // loop1 has no file
  EXPECT_EQ(platform::LinuxDeviceNode(dev, "\\\\.\\E:"), "/dev/loop0");
  EXPECT_EQ(platform::LinuxDeviceNode(dev, "\\\\.\\F:"), "/dev/sda2");
}

TEST(LinuxDevices, QueryOnlyOpensAnswerFromSysfs) {
  Machine m;
  LinuxPlatform layer(m.tree.Root());
  ScopedPlatform scope(layer);
  struct Case {
    const char* path;
    const char* vendor;
    const char* model;
    const char* revision;
    const char* serial;
    std::uint32_t bus, deviceType;
    bool removable, location;
    std::int64_t size;
  } cases[] = {
      {"\\\\.\\PhysicalDrive0", "", "Samsung SSD 980 PRO 1TB", "5B2QGXA7", "S5GXNF0R123456", devio::kBusNvme, 7, false,
       true, 121601LL * 255 * 63 * 512},
      {"\\\\.\\PhysicalDrive1", "ATA", "WDC WD5000AAKS-0", "1C01", "WD-WCAPW0493929", devio::kBusSata, 7, false, true,
       60801LL * 255 * 63 * 512},
      {"\\\\.\\PhysicalDrive2", "0x1af4", "Virtio block device", "", "overlayblk", devio::kBusVirtual, 7, false, true,
       33418LL * 255 * 63 * 512},
      // Alone, the property query's SCSI peripheral type comes before the media types.
      {"\\\\.\\Cdrom0", "HL-DT-ST", "DVDRAM GH24NSD1", "LG00", "", devio::kBusSata, 5, true, true, 0},
      {"\\\\.\\Tape0", "EXABYTE", "EXB-89008E00012F", "V41b", "", devio::kBusScsi, 1, true, true, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    TDeviceInfo info;
    ASSERT_TRUE(QueryStorageProperty(c.path, 0, info));
    EXPECT_EQ(info.Vendor, c.vendor);
    EXPECT_EQ(info.Model, c.model);
    EXPECT_EQ(info.Revision, c.revision);
    EXPECT_EQ(info.SerialNumber, c.serial);
    EXPECT_EQ(info.BusType, c.bus);
    EXPECT_EQ(info.DeviceType, c.deviceType);
    EXPECT_EQ(info.Removable, c.removable);
    EXPECT_EQ(info.LocationAvailable, c.location);
    EXPECT_EQ(info.Size, c.size);
    EXPECT_TRUE(info.SMARTAttributes.empty());
  }
  // Every disk has a location of its own: SCSI disks their host, channel, target and LUN;
  // NVMe namespaces and virtio disks one made from their kind and numbers.
  const struct {
    const char* path;
    std::vector<int> address;  // port, path, target, LUN
  } addresses[] = {
      {"\\\\.\\PhysicalDrive0", {0xF2, 0, 0, 1}},
      {"\\\\.\\PhysicalDrive1", {0, 0, 0, 0}},
      {"\\\\.\\PhysicalDrive2", {0xF0, 0, 0, 0}},
      {"\\\\.\\Cdrom0", {1, 0, 0, 0}},
  };
  for (const auto& a : addresses) {
    TDeviceInfo info;
    ASSERT_TRUE(QueryStorageProperty(a.path, 0, info));
    EXPECT_EQ(std::vector<int>({info.HaId, info.PathID, info.Target, info.Lun}), a.address) << a.path;
  }
  TDeviceInfo info;
  ASSERT_TRUE(QueryStorageProperty("\\\\.\\PhysicalDrive1", 0, info));
  EXPECT_EQ(info.MediaType, devio::kMediaFixed);

  // The disk's medium is there and writable.
  auto& dev = layer.Devices();
  const Handle q = dev.CreateFile("\\\\.\\PhysicalDrive1", 0, 3, 3, 0);
  std::uint8_t out[312];
  std::uint32_t n = 0;
  ASSERT_TRUE(dev.DeviceIoControl(q, devio::kStorageGetMediaTypesEx, nullptr, 0, out, sizeof out, n));
  const auto media = devio::MediaTypes::Decode(devio::BlockView(out, n));
  ASSERT_TRUE(media && media->media.size() == 1);
  EXPECT_EQ(media->media[0].characteristics, devio::kMediaCurrentlyMounted | devio::kMediaReadWrite);
  dev.CloseHandle(q);
}

TEST(LinuxDevices, ReadRequestsNeedAnOpenNode) {
  Machine m;
  LinuxPlatform layer(m.tree.Root());
  ScopedPlatform scope(layer);
  auto& dev = layer.Devices();

  // The disk's node opens (an image here): its partition table and size.
  const Handle h = OpenDevice("\\\\.\\PhysicalDrive1");
  ASSERT_NE(h, platform::kInvalidHandle);
  TDiskLayout layout;
  ASSERT_TRUE(GetDriveLayout(h, layout));
  std::vector<int> types;
  for (const auto& p : layout) types.push_back(p.Typ);
  EXPECT_EQ(types, (std::vector<int>{0x83, 0x05, 0x07, 0x05, 0x82}));
  EXPECT_EQ(layout[0].StartingOffset, 2048LL * 512);
  EXPECT_TRUE(layout[0].BootIndicator);
  TDiskGeometry g;
  ASSERT_TRUE(GetDriveGeometry(h, g));
  EXPECT_EQ(g.Cylinders, 2);  // 16 MiB in cylinders of 255 x 63 sectors
  EXPECT_EQ(g.TracksPerCylinder, 255u);
  // An image takes no SCSI commands; neither request fails the handle.
  TDeviceInfo info;
  EXPECT_FALSE(InquireBySCSIPassThrough(h, 0, info));
  EXPECT_FALSE(ReadSMARTAttributes(h, info));
  dev.CloseHandle(h);

  // Nodes that cannot be opened fail the open, as Windows does without rights.
  EXPECT_EQ(OpenDevice("\\\\.\\PhysicalDrive2"), platform::kInvalidHandle);
  EXPECT_EQ(dev.GetLastError(), platform::kErrorFileNotFound);

  // A query-only handle is refused what needs read access.
  const Handle q = dev.CreateFile("\\\\.\\PhysicalDrive1", 0, 3, 3, 0);
  ASSERT_NE(q, platform::kInvalidHandle);
  EXPECT_FALSE(GetDriveLayout(q, layout));
  EXPECT_EQ(dev.GetLastError(), platform::kErrorAccessDenied);
  dev.CloseHandle(q);
  EXPECT_FALSE(dev.CloseHandle(q));
}

TEST(LinuxDevices, VolumeExtentsAndTheirDisks) {
  Machine m;
  LinuxPlatform layer(m.tree.Root());
  ScopedPlatform scope(layer);
  auto& dev = layer.Devices();
  struct Case {
    const char* path;
    std::uint32_t disk;
    std::int64_t start, length;
  } cases[] = {
      {"\\\\.\\C:", 2, 0, 536870912LL * 512},
      {"\\\\.\\D:", 1, 2048LL * 512, 204800LL * 512},
      {"\\\\.\\E:", 1, 206848LL * 512, 40000LL * 512},
  };
  for (const auto& c : cases) {
    const Handle h = dev.CreateFile(c.path, 0, 3, 3, 0);
    TVolumeDiskExtent e;
    ASSERT_TRUE(GetVolumeDiskExtents(h, e)) << c.path;
    EXPECT_EQ(e.NumberOfDiskExtents, 1u);
    EXPECT_EQ(e.DiskNumber, c.disk);
    EXPECT_EQ(e.StartingOffset, c.start);
    EXPECT_EQ(e.ExtentLength, c.length);
    dev.CloseHandle(h);
  }
  const Handle disk = dev.CreateFile("\\\\.\\PhysicalDrive0", 0, 3, 3, 0);
  TVolumeDiskExtent e;
  EXPECT_FALSE(GetVolumeDiskExtents(disk, e));
  dev.CloseHandle(disk);
}

TEST(LinuxDevices, RefreshOverTheMachine) {
  Machine m;
  LinuxPlatform layer(m.tree.Root());
  ScopedPlatform scope(layer);
  TKyvex_Storage storage;
  storage.CollectData();
  ASSERT_EQ(storage.PhysicalCount(), 5);
  const auto& p = storage.PhysicalDevices();
  EXPECT_EQ(p[0].Model, "Samsung SSD 980 PRO 1TB");
  EXPECT_EQ(p[1].Model, "WDC WD5000AAKS-0");
  EXPECT_EQ(p[2].Model, "Virtio block device");
  EXPECT_EQ(p[3].Model, "DVDRAM GH24NSD1");
  EXPECT_EQ(p[4].Model, "EXB-89008E00012F");
  ASSERT_EQ(storage.LogicalCount(), 3);
  const auto& l = storage.LogicalDevices();
  EXPECT_EQ(l[0].Drive, 'C');
  EXPECT_EQ(l[0].PHYSIndex, 2);
  EXPECT_EQ(l[1].Drive, 'D');
  EXPECT_EQ(l[1].PHYSIndex, 1);
  EXPECT_EQ(l[2].PHYSIndex, 1);
  storage.CollectData();
  EXPECT_EQ(storage.PhysicalCount(), 5);
  EXPECT_EQ(storage.LogicalCount(), 3);
}

// Every call the layer makes on a device node passes through the seam: with a recorder in
// the kernel's place, the disk's identity, size and partitions are what the recorder answered.
TEST(LinuxDevices, SystemCallsPassThroughTheSeam) {
  Machine m;
  Recorder rec;
  rec.passOthers = false;
  linux_machine::FakeNode& sda = rec.nodes["sda"];
  sda.bytes = 16 << 20;
  sda.image = MbrImage().bytes;
  for (const char* node : {"sda1", "sda2"}) rec.nodes[node].bytes = 1 << 20;
  sda.scsi = [](const std::vector<std::uint8_t>& cdb) {
    if (cdb[0] != 0x12) return linux_machine::IllegalRequest();
    return ScsiReply{0, devio::InquiryData{0, "ATA", "Recorded disk", "RC01", ""}.Encode(), {}};
  };
  LinuxPlatform layer(m.tree.Root());
  platform::SetLinuxSystemCalls(layer.Devices(), &rec);
  ScopedPlatform scope(layer);
  TKyvex_Storage storage;
  storage.CollectData();

  ASSERT_GE(storage.PhysicalCount(), 2);
  const auto& disk = storage.PhysicalDevices()[1];
  EXPECT_EQ(disk.Model, "Recorded disk");
  EXPECT_EQ(disk.Revision, "RC01");
  // D: is sda1: its partition entry comes from the table the recorder's medium holds.
  ASSERT_GE(storage.LogicalCount(), 2);
  const auto& d = storage.LogicalDevices()[1];
  EXPECT_EQ(d.Drive, 'D');
  ASSERT_EQ(d.Layout.size(), 1u);
  EXPECT_EQ(d.Layout[0].Typ, 0x83);
  EXPECT_EQ(d.Layout[0].StartingOffset, 2048LL * 512);

  bool openedSda = false;
  for (const auto& c : rec.opens) openedSda |= c.path == m.tree.Root() + "/dev/sda";
  EXPECT_TRUE(openedSda);
  const auto blocks = rec.CommandBlocks("sda");
  ASSERT_FALSE(blocks.empty());
  EXPECT_EQ(blocks.front()[0], 0x12);
  EXPECT_EQ(rec.openNow, 0) << "every node opened was closed";

  // Back to the kernel: the recorder sees nothing more.
  platform::SetLinuxSystemCalls(layer.Devices(), nullptr);
  const std::size_t seen = rec.opens.size();
  storage.CollectData();
  EXPECT_EQ(rec.opens.size(), seen);
}

// Whether a command block only reads: the SCSI commands that fetch information, and ATA
// PASS-THROUGH (16 or 12) carrying IDENTIFY (PACKET) DEVICE or a SMART read of values or
// thresholds, or CHECK POWER MODE.
bool ReadsOnly(const std::vector<std::uint8_t>& cdb) {
  static const std::uint8_t kScsiReads[] = {0x00, 0x03, 0x12, 0x1A, 0x1C, 0x25, 0x43, 0x46, 0x4A, 0x4D, 0x51, 0x5A, 0xA0};
  if (cdb.empty()) return false;
  if (std::find(std::begin(kScsiReads), std::end(kScsiReads), cdb[0]) != std::end(kScsiReads)) return true;
  if (cdb[0] == 0x9E) return cdb.size() > 1 && (cdb[1] & 0x1F) == 0x10;
  std::uint8_t command = 0, features = 0, mid = 0, high = 0;
  if (cdb[0] == 0x85 && cdb.size() >= 16) {
    command = cdb[14], features = cdb[4], mid = cdb[10], high = cdb[12];
  } else if (cdb[0] == 0xA1 && cdb.size() >= 12) {
    command = cdb[9], features = cdb[3], mid = cdb[6], high = cdb[7];
  } else {
    return false;
  }
  return command == 0xEC || command == 0xA1 || command == 0xE5 ||
         (command == 0xB0 && (features == 0xD0 || features == 0xD1) && mid == 0x4F && high == 0xC2);
}

// A full refresh run as root would open every node: each one read-only (a node closed after
// being opened for writing makes udev re-read the disk), and nothing but reading commands.
TEST(LinuxDevices, RefreshOpensReadOnlyAndOnlyReads) {
  Machine m;
  Recorder rec;
  rec.passOthers = false;
  const auto identify = IdentifyBuilder::Disk("WDC WD5000AAKS-00TMA0", "WD-WCAPW0493929").b;
  const auto smart = SmartData({{194, 100, 100, 36}});
  for (const char* node : {"sda", "sda1", "sda2", "vda", "nvme0n1", "sr0", "nst0"}) rec.nodes[node].bytes = 16 << 20;
  rec.nodes["sda"].image = MbrImage().bytes;
  rec.nodes["sda"].scsi = [&](const std::vector<std::uint8_t>& cdb) {
    if (cdb[0] == 0x12) return ScsiReply{0, Inquiry(0, "ATA", "WDC WD5000AAKS-0", "1C01"), {}};
    if (cdb[0] == 0x85 && cdb[14] == 0xEC) return ScsiReply{0, {identify.begin(), identify.end()}, {}};
    if (cdb[0] == 0x85 && cdb[14] == 0xB0) return ScsiReply{0, {smart.begin(), smart.end()}, {}};
    return linux_machine::IllegalRequest();
  };
  LinuxPlatform layer(m.tree.Root());
  platform::SetLinuxSystemCalls(layer.Devices(), &rec);
  ScopedPlatform scope(layer);
  TKyvex_Storage storage;
  storage.CollectData();
  ASSERT_EQ(storage.PhysicalCount(), 5);
  EXPECT_TRUE(storage.PhysicalDevices()[0].SMARTSupport || storage.PhysicalDevices()[1].SMARTSupport);

  ASSERT_FALSE(rec.opens.empty());
  for (const auto& open : rec.opens) {
    EXPECT_EQ(open.flags & O_ACCMODE, O_RDONLY) << open.path;
    EXPECT_TRUE(open.flags & O_NONBLOCK) << open.path;
    EXPECT_TRUE(open.flags & O_CLOEXEC) << open.path;
  }
  std::size_t ata = 0;
  for (const auto& cdb : rec.CommandBlocks()) {
    EXPECT_TRUE(ReadsOnly(cdb)) << "operation code " << int(cdb[0]);
    ata += cdb[0] == 0x85;
  }
  EXPECT_GT(ata, 0u);
  EXPECT_EQ(rec.openNow, 0);

  // Commands that change a device, asked for through the pass-through or the SMART request,
  // are refused before they reach it.
  rec.requests.clear();
  auto& dev = layer.Devices();
  const Handle h = OpenDevice("\\\\.\\D:");  // sda1, on sda
  ASSERT_NE(h, platform::kInvalidHandle);
  const std::vector<std::uint8_t> changing[] = {
      {0x2A, 0, 0, 0, 0, 0, 0, 0, 1, 0},        // WRITE(10)
      {0x1B, 0, 0, 0, 0, 0},                    // START STOP UNIT
      {0x15, 0x10, 0, 0, 12, 0},                // MODE SELECT(6)
      {0x35, 0, 0, 0, 0, 0, 0, 0, 0, 0},        // SYNCHRONIZE CACHE
      {0x85, 0x08, 0x0E, 0, 0xD8, 0, 0, 0, 0, 0, 0x4F, 0, 0xC2, 0, 0xB0, 0},  // ATA: SMART ENABLE
      {0x85, 0x08, 0x0E, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xE0, 0},          // ATA: STANDBY IMMEDIATE
      {0x85, 0x06, 0x20, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xE0, 0},          // the same without data
      {0x85, 0x0A, 0x06, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0xEC, 0},          // IDENTIFY as PIO data-out
      {0x85, 0x06, 0x2E, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0xEC, 0},          // IDENTIFY without data
      {0x85, 0x08, 0x06, 0, 0xD0, 0, 1, 0, 0, 0, 0x4F, 0, 0xC2, 0, 0xB0, 0},  // SMART READ DATA to the device
      {0x85, 0x06, 0x20, 0, 0x02, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xEF, 0},       // SET FEATURES
      {0xA1, 0x08, 0x0E, 0xD8, 0, 0, 0x4F, 0xC2, 0, 0xB0, 0, 0},              // (12): SMART ENABLE
      {0xA1, 0x06, 0x20, 0, 0, 0, 0, 0, 0, 0xE0, 0, 0},                       // (12): STANDBY IMMEDIATE
      {0xA1, 0x08, 0x0E, 0xD4, 0, 0, 0x4F, 0xC2, 0, 0xB0, 0, 0},              // (12): SMART self-test
  };
  for (const auto& cdb : changing) {
    devio::PassThroughRequest r;
    r.cdbLength = static_cast<std::uint8_t>(cdb.size());
    std::copy(cdb.begin(), cdb.end(), r.cdb.begin());
    r.senseInfoLength = 24;
    r.timeOutValue = 2;
    r.senseInfoOffset = devio::kNativePassThrough.length;
    r.dataBufferOffset = devio::kNativePassThrough.length + 32;
    std::uint8_t block[512] = {};
    devio::WritePassThrough(r, block, devio::kNativePassThrough);
    std::uint32_t n = 0;
    EXPECT_FALSE(dev.DeviceIoControl(h, devio::kScsiPassThrough, block, devio::kNativePassThrough.length + 32, block,
                                     sizeof block, n))
        << "operation code " << int(cdb[0]);
  }
  for (std::uint8_t command : {0xEF, 0xE0, 0xCA}) {  // SET FEATURES, STANDBY IMMEDIATE, WRITE DMA
    devio::SmartCommandIn in;
    in.command = command;
    const auto block = in.Encode();
    std::uint8_t out[600] = {};
    std::uint32_t n = 0;
    EXPECT_FALSE(dev.DeviceIoControl(h, devio::kSmartRcvDriveData, block.data(), static_cast<std::uint32_t>(block.size()),
                                     out, sizeof out, n));
  }
  dev.CloseHandle(h);
  EXPECT_TRUE(rec.CommandBlocks().empty());

  // CHECK POWER MODE reads only, but its 12-byte form is BLANK to an optical drive: it never
  // reaches one, while the 16-byte form and the disk's 12-byte one do.
  auto send = [&](const std::string& path, const std::vector<std::uint8_t>& cdb) {
    const Handle device = OpenDevice(path);
    devio::PassThroughRequest r;
    r.cdbLength = static_cast<std::uint8_t>(cdb.size());
    std::copy(cdb.begin(), cdb.end(), r.cdb.begin());
    r.senseInfoLength = 32;
    r.dataIn = 2;
    r.timeOutValue = 2;
    r.senseInfoOffset = devio::kNativePassThrough.length;
    r.dataBufferOffset = devio::kNativePassThrough.length + 32;
    std::uint8_t block[512] = {};
    devio::WritePassThrough(r, block, devio::kNativePassThrough);
    std::uint32_t n = 0;
    const bool ok = dev.DeviceIoControl(device, devio::kScsiPassThrough, block, devio::kNativePassThrough.length, block,
                                        sizeof block, n);
    dev.CloseHandle(device);
    return ok;
  };
  const std::vector<std::uint8_t> check12 = {0xA1, 0x06, 0x20, 0, 0, 0, 0, 0, 0, 0xE5, 0, 0};
  const std::vector<std::uint8_t> check16 = {0x85, 0x06, 0x20, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xE5, 0};
  EXPECT_FALSE(send("\\\\.\\Cdrom0", check12));
  EXPECT_TRUE(rec.CommandBlocks("sr0").empty());
  EXPECT_TRUE(send("\\\\.\\Cdrom0", check16));
  EXPECT_TRUE(send("\\\\.\\D:", check12));
  EXPECT_EQ(rec.CommandBlocks(), (std::vector<std::vector<std::uint8_t>>{check16, check12}));
}

}  // namespace

#endif  // __linux__
