// Windows' own structured storage (ole32: Wine's, when run here) doing the storage
// benchmark's work, so that our engine's times have something to be measured against. The
// Linux driver storage_vs_ole32 runs this program under Wine and sets the two side by side.
//
//   ole32_bench [--dir FOLDER] CASE...
//
// A case is VARIANT:N or just N (both variants) for N storages:
//   walk    before every OpenStorage or CreateStorage the parent's elements are enumerated
//           (EnumElements, Next in batches of 10) to learn whether the name exists: how the
//           storage-file container looks names up;
//   byname  storages are created and opened by name directly.
// Each case writes a new file, reads it back, checks every value and prints one line:
//   ole32_bench variant=walk storages=100 write_ms=... read_ms=... total_ms=... file_bytes=...
// The exit status is 0 only when every case read back what it wrote.
#include <windows.h>
#include <ole2.h>
#include <propidl.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "StorageWorkload.h"

namespace {

using namespace kyvex::bench;

constexpr DWORD kWrite = STGM_READWRITE | STGM_SHARE_EXCLUSIVE;
constexpr DWORD kRead = STGM_READ | STGM_SHARE_EXCLUSIVE;

enum class Variant { Walk, ByName };

std::wstring Wide(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

void Check(HRESULT hr, const std::string& what) {
  if (FAILED(hr)) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(hr));
    throw std::runtime_error(what + " failed: " + code);
  }
}

// Owns one COM reference.
template <class T>
class Ref {
 public:
  Ref() = default;
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  ~Ref() { Reset(); }
  void Reset() {
    if (p_) p_->Release();
    p_ = nullptr;
  }
  T** Out() {
    Reset();
    return &p_;
  }
  T* operator->() const { return p_; }
  T* get() const { return p_; }

 private:
  T* p_ = nullptr;
};

bool SameNameIgnoringAsciiCase(const wchar_t* a, const std::wstring& b) {
  auto up = [](wchar_t c) { return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - 32) : c; };
  std::size_t i = 0;
  for (; a[i] && i < b.size(); ++i)
    if (up(a[i]) != up(b[i])) return false;
  return a[i] == 0 && i == b.size();
}

// The existence test as the container makes it through COM, where IStorage has no lookup.
bool ElementExists(IStorage* parent, const std::wstring& name) {
  Ref<IEnumSTATSTG> e;
  Check(parent->EnumElements(0, nullptr, 0, e.Out()), "EnumElements");
  bool found = false;
  for (;;) {
    STATSTG batch[10];
    ULONG got = 0;
    const HRESULT hr = e->Next(10, batch, &got);
    Check(hr, "IEnumSTATSTG::Next");
    for (ULONG i = 0; i < got; ++i) {
      if (!found && SameNameIgnoringAsciiCase(batch[i].pwcsName, name)) found = true;
      CoTaskMemFree(batch[i].pwcsName);
    }
    if (found || got < 10) return found;
  }
}

void OpenStorage(IStorage* parent, const std::string& name, bool writing, Variant v, Ref<IStorage>& out) {
  const std::wstring wide = Wide(name);
  // By name, a new file's storages are created and an existing file's opened.
  const bool exists = v == Variant::Walk ? ElementExists(parent, wide) : !writing;
  if (writing && !exists)
    Check(parent->CreateStorage(wide.c_str(), kWrite | STGM_CREATE, 0, 0, out.Out()), "CreateStorage " + name);
  else
    Check(parent->OpenStorage(wide.c_str(), nullptr, writing ? kWrite : kRead, nullptr, 0, out.Out()),
          "OpenStorage " + name);
}

// The set is opened first and created only when absent, as the container does it.
void OpenSet(IStorage* stg, bool writing, Ref<IPropertyStorage>& out) {
  Ref<IPropertySetStorage> sets;
  Check(stg->QueryInterface(IID_IPropertySetStorage, reinterpret_cast<void**>(sets.Out())), "IPropertySetStorage");
  if (SUCCEEDED(sets->Open(FMTID_DocSummaryInformation, writing ? kWrite : kRead, out.Out())) && out.get()) return;
  if (!writing) throw std::runtime_error("no property set");
  Check(sets->Create(FMTID_DocSummaryInformation, &GUID_NULL, PROPSETFLAG_DEFAULT, kWrite | STGM_CREATE, out.Out()),
        "IPropertySetStorage::Create");
}

void WriteValue(IPropertyStorage* ps, const std::string& name, PROPVARIANT& value) {
  std::wstring wname = Wide(name);
  PROPSPEC spec;
  spec.ulKind = PRSPEC_LPWSTR;
  spec.lpwstr = wname.data();
  Check(ps->WriteMultiple(1, &spec, &value, PID_FIRST_USABLE), "WriteMultiple " + name);
}

void WriteFile(const std::wstring& path, int storages, Variant v) {
  Ref<IStorage> root;
  Check(StgCreateDocfile(path.c_str(), kWrite | STGM_CREATE, 0, root.Out()), "StgCreateDocfile");
  Ref<IStorage> top;
  OpenStorage(root.get(), "Storage", true, v, top);
  for (int d = 0; d < storages; ++d) {
    Ref<IStorage> device;
    OpenStorage(top.get(), StorageName(d), true, v, device);
    Ref<IPropertyStorage> ps;
    OpenSet(device.get(), true, ps);
    for (int i = 0; i < kStrings; ++i) {
      std::wstring text = Wide(StringValue(d, i));
      PROPVARIANT value;
      PropVariantInit(&value);
      value.vt = VT_LPWSTR;
      value.pwszVal = text.data();
      WriteValue(ps.get(), ValueName(i), value);
    }
    for (int i = kStrings; i < kValues; ++i) {
      PROPVARIANT value;
      PropVariantInit(&value);
      value.vt = VT_I8;
      value.hVal.QuadPart = IntegerValue(d, i);
      WriteValue(ps.get(), ValueName(i), value);
    }
  }
  top.Reset();
  Check(root->Commit(STGC_DEFAULT), "Commit");
}

std::int64_t ReadFile(const std::wstring& path, int storages, Variant v) {
  Ref<IStorage> root;
  Check(StgOpenStorage(path.c_str(), nullptr, kRead, nullptr, 0, root.Out()), "StgOpenStorage");
  Ref<IStorage> top;
  OpenStorage(root.get(), "Storage", false, v, top);
  std::int64_t sum = 0;
  for (int d = 0; d < storages; ++d) {
    Ref<IStorage> device;
    OpenStorage(top.get(), StorageName(d), false, v, device);
    Ref<IPropertyStorage> ps;
    OpenSet(device.get(), false, ps);
    for (int i = 0; i < kValues; ++i) {
      std::wstring wname = Wide(ValueName(i));
      PROPSPEC spec;
      spec.ulKind = PRSPEC_LPWSTR;
      spec.lpwstr = wname.data();
      PROPVARIANT value;
      PropVariantInit(&value);
      if (ps->ReadMultiple(1, &spec, &value) == S_OK) {
        if (i < kStrings && value.vt == VT_LPWSTR && value.pwszVal) sum += static_cast<std::int64_t>(wcslen(value.pwszVal));
        if (i >= kStrings && value.vt == VT_I8) sum += value.hVal.QuadPart;
      }
      PropVariantClear(&value);
    }
  }
  return sum;
}

double Millis(LARGE_INTEGER from, LARGE_INTEGER to) {
  static const double frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return static_cast<double>(f.QuadPart);
  }();
  return static_cast<double>(to.QuadPart - from.QuadPart) * 1000.0 / frequency;
}

struct Case {
  Variant variant;
  int storages;
};

bool ParseCase(const std::string& arg, std::vector<Case>& cases) {
  std::string variant, count = arg;
  if (const auto colon = arg.find(':'); colon != std::string::npos) {
    variant = arg.substr(0, colon);
    count = arg.substr(colon + 1);
  }
  char* end = nullptr;
  const long n = std::strtol(count.c_str(), &end, 10);
  if (count.empty() || *end != 0 || n < 1 || n > 1000000) return false;
  if (variant.empty() || variant == "walk") cases.push_back({Variant::Walk, static_cast<int>(n)});
  if (variant.empty() || variant == "byname") cases.push_back({Variant::ByName, static_cast<int>(n)});
  return variant.empty() || variant == "walk" || variant == "byname";
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<Case> cases;
  std::wstring folder;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--dir" && i + 1 < argc) {
      folder = Wide(argv[++i]);
    } else if (!ParseCase(arg, cases)) {
      std::fprintf(stderr, "usage: ole32_bench [--dir FOLDER] [walk:|byname:]N...\n");
      return 2;
    }
  }
  if (cases.empty()) {
    std::fprintf(stderr, "usage: ole32_bench [--dir FOLDER] [walk:|byname:]N...\n");
    return 2;
  }
  if (folder.empty()) {
    wchar_t temp[MAX_PATH];
    const DWORD n = GetTempPathW(MAX_PATH, temp);
    folder.assign(temp, n);
  }
  if (!folder.empty() && folder.back() != L'\\' && folder.back() != L'/') folder += L'\\';
  const std::wstring path = folder + L"kyvex-ole32-bench-" + std::to_wstring(GetCurrentProcessId()) + L".cfb";

  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  int failures = 0;
  for (const Case& c : cases) {
    const char* name = c.variant == Variant::Walk ? "walk" : "byname";
    try {
      LARGE_INTEGER t0, t1, t2;
      QueryPerformanceCounter(&t0);
      WriteFile(path, c.storages, c.variant);
      QueryPerformanceCounter(&t1);
      const std::int64_t sum = ReadFile(path, c.storages, c.variant);
      QueryPerformanceCounter(&t2);
      WIN32_FILE_ATTRIBUTE_DATA attributes{};
      GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &attributes);
      const unsigned long long bytes =
          (static_cast<unsigned long long>(attributes.nFileSizeHigh) << 32) | attributes.nFileSizeLow;
      if (sum != ExpectedSum(c.storages)) {
        std::fprintf(stderr, "ole32_bench %s %d: read back %lld, wrote %lld\n", name, c.storages,
                     static_cast<long long>(sum), static_cast<long long>(ExpectedSum(c.storages)));
        ++failures;
        continue;
      }
      std::printf("ole32_bench variant=%s storages=%d write_ms=%.3f read_ms=%.3f total_ms=%.3f file_bytes=%llu\n",
                  name, c.storages, Millis(t0, t1), Millis(t1, t2), Millis(t0, t2), bytes);
      std::fflush(stdout);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "ole32_bench %s %d: %s\n", name, c.storages, e.what());
      ++failures;
    }
  }
  DeleteFileW(path.c_str());
  CoUninitialize();
  return failures == 0 ? 0 : 1;
}
