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
// Processor characteristics (word 26h), by bit.
extern const std::array<const char*, 10> SMBIOS_ProcessorCharacteristicNames;

// The row `index` of a text table, or nothing (null) when the index lies beyond it.
template <std::size_t N>
const char* SMBIOS_Row(const std::array<const char*, N>& table, std::uint64_t index) {
  return index < N ? table[index] : nullptr;
}

// The texts of the values, as the field lists (KSI_SMBIOS_Fields.h) hand them to the JSON and
// the report rows. A coded field's text is its row of the table above, else the name newer
// firmware gives the code beyond the table, else "Unknown (code)". The component keeps every
// code as it decodes; only these texts name it.
std::string SMBIOS_ChassisText(std::uint64_t value);
std::string SMBIOS_InterleaveText(std::uint64_t value);
std::string SMBIOS_UpgradeText(std::uint64_t value);
std::string SMBIOS_FormFactorText(std::uint64_t value);
std::string SMBIOS_DeviceTypeText(std::uint64_t value);
std::string SMBIOS_ConnectorText(std::uint64_t value);
std::string SMBIOS_PortTypeText(std::uint64_t value);
std::string SMBIOS_SlotTypeText(std::uint64_t value);
std::string SMBIOS_DataBusText(std::uint64_t value);
std::string SMBIOS_SlotUsageText(std::uint64_t value);
std::string SMBIOS_SlotLengthText(std::uint64_t value);
std::string SMBIOS_SRAMTypeText(std::uint64_t value);
std::string SMBIOS_CacheTypeText(std::uint64_t value);
std::string SMBIOS_AssociativityText(std::uint64_t value);
std::string SMBIOS_OnBoardDeviceTypeText(std::uint64_t value);
std::string SMBIOS_ProbeLocationText(std::uint64_t value);
std::string SMBIOS_ProbeStatusText(std::uint64_t value);
// A slot type by the code the structure holds (not by the stored Typ): the codes Typ knows
// keep its texts, the newer ones (M.2, MXM, OCP, PCI Express by generation and width, EDSFF)
// are named as the SMBIOS standard names them.
std::string SMBIOS_SlotTypeCodeText(std::uint64_t code);

// Sets: the names of the elements present, comma-separated, "none" for an empty set.
std::string SMBIOS_MemorySpeedsText(std::uint64_t set);
std::string SMBIOS_MemoryTypesText(std::uint64_t set);
std::string SMBIOS_VoltagesText(std::uint64_t set);

// Values with their units.
std::string SMBIOS_KilobytesText(std::uint64_t kb);
std::string SMBIOS_MegabytesText(std::uint64_t mb);
// A memory module's size in MB; 0 is a socket without a module.
std::string SMBIOS_ModuleSizeText(std::uint64_t mb);
// A memory device's size word: MB, KB when bit 15 is set, FFFFh unknown, 0 no module.
std::string SMBIOS_MemoryDeviceSizeText(std::uint64_t word);
// A clock in MHz or a cycle time in ns; 0 is not known.
std::string SMBIOS_MegahertzText(std::uint64_t mhz);
std::string SMBIOS_NanosecondsText(std::uint64_t ns);
// A memory speed in MT/s; 0 is not known.
std::string SMBIOS_MegatransfersText(std::uint64_t mts);
// A temperature probe's word in tenths of a degree Celsius, 8000h where unknown. The nominal
// value also reads 0 where the structure is too short to hold one.
std::string SMBIOS_ProbeTemperatureText(std::uint64_t tenths);
std::string SMBIOS_ProbeNominalText(std::uint64_t tenths);

}  // namespace kyvex
