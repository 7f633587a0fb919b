// Product, core, revision and process names of the processors, one decision table per
// vendor, keyed by family and model and refined by stepping, type, brand, level-2 size,
// feature bits, package count or clock. Within a table the first row whose family, model
// and conditions all hold assigns its values; a combination no row describes leaves the four
// names empty.
#include <cstdio>
#include <cstring>
#include <span>

#include "cpu/KSI_CPU.h"

namespace kyvex {

// The naming routines' write access to the component's four names.
struct CPUNaming {
  static std::string& CPUName(TKyvex_CPU& c) { return c.FCPUName; }
  static std::string& CodeName(TKyvex_CPU& c) { return c.FCodeName; }
  static std::string& Revision(TKyvex_CPU& c) { return c.FRevision; }
  static std::string& Technology(TKyvex_CPU& c) { return c.FTechnology; }
};

namespace {

// --- Brand flags ------------------------------------------------------------------------------

enum class BrandTest : std::uint8_t { None, Level2AtMost128, Signature15_2_4, Signature15_2_7, NoLevel3 };

struct BrandRule {
  std::uint8_t brand;
  BrandTest test;
  TIntelBrands whenTrue;
  TIntelBrands otherwise;
};

constexpr BrandRule kBrandRules[] = {
    {1, BrandTest::None, {ibCeleron}, {}},
    {2, BrandTest::None, {ibPentium}, {}},
    {3, BrandTest::Level2AtMost128, {ibCeleron}, {ibXeon}},
    {4, BrandTest::None, {ibPentium}, {}},
    {6, BrandTest::None, {ibPentium, ibMobile}, {}},
    {7, BrandTest::None, {ibCeleron, ibMobile}, {}},
    {8, BrandTest::Signature15_2_4, {ibCeleron, ibMobile}, {ibPentium}},
    {9, BrandTest::None, {ibPentium}, {}},
    {10, BrandTest::None, {ibCeleron}, {}},
    {11, BrandTest::NoLevel3, {ibXeon}, {ibXeon, ibMP}},
    {12, BrandTest::None, {ibXeon, ibMP}, {}},
    {14, BrandTest::None, {ibXeon}, {}},
    {15, BrandTest::Signature15_2_7, {ibCeleron, ibMobile}, {ibPentium, ibMobile}},
    {17, BrandTest::None, {ibMobile}, {}},
    {18, BrandTest::None, {ibCeleron, ibM}, {}},
    {19, BrandTest::None, {ibCeleron, ibMobile}, {}},
    {20, BrandTest::None, {ibCeleron}, {}},
    {21, BrandTest::None, {ibMobile}, {}},
    {22, BrandTest::None, {ibPentium, ibM}, {}},
    {23, BrandTest::None, {ibCeleron, ibMobile}, {}},
};

bool Holds(const TKyvex_CPU& cpu, BrandTest test) {
  auto signature = [&cpu](int f, int m, int s) { return cpu.Family() == f && cpu.Model() == m && cpu.Stepping() == s; };
  switch (test) {
    case BrandTest::None: return true;
    case BrandTest::Level2AtMost128: return cpu.Cache().Level2().Size() <= 128;
    case BrandTest::Signature15_2_4: return signature(15, 2, 4);
    case BrandTest::Signature15_2_7: return signature(15, 2, 7);
    case BrandTest::NoLevel3: return cpu.Cache().Level3().Size() == 0;
  }
  return false;
}

// --- Decision rows --------------------------------------------------------------------------

enum class Is : std::uint8_t {
  Any,
  CPUType,           // CPUType = value
  CPUTypeNot,        // CPUType <> value
  Brand,             // Brand = value
  BrandGroup,        // Brand shr 5 = value
  IntelBrand,        // the flag `value` is in IntelBrand
  Level2,            // Cache.Level2.Size = value
  Level2Below,       // < value
  Level2Above,       // > value
  Level2AtLeast,     // >= value
  SteppingIn,        // bit Stepping of `value` is set
  SteppingAbove,     // Stepping > value
  Standard1Feature,  // the Standard1 feature with bit `value` is present and available
  Extended1Feature,  // the same in Extended1
  FrequencyAbove,    // Frequency > value
};

struct Test {
  Is what = Is::Any;
  int value = 0;
};

struct RevisionText {
  std::uint16_t steppings;  // bit s: stepping s
  const char* text;
};
using Revisions = std::span<const RevisionText>;

struct NameRow {
  int family;             // kAnyFamily: every family
  std::uint32_t models;   // bit m: model m
  Test first, second;     // both must hold
  const char* cpuName;    // nullptr: not assigned
  const char* codeName;
  const char* technology;
  Revisions revisions;    // empty: not assigned
};

constexpr int kAnyFamily = -1;
constexpr std::uint32_t kAnyModel = 0xFFFFFFFFu;
constexpr std::uint16_t kAnyStepping = 0xFFFF;

template <class... N>
constexpr std::uint32_t M(N... models) {
  return ((1u << models) | ...);
}
template <class... N>
constexpr std::uint16_t S(N... steppings) {
  return static_cast<std::uint16_t>(((1u << steppings) | ...));
}
constexpr std::uint16_t SteppingsFrom(int first, int last) {
  std::uint16_t mask = 0;
  for (int s = first; s <= last; ++s) mask = static_cast<std::uint16_t>(mask | (1u << s));
  return mask;
}

constexpr Test Always{};
constexpr Test CPUType(int v) { return {Is::CPUType, v}; }
constexpr Test CPUTypeNot(int v) { return {Is::CPUTypeNot, v}; }
constexpr Test Brand(int v) { return {Is::Brand, v}; }
constexpr Test BrandGroup(int v) { return {Is::BrandGroup, v}; }
constexpr Test Flag(TIntelBrand b) { return {Is::IntelBrand, b}; }
constexpr Test L2(int v) { return {Is::Level2, v}; }
constexpr Test L2Below(int v) { return {Is::Level2Below, v}; }
constexpr Test L2Above(int v) { return {Is::Level2Above, v}; }
constexpr Test L2AtLeast(int v) { return {Is::Level2AtLeast, v}; }
constexpr Test Stepping(std::uint16_t mask) { return {Is::SteppingIn, mask}; }
constexpr Test SteppingAbove(int v) { return {Is::SteppingAbove, v}; }
constexpr Test Standard1Bit(int bit) { return {Is::Standard1Feature, bit}; }
constexpr Test Extended1Bit(int bit) { return {Is::Extended1Feature, bit}; }
constexpr Test FrequencyAbove(int mhz) { return {Is::FrequencyAbove, mhz}; }

bool Holds(const TKyvex_CPU& cpu, const Test& t) {
  const int l2 = cpu.Cache().Level2().Size();
  switch (t.what) {
    case Is::Any: return true;
    case Is::CPUType: return cpu.CPUType() == t.value;
    case Is::CPUTypeNot: return cpu.CPUType() != t.value;
    case Is::Brand: return cpu.Brand() == t.value;
    case Is::BrandGroup: return (cpu.Brand() >> 5) == t.value;
    case Is::IntelBrand: return cpu.IntelBrand().Contains(static_cast<TIntelBrand>(t.value));
    case Is::Level2: return l2 == t.value;
    case Is::Level2Below: return l2 < t.value;
    case Is::Level2Above: return l2 > t.value;
    case Is::Level2AtLeast: return l2 >= t.value;
    case Is::SteppingIn: return cpu.Stepping() >= 0 && cpu.Stepping() < 16 && ((t.value >> cpu.Stepping()) & 1);
    case Is::SteppingAbove: return cpu.Stepping() > t.value;
    case Is::Standard1Feature:
      return cpu.Features().Standard1().FindFeatureByBit(static_cast<std::uint8_t>(t.value)).Available;
    case Is::Extended1Feature:
      return cpu.Features().Extended1().FindFeatureByBit(static_cast<std::uint8_t>(t.value)).Available;
    case Is::FrequencyAbove: return static_cast<std::int64_t>(cpu.Frequency()) > t.value;
  }
  return false;
}

bool ApplyRows(TKyvex_CPU& cpu, std::span<const NameRow> rows) {
  const int model = cpu.Model();
  for (const auto& row : rows) {
    if (row.family != kAnyFamily && row.family != cpu.Family()) continue;
    if (model < 0 || model > 31 || !((row.models >> model) & 1u)) continue;
    if (!Holds(cpu, row.first) || !Holds(cpu, row.second)) continue;
    if (row.cpuName) CPUNaming::CPUName(cpu) = row.cpuName;
    if (row.codeName) CPUNaming::CodeName(cpu) = row.codeName;
    if (row.technology) CPUNaming::Technology(cpu) = row.technology;
    for (const auto& r : row.revisions) {
      if (cpu.Stepping() >= 0 && cpu.Stepping() < 16 && ((r.steppings >> cpu.Stepping()) & 1)) {
        CPUNaming::Revision(cpu) = r.text;
        break;
      }
    }
    return true;
  }
  return false;
}

// Manufacturing processes. The micro sign is U+00B5; two texts differ from the others in a
// comma and a missing blank, and stay so.
constexpr const char* k080 = "0.80 µm";
constexpr const char* k065 = "0.65 µm";
constexpr const char* k050 = "0.50 µm";
constexpr const char* k050Comma = "0,50 µm";
constexpr const char* k035 = "0.35 µm";
constexpr const char* k030 = "0.30 µm";
constexpr const char* k028 = "0.28 µm";
constexpr const char* k025 = "0.25 µm";
constexpr const char* k018 = "0.18 µm";
constexpr const char* k013 = "0.13 µm";
constexpr const char* k013NoBlank = "0.13µm";
constexpr const char* k009 = "0.09 µm";
constexpr const char* k035To025 = "0.35-0.25 µm";
constexpr const char* k050To044 = "0.50-0.44 µm";
constexpr const char* k90nm = "90 nm";
constexpr const char* k130nm = "130 nm";

// --- Intel ------------------------------------------------------------------------------------

constexpr RevisionText kRevI486DX[] = {{S(0), "A0-A1"}, {S(1), "B2-B6"}, {S(2), "C0"}, {S(3), "C1"}, {S(4), "D0"}};
constexpr RevisionText kRevI486DXSL[] = {{S(0), "cA2,cA3"}, {S(1), "cB0,cB1"}, {S(3), "cC0"}, {S(4), "aA0,aA1"}, {S(5), "aB0"}};
constexpr RevisionText kRevI486SX[] = {{S(0), "A0"},  {S(2), "B0"},  {S(3), "bBx"},      {S(4), "gAx"},
                                       {S(7), "cA0"}, {S(8), "cB0"}, {S(10), "aA0,aA1"}, {S(11), "aB0,aC0"}};
constexpr RevisionText kRevI486DX2[] = {{S(2), "A0-A2"}, {S(3), "B1"}, {S(4), "aA0,aA1"}, {S(5), "aB0,aC0"}, {S(6), "A"}};
constexpr RevisionText kRevA0[] = {{S(0), "A"}};
constexpr RevisionText kRevI486SX2[] = {{S(11), "aC0"}};
constexpr RevisionText kRevAnyA[] = {{kAnyStepping, "A"}};
constexpr RevisionText kRevP5Any[] = {{kAnyStepping, "Ax"}};
constexpr RevisionText kRevP5OverDrive[] = {{S(10), "tA0"}};
constexpr RevisionText kRevP5[] = {{S(3), "B1"}, {S(4), "B2"}, {S(5), "C1"}, {S(7), "D1"}};
constexpr RevisionText kRevP54C[] = {{S(1), "B1"}, {S(2), "B3"}, {S(4), "B5"}, {S(5), "C1,C2,mA1"},
                                     {S(6), "E0"}, {S(11), "cB1,mcB1"}, {S(12), "aC0,cC0,mcC0,acC0"}};
constexpr RevisionText kRevP55COverDrive[] = {{S(4), "oxA3"}};
constexpr RevisionText kRevP55C[] = {{S(1), "A1"}, {S(2), "A3"}, {S(3), "xB1,mxB1"}, {S(4), "xA3,mxA3"}};
constexpr RevisionText kRevTillamook[] = {{S(1), "myA0"}, {S(2), "sB1,myB1"}};
constexpr RevisionText kRevPPro[] = {{S(1), "B0"}, {S(2), "C0"}, {S(6), "sA0"}, {S(7), "sA1"}, {S(9), "sB1"}};
constexpr RevisionText kRevP2OverDrive[] = {{S(2), "TdB0"}};
constexpr RevisionText kRevKlamath[] = {{S(3), "C0"}, {S(4), "C1"}};
constexpr RevisionText kRevModel5[] = {{S(0), "dA0,mdA0,mmdA0"}, {S(1), "dA1"}, {S(2), "B0,dB0,mdB0,mmdB0"}, {S(3), "B1,dB1"}};
constexpr RevisionText kRevModel6[] = {{S(0), "mA0"}, {S(2), "dB1"}, {S(5), "mB0"}, {S(10), "mdbA0,mdxA0,mqbA1,mqpA1"}};
constexpr RevisionText kRevModel7[] = {{S(2), "B0,kB0"}, {S(3), "C0,kC0"}};
constexpr RevisionText kRevModel8[] = {{S(1), "A2,cA2,cA2c"}, {S(3), "B0,cB0,cB0c"}, {S(6), "C0,cC0"}, {S(10), "D0,cD0"}};
constexpr RevisionText kRevModel10[] = {{S(0), "A0"}, {S(1), "A1"}, {S(4), "B0"}};
constexpr RevisionText kRevModel11[] = {{S(1), "tA1,A1"}, {S(4), "tB1"}};

// Families 4 to 7. The family-6 rows describe the cores up to Dothan, whose extended model
// is 0; NameIntelProcessor keeps later cores away from them.
constexpr NameRow kIntelRows[] = {
    {4, M(0), Always, Always, "i80486DX", "P4", nullptr, kRevI486DX},
    {4, M(1), Stepping(S(4, 5)), Always, "i80486DX-SL", "P4", nullptr, kRevI486DXSL},
    {4, M(1), Always, Always, "i80486DX", "P4", nullptr, kRevI486DXSL},
    {4, M(2), Stepping(S(3)), Always, "i80486SX-WB", "P4S", nullptr, kRevI486SX},
    {4, M(2), Stepping(S(10, 11)), Always, "i80486SX-SL", "P4S", nullptr, kRevI486SX},
    {4, M(2), Always, Always, "i80486SX", "P4S", nullptr, kRevI486SX},
    {4, M(3), Stepping(S(4, 5)), Always, "i80486DX/2-SL", "P24S", nullptr, kRevI486DX2},
    {4, M(3), Stepping(S(6)), Always, "i80486DX/2-WB", "P24D", nullptr, kRevI486DX2},
    {4, M(3), Always, Always, "i80486DX/2", "P24S", nullptr, kRevI486DX2},
    {4, M(4), Always, Always, "i80486SL", "P23", nullptr, kRevA0},
    {4, M(5), Always, Always, "i80486SX/2", "P23", nullptr, kRevI486SX2},
    {4, M(7), Always, Always, "i80486DX/2-WB", "P24D", nullptr, kRevAnyA},
    {4, M(8, 9), CPUType(1), Always, "i80486DX/4 OverDrive", "P24C", nullptr, kRevAnyA},
    {4, M(8, 9), Always, Always, "i80486DX/4", "P24C", nullptr, kRevAnyA},

    {5, M(0), Always, Always, "Pentium", "A80501,P5", k080, kRevP5Any},
    {5, M(1), CPUType(1), Always, "Pentium OverDrive for P5", "PODP5V,P5T", k080, kRevP5OverDrive},
    {5, M(1), Always, Always, "Pentium", "A80501,P5", k080, kRevP5},
    {5, M(2), CPUType(0), Always, "Pentium", "A80502,P54C,P54CS", k050, kRevP54C},
    {5, M(2), CPUType(1), Always, "Pentium OverDrive for P54C", "P54CT", k035, {}},
    {5, M(2), CPUType(2), Always, "Pentium OverDrive for P54C", "P54M", k035, {}},
    {5, M(3), Stepping(S(1)), Always, "Pentium OverDrive for 486", "P24T", nullptr, {}},
    {5, M(3), Always, Always, "Pentium OverDrive for 486", "P24B", nullptr, {}},
    {5, M(4), CPUType(1), Always, "Pentium MMX OverDrive for P54C", "P55CTP", k028, kRevP55COverDrive},
    {5, M(4), Always, Always, "Pentium MMX", "A80503,P55C", k028, kRevP55C},
    {5, M(7), Always, Always, "Pentium", "A80502,P54C,P54CS", k035, {}},
    {5, M(8), Always, Always, "Pentium MMX", "A80503,P55C", k025, kRevTillamook},

    {6, M(0), Always, Always, "Pentium Pro", "A80521,P6", k050, {}},
    {6, M(1), Always, Always, "Pentium Pro", "A80521,P6", k035, kRevPPro},
    {6, M(3), CPUTypeNot(0), Always, "Pentium II OverDrive", "POPD66X333,P6T", k028, kRevP2OverDrive},
    {6, M(3), Always, Always, "Pentium II", "A80522,P6L Klamath", k028, kRevKlamath},
    {6, M(5), L2AtLeast(1024), Always, "Pentium II Xeon", "A80523, P6L Deschutes", k025, kRevModel5},
    {6, M(5), L2(512), Always, "Pentium II", "A80523, P6L Deschutes", k025, kRevModel5},
    {6, M(5), L2(256), Always, "Pentium II PE", "Tonga", k025, kRevModel5},
    {6, M(5), Always, Always, "Celeron", "P6C Covington", k025, kRevModel5},
    {6, M(6), L2(128), Standard1Bit(18), "Mobile Celeron", "Dixon", k025, kRevModel6},
    {6, M(6), L2(128), Always, "Celeron", "P6C Mendocino, Celeron A", k025, kRevModel6},
    {6, M(6), Always, Always, "Mobile Pentium II", "Dixon", k025, kRevModel6},
    {6, M(7), L2Above(1023), Always, "Pentium III Xeon", "Tanner", k025, kRevModel7},
    {6, M(7), Always, Always, "Pentium III", "A80525,P6K Katmai", k025, kRevModel7},
    {6, M(8), L2Above(128), Brand(1), "Celeron", "A80526, Coppermine", k018, kRevModel8},
    {6, M(8), L2Above(128), Brand(3), "Pentium III Xeon", "Cascades", k018, kRevModel8},
    {6, M(8), L2Above(128), Always, "Pentium III", "A80526, Coppermine", k018, kRevModel8},
    {6, M(8), Always, Always, "Celeron", "Coppermine-128, Celeron II", k018, kRevModel8},
    {6, M(9), Brand(18), Always, "Celeron M", "Banias", k013, {}},
    {6, M(9), Brand(22), Always, "Pentium M", "Banias", k013, {}},
    {6, M(9), Always, Always, "Pentium III", nullptr, k013, {}},
    {6, M(10), Always, Always, "Pentium III Xeon A", "A80530,Tualatin", k018, kRevModel10},
    {6, M(11), Brand(1), Always, "Celeron", "A80530,Tualatin", k013, kRevModel11},
    {6, M(11), Brand(3), L2Below(257), "Celeron", "A80530,Tualatin", k013, kRevModel11},
    {6, M(11), Brand(3), Always, "Pentium III Xeon", "A80530,Tualatin", k013, kRevModel11},
    {6, M(11), Brand(6), Always, "Mobile Pentium III M", "Geyservile", k013, kRevModel11},
    {6, M(11), Brand(7), Always, "Mobile Celeron", "Geyservile", k013, kRevModel11},
    {6, M(11), Always, Always, "Pentium III B", "A80530,Tualatin", k013, kRevModel11},
    {6, M(12, 13), Always, Always, "Pentium M", "Dothan", k009, {}},

    {7, kAnyModel, Always, Always, "Itanium", "Merced", k018, {}},
};

constexpr RevisionText kRevWillamette[] = {{S(2), "D0"}, {S(3), "E0"}, {S(7), "B2"}, {S(10), "C1"}};
constexpr RevisionText kRevNorthwood[] = {{S(4), "B0"}, {S(5), "M0"}, {S(7), "C1"}, {S(9), "D1"}};

// Family 15 with FamilyEx 0, after the product name has been composed: the core by model
// and brand flags.
constexpr NameRow kNetBurstRows[] = {
    {15, M(0, 1), Flag(ibXeon), Flag(ibMP), nullptr, "Foster MP", k018, kRevWillamette},
    {15, M(0, 1), Flag(ibXeon), Always, nullptr, "Foster", k018, kRevWillamette},
    {15, M(0, 1), Always, Always, nullptr, "P68, Willamette", k018, kRevWillamette},
    {15, M(2), Flag(ibMP), Always, nullptr, "Gallatin", k013, kRevNorthwood},
    {15, M(2), Flag(ibXeon), Always, nullptr, "Prestonia", k013, kRevNorthwood},
    {15, M(2), Always, Always, nullptr, "Northwood", k013, kRevNorthwood},
    {15, M(3, 4), Flag(ibMP), Always, nullptr, "Potomac", k90nm, {}},
    {15, M(3, 4), Flag(ibXeon), Always, nullptr, "Nocona", k90nm, {}},
    {15, M(3, 4), Always, Always, nullptr, "Prescott", k90nm, {}},
};

// Family 15 with FamilyEx 1.
constexpr NameRow kItanium2Rows[] = {
    {15, M(0), Always, Always, "Itanium 2", "McKinley", k018, {}},
    {15, M(1), Always, Always, "Itanium 2", "Madison/Deerfield", k013, {}},
    {15, M(2), Always, Always, "Itanium 2", "Madison 9M", k013, {}},
    {15, kAnyModel, Always, Always, "Itanium 2", nullptr, k013, {}},
};

// The product name of families 15 and 16, from the brand flags, the package count and the
// level-2 size.
std::string ComposeNetBurstName(const TKyvex_CPU& cpu) {
  const TIntelBrands b = cpu.IntelBrand();
  std::string name = b.Contains(ibCeleron) ? "Celeron 4" : "Pentium 4";
  if (b.Contains(ibMobile)) name += " Mobile";
  if (b.Contains(ibM)) name += " M";
  if (b.Contains(ibXeon) || cpu.CPUPhysicalCount() > 1) name += " Xeon";
  if (b.Contains(ibMP)) name += " MP";
  const int l2 = cpu.Cache().Level2().Size();
  if (l2 <= 128) name = "Celeron";
  if (l2 == 256 && b.Empty()) name = "Celeron D";
  return name;
}

// --- AMD --------------------------------------------------------------------------------------

constexpr RevisionText kRevK5[] = {{S(0), "E"}, {S(1), "F"}};
constexpr RevisionText kRevK6[] = {{S(1), "B"}, {S(2), "C"}};
constexpr RevisionText kRevArgon[] = {{S(1), "C1"}, {S(2), "C2"}};
constexpr RevisionText kRevPluto[] = {{S(1), "A1"}, {S(2), "A2"}};
constexpr RevisionText kRevSpitfire[] = {{S(0), "A0"}, {S(1), "A1,A2"}};
constexpr RevisionText kRevThunderbird[] = {{S(2), "A4,A5,A6,A7"}, {S(4), "A9"}};
constexpr RevisionText kRevPalomino[] = {{S(0), "A0"}, {S(1), "A2"}, {S(2), "A5"}};
constexpr RevisionText kRevMorgan[] = {{S(0), "A0"}, {S(1), "A1"}};
constexpr RevisionText kRevThoroughbred[] = {{S(0), "A0"}, {S(1), "B0"}};
constexpr RevisionText kRevAnyA2[] = {{kAnyStepping, "A2"}};
constexpr RevisionText kRevClawhammer[] = {{S(8), "SH7-C0"}};

constexpr NameRow kAMDRows[] = {
    {4, M(0), Always, Always, "Am486DX", nullptr, nullptr, {}},
    {4, M(3, 7), Always, Always, "Am486DX2", nullptr, nullptr, {}},
    {4, M(8, 9), Always, Always, "Am486DX4", nullptr, nullptr, {}},
    {4, M(14, 15), Always, Always, "Am5x86", nullptr, nullptr, kRevAnyA},

    {5, M(0), Always, Always, "K5", "SSA/5", k050, kRevK5},
    {5, M(1, 2, 3), Always, Always, "K5", "5k86", k035, {}},
    {5, M(6), Always, Always, "K6", "K6", k030, kRevK6},
    {5, M(7), Always, Always, "K6", "Little Foot", k025, kRevAnyA},
    {5, M(8), Always, Always, "K6-II", "Chomper", k025, kRevA0},
    {5, M(9), Always, Always, "K6-III", "Sharptooth", k025, kRevA0},
    {5, M(13), Always, Always, "K6-II+/K6-III+", nullptr, nullptr, {}},

    {6, M(0), Always, Always, "Athlon", "Argon", k025, {}},
    {6, M(1), Always, Always, "Athlon", "Argon", k025, kRevArgon},
    {6, M(2), Always, Always, "Athlon", "Pluto/Orion", k018, kRevPluto},
    {6, M(3), Always, Always, "Duron", "Spitfire", k018, kRevSpitfire},
    {6, M(4), Always, Always, "Athlon", "Thunderbird", k018, kRevThunderbird},
    {6, M(6), Always, Always, "Athlon XP", "Palomino/Corvette", k018, kRevPalomino},
    {6, M(7), Always, Always, "Duron", "Morgan/Camaro", k018, kRevMorgan},
    {6, M(8), L2Below(256), Always, "Duron", "Thoroughbred", k013, kRevThoroughbred},
    {6, M(8), Extended1Bit(19), Always, "Sempron", "Thoroughbred", k013, kRevThoroughbred},
    {6, M(8), Always, Always, "Athlon XP", "Thoroughbred", k013, kRevThoroughbred},
    {6, M(9), Always, Always, "Athlon", "Appaloosa", k013, {}},
    {6, M(10), L2(64), Always, "Sempron", "Applebred", k013, kRevAnyA2},
    {6, M(10), L2(256), Always, "Sempron", "Geode", k013, kRevAnyA2},
    {6, M(10), Always, Always, "Sempron", "Barton", k013, kRevAnyA2},

    {15, M(4), BrandGroup(1), L2(512), "Athlon 64", "Newcastle", k013, kRevClawhammer},
    {15, M(4), BrandGroup(1), Always, "Athlon 64", "Hammer", k013, kRevClawhammer},
    {15, M(4), Always, Always, "Athlon 64", "Clawhammer", k013, kRevClawhammer},
    {15, M(5), Always, Always, "Opteron", "Sledgehammer", k013, {}},
    {15, M(6), Always, Always, "Athlon 64 Dual Core", "Toledo", k90nm, {}},
    {15, M(7), Always, Always, "Opteron Dual Core", "Egypt", k90nm, {}},
    {15, M(8), Always, Always, "Sempron", "Paris", k130nm, {}},
    {15, M(9), Always, Always, "Athlon 64", "K9", k90nm, {}},
    {15, M(10, 12), Always, Always, "Sempron", "Victoria", k90nm, {}},
    {15, M(17), Always, Always, "Athlon 64", nullptr, k90nm, {}},
};

// Opteron (family 15, model 5): the brand index's top three bits give the number of
// processors the part is made for, its low five bits the model number.
struct OpteronSeries {
  int brandGroup;
  const char* format;  // the leading blank is part of the text
};
constexpr OpteronSeries kOpteronSeries[] = {{3, " UP1-%d"}, {4, " DP2-%d"}, {5, " MP8-%d"}};
constexpr RevisionText kRevSledgehammer[] = {{S(1), "SH7-B3"}, {S(8), "SH7-C0"}};

// --- Cyrix, IDT and the others ----------------------------------------------------------------

constexpr RevisionText kRevCx5x86[] = {{S(9, 11, 13, 15), "0,rev1"}};
constexpr RevisionText kRevMediaGX[] = {{kAnyStepping, "GX,GXm"}};
constexpr RevisionText kRevCx5x86Rev2[] = {{kAnyStepping, "0,rev2+"}};

constexpr NameRow kCyrixRows[] = {
    {0, kAnyModel, Stepping(S(5)), Always, "Cx486S/D", "M5", nullptr, {}},
    {0, kAnyModel, Stepping(S(6)), Always, "Cx486DX", "M6", nullptr, {}},
    {0, kAnyModel, Stepping(S(7)), Always, "Cx486DX2", "M7", nullptr, {}},
    {0, kAnyModel, Stepping(S(8)), Always, "Cx486DX4", "M8", nullptr, {}},
    {4, M(1), Always, Always, "Cx486SLC", nullptr, nullptr, kRevAnyA},
    {4, M(2), Always, Always, "Cx5x86", nullptr, nullptr, kRevCx5x86},
    {4, M(4), Always, Always, "MediaGX", nullptr, nullptr, kRevMediaGX},
    {4, M(9), Always, Always, "Cx5x86", nullptr, k065, kRevCx5x86Rev2},
    {5, M(2), Always, Always, "6x86", "M1", k065, {}},
    {5, M(3), Always, Always, "6x86L", "M1L", k035, {}},
    {6, M(0), FrequencyAbove(224), Always, "M-II", "M2", k035, {}},
    {6, M(0), Always, Always, "6x86MX", "M2", k035, {}},
    {6, M(5), Always, Always, "VIA Cyrix III", "Joshua", nullptr, {}},
    {6, M(6), Stepping(S(5)), Always, "VIA Cyrix 3", "Samuel II", nullptr, {}},
    {6, M(6), Always, Always, "VIA Cyrix 3", "Samuel I", nullptr, {}},
    {6, M(7), Always, Always, "VIA Cyrix 3", "Ezra", nullptr, {}},
};

constexpr RevisionText kRevWinChip2[] = {{S(1, 5), "WC2"}, {SteppingsFrom(7, 9), "WC2A"}, {SteppingsFrom(10, 15), "WC2B"}};

constexpr NameRow kIDTRows[] = {
    {5, M(4), Always, Always, "WinChip", "C6", k035, {}},
    {5, M(8), Always, Always, "WinChip 2", "C6-2", k035To025, kRevWinChip2},
    {5, M(9), Always, Always, "WinChip 3", nullptr, k025, {}},
    {6, M(6), Always, Always, "VIA C3 C5A", "Samuel 1", k018, {}},
    {6, M(7), SteppingAbove(7), Always, "VIA C3 C5C", "Ezra", k013NoBlank, {}},
    {6, M(7), Always, Always, "VIA C3 C5B", "Samuel 2", k013, {}},
    {6, M(8), Always, Always, "VIA C3 C5N", "Ezra-T", k013, {}},
    {6, M(9), SteppingAbove(7), Always, "VIA C3 C5P", "Nehemiah", k013, {}},
    {6, M(9), Always, Always, "VIA C3 C5XL", "Nehemiah", k013, {}},
};

constexpr NameRow kNexGenRows[] = {
    {5, M(0), Always, Always, "Nx586", nullptr, k050To044, {}},
    {5, M(6), Always, Always, "Nx686", "HA", k050Comma, {}},
};

constexpr NameRow kUMCRows[] = {
    {4, M(1), Always, Always, "U5SD", nullptr, nullptr, {}},
    {4, M(2), Always, Always, "U5S/X", nullptr, nullptr, {}},
    {4, M(3), Always, Always, "U486DX2", nullptr, nullptr, {}},
    {4, M(5), Always, Always, "U486SX2", nullptr, nullptr, {}},
};

constexpr NameRow kRiseRows[] = {
    {5, M(0), Always, Always, "mP6", "iDragon", nullptr, {}},
    {5, M(2), Always, Always, "mP6", "iDragon", k018, {}},
    {5, M(8), Always, Always, "mP6", "iDragon II", k025, {}},
    {5, M(9), Always, Always, "mP6", "iDragon II", k018, {}},
};

constexpr NameRow kSiSRows[] = {
    {5, M(0), Always, Always, "55x", nullptr, nullptr, {}},
};

constexpr NameRow kGeodeRows[] = {
    {kAnyFamily, kAnyModel, Always, Always, "Geode", nullptr, nullptr, {}},
};

constexpr NameRow kTransmetaRows[] = {
    {5, kAnyModel, L2(0), Always, "Crusoe", "TM3200", nullptr, {}},
    {5, kAnyModel, L2(256), Always, "Crusoe", "TM5400/TM5500", nullptr, {}},
    {5, kAnyModel, Always, Always, "Crusoe", "TM5600/TM5800", nullptr, {}},
    {6, kAnyModel, L2(256), Always, "Efficeon", "Astro,TM8300/TM8500", nullptr, {}},
    {6, kAnyModel, Always, Always, "Efficeon", "Astro,TM8600/TM8800", nullptr, {}},
};

#include "cpu/KSI_CPUCurrentNames.inc"

// The tables above stop around 2006 and name later processors only by accident of their
// base model; the current rows fill in just what they leave empty, so an answer they give
// stands.
void ApplyCurrentRows(TKyvex_CPU& cpu) {
  if (!cpu.CPUName().empty() || !cpu.CodeName().empty()) return;
  // Zhaoxin numbers its family-7 models with the extended model too, like families 6 and 15.
  const int family = cpu.DisplayFamily(), stepping = cpu.Stepping();
  const int model = family == 7 ? (cpu.ExtendedModel() << 4 | (cpu.Model() & 0xF)) : cpu.DisplayModel();
  const CurrentRow* best = nullptr;
  for (const auto& row : kCurrentRows) {
    if (cpu.VendorID() != row.vendor || row.family != family) continue;
    if (model < row.modelLo || model > row.modelHi || stepping < row.steppingLo || stepping > row.steppingHi) continue;
    if (row.brand && cpu.MarketingName().find(row.brand) == std::string::npos) continue;
    if (row.minL3 && cpu.Cache().Level3().Size() < row.minL3) continue;
    if (!best || row.score > best->score) best = &row;
  }
  if (!best) return;
  CPUNaming::CPUName(cpu) = best->cpuName;
  CPUNaming::CodeName(cpu) = best->codeName;
  if (best->technology) CPUNaming::Technology(cpu) = best->technology;
  if (best->revision) CPUNaming::Revision(cpu) = best->revision;
}

}  // namespace

TIntelBrands ComputeIntelBrand(const TKyvex_CPU& cpu) {
  for (const auto& rule : kBrandRules)
    if (rule.brand == cpu.Brand()) return Holds(cpu, rule.test) ? rule.whenTrue : rule.otherwise;
  return {};
}

void NameIntelProcessor(TKyvex_CPU& cpu) {
  const int family = cpu.Family();
  if (family == 15 || family == 16) {
    if (family == 16 || cpu.FamilyEx() == 0) CPUNaming::CPUName(cpu) = ComposeNetBurstName(cpu);
    if (family == 15 && cpu.FamilyEx() == 0) {
      ApplyRows(cpu, kNetBurstRows);
      if (cpu.Model() == 4 && cpu.IntelBrand().Contains(ibCeleron))
        CPUNaming::CPUName(cpu) = cpu.Cache().Level2().Size() == 256 ? "Celeron D" : "Celeron";
    } else if (family == 15 && cpu.FamilyEx() == 1) {
      ApplyRows(cpu, kItanium2Rows);
    } else if (family == 16 && cpu.Features().Standard1().FindFeatureByBit(30).Available) {
      CPUNaming::CPUName(cpu) = "64bit " + CPUNaming::CPUName(cpu);
    }
    return;
  }
  // Model numbers of family 6 start again with the extended model: a core of 2007 or later
  // (Penryn, Nehalem, ...) has the base model of a Pentium III or Pentium M. The table
  // describes the cores before them, whose extended model is 0.
  if (family != 6 || cpu.ExtendedModel() == 0) ApplyRows(cpu, kIntelRows);
  ApplyCurrentRows(cpu);
}

void NameAMDProcessor(TKyvex_CPU& cpu) {
  ApplyRows(cpu, kAMDRows);
  ApplyCurrentRows(cpu);
  if (cpu.Family() != 15 || cpu.Model() != 5) return;
  const int brand = cpu.Brand();
  for (const auto& series : kOpteronSeries) {
    if ((brand >> 5) != series.brandGroup) continue;
    char text[32];
    std::snprintf(text, sizeof text, series.format, 38 + 2 * (brand & 0x1F));
    CPUNaming::Revision(cpu) = text;
  }
  for (const auto& r : kRevSledgehammer)
    if ((r.steppings >> (cpu.Stepping() & 15)) & 1) CPUNaming::Revision(cpu) = r.text;
}

void NameCyrixProcessor(TKyvex_CPU& cpu) { ApplyRows(cpu, kCyrixRows); }
void NameIDTProcessor(TKyvex_CPU& cpu) {
  ApplyRows(cpu, kIDTRows);
  ApplyCurrentRows(cpu);
}
// Vendors the older tables never knew (Hygon, Zhaoxin's "  Shanghai  ") are named by the
// current rows alone.
void NameOtherProcessor(TKyvex_CPU& cpu) { ApplyCurrentRows(cpu); }
void NameNexGenProcessor(TKyvex_CPU& cpu) { ApplyRows(cpu, kNexGenRows); }
void NameUMCProcessor(TKyvex_CPU& cpu) { ApplyRows(cpu, kUMCRows); }
void NameRiseProcessor(TKyvex_CPU& cpu) { ApplyRows(cpu, kRiseRows); }
void NameSiSProcessor(TKyvex_CPU& cpu) { ApplyRows(cpu, kSiSRows); }
void NameGeodeProcessor(TKyvex_CPU& cpu) { ApplyRows(cpu, kGeodeRows); }
void NameTransmetaProcessor(TKyvex_CPU& cpu) { ApplyRows(cpu, kTransmetaRows); }

}  // namespace kyvex
