// Recorded Linux machines for the device layer's tests: a sysfs, procfs and /dev tree in a
// temporary folder, and a recorder that stands in for the kernel behind the layer's system
// calls. The recorder notes every open (with its flags) and every request (with the command
// it carries), and answers the device nodes it was given from scripted replies.
#pragma once

#ifdef __linux__

#include <fcntl.h>
#include <linux/fs.h>
#include <linux/hdreg.h>
#include <linux/nvme_ioctl.h>
#include <scsi/sg.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/LinuxDevice.h"

namespace linux_machine {

namespace fs = std::filesystem;

class Tree {
 public:
  Tree() {
    root_ = fs::temp_directory_path() / ("kyvex-linux-device-" + std::to_string(::getpid()) + "-" +
                                         std::to_string(counter_++));
    fs::remove_all(root_);
    fs::create_directories(root_);
  }
  ~Tree() { fs::remove_all(root_); }
  Tree(const Tree&) = delete;
  Tree& operator=(const Tree&) = delete;
  std::string Root() const { return root_.string(); }
  void File(const std::string& path, const std::string& content) {
    const fs::path p = root_ / path;
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << content;
  }
  void Link(const std::string& path, const std::string& target) {
    const fs::path p = root_ / path;
    fs::create_directories(p.parent_path());
    fs::create_directory_symlink(target, p);
  }
  void Bytes(const std::string& path, const std::vector<std::uint8_t>& data) {
    File(path, std::string(data.begin(), data.end()));
  }

 private:
  fs::path root_;
  static inline int counter_ = 0;
};

// A block device under sys/devices (`parent` is its device's directory, "sys/devices/..."),
// linked from sys/block and sys/class/block; `deviceLink` is its "device" link, if any.
inline void BlockDevice(Tree& t, const std::string& parent, const std::string& name, const std::string& size, bool removable,
                  const std::string& deviceLink) {
  const std::string dir = parent + "/block/" + name;
  t.File(dir + "/size", size + "\n");
  t.File(dir + "/removable", removable ? "1\n" : "0\n");
  t.File(dir + "/queue/logical_block_size", "512\n");
  if (!deviceLink.empty()) t.Link(dir + "/device", deviceLink);
  t.Link("sys/block/" + name, "../" + dir.substr(4));
  t.Link("sys/class/block/" + name, "../../" + dir.substr(4));
}

// A partition of the disk `disk` whose block directory is `diskDir` ("sys/devices/.../block/sda").
inline void Partition(Tree& t, const std::string& diskDir, const std::string& name, std::uint64_t start,
                      std::uint64_t sectors) {
  const std::string dir = diskDir + "/" + name;
  t.File(dir + "/partition", "1\n");
  t.File(dir + "/start", std::to_string(start) + "\n");
  t.File(dir + "/size", std::to_string(sectors) + "\n");
  t.Link("sys/class/block/" + name, "../../" + dir.substr(4));
}

// What a device answers one SCSI command.
struct ScsiReply {
  std::uint8_t status = 0;  // GOOD; 0x02 CHECK CONDITION with `sense`
  std::vector<std::uint8_t> data;
  std::vector<std::uint8_t> sense;
};

// Fixed-format sense data of CHECK CONDITION: ILLEGAL REQUEST, INVALID COMMAND OPERATION CODE.
inline ScsiReply IllegalRequest() {
  ScsiReply r;
  r.status = 0x02;
  r.sense.assign(18, 0);
  r.sense[0] = 0x70;
  r.sense[2] = 0x05;
  r.sense[7] = 10;
  r.sense[12] = 0x20;
  return r;
}

// A device node the recorder answers for.
struct FakeNode {
  std::uint64_t bytes = 0;
  std::uint32_t sectorSize = 512;
  std::vector<std::uint8_t> image;  // the first bytes of the medium; the rest reads as zeros
  // The reply to a command block; a device without one refuses every command.
  std::function<ScsiReply(const std::vector<std::uint8_t>& cdb)> scsi;
  // The legacy IDE driver's HDIO_DRIVE_CMD: the four registers, then 512 bytes of data to
  // fill; false when the device refuses the command. A node without one is no IDE disk.
  std::function<bool(std::uint8_t* args)> ideCommand;
  // The NVMe admin pass-through: the command as the kernel takes it (its data buffer at
  // `addr`, `data_len` bytes, to fill); answers the completion status (0 for success).
  std::function<int(nvme_admin_cmd& command)> nvmeAdmin;
};

struct Call {
  std::string path;   // opens: the host path; requests: the node's path
  int flags = 0;      // opens
  unsigned long request = 0;
  // SG_IO: the command block; HDIO_DRIVE_CMD: its four registers; NVMe admin: the
  // nvme_admin_cmd as sent (opcode at 0, nsid at 4, cdw10 at 40, ...).
  std::vector<std::uint8_t> command;
};

class Recorder : public kyvex::platform::linuxdev::SystemCalls {
 public:
  // Nodes by name below /dev ("sda", "sr0"); other nodes fail to open as missing, unless
  // `passOthers` lets them through to the kernel (image files of the fixture tree).
  std::map<std::string, FakeNode> nodes;
  bool passOthers = true;
  std::vector<Call> opens, requests;
  std::vector<std::string> reads;  // the node of every read of a recorded node's medium
  int openNow = 0;

  int Open(const std::string& path, int flags) override {
    opens.push_back({path, flags, 0, {}});
    const std::string name = fs::path(path).filename().string();
    if (path.find("/dev/") != std::string::npos && nodes.count(name)) {
      const int fd = nextFd_++;
      fds_[fd] = name;
      ++openNow;
      return fd;
    }
    if (!passOthers) {
      errno = ENOENT;
      return -1;
    }
    const int fd = SystemCalls::Open(path, flags);
    if (fd >= 0) ++openNow;
    return fd;
  }

  int Close(int fd) override {
    --openNow;
    if (fds_.erase(fd)) return 0;
    return SystemCalls::Close(fd);
  }

  int Ioctl(int fd, unsigned long request, void* argument) override {
    auto it = fds_.find(fd);
    Call call{it == fds_.end() ? std::string() : "/dev/" + it->second, 0, request, {}};
    if (request == SG_IO) {
      const auto* io = static_cast<const sg_io_hdr_t*>(argument);
      call.command.assign(io->cmdp, io->cmdp + io->cmd_len);
    } else if (request == HDIO_DRIVE_CMD) {
      const auto* args = static_cast<const std::uint8_t*>(argument);
      call.command.assign(args, args + 4);
    } else if (request == NVME_IOCTL_ADMIN_CMD) {
      const auto* bytes = static_cast<const std::uint8_t*>(argument);
      call.command.assign(bytes, bytes + sizeof(nvme_admin_cmd));
    }
    requests.push_back(call);
    if (it == fds_.end()) return SystemCalls::Ioctl(fd, request, argument);
    const FakeNode& node = nodes[it->second];
    switch (request) {
      case BLKGETSIZE64:
        *static_cast<std::uint64_t*>(argument) = node.bytes;
        return 0;
      case BLKSSZGET:
        *static_cast<int*>(argument) = static_cast<int>(node.sectorSize);
        return 0;
      case NVME_IOCTL_ADMIN_CMD:
        if (!node.nvmeAdmin) break;
        return node.nvmeAdmin(*static_cast<nvme_admin_cmd*>(argument));
      case HDIO_DRIVE_CMD:
        if (!node.ideCommand) break;
        if (node.ideCommand(static_cast<std::uint8_t*>(argument))) return 0;
        errno = EIO;
        return -1;
      case SG_IO: {
        auto* io = static_cast<sg_io_hdr_t*>(argument);
        const ScsiReply reply = node.scsi ? node.scsi(call.command) : IllegalRequest();
        const std::size_t n = std::min<std::size_t>(reply.data.size(), io->dxfer_len);
        if (n) std::memcpy(io->dxferp, reply.data.data(), n);
        io->resid = static_cast<int>(io->dxfer_len - n);
        io->status = reply.status;
        io->host_status = 0;
        io->driver_status = reply.sense.empty() ? 0 : 0x08;
        io->sb_len_wr = static_cast<unsigned char>(std::min<std::size_t>(reply.sense.size(), io->mx_sb_len));
        if (io->sb_len_wr) std::memcpy(io->sbp, reply.sense.data(), io->sb_len_wr);
        return 0;
      }
      default:
        break;
    }
    errno = ENOTTY;
    return -1;
  }

  ssize_t Pread(int fd, void* buffer, std::size_t size, off_t offset) override {
    auto it = fds_.find(fd);
    if (it == fds_.end()) return SystemCalls::Pread(fd, buffer, size, offset);
    reads.push_back("/dev/" + it->second);
    const FakeNode& node = nodes[it->second];
    const auto at = static_cast<std::uint64_t>(offset);
    if (at >= node.bytes) return 0;
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(size, node.bytes - at));
    auto* out = static_cast<std::uint8_t*>(buffer);
    std::memset(out, 0, n);
    if (at < node.image.size())
      std::memcpy(out, node.image.data() + at, std::min<std::size_t>(n, node.image.size() - static_cast<std::size_t>(at)));
    return static_cast<ssize_t>(n);
  }

  int Fstat(int fd, struct stat* st) override {
    if (!fds_.count(fd)) return SystemCalls::Fstat(fd, st);
    *st = {};
    st->st_mode = S_IFBLK | 0660;
    return 0;
  }

  // The command blocks sent with SG_IO, in order.
  std::vector<std::vector<std::uint8_t>> CommandBlocks(const std::string& node = {}) const {
    std::vector<std::vector<std::uint8_t>> out;
    for (const auto& c : requests)
      if (c.request == SG_IO && (node.empty() || c.path == "/dev/" + node)) out.push_back(c.command);
    return out;
  }

 private:
  std::map<int, std::string> fds_;
  int nextFd_ = 1 << 20;  // far above what the kernel hands out to a test
};

}  // namespace linux_machine

#endif  // __linux__
