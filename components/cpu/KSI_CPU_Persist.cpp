// Saving and loading the processor component: below the file's "CPU" element one storage per
// logical processor, named by its index, each holding the processor's values in one property
// set. The file keeps every processor; the component loads one of them at a time.
#include <cstdint>
#include <memory>
#include <string>

#include "common/KSI_Persist.h"
#include "cpu/KSI_CPU.h"
#include "cpu/KSI_CPU_Fields.h"

namespace kyvex {

namespace {

constexpr const char* kStorageName = "CPU";

using PropertyStorage = std::shared_ptr<ole::IPropertyStorage>;

const char* const kFeatureGroupFormats[] = {"Features.Standard1.", "Features.Standard2.", "Features.Extended1.",
                                             "Features.Extended2.", "Features.PowerManagement."};
constexpr std::uint8_t kFeatureGroups[] = {fgStandard1, fgStandard2, fgExtended1, fgExtended2, fgPowerManagement};

// The brand set is stored as the sum of its members' bits.
struct CPUFieldWriter : TFieldWriter {
  using TFieldWriter::operator();
  void operator()(const TField& f, const TIntelBrands& v) const { (*this)(f, v.Mask()); }
};

// Bits beyond the set's members (a damaged or foreign file) are dropped.
struct CPUFieldReader : TFieldReader {
  using TFieldReader::operator();
  void operator()(const TField& f, TIntelBrands& v) const {
    std::uint32_t mask = 0;
    (*this)(f, mask);
    v = TIntelBrands::FromMask(mask);
  }
};

}  // namespace

// The feature groups, written after the field list's values.
struct CPU_StoredFeatures {
  static void WriteFeatures(const TKyvex_CPU& c, const PropertyStorage& ps) {
    // A group holding two entries of one name writes that property twice; the second stays.
    for (std::size_t g = 0; g < std::size(kFeatureGroups); ++g) {
      const TCPUFeatureSet& set = c.FFeatures->Group(kFeatureGroups[g]);
      for (std::uint32_t i = 0; i < set.Count(); ++i) {
        const TCPUFeature f = set.GetFeature(static_cast<std::uint8_t>(i));
        WriteIntegerProperty(ps, kFeatureGroupFormats[g] + f.Name, f.Available ? 1 : 0);
      }
    }
  }

  // ps: the processor's values, or none (no entry is then available). The lists come from
  // the vendor already loaded; only what the file says makes an entry available.
  static void ReadFeatures(TKyvex_CPU& c, const PropertyStorage& ps) {
    TAvailableFeatures lists[std::size(kFeatureGroups)];
    for (std::size_t g = 0; g < std::size(kFeatureGroups); ++g) {
      lists[g] = BuildFeatureList(c, kFeatureGroups[g]);
      for (TCPUFeature& f : lists[g]) f.Available = ReadIntegerProperty(ps, kFeatureGroupFormats[g] + f.Name) == 1;
    }
    c.FFeatures->SetFeatureGroups(std::move(lists[0]), std::move(lists[1]), std::move(lists[2]), std::move(lists[3]),
                                  std::move(lists[4]));
  }
};

void TKyvex_CPU::ResetValues() {
  ChangeFields(TFieldReset{});
  FCacheList.clear();
  CPU_StoredFeatures::ReadFeatures(*this, nullptr);
}

void TKyvex_CPU::SaveToStorageFile(const std::string& FileName) {
  TKyvex_KSIC_Component::SaveToStorageFile(FileName);
  SaveComponentStorage(FileName, kStorageName, [this](TStructuredSTorage& own) {
    // The machine's own processors, not the property: after a load the property is another
    // machine's, and saving that many would store processor 0 under every missing index. They
    // are read (and their clocks measured) once for the whole walk, unless the caller gave
    // a reading to use.
    const auto shared = FCensus;
    if (!shared) {
      auto census = std::make_shared<TProcessorCensus>(ReadProcessorCensus());
      MeasureClocks(*census);
      UseProcessorCensus(census);
    }
    const std::size_t count = FCensus->Processors.size();
    try {
      for (std::uint32_t i = 0; i < count; ++i) {
        FCPUIndex = i;
        CollectData();
        SaveProcessorStorage(own, std::to_string(i));
      }
    } catch (...) {
      UseProcessorCensus(shared);
      throw;
    }
    UseProcessorCensus(shared);
  });
}

void TKyvex_CPU::SaveProcessorStorage(TStructuredSTorage& cpuStorage, const std::string& Name) {
  auto processor = cpuStorage.OpenSubStorage(Name, kStorageSaveMode, true);
  auto set = processor->OpenPropertySet(FMTID_DocSummaryInformation, kStorageSaveMode, true);
  VisitFields(CPUFieldWriter{{set->PropertyStorage()}});
  CPU_StoredFeatures::WriteFeatures(*this, set->PropertyStorage());
}

bool TKyvex_CPU::LoadFromStorageFile(const std::string& FileName) {
  // A file that is not a storage file is no reason to drop what the component holds.
  if (!TKyvex_KSIC_Component::LoadFromStorageFile(FileName)) return false;
  bool found = false;
  bool held = false;
  try {
    held = LoadComponentStorage(FileName, kStorageName, [&](TStructuredSTorage& own) {
      found = LoadProcessorStorage(own, std::to_string(FCPUIndex));
    });
  } catch (...) {
    // Processors that are there but cannot be read: neither this machine's values nor a part
    // of the file's may stand behind data that now claim to come from the file.
    ResetValues();
    throw;
  }
  // A file without processors is cleared for the same reason, as for a missing processor.
  if (!held) ResetValues();
  return held && found;
}

// A processor the file does not hold (or one without values) clears every value; one that is
// there but cannot be read raises the container error. The names stay as stored: nothing is
// re-derived, no clock is measured.
bool TKyvex_CPU::LoadProcessorStorage(TStructuredSTorage& cpuStorage, const std::string& Name) {
  auto processor = OpenStorageIfPresent(cpuStorage, Name);
  auto set = processor ? OpenValuesIfPresent(*processor) : nullptr;
  // What a refresh finds beyond the stored values would describe this machine beside the
  // file's processor: none of it is kept.
  ChangeFields(TFieldReset{});
  FCacheList.clear();
  const PropertyStorage ps = set ? set->PropertyStorage() : nullptr;
  if (ps) ChangeFields(CPUFieldReader{{ps}});
  CPU_StoredFeatures::ReadFeatures(*this, ps);
  return set != nullptr;
}

}  // namespace kyvex
