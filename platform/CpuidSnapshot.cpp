// Recorded CPUID: reading the raw dump of the `cpuid` tool. A dump comes from elsewhere: every number is checked, and the size of
// what is kept is bounded by the size of the text.
#include "platform/CpuidSnapshot.h"

#include <algorithm>

#include <cstddef>

#include "platform/Text.h"

namespace kyvex::platform {

namespace {

// Far beyond any real dump (a 256-processor machine dumps a few megabytes).
constexpr std::size_t kMaxDumpBytes = 64u << 20;
// As many logical processors as Linux can be built for.
constexpr std::size_t kMaxProcessors = 8192;

class LineReader {
 public:
  explicit LineReader(std::string_view line) : s_(line) {}

  void SkipBlanks() {
    while (pos_ < s_.size() && (s_[pos_] == ' ' || s_[pos_] == '\t')) ++pos_;
  }
  bool AtEnd() {
    SkipBlanks();
    return pos_ >= s_.size();
  }
  bool Literal(std::string_view lit) {
    if (s_.substr(pos_, lit.size()) != lit) return false;
    pos_ += lit.size();
    return true;
  }
  // "0x" and one to eight hexadecimal digits.
  bool Hex(std::uint32_t& out) {
    if (!Literal("0x") && !Literal("0X")) return false;
    std::uint32_t v = 0;
    int digits = 0;
    while (pos_ < s_.size()) {
      const char c = s_[pos_];
      int d;
      if (c >= '0' && c <= '9') d = c - '0';
      else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
      else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
      else break;
      if (++digits > 8) return false;
      v = (v << 4) | static_cast<std::uint32_t>(d);
      ++pos_;
    }
    out = v;
    return digits > 0;
  }
  bool Decimal() {
    std::size_t start = pos_;
    while (pos_ < s_.size() && s_[pos_] >= '0' && s_[pos_] <= '9') ++pos_;
    return pos_ > start && pos_ - start <= 6;
  }

 private:
  std::string_view s_;
  std::size_t pos_ = 0;
};

// "CPU:" or "CPU 12:".
bool IsProcessorHeader(std::string_view line) {
  LineReader r(line);
  r.SkipBlanks();
  if (!r.Literal("CPU")) return false;
  r.SkipBlanks();
  if (r.Literal(":")) return r.AtEnd();
  if (!r.Decimal()) return false;
  r.SkipBlanks();
  return r.Literal(":") && r.AtEnd();
}

// "0x00000001 0x00: eax=0x... ebx=0x... ecx=0x... edx=0x...".
bool ParseRegisterLine(std::string_view line, std::uint32_t& leaf, std::uint32_t& subLeaf, X86Registers& regs) {
  LineReader r(line);
  r.SkipBlanks();
  if (!r.Hex(leaf)) return false;
  r.SkipBlanks();
  if (!r.Hex(subLeaf)) return false;
  r.SkipBlanks();
  if (!r.Literal(":")) return false;
  const struct {
    const char* name;
    std::uint32_t* value;
  } fields[] = {{"eax=", &regs.eax}, {"ebx=", &regs.ebx}, {"ecx=", &regs.ecx}, {"edx=", &regs.edx}};
  for (const auto& f : fields) {
    r.SkipBlanks();
    if (!r.Literal(f.name) || !r.Hex(*f.value)) return false;
  }
  return r.AtEnd();
}

}  // namespace

void CpuidLeafList::Set(Key key, const X86Registers& regs) {
  if (rows_.empty() || rows_.back().first < key) {
    rows_.emplace_back(key, regs);
    return;
  }
  auto it = std::lower_bound(rows_.begin(), rows_.end(), key,
                             [](const value_type& row, const Key& k) { return row.first < k; });
  if (it != rows_.end() && it->first == key)
    it->second = regs;
  else
    rows_.insert(it, value_type{key, regs});
}

const X86Registers* CpuidLeafList::Find(Key key) const {
  auto it = std::lower_bound(rows_.begin(), rows_.end(), key,
                             [](const value_type& row, const Key& k) { return row.first < k; });
  return it != rows_.end() && it->first == key ? &it->second : nullptr;
}

X86Registers CpuidLeaves::Get(std::uint32_t leaf, std::uint32_t subLeaf) const {
  const X86Registers* r = leaves.Find({leaf, subLeaf});
  return r ? *r : X86Registers{};
}

std::optional<CpuidSnapshot> ParseCpuidDump(std::string_view text, std::string& error) {
  if (text.size() > kMaxDumpBytes) {
    error = "the file is too large to be a cpuid dump";
    return std::nullopt;
  }
  CpuidSnapshot cpus;
  bool open = false;      // a processor block has started
  bool skipping = false;  // past the last processor that is kept
  std::size_t registerLines = 0;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);

    if (IsProcessorHeader(line)) {
      if (cpus.size() >= kMaxProcessors) {
        skipping = true;
        continue;
      }
      if (!cpus.empty()) cpus.back().leaves.ShrinkToFit();
      cpus.emplace_back();
      open = true;
      continue;
    }
    std::uint32_t leaf = 0, subLeaf = 0;
    X86Registers regs;
    if (!ParseRegisterLine(line, leaf, subLeaf, regs)) continue;
    if (skipping) continue;
    if (!open) {  // register lines without a header: one processor
      cpus.emplace_back();
      open = true;
    }
    cpus.back().Set(leaf, regs, subLeaf);
    ++registerLines;
  }
  if (registerLines == 0) {
    error = "no CPUID register lines found (expected the output of 'cpuid -r', lines such as "
            "\"0x00000000 0x00: eax=0x... ebx=0x... ecx=0x... edx=0x...\")";
    return std::nullopt;
  }
  if (!cpus.empty()) cpus.back().leaves.ShrinkToFit();
  return cpus;
}

}  // namespace kyvex::platform
