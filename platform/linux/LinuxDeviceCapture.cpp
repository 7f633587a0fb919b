#include "platform/linux/LinuxDeviceCapture.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sstream>

#include "platform/linux/KernelAbi.h"

namespace kyvex::platform::linuxdev {

namespace {

// Far beyond any reply a device gives to what the layer asks; a record claiming more is not
// one of ours.
constexpr std::size_t kMaxFieldBytes = 16u << 20;

ExchangeField Number(const std::string& name, std::int64_t n) { return {name, false, n, {}}; }
ExchangeField Bytes(const std::string& name, const void* p, std::size_t n) {
  const auto* b = static_cast<const std::uint8_t*>(p);
  return {name, true, 0, std::vector<std::uint8_t>(b, b + n)};
}

const ExchangeField* Find(const std::vector<ExchangeField>& fields, const std::string& name) {
  for (const auto& f : fields)
    if (f.name == name) return &f;
  return nullptr;
}
std::int64_t NumberOf(const std::vector<ExchangeField>& fields, const std::string& name) {
  const auto* f = Find(fields, name);
  return f && !f->isBytes ? f->number : 0;
}
// Copies a recorded bytes field into a buffer of `room` bytes, as far as both go.
void CopyOut(const std::vector<ExchangeField>& fields, const std::string& name, void* to, std::size_t room) {
  const auto* f = Find(fields, name);
  // An empty recorded field copies nothing (and hands memcpy no null source).
  if (!f || !f->isBytes || !to || f->bytes.empty()) return;
  std::memcpy(to, f->bytes.data(), std::min(room, f->bytes.size()));
}

bool IsNvmePassThrough(unsigned long request) {
  return request == NVME_IOCTL_ADMIN_CMD || request == NVME_IOCTL_IO_CMD || request == NVME_IOCTL_ADMIN64_CMD ||
         request == NVME_IOCTL_IO64_CMD;
}
bool IsNvme64(unsigned long request) { return request == NVME_IOCTL_ADMIN64_CMD || request == NVME_IOCTL_IO64_CMD; }

// The legacy requests that take a plain buffer but carry no size in their number.
std::optional<std::size_t> LegacyArgumentSize(unsigned long request) {
  switch (request) {
    case HDIO_GETGEO: return sizeof(hd_geometry);
    case HDIO_GET_IDENTITY: return 512;
    case BLKSSZGET:
    case BLKPBSZGET:
    case BLKROGET:
    case BLKIOMIN:
    case BLKIOOPT:
    case BLKALIGNOFF:
    case BLKDISCARDZEROES:
      return sizeof(int);
    case BLKGETSIZE:
    case BLKRAGET:
    case BLKFRAGET:
      return sizeof(KernelLong);
    default:
      return std::nullopt;
  }
}

// The plain buffer a request reads and writes: (bytes sent, bytes returned); nothing for a
// request whose argument is not known.
struct Plain {
  bool in = false, out = false;
  std::size_t size = 0;
};
std::optional<Plain> PlainArgument(unsigned long request) {
  if (auto legacy = LegacyArgumentSize(request)) return Plain{false, true, *legacy};
  const unsigned dir = _IOC_DIR(request);
  const std::size_t size = _IOC_SIZE(request);
  // Only numbers built with _IO/_IOR/_IOW/_IOWR name their argument; an old number whose
  // type byte is 0 carries nothing of the kind.
  if (_IOC_TYPE(request) == 0) return std::nullopt;
  return Plain{(dir & _IOC_WRITE) != 0, (dir & _IOC_READ) != 0, dir == _IOC_NONE ? 0 : size};
}

// What the call carries, before it is made.
bool EncodeSent(unsigned long request, const void* argument, std::vector<ExchangeField>& sent) {
  if (request == SG_IO) {
    const auto* io = static_cast<const sg_io_hdr_t*>(argument);
    sent.push_back(Bytes("cdb", io->cmdp, io->cmdp ? io->cmd_len : 0));
    sent.push_back(Number("direction", io->dxfer_direction));
    sent.push_back(Number("length", io->dxfer_len));
    if ((io->dxfer_direction == SG_DXFER_TO_DEV || io->dxfer_direction == SG_DXFER_TO_FROM_DEV) && io->dxferp &&
        io->iovec_count == 0)
      sent.push_back(Bytes("data-out", io->dxferp, io->dxfer_len));
    return true;
  }
  if (IsNvmePassThrough(request)) {
    // The command as sent, its buffer addresses and its result slot cleared: they are this
    // run's memory, not the command.
    nvme_passthru_cmd64 c{};
    std::memcpy(&c, argument, IsNvme64(request) ? sizeof(nvme_passthru_cmd64) : sizeof(nvme_passthru_cmd));
    const std::uint64_t addr = c.addr;
    c.addr = 0;
    c.metadata = 0;
    c.result = 0;
    sent.push_back(Bytes("command", &c, sizeof(nvme_passthru_cmd) - sizeof(std::uint32_t)));
    if ((c.opcode & 1) && addr && c.data_len)
      sent.push_back(Bytes("data-out", reinterpret_cast<const void*>(static_cast<std::uintptr_t>(addr)), c.data_len));
    return true;
  }
  if (request == HDIO_DRIVE_CMD) {
    sent.push_back(Bytes("registers", argument, 4));
    return true;
  }
  const auto plain = PlainArgument(request);
  if (!plain) return false;
  if (plain->in && plain->size && argument) sent.push_back(Bytes("argument", argument, plain->size));
  return true;
}

// What came back in the argument, after the call.
void EncodeReply(unsigned long request, const void* argument, std::vector<ExchangeField>& reply) {
  if (request == SG_IO) {
    const auto* io = static_cast<const sg_io_hdr_t*>(argument);
    reply.push_back(Number("status", io->status));
    reply.push_back(Number("masked-status", io->masked_status));
    reply.push_back(Number("host-status", io->host_status));
    reply.push_back(Number("driver-status", io->driver_status));
    reply.push_back(Number("resid", io->resid));
    reply.push_back(Number("info", io->info));
    reply.push_back(Bytes("sense", io->sbp, io->sbp ? std::min<unsigned>(io->sb_len_wr, io->mx_sb_len) : 0));
    if ((io->dxfer_direction == SG_DXFER_FROM_DEV || io->dxfer_direction == SG_DXFER_TO_FROM_DEV) && io->dxferp &&
        io->iovec_count == 0)
      reply.push_back(Bytes("data", io->dxferp, io->dxfer_len));
    return;
  }
  if (IsNvmePassThrough(request)) {
    nvme_passthru_cmd64 c{};
    std::memcpy(&c, argument, IsNvme64(request) ? sizeof(nvme_passthru_cmd64) : sizeof(nvme_passthru_cmd));
    const std::uint64_t result = IsNvme64(request) ? c.result : static_cast<const nvme_passthru_cmd*>(argument)->result;
    reply.push_back(Number("result", static_cast<std::int64_t>(result)));
    if ((c.opcode & 2) && c.addr && c.data_len)
      reply.push_back(Bytes("data", reinterpret_cast<const void*>(static_cast<std::uintptr_t>(c.addr)), c.data_len));
    return;
  }
  if (request == HDIO_DRIVE_CMD) {
    const auto* args = static_cast<const std::uint8_t*>(argument);
    reply.push_back(Bytes("registers", args, 4 + 512u * args[3]));
    return;
  }
  const auto plain = PlainArgument(request);
  if (plain && plain->out && plain->size && argument) reply.push_back(Bytes("argument", argument, plain->size));
}

// Fills the argument in from a recorded reply, as the kernel would.
void ApplyReply(unsigned long request, void* argument, const std::vector<ExchangeField>& reply) {
  if (request == SG_IO) {
    auto* io = static_cast<sg_io_hdr_t*>(argument);
    io->status = static_cast<unsigned char>(NumberOf(reply, "status"));
    io->masked_status = static_cast<unsigned char>(NumberOf(reply, "masked-status"));
    io->host_status = static_cast<unsigned short>(NumberOf(reply, "host-status"));
    io->driver_status = static_cast<unsigned short>(NumberOf(reply, "driver-status"));
    io->resid = static_cast<int>(NumberOf(reply, "resid"));
    io->info = static_cast<unsigned>(NumberOf(reply, "info"));
    const auto* sense = Find(reply, "sense");
    io->sb_len_wr = static_cast<unsigned char>(sense && sense->isBytes ? std::min<std::size_t>(sense->bytes.size(), io->mx_sb_len) : 0);
    if (io->sbp) CopyOut(reply, "sense", io->sbp, io->sb_len_wr);
    if (io->dxferp && io->iovec_count == 0) CopyOut(reply, "data", io->dxferp, io->dxfer_len);
    return;
  }
  if (IsNvmePassThrough(request)) {
    auto* c = static_cast<nvme_passthru_cmd*>(argument);
    if (IsNvme64(request))
      static_cast<nvme_passthru_cmd64*>(argument)->result = static_cast<std::uint64_t>(NumberOf(reply, "result"));
    else
      c->result = static_cast<std::uint32_t>(NumberOf(reply, "result"));
    if (c->addr && c->data_len)
      CopyOut(reply, "data", reinterpret_cast<void*>(static_cast<std::uintptr_t>(c->addr)), c->data_len);
    return;
  }
  if (request == HDIO_DRIVE_CMD) {
    auto* args = static_cast<std::uint8_t*>(argument);
    CopyOut(reply, "registers", args, 4 + 512u * args[3]);
    return;
  }
  const auto plain = PlainArgument(request);
  if (plain && plain->out && plain->size && argument) CopyOut(reply, "argument", argument, plain->size);
}

const char* KindName(Exchange::Kind k) {
  switch (k) {
    case Exchange::Kind::Open: return "open";
    case Exchange::Kind::Ioctl: return "ioctl";
    case Exchange::Kind::Pread: return "pread";
    case Exchange::Kind::Fstat: return "fstat";
  }
  return "?";
}

std::string Hex(const std::vector<std::uint8_t>& bytes, std::size_t from, std::size_t count) {
  static const char* digits = "0123456789abcdef";
  std::string s;
  for (std::size_t i = from; i < from + count && i < bytes.size(); ++i) {
    if (i > from) s += ' ';
    s += digits[bytes[i] >> 4];
    s += digits[bytes[i] & 15];
  }
  return s;
}

void WriteField(std::ostringstream& out, char mark, const ExchangeField& f) {
  out << "  " << mark << ' ' << f.name;
  if (!f.isBytes) {
    out << " = " << f.number << "\n";
    return;
  }
  out << ":";
  if (!f.bytes.empty()) out << ' ' << Hex(f.bytes, 0, 16);
  out << "\n";
  for (std::size_t i = 16; i < f.bytes.size(); i += 16) out << "      " << Hex(f.bytes, i, 16) << "\n";
}

bool ParseNumber(std::string_view s, std::int64_t& out, int base = 10) {
  if (s.empty() || s.size() > 24) return false;
  std::string t(s);
  char* end = nullptr;
  errno = 0;
  const long long v = std::strtoll(t.c_str(), &end, base);
  if (errno || !end || *end) return false;
  out = v;
  return true;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool ParseHex(std::string_view s, std::vector<std::uint8_t>& out) {
  std::size_t i = 0;
  while (i < s.size()) {
    if (s[i] == ' ') {
      ++i;
      continue;
    }
    if (i + 1 >= s.size()) return false;
    const int hi = HexDigit(s[i]), lo = HexDigit(s[i + 1]);
    if (hi < 0 || lo < 0) return false;
    if (out.size() >= kMaxFieldBytes) return false;
    out.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
    i += 2;
  }
  return true;
}

std::vector<std::string_view> Words(std::string_view line) {
  std::vector<std::string_view> w;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && line[i] == ' ') ++i;
    const std::size_t start = i;
    while (i < line.size() && line[i] != ' ') ++i;
    if (i > start) w.push_back(line.substr(start, i - start));
  }
  return w;
}

}  // namespace

std::string RequestName(unsigned long request) {
  struct Name {
    unsigned long request;
    const char* name;
  };
  static const Name names[] = {
      {SG_IO, "SG_IO"},
      {NVME_IOCTL_ID, "NVME_IOCTL_ID"},
      {NVME_IOCTL_ADMIN_CMD, "NVME_IOCTL_ADMIN_CMD"},
      {NVME_IOCTL_IO_CMD, "NVME_IOCTL_IO_CMD"},
      {NVME_IOCTL_ADMIN64_CMD, "NVME_IOCTL_ADMIN64_CMD"},
      {NVME_IOCTL_IO64_CMD, "NVME_IOCTL_IO64_CMD"},
      {HDIO_DRIVE_CMD, "HDIO_DRIVE_CMD"},
      {HDIO_GETGEO, "HDIO_GETGEO"},
      {HDIO_GET_IDENTITY, "HDIO_GET_IDENTITY"},
      {BLKGETSIZE64, "BLKGETSIZE64"},
      {BLKGETSIZE, "BLKGETSIZE"},
      {BLKSSZGET, "BLKSSZGET"},
      {BLKPBSZGET, "BLKPBSZGET"},
      {BLKROGET, "BLKROGET"},
  };
  for (const auto& n : names)
    if (n.request == request) return n.name;
  return {};
}

std::string Exchange::Key() const {
  std::ostringstream k;
  k << KindName(kind) << ' ' << node;
  if (kind == Kind::Ioctl) k << ' ' << request;
  if (kind == Kind::Pread) k << ' ' << offset << ' ' << length;
  for (const auto& f : sent) {
    k << ' ' << f.name << (f.isBytes ? ':' : '=');
    if (f.isBytes)
      k << Hex(f.bytes, 0, f.bytes.size());
    else
      k << f.number;
  }
  return k.str();
}

std::string WriteExchanges(const std::vector<Exchange>& exchanges) {
  std::ostringstream out;
  out << "# Every system call the device layer made on a device node, in order (see README).\n";
  for (const auto& e : exchanges) {
    out << "\n" << KindName(e.kind) << ' ' << e.node;
    if (e.kind == Exchange::Kind::Ioctl) {
      char number[24];
      std::snprintf(number, sizeof number, "0x%lx", e.request);
      out << ' ' << number;
      const std::string name = RequestName(e.request);
      if (!name.empty()) out << ' ' << name;
    }
    if (e.kind == Exchange::Kind::Pread) out << ' ' << e.offset << ' ' << e.length;
    out << "\n";
    for (const auto& f : e.sent) WriteField(out, '>', f);
    out << "  = " << e.result;
    if (e.result < 0) out << " errno " << e.error;
    out << "\n";
    for (const auto& f : e.reply) WriteField(out, '<', f);
  }
  return out.str();
}

std::optional<std::vector<Exchange>> ReadExchanges(std::string_view text, std::string& error) {
  std::vector<Exchange> out;
  std::size_t lineNo = 0, pos = 0;
  ExchangeField* open = nullptr;  // the bytes field continuation lines add to
  bool haveResult = false;
  auto fail = [&](const std::string& why) {
    error = "line " + std::to_string(lineNo) + ": " + why;
    return std::nullopt;
  };
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;
    ++lineNo;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    for (char c : line)
      if (static_cast<unsigned char>(c) < 0x20 && c != '\t')
        return fail("holds bytes that are not text");
    const auto words = Words(line);
    if (words.empty() || words[0][0] == '#') {
      open = nullptr;
      continue;
    }
    if (line[0] != ' ') {  // a call
      if (!out.empty() && !haveResult) return fail("the call before has no result line");
      Exchange e;
      const std::string_view kind = words[0];
      if (kind == "open") e.kind = Exchange::Kind::Open;
      else if (kind == "ioctl") e.kind = Exchange::Kind::Ioctl;
      else if (kind == "pread") e.kind = Exchange::Kind::Pread;
      else if (kind == "fstat") e.kind = Exchange::Kind::Fstat;
      else return fail("\"" + std::string(kind) + "\" is not a call");
      if (words.size() < 2 || words[1].empty() || words[1][0] != '/') return fail("the call names no device path");
      e.node = std::string(words[1]);
      if (e.kind == Exchange::Kind::Ioctl) {
        std::int64_t n = 0;
        if (words.size() < 3 || words[2].substr(0, 2) != "0x" || !ParseNumber(words[2].substr(2), n, 16) || n < 0)
          return fail("the request number is missing or not hexadecimal");
        e.request = static_cast<unsigned long>(n);
      } else if (e.kind == Exchange::Kind::Pread) {
        std::int64_t o = 0, l = 0;
        if (words.size() < 4 || !ParseNumber(words[2], o) || !ParseNumber(words[3], l) || o < 0 || l < 0 ||
            static_cast<std::uint64_t>(l) > kMaxFieldBytes)
          return fail("a read needs its offset and length");
        e.offset = static_cast<std::uint64_t>(o);
        e.length = static_cast<std::uint64_t>(l);
      }
      out.push_back(std::move(e));
      open = nullptr;
      haveResult = false;
      continue;
    }
    if (out.empty()) return fail("a field before any call");
    Exchange& e = out.back();
    const std::string_view first = words[0];
    if (first == "=") {
      std::int64_t r = 0;
      if (words.size() < 2 || !ParseNumber(words[1], r)) return fail("the result is not a number");
      e.result = static_cast<long>(r);
      if (words.size() >= 4 && words[2] == "errno") {
        std::int64_t n = 0;
        if (!ParseNumber(words[3], n)) return fail("the errno is not a number");
        e.error = static_cast<int>(n);
      }
      haveResult = true;
      open = nullptr;
      continue;
    }
    if (first == ">" || first == "<") {
      if (words.size() < 2) return fail("a field without a name");
      if ((first == ">") == haveResult) return fail(first == ">" ? "a sent field after the result" : "a reply field before the result");
      ExchangeField f;
      std::string_view name = words[1];
      auto& list = first == ">" ? e.sent : e.reply;
      if (name.back() == ':') {
        f.name = std::string(name.substr(0, name.size() - 1));
        f.isBytes = true;
        const std::size_t at = line.find(':') + 1;
        if (!ParseHex(line.substr(at), f.bytes)) return fail("\"" + f.name + "\" is not hexadecimal bytes");
        list.push_back(std::move(f));
        open = &list.back();
      } else {
        if (words.size() < 4 || words[2] != "=" || !ParseNumber(words[3], f.number))
          return fail("\"" + std::string(name) + "\" is neither bytes nor a number");
        f.name = std::string(name);
        list.push_back(std::move(f));
        open = nullptr;
      }
      if (list.back().name.empty()) return fail("a field without a name");
      continue;
    }
    if (!open) return fail("a line that belongs to no field");
    if (!ParseHex(line, open->bytes)) return fail("\"" + open->name + "\" is not hexadecimal bytes");
  }
  if (!out.empty() && !haveResult) {
    ++lineNo;
    return fail("the last call has no result line");
  }
  return out;
}

// --- Recording ---------------------------------------------------------------------------

std::string RecordingSystemCalls::NodeOf(int fd) const {
  auto it = nodes_.find(fd);
  return it == nodes_.end() ? std::string() : it->second;
}

int RecordingSystemCalls::Open(const std::string& path, int flags) {
  const int fd = inner_.Open(path, flags);
  const int err = errno;
  Exchange e;
  e.kind = Exchange::Kind::Open;
  e.node = belowRoot_(path);
  if (e.node.empty()) e.node = path;
  e.result = fd < 0 ? -1 : 0;
  e.error = fd < 0 ? err : 0;
  exchanges_.push_back(std::move(e));
  if (fd >= 0) nodes_[fd] = exchanges_.back().node;
  errno = err;
  return fd;
}

int RecordingSystemCalls::Close(int fd) {
  nodes_.erase(fd);
  return inner_.Close(fd);
}

int RecordingSystemCalls::Ioctl(int fd, unsigned long request, void* argument) {
  Exchange e;
  e.kind = Exchange::Kind::Ioctl;
  e.node = NodeOf(fd);
  e.request = request;
  const bool known = EncodeSent(request, argument, e.sent);
  const int r = inner_.Ioctl(fd, request, argument);
  const int err = errno;
  e.result = r;
  e.error = r < 0 ? err : 0;
  if (known) {
    if (r >= 0) EncodeReply(request, argument, e.reply);
  } else {
    char number[24];
    std::snprintf(number, sizeof number, "0x%lx", request);
    unrecorded_.push_back(std::string("ioctl ") + number + " on " + e.node);
  }
  if (!e.node.empty()) exchanges_.push_back(std::move(e));
  errno = err;
  return r;
}

ssize_t RecordingSystemCalls::Pread(int fd, void* buffer, std::size_t size, std::int64_t offset) {
  const ssize_t n = inner_.Pread(fd, buffer, size, offset);
  const int err = errno;
  Exchange e;
  e.kind = Exchange::Kind::Pread;
  e.node = NodeOf(fd);
  e.offset = static_cast<std::uint64_t>(offset);
  e.length = size;
  e.result = static_cast<long>(n);
  e.error = n < 0 ? err : 0;
  if (n > 0) e.reply.push_back(Bytes("data", buffer, static_cast<std::size_t>(n)));
  if (!e.node.empty()) exchanges_.push_back(std::move(e));
  errno = err;
  return n;
}

int RecordingSystemCalls::Fstat(int fd, struct stat* st) {
  const int r = inner_.Fstat(fd, st);
  const int err = errno;
  Exchange e;
  e.kind = Exchange::Kind::Fstat;
  e.node = NodeOf(fd);
  e.result = r;
  e.error = r < 0 ? err : 0;
  if (r == 0) {
    e.reply.push_back(Number("mode", st->st_mode));
    e.reply.push_back(Number("size", st->st_size));
    e.reply.push_back(Number("rdev", static_cast<std::int64_t>(st->st_rdev)));
  }
  if (!e.node.empty()) exchanges_.push_back(std::move(e));
  errno = err;
  return r;
}

// --- Playing back ------------------------------------------------------------------------

ReplaySystemCalls::ReplaySystemCalls(const std::vector<Exchange>& exchanges, BelowRootFn belowRoot)
    : belowRoot_(std::move(belowRoot)) {
  for (const auto& e : exchanges) replies_[e.Key()].list.push_back(e);
}

const Exchange* ReplaySystemCalls::Next(const Exchange& call) {
  auto it = replies_.find(call.Key());
  if (it == replies_.end() || it->second.list.empty()) {
    Miss(call);
    return nullptr;
  }
  Replies& r = it->second;
  const Exchange* e = &r.list[std::min(r.used, r.list.size() - 1)];
  if (r.used < r.list.size()) ++r.used;
  return e;
}

void ReplaySystemCalls::Miss(const Exchange& call) {
  std::string what = std::string(KindName(call.kind)) + " " + call.node;
  if (call.kind == Exchange::Kind::Ioctl) {
    const std::string name = RequestName(call.request);
    char number[24];
    std::snprintf(number, sizeof number, "0x%lx", call.request);
    what += " " + (name.empty() ? std::string(number) : name);
    for (const auto& f : call.sent)
      if (f.isBytes && (f.name == "cdb" || f.name == "command" || f.name == "registers"))
        what += " (" + f.name + " " + Hex(f.bytes, 0, std::min<std::size_t>(f.bytes.size(), 16)) + ")";
  }
  if (call.kind == Exchange::Kind::Pread) what += " at " + std::to_string(call.offset) + ", " + std::to_string(call.length) + " bytes";
  if (std::find(missed_.begin(), missed_.end(), what) == missed_.end()) missed_.push_back(what);
}

std::vector<std::string> ReplaySystemCalls::Missed() const { return missed_; }

int ReplaySystemCalls::Open(const std::string& path, int) {
  Exchange call;
  call.kind = Exchange::Kind::Open;
  call.node = belowRoot_(path);
  if (call.node.empty()) {
    errno = ENOENT;
    return -1;
  }
  const Exchange* e = Next(call);
  if (!e) {
    errno = ENOENT;
    return -1;
  }
  if (e->result < 0) {
    errno = e->error ? e->error : EIO;
    return -1;
  }
  const int fd = nextFd_++;
  fds_[fd] = call.node;
  return fd;
}

int ReplaySystemCalls::Close(int fd) {
  if (fds_.erase(fd)) return 0;
  errno = EBADF;
  return -1;
}

int ReplaySystemCalls::Ioctl(int fd, unsigned long request, void* argument) {
  auto it = fds_.find(fd);
  if (it == fds_.end()) {
    errno = EBADF;
    return -1;
  }
  Exchange call;
  call.kind = Exchange::Kind::Ioctl;
  call.node = it->second;
  call.request = request;
  EncodeSent(request, argument, call.sent);
  const Exchange* e = Next(call);
  if (!e) {
    errno = ENOTTY;
    return -1;
  }
  if (e->result < 0) {
    errno = e->error ? e->error : EIO;
    return -1;
  }
  ApplyReply(request, argument, e->reply);
  return static_cast<int>(e->result);
}

ssize_t ReplaySystemCalls::Pread(int fd, void* buffer, std::size_t size, std::int64_t offset) {
  auto it = fds_.find(fd);
  if (it == fds_.end()) {
    errno = EBADF;
    return -1;
  }
  Exchange call;
  call.kind = Exchange::Kind::Pread;
  call.node = it->second;
  call.offset = static_cast<std::uint64_t>(offset);
  call.length = size;
  const Exchange* e = Next(call);
  if (!e) {
    errno = EIO;
    return -1;
  }
  if (e->result < 0) {
    errno = e->error ? e->error : EIO;
    return -1;
  }
  const auto* data = Find(e->reply, "data");
  const std::size_t n = data && data->isBytes ? std::min(size, data->bytes.size()) : 0;
  if (n) std::memcpy(buffer, data->bytes.data(), n);
  return static_cast<ssize_t>(n);
}

int ReplaySystemCalls::Fstat(int fd, struct stat* st) {
  auto it = fds_.find(fd);
  if (it == fds_.end()) {
    errno = EBADF;
    return -1;
  }
  Exchange call;
  call.kind = Exchange::Kind::Fstat;
  call.node = it->second;
  const Exchange* e = Next(call);
  if (!e || e->result < 0) {
    errno = e && e->error ? e->error : EIO;
    return -1;
  }
  *st = {};
  st->st_mode = static_cast<mode_t>(NumberOf(e->reply, "mode"));
  st->st_size = static_cast<decltype(st->st_size)>(NumberOf(e->reply, "size"));
  st->st_rdev = static_cast<dev_t>(NumberOf(e->reply, "rdev"));
  return 0;
}

}  // namespace kyvex::platform::linuxdev
