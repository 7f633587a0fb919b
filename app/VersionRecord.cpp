// The file version every program of the suite carries. On Windows it is the VERSIONINFO
// resource (version.rc); on Linux this same block, in Windows' byte layout, sits in an ELF
// section of its own, from which the version routine reads it back out of the executable
// file.
#ifndef _WIN32
#include <array>
#include <cstdint>

namespace {

constexpr std::uint16_t kMajor = 2, kMinor = 0, kRelease = 0, kBuild = 2;

constexpr std::array<std::uint8_t, 92> MakeBlock() {
  std::array<std::uint8_t, 92> b{};
  std::size_t p = 0;
  auto put16 = [&](std::uint16_t v) {
    b[p++] = static_cast<std::uint8_t>(v);
    b[p++] = static_cast<std::uint8_t>(v >> 8);
  };
  auto put32 = [&](std::uint32_t v) {
    put16(static_cast<std::uint16_t>(v));
    put16(static_cast<std::uint16_t>(v >> 16));
  };
  put16(92);
  put16(52);
  put16(0);
  for (char16_t c : u"VS_VERSION_INFO") put16(c);
  put16(0);  // padding to a 4-byte boundary
  const std::uint32_t ms = (std::uint32_t{kMajor} << 16) | kMinor;
  const std::uint32_t ls = (std::uint32_t{kRelease} << 16) | kBuild;
  put32(0xFEEF04BD);
  put32(0x00010000);
  put32(ms);
  put32(ls);
  put32(ms);
  put32(ls);
  put32(0x3F);
  put32(0);
  put32(0x00040004);
  put32(1);
  put32(0);
  put32(0);
  put32(0);
  return b;
}

}  // namespace

extern "C" __attribute__((section(".kyvex_version"), used))
const std::array<std::uint8_t, 92> kyvex_version_record = MakeBlock();
#endif
