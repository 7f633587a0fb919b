#include "cpu/KSI_CPUCacheLeaves.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace kyvex {

namespace {

constexpr std::uint32_t kIntelCacheLeaf = 4;
constexpr std::uint32_t kAmdCacheLeaf = 0x8000001D;
constexpr std::uint32_t kTopologyExtensions = 1u << 22;  // leaf 0x80000001 ECX

std::string VendorText(const platform::CpuidLeaves& leaves) {
  const platform::X86Registers r = leaves.Get(0);
  std::string s;
  for (std::uint32_t reg : {r.ebx, r.edx, r.ecx})
    for (int i = 0; i < 4; ++i) s += static_cast<char>((reg >> (8 * i)) & 0xFF);
  return s;
}

// The largest extended leaf, or 0 where leaf 0x80000000 does not give one (older
// processors answer it with whatever their last standard leaf holds).
std::uint32_t MaxExtendedLeaf(const platform::CpuidLeaves& leaves) {
  const std::uint32_t max = leaves.Get(0x80000000).eax;
  return (max & 0xFFFF0000u) == 0x80000000u ? max : 0;
}

}  // namespace

const char* CacheKindName(TCacheKind kind) {
  switch (kind) {
    case ckData: return "Data";
    case ckCode: return "Code";
    case ckUnified: return "Unified";
  }
  return "";
}

std::uint32_t DeterministicCacheLeaf(const platform::CpuidLeaves& leaves) {
  const std::string vendor = VendorText(leaves);
  const bool amdLeaves = MaxExtendedLeaf(leaves) >= kAmdCacheLeaf && (leaves.Get(0x80000001).ecx & kTopologyExtensions) &&
                         !DecodeCacheLeaf(leaves, kAmdCacheLeaf).empty();
  if (vendor == "AuthenticAMD" || vendor == "HygonGenuine") return amdLeaves ? kAmdCacheLeaf : 0;
  if (leaves.Get(0).eax >= kIntelCacheLeaf && !DecodeCacheLeaf(leaves, kIntelCacheLeaf).empty()) return kIntelCacheLeaf;
  return amdLeaves ? kAmdCacheLeaf : 0;
}

std::vector<TCacheInfo> DecodeCacheLeaf(const platform::CpuidLeaves& leaves, std::uint32_t leaf) {
  std::vector<TCacheInfo> caches;
  for (std::uint32_t sub = 0; sub < kMaxCacheSubLeaves; ++sub) {
    const platform::X86Registers r = leaves.Get(leaf, sub);
    const std::uint32_t type = r.eax & 0x1F;
    if (type == 0) break;  // no more caches
    if (type > ckUnified) continue;
    TCacheInfo c;
    c.Kind = static_cast<TCacheKind>(type);
    c.Level = static_cast<int>((r.eax >> 5) & 0x7);
    c.FullyAssociative = (r.eax >> 9) & 1;
    c.SharedBy = static_cast<int>((r.eax >> 14) & 0xFFF) + 1;
    c.LineSize = static_cast<int>(r.ebx & 0xFFF) + 1;
    c.Partitions = static_cast<int>((r.ebx >> 12) & 0x3FF) + 1;
    c.Ways = static_cast<int>((r.ebx >> 22) & 0x3FF) + 1;
    c.Sets = r.ecx + 1;  // a full register (0xFFFFFFFF) wraps to 0: no such cache exists
    c.Inclusive = (r.edx >> 1) & 1;
    const std::uint64_t bytes = std::uint64_t{c.Sets} * static_cast<std::uint64_t>(c.Ways) *
                                static_cast<std::uint64_t>(c.Partitions) * static_cast<std::uint64_t>(c.LineSize);
    c.Size = static_cast<std::uint32_t>(std::min<std::uint64_t>(bytes / 1024, 0xFFFFFFFFu));
    caches.push_back(c);
  }
  return caches;
}

std::vector<TCacheInfo> DeterministicCaches(const platform::CpuidLeaves& leaves) {
  const std::uint32_t leaf = DeterministicCacheLeaf(leaves);
  return leaf ? DecodeCacheLeaf(leaves, leaf) : std::vector<TCacheInfo>{};
}

TCacheAssociativity AssociativityOfWays(int ways, bool fullyAssociative) {
  if (fullyAssociative) return caFull;
  switch (ways) {
    case 1: return caDirect;
    case 2: return ca2Way;
    case 4: return ca4Way;
    case 8: return ca8Way;
    case 12: return ca12Way;
    case 16: return ca16Way;
    default: return caNone;
  }
}

TCacheLevelRecord CacheRecordOf(const TCacheInfo& cache) {
  TCacheLevelRecord r;
  // The existing properties hold an Integer: no cache comes near its limit.
  r.Size = static_cast<int>(std::min<std::uint32_t>(cache.Size, 0x7FFFFFFF));
  r.LineSize = cache.LineSize;
  r.Associativity = AssociativityOfWays(cache.Ways, cache.FullyAssociative);
  return r;
}

const TCacheInfo* FindCache(const std::vector<TCacheInfo>& caches, int level, TCacheKind kind) {
  for (const auto& c : caches)
    if (c.Level == level && c.Kind == kind) return &c;
  if (level >= 2 && kind == ckUnified)
    for (const auto& c : caches)
      if (c.Level == level) return &c;
  return nullptr;
}

bool HasAmdCacheLayout(const std::string& vendorId) {
  // Hygon's processors are AMD's design. Zhaoxin's come from Centaur's line, whose
  // "CentaurHauls" processors already give these leaves in AMD's layout; the KX-6000 recorded
  // under that name agrees with its own leaf 4.
  static constexpr std::array<std::string_view, 2> kVendors = {"HygonGenuine", "  Shanghai  "};
  for (std::string_view v : kVendors)
    if (vendorId == v) return true;
  return false;
}

std::string CacheInfoText(const TCacheInfo& cache) {
  std::string s = std::to_string(cache.Size) + " KB";
  if (cache.FullyAssociative)
    s += ", fully associative";
  else
    s += ", " + std::to_string(cache.Ways) + "-Way";
  s += ", " + std::to_string(cache.LineSize) + "-byte lines";
  s += ", shared by " + std::to_string(cache.SharedBy) + " logical processor" + (cache.SharedBy == 1 ? "" : "s");
  return s;
}

}  // namespace kyvex
