// The storage-device component: physical disks, optical and tape drives, drive letters. A
// refresh probes every route the platform offers, keeps one record per physical device and
// per logical drive, merges what different routes learnt about the same device and links
// each drive letter to the physical device that holds it.
#pragma once

#include <cstdint>

#include "common/KSI_Common.h"
#include "storage/Kyvex_WinIOCTL.h"

namespace kyvex {

using TDeviceInfoArray = std::vector<TDeviceInfo>;

class TKyvex_Storage : public TKyvex_KSIC_Component {
 public:
  using TKyvex_KSIC_Component::TKyvex_KSIC_Component;
  ~TKyvex_Storage() override;

  void CollectData() override;
  // Writes both lists below the file's "Storage" element, replacing what an earlier save put
  // there; the other components' storages in the file are left as they are.
  void SaveToStorageFile(const std::string& FileName) override;
  // Replaces both lists by what the file holds. True when the file held this component's
  // data, even when both lists were saved empty; false for a file that is not a storage file
  // or holds nothing of this component (both lists are then empty).
  bool LoadFromStorageFile(const std::string& FileName) override;

  std::int32_t PhysicalCount() const { return static_cast<std::int32_t>(FPhysicalDevices.size()); }
  std::int32_t LogicalCount() const { return static_cast<std::int32_t>(FLogicalDevices.size()); }

  // A copy of physical record `Index`, or a reset record when there is none at that index.
  void GetPhysicalDevice(std::int32_t Index, TDeviceInfo& Info) const;
  // The same for the logical drives.
  void GetLogicalDevice(std::int32_t Index, TDeviceInfo& Info) const;

  const TDeviceInfoArray& PhysicalDevices() const { return FPhysicalDevices; }
  const TDeviceInfoArray& LogicalDevices() const { return FLogicalDevices; }

 protected:
  TDeviceInfoArray FPhysicalDevices;
  TDeviceInfoArray FLogicalDevices;

 private:
  void CollectWin9x();
  void CollectLogicalDrives();
  void CollectDevicePaths(const char* Format, std::uint32_t DefaultType);
  void MatchMergeOrAppend(const TDeviceInfo& Probe);
  void LinkLogicalDrives();
};

// Releases every record's nested lists and empties the list.
void ClearDeviceList(TDeviceInfoArray& List);

// Fills the empty parts of `Target` from `Source`: removable flag, unknown device type,
// serial number, location, identify-data group and SMART data, and every value the record's
// field list marks MergeFill.
void MergeDeviceInfo(TDeviceInfo& Target, const TDeviceInfo& Source);

// Whether two records describe the same device: when both know their location, the same SCSI
// address (host adapter, target, logical unit) and nothing else; otherwise the same model text
// (and serial number when `BySerialToo`), compared without blanks and without regard to the
// case of ASCII letters.
bool DevicesMatch(const TDeviceInfo& A, const TDeviceInfo& B, bool BySerialToo);

}  // namespace kyvex
