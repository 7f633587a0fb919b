#include "cpu/KSI_CPUFeatures.h"

#include <algorithm>

#include "cpu/KSI_CPU.h"

namespace kyvex {

namespace {
constexpr std::uint8_t S1 = 1u << fgStandard1;
constexpr std::uint8_t S2 = 1u << fgStandard2;
constexpr std::uint8_t E1 = 1u << fgExtended1;
constexpr std::uint8_t E2 = 1u << fgExtended2;
constexpr std::uint8_t PM = 1u << fgPowerManagement;
}  // namespace

const char* FeatureGroupName(std::uint8_t group) {
  static constexpr const char* kNames[] = {"", "Standard1", "Standard2", "Extended1", "Extended2", "PowerManagement"};
  return group <= 5 ? kNames[group] : "";
}

// The names are also the keys under which storage files keep the flags: they stay as they
// are, misspellings included.
const std::array<TFeatureDetail, 55> FeatureDetails = {{
    {0, "FPU", "Floating point unit", 0, S1 | E1},
    {1, "VME", "Virtual mode extension", 0, S1 | E1},
    {2, "DE", "Debugging extensions", 0, S1 | E1},
    {3, "PSE", "Page size extension", 0, S1 | E1},
    {4, "TSC", "Time stamp counter", 0, S1 | E1},
    {5, "MSR", "Machine specific registers", 0, S1 | E1},
    {6, "PAE", "Physical address extension", 0, S1 | E1},
    {7, "MCE", "Machine check extension", 0, S1 | E1},
    {8, "CX8", "CMPXCHG8 instrucion support", 0, S1 | E1},
    {9, "APIC", "APIC", 0, S1},
    {11, "SEP", "Fast system call (SYSENTER/SYSEXIT)", 0, S1 | E1},
    {12, "MTRR", "Memory type range registers", 0, S1 | E1},
    {13, "PGE", "Page global extension", 0, S1},
    {15, "CMOV", "Conditional move support", 0, S1 | E1},
    {16, "PAT", "Page attribute table", 0, S1 | E1},
    {17, "PSE36", "36-bit page size extension", 0, S1 | E1},
    {18, "PSN", "Processor serial number", 0, S1},
    {19, "CLFSH", "CLFLUSH instruction support", 0, S1},
    {21, "DS", "Debug trace store", 0, S1},
    {22, "ACPI", "Thermal monitor and software controlled clock", 0, S1},
    {23, "MMX", "MMX architecture support", 0, S1 | E1},
    {24, "FXSR", "Fast floating point save (FXSAVE/FXRSTOR)", 0, S1},
    {25, "SSE", "Streaming SIMD instruction support", 0, S1},
    {26, "SSE2", "Streaming SIMD extensions 2", 0, S1 | E1},
    {27, "SS", "Self snoop", 0, S1},
    {28, "HTT", "Hyper-Threading technology", 0, S1},
    {29, "TM", "Thermal monitor support", 0, S1},
    {30, "IA-64", "IA-64", 0, S1 | E1},
    {31, "SBF", "Signal break on FERR", 0, S1},
    {0, "SSE3", "Streaming SIMD extensions 3", 0, S2},
    {3, "MON", "MONITOR/MWAIT", 0, S2},
    {4, "CPL", "CPL qualified debug store", 0, S2},
    {5, "VMX", "Virtual machine extension", 0, S2},
    {7, "EST", "Enhanced SpeedStep Technology", 0, S2},
    {8, "TM2", "Thermal Monitor 2", 0, S2},
    {10, "CID", "Context Id", 0, S2},
    {13, "CX16", "CMPXCHG16B instrucion support", 0, S2},
    {14, "xTPR", "Send task priority messages", 0, S2},
    {9, "APIC", "On-chip APIC hardware", 0, E1},
    {13, "PGE", "Page global enable", 0, E1},
    {19, "MP", "Multiprocessing capable", 0, E1},
    {20, "NX", "No execute page protection", 0, E1},
    {22, "MMX+", "Extended MMX architecture", 0, E1},
    {29, "x64", "AMD64/EM64T", 0, E1},
    {30, "3DNOW+", "Extended 3DNow! extensions", 0, E1},
    {31, "3DNOW", "3DNow! extensions", 0, E1},
    {0, "LSAHF", "LAHF/SAHF support", 0, E2},
    {1, "CMPL", "Core multiprocessing legacy", 0, E2},
    {0, "TS", "Temperature sensor", 0, PM},
    {1, "FID", "Frequency id Control", 0, PM},
    {2, "VID", "Voltage id Control", 0, PM},
    {3, "TPP", "Thermal trip", 0, PM},
    {4, "TM", "Thermal monitor support", 0, PM},
    {5, "STC", "Software thermal control", 0, PM},
    {8, "ITSC", "Invariant TSC", 0, PM},
}};

std::uint8_t FeatureClass(TCpuVendor vendor) {
  switch (vendor) {
    case cvIntel: return 1;
    case cvAmd: return 2;
    case cvCyrix: return 3;
    default: return 0;
  }
}

TCPUFeature TCPUFeatureSet::GetFeature(std::uint8_t index) const {
  return index < FFeatures.size() ? FFeatures[index] : TCPUFeature{};
}

TCPUFeature TCPUFeatureSet::FindFeatureByBit(std::uint8_t bit) const {
  for (const auto& f : FFeatures)
    if (f.Bit == bit) return f;
  return {};
}

const TCPUFeatureSet& TCPUFeatures::Group(std::uint8_t group) const {
  switch (group) {
    case fgStandard2: return FStandard2;
    case fgExtended1: return FExtended1;
    case fgExtended2: return FExtended2;
    case fgPowerManagement: return FPowerManagement;
    default: return FStandard1;
  }
}

void TCPUFeatures::SetFeatureGroups(TAvailableFeatures standard1, TAvailableFeatures standard2,
                                    TAvailableFeatures extended1, TAvailableFeatures extended2,
                                    TAvailableFeatures powerManagement) {
  FStandard1.SetFeatureList(std::move(standard1));
  FStandard2.SetFeatureList(std::move(standard2));
  FExtended1.SetFeatureList(std::move(extended1));
  FExtended2.SetFeatureList(std::move(extended2));
  FPowerManagement.SetFeatureList(std::move(powerManagement));
}

TAvailableFeatures BuildFeatureList(const TKyvex_CPU& cpu, std::uint8_t group) {
  TAvailableFeatures list;
  const std::uint8_t featureClass = FeatureClass(cpu.Vendor());
  const std::uint8_t groupBit = group < 8 ? static_cast<std::uint8_t>(1u << group) : 0;
  auto entryOf = [group](const TFeatureDetail& row) {
    return TCPUFeature{row.Bit, row.Name, row.Description, group, false};
  };

  // The rows for every vendor first; then the rows of the processor's own class replace the
  // entry with their bit, or join the list. (Every row is a row for every vendor, so for
  // class 0 the second pass writes each row again onto the first entry with its bit.)
  for (const auto& row : FeatureDetails)
    if (row.VendorClass == 0 && (row.Groups & groupBit)) list.push_back(entryOf(row));
  for (const auto& row : FeatureDetails) {
    if (row.VendorClass != featureClass || !(row.Groups & groupBit)) continue;
    auto it = std::find_if(list.begin(), list.end(), [&row](const TCPUFeature& f) { return f.Bit == row.Bit; });
    if (it == list.end()) it = list.insert(list.end(), TCPUFeature{});
    *it = entryOf(row);
  }

  for (auto& f : list) {
    const TCPUIDRegisters& regs = f.Group == fgExtended1 || f.Group == fgExtended2 ? cpu.ExtendedRegisters()
                                  : f.Group == fgPowerManagement                  ? cpu.PowerRegisters()
                                                                                   : cpu.StandardRegisters();
    const std::uint32_t reg = f.Group == fgStandard2 || f.Group == fgExtended2 ? regs.ECX : regs.EDX;
    f.Available = ((reg >> (f.Bit & 31)) & 1u) != 0;
  }
  return list;
}

}  // namespace kyvex
