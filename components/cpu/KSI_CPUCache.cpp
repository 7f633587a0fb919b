#include "cpu/KSI_CPUCache.h"

#include "cpu/KSI_CPU.h"
#include "cpu/KSI_CPUCacheLeaves.h"

namespace kyvex {

const std::array<const char*, kCacheAssociativityCount> AssociativityNames = {
    "None", "Direct", "2-Way", "4-Way", "8-Way", "12-Way", "16-Way", "Full"};

std::string CacheAssociativityText(std::uint64_t associativity) {
  return associativity < kCacheAssociativityCount ? AssociativityNames[associativity] : "";
}

const std::array<const char*, kCacheAssociativityCount> CacheAssociativityNames = {
    "caNone", "caDirect", "ca2Way", "ca4Way", "ca8Way", "ca12Way", "ca16Way", "caFull"};

const char* CacheAssociativityName(TCacheAssociativity a) {
  return a < kCacheAssociativityCount ? CacheAssociativityNames[a] : "";
}

const std::array<std::uint8_t, 8> AMDAssociativityCodes = {0x00, 0x01, 0x02, 0x04, 0x06, 0x07, 0x08, 0x0F};

// Searched in this order: where several rows of one kind are present, the associativity
// comes from the first and the sizes from the last. The numeric columns are what decoding
// uses, also where a description says otherwise (0x79..0x7F, 0x89).
const std::array<TCacheDescriptorInfo, 62> CacheDescriptors = {{
    {0x01, cdkCodeTLB, ca4Way, 4, 32, "Code TLB: 4K pages, 4 ways, 32 entries"},
    {0x02, cdkCodeTLB, caFull, 4096, 2, "Code TLB: 4M pages, fullway, 2 entries"},
    {0x03, cdkDataTLB, ca4Way, 4, 64, "Data TLB: 4K pages, 4 ways, 64 entries"},
    {0x04, cdkDataTLB, ca4Way, 4096, 8, "Data TLB: 4M pages, 4 ways, 8 entries"},
    {0x50, cdkCodeTLB, caNone, 0, 64, "Code TLB: all pages, 64 entries"},
    {0x51, cdkCodeTLB, caNone, 0, 128, "Code TLB: all pages, 128 entries"},
    {0x52, cdkCodeTLB, caNone, 0, 512, "Code TLB: all pages, 512 entries"},
    {0x90, cdkCodeTLB, caFull, 0, 64, "Code TLB, 4K...256M pages, fully, 64 entries (IA-64)"},
    {0xB0, cdkCodeTLB, ca4Way, 0, 128, "Code TLB, 4K pages, 4 ways, 128 entries"},
    {0x5B, cdkDataTLB, caNone, 0, 64, "Data TLB: all pages, 64 entries"},
    {0x5C, cdkDataTLB, caNone, 0, 128, "Data TLB: all pages, 128 entries"},
    {0x5D, cdkDataTLB, caNone, 0, 256, "Data TLB: all pages, 256 entries"},
    {0x96, cdkDataTLB, caFull, 0, 32, "Data TLB, 4K...256M pages, fully, 32 entries (IA-64)"},
    {0x9B, cdkDataTLB, caFull, 0, 96, "Data L2 TLB, 4K...256M pages, fully, 96 entries (IA-64)"},
    {0xB3, cdkDataTLB, ca4Way, 0, 128, "Data TLB, 4K pages, 4 ways, 128 entries"},
    {0x70, cdkUnifiedTLB, ca4Way, 4, 32, "Unified TLB: 4k pages, 4 ways, 32 entries"},
    {0x80, cdkUnifiedTLB, ca4Way, 16, 32, "Unified TLB: 16k pages, 4 ways, 32 entries"},
    {0x06, cdkLevel1Code, ca4Way, 8, 32, "Code L1 Cache 8K, 4 ways, 32b lines"},
    {0x08, cdkLevel1Code, ca4Way, 16, 32, "Code L1 Cache 16K, 4 ways, 32b lines"},
    {0x30, cdkLevel1Code, ca8Way, 32, 64, "Code L1 Cache, 32 KB, 8 ways, 64 byte lines"},
    {0x0A, cdkLevel1Data, ca2Way, 8, 32, "Data L1 Cache 8K, 2 ways, 32b lines"},
    {0x0C, cdkLevel1Data, ca4Way, 16, 32, "Data L1 Cache 16K, 4 ways, 32b lines"},
    {0x2C, cdkLevel1Data, ca8Way, 32, 64, "Data L1 Cache, 32 KB, 8 ways, 64 byte lines"},
    {0x60, cdkLevel1Data, ca8Way, 16, 64, "Data L1 Cache 16K, 8 ways, 64 byte lines, sectored"},
    {0x66, cdkLevel1Data, ca4Way, 8, 64, "Data L1 Cache 8K, 4 ways"},
    {0x67, cdkLevel1Data, ca4Way, 16, 64, "Data L1 Cache 16K, 4 ways"},
    {0x68, cdkLevel1Data, ca4Way, 32, 64, "Data L1 Cache 32K, 4 ways"},
    {0x39, cdkLevel2, ca4Way, 128, 64, "Unified L2 Cache, 128 KB, 4 ways, 64 byte lines, sectored"},
    {0x3B, cdkLevel2, ca2Way, 128, 64, "Unified L2 Cache, 128 KB, 2 ways, 64 byte lines, sectored"},
    {0x3C, cdkLevel2, ca4Way, 256, 64, "Unified L2 Cache, 256B, 4 ways, 64 byte lines, sectored"},
    {0x41, cdkLevel2, ca4Way, 128, 32, "Unified L2 Cache 128K, 4 ways, 32b lines"},
    {0x42, cdkLevel2, ca4Way, 256, 32, "Unified L2 Cache 256K, 4 ways, 32b lines"},
    {0x43, cdkLevel2, ca4Way, 512, 32, "Unified L2 Cache 512K, 4 ways, 32b lines"},
    {0x44, cdkLevel2, ca4Way, 1024, 32, "Unified L2 Cache 1024K, 4 ways, 32b lines"},
    {0x45, cdkLevel2, ca4Way, 2048, 32, "Unified L2 Cache 2048K, 4 ways, 32b lines"},
    {0x78, cdkLevel2, ca4Way, 1024, 64, "Unified L2 Cache, 1024K, 4 ways, 64 byte lines"},
    {0x79, cdkLevel2, ca8Way, 128, 64, "Unified L2 Cache 128K, 8 ways, 32b lines, dual-sectored"},
    {0x7A, cdkLevel2, ca8Way, 256, 64, "Unified L2 Cache 512K, 8 ways, 32b lines, dual-sectored"},
    {0x7B, cdkLevel2, ca8Way, 512, 64, "Unified L2 Cache 1024K, 8 ways, 32b lines, dual-sectored"},
    {0x7C, cdkLevel2, ca8Way, 1024, 64, "Unified L2 Cache 1024K, 8 ways, 64 byte lines, dual-sectored"},
    {0x7D, cdkLevel2, ca8Way, 2048, 64, "Unified L2 Cache 2048K, 8 ways, 64 byte lines"},
    {0x7E, cdkLevel2, ca8Way, 1024, 128, "Unified L2 Cache 2048K, 8 ways, 32b lines"},
    {0x7F, cdkLevel2, ca2Way, 256, 64, "Unified L2 Cache 2048K, 8 ways, 32b lines"},
    {0x81, cdkLevel2, ca8Way, 128, 32, "Unified L2 Cache 128K, 8 ways, 32 byte lines"},
    {0x82, cdkLevel2, ca8Way, 256, 32, "Unified L2 Cache 256K, 8 ways, 32b lines"},
    {0x83, cdkLevel2, ca8Way, 512, 32, "Unified L2 Cache 512K, 8 ways, 32b lines"},
    {0x84, cdkLevel2, ca8Way, 1024, 32, "Unified L2 Cache 1024K, 8 ways, 32b lines"},
    {0x85, cdkLevel2, ca8Way, 2048, 32, "Unified L2 Cache 2048K, 8 ways, 32b lines"},
    {0x86, cdkLevel2, ca4Way, 512, 64, "Unified L2 Cache, 512 KB, 4 ways, 64 byte lines"},
    {0x87, cdkLevel2, ca8Way, 1024, 64, "Unified L2 Cache, 1024 KB, 8 ways, 64 byte lines"},
    {0x22, cdkLevel3, ca4Way, 512, 64, "Unified L3 Cache 512K, 4 ways, 64b lines"},
    {0x23, cdkLevel3, ca8Way, 1024, 64, "Unified L3 Cache 1024K, 8 ways, 64b lines"},
    {0x25, cdkLevel3, ca8Way, 2048, 64, "Unified L3 Cache 2048K, 8 ways, 64b lines"},
    {0x29, cdkLevel3, ca8Way, 4096, 64, "Unified L3 Cache 4096K, 8 ways, 64b lines"},
    {0x40, cdkLevel3, caNone, 0, 0, "non integrated L2/L3 Cache"},
    {0x88, cdkLevel3, ca4Way, 2048, 64, "Unified L3 Cache, 2048 KB, 4 ways, 64 byte lines (IA-64)"},
    {0x89, cdkLevel3, ca4Way, 4069, 64, "Unified L3 Cache, 4096 KB, 4 ways, 64 byte lines (IA-64)"},
    {0x8A, cdkLevel3, ca4Way, 8192, 64, "Unified L3 Cache, 8192 KB, 4 ways, 64 byte lines (IA-64)"},
    {0x8D, cdkLevel3, ca12Way, 3096, 128, "Unified L3 Cache, 3096 KB, 12 ways, 128 byte lines (IA-64)"},
    {0x70, cdkTrace, ca8Way, 12, 0, "Trace L1 Cache 12K, 4 ways"},
    {0x71, cdkTrace, ca8Way, 16, 0, "Trace L1 Cache 16K, 4 ways"},
    {0x72, cdkTrace, ca8Way, 32, 0, "Trace L1 Cache 32K, 4 ways"},
}};

void TCPUCacheDetails::AssignRecord(const TCacheLevelRecord& r) {
  FAssociativity = r.Associativity;
  FSize = r.Size;
  FLineSize = r.LineSize;
  FDescriptors = r.Descriptors;
}

TCacheLevelRecord TCPUCacheDetails::Record() const {
  TCacheLevelRecord r;
  r.Associativity = FAssociativity;
  r.Size = FSize;
  r.LineSize = FLineSize;
  r.Descriptors = FDescriptors;
  return r;
}

void TCPUSegmentedCache::SetSegments(const TCacheLevelRecord& code, const TCacheLevelRecord& data,
                                     const TCacheLevelRecord& unified) {
  FCode.AssignRecord(code);
  FData.AssignRecord(data);
  FUnified.AssignRecord(unified);
}

void TCPUCache::SetCacheLevels(const TCacheLevelRecord& l1Code, const TCacheLevelRecord& l1Data,
                               const TCacheLevelRecord& l1Unified, const TCacheLevelRecord& l2,
                               const TCacheLevelRecord& l3, const TCacheLevelRecord& trace) {
  FLevel1.SetSegments(l1Code, l1Data, l1Unified);
  FLevel2.AssignRecord(l2);
  FLevel3.AssignRecord(l3);
  FTrace.AssignRecord(trace);
}

TCPUCacheRecords TCPUCache::Records() const {
  return {FLevel1.Data().Record(), FLevel1.Code().Record(), FLevel1.Unified().Record(),
          FLevel2.Record(),        FLevel3.Record(),        FTrace.Record()};
}

void TCPUCache::SetRecords(const TCPUCacheRecords& r) {
  SetCacheLevels(r.Level1Code, r.Level1Data, r.Level1Unified, r.Level2, r.Level3, r.Trace);
}

void StoreDescriptorBytes(TKyvex_CPU& cpu, std::uint32_t value, int registerNumber) {
  if (registerNumber < 1 || registerNumber > 4) return;
  if (value & 0x80000000u) return;  // the register holds no descriptors
  const std::size_t first = 4 * static_cast<std::size_t>(registerNumber - 1);
  for (std::size_t i = 0; i < 4; ++i) cpu.FDescriptors[first + i] = (value >> (8 * i)) & 0xFF;
}

bool HasDescriptor(const TKyvex_CPU& cpu, std::uint8_t descriptor) {
  for (std::uint32_t slot : cpu.Descriptors())
    if (slot == descriptor) return true;
  return false;
}

TCacheAssociativity AMDAssociativity(std::uint8_t code) {
  for (std::size_t i = 0; i < AMDAssociativityCodes.size(); ++i)
    if (AMDAssociativityCodes[i] == code) return static_cast<TCacheAssociativity>(i);
  return caNone;
}

TCacheAssociativity WaysAssociativity(std::uint8_t ways) {
  static constexpr struct {
    std::uint8_t ways;
    TCacheAssociativity associativity;
  } kWays[] = {{1, caDirect}, {2, ca2Way}, {4, ca4Way}, {8, ca8Way}, {12, ca12Way}, {16, ca16Way}, {0xFF, caFull}};
  for (const auto& w : kWays)
    if (w.ways == ways) return w.associativity;
  return caNone;
}

TCacheLevelRecord DecodeDescriptors(const TKyvex_CPU& cpu, TCacheDescriptorKind kind) {
  TCacheLevelRecord r;
  r.Descriptors = cpu.Descriptors();
  for (const auto& row : CacheDescriptors) {
    if (row.Kind != kind || !HasDescriptor(cpu, row.Descriptor)) continue;
    if (r.Associativity == caNone) r.Associativity = row.Associativity;
    r.Size = row.Size;
    r.LineSize = row.LineSize;
  }
  return r;
}

namespace {

// Leaf 2 on Intel (its low byte says how often to execute it), else the extended leaf of the
// level, into the component's descriptor slots.
void FetchDescriptors(TKyvex_CPU& cpu, std::uint32_t extendedLeaf) {
  TCPUIDRegisters regs;
  if (cpu.Vendor() == cvIntel) {
    CPUIDOnProcessor(cpu.CPUIndex(), 2, 1, regs);
    const int n = static_cast<int>(regs.EAX & 0xFF);
    CPUIDOnProcessor(cpu.CPUIndex(), 2, n, regs);
  } else {
    CPUIDOnProcessor(cpu.CPUIndex(), extendedLeaf, 1, regs);
  }
  StoreDescriptorBytes(cpu, regs.EAX, 1);
  StoreDescriptorBytes(cpu, regs.EBX, 2);
  StoreDescriptorBytes(cpu, regs.ECX, 3);
  StoreDescriptorBytes(cpu, regs.EDX, 4);
}

// One level-1 segment of leaf 0x80000005: size in KB (bits 31..24), ways (23..16), line
// size (7..0).
TCacheLevelRecord ExtendedLevel1(std::uint32_t reg) {
  TCacheLevelRecord r;
  r.Size = static_cast<int>(reg >> 24);
  r.LineSize = static_cast<int>(reg & 0xFF);
  r.Associativity = WaysAssociativity(static_cast<std::uint8_t>(reg >> 16));
  return r;
}

}  // namespace

// The C3 cores Samuel 2 and Ezra (family 6, models 7 and 8) describe their level-2 cache in
// the level-1 layout: KB in bits 31..24, ways in 23..16. Later IDT cores (Nehemiah, Isaiah)
// use the layout of the other vendors, where bits 31..24 are only the size's high byte.
bool IDTLevel1StyleLevel2(TCpuVendor vendor, int family, int model) {
  return vendor == cvIDT && family == 6 && (model == 7 || model == 8);
}

namespace {

// The extended-leaf method: level 1 from 0x80000005, level 2 from 0x80000006.
void ReadExtendedLeafCaches(const TKyvex_CPU& cpu, TCacheLevelRecord& code, TCacheLevelRecord& data,
                            TCacheLevelRecord& level2) {
  TCPUIDRegisters regs;
  CPUIDOnProcessor(cpu.CPUIndex(), 0x80000005, 1, regs);
  code = ExtendedLevel1(regs.EDX);
  data = ExtendedLevel1(regs.ECX);

  CPUIDOnProcessor(cpu.CPUIndex(), 0x80000006, 1, regs);
  if (IDTLevel1StyleLevel2(cpu.Vendor(), cpu.Family(), cpu.Model())) {
    level2 = ExtendedLevel1(regs.ECX);
  } else {
    level2.Size = static_cast<int>(regs.ECX >> 16);
    level2.LineSize = static_cast<int>(regs.ECX & 0xFF);
    // The 4-bit code sits in bits 15..12; bits 23..16 are the size's low byte.
    level2.Associativity = cpu.Vendor() == cvAmd && cpu.Family() == 6
                               ? ca16Way
                               : AMDAssociativity(static_cast<std::uint8_t>((regs.ECX >> 12) & 0xF));
  }
}

bool IsEmpty(const TCacheLevelRecord& r) { return r.Size == 0 && r.LineSize == 0 && r.Associativity == caNone; }

// A cache its method left empty is taken from the deterministic leaves. Its descriptor slots
// are cleared: the values were not decoded from them.
void FillEmpty(TCacheLevelRecord& r, const TCacheInfo* from) {
  if (from && IsEmpty(r)) r = CacheRecordOf(*from);
}

}  // namespace

void TKyvex_CPU::CollectCaches(const platform::CpuidLeaves& leaves) {
  FCacheList = DeterministicCaches(leaves);
  TCacheLevelRecord code, data, unified, level2, level3, trace;

  // A vendor the table does not know gets no descriptor decoding: its leaves 0x80000005 and
  // 0x80000006 are not Intel's descriptors (Hygon's level 2 read so gave 128 KB for 512).
  // Its caches come from the deterministic leaves, else from the extended leaves where their
  // layout is known to be AMD's, else stay empty.
  const bool unknownVendor = FVendor == cvUnknown || FVendor >= kCpuVendorCount;
  const bool extended = unknownVendor ? FCacheList.empty() && HasAmdCacheLayout(FVendorID)
                                      : CPUVendors[FVendor].CacheMethod == 1;
  if (extended) {
    ReadExtendedLeafCaches(*this, code, data, level2);
  } else if (!unknownVendor) {
    FetchDescriptors(*this, 0x80000005);
    code = DecodeDescriptors(*this, cdkLevel1Code);
    data = DecodeDescriptors(*this, cdkLevel1Data);
    unified = DecodeDescriptors(*this, cdkLevel1Unified);
    FetchDescriptors(*this, 0x80000006);
    level2 = DecodeDescriptors(*this, cdkLevel2);
    FetchDescriptors(*this, 0x80000006);
    level3 = DecodeDescriptors(*this, cdkLevel3);
    FetchDescriptors(*this, 0x80000006);
    trace = DecodeDescriptors(*this, cdkTrace);
  }

  // Descriptors that leaf 2 gives as 0xFF ("see leaf 4") or that the table does not hold leave
  // their level empty, and the extended-leaf method reads no level 3 at all.
  FillEmpty(code, FindCache(FCacheList, 1, ckCode));
  FillEmpty(data, FindCache(FCacheList, 1, ckData));
  FillEmpty(unified, FindCache(FCacheList, 1, ckUnified));
  FillEmpty(level2, FindCache(FCacheList, 2, ckUnified));
  FillEmpty(level3, FindCache(FCacheList, 3, ckUnified));

  FCache->SetCacheLevels(code, data, unified, level2, level3, trace);
}

}  // namespace kyvex
