#include "report/CaptureArchive.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <set>
#include <vector>

#include "platform/linux/CaptureTree.h"

namespace kyvex::capture {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kBlock = 512;
// Extended headers carry a name or two; anything longer is not one of ours nor tar's.
constexpr std::uint64_t kMaxExtendedHeader = 64u << 10;
constexpr std::size_t kMaxName = 4096;
// Everything the decompression may give, headers and skipped data included: a small file
// that inflates without end is refused, not read to its end.
constexpr std::uint64_t kMaxUnpacked = 2 * kMaxArchiveTotal;

// --- Writing ------------------------------------------------------------------------------
#ifdef __linux__

void PutOctal(char* field, std::size_t width, std::uint64_t value) {
  // width - 1 digits and a NUL, as ustar has it.
  std::string digits(width - 1, '0');
  for (std::size_t i = width - 1; i-- > 0 && value;) {
    digits[i] = static_cast<char>('0' + (value & 7));
    value >>= 3;
  }
  std::memcpy(field, digits.data(), width - 1);
  field[width - 1] = '\0';
}

struct Header {
  char b[kBlock];
};

Header MakeHeader(const std::string& name, char type, std::uint64_t size, std::uint32_t mode, std::time_t mtime,
                  const std::string& link) {
  Header h{};
  std::memcpy(h.b, name.data(), std::min<std::size_t>(name.size(), 100));
  PutOctal(h.b + 100, 8, mode);
  PutOctal(h.b + 108, 8, 0);
  PutOctal(h.b + 116, 8, 0);
  PutOctal(h.b + 124, 12, size);
  PutOctal(h.b + 136, 12, static_cast<std::uint64_t>(mtime));
  h.b[156] = type;
  std::memcpy(h.b + 157, link.data(), std::min<std::size_t>(link.size(), 100));
  std::memcpy(h.b + 257, "ustar", 6);
  std::memcpy(h.b + 263, "00", 2);
  std::memset(h.b + 148, ' ', 8);
  unsigned sum = 0;
  for (unsigned char c : h.b) sum += c;
  PutOctal(h.b + 148, 7, sum);
  h.b[155] = ' ';
  return h;
}

// A pax record: "LEN key=value\n", LEN counting itself.
std::string PaxRecord(const std::string& key, const std::string& value) {
  const std::size_t rest = key.size() + value.size() + 3;
  std::size_t len = rest + 1;
  while (std::to_string(len).size() + rest != len) ++len;
  return std::to_string(len) + " " + key + "=" + value + "\n";
}

class TarWriter {
 public:
  explicit TarWriter(gzFile out) : out_(out) {}
  bool Entry(const std::string& name, char type, const std::string& data, std::uint32_t mode, const std::string& link) {
    if (name.size() > 100 || link.size() > 100) {
      std::string pax;
      if (name.size() > 100) pax += PaxRecord("path", name);
      if (link.size() > 100) pax += PaxRecord("linkpath", link);
      if (!Write(MakeHeader("PaxHeaders/" + name.substr(0, 60), 'x', pax.size(), 0644, now_, ""), pax)) return false;
    }
    return Write(MakeHeader(name, type, data.size(), mode, now_, link), data);
  }
  bool Finish() {
    const std::string zeros(2 * kBlock, '\0');
    return Raw(zeros);
  }

 private:
  bool Write(const Header& h, const std::string& data) {
    if (!Raw(std::string(h.b, kBlock)) || !Raw(data)) return false;
    const std::size_t pad = (kBlock - data.size() % kBlock) % kBlock;
    return Raw(std::string(pad, '\0'));
  }
  bool Raw(const std::string& s) {
    for (std::size_t at = 0; at < s.size();) {
      const unsigned piece = static_cast<unsigned>(std::min<std::size_t>(s.size() - at, 1u << 20));
      if (gzwrite(out_, s.data() + at, piece) != static_cast<int>(piece)) return false;
      at += piece;
    }
    return true;
  }
  gzFile out_;
  std::time_t now_ = std::time(nullptr);
};

std::string TopName(const std::string& file) {
  std::string name = fs::path(file).filename().string();
  for (const char* ending : {".tar.gz", ".tgz", ".tar"})
    if (name.size() > std::strlen(ending) && name.ends_with(ending)) {
      name.resize(name.size() - std::strlen(ending));
      break;
    }
  return name.empty() || name == "." || name == ".." ? "capture" : name;
}

std::string ReadWhole(const fs::path& p, bool& ok) {
  std::ifstream f(p, std::ios::binary);
  std::string s((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  ok = static_cast<bool>(f) || f.eof();
  return s;
}
#endif  // __linux__

// --- Reading ------------------------------------------------------------------------------

std::uint64_t Number(const char* field, std::size_t width, bool& ok) {
  const auto* u = reinterpret_cast<const unsigned char*>(field);
  if (u[0] & 0x80) {  // base-256, as tar writes numbers too large for the octal field
    if (u[0] != 0x80) {
      ok = false;  // negative, or more than 64 bits
      return 0;
    }
    std::uint64_t v = 0;
    for (std::size_t i = 1; i < width; ++i) {
      if (v >> 56) {
        ok = false;
        return 0;
      }
      v = (v << 8) | u[i];
    }
    return v;
  }
  std::uint64_t v = 0;
  std::size_t i = 0;
  while (i < width && field[i] == ' ') ++i;
  for (; i < width && field[i] >= '0' && field[i] <= '7'; ++i) {
    if (v >> 60) {
      ok = false;
      return 0;
    }
    v = v * 8 + static_cast<unsigned>(field[i] - '0');
  }
  for (; i < width; ++i)
    if (field[i] != ' ' && field[i] != '\0') ok = false;
  return v;
}

std::string Field(const char* field, std::size_t width) {
  return std::string(field, strnlen(field, width));
}

bool ChecksumOk(const char* b) {
  bool ok = true;
  const std::uint64_t stored = Number(b + 148, 8, ok);
  if (!ok) return false;
  std::uint64_t unsignedSum = 0;
  std::int64_t signedSum = 0;
  for (std::size_t i = 0; i < kBlock; ++i) {
    const char c = i >= 148 && i < 156 ? ' ' : b[i];
    unsignedSum += static_cast<unsigned char>(c);
    signedSum += static_cast<signed char>(c);
  }
  return stored == unsignedSum || static_cast<std::int64_t>(stored) == signedSum;
}

// The entry's name made relative and plain ("a/b/c"), or why it cannot be taken.
bool CleanName(const std::string& raw, std::string& clean, std::string& why) {
  if (raw.empty()) {
    why = "has no name";
    return false;
  }
  if (raw.size() > kMaxName || raw.find('\0') != std::string::npos) {
    why = "has a name that is not a path";
    return false;
  }
  if (raw[0] == '/') {
    why = "has an absolute name; a capture's entries lie below its folder";
    return false;
  }
  std::vector<std::string> parts;
  std::size_t at = 0;
  while (at <= raw.size()) {
    std::size_t slash = raw.find('/', at);
    if (slash == std::string::npos) slash = raw.size();
    const std::string part = raw.substr(at, slash - at);
    at = slash + 1;
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      why = "climbs out of the folder with \"..\"";
      return false;
    }
    parts.push_back(part);
  }
  if (parts.empty()) {
    clean.clear();
    return true;  // the top folder itself ("./")
  }
  clean = parts[0];
  for (std::size_t i = 1; i < parts.size(); ++i) clean += "/" + parts[i];
  return true;
}

class GzSource {
 public:
  explicit GzSource(gzFile in) : in_(in) {}
  // Exactly `n` bytes, or false (with the reason) when the data ends early or is damaged.
  bool Read(char* to, std::size_t n, std::string& why) {
    while (n) {
      const unsigned piece = static_cast<unsigned>(std::min<std::size_t>(n, 1u << 20));
      const int got = gzread(in_, to, piece);
      if (got < 0) {
        int code = 0;
        why = std::string("the compressed data is damaged (") + gzerror(in_, &code) + ")";
        return false;
      }
      if (got == 0) {
        int code = 0;
        const char* message = gzerror(in_, &code);
        why = code == Z_OK || code == Z_STREAM_END || code == Z_BUF_ERROR
                  ? "the archive ends early (truncated)"
                  : std::string("the compressed data is damaged (") + message + ")";
        return false;
      }
      total_ += static_cast<std::uint64_t>(got);
      if (total_ > kMaxUnpacked) {
        why = "the archive unpacks to more than " + std::to_string(kMaxUnpacked >> 20) + " MiB";
        return false;
      }
      to += got;
      n -= static_cast<std::size_t>(got);
    }
    return true;
  }
  std::uint64_t Total() const { return total_; }

 private:
  gzFile in_;
  std::uint64_t total_ = 0;
};

struct GzCloser {
  void operator()(gzFile_s* f) const {
    if (f) gzclose(f);
  }
};

// Unpacks into a folder on the disk, or into a tree in memory (`tree`): both are checked
// alike, entry by entry and link by link.
class Unpacker {
 public:
  Unpacker(GzSource& in, std::string root) : in_(in), root_(std::move(root)) {}
  Unpacker(GzSource& in, platform::CaptureTree& tree) : in_(in), tree_(&tree) {}

  bool Run(std::string& error) {
    std::string longName, longLink, paxPath, paxLink;
    bool paxSize = false;
    std::uint64_t paxSizeValue = 0;
    std::uint64_t entries = 0, written = 0;
    char b[kBlock];
    std::string why;
    for (;;) {
      const std::uint64_t at = in_.Total();
      if (!in_.Read(b, kBlock, why)) {
        error = why + " (at byte " + std::to_string(at) + ", where an entry or the end was due)";
        return false;
      }
      if (std::all_of(b, b + kBlock, [](char c) { return c == 0; })) break;  // the end
      auto fail = [&](const std::string& name, const std::string& reason) {
        error = "entry " + (name.empty() ? "at byte " + std::to_string(at) : "\"" + name + "\"") + " " + reason;
        return false;
      };
      if (!ChecksumOk(b)) return fail("", "is not a tar header (its checksum does not match)");
      if (++entries > kMaxArchiveEntries)
        return fail("", "is one more than the " + std::to_string(kMaxArchiveEntries) + " entries a capture may hold");
      bool ok = true;
      std::uint64_t size = Number(b + 124, 12, ok);
      if (!ok) return fail("", "has a size that is not a number");
      const char type = b[156];
      std::string name = Field(b, 100);
      if (std::memcmp(b + 257, "ustar", 5) == 0 && b[345]) name = Field(b + 345, 155) + "/" + name;
      std::string link = Field(b + 157, 100);

      // Headers that describe the next entry.
      if (type == 'x' || type == 'g' || type == 'L' || type == 'K') {
        if (size > kMaxExtendedHeader)
          return fail(name, "announces an extended header of " + std::to_string(size) + " bytes, more than names take");
        std::string data(static_cast<std::size_t>(size), '\0');
        if (!ReadData(data.data(), size, why)) return fail(name, why);
        if (type == 'L') longName = Field(data.data(), data.size());
        if (type == 'K') longLink = Field(data.data(), data.size());
        if (type == 'x' && !ParsePax(data, paxPath, paxLink, paxSize, paxSizeValue, why)) return fail(name, why);
        continue;
      }
      if (!longName.empty()) name = longName;
      if (!paxPath.empty()) name = paxPath;
      if (!longLink.empty()) link = longLink;
      if (!paxLink.empty()) link = paxLink;
      if (paxSize) size = paxSizeValue;
      longName.clear(), longLink.clear(), paxPath.clear(), paxLink.clear(), paxSize = false;

      std::string rel;
      if (!CleanName(name, rel, why)) return fail(name, why);
      const bool isFile = type == '0' || type == '\0' || type == '7';
      if (!isFile && size != 0 && type != '5') return fail(name, "carries data its kind does not have");
      if (size > kMaxArchiveEntry)
        return fail(name, "announces " + std::to_string(size) + " bytes, more than a capture's file may hold");
      if (isFile && written + size > kMaxArchiveTotal)
        return fail(name, "takes the archive past the " + std::to_string(kMaxArchiveTotal >> 20) +
                              " MiB a capture may hold");
      if (rel.empty() && type != '5') return fail(name, "has no name below the folder");

      if (type == '5') {
        if (!MakeFolders(rel, true, why)) return fail(name, why);
        if (!Skip(size, why)) return fail(name, why);
      } else if (isFile) {
        if (!MakeFolders(rel, false, why) || !WriteFile(rel, size, why)) return fail(name, why);
        written += size;
      } else if (type == '2') {
        if (!Link(rel, link, why)) return fail(name, why);
      } else if (type == '1') {
        return fail(name, "is a hard link; a capture holds its own files and relative symbolic links only");
      } else if (type == '3' || type == '4' || type == '6') {
        return fail(name, "is a device node or a pipe; a capture holds files, folders and links only");
      } else {
        return fail(name, std::string("is of a kind a capture does not hold ('") + type + "')");
      }
    }
    return CheckLinks(error);
  }

 private:
  bool ReadData(char* to, std::uint64_t size, std::string& why) {
    if (!in_.Read(to, static_cast<std::size_t>(size), why)) return false;
    return Skip(0, why, size);
  }
  // Reads past `size` bytes of data and the padding after `done` (or `size`) bytes.
  bool Skip(std::uint64_t size, std::string& why, std::uint64_t done = 0) {
    char piece[1 << 14];
    for (std::uint64_t left = size; left;) {
      const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, sizeof piece));
      if (!in_.Read(piece, n, why)) return false;
      left -= n;
    }
    const std::uint64_t total = size ? size : done;
    const std::size_t pad = static_cast<std::size_t>((kBlock - total % kBlock) % kBlock);
    return pad == 0 || in_.Read(piece, pad, why);
  }

  static bool ParsePax(const std::string& data, std::string& path, std::string& link, bool& hasSize,
                       std::uint64_t& size, std::string& why) {
    std::size_t at = 0;
    while (at < data.size()) {
      if (data[at] == '\0') break;
      const std::size_t space = data.find(' ', at);
      std::size_t len = 0;
      bool ok = space != std::string::npos && space > at && space - at <= 8;
      for (std::size_t i = at; ok && i < space; ++i) {
        ok = data[i] >= '0' && data[i] <= '9';
        len = len * 10 + static_cast<std::size_t>(data[i] - '0');
      }
      if (!ok || len <= space - at + 1 || at + len > data.size() || data[at + len - 1] != '\n') {
        why = "holds an extended header that is not a list of records";
        return false;
      }
      const std::string record = data.substr(space + 1, at + len - 1 - space - 1);
      const std::size_t eq = record.find('=');
      if (eq == std::string::npos) {
        why = "holds an extended header record without a value";
        return false;
      }
      const std::string key = record.substr(0, eq), value = record.substr(eq + 1);
      if (key == "path") path = value;
      if (key == "linkpath") link = value;
      if (key == "size") {
        if (value.empty() || value.size() > 19 || value.find_first_not_of("0123456789") != std::string::npos) {
          why = "holds an extended size that is not a number";
          return false;
        }
        hasSize = true;
        size = std::stoull(value);
      }
      at += len;
    }
    return true;
  }

  std::string Host(const std::string& rel) const { return root_ + "/" + rel; }

  // The folders of `rel` (all of it, or all but its last part), made where missing. None of
  // them may be anything but a real folder: a link on the way could lead the write outside.
  bool MakeFolders(const std::string& rel, bool whole, std::string& why) {
    if (tree_) return !whole || tree_->AddFolder(rel, why);
#ifndef __linux__
    return false;
#else
    std::size_t at = 0;
    for (;;) {
      const std::size_t slash = rel.find('/', at);
      if (slash == std::string::npos && !whole) return true;
      const std::string part = rel.substr(0, slash == std::string::npos ? rel.size() : slash);
      struct stat st {};
      if (::lstat(Host(part).c_str(), &st) == 0) {
        if (!S_ISDIR(st.st_mode)) {
          why = "lies in \"" + part + "\", which is " + (S_ISLNK(st.st_mode) ? "a link" : "a file") +
                ", not a folder of the archive";
          return false;
        }
      } else if (::mkdir(Host(part).c_str(), 0700) != 0) {
        why = "cannot be unpacked (" + std::string(std::strerror(errno)) + ")";
        return false;
      }
      if (slash == std::string::npos) return true;
      at = slash + 1;
    }
#endif
  }

  bool WriteFile(const std::string& rel, std::uint64_t size, std::string& why) {
    if (tree_) {
      std::string data(static_cast<std::size_t>(size), '\0');
      if (!in_.Read(data.data(), data.size(), why) || !Skip(0, why, size)) return false;
      return tree_->AddFile(rel, std::move(data), why);
    }
#ifndef __linux__
    return false;
#else
    const int fd = ::open(Host(rel).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
      why = errno == EEXIST ? "appears twice in the archive" : "cannot be unpacked (" + std::string(std::strerror(errno)) + ")";
      return false;
    }
    char piece[1 << 16];
    bool ok = true;
    for (std::uint64_t left = size; left && ok;) {
      const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, sizeof piece));
      if (!in_.Read(piece, n, why)) {
        ok = false;
        break;
      }
      for (std::size_t done = 0; done < n;) {
        const ssize_t w = ::write(fd, piece + done, n - done);
        if (w <= 0) {
          why = "cannot be unpacked (" + std::string(std::strerror(errno)) + ")";
          ok = false;
          break;
        }
        done += static_cast<std::size_t>(w);
      }
      left -= n;
    }
    if (::close(fd) != 0 && ok) {
      why = "cannot be unpacked (" + std::string(std::strerror(errno)) + ")";
      ok = false;
    }
    return ok && Skip(0, why, size);
#endif
  }

  bool Link(const std::string& rel, const std::string& target, std::string& why) {
    if (target.empty() || target.size() > kMaxName || target[0] == '/') {
      why = target.empty() ? "is a link to nothing" : "is a link to an absolute path; a capture's links are relative";
      return false;
    }
    const fs::path resolved = (fs::path(rel).parent_path() / target).lexically_normal();
    if (resolved.empty() || *resolved.begin() == "..") {
      why = "is a link leading out of the archive's folder (\"" + target + "\")";
      return false;
    }
    if (tree_) return tree_->AddLink(rel, target, why);
#ifndef __linux__
    return false;
#else
    if (!MakeFolders(rel, false, why)) return false;
    if (::symlink(target.c_str(), Host(rel).c_str()) != 0) {
      why = errno == EEXIST ? "appears twice in the archive" : "cannot be unpacked (" + std::string(std::strerror(errno)) + ")";
      return false;
    }
    links_.push_back(rel);
    return true;
#endif
  }

  // Each link taken alone stays inside; links through links can still climb out, which only
  // following them on the disk shows. Every step is followed, a dangling end too, and none
  // may leave the folder.
  bool CheckLinks(std::string& error) {
    if (tree_) {
      std::string why;
      if (const auto bad = tree_->FirstBadLink(why)) {
        error = "entry \"" + *bad + "\" is a link " + (why == "leading out of the archive's folder"
                                                            ? std::string("leading out of the archive's folder through other links")
                                                            : why);
        return false;
      }
      return true;
    }
    std::error_code ec;
    const fs::path top = fs::canonical(root_, ec);
    if (ec) {
      error = "the unpacked folder cannot be resolved (" + ec.message() + ")";
      return false;
    }
    for (const auto& rel : links_) {
      const char* why = Follow(top, rel);
      if (why) {
        error = "entry \"" + rel + "\" is a link " + why;
        return false;
      }
    }
    return true;
  }

  static const char* Follow(const fs::path& top, const std::string& rel) {
    std::vector<std::string> todo;
    for (const auto& part : fs::path(rel)) todo.push_back(part.string());
    std::reverse(todo.begin(), todo.end());  // taken from the back
    fs::path at = top;
    int links = 0;
    std::error_code ec;
    while (!todo.empty()) {
      const std::string part = todo.back();
      todo.pop_back();
      if (part.empty() || part == ".") continue;
      if (part == "..") {
        if (at == top) return "leading out of the archive's folder through other links";
        at = at.parent_path();
        continue;
      }
      const fs::path next = at / part;
      if (!fs::is_symlink(fs::symlink_status(next, ec))) {
        at = next;
        continue;
      }
      if (++links > 40) return "in a loop of links";
      const fs::path target = fs::read_symlink(next, ec);
      if (ec || target.is_absolute()) return "leading out of the archive's folder";
      std::vector<std::string> parts;
      for (const auto& p : target) parts.push_back(p.string());
      for (auto it = parts.rbegin(); it != parts.rend(); ++it) todo.push_back(*it);
    }
    return nullptr;
  }

  GzSource& in_;
  std::string root_;
  platform::CaptureTree* tree_ = nullptr;
  std::vector<std::string> links_;
};

}  // namespace

#ifdef __linux__
bool WriteCaptureArchive(const std::string& dir, const std::string& file, std::string& error) {
  std::error_code ec;
  if (fs::exists(fs::symlink_status(file, ec))) {
    error = "exists; an archive is written as a new file";
    return false;
  }
  const std::string part = file + ".part-" + std::to_string(::getpid());
  std::unique_ptr<gzFile_s, GzCloser> out(gzopen(part.c_str(), "wb"));
  if (!out) {
    error = "cannot be written (" + std::string(std::strerror(errno)) + ")";
    return false;
  }
  auto failed = [&](const std::string& why) {
    out.reset();
    fs::remove(part, ec);
    error = why;
    return false;
  };
  const std::string top = TopName(file);
  TarWriter tar(out.get());
  if (!tar.Entry(top + "/", '5', "", 0755, "")) return failed("cannot be written");
  std::vector<fs::path> entries;
  for (auto it = fs::recursive_directory_iterator(dir, ec); !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
    entries.push_back(it->path());
  if (ec) return failed("the capture's folder cannot be read (" + ec.message() + ")");
  std::sort(entries.begin(), entries.end());
  for (const auto& p : entries) {
    const std::string name = top + "/" + p.lexically_relative(dir).generic_string();
    const auto st = fs::symlink_status(p, ec);
    bool ok = true;
    if (fs::is_symlink(st)) {
      const std::string target = fs::read_symlink(p, ec).string();
      ok = !ec && tar.Entry(name, '2', "", 0777, target);
    } else if (fs::is_directory(st)) {
      ok = tar.Entry(name + "/", '5', "", 0755, "");
    } else if (fs::is_regular_file(st)) {
      bool read = false;
      const std::string data = ReadWhole(p, read);
      if (!read) return failed(p.string() + " cannot be read");
      ok = tar.Entry(name, '0', data, 0644, "");
    }
    if (!ok) return failed("cannot be written");
  }
  if (!tar.Finish()) return failed("cannot be written");
  if (gzclose(out.release()) != Z_OK) {
    fs::remove(part, ec);
    error = "cannot be written";
    return false;
  }
  fs::rename(part, file, ec);
  if (ec) {
    fs::remove(part, ec);
    error = "cannot be written (" + ec.message() + ")";
    return false;
  }
  return true;
}

PrivateFolder::PrivateFolder(std::string& error) {
  std::error_code ec;
  std::string pattern = (fs::temp_directory_path(ec) / "kyvex-capture-XXXXXX").string();
  if (ec || !::mkdtemp(pattern.data())) {
    error = "no private temporary folder could be made (" + (ec ? ec.message() : std::string(std::strerror(errno))) + ")";
    return;
  }
  path_ = pattern;
}

PrivateFolder::~PrivateFolder() {
  std::error_code ec;
  if (!path_.empty()) fs::remove_all(path_, ec);
}

std::unique_ptr<UnpackedArchive> UnpackCaptureArchive(const std::string& file, std::string& error) {
  struct stat st {};
  if (::stat(file.c_str(), &st) != 0) {
    error = std::string(std::strerror(errno));
    return nullptr;
  }
  if (!S_ISREG(st.st_mode)) {
    error = "is neither a capture's folder nor an archive file";
    return nullptr;
  }
  std::unique_ptr<gzFile_s, GzCloser> in(gzopen(file.c_str(), "rb"));
  if (!in) {
    error = "cannot be read (" + std::string(std::strerror(errno)) + ")";
    return nullptr;
  }
  std::error_code ec;
  std::string why;
  auto unpacked = std::unique_ptr<UnpackedArchive>(new UnpackedArchive(why));
  const std::string pattern = unpacked->folder_.Path();
  if (pattern.empty()) {
    error = "cannot be unpacked: " + why;
    return nullptr;
  }
  GzSource source(in.get());
  Unpacker unpacker(source, pattern);
  if (!unpacker.Run(why)) {
    error = why;
    return nullptr;  // the folder goes with `unpacked`
  }
  // The capture lies at the top or in the archive's one folder.
  const fs::path root(pattern);
  if (fs::is_regular_file(fs::symlink_status(root / "machine.txt", ec))) {
    unpacked->captureDir_ = root.string();
    return unpacked;
  }
  std::vector<fs::path> tops;
  for (const auto& e : fs::directory_iterator(root, ec)) tops.push_back(e.path());
  if (tops.size() == 1 && fs::is_directory(fs::symlink_status(tops[0], ec)) &&
      fs::is_regular_file(fs::symlink_status(tops[0] / "machine.txt", ec))) {
    unpacked->captureDir_ = tops[0].string();
    return unpacked;
  }
  error = "holds no capture: no machine.txt at its top or in its one folder";
  return nullptr;
}
#endif  // __linux__

std::shared_ptr<const platform::CaptureTree> ReadCaptureArchive(const std::string& file, std::string& error) {
  std::error_code ec;
  const auto st = fs::status(file, ec);
  if (ec || !fs::exists(st)) {
    error = ec ? ec.message() : "no such file";
    return nullptr;
  }
  if (!fs::is_regular_file(st)) {
    error = "is neither a capture's folder nor an archive file";
    return nullptr;
  }
  std::unique_ptr<gzFile_s, GzCloser> in(gzopen(file.c_str(), "rb"));
  if (!in) {
    error = "cannot be read (" + std::string(std::strerror(errno)) + ")";
    return nullptr;
  }
  platform::CaptureTree tree;
  GzSource source(in.get());
  Unpacker unpacker(source, tree);
  std::string why;
  if (!unpacker.Run(why)) {
    error = why;
    return nullptr;
  }
  // The capture lies at the top or in the archive's one folder.
  auto isFile = [&](const std::string& rel) {
    const auto* n = tree.Find(rel);
    return n && n->kind == platform::CaptureTree::Kind::File;
  };
  if (isFile("machine.txt")) return tree.Subtree("");
  const auto tops = tree.List("");
  if (tops.size() == 1) {
    const auto* top = tree.Find(tops[0]);
    if (top && top->kind == platform::CaptureTree::Kind::Folder && isFile(tops[0] + "/machine.txt"))
      return tree.Subtree(tops[0]);
  }
  error = "holds no capture: no machine.txt at its top or in its one folder";
  return nullptr;
}

bool LooksLikeArchive(const std::string& path) {
  std::error_code ec;
  const auto st = fs::status(path, ec);
  if (!ec && fs::exists(st)) return !fs::is_directory(st);
  for (const char* ending : {".tar.gz", ".tgz", ".tar"})
    if (path.ends_with(ending)) return true;
  return false;
}

}  // namespace kyvex::capture
