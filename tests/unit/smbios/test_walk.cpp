// The structure walk over small synthetic tables: padding, the memory-controller rule, the
// table's end, and damaged tables that must end the walk without reading outside.
#include <gtest/gtest.h>

#include "smbios/KSI_SMBIOS.h"
#include "unit/smbios/SmbiosTables.h"

using namespace kyvex;
using namespace smbios_test;

namespace {

std::vector<std::uint8_t> Types(const TKyvex_SMBIOS& s) {
  std::vector<std::uint8_t> t;
  for (const auto& e : s.StructTables()) t.push_back(e.StructType);
  return t;
}

std::vector<std::uint32_t> Addresses(const TKyvex_SMBIOS& s) {
  std::vector<std::uint32_t> a;
  for (const auto& e : s.StructTables()) a.push_back(e.Address);
  return a;
}

const Bytes kBiosNoStrings = Structure(0, 0x0000, Area(0x12).U8(0x09, 0x0F));
const Bytes kSystem = Structure(1, 0x0001, Area(0x08).U8(0x04, 1), {"Maker"});

TEST(StructureWalk, RecordsEachStructureWithItsHeaderAndName) {
  TKyvex_SMBIOS s;
  Decode(s, Concat({kBiosNoStrings, kSystem, Structure(27, 0x0042, Area(0x0C)), Structure(200, 0x0043, Area(4)),
                    EndOfTable(0xFFFE)}),
         2, 3);
  ASSERT_EQ(Types(s), (std::vector<std::uint8_t>{0, 1, 27, 200, 127}));
  // A structure without strings is followed by its double zero and nothing else.
  EXPECT_EQ(Addresses(s), (std::vector<std::uint32_t>{0, 0x14, 0x14 + 8 + 6 + 1, 0x23 + 0x0E, 0x31 + 6}));
  const auto& e = s.StructTables();
  EXPECT_EQ(e[2].Handle, 0x0042);
  EXPECT_EQ(e[2].Length, 0x0C);
  EXPECT_EQ(e[2].Name, " Cooling Device");
  EXPECT_EQ(e[3].Name, "Unknown");
  EXPECT_EQ(e[4].Name, "End-of-Table");
  EXPECT_EQ(s.SystemManufacturer(), "Maker");
  EXPECT_EQ(s.BIOSSize(), 1024u);
}

TEST(StructureWalk, PaddingAfterTheBiosStructureIsSkipped) {
  TKyvex_SMBIOS s;
  const Bytes padding(5, 0);
  Decode(s, Concat({kBiosNoStrings, padding, kSystem, EndOfTable()}), 2, 3);
  EXPECT_EQ(Types(s), (std::vector<std::uint8_t>{0, 1, 127}));
  EXPECT_EQ(s.StructTables()[1].Address, 0x14u + 5);
  EXPECT_EQ(s.SystemManufacturer(), "Maker");
}

TEST(StructureWalk, PaddingBeforeAnyBiosStructureEndsTheWalk) {
  TKyvex_SMBIOS s;
  Decode(s, Concat({kSystem, Bytes(3, 0), Structure(2, 2, Area(8)), EndOfTable()}), 2, 3);
  // The system structure's set ends at its own double zero; the zeros after it read as a
  // header of length 0, which no structure has.
  EXPECT_EQ(Types(s), (std::vector<std::uint8_t>{1}));
  EXPECT_EQ(s.SystemManufacturer(), "Maker");
}

TEST(StructureWalk, HeaderShorterThanFourBytesEndsTheWalk) {
  const Bytes board = Structure(2, 2, Area(8).U8(0x04, 1), {"Board maker"});
  for (std::uint8_t length : {0, 1, 3}) {
    // A header of that length with a plausible type and handle, then good structures.
    const Bytes bad{17, length, 0x10, 0x00, 0x00, 0x00};
    TKyvex_SMBIOS s;
    Decode(s, Concat({kBiosNoStrings, kSystem, bad, board, EndOfTable()}), 2, 3);
    EXPECT_EQ(Types(s), (std::vector<std::uint8_t>{0, 1})) << "length " << int(length);
    EXPECT_EQ(s.MemoryDeviceCount(), 0u) << "length " << int(length);
    EXPECT_EQ(s.MainBoardManufacturer(), "") << "length " << int(length);
  }
  // Four bytes is a structure of its header alone, and the walk goes on.
  TKyvex_SMBIOS s;
  Decode(s, Concat({kBiosNoStrings, kSystem, Structure(200, 0x10, Area(4)), board, EndOfTable()}), 2, 3);
  EXPECT_EQ(Types(s), (std::vector<std::uint8_t>{0, 1, 200, 2, 127}));
  EXPECT_EQ(s.MainBoardManufacturer(), "Board maker");

  TKyvex_SMBIOS first;
  Decode(first, Concat({Bytes{0, 0, 0, 0, 0, 0}, kSystem, EndOfTable()}), 2, 3);
  EXPECT_TRUE(first.StructTables().empty()) << "nor is a table whose first header is short taken";
}

TEST(StructureWalk, FurtherBiosStructuresAreNotTakenForPadding) {
  TKyvex_SMBIOS s;
  const Bytes optionRom = Structure(0, 0x0001, Area(0x13).U8(0x04, 1), {"Option ROM"});
  const Bytes memoryMap = Structure(19, 0x0002, Area(0x0F));
  Decode(s, Concat({kBiosNoStrings, optionRom, Bytes{0}, memoryMap, EndOfTable()}), 2, 3);
  // One zero of padding before a structure of type 13h still reads as padding.
  EXPECT_EQ(Types(s), (std::vector<std::uint8_t>{0, 0, 19, 127}));
  EXPECT_EQ(s.StructTables()[1].Handle, 0x0001);
  EXPECT_EQ(s.BIOSVendor(), "") << "the first BIOS structure decides";
}

TEST(StructureWalk, MemoryControllerWithoutDoubleZeroIsFollowedDirectly) {
  TKyvex_SMBIOS s;
  Bytes controller = Structure(5, 5, Area(0x0F).U8(0x08, 0x0C));
  controller.resize(controller.size() - 2);  // no double zero
  const Bytes module = Structure(6, 6, Area(0x0C).U8(0x04, 1).U8(0x09, 0x0B), {"DIMM0"});
  Decode(s, Concat({kBiosNoStrings, controller, module, EndOfTable()}), 2, 3);
  ASSERT_EQ(Types(s), (std::vector<std::uint8_t>{0, 5, 6, 127}));
  EXPECT_EQ(s.StructTables()[2].Address, 0x14u + 0x0F);
  ASSERT_EQ(s.MemoryModuleCount(), 1u);
  EXPECT_EQ(s.GetMemoryModule(0).Socket, "DIMM0");
  EXPECT_EQ(s.GetMemoryModule(0).Size, 2048u);
  EXPECT_EQ(s.MemCtrlMaxSize(), 4096);
}

TEST(StructureWalk, WithoutEndOfTableTheWalkEndsAtTheTableLength) {
  const Bytes table = Concat({kBiosNoStrings, kSystem, Structure(2, 2, Area(8))});
  TKyvex_SMBIOS s;
  Decode(s, table, 2, 3);
  EXPECT_EQ(Types(s), (std::vector<std::uint8_t>{0, 1, 2}));
  for (const auto& e : s.StructTables()) EXPECT_LT(e.Address, table.size());
}

TEST(StructureWalk, DamagedTablesEndTheWalkInsideTheWindow) {
  const Bytes good = Concat({kBiosNoStrings, kSystem});
  Bytes noDoubleZero = Structure(1, 1, Area(8).U8(0x04, 1), {"ABC"});
  noDoubleZero.pop_back();
  noDoubleZero.pop_back();
  const struct {
    const char* what;
    Bytes table;
    std::size_t maxEntries;
  } cases[] = {
      {"empty table", {}, 0},
      {"header cut short", {0x00, 0x12}, 1},
      {"formatted area runs past the end", Concat({good, Bytes{0x04, 0xF0, 0x00, 0x01, 0x01}}), 3},
      {"string set without its double zero", Concat({good, noDoubleZero}), 3},
      {"length byte 0 everywhere", Bytes(64, 0), 0},
      {"length 1 and 2", Concat({good, Bytes{0x07, 0x01, 0x07, 0x02, 0x05, 0x02, 0x09}}), 2},
      {"all FF", Bytes(300, 0xFF), 300},
  };
  for (const auto& c : cases) {
    TKyvex_SMBIOS s;
    Decode(s, c.table, 2, 3);
    EXPECT_LE(s.StructTables().size(), c.maxEntries) << c.what;
    for (const auto& e : s.StructTables()) EXPECT_LT(e.Address, c.table.size()) << c.what;
  }
  TKyvex_SMBIOS s;
  Decode(s, Concat({good, noDoubleZero}), 2, 3);
  EXPECT_EQ(s.SystemManufacturer(), "Maker") << "the first system structure decodes";
}

TEST(StructureWalk, EndOfTableStopsTheWalk) {
  TKyvex_SMBIOS s;
  Decode(s, Concat({kBiosNoStrings, EndOfTable(), kSystem}), 2, 3);
  EXPECT_EQ(Types(s), (std::vector<std::uint8_t>{0, 127}));
  EXPECT_EQ(s.SystemManufacturer(), "");
}

}  // namespace

namespace {

// `count` memory devices of a header alone (the smallest structure there is), then the end.
Bytes TinyStructures(std::size_t count) {
  Bytes table;
  table.reserve(count * 6 + 6);
  for (std::size_t i = 0; i < count; ++i) {
    const auto handle = static_cast<std::uint16_t>(i);
    table.insert(table.end(), {17, 4, static_cast<std::uint8_t>(handle), static_cast<std::uint8_t>(handle >> 8), 0, 0});
  }
  const Bytes end = EndOfTable();
  table.insert(table.end(), end.begin(), end.end());
  return table;
}

TEST(StructureWalk, StopsAtTheMostStructuresATableCanCountAndSaysSo) {
  TKyvex_SMBIOS s;
  // 65,534 and the end-of-table structure: the most a table can hold, walked whole.
  Decode(s, TinyStructures(65534), 3, 2);
  EXPECT_EQ(s.StructTables().size(), 65535u);
  EXPECT_EQ(s.StructTables().back().StructType, 127);
  EXPECT_EQ(s.WalkLimitText(), "");
  EXPECT_EQ(s.MemoryDeviceCount(), 65534u);

  // Far more: the walk stops at the limit and names it; memory follows what was decoded.
  Decode(s, TinyStructures(200000), 3, 2);
  EXPECT_EQ(s.StructTables().size(), 65535u);
  EXPECT_EQ(s.MemoryDeviceCount(), 65535u);
  EXPECT_NE(s.WalkLimitText().find("65,535 structures"), std::string::npos) << s.WalkLimitText();

  // A new walk starts without the last one's word.
  Decode(s, TinyStructures(3), 3, 2);
  EXPECT_EQ(s.WalkLimitText(), "");
}

}  // namespace
