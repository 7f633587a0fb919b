// The request and reply blocks of Windows' device I/O control calls, one struct per block with
// the encoder that writes it and the decoder that reads it. Both ends of a call use them: the
// Linux layer and the fake read the requests and write the replies, the storage component
// writes the requests and reads the replies, so a block's layout is written down once.
//
// The blocks keep Windows' byte layouts: little-endian, with Windows' alignment; the one
// structure whose size follows the pointer width, SCSI_PASS_THROUGH, in either form.
//
// A decoder is handed the block as the call returned it: the bytes the call reported, not the
// buffer that was offered, since nothing past them was written by the driver. It refuses a
// block too short for its fixed part; counts, offsets and lengths inside a block are believed
// only as far as the block reaches.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ByteOrder.h"

namespace kyvex::platform::devio {

using namespace bytes;  // Get16/32/64 and Put16/32/64

// The bytes of a block as a call returned them.
using BlockView = std::span<const std::uint8_t>;

// --- Values the blocks carry ------------------------------------------------------------------

// Device types (FILE_DEVICE_*), as the media-types reply names them.
constexpr std::uint32_t kFileDeviceCdRom = 0x02;
constexpr std::uint32_t kFileDeviceDisk = 0x07;
constexpr std::uint32_t kFileDeviceTape = 0x1F;
constexpr std::uint32_t kFileDeviceUnknown = 0x22;
constexpr std::uint32_t kFileDeviceDvd = 0x33;

// Media types (MEDIA_TYPE and STORAGE_MEDIA_TYPE).
constexpr std::uint32_t kMediaRemovable = 11;  // RemovableMedia
constexpr std::uint32_t kMediaFixed = 12;      // FixedMedia
constexpr std::uint32_t kMediaCdRom = 0x33;    // CD_ROM
constexpr std::uint32_t kMediaCdR = 0x34;
constexpr std::uint32_t kMediaCdRw = 0x35;
constexpr std::uint32_t kMediaDvdRom = 0x36;
constexpr std::uint32_t kMediaDvdR = 0x37;
constexpr std::uint32_t kMediaDvdRw = 0x38;

// Media characteristics of the media-types reply (MEDIA_*).
constexpr std::uint32_t kMediaReadWrite = 0x00000008;
constexpr std::uint32_t kMediaCurrentlyMounted = 0x80000000;

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

namespace detail {

// A text field of fixed width, blank-padded: the bytes that lie inside the block, without the
// padding (blanks and zeros) at the end.
inline std::string PaddedText(BlockView block, std::size_t at, std::size_t width) {
  if (at >= block.size()) return {};
  const std::size_t n = std::min(width, block.size() - at);
  std::string s(reinterpret_cast<const char*>(block.data() + at), n);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
  return s;
}

inline void PutPaddedText(std::uint8_t* at, std::size_t width, std::string_view s) {
  for (std::size_t i = 0; i < width; ++i) at[i] = static_cast<std::uint8_t>(i < s.size() ? s[i] : ' ');
}

// A zero-terminated text from `at` of the block: it ends at its terminator or at the block's
// end, whichever comes first.
inline std::string TerminatedText(BlockView block, std::size_t at) {
  if (at >= block.size()) return {};
  const auto* start = reinterpret_cast<const char*>(block.data() + at);
  const void* nul = std::memchr(start, 0, block.size() - at);
  return std::string(start, nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - start) : block.size() - at);
}

}  // namespace detail

// --- SMART_GET_VERSION: GETVERSIONINPARAMS ------------------------------------------------------
struct SmartVersion {
  static constexpr std::size_t kSize = 24;
  std::uint8_t version = 0, revision = 0;
  std::uint8_t ideDeviceMap = 0;  // one bit per drive position; set for ATA, clear for packet devices
  std::uint32_t capabilities = 0;  // kCap*
  bool operator==(const SmartVersion&) const = default;

  std::vector<std::uint8_t> Encode() const {
    std::vector<std::uint8_t> r(kSize, 0);
    r[0] = version;
    r[1] = revision;
    r[3] = ideDeviceMap;
    Put32(&r[4], capabilities);
    return r;
  }
  static std::optional<SmartVersion> Decode(BlockView b) {
    if (b.size() < kSize) return std::nullopt;
    return SmartVersion{b[0], b[1], b[3], Get32(&b[4])};
  }
};

// --- SMART_RCV_DRIVE_DATA request: SENDCMDINPARAMS -------------------------------------------
// The buffer size, the IDE registers and the drive number; its one data byte is left off by
// most senders, so a block of 32 bytes is whole.
struct SmartCommandIn {
  static constexpr std::size_t kSize = 33;       // sizeof(SENDCMDINPARAMS)
  static constexpr std::size_t kShortSize = 32;  // without the data byte
  std::uint32_t bufferSize = 0;
  std::uint8_t features = 0, sectorCount = 0, sectorNumber = 0, cylLow = 0, cylHigh = 0, driveHead = 0, command = 0;
  std::uint8_t driveNumber = 0;
  bool operator==(const SmartCommandIn&) const = default;

  std::vector<std::uint8_t> Encode() const {
    std::vector<std::uint8_t> r(kSize, 0);
    Put32(&r[0], bufferSize);
    r[4] = features;
    r[5] = sectorCount;
    r[6] = sectorNumber;
    r[7] = cylLow;
    r[8] = cylHigh;
    r[9] = driveHead;
    r[10] = command;
    r[12] = driveNumber;
    return r;
  }
  static std::optional<SmartCommandIn> Decode(BlockView b) {
    if (b.size() < kShortSize) return std::nullopt;
    return SmartCommandIn{Get32(&b[0]), b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[12]};
  }
};

// --- SMART_RCV_DRIVE_DATA reply: SENDCMDOUTPARAMS --------------------------------------------
// The driver's status, then the data the command read (one 512-byte sector). A driver answers a
// refused command with its error bytes; the data it then sends say nothing.
struct SmartCommandOut {
  static constexpr std::size_t kHeaderSize = 16;
  static constexpr std::size_t kSectorSize = 512;
  static constexpr std::size_t kSize = kHeaderSize + kSectorSize;
  std::uint32_t bufferSize = 0;
  std::uint8_t driverError = 0, ideError = 0;
  std::vector<std::uint8_t> data;  // as far as the block reaches
  bool operator==(const SmartCommandOut&) const = default;

  // The reply of a command that read one sector (`sector`: 512 bytes, or none for zeros).
  static SmartCommandOut Sector(const std::uint8_t* sector, std::uint8_t driverError = 0, std::uint8_t ideError = 0) {
    SmartCommandOut r{kSectorSize, driverError, ideError, std::vector<std::uint8_t>(kSectorSize, 0)};
    if (sector) std::memcpy(r.data.data(), sector, kSectorSize);
    return r;
  }

  std::vector<std::uint8_t> Encode() const {
    std::vector<std::uint8_t> r(kHeaderSize, 0);
    Put32(&r[0], bufferSize);
    r[4] = driverError;
    r[5] = ideError;
    r.insert(r.end(), data.begin(), data.end());
    return r;
  }
  // The buffer size field is not taken as the data's length: drivers fill it unevenly, and
  // only the returned bytes say what arrived.
  static std::optional<SmartCommandOut> Decode(BlockView b) {
    if (b.size() < kHeaderSize) return std::nullopt;
    return SmartCommandOut{Get32(&b[0]), b[4], b[5], std::vector<std::uint8_t>(b.begin() + kHeaderSize, b.end())};
  }
};

// --- SMART READ DATA: the attribute sector ---------------------------------------------------
// A revision word and thirty 12-byte attribute entries (id, flags, current, worst, six raw
// bytes, one reserved); entries with id 0 are unused.
struct SmartData {
  static constexpr std::size_t kSize = 512;
  static constexpr std::size_t kEntries = 30;
  static constexpr std::size_t kEntrySize = 12;
  using Entry = std::array<std::uint8_t, kEntrySize>;
  std::uint16_t revision = 0;
  std::array<Entry, kEntries> entries{};
  bool operator==(const SmartData&) const = default;

  std::vector<std::uint8_t> Encode() const {
    std::vector<std::uint8_t> r(kSize, 0);
    Put16(&r[0], revision);
    for (std::size_t i = 0; i < kEntries; ++i) std::memcpy(&r[2 + kEntrySize * i], entries[i].data(), kEntrySize);
    return r;
  }
  // Nothing without the revision word; of a sector cut short, the entries that lie wholly
  // inside it, the others unused.
  static std::optional<SmartData> Decode(BlockView b) {
    if (b.size() < 2) return std::nullopt;
    SmartData d;
    d.revision = Get16(&b[0]);
    for (std::size_t i = 0; i < kEntries && 2 + kEntrySize * (i + 1) <= b.size(); ++i)
      std::memcpy(d.entries[i].data(), &b[2 + kEntrySize * i], kEntrySize);
    return d;
  }
};

// --- IOCTL_SCSI_MINIPORT: SRB_IO_CONTROL ---------------------------------------------------------
// The header in front of a miniport request and of its reply.
struct SrbIoControl {
  static constexpr std::size_t kSize = 28;
  std::uint32_t headerLength = kSize;
  std::array<char, 8> signature{};
  std::uint32_t timeout = 0, controlCode = 0, returnCode = 0;
  std::uint32_t length = 0;  // of what follows the header
  bool operator==(const SrbIoControl&) const = default;

  std::vector<std::uint8_t> Encode() const {
    std::vector<std::uint8_t> r(kSize, 0);
    Put32(&r[0], headerLength);
    std::memcpy(&r[4], signature.data(), signature.size());
    Put32(&r[12], timeout);
    Put32(&r[16], controlCode);
    Put32(&r[20], returnCode);
    Put32(&r[24], length);
    return r;
  }
  static std::optional<SrbIoControl> Decode(BlockView b) {
    if (b.size() < kSize) return std::nullopt;
    SrbIoControl s;
    s.headerLength = Get32(&b[0]);
    std::memcpy(s.signature.data(), &b[4], s.signature.size());
    s.timeout = Get32(&b[12]);
    s.controlCode = Get32(&b[16]);
    s.returnCode = Get32(&b[20]);
    s.length = Get32(&b[24]);
    return s;
  }
};

// --- IOCTL_SCSI_PASS_THROUGH: SCSI_PASS_THROUGH ----------------------------------------------
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
  bool operator==(const PassThroughRequest&) const = default;
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

// The fields of a header of form.length bytes as they stand, checked for nothing (the low half
// of the wide form's data offset).
inline PassThroughRequest ReadPassThroughHeader(const std::uint8_t* in, const PassThroughForm& form = kNativePassThrough) {
  PassThroughRequest r;
  r.scsiStatus = in[2];
  r.pathId = in[3];
  r.targetId = in[4];
  r.lun = in[5];
  r.cdbLength = in[6];
  r.senseInfoLength = in[7];
  r.dataIn = in[8];
  r.dataTransferLength = Get32(in + 12);
  r.timeOutValue = Get32(in + 16);
  r.dataBufferOffset = Get32(in + form.dataBufferOffsetAt);
  r.senseInfoOffset = Get32(in + form.senseInfoOffsetAt);
  std::memcpy(r.cdb.data(), in + form.cdbAt, 16);
  return r;
}

// Reads the request from its block; false when the block is not a well-formed request in
// `form` whose data and sense areas lie inside an output buffer of `outSize` bytes.
inline bool ReadPassThrough(const std::uint8_t* in, std::uint32_t inSize, std::uint32_t outSize,
                            PassThroughRequest& r, const PassThroughForm& form = kNativePassThrough) {
  if (inSize < form.length || Get16(in) != form.length) return false;
  if (form.senseInfoOffsetAt - form.dataBufferOffsetAt == 8 && Get32(in + form.dataBufferOffsetAt + 4) != 0)
    return false;  // an offset beyond 4 GiB lies outside any buffer
  r = ReadPassThroughHeader(in, form);
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
// the call reports: up to the end of what was written.
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
  std::uint32_t end = form.length;
  if (moved) end = std::max(end, r.dataBufferOffset + moved);
  if (senseLen) end = std::max(end, r.senseInfoOffset + senseLen);
  return end;
}

// What a completed request brought back.
struct PassThroughReply {
  std::uint8_t scsiStatus = 0;
  std::vector<std::uint8_t> data, sense;
  bool operator==(const PassThroughReply&) const = default;
};

// Reads the reply to `sent` from the block the call returned. The status and the counts come
// from the header the driver wrote back; the data and sense bytes are taken at the offsets of
// the request as it was sent (a header that comes back with other offsets is not followed),
// and only as far as the driver's count, the request's own length and the returned bytes all
// reach. Nothing when the block does not hold the header.
inline std::optional<PassThroughReply> ReadPassThroughReply(BlockView block, const PassThroughRequest& sent,
                                                            const PassThroughForm& form = kNativePassThrough) {
  if (block.size() < form.length) return std::nullopt;
  const PassThroughRequest back = ReadPassThroughHeader(block.data(), form);
  auto area = [&](std::uint32_t offset, std::uint32_t asked, std::uint32_t moved) {
    if (offset < form.length || offset >= block.size()) return std::vector<std::uint8_t>();
    const std::size_t n = std::min<std::size_t>({asked, moved, block.size() - offset});
    return std::vector<std::uint8_t>(block.begin() + offset, block.begin() + offset + n);
  };
  PassThroughReply r;
  r.scsiStatus = back.scsiStatus;
  r.data = area(sent.dataBufferOffset, sent.dataTransferLength, back.dataTransferLength);
  r.sense = area(sent.senseInfoOffset, sent.senseInfoLength, back.senseInfoLength);
  return r;
}

// --- ATA PASS-THROUGH (16) and (12): an ATA command in a SCSI command block (SAT) ----------------
// The 16-byte form puts each register's low byte at an even offset from byte 4 (features 4,
// count 6, LBA low 8, mid 10, high 12), the device register at 13 and the command at 14; the
// 12-byte form, whose operation code MMC reads as BLANK, packs them from byte 3 (features,
// count, LBA low, mid, high, device, command). Byte 1 carries the protocol, byte 2 the
// transfer flags.
struct AtaCommandBlock {
  static constexpr std::uint8_t kNonData = 3, kPioDataIn = 4;
  // Byte 2: CK_COND (the registers asked back in the sense data), T_DIR (to the host),
  // BYTE_BLOCK (counted in blocks) and T_LENGTH 2 (the length in the count register).
  static constexpr std::uint8_t kCheckCondition = 0x20, kToHost = 0x08, kInBlocks = 0x04, kLengthInCount = 0x02;
  std::uint8_t protocol = kNonData;
  std::uint8_t flags = 0;
  std::uint8_t features = 0, count = 0, lbaLow = 0, lbaMid = 0, lbaHigh = 0, device = 0, command = 0;
  bool operator==(const AtaCommandBlock&) const = default;

  // A command without data whose registers come back in the sense data (CHECK POWER MODE).
  static AtaCommandBlock NonData(std::uint8_t command) {
    AtaCommandBlock b;
    b.flags = kCheckCondition;
    b.command = command;
    return b;
  }
  // A command that reads `count` 512-byte blocks by PIO (IDENTIFY, the SMART reads).
  static AtaCommandBlock PioIn(std::uint8_t command, std::uint8_t features, std::uint8_t count, std::uint8_t lbaLow,
                               std::uint8_t lbaMid, std::uint8_t lbaHigh) {
    return {kPioDataIn, kToHost | kInBlocks | kLengthInCount, features, count, lbaLow, lbaMid, lbaHigh, 0, command};
  }

  std::uint8_t Length(bool twelve) const { return twelve ? 12 : 16; }
  // The block in the 16- or 12-byte form; the bytes past the form's length are zero.
  std::array<std::uint8_t, 16> Encode(bool twelve) const {
    std::array<std::uint8_t, 16> c{};
    c[0] = twelve ? 0xA1 : 0x85;
    c[1] = static_cast<std::uint8_t>(protocol << 1);
    c[2] = flags;
    const std::size_t at = twelve ? 3 : 4, step = twelve ? 1 : 2;
    const std::uint8_t registers[5] = {features, count, lbaLow, lbaMid, lbaHigh};
    for (std::size_t i = 0; i < 5; ++i) c[at + step * i] = registers[i];
    c[twelve ? 8 : 13] = device;
    c[twelve ? 9 : 14] = command;
    return c;
  }
  // Nothing for another operation code or a block shorter than its form. The 16-byte form's
  // extended (high) register bytes are not read: no command the callers send uses them.
  static std::optional<AtaCommandBlock> Decode(const std::uint8_t* cdb, std::size_t length) {
    if (length == 0) return std::nullopt;
    const bool twelve = cdb[0] == 0xA1;
    if ((cdb[0] != 0x85 && !twelve) || length < (twelve ? 12u : 16u)) return std::nullopt;
    const std::size_t at = twelve ? 3 : 4, step = twelve ? 1 : 2;
    AtaCommandBlock b;
    b.protocol = (cdb[1] >> 1) & 0x0F;
    b.flags = cdb[2];
    b.features = cdb[at];
    b.count = cdb[at + step];
    b.lbaLow = cdb[at + 2 * step];
    b.lbaMid = cdb[at + 3 * step];
    b.lbaHigh = cdb[at + 4 * step];
    b.device = cdb[twelve ? 8 : 13];
    b.command = cdb[twelve ? 9 : 14];
    return b;
  }
};

// --- IOCTL_ATA_PASS_THROUGH: ATA_PASS_THROUGH_EX ---------------------------------------------
// The ATA port drivers' own request for one ATA command, taken where they do not translate
// SCSI's ATA PASS-THROUGH. Like SCSI_PASS_THROUGH, its DataBufferOffset is a ULONG_PTR: 40
// bytes in a 32-bit process, 48 in a 64-bit one. Request and reply share the block: the
// driver writes the registers the command left back over the current task file.
struct AtaPassThroughForm {
  std::uint32_t length;  // sizeof(ATA_PASS_THROUGH_EX), also the value of its Length field
  std::uint32_t dataBufferOffsetAt;
  std::uint32_t previousTaskFileAt;
  std::uint32_t currentTaskFileAt;
  bool operator==(const AtaPassThroughForm&) const = default;
};
constexpr AtaPassThroughForm kAtaPassThrough32{40, 20, 24, 32};
constexpr AtaPassThroughForm kAtaPassThrough64{48, 24, 32, 40};
constexpr AtaPassThroughForm kNativeAtaPassThrough = sizeof(void*) == 8 ? kAtaPassThrough64 : kAtaPassThrough32;

struct AtaPassThrough {
  static constexpr std::uint16_t kDrdyRequired = 0x01;  // ATA_FLAGS_DRDY_REQUIRED
  static constexpr std::uint16_t kDataIn = 0x02;        // ATA_FLAGS_DATA_IN
  std::uint16_t flags = 0;
  std::uint8_t pathId = 0, targetId = 0, lun = 0;
  std::uint32_t dataTransferLength = 0, timeOutValue = 0, dataBufferOffset = 0;
  // Features (error on return), sector count, LBA low, mid and high, device/head, command
  // (status on return), reserved.
  std::array<std::uint8_t, 8> previousTaskFile{}, currentTaskFile{};
  bool operator==(const AtaPassThrough&) const = default;

  std::vector<std::uint8_t> Encode(const AtaPassThroughForm& form = kNativeAtaPassThrough) const {
    std::vector<std::uint8_t> r(form.length, 0);
    Put16(&r[0], static_cast<std::uint16_t>(form.length));
    Put16(&r[2], flags);
    r[4] = pathId;
    r[5] = targetId;
    r[6] = lun;
    Put32(&r[8], dataTransferLength);
    Put32(&r[12], timeOutValue);
    Put32(&r[form.dataBufferOffsetAt], dataBufferOffset);  // the high half of the wide form stays 0
    std::memcpy(&r[form.previousTaskFileAt], previousTaskFile.data(), 8);
    std::memcpy(&r[form.currentTaskFileAt], currentTaskFile.data(), 8);
    return r;
  }
  // Nothing for a block shorter than the structure or whose length field names another form.
  static std::optional<AtaPassThrough> Decode(BlockView b, const AtaPassThroughForm& form = kNativeAtaPassThrough) {
    if (b.size() < form.length || Get16(&b[0]) != form.length) return std::nullopt;
    AtaPassThrough a;
    a.flags = Get16(&b[2]);
    a.pathId = b[4];
    a.targetId = b[5];
    a.lun = b[6];
    a.dataTransferLength = Get32(&b[8]);
    a.timeOutValue = Get32(&b[12]);
    a.dataBufferOffset = Get32(&b[form.dataBufferOffsetAt]);
    std::memcpy(a.previousTaskFile.data(), &b[form.previousTaskFileAt], 8);
    std::memcpy(a.currentTaskFile.data(), &b[form.currentTaskFileAt], 8);
    return a;
  }
};

// --- INQUIRY data (through the pass-through) -------------------------------------------------
// The standard data: the peripheral byte, then the vendor, product and revision texts (8, 16
// and 4 bytes, blank-padded) and the 20 vendor-specific bytes after them.
struct InquiryData {
  static constexpr std::size_t kHeaderSize = 5;  // up to and with the additional length
  static constexpr std::size_t kSize = 96;       // what the encoder writes
  std::uint8_t peripheral = 0;  // qualifier and device type
  std::string vendor, product, revision, vendorSpecific;
  bool operator==(const InquiryData&) const = default;

  std::vector<std::uint8_t> Encode() const {
    std::vector<std::uint8_t> r(kSize, 0);
    r[0] = peripheral;
    r[4] = static_cast<std::uint8_t>(kSize - kHeaderSize);
    detail::PutPaddedText(&r[8], 8, vendor);
    detail::PutPaddedText(&r[16], 16, product);
    detail::PutPaddedText(&r[32], 4, revision);
    if (!vendorSpecific.empty()) detail::PutPaddedText(&r[36], 20, vendorSpecific);
    return r;
  }
  // Texts as far as the data reach: a device may send less than the standard 36 bytes.
  static std::optional<InquiryData> Decode(BlockView b) {
    if (b.size() < kHeaderSize) return std::nullopt;
    return InquiryData{b[0], detail::PaddedText(b, 8, 8), detail::PaddedText(b, 16, 16), detail::PaddedText(b, 32, 4),
                       detail::PaddedText(b, 36, 20)};
  }
};

// --- Sense data (REQUEST SENSE's data, or the sense area of CHECK CONDITION) ------------------
// Either format: fixed (70h/71h: key in byte 2, additional sense code and qualifier in bytes
// 12 and 13) or descriptor (72h/73h: bytes 1, 2 and 3).
struct SenseData {
  std::uint8_t key = 0, asc = 0, ascq = 0;
  bool operator==(const SenseData&) const = default;

  // Nothing for another response code, or data that end before the codes.
  static std::optional<SenseData> Decode(BlockView b) {
    if (b.empty()) return std::nullopt;
    const std::uint8_t code = b[0] & 0x7F;
    if ((code == 0x70 || code == 0x71) && b.size() >= 14)
      return SenseData{static_cast<std::uint8_t>(b[2] & 0x0F), b[12], b[13]};
    if ((code == 0x72 || code == 0x73) && b.size() >= 4)
      return SenseData{static_cast<std::uint8_t>(b[1] & 0x0F), b[2], b[3]};
    return std::nullopt;
  }

  // A device in a low-power condition says so in the sense data REQUEST SENSE returns, with
  // additional sense code 5Eh, and answers that without touching its medium. Standby is
  // LOW POWER CONDITION ON (00h), STANDBY by timer or command (02h, 04h) and STANDBY_Y
  // (09h, 0Ah): the conditions `smartctl -n standby` leaves alone. The idle conditions
  // (01h, 03h, 05h-08h) keep the device able to answer at once, and any other sense says
  // the device is active.
  bool Standby() const {
    if (asc != 0x5E) return false;
    return ascq == 0x00 || ascq == 0x02 || ascq == 0x04 || ascq == 0x09 || ascq == 0x0A;
  }
};

// REQUEST SENSE in its 6-byte form, asking for `allocation` bytes of fixed-format data.
inline std::array<std::uint8_t, 6> RequestSenseCdb(std::uint8_t allocation) { return {0x03, 0, 0, 0, allocation, 0}; }

// --- MODE SENSE(6) data (through the pass-through) -------------------------------------------
// The 4-byte header, the block descriptors the device chose to send, then one page: its code,
// its length and its bytes.
struct ModeSense6Data {
  static constexpr std::size_t kHeaderSize = 4;
  std::uint8_t mediumType = 0, deviceSpecific = 0;
  std::vector<std::uint8_t> blockDescriptors;
  std::uint8_t pageCode = 0;       // without the PS and SPF bits
  std::vector<std::uint8_t> page;  // the page's bytes after its code and length
  bool operator==(const ModeSense6Data&) const = default;

  std::vector<std::uint8_t> Encode() const {
    std::vector<std::uint8_t> r = {0, mediumType, deviceSpecific, static_cast<std::uint8_t>(blockDescriptors.size())};
    r.insert(r.end(), blockDescriptors.begin(), blockDescriptors.end());
    r.push_back(pageCode);
    r.push_back(static_cast<std::uint8_t>(page.size()));
    r.insert(r.end(), page.begin(), page.end());
    r[0] = static_cast<std::uint8_t>(r.size() - 1);
    return r;
  }
  // Nothing when the data end before the page's code and length; the page's bytes as far as
  // both its own length and the data reach.
  static std::optional<ModeSense6Data> Decode(BlockView b) {
    if (b.size() < kHeaderSize) return std::nullopt;
    const std::size_t at = kHeaderSize + b[3];
    if (at + 2 > b.size()) return std::nullopt;
    ModeSense6Data d;
    d.mediumType = b[1];
    d.deviceSpecific = b[2];
    d.blockDescriptors.assign(b.begin() + kHeaderSize, b.begin() + static_cast<std::ptrdiff_t>(at));
    d.pageCode = b[at] & 0x3F;
    const std::size_t n = std::min<std::size_t>(b[at + 1], b.size() - at - 2);
    d.page.assign(b.begin() + static_cast<std::ptrdiff_t>(at + 2), b.begin() + static_cast<std::ptrdiff_t>(at + 2 + n));
    return d;
  }
};

// --- IOCTL_DISK_GET_DRIVE_GEOMETRY: DISK_GEOMETRY ------------------------------------------------
// Also the storage component's geometry record (TDiskGeometry), hence the field names.
struct DiskGeometry {
  static constexpr std::size_t kSize = 24;
  std::int64_t Cylinders = 0;
  std::uint32_t MediaType = 0;
  std::uint32_t TracksPerCylinder = 0;
  std::uint32_t SectorsPerTrack = 0;
  std::uint32_t BytesPerSector = 0;
  bool operator==(const DiskGeometry&) const = default;

  std::vector<std::uint8_t> Encode() const {
    std::vector<std::uint8_t> r(kSize, 0);
    Put64(&r[0], static_cast<std::uint64_t>(Cylinders));
    Put32(&r[8], MediaType);
    Put32(&r[12], TracksPerCylinder);
    Put32(&r[16], SectorsPerTrack);
    Put32(&r[20], BytesPerSector);
    return r;
  }
  static std::optional<DiskGeometry> Decode(BlockView b) {
    if (b.size() < kSize) return std::nullopt;
    return DiskGeometry{static_cast<std::int64_t>(Get64(&b[0])), Get32(&b[8]), Get32(&b[12]), Get32(&b[16]),
                        Get32(&b[20])};
  }
};

// --- IOCTL_DISK_GET_DRIVE_LAYOUT: DRIVE_LAYOUT_INFORMATION -----------------------------------------

// The partition types Windows recognises as holding a file system of its own
// (IsRecognizedPartition). The name in parentheses: <winioctl.h> makes it a macro, and this
// header may follow it.
inline bool(IsRecognizedPartition)(std::uint8_t type) {
  const std::uint8_t plain = type & static_cast<std::uint8_t>(~0xC0);
  if ((type & 0x80) && (plain == 0x06 || plain == 0x07 || plain == 0x0B || plain == 0x0C)) return true;
  switch (type) {
    case 0x01: case 0x04: case 0x06: case 0x07: case 0x0B: case 0x0C: case 0x0E:
      return true;
    default:
      return false;
  }
}

// One PARTITION_INFORMATION entry (32 bytes). Also the storage component's partition record
// (TPartitionInfo), hence the field names.
struct PartitionInfo {
  static constexpr std::size_t kSize = 32;
  std::int64_t StartingOffset = 0;
  std::int64_t Length = 0;
  std::uint32_t HiddenSectors = 0;
  std::uint32_t Number = 0;
  std::uint8_t Typ = 0;
  bool BootIndicator = false;
  bool Recognized = false;
  bool Rewrite = false;
  bool operator==(const PartitionInfo&) const = default;
};

// A count and the disk signature, then the entries; a slot of type 0 is unused.
struct DriveLayout {
  static constexpr std::size_t kHeaderSize = 8;
  std::uint32_t signature = 0;
  std::vector<PartitionInfo> entries;
  bool operator==(const DriveLayout&) const = default;

  std::vector<std::uint8_t> Encode() const {
    std::vector<std::uint8_t> r(kHeaderSize + PartitionInfo::kSize * entries.size(), 0);
    Put32(&r[0], static_cast<std::uint32_t>(entries.size()));
    Put32(&r[4], signature);
    for (std::size_t i = 0; i < entries.size(); ++i) {
      std::uint8_t* e = &r[kHeaderSize + PartitionInfo::kSize * i];
      const PartitionInfo& p = entries[i];
      Put64(e, static_cast<std::uint64_t>(p.StartingOffset));
      Put64(e + 8, static_cast<std::uint64_t>(p.Length));
      Put32(e + 16, p.HiddenSectors);
      Put32(e + 20, p.Number);
      e[24] = p.Typ;
      e[25] = p.BootIndicator;
      e[26] = p.Recognized;
      e[27] = p.Rewrite;
    }
    return r;
  }
  // The entries the count names, as far as whole entries lie inside the block.
  static std::optional<DriveLayout> Decode(BlockView b) {
    if (b.size() < kHeaderSize) return std::nullopt;
    DriveLayout d;
    d.signature = Get32(&b[4]);
    const std::size_t count = std::min<std::size_t>(Get32(&b[0]), (b.size() - kHeaderSize) / PartitionInfo::kSize);
    for (std::size_t i = 0; i < count; ++i) {
      const std::uint8_t* e = &b[kHeaderSize + PartitionInfo::kSize * i];
      d.entries.push_back({static_cast<std::int64_t>(Get64(e)), static_cast<std::int64_t>(Get64(e + 8)), Get32(e + 16),
                           Get32(e + 20), e[24], e[25] != 0, e[26] != 0, e[27] != 0});
    }
    return d;
  }
};

// --- IOCTL_STORAGE_QUERY_PROPERTY request: STORAGE_PROPERTY_QUERY ------------------------------
struct StoragePropertyQuery {
  static constexpr std::size_t kSize = 12;  // with its one byte of additional parameters, aligned
  static constexpr std::uint32_t kDeviceProperty = 0;  // StorageDeviceProperty
  static constexpr std::uint32_t kStandardQuery = 0;   // PropertyStandardQuery
  static constexpr std::uint32_t kExistsQuery = 1;     // PropertyExistsQuery
  std::uint32_t propertyId = kDeviceProperty;
  std::uint32_t queryType = kStandardQuery;
  bool operator==(const StoragePropertyQuery&) const = default;

  std::vector<std::uint8_t> Encode() const {
    std::vector<std::uint8_t> r(kSize, 0);
    Put32(&r[0], propertyId);
    Put32(&r[4], queryType);
    return r;
  }
  // The additional parameters are not needed to tell what is asked.
  static std::optional<StoragePropertyQuery> Decode(BlockView b) {
    if (b.size() < 8) return std::nullopt;
    return StoragePropertyQuery{Get32(&b[0]), Get32(&b[4])};
  }
};

// --- IOCTL_STORAGE_QUERY_PROPERTY reply: STORAGE_DEVICE_DESCRIPTOR -----------------------------
// The fixed part (36 bytes) followed by the texts it points at; an offset of 0 names no text.
struct DeviceDescriptor {
  static constexpr std::size_t kFixedSize = 36;
  std::uint8_t deviceType = 0;  // SCSI peripheral device type
  std::uint8_t deviceTypeModifier = 0;
  bool removableMedia = false;
  bool commandQueueing = false;
  std::optional<std::string> vendor, product, revision, serialNumber;
  std::uint32_t busType = kBusUnknown;
  bool operator==(const DeviceDescriptor&) const = default;

  std::vector<std::uint8_t> Encode() const {
    std::vector<std::uint8_t> r(kFixedSize, 0);
    r[8] = deviceType;
    r[9] = deviceTypeModifier;
    r[10] = removableMedia;
    r[11] = commandQueueing;
    auto text = [&r](std::size_t field, const std::optional<std::string>& s) {
      if (!s) return;
      Put32(&r[field], static_cast<std::uint32_t>(r.size()));
      r.insert(r.end(), s->begin(), s->end());
      r.push_back(0);
    };
    text(12, vendor);
    text(16, product);
    text(20, revision);
    text(24, serialNumber);
    Put32(&r[28], busType);
    Put32(&r[0], kFixedSize);  // Version: the size of the fixed part
    Put32(&r[4], static_cast<std::uint32_t>(r.size()));
    return r;
  }
  // A text whose offset lies outside the block is absent; one that runs to the block's end
  // unterminated ends there.
  static std::optional<DeviceDescriptor> Decode(BlockView b) {
    if (b.size() < kFixedSize) return std::nullopt;
    auto text = [b](std::size_t field) -> std::optional<std::string> {
      const std::uint32_t offset = Get32(&b[field]);
      if (offset == 0 || offset >= b.size()) return std::nullopt;
      return detail::TerminatedText(b, offset);
    };
    DeviceDescriptor d;
    d.deviceType = b[8];
    d.deviceTypeModifier = b[9];
    d.removableMedia = b[10] != 0;
    d.commandQueueing = b[11] != 0;
    d.vendor = text(12);
    d.product = text(16);
    d.revision = text(20);
    d.serialNumber = text(24);
    d.busType = Get32(&b[28]);
    return d;
  }
};

// --- IOCTL_STORAGE_QUERY_PROPERTY for protocol-specific data --------------------------------------
// The query that reaches a device's own command set through the storage driver (Windows 10
// on): STORAGE_PROPERTY_QUERY whose additional parameters are STORAGE_PROTOCOL_SPECIFIC_DATA
// (ten 32-bit values) and room for the data behind them. The reply,
// STORAGE_PROTOCOL_DATA_DESCRIPTOR, comes back in the same place: Version and Size where the
// query's property id and query type stood, the protocol data after them, and the data at
// the offset the protocol data names, counted from the protocol data's start.
struct ProtocolSpecificData {
  static constexpr std::size_t kSize = 40;
  static constexpr std::uint32_t kProtocolNvme = 3;      // ProtocolTypeNvme
  static constexpr std::uint32_t kNvmeIdentify = 1;      // NVMeDataTypeIdentify
  static constexpr std::uint32_t kNvmeLogPage = 2;       // NVMeDataTypeLogPage
  static constexpr std::uint32_t kNvmeFeature = 3;       // NVMeDataTypeFeature
  std::uint32_t protocolType = 0;
  std::uint32_t dataType = 0;
  // identify: the CNS value; log page: its identifier; feature: its identifier
  std::uint32_t requestValue = 0;
  // identify: the namespace; log page: the offset's low half; feature: command dword 11
  std::uint32_t requestSubValue = 0;
  std::uint32_t dataOffset = 0;
  std::uint32_t dataLength = 0;
  std::uint32_t fixedReturnData = 0;  // a feature's value: the command's completion dword 0
  std::uint32_t subValue2 = 0, subValue3 = 0, subValue4 = 0;
  bool operator==(const ProtocolSpecificData&) const = default;

  void Write(std::uint8_t* at) const {
    const std::uint32_t v[10] = {protocolType, dataType,        requestValue, requestSubValue, dataOffset,
                                 dataLength,   fixedReturnData, subValue2,    subValue3,       subValue4};
    for (int i = 0; i < 10; ++i) Put32(at + 4 * i, v[i]);
  }
  static ProtocolSpecificData Read(const std::uint8_t* at) {
    return {Get32(at),      Get32(at + 4),  Get32(at + 8),  Get32(at + 12), Get32(at + 16),
            Get32(at + 20), Get32(at + 24), Get32(at + 28), Get32(at + 32), Get32(at + 36)};
  }
};

struct ProtocolQuery {
  static constexpr std::size_t kHeaderSize = 8 + ProtocolSpecificData::kSize;
  static constexpr std::uint32_t kAdapterProperty = 49;  // StorageAdapterProtocolSpecificProperty
  static constexpr std::uint32_t kDeviceProperty = 50;   // StorageDeviceProtocolSpecificProperty
  std::uint32_t propertyId = kDeviceProperty;
  std::uint32_t queryType = StoragePropertyQuery::kStandardQuery;
  ProtocolSpecificData data;
  bool operator==(const ProtocolQuery&) const = default;

  static bool IsProtocolProperty(std::uint32_t id) { return id == kAdapterProperty || id == kDeviceProperty; }

  // The query with room for `data.dataLength` bytes of data right behind the protocol data;
  // the data offset is set to say so. A query without data (a feature whose value comes back
  // in the protocol data) names no offset.
  std::vector<std::uint8_t> Encode() const {
    std::vector<std::uint8_t> r(kHeaderSize + data.dataLength, 0);
    Put32(&r[0], propertyId);
    Put32(&r[4], queryType);
    ProtocolSpecificData d = data;
    d.dataOffset = data.dataLength ? ProtocolSpecificData::kSize : 0;
    d.Write(&r[8]);
    return r;
  }
  static std::optional<ProtocolQuery> Decode(BlockView b) {
    if (b.size() < kHeaderSize) return std::nullopt;
    return ProtocolQuery{Get32(&b[0]), Get32(&b[4]), ProtocolSpecificData::Read(&b[8])};
  }
};

struct ProtocolDataDescriptor {
  static constexpr std::size_t kHeaderSize = ProtocolQuery::kHeaderSize;
  ProtocolSpecificData data;  // as the driver gives it back; Encode sets offset and length
  std::vector<std::uint8_t> payload;
  bool operator==(const ProtocolDataDescriptor&) const = default;

  std::vector<std::uint8_t> Encode() const {
    std::vector<std::uint8_t> r(kHeaderSize, 0);
    Put32(&r[0], static_cast<std::uint32_t>(kHeaderSize));  // Version: the descriptor's size
    Put32(&r[4], static_cast<std::uint32_t>(kHeaderSize));
    ProtocolSpecificData d = data;
    d.dataOffset = ProtocolSpecificData::kSize;
    d.dataLength = static_cast<std::uint32_t>(payload.size());
    d.Write(&r[8]);
    r.insert(r.end(), payload.begin(), payload.end());
    return r;
  }
  // The data is what lies inside the block of what the offset and length name.
  static std::optional<ProtocolDataDescriptor> Decode(BlockView b) {
    if (b.size() < kHeaderSize) return std::nullopt;
    ProtocolDataDescriptor p;
    p.data = ProtocolSpecificData::Read(&b[8]);
    const std::uint64_t from = 8 + std::uint64_t{p.data.dataOffset};
    if (from < b.size()) {
      const std::uint64_t n = std::min<std::uint64_t>(p.data.dataLength, b.size() - from);
      p.payload.assign(b.begin() + static_cast<std::ptrdiff_t>(from), b.begin() + static_cast<std::ptrdiff_t>(from + n));
    }
    return p;
  }
};

// --- IOCTL_STORAGE_GET_MEDIA_TYPES_EX: GET_MEDIA_TYPES -----------------------------------------
// The device type and a count, then DEVICE_MEDIA_INFO entries of 32 bytes: a tape drive's are
// TapeInfo, every other device's DiskInfo.
struct MediaInfo {
  static constexpr std::size_t kSize = 32;
  std::uint32_t mediaType = 0;
  // DiskInfo
  std::int64_t cylinders = 0;
  std::uint32_t tracksPerCylinder = 0, sectorsPerTrack = 0, bytesPerSector = 0;
  std::uint32_t numberMediaSides = 1;
  // both
  std::uint32_t characteristics = 0;
  // TapeInfo
  std::uint32_t currentBlockSize = 0;
  std::uint32_t busType = kBusUnknown;
  bool operator==(const MediaInfo&) const = default;
};

struct MediaTypes {
  static constexpr std::size_t kHeaderSize = 8;
  std::uint32_t deviceType = 0;  // kFileDevice*
  std::vector<MediaInfo> media;
  bool operator==(const MediaTypes&) const = default;

  bool Tape() const { return deviceType == kFileDeviceTape; }

  std::vector<std::uint8_t> Encode() const {
    std::vector<std::uint8_t> r(kHeaderSize + MediaInfo::kSize * media.size(), 0);
    Put32(&r[0], deviceType);
    Put32(&r[4], static_cast<std::uint32_t>(media.size()));
    for (std::size_t i = 0; i < media.size(); ++i) {
      std::uint8_t* e = &r[kHeaderSize + MediaInfo::kSize * i];
      const MediaInfo& m = media[i];
      if (Tape()) {
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
  // The entries the count names, as far as whole entries lie inside the block.
  static std::optional<MediaTypes> Decode(BlockView b) {
    if (b.size() < kHeaderSize) return std::nullopt;
    MediaTypes t;
    t.deviceType = Get32(&b[0]);
    const std::size_t count = std::min<std::size_t>(Get32(&b[4]), (b.size() - kHeaderSize) / MediaInfo::kSize);
    for (std::size_t i = 0; i < count; ++i) {
      const std::uint8_t* e = &b[kHeaderSize + MediaInfo::kSize * i];
      MediaInfo m;
      if (t.Tape()) {
        m.mediaType = Get32(e);
        m.characteristics = Get32(e + 4);
        m.currentBlockSize = Get32(e + 8);
        m.busType = Get32(e + 12);
      } else {
        m.cylinders = static_cast<std::int64_t>(Get64(e));
        m.mediaType = Get32(e + 8);
        m.tracksPerCylinder = Get32(e + 12);
        m.sectorsPerTrack = Get32(e + 16);
        m.bytesPerSector = Get32(e + 20);
        m.numberMediaSides = Get32(e + 24);
        m.characteristics = Get32(e + 28);
      }
      t.media.push_back(m);
    }
    return t;
  }
};

// --- IOCTL_STORAGE_GET_MEDIA_SERIAL_NUMBER: MEDIA_SERIAL_NUMBER_DATA -----------------------------
// The text's length, a result code, two reserved words, then the text.
struct MediaSerialNumber {
  static constexpr std::size_t kHeaderSize = 16;
  std::string serialNumber;
  std::uint32_t result = 0;
  bool operator==(const MediaSerialNumber&) const = default;

  std::vector<std::uint8_t> Encode() const {
    std::vector<std::uint8_t> r(kHeaderSize, 0);
    Put32(&r[0], static_cast<std::uint32_t>(serialNumber.size()));
    Put32(&r[4], result);
    r.insert(r.end(), serialNumber.begin(), serialNumber.end());
    r.push_back(0);
    return r;
  }
  // The text as far as its length, its terminator and the block all reach.
  static std::optional<MediaSerialNumber> Decode(BlockView b) {
    if (b.size() < kHeaderSize) return std::nullopt;
    const std::size_t n = std::min<std::size_t>(Get32(&b[0]), b.size() - kHeaderSize);
    return MediaSerialNumber{detail::TerminatedText(b.first(kHeaderSize + n), kHeaderSize), Get32(&b[4])};
  }
};

// --- IOCTL_SCSI_GET_ADDRESS: SCSI_ADDRESS ---------------------------------------------------------
struct ScsiAddress {
  static constexpr std::size_t kSize = 8;
  std::uint8_t portNumber = 0, pathId = 0, targetId = 0, lun = 0;
  bool operator==(const ScsiAddress&) const = default;

  std::vector<std::uint8_t> Encode() const {
    std::vector<std::uint8_t> r(kSize, 0);
    Put32(&r[0], kSize);  // Length
    r[4] = portNumber;
    r[5] = pathId;
    r[6] = targetId;
    r[7] = lun;
    return r;
  }
  static std::optional<ScsiAddress> Decode(BlockView b) {
    if (b.size() < kSize) return std::nullopt;
    return ScsiAddress{b[4], b[5], b[6], b[7]};
  }
};

// --- IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS: VOLUME_DISK_EXTENTS ---------------------------------
// A count, then 24-byte DISK_EXTENT entries from byte 8; the structure holds one entry even
// when the count is 0.
struct DiskExtent {
  static constexpr std::size_t kSize = 24;
  std::uint32_t diskNumber = 0;
  std::int64_t startingOffset = 0;
  std::int64_t length = 0;
  bool operator==(const DiskExtent&) const = default;
};

struct VolumeDiskExtents {
  static constexpr std::size_t kHeaderSize = 8;
  std::vector<DiskExtent> extents;
  // Decoded: the count the reply states, which may name more extents than it holds.
  std::uint32_t count = 0;
  bool operator==(const VolumeDiskExtents&) const = default;

  std::vector<std::uint8_t> Encode() const {
    std::vector<std::uint8_t> r(kHeaderSize + DiskExtent::kSize * std::max<std::size_t>(extents.size(), 1), 0);
    Put32(&r[0], static_cast<std::uint32_t>(extents.size()));
    for (std::size_t i = 0; i < extents.size(); ++i) {
      std::uint8_t* e = &r[kHeaderSize + DiskExtent::kSize * i];
      Put32(e, extents[i].diskNumber);
      Put64(e + 8, static_cast<std::uint64_t>(extents[i].startingOffset));
      Put64(e + 16, static_cast<std::uint64_t>(extents[i].length));
    }
    return r;
  }
  // The extents the count names, as far as whole entries lie inside the block.
  static std::optional<VolumeDiskExtents> Decode(BlockView b) {
    if (b.size() < kHeaderSize) return std::nullopt;
    VolumeDiskExtents v;
    v.count = Get32(&b[0]);
    const std::size_t n = std::min<std::size_t>(v.count, (b.size() - kHeaderSize) / DiskExtent::kSize);
    for (std::size_t i = 0; i < n; ++i) {
      const std::uint8_t* e = &b[kHeaderSize + DiskExtent::kSize * i];
      v.extents.push_back({Get32(e), static_cast<std::int64_t>(Get64(e + 8)), static_cast<std::int64_t>(Get64(e + 16))});
    }
    return v;
  }
};

}  // namespace kyvex::platform::devio
