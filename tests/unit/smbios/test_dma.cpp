// The memory window: its readers at the edges, string sets, and how it fills itself from the
// physical-memory section, the segment dump and the Windows 9x copy, over the fake platform.
#include <gtest/gtest.h>

#include "common/Kyvex_Native.h"
#include "platform/fake/FakePlatform.h"
#include "smbios/KSI_DMA.h"
#include "unit/smbios/SmbiosTables.h"

using namespace kyvex;
using platform::FakePlatform;
using platform::ScopedPlatform;
using smbios_test::Bytes;

namespace {

TKyvex_DMA& Loaded(TKyvex_DMA& w, std::uint32_t start, const Bytes& bytes) {
  w.SetStartAddress(start);
  w.SetMemorySize(static_cast<std::uint32_t>(bytes.size()));
  w.LoadFromBuffer(bytes, 0, static_cast<std::uint32_t>(bytes.size()));
  return w;
}

TEST(MemoryWindow, ReadersAnswerZeroOutsideAndAtTheEdges) {
  TKyvex_DMA w;
  EXPECT_FALSE(w.HoldsData());
  EXPECT_EQ(w.ReadByte(0), 0) << "a window without data answers 0";
  Loaded(w, 0x1000, {0x11, 0x22, 0x33, 0x44, 0x55});
  EXPECT_EQ(w.ReadByte(0x1000), 0x11);
  EXPECT_EQ(w.ReadByte(0x1004), 0x55) << "last byte";
  EXPECT_EQ(w.ReadByte(0x1005), 0) << "StartAddress + MemorySize";
  EXPECT_EQ(w.ReadByte(0x0FFF), 0);
  EXPECT_EQ(w.ReadWord(0x1003), 0x5544);
  EXPECT_EQ(w.ReadWord(0x1004), 0) << "a word needs both bytes inside";
  EXPECT_EQ(w.ReadDWord(0x1001), 0x55443322u);
  EXPECT_EQ(w.ReadDWord(0x1002), 0u);
  EXPECT_FALSE(w.InWindow(0x1005));

  // New bounds apply to the old copy: a smaller size hides bytes, a larger one shows no more.
  w.SetMemorySize(2);
  EXPECT_EQ(w.ReadByte(0x1002), 0);
  w.SetMemorySize(100);
  EXPECT_EQ(w.ReadByte(0x1004), 0x55);
  EXPECT_EQ(w.ReadByte(0x1005), 0);

  // At the top of the address space nothing wraps round to the start.
  TKyvex_DMA top;
  Loaded(top, 0xFFFFFFFE, {0xAA, 0xBB});
  EXPECT_EQ(top.ReadByte(0xFFFFFFFF), 0xBB);
  EXPECT_EQ(top.ReadWord(0xFFFFFFFF), 0);
  EXPECT_EQ(top.ReadDWord(0xFFFFFFFE), 0u);
}

TEST(MemoryWindow, ReadBytesClipsToTheWindowAndZeroesTheRest) {
  TKyvex_DMA w;
  Loaded(w, 0x100, {1, 2, 3});
  std::uint8_t buf[255];
  std::memset(buf, 0xEE, sizeof buf);
  w.ReadBytes(0x101, 5, buf);
  EXPECT_EQ(Bytes(buf, buf + 6), (Bytes{2, 3, 0, 0, 0, 0xEE}));
  w.ReadBytes(0x200, 1, buf);
  EXPECT_EQ(Bytes(buf, buf + 255), Bytes(255, 0)) << "outside: all 255 bytes zeroed";
}

TEST(MemoryWindow, LoadFromBufferTakesOnlyWhatTheSourceHolds) {
  TKyvex_DMA w;
  const Bytes source{9, 8, 7, 6};
  w.SetMemorySize(4);
  w.LoadFromBuffer(source, 2, 4);
  EXPECT_EQ(w.ReadDWord(0), 0x00000607u);
  w.LoadFromBuffer(source, 10, 4);
  EXPECT_TRUE(w.HoldsData());
  EXPECT_EQ(w.ReadDWord(0), 0u);
}

TEST(MemoryWindow, StringSets) {
  TKyvex_DMA w;
  const std::string set("AB\0C\0\0", 6);
  Loaded(w, 0x50, Bytes(set.begin(), set.end()));
  const struct {
    std::uint8_t index;
    const char* expected;
  } cases[] = {{0, ""}, {1, "AB"}, {2, "C"}, {3, ""}, {4, ""}, {255, ""}};
  for (const auto& c : cases) EXPECT_EQ(w.ReadSetString(0x50, c.index), c.expected) << int(c.index);
  EXPECT_EQ(w.ReadSetString(0x4F, 1), "") << "outside the window";

  // A string longer than the 255 bytes kept: cut, and the next string still found whole.
  const std::string longString(300, 'x');
  std::string big = longString + '\0' + "next" + '\0' + '\0';
  Loaded(w, 0, Bytes(big.begin(), big.end()));
  EXPECT_EQ(w.ReadSetString(0, 1), std::string(255, 'x'));
  EXPECT_EQ(w.ReadSetString(0, 2), "next");

  // Cut at a character boundary: 254 letters and a two-byte character do not fit in 255.
  std::string utf8 = std::string(254, 'a') + "\xC3\xA9" + '\0' + '\0';
  Loaded(w, 0, Bytes(utf8.begin(), utf8.end()));
  EXPECT_EQ(w.ReadSetString(0, 1), std::string(254, 'a'));

  // A set that runs off the window's end without its zeros.
  const std::string cut("ABC\0DE", 6);
  Loaded(w, 0, Bytes(cut.begin(), cut.end()));
  EXPECT_EQ(w.ReadSetString(0, 2), "DE");
  EXPECT_EQ(w.ReadSetString(0, 3), "");
}

TEST(SegmentDumper, OneVariantPerSegment) {
  const Bytes f0 = SegmentDumper(0xF0);
  ASSERT_EQ(f0.size(), 46u);
  const Bytes expected{0x31, 0xD2, 0xB6, 0xF0, 0x8E, 0xDA, 0x31, 0xD2, 0x31, 0xC9, 0x49, 0x31, 0xDB, 0x43, 0xB4, 0x40,
                       0xCD, 0x21, 0x72, 0x16, 0x31, 0xD2, 0xB6, 0xF0, 0x8E, 0xDA, 0x31, 0xD2, 0x4A, 0x31, 0xC9, 0x41,
                       0x89, 0xCB, 0xB4, 0x40, 0xCD, 0x21, 0x72, 0x02, 0xB0, 0x00, 0xB4, 0x4C, 0xCD, 0x21};
  EXPECT_EQ(f0, expected);
  EXPECT_EQ(SegmentDumper(0x00)[3], 0x00);
  EXPECT_TRUE(SegmentDumper(0x15).empty());
  FakePlatform fake;
  ScopedPlatform use(fake);
  EXPECT_FALSE(WriteSegmentDumper(0x15, "C:\\TEMP\\x.com"));
  EXPECT_TRUE(fake.firmware.files.empty());
}

// --- Acquisition over the fake platform -------------------------------------------------

// An NT machine whose ntdll exports the section calls.
struct NtMachine {
  FakePlatform fake;
  NtMachine() {
    fake.loadedModules["NTDLL.DLL"] = 0x7C900000;
    for (const char* name : kNativeExportNames) fake.exports[0x7C900000].insert(name);
    Bytes image(0x40000);
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 7 + (i >> 16));
    fake.firmware.SetPhysical(0xC0000, image);
  }
  std::uint8_t Expected(std::uint32_t address) const { return fake.firmware.PhysicalByte(address); }
};

TKyvex_DMA& Window(TKyvex_DMA& w, std::uint32_t start, std::uint32_t size) {
  w.SetStartAddress(start);
  w.SetMemorySize(size);
  w.CollectData();
  return w;
}

TEST(MemoryWindowAcquisition, SectionViewIsAlignedToTheMappingGranularity) {
  NtMachine m;
  ScopedPlatform use(m.fake);
  TKyvex_DMA w;
  EXPECT_EQ(w.PageSize(), 4096u);
  Window(w, 0xF1234, 0x100);
  ASSERT_TRUE(w.SourceAnswered());
  EXPECT_EQ(m.fake.firmware.mappedOffsets, std::vector<std::uint32_t>{0xF0000})
      << "the view's offset is a multiple of the 64 KB granularity, not of the page";
  for (std::uint32_t a : {0xF1234u, 0xF1300u, 0xF1333u}) EXPECT_EQ(w.ReadByte(a), m.Expected(a));
  EXPECT_EQ(w.ReadByte(0xF1334), 0);
  EXPECT_EQ(m.fake.firmware.sectionName, "\\Device\\PhysicalMemory");
  EXPECT_EQ(m.fake.firmware.sectionAccess, 4u);
  EXPECT_EQ(m.fake.firmware.sectionAttributes, 0x40u);
  EXPECT_EQ(m.fake.firmware.sectionEntryPoint, NativeBinding().EntryPoint("NtOpenSection"));
  EXPECT_NE(m.fake.firmware.sectionEntryPoint, nullptr);
  EXPECT_EQ(m.fake.firmware.openHandles, 0);
  EXPECT_EQ(m.fake.firmware.openViews, 0);
  EXPECT_TRUE(m.fake.firmware.commandLines.empty());
}

TEST(MemoryWindowAcquisition, RefusedSectionFallsBackToTheSegmentDump) {
  NtMachine m;
  m.fake.firmware.sectionStatus = platform::kStatusAccessDenied;
  m.fake.firmware.directories.insert("C:\\TEMP\\~ROMDMP1");  // taken: the dump uses ~RomDmp2
  ScopedPlatform use(m.fake);
  TKyvex_DMA w;
  Window(w, 0xC8000, 0x200);
  ASSERT_TRUE(w.SourceAnswered());
  ASSERT_EQ(m.fake.firmware.commandLines.size(), 1u);
  EXPECT_EQ(m.fake.firmware.commandLines[0],
            "C:\\WINDOWS\\system32\\cmd.exe /C C:\\TEMP\\~RomDmp2\\RomDump.com > C:\\TEMP\\~RomDmp2\\Rom.dmp");
  EXPECT_EQ(m.fake.firmware.creationFlags[0], 0x210u);
  EXPECT_EQ(w.ReadByte(0xC8000), m.Expected(0xC8000)) << "dumper C0h, offset 8000h";
  EXPECT_EQ(w.ReadByte(0xC81FF), m.Expected(0xC81FF));
  EXPECT_NE(m.fake.firmware.waitTimeouts[0], platform::kInfinite) << "the wait is bounded";
  EXPECT_TRUE(m.fake.firmware.files.empty()) << "program and dump deleted";
  EXPECT_EQ(m.fake.firmware.directories.size(), 1u) << "only the folder that was there before remains";
  EXPECT_EQ(m.fake.firmware.openHandles, 0);
}

TEST(MemoryWindowAcquisition, EverySegmentOfTheWindowIsDumped) {
  NtMachine m;
  m.fake.firmware.mapFails = true;
  ScopedPlatform use(m.fake);
  TKyvex_DMA w;
  Window(w, 0xC0000, 0x40000);
  EXPECT_EQ(m.fake.firmware.commandLines.size(), 4u) << "C0h, D0h, E0h and F0h";
  ASSERT_TRUE(w.SourceAnswered());
  for (std::uint32_t a : {0xC0000u, 0xDFFFFu, 0xE1234u, 0xFFFF0u}) EXPECT_EQ(w.ReadByte(a), m.Expected(a)) << a;
}

TEST(MemoryWindowAcquisition, DumpFailuresLeaveZeros) {
  struct Case {
    const char* what;
    void (*script)(platform::FakeFirmware&);
    std::uint32_t start;
    std::size_t processes;
  };
  const Case cases[] = {
      {"above the first megabyte no dumper exists", [](platform::FakeFirmware&) {}, 0x110000, 0},
      {"no command interpreter", [](platform::FakeFirmware& f) { f.environment.clear(); }, 0xF0000, 0},
      {"folder cannot be created", [](platform::FakeFirmware& f) { f.createDirectoryFails = true; }, 0xF0000, 0},
      {"process not started", [](platform::FakeFirmware& f) { f.createProcessFails = true; }, 0xF0000, 1},
      {"child writes nothing", [](platform::FakeFirmware& f) { f.childWritesNothing = true; }, 0xF0000, 1},
      {"child never ends", [](platform::FakeFirmware& f) { f.childHangs = true; }, 0xF0000, 1},
  };
  for (const auto& c : cases) {
    NtMachine m;
    m.fake.firmware.sectionStatus = platform::kStatusAccessDenied;
    c.script(m.fake.firmware);
    ScopedPlatform use(m.fake);
    TKyvex_DMA w;
    Window(w, c.start, 0x10000);
    EXPECT_TRUE(w.HoldsData()) << c.what;
    EXPECT_FALSE(w.SourceAnswered()) << c.what;
    EXPECT_EQ(w.ReadDWord(c.start + 0x100), 0u) << c.what;
    EXPECT_EQ(m.fake.firmware.commandLines.size(), c.processes) << c.what;
    EXPECT_TRUE(m.fake.firmware.files.empty()) << c.what;
    EXPECT_TRUE(m.fake.firmware.directories.empty()) << c.what;
    EXPECT_EQ(m.fake.firmware.openHandles, 0) << c.what;
  }
}

TEST(MemoryWindowAcquisition, HungChildIsEndedAfterABoundedWait) {
  NtMachine m;
  m.fake.firmware.sectionStatus = platform::kStatusAccessDenied;
  m.fake.firmware.childHangs = true;
  ScopedPlatform use(m.fake);
  std::uint8_t dump[65536];
  EXPECT_FALSE(DumpRomSegment(0xF0, dump, kSegmentDumpTimeout));
  ASSERT_FALSE(m.fake.firmware.waitTimeouts.empty());
  EXPECT_EQ(m.fake.firmware.waitTimeouts[0], kSegmentDumpTimeout);
  EXPECT_EQ(m.fake.firmware.terminated, 1);
}

TEST(MemoryWindowAcquisition, TempFolderWithSpacesIsQuotedForTheInterpreter) {
  NtMachine m;
  m.fake.firmware.sectionStatus = platform::kStatusAccessDenied;
  m.fake.firmware.tempPath = "C:\\Documents and Settings\\tester\\Local Settings\\Temp";  // no trailing separator
  ScopedPlatform use(m.fake);
  TKyvex_DMA w;
  Window(w, 0xF0000, 0x10);
  ASSERT_EQ(m.fake.firmware.commandLines.size(), 1u);
  EXPECT_EQ(m.fake.firmware.commandLines[0],
            "C:\\WINDOWS\\system32\\cmd.exe /C \"\"C:\\Documents and Settings\\tester\\Local Settings\\Temp\\"
            "~RomDmp1\\RomDump.com\" > \"C:\\Documents and Settings\\tester\\Local Settings\\Temp\\~RomDmp1\\Rom.dmp\"\"");
  EXPECT_TRUE(w.SourceAnswered());
  EXPECT_EQ(w.ReadByte(0xF0005), m.Expected(0xF0005));
}

TEST(MemoryWindowAcquisition, Windows9xReadsLinearMemory) {
  NtMachine m;
  m.fake.version.dwPlatformId = platform::kPlatformWin32Windows;
  m.fake.version.dwMajorVersion = 4;
  m.fake.version.dwMinorVersion = 10;
  ScopedPlatform use(m.fake);
  TKyvex_DMA w;
  Window(w, 0xF0000, 0x10000);
  EXPECT_TRUE(w.SourceAnswered());
  EXPECT_EQ(w.ReadByte(0xF8000), m.Expected(0xF8000));
  EXPECT_TRUE(m.fake.firmware.mappedOffsets.empty()) << "no section on 9x";

  m.fake.firmware.linearReadFaults = true;
  Window(w, 0xF0000, 0x10000);
  EXPECT_FALSE(w.HoldsData()) << "an access fault leaves the window without data";
  EXPECT_EQ(w.ReadByte(0xF8000), 0);
}

}  // namespace
