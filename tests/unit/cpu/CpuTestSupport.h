// Building fake processors for the processor component's tests: CPUID tables from the
// values a test cares about, and the recorded dumps under tests/data/cpu.
#pragma once

#include <fstream>
#include <ostream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "cpu/KSI_CPU.h"
#include "platform/fake/FakePlatform.h"

namespace kyvex {
// Readable failure messages for the byte-sized enumerations.
inline void PrintTo(TCacheAssociativity a, std::ostream* os) { *os << CacheAssociativityName(a); }
inline void PrintTo(TCpuVendor v, std::ostream* os) { *os << CpuVendorName(v); }
inline void PrintTo(const TIntelBrands& b, std::ostream* os) { *os << "mask " << int(b.Mask()); }
}  // namespace kyvex

namespace kyvex::cputest {

using platform::FakeCpu;
using platform::X86Registers;

// Leaf 0's vendor registers for a 12-character vendor text (EBX, EDX, ECX order).
inline X86Registers VendorLeaf(const std::string& vendor, std::uint32_t maxLeaf) {
  auto reg = [&vendor](std::size_t at) {
    std::uint32_t v = 0;
    for (std::size_t i = 0; i < 4 && at + i < vendor.size(); ++i)
      v |= static_cast<std::uint32_t>(static_cast<unsigned char>(vendor[at + i])) << (8 * i);
    return v;
  };
  return {maxLeaf, reg(0), reg(8), reg(4)};
}

// Leaf 1 EAX: the families and models at or above 15 are spread over base and extended
// fields the way the component adds them back.
inline std::uint32_t SignatureOf(int family, int model, int stepping, int type = 0, int extendedModel = -1) {
  const std::uint32_t baseFamily = family < 15 ? static_cast<std::uint32_t>(family) : 15u;
  const std::uint32_t extFamily = family < 15 ? 0u : static_cast<std::uint32_t>(family - 15);
  std::uint32_t baseModel = model < 15 ? static_cast<std::uint32_t>(model) : 15u;
  std::uint32_t extModel = model < 15 ? 0u : static_cast<std::uint32_t>(model - 15);
  if (extendedModel >= 0) extModel = static_cast<std::uint32_t>(extendedModel);
  return (extFamily << 20) | (extModel << 16) | (static_cast<std::uint32_t>(type) << 12) | (baseFamily << 8) |
         (baseModel << 4) | static_cast<std::uint32_t>(stepping);
}

// Text packed into registers, four characters each, as the brand-string leaves give it.
inline void SetBrandString(FakeCpu& cpu, const std::string& brand, std::uint32_t firstLeaf = 0x80000002, int leaves = 3) {
  std::string s = brand;
  s.resize(static_cast<std::size_t>(16 * leaves), '\0');
  for (int l = 0; l < leaves; ++l) {
    std::uint32_t r[4] = {};
    for (int k = 0; k < 16; ++k)
      r[k / 4] |= static_cast<std::uint32_t>(static_cast<unsigned char>(s[static_cast<std::size_t>(16 * l + k)]))
                  << (8 * (k % 4));
    cpu.Set(firstLeaf + static_cast<std::uint32_t>(l), {r[0], r[1], r[2], r[3]});
  }
}

inline std::string DataPath(const std::string& name) { return std::string(KYVEX_SOURCE_DIR) + "/tests/data/cpu/" + name; }

inline std::string ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

// A fake platform whose processors come from a recorded dump.
inline void LoadDump(platform::FakePlatform& fake, const std::string& name) {
  std::string error;
  const std::string text = ReadFile(DataPath(name));
  ASSERT_FALSE(text.empty()) << name;
  ASSERT_TRUE(fake.processor.LoadCpuidDump(text, error)) << name << ": " << error;
}

}  // namespace kyvex::cputest
