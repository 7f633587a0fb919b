// Scripted answers for the platform's device paths, device I/O control requests, drive letters
// and drive types: recorded replies per device path and request, so that whole machines
// (several disks, optical and tape drives, drive letters, SMART data, a SCSI miniport, the
// 9x family's SMART driver and ATA ports) can be replayed in tests. Everything is public: a
// test sets what it needs and reads back what was asked.
//
// Replies are given as the payload a driver produces; the fake places it the way Windows
// does: the data of SMART and miniport requests behind their output headers, pass-through
// data at the data offset the request names, every other reply as the whole output block
// (failing, as Windows does, when it does not fit).
#pragma once

#include <array>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/DeviceApi.h"

namespace kyvex::platform {

struct FakeIoReply {
  bool ok = true;
  std::uint32_t error = devio::kErrorInvalidFunction;  // GetLastError when !ok
  std::vector<std::uint8_t> data;
  std::uint8_t driverError = 0, ideError = 0;  // SMART and miniport replies
  std::uint8_t scsiStatus = 0;                 // pass-through replies
  std::vector<std::uint8_t> sense;
};

// A reply to the requests of one control code whose input block it accepts (every input when
// no test is given).
struct FakeIoRule {
  std::uint32_t code = 0;
  std::function<bool(devio::BlockView input)> accepts;
  FakeIoReply reply;
};

struct FakeDeviceEntry {
  bool opensReadWrite = true;  // an open asking for read or write access succeeds
  bool opensQueryOnly = true;  // an open asking for no access succeeds
  std::uint32_t openError = kErrorAccessDenied;
  std::vector<FakeIoRule> rules;  // the first matching rule answers
};

// One drive on an emulated ATA channel of the port route.
struct FakeAtaDrive {
  bool packet = false;  // refuses IDENTIFY DEVICE, answers IDENTIFY PACKET DEVICE
  std::array<std::uint8_t, 512> identify{};  // as the device sends it (texts not swapped)
};

class FakeDevice : public DeviceApi {
 public:
  // --- Devices by path (compared without regard to ASCII case) ------------------------------
  FakeDeviceEntry& Device(const std::string& path);
  bool HasDevice(const std::string& path) const;

  // A reply for every request of `code` on `path`.
  void Reply(const std::string& path, std::uint32_t code, std::vector<std::uint8_t> data);
  void Fail(const std::string& path, std::uint32_t code, std::uint32_t error);
  // SMART_RCV_DRIVE_DATA for one command register (0xEC, 0xA1, or 0xB0 with features 0xD0
  // for SMART READ DATA); `drive` (the drive number byte) when only that drive answers.
  void SmartReply(const std::string& path, std::uint8_t command, std::optional<std::uint8_t> features,
                  const std::array<std::uint8_t, 512>& data, std::uint8_t driverError = 0,
                  std::optional<std::uint8_t> drive = std::nullopt);
  // SCSI pass-through: the data a command (by operation code, and page code when given)
  // returns, with its SCSI status.
  void PassThroughReply(const std::string& path, std::uint8_t opcode, std::optional<std::uint8_t> page,
                        std::vector<std::uint8_t> data, std::uint8_t scsiStatus = 0);
  // The SCSI miniport identify of `drive` (0 or 1) on a "\\.\ScsiN:" path.
  void MiniportReply(const std::string& path, std::uint8_t drive, const std::array<std::uint8_t, 512>& identify);

  // --- Drive letters ----------------------------------------------------------------------
  std::string driveLetters;                      // "ACD": roots A:\, C:\, D:\ .
  std::map<std::string, std::uint32_t> driveTypes;  // by root ("C:\"), default no root dir
  // The system's names by device path (compared without regard to ASCII case); a path
  // without an entry has none.
  std::map<std::string, DeviceNames> names;

  // --- What was asked ---------------------------------------------------------------------
  struct Open {
    std::string path;
    std::uint32_t access;
    bool succeeded;
  };
  struct Call {
    std::string path;
    std::uint32_t code;
    std::vector<std::uint8_t> input;
    std::uint32_t outSize;
    bool succeeded;
  };
  std::vector<Open> opens;
  std::vector<Call> calls;
  int openHandles = 0;             // opened and not yet closed
  std::uint32_t errorMode = 0;     // the current mode
  std::vector<std::uint32_t> errorModes;  // every mode set, in order
  std::vector<Call> CallsOf(std::uint32_t code) const;

  // --- The 9x family's port route -----------------------------------------------------------
  // The local descriptor table (none: the platform has none), the routine a gate must lead
  // to, and the drives on the emulated channels by base port (0x1F0, ...) and position.
  std::optional<std::vector<devio::Descriptor>> ldt;
  std::uint32_t portRoutine = 0xC0012340;
  std::map<std::uint16_t, std::array<std::optional<FakeAtaDrive>, 2>> ataChannels;
  bool directPorts = false;  // a privileged facility other than the gate serves port I/O
  int portTransfers = 0;     // transfers that reached the ports
  int gateCalls = 0, refusedGateCalls = 0;
  // The ATA commands written to each channel's command register, in order.
  std::vector<std::pair<std::uint16_t, std::uint8_t>> ataCommands;

  // --- DeviceApi ------------------------------------------------------------------------------
  Handle CreateFile(const std::string& path, std::uint32_t desiredAccess, std::uint32_t shareMode,
                    std::uint32_t creationDisposition, std::uint32_t flagsAndAttributes) override;
  bool CloseHandle(Handle h) override;
  bool DeviceIoControl(Handle h, std::uint32_t code, const std::uint8_t* in, std::uint32_t inSize,
                       std::uint8_t* out, std::uint32_t outSize, std::uint32_t& bytesReturned) override;
  std::uint32_t GetLastError() override { return lastError; }
  std::uint32_t SetErrorMode(std::uint32_t mode) override;
  std::uint32_t GetLogicalDriveStrings(std::uint32_t bufferLength, char* buffer) override;
  std::uint32_t GetDriveType(const std::string& rootPath) override;
  bool QueryDeviceNames(const std::string& path, DeviceNames& names) override;
  bool GetLocalDescriptorTable(std::uint32_t& entries) override;
  bool ReadDescriptor(std::uint32_t index, devio::Descriptor& descriptor) override;
  bool WriteDescriptor(std::uint32_t index, const devio::Descriptor& descriptor) override;
  std::uint32_t PortRoutineOffset() override { return portRoutine; }
  bool CallGate(std::uint16_t selector, devio::PortTransfer& transfer) override;
  bool PortIo(devio::PortTransfer& transfer) override;

  std::uint32_t lastError = 0;

 private:
  struct OpenHandle {
    std::string path;
    std::uint32_t access;
  };
  struct ChannelState {
    std::uint8_t driveHead = 0xA0;
    std::uint8_t status = 0x50;
    std::vector<std::uint8_t> data;
    std::size_t readPos = 0;
  };
  static std::string Key(const std::string& path);
  bool Fail(std::uint32_t error);
  bool Transfer(devio::PortTransfer& t);
  std::map<std::string, FakeDeviceEntry> devices_;
  std::map<Handle, OpenHandle> handles_;
  std::map<std::uint16_t, ChannelState> channelState_;
  Handle nextHandle_ = 0x4000;
};

}  // namespace kyvex::platform
