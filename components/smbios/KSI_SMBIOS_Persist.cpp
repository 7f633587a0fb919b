// Saving and loading the SMBIOS component: its values in one property set of the "SMBIOS"
// storage, each record list in a storage of its own with one storage per record ("0", "1",
// ...). Every property is addressed by name; the tables below give the names, the fields and
// the write order (which fixes the property ids a fresh set hands out: 2, 3, ...).
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <type_traits>
#include <variant>
#include <vector>

#include "common/Kyvex_SS.h"
#include "smbios/KSI_SMBIOS.h"

namespace kyvex {

namespace {

constexpr std::uint32_t kSaveMode = ole::STGM_READWRITE | ole::STGM_SHARE_EXCLUSIVE;
constexpr std::uint32_t kLoadMode = ole::STGM_READ | ole::STGM_SHARE_EXCLUSIVE;
constexpr const char* kStorageName = "SMBIOS";

using PropertySet = std::shared_ptr<ole::IPropertyStorage>;

// One stored value: its property name and the field it holds. Strings go as strings, the
// processor voltage as a double, a Boolean as 1 or 0 (only a stored 1 reads back as true),
// everything else as a 64-bit integer: zero-extended on the way out, its own width (or, for
// a set, its elements' bits) taken on the way in.
template <class Owner>
struct Stored {
  using Member = std::variant<std::string Owner::*, double Owner::*, bool Owner::*, std::uint8_t Owner::*,
                              std::uint16_t Owner::*, std::uint32_t Owner::*, TSMBIOS_Chassis Owner::*,
                              TSMBIOS_InterleaveSupport Owner::*>;
  const char* name;
  Member member;
  // A set over elements 0..n: the mask of its element bits, all a load keeps of the stored
  // value. 0 for every other value.
  std::uint32_t setBits = 0;
};

constexpr std::uint32_t Elements(unsigned last) { return (2u << last) - 1u; }

template <class Owner>
void WriteValues(const PropertySet& ps, const Owner& owner, std::span<const Stored<Owner>> layout) {
  for (const auto& v : layout) {
    std::visit(
        [&](auto member) {
          const auto& field = owner.*member;
          using T = std::remove_cvref_t<decltype(field)>;
          if constexpr (std::is_same_v<T, std::string>) {
            WriteStringProperty(ps, v.name, field);
          } else if constexpr (std::is_same_v<T, double>) {
            WriteDoubleProperty(ps, v.name, field);
          } else if constexpr (std::is_same_v<T, bool>) {
            WriteIntegerProperty(ps, v.name, field ? 1 : 0);
          } else {
            WriteIntegerProperty(ps, v.name, static_cast<std::int64_t>(static_cast<std::uint64_t>(field)));
          }
        },
        v.member);
  }
}

// Every field is assigned; without a set (none) the values read empty, 0 or false.
template <class Owner>
void ReadValues(const PropertySet& ps, Owner& owner, std::span<const Stored<Owner>> layout) {
  for (const auto& v : layout) {
    std::visit(
        [&](auto member) {
          auto& field = owner.*member;
          using T = std::remove_cvref_t<decltype(field)>;
          if constexpr (std::is_same_v<T, std::string>) {
            field = ReadStringProperty(ps, v.name);
          } else if constexpr (std::is_same_v<T, double>) {
            field = ReadDoubleProperty(ps, v.name);
          } else if constexpr (std::is_same_v<T, bool>) {
            field = ReadIntegerProperty(ps, v.name) == 1;
          } else {
            const auto raw = static_cast<std::uint64_t>(ReadIntegerProperty(ps, v.name));
            const std::uint64_t width = (std::uint64_t{1} << (8 * sizeof(T))) - 1;
            field = static_cast<T>(raw & (v.setBits ? v.setBits : width));
          }
        },
        v.member);
  }
}

// A missing or unreadable element reads as absent: a load takes what the file holds.
std::unique_ptr<TStructuredSTorage> OpenIfPresent(TStructuredSTorage& parent, const std::string& name) {
  try {
    return parent.OpenSubStorage(name, kLoadMode, false);
  } catch (const EOleSysError&) {
    return nullptr;
  }
}

std::unique_ptr<TStoragePropertySet> ValuesIfPresent(TStructuredSTorage& storage) {
  try {
    return storage.OpenPropertySet(FMTID_DocSummaryInformation, kLoadMode, false);
  } catch (const EOleSysError&) {
    return nullptr;
  }
}

// Every record is written, however long the list: the storage names carry the index, so no
// count limits what a large server's tables keep.
template <class Record>
void WriteList(TStructuredSTorage& own, const char* name, const std::vector<Record>& records,
               std::span<const Stored<Record>> layout) {
  auto list = own.OpenSubStorage(name, kSaveMode, true);
  for (std::size_t i = 0; i < records.size(); ++i) {
    auto record = list->OpenSubStorage(std::to_string(i), kSaveMode, true);
    auto set = record->OpenPropertySet(FMTID_DocSummaryInformation, kSaveMode, true);
    WriteValues(set->PropertyStorage(), records[i], layout);
  }
}

// Records are taken from "0" on up to the first one missing (or without its values); what
// lies beyond a gap belongs to no list.
template <class Record>
void ReadList(TStructuredSTorage& own, const char* name, std::vector<Record>& records,
              std::span<const Stored<Record>> layout) {
  records.clear();
  auto list = OpenIfPresent(own, name);
  if (!list) return;
  for (std::size_t i = 0;; ++i) {
    auto record = OpenIfPresent(*list, std::to_string(i));
    if (!record) return;
    auto set = ValuesIfPresent(*record);
    if (!set) return;
    Record r{};
    ReadValues(set->PropertyStorage(), r, layout);
    records.push_back(std::move(r));
  }
}

const Stored<TSMBIOS_Processor> kProcessor[] = {
    {"Manufacturer", &TSMBIOS_Processor::Manufacturer}, {"Version", &TSMBIOS_Processor::Version},
    {"Socket", &TSMBIOS_Processor::Socket},             {"SerialNumber", &TSMBIOS_Processor::SerialNumber},
    {"AssetTag", &TSMBIOS_Processor::AssetTag},         {"PartNumber", &TSMBIOS_Processor::PartNumber},
    {"Frequency", &TSMBIOS_Processor::Frequency},       {"ExternalClock", &TSMBIOS_Processor::ExternalClock},
    {"Upgrade", &TSMBIOS_Processor::Upgrade},           {"Voltage", &TSMBIOS_Processor::Voltage}};

const Stored<TSMBIOS_MemoryModule> kMemoryModule[] = {{"Socket", &TSMBIOS_MemoryModule::Socket},
                                                      {"Speed", &TSMBIOS_MemoryModule::Speed},
                                                      {"Size", &TSMBIOS_MemoryModule::Size},
                                                      {"Types", &TSMBIOS_MemoryModule::Types, Elements(smmtSDRAM)}};

const Stored<TSMBIOS_MemoryDevice> kMemoryDevice[] = {
    {"DeviceLocator", &TSMBIOS_MemoryDevice::DeviceLocator},
    {"BankLocator", &TSMBIOS_MemoryDevice::BankLocator},
    {"Manufacturer", &TSMBIOS_MemoryDevice::Manufacturer},
    {"SerialNumber", &TSMBIOS_MemoryDevice::SerialNumber},
    {"AssetTag", &TSMBIOS_MemoryDevice::AssetTag},
    {"PartNumber", &TSMBIOS_MemoryDevice::PartNumber},
    {"Speed", &TSMBIOS_MemoryDevice::Speed},
    {"Size", &TSMBIOS_MemoryDevice::Size},
    {"TotalWidth", &TSMBIOS_MemoryDevice::TotalWidth},
    {"DataWidth", &TSMBIOS_MemoryDevice::DataWidth},
    {"FormFactor", &TSMBIOS_MemoryDevice::FormFactor},
    {"Device", &TSMBIOS_MemoryDevice::Device},
    {"TypeDetails", &TSMBIOS_MemoryDevice::TypeDetails, Elements(12)}};

const Stored<TSMBIOS_Port> kPort[] = {{"InternalDesignator", &TSMBIOS_Port::InternalDesignator},
                                      {"ExternalDesignator", &TSMBIOS_Port::ExternalDesignator},
                                      {"InternalConnector", &TSMBIOS_Port::InternalConnector},
                                      {"ExternalConnector", &TSMBIOS_Port::ExternalConnector},
                                      {"Typ", &TSMBIOS_Port::Typ}};

const Stored<TSMBIOS_SystemSlot> kSystemSlot[] = {
    {"Designation", &TSMBIOS_SystemSlot::Designation}, {"Typ", &TSMBIOS_SystemSlot::Typ},
    {"DataBus", &TSMBIOS_SystemSlot::DataBus},         {"ID", &TSMBIOS_SystemSlot::ID},
    {"Usage", &TSMBIOS_SystemSlot::Usage},             {"Length", &TSMBIOS_SystemSlot::Length}};

const Stored<TSMBIOS_Cache> kCache[] = {
    {"Designation", &TSMBIOS_Cache::Designation}, {"Typ", &TSMBIOS_Cache::Typ},
    {"SRAMType", &TSMBIOS_Cache::SRAMType},       {"MaxSize", &TSMBIOS_Cache::MaxSize},
    {"InstalledSize", &TSMBIOS_Cache::InstalledSize}, {"Speed", &TSMBIOS_Cache::Speed},
    {"Associativity", &TSMBIOS_Cache::Associativity}};

const Stored<TSMBIOS_OnBoardDevice> kOnBoardDevice[] = {{"DeviceName", &TSMBIOS_OnBoardDevice::DeviceName},
                                                        {"Typ", &TSMBIOS_OnBoardDevice::Typ},
                                                        {"Status", &TSMBIOS_OnBoardDevice::Status}};

const Stored<TSMBIOS_TemperatureProbe> kTemperatureProbe[] = {
    {"Description", &TSMBIOS_TemperatureProbe::Description},
    {"Location", &TSMBIOS_TemperatureProbe::Location},
    {"Status", &TSMBIOS_TemperatureProbe::Status},
    {"Max", &TSMBIOS_TemperatureProbe::Max},
    {"Min", &TSMBIOS_TemperatureProbe::Min},
    {"Resolution", &TSMBIOS_TemperatureProbe::Resolution},
    {"Tolerance", &TSMBIOS_TemperatureProbe::Tolerance},
    {"Accuracy", &TSMBIOS_TemperatureProbe::Accuracy},
    {"Value", &TSMBIOS_TemperatureProbe::Value}};

}  // namespace

struct SMBIOS_StoredLayout {
  using C = TKyvex_SMBIOS;

  // The base-board values are stored as "Mainboard...", with a lower-case b.
  static std::span<const Stored<C>> Values() {
    static const Stored<C> values[] = {
        {"Version", &C::FVersion},
        {"Revision", &C::FRevision},
        {"MajorVersion", &C::FMajorVersion},
        {"MinorVersion", &C::FMinorVersion},
        {"SMBIOSAddress", &C::FSMBIOSAddress},
        {"StructStart", &C::FStructStart},
        {"StructLength", &C::FStructLength},
        {"StructCount", &C::FStructCount},
        {"BIOSVendor", &C::FBIOSVendor},
        {"BIOSVersion", &C::FBIOSVersion},
        {"BIOSDate", &C::FBIOSDate},
        {"BIOSSize", &C::FBIOSSize},
        {"SystemModel", &C::FSystemModel},
        {"SystemManufacturer", &C::FSystemManufacturer},
        {"SystemVersion", &C::FSystemVersion},
        {"SystemSerial", &C::FSystemSerial},
        {"SystemUUID", &C::FSystemUUID},
        {"MainboardModel", &C::FMainBoardModel},
        {"MainboardManufacturer", &C::FMainBoardManufacturer},
        {"MainboardVersion", &C::FMainBoardVersion},
        {"MainboardSerial", &C::FMainBoardSerial},
        {"MainboardAssetTag", &C::FMainBoardAssetTag},
        {"MainboardLocationInChassis", &C::FMainBoardLocationInChassis},
        {"ChassisModel", &C::FChassisModel},
        {"ChassisManufacturer", &C::FChassisManufacturer},
        {"ChassisVersion", &C::FChassisVersion},
        {"ChassisSerial", &C::FChassisSerial},
        {"ChassisAssetTag", &C::FChassisAssetTag},
        {"MemCtrlCurrentInterleave", &C::FMemCtrlCurrentInterleave},
        {"MemCtrlSupportedInterleave", &C::FMemCtrlSupportedInterleave},
        {"MemCtrlSupportedSpeeds", &C::FMemCtrlSupportedSpeeds, Elements(smms50ns)},
        {"MemCtrlSupportedTypes", &C::FMemCtrlSupportedTypes, Elements(smmtSDRAM)},
        {"MemCtrlSupportedVoltages", &C::FMemCtrlSupportedVoltages, Elements(smv29V)},
        {"MemCtrlMaxSize", &C::FMemCtrlMaxSize},
        {"MemCtrlSlotCount", &C::FMemCtrlSlotCount}};
    return values;
  }

  static void Save(const C& c, TStructuredSTorage& own) {
    {
      auto set = own.OpenPropertySet(FMTID_DocSummaryInformation, kSaveMode, true);
      WriteValues(set->PropertyStorage(), c, Values());
    }
    WriteList<TSMBIOS_Processor>(own, "ProcessorList", c.FProcessors, kProcessor);
    WriteList<TSMBIOS_MemoryModule>(own, "MemoryModuleList", c.FMemoryModules, kMemoryModule);
    WriteList<TSMBIOS_MemoryDevice>(own, "MemoryDeviceList", c.FMemoryDevices, kMemoryDevice);
    WriteList<TSMBIOS_Port>(own, "PortList", c.FPorts, kPort);
    WriteList<TSMBIOS_SystemSlot>(own, "SystemSlotList", c.FSystemSlots, kSystemSlot);
    WriteList<TSMBIOS_Cache>(own, "CacheList", c.FCaches, kCache);
    WriteList<TSMBIOS_OnBoardDevice>(own, "OnBoardDeviceList", c.FOnBoardDevices, kOnBoardDevice);
    WriteList<TSMBIOS_TemperatureProbe>(own, "TemperatureProbeList", c.FTemperatureProbes, kTemperatureProbe);
  }

  // own: the component's storage, or none when the file holds none (every value then reads
  // empty or 0 and every list ends up empty).
  static void Load(C& c, TStructuredSTorage* own) {
    {
      auto set = own ? ValuesIfPresent(*own) : nullptr;
      ReadValues(set ? set->PropertyStorage() : nullptr, c, Values());
    }
    if (!own) {
      c.FProcessors.clear();
      c.FMemoryModules.clear();
      c.FMemoryDevices.clear();
      c.FPorts.clear();
      c.FSystemSlots.clear();
      c.FCaches.clear();
      c.FOnBoardDevices.clear();
      c.FTemperatureProbes.clear();
      return;
    }
    ReadList<TSMBIOS_Processor>(*own, "ProcessorList", c.FProcessors, kProcessor);
    ReadList<TSMBIOS_MemoryModule>(*own, "MemoryModuleList", c.FMemoryModules, kMemoryModule);
    ReadList<TSMBIOS_MemoryDevice>(*own, "MemoryDeviceList", c.FMemoryDevices, kMemoryDevice);
    ReadList<TSMBIOS_Port>(*own, "PortList", c.FPorts, kPort);
    ReadList<TSMBIOS_SystemSlot>(*own, "SystemSlotList", c.FSystemSlots, kSystemSlot);
    ReadList<TSMBIOS_Cache>(*own, "CacheList", c.FCaches, kCache);
    ReadList<TSMBIOS_OnBoardDevice>(*own, "OnBoardDeviceList", c.FOnBoardDevices, kOnBoardDevice);
    ReadList<TSMBIOS_TemperatureProbe>(*own, "TemperatureProbeList", c.FTemperatureProbes, kTemperatureProbe);
  }
};

void TKyvex_SMBIOS::SaveToStorageFile(const std::string& FileName) {
  TKyvex_KSIC_Component::SaveToStorageFile(FileName);
  SaveComponentStorage(FileName, kStorageName,
                       [this](TStructuredSTorage& own) { SMBIOS_StoredLayout::Save(*this, own); });
}

bool TKyvex_SMBIOS::LoadFromStorageFile(const std::string& FileName) {
  // A file that is not a storage file is no reason to drop what the component holds.
  if (!TKyvex_KSIC_Component::LoadFromStorageFile(FileName)) return false;
  const bool held = LoadComponentStorage(
      FileName, kStorageName, [this](TStructuredSTorage& own) { SMBIOS_StoredLayout::Load(*this, &own); });
  if (!held) SMBIOS_StoredLayout::Load(*this, nullptr);
  return held;
}

}  // namespace kyvex
