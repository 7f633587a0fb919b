#include "components/common/Kyvex_SS.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <limits>

#include "platform/Text.h"

namespace kyvex {
namespace {

using namespace kyvex::ole;

std::string HexStatus(HRESULT hr) {
  static const char digits[] = "0123456789ABCDEF";
  std::string s = "0x";
  const auto v = static_cast<std::uint32_t>(hr);
  for (int i = 7; i >= 0; --i) s += digits[(v >> (4 * i)) & 0xF];
  return s;
}

std::string BuildMessage(HRESULT code, const std::string& context, const std::string& detail) {
  std::string m;
  if (!context.empty()) m = context + ": ";
  m += StatusText(code) + " (" + HexStatus(code) + ")";
  if (!detail.empty()) m += " - " + detail;
  return m;
}

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

void WriteOne(const std::shared_ptr<IPropertyStorage>& ps, const PROPSPEC& spec, const PROPVARIANT& value,
              const std::string& what) {
  const std::string context = "writing property " + what;
  if (!ps) throw EOleSysError(STG_E_INVALIDPOINTER, context, "no property set is open");
  OleCheck(ps->WriteMultiple(1, &spec, &value, PID_FIRST_USABLE), context);
}

// The stored value, when the set holds one.
bool ReadOne(const std::shared_ptr<IPropertyStorage>& ps, const PROPSPEC& spec, PROPVARIANT* value) {
  if (!ps) return false;
  return ps->ReadMultiple(1, &spec, value) == S_OK;
}

// A stored text is whatever the file's maker put there: it is made fit to show as it is read.
std::string AsString(const PROPVARIANT& v) {
  if (v.vt == VT_LPWSTR || v.vt == VT_LPSTR || v.vt == VT_BSTR)
    return kyvex::text::Sanitize(kyvex::text::Utf16ToUtf8(v.pwszVal));
  return {};
}

bool IsSignedInteger(VARTYPE vt) {
  return vt == VT_I1 || vt == VT_I2 || vt == VT_I4 || vt == VT_I8 || vt == VT_INT || vt == VT_UI1 ||
         vt == VT_UI2 || vt == VT_UI4 || vt == VT_UINT;
}

std::int64_t AsInteger(const PROPVARIANT& v) {
  if (IsSignedInteger(v.vt)) return v.hVal;
  if (v.vt == VT_UI8) return v.hVal >= 0 ? v.hVal : 0;  // above INT64_MAX: does not fit
  if (v.vt == VT_BOOL) return v.hVal != 0 ? 1 : 0;
  if (v.vt == VT_R8 || v.vt == VT_R4) {
    // Whole numbers inside the range of a signed 64-bit integer (2^63 itself is outside).
    if (std::isfinite(v.dblVal) && v.dblVal == std::trunc(v.dblVal) && v.dblVal >= -9223372036854775808.0 &&
        v.dblVal < 9223372036854775808.0)
      return static_cast<std::int64_t>(v.dblVal);
  }
  return 0;
}

double AsDouble(const PROPVARIANT& v) {
  if (v.vt == VT_R8 || v.vt == VT_R4) return v.dblVal;
  constexpr std::int64_t kExact = std::int64_t{1} << 53;
  // A VT_UI8 above INT64_MAX is held as a negative hVal: it is no small number.
  const bool integer = IsSignedInteger(v.vt) || (v.vt == VT_UI8 && v.hVal >= 0);
  if (integer && v.hVal >= -kExact && v.hVal <= kExact)
    return static_cast<double>(v.hVal);
  return 0.0;
}

constexpr std::int64_t kMsPerDay = 86400000;
constexpr std::int64_t kDaysFrom1601To1899 = 109205;  // 1601-01-01 to 1899-12-30
constexpr std::int64_t kTicksPerMs = 10000;
constexpr std::int64_t kMaxFileTime = std::numeric_limits<std::int64_t>::max();

}  // namespace

EOleSysError::EOleSysError(ole::HRESULT code, const std::string& context, const std::string& detail)
    : std::runtime_error(BuildMessage(code, context, detail)), code_(code) {}

void OleCheck(ole::HRESULT hr, const std::string& context) {
  if (ole::Failed(hr)) throw EOleSysError(hr, context, ole::LastErrorText());
}

// TStructuredSTorage

TStructuredSTorage::TStructuredSTorage(TStructuredSTorage* parent, std::shared_ptr<ole::IStorage> storage)
    : storage_(std::move(storage)),
      parent_(parent),
      isChild_(parent != nullptr),
      uncaughtAtCreation_(std::uncaught_exceptions()) {
  if (parent_) {
    ++parent_->refCount_;
    parent_->childWrappers_.push_back(this);
  }
}

TStructuredSTorage::~TStructuredSTorage() {
  for (TStructuredSTorage* child : childWrappers_) child->parent_ = nullptr;
  for (TStoragePropertySet* set : propertySets_) set->owner_ = nullptr;
  if (!isChild_ && storage_) {
    // Statuses cannot leave a destructor: Commit() is the way to hear of a failed write.
    if (std::uncaught_exceptions() > uncaughtAtCreation_)
      (void)storage_->Revert();
    else
      (void)storage_->Commit(ole::STGC_DEFAULT);
  }
  if (parent_) {
    TStructuredSTorage* parent = parent_;
    parent_ = nullptr;
    parent->Forget(this);
    parent->Release();
  }
  storage_.reset();
}

void TStructuredSTorage::Forget(const void* dependant) {
  std::erase(childWrappers_, dependant);
  std::erase(propertySets_, dependant);
}

void TStructuredSTorage::Release() {
  if (refCount_ > 0)
    --refCount_;
  else if (isChild_)
    delete this;
}

bool TStructuredSTorage::ElementExists(const std::string& name) {
  std::string_view n = name;
  if (!n.empty() && n.front() == '\\') n.remove_prefix(1);
  if (n.empty()) return false;
  // One look-up in the directory stands for walking the siblings in batches: it answers the
  // same question at the cost of one element instead of all of them (the components ask
  // before every open, so a walk would make a save quadratic in the number of storages). It
  // matches names as the storage itself does, so that an element this call does not find is
  // one that CreateStorage cannot clash with either.
  ole::STATSTG st;
  const ole::HRESULT hr = storage_->StatElement(kyvex::text::Utf8ToUtf16(n), &st);
  if (hr == ole::STG_E_FILENOTFOUND) return false;
  OleCheck(hr, "looking for element " + Quoted(std::string(n)));
  return true;
}

std::unique_ptr<TStructuredSTorage> TStructuredSTorage::OpenSubStorage(const std::string& name, std::uint32_t mode,
                                                                       bool createIfMissing) {
  std::vector<std::string> parts;
  std::size_t from = 0;
  for (;;) {
    const std::size_t cut = name.find('\\', from);
    std::string part = name.substr(from, cut == std::string::npos ? std::string::npos : cut - from);
    if (!part.empty()) parts.push_back(std::move(part));
    if (cut == std::string::npos) break;
    from = cut + 1;
  }
  if (parts.empty()) throw EOleSysError(ole::STG_E_INVALIDNAME, "opening storage " + Quoted(name), "no name given");

  // Levels opened so far, freed innermost first if a later one fails.
  std::vector<std::unique_ptr<TStructuredSTorage>> levels;
  auto unwind = [&levels]() {
    while (!levels.empty()) levels.pop_back();
  };
  try {
    TStructuredSTorage* level = this;
    for (const std::string& part : parts) {
      const bool exists = level->ElementExists(part);
      const std::u16string wide = kyvex::text::Utf8ToUtf16(part);
      std::shared_ptr<ole::IStorage> storage;
      ole::HRESULT hr;
      if (createIfMissing && !exists)
        hr = level->storage_->CreateStorage(wide, mode | ole::STGM_CREATE, 0, 0, &storage);
      else
        hr = level->storage_->OpenStorage(wide, nullptr, mode, nullptr, 0, &storage);
      const std::string path = level->path_.empty() ? part : level->path_ + "/" + part;
      OleCheck(hr, (createIfMissing && !exists ? "creating storage " : "opening storage ") + Quoted(path));
      levels.push_back(std::make_unique<TStructuredSTorage>(level, std::move(storage)));
      level = levels.back().get();
      level->path_ = path;
    }
  } catch (...) {
    unwind();
    throw;
  }
  // The levels between are held only by the level below them: at a count of 0 the release
  // rule frees each one when the level below it goes.
  for (std::size_t i = 0; i + 1 < levels.size(); ++i) {
    levels[i]->refCount_ = 0;
    (void)levels[i].release();
  }
  return std::move(levels.back());
}

std::unique_ptr<TStoragePropertySet> TStructuredSTorage::OpenPropertySet(const ole::FMTID& fmtid, std::uint32_t mode,
                                                                         bool createIfMissing,
                                                                         const std::string& setName) {
  std::shared_ptr<ole::IPropertySetStorage> sets;
  OleCheck(storage_->QueryPropertySetStorage(&sets), "opening a property set");
  std::shared_ptr<ole::IPropertyStorage> ps;
  (void)sets->Open(fmtid, mode, &ps);  // only whether a set came back counts
  if (ps) return std::make_unique<TStoragePropertySet>(std::move(ps), this);
  if (createIfMissing)
    return CreatePropertySet(setName, fmtid, ole::GUID_NULL, ole::PROPSETFLAG_DEFAULT, mode | ole::STGM_CREATE);
  return nullptr;
}

std::unique_ptr<TStoragePropertySet> TStructuredSTorage::CreatePropertySet(const std::string& setName,
                                                                           const ole::FMTID& fmtid,
                                                                           const ole::CLSID& clsid,
                                                                           std::uint32_t flags, std::uint32_t mode) {
  std::shared_ptr<ole::IPropertySetStorage> sets;
  OleCheck(storage_->QueryPropertySetStorage(&sets), "creating a property set");
  std::shared_ptr<ole::IPropertyStorage> ps;
  OleCheck(sets->Create(fmtid, &clsid, flags, mode, &ps), "creating a property set");
  auto wrapper = std::make_unique<TStoragePropertySet>(ps, this);
  if (!kyvex::text::Trim(setName).empty()) {
    const ole::PROPID id = ole::PID_DICTIONARY;
    const std::u16string wide = kyvex::text::Utf8ToUtf16(setName);
    const std::u16string_view view = wide;
    OleCheck(ps->WritePropertyNames(1, &id, &view), "naming property set " + Quoted(setName));
  }
  return wrapper;
}

void TStructuredSTorage::Commit() {
  if (!storage_) throw EOleSysError(ole::STG_E_REVERTED, "committing", "no storage");
  OleCheck(storage_->Commit(ole::STGC_DEFAULT), "committing the storage file");
}

// TStoragePropertySet

TStoragePropertySet::TStoragePropertySet(std::shared_ptr<ole::IPropertyStorage> propertyStorage,
                                         TStructuredSTorage* owner)
    : propertyStorage_(std::move(propertyStorage)), owner_(owner) {
  if (owner_) {
    ++owner_->refCount_;
    owner_->propertySets_.push_back(this);
  }
}

TStoragePropertySet::~TStoragePropertySet() {
  propertyStorage_.reset();
  if (owner_) {
    TStructuredSTorage* owner = owner_;
    owner_ = nullptr;
    owner->Forget(this);
    owner->Release();
  }
}

// Typed values

void WriteStringProperty(const std::shared_ptr<ole::IPropertyStorage>& ps, const std::string& name,
                         const std::string& value) {
  const std::u16string wide = kyvex::text::Utf8ToUtf16(name);
  WriteOne(ps, PROPSPEC::ByName(wide), PROPVARIANT::LPWSTR(kyvex::text::Utf8ToUtf16(value)), Quoted(name));
}

void WriteIntegerProperty(const std::shared_ptr<ole::IPropertyStorage>& ps, const std::string& name,
                          std::int64_t value) {
  const std::u16string wide = kyvex::text::Utf8ToUtf16(name);
  WriteOne(ps, PROPSPEC::ByName(wide), PROPVARIANT::I8(value), Quoted(name));
}

void WriteDoubleProperty(const std::shared_ptr<ole::IPropertyStorage>& ps, const std::string& name, double value) {
  const std::u16string wide = kyvex::text::Utf8ToUtf16(name);
  WriteOne(ps, PROPSPEC::ByName(wide), PROPVARIANT::R8(value), Quoted(name));
}

void WriteStringPropertyById(const std::shared_ptr<ole::IPropertyStorage>& ps, std::uint32_t id,
                             const std::string& value) {
  WriteOne(ps, PROPSPEC::ById(id), PROPVARIANT::LPWSTR(kyvex::text::Utf8ToUtf16(value)), std::to_string(id));
}

void WriteDateTimePropertyById(const std::shared_ptr<ole::IPropertyStorage>& ps, std::uint32_t id, TDateTime value) {
  WriteOne(ps, PROPSPEC::ById(id), PROPVARIANT::FileTime(DateTimeToFileTime(value)), std::to_string(id));
}

std::string ReadStringProperty(const std::shared_ptr<ole::IPropertyStorage>& ps, const std::string& name) {
  const std::u16string wide = kyvex::text::Utf8ToUtf16(name);
  PROPVARIANT v;
  return ReadOne(ps, PROPSPEC::ByName(wide), &v) ? AsString(v) : std::string();
}

std::int64_t ReadIntegerProperty(const std::shared_ptr<ole::IPropertyStorage>& ps, const std::string& name) {
  const std::u16string wide = kyvex::text::Utf8ToUtf16(name);
  PROPVARIANT v;
  return ReadOne(ps, PROPSPEC::ByName(wide), &v) ? AsInteger(v) : 0;
}

double ReadDoubleProperty(const std::shared_ptr<ole::IPropertyStorage>& ps, const std::string& name) {
  const std::u16string wide = kyvex::text::Utf8ToUtf16(name);
  PROPVARIANT v;
  return ReadOne(ps, PROPSPEC::ByName(wide), &v) ? AsDouble(v) : 0.0;
}

std::string ReadStringPropertyById(const std::shared_ptr<ole::IPropertyStorage>& ps, std::uint32_t id) {
  PROPVARIANT v;
  return ReadOne(ps, PROPSPEC::ById(id), &v) ? AsString(v) : std::string();
}

TDateTime ReadDateTimePropertyById(const std::shared_ptr<ole::IPropertyStorage>& ps, std::uint32_t id) {
  PROPVARIANT v;
  if (!ReadOne(ps, PROPSPEC::ById(id), &v)) return 0.0;
  if (v.vt == VT_FILETIME) return FileTimeToDateTime(v.filetime);
  if (v.vt == VT_DATE) return v.dblVal;
  return 0.0;
}

// Date-times

ole::FILETIME DateTimeToFileTime(TDateTime value) {
  if (!std::isfinite(value)) return {};
  // Far outside FILETIME's range whichever way: clamp before converting to integers.
  constexpr double kFarDays = 1.0e7;
  if (value < -kFarDays) return {};
  std::int64_t ticks;
  if (value > kFarDays) {
    ticks = kMaxFileTime;
  } else {
    // The day count is the integral part; the time of day is the magnitude of the fraction,
    // also for days before 1899-12-30.
    const double day = std::trunc(value);
    const auto timeMs = static_cast<std::int64_t>(std::llround(std::fabs(value - day) * kMsPerDay));
    const std::int64_t ms = (static_cast<std::int64_t>(day) + kDaysFrom1601To1899) * kMsPerDay + timeMs;
    if (ms < 0) return {};
    ticks = ms > kMaxFileTime / kTicksPerMs ? kMaxFileTime : ms * kTicksPerMs;
  }
  const auto u = static_cast<std::uint64_t>(ticks);
  return {static_cast<std::uint32_t>(u), static_cast<std::uint32_t>(u >> 32)};
}

TDateTime FileTimeToDateTime(const ole::FILETIME& ft) {
  const std::uint64_t ticks = (static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  if (ticks > static_cast<std::uint64_t>(kMaxFileTime)) return 0.0;
  const auto ms = static_cast<std::int64_t>(ticks / kTicksPerMs);
  const std::int64_t days = ms / kMsPerDay - kDaysFrom1601To1899;
  const double time = static_cast<double>(ms % kMsPerDay) / kMsPerDay;
  // A day before 1899-12-30 counts down while its time of day counts up: -1.25 is
  // 1899-12-29 06:00. Adding the time there would land on the wrong day.
  return days >= 0 ? static_cast<double>(days) + time : static_cast<double>(days) - time;
}

std::string FormatDateTime(TDateTime value) {
  if (value == 0 || !std::isfinite(value) || std::fabs(value) > 3e6) return "";
  // The whole part counts days from 1899-12-30 (also below it); the fraction, taken without
  // its sign, is the time of day.
  std::int64_t day = static_cast<std::int64_t>(std::trunc(value));
  std::int64_t ms = std::llround(std::fabs(value - static_cast<double>(day)) * 86400000.0);
  if (ms >= 86400000) {
    ms -= 86400000;
    day += value < 0 ? -1 : 1;
  }
  // Civil date of a day count (days since 1970-01-01 here), proleptic Gregorian.
  const std::int64_t z = day - 25569 + 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  const std::int64_t d = doy - (153 * mp + 2) / 5 + 1;
  const std::int64_t m = mp < 10 ? mp + 3 : mp - 9;
  const std::int64_t y = yoe + era * 400 + (m <= 2);
  const std::int64_t secs = ms / 1000;
  char buf[128];
  std::snprintf(buf, sizeof buf, "%04lld-%02lld-%02lld %02lld:%02lld:%02lld", static_cast<long long>(y),
                static_cast<long long>(m), static_cast<long long>(d), static_cast<long long>(secs / 3600),
                static_cast<long long>(secs / 60 % 60), static_cast<long long>(secs % 60));
  return buf;
}

bool HoldsOtherData(const std::string& FileName) {
  if (ole::StgIsStorageFile(FileName) != ole::S_FALSE) return false;
  std::error_code ec;
  const auto size = std::filesystem::file_size(std::filesystem::path(std::u8string(FileName.begin(), FileName.end())), ec);
  return ec || size > 0;  // a file whose size cannot be told is not taken for empty
}

}  // namespace kyvex
