#include "cpu/KSI_CPUProcessors.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>
#include <utility>

#include "cpu/KSI_CPUHypervisor.h"
#include "platform/ProcessorApi.h"

namespace kyvex {

namespace {

using platform::CpuidLeaves;
using platform::X86Registers;

platform::ProcessorApi& Api() { return platform::Current().Processor(); }

// Caps on what one processor is asked: far above what any processor announces, low enough
// that a processor (or a hypervisor) announcing nonsense costs little.
constexpr std::uint32_t kMaxStandardLeaf = 0x7F;
constexpr std::uint32_t kMaxRangeLeaves = 0x7F;  // leaves past a range's base
constexpr std::uint32_t kMaxSubLeaves = 16;

bool InRange(std::uint32_t max, std::uint32_t base) { return max >= base && max <= base + kMaxRangeLeaves; }

class LeafReader {
 public:
  explicit LeafReader(CpuidLeaves& out) : out_(out), api_(Api()) {}

  X86Registers Read(std::uint32_t leaf, std::uint32_t subLeaf = 0) {
    const X86Registers r = api_.Cpuid(leaf, subLeaf);
    out_.Set(leaf, r, subLeaf);
    return r;
  }

  // Sub-leaves 0..last (capped).
  void ReadSubLeaves(std::uint32_t leaf, std::uint32_t last) {
    for (std::uint32_t s = 1; s <= std::min(last, kMaxSubLeaves); ++s) Read(leaf, s);
  }

  // Sub-leaves until `ends` says one is the terminating entry (which is kept too).
  template <class Ends>
  void ReadSubLeavesUntil(std::uint32_t leaf, Ends ends) {
    for (std::uint32_t s = 0; s < kMaxSubLeaves; ++s)
      if (ends(Read(leaf, s))) break;
  }

  void ReadStandard(std::uint32_t leaf) {
    switch (leaf) {
      case 2: {
        // The low byte says how often the leaf must run to give every descriptor; the
        // answer of the last run is the one kept, as the descriptor decoding reads it.
        const X86Registers first = Read(2);
        const std::uint32_t runs = std::min<std::uint32_t>(first.eax & 0xFF, kMaxSubLeaves);
        for (std::uint32_t i = 0; i < runs; ++i) Read(2);
        break;
      }
      case 4:
        ReadSubLeavesUntil(4, [](const X86Registers& r) { return (r.eax & 0x1F) == 0; });
        break;
      case 0xB:
      case 0x1F:
        ReadSubLeavesUntil(leaf, [](const X86Registers& r) { return ((r.ecx >> 8) & 0xFF) == 0; });
        break;
      case 0xD:
        Read(0xD);
        for (std::uint32_t s = 1; s < 64; ++s) Read(0xD, s);
        break;
      case 0xF:
      case 0x10:
        Read(leaf);
        ReadSubLeaves(leaf, 3);
        break;
      case 0x12:
        Read(0x12);
        Read(0x12, 1);
        for (std::uint32_t s = 2; s < kMaxSubLeaves; ++s)
          if ((Read(0x12, s).eax & 0xF) == 0) break;
        break;
      case 7:
      case 0x14:
      case 0x17:
      case 0x18:
      case 0x1D:
      case 0x20:
      case 0x23:
      case 0x24:
        ReadSubLeaves(leaf, Read(leaf).eax);  // sub-leaf 0 gives the last sub-leaf
        break;
      default:
        Read(leaf);
    }
  }

  void ReadExtended(std::uint32_t leaf) {
    switch (leaf) {
      case 0x8000001D:
        ReadSubLeavesUntil(leaf, [](const X86Registers& r) { return (r.eax & 0x1F) == 0; });
        break;
      case 0x80000020:
        Read(leaf);
        ReadSubLeaves(leaf, 3);
        break;
      case 0x80000026:
        ReadSubLeavesUntil(leaf, [](const X86Registers& r) { return ((r.ecx >> 8) & 0xFF) == 0; });
        break;
      default:
        Read(leaf);
    }
  }

  // A range whose first leaf names its last (extended, Transmeta, Centaur, a hypervisor's).
  void ReadRange(std::uint32_t base, bool extended) {
    const std::uint32_t max = Read(base).eax;
    if (!InRange(max, base)) return;
    for (std::uint32_t leaf = base + 1; leaf <= max; ++leaf) extended ? ReadExtended(leaf) : (void)Read(leaf);
  }

 private:
  CpuidLeaves& out_;
  platform::ProcessorApi& api_;
};

bool HasTimeStampCounter(const TProcessorRecord& p) {
  return p.Bound && p.Leaves.hasCpuid && p.Leaves.Get(0).eax >= 1 && (p.Leaves.Get(1).edx & (1u << 4)) != 0;
}

bool HasInvariantCounter(const TProcessorRecord& p) {
  return p.Leaves.Get(0x80000000).eax >= 0x80000007 && (p.Leaves.Get(0x80000007).edx & (1u << 8)) != 0;
}

void MeasureOn(TProcessorRecord& p, std::uint32_t index) {
  auto& api = Api();
  const bool bound = api.BindThreadToProcessor(index);
  // A lone processor is where the thread runs anyway, binding or not.
  if (!bound && api.LogicalProcessorCount() > 1) return;
  p.Clock = MeasureFrequency();
  p.ClockKnown = true;
  if (bound) api.ReleaseThreadBinding();
}

std::uint32_t CeilLog2(std::uint32_t n) {
  std::uint32_t s = 0;
  while (s < 32 && (std::uint64_t{1} << s) < n) ++s;
  return s;
}

std::string VendorOf(const CpuidLeaves& l) {
  const X86Registers r = l.Get(0);
  std::string s;
  for (std::uint32_t v : {r.ebx, r.edx, r.ecx})
    for (int i = 0; i < 4; ++i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
  return s;
}

// What the leaves of one processor say of its place: its ID and the bit widths of the thread
// and core fields in it, and the counts the leaves announce per core and per package.
struct Widths {
  bool known = false;
  std::uint32_t apicId = 0, smtShift = 0, packageShift = 0;
  std::uint32_t threadsPerCore = 1, logicalPerPackage = 1;
  const char* source = "";
};

Widths WidthsOf(const CpuidLeaves& l) {
  Widths w;
  if (!l.hasCpuid) return w;
  const std::uint32_t maxStandard = l.Get(0).eax;
  if (maxStandard < 1) return w;
  const std::string vendor = VendorOf(l);
  const X86Registers leaf1 = l.Get(1);
  const std::uint32_t maxExtended = l.Get(0x80000000).eax;
  w.known = true;

  // Leaf 1Fh, else 0Bh: a list of levels (SMT, core, module, tile, die), each with the shift
  // that takes an x2APIC ID to the next level's ID; the last level's shift gives the package.
  for (std::uint32_t leaf : {0x1Fu, 0xBu}) {
    if (maxStandard < leaf || (l.Get(leaf, 0).ebx & 0xFFFF) == 0) continue;
    w.apicId = l.Get(leaf, 0).edx;
    for (std::uint32_t s = 0; s < kMaxSubLeaves; ++s) {
      const X86Registers r = l.Get(leaf, s);
      const std::uint32_t type = (r.ecx >> 8) & 0xFF;
      if (type == 0) break;
      const std::uint32_t count = std::max<std::uint32_t>(r.ebx & 0xFFFF, 1);
      if (type == 1) {
        w.smtShift = r.eax & 0x1F;
        w.threadsPerCore = count;
      }
      w.packageShift = r.eax & 0x1F;
      w.logicalPerPackage = count;
    }
    w.source = leaf == 0x1F ? "leaf 1Fh" : "leaf 0Bh";
    return w;
  }

  // Leaf 1 EBX bits 23..16: the logical processors per package, where EDX bit 28 says the
  // field is there, and bits 31..24 the APIC ID.
  const bool legacyCount = (leaf1.edx & (1u << 28)) != 0;
  const std::uint32_t legacyLogical = legacyCount ? std::max<std::uint32_t>((leaf1.ebx >> 16) & 0xFF, 1) : 1;

  const bool amdDesign = vendor == "AuthenticAMD" || vendor == "HygonGenuine";
  if (amdDesign && InRange(maxExtended, 0x80000000) && maxExtended >= 0x80000008) {
    // 80000008h ECX: bits 15..12 the width of the core field of the APIC ID (0 on older
    // parts: derived from the count), bits 7..0 the logical processors per package less one.
    // The wider of this and leaf 1's count holds, as some hypervisors fill only one of them.
    const X86Registers e8 = l.Get(0x80000008);
    const std::uint32_t nc = (e8.ecx & 0xFF) + 1;
    const std::uint32_t width = (e8.ecx >> 12) & 0xF;
    w.packageShift = std::max(width ? width : CeilLog2(nc), CeilLog2(legacyLogical));
    w.logicalPerPackage = std::max(nc, legacyLogical);
    w.apicId = leaf1.ebx >> 24;
    w.source = "leaf 80000008h";
    // With the topology extensions, 8000001Eh gives the extended APIC ID and the threads per
    // core (per compute unit on family 15h) less one; a hypervisor may leave it all zero.
    const X86Registers e1e = maxExtended >= 0x8000001E ? l.Get(0x8000001E) : X86Registers{};
    const bool filled = e1e.eax || e1e.ebx || e1e.ecx;
    if ((l.Get(0x80000001).ecx & (1u << 22)) && filled) {
      // The wide ID only where it is the same processor's (its low byte the 8-bit ID).
      if ((e1e.eax & 0xFF) == w.apicId) w.apicId = e1e.eax;
      w.threadsPerCore = ((e1e.ebx >> 8) & 0xFF) + 1;
      w.smtShift = CeilLog2(w.threadsPerCore);
      w.source = "leaves 8000001Eh and 80000008h";
    }
    return w;
  }

  // Leaf 4 EAX bits 31..26: the cores per package less one (Intel).
  if (!legacyCount) {
    w.known = false;  // no APIC ID to place it by
    return w;
  }
  w.apicId = leaf1.ebx >> 24;
  w.logicalPerPackage = legacyLogical;
  std::uint32_t cores = 1;
  if (vendor == "GenuineIntel" && maxStandard >= 4 && (l.Get(4, 0).eax & 0x1F) != 0) cores = (l.Get(4, 0).eax >> 26) + 1;
  w.threadsPerCore = std::max<std::uint32_t>(w.logicalPerPackage / cores, 1);
  w.packageShift = CeilLog2(w.logicalPerPackage);
  w.smtShift = CeilLog2(w.threadsPerCore);
  w.source = cores > 1 ? "leaves 1 and 4" : "leaf 1";
  return w;
}

TCoreType CoreTypeOf(const CpuidLeaves& l) {
  // Leaf 7 EDX bit 15: a hybrid part; leaf 1Ah EAX bits 31..24 the core's kind.
  const std::uint32_t maxStandard = l.Get(0).eax;
  if (maxStandard < 0x1A || !(l.Get(7, 0).edx & (1u << 15))) return ctUnknown;
  switch (l.Get(0x1A).eax >> 24) {
    case 0x20: return ctEfficiency;  // Atom cores
    case 0x40: return ctPerformance;  // Core cores
    default: return ctUnknown;
  }
}

}  // namespace

const char* const CoreTypeNames[3] = {"ctUnknown", "ctPerformance", "ctEfficiency"};

std::string CoreTypeText(std::uint64_t type) {
  switch (type) {
    case ctPerformance: return "performance";
    case ctEfficiency: return "efficiency";
    default: return "";
  }
}

platform::CpuidLeaves ReadProcessorLeaves() {
  CpuidLeaves out;
  out.hasCpuid = Api().CanToggleIdFlag();
  if (!out.hasCpuid) return out;
  LeafReader reader(out);
  const std::uint32_t maxStandard = std::min(reader.Read(0).eax, kMaxStandardLeaf);
  for (std::uint32_t leaf = 1; leaf <= maxStandard; ++leaf) reader.ReadStandard(leaf);
  // Hypervisors answer from 40000000h; Xen may sit further up, leaving the first range to an
  // emulated Hyper-V. Without the hypervisor bit the range is not theirs to read.
  if (maxStandard >= 1 && (out.Get(1).ecx & (1u << 31)))
    for (std::uint32_t base = kHypervisorFirstLeaf; base < kHypervisorLeafEnd; base += kHypervisorLeafStep)
      reader.ReadRange(base, false);
  reader.ReadRange(0x80000000, true);
  reader.ReadRange(0x80860000, false);
  reader.ReadRange(0xC0000000, false);
  out.leaves.ShrinkToFit();
  return out;
}

TProcessorCensus ReadProcessorCensus() {
  auto& api = Api();
  TProcessorCensus census;
  const std::uint32_t count = std::max<std::uint32_t>(api.LogicalProcessorCount(), 1);
  census.Processors.resize(count);
  for (std::uint32_t i = 0; i < count; ++i) {
    TProcessorRecord& p = census.Processors[i];
    // With one processor there is nowhere else to run (and Windows 9x, one processor only,
    // cannot bind at all).
    p.Bound = api.BindThreadToProcessor(i) || count == 1;
    if (p.Bound) p.Leaves = ReadProcessorLeaves();
  }
  api.ReleaseThreadBinding();
  return census;
}

namespace {
std::mutex g_recordedClocksMutex;
std::shared_ptr<const TRecordedClocks> g_recordedClocks;
}  // namespace

void UseRecordedClocks(std::shared_ptr<const TRecordedClocks> clocks) {
  std::lock_guard<std::mutex> lock(g_recordedClocksMutex);
  g_recordedClocks = std::move(clocks);
}

void MeasureClocks(TProcessorCensus& census, std::optional<std::uint32_t> only) {
  if (census.Recorded) return;
  auto& all = census.Processors;
  std::shared_ptr<const TRecordedClocks> recorded;
  {
    std::lock_guard<std::mutex> lock(g_recordedClocksMutex);
    recorded = g_recordedClocks;
  }
  if (recorded) {
    for (std::uint32_t i = 0; i < all.size() && i < recorded->size(); ++i)
      if ((!only || *only == i) && (*recorded)[i]) {
        all[i].Clock = *(*recorded)[i];
        all[i].ClockKnown = true;
      }
    return;
  }
  std::vector<std::uint32_t> wanted;
  for (std::uint32_t i = 0; i < all.size(); ++i)
    if ((!only || *only == i) && HasTimeStampCounter(all[i])) wanted.push_back(i);
  if (wanted.empty()) return;

  const bool invariant =
      std::all_of(wanted.begin(), wanted.end(), [&all](std::uint32_t i) { return HasInvariantCounter(all[i]); });
  if (wanted.size() == 1 || invariant) {
    // One rate for all: the first processor that can be measured gives it.
    for (std::uint32_t i : wanted) {
      MeasureOn(all[i], i);
      if (!all[i].ClockKnown) continue;
      for (std::uint32_t j : wanted) {
        all[j].Clock = all[i].Clock;
        all[j].ClockKnown = true;
      }
      break;
    }
    return;
  }

  std::vector<std::thread> threads;
  threads.reserve(wanted.size());
  std::size_t started = 0;
  try {
    for (; started < wanted.size(); ++started) {
      const std::uint32_t i = wanted[started];
      threads.emplace_back([&all, i] { MeasureOn(all[i], i); });
    }
  } catch (const std::system_error&) {
    // Out of threads: the rest are measured one after the other on this one.
  }
  for (auto& t : threads) t.join();
  for (; started < wanted.size(); ++started) MeasureOn(all[wanted[started]], wanted[started]);
}

TProcessorCensus CensusFromRecording(platform::CpuidSnapshot snapshot, std::uint32_t mhz) {
  TProcessorCensus census;
  census.Recorded = true;
  census.Processors.resize(std::max<std::size_t>(snapshot.size(), 1));
  for (std::size_t i = 0; i < snapshot.size(); ++i) {
    TProcessorRecord& p = census.Processors[i];
    p.Bound = true;
    p.Leaves = std::move(snapshot[i]);
    if (mhz > 0 && HasTimeStampCounter(p)) {
      p.Clock.RawFrequency = mhz;
      p.Clock.NormalizedFrequency = static_cast<std::uint32_t>(NormalizeFrequency(static_cast<int>(mhz)));
      p.ClockKnown = true;
    }
  }
  return census;
}

TTopology CountTopology(const TProcessorCensus& census) {
  TTopology t;
  t.Places.resize(census.Processors.size());
  std::map<std::pair<std::uint32_t, std::uint32_t>, std::uint32_t> threadsOfCore;  // (package, core)
  std::map<std::uint32_t, std::set<std::uint32_t>> coresOfPackage;
  std::size_t known = 0;
  Widths last;
  for (std::size_t i = 0; i < census.Processors.size(); ++i) {
    const TProcessorRecord& p = census.Processors[i];
    if (!p.Bound) continue;
    const Widths w = WidthsOf(p.Leaves);
    if (!w.known) continue;
    TProcessorPlace& place = t.Places[i];
    place.Known = true;
    place.ApicId = w.apicId;
    place.Package = w.packageShift >= 32 ? 0 : w.apicId >> w.packageShift;
    const std::uint32_t inPackage = w.packageShift >= 32 ? w.apicId : w.apicId & ((1u << w.packageShift) - 1);
    place.Core = inPackage >> w.smtShift;
    place.Thread = inPackage & ((1u << w.smtShift) - 1);
    place.CoreType = CoreTypeOf(p.Leaves);
    ++threadsOfCore[{place.Package, place.Core}];
    coresOfPackage[place.Package].insert(place.Core);
    if (t.Source.empty()) t.Source = w.source;
    last = w;
    ++known;
  }
  if (known == 0) return t;
  if (known == 1 && census.Recorded) {
    // One recorded processor cannot show its siblings (a dump of `cpuid -r -1`): take the
    // counts its leaves announce. A machine running one processor has no siblings to show.
    t.Packages = 1;
    t.ThreadsPerCore = last.threadsPerCore;
    t.CoresPerPackage = std::max<std::uint32_t>(last.logicalPerPackage / std::max<std::uint32_t>(last.threadsPerCore, 1), 1);
    return t;
  }
  t.Packages = static_cast<std::uint32_t>(coresOfPackage.size());
  for (const auto& [package, cores] : coresOfPackage)
    t.CoresPerPackage = std::max(t.CoresPerPackage, static_cast<std::uint32_t>(cores.size()));
  for (const auto& [core, threads] : threadsOfCore) t.ThreadsPerCore = std::max(t.ThreadsPerCore, threads);
  return t;
}

std::uint32_t ProcessorsSharing(const TTopology& topology, std::uint32_t apicId, std::uint32_t ids) {
  const std::uint32_t shift = CeilLog2(std::max<std::uint32_t>(ids, 1));
  auto group = [shift](std::uint32_t id) { return shift >= 32 ? 0 : id >> shift; };
  std::uint32_t placed = 0, sharing = 0;
  for (const TProcessorPlace& p : topology.Places) {
    if (!p.Known) continue;
    ++placed;
    sharing += group(p.ApicId) == group(apicId);
  }
  return placed >= 2 ? sharing : 0;
}

}  // namespace kyvex
