// The logical processors as one refresh sees them: every processor's CPUID leaves, read while
// the thread runs on that processor (one binding each), their clocks, and the topology
// counted from the leaves of all of them. The processor component decodes from this record
// instead of binding for each leaf it asks, so a refresh costs one binding per processor and
// the values of one refresh all come from the same reading.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cpu/KSI_CPUClock.h"
#include "platform/CpuidSnapshot.h"

namespace kyvex {

struct TProcessorRecord {
  // The leaves were read on this processor itself. A processor the thread may not run on (a
  // container's CPU set) is not read: its leaves stay empty rather than another's.
  bool Bound = false;
  platform::CpuidLeaves Leaves;
  bool ClockKnown = false;
  TFrequencyInfo Clock;
};

struct TProcessorCensus {
  std::vector<TProcessorRecord> Processors;
  // Read from a recording of another machine: nothing of this machine (its registry, its
  // clock) belongs to these processors.
  bool Recorded = false;
};

// Every leaf and sub-leaf the processor the calling thread runs on answers, as `cpuid -r`
// lists them: the standard, hypervisor, extended, Transmeta and Centaur ranges up to their
// announced maxima, the enumerated sub-leaves of the leaves that have them.
platform::CpuidLeaves ReadProcessorLeaves();

// Binds the calling thread to each logical processor once and reads its leaves; gives the
// thread its affinity back. No clock is measured.
TProcessorCensus ReadProcessorCensus();

// Measures the clock of processor `only`, or of every processor, each on the processor itself.
// A processor without a time-stamp counter (or without CPUID to say it has one) keeps no clock.
// Where every processor's counter is invariant (leaf 80000007h EDX bit 8), all counters run at
// one rate: one processor is measured and its result holds for all. Otherwise the processors
// are measured side by side, one thread bound to each, so the time taken does not grow with
// their number.
void MeasureClocks(TProcessorCensus& census, std::optional<std::uint32_t> only = std::nullopt);

// A captured machine's clocks, measured when it was captured, per logical processor (nothing
// for one without a clock). While they are set, MeasureClocks gives each processor its
// recorded clock and measures nothing: the running machine's clock is not the captured
// machine's. nullptr returns to measuring.
using TRecordedClocks = std::vector<std::optional<TFrequencyInfo>>;
void UseRecordedClocks(std::shared_ptr<const TRecordedClocks> clocks);

// The processors of a recording; `mhz` (0: unknown) is the clock of each one that has a
// time-stamp counter.
TProcessorCensus CensusFromRecording(platform::CpuidSnapshot snapshot, std::uint32_t mhz);

// --- Topology -------------------------------------------------------------------------------

enum TCoreType : std::uint8_t { ctUnknown, ctPerformance, ctEfficiency };
extern const char* const CoreTypeNames[3];  // "ctUnknown", "ctPerformance", "ctEfficiency"
std::string CoreTypeText(std::uint64_t type);  // "", "performance", "efficiency"

// Where one logical processor sits: its x2APIC ID (the 8-bit APIC ID where the processor has
// no wider one) split at the widths the leaves give.
struct TProcessorPlace {
  bool Known = false;
  std::uint32_t ApicId = 0;
  std::uint32_t Package = 0;
  std::uint32_t Core = 0;    // within the package
  std::uint32_t Thread = 0;  // within the core
  TCoreType CoreType = ctUnknown;
};

struct TTopology {
  // 0 where nothing could be counted (no processor read, no CPUID).
  std::uint32_t Packages = 0;
  std::uint32_t CoresPerPackage = 0;  // the most any package has
  std::uint32_t ThreadsPerCore = 0;   // the most any core has
  std::string Source;                 // the leaves the widths came from, e.g. "leaf 0Bh"
  std::vector<TProcessorPlace> Places;  // per logical processor
};

// The widths come from leaf 1Fh, else 0Bh, else AMD's 8000001Eh/80000008h, else the counts of
// leaves 1 and 4. The counts are of the distinct IDs among the processors read; a census of one
// processor (a one-processor dump) takes them from the counts the leaves announce.
TTopology CountTopology(const TProcessorCensus& census);

// How many of the processors placed share a cache with the one of APIC ID `apicId`, where the
// cache's leaf reserves `ids` APIC IDs for its sharers (the IDs alike above their width); 0
// where fewer than two processors are placed, so that the leaf's number stands.
std::uint32_t ProcessorsSharing(const TTopology& topology, std::uint32_t apicId, std::uint32_t ids);

}  // namespace kyvex
