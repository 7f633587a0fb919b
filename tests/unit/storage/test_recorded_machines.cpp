// Whole machines as the Linux layer sees them: each one a sysfs, procfs and /dev tree with the
// replies its devices gave, run through a full storage refresh both as root (every node
// opens and answers through the recorder) and as a user (no node opens; sysfs alone). Each
// must give the right records, the right drive numbering and the right drive links.
#ifdef __linux__

#include <gtest/gtest.h>

#include <cstring>
#include <tuple>

#include "platform/linux/LinuxDevice.h"
#include "platform/linux/LinuxDeviceScsi.h"
#include "platform/linux/LinuxPlatform.h"
#include "storage/KSI_Storage.h"
#include "unit/storage/LinuxMachineSupport.h"
#include "unit/storage/StorageTestSupport.h"

using namespace kyvex;
using namespace storage_test;
using namespace linux_machine;
using platform::LinuxPlatform;
using platform::ScopedPlatform;

namespace {

// The first sector of a disk with an MBR: (type, first sector, sectors) per slot.
std::vector<std::uint8_t> Mbr(const std::vector<std::tuple<std::uint8_t, std::uint32_t, std::uint32_t>>& slots) {
  std::vector<std::uint8_t> s(512, 0);
  for (std::size_t i = 0; i < slots.size(); ++i) {
    std::uint8_t* e = &s[446 + 16 * i];
    e[4] = std::get<0>(slots[i]);
    devio::Put32(e + 8, std::get<1>(slots[i]));
    devio::Put32(e + 12, std::get<2>(slots[i]));
  }
  s[510] = 0x55;
  s[511] = 0xAA;
  return s;
}

// A SCSI device in sysfs (vendor, model, revision, peripheral type) with its block device.
void ScsiBlock(Tree& t, const std::string& dev, const std::string& name, const std::string& vendor,
               const std::string& model, const std::string& rev, int type, std::uint64_t sectors, bool removable) {
  t.File(dev + "/vendor", vendor + "\n");
  t.File(dev + "/model", model + "\n");
  t.File(dev + "/rev", rev + "\n");
  t.File(dev + "/type", std::to_string(type) + "\n");
  BlockDevice(t, dev, name, std::to_string(sectors), removable, "../..");
}

// What a SAT device answers an ATA command sent with CK_COND: CHECK CONDITION, RECOVERED
// ERROR, "ATA pass-through information available", the registers in an ATA Status Return
// descriptor (count as given, status DRDY).
ScsiReply AtaRegistersReply(std::uint8_t count) {
  ScsiReply r;
  r.status = 0x02;
  r.sense = {0x72, 0x01, 0x00, 0x1D, 0, 0, 0, 14, 0x09, 0x0C, 0, 0, 0, count, 0, 0, 0, 0, 0, 0, 0, 0x40};
  return r;
}

// The same registers in fixed-format sense data, as bridges that keep to the older form send
// them: error, status (DRDY), device and count in the information fields.
ScsiReply FixedAtaRegistersReply(std::uint8_t count) {
  ScsiReply r;
  r.status = 0x02;
  r.sense = {0x70, 0, 0x01, 0x00, 0x40, 0x00, count, 10, 0, 0, 0, 0, 0x00, 0x1D, 0, 0, 0, 0};
  return r;
}

// The node of a SCSI disk behind libata (or a bridge): INQUIRY as sysfs shows it, IDENTIFY,
// SMART READ DATA and CHECK POWER MODE through ATA PASS-THROUGH when `identify` is given.
FakeNode ScsiDisk(std::uint64_t sectors, std::vector<std::uint8_t> mbr, std::vector<std::uint8_t> inquiry,
                  std::optional<Block> identify) {
  FakeNode n;
  n.bytes = sectors * 512;
  n.image = std::move(mbr);
  const Block smart = SmartData({{194, 100, 100, 31}, {9, 99, 99, 12}});
  n.scsi = [inquiry, identify, smart](const std::vector<std::uint8_t>& cdb) {
    if (cdb[0] == 0x12) return ScsiReply{0, inquiry, {}};
    if (cdb[0] == 0x85 && identify && cdb[14] == 0xEC) return ScsiReply{0, {identify->begin(), identify->end()}, {}};
    if (cdb[0] == 0x85 && identify && cdb[14] == 0xB0 && cdb[4] == 0xD0) return ScsiReply{0, {smart.begin(), smart.end()}, {}};
    if (cdb[0] == 0x85 && identify && cdb[14] == 0xE5) return AtaRegistersReply(0xFF);  // active or idle
    return IllegalRequest();
  };
  return n;
}

// The capabilities page (2Ah) of a DVD writer: reads CD-R/RW, DVD-ROM/R/RAM; writes CD-R/RW,
// DVD-R/RAM.
constexpr std::uint8_t kDvdReads = 0x3B, kDvdWrites = 0x33;

// An ATAPI DVD writer, as real ones answer: MODE SENSE(6) refused, MODE SENSE(10) answered.
FakeNode DvdDrive(const std::string& vendor, const std::string& model) {
  FakeNode n;
  n.bytes = 0;
  const auto inquiry = Inquiry(5, vendor, model, "1.00");
  n.scsi = [inquiry](const std::vector<std::uint8_t>& cdb) {
    if (cdb[0] == 0x12) return ScsiReply{0, inquiry, {}};
    if (cdb[0] == 0x5A && (cdb[2] & 0x3F) == 0x2A) {
      std::vector<std::uint8_t> page = {0x2A, 0x1C, kDvdReads, kDvdWrites};
      page.resize(0x1E, 0);
      std::vector<std::uint8_t> reply = {0, 0, 0x70, 0, 0, 0, 0, 0};
      reply.insert(reply.end(), page.begin(), page.end());
      reply[1] = static_cast<std::uint8_t>(reply.size() - 2);
      const std::size_t allocation = (cdb[7] << 8) | cdb[8];
      if (reply.size() > allocation) reply.resize(allocation);
      return ScsiReply{0, reply, {}};
    }
    return IllegalRequest();
  };
  return n;
}

const std::string kCdromInfo =
    "CD-ROM information, Id: cdrom.c 3.20 2003/12/17\n\ndrive name:\t\tsr0\ndrive speed:\t\t24\n"
    "Can write CD-R:\t\t1\nCan write CD-RW:\t1\nCan read DVD:\t\t1\nCan write DVD-R:\t1\nCan write DVD-RAM:\t1\n\n";

// The NVMe admin pass-through of a controller whose pages were recorded under
// tests/data/storage/nvme: Identify Controller, Identify Namespace 1 and the health log, and
// the current value of the Power Management feature (`powerState`). Anything else is refused
// with Invalid Opcode / Invalid Field, as a controller does.
std::function<int(nvme_admin_cmd&)> NvmeController(const std::string& recorded, std::uint32_t powerState) {
  const auto ctrl = ReadData("nvme/" + recorded + ".id-ctrl.bin"), ns = ReadData("nvme/" + recorded + ".id-ns.bin"),
             log = ReadData("nvme/" + recorded + ".smart-log.bin");
  return [ctrl, ns, log, powerState](nvme_admin_cmd& c) {
    if (c.opcode == 0x0A && c.cdw10 == 0x02 && c.data_len == 0) {  // Get Features, current value
      c.result = powerState;
      return 0;
    }
    const std::vector<std::uint8_t>* page = nullptr;
    if (c.opcode == 0x06 && c.cdw10 == 1) page = &ctrl;
    if (c.opcode == 0x06 && c.cdw10 == 0 && c.nsid == 1) page = &ns;
    if (c.opcode == 0x02 && (c.cdw10 & 0xFF) == 0x02 && (c.nsid == 0xFFFFFFFF || c.nsid == 0)) page = &log;
    if (!page) return 0x4002;  // Do Not Retry, Invalid Field in Command
    std::memset(reinterpret_cast<void*>(c.addr), 0, c.data_len);
    std::memcpy(reinterpret_cast<void*>(c.addr), page->data(), std::min<std::size_t>(c.data_len, page->size()));
    return 0;
  };
}

// --- The machines ---------------------------------------------------------------------------------

// A laptop: an NVMe system disk, a USB stick and a USB DVD writer (an ATAPI drive behind a
// USB bridge), each with a file system mounted.
void Laptop(Tree& t, Recorder& rec) {
  const std::string nvme = "sys/devices/pci0000:00/0000:00:1d.0/0000:3d:00.0/nvme/nvme0";
  t.File(nvme + "/model", "SAMSUNG MZVLB512HBJQ-000L7              \n");
  t.File(nvme + "/serial", "S4ENNX0N123456      \n");
  t.File(nvme + "/firmware_rev", "5M2QEXF7\n");
  BlockDevice(t, nvme, "nvme0n1", "1000215216", false, "../..");
  Partition(t, nvme + "/block/nvme0n1", "nvme0n1p1", 2048, 1048576);
  Partition(t, nvme + "/block/nvme0n1", "nvme0n1p2", 1050624, 999000000);
  FakeNode& disk = rec.nodes["nvme0n1"];
  disk.bytes = 1000215216ULL * 512;
  disk.image = Mbr({{0xEF, 2048, 1048576}, {0x83, 1050624, 999000000}});
  disk.nvmeAdmin = NvmeController("pm981", 3);  // idle under autonomous power management

  const std::string stick = "sys/devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/host1/target1:0:0/1:0:0:0";
  ScsiBlock(t, stick, "sda", "SanDisk ", "Cruzer Blade    ", "1.00", 0, 30031872, true);
  Partition(t, stick + "/block/sda", "sda1", 2048, 30029824);
  rec.nodes["sda"] = ScsiDisk(30031872, Mbr({{0x0C, 2048, 30029824}}), Inquiry(0, "SanDisk", "Cruzer Blade", "1.00"),
                              std::nullopt);

  const std::string dvd = "sys/devices/pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host2/target2:0:0/2:0:0:0";
  ScsiBlock(t, dvd, "sr0", "HL-DT-ST", "DVDRAM GP57EB40 ", "PF00", 5, 8388608, true);
  rec.nodes["sr0"] = DvdDrive("HL-DT-ST", "DVDRAM GP57EB40");
  t.File("proc/sys/dev/cdrom/info", kCdromInfo);

  for (const char* p : {"nvme0n1p1", "nvme0n1p2", "sda1"}) rec.nodes[p].bytes = 1 << 20;
  t.File("proc/self/mounts",
         "proc /proc proc rw 0 0\n"
         "/dev/nvme0n1p1 /boot/efi vfat rw 0 0\n"
         "/dev/nvme0n1p2 / ext4 rw,relatime 0 0\n"
         "/dev/sda1 /media/user/STICK vfat rw,nosuid 0 0\n"
         "/dev/sr0 /media/user/MY\\040DISC iso9660 ro,nosuid 0 0\n"
         "/dev/nvme0n1p2 /var/snap/firefox/common/host-hunspell ext4 ro,bind 0 0\n");
}

// A server with two identical SATA disks, partitioned alike; the root file system on the
// second one.
void Server(Tree& t, Recorder& rec) {
  const auto mbr = Mbr({{0x83, 2048, 1048576}, {0x83, 1050624, 3000000000u}});
  for (int n : {0, 1}) {
    const std::string port = std::to_string(n + 1), host = std::to_string(n);
    const std::string dev = "sys/devices/pci0000:00/0000:00:17.0/ata" + port + "/host" + host + "/target" + host +
                            ":0:0/" + host + ":0:0:0";
    const std::string name = n ? "sdb" : "sda", serial = n ? "ZC1A0002" : "ZC1A0001";
    ScsiBlock(t, dev, name, "ATA     ", "ST4000NM0035-1V4", "TN04", 0, 7814037168ULL, false);
    t.File(dev + "/vpd_pg80", std::string("\0\x80\0\x14", 4) + "            " + serial);
    t.File("sys/class/ata_link/link" + port + "/sata_spd", "6.0 Gbps\n");
    Partition(t, dev + "/block/" + name, name + "1", 2048, 1048576);
    Partition(t, dev + "/block/" + name, name + "2", 1050624, 3000000000u);
    rec.nodes[name] = ScsiDisk(7814037168ULL, mbr, Inquiry(0, "ATA", "ST4000NM0035-1V4", "TN04"),
                               IdentifyBuilder::Disk("ST4000NM0035-1V4", serial).b);
    for (const char* p : {"1", "2"}) rec.nodes[name + p].bytes = 1 << 20;
  }
  t.File("proc/self/mounts",
         "/dev/sda2 /srv xfs rw 0 0\n"
         "/dev/sdb2 / ext4 rw 0 0\n"
         "/dev/sdb1 /boot ext4 rw 0 0\n"
         "/dev/sda1 /boot2 ext4 rw 0 0\n");
}

// A VM with two virtio disks, whose model texts are all alike and which have no serial.
void VirtualMachine(Tree& t, Recorder& rec) {
  const auto mbr = Mbr({{0x83, 2048, 2097152}, {0x83, 2099200, 60000000}});
  for (int n : {0, 1}) {
    const std::string dev = "sys/devices/pci0000:00/0000:00:0" + std::to_string(4 + n) + ".0/virtio" + std::to_string(n + 1);
    const std::string name = n ? "vdb" : "vda";
    t.File(dev + "/vendor", "0x1af4\n");
    t.File(dev + "/device", "0x0002\n");
    BlockDevice(t, dev, name, "67108864", false, "../..");
    Partition(t, dev + "/block/" + name, name + "1", 2048, 2097152);
    Partition(t, dev + "/block/" + name, name + "2", 2099200, 60000000);
    FakeNode& node = rec.nodes[name];
    node.bytes = 67108864ULL * 512;
    node.image = mbr;
    for (const char* p : {"1", "2"}) rec.nodes[name + p].bytes = 1 << 20;
  }
  t.File("proc/self/mounts",
         "/dev/vda1 /boot ext4 rw 0 0\n"
         "/dev/vdb1 / ext4 rw 0 0\n"
         "/dev/vda2 /home ext4 rw 0 0\n"
         "/dev/vdb2 /var ext4 rw 0 0\n");
}

struct RecordedMachine {
  const char* name;
  void (*build)(Tree&, Recorder&);
  std::vector<std::string> drives;         // the nodes of PhysicalDrive0, 1, ...
  std::vector<std::string> models;         // the physical records, in order
  std::vector<std::pair<char, int>> links;  // each letter and its physical record
};

const RecordedMachine kMachines[] = {
    {"laptop", Laptop, {"/dev/nvme0n1", "/dev/sda"},
     {"SAMSUNG MZVLB512HBJQ-000L7", "Cruzer Blade", "DVDRAM GP57EB40"},
     {{'C', 0}, {'D', 0}, {'E', 1}, {'F', 2}}},
    {"server", Server, {"/dev/sda", "/dev/sdb"},
     {"ST4000NM0035-1V4", "ST4000NM0035-1V4"},
     {{'C', 1}, {'D', 0}, {'E', 1}, {'F', 0}}},
    {"vm", VirtualMachine, {"/dev/vda", "/dev/vdb"},
     {"Virtio block device", "Virtio block device"},
     {{'C', 1}, {'D', 0}, {'E', 0}, {'F', 1}}},
};

// How the refresh runs: as root every node opens and answers; as a user none opens.
enum class Rights { Root, User };

class DenyAll : public Recorder {
 public:
  int Open(const std::string& path, int flags) override {
    opens.push_back({path, flags, 0, {}});
    errno = EACCES;
    return -1;
  }
};

TEST(RecordedMachines, RecordsNumberingAndLinks) {
  for (const auto& m : kMachines)
    for (Rights rights : {Rights::Root, Rights::User}) {
      SCOPED_TRACE(std::string(m.name) + (rights == Rights::Root ? " as root" : " as user"));
      Tree tree;
      Recorder root;
      DenyAll user;
      root.passOthers = false;
      m.build(tree, root);
      Recorder& rec = rights == Rights::Root ? root : static_cast<Recorder&>(user);
      LinuxPlatform layer(tree.Root());
      platform::SetLinuxSystemCalls(layer.Devices(), &rec);
      ScopedPlatform scope(layer);

      for (std::size_t n = 0; n <= m.drives.size(); ++n)
        EXPECT_EQ(platform::LinuxDeviceNode(layer.Devices(), "\\\\.\\PhysicalDrive" + std::to_string(n)),
                  n < m.drives.size() ? m.drives[n] : "")
            << n;

      TKyvex_Storage storage;
      storage.CollectData();
      std::vector<std::string> models;
      for (const auto& p : storage.PhysicalDevices()) models.push_back(p.Model);
      EXPECT_EQ(models, m.models);
      std::vector<std::pair<char, int>> links;
      for (const auto& l : storage.LogicalDevices()) links.push_back({l.Drive, l.PHYSIndex});
      EXPECT_EQ(links, m.links);
      // Every disk a location of its own.
      const auto& p = storage.PhysicalDevices();
      for (std::size_t i = 0; i < p.size(); ++i) {
        EXPECT_TRUE(p[i].LocationAvailable) << i;
        for (std::size_t j = 0; j < i; ++j) EXPECT_FALSE(DevicesMatch(p[i], p[j], false)) << i << " " << j;
      }
      for (const auto& open : rec.opens) EXPECT_EQ(open.flags & O_ACCMODE, O_RDONLY) << open.path;
      EXPECT_EQ(rec.openNow, 0);
    }
}

// Every record carries the system's own names: the device node, and for each drive where its
// file system is mounted (every place, in mount-table order; escapes undone) and its type.
TEST(RecordedMachines, RecordsCarryTheSystemsNames) {
  Tree tree;
  DenyAll rec;
  Recorder ignored;
  Laptop(tree, ignored);
  LinuxPlatform layer(tree.Root());
  platform::SetLinuxSystemCalls(layer.Devices(), &rec);
  ScopedPlatform scope(layer);
  TKyvex_Storage storage;
  storage.CollectData();
  std::vector<std::string> physical;
  for (const auto& p : storage.PhysicalDevices()) physical.push_back(p.DevicePath);
  EXPECT_EQ(physical, (std::vector<std::string>{"/dev/nvme0n1", "/dev/sda", "/dev/sr0"}));
  struct Want {
    std::string device;
    std::vector<std::string> points;
    std::string fileSystem;
  };
  const std::vector<Want> want = {
      {"/dev/nvme0n1p2", {"/", "/var/snap/firefox/common/host-hunspell"}, "ext4"},
      {"/dev/nvme0n1p1", {"/boot/efi"}, "vfat"},
      {"/dev/sda1", {"/media/user/STICK"}, "vfat"},
      {"/dev/sr0", {"/media/user/MY DISC"}, "iso9660"},
  };
  ASSERT_EQ(storage.LogicalCount(), static_cast<int>(want.size()));
  for (std::size_t i = 0; i < want.size(); ++i) {
    const TDeviceInfo& l = storage.LogicalDevices()[i];
    SCOPED_TRACE(l.Drive);
    EXPECT_EQ(l.DevicePath, want[i].device);
    EXPECT_EQ(l.MountPoints, want[i].points);
    EXPECT_EQ(l.FileSystem, want[i].fileSystem);
  }
}

// A file system on LVM is named as the system names it, under /dev/mapper; it lies on the
// disk below it.
TEST(RecordedMachines, DeviceMapperVolumesByTheirMapperName) {
  Tree tree;
  Recorder ignored;
  Laptop(tree, ignored);
  tree.File("sys/devices/virtual/block/dm-0/dm/name", "vgubuntu-root\n");
  tree.File("sys/devices/virtual/block/dm-0/size", "999000000\n");
  tree.Link("sys/devices/virtual/block/dm-0/slaves/nvme0n1p2",
            "../../../../pci0000:00/0000:00:1d.0/0000:3d:00.0/nvme/nvme0/block/nvme0n1/nvme0n1p2");
  tree.Link("sys/class/block/dm-0", "../../devices/virtual/block/dm-0");
  tree.Link("sys/block/dm-0", "../devices/virtual/block/dm-0");
  tree.File("dev/dm-0", "");
  tree.Link("dev/mapper/vgubuntu-root", "../dm-0");
  tree.File("proc/self/mounts", "/dev/mapper/vgubuntu-root / ext4 rw 0 0\n/dev/nvme0n1p1 /boot/efi vfat rw 0 0\n");
  DenyAll rec;
  LinuxPlatform layer(tree.Root());
  platform::SetLinuxSystemCalls(layer.Devices(), &rec);
  ScopedPlatform scope(layer);
  TKyvex_Storage storage;
  storage.CollectData();
  ASSERT_EQ(storage.LogicalCount(), 2);
  const TDeviceInfo& c = storage.LogicalDevices()[0];
  EXPECT_EQ(c.Drive, 'C');
  EXPECT_EQ(c.DevicePath, "/dev/mapper/vgubuntu-root");
  EXPECT_EQ(c.MountPoints, std::vector<std::string>{"/"});
  EXPECT_EQ(c.PHYSIndex, 0);
}

// An old machine's disk on the legacy IDE driver: identified and read through its own ioctl,
// which carries only reading commands, and located by a made address of its own.
TEST(RecordedMachines, LegacyIdeDiskThroughTheDriversIoctl) {
  Tree tree;
  Recorder rec;
  rec.passOthers = false;
  const std::string ide = "sys/devices/pci0000:00/0000:00:1f.1/ide0/0.0";
  tree.File(ide + "/model", "ST320410A\n");
  BlockDevice(tree, ide, "hda", "39102336", false, "../..");
  Partition(tree, ide + "/block/hda", "hda1", 63, 39102273);
  tree.File("proc/self/mounts", "/dev/hda1 / ext3 rw 0 0\n");
  const Block identify = IdentifyOf("ST320410A--3.39"), smart = SmartDataOf("ST320410A--3.39");
  FakeNode& hda = rec.nodes["hda"];
  hda.bytes = 39102336ULL * 512;
  hda.image = Mbr({{0x83, 63, 39102273}});
  hda.ideCommand = [&](std::uint8_t* args) {
    const Block* data = args[0] == 0xEC ? &identify : (args[0] == 0xB0 && args[2] == 0xD0) ? &smart : nullptr;
    if (!data) return false;
    std::copy(data->begin(), data->end(), args + 4);
    return true;
  };
  rec.nodes["hda1"].bytes = 1 << 20;
  LinuxPlatform layer(tree.Root());
  platform::SetLinuxSystemCalls(layer.Devices(), &rec);
  ScopedPlatform scope(layer);
  TKyvex_Storage storage;
  storage.CollectData();
  ASSERT_EQ(storage.PhysicalCount(), 1);
  const TDeviceInfo& disk = storage.PhysicalDevices()[0];
  EXPECT_EQ(disk.Model, "ST320410A");
  EXPECT_TRUE(disk.SMARTSupport);
  EXPECT_FALSE(disk.SMARTAttributes.empty());
  EXPECT_EQ(std::vector<int>({disk.HaId, disk.PathID, disk.Target, disk.Lun}), std::vector<int>({0xF4, 0, 0, 0}));
  ASSERT_EQ(storage.LogicalCount(), 1);
  EXPECT_EQ(storage.LogicalDevices()[0].PHYSIndex, 0);
  std::size_t ideCommands = 0;
  for (const auto& call : rec.requests) {
    if (call.request != HDIO_DRIVE_CMD) continue;
    ++ideCommands;
    const std::uint8_t command = call.command[0], features = call.command[2];
    EXPECT_TRUE(command == 0xEC || command == 0xA1 || (command == 0xB0 && (features == 0xD0 || features == 0xD1)))
        << "command " << int(command) << ", features " << int(features);
  }
  EXPECT_GT(ideCommands, 0u);
  for (const auto& open : rec.opens) EXPECT_EQ(open.flags & O_ACCMODE, O_RDONLY) << open.path;
}

// The laptop's NVMe disk as root: its identity from Identify Controller, its exact size from
// Identify Namespace, SMART state, temperature and health from the health log, through three
// admin commands on the read-only node and nothing else. As a user the node does not open,
// and the record keeps what sysfs tells.
TEST(RecordedMachines, NvmeDiskAnswersIdentifyAndHealth) {
  for (Rights rights : {Rights::Root, Rights::User}) {
    SCOPED_TRACE(rights == Rights::Root ? "root" : "user");
    Tree tree;
    Recorder root;
    DenyAll user;
    root.passOthers = false;
    Laptop(tree, root);
    Recorder& rec = rights == Rights::Root ? root : static_cast<Recorder&>(user);
    LinuxPlatform layer(tree.Root());
    platform::SetLinuxSystemCalls(layer.Devices(), &rec);
    ScopedPlatform scope(layer);
    TKyvex_Storage storage;
    storage.CollectData();
    ASSERT_GE(storage.PhysicalCount(), 1);
    const TDeviceInfo& disk = storage.PhysicalDevices()[0];
    EXPECT_EQ(disk.Model, "SAMSUNG MZVLB512HBJQ-000L7");
    EXPECT_EQ(disk.SerialNumber, "S4ENNX0N123456");
    EXPECT_EQ(disk.Revision, "5M2QEXF7");
    EXPECT_EQ(disk.BusType, devio::kBusNvme);
    if (rights == Rights::User) {
      EXPECT_FALSE(disk.Health.Available);
      EXPECT_FALSE(disk.SMARTSupport);
      continue;
    }
    EXPECT_EQ(disk.Size, 1000215216LL * 512);  // the namespace's blocks, not whole cylinders
    EXPECT_TRUE(disk.SMARTSupport);
    EXPECT_TRUE(disk.SMARTActive);
    EXPECT_EQ(disk.Temperature, 37);
    const TNvmeHealth expected{true, 0, 100, 10, 3, 5123, 47, 0};
    EXPECT_EQ(disk.Health, expected);
    // Asked in a non-operational state, as smartctl asks: admin commands do not need I/O.
    EXPECT_EQ(disk.Power, (TNvmePowerState{true, 3, 5, true, 35000}));
    // The disk's drives link to it; the health is the disk's alone.
    for (const auto& l : storage.LogicalDevices()) {
      EXPECT_FALSE(l.Health.Available) << l.Drive;
      if (l.Drive == 'C' || l.Drive == 'D') EXPECT_EQ(l.PHYSIndex, 0) << l.Drive;
    }

    std::vector<std::tuple<int, std::uint32_t, std::uint32_t, std::uint32_t>> admin;  // opcode, nsid, cdw10, length
    for (const auto& call : rec.requests) {
      if (call.request != NVME_IOCTL_ADMIN_CMD) continue;
      EXPECT_EQ(call.path, "/dev/nvme0n1");
      nvme_admin_cmd c;
      std::memcpy(&c, call.command.data(), sizeof c);
      admin.emplace_back(c.opcode, c.nsid, c.cdw10, c.data_len);
    }
    // Each page and the power state once, through the disk's own node.
    EXPECT_EQ(admin, (std::vector<std::tuple<int, std::uint32_t, std::uint32_t, std::uint32_t>>{
                         {0x06, 0, 1, 4096},
                         {0x0A, 0, 0x02, 0},
                         {0x06, 1, 0, 4096},
                         {0x02, 0xFFFFFFFF, 0x02 | (127u << 16), 512}}));
    for (const auto& open : rec.opens) EXPECT_EQ(open.flags & O_ACCMODE, O_RDONLY) << open.path;
    EXPECT_EQ(rec.openNow, 0);
  }
}

// The layer's NVMe queries send only the admin commands it knows (the three pages and the
// power state): a query for another page, another log, another feature or another protocol
// is refused before it reaches the controller, as is one whose data area lies outside the
// query or one on a handle opened without access rights.
TEST(RecordedMachines, NvmeQueriesOutsideTheKnownPagesAreRefused) {
  Tree tree;
  Recorder rec;
  rec.passOthers = false;
  Laptop(tree, rec);
  LinuxPlatform layer(tree.Root());
  platform::SetLinuxSystemCalls(layer.Devices(), &rec);
  auto& api = layer.Devices();
  const Handle h = api.CreateFile("\\\\.\\PhysicalDrive0", devio::kGenericRead, 3, devio::kOpenExisting, 0);
  ASSERT_NE(h, platform::kInvalidHandle);
  const Handle queryOnly = api.CreateFile("\\\\.\\PhysicalDrive0", 0, 3, devio::kOpenExisting, 0);
  const Handle stick = api.CreateFile("\\\\.\\PhysicalDrive1", devio::kGenericRead, 3, devio::kOpenExisting, 0);
  auto ask = [&](Handle on, std::uint32_t property, std::uint32_t protocol, std::uint32_t type, std::uint32_t value,
                 std::uint32_t sub, std::uint32_t length, std::size_t cut = 0) {
    devio::ProtocolQuery q;
    q.propertyId = property;
    q.data = {protocol, type, value, sub, 0, length};
    auto block = q.Encode();
    block.resize(block.size() - cut);
    std::vector<std::uint8_t> out(8192);
    std::uint32_t n = 0;
    return api.DeviceIoControl(on, devio::kStorageQueryProperty, block.data(), static_cast<std::uint32_t>(block.size()),
                               out.data(), static_cast<std::uint32_t>(out.size()), n);
  };
  constexpr std::uint32_t kNvme = devio::ProtocolSpecificData::kProtocolNvme, kId = devio::ProtocolSpecificData::kNvmeIdentify,
                          kLog = devio::ProtocolSpecificData::kNvmeLogPage, kDev = devio::ProtocolQuery::kDeviceProperty,
                          kFeature = devio::ProtocolSpecificData::kNvmeFeature;
  EXPECT_TRUE(ask(h, kDev, kNvme, kLog, 2, 0, 512));
  EXPECT_TRUE(ask(h, kDev, kNvme, kFeature, 0x02, 0, 0));
  const std::size_t known = rec.requests.size();
  EXPECT_FALSE(ask(h, kDev, kNvme, kFeature, 0x02, 1, 0));    // power management with another dword 11
  EXPECT_FALSE(ask(h, kDev, kNvme, kFeature, 0x0C, 0, 0));    // autonomous power state transitions
  EXPECT_FALSE(ask(queryOnly, kDev, kNvme, kFeature, 0x02, 0, 0));
  EXPECT_FALSE(ask(h, kDev, kNvme, kId, 2, 0, 4096));         // active namespace list
  EXPECT_FALSE(ask(h, kDev, kNvme, kLog, 1, 0, 4096));        // error log
  EXPECT_FALSE(ask(h, kDev, kNvme, kLog, 2, 512, 512));       // the log at another offset
  EXPECT_FALSE(ask(h, kDev, kNvme, 3, 0x06, 0, 4096));        // a feature
  EXPECT_FALSE(ask(h, kDev, 2, kId, 1, 0, 4096));             // the ATA protocol
  EXPECT_FALSE(ask(h, kDev, kNvme, kLog, 2, 0, 256));         // too little room for the log
  EXPECT_FALSE(ask(h, kDev, kNvme, kLog, 2, 0, 512, 1));      // data area cut short
  EXPECT_FALSE(ask(queryOnly, kDev, kNvme, kLog, 2, 0, 512));
  EXPECT_FALSE(ask(stick, kDev, kNvme, kLog, 2, 0, 512));     // no NVMe disk
  for (std::size_t i = known; i < rec.requests.size(); ++i)
    EXPECT_NE(rec.requests[i].request, static_cast<unsigned long>(NVME_IOCTL_ADMIN_CMD));
  for (Handle x : {h, queryOnly, stick}) api.CloseHandle(x);
}

// The ATA command an ATA PASS-THROUGH block carries (16- or 12-byte form), or -1.
int AtaCommandOf(const std::vector<std::uint8_t>& cdb) {
  if (cdb[0] == 0x85 && cdb.size() >= 16) return cdb[14];
  if (cdb[0] == 0xA1 && cdb.size() >= 12) return cdb[9];
  return -1;
}

// A desktop whose data disk (a WD5000AAKS, recorded) sits in a USB enclosure: the bridge
// names itself in its inquiry data; the drive answers IDENTIFY, SMART READ DATA and CHECK
// POWER MODE through ATA PASS-THROUGH, in the 16-byte form or, behind an older bridge, only
// in the 12-byte one; `asleep` when the drive is in standby.
struct UsbSatDisk {
  bool twelveOnly = false, asleep = false, fixedSense = false;
  std::vector<std::vector<std::uint8_t>> served;  // the commands the drive itself ran

  void Build(Tree& t, Recorder& rec) {
    const std::string root = "sys/devices/pci0000:00/0000:00:17.0/ata1/host0/target0:0:0/0:0:0:0";
    ScsiBlock(t, root, "sda", "ATA     ", "ST320410A       ", "3.39", 0, 39102336, false);
    t.File("sys/class/ata_link/link1/sata_spd", "1.5 Gbps\n");
    Partition(t, root + "/block/sda", "sda1", 63, 39102273);
    rec.nodes["sda"] = ScsiDisk(39102336, Mbr({{0x83, 63, 39102273}}), Inquiry(0, "ATA", "ST320410A", "3.39"),
                                IdentifyOf("ST320410A--3.39"));
    rec.nodes["sda1"].bytes = 1 << 20;

    const std::string usb = "sys/devices/pci0000:00/0000:00:14.0/usb2/2-3/2-3:1.0/host4/target4:0:0/4:0:0:0";
    ScsiBlock(t, usb, "sdb", "JMicron ", "Generic         ", "0508", 0, 976773168, false);
    Partition(t, usb + "/block/sdb", "sdb1", 2048, 976771072);
    FakeNode n;
    n.bytes = 976773168ULL * 512;
    n.image = Mbr({{0x07, 2048, 976771072}});
    const Block identify = IdentifyOf("WDC_WD5000AAKS--00TMA0-12.01C01");
    const Block smart = SmartDataOf("WDC_WD5000AAKS--00TMA0-12.01C01");
    n.scsi = [this, identify, smart](const std::vector<std::uint8_t>& cdb) {
      if (cdb[0] == 0x12) return ScsiReply{0, Inquiry(0, "JMicron", "Generic", "0508"), {}};
      const int command = AtaCommandOf(cdb);
      if (command < 0 || (twelveOnly && cdb[0] == 0x85)) return IllegalRequest();
      served.push_back(cdb);
      if (command == 0xE5) return (fixedSense ? FixedAtaRegistersReply : AtaRegistersReply)(asleep ? 0x00 : 0xFF);
      if (command == 0xEC) return ScsiReply{0, {identify.begin(), identify.end()}, {}};
      if (command == 0xB0) return ScsiReply{0, {smart.begin(), smart.end()}, {}};
      return IllegalRequest();
    };
    rec.nodes["sdb"] = n;
    rec.nodes["sdb1"].bytes = 1 << 20;
    t.File("proc/self/mounts", "/dev/sda1 / ext4 rw 0 0\n/dev/sdb1 /media/backup ntfs3 rw 0 0\n");
  }
};

// The drive behind the bridge, as `smartctl -d sat` reads it: the record carries the drive's
// identity, identify data and SMART values, and names the bridge beside them; the drive's
// volume links to it. Through either form of the command, whichever the bridge takes; the
// 12-byte form only after the 16-byte one was refused, and only to this disk.
TEST(RecordedMachines, UsbSatDiskShowsTheDriveNotTheBridge) {
  for (bool twelveOnly : {false, true}) {
    SCOPED_TRACE(twelveOnly ? "12-byte bridge" : "16-byte bridge");
    Tree tree;
    Recorder rec;
    rec.passOthers = false;
    UsbSatDisk machine;
    machine.twelveOnly = twelveOnly;
    machine.Build(tree, rec);
    LinuxPlatform layer(tree.Root());
    platform::SetLinuxSystemCalls(layer.Devices(), &rec);
    ScopedPlatform scope(layer);
    TKyvex_Storage storage;
    storage.CollectData();
    ASSERT_EQ(storage.PhysicalCount(), 2);
    const TDeviceInfo& usb = storage.PhysicalDevices()[1];
    EXPECT_EQ(usb.DevicePath, "/dev/sdb");
    EXPECT_EQ(usb.Vendor, "WDC");
    EXPECT_EQ(usb.Model, "WD5000AAKS-00TMA0");
    EXPECT_EQ(usb.SerialNumber, "WD-WCAPW0493929");
    EXPECT_EQ(usb.Revision, "12.01C01");
    EXPECT_EQ(usb.Bridge, "JMicron Generic");
    EXPECT_EQ(usb.BusType, devio::kBusUsb);
    EXPECT_TRUE(usb.SMARTSupport && usb.SMARTActive);
    EXPECT_FALSE(usb.SMARTAttributes.empty());
    EXPECT_GT(usb.Temperature, 0);
    EXPECT_FALSE(usb.Standby);
    // The SATA system disk is no bridge's.
    EXPECT_EQ(storage.PhysicalDevices()[0].Model, "ST320410A");
    EXPECT_TRUE(storage.PhysicalDevices()[0].Bridge.empty());
    std::vector<std::pair<char, int>> links;
    for (const auto& l : storage.LogicalDevices()) links.push_back({l.Drive, l.PHYSIndex});
    EXPECT_EQ(links, (std::vector<std::pair<char, int>>{{'C', 0}, {'D', 1}}));

    bool sawIdentify = false;
    for (const auto& cdb : machine.served) sawIdentify |= AtaCommandOf(cdb) == 0xEC;
    EXPECT_TRUE(sawIdentify);
    for (const auto& cdb : rec.CommandBlocks()) {
      const int command = AtaCommandOf(cdb);
      if (command >= 0) {
        EXPECT_TRUE(command == 0xEC || command == 0xB0 || command == 0xE5) << command;
      }
    }
    for (const char* node : {"sda", "sda1"}) {
      for (const auto& cdb : rec.CommandBlocks(node)) EXPECT_NE(cdb[0], 0xA1) << node;
    }
    // The 12-byte form only where the 16-byte one was refused.
    if (!twelveOnly) {
      for (const auto& cdb : rec.CommandBlocks("sdb")) EXPECT_NE(cdb[0], 0xA1);
    }
    for (const auto& open : rec.opens) EXPECT_EQ(open.flags & O_ACCMODE, O_RDONLY) << open.path;
    EXPECT_EQ(rec.openNow, 0);
  }
}

// A disk in standby is not woken, as `smartctl -n standby` leaves it: CHECK POWER MODE goes
// first, through either form, its registers in either sense format, and no IDENTIFY and no
// SMART read follow. The record holds what the system knew (the bridge's names, size,
// location) and says the disk is in standby.
TEST(RecordedMachines, SleepingDiskIsNotWoken) {
  for (auto [twelveOnly, fixedSense] : {std::pair{false, false}, std::pair{true, false}, std::pair{false, true}}) {
    SCOPED_TRACE(std::string(twelveOnly ? "12-byte bridge" : "16-byte bridge") + (fixedSense ? ", fixed sense" : ""));
    Tree tree;
    Recorder rec;
    rec.passOthers = false;
    UsbSatDisk machine;
    machine.twelveOnly = twelveOnly;
    machine.fixedSense = fixedSense;
    machine.asleep = true;
    machine.Build(tree, rec);
    LinuxPlatform layer(tree.Root());
    platform::SetLinuxSystemCalls(layer.Devices(), &rec);
    ScopedPlatform scope(layer);
    TKyvex_Storage storage;
    storage.CollectData();
    ASSERT_EQ(storage.PhysicalCount(), 2);
    const TDeviceInfo& usb = storage.PhysicalDevices()[1];
    EXPECT_TRUE(usb.Standby);
    EXPECT_EQ(usb.Model, "Generic");
    EXPECT_EQ(usb.DevicePath, "/dev/sdb");
    EXPECT_EQ(usb.Size, 976773168LL * 512 / (255 * 63 * 512) * (255 * 63 * 512));
    EXPECT_TRUE(usb.LocationAvailable);
    EXPECT_TRUE(usb.SMARTAttributes.empty());
    EXPECT_FALSE(storage.PhysicalDevices()[0].Standby);
    EXPECT_FALSE(storage.PhysicalDevices()[0].SMARTAttributes.empty());
    ASSERT_FALSE(machine.served.empty());
    for (const auto& cdb : machine.served) EXPECT_EQ(AtaCommandOf(cdb), 0xE5);
    // Its medium is not read either (the partition table): the drive on it keeps its link by
    // location, without its partition entry. The awake disk's table was read.
    EXPECT_EQ(std::count(rec.reads.begin(), rec.reads.end(), "/dev/sdb"), 0);
    EXPECT_GT(std::count(rec.reads.begin(), rec.reads.end(), "/dev/sda"), 0);
    ASSERT_EQ(storage.LogicalCount(), 2);
    EXPECT_EQ(storage.LogicalDevices()[1].PHYSIndex, 1);
    EXPECT_TRUE(storage.LogicalDevices()[1].Layout.empty());
    EXPECT_FALSE(storage.LogicalDevices()[0].Layout.empty());
  }
}

// A SAS disk takes no ATA command; it tells its power condition in the sense data REQUEST
// SENSE returns (additional sense code 5Eh), as `smartctl -n standby` asks it. One in a
// standby condition gets nothing that needs its medium: its partition table is not read and
// it is sent only requests a device answers without spinning up. Idle conditions, other
// sense data and a refused request (taken as active, as smartctl takes it) leave it awake.
TEST(RecordedMachines, ScsiDiskInStandbyIsNotWoken) {
  auto fixed = [](std::uint8_t asc, std::uint8_t ascq, std::size_t length = 18) {
    std::vector<std::uint8_t> s(18, 0);
    s[0] = 0x70;
    s[7] = 10;
    s[12] = asc;
    s[13] = ascq;
    s.resize(length);
    return ScsiReply{0, s, {}};
  };
  auto descriptor = [](std::uint8_t asc, std::uint8_t ascq) {
    return ScsiReply{0, {0x72, 0x00, asc, ascq, 0, 0, 0, 0}, {}};
  };
  struct Case {
    const char* what;
    ScsiReply sense;
    bool standby;
  } cases[] = {
      {"no sense", fixed(0, 0), false},
      {"low power condition on", fixed(0x5E, 0x00), true},
      {"standby by timer", fixed(0x5E, 0x02), true},
      {"standby by command, descriptor format", descriptor(0x5E, 0x04), true},
      {"standby_y by command", fixed(0x5E, 0x0A), true},
      {"idle by command", fixed(0x5E, 0x03), false},
      {"idle_c by timer", descriptor(0x5E, 0x07), false},
      {"sense cut before its codes", fixed(0x5E, 0x02, 12), false},
      {"request refused", IllegalRequest(), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Tree tree;
    Recorder rec;
    rec.passOthers = false;
    const std::string sas = "sys/devices/pci0000:00/0000:00:03.0/0000:02:00.0/host0/port-0:0/end_device-0:0/target0:0:0/0:0:0:0";
    ScsiBlock(tree, sas, "sda", "SEAGATE ", "ST600MM0006     ", "0004", 0, 1172123568, false);
    Partition(tree, sas + "/block/sda", "sda1", 2048, 1172121520);
    FakeNode disk;
    disk.bytes = 1172123568ULL * 512;
    disk.image = Mbr({{0x83, 2048, 1172121520}});
    const auto inquiry = Inquiry(0, "SEAGATE", "ST600MM0006", "0004");
    const ScsiReply sense = c.sense;
    disk.scsi = [inquiry, sense](const std::vector<std::uint8_t>& cdb) {
      if (cdb[0] == 0x12) return ScsiReply{0, inquiry, {}};
      if (cdb[0] == 0x03) return sense;
      return IllegalRequest();
    };
    rec.nodes["sda"] = disk;
    rec.nodes["sda1"].bytes = 1 << 20;
    tree.File("proc/self/mounts", "/dev/sda1 / xfs rw 0 0\n");
    LinuxPlatform layer(tree.Root());
    platform::SetLinuxSystemCalls(layer.Devices(), &rec);
    ScopedPlatform scope(layer);
    TKyvex_Storage storage;
    storage.CollectData();

    ASSERT_EQ(storage.PhysicalCount(), 1);
    const TDeviceInfo& d = storage.PhysicalDevices()[0];
    EXPECT_EQ(d.Standby, c.standby);
    EXPECT_EQ(d.Model, "ST600MM0006");
    EXPECT_EQ(d.BusType, devio::kBusSas);
    EXPECT_EQ(d.DevicePath, "/dev/sda");
    bool askedPower = false;
    for (const auto& cdb : rec.CommandBlocks("sda")) askedPower |= cdb[0] == 0x03;
    EXPECT_TRUE(askedPower);
    ASSERT_EQ(storage.LogicalCount(), 1);
    EXPECT_EQ(storage.LogicalDevices()[0].PHYSIndex, 0);
    const long reads = std::count(rec.reads.begin(), rec.reads.end(), "/dev/sda");
    if (c.standby) {
      EXPECT_EQ(reads, 0);
      EXPECT_TRUE(storage.LogicalDevices()[0].Layout.empty());
      // Inquiry, the power questions and the capabilities page: nothing that reads the
      // medium, no log page.
      for (const auto& cdb : rec.CommandBlocks("sda"))
        EXPECT_TRUE(cdb[0] == 0x12 || cdb[0] == 0x03 || cdb[0] == 0x85 || cdb[0] == 0xA1 || cdb[0] == 0x1A)
            << std::hex << int{cdb[0]};
    } else {
      EXPECT_GT(reads, 0);
      EXPECT_EQ(storage.LogicalDevices()[0].Layout.size(), 1u);
    }
  }
}

// The server's twins keep their own serial numbers and SMART data as root.
TEST(RecordedMachines, TwinDisksKeepTheirOwnIdentity) {
  Tree tree;
  Recorder rec;
  rec.passOthers = false;
  Server(tree, rec);
  LinuxPlatform layer(tree.Root());
  platform::SetLinuxSystemCalls(layer.Devices(), &rec);
  ScopedPlatform scope(layer);
  TKyvex_Storage storage;
  storage.CollectData();
  ASSERT_EQ(storage.PhysicalCount(), 2);
  const auto& p = storage.PhysicalDevices();
  EXPECT_EQ(p[0].SerialNumber, "ZC1A0001");
  EXPECT_EQ(p[1].SerialNumber, "ZC1A0002");
  EXPECT_EQ(std::make_tuple(p[0].HaId, p[1].HaId), std::make_tuple(0, 1));
  for (const auto& d : p) {
    EXPECT_TRUE(d.SMARTSupport);
    EXPECT_EQ(d.Temperature, 31);
  }
}

// A stick plugged into the laptop takes a number after the NVMe disk, however the kernel
// named them; so does a removable disk that is not on USB, and an SD card after the
// soldered eMMC. Names count naturally (sdb before sdaa, nvme2n1 before nvme10n1).
TEST(RecordedMachines, FixedDisksComeBeforeTransientOnes) {
  struct Disk {
    const char* name;
    const char* parent;
    bool removable;
  };
  struct Case {
    std::vector<Disk> disks;
    std::vector<std::string> order;
  } cases[] = {
      {{{"sda", "sys/devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0/host0/target0:0:0/0:0:0:0", false},
        {"nvme0n1", "sys/devices/pci0000:00/0000:00:1d.0/nvme/nvme0", false}},
       {"nvme0n1", "sda"}},
      {{{"sda", "sys/devices/pci0000:00/0000:00:17.0/ata1/host0/target0:0:0/0:0:0:0", true},
        {"sdb", "sys/devices/pci0000:00/0000:00:17.0/ata2/host1/target1:0:0/1:0:0:0", false},
        {"sdaa", "sys/devices/pci0000:00/0000:00:17.0/ata3/host2/target2:0:0/2:0:0:0", false}},
       {"sdb", "sdaa", "sda"}},
      {{{"nvme10n1", "sys/devices/pci0000:00/0000:00:1c.0/nvme/nvme10", false},
        {"nvme2n1", "sys/devices/pci0000:00/0000:00:1b.0/nvme/nvme2", false},
        {"mmcblk0", "sys/devices/pci0000:00/0000:00:1e.6/mmc_host/mmc0/mmc0:0001", false},
        {"mmcblk1", "sys/devices/pci0000:00/0000:00:1e.7/mmc_host/mmc1/mmc1:0001", false},
        {"vda", "sys/devices/pci0000:00/0000:00:04.0/virtio1", false}},
       {"nvme2n1", "nvme10n1", "vda", "mmcblk1", "mmcblk0"}},
  };
  for (const auto& c : cases) {
    Tree tree;
    for (const auto& d : c.disks) BlockDevice(tree, d.parent, d.name, "1000000", d.removable, "../..");
    tree.File("sys/devices/pci0000:00/0000:00:1e.6/mmc_host/mmc0/mmc0:0001/type", "SD\n");  // a card slot
    tree.File("sys/devices/pci0000:00/0000:00:1e.7/mmc_host/mmc1/mmc1:0001/type", "MMC\n");  // soldered eMMC
    LinuxPlatform layer(tree.Root());
    std::vector<std::string> order;
    for (std::size_t n = 0; n < c.disks.size(); ++n)
      order.push_back(platform::LinuxDeviceNode(layer.Devices(), "\\\\.\\PhysicalDrive" + std::to_string(n)).substr(5));
    EXPECT_EQ(order, c.order);
  }
}

// The laptop's USB DVD writer takes only MODE SENSE(10): the capabilities page is read
// through it, and the 6-byte form never reaches the drive.
TEST(RecordedMachines, OpticalDrivesAreAskedWithModeSenseTen) {
  Tree tree;
  Recorder rec;
  rec.passOthers = false;
  Laptop(tree, rec);
  LinuxPlatform layer(tree.Root());
  platform::SetLinuxSystemCalls(layer.Devices(), &rec);
  ScopedPlatform scope(layer);
  TKyvex_Storage storage;
  storage.CollectData();
  ASSERT_EQ(storage.PhysicalCount(), 3);
  const TDeviceInfo& dvd = storage.PhysicalDevices()[2];
  const std::vector<bool> abilities = {dvd.Read_CDR,    dvd.Read_CDRW,   dvd.Read_DVDROM, dvd.Read_DVDR, dvd.Read_DVDRAM,
                                       dvd.Write_CDR,   dvd.Write_CDRW,  dvd.Write_DVDR,  dvd.Write_DVDRAM};
  EXPECT_EQ(abilities, std::vector<bool>(9, true));
  bool ten = false;
  for (const auto& cdb : rec.CommandBlocks("sr0")) {
    EXPECT_NE(cdb[0], 0x1A);
    ten |= cdb[0] == 0x5A && cdb[2] == 0x2A && (cdb[1] & 0x08);
  }
  EXPECT_TRUE(ten);
  // The USB stick is a disk: its MODE SENSE stays the 6-byte form.
  bool six = false;
  for (const auto& cdb : rec.CommandBlocks("sda")) six |= cdb[0] == 0x1A;
  EXPECT_TRUE(six);
}

// The 10-byte reply handed back in the 6-byte form: header fields, block descriptors, and
// the caller's length.
TEST(RecordedMachines, ModeSenseTenReplyInTheSixByteForm) {
  struct Case {
    const char* what;
    std::vector<std::uint8_t> reply10;
    std::size_t asked;
    std::vector<std::uint8_t> want6;
  } cases[] = {
      {"no descriptors", {0, 12, 0x70, 0x80, 0, 0, 0, 0, 0x2A, 0x04, 0x3B, 0x33, 0, 0}, 192,
       {9, 0x70, 0x80, 0, 0x2A, 0x04, 0x3B, 0x33, 0, 0}},
      {"one descriptor", {0, 20, 0, 0, 0, 0, 0, 8, 1, 2, 3, 4, 5, 6, 7, 8, 0x2A, 0x04, 0x3B, 0x33, 0, 0}, 192,
       {17, 0, 0, 8, 1, 2, 3, 4, 5, 6, 7, 8, 0x2A, 0x04, 0x3B, 0x33, 0, 0}},
      {"long descriptor left out", {0, 28, 0, 0, 1, 0, 0, 16, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16,
                                    0x2A, 0x04, 0x3B, 0x33, 0, 0}, 192,
       {9, 0, 0, 0, 0x2A, 0x04, 0x3B, 0x33, 0, 0}},
      {"cut to the length asked", {0, 12, 0x70, 0, 0, 0, 0, 0, 0x2A, 0x04, 0x3B, 0x33, 0, 0}, 6,
       {9, 0x70, 0, 0, 0x2A, 0x04}},
      {"data shorter than the length told", {0, 200, 0, 0, 0, 0, 0, 0, 0x2A, 0x04, 0x3B, 0x33, 0, 0}, 192,
       {197, 0, 0, 0, 0x2A, 0x04, 0x3B, 0x33, 0, 0}},
      {"header only", {0, 6, 0, 0, 0, 0, 0, 0}, 192, {3, 0, 0, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Recorder rec;
    FakeNode& node = rec.nodes["sr0"];
    std::vector<std::uint8_t> sent;
    node.scsi = [&](const std::vector<std::uint8_t>& cdb) {
      sent = cdb;
      std::vector<std::uint8_t> r = c.reply10;
      const std::size_t allocation = (cdb[7] << 8) | cdb[8];
      if (r.size() > allocation) r.resize(allocation);
      return ScsiReply{0, r, {}};
    };
    const int fd = rec.Open("/dev/sr0", O_RDONLY);
    const std::uint8_t cdb6[6] = {0x1A, 0x08, 0x2A, 0, static_cast<std::uint8_t>(c.asked), 0};
    std::vector<std::uint8_t> data(c.asked), sense;
    std::uint8_t status = 0xFF;
    std::uint32_t error = 0;
    ASSERT_TRUE(platform::linuxscsi::ModeSenseAsTen(rec, fd, cdb6, data, 5000, status, sense, error));
    EXPECT_EQ(status, 0);
    EXPECT_EQ(data, c.want6);
    ASSERT_EQ(sent.size(), 10u);
    EXPECT_EQ(sent[0], 0x5A);
    EXPECT_EQ(sent[2], 0x2A);
    EXPECT_EQ((sent[7] << 8) | sent[8], static_cast<int>(c.asked + 4));
    rec.Close(fd);
  }
}

// A mounted disc is a file system on an optical drive: a CD-ROM drive, the drive's media
// types and its 2048-byte sectors, never a removable disk of 255 heads.
TEST(RecordedMachines, MountedDiscIsAnOpticalVolume) {
  for (Rights rights : {Rights::Root, Rights::User}) {
    SCOPED_TRACE(rights == Rights::Root ? "as root" : "as user");
    Tree tree;
    Recorder root;
    DenyAll user;
    root.passOthers = false;
    Laptop(tree, root);
    Recorder& rec = rights == Rights::Root ? root : static_cast<Recorder&>(user);
    LinuxPlatform layer(tree.Root());
    platform::SetLinuxSystemCalls(layer.Devices(), &rec);
    ScopedPlatform scope(layer);
    EXPECT_EQ(layer.Devices().GetDriveType("F:\\"), devio::kDriveCdrom);
    TKyvex_Storage storage;
    storage.CollectData();
    ASSERT_EQ(storage.LogicalCount(), 4);
    const TDeviceInfo& disc = storage.LogicalDevices()[3];
    EXPECT_EQ(disc.Drive, 'F');
    EXPECT_NE(disc.DeviceType, kDeviceTypeDisk);
    EXPECT_NE(disc.MediaType, devio::kMediaRemovable);
    EXPECT_EQ(disc.MediaType, devio::kMediaCdRom);
    EXPECT_TRUE(disc.Layout.empty());
    if (rights == Rights::Root) {
      EXPECT_EQ(disc.DeviceType, devio::kFileDeviceDvd);  // as the drive's own record
      EXPECT_EQ(disc.DeviceType, storage.PhysicalDevices()[2].DeviceType);
    }
    const Handle h = layer.Devices().CreateFile("\\\\.\\F:", 0, 3, 3, 0);
    TDiskGeometry g;
    ASSERT_TRUE(GetDriveGeometry(h, g));
    EXPECT_EQ(g.BytesPerSector, 2048u);
    EXPECT_NE(g.TracksPerCylinder, 255u);
    layer.Devices().CloseHandle(h);
  }
}

}  // namespace

#endif  // __linux__
