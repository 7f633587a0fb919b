// Reading storage files back through the engine itself, for tests that check a component's
// layout: the element names below a path and every property of a values set, by id.
#pragma once

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "compound/Ole.h"
#include "platform/Text.h"

namespace kyvex::filedump {

using Path = std::vector<std::string>;

// A storage of a file, with the root that keeps it valid.
struct Opened {
  std::shared_ptr<ole::IStorage> root, at;
};

inline Opened OpenPath(const std::string& file, const Path& path, std::uint32_t mode) {
  Opened o;
  EXPECT_EQ(ole::StgOpenStorage(file, nullptr, mode, nullptr, 0, &o.root), ole::S_OK) << file;
  o.at = o.root;
  for (const auto& name : path) {
    std::shared_ptr<ole::IStorage> child;
    if (!o.at || o.at->OpenStorage(text::Utf8ToUtf16(name), nullptr, mode, nullptr, 0, &child) != ole::S_OK) {
      ADD_FAILURE() << "no storage " << name;
      return {};
    }
    o.at = child;
  }
  return o;
}

// The names of the elements directly below `path`, sorted.
inline std::vector<std::string> Elements(const std::string& file, const Path& path) {
  std::vector<std::string> names;
  const Opened o = OpenPath(file, path, 0x10);
  if (!o.at) return names;
  std::shared_ptr<ole::IEnumSTATSTG> e;
  EXPECT_EQ(o.at->EnumElements(0, nullptr, 0, &e), ole::S_OK);
  ole::STATSTG entry;
  ole::ULONG fetched = 0;
  while (e->Next(1, &entry, &fetched) == ole::S_OK && fetched == 1) names.push_back(text::Utf16ToUtf8(entry.pwcsName));
  std::sort(names.begin(), names.end());
  return names;
}

// Every property of the DocSummaryInformation set below `path`, in id order, as
// "id name = KIND value" (I8, R8 or LPWSTR; other kinds by number).
inline std::vector<std::string> Properties(const std::string& file, const Path& path) {
  std::vector<std::string> out;
  const Opened o = OpenPath(file, path, 0x10);
  if (!o.at) return out;
  std::shared_ptr<ole::IPropertySetStorage> sets;
  std::shared_ptr<ole::IPropertyStorage> set;
  EXPECT_EQ(o.at->QueryPropertySetStorage(&sets), ole::S_OK);
  EXPECT_EQ(sets->Open(ole::FMTID_DocSummaryInformation, 0x10, &set), ole::S_OK);
  if (!set) return out;
  std::vector<ole::STATPROPSTG> props;
  EXPECT_EQ(set->Enum(&props), ole::S_OK);
  std::sort(props.begin(), props.end(), [](const auto& a, const auto& b) { return a.propid < b.propid; });
  for (const auto& prop : props) {
    ole::PROPSPEC spec;
    spec.ulKind = ole::PRSPEC_PROPID;
    spec.propid = prop.propid;
    ole::PROPVARIANT v;
    set->ReadMultiple(1, &spec, &v);
    std::string line = std::to_string(prop.propid) + " " + text::Utf16ToUtf8(prop.lpwstrName) + " = ";
    if (v.vt == ole::VT_I8)
      line += "I8 " + std::to_string(v.hVal);
    else if (v.vt == ole::VT_R8)
      line += "R8 " + std::to_string(v.dblVal);
    else if (v.vt == ole::VT_LPWSTR)
      line += "LPWSTR " + text::Utf16ToUtf8(v.pwszVal);
    else
      line += "type " + std::to_string(v.vt);
    out.push_back(line);
  }
  return out;
}

// Removes the element at `path` and commits.
inline void Destroy(const std::string& file, const Path& path) {
  Opened o = OpenPath(file, Path(path.begin(), path.end() - 1), 0x12);
  ASSERT_TRUE(o.at);
  ASSERT_EQ(o.at->DestroyElement(text::Utf8ToUtf16(path.back())), ole::S_OK);
  o.at.reset();
  ASSERT_EQ(o.root->Commit(0), ole::S_OK);
}

}  // namespace kyvex::filedump
