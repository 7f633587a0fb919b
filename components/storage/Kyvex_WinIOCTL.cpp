#include "storage/Kyvex_WinIOCTL.h"

#include <cstdio>
#include <cstring>
#include <optional>

#include "common/Kyvex_Routines.h"
#include "platform/DeviceApi.h"
#include "platform/Text.h"

namespace kyvex {

using namespace platform::devio;

namespace {

platform::DeviceApi& Devices() { return platform::Current().Devices(); }

// The last identify block the port and miniport routines read.
std::array<std::uint8_t, 512> g_identify{};

constexpr std::size_t kMaxText = 255;

// A text of a device, which may hold any bytes (a bridge's inquiry data, an identify block
// from a file): trimmed as the bytes came, then made fit to show and cut to the record's
// width. Every text of a device reaches its record through here.
std::string FieldText(std::string_view s) { return text::CutUtf8(text::Sanitize(text::Trim(s)), kMaxText); }
std::string FieldText(const std::uint8_t* p, std::size_t n) {
  return FieldText(std::string_view(reinterpret_cast<const char*>(p), n));
}

// Sends a request; the reply is the bytes the call reported, never more than the buffer
// offered (a platform that reports more is not believed), and nothing when the call failed.
std::optional<BlockView> Request(Handle h, std::uint32_t code, const std::uint8_t* in, std::uint32_t inSize,
                                 std::uint8_t* out, std::uint32_t outSize) {
  std::uint32_t n = 0;
  if (!Devices().DeviceIoControl(h, code, in, inSize, out, outSize, n)) return std::nullopt;
  return BlockView(out, std::min(n, outSize));
}

// The reply of a request whose block decodes as `Block`; nothing when the call failed or its
// block is malformed.
template <class Block>
std::optional<Block> Ask(Handle h, std::uint32_t code, std::uint8_t* out, std::uint32_t outSize) {
  const auto reply = Request(h, code, nullptr, 0, out, outSize);
  return reply ? Block::Decode(*reply) : std::nullopt;
}

void CloseDevice(Handle h) {
  if (h != platform::kInvalidHandle) Devices().CloseHandle(h);
}

std::string DevicePath(const char* format, unsigned index) {
  char path[40];
  std::snprintf(path, sizeof path, format, index);
  return path;
}

// The drive/head register of the SMART driver and port routes: the 9x family selects master
// or slave by the index's parity, the NT family's drivers select the drive themselves.
std::uint8_t DriveHead(std::uint32_t index) {
  return IsNTFamily() ? 0xA0 : static_cast<std::uint8_t>(0xA0 | ((index & 1) << 4));
}

// A SMART command that reads one sector.
SmartCommandIn SmartCommand(std::uint8_t drive, std::uint8_t features, std::uint8_t cylLow, std::uint8_t cylHigh,
                            std::uint8_t driveHead, std::uint8_t command) {
  SmartCommandIn in;
  in.bufferSize = SmartCommandOut::kSectorSize;
  in.features = features;
  in.sectorCount = 1;
  in.sectorNumber = 1;
  in.cylLow = cylLow;
  in.cylHigh = cylHigh;
  in.driveHead = driveHead;
  in.command = command;
  in.driveNumber = drive;
  return in;
}

// Sends a SMART command, as many of its bytes as `inSize` names, and answers the sector it
// read; nothing when the call fails, the driver reports an error (a refused command, an
// absent drive) or the sector is not all there.
std::optional<std::array<std::uint8_t, 512>> SmartSector(Handle h, const SmartCommandIn& command, std::uint32_t inSize) {
  const auto in = command.Encode();
  std::uint8_t out[SmartCommandOut::kSize] = {};
  const auto reply = Request(h, kSmartRcvDriveData, in.data(), inSize, out, sizeof out);
  const auto decoded = reply ? SmartCommandOut::Decode(*reply) : std::nullopt;
  if (!decoded || decoded->driverError != 0 || decoded->data.size() < 512) return std::nullopt;
  std::array<std::uint8_t, 512> sector;
  std::memcpy(sector.data(), decoded->data.data(), sector.size());
  return sector;
}

// Sends the pass-through request whose header `sent` is written at the start of `block`; the
// reply comes back into the same block of `size` bytes.
std::optional<PassThroughReply> SendPassThrough(Handle h, const PassThroughRequest& sent, std::uint8_t* block,
                                                std::uint32_t size) {
  const auto reply = Request(h, kScsiPassThrough, block, kNativePassThrough.length, block, size);
  return reply ? ReadPassThroughReply(*reply, sent) : std::nullopt;
}

// Size, cylinders, heads, sector size and sectors per track from the platform's geometry;
// the geometry reads zero when the request fails.
void SizeFromGeometry(Handle h, TDeviceInfo& info) {
  GetDriveGeometry(h, info.Geometry);
  const TDiskGeometry& g = info.Geometry;
  // Unsigned arithmetic: a device may report any cylinder count, and the product must wrap
  // rather than overflow.
  info.Size = static_cast<std::int64_t>(static_cast<std::uint64_t>(g.Cylinders) * g.TracksPerCylinder *
                                        g.SectorsPerTrack * g.BytesPerSector);
  info.Cylinders = static_cast<std::int32_t>(static_cast<std::uint32_t>(g.Cylinders));
  info.Heads = static_cast<std::int32_t>(g.TracksPerCylinder);
  info.BytesPerSector = static_cast<std::int32_t>(g.BytesPerSector);
  info.SectorsPerTrack = static_cast<std::int32_t>(g.SectorsPerTrack);
}

// The follow-up requests end with the media serial number, taken only when the device gave
// none of its own.
void SerialFromMedia(Handle h, TDeviceInfo& info) {
  if (info.SerialNumber.empty()) info.SerialNumber = GetMediaSerialNumber(h);
}

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
int HexValue(char c) {
  if (c <= '9') return c - '0';
  return (c | 0x20) - 'a' + 10;
}

// The ATA major version from the major-version word when it names versions beyond ATA/ATAPI-7
// (its high byte in use), or from the minor-version code when the major word says nothing.
std::int32_t LaterAtaVersion(std::uint16_t word80, std::uint16_t word81) {
  // Indexed by the minor-version code; the sign marks drafts, 0 means no version.
  static constexpr std::int8_t kMinorToMajor[35] = {0, 1, 1, 1, 2, 2, -3, 2, -3, 2, 3, 3, 3, 4, 4, 4, 4, 4,
                                                   4, 5, 4, 5, 5, 4, 6, 6, 7, 6, 6, 0, 7, 0, 0, 7, 6};
  if (word80 != 0xFFFF)
    for (int bit = 14; bit >= 1; --bit)
      if (word80 & (1u << bit)) return bit;
  if (word81 < 35 && kMinorToMajor[word81] != 0) return kMinorToMajor[word81] < 0 ? -kMinorToMajor[word81] : kMinorToMajor[word81];
  return 1;
}

// --- ATA commands through ATA PASS-THROUGH ------------------------------------------------------

struct AtaTaskFile {
  std::uint8_t command = 0, features = 0, count = 0, lbaLow = 0, lbaMid = 0, lbaHigh = 0;
};

// What a device behind a SCSI interface made of an ATA PASS-THROUGH request.
struct SatOutcome {
  bool taken = false;   // the device took the command in this form
  bool refused = false;  // the drive refused the ATA command (ERR, or ABORTED COMMAND)
  std::optional<std::uint8_t> count;  // the count register, where the registers came back
  std::optional<std::array<std::uint8_t, 512>> data;
};

// The ATA registers a SAT device returns in its sense data: the ATA Status Return descriptor
// of descriptor-format sense, or the information fields of fixed-format sense that carries
// "ATA pass-through information available". Error, status and count.
struct AtaRegisters {
  std::uint8_t error = 0, status = 0, count = 0;
};
std::optional<AtaRegisters> AtaRegistersFromSense(const std::vector<std::uint8_t>& s) {
  if (s.size() < 8) return std::nullopt;
  const std::uint8_t code = s[0] & 0x7F;
  if (code == 0x72 || code == 0x73) {
    const std::size_t end = std::min<std::size_t>(s.size(), 8u + s[7]);
    for (std::size_t p = 8; p + 1 < end; p += 2u + s[p + 1])
      if (s[p] == 0x09 && p + 13 < end) return AtaRegisters{s[p + 3], s[p + 13], s[p + 5]};
    return std::nullopt;
  }
  if ((code == 0x70 || code == 0x71) && s.size() >= 14 && s[12] == 0x00 && s[13] == 0x1D)
    return AtaRegisters{s[3], s[4], s[6]};
  return std::nullopt;
}

std::uint8_t SenseKey(const std::vector<std::uint8_t>& s) {
  if (s.empty()) return 0;
  const std::uint8_t code = s[0] & 0x7F;
  if (code >= 0x72) return s.size() > 1 ? s[1] & 0x0F : 0;
  return s.size() > 2 ? s[2] & 0x0F : 0;
}

// Sends an ATA command as ATA PASS-THROUGH(16), or (12) when `twelve`: PIO data-in of one
// sector when `dataIn`, otherwise no data with the registers asked back (CK_COND). Nothing
// when the request itself failed (no pass-through on this handle).
std::optional<SatOutcome> SatCommand(Handle h, const AtaTaskFile& r, bool dataIn, bool twelve) {
  const PassThroughForm& form = kNativePassThrough;
  const std::uint32_t senseAt = form.length, dataAt = form.length + 32;
  std::uint8_t block[kPassThrough64.length + 32 + 512] = {};
  PassThroughRequest request;
  request.cdbLength = twelve ? 12 : 16;
  request.senseInfoLength = 32;
  request.dataIn = dataIn ? 1 : 2;  // SCSI_IOCTL_DATA_IN, SCSI_IOCTL_DATA_UNSPECIFIED
  request.dataTransferLength = dataIn ? 512 : 0;
  request.timeOutValue = 15;
  request.senseInfoOffset = senseAt;
  request.dataBufferOffset = dataAt;
  // Data-in: from the device, counted in blocks, the length in the count register.
  // Non-data: the registers back in the sense data.
  AtaCommandBlock command = AtaCommandBlock::PioIn(r.command, r.features, r.count, r.lbaLow, r.lbaMid, r.lbaHigh);
  if (!dataIn) {
    command.protocol = AtaCommandBlock::kNonData;
    command.flags = AtaCommandBlock::kCheckCondition;
  }
  request.cdb = command.Encode(twelve);
  WritePassThrough(request, block, form);
  const auto reply = SendPassThrough(h, request, block, dataAt + 512);
  if (!reply) return std::nullopt;
  SatOutcome out;
  if (reply->scsiStatus == 0) {
    out.taken = true;
    if (const auto regs = AtaRegistersFromSense(reply->sense)) out.count = regs->count;
    if (dataIn && reply->data.size() == 512) {
      out.data.emplace();
      std::memcpy(out.data->data(), reply->data.data(), 512);
    }
    return out;
  }
  if (reply->scsiStatus != 0x02) return out;  // busy, reservation conflict: nothing learnt
  if (const auto regs = AtaRegistersFromSense(reply->sense)) {
    out.taken = true;
    out.refused = regs->status & 0x01;
    out.count = regs->count;
    return out;
  }
  // ABORTED COMMAND: the drive refused it; ILLEGAL REQUEST and the rest: the form was not
  // taken.
  if (SenseKey(reply->sense) == 0x0B) out.taken = out.refused = true;
  return out;
}

// The SMART attribute entries of a SMART READ DATA sector into the record, unused ones
// skipped; the temperature from attribute 194.
void TakeSmartAttributes(BlockView sector, TDeviceInfo& info) {
  const SmartData table = SmartData::Decode(sector).value_or(SmartData{});
  for (const auto& e : table.entries) {
    if (e[0] == 0) continue;
    info.SMARTAttributes.push_back(TSMARTAttribute{e});
    if (e[0] == 194) info.Temperature = e[5];
  }
}

std::optional<std::string> BridgeName(Handle Device);
bool OnBridgedBus(Handle Device);
bool NvmeBus(Handle Device);

// The power condition a SCSI device reports to REQUEST SENSE. A device that refuses the
// request is taken to be awake, as smartctl takes it; nothing is known when the request
// does not reach it.
TPowerMode ScsiPowerCondition(Handle h) {
  const PassThroughForm& form = kNativePassThrough;
  constexpr std::uint32_t kSenseSize = 32;
  std::uint8_t block[kPassThrough64.length + 32 + kSenseSize] = {};
  PassThroughRequest request;
  const auto cdb = RequestSenseCdb(kSenseSize);
  request.cdbLength = static_cast<std::uint8_t>(cdb.size());
  std::copy(cdb.begin(), cdb.end(), request.cdb.begin());
  request.senseInfoLength = 32;
  request.dataIn = 1;
  request.dataTransferLength = kSenseSize;
  request.timeOutValue = 5;
  request.senseInfoOffset = form.length;
  request.dataBufferOffset = form.length + 32;
  WritePassThrough(request, block, form);
  const auto reply = SendPassThrough(h, request, block, form.length + 32 + kSenseSize);
  if (!reply) return TPowerMode::Unknown;
  if (reply->scsiStatus != 0) return TPowerMode::Awake;
  const auto sense = SenseData::Decode(reply->data);
  return sense && sense->Standby() ? TPowerMode::Standby : TPowerMode::Awake;
}

}  // namespace

std::uint64_t TSMARTAttribute::Raw() const {
  std::uint64_t v = 0;
  for (int i = 10; i >= 5; --i) v = (v << 8) | Bytes[i];
  return v;
}

bool IsNTFamily() {
  const std::uint32_t id = PlatformSnapshot().PlatformId;
  return id == platform::kPlatformWin32NT || id == platform::kPlatformLinux;
}

void ResetDeviceInfo(TDeviceInfo& Info) { Info = TDeviceInfo{}; }

const std::array<std::uint8_t, 512>& IdentifyBuffer() { return g_identify; }

Handle OpenDevice(const std::string& Path) {
  auto& devices = Devices();
  // A drive without a medium must not bring up the system's "insert a disk" dialog.
  const std::uint32_t previous = devices.SetErrorMode(kSemFailCriticalErrors);
  const Handle h = devices.CreateFile(Path, kGenericRead | kGenericWrite, kFileShareRead | kFileShareWrite,
                                      kOpenExisting, kFileAttributeNormal);
  devices.SetErrorMode(previous);
  return h;
}

void ParseIdentifyData(std::span<std::uint8_t, 512> Block, bool Swap, TDeviceInfo& Info) {
  std::uint8_t* b = Block.data();
  auto word = [b](int n) -> std::uint16_t { return Get16(b + 2 * n); };

  // ATA texts put their first character in the high byte of each word.
  if (Swap) {
    for (int n = 10; n <= 19; ++n) std::swap(b[2 * n], b[2 * n + 1]);
    for (int n = 23; n <= 46; ++n) std::swap(b[2 * n], b[2 * n + 1]);
  }

  Info.Removable = false;
  const std::uint16_t w0 = word(0);
  if (w0 & 0x8000) {
    Info.DeviceType = kDeviceTypeCdRom;
  } else if (w0 & 0x0080) {
    Info.DeviceType = kDeviceTypeDisk;
    Info.Removable = true;
  } else if (w0 & 0x0040) {
    Info.DeviceType = kDeviceTypeDisk;
  } else {
    Info.DeviceType = kDeviceTypeUnknown;
  }

  Info.Cylinders = word(1);
  Info.Heads = word(3);
  Info.BytesPerTrack = word(4);
  Info.BytesPerSector = word(5);
  Info.SectorsPerTrack = word(6);
  Info.SerialNumber = FieldText(b + 20, 20);
  Info.CtlBufSize = static_cast<std::uint32_t>(word(21)) * 512;
  Info.ECCCode = word(22);
  Info.Revision = FieldText(b + 46, 8);

  // "WDC WD2500JB-00REA0" is vendor and model; "ST320410A" is a model alone.
  const std::string modelText(reinterpret_cast<const char*>(b + 54), 40);
  const std::size_t space = modelText.find(' ');
  if (space == std::string::npos) {
    Info.Model = FieldText(modelText);
    Info.Vendor.clear();
  } else {
    Info.Model = FieldText(std::string_view(modelText).substr(space));
    Info.Vendor = FieldText(std::string_view(modelText).substr(0, space + 1));
  }
  if (Info.Model.empty()) {
    Info.Model = Info.Vendor;
    Info.Vendor.clear();
  }

  const bool word83Valid = (word(83) & 0xC000) == 0x4000;
  std::uint64_t sectors = static_cast<std::uint64_t>(word(60)) | (static_cast<std::uint64_t>(word(61)) << 16);
  // Words 60-61 stop at 2^28 sectors (128 GiB); a device with the 48-bit feature set counts
  // its sectors in words 100-103. Counts of 2^48 or more are not addresses any device has.
  if (word83Valid && (word(83) & 0x0400)) {
    const std::uint64_t lba48 = static_cast<std::uint64_t>(word(100)) | (static_cast<std::uint64_t>(word(101)) << 16) |
                                (static_cast<std::uint64_t>(word(102)) << 32) |
                                (static_cast<std::uint64_t>(word(103)) << 48);
    if (lba48 > sectors && lba48 < (std::uint64_t{1} << 48)) sectors = lba48;
  }
  if (sectors < 0xFC0000) sectors = static_cast<std::uint32_t>(std::uint32_t{word(1)} * word(3) * word(6));
  Info.Size = static_cast<std::int64_t>(sectors * 512);

  const std::uint16_t w80 = word(80);
  if ((w80 >> 8) == 0) {
    Info.ATAVersion = 1;
    for (int bit = 7; bit >= 1; --bit)
      if (w80 & (1u << bit)) {
        Info.ATAVersion = bit;
        break;
      }
  } else {
    Info.ATAVersion = LaterAtaVersion(w80, word(81));
  }

  Info.SMARTSupport = word83Valid && (word(82) & 1);
  Info.SMARTActive = Info.SMARTSupport && (word(87) & 0xC000) == 0x4000 && (word(85) & 1);
  Info.ExtraInfoAvailable = true;
}

bool IdentifyBySMART(std::uint8_t DriveIndex, TDeviceInfo& Info) {
  ResetDeviceInfo(Info);
  Info.Device = DriveIndex;
  Info.PHYSIndex = -1;
  const std::string path = DevicePath("\\\\.\\PhysicalDrive%u", DriveIndex);
  const Handle h = OpenDevice(path);
  if (h == platform::kInvalidHandle) return false;

  // The power mode first: IDENTIFY and the SMART reads would wake a sleeping disk. A sleeping
  // disk is described by what the system knows without asking it, and said to be asleep.
  if (CheckPowerMode(h, true) == TPowerMode::Standby) {
    CloseDevice(h);
    Info.Standby = true;  // before the query, whose SMART read must not ask the disk again
    QueryStorageProperty(path, DriveIndex, Info);
    if (Info.DeviceType == 0) Info.DeviceType = kDeviceTypeDisk;
    return true;
  }

  std::uint8_t version[SmartVersion::kSize] = {};
  const auto versionReply = Request(h, kSmartGetVersion, nullptr, 0, version, sizeof version);
  // No SMART driver answers for a drive behind a bridge; the drive may still take ATA
  // commands wrapped in SCSI ones.
  if (!versionReply && IdentifyBySAT(h, Info)) {
    GetMediaTypes(h, Info);
    GetSCSIAddress(h, Info);
    GetDriveGeometry(h, Info.Geometry);
    GetDriveLayout(h, Info.Layout);
    CloseDevice(h);
    return true;
  }
  if (!versionReply) {
    // No SMART driver: a removable disk, described by its geometry alone.
    TDiskGeometry g;
    if (!GetDriveGeometry(h, g)) {
      CloseDevice(h);
      return false;
    }
    ResetDeviceInfo(Info);
    Info.Device = DriveIndex;
    Info.PHYSIndex = -1;
    Info.DeviceType = kDeviceTypeDisk;
    Info.Removable = true;
    Info.Size = static_cast<std::int64_t>(static_cast<std::uint64_t>(g.Cylinders) * g.TracksPerCylinder *
                                          g.SectorsPerTrack * g.BytesPerSector);
    Info.Cylinders = static_cast<std::int32_t>(static_cast<std::uint32_t>(g.Cylinders));
    Info.Heads = static_cast<std::int32_t>(g.TracksPerCylinder);
    Info.BytesPerSector = static_cast<std::int32_t>(g.BytesPerSector);
    Info.SectorsPerTrack = static_cast<std::int32_t>(g.SectorsPerTrack);
    GetDriveLayout(h, Info.Layout);
    CloseDevice(h);
    return true;
  }

  // A version block cut short names no drive in its map.
  const std::uint8_t map = SmartVersion::Decode(*versionReply).value_or(SmartVersion{}).ideDeviceMap;
  const std::uint8_t command = IsBitSet(map, static_cast<std::uint8_t>(DriveIndex % 32)) ? 0xEC : 0xA1;
  SmartCommandIn in = SmartCommand(DriveIndex, 0, 0, 0, static_cast<std::uint8_t>((0xA0 | ((DriveIndex + 1) << 4)) & 0xFF),
                                   command);
  auto identify = SmartSector(h, in, SmartCommandIn::kSize);
  // The device map is one byte wide, so from drive 8 on it names the wrong command; a device
  // that refuses the command it was sent is asked with the other one too.
  if (!identify) {
    in.command = command == 0xEC ? 0xA1 : 0xEC;
    identify = SmartSector(h, in, SmartCommandIn::kSize);
  }
  if (!identify) {
    CloseDevice(h);
    return false;
  }
  ParseIdentifyData(*identify, true, Info);
  // A platform whose SMART route reaches drives behind bridges (Linux sends the commands as
  // ATA PASS-THROUGH) has read the drive, not the bridge.
  if (OnBridgedBus(h)) Info.Bridge = BridgeName(h).value_or("SCSI to ATA bridge");
  GetMediaTypes(h, Info);
  GetSCSIAddress(h, Info);
  GetDriveGeometry(h, Info.Geometry);
  GetDriveLayout(h, Info.Layout);
  ReadSMARTAttributes(h, Info);
  SerialFromMedia(h, Info);
  CloseDevice(h);
  return true;
}

bool IdentifyBySCSIMiniport(std::uint8_t Index, TDeviceInfo& Info) {
  ResetDeviceInfo(Info);
  Info.Device = Index;
  Info.PHYSIndex = -1;
  const Handle h = OpenDevice(DevicePath("\\\\.\\Scsi%u:", Index / 2u));
  if (h == platform::kInvalidHandle) return false;

  // SRB_IO_CONTROL followed by a SMART command input whose only set registers are the command
  // and the drive number; the reply comes back in the same block, behind the header.
  SrbIoControl srb;
  srb.signature = {'S', 'C', 'S', 'I', 'D', 'I', 'S', 'K'};
  srb.timeout = 10000;
  srb.controlCode = 0x1B0501;  // the identify function of the disk miniports
  srb.length = SmartCommandOut::kSize;
  SmartCommandIn command;
  command.command = 0xEC;
  command.driveNumber = static_cast<std::uint8_t>(Index % 2);
  std::uint8_t block[SrbIoControl::kSize + SmartCommandOut::kSize] = {};
  const auto header = srb.Encode();
  const auto input = command.Encode();
  std::memcpy(block, header.data(), header.size());
  std::memcpy(block + SrbIoControl::kSize, input.data(), input.size());
  const auto reply = Request(h, kScsiMiniport, block, SrbIoControl::kSize + SmartCommandIn::kShortSize, block,
                             sizeof block);
  const auto output = reply && reply->size() >= SrbIoControl::kSize
                          ? SmartCommandOut::Decode(reply->subspan(SrbIoControl::kSize))
                          : std::nullopt;
  // Only the first half of the identify data is kept. A miniport answers for every position;
  // an empty model text means nobody is there.
  if (!output || output->data.size() < 256 || output->data[54] == 0) {
    CloseDevice(h);
    return false;
  }
  std::memcpy(g_identify.data(), output->data.data(), 256);
  ParseIdentifyData(g_identify, true, Info);
  GetMediaTypes(h, Info);
  GetDriveGeometry(h, Info.Geometry);
  GetDriveLayout(h, Info.Layout);
  GetSCSIAddress(h, Info);
  ReadSMARTAttributes(h, Info);
  SerialFromMedia(h, Info);
  CloseDevice(h);
  return true;
}

bool InquireBySCSIPassThrough(Handle Device, std::uint8_t Index, TDeviceInfo& Info) {
  ResetDeviceInfo(Info);
  Info.Device = Index;
  Info.PHYSIndex = -1;

  // Header, 32 bytes for the sense area (24 used), then 192 bytes of data: 76 and 268 bytes
  // in a 32-bit process, 88 and 280 in a 64-bit one.
  const PassThroughForm& form = kNativePassThrough;
  const std::uint32_t kData = form.length + 32;
  const std::uint32_t kReplySize = kData + 192;
  std::uint8_t block[312] = {};
  PassThroughRequest request;
  request.cdbLength = 6;
  request.senseInfoLength = 24;
  request.dataIn = 1;
  request.dataTransferLength = 192;
  request.timeOutValue = 2;
  request.dataBufferOffset = kData;
  request.senseInfoOffset = form.length;
  request.cdb[0] = 0x12;  // INQUIRY
  request.cdb[4] = 192;
  WritePassThrough(request, block, form);

  const auto inquiry = SendPassThrough(Device, request, block, kReplySize);
  const bool result = inquiry && inquiry->scsiStatus == 0;
  if (result)
    if (const auto data = InquiryData::Decode(inquiry->data)) {
      Info.Vendor = FieldText(data->vendor);
      Info.Model = FieldText(data->product);
      Info.Revision = FieldText(data->revision);
      Info.VendorStr = FieldText(data->vendorSpecific);
    }

  // MODE SENSE(6) of the CD capabilities page, in the block as the inquiry left it: its header
  // carries the inquiry's status and counts into the second request.
  PassThroughRequest modeSense = ReadPassThroughHeader(block, form);
  modeSense.cdb[0] = 0x1A;
  modeSense.cdb[1] = 0x08;
  modeSense.cdb[2] = 0x2A;
  WritePassThrough(modeSense, block, form);
  if (const auto mode = SendPassThrough(Device, modeSense, block, kReplySize); mode && mode->scsiStatus == 0) {
    // Only a page the device really returned counts: a disk refuses the page, and the data
    // area then still holds the inquiry bytes. The page follows the 4-byte header and any
    // block descriptors the device sent despite being asked for none; its bytes 2 and 3 say
    // what the drive reads and writes.
    const auto data = ModeSense6Data::Decode(mode->data);
    if (data && data->pageCode == 0x2A && data->page.size() >= 2) {
      const std::uint8_t rd = data->page[0];
      const std::uint8_t wr = data->page[1];
      Info.Read_CDR = rd & 0x01;
      Info.Read_CDRW = rd & 0x02;
      Info.Read_DVDROM = rd & 0x08;
      Info.Read_DVDR = rd & 0x10;
      Info.Read_DVDRAM = rd & 0x20;
      Info.Write_CDR = wr & 0x01;
      Info.Write_CDRW = wr & 0x02;
      Info.Write_DVDR = wr & 0x10;
      Info.Write_DVDRAM = wr & 0x20;
    }
  }

  SizeFromGeometry(Device, Info);
  GetMediaTypes(Device, Info);
  GetSCSIAddress(Device, Info);
  ReadSMARTAttributes(Device, Info);
  SerialFromMedia(Device, Info);
  return result;
}

bool QueryStorageProperty(const std::string& Path, std::uint8_t Index, TDeviceInfo& Info) {
  Info.PHYSIndex = -1;
  Info.Device = Index;
  const Handle h = Devices().CreateFile(Path, 0, kFileShareRead | kFileShareWrite, kOpenExisting, 0);
  if (h == platform::kInvalidHandle) return false;

  std::vector<std::uint8_t> query = StoragePropertyQuery{}.Encode();  // device descriptor, standard query
  query.resize(1024, 0);
  std::vector<std::uint8_t> out(10231, 0);
  const auto reply = Request(h, kStorageQueryProperty, query.data(), 1024, out.data(), 10231);
  const auto descriptor = reply ? DeviceDescriptor::Decode(*reply) : std::nullopt;
  if (descriptor) {
    // Only texts still empty are filled; the other routes know better.
    auto take = [](std::string& field, const std::optional<std::string>& t, bool serial) {
      if (!field.empty() || !t) return;
      field = FieldText(serial ? DecodeSerialNumberHex(*t) : *t);
    };
    take(Info.Vendor, descriptor->vendor, false);
    take(Info.Model, descriptor->product, false);
    take(Info.Revision, descriptor->revision, false);
    take(Info.SerialNumber, descriptor->serialNumber, true);
    Info.BusType = descriptor->busType;
    if (Info.DeviceType == 0) Info.DeviceType = descriptor->deviceType;
    Info.Removable = descriptor->removableMedia;
  }

  GetMediaTypes(h, Info);
  SizeFromGeometry(h, Info);
  GetSCSIAddress(h, Info);
  ReadSMARTAttributes(h, Info);
  SerialFromMedia(h, Info);
  CloseDevice(h);
  return descriptor.has_value();
}

bool IdentifyBySMARTVSD(std::uint8_t DriveIndex, TDeviceInfo& Info) {
  ResetDeviceInfo(Info);
  Info.Device = DriveIndex;
  Info.PHYSIndex = -1;
  const Handle h = OpenDevice("\\\\.\\SMARTVSD");
  if (h == platform::kInvalidHandle) return false;

  // The driver answers for absent drives too, with an error byte and no data; such a reply
  // describes no device.
  auto identify = SmartSector(h, SmartCommand(DriveIndex, 0, 0, 0, DriveHead(DriveIndex), 0xEC), SmartCommandIn::kShortSize);
  if (!identify) {
    CloseDevice(h);
    return false;
  }
  ParseIdentifyData(*identify, true, Info);
  GetDriveGeometry(h, Info.Geometry);
  GetDriveLayout(h, Info.Layout);
  ReadSMARTAttributes(h, Info);
  CloseDevice(h);
  return true;
}

bool IdentifyByPorts(std::uint8_t DriveIndex, TDeviceInfo& Info) {
  ResetDeviceInfo(Info);
  Info.Device = DriveIndex;
  Info.PHYSIndex = -1;
  // A virtual machine's emulated controller is reached through the SMART driver instead.
  if (IsVMWare() || IsVirtualPC()) return false;
  static constexpr std::uint16_t kBase[4] = {0x1F0, 0x170, 0x1E8, 0x168};
  if (DriveIndex >= 8) return false;
  const std::uint16_t base = kBase[DriveIndex / 2];
  const std::uint16_t statusPort = static_cast<std::uint16_t>(base + 7);

  std::uint8_t status = 0;
  auto wait = [&](auto condition) {
    for (int i = 0; i < 100000; ++i) {
      std::uint8_t s = 0;
      if (ReadPort(statusPort, &s, 1) && condition(s)) {
        status = s;
        return true;
      }
    }
    return false;
  };
  auto readyOrError = [](std::uint8_t s) { return (s & 0x41) != 0; };
  auto readData = [&] {
    for (int i = 0; i < 256; ++i) {
      std::uint16_t w = 0;
      ReadPort(base, &w, 2);
      g_identify[2 * i] = static_cast<std::uint8_t>(w);
      g_identify[2 * i + 1] = static_cast<std::uint8_t>(w >> 8);
    }
    ParseIdentifyData(g_identify, true, Info);
    return true;
  };

  wait(readyOrError);
  WritePort(static_cast<std::uint16_t>(base + 6), (DriveIndex % 2) ? 0xB0 : 0xA0, 1);
  if (!wait(readyOrError)) return false;

  // IDENTIFY DEVICE first. A disk then holds its data ready (DRQ); only a packet device
  // refuses it, and a disk would refuse the packet command that follows, losing its data.
  WritePort(statusPort, 0xEC, 1);
  if (wait([](std::uint8_t s) { return (s & 0x80) == 0 && (s & 0x09) != 0; }) && (status & 0x09) == 0x08)
    return readData();

  WritePort(statusPort, 0xA1, 1);
  if (!wait([](std::uint8_t s) { return (s & 0x48) == 0x48 || (s & 0x01); }) || (status & 0x01)) return false;
  return readData();
}

bool ReadSMARTAttributes(Handle Device, TDeviceInfo& Info) {
  Info.SMARTAttributes.clear();
  Info.Temperature = 0;
  // SMART READ DATA spins a sleeping disk up; an inventory taken every hour would then keep
  // every disk awake. The handle may be an optical drive's: nothing that is BLANK to one.
  if (Info.Standby || CheckPowerMode(Device, false) == TPowerMode::Standby) {
    Info.Standby = true;
    return false;
  }
  const auto in =
      SmartCommand(static_cast<std::uint8_t>(Info.Device), 0xD0, 0x4F, 0xC2, DriveHead(Info.Device), 0xB0).Encode();
  std::uint8_t out[SmartCommandOut::kSize] = {};
  const auto reply = Request(Device, kSmartRcvDriveData, in.data(), SmartCommandIn::kShortSize, out, sizeof out);
  const auto values = reply ? SmartCommandOut::Decode(*reply) : std::nullopt;
  if (!values) return false;
  // The sector is read as far as it came back, whole entries only, unused ones skipped. A
  // refused command comes back with an empty or zeroed sector, which adds no entries.
  TakeSmartAttributes(values->data, Info);
  return true;
}

namespace {

// The mode the count register of CHECK POWER MODE tells: 00h standby, 01h standby (ACS-3's
// Standby_y); idle and active modes above.
TPowerMode PowerModeOfCount(std::uint8_t count) { return count <= 0x01 ? TPowerMode::Standby : TPowerMode::Awake; }

// CHECK POWER MODE through the ATA port driver's own request, for the drivers that do not
// translate SCSI's ATA PASS-THROUGH (Windows' AHCI and IDE drivers): no data, the registers
// written back over the task file. Unknown when the drive refuses the command (it is an ATA
// drive all the same); nothing when the request fails.
std::optional<TPowerMode> AtaPortPowerMode(Handle h) {
  const AtaPassThroughForm& form = kNativeAtaPassThrough;
  AtaPassThrough request;
  request.flags = AtaPassThrough::kDrdyRequired;
  request.timeOutValue = 5;
  request.dataBufferOffset = form.length;  // no data follows
  request.currentTaskFile[6] = 0xE5;
  std::vector<std::uint8_t> block = request.Encode(form);
  const auto size = static_cast<std::uint32_t>(block.size());
  const auto reply = Request(h, kAtaPassThrough, block.data(), size, block.data(), size);
  const auto registers = reply ? AtaPassThrough::Decode(*reply, form) : std::nullopt;
  if (!registers) return std::nullopt;
  const std::uint8_t status = registers->currentTaskFile[6];
  if (status & 0x01) return TPowerMode::Unknown;  // ERR: the drive refused the command
  return PowerModeOfCount(registers->currentTaskFile[1]);
}

}  // namespace

TPowerMode CheckPowerMode(Handle Device, bool Disk) {
  // The 9x family's SMART driver knows no pass-through.
  if (!IsNTFamily()) return TPowerMode::Unknown;
  bool reached = false;  // the SCSI pass-through reached the device
  for (bool twelve : {false, true}) {
    if (twelve && !Disk) break;
    const auto r = SatCommand(Device, AtaTaskFile{0xE5}, false, twelve);
    if (!r) break;
    reached = true;
    if (!r->taken) continue;
    if (r->refused || !r->count) return TPowerMode::Unknown;
    return PowerModeOfCount(*r->count);
  }
  // A SATA drive whose port driver does not translate ATA PASS-THROUGH takes the command
  // through the driver's own request.
  if (const auto mode = AtaPortPowerMode(Device)) return *mode;
  // A disk that takes no ATA command at all: a SCSI or SAS disk, which reports its power
  // condition to REQUEST SENSE. Not an NVMe disk: its driver's translation of the request
  // may tell a power state of its own, and its pages are read whatever its state.
  if (!Disk || !reached || NvmeBus(Device)) return TPowerMode::Unknown;
  return ScsiPowerCondition(Device);
}

namespace {

// The name a bridge gives itself in its inquiry data ("JMicron Generic"); nothing when the
// device is not a direct-access device or does not answer.
std::optional<std::string> BridgeName(Handle Device) {
  const PassThroughForm& form = kNativePassThrough;
  std::uint8_t block[kPassThrough64.length + 32 + 96] = {};
  PassThroughRequest inquiry;
  inquiry.cdbLength = 6;
  inquiry.senseInfoLength = 24;
  inquiry.dataIn = 1;
  inquiry.dataTransferLength = 96;
  inquiry.timeOutValue = 2;
  inquiry.senseInfoOffset = form.length;
  inquiry.dataBufferOffset = form.length + 32;
  inquiry.cdb[0] = 0x12;
  inquiry.cdb[4] = 96;
  WritePassThrough(inquiry, block, form);
  const auto answer = SendPassThrough(Device, inquiry, block, form.length + 32 + 96);
  const auto bridge = answer && answer->scsiStatus == 0 ? InquiryData::Decode(answer->data) : std::nullopt;
  if (!bridge || (bridge->peripheral & 0x1F) != 0) return std::nullopt;
  std::string name = FieldText(bridge->vendor);
  const std::string product = FieldText(bridge->product);
  if (!product.empty()) name += (name.empty() ? "" : " ") + product;
  return name.empty() ? "SCSI to ATA bridge" : name;
}

// The bus the storage driver names for the device; nothing when it does not answer.
std::optional<std::uint32_t> BusOf(Handle Device) {
  std::vector<std::uint8_t> query = StoragePropertyQuery{}.Encode();
  std::vector<std::uint8_t> out(1024, 0);
  const auto reply = Request(Device, kStorageQueryProperty, query.data(), static_cast<std::uint32_t>(query.size()),
                             out.data(), static_cast<std::uint32_t>(out.size()));
  const auto d = reply ? DeviceDescriptor::Decode(*reply) : std::nullopt;
  if (!d) return std::nullopt;
  return d->busType;
}

// Whether the device's bus puts a bridge between the system and an ATA drive.
bool OnBridgedBus(Handle Device) {
  switch (BusOf(Device).value_or(kBusUnknown)) {
    case kBusUsb: case kBusSas: case kBusScsi: case kBus1394: case kBusFibre: case kBusiScsi: return true;
    default: return false;
  }
}

bool NvmeBus(Handle Device) { return BusOf(Device) == kBusNvme; }

}  // namespace

bool IdentifyBySAT(Handle Device, TDeviceInfo& Info) {
  // Only a direct-access device is asked: the 12-byte form is BLANK to an optical drive.
  const auto bridge = BridgeName(Device);
  if (!bridge) return false;

  std::optional<std::array<std::uint8_t, 512>> identify;
  bool twelve = false;
  for (bool form12 : {false, true}) {
    const auto r = SatCommand(Device, AtaTaskFile{0xEC, 0, 1}, true, form12);
    if (!r) return false;
    if (!r->taken) continue;
    if (r->refused || !r->data) return false;
    identify = r->data;
    twelve = form12;
    break;
  }
  if (!identify) return false;
  // A bridge that answers for a drive that is not there sends zeros.
  TDeviceInfo drive = Info;
  ParseIdentifyData(*identify, true, drive);
  if (text::Trim(drive.Model).empty()) return false;
  Info = drive;
  Info.Bridge = *bridge;
  Info.SMARTAttributes.clear();
  Info.Temperature = 0;
  if (Info.SMARTActive)
    if (const auto r = SatCommand(Device, AtaTaskFile{0xB0, 0xD0, 1, 0, 0x4F, 0xC2}, true, twelve); r && r->taken && !r->refused && r->data)
      TakeSmartAttributes(*r->data, Info);
  return true;
}

namespace {

// One page of NVMe data through the protocol-specific query; nothing when the call fails or
// the driver gives back less than was asked for.
std::optional<std::vector<std::uint8_t>> NvmePage(Handle h, std::uint32_t property, std::uint32_t dataType,
                                                  std::uint32_t value, std::uint32_t subValue, std::uint32_t length) {
  ProtocolQuery query;
  query.propertyId = property;
  query.data.protocolType = ProtocolSpecificData::kProtocolNvme;
  query.data.dataType = dataType;
  query.data.requestValue = value;
  query.data.requestSubValue = subValue;
  query.data.dataLength = length;
  std::vector<std::uint8_t> block = query.Encode();
  const auto size = static_cast<std::uint32_t>(block.size());
  const auto reply = Request(h, kStorageQueryProperty, block.data(), size, block.data(), size);
  const auto descriptor = reply ? ProtocolDataDescriptor::Decode(*reply) : std::nullopt;
  if (!descriptor || descriptor->payload.size() < length) return std::nullopt;
  return descriptor->payload;
}

// The value of an NVMe feature (its current value) through the protocol-specific query;
// nothing when the call fails.
std::optional<std::uint32_t> NvmeFeature(Handle h, std::uint32_t feature) {
  ProtocolQuery query;
  query.propertyId = ProtocolQuery::kAdapterProperty;
  query.data.protocolType = ProtocolSpecificData::kProtocolNvme;
  query.data.dataType = ProtocolSpecificData::kNvmeFeature;
  query.data.requestValue = feature;
  std::vector<std::uint8_t> block = query.Encode();
  const auto size = static_cast<std::uint32_t>(block.size());
  const auto reply = Request(h, kStorageQueryProperty, block.data(), size, block.data(), size);
  // The value stands in the protocol data alone: only a reply that is a protocol data
  // descriptor (its version and size say so) carries one.
  constexpr std::uint32_t kDescriptorSize = ProtocolDataDescriptor::kHeaderSize;
  if (!reply || reply->size() < kDescriptorSize || Get32(reply->data()) != kDescriptorSize ||
      Get32(reply->data() + 4) != kDescriptorSize)
    return std::nullopt;
  const auto descriptor = ProtocolDataDescriptor::Decode(*reply);
  if (!descriptor) return std::nullopt;
  return descriptor->data.fixedReturnData;
}

// A 128-bit little-endian counter of the health log, as far as 64 bits hold it.
std::uint64_t Counter128(const std::uint8_t* p) {
  for (int i = 8; i < 16; ++i)
    if (p[i]) return UINT64_MAX;
  return Get64(p);
}

}  // namespace

bool ParseNvmeIdentifyController(std::span<const std::uint8_t> Page, TDeviceInfo& Info) {
  // Serial number (bytes 4-23), model number (24-63) and firmware revision (64-71): ASCII,
  // blank-padded, first character first.
  if (Page.size() < 72) return false;
  const std::string model = FieldText(Page.data() + 24, 40);
  if (model.empty()) return false;  // no controller answered
  Info.Model = model;
  Info.SerialNumber = FieldText(Page.data() + 4, 20);
  Info.Revision = FieldText(Page.data() + 64, 8);
  return true;
}

std::int64_t NvmeNamespaceBytes(std::span<const std::uint8_t> Page) {
  // Namespace size in blocks (bytes 0-7); the format in use (bits 0-3 of byte 26, with bits
  // 5-6 above them from NVMe 2.0 on) picks an LBA format (4 bytes each from byte 128), whose
  // byte 2 is the block size's power of two.
  if (Page.size() < 384) return 0;
  const std::uint64_t blocks = Get64(Page.data());
  const unsigned format = (Page[26] & 0x0F) | ((Page[26] & 0x60) >> 1);
  if (format > 63) return 0;
  const unsigned shift = Page[128 + 4 * format + 2];
  // Block sizes below 512 bytes are not used; sizes beyond 2^63 bytes no disk has.
  if (shift < 9 || shift > 24 || blocks == 0 || blocks > (std::uint64_t{INT64_MAX} >> shift)) return 0;
  return static_cast<std::int64_t>(blocks << shift);
}

bool ParseNvmeHealthLog(std::span<const std::uint8_t> Page, TDeviceInfo& Info) {
  if (Page.size() < 176) return false;
  const std::uint8_t* p = Page.data();
  TNvmeHealth h;
  h.Available = true;
  h.CriticalWarning = p[0];
  h.AvailableSpare = p[3];
  h.AvailableSpareThreshold = p[4];
  h.PercentageUsed = p[5];
  h.PowerOnHours = Counter128(p + 128);
  h.UnsafeShutdowns = Counter128(p + 144);
  h.MediaErrors = Counter128(p + 160);
  Info.Health = h;
  // The composite temperature in kelvins; 0 when the controller reports none.
  const std::uint16_t kelvin = Get16(p + 1);
  Info.Temperature = kelvin > 273 ? static_cast<std::uint8_t>(std::min(kelvin - 273, 255)) : 0;
  // The health log is mandatory: a controller that answers it has its SMART data on.
  Info.SMARTSupport = true;
  Info.SMARTActive = true;
  return true;
}

bool ParseNvmePowerState(std::span<const std::uint8_t> IdentifyController, std::uint32_t Feature, TDeviceInfo& Info) {
  // The number of power states less one (byte 263), and from byte 2048 a 32-byte descriptor
  // per state: maximum power (bytes 0-1) in units of 0.01 W, or 0.0001 W where bit 0 of
  // byte 3 says so; bit 1 of byte 3 marks a non-operational state.
  const std::span<const std::uint8_t> page = IdentifyController;
  if (page.size() < 264) return false;
  const unsigned state = Feature & 0x1F;
  const unsigned count = page[263] + 1u;
  const std::size_t at = 2048 + 32 * std::size_t{state};
  if (state >= count || at + 32 > page.size()) return false;
  TNvmePowerState p;
  p.Available = true;
  p.State = static_cast<std::uint8_t>(state);
  p.StateCount = static_cast<std::uint8_t>(std::min(count, 32u));
  p.NonOperational = page[at + 3] & 0x02;
  p.MaxPowerMicrowatts = Get16(&page[at]) * ((page[at + 3] & 0x01) ? 100u : 10000u);
  Info.Power = p;
  return true;
}

bool ReadNvmeData(Handle Device, TDeviceInfo& Info) {
  // The controller is asked through the adapter's property, the namespace and its health
  // through the disk's own; namespace 0 is the disk's namespace.
  const auto controller =
      NvmePage(Device, ProtocolQuery::kAdapterProperty, ProtocolSpecificData::kNvmeIdentify, 1, 0, 4096);
  if (!controller || !ParseNvmeIdentifyController(*controller, Info)) return false;
  Info.ExtraInfoAvailable = true;
  constexpr std::uint32_t kPowerManagement = 0x02;
  if (const auto feature = NvmeFeature(Device, kPowerManagement)) ParseNvmePowerState(*controller, *feature, Info);
  if (const auto ns = NvmePage(Device, ProtocolQuery::kDeviceProperty, ProtocolSpecificData::kNvmeIdentify, 0, 0, 4096))
    if (const std::int64_t bytes = NvmeNamespaceBytes(*ns)) Info.Size = bytes;
  if (const auto log = NvmePage(Device, ProtocolQuery::kDeviceProperty, ProtocolSpecificData::kNvmeLogPage, 2, 0, 512))
    ParseNvmeHealthLog(*log, Info);
  return true;
}

void GetMediaTypes(Handle Device, TDeviceInfo& Info) {
  std::uint8_t out[312] = {};
  const auto types = Ask<MediaTypes>(Device, kStorageGetMediaTypesEx, out, sizeof out);
  if (!types) return;
  if (Info.DeviceType == 0) Info.DeviceType = types->deviceType;
  // The first entry tells; a device that lists none reads as media type 0 (a tape as bus 0).
  const MediaInfo first = types->media.empty() ? MediaInfo{} : types->media.front();
  Info.MediaType = first.mediaType;
  if (types->Tape()) Info.BusType = first.busType;
}

std::string GetMediaSerialNumber(Handle Device) {
  std::uint8_t out[312] = {};
  const auto serial = Ask<MediaSerialNumber>(Device, kStorageGetMediaSerialNumber, out, sizeof out);
  return serial ? FieldText(serial->serialNumber) : std::string();
}

bool GetSCSIAddress(Handle Device, TDeviceInfo& Info) {
  std::uint8_t out[ScsiAddress::kSize] = {};
  const auto address = Ask<ScsiAddress>(Device, kScsiGetAddress, out, sizeof out);
  if (!address) return false;
  Info.HaId = address->portNumber;
  Info.PathID = address->pathId;
  Info.Target = address->targetId;
  Info.Lun = address->lun;
  Info.LocationAvailable = true;
  return true;
}

bool GetDriveGeometry(Handle Device, TDiskGeometry& Geometry) {
  std::uint8_t out[DiskGeometry::kSize] = {};
  const auto geometry = Ask<DiskGeometry>(Device, kDiskGetDriveGeometry, out, sizeof out);
  // A failed request leaves a geometry of zeros.
  Geometry = geometry.value_or(DiskGeometry{});
  return geometry.has_value();
}

bool GetDriveLayout(Handle Device, TDiskLayout& Layout) {
  Layout.clear();
  // The reply must fit whole, and the legacy request tells no size: a disk with more than
  // twelve entries (an MBR with a few logical drives, any GPT disk) needs a larger buffer.
  constexpr std::uint32_t kFirstSize = 400;
  constexpr std::uint32_t kLargestSize = 8 + 32 * 32768;
  std::vector<std::uint8_t> buffer;
  std::optional<BlockView> reply;
  for (std::uint32_t size = kFirstSize; size <= kLargestSize; size = size * 2) {
    buffer.assign(size, 0);
    reply = Request(Device, kDiskGetDriveLayout, nullptr, 0, buffer.data(), size);
    if (reply) break;
    const std::uint32_t error = Devices().GetLastError();
    if (error != platform::kErrorInsufficientBuffer && error != kErrorMoreData) break;
  }
  const auto layout = reply ? DriveLayout::Decode(*reply) : std::nullopt;
  if (!layout) return false;
  for (const TPartitionInfo& p : layout->entries)
    if (p.Typ != 0) Layout.push_back(p);  // unused slots of the partition tables
  return true;
}

bool GetVolumeDiskExtents(Handle Device, TVolumeDiskExtent& Extent) {
  Extent = TVolumeDiskExtent{};
  if (Device == platform::kInvalidHandle) return false;
  std::vector<std::uint8_t> out(1024, 0);
  const auto extents = Ask<VolumeDiskExtents>(Device, kVolumeGetVolumeDiskExtents, out.data(), 1024);
  // A count that names extents the reply does not hold describes nothing.
  if (!extents || (extents->count > 0 && extents->extents.empty())) return false;
  Extent.NumberOfDiskExtents = extents->count;
  if (!extents->extents.empty()) {
    const DiskExtent& first = extents->extents.front();
    Extent.DiskNumber = first.diskNumber;
    Extent.StartingOffset = first.startingOffset;
    Extent.ExtentLength = first.length;
  }
  return true;
}

std::string DecodeSerialNumberHex(const std::string& Text) {
  const std::string trimmed = text::Trim(Text);
  // Later systems hand over the serial number as plain text, which must stay as it is: only
  // text made of hexadecimal digit pairs alone, every pair giving a printable character, was
  // encoded. A plain serial such as "WD-WMAZA5643210" holds hex pairs too and would otherwise
  // come out shuffled.
  if (trimmed.empty() || trimmed.size() % 2 != 0) return trimmed;
  for (char c : trimmed)
    if (!IsHexDigit(c)) return trimmed;
  std::string out;
  auto pair = [&](std::size_t pos) {
    if (pos < trimmed.size()) out += static_cast<char>(HexValue(trimmed[pos]) * 16 + HexValue(trimmed[pos + 1]));
  };
  // Hexadecimal digits of 16-bit words with their bytes swapped: "3157" is "W1".
  for (std::size_t i = 0; i < trimmed.size(); i += 4) {
    pair(i + 2);
    pair(i);
  }
  for (unsigned char c : out)
    if (c < 0x20 || c > 0x7E) return trimmed;
  return text::Trim(out);
}

std::string GetDriveLetters() {
  char buffer[256] = {};
  const std::uint32_t n = Devices().GetLogicalDriveStrings(255, buffer);
  if (n == 0 || n > 255) return {};
  std::string letters;
  const char* p = buffer;
  const char* end = buffer + 255;
  while (p < end && *p) {
    const std::size_t len = strnlen(p, static_cast<std::size_t>(end - p));
    for (std::size_t i = 0; i < len; ++i) {
      const char c = p[i];
      if (c >= 'A' && c <= 'Z') letters += c;
      if (c >= 'a' && c <= 'z') letters += static_cast<char>(c - 32);
    }
    p += len + 1;
  }
  return letters;
}

namespace {

// One port transfer. The 9x family runs it at ring 0 through a call gate written for the
// occasion into the first free entry of the local descriptor table and cleared afterwards;
// any other platform uses whatever privileged facility it has.
bool TransferThroughPorts(platform::devio::PortTransfer& t) {
  auto& devices = Devices();
  if (IsNTFamily()) return devices.PortIo(t);
  std::uint32_t entries = 0;
  if (!devices.GetLocalDescriptorTable(entries)) return false;
  std::uint32_t index = 0;
  Descriptor d{};
  for (; index < entries; ++index)
    if (devices.ReadDescriptor(index, d) && d[5] == 0) break;
  if (index >= entries || index > 0x1FFF) return false;

  // A present 32-bit call gate of privilege level 3 (access byte 0xEC) to the ring-0 code
  // selector 0x28 and the port routine, without stack parameters.
  const std::uint32_t offset = devices.PortRoutineOffset();
  const Descriptor gate = {static_cast<std::uint8_t>(offset), static_cast<std::uint8_t>(offset >> 8), 0x28, 0x00,
                           0x00, 0xEC, static_cast<std::uint8_t>(offset >> 16), static_cast<std::uint8_t>(offset >> 24)};
  if (!devices.WriteDescriptor(index, gate)) return false;
  // Table indicator (local) and requested privilege level 3.
  const std::uint16_t selector = static_cast<std::uint16_t>((index << 3) | 4 | 3);
  const bool ok = devices.CallGate(selector, t);
  devices.WriteDescriptor(index, Descriptor{});
  return ok;
}

}  // namespace

bool ReadPort(std::uint16_t Port, void* Buffer, std::uint8_t Size) {
  if (Size != 1 && Size != 2 && Size != 4) return false;
  platform::devio::PortTransfer t;
  t.port = Port;
  t.size = Size;
  t.write = false;
  if (!TransferThroughPorts(t)) return false;
  auto* b = static_cast<std::uint8_t*>(Buffer);
  for (int i = 0; i < Size; ++i) b[i] = static_cast<std::uint8_t>(t.value >> (8 * i));
  return true;
}

bool WritePort(std::uint16_t Port, std::uint32_t Value, std::uint8_t Size) {
  if (Size != 1 && Size != 2 && Size != 4) return false;
  platform::devio::PortTransfer t;
  t.port = Port;
  t.size = Size;
  t.write = true;
  t.value = Value;
  return TransferThroughPorts(t);
}

}  // namespace kyvex
