// The processor component: identifies one logical processor at a time through CPUID, with
// the process bound to that processor, and derives its caches, features, clock and names.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/KSI_Common.h"
#include "cpu/KSI_CPUCache.h"
#include "cpu/KSI_CPUCacheLeaves.h"
#include "cpu/KSI_CPUClock.h"
#include "cpu/KSI_CPUFeatures.h"
#include "cpu/KSI_CPUProcessors.h"
#include "cpu/KSI_CPUHypervisor.h"
#include "cpu/KSI_CPUTypes.h"
#include "platform/CpuidSnapshot.h"

namespace kyvex {

class TKyvex_CPU : public TKyvex_KSIC_Component {
 public:
  explicit TKyvex_CPU(TComponent* AOwner = nullptr);
  ~TKyvex_CPU() override;

  // --- Published properties, in declaration order ---------------------------------------
  std::uint8_t CPUCount() const { return FCPUCount; }
  std::uint8_t CPUPhysicalCount() const { return FCPUPhysicalCount; }
  const TCPUCache& Cache() const { return *FCache; }
  const TCPUFeatures& Features() const { return *FFeatures; }
  // The logical processor described (0-based). Setting it does not refresh.
  std::uint32_t CPUIndex() const { return FCPUIndex; }
  void SetCPUIndex(std::uint32_t index) { FCPUIndex = index; }
  bool CPUIDSupported() const { return FCPUIDSupported; }
  TCpuVendor Vendor() const { return FVendor; }
  int CPUType() const { return FCPUType; }
  int Family() const { return FFamily; }
  int Model() const { return FModel; }
  int Stepping() const { return FStepping; }
  int FamilyEx() const { return FFamilyEx; }
  int ModelEx() const { return FModelEx; }
  int SteppingEx() const { return FSteppingEx; }
  int Brand() const { return FBrand; }
  TIntelBrands IntelBrand() const { return FIntelBrand; }
  const std::string& GenericName() const { return FGenericName; }
  const std::string& MarketingName() const { return FMarketingName; }
  const std::string& CPUName() const { return FCPUName; }
  const std::string& CodeName() const { return FCodeName; }
  const std::string& Revision() const { return FRevision; }
  const std::string& Technology() const { return FTechnology; }
  std::uint32_t Frequency() const { return FFrequency; }
  bool FDIVBug() const { return FFDIVBug; }
  const std::string& SerialNumber() const { return FSerialNumber; }
  std::uint8_t APICID() const { return FAPICID; }
  std::uint8_t LogicalPerPackage() const { return FLogicalPerPackage; }
  std::uint8_t PhysicalID() const { return FPhysicalID; }
  std::uint8_t LogicalID() const { return FLogicalID; }

  // --- Further read-only values of the last refresh ---------------------------------------
  // The 12 characters CPUID gave as the vendor (the registry's text on the fallback path),
  // also when no row of CPUVendors matches them.
  const std::string& VendorID() const { return FVendorID; }
  // Bits 27..20 and 19..16 of leaf 1 EAX. `Family` and `Model` take them in only for base
  // values of 15; the processor's own documentation numbers models with them (see
  // DisplayModel).
  int ExtendedFamily() const { return FExtendedFamily; }
  int ExtendedModel() const { return FExtendedModel; }
  // Family and model as the vendors' manuals and the operating systems number them: the
  // extended model is shifted in front of the base model for families 6 and 15.
  int DisplayFamily() const;
  int DisplayModel() const;
  // The details of the clock measurement whose normalized value became `Frequency`.
  const TFrequencyInfo& FrequencyInfo() const { return FFrequencyInfo; }
  // Every logical processor of the system; CPUCount stops at 255.
  std::uint32_t LogicalProcessorCount() const { return FLogicalProcessorCount; }
  // False where the refresh could not run on the processor at CPUIndex (one outside the
  // process's CPU set, or no such processor): its values are then empty, never another's.
  bool ProcessorAvailable() const { return FProcessorAvailable; }
  // The packages, cores and threads counted over all processors, and this processor's place.
  std::uint32_t PackageCount() const { return FPackageCount; }
  std::uint32_t CoresPerPackage() const { return FCoresPerPackage; }
  std::uint32_t ThreadsPerCore() const { return FThreadsPerCore; }
  const std::string& TopologySource() const { return FTopologySource; }
  const TProcessorPlace& Place() const { return FPlace; }

  // One reading of the machine's processors for the refreshes that follow, so that a walk
  // over all of them reads (and measures) each processor once; null: every refresh reads the
  // machine afresh and measures the clock of its own processor.
  void UseProcessorCensus(std::shared_ptr<const TProcessorCensus> census) { FCensus = std::move(census); }
  // Every cache the deterministic cache leaves describe (leaf 4, or 0x8000001D on AMD's
  // processors), with its exact ways and the logical processors sharing it; empty where
  // neither leaf does. `Cache` takes from it what its own method leaves empty.
  const std::vector<TCacheInfo>& CacheList() const { return FCacheList; }
  // The hypervisor CPUID reports (see cpu/KSI_CPUHypervisor.h).
  const THypervisorInfo& HypervisorInfo() const { return FHypervisor; }

  // --- Unpublished state -----------------------------------------------------------------
  const TCPUIDRegisters& StandardRegisters() const { return FStandardRegisters; }
  const TCPUIDRegisters& ExtendedRegisters() const { return FExtendedRegisters; }
  const TCPUIDRegisters& PowerRegisters() const { return FPowerRegisters; }
  const TDescriptorSlots& Descriptors() const { return FDescriptors; }

  // Walks every value of the processor, listed once in cpu/KSI_CPU_Fields.h (include it to
  // call this): the save, the load, the reset and the report are visitors of that list. The
  // caches come as plain records; the feature groups, lists of the vendor's own, are not in it.
  template <class Visitor>
  void VisitFields(Visitor&& v) const;

  void CollectData() override;
  // Saves every logical processor (each refreshed in turn, so the component ends up
  // describing the last one, live) below the file's "CPU" element, replacing what was there.
  void SaveToStorageFile(const std::string& FileName) override;
  // Loads the processor at CPUIndex: true when the file holds that processor's values. A
  // storage file without it (or without any processors) clears the component's values.
  bool LoadFromStorageFile(const std::string& FileName) override;

 protected:
  // The per-processor steps, below the file's open "CPU" storage.
  void SaveProcessorStorage(TStructuredSTorage& cpuStorage, const std::string& Name);
  bool LoadProcessorStorage(TStructuredSTorage& cpuStorage, const std::string& Name);

 private:
  void CollectVendorAndSignature(bool& leaf1Read);
  void CollectCaches(const platform::CpuidLeaves& leaves);
  void CollectFeatures();
  void CollectSerialNumber();
  void CollectFrequency(bool leaf1Read, const TProcessorRecord& own);
  void ReadRegistryDescription();
  void NameProcessor();

  // The list itself, for a const or a changeable component; `k` holds its caches.
  template <class Self, class Visitor>
  static void FieldList(Self& c, TCPUCacheRecords& k, Visitor&& v);
  // The walk that may change the values (load, reset); the caches are set from their
  // records when it ends.
  template <class Visitor>
  void ChangeFields(Visitor&& v);
  // Every value of the list and every feature cleared: what a load leaves where the file holds
  // no processors, or holds them but they cannot be read.
  void ResetValues();

  friend void StoreDescriptorBytes(TKyvex_CPU& cpu, std::uint32_t value, int registerNumber);
  friend struct CPUNaming;  // the naming routines write the four names
  friend struct CPU_StoredFeatures;

  std::uint8_t FCPUCount = 1;
  std::uint8_t FCPUPhysicalCount = 1;
  std::unique_ptr<TCPUCache> FCache;
  std::unique_ptr<TCPUFeatures> FFeatures;
  std::uint32_t FCPUIndex = 0;
  bool FCPUIDSupported = false;
  TCpuVendor FVendor = cvNone;
  int FCPUType = 0;
  int FFamily = 0, FModel = 0, FStepping = 0;
  int FFamilyEx = 0, FModelEx = 0, FSteppingEx = 0;
  int FBrand = 0;
  TIntelBrands FIntelBrand;
  std::string FGenericName, FMarketingName, FCPUName, FCodeName, FRevision, FTechnology;
  std::uint32_t FFrequency = 0;
  bool FFDIVBug = false;
  std::string FSerialNumber;
  std::uint8_t FAPICID = 0, FLogicalPerPackage = 0, FPhysicalID = 0, FLogicalID = 0;

  std::string FVendorID;
  int FExtendedFamily = 0, FExtendedModel = 0;
  TFrequencyInfo FFrequencyInfo;
  std::uint32_t FLogicalProcessorCount = 0;
  bool FProcessorAvailable = false;
  std::uint32_t FPackageCount = 0, FCoresPerPackage = 0, FThreadsPerCore = 0;
  std::string FTopologySource;
  TProcessorPlace FPlace;
  std::shared_ptr<const TProcessorCensus> FCensus;
  // The counts of the reading last counted, kept for the refreshes that share it.
  std::shared_ptr<const TProcessorCensus> FCountedCensus;
  TTopology FTopology;
  std::uint8_t FLeaf1PhysicalCount = 0;
  std::vector<TCacheInfo> FCacheList;
  THypervisorInfo FHypervisor;

  TCPUIDRegisters FStandardRegisters, FExtendedRegisters, FPowerRegisters;
  TDescriptorSlots FDescriptors{};
};

// --- Unit-level CPUID access and processor binding ----------------------------------------
// They keep two unit-level values, the leaf to execute and the affinity mask saved by the
// last binding, so two components must not refresh at the same time. During a refresh the
// per-processor calls answer from the refresh's reading of the processors (see
// TProcessorCensus) and bind nothing.

bool IsCPUIDAvailable();
// CPUID with the unit's current leaf (sub-leaf 0).
void ExecuteCPUID(TCPUIDRegisters& regs);
// Sets the current leaf and executes it `count` times into `regs`; 0 or less executes nothing.
void RepeatCPUID(std::uint32_t leaf, int count, TCPUIDRegisters& regs);
// Binds the whole process to one logical processor (index 32 and above: nothing happens).
void SelectProcessor(std::uint32_t index);
// Re-applies the affinity saved by the last SelectProcessor.
void RestoreProcessorAffinity();
bool ProcessorHasCPUID(std::uint32_t index);
void CPUIDOnProcessor(std::uint32_t index, std::uint32_t leaf, int count, TCPUIDRegisters& regs);
// 1 for 0x80000000..0x80000008, 2 for 0x80860000..0x80860007, 0 otherwise.
int LeafRange(std::uint32_t leaf);
std::uint32_t MaxLeafOfRange(std::uint32_t index, int range);
bool IsLeafSupported(std::uint32_t index, std::uint32_t leaf);
// The four bytes of a register as characters, low byte first; zero bytes are kept.
std::string RegisterToText(std::uint32_t value);
// "12345678" -> "1234-5678".
std::string SplitSerialGroup(const std::string& s);
// The system's processors, at most 255 (the width the stored count has).
std::uint8_t GetProcessorCount();
// The system's processors, any number.
std::uint32_t LogicalProcessorCount();
std::uint8_t CountPhysicalProcessors();
bool HasFDIVBug();

// The row of CPUVendors whose signature is `text`: exact for CPUID's text, ignoring letter
// case for the registry's. cvUnknown when none matches.
TCpuVendor VendorFromSignature(const std::string& text, bool ignoreCase);

// Naming (components/cpu/KSI_CPUNames.cpp).
TIntelBrands ComputeIntelBrand(const TKyvex_CPU& cpu);
void NameIntelProcessor(TKyvex_CPU& cpu);
void NameAMDProcessor(TKyvex_CPU& cpu);
void NameCyrixProcessor(TKyvex_CPU& cpu);
void NameIDTProcessor(TKyvex_CPU& cpu);
void NameOtherProcessor(TKyvex_CPU& cpu);
void NameNexGenProcessor(TKyvex_CPU& cpu);
void NameUMCProcessor(TKyvex_CPU& cpu);
void NameRiseProcessor(TKyvex_CPU& cpu);
void NameSiSProcessor(TKyvex_CPU& cpu);
void NameGeodeProcessor(TKyvex_CPU& cpu);
void NameTransmetaProcessor(TKyvex_CPU& cpu);

}  // namespace kyvex
