#include "report/CpuReport.h"

#include "platform/Text.h"

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

const char* CPUTypeText(int type) {
  switch (type) {
    case 0: return "primary processor";
    case 1: return "OverDrive processor";
    case 2: return "secondary processor (dual)";
    default: return "reserved";
  }
}

Json CacheJson(const TCPUCacheDetails& c) {
  return {{"Size", c.Size()},
          {"LineSize", c.LineSize()},
          {"Associativity",
           {{"Value", static_cast<int>(c.Associativity())},
            {"Name", CacheAssociativityName(c.Associativity())},
            {"Text", c.Associativity() < kCacheAssociativityCount ? AssociativityNames[c.Associativity()] : ""}}}};
}

Json FeaturesJson(const TCPUFeatureSet& set) {
  Json a = Json::array();
  for (const auto& f : set.Features())
    a.push_back({{"Bit", f.Bit}, {"Name", f.Name}, {"Description", f.Description}, {"Available", f.Available}});
  return a;
}

}  // namespace

Sections CpuSections(const TKyvex_CPU& cpu) {
  Sections out;
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
      {"Code name", OrDash(cpu.CodeName())},
      {"Revision", OrDash(text::Trim(cpu.Revision()))},
      {"Technology", OrDash(cpu.Technology())},
      {"Identifier", OrDash(cpu.GenericName())},
      {"Family", std::to_string(cpu.Family())},
      {"Model", model},
      {"Stepping", std::to_string(cpu.Stepping())},
      {"Type", CPUTypeText(cpu.CPUType())},
      {"Extended signature", "family " + std::to_string(cpu.FamilyEx()) + ", model " + std::to_string(cpu.ModelEx()) +
                                 ", stepping " + std::to_string(cpu.SteppingEx())},
      {"Brand index", brand},
      {"Clock", clock},
      {"Logical processors",
       std::to_string(cpu.CPUCount()) + " (" + std::to_string(cpu.CPUPhysicalCount()) + " physical)"},
      {"APIC ID", cpu.APICID() == 255 ? "not reported" : std::to_string(cpu.APICID())},
      {"Package", "physical " + std::to_string(cpu.PhysicalID()) + ", logical " + std::to_string(cpu.LogicalID()) +
                      " of " + std::to_string(cpu.LogicalPerPackage())},
      {"Identification", OrDash(cpu.SerialNumber())},
      {"FDIV flaw", cpu.FDIVBug() ? "present" : "none"},
      {"CPUID", cpu.CPUIDSupported() ? "supported" : "not supported"},
  };
  if (!cpu.LiveData()) id.push_back({"Data", "loaded from " + cpu.StorageFileName()});
  out.push_back({"Processor " + std::to_string(cpu.CPUIndex()), id});

  const auto& c = cpu.Cache();
  Lines caches = {{"Level 1 code", CacheText(c.Level1().Code())}, {"Level 1 data", CacheText(c.Level1().Data())}};
  if (CacheText(c.Level1().Unified()) != "none") caches.push_back({"Level 1 unified", CacheText(c.Level1().Unified())});
  caches.push_back({"Level 2", CacheText(c.Level2())});
  caches.push_back({"Level 3", CacheText(c.Level3())});
  caches.push_back({"Trace", CacheText(c.Trace(), true)});
  out.push_back({"Caches", caches});

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
  Json j;
  j["CPUIndex"] = cpu.CPUIndex();
  j["CPUCount"] = cpu.CPUCount();
  j["CPUPhysicalCount"] = cpu.CPUPhysicalCount();
  j["CPUIDSupported"] = cpu.CPUIDSupported();
  const auto v = cpu.Vendor() < kCpuVendorCount ? cpu.Vendor() : cvUnknown;
  j["Vendor"] = {{"Value", static_cast<int>(cpu.Vendor())},
                 {"Name", CpuVendorName(v)},
                 {"Text", CPUVendors[v].VendorName}};
  j["VendorID"] = cpu.LiveData() ? Json(Readable(cpu.VendorID())) : Json();
  j["CPUType"] = cpu.CPUType();
  j["Family"] = cpu.Family();
  j["Model"] = cpu.Model();
  j["Stepping"] = cpu.Stepping();
  j["FamilyEx"] = cpu.FamilyEx();
  j["ModelEx"] = cpu.ModelEx();
  j["SteppingEx"] = cpu.SteppingEx();
  // Values a storage file does not keep are null for loaded data.
  const bool live = cpu.LiveData();
  j["ExtendedFamily"] = live ? Json(cpu.ExtendedFamily()) : Json();
  j["ExtendedModel"] = live ? Json(cpu.ExtendedModel()) : Json();
  j["DisplayFamily"] = live ? Json(cpu.DisplayFamily()) : Json();
  j["DisplayModel"] = live ? Json(cpu.DisplayModel()) : Json();
  j["Brand"] = cpu.Brand();
  Json brands = Json::array();
  for (int b = 0; b < kIntelBrandCount; ++b)
    if (cpu.IntelBrand().Contains(static_cast<TIntelBrand>(b))) brands.push_back(IntelBrandName(static_cast<TIntelBrand>(b)));
  j["IntelBrand"] = {{"Value", cpu.IntelBrand().Mask()}, {"Names", brands}};
  j["GenericName"] = Readable(cpu.GenericName());
  j["MarketingName"] = Readable(cpu.MarketingName());
  j["CPUName"] = cpu.CPUName();
  j["CodeName"] = cpu.CodeName();
  j["Revision"] = cpu.Revision();
  j["Technology"] = cpu.Technology();
  j["Frequency"] = cpu.Frequency();
  const auto& m = cpu.FrequencyInfo();
  j["FrequencyMeasurement"] = live ? Json{{"RawFrequency", m.RawFrequency},
                                          {"NormalizedFrequency", m.NormalizedFrequency},
                                          {"IntervalParameter", m.IntervalParameter},
                                          {"Cycles", m.Cycles},
                                          {"Microseconds", m.Microseconds}}
                                    : Json();
  j["FDIVBug"] = cpu.FDIVBug();
  j["SerialNumber"] = cpu.SerialNumber();
  j["APICID"] = cpu.APICID();
  j["LogicalPerPackage"] = cpu.LogicalPerPackage();
  j["PhysicalID"] = cpu.PhysicalID();
  j["LogicalID"] = cpu.LogicalID();
  const auto& c = cpu.Cache();
  j["Cache"] = {{"Level1",
                 {{"Code", CacheJson(c.Level1().Code())},
                  {"Data", CacheJson(c.Level1().Data())},
                  {"Unified", CacheJson(c.Level1().Unified())}}},
                {"Level2", CacheJson(c.Level2())},
                {"Level3", CacheJson(c.Level3())},
                {"Trace", CacheJson(c.Trace())}};
  Json features;
  for (std::uint8_t g = fgStandard1; g <= fgPowerManagement; ++g)
    features[FeatureGroupName(g)] = FeaturesJson(cpu.Features().Group(g));
  j["Features"] = features;
  j["LiveData"] = cpu.LiveData();
  return j;
}

}  // namespace kyvex::report
