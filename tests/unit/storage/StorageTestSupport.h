// Shared pieces of the storage tests: the recorded device data under tests/data/storage, an
// identify-block builder, and helpers that put whole devices into the fake platform.
#pragma once

#include <array>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "platform/DeviceApi.h"
#include "platform/fake/FakePlatform.h"

namespace storage_test {

using Block = std::array<std::uint8_t, 512>;
namespace devio = kyvex::platform::devio;

inline std::string DataPath(const std::string& name) {
  return std::string(KYVEX_SOURCE_DIR) + "/tests/data/storage/" + name;
}

inline std::vector<std::uint8_t> ReadData(const std::string& name) {
  std::ifstream in(DataPath(name), std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The tagged parts of a libatasmart disk dump: "IDFY" (identify), "SMDT" (SMART data), ...
inline std::map<std::string, std::vector<std::uint8_t>> DumpParts(const std::vector<std::uint8_t>& d) {
  std::map<std::string, std::vector<std::uint8_t>> parts;
  for (std::size_t p = 0; p + 8 <= d.size();) {
    const std::string tag(d.begin() + static_cast<long>(p), d.begin() + static_cast<long>(p) + 4);
    const std::size_t n = (std::size_t{d[p + 4]} << 24) | (d[p + 5] << 16) | (d[p + 6] << 8) | d[p + 7];
    if (p + 8 + n > d.size()) break;
    parts[tag].assign(d.begin() + static_cast<long>(p + 8), d.begin() + static_cast<long>(p + 8 + n));
    p += 8 + n;
  }
  return parts;
}

inline Block ToBlock(const std::vector<std::uint8_t>& v) {
  Block b{};
  for (std::size_t i = 0; i < b.size() && i < v.size(); ++i) b[i] = v[i];
  return b;
}

// The identify block of a recorded drive: a 512-byte file, or the IDFY part of a dump.
inline Block IdentifyOf(const std::string& name) {
  const auto data = ReadData(name);
  return data.size() == 512 ? ToBlock(data) : ToBlock(DumpParts(data)["IDFY"]);
}
inline Block SmartDataOf(const std::string& name) { return ToBlock(DumpParts(ReadData(name))["SMDT"]); }

// An identify block as a device sends it: words little-endian, texts with their first
// character in the high byte of each word.
struct IdentifyBuilder {
  Block b{};
  IdentifyBuilder& Word(int n, std::uint16_t v) {
    b[2 * n] = static_cast<std::uint8_t>(v);
    b[2 * n + 1] = static_cast<std::uint8_t>(v >> 8);
    return *this;
  }
  IdentifyBuilder& Text(int firstWord, int words, const std::string& s) {
    std::string padded = s;
    padded.resize(static_cast<std::size_t>(2 * words), ' ');
    for (int i = 0; i < words; ++i) {
      b[2 * (firstWord + i)] = static_cast<std::uint8_t>(padded[2 * i + 1]);
      b[2 * (firstWord + i) + 1] = static_cast<std::uint8_t>(padded[2 * i]);
    }
    return *this;
  }
  IdentifyBuilder& Model(const std::string& s) { return Text(27, 20, s); }
  IdentifyBuilder& Serial(const std::string& s) { return Text(10, 10, s); }
  IdentifyBuilder& Firmware(const std::string& s) { return Text(23, 4, s); }
  IdentifyBuilder& Sectors(std::uint32_t n) { return Word(60, static_cast<std::uint16_t>(n)).Word(61, static_cast<std::uint16_t>(n >> 16)); }
  // A fixed ATA disk with SMART supported and enabled.
  static IdentifyBuilder Disk(const std::string& model, const std::string& serial) {
    IdentifyBuilder i;
    i.Word(0, 0x0040).Word(1, 16383).Word(3, 16).Word(6, 63).Word(80, 0x007E).Word(82, 0x0001).Word(83, 0x4000);
    i.Word(85, 0x0001).Word(87, 0x4000).Sectors(40000000).Model(model).Serial(serial).Firmware("1.0");
    return i;
  }
};

// SMART data: a revision word, then the given attributes (id, current, worst, raw low byte).
struct Attribute {
  std::uint8_t id, current, worst, raw;
};
inline Block SmartData(const std::vector<Attribute>& attributes) {
  devio::SmartData d;
  d.revision = 0x10;
  for (std::size_t i = 0; i < attributes.size() && i < d.entries.size(); ++i)
    d.entries[i] = {attributes[i].id, 0x0F, 0, attributes[i].current, attributes[i].worst, attributes[i].raw};
  return ToBlock(d.Encode());
}

// Standard inquiry data of 96 bytes.
inline std::vector<std::uint8_t> Inquiry(std::uint8_t peripheralType, const std::string& vendor, const std::string& product,
                                         const std::string& revision) {
  return devio::InquiryData{peripheralType, vendor, product, revision, ""}.Encode();
}

inline std::vector<std::uint8_t> Geometry(std::int64_t cylinders, std::uint32_t heads = 255, std::uint32_t sectors = 63,
                                          std::uint32_t bytes = 512, std::uint32_t media = devio::kMediaFixed) {
  return devio::DiskGeometry{cylinders, media, heads, sectors, bytes}.Encode();
}

inline std::vector<std::uint8_t> DiskMediaTypes(std::uint32_t media = devio::kMediaFixed) {
  devio::MediaInfo m;
  m.mediaType = media;
  return devio::MediaTypes{devio::kFileDeviceDisk, {m}}.Encode();
}

inline devio::PartitionInfo Partition(std::int64_t startMiB, std::int64_t lengthMiB, std::uint8_t type, std::uint32_t number) {
  devio::PartitionInfo e;
  e.StartingOffset = startMiB << 20;
  e.Length = lengthMiB << 20;
  e.HiddenSectors = static_cast<std::uint32_t>((startMiB << 20) / 512);
  e.Number = number;
  e.Typ = type;
  e.Recognized = devio::IsRecognizedPartition(type);
  return e;
}

inline std::vector<std::uint8_t> Property(const std::string& vendor, const std::string& product,
                                          const std::string& revision, const std::string& serial, std::uint32_t bus,
                                          bool removable = false, std::uint8_t type = 0) {
  devio::DeviceDescriptor d;
  d.deviceType = type;
  d.removableMedia = removable;
  if (!vendor.empty()) d.vendor = vendor;
  if (!product.empty()) d.product = product;
  if (!revision.empty()) d.revision = revision;
  if (!serial.empty()) d.serialNumber = serial;
  d.busType = bus;
  return d.Encode();
}

}  // namespace storage_test
