#include "platform/VersionBlock.h"

#include <cstdio>
#include <fstream>

#include "platform/ByteOrder.h"

namespace kyvex::platform {
namespace {

std::uint16_t Le16(const std::vector<std::uint8_t>& b, std::size_t o) { return bytes::Get16(&b[o]); }
std::uint32_t Le32(const std::vector<std::uint8_t>& b, std::size_t o) { return bytes::Get32(&b[o]); }
std::uint64_t Le64(const std::vector<std::uint8_t>& b, std::size_t o) { return bytes::Get64(&b[o]); }
void Put16(std::vector<std::uint8_t>& b, std::uint16_t v) {
  b.push_back(static_cast<std::uint8_t>(v));
  b.push_back(static_cast<std::uint8_t>(v >> 8));
}
void Put32(std::vector<std::uint8_t>& b, std::uint32_t v) {
  Put16(b, static_cast<std::uint16_t>(v));
  Put16(b, static_cast<std::uint16_t>(v >> 16));
}

constexpr char16_t kKey[] = u"VS_VERSION_INFO";
constexpr std::size_t kFixedSize = 52;

}  // namespace

std::vector<std::uint8_t> BuildVersionBlock(std::uint16_t a, std::uint16_t b, std::uint16_t c,
                                            std::uint16_t d) {
  std::vector<std::uint8_t> out;
  Put16(out, 0);  // wLength, patched below
  Put16(out, kFixedSize);
  Put16(out, 0);  // binary data
  for (char16_t ch : kKey) Put16(out, ch);  // includes the terminating null
  while (out.size() % 4) out.push_back(0);
  const std::uint32_t ms = (static_cast<std::uint32_t>(a) << 16) | b;
  const std::uint32_t ls = (static_cast<std::uint32_t>(c) << 16) | d;
  Put32(out, VS_FFI_SIGNATURE);
  Put32(out, 0x00010000);  // structure version 1.0
  Put32(out, ms);
  Put32(out, ls);
  Put32(out, ms);
  Put32(out, ls);
  Put32(out, 0x3F);        // flags mask
  Put32(out, 0);           // flags
  Put32(out, 0x00040004);  // VOS_NT_WINDOWS32
  Put32(out, 1);           // VFT_APP
  Put32(out, 0);
  Put32(out, 0);
  Put32(out, 0);
  out[0] = static_cast<std::uint8_t>(out.size());
  out[1] = static_cast<std::uint8_t>(out.size() >> 8);
  return out;
}

bool QueryVersionRoot(const std::vector<std::uint8_t>& block, FixedFileInfo& info) {
  if (block.size() < 6) return false;
  const std::size_t length = Le16(block, 0);
  const std::size_t valueLength = Le16(block, 2);
  if (length > block.size() || valueLength < kFixedSize) return false;
  // The key is a null-terminated UTF-16 string after the three words, then padding to 4.
  std::size_t pos = 6;
  while (true) {
    if (pos + 2 > length) return false;
    const bool end = Le16(block, pos) == 0;
    pos += 2;
    if (end) break;
  }
  pos = (pos + 3) & ~std::size_t{3};
  if (pos + kFixedSize > length) return false;
  if (Le32(block, pos) != VS_FFI_SIGNATURE) return false;
  std::uint32_t* fields[] = {&info.dwSignature,      &info.dwStrucVersion,   &info.dwFileVersionMS,
                             &info.dwFileVersionLS,  &info.dwProductVersionMS, &info.dwProductVersionLS,
                             &info.dwFileFlagsMask,  &info.dwFileFlags,      &info.dwFileOS,
                             &info.dwFileType,       &info.dwFileSubtype,    &info.dwFileDateMS,
                             &info.dwFileDateLS};
  for (std::size_t i = 0; i < 13; ++i) *fields[i] = Le32(block, pos + 4 * i);
  return true;
}

std::optional<std::vector<std::uint8_t>> ReadElfSection(const std::string& path,
                                                        const std::string& name) {
  std::ifstream f(path, std::ios::binary);
  if (!f) return std::nullopt;
  f.seekg(0, std::ios::end);
  const auto fileSize = static_cast<std::uint64_t>(f.tellg());
  auto readAt = [&](std::uint64_t off, std::uint64_t len) -> std::optional<std::vector<std::uint8_t>> {
    if (off > fileSize || len > fileSize - off || len > (64u << 20)) return std::nullopt;
    std::vector<std::uint8_t> buf(static_cast<std::size_t>(len));
    f.clear();
    f.seekg(static_cast<std::streamoff>(off));
    if (len && !f.read(reinterpret_cast<char*>(buf.data()), static_cast<std::streamsize>(len)))
      return std::nullopt;
    return buf;
  };

  auto ident = readAt(0, 64);
  if (!ident || (*ident)[0] != 0x7F || (*ident)[1] != 'E' || (*ident)[2] != 'L' || (*ident)[3] != 'F')
    return std::nullopt;
  if ((*ident)[5] != 1) return std::nullopt;  // little-endian only
  const bool is64 = (*ident)[4] == 2;
  const auto& h = *ident;
  const std::uint64_t shoff = is64 ? Le64(h, 0x28) : Le32(h, 0x20);
  const std::uint16_t shentsize = Le16(h, is64 ? 0x3A : 0x2E);
  const std::uint16_t shnum = Le16(h, is64 ? 0x3C : 0x30);
  const std::uint16_t shstrndx = Le16(h, is64 ? 0x3E : 0x32);
  if (shentsize < (is64 ? 64 : 40) || shnum == 0 || shstrndx >= shnum) return std::nullopt;
  auto table = readAt(shoff, static_cast<std::uint64_t>(shentsize) * shnum);
  if (!table) return std::nullopt;

  struct Section {
    std::uint32_t name, type;
    std::uint64_t offset, size;
  };
  auto section = [&](std::size_t i) {
    const std::size_t o = i * shentsize;
    Section s;
    s.name = Le32(*table, o);
    s.type = Le32(*table, o + 4);
    s.offset = is64 ? Le64(*table, o + 0x18) : Le32(*table, o + 0x10);
    s.size = is64 ? Le64(*table, o + 0x20) : Le32(*table, o + 0x14);
    return s;
  };
  const Section strtab = section(shstrndx);
  auto names = readAt(strtab.offset, strtab.size);
  if (!names) return std::nullopt;
  for (std::size_t i = 0; i < shnum; ++i) {
    const Section s = section(i);
    if (s.name >= names->size()) continue;
    std::string sectionName;
    for (std::size_t k = s.name; k < names->size() && (*names)[k]; ++k)
      sectionName += static_cast<char>((*names)[k]);
    if (sectionName != name) continue;
    if (s.type == 8 /* SHT_NOBITS */) return std::nullopt;
    return readAt(s.offset, s.size);
  }
  return std::nullopt;
}

std::string FileVersionText(const std::string& path) {
  auto& p = Current();
  if (p.GetFileVersionInfoSize(path) == 0) return "";
  std::vector<std::uint8_t> block;
  if (!p.GetFileVersionInfo(path, block)) return "";
  FixedFileInfo info;
  if (!p.VerQueryRoot(block, info)) return "";
  char buf[64];
  std::snprintf(buf, sizeof buf, "%u.%u.%u.%u", info.dwFileVersionMS >> 16, info.dwFileVersionMS & 0xFFFF,
                info.dwFileVersionLS >> 16, info.dwFileVersionLS & 0xFFFF);
  return buf;
}

std::string ProgramVersionText() { return FileVersionText(Current().GetModuleFileName()); }

}  // namespace kyvex::platform
