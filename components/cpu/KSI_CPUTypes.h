// The processor unit's small types: vendors, Intel brand flags, CPUID register records.
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <string>

namespace kyvex {

enum TCpuVendor : std::uint8_t {
  cvNone,
  cvUnknown,
  cvIntel,
  cvAmd,
  cvCyrix,
  cvIDT,
  cvNexGen,
  cvUMC,
  cvRise,
  cvSiS,
  cvGeode,
  cvTransmeta,
};
constexpr int kCpuVendorCount = 12;

// "cvIntel" and so on: the enumeration's own names, as output and storage use them.
extern const std::array<const char*, kCpuVendorCount> CpuVendorNames;
const char* CpuVendorName(TCpuVendor v);

struct TCPUVendorInfo {
  const char* Signature;
  const char* VendorName;
  const char* VendorFullName;
  std::uint8_t CacheMethod;  // 1: the extended-leaf cache method, else the descriptor method
};
extern const std::array<TCPUVendorInfo, kCpuVendorCount> CPUVendors;
// The vendor's short name ("Intel"); an ordinal past the table reads as cvUnknown's.
std::string CpuVendorText(std::uint64_t vendor);

enum TIntelBrand : std::uint8_t { ibCeleron, ibPentium, ibXeon, ibMP, ibMobile, ibM };
constexpr int kIntelBrandCount = 6;
extern const std::array<const char*, kIntelBrandCount> IntelBrandNames;  // "ibCeleron", ...
const char* IntelBrandName(TIntelBrand b);

// A set of TIntelBrand; bit n of the mask stands for ordinal n.
class TIntelBrands {
 public:
  constexpr TIntelBrands() = default;
  constexpr TIntelBrands(std::initializer_list<TIntelBrand> members) {
    for (auto m : members) FMask = static_cast<std::uint8_t>(FMask | (1u << m));
  }
  static constexpr TIntelBrands FromMask(std::uint32_t mask) {
    TIntelBrands s;
    s.FMask = static_cast<std::uint8_t>(mask & ((1u << kIntelBrandCount) - 1));
    return s;
  }
  constexpr bool Contains(TIntelBrand b) const { return (FMask >> b) & 1u; }
  constexpr bool Empty() const { return FMask == 0; }
  constexpr std::uint8_t Mask() const { return FMask; }
  constexpr bool operator==(const TIntelBrands&) const = default;

 private:
  std::uint8_t FMask = 0;
};

struct TCPUIDRegisters {
  std::uint32_t EAX = 0, EBX = 0, ECX = 0, EDX = 0;
  bool operator==(const TCPUIDRegisters&) const = default;
};

// The 16 descriptor slots of the cache decoding, one descriptor byte in each.
using TDescriptorSlots = std::array<std::uint32_t, 16>;

}  // namespace kyvex
