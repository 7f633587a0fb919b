// Every value of a storage device record and of a partition entry, listed once: the save, the
// load, the JSON and the plain text rows walk these lists. The stored values come in the order
// they are written, which fixes the property ids a file gets; values the file does not hold
// may stand anywhere among them.
#pragma once

#include <string>

#include "common/KSI_Fields.h"
#include "storage/KSI_Storage_Text.h"
#include "storage/Kyvex_WinIOCTL.h"

namespace kyvex {

inline constexpr std::uint16_t kDeviceTextLimit = 255;

template <class Record, class Visitor>
void VisitDeviceFields(Record& d, Visitor&& v) {
  constexpr std::uint16_t kText = kDeviceTextLimit;
  auto named = [](const char* name, std::string (*text)(std::uint64_t), const char* label, bool omitEmpty) {
    return TField{.Name = name, .Text = text, .Json = TJsonStyle::Text, .TextSuffix = "Name", .Label = label,
                  .OmitEmpty = omitEmpty, .RowWithCode = true};
  };
  v(TField{.Name = "Drive"}, d.Drive);
  // The system's own names are shown beside the layout's values and never saved.
  v(TField{.Name = "DevicePath", .Stored = kNotStored, .Label = "Device path", .OmitEmpty = true}, d.DevicePath);
  v(TField{.Name = "MountPoints", .Stored = kNotStored, .Label = "Mounted on", .OmitEmpty = true}, d.MountPoints);
  v(TField{.Name = "FileSystem", .Stored = kNotStored, .Label = "File system", .OmitEmpty = true}, d.FileSystem);
  v(TField{.Name = "Standby", .Stored = kNotStored, .Label = "In standby (not woken)", .OmitEmpty = true,
           .MergeFill = true},
    d.Standby);
  v(TField{.Name = "Bridge", .Stored = kNotStored, .Label = "Bridge", .OmitEmpty = true, .MergeFill = true}, d.Bridge);
  v(TField{.Name = "Vendor", .MaxText = kText, .Label = "Vendor", .OmitEmpty = true}, d.Vendor);
  v(TField{.Name = "Model", .MaxText = kText, .Label = "Model", .OmitEmpty = true}, d.Model);
  v(TField{.Name = "Revision", .MaxText = kText, .Label = "Revision", .OmitEmpty = true}, d.Revision);
  v(TField{.Name = "VendorStr", .MaxText = kText, .Label = "Vendor text", .OmitEmpty = true}, d.VendorStr);
  v(TField{.Name = "SerialNumber", .MaxText = kText, .Label = "Serial number", .OmitEmpty = true}, d.SerialNumber);
  v(named("DeviceType", StorageDeviceTypeText, "Device type", false), d.DeviceType);
  v(named("MediaType", StorageMediaTypeText, "Media", true), d.MediaType);
  v(named("BusType", StorageBusTypeText, "Bus", false), d.BusType);
  v(TField{.Name = "Removable", .Label = "Removable"}, d.Removable);
  v(TField{.Name = "Device"}, d.Device);
  v(TField{.Name = "PHYSIndex"}, d.PHYSIndex);
  v(TField{.Name = "HaId"}, d.HaId);
  v(TField{.Name = "Target"}, d.Target);
  v(TField{.Name = "Lun"}, d.Lun);
  v(TField{.Name = "PathID"}, d.PathID);
  v(TField{.Name = "Size"}, d.Size);
  v(TField{.Name = "Cylinders"}, d.Cylinders);
  v(TField{.Name = "Heads"}, d.Heads);
  v(TField{.Name = "BytesPerSector"}, d.BytesPerSector);
  v(TField{.Name = "BytesPerTrack"}, d.BytesPerTrack);
  v(TField{.Name = "SectorsPerTrack"}, d.SectorsPerTrack);
  v(TField{.Name = "CtlBufSize"}, d.CtlBufSize);
  v(TField{.Name = "ECCCode"}, d.ECCCode);
  v(TField{.Name = "ATAVersion"}, d.ATAVersion);
  v(TField{.Name = "Temperature"}, d.Temperature);
  v(TField{.Name = "SMARTSupport"}, d.SMARTSupport);
  v(TField{.Name = "SMARTActive"}, d.SMARTActive);
  v(TField{.Name = "Read_CDR"}, d.Read_CDR);
  v(TField{.Name = "Read_CDRW"}, d.Read_CDRW);
  v(TField{.Name = "Write_CDR"}, d.Write_CDR);
  v(TField{.Name = "Write_CDRW"}, d.Write_CDRW);
  v(TField{.Name = "Read_DVDROM"}, d.Read_DVDROM);
  v(TField{.Name = "Read_DVDR"}, d.Read_DVDR);
  v(TField{.Name = "Read_DVDRAM"}, d.Read_DVDRAM);
  v(TField{.Name = "Write_DVDR"}, d.Write_DVDR);
  v(TField{.Name = "Write_DVDRAM"}, d.Write_DVDRAM);
  v(TField{.Name = "Geometry.Cylinders"}, d.Geometry.Cylinders);
  v(TField{.Name = "Geometry.MediaType", .Stored = kNotStored}, d.Geometry.MediaType);
  v(TField{.Name = "Geometry.TracksPerCylinder"}, d.Geometry.TracksPerCylinder);
  v(TField{.Name = "Geometry.SectorsPerTrack"}, d.Geometry.SectorsPerTrack);
  // The plural "s" is part of the stored name: files already written carry it.
  v(TField{.Name = "Geometry.BytesPerSector", .Stored = "Geometry.BytesPerSectors"}, d.Geometry.BytesPerSector);
  v(TField{.Name = "LocationAvailable", .Stored = "_LocationAvailable"}, d.LocationAvailable);
  v(TField{.Name = "ExtraInfoAvailable", .Stored = "_ExtraInfoAvailable"}, d.ExtraInfoAvailable);
}

template <class Entry, class Visitor>
void VisitPartitionFields(Entry& p, Visitor&& v) {
  v(TField{.Name = "StartingOffset"}, p.StartingOffset);
  v(TField{.Name = "Length"}, p.Length);
  v(TField{.Name = "HiddenSectors"}, p.HiddenSectors);
  v(TField{.Name = "Number"}, p.Number);
  v(TField{.Name = "Typ", .Text = StoragePartitionTypeText, .Json = TJsonStyle::Text, .TextSuffix = "Name"}, p.Typ);
  v(TField{.Name = "BootIndicator"}, p.BootIndicator);
  v(TField{.Name = "Recognized"}, p.Recognized);
  v(TField{.Name = "Rewrite"}, p.Rewrite);
}

}  // namespace kyvex
