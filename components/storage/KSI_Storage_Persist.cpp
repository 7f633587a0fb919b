// Saving and loading the storage component: both device lists below the file's "Storage"
// element, one numbered storage per record, each with its values in a property set and its
// partition entries in numbered storages below "Layout".
#include <cstdint>
#include <memory>
#include <string>

#include "common/Kyvex_SS.h"
#include "platform/Text.h"
#include "storage/KSI_Storage.h"

namespace kyvex {

namespace {

constexpr std::uint32_t kModeRead = ole::STGM_READ | ole::STGM_SHARE_EXCLUSIVE;        // 0x10
constexpr std::uint32_t kModeWrite = ole::STGM_READWRITE | ole::STGM_SHARE_EXCLUSIVE;  // 0x12
constexpr std::size_t kMaxText = 255;

using PropertyStorage = std::shared_ptr<ole::IPropertyStorage>;

// Every stored value of a device record, in the order it is written: the save and the load
// walk this one list, so names and order cannot drift apart between them. The order fixes
// the property ids the file gets, and other readers of our files rely on those.
template <class Record, class Visitor>
void VisitDeviceValues(Record& d, Visitor&& v) {
  v("Drive", d.Drive);
  v("Vendor", d.Vendor);
  v("Model", d.Model);
  v("Revision", d.Revision);
  v("VendorStr", d.VendorStr);
  v("SerialNumber", d.SerialNumber);
  v("DeviceType", d.DeviceType);
  v("MediaType", d.MediaType);
  v("BusType", d.BusType);
  v("Removable", d.Removable);
  v("Device", d.Device);
  v("PHYSIndex", d.PHYSIndex);
  v("HaId", d.HaId);
  v("Target", d.Target);
  v("Lun", d.Lun);
  v("PathID", d.PathID);
  v("Size", d.Size);
  v("Cylinders", d.Cylinders);
  v("Heads", d.Heads);
  v("BytesPerSector", d.BytesPerSector);
  v("BytesPerTrack", d.BytesPerTrack);
  v("SectorsPerTrack", d.SectorsPerTrack);
  v("CtlBufSize", d.CtlBufSize);
  v("ECCCode", d.ECCCode);
  v("ATAVersion", d.ATAVersion);
  v("Temperature", d.Temperature);
  v("SMARTSupport", d.SMARTSupport);
  v("SMARTActive", d.SMARTActive);
  v("Read_CDR", d.Read_CDR);
  v("Read_CDRW", d.Read_CDRW);
  v("Write_CDR", d.Write_CDR);
  v("Write_CDRW", d.Write_CDRW);
  v("Read_DVDROM", d.Read_DVDROM);
  v("Read_DVDR", d.Read_DVDR);
  v("Read_DVDRAM", d.Read_DVDRAM);
  v("Write_DVDR", d.Write_DVDR);
  v("Write_DVDRAM", d.Write_DVDRAM);
  v("Geometry.Cylinders", d.Geometry.Cylinders);
  v("Geometry.TracksPerCylinder", d.Geometry.TracksPerCylinder);
  v("Geometry.SectorsPerTrack", d.Geometry.SectorsPerTrack);
  // The plural "s" is part of the stored name: files already written carry it.
  v("Geometry.BytesPerSectors", d.Geometry.BytesPerSector);
  v("_LocationAvailable", d.LocationAvailable);
  v("_ExtraInfoAvailable", d.ExtraInfoAvailable);
}

template <class Entry, class Visitor>
void VisitPartitionValues(Entry& p, Visitor&& v) {
  v("StartingOffset", p.StartingOffset);
  v("Length", p.Length);
  v("HiddenSectors", p.HiddenSectors);
  v("Number", p.Number);
  v("Typ", p.Typ);
  v("BootIndicator", p.BootIndicator);
  v("Recognized", p.Recognized);
  v("Rewrite", p.Rewrite);
}

// The drive letter back from its stored text. The letter was a single byte of the system's
// code page before it became UTF-16, so a letter outside ASCII is mapped back to that byte
// rather than cut out of its UTF-8 form.
char DriveLetterOf(const std::string& stored) {
  if (stored.empty()) return 0;
  std::size_t pos = 0;
  char32_t c = 0;
  if (!text::DecodeUtf8(stored, pos, c)) return stored[0];
  if (c < 0x80) return static_cast<char>(c);
  for (unsigned b = 0x80; b <= 0xFF; ++b)
    if (text::Cp1252ToUnicode(static_cast<unsigned char>(b)) == c) return static_cast<char>(b);
  return '?';  // what the platform's code-page conversion puts for a character it lacks
}

// Integers widen to the stored 64 bits by their own signedness: unsigned fields (bytes
// included) zero-extended, signed ones sign-extended, so -1 stays -1.
struct ValueWriter {
  const PropertyStorage& ps;
  void operator()(const char* name, const std::string& v) const { WriteStringProperty(ps, name, v); }
  void operator()(const char* name, char v) const {
    WriteStringProperty(ps, name, v ? std::string(1, v) : std::string());
  }
  void operator()(const char* name, bool v) const { WriteIntegerProperty(ps, name, v ? 1 : 0); }
  void operator()(const char* name, std::uint8_t v) const { WriteIntegerProperty(ps, name, v); }
  void operator()(const char* name, std::uint32_t v) const { WriteIntegerProperty(ps, name, v); }
  void operator()(const char* name, std::int32_t v) const { WriteIntegerProperty(ps, name, v); }
  void operator()(const char* name, std::int64_t v) const { WriteIntegerProperty(ps, name, v); }
};

// Narrower fields keep the low bits of what is stored; a Boolean is true only for 1, so
// that a file of another writer cannot turn an arbitrary number into "supported".
struct ValueReader {
  const PropertyStorage& ps;
  void operator()(const char* name, std::string& v) const { v = text::CutUtf8(ReadStringProperty(ps, name), kMaxText); }
  void operator()(const char* name, char& v) const { v = DriveLetterOf(ReadStringProperty(ps, name)); }
  void operator()(const char* name, bool& v) const { v = ReadIntegerProperty(ps, name) == 1; }
  void operator()(const char* name, std::uint8_t& v) const { v = static_cast<std::uint8_t>(ReadIntegerProperty(ps, name)); }
  void operator()(const char* name, std::uint32_t& v) const {
    v = static_cast<std::uint32_t>(ReadIntegerProperty(ps, name));
  }
  void operator()(const char* name, std::int32_t& v) const {
    v = static_cast<std::int32_t>(static_cast<std::uint32_t>(ReadIntegerProperty(ps, name)));
  }
  void operator()(const char* name, std::int64_t& v) const { v = ReadIntegerProperty(ps, name); }
};

// A storage below `parent` when there is one of that name; none otherwise (also when the
// name belongs to a stream), which ends a list on reading.
std::unique_ptr<TStructuredSTorage> OpenIfPresent(TStructuredSTorage* parent, const std::string& name) {
  if (!parent) return nullptr;
  try {
    return parent->OpenSubStorage(name, kModeRead, false);
  } catch (const EOleSysError&) {
    return nullptr;
  }
}

void WritePartitionEntry(TStructuredSTorage& layoutStorage, const std::string& name, const TPartitionInfo& entry) {
  auto entryStorage = layoutStorage.OpenSubStorage(name, kModeWrite, true);
  auto set = entryStorage->OpenPropertySet(FMTID_DocSummaryInformation, kModeWrite, true);
  VisitPartitionValues(entry, ValueWriter{set->PropertyStorage()});
}

void WriteDeviceRecord(TStructuredSTorage& listStorage, const std::string& name, const TDeviceInfo& record) {
  auto deviceStorage = listStorage.OpenSubStorage(name, kModeWrite, true);
  auto set = deviceStorage->OpenPropertySet(FMTID_DocSummaryInformation, kModeWrite, true);
  VisitDeviceValues(record, ValueWriter{set->PropertyStorage()});
  if (record.Layout.empty()) return;
  auto layoutStorage = deviceStorage->OpenSubStorage("Layout", kModeWrite, true);
  for (std::size_t k = 0; k < record.Layout.size(); ++k)
    WritePartitionEntry(*layoutStorage, std::to_string(k), record.Layout[k]);
}

void WriteDeviceList(TStructuredSTorage& own, const std::string& listName, const TDeviceInfoArray& list) {
  auto listStorage = own.OpenSubStorage(listName, kModeWrite, true);
  for (std::size_t i = 0; i < list.size(); ++i) WriteDeviceRecord(*listStorage, std::to_string(i), list[i]);
}

bool ReadPartitionEntry(TStructuredSTorage* layoutStorage, const std::string& name, TDiskLayout& layout) {
  auto entryStorage = OpenIfPresent(layoutStorage, name);
  if (!entryStorage) return false;
  auto set = entryStorage->OpenPropertySet(FMTID_DocSummaryInformation, kModeRead, false);
  if (!set) return false;
  TPartitionInfo& entry = layout.emplace_back();
  VisitPartitionValues(entry, ValueReader{set->PropertyStorage()});
  return true;
}

bool ReadDeviceRecord(TStructuredSTorage* listStorage, const std::string& name, TDeviceInfoArray& list) {
  auto deviceStorage = OpenIfPresent(listStorage, name);
  if (!deviceStorage) return false;
  auto set = deviceStorage->OpenPropertySet(FMTID_DocSummaryInformation, kModeRead, false);
  if (!set) return false;
  TDeviceInfo& record = list.emplace_back();
  ResetDeviceInfo(record);
  VisitDeviceValues(record, ValueReader{set->PropertyStorage()});
  auto layoutStorage = OpenIfPresent(deviceStorage.get(), "Layout");
  for (std::size_t k = 0; ReadPartitionEntry(layoutStorage.get(), std::to_string(k), record.Layout); ++k) {
  }
  return true;
}

// Records are numbered without gaps when we write them; a file whose numbering has one ends
// the list there, since the position in the list is what PHYSIndex refers to.
void ReadDeviceList(TStructuredSTorage& own, const std::string& listName, TDeviceInfoArray& list) {
  auto listStorage = OpenIfPresent(&own, listName);
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
