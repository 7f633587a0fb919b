// The processor's caches: level 1 (code, data, unified), level 2, level 3 and the trace
// cache, decoded either from Intel-style descriptor bytes or from the extended leaves
// 0x80000005 and 0x80000006.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "cpu/KSI_CPUTypes.h"

namespace kyvex {

class TKyvex_CPU;

enum TCacheAssociativity : std::uint8_t { caNone, caDirect, ca2Way, ca4Way, ca8Way, ca12Way, ca16Way, caFull };
constexpr int kCacheAssociativityCount = 8;
// Display texts: "None", "Direct", "2-Way", ...
extern const std::array<const char*, kCacheAssociativityCount> AssociativityNames;
// The display text of an ordinal; empty past the enumeration.
std::string CacheAssociativityText(std::uint64_t associativity);
// The enumeration's own names: "caNone", "caDirect", ...
extern const std::array<const char*, kCacheAssociativityCount> CacheAssociativityNames;
const char* CacheAssociativityName(TCacheAssociativity a);

// The transient result for one cache while decoding.
struct TCacheLevelRecord {
  TCacheAssociativity Associativity = caNone;
  int Size = 0;      // KB
  int LineSize = 0;  // bytes
  TDescriptorSlots Descriptors{};
};

// All six caches as plain records, in the order the processor's field list names them: the
// cache objects are set as a whole, so a load fills these and hands them over together.
struct TCPUCacheRecords {
  TCacheLevelRecord Level1Data, Level1Code, Level1Unified, Level2, Level3, Trace;
};

class TCPUCacheDetails {
 public:
  TCacheAssociativity Associativity() const { return FAssociativity; }
  int LineSize() const { return FLineSize; }
  int Size() const { return FSize; }
  // The descriptor slots the cache was decoded from (zero for the extended leaves).
  const TDescriptorSlots& Descriptors() const { return FDescriptors; }
  void AssignRecord(const TCacheLevelRecord& r);
  TCacheLevelRecord Record() const;

 private:
  TCacheAssociativity FAssociativity = caNone;
  int FLineSize = 0;
  int FSize = 0;
  TDescriptorSlots FDescriptors{};
};

class TCPUSegmentedCache {
 public:
  const TCPUCacheDetails& Code() const { return FCode; }
  const TCPUCacheDetails& Data() const { return FData; }
  const TCPUCacheDetails& Unified() const { return FUnified; }
  void SetSegments(const TCacheLevelRecord& code, const TCacheLevelRecord& data, const TCacheLevelRecord& unified);

 private:
  TCPUCacheDetails FCode, FData, FUnified;
};

class TCPUCache {
 public:
  const TCPUSegmentedCache& Level1() const { return FLevel1; }
  const TCPUCacheDetails& Level2() const { return FLevel2; }
  const TCPUCacheDetails& Level3() const { return FLevel3; }
  const TCPUCacheDetails& Trace() const { return FTrace; }
  void SetCacheLevels(const TCacheLevelRecord& l1Code, const TCacheLevelRecord& l1Data,
                      const TCacheLevelRecord& l1Unified, const TCacheLevelRecord& l2,
                      const TCacheLevelRecord& l3, const TCacheLevelRecord& trace);
  TCPUCacheRecords Records() const;
  void SetRecords(const TCPUCacheRecords& r);

 private:
  TCPUSegmentedCache FLevel1;
  TCPUCacheDetails FLevel2, FLevel3, FTrace;
};

// Kinds of the descriptor table's rows.
enum TCacheDescriptorKind : std::uint8_t {
  cdkLevel1Code,
  cdkLevel1Data,
  cdkLevel1Unified,
  cdkCodeTLB,
  cdkDataTLB,
  cdkUnifiedTLB,
  cdkLevel2,
  cdkLevel3,
  cdkTrace,
};

// For TLB rows Size is the page size in KB (0: all sizes) and LineSize the entry count.
struct TCacheDescriptorInfo {
  std::uint8_t Descriptor;
  TCacheDescriptorKind Kind;
  TCacheAssociativity Associativity;
  int Size;
  int LineSize;
  const char* Description;
};
extern const std::array<TCacheDescriptorInfo, 62> CacheDescriptors;

// The 4-bit associativity codes of the extended leaves' level-2 field; a code's position is
// its TCacheAssociativity.
extern const std::array<std::uint8_t, 8> AMDAssociativityCodes;

// Slots 4(n-1)..4(n-1)+3 := the register's bytes, low byte first, unless bit 31 says the
// register holds no descriptors (the slots then keep what they had).
void StoreDescriptorBytes(TKyvex_CPU& cpu, std::uint32_t value, int registerNumber);
bool HasDescriptor(const TKyvex_CPU& cpu, std::uint8_t descriptor);
// The level-2 code's position in AMDAssociativityCodes; caNone when it is not there.
TCacheAssociativity AMDAssociativity(std::uint8_t code);
// Leaf 0x80000005 gives the level-1 associativity as the number of ways itself (0xFF: fully
// associative); caNone for counts the enumeration has no value for.
TCacheAssociativity WaysAssociativity(std::uint8_t ways);
// Whether the processor gives its level-2 cache in leaf 0x80000006 in the layout of the
// level-1 caches (IDT's C3 Samuel 2 and Ezra).
bool IDTLevel1StyleLevel2(TCpuVendor vendor, int family, int model);
// Decodes kind `kind` from the component's descriptor slots.
TCacheLevelRecord DecodeDescriptors(const TKyvex_CPU& cpu, TCacheDescriptorKind kind);

}  // namespace kyvex
