#include "platform/linux/LinuxDeviceScsi.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/DeviceApi.h"
#include "platform/DeviceBlocks.h"

namespace kyvex::platform::linuxscsi {

namespace {

constexpr std::uint8_t kCheckCondition = 0x02;
constexpr unsigned kDriverSense = 0x08;

std::uint32_t ErrorOfErrno(int e) {
  switch (e) {
    case EACCES:
    case EPERM:
      return kErrorAccessDenied;
    case ENOTTY:
    case EINVAL:
    case linuxdev::kKernelEOPNOTSUPP:
      return devio::kErrorInvalidFunction;
    case linuxdev::kKernelENOMEDIUM:
      return devio::kErrorNotReady;
    default:
      return devio::kErrorIoDevice;
  }
}

// An ATA command carried by ATA PASS-THROUGH that only reads: IDENTIFY (PACKET) DEVICE and
// the SMART reads of values and thresholds as PIO data-in, CHECK POWER MODE without data.
// Every other command (SMART enable, standby, set features, writes, downloads) changes a
// device, and so does any command sent with a data-out protocol.
bool ReadingAtaCommand(std::uint8_t protocol, bool toHost, std::uint8_t command, std::uint8_t features,
                       std::uint8_t lbaMid, std::uint8_t lbaHigh) {
  constexpr std::uint8_t kNonData = 3, kPioIn = 4;
  const bool dataIn = protocol == kPioIn && toHost;
  if (command == 0xEC || command == 0xA1) return dataIn;
  if (command == 0xB0) return dataIn && (features == 0xD0 || features == 0xD1) && lbaMid == 0x4F && lbaHigh == 0xC2;
  if (command == 0xE5) return protocol == kNonData;
  return false;
}

}  // namespace

bool IsReadOnlyCommand(const std::uint8_t* cdb, std::uint8_t length) {
  if (length == 0) return false;
  switch (cdb[0]) {
    case 0x85:    // ATA PASS-THROUGH(16)
    case 0xA1: {  // ATA PASS-THROUGH(12); BLANK to an optical drive, which the caller must rule out
      const auto ata = devio::AtaCommandBlock::Decode(cdb, length);
      return ata && ReadingAtaCommand(ata->protocol, ata->flags & devio::AtaCommandBlock::kToHost, ata->command,
                                      ata->features, ata->lbaMid, ata->lbaHigh);
    }
    case 0x00:  // TEST UNIT READY
    case 0x03:  // REQUEST SENSE
    case 0x12:  // INQUIRY
    case 0x1A:  // MODE SENSE(6)
    case 0x1C:  // RECEIVE DIAGNOSTIC RESULTS
    case 0x25:  // READ CAPACITY(10)
    case 0x43:  // READ TOC
    case 0x46:  // GET CONFIGURATION
    case 0x4A:  // GET EVENT STATUS NOTIFICATION
    case 0x4D:  // LOG SENSE
    case 0x51:  // READ DISC INFORMATION
    case 0x5A:  // MODE SENSE(10)
    case 0xA0:  // REPORT LUNS
      return true;
    case 0x9E:  // READ CAPACITY(16), a service action of its own
      return length >= 2 && (cdb[1] & 0x1F) == 0x10;
    default:
      return false;
  }
}

bool Execute(SystemCalls& sys, int fd, const std::uint8_t* cdb, std::uint8_t cdbLength, std::vector<std::uint8_t>& data,
             std::uint32_t timeoutMs, std::uint8_t& status, std::vector<std::uint8_t>& sense, std::uint32_t& error) {
  std::uint8_t command[16] = {};
  std::memcpy(command, cdb, cdbLength);
  std::uint8_t senseBuffer[32] = {};
  sg_io_hdr_t io{};
  io.interface_id = 'S';
  io.dxfer_direction = data.empty() ? SG_DXFER_NONE : SG_DXFER_FROM_DEV;
  io.cmd_len = cdbLength;
  io.mx_sb_len = sizeof senseBuffer;
  io.dxfer_len = static_cast<unsigned>(data.size());
  io.dxferp = data.empty() ? nullptr : data.data();
  io.cmdp = command;
  io.sbp = senseBuffer;
  io.timeout = timeoutMs;
  if (sys.Ioctl(fd, SG_IO, &io) != 0) {
    error = ErrorOfErrno(errno);
    return false;
  }
  if (io.host_status != 0 || (io.driver_status & ~kDriverSense) != 0) {
    error = devio::kErrorIoDevice;
    return false;
  }
  status = io.status;
  const int resid = io.resid > 0 ? io.resid : 0;
  data.resize(data.size() > static_cast<std::size_t>(resid) ? data.size() - static_cast<std::size_t>(resid) : 0);
  sense.assign(senseBuffer, senseBuffer + std::min<unsigned>(io.sb_len_wr, sizeof senseBuffer));
  return true;
}

bool ModeSenseAsTen(SystemCalls& sys, int fd, const std::uint8_t* cdb6, std::vector<std::uint8_t>& data,
                    std::uint32_t timeoutMs, std::uint8_t& status, std::vector<std::uint8_t>& sense,
                    std::uint32_t& error) {
  // The 6-byte header is 4 bytes shorter than the 10-byte one; ask for that much more so
  // that the caller gets as much of the page as it asked for.
  const std::size_t wanted = data.size();
  const auto allocation = static_cast<std::uint16_t>(std::min<std::size_t>(wanted + 4, 0xFFFF));
  const std::uint8_t cdb10[10] = {0x5A, static_cast<std::uint8_t>(cdb6[1] & 0x08),  // DBD
                                  cdb6[2], cdb6[3], 0, 0, 0,
                                  static_cast<std::uint8_t>(allocation >> 8), static_cast<std::uint8_t>(allocation),
                                  cdb6[5]};
  std::vector<std::uint8_t> reply(allocation);
  if (!Execute(sys, fd, cdb10, sizeof cdb10, reply, timeoutMs, status, sense, error)) return false;
  data.clear();
  if (status != 0 || reply.size() < 8) return true;
  // 10-byte header: data length (2), medium type, device-specific, LONGLBA, reserved, block
  // descriptor length (2). The 6-byte one: data length, medium type, device-specific, block
  // descriptor length. Block descriptors too long for one byte cannot be told in the short
  // form and are left out.
  // The data length tells what the device holds, however much of it arrived.
  const std::size_t told = (reply[0] << 8) | reply[1];
  const std::size_t total = std::min<std::size_t>(reply.size(), 2 + told);
  std::size_t descriptors = (reply[6] << 8) | reply[7];
  std::size_t from = 8, dropped = 0;
  if (descriptors > 255 || reply[4] & 0x01) {  // long LBA descriptors do not fit the short form
    dropped = descriptors;
    from += descriptors;
    descriptors = 0;
  }
  if (from > total) from = total;
  const std::size_t told6 = told >= 3 + dropped ? told - 3 - dropped : 3;
  data = {static_cast<std::uint8_t>(std::min<std::size_t>(told6, 255)), reply[2], reply[3],
          static_cast<std::uint8_t>(descriptors)};
  data.insert(data.end(), reply.begin() + static_cast<std::ptrdiff_t>(from), reply.begin() + static_cast<std::ptrdiff_t>(total));
  if (data.size() > wanted) data.resize(wanted);
  return true;
}

namespace {

// The legacy IDE driver's own way: its ioctl takes command, sector number, features and
// count, and sets the SMART signature registers itself.
bool IdeCommand(SystemCalls& sys, int fd, const AtaRegisters& r, std::uint8_t* data512, AtaOutcome& o) {
  std::uint8_t args[4 + 512] = {};
  args[0] = r.command;
  args[1] = r.command == 0xB0 ? 0 : r.lbaLow;
  args[2] = r.features;
  args[3] = r.count;
  if (sys.Ioctl(fd, HDIO_DRIVE_CMD, args) != 0) {
    if (errno == EIO) {  // the device refused: status and error registers come back
      o.driverError = devio::kSmartIdeError;
      o.ideError = args[1];
      return true;
    }
    o.error = ErrorOfErrno(errno);
    return false;
  }
  std::memcpy(data512, args + 4, 512);
  return true;
}

}  // namespace

bool AtaCommand(SystemCalls& sys, int fd, const std::string& node, const AtaRegisters& r, std::uint8_t* data512, AtaOutcome& o) {
  o = AtaOutcome{};
  if (node.rfind("hd", 0) == 0) return IdeCommand(sys, fd, r, data512, o);

  // ATA PASS-THROUGH(16), PIO data-in, one 512-byte block counted in the sector count. The
  // 12-byte form is never used: optical drives read its operation code as BLANK.
  const auto cdb =
      devio::AtaCommandBlock::PioIn(r.command, r.features, r.count, r.lbaLow, r.lbaMid, r.lbaHigh).Encode(false);
  std::vector<std::uint8_t> data(512), sense;
  std::uint8_t status = 0;
  if (!Execute(sys, fd, cdb.data(), 16, data, 15000, status, sense, o.error)) return false;
  std::memset(data512, 0, 512);
  std::memcpy(data512, data.data(), data.size());
  if (status == 0) return true;
  if (status != kCheckCondition || sense.size() < 8) {
    o.error = devio::kErrorIoDevice;
    return false;
  }
  const std::uint8_t responseCode = sense[0] & 0x7F;
  if (responseCode == 0x72 || responseCode == 0x73) {
    // Descriptor format: the ATA status return descriptor carries the registers.
    const std::size_t end = std::min<std::size_t>(sense.size(), 8u + sense[7]);
    for (std::size_t p = 8; p + 1 < end; p += 2u + sense[p + 1]) {
      if (sense[p] != 0x09 || p + 13 >= end) continue;
      if (sense[p + 13] & 0x01) {  // ERR
        o.driverError = devio::kSmartIdeError;
        o.ideError = sense[p + 3];
      }
      return true;
    }
  }
  const std::uint8_t key = responseCode >= 0x72 ? (sense[1] & 0x0F) : (sense[2] & 0x0F);
  if (key == 0x0B) {  // ABORTED COMMAND: the device refused the command
    o.driverError = devio::kSmartIdeError;
    o.ideError = 0x04;
    return true;
  }
  if (key == 0x01) return true;  // RECOVERED ERROR: registers returned though not asked for
  // ILLEGAL REQUEST and the rest: the device does not take ATA commands.
  o.error = key == 0x05 ? devio::kErrorInvalidFunction : devio::kErrorIoDevice;
  return false;
}

std::optional<bool> InStandby(SystemCalls& sys, int fd) {
  // Non-data, the registers asked back (CK_COND): the count register tells the mode. The
  // 12-byte form where a bridge refuses the 16-byte one.
  const auto check = devio::AtaCommandBlock::NonData(0xE5);
  for (bool twelve : {false, true}) {
    const auto cdb = check.Encode(twelve);
    std::vector<std::uint8_t> none, sense;
    std::uint8_t status = 0;
    std::uint32_t error = 0;
    if (!Execute(sys, fd, cdb.data(), check.Length(twelve), none, 5000, status, sense, error) ||
        status != kCheckCondition || sense.size() < 8)
      return std::nullopt;
    const std::uint8_t code = sense[0] & 0x7F;
    if (code == 0x72 || code == 0x73) {
      const std::size_t end = std::min<std::size_t>(sense.size(), 8u + sense[7]);
      for (std::size_t p = 8; p + 1 < end; p += 2u + sense[p + 1])
        if (sense[p] == 0x09 && p + 13 < end) {
          if (sense[p + 13] & 0x01) return std::nullopt;  // the drive refused the command
          return sense[p + 5] <= 0x01;                    // 00h standby, 01h Standby_y
        }
      return std::nullopt;
    }
    // Fixed format with "ATA pass-through information available" (00h/1Dh): the registers
    // stand in the information fields, error, status, device and count from byte 3.
    if ((code == 0x70 || code == 0x71) && sense.size() >= 14 && sense[12] == 0x00 && sense[13] == 0x1D) {
      if (sense[4] & 0x01) return std::nullopt;  // the drive refused the command
      return sense[6] <= 0x01;
    }
    // ILLEGAL REQUEST: the form was not taken; anything else tells nothing.
    if ((sense[2] & 0x0F) != 0x05) return std::nullopt;
  }
  return ScsiInStandby(sys, fd);
}

std::optional<bool> ScsiInStandby(SystemCalls& sys, int fd) {
  const auto cdb = devio::RequestSenseCdb(32);
  std::vector<std::uint8_t> data(32), sense;
  std::uint8_t status = 0;
  std::uint32_t error = 0;
  if (!Execute(sys, fd, cdb.data(), static_cast<std::uint8_t>(cdb.size()), data, 5000, status, sense, error))
    return std::nullopt;
  // A device that refuses the request is taken to be active, as smartctl takes it.
  if (status != 0) return false;
  const auto reported = devio::SenseData::Decode(data);
  return reported && reported->Standby();
}

std::optional<std::string> SerialFromVpd(const std::string& page) {
  if (page.size() < 4 || static_cast<std::uint8_t>(page[1]) != 0x80) return std::nullopt;
  const std::size_t length = (static_cast<std::uint8_t>(page[2]) << 8) | static_cast<std::uint8_t>(page[3]);
  std::string serial = page.substr(4, std::min(length, page.size() - 4));
  while (!serial.empty() && serial.back() == 0) serial.pop_back();
  return serial;
}

}  // namespace kyvex::platform::linuxscsi
