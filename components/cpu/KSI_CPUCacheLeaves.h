// The caches as the deterministic cache leaves describe them: Intel's leaf 4 and AMD's leaf
// 0x8000001D (the same layout), one sub-leaf per cache, each with its level, kind, geometry
// and how many logical processors share it. Decoded from recorded leaves, so that a dump of
// another machine decodes as the processor itself would.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cpu/KSI_CPUCache.h"
#include "platform/CpuidSnapshot.h"

namespace kyvex {

// The cache type field of the leaves: 1 data, 2 instruction, 3 unified.
enum TCacheKind : std::uint8_t { ckData = 1, ckCode = 2, ckUnified = 3 };
// "Data", "Code", "Unified"; empty for other values.
const char* CacheKindName(TCacheKind kind);

struct TCacheInfo {
  int Level = 0;
  TCacheKind Kind = ckUnified;
  std::uint32_t Size = 0;  // KB
  int Ways = 0;            // for a fully associative cache: its number of lines
  bool FullyAssociative = false;
  int LineSize = 0;        // bytes
  int Partitions = 0;      // physical line partitions
  std::uint32_t Sets = 0;
  // Logical processors sharing the cache. The leaves give the number of APIC IDs reserved for
  // the sharers, which on parts with fewer threads than IDs is more than the threads there
  // are; a refresh that reads several processors counts those that share it.
  int SharedBy = 0;
  bool Inclusive = false;  // of the lower levels
  bool operator==(const TCacheInfo&) const = default;
};

// 4 or 0x8000001D: the leaf that describes this processor's caches, 0 when neither does.
// AMD and Hygon describe theirs in 0x8000001D where the topology extensions are present
// (leaf 0x80000001 ECX bit 22); their leaf 4 is reserved. Everyone else answers leaf 4 where
// the largest standard leaf reaches it, and 0x8000001D only as AMD defines it.
std::uint32_t DeterministicCacheLeaf(const platform::CpuidLeaves& leaves);

// Every cache of `leaf`'s sub-leaves, in sub-leaf order, up to the first of type 0 (at most
// kMaxCacheSubLeaves are read). Types the leaves do not define are skipped.
constexpr std::uint32_t kMaxCacheSubLeaves = 32;
std::vector<TCacheInfo> DecodeCacheLeaf(const platform::CpuidLeaves& leaves, std::uint32_t leaf);

// The caches of DeterministicCacheLeaf; none where no leaf describes them.
std::vector<TCacheInfo> DeterministicCaches(const platform::CpuidLeaves& leaves);

// The enumeration's value for a number of ways; caNone for counts it cannot express (the exact
// count stays in TCacheInfo::Ways).
TCacheAssociativity AssociativityOfWays(int ways, bool fullyAssociative);

// One cache as the record of an existing cache property.
TCacheLevelRecord CacheRecordOf(const TCacheInfo& cache);

// The first cache of a level and kind; a level-2 or level-3 cache of another kind stands in
// where the level has no unified one. Null when the list has none.
const TCacheInfo* FindCache(const std::vector<TCacheInfo>& caches, int level, TCacheKind kind);

// Vendors the vendor table does not know, but whose leaves 0x80000005 and 0x80000006 are
// known to follow AMD's layout.
bool HasAmdCacheLayout(const std::string& vendorId);

// "Level 3: 32768 KB, 16-Way, 64-byte lines, shared by 16 logical processors"-style text,
// without the level.
std::string CacheInfoText(const TCacheInfo& cache);

}  // namespace kyvex
