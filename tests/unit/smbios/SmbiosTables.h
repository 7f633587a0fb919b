// Small SMBIOS tables built in the tests: structures with their formatted areas and string
// sets, entry points, dumps in dmidecode's --dump-bin format, and a few complete tables of
// typical machines written from the SMBIOS reference's structure layouts.
#pragma once

#include <cstdint>
#include <cstring>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <string>
#include <vector>

#include "report/Report.h"
#include "smbios/KSI_SMBIOS.h"

namespace smbios_test {

using Bytes = std::vector<std::uint8_t>;

// A formatted area addressed by structure offsets (the 4-byte header included).
class Area {
 public:
  explicit Area(std::uint8_t length) : b_(length, 0) {}
  Area& U8(unsigned offset, std::uint8_t v) {
    b_.at(offset) = v;
    return *this;
  }
  Area& U16(unsigned offset, std::uint16_t v) {
    b_.at(offset) = static_cast<std::uint8_t>(v);
    b_.at(offset + 1) = static_cast<std::uint8_t>(v >> 8);
    return *this;
  }
  Area& U32(unsigned offset, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b_.at(offset + i) = static_cast<std::uint8_t>(v >> (8 * i));
    return *this;
  }
  Area& Raw(unsigned offset, std::initializer_list<std::uint8_t> bytes) {
    for (auto v : bytes) b_.at(offset++) = v;
    return *this;
  }
  const Bytes& bytes() const { return b_; }

 private:
  Bytes b_;
};

// One structure: header, formatted area, string set with its double zero.
inline Bytes Structure(std::uint8_t type, std::uint16_t handle, const Area& area,
                       const std::vector<std::string>& strings = {}) {
  Bytes s = area.bytes();
  s[0] = type;
  s[1] = static_cast<std::uint8_t>(s.size());
  s[2] = static_cast<std::uint8_t>(handle);
  s[3] = static_cast<std::uint8_t>(handle >> 8);
  for (const auto& str : strings) {
    s.insert(s.end(), str.begin(), str.end());
    s.push_back(0);
  }
  if (strings.empty()) s.push_back(0);
  s.push_back(0);
  return s;
}

inline Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

inline Bytes EndOfTable(std::uint16_t handle = 0xFEFF) { return Structure(127, handle, Area(4)); }

// The component with `table` loaded and decoded as a table of version major.minor.
inline void Decode(kyvex::TKyvex_SMBIOS& s, const Bytes& table, std::uint8_t major, std::uint8_t minor) {
  s.SetReadLocalMemory(false);
  s.LoadTable(table.data(), table.size(), major, minor);
  s.CollectData();
}

// A 31-byte "_SM_" entry point (with its "_DMI_" part) naming a table.
inline Bytes EntryPoint2(std::uint8_t major, std::uint8_t minor, std::uint16_t length, std::uint32_t address,
                         std::uint16_t count, std::uint8_t bcdRevision = 0) {
  Bytes e(0x1F, 0);
  std::memcpy(e.data(), "_SM_", 4);
  e[5] = 0x1F;
  e[6] = major;
  e[7] = minor;
  std::memcpy(e.data() + 0x10, "_DMI_", 5);
  e[0x16] = static_cast<std::uint8_t>(length);
  e[0x17] = static_cast<std::uint8_t>(length >> 8);
  for (int i = 0; i < 4; ++i) e[0x18 + i] = static_cast<std::uint8_t>(address >> (8 * i));
  e[0x1C] = static_cast<std::uint8_t>(count);
  e[0x1D] = static_cast<std::uint8_t>(count >> 8);
  e[0x1E] = bcdRevision;
  return e;
}

// A 24-byte "_SM3_" entry point.
inline Bytes EntryPoint3(std::uint8_t major, std::uint8_t minor, std::uint32_t maxLength, std::uint64_t address) {
  Bytes e(0x18, 0);
  std::memcpy(e.data(), "_SM3_", 5);
  e[6] = 0x18;
  e[7] = major;
  e[8] = minor;
  e[0x0A] = 1;
  for (int i = 0; i < 4; ++i) e[0x0C + i] = static_cast<std::uint8_t>(maxLength >> (8 * i));
  for (int i = 0; i < 8; ++i) e[0x10 + i] = static_cast<std::uint8_t>(address >> (8 * i));
  return e;
}

// A file as `dmidecode --dump-bin` writes it: entry point at 0, table at 20h.
inline Bytes DumpImage(const Bytes& entryPoint, const Bytes& table) {
  Bytes image(0x20, 0);
  std::copy(entryPoint.begin(), entryPoint.end(), image.begin());
  image.insert(image.end(), table.begin(), table.end());
  return image;
}

inline Bytes ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

inline std::string DataFile(const std::string& name) {
  return std::string(KYVEX_SOURCE_DIR) + "/tests/data/smbios/" + name;
}

// The value of the row `label` in the section titled `title`; "(none)" when there is no such row.
inline std::string RowValue(const kyvex::report::Sections& sections, const std::string& title,
                            const std::string& label) {
  for (const auto& section : sections)
    if (section.Title == title)
      for (const auto& [l, value] : section.Items)
        if (l == label) return value;
  return "(none)";
}

// --- Complete tables of typical machines ------------------------------------------------

inline Bytes Bios(std::uint16_t h, const std::string& vendor, const std::string& version, const std::string& date,
                  std::uint8_t romSizeCode) {
  return Structure(0, h, Area(0x18).U8(0x04, 1).U8(0x05, 2).U16(0x06, 0xE800).U8(0x08, 3).U8(0x09, romSizeCode),
                   {vendor, version, date});
}

inline Area Uuid(Area a) {
  for (unsigned i = 0; i < 16; ++i) a.U8(0x08 + i, static_cast<std::uint8_t>(0x10 * (i % 16) + i));
  return a;
}

// A desktop of the SMBIOS 2.3 era: memory controller and modules, one processor with its
// serial number, caches, ports, slots, on-board devices, a probe.
inline Bytes DesktopTable() {
  return Concat({
      Bios(0x0000, "Award Software", "ASUS P4P800 1014", "03/09/2004", 0x07),
      Structure(1, 0x0001, Uuid(Area(0x19)).U8(0x04, 1).U8(0x05, 2).U8(0x06, 3).U8(0x07, 4).U8(0x18, 6),
                {"ASUSTeK Computer Inc.", "P4P800", "1.0", "SYS-0001"}),
      Structure(2, 0x0002, Area(0x0F).U8(0x04, 1).U8(0x05, 2).U8(0x06, 3).U8(0x07, 4).U8(0x08, 5).U8(0x0A, 6),
                {"ASUSTeK Computer Inc.", "P4P800", "Rev 1.xx", "MB-1234", "Asset-MB", "Board slot"}),
      Structure(3, 0x0003, Area(0x11).U8(0x04, 1).U8(0x05, 0x83).U8(0x06, 2).U8(0x07, 3).U8(0x08, 4),
                {"Chassis Manufacture", "Chassis Version", "CH-42", "Asset-CH"}),
      Structure(4, 0x0004,
                Area(0x23).U8(0x04, 1).U8(0x07, 2).U8(0x10, 3).U8(0x11, 0x8F).U16(0x12, 200).U16(0x14, 3800)
                    .U16(0x16, 2800).U8(0x19, 0x0F).U8(0x20, 4).U8(0x21, 5).U8(0x22, 6),
                {"Socket 478", "Intel", "Intel(R) Pentium(R) 4 CPU 2.80GHz", "CPU-SERIAL", "CPU-ASSET", "CPU-PART"}),
      // Memory controller: 4-way supported, 2-way current, 2^11 MB, 60 ns, EDO + SDRAM, 3.3 V, 3 slots.
      Structure(5, 0x0005,
                Area(0x15).U8(0x04, 3).U8(0x05, 6).U8(0x06, 5).U8(0x07, 4).U8(0x08, 11).U16(0x09, 0x0008)
                    .U16(0x0B, 0x0410).U8(0x0D, 0x02).U8(0x0E, 3).U16(0x0F, 0x0006).U16(0x11, 0x0007)
                    .U16(0x13, 0x0008)),
      Structure(6, 0x0006, Area(0x0C).U8(0x04, 1).U8(0x05, 0x01).U8(0x06, 60).U16(0x07, 0x0400).U8(0x09, 0x09)
                               .U8(0x0A, 0x09),
                {"DIMM0"}),
      Structure(6, 0x0007, Area(0x0C).U8(0x04, 1).U8(0x05, 0x23).U8(0x06, 60).U16(0x07, 0x0400).U8(0x09, 0x7F)
                               .U8(0x0A, 0x7F),
                {"DIMM1"}),
      Structure(7, 0x0008,
                Area(0x13).U8(0x04, 1).U16(0x05, 0x0180).U16(0x07, 0x0008).U16(0x09, 0x0008).U16(0x0B, 0x0002)
                    .U16(0x0D, 0x0002).U8(0x0F, 0).U8(0x10, 0x05).U8(0x11, 0x04).U8(0x12, 0x07),
                {"L1 Cache"}),
      Structure(7, 0x0009,
                Area(0x13).U16(0x05, 0x0181).U16(0x07, 0x8008).U16(0x09, 0x0200).U16(0x0B, 0x0010)
                    .U16(0x0D, 0x0010).U8(0x0F, 10).U8(0x10, 0x05).U8(0x11, 0x05).U8(0x12, 0x07)),
      Structure(8, 0x000A, Area(0x09).U8(0x04, 1).U8(0x05, 0x0F).U8(0x06, 2).U8(0x07, 0x0F).U8(0x08, 0x0D),
                {"PS2KB", "Keyboard"}),
      Structure(8, 0x000B, Area(0x09).U8(0x04, 1).U8(0x05, 0xFF).U8(0x07, 0x12).U8(0x08, 0x10), {"USB1"}),
      Structure(9, 0x000C, Area(0x0D).U8(0x04, 1).U8(0x05, 0x06).U8(0x06, 0x05).U8(0x07, 0x03).U8(0x08, 0x04)
                               .U16(0x09, 1),
                {"PCI1"}),
      Structure(9, 0x000D, Area(0x0D).U8(0x04, 1).U8(0x05, 0x12).U8(0x06, 0x05).U8(0x07, 0x04).U8(0x08, 0x03)
                               .U16(0x09, 8),
                {"AGP"}),
      Structure(10, 0x000E, Area(0x08).U8(0x04, 0x83).U8(0x05, 1).U8(0x06, 0x05).U8(0x07, 2),
                {"Onboard VGA", "Onboard Ethernet"}),
      Structure(28, 0x000F,
                Area(0x16).U8(0x04, 1).U8(0x05, 0x63).U16(0x06, 1000).U16(0x08, 0).U16(0x0A, 10).U16(0x0C, 20)
                    .U16(0x0E, 5).U16(0x14, 400),
                {"  CPU Temp  "}),
      EndOfTable(),
  });
}

// A laptop of the SMBIOS 2.7 era: no legacy device records, memory devices with speeds and
// part numbers, a notebook enclosure, an empty socket.
inline Bytes LaptopTable() {
  return Concat({
      Bios(0x0000, "LENOVO", "G1ET93WW (2.53 )", "12/25/2012", 0xFF),
      Structure(1, 0x0001, Uuid(Area(0x1B)).U8(0x04, 1).U8(0x05, 2).U8(0x06, 3).U8(0x07, 4).U8(0x18, 6),
                {"LENOVO", "2349KTG", "ThinkPad T430", "R9XYZ12"}),
      Structure(2, 0x0002, Area(0x0F).U8(0x04, 1).U8(0x05, 2).U8(0x07, 3), {"LENOVO", "2349KTG", "1ZJK12345"}),
      Structure(3, 0x0003, Area(0x15).U8(0x04, 1).U8(0x05, 0x0A).U8(0x07, 2), {"LENOVO", "R9XYZ12"}),
      Structure(4, 0x0004,
                Area(0x2A).U8(0x04, 1).U8(0x07, 2).U8(0x10, 3).U8(0x11, 0x8A).U16(0x12, 100).U16(0x14, 2900)
                    .U16(0x16, 2600).U8(0x19, 0x21).U8(0x20, 0).U8(0x21, 0).U8(0x22, 0),
                {"CPU Socket - U3E1", "Intel(R) Corporation", "Intel(R) Core(TM) i5-3320M CPU @ 2.60GHz"}),
      Structure(17, 0x0010,
                Area(0x28).U16(0x04, 0x000F).U16(0x08, 64).U16(0x0A, 64).U16(0x0C, 4096).U8(0x0E, 0x0D)
                    .U8(0x10, 1).U8(0x11, 2).U8(0x12, 0x18).U16(0x13, 0x0080).U16(0x15, 1600).U8(0x17, 3)
                    .U8(0x18, 4).U8(0x19, 5).U8(0x1A, 6),
                {"ChannelA-DIMM0", "BANK 0", "Samsung", "12345678", "None", "M471B5273DH0-CK0"}),
      Structure(17, 0x0011,
                Area(0x28).U16(0x04, 0x000F).U16(0x08, 0xFFFF).U16(0x0A, 0xFFFF).U8(0x0E, 0x0D).U8(0x10, 1)
                    .U8(0x11, 2).U8(0x12, 0x02).U16(0x13, 0x0004),
                {"ChannelB-DIMM0", "BANK 2"}),
      EndOfTable(),
  });
}

// A virtual machine as a hypervisor describes it (SMBIOS 2.4): short older-style records in
// a newer table and strings the hypervisor leaves empty.
inline Bytes VirtualMachineTable() {
  return Concat({
      Bios(0x0000, "SeaBIOS", "1.16.0", "04/01/2014", 0x00),
      Structure(1, 0x0100, Area(0x1B).U8(0x04, 1).U8(0x05, 2).U8(0x06, 3), {"QEMU", "Standard PC (i440FX + PIIX, 1996)", "pc-i440fx-7.2"}),
      Structure(3, 0x0300, Area(0x15).U8(0x04, 1).U8(0x05, 0x01).U8(0x06, 2), {"QEMU", "pc-i440fx-7.2"}),
      // A 32-byte processor structure: the 2.3 string fields lie beyond it.
      Structure(4, 0x0400, Area(0x20).U8(0x04, 1).U8(0x07, 2).U8(0x10, 3).U16(0x12, 0).U16(0x16, 2000)
                               .U8(0x19, 0x01),
                {"CPU 0", "QEMU", "pc-i440fx-7.2"}),
      Structure(4, 0x0401, Area(0x20).U8(0x04, 1).U8(0x07, 2).U16(0x16, 2000).U8(0x19, 0x01), {"CPU 1", "QEMU"}),
      // A 21-byte memory device: no speed word in it.
      Structure(17, 0x1100, Area(0x15).U16(0x08, 64).U16(0x0A, 64).U16(0x0C, 2048).U8(0x0E, 0x09).U8(0x10, 1)
                                .U8(0x12, 0x07).U16(0x13, 0x0002),
                {"DIMM 0"}),
      Structure(32, 0x2000, Area(0x0B)),
      EndOfTable(0x7F00),
  });
}

}  // namespace smbios_test
