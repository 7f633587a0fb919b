#include "cpu/KSI_CPU.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string_view>

#include "platform/ProcessorApi.h"
#include "platform/Text.h"

namespace kyvex {

using platform::Current;

const std::array<TCPUVendorInfo, kCpuVendorCount> CPUVendors = {{
    {"", "", "", 0},
    {"BadCpuVendor", "Unknown", "Unknown Vendor", 0},
    {"GenuineIntel", "Intel", "Intel Corporation", 0},
    {"AuthenticAMD", "AMD", "Advanced Micro Devices", 1},
    {"CyrixInstead", "Cyrix", "Via Technologies Inc", 2},
    {"CentaurHauls", "Via", "Via Technologies Inc", 1},
    {"NexGenDriven", "NexGen", "NexGen Inc", 0},
    {"UMC UMC UMC ", "UMC", "United Microelectronics Corp", 0},
    {"RiseRiseRise", "Rise", "Rise Technology", 0},
    {"SiS SiS SiS", "SiS", "SiS", 0},
    {"Geode by NSC", "NSC", "National Semiconductor", 0},
    {"GenuineTMx86", "Transmeta", "Transmeta", 1},
}};

const std::array<const char*, kCpuVendorCount> CpuVendorNames = {"cvNone",  "cvUnknown", "cvIntel", "cvAmd",
                                                                  "cvCyrix", "cvIDT",     "cvNexGen", "cvUMC",
                                                                  "cvRise",  "cvSiS",     "cvGeode", "cvTransmeta"};

const char* CpuVendorName(TCpuVendor v) { return v < kCpuVendorCount ? CpuVendorNames[v] : ""; }

std::string CpuVendorText(std::uint64_t vendor) {
  return CPUVendors[vendor < kCpuVendorCount ? vendor : std::uint64_t{cvUnknown}].VendorName;
}

const std::array<const char*, kIntelBrandCount> IntelBrandNames = {"ibCeleron", "ibPentium", "ibXeon",
                                                                   "ibMP",      "ibMobile",  "ibM"};

const char* IntelBrandName(TIntelBrand b) { return b < kIntelBrandCount ? IntelBrandNames[b] : ""; }

// --- Unit-level CPUID access ----------------------------------------------------------------

namespace {

platform::ProcessorApi& Api() { return Current().Processor(); }

std::uint32_t g_currentLeaf = 0;
std::uint32_t g_savedMask = 0;
bool g_maskSaved = false;
bool g_setterLookedUp = false;
bool g_setterPresent = false;
// The reading of the processors the running refresh decodes from; null outside a refresh.
const TProcessorCensus* g_census = nullptr;

// The unit's values belong to the platform they were taken from.
void ResetUnit() {
  g_currentLeaf = 0;
  g_savedMask = 0;
  g_maskSaved = false;
  g_setterLookedUp = false;
  g_setterPresent = false;
}
[[maybe_unused]] const bool g_resetOnPlatformChange = (platform::OnPlatformChanged(&ResetUnit), true);

bool AffinitySetterPresent() {
  if (!g_setterLookedUp) {
    g_setterPresent = Api().BindProcessAffinitySetter();
    g_setterLookedUp = true;
  }
  return g_setterPresent;
}

// APIC ID -> (logical number within the package, package number), the package holding the
// next power of two at or above `logicalPerPackage` logical processors.
void SplitApicId(std::uint8_t apicId, std::uint8_t logicalPerPackage, std::uint8_t& logicalId,
                 std::uint8_t& physicalId) {
  std::uint32_t width = 1, mask = 0xFF, shift = 0;
  while (width < logicalPerPackage) {
    width *= 2;
    mask *= 2;
    ++shift;
  }
  logicalId = static_cast<std::uint8_t>(apicId & ~mask);
  physicalId = static_cast<std::uint8_t>(apicId >> shift);
}

// Leaf 1 EDX bit 28 says EBX carries the APIC ID and the logical count.
void ApicOfLeaf1(const TCPUIDRegisters& r, std::uint8_t& apicId, std::uint8_t& logicalPerPackage) {
  if (r.EDX & (1u << 28)) {
    apicId = static_cast<std::uint8_t>(r.EBX >> 24);
    logicalPerPackage = static_cast<std::uint8_t>(r.EBX >> 16);
  } else {
    apicId = 255;
    logicalPerPackage = 1;
  }
}

std::string Hex8(std::uint32_t v) {
  char buf[9];
  std::snprintf(buf, sizeof buf, "%08X", v);
  return buf;
}

bool SignatureMatches(const std::string& signature, const std::string& text, bool ignoreCase) {
  auto equal = [ignoreCase](std::string_view a, std::string_view b) {
    return ignoreCase ? text::EqualsIgnoreAsciiCase(a, b) : a == b;
  };
  if (equal(signature, text)) return true;
  // SiS's signature is one character short of the 12 that CPUID always gives ("SiS SiS SiS "
  // with a trailing blank): accept the blank.
  return signature.size() == 11 && text.size() == 12 && text[11] == ' ' &&
         equal(signature, std::string_view(text).substr(0, 11));
}

std::optional<std::string> RegistryString(const std::string& key, const std::string& name) {
  auto v = Current().RegQueryValue(platform::RegRoot::LocalMachine, key, name);
  if (!v || (v->type != platform::kRegSz && v->type != platform::kRegExpandSz)) return std::nullopt;
  return text::Sanitize(v->text);
}

}  // namespace

bool IsCPUIDAvailable() { return Api().CanToggleIdFlag(); }

void ExecuteCPUID(TCPUIDRegisters& regs) {
  const platform::X86Registers r = Api().Cpuid(g_currentLeaf, 0);
  regs.EAX = r.eax;
  regs.EBX = r.ebx;
  regs.ECX = r.ecx;
  regs.EDX = r.edx;
}

void RepeatCPUID(std::uint32_t leaf, int count, TCPUIDRegisters& regs) {
  g_currentLeaf = leaf;
  for (int i = 0; i < count; ++i) ExecuteCPUID(regs);
}

void SelectProcessor(std::uint32_t index) {
  if (index >= 32) return;
  auto& api = Api();
  std::uint32_t processMask = 0, systemMask = 0;
  // Without the current mask the binding could not be undone: leave the process as it is.
  g_maskSaved = api.GetProcessAffinityMask(api.GetCurrentProcess(), processMask, systemMask);
  if (!g_maskSaved) return;
  g_savedMask = processMask;
  const std::uint32_t count = GetProcessorCount();
  if (count == 0 || index > count - 1) index = 0;
  if (AffinitySetterPresent()) api.SetProcessAffinityMask(api.GetCurrentProcess(), 1u << index);
  api.Sleep(0);  // give the scheduler the chance to move the thread now
}

void RestoreProcessorAffinity() {
  if (AffinitySetterPresent() && g_maskSaved) Api().SetProcessAffinityMask(Api().GetCurrentProcess(), g_savedMask);
}

namespace {
// Restores the affinity when it goes out of scope, on every path.
struct ProcessorBinding {
  explicit ProcessorBinding(std::uint32_t index) { SelectProcessor(index); }
  ~ProcessorBinding() { RestoreProcessorAffinity(); }
  ProcessorBinding(const ProcessorBinding&) = delete;
  ProcessorBinding& operator=(const ProcessorBinding&) = delete;
};
// Makes the per-processor calls answer from `census` while it lives.
struct ActiveCensus {
  explicit ActiveCensus(const TProcessorCensus& census) : saved(g_census) { g_census = &census; }
  ~ActiveCensus() { g_census = saved; }
  ActiveCensus(const ActiveCensus&) = delete;
  ActiveCensus& operator=(const ActiveCensus&) = delete;
  const TProcessorCensus* saved;
};

const TProcessorRecord* CensusRecord(std::uint32_t index) {
  if (!g_census || index >= g_census->Processors.size()) return nullptr;
  const TProcessorRecord& p = g_census->Processors[index];
  return p.Bound ? &p : nullptr;
}

}  // namespace

bool ProcessorHasCPUID(std::uint32_t index) {
  if (g_census) {
    const TProcessorRecord* p = CensusRecord(index);
    return p && p->Leaves.hasCpuid;
  }
  ProcessorBinding bound(index);
  return IsCPUIDAvailable();
}

void CPUIDOnProcessor(std::uint32_t index, std::uint32_t leaf, int count, TCPUIDRegisters& regs) {
  if (g_census) {
    // A recorded answer is the answer of the last run, however often the leaf is to run.
    if (count <= 0) return;
    const TProcessorRecord* p = CensusRecord(index);
    const platform::X86Registers r = p ? p->Leaves.Get(leaf) : platform::X86Registers{};
    regs = {r.eax, r.ebx, r.ecx, r.edx};
    return;
  }
  ProcessorBinding bound(index);
  RepeatCPUID(leaf, count, regs);
}

int LeafRange(std::uint32_t leaf) {
  if (leaf >= 0x80000000u && leaf <= 0x80000008u) return 1;
  if (leaf >= 0x80860000u && leaf <= 0x80860007u) return 2;
  return 0;
}

std::uint32_t MaxLeafOfRange(std::uint32_t index, int range) {
  static constexpr std::uint32_t kFirstLeaf[] = {0x00000000u, 0x80000000u, 0x80860000u};
  if (range < 0 || range > 2) return 0;
  TCPUIDRegisters regs;
  CPUIDOnProcessor(index, kFirstLeaf[range], 1, regs);
  return regs.EAX;
}

bool IsLeafSupported(std::uint32_t index, std::uint32_t leaf) { return leaf <= MaxLeafOfRange(index, LeafRange(leaf)); }

std::string RegisterToText(std::uint32_t value) {
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i) s[static_cast<std::size_t>(i)] = static_cast<char>((value >> (8 * i)) & 0xFF);
  return s;
}

std::string SplitSerialGroup(const std::string& s) {
  return s.substr(0, 4) + "-" + (s.size() > 4 ? s.substr(4, 4) : std::string());
}

std::uint8_t GetProcessorCount() {
  // Held to the byte's largest value rather than wrapped: 256 processors are not none.
  return static_cast<std::uint8_t>(std::min<std::uint32_t>(LogicalProcessorCount(), 255));
}

std::uint32_t LogicalProcessorCount() {
  if (g_census) return static_cast<std::uint32_t>(g_census->Processors.size());
  return Api().LogicalProcessorCount();
}

std::uint8_t CountPhysicalProcessors() {
  const std::uint32_t count = LogicalProcessorCount();
  std::uint32_t physical = 0;
  for (std::uint32_t index = 0; index < count; ++index) {
    std::uint8_t apicId = 255, logicalPerPackage = 1;
    // A processor without CPUID cannot say it shares a package: it counts as one.
    if (ProcessorHasCPUID(index)) {
      TCPUIDRegisters regs;
      CPUIDOnProcessor(index, 1, 1, regs);
      ApicOfLeaf1(regs, apicId, logicalPerPackage);
    }
    std::uint8_t logicalId = 0, physicalId = 0;
    SplitApicId(apicId, logicalPerPackage, logicalId, physicalId);
    if (logicalId == 0) ++physical;
  }
  return static_cast<std::uint8_t>(std::min<std::uint32_t>(physical, 255));
}

bool HasFDIVBug() {
  // volatile: the division must run on this processor's floating-point unit, not in the
  // compiler.
  volatile long double x = 4195835.0L, y = 3145727.0L;
  const long double r = x / y * y - x;
  return r != 0.0L;
}

TCpuVendor VendorFromSignature(const std::string& text, bool ignoreCase) {
  for (int v = cvUnknown; v < kCpuVendorCount; ++v)
    if (SignatureMatches(CPUVendors[static_cast<std::size_t>(v)].Signature, text, ignoreCase))
      return static_cast<TCpuVendor>(v);
  return cvUnknown;
}

// --- The component --------------------------------------------------------------------------

TKyvex_CPU::TKyvex_CPU(TComponent* AOwner)
    : TKyvex_KSIC_Component(AOwner),
      FCache(std::make_unique<TCPUCache>()),
      FFeatures(std::make_unique<TCPUFeatures>()) {}

TKyvex_CPU::~TKyvex_CPU() = default;

int TKyvex_CPU::DisplayFamily() const { return FFamily; }

int TKyvex_CPU::DisplayModel() const {
  if (FFamily != 6 && FFamily < 15) return FModel;
  const int baseModel = FModel < 15 ? FModel : 15;
  return (FExtendedModel << 4) + baseModel;
}

void TKyvex_CPU::CollectData() {
  TKyvex_KSIC_Component::CollectData();
  FFamily = FModel = FStepping = 0;
  FFamilyEx = FModelEx = FSteppingEx = 0;
  FExtendedFamily = FExtendedModel = 0;

  std::shared_ptr<const TProcessorCensus> census = FCensus;
  if (!census) {
    auto own = std::make_shared<TProcessorCensus>(ReadProcessorCensus());
    MeasureClocks(*own, FCPUIndex);
    census = std::move(own);
  }
  ActiveCensus active(*census);
  const TProcessorRecord* own = CensusRecord(FCPUIndex);
  if (!own) {
    // Nothing of another processor may stand for this one: every value empty, the counts
    // of the system kept.
    ResetValues();
    FVendor = cvNone;
  }
  FProcessorAvailable = own != nullptr;

  FLogicalProcessorCount = kyvex::LogicalProcessorCount();
  FCPUCount = GetProcessorCount();
  // Counted once per reading: a walk over all processors refreshes from the same one.
  if (census != FCountedCensus) {
    FTopology = CountTopology(*census);
    FLeaf1PhysicalCount = CountPhysicalProcessors();
    FCountedCensus = census;
  }
  FPackageCount = FTopology.Packages;
  FCoresPerPackage = FTopology.CoresPerPackage;
  FThreadsPerCore = FTopology.ThreadsPerCore;
  FTopologySource = FTopology.Source;
  FPlace = FCPUIndex < FTopology.Places.size() ? FTopology.Places[FCPUIndex] : TProcessorPlace{};
  // A hypervisor that hands the host's APIC IDs to its virtual processors can leave no
  // processor with the first logical number of its package: the topology still counts the
  // packages, and there is always at least one.
  FCPUPhysicalCount = FLeaf1PhysicalCount != 0
                          ? FLeaf1PhysicalCount
                          : static_cast<std::uint8_t>(std::clamp<std::uint32_t>(FPackageCount, 1, 255));
  if (!FProcessorAvailable) return;

  // What only this refresh can tell is never left from another processor's.
  FCacheList.clear();
  FHypervisor = {};

  bool leaf1Read = false;
  FCPUIDSupported = ProcessorHasCPUID(FCPUIndex);
  if (FCPUIDSupported) {
    CollectVendorAndSignature(leaf1Read);
    CollectCaches(own->Leaves);
    // The leaves reserve APIC IDs for a cache's sharers; the processors there are say how
    // many share it.
    if (FPlace.Known)
      for (TCacheInfo& c : FCacheList)
        if (const std::uint32_t n = ProcessorsSharing(FTopology, FPlace.ApicId, static_cast<std::uint32_t>(c.SharedBy)))
          c.SharedBy = static_cast<int>(n);
    FHypervisor = DecodeHypervisor(own->Leaves);
    CollectFeatures();
    CollectSerialNumber();
  }
  CollectFrequency(leaf1Read, *own);
  // The registry describes this machine's processors, not a recording's.
  if (!leaf1Read && !census->Recorded) ReadRegistryDescription();
  FIntelBrand = ComputeIntelBrand(*this);
  NameProcessor();
  FFDIVBug = HasFDIVBug();
}

void TKyvex_CPU::CollectVendorAndSignature(bool& leaf1Read) {
  TCPUIDRegisters regs;
  CPUIDOnProcessor(FCPUIndex, 0, 1, regs);
  FVendorID = RegisterToText(regs.EBX) + RegisterToText(regs.EDX) + RegisterToText(regs.ECX);
  FVendor = VendorFromSignature(FVendorID, false);
  FVendorID = text::Sanitize(FVendorID);

  if (IsLeafSupported(FCPUIndex, 1)) {
    CPUIDOnProcessor(FCPUIndex, 1, 1, regs);
    const std::uint32_t eax = regs.EAX;
    FCPUType = static_cast<int>((eax >> 12) & 3);
    FExtendedFamily = static_cast<int>((eax >> 20) & 0xFF);
    FExtendedModel = static_cast<int>((eax >> 16) & 0xF);
    const int f = static_cast<int>((eax >> 8) & 0xF);
    FFamily = f < 15 ? f : f + FExtendedFamily;
    // The extended model is added, not shifted, and only to a base model of 15.
    const int m = static_cast<int>((eax >> 4) & 0xF);
    FModel = m < 15 ? m : m + FExtendedModel;
    FStepping = static_cast<int>(eax & 0xF);

    if (FVendor == cvAmd && FFamily == 15 && FModel > 4 && regs.EBX == 0) {
      TCPUIDRegisters ext;
      CPUIDOnProcessor(FCPUIndex, 0x80000001, 1, ext);
      FBrand = static_cast<int>(ext.EBX & 0xFF);
    } else {
      FBrand = static_cast<int>(regs.EBX & 0xFF);
    }
    char generic[80];
    std::snprintf(generic, sizeof generic, "x86 Family %d Model %d Stepping %d", FFamily, FModel, FStepping);
    FGenericName = generic;

    ApicOfLeaf1(regs, FAPICID, FLogicalPerPackage);
    SplitApicId(FAPICID, FLogicalPerPackage, FLogicalID, FPhysicalID);
    leaf1Read = true;

    if (FVendor != cvTransmeta) {
      auto brandFrom = [this](std::uint32_t first, std::uint32_t last) {
        std::string brand;
        TCPUIDRegisters r;
        for (std::uint32_t leaf = first; leaf <= last; ++leaf) {
          CPUIDOnProcessor(FCPUIndex, leaf, 1, r);
          brand += RegisterToText(r.EAX) + RegisterToText(r.EBX) + RegisterToText(r.ECX) + RegisterToText(r.EDX);
        }
        return brand;
      };
      if (IsLeafSupported(FCPUIndex, 0x80000002))
        FMarketingName = brandFrom(0x80000002, 0x80000004);
      else if (IsLeafSupported(FCPUIndex, 0x80860003))
        FMarketingName = brandFrom(0x80860003, 0x80860006);
    }
    // The brand string ends at its first zero byte, as the systems read it.
    FMarketingName = text::Sanitize(text::Trim(FMarketingName.substr(0, FMarketingName.find('\0'))));
  }

  if (IsLeafSupported(FCPUIndex, 0x80000001)) {
    CPUIDOnProcessor(FCPUIndex, 0x80000001, 1, regs);
    FFamilyEx = static_cast<int>((regs.EAX >> 8) & 0xF);
    FModelEx = static_cast<int>((regs.EAX >> 4) & 0xF);
    FSteppingEx = static_cast<int>(regs.EAX & 0xF);
  }
}

void TKyvex_CPU::CollectFeatures() {
  TAvailableFeatures groups[5];
  if (IsLeafSupported(FCPUIndex, 1)) {
    CPUIDOnProcessor(FCPUIndex, 1, 1, FStandardRegisters);
    groups[0] = BuildFeatureList(*this, fgStandard1);
    groups[1] = BuildFeatureList(*this, fgStandard2);
  }
  if (IsLeafSupported(FCPUIndex, 0x80000001)) {
    CPUIDOnProcessor(FCPUIndex, 0x80000001, 1, FExtendedRegisters);
    groups[2] = BuildFeatureList(*this, fgExtended1);
    groups[3] = BuildFeatureList(*this, fgExtended2);
  }
  if (IsLeafSupported(FCPUIndex, 0x80000007)) {
    CPUIDOnProcessor(FCPUIndex, 0x80000007, 1, FPowerRegisters);
    groups[4] = BuildFeatureList(*this, fgPowerManagement);
  }
  FFeatures->SetFeatureGroups(std::move(groups[0]), std::move(groups[1]), std::move(groups[2]),
                              std::move(groups[3]), std::move(groups[4]));
}

void TKyvex_CPU::CollectSerialNumber() {
  TCPUIDRegisters regs;
  CPUIDOnProcessor(FCPUIndex, 1, 1, regs);
  if (FVendor == cvTransmeta)
    FSerialNumber = SplitSerialGroup(Hex8(regs.EBX));
  else
    FSerialNumber = SplitSerialGroup(Hex8(regs.EAX)) + "-" + SplitSerialGroup(Hex8(regs.EDX)) + "-" +
                    SplitSerialGroup(Hex8(regs.ECX));
}

void TKyvex_CPU::CollectFrequency(bool leaf1Read, const TProcessorRecord& own) {
  // RDTSC faults on a processor without a time-stamp counter, and one without CPUID cannot
  // say whether it has one: the reading measures only where leaf 1 says there is one.
  const bool hasTimeStampCounter = leaf1Read && (FStandardRegisters.EDX & (1u << 4));
  if (!hasTimeStampCounter || !own.ClockKnown) {
    FFrequencyInfo = {};
    FFrequency = 0;
    return;
  }
  FFrequencyInfo = own.Clock;
  FFrequency = FFrequencyInfo.NormalizedFrequency;
}

void TKyvex_CPU::ReadRegistryDescription() {
  const std::string key = "\\HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\" + std::to_string(FCPUIndex);
  if (!Current().RegKeyExists(platform::RegRoot::LocalMachine, key)) return;
  FVendorID = RegistryString(key, "VendorIdentifier").value_or("");
  FVendor = VendorFromSignature(FVendorID, true);
  FGenericName = RegistryString(key, "Identifier").value_or("");
  if (auto name = RegistryString(key, "ProcessorNameString")) FMarketingName = *name;
}

void TKyvex_CPU::NameProcessor() {
  FCPUName.clear();
  FCodeName.clear();
  FRevision.clear();
  FTechnology.clear();
  using NamingRoutine = void (*)(TKyvex_CPU&);
  static constexpr NamingRoutine kRoutines[kCpuVendorCount] = {
      nullptr,           NameOtherProcessor, NameIntelProcessor, NameAMDProcessor,   NameCyrixProcessor,
      NameIDTProcessor,  NameNexGenProcessor, NameUMCProcessor, NameRiseProcessor, NameSiSProcessor,
      NameGeodeProcessor, NameTransmetaProcessor};
  if (FVendor < kCpuVendorCount && kRoutines[FVendor]) kRoutines[FVendor](*this);
}

}  // namespace kyvex
