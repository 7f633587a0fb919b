// The naming tables, by tables of cases: each case builds a fake processor with the values
// the tables look at and runs the whole refresh.
#include <gtest/gtest.h>

#include <map>

#include "cpu/KSI_CPU.h"
#include "tests/unit/cpu/CpuTestSupport.h"

using namespace kyvex;
using namespace kyvex::cputest;
using platform::FakePlatform;
using platform::ScopedPlatform;

namespace {

struct Chip {
  const char* vendor = "GenuineIntel";
  int family = 0, model = 0, stepping = 0, type = 0, brand = 0;
  int l2 = 0, l3 = 0;                           // KB
  std::uint32_t standard1 = 0, extended1 = 0;   // leaf 1 and 0x80000001 EDX
  int physical = 1;                             // processors, one package each
  int mhz = 0;                                  // the clock (sets the time-stamp counter bit)
  int familyEx = 0;                             // 0x80000001 EAX bits 11..8
  int extendedModel = -1;                       // leaf 1 EAX bits 19..16, when not implied by the model
};

void Build(FakePlatform& fake, const Chip& s) {
  static const std::map<int, std::uint32_t> kIntelLevel2 = {{0, 0}, {128, 0x41}, {256, 0x42}, {512, 0x43}, {1024, 0x44}, {2048, 0x45}};
  static const std::map<int, std::uint32_t> kIntelLevel3 = {{0, 0}, {512, 0x22}, {1024, 0x23}};
  FakeCpu p;
  std::string vendor = s.vendor;
  vendor.resize(12, ' ');
  p.Set(0, VendorLeaf(vendor, 2));
  const std::uint32_t tsc = s.mhz ? (1u << 4) : 0;
  p.Set(1, {SignatureOf(s.family, s.model, s.stepping, s.type, s.extendedModel), static_cast<std::uint32_t>(s.brand), 0,
            s.standard1 | tsc});
  p.Set(0x80000000, {0x80000006, 0, 0, 0});
  p.Set(0x80000001, {static_cast<std::uint32_t>(s.familyEx) << 8, 0, 0, s.extended1});
  if (vendor == "GenuineIntel") {
    ASSERT_TRUE(kIntelLevel2.count(s.l2) && kIntelLevel3.count(s.l3)) << "no descriptor for that size";
    p.Set(2, {0x01 | kIntelLevel2.at(s.l2) << 8 | kIntelLevel3.at(s.l3) << 16, 0, 0, 0});
  } else {
    const bool c3Layout = vendor == "CentaurHauls" && s.family == 6 && (s.model == 7 || s.model == 8);
    p.Set(0x80000006, {0, 0, static_cast<std::uint32_t>(s.l2) << (c3Layout ? 24 : 16), 0});
  }
  fake.processor.cpus.assign(static_cast<std::size_t>(s.physical), p);
  fake.processor.tscMHz = s.mhz;
}

struct Names {
  const char* cpuName;
  const char* codeName;
  const char* revision;
  const char* technology;
};

struct NameCase {
  const char* what;
  Chip chip;
  Names names;
};

void Check(const NameCase& c) {
  SCOPED_TRACE(c.what);
  FakePlatform fake;
  Build(fake, c.chip);
  ScopedPlatform use(fake);
  TKyvex_CPU cpu;
  cpu.CollectData();
  ASSERT_EQ(cpu.Family(), c.chip.family);
  ASSERT_EQ(cpu.Model(), c.chip.model);
  EXPECT_EQ(cpu.CPUName(), c.names.cpuName);
  EXPECT_EQ(cpu.CodeName(), c.names.codeName);
  EXPECT_EQ(cpu.Revision(), c.names.revision);
  EXPECT_EQ(cpu.Technology(), c.names.technology);
}

TEST(IntelNames, Families4To7) {
  const NameCase cases[] = {
      {"486SX write-back", {.family = 4, .model = 2, .stepping = 3}, {"i80486SX-WB", "P4S", "bBx", ""}},
      {"486SX SL", {.family = 4, .model = 2, .stepping = 11}, {"i80486SX-SL", "P4S", "aB0,aC0", ""}},
      {"486SX other stepping", {.family = 4, .model = 2, .stepping = 5}, {"i80486SX", "P4S", "", ""}},
      {"486DX2 write-back", {.family = 4, .model = 3, .stepping = 6}, {"i80486DX/2-WB", "P24D", "A", ""}},
      {"486DX2 SL", {.family = 4, .model = 3, .stepping = 5}, {"i80486DX/2-SL", "P24S", "aB0,aC0", ""}},
      {"486DX4 OverDrive", {.family = 4, .model = 8, .stepping = 0, .type = 1}, {"i80486DX/4 OverDrive", "P24C", "A", ""}},
      {"Pentium P54C", {.family = 5, .model = 2, .stepping = 12}, {"Pentium", "A80502,P54C,P54CS", "aC0,cC0,mcC0,acC0", "0.50 µm"}},
      {"P54C OverDrive", {.family = 5, .model = 2, .stepping = 12, .type = 1}, {"Pentium OverDrive for P54C", "P54CT", "", "0.35 µm"}},
      {"P54C type 3: nothing", {.family = 5, .model = 2, .stepping = 1, .type = 3}, {"", "", "", ""}},
      {"P24T", {.family = 5, .model = 3, .stepping = 1}, {"Pentium OverDrive for 486", "P24T", "", ""}},
      {"P24B", {.family = 5, .model = 3, .stepping = 2}, {"Pentium OverDrive for 486", "P24B", "", ""}},
      {"Pentium MMX", {.family = 5, .model = 4, .stepping = 3}, {"Pentium MMX", "A80503,P55C", "xB1,mxB1", "0.28 µm"}},
      {"Pentium II Xeon", {.family = 6, .model = 5, .stepping = 2, .l2 = 1024}, {"Pentium II Xeon", "A80523, P6L Deschutes", "B0,dB0,mdB0,mmdB0", "0.25 µm"}},
      {"Covington", {.family = 6, .model = 5, .stepping = 0}, {"Celeron", "P6C Covington", "dA0,mdA0,mmdA0", "0.25 µm"}},
      {"Mobile Celeron: 128 KB and PSN", {.family = 6, .model = 6, .stepping = 10, .l2 = 128, .standard1 = 1u << 18}, {"Mobile Celeron", "Dixon", "mdbA0,mdxA0,mqbA1,mqpA1", "0.25 µm"}},
      {"Mendocino", {.family = 6, .model = 6, .stepping = 0, .l2 = 128}, {"Celeron", "P6C Mendocino, Celeron A", "mA0", "0.25 µm"}},
      {"Mobile Pentium II", {.family = 6, .model = 6, .stepping = 0, .l2 = 256, .standard1 = 1u << 18}, {"Mobile Pentium II", "Dixon", "mA0", "0.25 µm"}},
      {"Tanner", {.family = 6, .model = 7, .stepping = 3, .l2 = 1024}, {"Pentium III Xeon", "Tanner", "C0,kC0", "0.25 µm"}},
      {"Coppermine-128: the size test first", {.family = 6, .model = 8, .stepping = 3, .brand = 3, .l2 = 128}, {"Celeron", "Coppermine-128, Celeron II", "B0,cB0,cB0c", "0.18 µm"}},
      {"Cascades", {.family = 6, .model = 8, .stepping = 6, .brand = 3, .l2 = 256}, {"Pentium III Xeon", "Cascades", "C0,cC0", "0.18 µm"}},
      {"Coppermine Celeron, brand 1", {.family = 6, .model = 8, .stepping = 10, .brand = 1, .l2 = 256}, {"Celeron", "A80526, Coppermine", "D0,cD0", "0.18 µm"}},
      {"Coppermine", {.family = 6, .model = 8, .stepping = 6, .brand = 2, .l2 = 256}, {"Pentium III", "A80526, Coppermine", "C0,cC0", "0.18 µm"}},
      {"Banias", {.family = 6, .model = 9, .stepping = 5, .brand = 22, .l2 = 1024}, {"Pentium M", "Banias", "", "0.13 µm"}},
      {"model 9, another brand", {.family = 6, .model = 9, .stepping = 5, .brand = 2}, {"Pentium III", "", "", "0.13 µm"}},
      {"Tualatin Xeon A", {.family = 6, .model = 10, .stepping = 1}, {"Pentium III Xeon A", "A80530,Tualatin", "A1", "0.18 µm"}},
      {"Tualatin brand 3, 256 KB", {.family = 6, .model = 11, .stepping = 1, .brand = 3, .l2 = 256}, {"Celeron", "A80530,Tualatin", "tA1,A1", "0.13 µm"}},
      {"Tualatin brand 3, 512 KB", {.family = 6, .model = 11, .stepping = 4, .brand = 3, .l2 = 512}, {"Pentium III Xeon", "A80530,Tualatin", "tB1", "0.13 µm"}},
      {"Tualatin mobile", {.family = 6, .model = 11, .stepping = 1, .brand = 6, .l2 = 512}, {"Mobile Pentium III M", "Geyservile", "tA1,A1", "0.13 µm"}},
      {"Tualatin B", {.family = 6, .model = 11, .stepping = 1, .brand = 4, .l2 = 512}, {"Pentium III B", "A80530,Tualatin", "tA1,A1", "0.13 µm"}},
      {"Dothan", {.family = 6, .model = 13, .stepping = 8, .l2 = 2048}, {"Pentium M", "Dothan", "", "0.09 µm"}},
      {"Yonah: model 14 has no row", {.family = 6, .model = 14, .stepping = 8, .l2 = 2048}, {"", "", "", ""}},
      {"Sandy Bridge (extended model 2) is not a Tualatin", {.family = 6, .model = 10, .stepping = 7, .extendedModel = 2}, {"Core", "Sandy Bridge", "", "32 nm"}},
      {"Penryn (extended model 1) is not a Coppermine", {.family = 6, .model = 7, .stepping = 6, .l2 = 2048, .extendedModel = 1}, {"Core 2", "Wolfdale/Penryn", "", "45 nm"}},
      {"Itanium", {.family = 7, .model = 0}, {"Itanium", "Merced", "", "0.18 µm"}},
  };
  for (const auto& c : cases) Check(c);
}

TEST(IntelNames, NetBurstFamilies) {
  const NameCase cases[] = {
      {"Northwood", {.family = 15, .model = 2, .stepping = 9, .brand = 9, .l2 = 512}, {"Pentium 4", "Northwood", "D1", "0.13 µm"}},
      {"Prestonia: two packages make a Xeon name", {.family = 15, .model = 2, .stepping = 9, .brand = 14, .l2 = 512, .physical = 2}, {"Pentium 4 Xeon", "Prestonia", "D1", "0.13 µm"}},
      {"Xeon by package count alone", {.family = 15, .model = 2, .stepping = 4, .brand = 9, .l2 = 512, .physical = 2}, {"Pentium 4 Xeon", "Northwood", "B0", "0.13 µm"}},
      {"Gallatin", {.family = 15, .model = 2, .stepping = 5, .brand = 12, .l2 = 512}, {"Pentium 4 Xeon MP", "Gallatin", "M0", "0.13 µm"}},
      {"mobile Celeron", {.family = 15, .model = 2, .stepping = 4, .brand = 8, .l2 = 256}, {"Celeron 4 Mobile", "Northwood", "B0", "0.13 µm"}},
      {"Pentium 4-M", {.family = 15, .model = 2, .stepping = 4, .brand = 15, .l2 = 512}, {"Pentium 4 Mobile", "Northwood", "B0", "0.13 µm"}},
      {"128 KB makes a Celeron", {.family = 15, .model = 2, .stepping = 7, .brand = 10, .l2 = 128}, {"Celeron", "Northwood", "C1", "0.13 µm"}},
      {"256 KB and no brand: Celeron D", {.family = 15, .model = 3, .stepping = 4, .l2 = 256}, {"Celeron D", "Prescott", "", "90 nm"}},
      {"Prescott Celeron D", {.family = 15, .model = 4, .stepping = 1, .brand = 1, .l2 = 256}, {"Celeron D", "Prescott", "", "90 nm"}},
      {"Prescott Celeron", {.family = 15, .model = 4, .stepping = 1, .brand = 1, .l2 = 512}, {"Celeron", "Prescott", "", "90 nm"}},
      {"Nocona", {.family = 15, .model = 4, .stepping = 1, .brand = 14, .l2 = 1024}, {"Pentium 4 Xeon", "Nocona", "", "90 nm"}},
      {"Foster MP: brand 11 with a level-3 cache", {.family = 15, .model = 1, .stepping = 2, .brand = 11, .l2 = 256, .l3 = 512}, {"Pentium 4 Xeon MP", "Foster MP", "D0", "0.18 µm"}},
      {"Foster: brand 11 without level 3", {.family = 15, .model = 1, .stepping = 2, .brand = 11, .l2 = 256}, {"Pentium 4 Xeon", "Foster", "D0", "0.18 µm"}},
      {"Willamette", {.family = 15, .model = 0, .stepping = 10, .brand = 8, .l2 = 256}, {"Pentium 4", "P68, Willamette", "C1", "0.18 µm"}},
      {"Cedar Mill: no model row", {.family = 15, .model = 6, .stepping = 5, .brand = 0, .l2 = 2048}, {"Pentium 4", "", "", ""}},
      {"Itanium 2 McKinley", {.family = 15, .model = 0, .familyEx = 1}, {"Itanium 2", "McKinley", "", "0.18 µm"}},
      {"Itanium 2 Madison", {.family = 15, .model = 1, .familyEx = 1}, {"Itanium 2", "Madison/Deerfield", "", "0.13 µm"}},
      {"Itanium 2, later model", {.family = 15, .model = 3, .familyEx = 1}, {"Itanium 2", "", "", "0.13 µm"}},
      {"family 15, FamilyEx 2: nothing", {.family = 15, .model = 2, .stepping = 9, .brand = 9, .l2 = 512, .familyEx = 2}, {"", "", "", ""}},
      {"family 16, IA-64 bit", {.family = 16, .model = 0, .brand = 2, .l2 = 512, .standard1 = 1u << 30}, {"64bit Pentium 4", "", "", ""}},
      {"family 16 without it", {.family = 16, .model = 0, .brand = 2, .l2 = 512}, {"Pentium 4", "", "", ""}},
  };
  for (const auto& c : cases) Check(c);
}

TEST(IntelNames, BrandFlags) {
  struct Case {
    Chip chip;
    TIntelBrands expected;
  };
  const Case cases[] = {
      {{.brand = 0}, {}},
      {{.brand = 1}, {ibCeleron}},
      {{.brand = 2}, {ibPentium}},
      {{.brand = 3, .l2 = 128}, {ibCeleron}},
      {{.brand = 3, .l2 = 256}, {ibXeon}},
      {{.brand = 6}, {ibPentium, ibMobile}},
      {{.brand = 8}, {ibPentium}},
      {{.family = 15, .model = 2, .stepping = 4, .brand = 8}, {ibCeleron, ibMobile}},
      {{.brand = 11}, {ibXeon}},
      {{.brand = 11, .l3 = 512}, {ibXeon, ibMP}},
      {{.brand = 12}, {ibXeon, ibMP}},
      {{.brand = 13}, {}},
      {{.brand = 15}, {ibPentium, ibMobile}},
      {{.family = 15, .model = 2, .stepping = 7, .brand = 15}, {ibCeleron, ibMobile}},
      {{.brand = 18}, {ibCeleron, ibM}},
      {{.brand = 21}, {ibMobile}},
      {{.brand = 22}, {ibPentium, ibM}},
      {{.brand = 23}, {ibCeleron, ibMobile}},
      {{.brand = 24}, {}},
      {{.vendor = "AuthenticAMD", .brand = 2}, {ibPentium}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.chip.brand);
    FakePlatform fake;
    Build(fake, c.chip);
    ScopedPlatform use(fake);
    TKyvex_CPU cpu;
    cpu.CollectData();
    EXPECT_EQ(cpu.IntelBrand(), c.expected);
  }
}

TEST(AMDNames, Tables) {
  const char* amd = "AuthenticAMD";
  const NameCase cases[] = {
      {"Am5x86", {.vendor = amd, .family = 4, .model = 14, .stepping = 4}, {"Am5x86", "", "A", ""}},
      {"K5", {.vendor = amd, .family = 5, .model = 0, .stepping = 1}, {"K5", "SSA/5", "F", "0.50 µm"}},
      {"K6-2", {.vendor = amd, .family = 5, .model = 8, .stepping = 0}, {"K6-II", "Chomper", "A", "0.25 µm"}},
      {"K6-2+ (no stepping list)", {.vendor = amd, .family = 5, .model = 13, .stepping = 4}, {"K6-II+/K6-III+", "", "", ""}},
      {"Thunderbird", {.vendor = amd, .family = 6, .model = 4, .stepping = 2, .l2 = 256}, {"Athlon", "Thunderbird", "A4,A5,A6,A7", "0.18 µm"}},
      {"Thoroughbred Duron", {.vendor = amd, .family = 6, .model = 8, .stepping = 1, .l2 = 64}, {"Duron", "Thoroughbred", "B0", "0.13 µm"}},
      {"Thoroughbred Sempron: MP bit", {.vendor = amd, .family = 6, .model = 8, .stepping = 1, .l2 = 256, .extended1 = 1u << 19}, {"Sempron", "Thoroughbred", "B0", "0.13 µm"}},
      {"Thoroughbred Athlon XP", {.vendor = amd, .family = 6, .model = 8, .stepping = 0, .l2 = 256}, {"Athlon XP", "Thoroughbred", "A0", "0.13 µm"}},
      {"Applebred", {.vendor = amd, .family = 6, .model = 10, .stepping = 0, .l2 = 64}, {"Sempron", "Applebred", "A2", "0.13 µm"}},
      {"model 10, 256 KB", {.vendor = amd, .family = 6, .model = 10, .stepping = 0, .l2 = 256}, {"Sempron", "Geode", "A2", "0.13 µm"}},
      {"Barton", {.vendor = amd, .family = 6, .model = 10, .stepping = 0, .l2 = 512}, {"Sempron", "Barton", "A2", "0.13 µm"}},
      {"Clawhammer", {.vendor = amd, .family = 15, .model = 4, .stepping = 8, .l2 = 1024}, {"Athlon 64", "Clawhammer", "SH7-C0", "0.13 µm"}},
      {"Newcastle", {.vendor = amd, .family = 15, .model = 4, .stepping = 10, .brand = 0x22, .l2 = 512}, {"Athlon 64", "Newcastle", "", "0.13 µm"}},
      {"Hammer", {.vendor = amd, .family = 15, .model = 4, .stepping = 10, .brand = 0x22, .l2 = 1024}, {"Athlon 64", "Hammer", "", "0.13 µm"}},
      {"Opteron 146", {.vendor = amd, .family = 15, .model = 5, .stepping = 0, .brand = 0x64, .l2 = 1024}, {"Opteron", "Sledgehammer", " UP1-46", "0.13 µm"}},
      {"Opteron 240", {.vendor = amd, .family = 15, .model = 5, .stepping = 2, .brand = 0x81, .l2 = 1024}, {"Opteron", "Sledgehammer", " DP2-40", "0.13 µm"}},
      {"Opteron 848", {.vendor = amd, .family = 15, .model = 5, .stepping = 2, .brand = 0xA5, .l2 = 1024}, {"Opteron", "Sledgehammer", " MP8-48", "0.13 µm"}},
      {"Opteron stepping 8", {.vendor = amd, .family = 15, .model = 5, .stepping = 8, .brand = 0x64, .l2 = 1024}, {"Opteron", "Sledgehammer", "SH7-C0", "0.13 µm"}},
      {"Opteron stepping 1", {.vendor = amd, .family = 15, .model = 5, .stepping = 1, .brand = 0x81, .l2 = 1024}, {"Opteron", "Sledgehammer", "SH7-B3", "0.13 µm"}},
      {"Opteron, brand group 2", {.vendor = amd, .family = 15, .model = 5, .stepping = 2, .brand = 0x44, .l2 = 1024}, {"Opteron", "Sledgehammer", "", "0.13 µm"}},
      {"Victoria", {.vendor = amd, .family = 15, .model = 12, .stepping = 0, .l2 = 256}, {"Sempron", "Victoria", "", "90 nm"}},
      {"model 15 + extended 2", {.vendor = amd, .family = 15, .model = 17, .stepping = 0, .l2 = 512}, {"Athlon 64", "", "", "90 nm"}},
      {"Zen 4 (model 17) is named by the current rows", {.vendor = amd, .family = 25, .model = 1, .stepping = 1, .l2 = 1024, .extendedModel = 1}, {"EPYC", "Genoa", "", "5 nm"}},
  };
  for (const auto& c : cases) Check(c);
}

TEST(OtherVendorNames, Tables) {
  const NameCase cases[] = {
      {"M-II above 224 MHz", {.vendor = "CyrixInstead", .family = 6, .model = 0, .mhz = 233}, {"M-II", "M2", "", "0.35 µm"}},
      {"6x86MX below (224 MHz reads as 220)", {.vendor = "CyrixInstead", .family = 6, .model = 0, .mhz = 224}, {"6x86MX", "M2", "", "0.35 µm"}},
      {"Cx5x86 rev 1", {.vendor = "CyrixInstead", .family = 4, .model = 2, .stepping = 9}, {"Cx5x86", "", "0,rev1", ""}},
      {"Cx5x86, even stepping", {.vendor = "CyrixInstead", .family = 4, .model = 2, .stepping = 8}, {"Cx5x86", "", "", ""}},
      {"MediaGX", {.vendor = "CyrixInstead", .family = 4, .model = 4, .stepping = 0}, {"MediaGX", "", "GX,GXm", ""}},
      {"Samuel II", {.vendor = "CyrixInstead", .family = 6, .model = 6, .stepping = 5}, {"VIA Cyrix 3", "Samuel II", "", ""}},
      {"Samuel I", {.vendor = "CyrixInstead", .family = 6, .model = 6, .stepping = 2}, {"VIA Cyrix 3", "Samuel I", "", ""}},
      {"WinChip 2", {.vendor = "CentaurHauls", .family = 5, .model = 8, .stepping = 5}, {"WinChip 2", "C6-2", "WC2", "0.35-0.25 µm"}},
      {"WinChip 2A", {.vendor = "CentaurHauls", .family = 5, .model = 8, .stepping = 8}, {"WinChip 2", "C6-2", "WC2A", "0.35-0.25 µm"}},
      {"WinChip 2B", {.vendor = "CentaurHauls", .family = 5, .model = 8, .stepping = 10}, {"WinChip 2", "C6-2", "WC2B", "0.35-0.25 µm"}},
      {"WinChip 2, stepping 6", {.vendor = "CentaurHauls", .family = 5, .model = 8, .stepping = 6}, {"WinChip 2", "C6-2", "", "0.35-0.25 µm"}},
      {"C3 Ezra", {.vendor = "CentaurHauls", .family = 6, .model = 7, .stepping = 8, .l2 = 64}, {"VIA C3 C5C", "Ezra", "", "0.13µm"}},
      {"C3 Samuel 2", {.vendor = "CentaurHauls", .family = 6, .model = 7, .stepping = 7, .l2 = 64}, {"VIA C3 C5B", "Samuel 2", "", "0.13 µm"}},
      {"C3 Nehemiah C5P", {.vendor = "CentaurHauls", .family = 6, .model = 9, .stepping = 8}, {"VIA C3 C5P", "Nehemiah", "", "0.13 µm"}},
      {"C3 Nehemiah C5XL", {.vendor = "CentaurHauls", .family = 6, .model = 9, .stepping = 1}, {"VIA C3 C5XL", "Nehemiah", "", "0.13 µm"}},
      {"Nx686", {.vendor = "NexGenDriven", .family = 5, .model = 6}, {"Nx686", "HA", "", "0,50 µm"}},
      {"Nx586", {.vendor = "NexGenDriven", .family = 5, .model = 0}, {"Nx586", "", "", "0.50-0.44 µm"}},
      {"UMC", {.vendor = "UMC UMC UMC ", .family = 4, .model = 3}, {"U486DX2", "", "", ""}},
      {"Rise", {.vendor = "RiseRiseRise", .family = 5, .model = 8}, {"mP6", "iDragon II", "", "0.25 µm"}},
      {"SiS: the 11-character signature", {.vendor = "SiS SiS SiS ", .family = 5, .model = 0, .stepping = 5}, {"55x", "", "", ""}},
      {"Geode, any family", {.vendor = "Geode by NSC", .family = 5, .model = 4}, {"Geode", "", "", ""}},
      {"Crusoe without level 2", {.vendor = "GenuineTMx86", .family = 5, .model = 4}, {"Crusoe", "TM3200", "", ""}},
      {"Crusoe 256 KB", {.vendor = "GenuineTMx86", .family = 5, .model = 4, .l2 = 256}, {"Crusoe", "TM5400/TM5500", "", ""}},
      {"Crusoe 512 KB", {.vendor = "GenuineTMx86", .family = 5, .model = 4, .l2 = 512}, {"Crusoe", "TM5600/TM5800", "", ""}},
      {"Efficeon 256 KB", {.vendor = "GenuineTMx86", .family = 6, .model = 0, .l2 = 256}, {"Efficeon", "Astro,TM8300/TM8500", "", ""}},
      {"Efficeon 1 MB", {.vendor = "GenuineTMx86", .family = 6, .model = 0, .l2 = 1024}, {"Efficeon", "Astro,TM8600/TM8800", "", ""}},
  };
  for (const auto& c : cases) Check(c);
}

}  // namespace
