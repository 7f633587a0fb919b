// Device replies as a captured machine keeps them. A recorder stands in the device layer's
// system-call seam, passes every call to the layer below and notes what each one carried and
// what came back; a player answers the same calls from those notes, on a machine that has
// none of the devices. Both work on the kernel's own shapes, so a request the layer starts to
// send later is captured and played back without changes here: what a request carries is
// known from its number (the size it encodes, or the layout of the few that carry pointers:
// SG_IO, the NVMe pass-through, the legacy IDE command).
//
// The notes are text, one block per call, in the order the calls were made:
//
//   ioctl /dev/sda 0x2285 SG_IO
//     > cdb: 12 00 00 00 60 00
//     > direction = -3
//     > length = 96
//     = 0
//     < status = 0
//     < data: 00 00 05 02 5b 00 00 02 41 54 41 20 20 20 20 20
//       57 44 43 20 ...
//
// "> name" lines are what the call carried (a reply is found by them), "< name" lines what
// came back, "=" the call's result (with "errno N" after a failure). "name: hex" holds bytes,
// "name = N" a number.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/linux/LinuxDevice.h"

namespace kyvex::platform::linuxdev {

struct ExchangeField {
  std::string name;
  bool isBytes = false;
  std::int64_t number = 0;
  std::vector<std::uint8_t> bytes;
};

struct Exchange {
  enum class Kind { Open, Ioctl, Pread, Fstat };
  Kind kind = Kind::Open;
  std::string node;  // the device path below the root, "/dev/sda"
  unsigned long request = 0;
  std::uint64_t offset = 0, length = 0;  // pread
  std::vector<ExchangeField> sent;
  long result = 0;
  int error = 0;  // errno, when result < 0
  std::vector<ExchangeField> reply;

  // What finds this call's reply: the call, the node and everything it carried.
  std::string Key() const;
};

// The readable name of a request number ("SG_IO"), empty for one without a known name.
std::string RequestName(unsigned long request);

std::string WriteExchanges(const std::vector<Exchange>& exchanges);
// Nothing, with the line and the reason in `error`, for text that is not such a record.
std::optional<std::vector<Exchange>> ReadExchanges(std::string_view text, std::string& error);

// Maps a host path to the path below the captured machine's root ("" when outside).
using BelowRootFn = std::function<std::string(const std::string& hostPath)>;

class RecordingSystemCalls : public SystemCalls {
 public:
  RecordingSystemCalls(SystemCalls& inner, BelowRootFn belowRoot) : inner_(inner), belowRoot_(std::move(belowRoot)) {}
  int Open(const std::string& path, int flags) override;
  int Close(int fd) override;
  int Ioctl(int fd, unsigned long request, void* argument) override;
  ssize_t Pread(int fd, void* buffer, std::size_t size, std::int64_t offset) override;
  int Fstat(int fd, struct stat* st) override;

  const std::vector<Exchange>& Exchanges() const { return exchanges_; }
  // Requests whose argument's layout is not known: their results are recorded, not what
  // they carried.
  const std::vector<std::string>& Unrecorded() const { return unrecorded_; }

 private:
  std::string NodeOf(int fd) const;
  SystemCalls& inner_;
  BelowRootFn belowRoot_;
  std::map<int, std::string> nodes_;
  std::vector<Exchange> exchanges_;
  std::vector<std::string> unrecorded_;
};

// Answers from recorded calls only; nothing reaches the kernel. A call recorded more than
// once gets its replies in the recorded order, the last one again after that; a call that
// was never recorded fails (a node as missing, a request as unsupported) and is noted.
class ReplaySystemCalls : public SystemCalls {
 public:
  ReplaySystemCalls(const std::vector<Exchange>& exchanges, BelowRootFn belowRoot);
  int Open(const std::string& path, int flags) override;
  int Close(int fd) override;
  int Ioctl(int fd, unsigned long request, void* argument) override;
  ssize_t Pread(int fd, void* buffer, std::size_t size, std::int64_t offset) override;
  int Fstat(int fd, struct stat* st) override;

  // The calls the capture holds no reply to, each once.
  std::vector<std::string> Missed() const;

 private:
  const Exchange* Next(const Exchange& call);
  void Miss(const Exchange& call);
  BelowRootFn belowRoot_;
  struct Replies {
    std::vector<Exchange> list;
    std::size_t used = 0;
  };
  std::map<std::string, Replies> replies_;
  std::map<int, std::string> fds_;
  int nextFd_ = 1 << 20;
  std::vector<std::string> missed_;
};

}  // namespace kyvex::platform::linuxdev
