// The platform's services for device paths, device I/O control requests, drive letters and
// drive types, in the shapes of the Windows services the components were designed against,
// plus the privileged port access of the Windows 9x family.
//
// Request and reply blocks keep Windows' byte layouts (little-endian, with Windows' alignment;
// the one structure whose size follows the pointer width, SCSI_PASS_THROUGH, in the form of
// the running process). The helpers in `devio` read and write those layouts at their
// offsets, so the Linux layer and the fake build replies exactly as a Windows driver would.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ByteOrder.h"
#include "platform/Platform.h"

namespace kyvex::platform {

namespace devio {

// --- CreateFile and SetErrorMode ------------------------------------------------------------
constexpr std::uint32_t kGenericRead = 0x80000000;
constexpr std::uint32_t kGenericWrite = 0x40000000;
constexpr std::uint32_t kFileShareRead = 1;
constexpr std::uint32_t kFileShareWrite = 2;
constexpr std::uint32_t kOpenExisting = 3;
constexpr std::uint32_t kFileAttributeNormal = 0x80;
constexpr std::uint32_t kSemFailCriticalErrors = 1;

// --- GetDriveType answers (DRIVE_*) -----------------------------------------------------------
constexpr std::uint32_t kDriveUnknown = 0;
constexpr std::uint32_t kDriveNoRootDir = 1;
constexpr std::uint32_t kDriveRemovable = 2;
constexpr std::uint32_t kDriveFixed = 3;
constexpr std::uint32_t kDriveRemote = 4;
constexpr std::uint32_t kDriveCdrom = 5;
constexpr std::uint32_t kDriveRamdisk = 6;

// --- Error codes of device calls that Platform.h does not name ---------------------------------
constexpr std::uint32_t kErrorInvalidFunction = 1;
constexpr std::uint32_t kErrorNotReady = 21;
constexpr std::uint32_t kErrorSharingViolation = 32;
constexpr std::uint32_t kErrorMoreData = 234;
constexpr std::uint32_t kErrorIoDevice = 1117;

// --- Control codes --------------------------------------------------------------------------
constexpr std::uint32_t kSmartGetVersion = 0x00074080;
constexpr std::uint32_t kSmartRcvDriveData = 0x0007C088;
constexpr std::uint32_t kScsiMiniport = 0x0004D008;
constexpr std::uint32_t kScsiPassThrough = 0x0004D004;
constexpr std::uint32_t kScsiGetAddress = 0x00041018;
constexpr std::uint32_t kStorageQueryProperty = 0x002D1400;
constexpr std::uint32_t kStorageGetMediaTypesEx = 0x002D0C04;
constexpr std::uint32_t kStorageGetMediaSerialNumber = 0x002D0C10;
constexpr std::uint32_t kDiskGetDriveGeometry = 0x00070000;
constexpr std::uint32_t kDiskGetDriveLayout = 0x0007400C;
constexpr std::uint32_t kVolumeGetVolumeDiskExtents = 0x00560000;

// The access a control code demands of the handle (bits 14-15 of the code: 1 read, 2 write),
// as CreateFile's access rights. The I/O manager refuses a request whose handle lacks them.
inline std::uint32_t RequiredAccess(std::uint32_t code) {
  const std::uint32_t bits = (code >> 14) & 3;
  return ((bits & 1) ? kGenericRead : 0) | ((bits & 2) ? kGenericWrite : 0);
}

// --- Device and media type codes ----------------------------------------------------------------
constexpr std::uint32_t kFileDeviceCdRom = 0x02;
constexpr std::uint32_t kFileDeviceDisk = 0x07;
constexpr std::uint32_t kFileDeviceTape = 0x1F;
constexpr std::uint32_t kFileDeviceUnknown = 0x22;
constexpr std::uint32_t kFileDeviceDvd = 0x33;

constexpr std::uint32_t kMediaRemovable = 11;  // RemovableMedia
constexpr std::uint32_t kMediaFixed = 12;      // FixedMedia
constexpr std::uint32_t kMediaCdRom = 0x33;    // CD_ROM
constexpr std::uint32_t kMediaCdR = 0x34;
constexpr std::uint32_t kMediaCdRw = 0x35;
constexpr std::uint32_t kMediaDvdRom = 0x36;
constexpr std::uint32_t kMediaDvdR = 0x37;
constexpr std::uint32_t kMediaDvdRw = 0x38;

// STORAGE_BUS_TYPE
enum BusType : std::uint32_t {
  kBusUnknown = 0, kBusScsi = 1, kBusAtapi = 2, kBusAta = 3, kBus1394 = 4, kBusSsa = 5,
  kBusFibre = 6, kBusUsb = 7, kBusRaid = 8, kBusiScsi = 9, kBusSas = 10, kBusSata = 11,
  kBusSd = 12, kBusMmc = 13, kBusVirtual = 14, kBusFileBackedVirtual = 15, kBusSpaces = 16,
  kBusNvme = 17,
};

// SMART_GET_VERSION capabilities.
constexpr std::uint32_t kCapAtaIdCmd = 1;
constexpr std::uint32_t kCapAtapiIdCmd = 2;
constexpr std::uint32_t kCapSmartCmd = 4;

// The driver error byte of a SMART reply whose command the device refused (SMART_IDE_ERROR).
constexpr std::uint8_t kSmartIdeError = 1;

// --- Little-endian access ---------------------------------------------------------------------
using namespace bytes;  // Get16/32/64 and Put16/32/64

// --- Reply blocks, as the drivers fill them ------------------------------------------------------

// GETVERSIONINPARAMS (24 bytes).
inline std::vector<std::uint8_t> SmartVersionReply(std::uint8_t version, std::uint8_t revision,
                                                   std::uint8_t ideDeviceMap, std::uint32_t capabilities) {
  std::vector<std::uint8_t> r(24, 0);
  r[0] = version;
  r[1] = revision;
  r[3] = ideDeviceMap;
  Put32(&r[4], capabilities);
  return r;
}

// SENDCMDOUTPARAMS with its 512 data bytes (528 bytes).
inline std::vector<std::uint8_t> SendCmdOutReply(const std::uint8_t* data512, std::uint8_t driverError,
                                                 std::uint8_t ideError) {
  std::vector<std::uint8_t> r(528, 0);
  Put32(&r[0], 512);
  r[4] = driverError;
  r[5] = ideError;
  if (data512) std::memcpy(&r[16], data512, 512);
  return r;
}

// DISK_GEOMETRY (24 bytes).
struct Geometry {
  std::int64_t cylinders = 0;
  std::uint32_t mediaType = 0;
  std::uint32_t tracksPerCylinder = 0;
  std::uint32_t sectorsPerTrack = 0;
  std::uint32_t bytesPerSector = 0;
};
inline std::vector<std::uint8_t> GeometryReply(const Geometry& g) {
  std::vector<std::uint8_t> r(24, 0);
  Put64(&r[0], static_cast<std::uint64_t>(g.cylinders));
  Put32(&r[8], g.mediaType);
  Put32(&r[12], g.tracksPerCylinder);
  Put32(&r[16], g.sectorsPerTrack);
  Put32(&r[20], g.bytesPerSector);
  return r;
}

// One PARTITION_INFORMATION entry (32 bytes) of a DRIVE_LAYOUT_INFORMATION reply.
struct LayoutEntry {
  std::int64_t startingOffset = 0;
  std::int64_t length = 0;
  std::uint32_t hiddenSectors = 0;
  std::uint32_t number = 0;
  std::uint8_t type = 0;
  bool bootIndicator = false;
  bool recognized = false;
  bool rewrite = false;
};
inline std::vector<std::uint8_t> DriveLayoutReply(std::uint32_t signature, const std::vector<LayoutEntry>& entries) {
  std::vector<std::uint8_t> r(8 + 32 * entries.size(), 0);
  Put32(&r[0], static_cast<std::uint32_t>(entries.size()));
  Put32(&r[4], signature);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    std::uint8_t* e = &r[8 + 32 * i];
    Put64(e, static_cast<std::uint64_t>(entries[i].startingOffset));
    Put64(e + 8, static_cast<std::uint64_t>(entries[i].length));
    Put32(e + 16, entries[i].hiddenSectors);
    Put32(e + 20, entries[i].number);
    e[24] = entries[i].type;
    e[25] = entries[i].bootIndicator;
    e[26] = entries[i].recognized;
    e[27] = entries[i].rewrite;
  }
  return r;
}

// The partition types Windows recognises as holding a file system of its own
// (IsRecognizedPartition).
inline bool IsRecognizedPartition(std::uint8_t type) {
  const std::uint8_t plain = type & static_cast<std::uint8_t>(~0xC0);
  if ((type & 0x80) && (plain == 0x06 || plain == 0x07 || plain == 0x0B || plain == 0x0C)) return true;
  switch (type) {
    case 0x01: case 0x04: case 0x06: case 0x07: case 0x0B: case 0x0C: case 0x0E:
      return true;
    default:
      return false;
  }
}

// STORAGE_DEVICE_DESCRIPTOR: the fixed part (36 bytes) followed by the texts it points at.
struct DeviceDescriptor {
  std::uint8_t deviceType = 0;  // SCSI peripheral device type
  std::uint8_t deviceTypeModifier = 0;
  bool removableMedia = false;
  bool commandQueueing = false;
  std::optional<std::string> vendor, product, revision, serialNumber;
  std::uint32_t busType = kBusUnknown;
};
inline std::vector<std::uint8_t> DeviceDescriptorReply(const DeviceDescriptor& d) {
  std::vector<std::uint8_t> r(36, 0);
  r[8] = d.deviceType;
  r[9] = d.deviceTypeModifier;
  r[10] = d.removableMedia;
  r[11] = d.commandQueueing;
  auto text = [&r](std::size_t field, const std::optional<std::string>& s) {
    if (!s) return;
    Put32(&r[field], static_cast<std::uint32_t>(r.size()));
    r.insert(r.end(), s->begin(), s->end());
    r.push_back(0);
  };
  text(12, d.vendor);
  text(16, d.product);
  text(20, d.revision);
  text(24, d.serialNumber);
  Put32(&r[28], d.busType);
  Put32(&r[0], 36);  // Version: the size of the fixed part
  Put32(&r[4], static_cast<std::uint32_t>(r.size()));
  return r;
}

// GET_MEDIA_TYPES with DEVICE_MEDIA_INFO entries of 32 bytes: a disk entry (DiskInfo) or a
// tape entry (TapeInfo).
struct MediaInfo {
  bool tape = false;
  std::uint32_t mediaType = 0;
  // DiskInfo
  std::int64_t cylinders = 0;
  std::uint32_t tracksPerCylinder = 0, sectorsPerTrack = 0, bytesPerSector = 0;
  std::uint32_t numberMediaSides = 1;
  std::uint32_t characteristics = 0;
  // TapeInfo
  std::uint32_t currentBlockSize = 0;
  std::uint32_t busType = kBusUnknown;
};
inline std::vector<std::uint8_t> MediaTypesReply(std::uint32_t deviceType, const std::vector<MediaInfo>& media) {
  std::vector<std::uint8_t> r(8 + 32 * media.size(), 0);
  Put32(&r[0], deviceType);
  Put32(&r[4], static_cast<std::uint32_t>(media.size()));
  for (std::size_t i = 0; i < media.size(); ++i) {
    std::uint8_t* e = &r[8 + 32 * i];
    const MediaInfo& m = media[i];
    if (m.tape) {
      Put32(e, m.mediaType);
      Put32(e + 4, m.characteristics);
      Put32(e + 8, m.currentBlockSize);
      Put32(e + 12, m.busType);
    } else {
      Put64(e, static_cast<std::uint64_t>(m.cylinders));
      Put32(e + 8, m.mediaType);
      Put32(e + 12, m.tracksPerCylinder);
      Put32(e + 16, m.sectorsPerTrack);
      Put32(e + 20, m.bytesPerSector);
      Put32(e + 24, m.numberMediaSides);
      Put32(e + 28, m.characteristics);
    }
  }
  return r;
}

// MEDIA_SERIAL_NUMBER_DATA: length, result, reserved, then the text.
inline std::vector<std::uint8_t> MediaSerialNumberReply(std::string_view serial) {
  std::vector<std::uint8_t> r(16, 0);
  Put32(&r[0], static_cast<std::uint32_t>(serial.size()));
  r.insert(r.end(), serial.begin(), serial.end());
  r.push_back(0);
  return r;
}

// SCSI_ADDRESS (8 bytes).
inline std::vector<std::uint8_t> ScsiAddressReply(std::uint8_t port, std::uint8_t path, std::uint8_t target,
                                                  std::uint8_t lun) {
  std::vector<std::uint8_t> r(8, 0);
  Put32(&r[0], 8);
  r[4] = port;
  r[5] = path;
  r[6] = target;
  r[7] = lun;
  return r;
}

// VOLUME_DISK_EXTENTS: a count, then 24-byte DISK_EXTENT entries from byte 8.
struct DiskExtent {
  std::uint32_t diskNumber = 0;
  std::int64_t startingOffset = 0;
  std::int64_t length = 0;
};
inline std::vector<std::uint8_t> VolumeDiskExtentsReply(const std::vector<DiskExtent>& extents) {
  std::vector<std::uint8_t> r(8 + 24 * std::max<std::size_t>(extents.size(), 1), 0);
  Put32(&r[0], static_cast<std::uint32_t>(extents.size()));
  for (std::size_t i = 0; i < extents.size(); ++i) {
    std::uint8_t* e = &r[8 + 24 * i];
    Put32(e, extents[i].diskNumber);
    Put64(e + 8, static_cast<std::uint64_t>(extents[i].startingOffset));
    Put64(e + 16, static_cast<std::uint64_t>(extents[i].length));
  }
  return r;
}

// --- SCSI_PASS_THROUGH ------------------------------------------------------------------------
// Its DataBufferOffset is a ULONG_PTR, so the header has two forms: 44 bytes in a 32-bit
// process, 56 in a 64-bit one (the field widened to 8 bytes and aligned, the later fields
// moved). A driver takes only the form of the calling process; the fields before
// DataBufferOffset sit at the same offsets in both.
struct PassThroughForm {
  std::uint32_t length;  // sizeof(SCSI_PASS_THROUGH), also the value of its Length field
  std::uint32_t dataBufferOffsetAt;
  std::uint32_t senseInfoOffsetAt;
  std::uint32_t cdbAt;
  bool operator==(const PassThroughForm&) const = default;
};
constexpr PassThroughForm kPassThrough32{44, 20, 24, 28};
constexpr PassThroughForm kPassThrough64{56, 24, 32, 36};
// The form this process sends and its drivers take.
constexpr PassThroughForm kNativePassThrough = sizeof(void*) == 8 ? kPassThrough64 : kPassThrough32;

struct PassThroughRequest {
  std::uint8_t scsiStatus = 0, pathId = 0, targetId = 0, lun = 0;
  std::uint8_t cdbLength = 0, senseInfoLength = 0, dataIn = 0;
  std::uint32_t dataTransferLength = 0, timeOutValue = 0, dataBufferOffset = 0, senseInfoOffset = 0;
  std::array<std::uint8_t, 16> cdb{};
};

// Writes the header of `r` in `form` at the start of `block` (form.length bytes).
inline void WritePassThrough(const PassThroughRequest& r, std::uint8_t* block,
                             const PassThroughForm& form = kNativePassThrough) {
  std::memset(block, 0, form.length);
  Put16(block, static_cast<std::uint16_t>(form.length));
  block[2] = r.scsiStatus;
  block[3] = r.pathId;
  block[4] = r.targetId;
  block[5] = r.lun;
  block[6] = r.cdbLength;
  block[7] = r.senseInfoLength;
  block[8] = r.dataIn;
  Put32(block + 12, r.dataTransferLength);
  Put32(block + 16, r.timeOutValue);
  Put32(block + form.dataBufferOffsetAt, r.dataBufferOffset);  // the high half of the wide form stays 0
  Put32(block + form.senseInfoOffsetAt, r.senseInfoOffset);
  std::memcpy(block + form.cdbAt, r.cdb.data(), r.cdb.size());
}

// Reads the request from its block; false when the block is not a well-formed request in
// `form` whose data and sense areas lie inside an output buffer of `outSize` bytes.
inline bool ReadPassThrough(const std::uint8_t* in, std::uint32_t inSize, std::uint32_t outSize,
                            PassThroughRequest& r, const PassThroughForm& form = kNativePassThrough) {
  if (inSize < form.length || Get16(in) != form.length) return false;
  r.scsiStatus = in[2];
  r.pathId = in[3];
  r.targetId = in[4];
  r.lun = in[5];
  r.cdbLength = in[6];
  r.senseInfoLength = in[7];
  r.dataIn = in[8];
  r.dataTransferLength = Get32(in + 12);
  r.timeOutValue = Get32(in + 16);
  if (form.senseInfoOffsetAt - form.dataBufferOffsetAt == 8 && Get32(in + form.dataBufferOffsetAt + 4) != 0)
    return false;  // an offset beyond 4 GiB lies outside any buffer
  r.dataBufferOffset = Get32(in + form.dataBufferOffsetAt);
  r.senseInfoOffset = Get32(in + form.senseInfoOffsetAt);
  std::memcpy(r.cdb.data(), in + form.cdbAt, 16);
  if (r.cdbLength == 0 || r.cdbLength > 16) return false;
  const std::uint64_t dataEnd = std::uint64_t{r.dataBufferOffset} + r.dataTransferLength;
  const std::uint64_t senseEnd = std::uint64_t{r.senseInfoOffset} + r.senseInfoLength;
  if (r.dataTransferLength && (r.dataBufferOffset < form.length || dataEnd > outSize)) return false;
  if (r.senseInfoLength && (r.senseInfoOffset < form.length || senseEnd > outSize)) return false;
  return outSize >= form.length;
}

// Writes the completed request into the output block as the port driver does: the header
// with the SCSI status and the lengths actually moved, the data and the sense bytes at the
// offsets the request named. `request` is the header as it arrived. Answers the byte count
// the call reports.
inline std::uint32_t CompletePassThrough(const std::uint8_t* request, const PassThroughRequest& r,
                                         std::uint8_t scsiStatus, const std::vector<std::uint8_t>& data,
                                         const std::vector<std::uint8_t>& sense, std::uint8_t* out,
                                         const PassThroughForm& form = kNativePassThrough) {
  std::uint8_t header[kPassThrough64.length];
  std::memcpy(header, request, form.length);
  const std::uint32_t moved = static_cast<std::uint32_t>(std::min<std::size_t>(data.size(), r.dataTransferLength));
  const std::uint8_t senseLen = static_cast<std::uint8_t>(std::min<std::size_t>(sense.size(), r.senseInfoLength));
  header[2] = scsiStatus;
  header[7] = senseLen;
  Put32(header + 12, moved);
  std::memcpy(out, header, form.length);
  if (moved) std::memcpy(out + r.dataBufferOffset, data.data(), moved);
  if (senseLen) std::memcpy(out + r.senseInfoOffset, sense.data(), senseLen);
  return moved ? r.dataBufferOffset + moved : form.length;
}

// --- Port access of the Windows 9x family ---------------------------------------------------------
// One transfer between the processor and an I/O port: `size` is 1, 2 or 4 bytes; `value`
// carries what is written, or receives what is read.
struct PortTransfer {
  std::uint16_t port = 0;
  std::uint8_t size = 1;
  bool write = false;
  std::uint32_t value = 0;
};

// A segment descriptor as it sits in a descriptor table.
using Descriptor = std::array<std::uint8_t, 8>;

}  // namespace devio

class DeviceApi {
 public:
  virtual ~DeviceApi() = default;

  // CreateFile on a device path ("\\.\PhysicalDrive0", "\\.\C:", "\\.\SMARTVSD"); the invalid
  // handle on failure, GetLastError() telling why. An access of 0 opens the device for queries
  // only, which Windows grants without administrator rights.
  virtual Handle CreateFile(const std::string& path, std::uint32_t desiredAccess, std::uint32_t shareMode,
                            std::uint32_t creationDisposition, std::uint32_t flagsAndAttributes) = 0;
  virtual bool CloseHandle(Handle h) = 0;
  // DeviceIoControl. `in` and `out` may be the same block, as Windows allows; a reply larger
  // than `outSize` fails the request (GetLastError: insufficient buffer or more data).
  virtual bool DeviceIoControl(Handle h, std::uint32_t code, const std::uint8_t* in, std::uint32_t inSize,
                               std::uint8_t* out, std::uint32_t outSize, std::uint32_t& bytesReturned) = 0;
  // The error of the last failing call of this area on the calling thread.
  virtual std::uint32_t GetLastError() = 0;
  // SetErrorMode: sets the process's error mode and answers the previous one.
  virtual std::uint32_t SetErrorMode(std::uint32_t mode) = 0;
  // GetLogicalDriveStrings: "C:\<0>D:\<0><0>" into `buffer`; answers the length copied
  // without the final 0, or the length needed when `bufferLength` is too small, or 0.
  virtual std::uint32_t GetLogicalDriveStrings(std::uint32_t bufferLength, char* buffer) = 0;
  // GetDriveType of a root such as "C:\" (devio::kDrive*).
  virtual std::uint32_t GetDriveType(const std::string& rootPath) = 0;

  // --- Privileged port access ---------------------------------------------------------------
  // On the Windows 9x family a program reaches the ports through a call gate that it writes
  // into its own local descriptor table. These answer the table's entry count (false where
  // there is none: every other platform), read and write one entry, name the ring-0 routine
  // a gate must lead to, and make the far call through a gate's selector (false when the
  // processor refuses it).
  virtual bool GetLocalDescriptorTable(std::uint32_t& entries) = 0;
  virtual bool ReadDescriptor(std::uint32_t index, devio::Descriptor& descriptor) = 0;
  virtual bool WriteDescriptor(std::uint32_t index, const devio::Descriptor& descriptor) = 0;
  virtual std::uint32_t PortRoutineOffset() = 0;
  virtual bool CallGate(std::uint16_t selector, devio::PortTransfer& transfer) = 0;
  // Any other privileged facility for port transfers; false where the platform offers none.
  virtual bool PortIo(devio::PortTransfer& transfer) = 0;
};

class LinuxPlatform;
class Win32Platform;
std::unique_ptr<DeviceApi> MakeLinuxDeviceApi(LinuxPlatform& owner);
std::unique_ptr<DeviceApi> MakeWin32DeviceApi(Win32Platform& owner);

}  // namespace kyvex::platform
