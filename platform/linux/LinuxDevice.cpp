// The Linux device layer: Windows' device paths and I/O control requests answered from sysfs,
// the block-device ioctls, SCSI generic requests and the partition table on the disk.
//
//   \\.\PhysicalDriveN  the whole-disk block devices (nvme*n*, sd*, vd*, xvd*, hd*, mmcblk*):
//                       fixed disks first, then removable and hot-plugged ones, loop
//                       devices last, when asked for (see Scan)
//   \\.\CdromN          /dev/srN
//   \\.\TapeN           /dev/stN, opened through /dev/nstN so that closing does not rewind
//   \\.\C:, \\.\D:, ... the mounted block-device file systems, the root file system first
//
// A query-only open (no access rights) touches no device node and is answered from sysfs, as
// Windows answers such handles without administrator rights; an open for reading or writing
// opens the node, read-only in both cases, and fails when that is refused. No request that
// changes a device is passed on. A request Linux cannot answer fails, as it would on Windows.
#include <dirent.h>
#include <fcntl.h>
#ifdef __linux__
#include <sys/sysmacros.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <mutex>
#include <optional>
#include <utility>

#include "platform/linux/LinuxDevice.h"
#include "platform/linux/LinuxDeviceScsi.h"
#include "platform/linux/LinuxPlatform.h"
#include "platform/Text.h"

namespace kyvex::platform {

using namespace devio;
namespace fs = std::filesystem;

namespace {

thread_local std::uint32_t t_lastError = 0;

bool Fail(std::uint32_t error) {
  t_lastError = error;
  return false;
}

std::uint32_t ErrorOfErrno(int e) {
  switch (e) {
    case EACCES:
    case EPERM:
    case EROFS:
      return kErrorAccessDenied;
    case ENOENT:
    case ENXIO:
    case ENODEV:
      return kErrorFileNotFound;
    case linuxdev::kKernelENOMEDIUM:
      return kErrorNotReady;
    case EBUSY:
      return kErrorSharingViolation;
    case ENOTTY:
    case EINVAL:
    case linuxdev::kKernelEOPNOTSUPP:
      return kErrorInvalidFunction;
    default:
      return kErrorIoDevice;
  }
}

std::string StripNewline(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
  return s;
}

bool StartsWith(std::string_view s, std::string_view p) { return s.substr(0, p.size()) == p; }

bool AllDigits(std::string_view s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::uint64_t ToNumber(const std::string& s) {
  std::uint64_t v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') break;
    v = v * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return v;
}

// Which whole-disk devices are physical drives, and the rank of their kind in the numbering:
// NVMe first (the system disk of today's machines), then SCSI and SATA, virtio, Xen, legacy
// IDE, MMC/SD; -1 for devices that are not drives.
int DiskRank(const std::string& name, bool loops) {
  auto digitsAfter = [&](std::size_t n) { return name.size() > n && AllDigits(std::string_view(name).substr(n)); };
  if (StartsWith(name, "nvme") && name.find('n', 4) != std::string::npos && name.find('c') == std::string::npos)
    return 0;
  if (StartsWith(name, "sd")) return 1;
  if (StartsWith(name, "vd")) return 2;
  if (StartsWith(name, "xvd")) return 3;
  if (StartsWith(name, "hd")) return 4;
  if (StartsWith(name, "mmcblk") && digitsAfter(6)) return 5;
  if (loops && StartsWith(name, "loop") && digitsAfter(4)) return 6;
  return -1;
}

// The number a disk's name carries within its kind: "vdb" 1, "sdaa" 26, "mmcblk2" 2,
// "loop7" 7; for an NVMe namespace its controller. The letters count as the kernel counts
// them (a..z, then aa..zz, ...).
std::uint32_t DiskOrdinal(const std::string& name) {
  std::size_t at = 0;
  for (const char* prefix : {"nvme", "mmcblk", "loop", "xvd", "sd", "vd", "hd"})
    if (StartsWith(name, prefix)) {
      at = std::strlen(prefix);
      break;
    }
  if (at < name.size() && name[at] >= '0' && name[at] <= '9') {
    std::uint32_t n = 0;
    for (; at < name.size() && name[at] >= '0' && name[at] <= '9'; ++at) n = n * 10 + static_cast<std::uint32_t>(name[at] - '0');
    return n;
  }
  std::uint32_t n = 0;
  for (; at < name.size() && name[at] >= 'a' && name[at] <= 'z'; ++at) n = n * 26 + static_cast<std::uint32_t>(name[at] - 'a' + 1);
  return n ? n - 1 : 0;
}

enum class Kind { Disk, Cdrom, Tape, Volume };

struct Target {
  Kind kind = Kind::Disk;
  std::string node;  // the node the path opens: "vda", "sr0", "nst0", "vda1"
  std::string disk;  // the whole disk that holds it ("vda"); the tape's "st0" for tapes
  int driveNumber = -1;  // the PhysicalDrive number of `disk`, -1 when it has none
};

struct OpenDevice {
  Target target;
  linuxdev::SystemCalls* sys = nullptr;  // the calls the handle's nodes were opened through
  std::uint32_t access = 0;
  int fd = -1;      // the node of the target, when opened with access rights
  int diskFd = -1;  // a volume's disk, opened when a request needs it
};

class LinuxDevice : public DeviceApi {
 public:
  explicit LinuxDevice(LinuxPlatform& owner) : owner_(owner) {}
  ~LinuxDevice() override {
    for (auto& [h, d] : handles_) CloseFds(d);
  }

  void SetSystemCalls(linuxdev::SystemCalls* calls) {
    std::lock_guard<std::mutex> lock(mutex_);
    sys_ = calls ? calls : &linuxdev::KernelSystemCalls();
  }

  void SetOptions(const LinuxDeviceOptions& options) {
    std::lock_guard<std::mutex> lock(mutex_);
    options_ = options;
    snapshotTime_ = {};
  }

  std::string NodeOf(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    Target t;
    if (!Resolve(path, t)) return {};
    return "/dev/" + t.node;
  }

  // The node a path opens; for a drive letter also where its file system is mounted (every
  // place, bind mounts too) and the file system's type, from the mount table.
  bool QueryDeviceNames(const std::string& path, DeviceNames& names) override {
    std::lock_guard<std::mutex> lock(mutex_);
    names = {};
    Target t;
    if (!Resolve(path, t)) return Fail(kErrorFileNotFound);
    names.device = "/dev/" + t.node;
    // A device-mapper volume (LVM, LUKS) is known by its name under /dev/mapper, as the mount
    // table and every tool show it, not by its dm-N node.
    if (StartsWith(t.node, "dm-")) {
      const std::string name = Read(BlockDir(t.node) + "/dm/name");
      if (!name.empty() && name.find('/') == std::string::npos) names.device = "/dev/mapper/" + name;
    }
    if (t.kind == Kind::Volume) {
      const auto& mounts = Snap().mounts;
      if (auto it = mounts.find(t.node); it != mounts.end()) {
        names.mountPoints = it->second.points;
        names.fileSystem = it->second.fileSystem;
      }
    }
    return true;
  }

  Handle CreateFile(const std::string& path, std::uint32_t desiredAccess, std::uint32_t, std::uint32_t,
                    std::uint32_t) override {
    std::lock_guard<std::mutex> lock(mutex_);
    OpenDevice d;
    d.sys = sys_;
    if (!Resolve(path, d.target)) {
      Fail(kErrorFileNotFound);
      return kInvalidHandle;
    }
    d.access = desiredAccess & (kGenericRead | kGenericWrite);
    if (d.access) {
      d.fd = OpenNode(d, d.target.node);
      if (d.fd < 0) {
        Fail(ErrorOfErrno(errno));
        return kInvalidHandle;
      }
    }
    const Handle h = nextHandle_++;
    handles_[h] = d;
    return h;
  }

  bool CloseHandle(Handle h) override {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = handles_.find(h);
    if (it == handles_.end()) return Fail(kErrorInvalidHandle);
    CloseFds(it->second);
    handles_.erase(it);
    return true;
  }

  bool DeviceIoControl(Handle h, std::uint32_t code, const std::uint8_t* in, std::uint32_t inSize,
                       std::uint8_t* out, std::uint32_t outSize, std::uint32_t& bytesReturned) override {
    std::lock_guard<std::mutex> lock(mutex_);
    bytesReturned = 0;
    auto it = handles_.find(h);
    if (it == handles_.end()) return Fail(kErrorInvalidHandle);
    OpenDevice& d = it->second;
    if ((RequiredAccess(code) & ~d.access) != 0) return Fail(kErrorAccessDenied);
    std::vector<std::uint8_t> input(in, in + (in ? inSize : 0));  // `in` may be `out`
    std::vector<std::uint8_t> reply;
    bool ok = false;
    switch (code) {
      case kSmartGetVersion: ok = SmartVersion(d, reply); break;
      case kSmartRcvDriveData: ok = SmartCommand(d, input, reply); break;
      case kScsiPassThrough: return PassThrough(d, input, out, outSize, bytesReturned);
      case kScsiGetAddress: ok = ScsiAddress(d, reply); break;
      case kStorageQueryProperty: ok = QueryProperty(d, input, reply); break;
      case kStorageGetMediaTypesEx: ok = Media(d, reply); break;
      case kDiskGetDriveGeometry: {
        devio::DiskGeometry g;
        ok = Geometry(d, g);
        if (ok) reply = g.Encode();
        break;
      }
      case kDiskGetDriveLayout: ok = DriveLayout(d, reply); break;
      case kVolumeGetVolumeDiskExtents: ok = VolumeExtents(d, reply); break;
      default:
        // The SCSI miniport, media serial numbers and everything else: nothing on Linux
        // answers them.
        return Fail(kErrorInvalidFunction);
    }
    if (!ok) return false;
    if (reply.size() > outSize)
      return Fail(code == kVolumeGetVolumeDiskExtents ? kErrorMoreData : kErrorInsufficientBuffer);
    if (!reply.empty()) std::memcpy(out, reply.data(), reply.size());
    bytesReturned = static_cast<std::uint32_t>(reply.size());
    return true;
  }

  std::uint32_t GetLastError() override { return t_lastError; }

  std::uint32_t SetErrorMode(std::uint32_t mode) override {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::exchange(errorMode_, mode);
  }

  std::uint32_t GetLogicalDriveStrings(std::uint32_t bufferLength, char* buffer) override {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string all;
    for (const auto& [letter, name] : Snap().letters) {
      all += letter;
      all += ":\\";
      all += '\0';
    }
    if (all.size() + 1 > bufferLength) return static_cast<std::uint32_t>(all.size() + 1);
    std::memcpy(buffer, all.data(), all.size());
    buffer[all.size()] = 0;
    return static_cast<std::uint32_t>(all.size());
  }

  std::uint32_t GetDriveType(const std::string& rootPath) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (rootPath.size() < 2 || rootPath[1] != ':') return kDriveNoRootDir;
    const char letter = static_cast<char>(text::AsciiUpper(rootPath.substr(0, 1))[0]);
    for (const auto& [l, name] : Snap().letters) {
      if (l != letter) continue;
      const std::string disk = HoldingDisk(name);
      if (StartsWith(disk, "sr")) return kDriveCdrom;
      return Removable(disk) ? kDriveRemovable : kDriveFixed;
    }
    return kDriveNoRootDir;
  }

  // Linux keeps the ports for its drivers; poking a controller behind their back could
  // break a command in flight.
  bool GetLocalDescriptorTable(std::uint32_t&) override { return Fail(kErrorNotSupported); }
  bool ReadDescriptor(std::uint32_t, Descriptor&) override { return Fail(kErrorNotSupported); }
  bool WriteDescriptor(std::uint32_t, const Descriptor&) override { return Fail(kErrorNotSupported); }
  std::uint32_t PortRoutineOffset() override { return 0; }
  bool CallGate(std::uint16_t, PortTransfer&) override { return Fail(kErrorNotSupported); }
  bool PortIo(PortTransfer&) override { return Fail(kErrorNotSupported); }

 private:
  // --- What the system has ------------------------------------------------------------------
  struct Mounted {
    std::vector<std::string> points;  // in mount-table order
    std::string fileSystem;           // of the first mount
  };
  struct Snapshot {
    std::vector<std::string> disks;                          // by PhysicalDrive number
    std::vector<std::pair<char, std::string>> letters;       // letter, mounted block device
    std::map<std::string, Mounted> mounts;                   // by mounted block device
    // The optical and tape drives there are: the callers ask for CdRom0..255 and Tape0..255
    // in turn, and one listing answers them all.
    std::set<std::string> optical, tapes;
  };

  // The enumeration is taken again when it is older than a second: a refresh asks for a few
  // hundred paths in a row, and a rescan of sysfs for each would cost more than the refresh.
  const Snapshot& Snap() {
    const auto now = std::chrono::steady_clock::now();
    if (snapshotTime_ == std::chrono::steady_clock::time_point{} || now - snapshotTime_ > std::chrono::seconds(1)) {
      snapshot_ = Scan();
      snapshotTime_ = now;
    }
    return snapshot_;
  }

  std::vector<std::string> ListDir(const std::string& path) const {
    std::vector<std::string> names = owner_.ListFolder(path);
    std::sort(names.begin(), names.end());
    return names;
  }

  bool Exists(const std::string& path) const { return owner_.Exists(path); }

  std::string Read(const std::string& path) const { return StripNewline(owner_.ReadTextFile(path)); }

  // The sysfs directory of a block device by name, as a path below the root ("" when none).
  std::string BlockDir(const std::string& name) const {
    if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..") return {};
    if (Exists("/sys/class/block/" + name)) return "/sys/class/block/" + name;
    if (Exists("/sys/block/" + name)) return "/sys/block/" + name;
    for (const auto& disk : ListDir("/sys/block"))
      if (Exists("/sys/block/" + disk + "/" + name + "/partition")) return "/sys/block/" + disk + "/" + name;
    return {};
  }

  // The real directory behind a sysfs link, as a path below the root (what the bus and the
  // hot-plug tests look at must not be the root folder's own name).
  std::string Real(const std::string& path) const { return owner_.RealPath(path); }

  bool IsPartition(const std::string& name) const {
    const std::string dir = BlockDir(name);
    return !dir.empty() && Exists(dir + "/partition");
  }

  // The whole disk that holds a partition; a device mapper or RAID volume counts as held by
  // a disk when everything below it lies on that one disk.
  std::string HoldingDisk(const std::string& name, int depth = 0) const {
    const std::string dir = BlockDir(name);
    if (dir.empty() || depth > 8) return {};
    if (Exists(dir + "/partition")) return fs::path(Real(dir)).parent_path().filename().string();
    const auto slaves = ListDir(dir + "/slaves");
    if (slaves.empty()) return name;
    std::string disk;
    for (const auto& s : slaves) {
      const std::string d = HoldingDisk(s, depth + 1);
      if (d.empty() || (!disk.empty() && d != disk)) return {};
      disk = d;
    }
    return disk;
  }

  // The partitions and disks at the bottom of a volume, for its extents.
  void Leaves(const std::string& name, std::vector<std::string>& out, int depth = 0) const {
    const std::string dir = BlockDir(name);
    if (dir.empty() || depth > 8) return;
    const auto slaves = Exists(dir + "/partition") ? std::vector<std::string>{} : ListDir(dir + "/slaves");
    if (slaves.empty()) {
      out.push_back(name);
      return;
    }
    for (const auto& s : slaves) Leaves(s, out, depth + 1);
  }

  bool Removable(const std::string& disk) const { return Read("/sys/block/" + disk + "/removable") == "1"; }

  // A disk that comes and goes: removable media, or a device on a hot-plug bus (USB,
  // FireWire, an SD card slot). Such a disk never takes a number before a fixed one, so that
  // a stick plugged in does not become drive 0, whose serial number identifies the machine.
  bool Transient(const std::string& disk) const {
    if (Removable(disk)) return true;
    const std::string path = Real("/sys/block/" + disk);
    if (path.find("/usb") != std::string::npos || path.find("/fw") != std::string::npos) return true;
    return StartsWith(disk, "mmcblk") && Read("/sys/block/" + disk + "/device/type") == "SD";
  }

  bool Wanted(const std::string& disk) const {
    if (DiskRank(disk, options_.includeLoopDevices) < 0) return false;
    if (Read("/sys/block/" + disk + "/hidden") == "1") return false;
    // A loop device without a backing file is only a free slot.
    if (StartsWith(disk, "loop") && ToNumber(Read("/sys/block/" + disk + "/size")) == 0) return false;
    return true;
  }

  // The block device a mount-table source names.
  std::string MountedDevice(const std::string& source) const {
    if (!StartsWith(source, "/")) return {};
    std::string name = fs::path(source).filename().string();
    std::error_code ec;
    const std::string host = owner_.PathOf(source);
    if (host.empty()) return {};
    if (owner_.InMemory()) {
      // A captured node is an empty file: the name is all there is to go by.
      if (const std::string real = owner_.RealPath(source); !real.empty()) name = fs::path(real).filename().string();
      return BlockDir(name).empty() ? std::string() : name;
    }
    const fs::path real = fs::canonical(host, ec);
    if (!ec) name = real.filename().string();
    if (!BlockDir(name).empty()) return name;
#ifndef __linux__
    return {};
#else
    struct stat st{};
    if (stat(host.c_str(), &st) != 0 || !S_ISBLK(st.st_mode)) return {};
    const std::string link = "/sys/dev/block/" + std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev));
    const std::string dir = Real(link);
    return dir.empty() ? std::string() : fs::path(dir).filename().string();
#endif
  }

  static std::string Unescape(const std::string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
      if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] >= '0' && s[i + 1] <= '3') {
        out += static_cast<char>((s[i + 1] - '0') * 64 + (s[i + 2] - '0') * 8 + (s[i + 3] - '0'));
        i += 3;
      } else {
        out += s[i];
      }
    }
    return out;
  }

  Snapshot Scan() const {
    Snapshot s;
    // PhysicalDrive numbers: fixed disks first, then removable and hot-plugged ones, loop
    // devices last; within each group by kind (DiskRank), then by the kernel's name in
    // natural order (sdb before sdaa, nvme2n1 before nvme10n1).
    struct Key {
      int group, rank;
      std::string name;
    };
    std::vector<Key> keys;
    for (const auto& name : ListDir("/sys/block"))
      if (Wanted(name)) {
        const int rank = DiskRank(name, true);
        keys.push_back({StartsWith(name, "loop") ? 2 : Transient(name) ? 1 : 0, rank, name});
      }
    std::sort(keys.begin(), keys.end(), [](const Key& a, const Key& b) {
      if (a.group != b.group) return a.group < b.group;
      if (a.rank != b.rank) return a.rank < b.rank;
      if (a.name.size() != b.name.size()) return a.name.size() < b.name.size();
      return a.name < b.name;
    });
    for (const auto& k : keys) s.disks.push_back(k.name);
    for (const auto& name : ListDir("/sys/block"))
      if (StartsWith(name, "sr")) s.optical.insert(name);
    for (const auto& name : ListDir("/sys/class/scsi_tape")) s.tapes.insert(name);

    // Mounted block devices, the root file system first, each device once.
    std::string mounts = owner_.ReadTextFile("/proc/self/mounts");
    if (mounts.empty()) mounts = owner_.ReadTextFile("/proc/mounts");
    std::vector<std::pair<std::string, std::string>> found;  // mount point, device
    std::size_t pos = 0;
    while (pos < mounts.size()) {
      std::size_t end = mounts.find('\n', pos);
      if (end == std::string::npos) end = mounts.size();
      const std::string line = mounts.substr(pos, end - pos);
      pos = end + 1;
      const std::size_t a = line.find(' ');
      if (a == std::string::npos) continue;
      const std::size_t b = line.find(' ', a + 1);
      const std::string source = Unescape(line.substr(0, a));
      const std::string point = Unescape(line.substr(a + 1, b == std::string::npos ? std::string::npos : b - a - 1));
      const std::string device = MountedDevice(source);
      if (device.empty()) continue;
      Mounted& m = s.mounts[device];
      if (m.points.empty() && b != std::string::npos) {
        const std::size_t c = line.find(' ', b + 1);
        m.fileSystem = Unescape(line.substr(b + 1, c == std::string::npos ? std::string::npos : c - b - 1));
      }
      m.points.push_back(point);
      const std::string disk = HoldingDisk(device);
      const bool onLoop = StartsWith(device, "loop") || StartsWith(disk, "loop");
      if (StartsWith(device, "zram") || StartsWith(device, "ram") || (onLoop && !options_.includeLoopDevices)) continue;
      found.push_back({point, device});
    }
    std::stable_partition(found.begin(), found.end(), [](const auto& m) { return m.first == "/"; });
    char letter = 'C';
    for (const auto& [point, device] : found) {
      if (letter > 'Z') break;
      bool seen = false;
      for (const auto& [l, d] : s.letters) seen |= d == device;
      if (!seen) s.letters.push_back({letter++, device});
    }
    return s;
  }

  int DriveNumber(const std::string& disk) {
    const auto& disks = Snap().disks;
    auto it = std::find(disks.begin(), disks.end(), disk);
    return it == disks.end() ? -1 : static_cast<int>(it - disks.begin());
  }

  // "\\.\PhysicalDrive0" and its kind to the device behind it.
  bool Resolve(const std::string& path, Target& t) {
    const std::string upper = text::AsciiUpper(path);
    if (!StartsWith(upper, "\\\\.\\")) return false;
    const std::string rest = upper.substr(4);
    auto numberAfter = [&](std::string_view prefix, unsigned& n) {
      if (!StartsWith(rest, prefix) || !AllDigits(std::string_view(rest).substr(prefix.size())) ||
          rest.size() - prefix.size() > 4)
        return false;
      n = static_cast<unsigned>(ToNumber(rest.substr(prefix.size())));
      return true;
    };
    unsigned n = 0;
    if (numberAfter("PHYSICALDRIVE", n)) {
      const auto& disks = Snap().disks;
      if (n >= disks.size()) return false;
      t = {Kind::Disk, disks[n], disks[n], static_cast<int>(n)};
      return true;
    }
    if (numberAfter("CDROM", n)) {
      const std::string name = "sr" + std::to_string(n);
      if (!Snap().optical.count(name)) return false;
      t = {Kind::Cdrom, name, name, -1};
      return true;
    }
    if (numberAfter("TAPE", n)) {
      const std::string name = "st" + std::to_string(n);
      if (!Snap().tapes.count(name)) return false;
      t = {Kind::Tape, "nst" + std::to_string(n), name, -1};
      return true;
    }
    if (rest.size() == 2 && rest[1] == ':') {
      for (const auto& [letter, device] : Snap().letters)
        if (letter == rest[0]) {
          const std::string disk = HoldingDisk(device);
          t = {Kind::Volume, device, disk, DriveNumber(disk)};
          return true;
        }
    }
    return false;
  }

  // Read-only whatever the handle's rights: SG_IO and the HDIO commands need CAP_SYS_RAWIO,
  // not write access, and closing a node opened for writing makes udev re-read the disk's
  // partition table and send change events on every run. O_NONBLOCK lets an optical drive
  // without a disc open at all.
  int OpenNode(const OpenDevice& d, const std::string& node) const {
    return d.sys->Open(owner_.PathOf("/dev/" + node), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  }

  static void CloseFds(OpenDevice& d) {
    if (d.fd >= 0) d.sys->Close(d.fd);
    if (d.diskFd >= 0) d.sys->Close(d.diskFd);
    d.fd = d.diskFd = -1;
  }

  // The descriptor to send disk-level requests to: the handle's own node, or for a volume
  // the disk that holds it, opened with the handle's rights.
  int DiskFd(OpenDevice& d) {
    if (d.target.kind != Kind::Volume || d.target.disk == d.target.node) return d.fd;
    if (d.diskFd < 0 && d.access && !d.target.disk.empty()) d.diskFd = OpenNode(d, d.target.disk);
    return d.diskFd;
  }

  // The sysfs directory of the SCSI (or other) device behind the target, as a host path.
  std::string DeviceDir(const OpenDevice& d) const {
    if (d.target.kind == Kind::Tape) return Real("/sys/class/scsi_tape/" + d.target.disk + "/device");
    if (d.target.disk.empty()) return {};
    return Real("/sys/block/" + d.target.disk + "/device");
  }

  // A sysfs attribute (a path below the root, as Real gives it), at most 64 KiB of it.
  std::optional<std::string> ReadHostRaw(const std::string& path) const {
    if (path.empty()) return std::nullopt;
    if (owner_.IsRecorded()) {
      if (!Exists(path)) return std::nullopt;
      return owner_.ReadTextFile(path).substr(0, 65536);
    }
    const std::string hostPath = owner_.PathOf(path);
    FILE* f = std::fopen(hostPath.c_str(), "rb");
    if (!f) return std::nullopt;
    std::string s;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0 && s.size() < 65536) s.append(buf, n);
    std::fclose(f);
    return s;
  }
  std::string ReadHost(const std::string& path) const { return StripNewline(ReadHostRaw(path).value_or("")); }

  // --- Requests ---------------------------------------------------------------------------------
  bool SmartVersion(OpenDevice& d, std::vector<std::uint8_t>& reply) {
    if (d.target.kind == Kind::Tape) return Fail(kErrorInvalidFunction);
    const int fd = DiskFd(d);
    if (fd < 0) return Fail(kErrorInvalidFunction);
    std::uint8_t data[512];
    linuxscsi::AtaOutcome o;
    if (!linuxscsi::AtaCommand(*d.sys, fd, d.target.node, {0xEC, 0, 1, 0, 0, 0}, data, o)) return Fail(o.error);
    std::uint8_t map = 0;
    if (o.driverError == 0) {
      // One bit per drive position; a packet device leaves its bit clear so that it is asked
      // with IDENTIFY PACKET DEVICE.
      if (d.target.driveNumber >= 0 && d.target.driveNumber < 8) map = static_cast<std::uint8_t>(1u << d.target.driveNumber);
    } else {
      linuxscsi::AtaOutcome packet;
      if (!linuxscsi::AtaCommand(*d.sys, fd, d.target.node, {0xA1, 0, 1, 0, 0, 0}, data, packet) || packet.driverError != 0)
        return Fail(kErrorInvalidFunction);
    }
    reply = devio::SmartVersion{1, 1, map, kCapAtaIdCmd | kCapAtapiIdCmd | kCapSmartCmd}.Encode();
    return true;
  }

  bool SmartCommand(OpenDevice& d, const std::vector<std::uint8_t>& input, std::vector<std::uint8_t>& reply) {
    const auto in = SmartCommandIn::Decode(input);
    if (!in) return Fail(kErrorInvalidParameter);
    if (d.target.kind == Kind::Tape) return Fail(kErrorInvalidFunction);
    const linuxscsi::AtaRegisters r{in->command, in->features, in->sectorCount, in->sectorNumber, in->cylLow, in->cylHigh};
    // Only commands that read: identify data, SMART values and thresholds. Anything that
    // changes a device's state is refused.
    const bool identify = r.command == 0xEC || r.command == 0xA1;
    const bool smartRead = r.command == 0xB0 && (r.features == 0xD0 || r.features == 0xD1) && r.lbaMid == 0x4F &&
                           r.lbaHigh == 0xC2;
    if (!identify && !smartRead) return Fail(kErrorNotSupported);
    const int fd = DiskFd(d);
    if (fd < 0) return Fail(kErrorInvalidFunction);
    std::uint8_t data[512] = {};
    linuxscsi::AtaOutcome o;
    if (!linuxscsi::AtaCommand(*d.sys, fd, d.target.node, r, data, o)) return Fail(o.error);
    reply = SmartCommandOut::Sector(data, o.driverError, o.ideError).Encode();
    return true;
  }

  bool PassThrough(OpenDevice& d, const std::vector<std::uint8_t>& in, std::uint8_t* out, std::uint32_t outSize,
                   std::uint32_t& bytesReturned) {
    PassThroughRequest r;
    if (!ReadPassThrough(in.data(), static_cast<std::uint32_t>(in.size()), outSize, r)) return Fail(kErrorInvalidParameter);
    if (r.dataTransferLength && r.dataIn != 1) return Fail(kErrorNotSupported);
    if (!linuxscsi::IsReadOnlyCommand(r.cdb.data(), r.cdbLength)) return Fail(kErrorNotSupported);
    // An MMC device reads the 12-byte ATA PASS-THROUGH's operation code as BLANK: that form
    // goes to direct-access devices alone.
    if (r.cdb[0] == 0xA1 && !DirectAccess(d)) return Fail(kErrorNotSupported);
    const int fd = DiskFd(d);
    if (fd < 0) return Fail(kErrorInvalidFunction);
    std::vector<std::uint8_t> data(r.dataTransferLength), sense;
    std::uint8_t status = 0;
    std::uint32_t error = 0;
    const std::uint32_t timeoutMs = std::clamp<std::uint32_t>(r.timeOutValue, 1, 60) * 1000;
    if (r.cdb[0] == 0x1A && r.cdbLength == 6 && TakesOnlyTenByteModeSense(d)) {
      if (!linuxscsi::ModeSenseAsTen(*d.sys, fd, r.cdb.data(), data, timeoutMs, status, sense, error)) return Fail(error);
    } else if (!linuxscsi::Execute(*d.sys, fd, r.cdb.data(), r.cdbLength, data, timeoutMs, status, sense, error)) {
      return Fail(error);
    }
    bytesReturned = CompletePassThrough(in.data(), r, status, data, sense, out);
    return true;
  }

  // A SCSI direct-access device (a disk, or a disk behind a bridge), by the peripheral type
  // sysfs gives; an optical drive or a file system on one never is.
  bool DirectAccess(const OpenDevice& d) const {
    if (Optical(d) || d.target.kind == Kind::Tape) return false;
    const std::string dir = DeviceDir(d);
    return !dir.empty() && ReadHost(dir + "/type") == "0";
  }

  // Devices that refuse MODE SENSE(6): MMC devices (optical drives), whose command set has
  // only the 10-byte form, and every packet (ATAPI) device behind libata or a USB bridge;
  // the kernel itself sends these only MODE SENSE(10), as Windows' ATAPI port driver does.
  // ATA disks are left alone: libata answers their 6-byte form itself.
  bool TakesOnlyTenByteModeSense(const OpenDevice& d) const {
    const std::string dir = DeviceDir(d);
    if (dir.empty()) return Optical(d);
    const std::string type = ReadHost(dir + "/type");
    if (type == "5" || (type.empty() && Optical(d))) return true;
    const bool bridged = dir.find("/ata") != std::string::npos || dir.find("/usb") != std::string::npos;
    return bridged && !type.empty() && type != "0";
  }

  // The SCSI address of the device: its host, channel, target and LUN where the kernel
  // gives them. Disks without one (virtio, Xen, NVMe, MMC, legacy IDE, loop) get an address
  // of their own, so that every disk can be told apart by its location, as Windows' port
  // drivers give each of their disks one:
  //   port   0xF0 + kind: virtio 0, Xen 1, NVMe 2, MMC/SD 3, IDE 4, loop 5
  //   path   0
  //   target the disk's number within its kind (vdb 1, mmcblk2 2), modulo 256;
  //          for NVMe the controller (nvme1n2 1)
  //   lun    the rest of that number (divided by 256); for NVMe the namespace (nvme1n2 2)
  // SCSI host numbers grow with every hot-plugged adapter but stay far below 0xF0 in practice.
  bool ScsiAddress(OpenDevice& d, std::vector<std::uint8_t>& reply) {
    const std::string dir = DeviceDir(d);
    const std::string hctl = dir.empty() ? std::string() : fs::path(dir).filename().string();
    unsigned h = 0, c = 0, t = 0, l = 0;
    char tail = 0;
    if (!hctl.empty() && std::sscanf(hctl.c_str(), "%u:%u:%u:%u%c", &h, &c, &t, &l, &tail) == 4) {
      reply = devio::ScsiAddress{static_cast<std::uint8_t>(h), static_cast<std::uint8_t>(c),
                                 static_cast<std::uint8_t>(t), static_cast<std::uint8_t>(l)}
                  .Encode();
      return true;
    }
    const std::string& disk = d.target.disk;
    static const std::pair<const char*, std::uint8_t> kKinds[] = {{"vd", 0}, {"xvd", 1}, {"nvme", 2},
                                                                  {"mmcblk", 3}, {"hd", 4}, {"loop", 5}};
    if (d.target.kind == Kind::Tape || disk.empty() || DiskRank(disk, true) < 0) return Fail(kErrorInvalidFunction);
    for (const auto& [prefix, kind] : kKinds) {
      if (!StartsWith(disk, prefix)) continue;
      std::uint32_t target = DiskOrdinal(disk), lun = target / 256;
      target %= 256;
      if (kind == 2) lun = static_cast<std::uint32_t>(ToNumber(disk.substr(disk.find('n', 4) + 1)));
      reply = devio::ScsiAddress{static_cast<std::uint8_t>(0xF0 + kind), 0, static_cast<std::uint8_t>(target),
                                 static_cast<std::uint8_t>(lun)}
                  .Encode();
      return true;
    }
    return Fail(kErrorInvalidFunction);
  }

  std::uint32_t Bus(const OpenDevice& d, int peripheralType) const {
    const std::string& name = d.target.disk;
    if (StartsWith(name, "nvme")) return kBusNvme;
    if (StartsWith(name, "mmcblk"))
      return ReadHost(DeviceDir(d) + "/type") == "SD" ? kBusSd : kBusMmc;
    if (StartsWith(name, "loop")) return kBusFileBackedVirtual;
    const std::string path = d.target.kind == Kind::Tape ? DeviceDir(d) : Real("/sys/block/" + name);
    if (path.find("/usb") != std::string::npos) return kBusUsb;
    if (path.find("/rport-") != std::string::npos) return kBusFibre;
    if (path.find("/end_device-") != std::string::npos) return kBusSas;
    if (path.find("/session") != std::string::npos) return kBusiScsi;
    if (path.find("/fw") != std::string::npos) return kBus1394;
    const std::size_t ata = path.find("/ata");
    if (ata != std::string::npos) {
      std::size_t end = ata + 4;
      while (end < path.size() && path[end] >= '0' && path[end] <= '9') ++end;
      const std::string port = path.substr(ata + 4, end - ata - 4);
      const std::string speed = Read("/sys/class/ata_link/link" + port + "/sata_spd");
      const bool parallel = !speed.empty() && !(speed[0] >= '0' && speed[0] <= '9');
      if (!parallel) return kBusSata;
      return peripheralType == 0 ? kBusAta : kBusAtapi;
    }
    if (StartsWith(name, "vd") || StartsWith(name, "xvd")) return kBusVirtual;
    if (fs::path(DeviceDir(d)).filename().string().find(':') != std::string::npos) return kBusScsi;
    return kBusUnknown;
  }

  bool QueryProperty(OpenDevice& d, const std::vector<std::uint8_t>& in, std::vector<std::uint8_t>& reply) {
    const auto query = StoragePropertyQuery::Decode(in);
    if (!query) return Fail(kErrorInvalidParameter);
    if (ProtocolQuery::IsProtocolProperty(query->propertyId)) return NvmeQuery(d, in, reply);
    if (query->propertyId != StoragePropertyQuery::kDeviceProperty ||
        (query->queryType != StoragePropertyQuery::kStandardQuery && query->queryType != StoragePropertyQuery::kExistsQuery))
      return Fail(kErrorInvalidFunction);
    if (d.target.disk.empty()) return Fail(kErrorInvalidFunction);
    if (query->queryType == StoragePropertyQuery::kExistsQuery) return true;  // the device descriptor exists

    const std::string dev = DeviceDir(d);
    auto attr = [&](std::initializer_list<const char*> names) -> std::optional<std::string> {
      if (dev.empty()) return std::nullopt;
      for (const char* n : names) {
        if (Exists(dev + "/" + n)) return ReadHost(dev + "/" + n);
      }
      return std::nullopt;
    };
    DeviceDescriptor desc;
    const std::string& name = d.target.disk;
    const std::optional<std::string> type = attr({"type"});
    int peripheral = (type && AllDigits(*type)) ? static_cast<int>(ToNumber(*type)) : -1;
    if (peripheral < 0) peripheral = d.target.kind == Kind::Cdrom ? 5 : d.target.kind == Kind::Tape ? 1 : 0;
    desc.deviceType = static_cast<std::uint8_t>(peripheral & 0x1F);
    desc.removableMedia = d.target.kind == Kind::Tape ? true : Removable(name);
    desc.vendor = attr({"vendor"});
    desc.product = attr({"model", "name"});
    desc.revision = attr({"rev", "firmware_rev", "fwrev", "firmware"});
    if (!dev.empty())
      if (auto page = ReadHostRaw(dev + "/vpd_pg80")) desc.serialNumber = linuxscsi::SerialFromVpd(*page);
    if (!desc.serialNumber) desc.serialNumber = attr({"serial"});
    if (!desc.serialNumber && Exists("/sys/block/" + name + "/serial")) desc.serialNumber = Read("/sys/block/" + name + "/serial");
    // Devices whose sysfs has no product name get the name of their kind, so that they and
    // the drives they hold can be told apart from nothing at all.
    if (!desc.product || desc.product->empty()) {
      if (StartsWith(name, "loop")) desc.product = "Loop device";
      else if (StartsWith(name, "vd") && ReadHost(dev + "/device") == "0x0002") desc.product = "Virtio block device";
    }
    for (auto* text : {&desc.vendor, &desc.product, &desc.revision, &desc.serialNumber})
      if (*text && (*text)->empty()) text->reset();
    desc.busType = Bus(d, peripheral);
    reply = desc.Encode();
    return true;
  }

  // The NVMe pages of the protocol-specific query, through the kernel's admin pass-through:
  // Identify Controller and Identify Namespace, the SMART / Health Information log, and the
  // current value of the Power Management feature (Get Features, which only reads). The
  // layer builds each admin command itself from this short list, so nothing else (no format,
  // no firmware command, no Set Features) can reach a controller whatever the query holds. As
  // on Windows, the query needs a handle opened with access rights.
  bool NvmeQuery(OpenDevice& d, const std::vector<std::uint8_t>& in, std::vector<std::uint8_t>& reply) {
    const auto query = ProtocolQuery::Decode(in);
    if (!query) return Fail(kErrorInvalidParameter);
    const ProtocolSpecificData& asked = query->data;
    if (query->queryType != StoragePropertyQuery::kStandardQuery || asked.protocolType != ProtocolSpecificData::kProtocolNvme ||
        DiskRank(d.target.disk, false) != 0)
      return Fail(kErrorInvalidFunction);
    if (asked.dataType == ProtocolSpecificData::kNvmeFeature) return NvmeFeature(d, asked, reply);
    // The data goes where the query's offset puts it, which must lie inside the query.
    if (asked.dataOffset < ProtocolSpecificData::kSize || 8ull + asked.dataOffset + asked.dataLength > in.size())
      return Fail(kErrorInvalidParameter);
    // The disk's own namespace, from its name ("nvme0n1" is namespace 1 of controller 0).
    const std::uint32_t ownNamespace =
        static_cast<std::uint32_t>(ToNumber(d.target.disk.substr(d.target.disk.find('n', 4) + 1)));
    nvme_admin_cmd cmd{};
    std::uint32_t length = 0;
    if (asked.dataType == ProtocolSpecificData::kNvmeIdentify && asked.requestValue <= 1) {
      length = 4096;
      cmd.opcode = 0x06;  // IDENTIFY
      cmd.cdw10 = asked.requestValue;  // CNS 0: namespace, 1: controller
      cmd.nsid = asked.requestValue == 1 ? 0 : (asked.requestSubValue ? asked.requestSubValue : ownNamespace);
    } else if (asked.dataType == ProtocolSpecificData::kNvmeLogPage && asked.requestValue == 0x02 &&
               asked.requestSubValue == 0) {
      length = 512;
      cmd.opcode = 0x02;  // GET LOG PAGE: the health log, for the whole controller
      cmd.nsid = 0xFFFFFFFF;
      cmd.cdw10 = 0x02 | ((length / 4 - 1) << 16);
    } else {
      return Fail(kErrorNotSupported);
    }
    if (asked.dataLength < length) return Fail(kErrorInvalidParameter);
    const int fd = DiskFd(d);
    if (fd < 0) return Fail(kErrorAccessDenied);
    std::vector<std::uint8_t> data(length, 0);
    cmd.addr = reinterpret_cast<std::uintptr_t>(data.data());
    cmd.data_len = length;
    cmd.timeout_ms = 5000;
    const int status = d.sys->Ioctl(fd, NVME_IOCTL_ADMIN_CMD, &cmd);
    if (status < 0) return Fail(ErrorOfErrno(errno));
    if (status > 0) return Fail(kErrorIoDevice);  // the controller refused the command
    ProtocolDataDescriptor out;
    out.data = asked;
    out.payload = std::move(data);
    reply = out.Encode();
    return true;
  }

  // Get Features for the Power Management feature (02h), its current value: the power state
  // the controller is in. The value comes back in the completion's first dword, as Windows
  // hands it over in the protocol data; no data moves.
  bool NvmeFeature(OpenDevice& d, const ProtocolSpecificData& asked, std::vector<std::uint8_t>& reply) {
    constexpr std::uint32_t kPowerManagement = 0x02;
    if (asked.requestValue != kPowerManagement || asked.requestSubValue != 0) return Fail(kErrorNotSupported);
    const int fd = DiskFd(d);
    if (fd < 0) return Fail(kErrorAccessDenied);
    nvme_admin_cmd cmd{};
    cmd.opcode = 0x0A;  // GET FEATURES; select 0: the current value
    cmd.cdw10 = kPowerManagement;
    cmd.timeout_ms = 5000;
    const int status = d.sys->Ioctl(fd, NVME_IOCTL_ADMIN_CMD, &cmd);
    if (status < 0) return Fail(ErrorOfErrno(errno));
    if (status > 0) return Fail(kErrorIoDevice);
    ProtocolDataDescriptor out;
    out.data = asked;
    out.data.fixedReturnData = cmd.result;
    reply = out.Encode();
    return true;
  }

  // "Can read DVD" and the other abilities of an optical drive from the kernel's table.
  std::map<std::string, bool> CdromAbilities(const std::string& name) const {
    std::map<std::string, bool> out;
    const std::string info = owner_.ReadTextFile("/proc/sys/dev/cdrom/info");
    std::vector<std::vector<std::string>> rows;
    std::size_t pos = 0, column = std::string::npos;
    while (pos < info.size()) {
      std::size_t end = info.find('\n', pos);
      if (end == std::string::npos) end = info.size();
      const std::string line = info.substr(pos, end - pos);
      pos = end + 1;
      const std::size_t colon = line.find(':');
      if (colon == std::string::npos) continue;
      std::vector<std::string> values;
      std::size_t p = colon + 1;
      while (p < line.size()) {
        while (p < line.size() && (line[p] == '\t' || line[p] == ' ')) ++p;
        std::size_t q = p;
        while (q < line.size() && line[q] != '\t' && line[q] != ' ') ++q;
        if (q > p) values.push_back(line.substr(p, q - p));
        p = q;
      }
      const std::string key = line.substr(0, colon);
      if (key == "drive name")
        for (std::size_t i = 0; i < values.size(); ++i)
          if (values[i] == name) column = i;
      if (column != std::string::npos && column < values.size()) out[key] = values[column] == "1";
    }
    return out;
  }

  // An optical drive, or a file system mounted from one: both are answered as the drive.
  static bool Optical(const OpenDevice& d) {
    return d.target.kind == Kind::Cdrom || (d.target.kind == Kind::Volume && StartsWith(d.target.disk, "sr"));
  }

  bool Media(OpenDevice& d, std::vector<std::uint8_t>& reply) {
    if (d.target.kind == Kind::Tape) {
      MediaInfo m;
      m.busType = Bus(d, 1);
      reply = MediaTypes{kFileDeviceTape, {m}}.Encode();
      return true;
    }
    if (Optical(d)) {
      auto can = CdromAbilities(d.target.disk);
      std::vector<MediaInfo> media;
      auto add = [&](std::uint32_t type) {
        MediaInfo m;
        m.mediaType = type;
        m.bytesPerSector = 2048;
        media.push_back(m);
      };
      add(kMediaCdRom);
      if (can["Can write CD-R"]) add(kMediaCdR);
      if (can["Can write CD-RW"]) add(kMediaCdRw);
      if (can["Can read DVD"]) add(kMediaDvdRom);
      if (can["Can write DVD-R"]) add(kMediaDvdR);
      reply = MediaTypes{can["Can read DVD"] ? kFileDeviceDvd : kFileDeviceCdRom, media}.Encode();
      return true;
    }
    if (d.target.disk.empty()) return Fail(kErrorInvalidFunction);
    devio::DiskGeometry g;
    const bool known = Geometry(d, g);
    MediaInfo m;
    m.mediaType = Removable(d.target.disk) ? kMediaRemovable : kMediaFixed;
    m.cylinders = g.Cylinders;
    m.tracksPerCylinder = g.TracksPerCylinder;
    m.sectorsPerTrack = g.SectorsPerTrack;
    m.bytesPerSector = g.BytesPerSector;
    m.characteristics = known ? kMediaCurrentlyMounted | kMediaReadWrite : 0;
    reply = MediaTypes{kFileDeviceDisk, {m}}.Encode();
    return true;
  }

  // Size and logical sector size of the target's disk: from the block ioctls when the disk is
  // open, from sysfs otherwise.
  bool DiskSize(OpenDevice& d, std::uint64_t& bytes, std::uint32_t& sectorSize) {
    const int fd = DiskFd(d);
    if (fd >= 0) {
      struct stat st{};
      if (d.sys->Fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {  // an image file standing in for a disk
        bytes = static_cast<std::uint64_t>(st.st_size);
        sectorSize = 512;
        return true;
      }
      std::uint64_t size = 0;
      int ssz = 0;
      if (d.sys->Ioctl(fd, BLKGETSIZE64, &size) == 0 && d.sys->Ioctl(fd, BLKSSZGET, &ssz) == 0 && ssz > 0) {
        bytes = size;
        sectorSize = static_cast<std::uint32_t>(ssz);
        return true;
      }
    }
    const std::string dir = "/sys/block/" + d.target.disk;
    if (!Exists(dir + "/size")) return false;
    bytes = ToNumber(Read(dir + "/size")) * 512;
    sectorSize = static_cast<std::uint32_t>(ToNumber(Read(dir + "/queue/logical_block_size")));
    if (sectorSize == 0) sectorSize = 512;
    return true;
  }

  bool Geometry(OpenDevice& d, devio::DiskGeometry& g) {
    if (d.target.kind == Kind::Tape || d.target.disk.empty()) return Fail(kErrorInvalidFunction);
    std::uint64_t bytes = 0;
    std::uint32_t sectorSize = 512;
    if (!DiskSize(d, bytes, sectorSize)) return Fail(kErrorInvalidFunction);
    if (bytes == 0) return Fail(kErrorNotReady);  // no medium
    std::uint32_t heads = 255, sectors = 63;
    if (Optical(d)) {
      heads = 64;
      sectors = 32;
      sectorSize = 2048;
    } else if (const int fd = DiskFd(d); fd >= 0) {
      // The driver's own geometry where it keeps one; Windows' 255 heads of 63 sectors for
      // the devices that have none.
      hd_geometry geo{};
      if (d.sys->Ioctl(fd, HDIO_GETGEO, &geo) == 0 && geo.heads && geo.sectors) {
        heads = geo.heads;
        sectors = geo.sectors;
      }
    }
    g.BytesPerSector = sectorSize;
    g.TracksPerCylinder = heads;
    g.SectorsPerTrack = sectors;
    g.Cylinders = static_cast<std::int64_t>(bytes / (std::uint64_t{heads} * sectors * sectorSize));
    g.MediaType = (Optical(d) || Removable(d.target.disk)) ? kMediaRemovable : kMediaFixed;
    return true;
  }

  bool DriveLayout(OpenDevice& d, std::vector<std::uint8_t>& reply) {
    if (d.target.kind == Kind::Tape || Optical(d)) return Fail(kErrorInvalidFunction);
    const int fd = DiskFd(d);
    if (fd < 0) return Fail(kErrorInvalidFunction);
    std::uint64_t bytes = 0;
    std::uint32_t sectorSize = 512;
    if (!DiskSize(d, bytes, sectorSize)) return Fail(kErrorInvalidFunction);
    if (bytes == 0) return Fail(kErrorNotReady);
    // Reading the table from a sleeping ATA disk would spin it up: such a disk is asked its
    // power mode first and, in standby, left alone (the drive has no layout then, as a disk
    // without a medium has none).
    if (DirectAccess(d) && linuxscsi::InStandby(*d.sys, fd).value_or(false)) return Fail(kErrorNotReady);
    auto read = [fd, sys = d.sys](std::uint64_t offset, std::uint32_t size, std::uint8_t* out) {
      std::uint32_t done = 0;
      while (done < size) {
        const ssize_t n = sys->Pread(fd, out + done, size - done, static_cast<std::int64_t>(offset + done));
        if (n <= 0) return false;
        done += static_cast<std::uint32_t>(n);
      }
      return true;
    };
    const auto table = linuxdev::ReadPartitionTable(read, bytes, sectorSize);
    reply = devio::DriveLayout{table.signature, table.entries}.Encode();
    return true;
  }

  bool VolumeExtents(OpenDevice& d, std::vector<std::uint8_t>& reply) {
    if (d.target.kind != Kind::Volume) return Fail(kErrorInvalidFunction);
    std::vector<std::string> leaves;
    Leaves(d.target.node, leaves);
    std::vector<DiskExtent> extents;
    for (const auto& leaf : leaves) {
      const std::string disk = HoldingDisk(leaf);
      const int number = DriveNumber(disk);
      if (number < 0) continue;
      const std::string dir = BlockDir(leaf);
      DiskExtent e;
      e.diskNumber = static_cast<std::uint32_t>(number);
      // sysfs counts partition starts and sizes in 512-byte units whatever the sector size.
      e.startingOffset = IsPartition(leaf) ? static_cast<std::int64_t>(ToNumber(Read(dir + "/start")) * 512) : 0;
      e.length = static_cast<std::int64_t>(ToNumber(Read(dir + "/size")) * 512);
      extents.push_back(e);
    }
    if (extents.empty()) return Fail(kErrorInvalidFunction);
    reply = VolumeDiskExtents{extents}.Encode();
    return true;
  }

  LinuxPlatform& owner_;
  std::mutex mutex_;
  LinuxDeviceOptions options_;
  Snapshot snapshot_;
  std::chrono::steady_clock::time_point snapshotTime_{};
  std::map<Handle, OpenDevice> handles_;
  linuxdev::SystemCalls* sys_ = &linuxdev::KernelSystemCalls();
  Handle nextHandle_ = 0xD000;
  std::uint32_t errorMode_ = 0;
};

}  // namespace

std::unique_ptr<DeviceApi> MakeLinuxDeviceApi(LinuxPlatform& owner) { return std::make_unique<LinuxDevice>(owner); }

namespace linuxdev {

#ifdef __linux__
int SystemCalls::Open(const std::string& path, int flags) { return ::open(path.c_str(), flags); }
int SystemCalls::Close(int fd) { return ::close(fd); }
int SystemCalls::Ioctl(int fd, unsigned long request, void* argument) { return ::ioctl(fd, request, argument); }
ssize_t SystemCalls::Pread(int fd, void* buffer, std::size_t size, std::int64_t offset) {
  return ::pread(fd, buffer, size, offset);
}
int SystemCalls::Fstat(int fd, struct stat* st) { return ::fstat(fd, st); }
#else
// Where this layer only replays captures there is no kernel below it: every device node is
// missing, as it is on a machine without the device.
int SystemCalls::Open(const std::string&, int) {
  errno = ENOENT;
  return -1;
}
int SystemCalls::Close(int) {
  errno = EBADF;
  return -1;
}
int SystemCalls::Ioctl(int, unsigned long, void*) {
  errno = EBADF;
  return -1;
}
ssize_t SystemCalls::Pread(int, void*, std::size_t, std::int64_t) {
  errno = EBADF;
  return -1;
}
int SystemCalls::Fstat(int, struct stat*) {
  errno = EBADF;
  return -1;
}
#endif

SystemCalls& KernelSystemCalls() {
  static SystemCalls kernel;
  return kernel;
}

}  // namespace linuxdev

void SetLinuxSystemCalls(DeviceApi& api, linuxdev::SystemCalls* calls) {
  if (auto* layer = dynamic_cast<LinuxDevice*>(&api)) layer->SetSystemCalls(calls);
}

void SetLinuxDeviceOptions(DeviceApi& api, const LinuxDeviceOptions& options) {
  if (auto* layer = dynamic_cast<LinuxDevice*>(&api)) layer->SetOptions(options);
}

std::string LinuxDeviceNode(DeviceApi& api, const std::string& path) {
  auto* layer = dynamic_cast<LinuxDevice*>(&api);
  return layer ? layer->NodeOf(path) : std::string();
}

}  // namespace kyvex::platform
