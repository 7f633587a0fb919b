#include "InteropModel.h"

#include <algorithm>

namespace interop {
namespace {

Value Str(std::string name, std::string text) { return {std::move(name), 0, Kind::String, std::move(text)}; }
Value StrId(std::uint32_t id, std::string text) { return {"", id, Kind::String, std::move(text)}; }
Value Int(std::string name, std::int64_t n) { return {std::move(name), 0, Kind::Integer, "", n}; }
Value Real(std::string name, double d) { return {std::move(name), 0, Kind::Double, "", 0, d}; }
Value Other(std::string name, Kind kind, std::int64_t n) { return {std::move(name), 0, kind, "", n}; }
Value TimeId(std::uint32_t id, std::int64_t ft) { return {"", id, Kind::FileTime, "", ft}; }

}  // namespace

Guid FormatId(SetId which) {
  switch (which) {
    case SetId::Summary: return {0xF29F85E0, 0x4FF9, 0x1068, {0xAB, 0x91, 0x08, 0x00, 0x2B, 0x27, 0xB3, 0xD9}};
    case SetId::DocSummary: return {0xD5CDD502, 0x2E9C, 0x101B, {0x93, 0x97, 0x08, 0x00, 0x2B, 0x2C, 0xF9, 0xAE}};
    case SetId::Custom: break;
  }
  return {0x4B3C2D1E, 0x6F5A, 0x7B8C, {0x9D, 0xAE, 0xBF, 0xC0, 0xD1, 0xE2, 0xF3, 0x04}};
}

Model EngineModel() {
  Model m;
  // The summary header as a save writes it: ids, then names, then id 19, then names.
  m.storages.push_back({{}, {{SetId::Summary, {
      StrId(2, "Kyvex System Information Storage File"),
      StrId(18, "Kyvex System Information Component Suite 10.2.0"),
      StrId(4, "Kyvex"),
      StrId(5, "Microsoft Windows XP Professional"),
      StrId(3, "MACHINE-01"),
      TimeId(12, 133537247999990000),
      Str("OS.LoggedUser", "user"),
      Str("OS.Account", "Administrator"),
      Int("OS.Platform", 2),
      Int("OS.MajorVersion", 5),
      Int("OS.MinorVersion", 1),
      Int("OS.BuildNumber", 2600),
      Str("OS.CSD", "Service Pack 3"),
      StrId(19, "Admin"),
      Int("VMWare", 0),
      Int("VPC", 1),
  }}}});
  m.storages.push_back({{"CPU"}, {{SetId::DocSummary, {
      Str("Vendor", "GenuineIntel"),
      Str("CPUName", "Intel(R) Core(TM) i7 CPU"),
      Str("Empty", ""),
      Str("Größe ✓", "Ünïcødé ✓ 日本語 𝄞"),
      Int("Family", 6),
      Int("Min", INT64_MIN),
      Int("Max", INT64_MAX),
      Int("FDIVBug", 0),
      Real("Ratio", 3.141592653589793),
      Real("Tiny", 1e-300),
      Real("Negative", -2.5e10),
  }}}});
  std::vector<Value> many;
  for (int i = 0; i < 200; ++i)
    many.push_back(Str("Descriptor" + std::to_string(i), "Cache line " + std::to_string(i)));
  m.storages.push_back({{"CPU", "Cache"}, {{SetId::DocSummary, many}}});
  m.storages.push_back({{"Gerät ✓"}, {{SetId::Custom, {Int("Own", 7), Str("Text", "custom set")}}}});
  m.storages.push_back({{"Storage"}, {}});
  for (int i = 0; i < 300; ++i)
    m.storages.push_back({{"Storage", "Device" + std::to_string(i)},
                          {{SetId::DocSummary, {Str("Model", "Disk " + std::to_string(i)), Int("Index", i)}}}});
  std::string big(4u << 20, 'x');
  for (std::size_t i = 0; i < big.size(); i += 4099) big[i] = static_cast<char>('a' + i % 26);
  m.storages.push_back({{"Big"}, {{SetId::DocSummary, {Str("Huge", big)}}}});
  return m;
}

Model Ole32Model() {
  Model m;
  m.storages.push_back({{}, {{SetId::Summary, {
      StrId(2, "Written by ole32"),
      StrId(3, "HOST"),
      TimeId(12, 125912016000000000),
      StrId(19, "NON-Admin"),
      Str("OSPlatform", "two"),
      Int("Build_Number", 2600),
  }}}});
  m.storages.push_back({{"CPU"}, {{SetId::DocSummary, {
      Str("Vendor", "AuthenticAMD"),
      Str("Empty1", ""),
      Str("Größe✓", "Ünïcødé ✓ 日本語"),
      Int("Family", 15),
      Int("Negative", -1234567890123),
      Other("Signed", Kind::Int32, -70000),
      Other("ShortValue", Kind::Short, -12),
      Other("UnsignedLong", Kind::UInt32, 4000000000),
  }}}});
  m.storages.push_back({{"CPU", "Cache"}, {{SetId::Custom, {Int("CacheLevel", 2), Str("Kind", "unified")}}}});
  // Inserted in order, without rebalancing: Wine's ole32 leaves a chain of siblings.
  m.storages.push_back({{"Devices"}, {}});
  for (int i = 0; i < 200; ++i)
    m.storages.push_back({{"Devices", "Disk" + std::to_string(1000 + i)}, {{SetId::DocSummary, {Int("Number", i)}}}});
  return m;
}

Model Ole32OddNamesModel() {
  Model m;
  m.storages.push_back({{}, {{SetId::Summary, {
      StrId(2, "Padding"),
      Str("OS.LoggedUser", "user"),
      Str("OS.Account", "account"),
      Int("VPC", 1),
      Int("VMWare", 0),
      Str("Even", "odd"),
  }}}});
  return m;
}

std::vector<std::string> ChildStorages(const Model& model, const std::vector<std::string>& path) {
  std::vector<std::string> names;
  for (const Storage& s : model.storages)
    if (s.path.size() == path.size() + 1 && std::equal(path.begin(), path.end(), s.path.begin()))
      names.push_back(s.path.back());
  return names;
}

std::string Describe(const std::vector<std::string>& path) {
  std::string s = "root";
  for (const auto& p : path) s += "\\" + p;
  return s;
}

}  // namespace interop
