#include "InteropEngine.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <set>

#include "compound/Ole.h"
#include "platform/Text.h"

namespace interop {
namespace {

using namespace kyvex::ole;
using kyvex::text::Utf16ToUtf8;
using kyvex::text::Utf8ToUtf16;

constexpr DWORD kRead = STGM_READ | STGM_SHARE_EXCLUSIVE;
constexpr DWORD kCreate = STGM_READWRITE | STGM_SHARE_EXCLUSIVE | STGM_CREATE;

FMTID ToFmtId(SetId which) {
  const Guid g = FormatId(which);
  FMTID f{g.data1, g.data2, g.data3, {}};
  std::memcpy(f.Data4, g.data4, 8);
  return f;
}

std::string Status(HRESULT hr) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(hr));
  return std::string(buf) + " " + LastErrorText();
}

PROPVARIANT ToVariant(const Value& v) {
  PROPVARIANT p;
  switch (v.kind) {
    case Kind::String: return PROPVARIANT::LPWSTR(Utf8ToUtf16(v.text));
    case Kind::Integer: return PROPVARIANT::I8(v.number);
    case Kind::Double: return PROPVARIANT::R8(v.real);
    case Kind::FileTime:
      return PROPVARIANT::FileTime({static_cast<std::uint32_t>(v.number), static_cast<std::uint32_t>(v.number >> 32)});
    case Kind::Int32: return PROPVARIANT::Int(VT_I4, v.number);
    case Kind::Bool: return PROPVARIANT::Int(VT_BOOL, v.number ? -1 : 0);
    case Kind::Short: return PROPVARIANT::Int(VT_I2, v.number);
    case Kind::UInt32: return PROPVARIANT::Int(VT_UI4, v.number);
  }
  return p;
}

bool Same(const PROPVARIANT& want, const PROPVARIANT& got) {
  if (want.vt != got.vt) return false;
  switch (want.vt) {
    case VT_LPWSTR: return want.pwszVal == got.pwszVal;
    case VT_R8: return std::memcmp(&want.dblVal, &got.dblVal, 8) == 0;
    case VT_FILETIME: return want.filetime == got.filetime;
    default: return want.hVal == got.hVal;
  }
}

PROPSPEC SpecOf(const Value& v, std::u16string& name) {
  if (v.name.empty()) return PROPSPEC::ById(v.id);
  name = Utf8ToUtf16(v.name);
  return PROPSPEC::ByName(name);
}

std::string Label(const Value& v) { return v.name.empty() ? "id " + std::to_string(v.id) : "\"" + v.name + "\""; }

std::shared_ptr<IStorage> OpenPath(const std::shared_ptr<IStorage>& root, const std::vector<std::string>& path,
                                   DWORD mode, std::vector<std::string>& errors) {
  std::shared_ptr<IStorage> at = root;
  for (const auto& name : path) {
    std::shared_ptr<IStorage> next;
    const HRESULT hr = at->OpenStorage(Utf8ToUtf16(name), nullptr, mode, nullptr, 0, &next);
    if (hr != S_OK) {
      errors.push_back("opening " + Describe(path) + ": " + Status(hr));
      return nullptr;
    }
    at = next;
  }
  return at;
}

void JsonString(std::string& out, const std::string& s) {
  out += '"';
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  out += '"';
}

const char* KindName(Kind k) {
  switch (k) {
    case Kind::String: return "string";
    case Kind::Integer: return "i8";
    case Kind::Double: return "r8";
    case Kind::FileTime: return "filetime";
    case Kind::Int32: return "i4";
    case Kind::Bool: return "bool";
    case Kind::Short: return "i2";
    case Kind::UInt32: return "ui4";
  }
  return "?";
}

}  // namespace

std::vector<std::string> EngineWrite(const Model& model, const std::string& path) {
  std::vector<std::string> errors;
  std::shared_ptr<IStorage> root;
  if (HRESULT hr = StgCreateDocfile(path, kCreate, 0, &root); hr != S_OK) return {"creating: " + Status(hr)};
  for (const Storage& s : model.storages) {
    std::shared_ptr<IStorage> at = root;
    if (!s.path.empty()) {
      std::vector<std::string> parent(s.path.begin(), s.path.end() - 1);
      auto p = OpenPath(root, parent, STGM_READWRITE | STGM_SHARE_EXCLUSIVE, errors);
      if (!p) return errors;
      if (HRESULT hr = p->CreateStorage(Utf8ToUtf16(s.path.back()), kCreate, 0, 0, &at); hr != S_OK)
        return {"creating " + Describe(s.path) + ": " + Status(hr)};
    }
    std::shared_ptr<IPropertySetStorage> sets;
    at->QueryPropertySetStorage(&sets);
    for (const Set& set : s.sets) {
      std::shared_ptr<IPropertyStorage> ps;
      const FMTID fmtid = ToFmtId(set.which);
      if (HRESULT hr = sets->Create(fmtid, &GUID_NULL, PROPSETFLAG_DEFAULT, kCreate, &ps); hr != S_OK)
        return {"creating a set in " + Describe(s.path) + ": " + Status(hr)};
      for (const Value& v : set.values) {
        std::u16string name;
        const PROPSPEC spec = SpecOf(v, name);
        const PROPVARIANT value = ToVariant(v);
        if (HRESULT hr = ps->WriteMultiple(1, &spec, &value, PID_FIRST_USABLE); hr != S_OK)
          errors.push_back("writing " + Label(v) + ": " + Status(hr));
      }
    }
  }
  if (HRESULT hr = root->Commit(STGC_DEFAULT); hr != S_OK) errors.push_back("committing: " + Status(hr));
  return errors;
}

std::vector<std::string> EngineCheck(const Model& model, const std::string& path) {
  std::vector<std::string> errors;
  std::shared_ptr<IStorage> root;
  if (HRESULT hr = StgOpenStorage(path, nullptr, kRead, nullptr, 0, &root); hr != S_OK)
    return {"opening " + path + ": " + Status(hr)};
  for (const Storage& s : model.storages) {
    auto at = OpenPath(root, s.path, kRead, errors);
    if (!at) continue;
    // The tree: exactly the expected storages and one stream per set.
    std::set<std::string> storages, streams, wantStorages, wantStreams;
    for (const auto& n : ChildStorages(model, s.path)) wantStorages.insert(n);
    for (const Set& set : s.sets) wantStreams.insert(Utf16ToUtf8(FmtIdToPropStgName(ToFmtId(set.which))));
    std::shared_ptr<IEnumSTATSTG> e;
    at->EnumElements(0, nullptr, 0, &e);
    STATSTG st;
    ULONG got = 0;
    while (e->Next(1, &st, &got) == S_OK)
      (st.type == STGTY_STORAGE ? storages : streams).insert(Utf16ToUtf8(st.pwcsName));
    if (storages != wantStorages) errors.push_back(Describe(s.path) + ": other storages than expected");
    if (streams != wantStreams) errors.push_back(Describe(s.path) + ": other streams than expected");

    std::shared_ptr<IPropertySetStorage> sets;
    at->QueryPropertySetStorage(&sets);
    for (const Set& set : s.sets) {
      std::shared_ptr<IPropertyStorage> ps;
      if (HRESULT hr = sets->Open(ToFmtId(set.which), kRead, &ps); hr != S_OK) {
        errors.push_back(Describe(s.path) + ": opening a set: " + Status(hr));
        continue;
      }
      std::set<std::string> names, wantNames;
      for (const Value& v : set.values)
        if (!v.name.empty()) wantNames.insert(v.name);
      std::vector<STATPROPSTG> props;
      ps->Enum(&props);
      for (const auto& p : props)
        if (!p.lpwstrName.empty()) names.insert(Utf16ToUtf8(p.lpwstrName));
      if (names != wantNames) errors.push_back(Describe(s.path) + ": other property names than expected");
      for (const Value& v : set.values) {
        std::u16string name;
        const PROPSPEC spec = SpecOf(v, name);
        PROPVARIANT value;
        const HRESULT hr = ps->ReadMultiple(1, &spec, &value);
        if (hr != S_OK || !Same(ToVariant(v), value))
          errors.push_back(Describe(s.path) + ": " + Label(v) + " reads back differently (status " + Status(hr) +
                           ", type " + std::to_string(value.vt) + ")");
      }
    }
  }
  return errors;
}

std::string EngineJson(const Model& model) {
  std::string out = "{\"storages\": [";
  bool firstStorage = true;
  for (const Storage& s : model.storages) {
    if (!firstStorage) out += ",\n";
    firstStorage = false;
    out += "{\"path\": [";
    for (std::size_t i = 0; i < s.path.size(); ++i) {
      if (i) out += ", ";
      JsonString(out, s.path[i]);
    }
    out += "], \"sets\": [";
    for (std::size_t k = 0; k < s.sets.size(); ++k) {
      if (k) out += ", ";
      out += "{\"stream\": ";
      JsonString(out, Utf16ToUtf8(FmtIdToPropStgName(ToFmtId(s.sets[k].which))));
      out += ", \"values\": [";
      for (std::size_t i = 0; i < s.sets[k].values.size(); ++i) {
        const Value& v = s.sets[k].values[i];
        if (i) out += ", ";
        out += "{\"name\": ";
        JsonString(out, v.name);
        char buf[128];
        std::snprintf(buf, sizeof buf, ", \"id\": %u, \"kind\": \"%s\", \"number\": %lld, \"real\": %.17g, \"text\": ",
                      static_cast<unsigned>(v.id), KindName(v.kind), static_cast<long long>(v.number), v.real);
        out += buf;
        JsonString(out, v.text);
        out += "}";
      }
      out += "]}";
    }
    out += "]}";
  }
  out += "]}\n";
  return out;
}

}  // namespace interop
