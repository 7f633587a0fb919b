// Saving and loading the processor component: below the file's "CPU" element one storage per
// logical processor, named by its index, each holding the processor's values in one property
// set. The file keeps every processor; the component loads one of them at a time.
#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>

#include "common/Kyvex_SS.h"
#include "cpu/KSI_CPU.h"

namespace kyvex {

namespace {

constexpr std::uint32_t kSaveMode = ole::STGM_READWRITE | ole::STGM_SHARE_EXCLUSIVE;  // 0x12
constexpr std::uint32_t kLoadMode = ole::STGM_READ | ole::STGM_SHARE_EXCLUSIVE;       // 0x10
constexpr const char* kStorageName = "CPU";

using PropertyStorage = std::shared_ptr<ole::IPropertyStorage>;

// The caches as plain records: the component's cache objects are set as a whole, so a load
// fills these and hands them over at the end.
struct StoredCaches {
  TCacheLevelRecord l1Data, l1Code, l1Unified, l2, l3, trace;
};

TCacheLevelRecord RecordOf(const TCPUCacheDetails& d) {
  TCacheLevelRecord r;
  r.Associativity = d.Associativity();
  r.Size = d.Size();
  r.LineSize = d.LineSize();
  r.Descriptors = d.Descriptors();
  return r;
}

const char* const kFeatureGroupFormats[] = {"Features.Standard1.", "Features.Standard2.", "Features.Extended1.",
                                             "Features.Extended2.", "Features.PowerManagement."};
constexpr std::uint8_t kFeatureGroups[] = {fgStandard1, fgStandard2, fgExtended1, fgExtended2, fgPowerManagement};

// Writing: 8-bit and unsigned values zero-extended, signed ones sign-extended, a Boolean as
// 1 or 0, the brand set as the sum of its members' bits.
struct ValueWriter {
  const PropertyStorage& ps;
  void operator()(const char* name, const std::string& v) const { WriteStringProperty(ps, name, v); }
  void operator()(const char* name, const bool& v) const { WriteIntegerProperty(ps, name, v ? 1 : 0); }
  void operator()(const char* name, const int& v) const { WriteIntegerProperty(ps, name, v); }
  void operator()(const char* name, const TIntelBrands& v) const { WriteIntegerProperty(ps, name, v.Mask()); }
  template <class T>
    requires std::is_unsigned_v<T> || std::is_enum_v<T>
  void operator()(const char* name, const T& v) const {
    WriteIntegerProperty(ps, name, static_cast<std::int64_t>(static_cast<std::uint64_t>(v)));
  }
};

// Reading: each value keeps the low bits of its own width. A missing value (or no property
// set at all) reads as 0 or empty. An ordinal past the end of its enumeration (a damaged or
// foreign file) is taken as the "unknown"/"none" member rather than as a value the type
// does not have.
struct ValueReader {
  const PropertyStorage& ps;
  void operator()(const char* name, std::string& v) const { v = ReadStringProperty(ps, name); }
  void operator()(const char* name, bool& v) const { v = ReadIntegerProperty(ps, name) == 1; }
  void operator()(const char* name, int& v) const { v = static_cast<std::int32_t>(Low32(name)); }
  void operator()(const char* name, std::uint8_t& v) const { v = static_cast<std::uint8_t>(Low32(name)); }
  void operator()(const char* name, std::uint32_t& v) const { v = Low32(name); }
  void operator()(const char* name, TIntelBrands& v) const { v = TIntelBrands::FromMask(Low32(name)); }
  void operator()(const char* name, TCpuVendor& v) const {
    const std::uint8_t ordinal = static_cast<std::uint8_t>(Low32(name));
    v = ordinal < kCpuVendorCount ? static_cast<TCpuVendor>(ordinal) : cvUnknown;
  }
  void operator()(const char* name, TCacheAssociativity& v) const {
    const std::uint8_t ordinal = static_cast<std::uint8_t>(Low32(name));
    v = ordinal < kCacheAssociativityCount ? static_cast<TCacheAssociativity>(ordinal) : caNone;
  }
  std::uint32_t Low32(const char* name) const {
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(ReadIntegerProperty(ps, name)));
  }
};

template <class Visitor>
void VisitCache(const char* prefix, TCacheLevelRecord& r, Visitor&& v) {
  const std::string p = prefix;
  v((p + "Size").c_str(), r.Size);
  v((p + "LineSize").c_str(), r.LineSize);
  v((p + "Associativity").c_str(), r.Associativity);
}

}  // namespace

// Every stored value but the features, in the order written: the save and the load walk this
// one list, so that names and order cannot drift apart. The order fixes the property ids a
// fresh set hands out (2, 3, ...), which other readers of our files rely on.
struct CPU_StoredLayout {
  template <class Visitor>
  static void Visit(TKyvex_CPU& c, StoredCaches& k, Visitor&& v) {
    v("CPUCount", c.FCPUCount);
    v("CPUPhysicalCount", c.FCPUPhysicalCount);
    v("CPUType", c.FCPUType);
    v("CPUIDSupported", c.FCPUIDSupported);
    v("Vendor", c.FVendor);
    v("CPUName", c.FCPUName);
    v("GenericName", c.FGenericName);
    v("MarketingName", c.FMarketingName);
    v("CodeName", c.FCodeName);
    v("Frequency", c.FFrequency);
    v("APICID", c.FAPICID);
    v("LogicalID", c.FLogicalID);
    v("PhysicalID", c.FPhysicalID);
    v("LogicalPerPackage", c.FLogicalPerPackage);
    v("Family", c.FFamily);
    v("Model", c.FModel);
    v("Stepping", c.FStepping);
    v("FamilyEx", c.FFamilyEx);
    v("ModelEx", c.FModelEx);
    v("SteppingEx", c.FSteppingEx);
    v("Brand", c.FBrand);
    v("IntelBrand", c.FIntelBrand);
    v("Revision", c.FRevision);
    v("Technology", c.FTechnology);
    v("SerialNumber", c.FSerialNumber);
    v("FDIVBug", c.FFDIVBug);
    VisitCache("Cache.Level1.Data.", k.l1Data, v);
    VisitCache("Cache.Level1.Code.", k.l1Code, v);
    VisitCache("Cache.Level1.Unified.", k.l1Unified, v);
    VisitCache("Cache.Level2.", k.l2, v);
    VisitCache("Cache.Level3.", k.l3, v);
    VisitCache("Cache.Trace.", k.trace, v);
  }

  static StoredCaches CachesOf(const TKyvex_CPU& c) {
    const TCPUCache& cache = *c.FCache;
    return {RecordOf(cache.Level1().Data()), RecordOf(cache.Level1().Code()), RecordOf(cache.Level1().Unified()),
            RecordOf(cache.Level2()),        RecordOf(cache.Level3()),        RecordOf(cache.Trace())};
  }

  static void Write(TKyvex_CPU& c, const PropertyStorage& ps) {
    StoredCaches caches = CachesOf(c);
    Visit(c, caches, ValueWriter{ps});
    // A group holding two entries of one name writes that property twice; the second stays.
    for (std::size_t g = 0; g < std::size(kFeatureGroups); ++g) {
      const TCPUFeatureSet& set = c.FFeatures->Group(kFeatureGroups[g]);
      for (std::uint32_t i = 0; i < set.Count(); ++i) {
        const TCPUFeature f = set.GetFeature(static_cast<std::uint8_t>(i));
        WriteIntegerProperty(ps, kFeatureGroupFormats[g] + f.Name, f.Available ? 1 : 0);
      }
    }
  }

  // ps: the processor's values, or none (every value then reads 0 or empty). The names stay
  // as stored: nothing is re-derived, no clock is measured.
  static void Read(TKyvex_CPU& c, const PropertyStorage& ps) {
    // What a refresh finds beyond the stored values would describe this machine beside the
    // file's processor: none of it is kept.
    c.FVendorID.clear();
    c.FExtendedFamily = c.FExtendedModel = 0;
    c.FFrequencyInfo = TFrequencyInfo{};
    StoredCaches caches = CachesOf(c);
    Visit(c, caches, ValueReader{ps});
    c.FCache->SetCacheLevels(caches.l1Code, caches.l1Data, caches.l1Unified, caches.l2, caches.l3, caches.trace);
    // The lists come from the loaded vendor; only what the file says makes an entry available.
    TAvailableFeatures lists[std::size(kFeatureGroups)];
    for (std::size_t g = 0; g < std::size(kFeatureGroups); ++g) {
      lists[g] = BuildFeatureList(c, kFeatureGroups[g]);
      for (TCPUFeature& f : lists[g]) f.Available = ReadIntegerProperty(ps, kFeatureGroupFormats[g] + f.Name) == 1;
    }
    c.FFeatures->SetFeatureGroups(std::move(lists[0]), std::move(lists[1]), std::move(lists[2]), std::move(lists[3]),
                                  std::move(lists[4]));
  }
};

void TKyvex_CPU::SaveToStorageFile(const std::string& FileName) {
  TKyvex_KSIC_Component::SaveToStorageFile(FileName);
  SaveComponentStorage(FileName, kStorageName, [this](TStructuredSTorage& own) {
    // The machine's own count, not the property: after a load the property is another
    // machine's, and saving that many would store processor 0 under every missing index.
    const std::uint8_t count = GetProcessorCount();
    for (unsigned i = 0; i < count; ++i) {
      FCPUIndex = static_cast<std::uint8_t>(i);
      CollectData();
      SaveProcessorStorage(own, std::to_string(i));
    }
  });
}

void TKyvex_CPU::SaveProcessorStorage(TStructuredSTorage& cpuStorage, const std::string& Name) {
  auto processor = cpuStorage.OpenSubStorage(Name, kSaveMode, true);
  auto set = processor->OpenPropertySet(FMTID_DocSummaryInformation, kSaveMode, true);
  CPU_StoredLayout::Write(*this, set->PropertyStorage());
}

bool TKyvex_CPU::LoadFromStorageFile(const std::string& FileName) {
  // A file that is not a storage file is no reason to drop what the component holds.
  if (!TKyvex_KSIC_Component::LoadFromStorageFile(FileName)) return false;
  bool found = false;
  const bool held = LoadComponentStorage(FileName, kStorageName, [&](TStructuredSTorage& own) {
    found = LoadProcessorStorage(own, std::to_string(FCPUIndex));
  });
  // A file without processors leaves nothing of this machine's live values behind data
  // that now claim to come from the file: cleared as for a missing processor.
  if (!held) CPU_StoredLayout::Read(*this, nullptr);
  return held && found;
}

bool TKyvex_CPU::LoadProcessorStorage(TStructuredSTorage& cpuStorage, const std::string& Name) {
  std::unique_ptr<TStructuredSTorage> processor;
  try {
    processor = cpuStorage.OpenSubStorage(Name, kLoadMode, false);
  } catch (const EOleSysError&) {
    // No such processor in the file: the values below all read as 0 or empty.
  }
  std::unique_ptr<TStoragePropertySet> set;
  if (processor) set = processor->OpenPropertySet(FMTID_DocSummaryInformation, kLoadMode, false);
  CPU_StoredLayout::Read(*this, set ? set->PropertyStorage() : nullptr);
  return set != nullptr;
}

}  // namespace kyvex
