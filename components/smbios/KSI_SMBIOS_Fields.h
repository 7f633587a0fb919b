// Every value of the SMBIOS component and of each of its records, listed once: the save, the
// load, the reset, the JSON and the plain text rows walk these lists. The stored values come in
// the order they are written, which fixes the property ids a file gets; values the file does
// not hold may stand anywhere among them.
//
// The labels are those of the text report's rows; the report gathers the component's own
// values into one section per structure by the start of their names (BIOS, System, MainBoard,
// Chassis, MemCtrl).
#pragma once

#include "common/KSI_Fields.h"
#include "smbios/KSI_SMBIOS.h"
#include "smbios/KSI_SMBIOS_Text.h"

namespace kyvex {

namespace smbios_fields {

// A coded value: its number, and beside it (JSON) or instead of it (report row) its text.
constexpr TField Coded(const char* name, std::string (*text)(std::uint64_t), const char* label) {
  return TField{.Name = name, .Text = text, .Json = TJsonStyle::Text, .Label = label};
}

// A set: the names of its elements (JSON) and their texts (report row); a load keeps only the
// element bits.
constexpr TField Set(const char* name, std::span<const char* const> names, unsigned last,
                     std::string (*text)(std::uint64_t), const char* label) {
  return TField{.Name = name, .Text = text, .Json = TJsonStyle::Set, .Names = names, .SetBits = SetElements(last),
                .Label = label};
}

// An enumeration whose cleared value is its "unknown" member. A stored ordinal past the
// names loads as it is: the component keeps codes of newer firmware as they decode.
constexpr TField Enumeration(const char* name, std::span<const char* const> names, std::string (*text)(std::uint64_t),
                             std::int64_t initial, const char* label) {
  return TField{.Name = name, .Text = text, .Json = TJsonStyle::Enumeration, .Names = names, .Initial = initial,
                .Label = label};
}

}  // namespace smbios_fields

// The component's own values. Version to StructCount describe the table the values were
// decoded from; the base-board values are stored as "Mainboard...", with a lower-case b.
template <class Component, class Visitor>
void VisitSMBIOSFields(Component& c, Visitor&& v) {
  using namespace smbios_fields;
  v(TField{.Name = "Version"}, c.FVersion);
  v(TField{.Name = "Revision"}, c.FRevision);
  v(TField{.Name = "MajorVersion"}, c.FMajorVersion);
  v(TField{.Name = "MinorVersion"}, c.FMinorVersion);
  // The kind of entry point the table was found by ("_SM_", "_SM3_", "_DMI_"); a file does not
  // keep it.
  v(TField{.Name = "EntryPoint", .Stored = kNotStored}, c.FEntryPointAnchor);
  v(TField{.Name = "SMBIOSAddress"}, c.FSMBIOSAddress);
  v(TField{.Name = "StructStart"}, c.FStructStart);
  v(TField{.Name = "StructLength"}, c.FStructLength);
  v(TField{.Name = "StructCount"}, c.FStructCount);
  v(TField{.Name = "BIOSVendor", .Label = "Vendor"}, c.FBIOSVendor);
  v(TField{.Name = "BIOSVersion", .Label = "Version"}, c.FBIOSVersion);
  v(TField{.Name = "BIOSDate", .Label = "Date"}, c.FBIOSDate);
  // 0 where the table holds no BIOS structure, which always gives at least 64 KB.
  v(TField{.Name = "BIOSSize", .Text = SMBIOS_KilobytesText, .Label = "ROM size", .OmitEmpty = true}, c.FBIOSSize);
  // The size BIOSSize cannot give (16 MB and more); the report shows it on BIOSSize's row.
  v(TField{.Name = "BIOSExtendedSize", .Stored = kNotStored, .Text = SMBIOS_MegabytesText}, c.FBIOSExtendedSize);
  v(TField{.Name = "SystemModel", .Label = "Model"}, c.FSystemModel);
  v(TField{.Name = "SystemManufacturer", .Label = "Manufacturer"}, c.FSystemManufacturer);
  v(TField{.Name = "SystemVersion", .Label = "Version"}, c.FSystemVersion);
  v(TField{.Name = "SystemSerial", .Label = "Serial number"}, c.FSystemSerial);
  v(TField{.Name = "SystemUUID", .Label = "UUID"}, c.FSystemUUID);
  v(TField{.Name = "MainBoardModel", .Stored = "MainboardModel", .Label = "Model"}, c.FMainBoardModel);
  v(TField{.Name = "MainBoardManufacturer", .Stored = "MainboardManufacturer", .Label = "Manufacturer"},
    c.FMainBoardManufacturer);
  v(TField{.Name = "MainBoardVersion", .Stored = "MainboardVersion", .Label = "Version"}, c.FMainBoardVersion);
  v(TField{.Name = "MainBoardSerial", .Stored = "MainboardSerial", .Label = "Serial number"}, c.FMainBoardSerial);
  v(TField{.Name = "MainBoardAssetTag", .Stored = "MainboardAssetTag", .Label = "Asset tag"}, c.FMainBoardAssetTag);
  v(TField{.Name = "MainBoardLocationInChassis", .Stored = "MainboardLocationInChassis",
           .Label = "Location in chassis"},
    c.FMainBoardLocationInChassis);
  // The report shows the chassis type only where a chassis structure was found.
  v(Enumeration("ChassisModel", SMBIOS_ChassisValueNames, SMBIOS_ChassisText, smchUnknown, nullptr), c.FChassisModel);
  v(TField{.Name = "ChassisManufacturer", .Label = "Manufacturer"}, c.FChassisManufacturer);
  v(TField{.Name = "ChassisVersion", .Label = "Version"}, c.FChassisVersion);
  v(TField{.Name = "ChassisSerial", .Label = "Serial number"}, c.FChassisSerial);
  v(TField{.Name = "ChassisAssetTag", .Label = "Asset tag"}, c.FChassisAssetTag);
  v(Enumeration("MemCtrlCurrentInterleave", SMBIOS_InterleaveValueNames, SMBIOS_InterleaveText, smisUnknown,
                "Current interleave"),
    c.FMemCtrlCurrentInterleave);
  v(Enumeration("MemCtrlSupportedInterleave", SMBIOS_InterleaveValueNames, SMBIOS_InterleaveText, smisUnknown,
                "Supported interleave"),
    c.FMemCtrlSupportedInterleave);
  v(Set("MemCtrlSupportedSpeeds", SMBIOS_MemorySpeedValueNames, smms50ns, SMBIOS_MemorySpeedsText,
        "Supported speeds"),
    c.FMemCtrlSupportedSpeeds);
  v(Set("MemCtrlSupportedTypes", SMBIOS_MemoryTypeValueNames, smmtSDRAM, SMBIOS_MemoryTypesText, "Supported types"),
    c.FMemCtrlSupportedTypes);
  v(Set("MemCtrlSupportedVoltages", SMBIOS_VoltageValueNames, smv29V, SMBIOS_VoltagesText, "Supported voltages"),
    c.FMemCtrlSupportedVoltages);
  v(TField{.Name = "MemCtrlMaxSize", .Text = SMBIOS_MegabytesText, .Label = "Maximum module size"}, c.FMemCtrlMaxSize);
  v(TField{.Name = "MemCtrlSlotCount", .Label = "Slots"}, c.FMemCtrlSlotCount);
}

// The voltage (a double) has no plain row: the report writes it with its unit itself.
template <class Record, class Visitor>
void VisitSMBIOSProcessorFields(Record& p, Visitor&& v) {
  using namespace smbios_fields;
  v(TField{.Name = "Manufacturer", .Label = "Manufacturer"}, p.Manufacturer);
  v(TField{.Name = "Version", .Label = "Version"}, p.Version);
  v(TField{.Name = "Socket", .Label = "Socket"}, p.Socket);
  v(TField{.Name = "SerialNumber", .Label = "Serial number"}, p.SerialNumber);
  v(TField{.Name = "AssetTag", .Label = "Asset tag"}, p.AssetTag);
  v(TField{.Name = "PartNumber", .Label = "Part number"}, p.PartNumber);
  v(TField{.Name = "Frequency", .Text = SMBIOS_MegahertzText, .Label = "Current speed"}, p.Frequency);
  v(TField{.Name = "ExternalClock", .Text = SMBIOS_MegahertzText, .Label = "External clock"}, p.ExternalClock);
  v(Coded("Upgrade", SMBIOS_UpgradeText, "Upgrade"), p.Upgrade);
  v(TField{.Name = "Voltage"}, p.Voltage);
  // Newer values, not stored. The report shows the counts in effect (the 3.0 words where a
  // byte is FFh) on rows of its own.
  v(TField{.Name = "Family", .Stored = kNotStored, .Label = "Family code", .OmitEmpty = true}, p.Family);
  v(TField{.Name = "CoreCount", .Stored = kNotStored}, p.CoreCount);
  v(TField{.Name = "CoreEnabled", .Stored = kNotStored}, p.CoreEnabled);
  v(TField{.Name = "ThreadCount", .Stored = kNotStored}, p.ThreadCount);
  v(TField{.Name = "CoreCount2", .Stored = kNotStored}, p.CoreCount2);
  v(TField{.Name = "CoreEnabled2", .Stored = kNotStored}, p.CoreEnabled2);
  v(TField{.Name = "ThreadCount2", .Stored = kNotStored}, p.ThreadCount2);
  v(TField{.Name = "SocketType", .Stored = kNotStored, .Label = "Socket type", .OmitEmpty = true}, p.SocketType);
  v(TField{.Name = "Characteristics", .Stored = kNotStored, .Json = TJsonStyle::Set,
           .Names = SMBIOS_ProcessorCharacteristicNames, .Label = "Characteristics", .OmitEmpty = true},
    p.Characteristics);
}

template <class Record, class Visitor>
void VisitSMBIOSMemoryModuleFields(Record& m, Visitor&& v) {
  using namespace smbios_fields;
  v(TField{.Name = "Socket", .Label = "Socket"}, m.Socket);
  v(TField{.Name = "Speed", .Text = SMBIOS_NanosecondsText, .Label = "Speed"}, m.Speed);
  v(TField{.Name = "Size", .Text = SMBIOS_ModuleSizeText, .Label = "Size"}, m.Size);
  v(Set("Types", SMBIOS_MemoryTypeValueNames, smmtSDRAM, SMBIOS_MemoryTypesText, "Types"), m.Types);
}

// The widths have no plain rows: the report shows them together on one.
template <class Record, class Visitor>
void VisitSMBIOSMemoryDeviceFields(Record& m, Visitor&& v) {
  using namespace smbios_fields;
  v(TField{.Name = "DeviceLocator", .Label = "Locator"}, m.DeviceLocator);
  v(TField{.Name = "BankLocator", .Label = "Bank"}, m.BankLocator);
  v(TField{.Name = "Manufacturer", .Label = "Manufacturer"}, m.Manufacturer);
  v(TField{.Name = "SerialNumber", .Label = "Serial number"}, m.SerialNumber);
  v(TField{.Name = "AssetTag", .Label = "Asset tag"}, m.AssetTag);
  v(TField{.Name = "PartNumber", .Label = "Part number"}, m.PartNumber);
  // The report writes the speeds and the size on rows of its own, from the newer values
  // where there are any.
  v(TField{.Name = "Speed", .Text = SMBIOS_NanosecondsText}, m.Speed);
  v(Coded("Size", SMBIOS_MemoryDeviceSizeText, nullptr), m.Size);
  v(TField{.Name = "TotalWidth"}, m.TotalWidth);
  v(TField{.Name = "DataWidth"}, m.DataWidth);
  v(Coded("FormFactor", SMBIOS_FormFactorText, "Form factor"), m.FormFactor);
  v(Coded("Device", SMBIOS_DeviceTypeText, "Type"), m.Device);
  v(TField{.Name = "TypeDetails", .SetBits = SetElements(12)}, m.TypeDetails);
  // The same bits by name: JSON shows both the number and the names.
  v(TField{.Name = "TypeDetailsText", .Stored = kNotStored, .Json = TJsonStyle::Set, .Names = SMBIOS_TypeDetailNames,
           .Label = "Type details"},
    m.TypeDetails);
  v(TField{.Name = "SpeedMTs", .Stored = kNotStored, .Text = SMBIOS_MegatransfersText}, m.SpeedMTs);
  v(TField{.Name = "ConfiguredSpeedMTs", .Stored = kNotStored, .Text = SMBIOS_MegatransfersText},
    m.ConfiguredSpeedMTs);
  v(TField{.Name = "ExtendedSize", .Stored = kNotStored, .Text = SMBIOS_MegabytesText}, m.ExtendedSize);
}

template <class Record, class Visitor>
void VisitSMBIOSCacheFields(Record& c, Visitor&& v) {
  using namespace smbios_fields;
  v(TField{.Name = "Designation", .Label = "Designation"}, c.Designation);
  v(Coded("Typ", SMBIOS_CacheTypeText, "Type"), c.Typ);
  v(Coded("SRAMType", SMBIOS_SRAMTypeText, "SRAM type"), c.SRAMType);
  // The report writes the sizes on rows of its own, from the 32-bit values where there are any.
  v(TField{.Name = "MaxSize", .Text = SMBIOS_KilobytesText}, c.MaxSize);
  v(TField{.Name = "InstalledSize", .Text = SMBIOS_KilobytesText}, c.InstalledSize);
  v(TField{.Name = "Speed", .Text = SMBIOS_NanosecondsText, .Label = "Speed"}, c.Speed);
  v(Coded("Associativity", SMBIOS_AssociativityText, "Associativity"), c.Associativity);
  v(TField{.Name = "MaxSize2", .Stored = kNotStored, .Text = SMBIOS_KilobytesText}, c.MaxSize2);
  v(TField{.Name = "InstalledSize2", .Stored = kNotStored, .Text = SMBIOS_KilobytesText}, c.InstalledSize2);
}

template <class Record, class Visitor>
void VisitSMBIOSPortFields(Record& p, Visitor&& v) {
  using namespace smbios_fields;
  v(TField{.Name = "InternalDesignator", .Label = "Internal designator"}, p.InternalDesignator);
  v(TField{.Name = "ExternalDesignator", .Label = "External designator"}, p.ExternalDesignator);
  v(Coded("InternalConnector", SMBIOS_ConnectorText, "Internal connector"), p.InternalConnector);
  v(Coded("ExternalConnector", SMBIOS_ConnectorText, "External connector"), p.ExternalConnector);
  v(Coded("Typ", SMBIOS_PortTypeText, "Type"), p.Typ);
}

template <class Record, class Visitor>
void VisitSMBIOSSystemSlotFields(Record& s, Visitor&& v) {
  using namespace smbios_fields;
  v(TField{.Name = "Designation", .Label = "Designation"}, s.Designation);
  // The type's row is the code's, which names the newer slots Typ cannot hold.
  v(Coded("Typ", SMBIOS_SlotTypeText, nullptr), s.Typ);
  v(Coded("DataBus", SMBIOS_DataBusText, "Data bus"), s.DataBus);
  v(TField{.Name = "ID", .Label = "ID"}, s.ID);
  v(Coded("Usage", SMBIOS_SlotUsageText, "Usage"), s.Usage);
  v(Coded("Length", SMBIOS_SlotLengthText, "Length"), s.Length);
  v(TField{.Name = "SlotType", .Stored = kNotStored, .Text = SMBIOS_SlotTypeCodeText, .Json = TJsonStyle::Text,
           .Label = "Type"},
    s.SlotType);
}

// The status has no plain row: the report names it "Enabled" or "Disabled".
template <class Record, class Visitor>
void VisitSMBIOSOnBoardDeviceFields(Record& d, Visitor&& v) {
  using namespace smbios_fields;
  v(TField{.Name = "DeviceName", .Label = "Name"}, d.DeviceName);
  v(Coded("Typ", SMBIOS_OnBoardDeviceTypeText, "Type"), d.Typ);
  v(TField{.Name = "Status"}, d.Status);
}

template <class Record, class Visitor>
void VisitSMBIOSTemperatureProbeFields(Record& t, Visitor&& v) {
  using namespace smbios_fields;
  v(TField{.Name = "Description", .Label = "Description"}, t.Description);
  v(Coded("Location", SMBIOS_ProbeLocationText, "Location"), t.Location);
  v(Coded("Status", SMBIOS_ProbeStatusText, "Status"), t.Status);
  v(TField{.Name = "Max", .Text = SMBIOS_ProbeTemperatureText, .Label = "Maximum"}, t.Max);
  v(TField{.Name = "Min", .Text = SMBIOS_ProbeTemperatureText, .Label = "Minimum"}, t.Min);
  v(TField{.Name = "Resolution"}, t.Resolution);
  v(TField{.Name = "Tolerance"}, t.Tolerance);
  v(TField{.Name = "Accuracy"}, t.Accuracy);
  v(TField{.Name = "Value", .Text = SMBIOS_ProbeNominalText, .Label = "Nominal value"}, t.Value);
}

// Each list as an object, for the walks that take a list as an argument (FieldsJson, the
// save and load of a record list).
inline constexpr auto SMBIOS_Fields = [](auto& c, auto&& v) { VisitSMBIOSFields(c, v); };
inline constexpr auto SMBIOS_ProcessorFields = [](auto& r, auto&& v) { VisitSMBIOSProcessorFields(r, v); };
inline constexpr auto SMBIOS_MemoryModuleFields = [](auto& r, auto&& v) { VisitSMBIOSMemoryModuleFields(r, v); };
inline constexpr auto SMBIOS_MemoryDeviceFields = [](auto& r, auto&& v) { VisitSMBIOSMemoryDeviceFields(r, v); };
inline constexpr auto SMBIOS_CacheFields = [](auto& r, auto&& v) { VisitSMBIOSCacheFields(r, v); };
inline constexpr auto SMBIOS_PortFields = [](auto& r, auto&& v) { VisitSMBIOSPortFields(r, v); };
inline constexpr auto SMBIOS_SystemSlotFields = [](auto& r, auto&& v) { VisitSMBIOSSystemSlotFields(r, v); };
inline constexpr auto SMBIOS_OnBoardDeviceFields = [](auto& r, auto&& v) { VisitSMBIOSOnBoardDeviceFields(r, v); };
inline constexpr auto SMBIOS_TemperatureProbeFields = [](auto& r, auto&& v) {
  VisitSMBIOSTemperatureProbeFields(r, v);
};

}  // namespace kyvex
