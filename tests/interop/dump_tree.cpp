// Prints everything a storage file holds, one line per storage, stream and property value, in
// an order that does not depend on the reader: children sorted by name, properties by id. Built
// twice: over Windows' ole32 (KYVEX_DUMP_WITH_OLE32) and over our engine, so that a test can
// require both readers to see exactly the same file.
//
//   storage <path>
//   stream <path> <size>
//   property <path> <set> <id> <name> = <type> <value>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif
#ifdef KYVEX_DUMP_WITH_OLE32
#include <windows.h>
#include <ole2.h>
#include <propidl.h>
#else
#include "compound/Ole.h"
#include "platform/Text.h"
#endif

namespace {

// Control characters (the sets' streams start with \005) written as \xNN.
std::string Printable(const std::string& s) {
  std::string out;
  for (unsigned char c : s) {
    if (c < 0x20 || c == '\\') {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

struct Line {
  std::string sortKey, text;
};

std::string Real(double d) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.17g", d);
  return buf;
}

const char* SetName(bool summary) { return summary ? "SummaryInformation" : "DocumentSummaryInformation"; }

#ifdef KYVEX_DUMP_WITH_OLE32

std::string Utf8(const wchar_t* w) {
  if (!w || !*w) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, w, -1, nullptr, 0, nullptr, nullptr);
  std::string s(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, w, -1, s.data(), n, nullptr, nullptr);
  s.resize(static_cast<std::size_t>(n - 1));
  return s;
}

std::wstring Wide(const std::string& s) {
  const int n = MultiByteToWideChar(CP_UTF8, 0, s.c_str(), -1, nullptr, 0);
  std::wstring w(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, s.c_str(), -1, w.data(), n);
  w.resize(static_cast<std::size_t>(n - 1));
  return w;
}

std::string Value(const PROPVARIANT& v) {
  switch (v.vt) {
    case VT_LPWSTR: return "LPWSTR " + Utf8(v.pwszVal);
    case VT_I8: return "I8 " + std::to_string(v.hVal.QuadPart);
    case VT_UI8: return "UI8 " + std::to_string(v.uhVal.QuadPart);
    case VT_I4: return "I4 " + std::to_string(v.lVal);
    case VT_UI4: return "UI4 " + std::to_string(v.ulVal);
    case VT_I2: return "I2 " + std::to_string(v.iVal);
    case VT_BOOL: return "BOOL " + std::to_string(v.boolVal ? 1 : 0);
    case VT_R8: return "R8 " + Real(v.dblVal);
    case VT_FILETIME:
      return "FILETIME " +
             std::to_string((static_cast<std::uint64_t>(v.filetime.dwHighDateTime) << 32) | v.filetime.dwLowDateTime);
    default: return "type " + std::to_string(v.vt);
  }
}

void DumpSet(IStorage* at, const std::string& path, bool summary, std::vector<Line>& out) {
  IPropertySetStorage* sets = nullptr;
  if (at->QueryInterface(IID_IPropertySetStorage, reinterpret_cast<void**>(&sets)) != S_OK) return;
  IPropertyStorage* ps = nullptr;
  const HRESULT hr =
      sets->Open(summary ? FMTID_SummaryInformation : FMTID_DocSummaryInformation, STGM_READ | STGM_SHARE_EXCLUSIVE, &ps);
  sets->Release();
  if (hr != S_OK) {
    out.push_back({path + "\x01", "unreadable set " + Printable(path.empty() ? "/" : path) + " " + SetName(summary)});
    return;
  }
  IEnumSTATPROPSTG* e = nullptr;
  std::vector<std::pair<PROPID, std::string>> props;
  if (ps->Enum(&e) == S_OK) {
    STATPROPSTG sp;
    ULONG got = 0;
    while (e->Next(1, &sp, &got) == S_OK && got == 1) {
      props.push_back({sp.propid, Utf8(sp.lpwstrName)});
      CoTaskMemFree(sp.lpwstrName);
    }
    e->Release();
  }
  for (const auto& [id, name] : props) {
    PROPSPEC spec;
    spec.ulKind = PRSPEC_PROPID;
    spec.propid = id;
    PROPVARIANT v;
    PropVariantInit(&v);
    const HRESULT rhr = ps->ReadMultiple(1, &spec, &v);
    char key[16];
    std::snprintf(key, sizeof key, "%010u", static_cast<unsigned>(id));
    out.push_back({path + "\x01" + SetName(summary) + key,
                   "property " + Printable(path.empty() ? "/" : path) + " " + SetName(summary) + " " + std::to_string(id) + " " +
                       Printable(name) + " = " + (rhr == S_OK ? Value(v) : "unreadable")});
    PropVariantClear(&v);
  }
  ps->Release();
}

void Dump(IStorage* at, const std::string& path, std::vector<Line>& out) {
  IEnumSTATSTG* e = nullptr;
  if (at->EnumElements(0, nullptr, 0, &e) != S_OK) {
    out.push_back({path, "unreadable storage " + Printable(path)});
    return;
  }
  STATSTG st;
  ULONG got = 0;
  while (e->Next(1, &st, &got) == S_OK && got == 1) {
    const std::string name = Utf8(st.pwcsName);
    CoTaskMemFree(st.pwcsName);
    const std::string child = path + "/" + name;
    if (st.type == STGTY_STORAGE) {
      out.push_back({child, "storage " + Printable(child)});
      IStorage* sub = nullptr;
      if (at->OpenStorage(Wide(name).c_str(), nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, nullptr, 0, &sub) == S_OK) {
        Dump(sub, child, out);
        sub->Release();
      } else {
        out.push_back({child, "unopenable storage " + Printable(child)});
      }
    } else {
      out.push_back({child, "stream " + Printable(child) + " " + std::to_string(st.cbSize.QuadPart)});
      if (name == "\005SummaryInformation") DumpSet(at, path, true, out);
      if (name == "\005DocumentSummaryInformation") DumpSet(at, path, false, out);
    }
  }
  e->Release();
}

bool DumpFile(const std::string& file, std::vector<Line>& out) {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  IStorage* root = nullptr;
  const HRESULT hr = StgOpenStorage(Wide(file).c_str(), nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, nullptr, 0, &root);
  if (hr != S_OK) {
    std::fprintf(stderr, "ole32 cannot open %s: 0x%08lX\n", file.c_str(), static_cast<unsigned long>(hr));
    return false;
  }
  Dump(root, "", out);
  root->Release();
  CoUninitialize();
  return true;
}

#else

using namespace kyvex;
using text::Utf16ToUtf8;

std::string Value(const ole::PROPVARIANT& v) {
  switch (v.vt) {
    case ole::VT_LPWSTR: return "LPWSTR " + Utf16ToUtf8(v.pwszVal);
    case ole::VT_I8: return "I8 " + std::to_string(v.hVal);
    case ole::VT_UI8: return "UI8 " + std::to_string(static_cast<std::uint64_t>(v.hVal));
    case ole::VT_I4: return "I4 " + std::to_string(static_cast<std::int32_t>(v.hVal));
    case ole::VT_UI4: return "UI4 " + std::to_string(static_cast<std::uint32_t>(v.hVal));
    case ole::VT_I2: return "I2 " + std::to_string(static_cast<std::int16_t>(v.hVal));
    case ole::VT_BOOL: return "BOOL " + std::to_string(v.hVal ? 1 : 0);
    case ole::VT_R8: return "R8 " + Real(v.dblVal);
    case ole::VT_FILETIME:
      return "FILETIME " +
             std::to_string((static_cast<std::uint64_t>(v.filetime.dwHighDateTime) << 32) | v.filetime.dwLowDateTime);
    default: return "type " + std::to_string(v.vt);
  }
}

void DumpSet(ole::IStorage& at, const std::string& path, bool summary, std::vector<Line>& out) {
  std::shared_ptr<ole::IPropertySetStorage> sets;
  if (at.QueryPropertySetStorage(&sets) != ole::S_OK) return;
  std::shared_ptr<ole::IPropertyStorage> ps;
  if (sets->Open(summary ? ole::FMTID_SummaryInformation : ole::FMTID_DocSummaryInformation, 0x10, &ps) !=
      ole::S_OK) {
    out.push_back({path + "\x01", "unreadable set " + Printable(path.empty() ? "/" : path) + " " + SetName(summary)});
    return;
  }
  std::vector<ole::STATPROPSTG> props;
  ps->Enum(&props);
  for (const auto& p : props) {
    const auto spec = ole::PROPSPEC::ById(p.propid);
    ole::PROPVARIANT v;
    const auto rhr = ps->ReadMultiple(1, &spec, &v);
    char key[16];
    std::snprintf(key, sizeof key, "%010u", static_cast<unsigned>(p.propid));
    out.push_back({path + "\x01" + SetName(summary) + key,
                   "property " + Printable(path.empty() ? "/" : path) + " " + SetName(summary) + " " + std::to_string(p.propid) + " " +
                       Printable(Utf16ToUtf8(p.lpwstrName)) + " = " + (rhr == ole::S_OK ? Value(v) : "unreadable")});
  }
}

void Dump(ole::IStorage& at, const std::string& path, std::vector<Line>& out) {
  std::shared_ptr<ole::IEnumSTATSTG> e;
  if (at.EnumElements(0, nullptr, 0, &e) != ole::S_OK) {
    out.push_back({path, "unreadable storage " + Printable(path)});
    return;
  }
  ole::STATSTG st;
  ole::ULONG got = 0;
  while (e->Next(1, &st, &got) == ole::S_OK && got == 1) {
    const std::string name = Utf16ToUtf8(st.pwcsName);
    const std::string child = path + "/" + name;
    if (st.type == ole::STGTY_STORAGE) {
      out.push_back({child, "storage " + Printable(child)});
      std::shared_ptr<ole::IStorage> sub;
      if (at.OpenStorage(st.pwcsName, nullptr, 0x10, nullptr, 0, &sub) == ole::S_OK)
        Dump(*sub, child, out);
      else
        out.push_back({child, "unopenable storage " + Printable(child)});
    } else {
      out.push_back({child, "stream " + Printable(child) + " " + std::to_string(st.cbSize)});
      if (name == "\005SummaryInformation") DumpSet(at, path, true, out);
      if (name == "\005DocumentSummaryInformation") DumpSet(at, path, false, out);
    }
  }
}

bool DumpFile(const std::string& file, std::vector<Line>& out) {
  std::shared_ptr<ole::IStorage> root;
  const auto hr = ole::StgOpenStorage(file, nullptr, 0x10, nullptr, 0, &root);
  if (hr != ole::S_OK) {
    std::fprintf(stderr, "cannot open %s: %s\n", file.c_str(), ole::StatusText(hr).c_str());
    return false;
  }
  Dump(*root, "", out);
  return true;
}

#endif

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s STORAGE_FILE\n", argv[0]);
    return 2;
  }
#ifdef _WIN32
  _setmode(_fileno(stdout), _O_BINARY);  // the same bytes as the Linux build prints
#endif
  std::vector<Line> lines;
  if (!DumpFile(argv[1], lines)) return 1;
  // Storage paths sort before what lies below them; "\x01" keeps a storage's sets after its
  // own line and before its children's.
  std::stable_sort(lines.begin(), lines.end(), [](const Line& a, const Line& b) { return a.sortKey < b.sortKey; });
  std::string all;
  for (const auto& l : lines) all += l.text + "\n";
  std::fwrite(all.data(), 1, all.size(), stdout);
  return 0;
}
