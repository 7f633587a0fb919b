#include "report/Capture.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <regex>
#include <set>
#include <sstream>

#include "common/Kyvex_Routines.h"
#include "platform/Platform.h"
#include "platform/ProcessorApi.h"
#include "platform/Text.h"
#include "platform/linux/LinuxDevice.h"
#include "report/MachineReport.h"
#include "storage/KSI_Storage.h"

namespace kyvex::capture {

namespace fs = std::filesystem;
using platform::LinuxPlatform;

const char* const kCaptureReadme =
    "A machine captured by `kyvex capture`; `kyvex --sysroot THIS-FOLDER report` (or cpu,\n"
    "smbios, storage, save, show) shows it on any machine, reading nothing of that machine.\n"
    "\n"
    "Every file is plain text except the copies below fs/ that are binary on the machine too\n"
    "(the SMBIOS table, for one).\n"
    "\n"
    "machine.txt   The facts a running system gives without a file: format version, the\n"
    "              user the capture ran as and whether it had administrator (root) rights,\n"
    "              whether the VMware and Virtual PC guest interfaces answered, the processor\n"
    "              architecture and page size, the number of logical processors, and whether\n"
    "              serial numbers were masked.\n"
    "cpuid.txt     Every logical processor's CPUID leaves, in the raw form of the `cpuid`\n"
    "              tool (`cpuid -r`): \"CPU n:\", then \"leaf sub-leaf: eax= ebx= ecx= edx=\".\n"
    "clocks.txt    Each processor's clock as measured when captured, in MHz (raw and\n"
    "              normalized), with the measurement's details; \"none\" where there was none.\n"
    "              A capture is shown with these clocks: nothing is measured.\n"
    "fs/           The files the Linux layer read (below /proc, /sys, /etc, /usr/lib), at\n"
    "              their paths, with the links between them as links (all relative). A folder\n"
    "              whose entries were listed holds every entry; a device node the layer\n"
    "              opened is an empty file here (its replies are in devices.txt). Among them:\n"
    "              /etc/os-release, /proc/sys/kernel/osrelease and hostname, /proc/cpuinfo,\n"
    "              /sys/firmware/dmi/tables/smbios_entry_point and DMI (the SMBIOS entry\n"
    "              point and table, where they could be read), /sys/class/dmi/id, /sys/block.\n"
    "devices.txt   Every system call made on a device node, in order: opens, ioctls (the\n"
    "              request number and name, what the request carried after \">\", the result\n"
    "              after \"=\", what came back after \"<\"; \"name: hex\" is bytes, \"name = N\" a\n"
    "              number), reads and fstat. A request is answered by the recorded call that\n"
    "              carried the same bytes, in the recorded order.\n"
    "report.txt    `kyvex report` and `kyvex report --json` as this machine gave them when\n"
    "report.json   captured: the capture shown elsewhere must give the same.\n"
    "\n"
    "With --mask-serials, serial numbers, UUIDs and GPT GUIDs were replaced in every file by\n"
    "placeholders of the same length (the same value by the same placeholder throughout).\n"
    "\n"
    "`kyvex capture --archive FILE.tar.gz` writes the same files into one gzip'd tar, below a\n"
    "folder named after it; `kyvex --sysroot FILE.tar.gz` shows it as it shows the folder.\n";

namespace {

constexpr int kFormat = 1;
constexpr std::uint64_t kMaxTextFile = 64u << 20;

bool WriteFile(const fs::path& p, const std::string& content) {
  std::error_code ec;
  fs::create_directories(p.parent_path(), ec);
  std::ofstream f(p, std::ios::binary | std::ios::trunc);
  f << content;
  f.flush();
  return static_cast<bool>(f);
}

std::string ReadHostFile(const std::string& host, std::uint64_t limit) {
  std::ifstream f(host, std::ios::binary);
  if (!f) return {};
  std::string s;
  // Room for the whole file at once where its size is known: a capture's processor readings run
  // to megabytes, and growing into them would take half as much again.
  std::error_code ec;
  if (const auto size = fs::file_size(host, ec); !ec) s.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(size, limit)));
  char piece[1 << 16];
  while (s.size() < limit && f) {
    f.read(piece, static_cast<std::streamsize>(std::min<std::uint64_t>(sizeof piece, limit - s.size())));
    s.append(piece, static_cast<std::size_t>(f.gcount()));
  }
  return s;
}

// Copies what the layer reached for, from the machine's root to the capture's fs folder,
// keeping links as (relative) links and following them to what they name.
#ifdef __linux__
class TreeCopier {
 public:
  TreeCopier(std::string root, fs::path to) : root_(std::move(root)), to_(std::move(to)) {
    if (root_.size() > 1 && root_.back() == '/') root_.pop_back();
  }
  void Copy(const std::string& path, bool listed, int depth = 0) {
    if (depth > 32) return;
    const fs::path normal = fs::path(path).lexically_normal();
    if (!normal.is_absolute()) return;
    if (!visited_.insert(normal.string() + (listed ? "/*" : "")).second) return;
    std::vector<std::string> parts;
    for (const auto& part : normal.relative_path()) parts.push_back(part.string());
    std::string cur;
    for (std::size_t i = 0; i < parts.size(); ++i) {
      const std::string next = cur + "/" + parts[i];
      struct stat st {};
      if (::lstat(Host(next).c_str(), &st) != 0) return;
      std::error_code ec;
      if (S_ISLNK(st.st_mode) && next != "/proc/self" && next != "/proc/thread-self") {
        const fs::path target = fs::read_symlink(Host(next), ec);
        if (ec) return;
        const fs::path parent = fs::path(next).parent_path();
        const fs::path resolved = (target.is_absolute() ? target : parent / target).lexically_normal();
        const fs::path link = to_ / next.substr(1);
        if (!fs::is_symlink(fs::symlink_status(link, ec))) {
          fs::create_directories(link.parent_path(), ec);
          fs::create_symlink(resolved.lexically_relative(parent), link, ec);
        }
        std::string rest;
        for (std::size_t j = i + 1; j < parts.size(); ++j) rest += "/" + parts[j];
        Copy(resolved.string() + rest, listed, depth + 1);
        return;
      }
      if (S_ISDIR(st.st_mode) || S_ISLNK(st.st_mode)) {
        fs::create_directories(to_ / next.substr(1), ec);
        cur = next;
        continue;
      }
      if (i + 1 != parts.size()) return;
      const fs::path out = to_ / next.substr(1);
      if (S_ISREG(st.st_mode)) {
        if (!WriteFile(out, ReadHostFile(Host(next), LinuxPlatform::kMaxRecordedFile))) failed_.push_back(next);
        ++files_;
      } else if ((S_ISBLK(st.st_mode) || S_ISCHR(st.st_mode)) && !fs::exists(out, ec)) {
        WriteFile(out, "");  // the node's replies are in devices.txt
      }
      return;
    }
    // A folder: its entries, where they were listed.
    if (!listed) return;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(Host(cur.empty() ? "/" : cur), ec)) {
      const std::string entry = cur + "/" + e.path().filename().string();
      std::error_code ec2;
      const auto st = e.symlink_status(ec2);
      if (fs::is_symlink(st)) {
        Copy(entry, false, depth + 1);
      } else if (fs::is_directory(st)) {
        fs::create_directories(to_ / entry.substr(1), ec2);
      } else if (!fs::exists(to_ / entry.substr(1), ec2)) {
        WriteFile(to_ / entry.substr(1), "");
      }
    }
  }
  std::size_t Files() const { return files_; }
  const std::vector<std::string>& Failed() const { return failed_; }

 private:
  std::string Host(const std::string& path) const { return root_ == "/" ? path : root_ + path; }
  std::string root_;
  fs::path to_;
  std::set<std::string> visited_;
  std::size_t files_ = 0;
  std::vector<std::string> failed_;
};

#endif  // __linux__

std::string CpuidText(const TProcessorCensus& census) {
  std::string out;
  char line[128];
  for (std::size_t i = 0; i < census.Processors.size(); ++i) {
    out += "CPU " + std::to_string(i) + ":\n";
    for (const auto& [key, r] : census.Processors[i].Leaves.leaves) {
      std::snprintf(line, sizeof line, "   0x%08x 0x%02x: eax=0x%08x ebx=0x%08x ecx=0x%08x edx=0x%08x\n", key.first,
                    key.second, r.eax, r.ebx, r.ecx, r.edx);
      out += line;
    }
  }
  return out;
}

std::string ClocksText(const TRecordedClocks& clocks) {
  std::string out = "# processor: raw MHz, normalized MHz, interval, cycles, microseconds\n";
  for (std::size_t i = 0; i < clocks.size(); ++i) {
    out += "processor " + std::to_string(i) + ":";
    if (!clocks[i]) {
      out += " none\n";
      continue;
    }
    const auto& c = *clocks[i];
    out += " raw " + std::to_string(c.RawFrequency) + " normalized " + std::to_string(c.NormalizedFrequency) +
           " interval " + std::to_string(c.IntervalParameter) + " cycles " + std::to_string(c.Cycles) +
           " microseconds " + std::to_string(c.Microseconds) + "\n";
  }
  return out;
}

bool ParseU32(const std::string& s, std::uint32_t& out) {
  if (s.empty() || s.size() > 10 || s.find_first_not_of("0123456789") != std::string::npos) return false;
  const unsigned long long v = std::stoull(s);
  if (v > 0xFFFFFFFFull) return false;
  out = static_cast<std::uint32_t>(v);
  return true;
}

// Lines of a capture's text file; false at the first byte that is not text.
bool TextLines(const std::string& content, std::vector<std::string>& lines, std::string& error) {
  std::istringstream in(content);
  std::string line;
  std::size_t n = 0;
  while (std::getline(in, line)) {
    ++n;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    for (unsigned char c : line)
      if (c < 0x20 && c != '\t') {
        error = "line " + std::to_string(n) + " holds bytes that are not text";
        return false;
      }
    lines.push_back(line);
  }
  return true;
}

std::optional<TRecordedClocks> ParseClocks(const std::string& content, std::string& error) {
  std::vector<std::string> lines;
  if (!TextLines(content, lines, error)) return std::nullopt;
  TRecordedClocks clocks;
  for (std::size_t n = 0; n < lines.size(); ++n) {
    std::istringstream words(lines[n]);
    std::vector<std::string> w;
    for (std::string x; words >> x;) w.push_back(x);
    if (w.empty() || w[0][0] == '#') continue;
    std::uint32_t index = 0;
    auto bad = [&] {
      error = "line " + std::to_string(n + 1) + ": not \"processor N: raw MHZ normalized MHZ ...\" or \"processor N: none\"";
      return std::nullopt;
    };
    if (w.size() < 3 || w[0] != "processor" || w[1].back() != ':' || !ParseU32(w[1].substr(0, w[1].size() - 1), index) ||
        index != clocks.size() || index >= 8192)
      return bad();
    if (w[2] == "none" && w.size() == 3) {
      clocks.push_back(std::nullopt);
      continue;
    }
    TFrequencyInfo c;
    std::map<std::string, std::uint32_t*> slots = {{"raw", &c.RawFrequency},
                                                  {"normalized", &c.NormalizedFrequency},
                                                  {"interval", &c.IntervalParameter},
                                                  {"cycles", &c.Cycles},
                                                  {"microseconds", &c.Microseconds}};
    if ((w.size() - 2) % 2 != 0) return bad();
    for (std::size_t i = 2; i + 1 < w.size(); i += 2) {
      auto it = slots.find(w[i]);
      if (it == slots.end() || !ParseU32(w[i + 1], *it->second)) return bad();
    }
    clocks.push_back(c);
  }
  return clocks;
}

// --- Masking ------------------------------------------------------------------------------

const char* const kFillers[] = {"to be filled by o.e.m.", "default string", "not specified", "not applicable",
                                "none", "system serial number", "chassis serial number", "base board serial number",
                                "0123456789", "123456789", "00000000", "serial number", "unknown", "n/a"};

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

bool WorthMasking(const std::string& v) {
  if (v.size() < 4) return false;
  const std::string lower = Lower(v);
  for (const char* f : kFillers)
    if (lower == f) return false;
  return v.find_first_not_of(v[0]) != std::string::npos;  // "0000", "FFFF": no identity
}

void ReplaceAll(std::string& s, const std::string& from, const std::string& to) {
  if (from.empty()) return;
  for (std::size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size()))
    s.replace(at, from.size(), to);
}

std::string HexOf(const std::uint8_t* b, std::size_t n, bool upper) {
  std::string s;
  char h[3];
  for (std::size_t i = 0; i < n; ++i) {
    std::snprintf(h, sizeof h, upper ? "%02X" : "%02x", b[i]);
    s += h;
  }
  return s;
}

std::string Dashed(const std::uint8_t* b, bool swapped, bool upper) {
  std::uint8_t c[16];
  std::memcpy(c, b, 16);
  if (swapped) {
    std::swap(c[0], c[3]);
    std::swap(c[1], c[2]);
    std::swap(c[4], c[5]);
    std::swap(c[6], c[7]);
  }
  const std::string h = HexOf(c, 16, upper);
  return h.substr(0, 8) + "-" + h.substr(8, 4) + "-" + h.substr(12, 4) + "-" + h.substr(16, 4) + "-" + h.substr(20);
}

// The serial numbers and the UUID of an SMBIOS table: the system's, the board's, the
// enclosure's, each processor's and each memory device's.
void SmbiosSecrets(const std::string& table, Masker& m) {
  const auto* t = reinterpret_cast<const std::uint8_t*>(table.data());
  std::size_t at = 0;
  while (at + 4 <= table.size()) {
    const std::uint8_t type = t[at], length = t[at + 1];
    if (length < 4 || at + length > table.size()) break;
    std::size_t end = at + length;
    std::vector<std::string> strings;
    while (end < table.size()) {
      const std::size_t stop = table.find('\0', end);
      if (stop == std::string::npos) {
        end = table.size();
        break;
      }
      if (stop == end) {
        end = stop + 1;
        if (strings.empty() && end < table.size() && t[end] == 0) ++end;
        break;
      }
      strings.push_back(table.substr(end, stop - end));
      end = stop + 1;
    }
    int serial = type == 1 || type == 2 || type == 3 ? 0x07 : type == 4 ? 0x20 : type == 17 ? 0x18 : -1;
    if (serial >= 0 && serial < length && t[at + serial] && t[at + serial] <= strings.size())
      m.AddSerial(text::Trim(strings[t[at + serial] - 1]));
    if (type == 1 && length >= 0x19) m.AddUuid(t + at + 8);
    if (type == 127) break;
    at = end;
  }
}

void FixIdentifyChecksum(std::vector<std::uint8_t>& blob, std::size_t at, const std::vector<std::uint8_t>& before) {
  if (blob.size() < at + 512 || blob[at + 510] != 0xA5) return;
  std::uint8_t sum = 0;
  for (std::size_t i = 0; i < 512; ++i) sum = static_cast<std::uint8_t>(sum + before[at + i]);
  if (sum != 0) return;  // a block whose sum was wrong stays wrong
  sum = 0;
  for (std::size_t i = 0; i < 511; ++i) sum = static_cast<std::uint8_t>(sum + blob[at + i]);
  blob[at + 511] = static_cast<std::uint8_t>(0x100 - sum);
}

std::uint32_t Le32(const std::uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24; }
std::uint64_t Le64(const std::uint8_t* p) { return Le32(p) | static_cast<std::uint64_t>(Le32(p + 4)) << 32; }
void PutLe32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

using platform::linuxdev::Exchange;

std::vector<std::uint8_t>* ReadData(Exchange& e) {
  if (e.kind != Exchange::Kind::Pread) return nullptr;
  for (auto& f : e.reply)
    if (f.name == "data" && f.isBytes) return &f.bytes;
  return nullptr;
}

// A GPT header among a disk's recorded reads, and the read that holds its entry array.
struct GptRead {
  std::size_t header, at;   // exchange and byte offset of the header
  std::size_t headerSize;
  std::optional<std::size_t> entries;  // exchange whose read is the whole entry array
  std::uint64_t entryBytes;
  std::uint32_t count, entrySize;
};

// The headers are found where the layer reads them, at a sector's start; the sector size
// follows from where the header says it lies.
std::vector<GptRead> FindGpt(std::vector<Exchange>& exchanges) {
  std::vector<GptRead> found;
  for (std::size_t i = 0; i < exchanges.size(); ++i) {
    const auto* data = ReadData(exchanges[i]);
    if (!data) continue;
    for (std::size_t at = 0; at + 92 <= data->size(); at += 512) {
      const std::uint8_t* h = data->data() + at;
      if (std::memcmp(h, "EFI PART", 8) != 0) continue;
      const std::uint64_t lba = Le64(h + 24), offset = exchanges[i].offset + at;
      const std::uint32_t headerSize = Le32(h + 12);
      if (lba == 0 || offset % lba != 0 || headerSize < 92 || at + headerSize > data->size()) continue;
      const std::uint64_t sector = offset / lba;
      GptRead g{i, at, headerSize, std::nullopt, 0, Le32(h + 80), Le32(h + 84)};
      g.entryBytes = std::uint64_t{g.count} * g.entrySize;
      if (g.entrySize < 128 || g.entryBytes == 0 || g.entryBytes > (4u << 20)) continue;
      const std::uint64_t entriesAt = Le64(h + 72) * sector;
      for (std::size_t k = 0; k < exchanges.size(); ++k) {
        const auto* e = ReadData(exchanges[k]);
        if (e && exchanges[k].node == exchanges[i].node && exchanges[k].offset == entriesAt && e->size() >= g.entryBytes)
          g.entries = k;
      }
      found.push_back(g);
    }
  }
  return found;
}

// The disk's GUID and each partition's unique GUID, as the table stores them.
void GptSecrets(std::vector<Exchange>& exchanges, Masker& m) {
  for (const auto& g : FindGpt(exchanges)) {
    m.AddUuid(ReadData(exchanges[g.header])->data() + g.at + 56);
    if (!g.entries) continue;
    const auto& e = *ReadData(exchanges[*g.entries]);
    for (std::uint32_t i = 0; i < g.count; ++i) m.AddUuid(e.data() + std::size_t{i} * g.entrySize + 16);
  }
}

// A masked table checks out where the recorded one did: its entry array's and its header's
// checksums are computed anew over the placeholders.
void FixGptChecksums(std::vector<Exchange>& masked, const std::vector<Exchange>& recorded) {
  using platform::linuxdev::Crc32;
  std::vector<Exchange> before = recorded;
  for (const auto& g : FindGpt(before)) {
    std::vector<std::uint8_t> header(ReadData(before[g.header])->begin() + static_cast<std::ptrdiff_t>(g.at),
                                      ReadData(before[g.header])->begin() + static_cast<std::ptrdiff_t>(g.at + g.headerSize));
    const std::uint32_t headerCrc = Le32(&header[16]);
    PutLe32(&header[16], 0);
    if (Crc32(header.data(), header.size()) != headerCrc) continue;  // a wrong one stays wrong
    auto& h = *ReadData(masked[g.header]);
    if (g.entries) {
      const auto& was = *ReadData(before[*g.entries]);
      if (Crc32(was.data(), static_cast<std::size_t>(g.entryBytes)) == Le32(&header[88]))
        PutLe32(&h[g.at + 88], Crc32(ReadData(masked[*g.entries])->data(), static_cast<std::size_t>(g.entryBytes)));
    }
    PutLe32(&h[g.at + 16], 0);
    PutLe32(&h[g.at + 16], Crc32(&h[g.at], g.headerSize));
  }
}

}  // namespace

void Masker::AddSerial(const std::string& value) {
  if (!WorthMasking(value) || std::find(serials_.begin(), serials_.end(), value) != serials_.end()) return;
  for (const auto& [from, to] : pairs_)
    if (from == value) return;  // already a form of another value
  serials_.push_back(value);
  ++count_;
  std::string p = std::to_string(serials_.size());
  p = "S" + std::string(value.size() > p.size() + 1 ? value.size() - p.size() - 1 : 0, '0') + p;
  pairs_.emplace_back(value, p.substr(0, value.size()));
  serialPairs_.push_back(pairs_.back());
}

void Masker::AddUuid(const std::uint8_t bytes[16]) {
  const std::string raw(reinterpret_cast<const char*>(bytes), 16);
  if (std::find(uuids_.begin(), uuids_.end(), raw) != uuids_.end()) return;
  if (raw.find_first_not_of(raw[0]) == std::string::npos) return;  // all 00 or FF: not set
  for (const auto& [from, to] : pairs_)
    if (Lower(from) == Dashed(bytes, false, false) || Lower(from) == Dashed(bytes, true, false))
      return;
  uuids_.push_back(raw);
  ++count_;
  std::uint8_t p[16] = {};
  const std::size_t k = uuids_.size();
  p[14] = static_cast<std::uint8_t>(k >> 8);
  p[15] = static_cast<std::uint8_t>(k);
  pairs_.emplace_back(raw, std::string(reinterpret_cast<const char*>(p), 16));
  for (bool upper : {false, true}) {
    pairs_.emplace_back(HexOf(bytes, 16, upper), HexOf(p, 16, upper));
    pairs_.emplace_back(Dashed(bytes, false, upper), Dashed(p, false, upper));
    pairs_.emplace_back(Dashed(bytes, true, upper), Dashed(p, true, upper));
  }
}

void Masker::FindUuids(const std::string& text) {
  static const std::regex uuid("[0-9a-fA-F]{8}-[0-9a-fA-F]{4}-[0-9a-fA-F]{4}-[0-9a-fA-F]{4}-[0-9a-fA-F]{12}");
  for (auto it = std::sregex_iterator(text.begin(), text.end(), uuid); it != std::sregex_iterator(); ++it) {
    std::string h = it->str();
    h.erase(std::remove(h.begin(), h.end(), '-'), h.end());
    std::uint8_t b[16];
    for (int i = 0; i < 16; ++i) b[i] = static_cast<std::uint8_t>(std::stoul(h.substr(2 * i, 2), nullptr, 16));
    AddUuid(b);
  }
}

void Masker::Apply(std::string& blob) const {
  for (const auto& [from, to] : pairs_) ReplaceAll(blob, from, to);
}

void Masker::Apply(std::vector<std::uint8_t>& blob) const {
  if (pairs_.empty() || blob.empty()) return;
  const std::vector<std::uint8_t> before = blob;
  std::string s(blob.begin(), blob.end());
  Apply(s);
  // ATA strings hold their characters swapped in pairs: the serial is looked for in both
  // alignments of the swapped bytes too.
  for (std::size_t parity = 0; parity < 2; ++parity) {
    auto swap = [&] {
      for (std::size_t i = parity; i + 1 < s.size(); i += 2) std::swap(s[i], s[i + 1]);
    };
    swap();
    for (const auto& [from, to] : serialPairs_) ReplaceAll(s, from, to);
    swap();
  }
  blob.assign(s.begin(), s.end());
  if (blob != before) {
    FixIdentifyChecksum(blob, 0, before);
    FixIdentifyChecksum(blob, 4, before);  // behind HDIO_DRIVE_CMD's four registers
  }
}

// --- Capturing ----------------------------------------------------------------------------

#ifdef __linux__
bool CaptureMachine(LinuxPlatform& machine, platform::linuxdev::SystemCalls& devices, const std::string& dir,
                    const CaptureOptions& options, CaptureSummary& summary, std::string& error) {
  const fs::path out(dir);
  std::error_code ec;
  if (fs::exists(out, ec)) {
    if (!fs::is_directory(out, ec)) {
      error = "exists and is not a folder";
      return false;
    }
    if (!fs::is_empty(out, ec)) {
      error = "is not empty; a capture is written into a new folder";
      return false;
    }
  }
  fs::create_directories(out / "fs", ec);
  if (ec) {
    error = "cannot be created (" + ec.message() + ")";
    return false;
  }

  std::mutex pathsMutex;
  std::set<std::pair<std::string, bool>> paths;
  machine.SetPathObserver([&](const std::string& path, bool listed) {
    std::lock_guard<std::mutex> lock(pathsMutex);
    paths.insert({path, listed});
  });
  platform::linuxdev::RecordingSystemCalls recorder(devices, [&machine](const std::string& p) { return machine.BelowRoot(p); });
  platform::SetLinuxSystemCalls(machine.Devices(), &recorder);

  platform::RecordedMachineFacts facts;
  TProcessorCensus census;
  auto clocks = std::make_shared<TRecordedClocks>();
  std::string reportText, reportJson;
  std::vector<std::string> storageSerials;
  try {
    platform::ScopedPlatform scope(machine);
    census = ReadProcessorCensus();
    MeasureClocks(census);
    for (const auto& p : census.Processors) clocks->push_back(p.ClockKnown ? std::optional(p.Clock) : std::nullopt);
    // The report is made from this very reading of the processors and the clocks just
    // measured, so that the capture shown again gives it: a second reading can differ (some
    // hypervisors hand out the APIC ID of whichever host core runs the virtual processor).
    UseRecordedClocks(clocks);
    const auto recorded = std::make_shared<const TProcessorCensus>(census);
    reportText = report::MachineReport(false, recorded);
    reportJson = report::MachineReport(true, recorded);
    UseRecordedClocks(nullptr);
    facts.userName = machine.GetUserName().value_or("");
    facts.admin = IsAdmin();
    facts.vmwarePort = IsVMWare();
    facts.virtualPcCall = IsVirtualPC();
    platform::SystemInfo info;
    machine.Processor().GetSystemInfo(info);
    facts.architecture = info.wProcessorArchitecture;
    facts.pageSize = info.dwPageSize;
    if (options.maskSerials) {
      TKyvex_Storage storage;
      storage.CollectData();
      for (std::int32_t i = 0; i < storage.PhysicalCount(); ++i) {
        TDeviceInfo d;
        storage.GetPhysicalDevice(i, d);
        storageSerials.push_back(text::Trim(d.SerialNumber));
      }
    }
  } catch (...) {
    UseRecordedClocks(nullptr);
    machine.SetPathObserver(nullptr);
    platform::SetLinuxSystemCalls(machine.Devices(), nullptr);
    throw;
  }
  machine.SetPathObserver(nullptr);
  platform::SetLinuxSystemCalls(machine.Devices(), nullptr);

  // The files, whatever the layer reached for and the few every capture carries.
  TreeCopier copier(machine.Root(), out / "fs");
  for (const char* always : {"/etc/os-release", "/usr/lib/os-release", "/proc/sys/kernel/osrelease",
                             "/proc/sys/kernel/hostname", "/proc/version", "/proc/cpuinfo",
                             "/sys/devices/system/cpu/online", "/sys/firmware/dmi/tables/smbios_entry_point",
                             "/sys/firmware/dmi/tables/DMI"})
    paths.insert({always, false});
  for (const auto& [path, listed] : paths) copier.Copy(path, listed);
  for (const auto& f : copier.Failed()) summary.notes.push_back(f + ": could not be copied");

  std::vector<platform::linuxdev::Exchange> exchanges = recorder.Exchanges();
  for (const auto& u : recorder.Unrecorded()) summary.notes.push_back(u + ": what it carried is not known; only its result was recorded");

  if (options.maskSerials) {
    Masker m;
    const fs::path fsDir = out / "fs";
    auto readBelow = [&](const char* p) { return ReadHostFile((fsDir / (p + 1)).string(), kMaxTextFile); };
    SmbiosSecrets(readBelow("/sys/firmware/dmi/tables/DMI"), m);
    for (const char* p : {"/sys/class/dmi/id/product_serial", "/sys/class/dmi/id/board_serial",
                          "/sys/class/dmi/id/chassis_serial"})
      m.AddSerial(text::Trim(readBelow(p)));
    for (const auto& s : storageSerials) m.AddSerial(s);
    GptSecrets(exchanges, m);
    std::vector<fs::path> files;
    for (auto it = fs::recursive_directory_iterator(fsDir, ec); it != fs::recursive_directory_iterator(); it.increment(ec))
      if (it->is_regular_file(ec) && !it->is_symlink(ec)) files.push_back(it->path());
    for (const auto& f : files) {
      const std::string name = f.filename().string();
      const std::string content = ReadHostFile(f.string(), kMaxTextFile);
      if (name == "serial" || name == "wwid") m.AddSerial(text::Trim(content));
      m.FindUuids(content);
    }
    m.FindUuids(reportText);
    for (const auto& f : files) {
      const std::string content = ReadHostFile(f.string(), kMaxTextFile);
      std::vector<std::uint8_t> bytes(content.begin(), content.end());
      m.Apply(bytes);
      if (std::string(bytes.begin(), bytes.end()) != content) WriteFile(f, std::string(bytes.begin(), bytes.end()));
    }
    const std::vector<platform::linuxdev::Exchange> recorded = exchanges;
    for (auto& e : exchanges)
      for (auto* fields : {&e.sent, &e.reply})
        for (auto& field : *fields)
          if (field.isBytes) m.Apply(field.bytes);
    FixGptChecksums(exchanges, recorded);
    m.Apply(reportText);
    m.Apply(reportJson);
    summary.masked = m.Count();
  }

  std::ostringstream machineText;
  machineText << "# A captured machine's facts (see README)\n"
              << "format = " << kFormat << "\n"
              << "user = " << facts.userName << "\n"
              << "admin = " << (facts.admin ? "yes" : "no") << "\n"
              << "vmware-port = " << (facts.vmwarePort ? "yes" : "no") << "\n"
              << "virtualpc-call = " << (facts.virtualPcCall ? "yes" : "no") << "\n"
              << "architecture = " << facts.architecture << "\n"
              << "page-size = " << facts.pageSize << "\n"
              << "processors = " << census.Processors.size() << "\n"
              << "masked = " << (options.maskSerials ? "yes" : "no") << "\n";
  const bool written = WriteFile(out / "README", kCaptureReadme) && WriteFile(out / "machine.txt", machineText.str()) &&
                       WriteFile(out / "cpuid.txt", CpuidText(census)) && WriteFile(out / "clocks.txt", ClocksText(*clocks)) &&
                       WriteFile(out / "devices.txt", platform::linuxdev::WriteExchanges(exchanges)) &&
                       WriteFile(out / "report.txt", reportText) && WriteFile(out / "report.json", reportJson);
  if (!written) {
    error = "could not be written";
    return false;
  }
  summary.files = copier.Files();
  summary.requests = exchanges.size();
  summary.processors = census.Processors.size();
  return true;
}

#endif  // __linux__

// --- Opening ------------------------------------------------------------------------------

namespace {

// One of the capture's own files: a regular file (not a link: it could name any file of this
// machine) of at most `limit` bytes. Missing: nothing and no error when `optional`.
#ifdef __linux__
std::optional<std::string> CaptureFile(const fs::path& dir, const char* name, std::uint64_t limit, bool optional,
                                       std::string& error) {
  const fs::path p = dir / name;
  struct stat st {};
  if (::lstat(p.c_str(), &st) != 0) {
    if (!optional) error = std::string(name) + " is missing: " + dir.string() + " is not a capture";
    return std::nullopt;
  }
  if (!S_ISREG(st.st_mode)) {
    error = std::string(name) + (S_ISLNK(st.st_mode) ? " is a link; a capture holds its own files"
                                                      : " is not a regular file");
    return std::nullopt;
  }
  if (static_cast<std::uint64_t>(st.st_size) > limit) {
    error = std::string(name) + ": " + std::to_string(st.st_size) + " bytes, more than such a file may hold";
    return std::nullopt;
  }
  std::string content = ReadHostFile(p.string(), limit + 1);
  if (content.size() > limit) {
    error = std::string(name) + ": more than such a file may hold";
    return std::nullopt;
  }
  return content;
}

#endif

bool ParseFacts(const std::string& content, platform::RecordedMachineFacts& facts, std::size_t& processors,
                std::string& error) {
  std::vector<std::string> lines;
  if (!TextLines(content, lines, error)) return false;
  std::map<std::string, std::string> values;
  for (const auto& line : lines) {
    const std::string t = text::Trim(line);
    if (t.empty() || t[0] == '#') continue;
    const auto eq = t.find('=');
    if (eq == std::string::npos) {
      error = "\"" + t.substr(0, 40) + "\" is not \"name = value\"";
      return false;
    }
    values[text::Trim(t.substr(0, eq))] = text::Trim(t.substr(eq + 1));
  }
  if (values["format"] != std::to_string(kFormat)) {
    error = values.count("format") ? "format " + values["format"] + " is not one this program reads" : "no format line";
    return false;
  }
  auto yes = [&](const char* key) { return values[key] == "yes"; };
  facts.userName = values["user"];
  facts.admin = yes("admin");
  facts.vmwarePort = yes("vmware-port");
  facts.virtualPcCall = yes("virtualpc-call");
  std::uint32_t n = 0;
  if (ParseU32(values["architecture"], n) && n <= 0xFFFF) facts.architecture = static_cast<std::uint16_t>(n);
  if (ParseU32(values["page-size"], n) && n) facts.pageSize = n;
  if (!ParseU32(values["processors"], n) || n == 0 || n > 8192) {
    error = "the number of processors is missing or out of range";
    return false;
  }
  processors = n;
  return true;
}

}  // namespace

std::vector<std::string> OpenedCapture::Problems() const {
  std::vector<std::string> out = platform_->Problems();
  for (const auto& m : calls_->Missed()) out.push_back("devices.txt holds no reply to " + m);
  return out;
}

std::string OpenedCapture::CapturedReport(bool json) const {
  std::string error;
  return read_(json ? "report.json" : "report.txt", kMaxTextFile, true, error).value_or("");
}

// What a capture is, whichever way its files are read: `read` gives its own files, and the
// platform is made by the caller once the files have been read.
std::unique_ptr<OpenedCapture> OpenedCapture::Open(const FileReader& read, std::string& error) {
  auto fail = [&](const std::string& file, const std::string& why) {
    error = file.empty() ? why : file + ": " + why;
    return nullptr;
  };
  const auto machine = read("machine.txt", 1 << 16, false, error);
  if (!machine) return nullptr;
  platform::RecordedMachineFacts facts;
  std::size_t processors = 0;
  std::string why;
  if (!ParseFacts(*machine, facts, processors, why)) return fail("machine.txt", why);

  const auto cpuid = read("cpuid.txt", kMaxTextFile, false, error);
  if (!cpuid) return nullptr;
  auto snapshot = platform::ParseCpuidDump(*cpuid, why);
  if (!snapshot) return fail("cpuid.txt", why);
  if (snapshot->size() != processors)
    return fail("cpuid.txt", "holds " + std::to_string(snapshot->size()) + " processors, machine.txt names " +
                                 std::to_string(processors));
  facts.processors = std::move(*snapshot);

  auto opened = std::unique_ptr<OpenedCapture>(new OpenedCapture);
  opened->read_ = read;
  auto clocks = std::make_shared<TRecordedClocks>(processors);
  if (const auto text = read("clocks.txt", kMaxTextFile, true, error)) {
    auto parsed = ParseClocks(*text, why);
    if (!parsed) return fail("clocks.txt", why);
    if (parsed->size() > processors) return fail("clocks.txt", "holds more processors than machine.txt names");
    std::copy(parsed->begin(), parsed->end(), clocks->begin());
  } else if (!error.empty()) {
    return nullptr;
  }
  opened->clocks_ = clocks;

  std::vector<platform::linuxdev::Exchange> exchanges;
  if (const auto text = read("devices.txt", kMaxTextFile, true, error)) {
    auto parsed = platform::linuxdev::ReadExchanges(*text, why);
    if (!parsed) return fail("devices.txt", why);
    exchanges = std::move(*parsed);
  } else if (!error.empty()) {
    return nullptr;
  }
  opened->pendingFacts_ = std::move(facts);
  opened->pendingExchanges_ = std::move(exchanges);
  return opened;
}

namespace {

// The device replies behind the capture's platform, once it is made.
void AttachPlatform(OpenedCapture& opened, std::unique_ptr<LinuxPlatform>& slot,
                    std::unique_ptr<platform::linuxdev::ReplaySystemCalls>& calls,
                    std::vector<platform::linuxdev::Exchange>& exchanges) {
  LinuxPlatform* platform = slot.get();
  calls = std::make_unique<platform::linuxdev::ReplaySystemCalls>(
      exchanges, [platform](const std::string& p) { return platform->BelowRoot(p); });
  platform::SetLinuxSystemCalls(platform->Devices(), calls.get());
}

}  // namespace

std::unique_ptr<OpenedCapture> OpenCaptureFolder(const std::string& dir, std::string& error) {
  std::error_code ec;
  const fs::path root(dir);
  if (!fs::exists(root, ec)) {
    error = "no such folder";
    return nullptr;
  }
  if (!fs::is_directory(root, ec)) {
    error = "is not a folder; a capture is the folder `kyvex capture` wrote";
    return nullptr;
  }
#ifndef __linux__
  error = "is a capture's folder, which is shown on Linux only: a folder copied from Linux has lost the links "
          "its files are found by. Show the capture's archive (`kyvex capture --archive FILE.tar.gz`, or the "
          "folder packed with tar czf) instead";
  return nullptr;
#else
  auto opened = OpenedCapture::Open(
      [root](const char* name, std::uint64_t limit, bool optional, std::string& error) {
        return CaptureFile(root, name, limit, optional, error);
      },
      error);
  if (!opened) return nullptr;
  opened->dir_ = dir;

  struct stat st {};
  if (::lstat((root / "fs").c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    error = "fs: is missing or not a folder (a link is not taken)";
    return nullptr;
  }
  opened->platform_ = std::make_unique<LinuxPlatform>((root / "fs").string(), std::move(opened->pendingFacts_));
  AttachPlatform(*opened, opened->platform_, opened->calls_, opened->pendingExchanges_);
  opened->pendingExchanges_.clear();
  error.clear();
  return opened;
#endif
}

std::unique_ptr<OpenedCapture> OpenCaptureInMemory(const std::string& file, std::string& error) {
  auto tree = ReadCaptureArchive(file, error);
  if (!tree) return nullptr;
  // The capture's own files are regular files at its top, as in its folder.
  auto read = [tree, file](const char* name, std::uint64_t limit, bool optional,
                           std::string& error) -> std::optional<std::string> {
    const auto* node = tree->Find(name);
    if (!node) {
      if (!optional) error = std::string(name) + " is missing: " + file + " is not a capture";
      return std::nullopt;
    }
    if (node->kind != platform::CaptureTree::Kind::File) {
      error = std::string(name) + (node->kind == platform::CaptureTree::Kind::Link
                                       ? " is a link; a capture holds its own files"
                                       : " is not a regular file");
      return std::nullopt;
    }
    if (node->data.size() > limit) {
      error = std::string(name) + ": " + std::to_string(node->data.size()) + " bytes, more than such a file may hold";
      return std::nullopt;
    }
    return node->data;
  };
  auto opened = OpenedCapture::Open(read, error);
  if (!opened) return nullptr;
  opened->dir_ = file;
  const auto* fsNode = tree->Find("fs");
  if (!fsNode || fsNode->kind != platform::CaptureTree::Kind::Folder) {
    error = "fs: is missing or not a folder (a link is not taken)";
    return nullptr;
  }
  opened->platform_ = std::make_unique<LinuxPlatform>(tree->Subtree("fs"), std::move(opened->pendingFacts_));
  AttachPlatform(*opened, opened->platform_, opened->calls_, opened->pendingExchanges_);
  opened->pendingExchanges_.clear();
  error.clear();
  return opened;
}

std::unique_ptr<OpenedCapture> OpenCapture(const std::string& dir, std::string& error) {
  if (!LooksLikeArchive(dir)) return OpenCaptureFolder(dir, error);
#ifndef __linux__
  return OpenCaptureInMemory(dir, error);
#else
  auto unpacked = UnpackCaptureArchive(dir, error);
  if (!unpacked) return nullptr;
  auto opened = OpenCaptureFolder(unpacked->CaptureDir(), error);
  if (!opened) {
    // The private folder means nothing to the reader: the archive is named instead.
    ReplaceAll(error, unpacked->CaptureDir(), dir);
    return nullptr;
  }
  opened->unpacked_ = std::move(unpacked);
  return opened;
#endif
}

}  // namespace kyvex::capture
