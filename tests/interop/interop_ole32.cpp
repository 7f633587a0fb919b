// Windows side of the interoperability tests, run under Wine: ole32 (Windows' own structured
// storage) reads a file our engine wrote and checks the tree, the property sets and every
// value; then ole32 writes a file that our engine reads back value for value. Both sides
// check against the same model (InteropModel), each through its own library.
#include <windows.h>
#include <ole2.h>
#include <propidl.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <set>
#include <string>
#include <vector>

#include "InteropEngine.h"
#include "InteropModel.h"
#include "platform/Text.h"

namespace {

using interop::Kind;
using interop::Model;
using interop::Value;

std::wstring Wide(const std::string& utf8) {
  const std::u16string u = kyvex::text::Utf8ToUtf16(utf8);
  return std::wstring(u.begin(), u.end());
}

std::string Narrow(const wchar_t* w) {
  std::u16string u;
  for (; *w; ++w) u.push_back(static_cast<char16_t>(*w));
  return kyvex::text::Utf16ToUtf8(u);
}

std::string Hex(HRESULT hr) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08lX", static_cast<unsigned long>(hr));
  return buf;
}

FMTID ToFmtId(interop::SetId which) {
  const interop::Guid g = interop::FormatId(which);
  FMTID f;
  f.Data1 = g.data1;
  f.Data2 = g.data2;
  f.Data3 = g.data3;
  std::memcpy(f.Data4, g.data4, 8);
  return f;
}

std::string Label(const Value& v) { return v.name.empty() ? "id " + std::to_string(v.id) : "\"" + v.name + "\""; }

// Owns one COM reference.
template <class T>
struct Ref {
  T* p = nullptr;
  Ref() = default;
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  ~Ref() {
    if (p) p->Release();
  }
  T** out() { return &p; }
  T* operator->() const { return p; }
};

// The storages along a path, each open once (as ole32 allows) and kept open while the ones
// below it are in use: releasing a parent storage reverts its children.
class PathStorages {
 public:
  PathStorages() = default;
  PathStorages(const PathStorages&) = delete;
  PathStorages& operator=(const PathStorages&) = delete;
  ~PathStorages() {
    for (auto it = levels_.rbegin(); it != levels_.rend(); ++it) (*it)->Release();
  }
  bool Open(IStorage* root, const std::vector<std::string>& path, DWORD mode, std::vector<std::string>& errors) {
    IStorage* at = root;
    for (const auto& name : path) {
      IStorage* next = nullptr;
      const HRESULT hr = at->OpenStorage(Wide(name).c_str(), nullptr, mode, nullptr, 0, &next);
      if (hr != S_OK) {
        errors.push_back("ole32 opening " + interop::Describe(path) + ": " + Hex(hr));
        return false;
      }
      levels_.push_back(next);
      at = next;
    }
    root_ = root;
    return true;
  }
  IStorage* Last() const { return levels_.empty() ? root_ : levels_.back(); }

 private:
  IStorage* root_ = nullptr;
  std::vector<IStorage*> levels_;
};

void ToVariant(const Value& v, PROPVARIANT& p, std::wstring& text) {
  PropVariantInit(&p);
  switch (v.kind) {
    case Kind::String:
      p.vt = VT_LPWSTR;
      text = Wide(v.text);
      p.pwszVal = text.data();
      break;
    case Kind::Integer: p.vt = VT_I8; p.hVal.QuadPart = v.number; break;
    case Kind::Double: p.vt = VT_R8; p.dblVal = v.real; break;
    case Kind::FileTime:
      p.vt = VT_FILETIME;
      p.filetime.dwLowDateTime = static_cast<DWORD>(v.number);
      p.filetime.dwHighDateTime = static_cast<DWORD>(static_cast<unsigned long long>(v.number) >> 32);
      break;
    case Kind::Int32: p.vt = VT_I4; p.lVal = static_cast<LONG>(v.number); break;
    case Kind::Bool: p.vt = VT_BOOL; p.boolVal = v.number ? VARIANT_TRUE : VARIANT_FALSE; break;
    case Kind::Short: p.vt = VT_I2; p.iVal = static_cast<SHORT>(v.number); break;
    case Kind::UInt32: p.vt = VT_UI4; p.ulVal = static_cast<ULONG>(v.number); break;
  }
}

bool Same(const Value& v, const PROPVARIANT& p) {
  switch (v.kind) {
    case Kind::String: return p.vt == VT_LPWSTR && p.pwszVal && Narrow(p.pwszVal) == v.text;
    case Kind::Integer: return p.vt == VT_I8 && p.hVal.QuadPart == v.number;
    case Kind::Double: return p.vt == VT_R8 && std::memcmp(&p.dblVal, &v.real, 8) == 0;
    case Kind::FileTime:
      return p.vt == VT_FILETIME &&
             ((static_cast<unsigned long long>(p.filetime.dwHighDateTime) << 32) | p.filetime.dwLowDateTime) ==
                 static_cast<unsigned long long>(v.number);
    case Kind::Int32: return p.vt == VT_I4 && p.lVal == v.number;
    case Kind::Bool: return p.vt == VT_BOOL && (p.boolVal != 0) == (v.number != 0);
    case Kind::Short: return p.vt == VT_I2 && p.iVal == v.number;
    case Kind::UInt32: return p.vt == VT_UI4 && p.ulVal == static_cast<ULONG>(v.number);
  }
  return false;
}

PROPSPEC SpecOf(const Value& v, std::wstring& name) {
  PROPSPEC spec;
  if (v.name.empty()) {
    spec.ulKind = PRSPEC_PROPID;
    spec.propid = v.id;
  } else {
    name = Wide(v.name);
    spec.ulKind = PRSPEC_LPWSTR;
    spec.lpwstr = name.data();
  }
  return spec;
}

std::string StreamName(interop::SetId which) {
  const FMTID f = ToFmtId(which);
  WCHAR name[64] = {};
  FmtIdToPropStgName(&f, name);
  return Narrow(name);
}

std::vector<std::string> Ole32Check(const Model& model, const std::string& path) {
  std::vector<std::string> errors;
  Ref<IStorage> root;
  const HRESULT hr =
      StgOpenStorage(Wide(path).c_str(), nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, nullptr, 0, root.out());
  if (hr != S_OK) return {"ole32 opening " + path + ": " + Hex(hr)};
  for (const auto& s : model.storages) {
    PathStorages path;
    if (!path.Open(root.p, s.path, STGM_READ | STGM_SHARE_EXCLUSIVE, errors)) continue;
    IStorage* at = path.Last();
    std::set<std::string> storages, streams, wantStorages, wantStreams;
    for (const auto& n : interop::ChildStorages(model, s.path)) wantStorages.insert(n);
    for (const auto& set : s.sets) wantStreams.insert(StreamName(set.which));
    Ref<IEnumSTATSTG> e;
    if (at->EnumElements(0, nullptr, 0, e.out()) != S_OK) {
      errors.push_back("ole32 cannot enumerate " + interop::Describe(s.path));
      continue;
    }
    STATSTG st;
    ULONG got = 0;
    while (e->Next(1, &st, &got) == S_OK && got == 1) {
      (st.type == STGTY_STORAGE ? storages : streams).insert(Narrow(st.pwcsName));
      CoTaskMemFree(st.pwcsName);
    }
    if (storages != wantStorages) errors.push_back(interop::Describe(s.path) + ": ole32 sees other storages");
    if (streams != wantStreams) errors.push_back(interop::Describe(s.path) + ": ole32 sees other streams");

    Ref<IPropertySetStorage> sets;
    if (at->QueryInterface(IID_IPropertySetStorage, reinterpret_cast<void**>(sets.out())) != S_OK) {
      errors.push_back("no IPropertySetStorage");
      continue;
    }
    for (const auto& set : s.sets) {
      const FMTID fmtid = ToFmtId(set.which);
      Ref<IPropertyStorage> ps;
      const HRESULT ohr = sets->Open(fmtid, STGM_READ | STGM_SHARE_EXCLUSIVE, ps.out());
      if (ohr != S_OK) {
        errors.push_back(interop::Describe(s.path) + ": ole32 cannot open a set: " + Hex(ohr));
        continue;
      }
      // The dictionary, through ole32's enumerator.
      std::set<std::string> names, wantNames;
      for (const auto& v : set.values)
        if (!v.name.empty()) wantNames.insert(v.name);
      Ref<IEnumSTATPROPSTG> pe;
      if (ps->Enum(pe.out()) == S_OK) {
        STATPROPSTG sp;
        while (pe->Next(1, &sp, &got) == S_OK && got == 1) {
          if (sp.lpwstrName) {
            names.insert(Narrow(sp.lpwstrName));
            CoTaskMemFree(sp.lpwstrName);
          }
        }
      }
      if (names != wantNames) errors.push_back(interop::Describe(s.path) + ": ole32 reads other property names");
      for (const auto& v : set.values) {
        std::wstring name;
        const PROPSPEC spec = SpecOf(v, name);
        PROPVARIANT value;
        PropVariantInit(&value);
        const HRESULT rhr = ps->ReadMultiple(1, &spec, &value);
        if (rhr != S_OK || !Same(v, value))
          errors.push_back(interop::Describe(s.path) + ": ole32 reads " + Label(v) + " differently (" + Hex(rhr) +
                           ", type " + std::to_string(value.vt) + ")");
        PropVariantClear(&value);
      }
    }
  }
  return errors;
}

std::vector<std::string> Ole32Write(const Model& model, const std::string& path) {
  std::vector<std::string> errors;
  Ref<IStorage> root;
  constexpr DWORD kCreate = STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE;
  if (HRESULT hr = StgCreateDocfile(Wide(path).c_str(), kCreate, 0, root.out()); hr != S_OK)
    return {"ole32 creating " + path + ": " + Hex(hr)};
  for (const auto& s : model.storages) {
    PathStorages parent;
    Ref<IStorage> at;
    if (s.path.empty()) {
      root->AddRef();
      at.p = root.p;
    } else {
      if (!parent.Open(root.p, {s.path.begin(), s.path.end() - 1}, STGM_READWRITE | STGM_SHARE_EXCLUSIVE, errors))
        return errors;
      if (HRESULT hr = parent.Last()->CreateStorage(Wide(s.path.back()).c_str(), kCreate, 0, 0, at.out()); hr != S_OK)
        return {"ole32 creating " + interop::Describe(s.path) + ": " + Hex(hr)};
    }
    Ref<IPropertySetStorage> sets;
    at->QueryInterface(IID_IPropertySetStorage, reinterpret_cast<void**>(sets.out()));
    for (const auto& set : s.sets) {
      const FMTID fmtid = ToFmtId(set.which);
      Ref<IPropertyStorage> ps;
      if (HRESULT hr = sets->Create(fmtid, nullptr, PROPSETFLAG_DEFAULT, kCreate, ps.out()); hr != S_OK)
        return {"ole32 creating a set in " + interop::Describe(s.path) + ": " + Hex(hr)};
      for (const auto& v : set.values) {
        std::wstring name, text;
        const PROPSPEC spec = SpecOf(v, name);
        PROPVARIANT value;
        ToVariant(v, value, text);
        if (HRESULT hr = ps->WriteMultiple(1, &spec, &value, 2); hr != S_OK)
          errors.push_back("ole32 writing " + Label(v) + ": " + Hex(hr));
      }
      ps->Commit(STGC_DEFAULT);
    }
  }
  root->Commit(STGC_DEFAULT);
  return errors;
}

bool Report(const char* step, const std::vector<std::string>& errors) {
  for (const auto& e : errors) std::cerr << step << ": " << e << "\n";
  std::cout << step << ": " << (errors.empty() ? "ok" : "FAILED") << "\n";
  return errors.empty();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: interop_ole32 WORK_FOLDER\n";
    return 2;
  }
  std::filesystem::create_directories(argv[1]);
  const std::string ours = (std::filesystem::path(argv[1]) / "engine.cfb").string();
  const std::string theirs = (std::filesystem::path(argv[1]) / "ole32.cfb").string();
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  bool ok = true;

  // Property-set stream names: ours must be ole32's, for its own sets and for any other.
  std::vector<std::string> names;
  for (auto which : {interop::SetId::Summary, interop::SetId::DocSummary, interop::SetId::Custom}) {
    interop::Model probe;
    probe.storages.push_back({{}, {{which, {}}}});
    const std::string json = interop::EngineJson(probe);
    if (json.find(StreamName(which).substr(1)) == std::string::npos)
      names.push_back("stream name " + StreamName(which).substr(1) + " differs from ours: " + json);
  }
  ok &= Report("stream names", names);

  const Model engineModel = interop::EngineModel();
  ok &= Report("our engine writes", interop::EngineWrite(engineModel, ours));
  ok &= Report("ole32 reads what our engine wrote", Ole32Check(engineModel, ours));

  const Model ole32Model = interop::Ole32Model();
  ok &= Report("ole32 writes", Ole32Write(ole32Model, theirs));
  ok &= Report("ole32 reads what it wrote", Ole32Check(ole32Model, theirs));
  ok &= Report("our engine reads what ole32 wrote", interop::EngineCheck(ole32Model, theirs));

  const std::string odd = (std::filesystem::path(argv[1]) / "ole32-odd-names.cfb").string();
  const Model oddModel = interop::Ole32OddNamesModel();
  ok &= Report("ole32 writes names of odd length", Ole32Write(oddModel, odd));
  ok &= Report("our engine reads them despite ole32's padding", interop::EngineCheck(oddModel, odd));

  CoUninitialize();
  return ok ? 0 : 1;
}
