#include "storage/KSI_Storage.h"

#include <cstdio>

#include "common/Kyvex_Routines.h"
#include "platform/DeviceApi.h"
#include "platform/Text.h"
#include "storage/KSI_Storage_Fields.h"

namespace kyvex {

namespace {

std::string Cleaned(const std::string& s) { return StripBlanks(s); }

bool SameText(const std::string& a, const std::string& b) {
  return text::EqualsIgnoreAsciiCase(Cleaned(a), Cleaned(b));
}

bool SameAddress(const TDeviceInfo& a, const TDeviceInfo& b) {
  return a.LocationAvailable && b.LocationAvailable && a.HaId == b.HaId && a.Target == b.Target && a.Lun == b.Lun;
}

void CloseDevice(Handle h) {
  if (h != platform::kInvalidHandle) platform::Current().Devices().CloseHandle(h);
}

// The system's own names of the device behind `path` into the record (left empty where the
// platform has none).
void TakeSystemNames(const std::string& path, TDeviceInfo& record) {
  platform::DeviceNames names;
  if (!platform::Current().Devices().QueryDeviceNames(path, names)) return;
  // Mount points and file-system names come from the mount table, where any bytes may stand.
  record.DevicePath = text::Sanitize(names.device);
  record.MountPoints.clear();
  for (const std::string& mount : names.mountPoints) record.MountPoints.push_back(text::Sanitize(mount));
  record.FileSystem = text::Sanitize(names.fileSystem);
}

}  // namespace

void ClearDeviceList(TDeviceInfoArray& List) {
  for (auto& record : List) {
    record.Layout.clear();
    record.SMARTAttributes.clear();
  }
  List.clear();
}

void MergeDeviceInfo(TDeviceInfo& Target, const TDeviceInfo& Source) {
  if (!Target.Removable) Target.Removable = Source.Removable;
  if (Target.DeviceType == kDeviceTypeUnknown) Target.DeviceType = Source.DeviceType;
  if (text::Trim(Target.SerialNumber).empty()) Target.SerialNumber = Source.SerialNumber;
  if (!Target.LocationAvailable) {
    Target.HaId = Source.HaId;
    Target.PathID = Source.PathID;
    Target.Target = Source.Target;
    Target.Lun = Source.Lun;
    Target.LocationAvailable = Source.LocationAvailable;
  }
  if (!Target.ExtraInfoAvailable) {
    Target.CtlBufSize = Source.CtlBufSize;
    Target.ECCCode = Source.ECCCode;
    Target.ATAVersion = Source.ATAVersion;
    Target.SMARTSupport = Source.SMARTSupport;
    Target.SMARTActive = Source.SMARTActive;
    Target.ExtraInfoAvailable = Source.ExtraInfoAvailable;
  }
  if (Target.SMARTAttributes.empty() && !Target.Health.Available) {
    Target.Temperature = Source.Temperature;
    Target.SMARTAttributes = Source.SMARTAttributes;
  }
  if (!Target.Health.Available) Target.Health = Source.Health;
  if (!Target.Power.Available) Target.Power = Source.Power;
  FillEmptyFields(Target, Source, [](auto& record, auto&& visitor) { VisitDeviceFields(record, visitor); });
}

bool DevicesMatch(const TDeviceInfo& A, const TDeviceInfo& B, bool BySerialToo) {
  // Where both locations are known they decide alone: two disks of one model (a server's
  // pair, every virtio disk of a VM) must not take each other's drives and serial numbers.
  if (A.LocationAvailable && B.LocationAvailable) return SameAddress(A, B);
  return SameText(A.Model, B.Model) && (!BySerialToo || SameText(A.SerialNumber, B.SerialNumber));
}

TKyvex_Storage::~TKyvex_Storage() {
  ClearDeviceList(FPhysicalDevices);
  ClearDeviceList(FLogicalDevices);
}

void TKyvex_Storage::GetPhysicalDevice(std::int32_t Index, TDeviceInfo& Info) const {
  ResetDeviceInfo(Info);
  if (Index >= 0 && Index < PhysicalCount()) Info = FPhysicalDevices[static_cast<std::size_t>(Index)];
}

void TKyvex_Storage::GetLogicalDevice(std::int32_t Index, TDeviceInfo& Info) const {
  ResetDeviceInfo(Info);
  if (Index >= 0 && Index < LogicalCount()) Info = FLogicalDevices[static_cast<std::size_t>(Index)];
}

void TKyvex_Storage::CollectData() {
  TKyvex_KSIC_Component::CollectData();
  ClearDeviceList(FPhysicalDevices);
  ClearDeviceList(FLogicalDevices);

  if (!IsNTFamily()) {
    CollectWin9x();
    return;
  }

  CollectLogicalDrives();
  CollectDevicePaths("\\\\.\\PhysicalDrive%u", 0);
  CollectDevicePaths("\\\\.\\Cdrom%u", kDeviceTypeCdRom);
  CollectDevicePaths("\\\\.\\Tape%u", kDeviceTypeTape);

  TDeviceInfo probe;
  // The miniport answers for controllers whose disks have no device paths of their own.
  if (FPhysicalDevices.empty())
    for (unsigned k = 0; k < 256; ++k)
      if (IdentifyBySCSIMiniport(static_cast<std::uint8_t>(k), probe)) MatchMergeOrAppend(probe);

  for (unsigned k = 0; k < 256; ++k)
    if (IdentifyBySMART(static_cast<std::uint8_t>(k), probe) && !Cleaned(probe.Model).empty()) {
      TakeSystemNames("\\\\.\\PhysicalDrive" + std::to_string(k), probe);
      MatchMergeOrAppend(probe);
    }

  LinkLogicalDrives();
}

void TKyvex_Storage::CollectWin9x() {
  TDeviceInfo probe;
  for (unsigned index = 0; index < 10; ++index) {
    const auto i = static_cast<std::uint8_t>(index);
    if (IdentifyByPorts(i, probe) || IdentifyBySMARTVSD(i, probe)) FPhysicalDevices.push_back(probe);
  }
}

void TKyvex_Storage::CollectLogicalDrives() {
  auto& devices = platform::Current().Devices();
  const std::string letters = GetDriveLetters();
  TDeviceInfo probe;
  for (std::size_t i = 0; i < letters.size(); ++i) {
    const char letter = letters[i];
    const auto position = static_cast<std::uint8_t>(i + 1);
    const std::string path = std::string("\\\\.\\") + letter + ":";

    const Handle h = OpenDevice(path);
    const bool inquired = InquireBySCSIPassThrough(h, position, probe);
    TDiskLayout diskLayout;  // the partitions of the disk that holds the volume
    GetDriveLayout(h, diskLayout);
    TVolumeDiskExtent extent;
    const bool extentKnown = GetVolumeDiskExtents(h, extent) && extent.NumberOfDiskExtents > 0;
    CloseDevice(h);

    const bool queried = QueryStorageProperty(path, position, probe);
    probe.Drive = letter;
    probe.Device = static_cast<unsigned char>(letter);
    probe.Removable = false;
    if (probe.DeviceType == 0) {
      switch (devices.GetDriveType(std::string(1, letter) + ":\\")) {
        case platform::devio::kDriveRemovable:
          probe.DeviceType = kDeviceTypeDisk;
          probe.Removable = true;
          break;
        case platform::devio::kDriveFixed:
          probe.DeviceType = kDeviceTypeDisk;
          break;
        case platform::devio::kDriveCdrom:
          probe.DeviceType = kDeviceTypeCdRom;
          break;
        default:
          probe.DeviceType = kDeviceTypeUnknown;
      }
    }
    // The volume's own partition: the one that starts where the volume's first extent does.
    // Without a known extent there is nothing to compare with.
    if (extentKnown)
      for (const auto& entry : diskLayout)
        if (entry.StartingOffset == extent.StartingOffset) {
          probe.Layout.push_back(entry);
          break;
        }
    if ((inquired || queried) && !probe.Model.empty()) {
      TakeSystemNames(path, probe);
      FLogicalDevices.push_back(probe);
    }
  }
}

void TKyvex_Storage::CollectDevicePaths(const char* Format, std::uint32_t DefaultType) {
  TDeviceInfo probe;
  for (unsigned n = 0; n < 256; ++n) {
    char path[40];
    std::snprintf(path, sizeof path, Format, n);
    const auto index = static_cast<std::uint8_t>(n);
    const Handle h = OpenDevice(path);
    const bool inquired = InquireBySCSIPassThrough(h, index, probe);
    const bool queried = QueryStorageProperty(path, index, probe);
    // An NVMe disk answers no ATA command: its identity and health come from its own pages.
    if (queried && probe.BusType == platform::devio::kBusNvme) ReadNvmeData(h, probe);
    CloseDevice(h);
    if (!inquired && !queried) continue;
    if (probe.DeviceType == 0) probe.DeviceType = DefaultType;
    TakeSystemNames(path, probe);
    FPhysicalDevices.push_back(probe);
  }
}

void TKyvex_Storage::MatchMergeOrAppend(const TDeviceInfo& Probe) {
  for (auto& record : FPhysicalDevices) {
    if (!DevicesMatch(record, Probe, true)) continue;
    // A drive read behind its bridge: the record made from the bridge's answers takes the
    // drive's identity, identify data and SMART values, and keeps the bridge's name beside.
    if (!Probe.Bridge.empty()) {
      record.Vendor = Probe.Vendor;
      record.Model = Probe.Model;
      record.Revision = Probe.Revision;
      record.SerialNumber = Probe.SerialNumber;
      record.ExtraInfoAvailable = false;
      record.SMARTAttributes.clear();
    }
    if (Probe.ExtraInfoAvailable || Probe.LocationAvailable) MergeDeviceInfo(record, Probe);
    return;
  }
  FPhysicalDevices.push_back(Probe);
}

void TKyvex_Storage::LinkLogicalDrives() {
  // By location or model: each physical record takes the first unlinked drive that matches.
  for (std::size_t j = 0; j < FPhysicalDevices.size(); ++j)
    for (auto& logical : FLogicalDevices) {
      if (logical.PHYSIndex != -1 || !DevicesMatch(FPhysicalDevices[j], logical, false)) continue;
      logical.PHYSIndex = static_cast<std::int32_t>(j);
      MergeDeviceInfo(FPhysicalDevices[j], logical);
      break;
    }

  // By partition: the volume's partition found in a physical record's layout.
  for (auto& logical : FLogicalDevices) {
    if (logical.PHYSIndex != -1 || logical.Layout.empty()) continue;
    const TPartitionInfo& own = logical.Layout.front();
    // Every disk that holds the partition is merged and the last one keeps the link (a mirror
    // lies on all of them); but identical disks carry identical partition tables, so a disk
    // known to sit elsewhere than the volume is not a holder.
    for (std::size_t j = 0; j < FPhysicalDevices.size(); ++j) {
      const TDeviceInfo& physical = FPhysicalDevices[j];
      if (physical.LocationAvailable && logical.LocationAvailable && !SameAddress(physical, logical)) continue;
      for (const auto& entry : FPhysicalDevices[j].Layout)
        if (entry.StartingOffset == own.StartingOffset && entry.Length == own.Length && entry.Typ == own.Typ) {
          logical.PHYSIndex = static_cast<std::int32_t>(j);
          MergeDeviceInfo(FPhysicalDevices[j], logical);
          break;
        }
    }
  }

  // Whatever is left links to any matching device, or becomes a physical record of its own.
  for (auto& logical : FLogicalDevices) {
    if (logical.PHYSIndex != -1) continue;
    for (std::size_t j = 0; j < FPhysicalDevices.size(); ++j)
      if (DevicesMatch(FPhysicalDevices[j], logical, false)) {
        logical.PHYSIndex = static_cast<std::int32_t>(j);
        break;
      }
    if (logical.PHYSIndex != -1) continue;
    FPhysicalDevices.push_back(logical);
    logical.PHYSIndex = static_cast<std::int32_t>(FPhysicalDevices.size() - 1);
  }
}

}  // namespace kyvex
