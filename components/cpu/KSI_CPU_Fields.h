// Every value of the processor component, listed once: the save, the load, the reset, the JSON
// and the plain text rows walk this list. The stored values come in the order they are written,
// which fixes the property ids a file gets (2, 3, ...) and which other readers of our files
// rely on; values the file does not hold (what only a refresh on this machine finds) may stand
// anywhere among them. The feature groups follow the list in the file: their entries come from
// the vendor's feature table, so they are walked by the save and the load themselves.
#pragma once

#include "common/KSI_Fields.h"
#include "cpu/KSI_CPU.h"

namespace kyvex {

// The three values of one cache, stored under its dotted path ("Cache.Level2.Size").
struct TCacheFieldNames {
  const char* Size;
  const char* LineSize;
  const char* Associativity;
};

template <class Record, class Visitor>
void VisitCacheFields(Record& r, const TCacheFieldNames& names, Visitor&& v) {
  v(TField{.Name = names.Size}, r.Size);
  v(TField{.Name = names.LineSize}, r.LineSize);
  v(TField{.Name = names.Associativity, .Text = CacheAssociativityText, .Json = TJsonStyle::Enumeration,
           .Names = CacheAssociativityNames, .Fallback = caNone},
    r.Associativity);
}

template <class Self, class Visitor>
void TKyvex_CPU::FieldList(Self& c, TCPUCacheRecords& k, Visitor&& v) {
  v(TField{.Name = "CPUCount"}, c.FCPUCount);
  v(TField{.Name = "CPUPhysicalCount"}, c.FCPUPhysicalCount);
  v(TField{.Name = "CPUType"}, c.FCPUType);
  v(TField{.Name = "CPUIDSupported"}, c.FCPUIDSupported);
  v(TField{.Name = "Vendor", .Text = CpuVendorText, .Json = TJsonStyle::Enumeration, .Names = CpuVendorNames,
           .Fallback = cvUnknown},
    c.FVendor);
  v(TField{.Name = "VendorID", .Stored = kNotStored}, c.FVendorID);
  v(TField{.Name = "CPUName"}, c.FCPUName);
  v(TField{.Name = "GenericName", .Label = "Identifier"}, c.FGenericName);
  v(TField{.Name = "MarketingName"}, c.FMarketingName);
  v(TField{.Name = "CodeName", .Label = "Code name"}, c.FCodeName);
  v(TField{.Name = "Frequency"}, c.FFrequency);
  // The measurement behind Frequency: another machine's clock is not measured on a load.
  v(TField{.Name = "FrequencyMeasurement.RawFrequency", .Stored = kNotStored}, c.FFrequencyInfo.RawFrequency);
  v(TField{.Name = "FrequencyMeasurement.NormalizedFrequency", .Stored = kNotStored},
    c.FFrequencyInfo.NormalizedFrequency);
  v(TField{.Name = "FrequencyMeasurement.IntervalParameter", .Stored = kNotStored},
    c.FFrequencyInfo.IntervalParameter);
  v(TField{.Name = "FrequencyMeasurement.Cycles", .Stored = kNotStored}, c.FFrequencyInfo.Cycles);
  v(TField{.Name = "FrequencyMeasurement.Microseconds", .Stored = kNotStored}, c.FFrequencyInfo.Microseconds);
  v(TField{.Name = "APICID"}, c.FAPICID);
  v(TField{.Name = "LogicalID"}, c.FLogicalID);
  v(TField{.Name = "PhysicalID"}, c.FPhysicalID);
  v(TField{.Name = "LogicalPerPackage"}, c.FLogicalPerPackage);
  v(TField{.Name = "Family"}, c.FFamily);
  v(TField{.Name = "Model"}, c.FModel);
  v(TField{.Name = "Stepping"}, c.FStepping);
  v(TField{.Name = "FamilyEx"}, c.FFamilyEx);
  v(TField{.Name = "ModelEx"}, c.FModelEx);
  v(TField{.Name = "SteppingEx"}, c.FSteppingEx);
  // Family and Model have these added in already where the base value is 15; a file keeps
  // only the sums.
  v(TField{.Name = "ExtendedFamily", .Stored = kNotStored}, c.FExtendedFamily);
  v(TField{.Name = "ExtendedModel", .Stored = kNotStored}, c.FExtendedModel);
  v(TField{.Name = "Brand"}, c.FBrand);
  // Stored as the sum of its members' bits; a visitor takes TIntelBrands by an overload of its own.
  v(TField{.Name = "IntelBrand", .Json = TJsonStyle::Set, .Names = IntelBrandNames,
           .SetBits = SetElements(kIntelBrandCount - 1)},
    c.FIntelBrand);
  v(TField{.Name = "Revision"}, c.FRevision);
  v(TField{.Name = "Technology", .Label = "Technology"}, c.FTechnology);
  v(TField{.Name = "SerialNumber", .Label = "Identification"}, c.FSerialNumber);
  v(TField{.Name = "FDIVBug"}, c.FFDIVBug);
  // What a refresh counts over all processors beyond the stored byte-wide counts.
  v(TField{.Name = "LogicalProcessorCount", .Stored = kNotStored}, c.FLogicalProcessorCount);
  v(TField{.Name = "ProcessorAvailable", .Stored = kNotStored}, c.FProcessorAvailable);
  v(TField{.Name = "Topology.Packages", .Stored = kNotStored}, c.FPackageCount);
  v(TField{.Name = "Topology.CoresPerPackage", .Stored = kNotStored}, c.FCoresPerPackage);
  v(TField{.Name = "Topology.ThreadsPerCore", .Stored = kNotStored}, c.FThreadsPerCore);
  v(TField{.Name = "Topology.Source", .Stored = kNotStored}, c.FTopologySource);
  v(TField{.Name = "Topology.ApicID", .Stored = kNotStored}, c.FPlace.ApicId);
  v(TField{.Name = "Topology.PackageID", .Stored = kNotStored}, c.FPlace.Package);
  v(TField{.Name = "Topology.CoreID", .Stored = kNotStored}, c.FPlace.Core);
  v(TField{.Name = "Topology.ThreadID", .Stored = kNotStored}, c.FPlace.Thread);
  v(TField{.Name = "CoreType", .Stored = kNotStored, .Text = CoreTypeText, .Json = TJsonStyle::Enumeration,
           .Names = CoreTypeNames, .Fallback = ctUnknown},
    c.FPlace.CoreType);
  // What CPUID says of a hypervisor describes the machine the refresh ran on.
  v(TField{.Name = "HypervisorPresent", .Stored = kNotStored}, c.FHypervisor.Present);
  v(TField{.Name = "HypervisorSignature", .Stored = kNotStored}, c.FHypervisor.Signature);
  v(TField{.Name = "Hypervisor", .Stored = kNotStored}, c.FHypervisor.Name);
  v(TField{.Name = "HypervisorLeaf", .Stored = kNotStored}, c.FHypervisor.Leaf);
  VisitCacheFields(k.Level1Data,
                   {"Cache.Level1.Data.Size", "Cache.Level1.Data.LineSize", "Cache.Level1.Data.Associativity"}, v);
  VisitCacheFields(k.Level1Code,
                   {"Cache.Level1.Code.Size", "Cache.Level1.Code.LineSize", "Cache.Level1.Code.Associativity"}, v);
  VisitCacheFields(k.Level1Unified,
                   {"Cache.Level1.Unified.Size", "Cache.Level1.Unified.LineSize",
                    "Cache.Level1.Unified.Associativity"},
                   v);
  VisitCacheFields(k.Level2, {"Cache.Level2.Size", "Cache.Level2.LineSize", "Cache.Level2.Associativity"}, v);
  VisitCacheFields(k.Level3, {"Cache.Level3.Size", "Cache.Level3.LineSize", "Cache.Level3.Associativity"}, v);
  VisitCacheFields(k.Trace, {"Cache.Trace.Size", "Cache.Trace.LineSize", "Cache.Trace.Associativity"}, v);
}

template <class Visitor>
void TKyvex_CPU::VisitFields(Visitor&& v) const {
  TCPUCacheRecords k = FCache->Records();
  FieldList(*this, k, v);
}

template <class Visitor>
void TKyvex_CPU::ChangeFields(Visitor&& v) {
  // The records start from the caches as they are, so what the list does not name (the
  // descriptor slots a cache was decoded from) stays.
  TCPUCacheRecords k = FCache->Records();
  FieldList(*this, k, v);
  FCache->SetRecords(k);
}

}  // namespace kyvex
