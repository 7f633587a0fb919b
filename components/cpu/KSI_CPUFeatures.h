// The processor's feature flags as five named groups, built from one table of definitions.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "cpu/KSI_CPUTypes.h"

namespace kyvex {

class TKyvex_CPU;

// The groups and the register each takes its bits from.
enum TFeatureGroup : std::uint8_t {
  fgStandard1 = 1,        // EDX of leaf 1
  fgStandard2 = 2,        // ECX of leaf 1
  fgExtended1 = 3,        // EDX of leaf 0x80000001
  fgExtended2 = 4,        // ECX of leaf 0x80000001
  fgPowerManagement = 5,  // EDX of leaf 0x80000007
};
// "Standard1" ... "PowerManagement": the group properties' names.
const char* FeatureGroupName(std::uint8_t group);

struct TCPUFeature {
  std::uint8_t Bit = 0;
  std::string Name;
  std::string Description;
  std::uint8_t Group = 0;
  bool Available = false;
  bool operator==(const TCPUFeature&) const = default;
};
using TAvailableFeatures = std::vector<TCPUFeature>;

class TCPUFeatureSet {
 public:
  std::uint32_t Count() const { return static_cast<std::uint32_t>(FFeatures.size()); }
  // A copy of the entry; an empty record when the index is not below Count.
  TCPUFeature GetFeature(std::uint8_t index) const;
  // A copy of the first entry with this bit; an empty record when there is none.
  TCPUFeature FindFeatureByBit(std::uint8_t bit) const;
  void SetFeatureList(TAvailableFeatures list) { FFeatures = std::move(list); }
  const TAvailableFeatures& Features() const { return FFeatures; }

 private:
  TAvailableFeatures FFeatures;
};

class TCPUFeatures {
 public:
  const TCPUFeatureSet& Standard1() const { return FStandard1; }
  const TCPUFeatureSet& Standard2() const { return FStandard2; }
  const TCPUFeatureSet& Extended1() const { return FExtended1; }
  const TCPUFeatureSet& Extended2() const { return FExtended2; }
  const TCPUFeatureSet& PowerManagement() const { return FPowerManagement; }
  // Group 1..5; group 1 for any other number.
  const TCPUFeatureSet& Group(std::uint8_t group) const;
  void SetFeatureGroups(TAvailableFeatures standard1, TAvailableFeatures standard2, TAvailableFeatures extended1,
                        TAvailableFeatures extended2, TAvailableFeatures powerManagement);

 private:
  TCPUFeatureSet FStandard1, FStandard2, FExtended1, FExtended2, FPowerManagement;
};

struct TFeatureDetail {
  std::uint8_t Bit;
  const char* Name;
  const char* Description;
  std::uint8_t VendorClass;  // 0: every vendor
  std::uint8_t Groups;       // bit g: the row belongs to group g
};
extern const std::array<TFeatureDetail, 55> FeatureDetails;

// 1 Intel, 2 AMD, 3 Cyrix, 0 every other vendor.
std::uint8_t FeatureClass(TCpuVendor vendor);

// The group's entries for the component's vendor, available as its saved registers say.
TAvailableFeatures BuildFeatureList(const TKyvex_CPU& cpu, std::uint8_t group);

}  // namespace kyvex
