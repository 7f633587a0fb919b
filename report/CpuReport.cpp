#include "report/CpuReport.h"

#include <cstring>
#include <string>
#include <type_traits>

#include "cpu/KSI_CPU_Fields.h"
#include "platform/Text.h"
#include "report/FieldReport.h"

namespace kyvex::report {

namespace {

using Json = nlohmann::ordered_json;

std::string OrDash(const std::string& s) { return s.empty() ? "-" : Shown(s); }

// What stands where the tables give no product name: the brand string, else the registry's
// or the generic identifier.
std::string DisplayName(const TKyvex_CPU& cpu) {
  if (!cpu.CPUName().empty()) return Shown(cpu.CPUName());
  if (!text::Trim(cpu.MarketingName()).empty()) return Shown(text::Trim(cpu.MarketingName()));
  return OrDash(cpu.GenericName());
}

std::string IntelBrandText(TIntelBrands brands) {
  static constexpr const char* kTexts[kIntelBrandCount] = {"Celeron", "Pentium", "Xeon", "MP", "Mobile", "M"};
  std::string s;
  for (int b = 0; b < kIntelBrandCount; ++b) {
    if (!brands.Contains(static_cast<TIntelBrand>(b))) continue;
    if (!s.empty()) s += ", ";
    s += kTexts[b];
  }
  return s;
}

std::string CacheText(const TCPUCacheDetails& c, bool trace = false) {
  if (c.Size() == 0 && c.LineSize() == 0 && c.Associativity() == caNone) return "none";
  std::string s = std::to_string(c.Size()) + (trace ? " K micro-ops" : " KB");
  if (c.Associativity() != caNone) s += ", " + std::string(AssociativityNames[c.Associativity()]);
  if (c.LineSize() != 0) s += ", " + std::to_string(c.LineSize()) + "-byte lines";
  return s;
}

// "Level 1 data", "Level 2": the kind is named where a level is not one unified cache.
std::string CacheLabel(const TCacheInfo& c) {
  std::string s = "Level " + std::to_string(c.Level);
  if (c.Kind != ckUnified || c.Level == 1)
    s += c.Kind == ckCode ? " code" : c.Kind == ckData ? " data" : " unified";
  return s;
}

const char* CPUTypeText(int type) {
  switch (type) {
    case 0: return "primary processor";
    case 1: return "OverDrive processor";
    case 2: return "secondary processor (dual)";
    default: return "reserved";
  }
}

// The processor's values as JSON. Values a storage file does not keep are null for loaded
// data: a file's processor was not measured or asked on this machine. The brand set shows its
// stored sum beside its members' names.
class CpuFieldJson : public TFieldJson {
 public:
  CpuFieldJson(Json& into, bool live) : TFieldJson(into), into_(into), live_(live) {}

  template <class T>
  void operator()(const TField& f, const T& v) const {
    if (!live_ && !f.IsStored()) {
      // A dotted name stands for a part of one object: the whole object is null.
      const char* dot = std::strchr(f.Name, '.');
      into_[dot ? std::string(f.Name, dot) : std::string(f.Name)] = nullptr;
    } else if constexpr (std::is_same_v<T, TIntelBrands>) {
      Json names = Json::array();
      for (int b = 0; b < kIntelBrandCount; ++b)
        if (v.Contains(static_cast<TIntelBrand>(b))) names.push_back(f.Names[static_cast<std::size_t>(b)]);
      into_[f.Name] = {{"Value", v.Mask()}, {"Names", names}};
    } else {
      TFieldJson::operator()(f, v);
    }
  }

 private:
  Json& into_;
  bool live_;
};

// The plain rows; the brand set, had it a label, would show as the names of its members.
struct CpuFieldRows : TFieldRows {
  using TFieldRows::TFieldRows;
  using TFieldRows::operator();
  void operator()(const TField& f, const TIntelBrands& v) const { (*this)(f, v.Mask()); }
};

Json FeaturesJson(const TCPUFeatureSet& set) {
  Json a = Json::array();
  for (const auto& f : set.Features())
    a.push_back({{"Bit", f.Bit}, {"Name", f.Name}, {"Description", f.Description}, {"Available", f.Available}});
  return a;
}

// A file keeps the byte-wide count only.
std::uint32_t LogicalCount(const TKyvex_CPU& cpu) {
  return cpu.LiveData() && cpu.LogicalProcessorCount() ? cpu.LogicalProcessorCount() : cpu.CPUCount();
}

std::string Plural(std::uint32_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string TopologyText(const TKyvex_CPU& cpu) {
  if (cpu.PackageCount() == 0) return "unknown";
  std::string s = Plural(cpu.PackageCount(), "package", "packages") + ", " +
                  Plural(cpu.CoresPerPackage(), "core", "cores") + (cpu.PackageCount() > 1 ? " each, " : ", ") +
                  Plural(cpu.ThreadsPerCore(), "thread", "threads") + " per core";
  if (cpu.Place().Known)
    s += "; this one: package " + std::to_string(cpu.Place().Package) + ", core " + std::to_string(cpu.Place().Core) +
         ", thread " + std::to_string(cpu.Place().Thread);
  return s + " (from " + cpu.TopologySource() + ")";
}

}  // namespace

Sections CpuSections(const TKyvex_CPU& cpu) {
  Sections out;
  if (cpu.LiveData() && !cpu.ProcessorAvailable()) {
    // Described by nothing rather than by the processor the thread happened to run on.
    out.push_back({"Processor " + std::to_string(cpu.CPUIndex()),
                   {{"Logical processors", std::to_string(LogicalCount(cpu))},
                    {"Availability", "not read: this process may not run on it (outside its CPU set)"}}});
    return out;
  }
  const auto& vendor = CPUVendors[cpu.Vendor() < kCpuVendorCount ? cpu.Vendor() : cvUnknown];
  std::string vendorText = cpu.Vendor() == cvNone ? "-" : vendor.VendorFullName;
  if (!cpu.VendorID().empty()) vendorText += " (" + Shown(cpu.VendorID()) + ")";

  std::string model = std::to_string(cpu.Model());
  // A file keeps the model without its extended part: no display model to derive there.
  if (cpu.LiveData() && cpu.CPUIDSupported() && cpu.DisplayModel() != cpu.Model())
    model += " (" + std::to_string(cpu.DisplayModel()) + " counting the extended model)";
  std::string brand = std::to_string(cpu.Brand());
  if (!cpu.IntelBrand().Empty()) brand += " (" + IntelBrandText(cpu.IntelBrand()) + ")";
  std::string clock = cpu.Frequency() ? std::to_string(cpu.Frequency()) + " MHz" : "unknown";
  if (cpu.Frequency() && cpu.FrequencyInfo().RawFrequency && cpu.FrequencyInfo().RawFrequency != cpu.Frequency())
    clock += " (measured " + std::to_string(cpu.FrequencyInfo().RawFrequency) + " MHz)";

  Lines id = {
      {"Name", DisplayName(cpu)},
      {"Brand string", OrDash(text::Trim(cpu.MarketingName()))},
      {"Vendor", vendorText},
  };
  cpu.VisitFields(CpuFieldRows(id));
  // Rows whose text is more than the value: trimmed, derived, or put together from several.
  id.insert(id.end(), {
      {"Revision", OrDash(text::Trim(cpu.Revision()))},
      {"Family", std::to_string(cpu.Family())},
      {"Model", model},
      {"Stepping", std::to_string(cpu.Stepping())},
      {"Type", CPUTypeText(cpu.CPUType())},
      {"Extended signature", "family " + std::to_string(cpu.FamilyEx()) + ", model " + std::to_string(cpu.ModelEx()) +
                                 ", stepping " + std::to_string(cpu.SteppingEx())},
      {"Brand index", brand},
      {"Clock", clock},
      {"Logical processors", std::to_string(LogicalCount(cpu)) + " (" + std::to_string(cpu.CPUPhysicalCount()) + " physical)"},
      {"APIC ID", cpu.APICID() == 255 ? "not reported" : std::to_string(cpu.APICID())},
      {"Package", "physical " + std::to_string(cpu.PhysicalID()) + ", logical " + std::to_string(cpu.LogicalID()) +
                      " of " + std::to_string(cpu.LogicalPerPackage())},
      {"FDIV flaw", cpu.FDIVBug() ? "present" : "none"},
      {"CPUID", cpu.CPUIDSupported() ? "supported" : "not supported"},
  });
  if (cpu.LiveData()) {
    // Counted over every processor on this machine; a file keeps none of it.
    id.insert(id.end() - 2, {"Topology", TopologyText(cpu)});
    if (cpu.Place().CoreType != ctUnknown) id.insert(id.end() - 2, {"Core type", CoreTypeText(cpu.Place().CoreType)});
  }
  // A file's processor ran on another machine: what CPUID said of a hypervisor there is not kept.
  if (cpu.LiveData() && cpu.CPUIDSupported()) {
    const std::string hypervisor = HypervisorText(cpu.HypervisorInfo());
    id.push_back({"Hypervisor", hypervisor.empty() ? "none reported" : Shown(hypervisor)});
  }
  if (!cpu.LiveData()) id.push_back({"Data", "loaded from " + cpu.StorageFileName()});
  out.push_back({"Processor " + std::to_string(cpu.CPUIndex()), id});

  const auto& c = cpu.Cache();
  Lines caches = {{"Level 1 code", CacheText(c.Level1().Code())}, {"Level 1 data", CacheText(c.Level1().Data())}};
  if (CacheText(c.Level1().Unified()) != "none") caches.push_back({"Level 1 unified", CacheText(c.Level1().Unified())});
  caches.push_back({"Level 2", CacheText(c.Level2())});
  caches.push_back({"Level 3", CacheText(c.Level3())});
  caches.push_back({"Trace", CacheText(c.Trace(), true)});
  out.push_back({"Caches", caches});
  if (cpu.LiveData() && !cpu.CacheList().empty()) {
    Lines all;
    for (const auto& k : cpu.CacheList()) all.push_back({CacheLabel(k), CacheInfoText(k)});
    out.push_back({"Cache hierarchy", all});
  }

  static constexpr const char* kSources[] = {"", "leaf 1 EDX", "leaf 1 ECX", "leaf 80000001h EDX",
                                             "leaf 80000001h ECX", "leaf 80000007h EDX"};
  for (std::uint8_t g = fgStandard1; g <= fgPowerManagement; ++g) {
    const auto& set = cpu.Features().Group(g);
    if (set.Count() == 0) continue;
    Lines lines;
    for (const auto& f : set.Features())
      lines.push_back({f.Name, std::string(f.Available ? "yes" : "no") + "  " + f.Description});
    out.push_back({std::string("Features ") + FeatureGroupName(g) + " (" + kSources[g] + ")", lines});
  }
  return out;
}

nlohmann::ordered_json CpuJson(const TKyvex_CPU& cpu) {
  Json j = Json::object();
  j["CPUIndex"] = cpu.CPUIndex();
  const bool live = cpu.LiveData();
  cpu.VisitFields(CpuFieldJson(j, live));
  // Derived, not held: null for loaded data as the values they come from.
  j["DisplayFamily"] = live ? Json(cpu.DisplayFamily()) : Json();
  j["DisplayModel"] = live ? Json(cpu.DisplayModel()) : Json();
  Json features;
  for (std::uint8_t g = fgStandard1; g <= fgPowerManagement; ++g)
    features[FeatureGroupName(g)] = FeaturesJson(cpu.Features().Group(g));
  j["Features"] = features;
  // Not kept in a file, as the values a refresh alone finds.
  if (live) {
    Json caches = Json::array();
    for (const auto& k : cpu.CacheList())
      caches.push_back({{"Level", k.Level},
                        {"Type", CacheKindName(k.Kind)},
                        {"Size", k.Size},
                        {"Ways", k.Ways},
                        {"FullyAssociative", k.FullyAssociative},
                        {"Associativity", CacheAssociativityName(AssociativityOfWays(k.Ways, k.FullyAssociative))},
                        {"LineSize", k.LineSize},
                        {"Partitions", k.Partitions},
                        {"Sets", k.Sets},
                        {"SharedBy", k.SharedBy},
                        {"Inclusive", k.Inclusive}});
    j["CacheList"] = caches;
  } else {
    j["CacheList"] = nullptr;
  }
  j["LiveData"] = live;
  return j;
}

}  // namespace kyvex::report
