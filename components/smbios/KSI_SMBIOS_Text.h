// The display texts of the SMBIOS component: the structure names and one text table per
// coded field, each indexed from 0 by the value the component stores.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace kyvex {

struct TSMBIOS_StructName {
  std::uint8_t StructType;
  const char* Name;
};
extern const std::array<TSMBIOS_StructName, 42> SMBIOS_StructNames;
// The name of a structure type, "Unknown" for a type without one.
std::string SMBIOS_StructName(std::uint8_t StructType);

extern const std::array<const char*, 25> SMBIOS_ChassisNames;
extern const std::array<const char*, 7> SMBIOS_InterleaveNames;
extern const std::array<const char*, 3> SMBIOS_VoltageNames;
extern const std::array<const char*, 5> SMBIOS_MemorySpeedNames;
extern const std::array<const char*, 17> SMBIOS_UpgradeNames;
extern const std::array<const char*, 14> SMBIOS_FormFactorNames;
extern const std::array<const char*, 18> SMBIOS_DeviceTypeNames;
extern const std::array<const char*, 11> SMBIOS_MemoryTypeNames;
extern const std::array<const char*, 13> SMBIOS_TypeDetailNames;
extern const std::array<const char*, 40> SMBIOS_ConnectorNames;
extern const std::array<const char*, 35> SMBIOS_PortTypeNames;
extern const std::array<const char*, 24> SMBIOS_SlotTypeNames;
extern const std::array<const char*, 7> SMBIOS_DataBusNames;
extern const std::array<const char*, 4> SMBIOS_SlotUsageNames;
extern const std::array<const char*, 4> SMBIOS_SlotLengthNames;
extern const std::array<const char*, 7> SMBIOS_SRAMTypeNames;
extern const std::array<const char*, 5> SMBIOS_CacheTypeNames;
extern const std::array<const char*, 8> SMBIOS_AssociativityNames;
extern const std::array<const char*, 7> SMBIOS_OnBoardDeviceTypeNames;
extern const std::array<const char*, 14> SMBIOS_ProbeLocationNames;
extern const std::array<const char*, 6> SMBIOS_ProbeStatusNames;

// The row `index` of a text table, or nothing (null) when the index lies beyond it.
template <std::size_t N>
const char* SMBIOS_Row(const std::array<const char*, N>& table, unsigned index) {
  return index < N ? table[index] : nullptr;
}

}  // namespace kyvex
