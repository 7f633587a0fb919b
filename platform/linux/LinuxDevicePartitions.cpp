// The partition table of a disk, read from its first sectors, in the order and shape of
// Windows' legacy drive-layout reply.
#include <algorithm>
#include <array>
#include <cstdio>
#include <set>
#include <string>

#include "platform/linux/LinuxDevice.h"

namespace kyvex::platform::linuxdev {

using devio::Get32;
using devio::Get64;
using devio::PartitionInfo;

namespace {

bool IsExtended(std::uint8_t type) { return type == 0x05 || type == 0x0F || type == 0x85; }

// GPT partition types and the MBR types that mean the same.
struct GptType {
  const char* guid;
  std::uint8_t mbrType;
};
constexpr GptType kGptTypes[] = {
    {"C12A7328-F81F-11D2-BA4B-00A0C93EC93B", 0xEF},  // EFI system
    {"EBD0A0A2-B9E5-4433-87C0-68B6B72699C7", 0x07},  // Microsoft basic data
    {"DE94BBA4-06D1-4D40-A16A-BFD50179D6AC", 0x27},  // Windows recovery
    {"0FC63DAF-8483-4772-8E79-3D69D8477DE4", 0x83},  // Linux file system
    {"4F68BCE3-E8CD-4DB1-96E7-FBCAF984B709", 0x83},  // Linux root (x86-64)
    {"44479540-F297-41B2-9AF7-D131D5F0458A", 0x83},  // Linux root (x86)
    {"933AC7E1-2EB4-4F13-B844-0E14E2AEF915", 0x83},  // Linux /home
    {"BC13C2FF-59E6-4262-A352-B275FD6F7172", 0x83},  // Linux /boot (extended boot loader)
    {"0657FD6D-A4AB-43C4-84E5-0933C84B4F4F", 0x82},  // Linux swap
    {"E6D6D379-F507-44C2-A23C-238F2A3DF928", 0x8E},  // Linux LVM
    {"A19D880F-05FC-4D3B-A006-743F0F84911E", 0xFD},  // Linux RAID
    {"21686148-6449-6E6F-744E-656564454649", 0xEF},  // BIOS boot
    {"48465300-0000-11AA-AA11-00306543ECAC", 0xAF},  // Apple HFS+
    {"516E7CB4-6ECF-11D6-8FF8-00022D09712B", 0xA5},  // FreeBSD data
};

// A GUID as GPT stores it (the first three fields little-endian) in its usual text form.
std::string GuidText(const std::uint8_t* g) {
  char s[37];
  std::snprintf(s, sizeof s, "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", Get32(g), devio::Get16(g + 4),
                devio::Get16(g + 6), g[8], g[9], g[10], g[11], g[12], g[13], g[14], g[15]);
  return s;
}

struct Mbr {
  std::uint8_t boot[4], type[4];
  std::uint32_t start[4], count[4];
};

bool ReadRecord(const DiskReader& read, std::uint64_t offset, std::uint32_t sectorSize, Mbr& m,
                std::uint32_t* signature = nullptr) {
  std::vector<std::uint8_t> s(std::max<std::uint32_t>(sectorSize, 512));
  if (!read(offset, static_cast<std::uint32_t>(s.size()), s.data())) return false;
  if (s[510] != 0x55 || s[511] != 0xAA) return false;
  for (int i = 0; i < 4; ++i) {
    const std::uint8_t* e = &s[446 + 16 * i];
    m.boot[i] = e[0];
    m.type[i] = e[4];
    m.start[i] = Get32(e + 8);
    m.count[i] = Get32(e + 12);
  }
  if (signature) *signature = Get32(&s[440]);
  return true;
}

PartitionInfo Entry(std::uint64_t startSector, std::uint64_t sectors, std::uint32_t hidden, std::uint32_t number,
                    std::uint8_t type, bool boot, std::uint32_t sectorSize) {
  PartitionInfo e;
  if (type == 0) return e;  // an unused slot reads all zero
  e.StartingOffset = static_cast<std::int64_t>(startSector * sectorSize);
  e.Length = static_cast<std::int64_t>(sectors * sectorSize);
  e.HiddenSectors = hidden;
  e.Number = number;
  e.Typ = type;
  e.BootIndicator = boot;
  e.Recognized = devio::IsRecognizedPartition(type);
  return e;
}

// One GPT header and its entry array, when both check out.
bool ReadGpt(const DiskReader& read, std::uint64_t headerLba, std::uint64_t diskSectors, std::uint32_t sectorSize,
             PartitionTable& table) {
  if (headerLba == 0 || headerLba >= diskSectors) return false;
  std::vector<std::uint8_t> h(sectorSize);
  if (!read(headerLba * sectorSize, sectorSize, h.data())) return false;
  if (std::string_view(reinterpret_cast<const char*>(h.data()), 8) != "EFI PART") return false;
  const std::uint32_t headerSize = Get32(&h[12]);
  if (headerSize < 92 || headerSize > sectorSize) return false;
  const std::uint32_t headerCrc = Get32(&h[16]);
  std::vector<std::uint8_t> copy(h.begin(), h.begin() + headerSize);
  devio::Put32(&copy[16], 0);
  if (Crc32(copy.data(), copy.size()) != headerCrc) return false;
  if (Get64(&h[24]) != headerLba) return false;

  const std::uint64_t entriesLba = Get64(&h[72]);
  const std::uint32_t count = Get32(&h[80]);
  const std::uint32_t entrySize = Get32(&h[84]);
  // 128 entries of 128 bytes is the usual; anything past a few megabytes is not a table.
  if (entrySize < 128 || entrySize % 8 != 0 || entrySize > 4096 || count == 0 || count > 65536) return false;
  const std::uint64_t arrayBytes = std::uint64_t{count} * entrySize;
  if (arrayBytes > (4u << 20) || entriesLba == 0 || entriesLba >= diskSectors ||
      arrayBytes > (diskSectors - entriesLba) * sectorSize)
    return false;
  std::vector<std::uint8_t> entries(static_cast<std::size_t>(arrayBytes));
  if (!read(entriesLba * sectorSize, static_cast<std::uint32_t>(arrayBytes), entries.data())) return false;
  if (Crc32(entries.data(), entries.size()) != Get32(&h[88])) return false;

  table.found = true;
  table.gpt = true;
  table.signature = 0;
  table.entries.clear();
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint8_t* e = &entries[static_cast<std::size_t>(i) * entrySize];
    bool used = false;
    for (int k = 0; k < 16; ++k) used |= e[k] != 0;
    if (!used) continue;
    const std::uint64_t first = Get64(e + 32), last = Get64(e + 40);
    if (last < first) continue;
    const bool legacyBootable = (Get64(e + 48) & 4) != 0;
    table.entries.push_back(Entry(first, last - first + 1, static_cast<std::uint32_t>(first), i + 1,
                                  GptTypeToMbrType(e), legacyBootable, sectorSize));
  }
  return true;
}

}  // namespace

std::uint32_t Crc32(const std::uint8_t* data, std::size_t size) {
  static const auto table = [] {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
      std::uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[i] = c;
    }
    return t;
  }();
  std::uint32_t crc = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < size; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
  return crc ^ 0xFFFFFFFFu;
}

std::uint8_t GptTypeToMbrType(const std::uint8_t* typeGuid) {
  const std::string text = GuidText(typeGuid);
  for (const auto& t : kGptTypes)
    if (text == t.guid) return t.mbrType;
  return 0xEE;
}

PartitionTable ReadPartitionTable(const DiskReader& read, std::uint64_t diskBytes, std::uint32_t sectorSize) {
  PartitionTable table;
  if (sectorSize < 512 || sectorSize > 65536 || diskBytes < 512) return table;
  const std::uint64_t diskSectors = diskBytes / sectorSize;
  Mbr mbr;
  if (!ReadRecord(read, 0, sectorSize, mbr, &table.signature)) return table;
  table.found = true;

  bool protective = false;
  for (int i = 0; i < 4; ++i) protective |= mbr.type[i] == 0xEE;
  if (protective) {
    PartitionTable gpt;
    if (ReadGpt(read, 1, diskSectors, sectorSize, gpt) || ReadGpt(read, diskSectors - 1, diskSectors, sectorSize, gpt))
      return gpt;
  }

  // Linux numbers the four primary slots 1 to 4 and the logical drives from 5 on.
  int extendedSlot = -1;
  for (int i = 0; i < 4; ++i) {
    const bool container = IsExtended(mbr.type[i]);
    if (container && extendedSlot < 0) extendedSlot = i;
    table.entries.push_back(Entry(mbr.start[i], mbr.count[i], mbr.start[i], container ? 0 : i + 1, mbr.type[i],
                                  mbr.boot[i] == 0x80, sectorSize));
  }
  if (extendedSlot < 0) return table;

  const std::uint64_t extendedBase = mbr.start[extendedSlot];
  std::uint64_t ebr = extendedBase;
  std::uint32_t logical = 5;
  std::set<std::uint64_t> seen;
  // Each extended record holds one logical drive and a link to the next record.
  while (ebr != 0 && ebr < diskSectors && seen.insert(ebr).second && seen.size() <= 256) {
    Mbr rec;
    if (!ReadRecord(read, ebr * sectorSize, sectorSize, rec)) break;
    std::uint64_t next = 0;
    for (int i = 0; i < 4; ++i) {
      if (IsExtended(rec.type[i])) {
        table.entries.push_back(Entry(extendedBase + rec.start[i], rec.count[i], rec.start[i], 0, rec.type[i],
                                      rec.boot[i] == 0x80, sectorSize));
        if (next == 0 && rec.start[i] != 0) next = extendedBase + rec.start[i];
      } else {
        const std::uint32_t number = rec.type[i] ? logical++ : 0;
        table.entries.push_back(
            Entry(ebr + rec.start[i], rec.count[i], rec.start[i], number, rec.type[i], rec.boot[i] == 0x80, sectorSize));
      }
    }
    ebr = next;
  }
  return table;
}

}  // namespace kyvex::platform::linuxdev
