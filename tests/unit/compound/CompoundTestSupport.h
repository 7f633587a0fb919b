// Shared helpers of the storage-file tests: scratch folders, fixtures and a minimal reader of
// the raw directory, so that tests can check the file's bytes and not only our own reading.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "compound/Ole.h"
#include "platform/Text.h"

namespace kyvex::testing {

class TempDir {
 public:
  TempDir() {
    static std::atomic<unsigned> counter{0};
    std::random_device rd;
    path_ = std::filesystem::temp_directory_path() /
            ("kyvex-cfb-" + std::to_string(rd()) + "-" + std::to_string(counter++));
    std::filesystem::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  std::string File(const std::string& name) const { return (path_ / name).string(); }
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
};

inline std::string FixturePath(const std::string& name) {
  return std::string(KYVEX_SOURCE_DIR) + "/tests/data/compound/" + name;
}

inline std::vector<std::uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline std::u16string U(const std::string& utf8) { return kyvex::text::Utf8ToUtf16(utf8); }

inline std::uint32_t Le32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

// The directory entries of a version-3 file as written (names, types, colours, links),
// located through the header and the FAT independently of the engine.
struct RawEntry {
  std::u16string name;
  std::uint8_t type = 0;
  std::uint8_t color = 0;
  std::uint32_t left = 0, right = 0, child = 0;
};

inline std::vector<RawEntry> RawDirectory(const std::vector<std::uint8_t>& file) {
  std::vector<std::uint32_t> fatSectors;
  const std::uint32_t fatCount = Le32(file, 0x2C);
  for (std::uint32_t i = 0; i < fatCount && i < 109; ++i) fatSectors.push_back(Le32(file, 0x4C + 4 * i));
  std::uint32_t difat = Le32(file, 0x44);
  while (fatSectors.size() < fatCount) {
    const std::size_t base = (std::size_t{difat} + 1) * 512;
    for (int k = 0; k < 127 && fatSectors.size() < fatCount; ++k) fatSectors.push_back(Le32(file, base + 4 * k));
    difat = Le32(file, base + 4 * 127);
  }
  auto fat = [&](std::uint32_t s) {
    return Le32(file, (std::size_t{fatSectors[s / 128]} + 1) * 512 + 4 * (s % 128));
  };
  std::vector<RawEntry> entries;
  for (std::uint32_t s = Le32(file, 0x30); s != 0xFFFFFFFE; s = fat(s)) {
    for (int k = 0; k < 4; ++k) {
      const std::size_t e = (std::size_t{s} + 1) * 512 + 128 * k;
      RawEntry r;
      const std::uint32_t nameBytes = file[e + 64] | (file[e + 65] << 8);
      for (std::uint32_t i = 0; i + 2 < nameBytes; i += 2) r.name.push_back(file[e + i] | (file[e + i + 1] << 8));
      r.type = file[e + 66];
      r.color = file[e + 67];
      r.left = Le32(file, e + 68);
      r.right = Le32(file, e + 72);
      r.child = Le32(file, e + 76);
      entries.push_back(r);
    }
  }
  return entries;
}

}  // namespace kyvex::testing
