// The platform's services for device paths, device I/O control requests, drive letters and
// drive types, in the shapes of the Windows services the components were designed against,
// plus the privileged port access of the Windows 9x family.
//
// Request and reply blocks keep Windows' byte layouts; platform/DeviceBlocks.h holds one codec
// per block, which both the platforms answering a request and the components sending it use.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/DeviceBlocks.h"
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
constexpr std::uint32_t kAtaPassThrough = 0x0004D02C;
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

// The system's own names for what a device path opens: the device node or device path
// ("/dev/nvme0n1", "\\.\PhysicalDrive0"), and for a drive letter the places its file system
// is mounted ("/", "C:\") and the file system's type ("ext4", "NTFS").
struct DeviceNames {
  std::string device;
  std::vector<std::string> mountPoints;
  std::string fileSystem;
  bool operator==(const DeviceNames&) const = default;
};

class DeviceApi {
 public:
  virtual ~DeviceApi() = default;

  // The names the system itself gives the device behind `path`; false when the path names
  // nothing, or the platform has no names beyond the path.
  virtual bool QueryDeviceNames(const std::string& path, DeviceNames& names) {
    (void)path;
    names = {};
    return false;
  }

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
