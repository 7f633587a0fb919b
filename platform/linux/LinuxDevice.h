// The Linux device layer's parts that tests and other tools reach directly: which block
// devices count as physical drives, the node behind a device path, and the partition-table
// reader that answers the drive-layout request.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/DeviceApi.h"
#include "platform/linux/KernelAbi.h"

namespace kyvex::platform {

struct LinuxDeviceOptions {
  // Loop devices with a backing file attached count as physical drives (after the real
  // disks), and file systems mounted from them get drive letters. Off on a running system:
  // snap packages and images mount dozens of them.
  bool includeLoopDevices = false;
};

namespace linuxdev {

// Every system call the device layer makes on a device node goes through this seam: the
// default passes each one to the kernel unchanged, and tests put a recorder in its place that
// sees what the layer would do to a real device (which nodes it opens with which flags, which
// requests it sends) and answers from recorded replies.
//
// The calls keep the kernel's own shapes so that any request can pass: `Open` takes the host
// path and the open(2) flags; `Ioctl` the raw request number (SG_IO, HDIO_*, BLK*, the NVMe
// admin command, ...) and its argument as the kernel would see it, and it fills the argument
// in as the kernel would. Each returns what the system call returns, with errno set on
// failure. A recorder may override only some of them; the rest then reach the kernel.
class SystemCalls {
 public:
  virtual ~SystemCalls() = default;
  virtual int Open(const std::string& path, int flags);
  virtual int Close(int fd);
  virtual int Ioctl(int fd, unsigned long request, void* argument);
  // The offset is 64 bits wide on every build: a disk's last sectors lie past what a 32-bit
  // off_t reaches.
  virtual ssize_t Pread(int fd, void* buffer, std::size_t size, std::int64_t offset);
  // fstat(2): whether the node is an image file standing in for a disk.
  virtual int Fstat(int fd, struct stat* st);
};

// The seam that calls the kernel.
SystemCalls& KernelSystemCalls();

}  // namespace linuxdev

// These act on the Linux layer only and do nothing for another DeviceApi.
void SetLinuxDeviceOptions(DeviceApi& api, const LinuxDeviceOptions& options);
// The system calls the layer makes from now on; nullptr returns to the kernel's. The caller
// keeps `calls` alive while the layer uses it (handles opened before keep the calls they were
// opened through).
void SetLinuxSystemCalls(DeviceApi& api, linuxdev::SystemCalls* calls);
// The node a device path opens ("\\.\PhysicalDrive0" -> "/dev/vda", "\\.\C:" -> "/dev/vda1",
// "\\.\Tape0" -> "/dev/nst0"), empty when the path names nothing.
std::string LinuxDeviceNode(DeviceApi& api, const std::string& path);

namespace linuxdev {

// Reads `size` bytes at byte `offset` of the disk; false when they cannot be read.
using DiskReader = std::function<bool(std::uint64_t offset, std::uint32_t size, std::uint8_t* out)>;

struct PartitionTable {
  bool found = false;  // an MBR signature or a valid GPT was there
  bool gpt = false;
  std::uint32_t signature = 0;
  // In the order of the legacy layout reply: for an MBR the four slots of the master record
  // (empty ones too), then the four slots of each extended record along the chain; for a
  // GPT every used entry, its type given as the nearest MBR type.
  std::vector<devio::PartitionInfo> entries;
};

// The partition table of a disk of `diskBytes` bytes whose logical blocks have `sectorSize`
// bytes. Every field of the disk is checked: chains that loop or leave the disk end, GPT
// headers and entry arrays whose checksums fail (the backup header is tried then) and entry
// counts beyond reason are not followed.
PartitionTable ReadPartitionTable(const DiskReader& read, std::uint64_t diskBytes, std::uint32_t sectorSize);

// The MBR type that stands for a GPT partition type GUID (as 16 bytes from the disk), or
// 0xEE for a type without one.
std::uint8_t GptTypeToMbrType(const std::uint8_t* typeGuid);

std::uint32_t Crc32(const std::uint8_t* data, std::size_t size);

}  // namespace linuxdev

}  // namespace kyvex::platform
