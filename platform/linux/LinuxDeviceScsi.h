// SCSI generic requests for the Linux device layer: commands passed through to a device and
// ATA commands wrapped in ATA PASS-THROUGH (or, for the old IDE driver, its own ioctl).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/LinuxDevice.h"

namespace kyvex::platform::linuxscsi {

using linuxdev::SystemCalls;

// Whether a command only reads information (inquiry, mode and log pages, capacity, sense,
// configuration; through ATA PASS-THROUGH, identify data, SMART values and thresholds and
// the power mode). The layer passes nothing else through: no request may change a device.
// The 12-byte ATA PASS-THROUGH shares its operation code with MMC's BLANK: the caller sends
// it only to a direct-access device.
bool IsReadOnlyCommand(const std::uint8_t* cdb, std::uint8_t length);

// Runs a data-in command. `data` holds the transfer length and is cut to what arrived.
// True when the command reached the device (whatever its SCSI status); otherwise `error` is
// the Windows error the failure stands for.
bool Execute(SystemCalls& sys, int fd, const std::uint8_t* cdb, std::uint8_t cdbLength, std::vector<std::uint8_t>& data,
             std::uint32_t timeoutMs, std::uint8_t& status, std::vector<std::uint8_t>& sense, std::uint32_t& error);

// MODE SENSE(6) `cdb6` sent as MODE SENSE(10), for devices that take only the 10-byte form;
// the reply's 8-byte header is given back in the 6-byte form, so that `data` reads as the
// 6-byte command's answer. Arguments and result as for Execute.
bool ModeSenseAsTen(SystemCalls& sys, int fd, const std::uint8_t* cdb6, std::vector<std::uint8_t>& data,
                    std::uint32_t timeoutMs, std::uint8_t& status, std::vector<std::uint8_t>& sense,
                    std::uint32_t& error);

// The task-file registers of an ATA command with one 512-byte sector of data in.
struct AtaRegisters {
  std::uint8_t command = 0, features = 0, count = 0, lbaLow = 0, lbaMid = 0, lbaHigh = 0;
};

// The answer of an ATA command as the SMART driver reports it: a driver error byte of
// SMART_IDE_ERROR and the device's error register when the device refused the command.
struct AtaOutcome {
  std::uint8_t driverError = 0, ideError = 0;
  std::uint32_t error = 0;  // why the command did not reach the device
};

// Sends the command to the device behind `fd` (`node` names it: "hda" uses the IDE driver's
// ioctl, everything else ATA PASS-THROUGH(16)). False when the device cannot take ATA
// commands at all.
bool AtaCommand(SystemCalls& sys, int fd, const std::string& node, const AtaRegisters& registers, std::uint8_t* data512,
                AtaOutcome& outcome);

// Whether the disk behind `fd` is in standby, by CHECK POWER MODE through ATA PASS-THROUGH
// (16, or 12 where that is refused: the caller sends this to direct-access devices alone),
// which never wakes it; nothing when the device does not tell. A device that takes neither
// form (a SCSI or SAS disk) is asked as ScsiInStandby asks.
std::optional<bool> InStandby(SystemCalls& sys, int fd);

// Whether the SCSI device behind `fd` is in a standby condition, by the power condition
// REQUEST SENSE reports, which needs no access to the medium (a device that refuses the
// request counts as active); nothing when the request does not reach the device.
std::optional<bool> ScsiInStandby(SystemCalls& sys, int fd);

// The serial number in a unit serial number page (VPD page 80h) as sysfs hands it over.
std::optional<std::string> SerialFromVpd(const std::string& page);

}  // namespace kyvex::platform::linuxscsi
