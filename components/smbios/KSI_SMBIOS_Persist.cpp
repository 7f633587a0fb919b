// Saving and loading the SMBIOS component: its values in one property set of the "SMBIOS"
// storage, each record list in a storage of its own with one storage per record ("0", "1",
// ...). Every property is addressed by name; the field lists (KSI_SMBIOS_Fields.h) give the
// names, the kinds and the write order (which fixes the property ids a fresh set hands out:
// 2, 3, ...).
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "common/KSI_Persist.h"
#include "smbios/KSI_SMBIOS.h"
#include "smbios/KSI_SMBIOS_Fields.h"

namespace kyvex {

namespace {

constexpr const char* kStorageName = "SMBIOS";

// Every record is written, however long the list: the storage names carry the index, so no
// count limits what a large server's tables keep.
template <class Record, class Visit>
void WriteList(TStructuredSTorage& own, const char* name, const std::vector<Record>& records, Visit visit) {
  auto list = own.OpenSubStorage(name, kStorageSaveMode, true);
  for (std::size_t i = 0; i < records.size(); ++i) {
    auto record = list->OpenSubStorage(std::to_string(i), kStorageSaveMode, true);
    auto set = record->OpenPropertySet(FMTID_DocSummaryInformation, kStorageSaveMode, true);
    visit(records[i], TFieldWriter{set->PropertyStorage()});
  }
}

// Records are taken from "0" on up to the first one missing (or without its values); what
// lies beyond a gap belongs to no list. A list, record or values set that is there but cannot
// be read raises the container error.
template <class Record, class Visit>
std::vector<Record> ReadList(TStructuredSTorage& own, const char* name, Visit visit) {
  std::vector<Record> records;
  auto list = OpenStorageIfPresent(own, name);
  if (!list) return records;
  for (std::size_t i = 0;; ++i) {
    auto record = OpenStorageIfPresent(*list, std::to_string(i));
    if (!record) return records;
    auto set = OpenValuesIfPresent(*record);
    if (!set) return records;
    visit(records.emplace_back(), TFieldReader{set->PropertyStorage()});
  }
}

}  // namespace

struct SMBIOS_StoredLayout {
  using C = TKyvex_SMBIOS;

  // Each list with its field list, in the order a save writes them.
  template <class Step>
  static void EachList(Step&& step) {
    step("ProcessorList", &C::FProcessors, SMBIOS_ProcessorFields);
    step("MemoryModuleList", &C::FMemoryModules, SMBIOS_MemoryModuleFields);
    step("MemoryDeviceList", &C::FMemoryDevices, SMBIOS_MemoryDeviceFields);
    step("PortList", &C::FPorts, SMBIOS_PortFields);
    step("SystemSlotList", &C::FSystemSlots, SMBIOS_SystemSlotFields);
    step("CacheList", &C::FCaches, SMBIOS_CacheFields);
    step("OnBoardDeviceList", &C::FOnBoardDevices, SMBIOS_OnBoardDeviceFields);
    step("TemperatureProbeList", &C::FTemperatureProbes, SMBIOS_TemperatureProbeFields);
  }

  static void Save(const C& c, TStructuredSTorage& own) {
    {
      auto set = own.OpenPropertySet(FMTID_DocSummaryInformation, kStorageSaveMode, true);
      VisitSMBIOSFields(c, TFieldWriter{set->PropertyStorage()});
    }
    EachList([&](const char* name, auto list, auto visit) { WriteList(own, name, c.*list, visit); });
  }

  // own: the component's storage, or none when the file holds none (every value then reads
  // empty or 0 and every list ends up empty). Everything that can fail (opening the values
  // and the records) is done before the component changes, so that a damaged file leaves it
  // as it was.
  static void Load(C& c, TStructuredSTorage* own) {
    auto set = own ? OpenValuesIfPresent(*own) : nullptr;
    std::vector<std::function<void()>> take;
    EachList([&](const char* name, auto list, auto visit) {
      using Records = std::remove_reference_t<decltype(c.*list)>;
      Records records = own ? ReadList<typename Records::value_type>(*own, name, visit) : Records{};
      take.push_back([&c, list, records = std::move(records)]() mutable { c.*list = std::move(records); });
    });
    // Reading a value cannot fail (a value that is not there reads empty).
    VisitSMBIOSFields(c, TFieldReader{set ? set->PropertyStorage() : nullptr});
    for (auto& t : take) t();
    // Decoded values the file does not hold are not left from the last refresh; the slot
    // type code follows from Typ wherever Typ could hold it.
    c.FBIOSExtendedSize = 0;
    for (auto& slot : c.FSystemSlots)
      slot.SlotType = slot.Typ <= 18   ? static_cast<std::uint8_t>(slot.Typ + 1)
                      : slot.Typ <= 23 ? static_cast<std::uint8_t>(0xA0 + slot.Typ - 19)
                                       : 0;
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
