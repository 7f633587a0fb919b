// The storage device record and the routines that fill it from the hardware: device paths
// opened and sent I/O control requests on the NT family, the SMART driver and the ATA
// controller's ports on the Windows 9x family. Probing never raises: every routine reports
// through its result and leaves what it could not learn empty.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/DeviceBlocks.h"
#include "platform/Platform.h"

namespace kyvex {

using platform::Handle;

// The disk geometry reply and one entry of the partition layout, kept as they arrive: the
// records are the device blocks themselves, decoded where the platform's codec reads them.
using TDiskGeometry = platform::devio::DiskGeometry;
using TPartitionInfo = platform::devio::PartitionInfo;
using TDiskLayout = std::vector<TPartitionInfo>;

// One SMART attribute entry, the 12 bytes kept as the device sent them.
struct TSMARTAttribute {
  std::array<std::uint8_t, 12> Bytes{};

  std::uint8_t Id() const { return Bytes[0]; }
  std::uint16_t Flags() const { return static_cast<std::uint16_t>(Bytes[1] | (Bytes[2] << 8)); }
  std::uint8_t Current() const { return Bytes[3]; }
  std::uint8_t Worst() const { return Bytes[4]; }
  // The six raw bytes, lowest first.
  std::uint64_t Raw() const;

  bool operator==(const TSMARTAttribute&) const = default;
};
using TSMARTAttributes = std::vector<TSMARTAttribute>;

// The health values of an NVMe disk's SMART / Health Information log page (02h); shown,
// never saved. The counters are the log's 128-bit values, held as far as 64 bits reach.
struct TNvmeHealth {
  bool Available = false;  // the log page was read
  std::uint8_t CriticalWarning = 0;  // bits: spare, temperature, reliability, read-only, backup
  std::uint8_t AvailableSpare = 0;   // percent
  std::uint8_t AvailableSpareThreshold = 0;
  std::uint8_t PercentageUsed = 0;   // may exceed 100
  std::uint64_t PowerOnHours = 0;
  std::uint64_t UnsafeShutdowns = 0;
  std::uint64_t MediaErrors = 0;
  bool operator==(const TNvmeHealth&) const = default;
};

// The power state an NVMe controller is in (Get Features, Power Management) and what the
// controller's descriptor of that state says of it; shown, never saved.
struct TNvmePowerState {
  bool Available = false;       // the state and its descriptor were read
  std::uint8_t State = 0;       // the current power state
  std::uint8_t StateCount = 0;  // the states the controller has
  bool NonOperational = false;  // the state processes no I/O commands
  std::uint32_t MaxPowerMicrowatts = 0;  // the state's maximum power; 0 when not given
  bool operator==(const TNvmePowerState&) const = default;
};

// Device type codes the routines assign themselves; other values come from the platform.
constexpr std::uint32_t kDeviceTypeCdRom = 2;
constexpr std::uint32_t kDeviceTypeDisk = 7;
constexpr std::uint32_t kDeviceTypeTape = 31;
constexpr std::uint32_t kDeviceTypeUnknown = 34;

// One physical storage device or one logical drive. A value: copies carry their own lists.
// Texts hold at most 255 bytes, cut at a character boundary.
struct TDeviceInfo {
  std::uint32_t Device = 0;
  char Drive = 0;
  std::int32_t PHYSIndex = 0;
  std::string SerialNumber;
  std::string Model;
  std::string Vendor;
  std::string Revision;
  std::string VendorStr;
  bool LocationAvailable = false;
  std::uint8_t HaId = 0;
  std::uint8_t Target = 0;
  std::uint8_t Lun = 0;
  std::uint8_t PathID = 0;
  std::uint32_t DeviceType = 0;
  std::uint32_t MediaType = 0;
  std::uint32_t BusType = 0;
  bool Removable = false;
  std::int64_t Size = 0;
  std::int32_t Cylinders = 0;
  std::int32_t Heads = 0;
  std::int32_t BytesPerSector = 0;
  std::int32_t BytesPerTrack = 0;
  std::int32_t SectorsPerTrack = 0;
  bool ExtraInfoAvailable = false;
  std::uint32_t CtlBufSize = 0;
  std::uint32_t ECCCode = 0;
  std::int32_t ATAVersion = 0;
  bool SMARTSupport = false;
  bool SMARTActive = false;
  TDiskLayout Layout;
  TDiskGeometry Geometry;
  TSMARTAttributes SMARTAttributes;
  std::uint8_t Temperature = 0;
  bool Read_CDR = false;
  bool Read_CDRW = false;
  bool Write_CDR = false;
  bool Write_CDRW = false;
  bool Read_DVDROM = false;
  bool Read_DVDR = false;
  bool Read_DVDRAM = false;
  bool Write_DVDR = false;
  bool Write_DVDRAM = false;
  // The system's own names: the device node or path ("/dev/sda", "\\.\PhysicalDrive0"); for
  // a drive, where its file system is mounted and its type. Shown, never saved.
  std::string DevicePath;
  std::vector<std::string> MountPoints;
  std::string FileSystem;
  // An NVMe disk's health log and power state; shown, never saved.
  TNvmeHealth Health;
  TNvmePowerState Power;
  // The disk was asleep (standby) and was not woken: the record holds only what the system
  // knew without asking the disk. Shown, never saved.
  bool Standby = false;
  // For an ATA drive reached behind a SCSI interface (a USB enclosure, a SAS adapter): the
  // bridge's own name, while the record carries the drive's. Shown, never saved.
  std::string Bridge;

  bool operator==(const TDeviceInfo&) const = default;
};

// Empties a record: every number 0, every text empty, every flag false, both lists empty.
void ResetDeviceInfo(TDeviceInfo& Info);

// The first extent of a volume, as the volume-extents reply begins.
struct TVolumeDiskExtent {
  std::uint32_t NumberOfDiskExtents = 0;
  std::uint32_t DiskNumber = 0;
  std::int64_t StartingOffset = 0;
  std::int64_t ExtentLength = 0;
};

Handle OpenDevice(const std::string& Path);
void ParseIdentifyData(std::span<std::uint8_t, 512> Block, bool Swap, TDeviceInfo& Info);
bool IdentifyBySMART(std::uint8_t DriveIndex, TDeviceInfo& Info);
bool IdentifyBySCSIMiniport(std::uint8_t Index, TDeviceInfo& Info);
bool InquireBySCSIPassThrough(Handle Device, std::uint8_t Index, TDeviceInfo& Info);
bool QueryStorageProperty(const std::string& Path, std::uint8_t Index, TDeviceInfo& Info);
bool IdentifyBySMARTVSD(std::uint8_t DriveIndex, TDeviceInfo& Info);
bool IdentifyByPorts(std::uint8_t DriveIndex, TDeviceInfo& Info);
// Reads the SMART values, unless the device says it is asleep: then Info.Standby is set and
// the device is left asleep.
bool ReadSMARTAttributes(Handle Device, TDeviceInfo& Info);
// The power mode, asked in ways that never wake a disk: CHECK POWER MODE through ATA
// PASS-THROUGH in the 16-byte form, then, for a `Disk`'s handle only, the 12-byte one (BLANK
// to an optical drive); then through the ATA port driver's own pass-through request (drivers
// that translate neither form); and for a disk that takes no ATA command at all (a SCSI or
// SAS disk), the power condition REQUEST SENSE reports.
enum class TPowerMode { Unknown, Standby, Awake };
TPowerMode CheckPowerMode(Handle Device, bool Disk);
// An ATA drive behind a SCSI interface, as `smartctl -d sat` reaches it: IDENTIFY DEVICE and
// the SMART values through ATA PASS-THROUGH(16), or (12) where the bridge takes only that.
bool IdentifyBySAT(Handle Device, TDeviceInfo& Info);
// An NVMe disk through the storage driver's protocol-specific query: Identify Controller
// (model, serial number, firmware, the power state descriptors), the Power Management
// feature (Power), Identify Namespace (size) and the health log (SMART state, temperature,
// Health). False when the identify data could not be had; the record keeps what it held
// then. A controller in a non-operational power state is asked the same: admin commands
// are served in every power state, and smartctl skips none of them either.
bool ReadNvmeData(Handle Device, TDeviceInfo& Info);
// The pages' decoders, each reading only what lies inside the page it is given.
bool ParseNvmeIdentifyController(std::span<const std::uint8_t> Page, TDeviceInfo& Info);
// The namespace's size in bytes (its blocks times the block size of its format); 0 when
// the page does not tell.
std::int64_t NvmeNamespaceBytes(std::span<const std::uint8_t> Page);
bool ParseNvmeHealthLog(std::span<const std::uint8_t> Page, TDeviceInfo& Info);
// The power state from the Power Management feature's value (`Feature`, its low five bits)
// and that state's descriptor in the Identify Controller page; false, and Info.Power left
// alone, when the page does not describe the state.
bool ParseNvmePowerState(std::span<const std::uint8_t> IdentifyController, std::uint32_t Feature, TDeviceInfo& Info);
void GetMediaTypes(Handle Device, TDeviceInfo& Info);
std::string GetMediaSerialNumber(Handle Device);
bool GetSCSIAddress(Handle Device, TDeviceInfo& Info);
bool GetDriveGeometry(Handle Device, TDiskGeometry& Geometry);
bool GetDriveLayout(Handle Device, TDiskLayout& Layout);
bool GetVolumeDiskExtents(Handle Device, TVolumeDiskExtent& Extent);
std::string DecodeSerialNumberHex(const std::string& Text);
std::string GetDriveLetters();
bool ReadPort(std::uint16_t Port, void* Buffer, std::uint8_t Size);
bool WritePort(std::uint16_t Port, std::uint32_t Value, std::uint8_t Size);

// The identify block the port and miniport routines read last.
const std::array<std::uint8_t, 512>& IdentifyBuffer();

// Whether the running platform takes the NT family's routes; Linux answers in their shapes.
bool IsNTFamily();

}  // namespace kyvex
