// Recorded CPUID: reading the raw dump of the `cpuid` tool, and the processors that answer
// from a recording. A dump comes from elsewhere: every number is checked, and the size of
// what is kept is bounded by the size of the text.
#include "platform/CpuidSnapshot.h"

#include <cstddef>

#include "platform/Text.h"

namespace kyvex::platform {

namespace {

// Far beyond any real dump (a 256-processor machine dumps a few megabytes).
constexpr std::size_t kMaxDumpBytes = 64u << 20;
// The processor index of the component is a byte.
constexpr std::size_t kMaxProcessors = 256;

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

X86Registers CpuidLeaves::Get(std::uint32_t leaf, std::uint32_t subLeaf) const {
  auto it = leaves.find({leaf, subLeaf});
  return it == leaves.end() ? X86Registers{} : it->second;
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
  return cpus;
}

// --- Processors answering from a snapshot ---------------------------------------------------

SnapshotProcessor::SnapshotProcessor(CpuidSnapshot snapshot, double mhz) : cpus_(std::move(snapshot)), mhz_(mhz) {}

std::uint32_t SnapshotProcessor::SystemMask() const {
  const auto n = static_cast<std::uint32_t>(cpus_.size());
  return n >= 32 ? 0xFFFFFFFFu : (1u << n) - 1;
}

std::size_t SnapshotProcessor::CurrentCpu() const {
  const std::uint32_t mask = affinity_ ? affinity_ : SystemMask();
  for (std::size_t i = 0; i < 32; ++i)
    if (mask & (1u << i)) return i;
  return 0;
}

void SnapshotProcessor::GetSystemInfo(SystemInfo& info) {
  info = SystemInfo{};
  info.dwPageSize = 4096;
  info.dwNumberOfProcessors = static_cast<std::uint32_t>(cpus_.size());
  info.dwActiveProcessorMask = SystemMask();
}

bool SnapshotProcessor::GetProcessAffinityMask(Handle process, std::uint32_t& processMask, std::uint32_t& systemMask) {
  if (process != kCurrentProcessHandle) return false;
  processMask = affinity_ ? affinity_ : SystemMask();
  systemMask = SystemMask();
  return true;
}

bool SnapshotProcessor::SetProcessAffinityMask(Handle process, std::uint32_t mask) {
  // As Windows: a mask that is empty or names a processor the system lacks is refused.
  if (process != kCurrentProcessHandle || mask == 0 || (mask & ~SystemMask()) != 0) return false;
  affinity_ = mask;
  return true;
}

int SnapshotProcessor::GetThreadPriority(Handle thread) {
  return thread == kCurrentThreadHandle ? priority_ : kThreadPriorityErrorReturn;
}

bool SnapshotProcessor::SetThreadPriority(Handle thread, int priority) {
  if (thread != kCurrentThreadHandle) return false;
  priority_ = priority;
  return true;
}

bool SnapshotProcessor::CanToggleIdFlag() {
  const std::size_t cpu = CurrentCpu();
  return cpu < cpus_.size() && cpus_[cpu].hasCpuid;
}

X86Registers SnapshotProcessor::Cpuid(std::uint32_t leaf, std::uint32_t subLeaf) {
  const std::size_t cpu = CurrentCpu();
  return cpu < cpus_.size() ? cpus_[cpu].Get(leaf, subLeaf) : X86Registers{};
}

// The clock is virtual: each read of a counter moves it on by one tick, a sleep by the time
// slept, and the time-stamp counter follows at the rate given, so that a measurement of it
// finds exactly that rate (none without one).
void SnapshotProcessor::Advance(std::uint64_t ticks) {
  ticks_ += ticks;
  cycles_ += static_cast<double>(ticks) * mhz_ * 1e6 / static_cast<double>(kFrequency);
}

std::uint64_t SnapshotProcessor::ReadTimeStampCounter() { return static_cast<std::uint64_t>(cycles_); }

bool SnapshotProcessor::QueryPerformanceCounter(std::int64_t& count) {
  count = static_cast<std::int64_t>(ticks_);
  Advance(1);
  return true;
}

bool SnapshotProcessor::QueryPerformanceFrequency(std::int64_t& frequency) {
  frequency = kFrequency;
  return true;
}

std::uint32_t SnapshotProcessor::GetTickCount() {
  const auto ms = static_cast<std::uint32_t>(ticks_ * 1000 / kFrequency);
  Advance(1);
  return ms;
}

void SnapshotProcessor::Sleep(std::uint32_t milliseconds) { Advance(std::uint64_t{milliseconds} * kFrequency / 1000); }

// --- The running machine with recorded processors ----------------------------------------------

namespace {

// The registry's description of this machine's processors (on Linux, /proc/cpuinfo).
bool IsProcessorKey(const std::string& subKey) {
  return text::AsciiUpper(subKey).find("HARDWARE\\DESCRIPTION\\SYSTEM\\CENTRALPROCESSOR") != std::string::npos;
}

}  // namespace

SnapshotPlatform::SnapshotPlatform(Platform& base, CpuidSnapshot snapshot, double mhz)
    : base_(base), processor_(std::move(snapshot), mhz) {}

bool SnapshotPlatform::RegKeyExists(RegRoot root, const std::string& subKey) {
  return !IsProcessorKey(subKey) && base_.RegKeyExists(root, subKey);
}

std::optional<RegistryValue> SnapshotPlatform::RegQueryValue(RegRoot root, const std::string& subKey,
                                                             const std::string& valueName) {
  if (IsProcessorKey(subKey)) return std::nullopt;
  return base_.RegQueryValue(root, subKey, valueName);
}

}  // namespace kyvex::platform
