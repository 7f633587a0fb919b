// The storage benchmarks' work (StorageWorkload.h) done by our engine, three ways:
// - Container: through the storage-file container, as the components do it (OpenSubStorage
//   asks ElementExists, a directory look-up, before every open or create);
// - Walk: through the engine's interfaces, enumerating the parent's elements in batches of 10
//   before every open or create, as the container does it over ole32, where IStorage has no
//   look-up: the same calls ole32_bench makes;
// - ByName: through the engine's interfaces, creating and opening storages by name directly.
// Every variant opens a property set first and creates it only when absent, as the container
// does, so the variants differ only in how storages are found.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

#include "StorageWorkload.h"
#include "components/common/Kyvex_SS.h"
#include "platform/Text.h"

namespace kyvex::bench {

enum class EngineVariant { Container, Walk, ByName };

inline void WriteWithContainer(const std::string& path, int storages) {
  std::shared_ptr<ole::IStorage> stg;
  OleCheck(ole::StgCreateDocfile(path, 0x1012, 0, &stg), "creating");
  TStructuredSTorage root(nullptr, stg);
  auto top = root.OpenSubStorage("Storage", 0x12, true);
  for (int d = 0; d < storages; ++d) {
    auto device = top->OpenSubStorage(StorageName(d), 0x12, true);
    auto set = device->OpenPropertySet(FMTID_DocSummaryInformation, 0x12, true);
    const auto& ps = set->PropertyStorage();
    for (int i = 0; i < kStrings; ++i) WriteStringProperty(ps, ValueName(i), StringValue(d, i));
    for (int i = kStrings; i < kValues; ++i) WriteIntegerProperty(ps, ValueName(i), IntegerValue(d, i));
  }
  top.reset();
  root.Commit();
}

inline std::int64_t ReadWithContainer(const std::string& path, int storages) {
  std::shared_ptr<ole::IStorage> stg;
  OleCheck(ole::StgOpenStorage(path, nullptr, 0x10, nullptr, 0, &stg), "opening");
  TStructuredSTorage root(nullptr, stg);
  auto top = root.OpenSubStorage("Storage", 0x10, false);
  std::int64_t sum = 0;
  for (int d = 0; d < storages; ++d) {
    auto device = top->OpenSubStorage(StorageName(d), 0x10, false);
    auto set = device->OpenPropertySet(FMTID_DocSummaryInformation, 0x10, false);
    const auto& ps = set->PropertyStorage();
    for (int i = 0; i < kStrings; ++i) sum += static_cast<std::int64_t>(ReadStringProperty(ps, ValueName(i)).size());
    for (int i = kStrings; i < kValues; ++i) sum += ReadIntegerProperty(ps, ValueName(i));
  }
  return sum;
}

namespace detail {

constexpr ole::DWORD kWrite = ole::STGM_READWRITE | ole::STGM_SHARE_EXCLUSIVE;
constexpr ole::DWORD kRead = ole::STGM_READ | ole::STGM_SHARE_EXCLUSIVE;

inline bool SameNameIgnoringAsciiCase(const std::u16string& a, const std::u16string& b) {
  if (a.size() != b.size()) return false;
  auto up = [](char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c; };
  for (std::size_t i = 0; i < a.size(); ++i)
    if (up(a[i]) != up(b[i])) return false;
  return true;
}

inline bool ElementExistsByWalk(ole::IStorage& parent, const std::u16string& name) {
  std::shared_ptr<ole::IEnumSTATSTG> e;
  OleCheck(parent.EnumElements(0, nullptr, 0, &e), "enumerating");
  for (;;) {
    ole::STATSTG batch[10];
    ole::ULONG got = 0;
    OleCheck(e->Next(10, batch, &got), "enumerating");
    for (ole::ULONG i = 0; i < got; ++i)
      if (SameNameIgnoringAsciiCase(batch[i].pwcsName, name)) return true;
    if (got < 10) return false;
  }
}

inline std::shared_ptr<ole::IStorage> Open(ole::IStorage& parent, const std::string& name, bool writing, bool walk) {
  const std::u16string wide = kyvex::text::Utf8ToUtf16(name);
  // By name, a new file's storages are created and an existing file's opened.
  const bool exists = walk ? ElementExistsByWalk(parent, wide) : !writing;
  std::shared_ptr<ole::IStorage> s;
  if (writing && !exists)
    OleCheck(parent.CreateStorage(wide, kWrite | ole::STGM_CREATE, 0, 0, &s), "creating " + name);
  else
    OleCheck(parent.OpenStorage(wide, nullptr, writing ? kWrite : kRead, nullptr, 0, &s), "opening " + name);
  return s;
}

inline std::shared_ptr<ole::IPropertyStorage> OpenSet(ole::IStorage& stg, bool writing) {
  std::shared_ptr<ole::IPropertySetStorage> sets;
  OleCheck(stg.QueryPropertySetStorage(&sets), "property sets");
  std::shared_ptr<ole::IPropertyStorage> ps;
  if (ole::Succeeded(sets->Open(FMTID_DocSummaryInformation, writing ? kWrite : kRead, &ps)) && ps) return ps;
  if (!writing) throw std::runtime_error("no property set");
  OleCheck(sets->Create(FMTID_DocSummaryInformation, &ole::GUID_NULL, ole::PROPSETFLAG_DEFAULT,
                        kWrite | ole::STGM_CREATE, &ps),
           "creating the property set");
  return ps;
}

inline void Write(ole::IPropertyStorage& ps, const std::string& name, const ole::PROPVARIANT& value) {
  const std::u16string wide = kyvex::text::Utf8ToUtf16(name);
  const ole::PROPSPEC spec = ole::PROPSPEC::ByName(wide);
  OleCheck(ps.WriteMultiple(1, &spec, &value, ole::PID_FIRST_USABLE), "writing " + name);
}

}  // namespace detail

inline void WriteWithEngine(const std::string& path, int storages, bool walk) {
  std::shared_ptr<ole::IStorage> root;
  OleCheck(ole::StgCreateDocfile(path, detail::kWrite | ole::STGM_CREATE, 0, &root), "creating");
  auto top = detail::Open(*root, "Storage", true, walk);
  for (int d = 0; d < storages; ++d) {
    auto device = detail::Open(*top, StorageName(d), true, walk);
    auto ps = detail::OpenSet(*device, true);
    for (int i = 0; i < kStrings; ++i)
      detail::Write(*ps, ValueName(i), ole::PROPVARIANT::LPWSTR(kyvex::text::Utf8ToUtf16(StringValue(d, i))));
    for (int i = kStrings; i < kValues; ++i) detail::Write(*ps, ValueName(i), ole::PROPVARIANT::I8(IntegerValue(d, i)));
  }
  OleCheck(root->Commit(ole::STGC_DEFAULT), "committing");
}

inline std::int64_t ReadWithEngine(const std::string& path, int storages, bool walk) {
  std::shared_ptr<ole::IStorage> root;
  OleCheck(ole::StgOpenStorage(path, nullptr, detail::kRead, nullptr, 0, &root), "opening");
  auto top = detail::Open(*root, "Storage", false, walk);
  std::int64_t sum = 0;
  for (int d = 0; d < storages; ++d) {
    auto device = detail::Open(*top, StorageName(d), false, walk);
    auto ps = detail::OpenSet(*device, false);
    for (int i = 0; i < kValues; ++i) {
      const std::u16string wide = kyvex::text::Utf8ToUtf16(ValueName(i));
      const ole::PROPSPEC spec = ole::PROPSPEC::ByName(wide);
      ole::PROPVARIANT value;
      if (ps->ReadMultiple(1, &spec, &value) != ole::S_OK) continue;
      if (i < kStrings && value.vt == ole::VT_LPWSTR) sum += static_cast<std::int64_t>(value.pwszVal.size());
      if (i >= kStrings && value.vt == ole::VT_I8) sum += value.hVal;
    }
  }
  return sum;
}

inline void WriteFile(const std::string& path, int storages, EngineVariant v) {
  if (v == EngineVariant::Container)
    WriteWithContainer(path, storages);
  else
    WriteWithEngine(path, storages, v == EngineVariant::Walk);
}

inline std::int64_t ReadFile(const std::string& path, int storages, EngineVariant v) {
  return v == EngineVariant::Container ? ReadWithContainer(path, storages)
                                       : ReadWithEngine(path, storages, v == EngineVariant::Walk);
}

}  // namespace kyvex::bench
