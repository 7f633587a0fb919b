// Saving and loading the storage component: both device lists below the file's "Storage"
// element, one numbered storage per record, each with its values in a property set and its
// partition entries in numbered storages below "Layout".
#include <cstdint>
#include <memory>
#include <string>

#include "common/KSI_Persist.h"
#include "storage/KSI_Storage.h"
#include "storage/KSI_Storage_Fields.h"

namespace kyvex {

namespace {

void WritePartitionEntry(TStructuredSTorage& layoutStorage, const std::string& name, const TPartitionInfo& entry) {
  auto entryStorage = layoutStorage.OpenSubStorage(name, kStorageSaveMode, true);
  auto set = entryStorage->OpenPropertySet(FMTID_DocSummaryInformation, kStorageSaveMode, true);
  VisitPartitionFields(entry, TFieldWriter{set->PropertyStorage()});
}

void WriteDeviceRecord(TStructuredSTorage& listStorage, const std::string& name, const TDeviceInfo& record) {
  auto deviceStorage = listStorage.OpenSubStorage(name, kStorageSaveMode, true);
  auto set = deviceStorage->OpenPropertySet(FMTID_DocSummaryInformation, kStorageSaveMode, true);
  VisitDeviceFields(record, TFieldWriter{set->PropertyStorage()});
  if (record.Layout.empty()) return;
  auto layoutStorage = deviceStorage->OpenSubStorage("Layout", kStorageSaveMode, true);
  for (std::size_t k = 0; k < record.Layout.size(); ++k)
    WritePartitionEntry(*layoutStorage, std::to_string(k), record.Layout[k]);
}

void WriteDeviceList(TStructuredSTorage& own, const std::string& listName, const TDeviceInfoArray& list) {
  auto listStorage = own.OpenSubStorage(listName, kStorageSaveMode, true);
  for (std::size_t i = 0; i < list.size(); ++i) WriteDeviceRecord(*listStorage, std::to_string(i), list[i]);
}

// An entry or record that is missing (or holds no values) ends its list; one that is there
// but cannot be read raises the container error.
bool ReadPartitionEntry(TStructuredSTorage* layoutStorage, const std::string& name, TDiskLayout& layout) {
  auto entryStorage = layoutStorage ? OpenStorageIfPresent(*layoutStorage, name) : nullptr;
  if (!entryStorage) return false;
  auto set = OpenValuesIfPresent(*entryStorage);
  if (!set) return false;
  TPartitionInfo& entry = layout.emplace_back();
  VisitPartitionFields(entry, TFieldReader{set->PropertyStorage()});
  return true;
}

bool ReadDeviceRecord(TStructuredSTorage* listStorage, const std::string& name, TDeviceInfoArray& list) {
  auto deviceStorage = listStorage ? OpenStorageIfPresent(*listStorage, name) : nullptr;
  if (!deviceStorage) return false;
  auto set = OpenValuesIfPresent(*deviceStorage);
  if (!set) return false;
  TDeviceInfo& record = list.emplace_back();
  ResetDeviceInfo(record);
  VisitDeviceFields(record, TFieldReader{set->PropertyStorage()});
  auto layoutStorage = OpenStorageIfPresent(*deviceStorage, "Layout");
  for (std::size_t k = 0; ReadPartitionEntry(layoutStorage.get(), std::to_string(k), record.Layout); ++k) {
  }
  return true;
}

// Records are numbered without gaps when we write them; a file whose numbering has one ends
// the list there, since the position in the list is what PHYSIndex refers to.
void ReadDeviceList(TStructuredSTorage& own, const std::string& listName, TDeviceInfoArray& list) {
  auto listStorage = OpenStorageIfPresent(own, listName);
  for (std::size_t n = 0; ReadDeviceRecord(listStorage.get(), std::to_string(n), list); ++n) {
  }
}

}  // namespace

void TKyvex_Storage::SaveToStorageFile(const std::string& FileName) {
  TKyvex_KSIC_Component::SaveToStorageFile(FileName);
  SaveComponentStorage(FileName, "Storage", [this](TStructuredSTorage& own) {
    WriteDeviceList(own, "PhysicalDevices", FPhysicalDevices);
    WriteDeviceList(own, "LogicalDevices", FLogicalDevices);
  });
}

bool TKyvex_Storage::LoadFromStorageFile(const std::string& FileName) {
  // Emptied before anything can fail, so live records never survive beside loaded ones.
  ClearDeviceList(FPhysicalDevices);
  ClearDeviceList(FLogicalDevices);
  const bool isStorageFile = TKyvex_KSIC_Component::LoadFromStorageFile(FileName);
  // Both lists are read aside and taken together, so that a file that fails half-way
  // leaves the component empty rather than holding a part of the file.
  TDeviceInfoArray physical, logical;
  const bool held = LoadComponentStorage(FileName, "Storage", [&](TStructuredSTorage& own) {
    ReadDeviceList(own, "PhysicalDevices", physical);
    ReadDeviceList(own, "LogicalDevices", logical);
  });
  FPhysicalDevices = std::move(physical);
  FLogicalDevices = std::move(logical);
  // Empty lists are a valid save (a machine without disks, or a logical list from Windows
  // 9x), so the answer rests on the "Storage" element being there, not on the counts.
  return isStorageFile && held;
}

}  // namespace kyvex
