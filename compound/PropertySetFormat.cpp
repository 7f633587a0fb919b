// Property-set streams. Reading finds every value and dictionary entry through the section's
// offset table (ole32 keeps them in no fixed order) and checks each against the section's
// bounds. Writing follows Windows: code page 1200, the dictionary first with lengths counted
// in UTF-16 units (null included), then the code page, then the values by id, each padded to
// four bytes, with the section size counting all padding.
#include "compound/PropertySetFormat.h"

#include <algorithm>
#include <cstring>
#include <set>

#include "compound/Detail.h"
#include "platform/Text.h"

namespace kyvex::ole::detail {
namespace {

constexpr std::uint16_t kCodePageUnicode = 1200;
constexpr std::uint16_t kCodePageUtf8 = 65001;
constexpr std::uint16_t kCodePageTurkish = 1254;
constexpr std::size_t kStreamHeader = 28;
constexpr std::size_t kSectionEntry = 20;

HRESULT BadHeader(std::string text) { return Fail(STG_E_INVALIDHEADER, "property set: " + std::move(text)); }
HRESULT Corrupt(std::string text) { return Fail(STG_E_DOCFILECORRUPT, "property set: " + std::move(text)); }

std::u16string DecodeCodePage(const std::uint8_t* p, std::size_t n, std::uint16_t codePage) {
  std::size_t len = 0;
  while (len < n && p[len] != 0) ++len;
  if (codePage == kCodePageUtf8)
    return kyvex::text::Utf8ToUtf16(std::string_view(reinterpret_cast<const char*>(p), len));
  std::u16string out;
  out.reserve(len);
  for (std::size_t i = 0; i < len; ++i)
    out.push_back(static_cast<char16_t>(codePage == kCodePageTurkish ? kyvex::text::Cp1254ToUnicode(p[i])
                                                                     : kyvex::text::Cp1252ToUnicode(p[i])));
  return out;
}

std::u16string DecodeUnits(const std::uint8_t* p, std::size_t units) {
  std::u16string out;
  for (std::size_t i = 0; i < units; ++i) {
    const char16_t c = Get16(p + 2 * i);
    if (c == 0) break;
    out.push_back(c);
  }
  return out;
}

std::size_t Pad4(std::size_t n) { return (n + 3) & ~std::size_t{3}; }

// Size of the fixed part of a scalar type after its 4-byte type field; 0 for types without
// a fixed size.
std::size_t ScalarSize(VARTYPE vt) {
  switch (vt) {
    case VT_I1: case VT_UI1: return 1;
    case VT_I2: case VT_UI2: case VT_BOOL: return 2;
    case VT_I4: case VT_UI4: case VT_INT: case VT_UINT: case VT_ERROR: case VT_R4: return 4;
    case VT_I8: case VT_UI8: case VT_R8: case VT_CY: case VT_DATE: case VT_FILETIME: return 8;
    case VT_CLSID: return 16;
    default: return 0;
  }
}

class SectionReader {
 public:
  SectionReader(const std::uint8_t* s, std::size_t size) : s_(s), size_(size) {}

  // Decodes the value at offset; end bounds types whose size the stream does not state.
  // budget is what the section's values may still take in all: entries of the offset table
  // may share one value, and a thousand ids on one large string must not become a thousand
  // copies of it.
  HRESULT Value(PROPID id, std::size_t offset, std::size_t end, std::uint16_t codePage, std::size_t* budget,
                PROPVARIANT* v) const {
    // Named only when something is wrong: most sets are whole, and naming every value costs more
    // than reading it.
    auto where = [id, offset] {
      return "the value of property " + std::to_string(id) + " at offset " + std::to_string(offset);
    };
    if (offset > size_ || size_ - offset < 4) return Corrupt(where() + " lies outside its section");
    const std::uint8_t* p = s_ + offset;
    const std::size_t avail = size_ - offset - 4;
    v->vt = Get16(p);
    const std::uint8_t* d = p + 4;
    auto take = [&](std::uint64_t bytes) -> HRESULT {
      if (bytes > *budget)
        return Corrupt(where() + ": the values take more bytes than their section holds (entries share their data)");
      *budget -= static_cast<std::size_t>(bytes);
      return S_OK;
    };
    const std::size_t fixed = ScalarSize(v->vt);
    if (fixed > 0) {
      if (avail < fixed) return Corrupt(where() + " runs past the end of its section");
      switch (v->vt) {
        case VT_I1: v->hVal = static_cast<std::int8_t>(d[0]); break;
        case VT_UI1: v->hVal = d[0]; break;
        case VT_I2: v->hVal = static_cast<std::int16_t>(Get16(d)); break;
        case VT_UI2: v->hVal = Get16(d); break;
        case VT_BOOL: v->hVal = Get16(d) != 0 ? -1 : 0; break;
        case VT_I4: case VT_INT: case VT_ERROR: v->hVal = static_cast<std::int32_t>(Get32(d)); break;
        case VT_UI4: case VT_UINT: v->hVal = Get32(d); break;
        case VT_R4: {
          float f;
          const std::uint32_t bits = Get32(d);
          std::memcpy(&f, &bits, 4);
          v->dblVal = f;
          break;
        }
        case VT_I8: case VT_UI8: case VT_CY: v->hVal = static_cast<std::int64_t>(Get64(d)); break;
        case VT_R8: case VT_DATE: {
          const std::uint64_t bits = Get64(d);
          std::memcpy(&v->dblVal, &bits, 8);
          break;
        }
        case VT_FILETIME: v->filetime = {Get32(d), Get32(d + 4)}; break;
        case VT_CLSID: v->blob.assign(d, d + 16); break;
      }
      return S_OK;
    }
    switch (v->vt) {
      case VT_EMPTY:
      case VT_NULL:
        return S_OK;
      case VT_LPWSTR: {
        if (avail < 4) return Corrupt(where() + " runs past the end of its section");
        const std::uint64_t units = Get32(d);
        if (units * 2 > avail - 4)
          return Corrupt(where() + ": a string of " + std::to_string(units) +
                         " characters runs past the end of its section");
        if (HRESULT hr = take(units * 2); Failed(hr)) return hr;
        v->pwszVal = DecodeUnits(d + 4, static_cast<std::size_t>(units));
        return S_OK;
      }
      case VT_LPSTR:
      case VT_BSTR: {
        if (avail < 4) return Corrupt(where() + " runs past the end of its section");
        const std::uint64_t bytes = Get32(d);
        if (bytes > avail - 4)
          return Corrupt(where() + ": a string of " + std::to_string(bytes) + " bytes runs past the end of its section");
        if (HRESULT hr = take(bytes); Failed(hr)) return hr;
        v->pwszVal = codePage == kCodePageUnicode ? DecodeUnits(d + 4, static_cast<std::size_t>(bytes / 2))
                                                  : DecodeCodePage(d + 4, static_cast<std::size_t>(bytes), codePage);
        return S_OK;
      }
      case VT_BLOB: {
        if (avail < 4) return Corrupt(where() + " runs past the end of its section");
        const std::uint64_t bytes = Get32(d);
        if (bytes > avail - 4)
          return Corrupt(where() + ": a blob of " + std::to_string(bytes) + " bytes runs past the end of its section");
        if (HRESULT hr = take(bytes); Failed(hr)) return hr;
        v->blob.assign(d + 4, d + 4 + bytes);
        return S_OK;
      }
      default:
        // A type this engine does not interpret: keep its bytes up to the next value.
        if (end < offset + 4 || end > size_) end = size_;
        if (HRESULT hr = take(end - offset - 4); Failed(hr)) return hr;
        v->blob.assign(d, s_ + end);
        return S_OK;
    }
  }

  HRESULT Dictionary(std::size_t offset, std::uint16_t codePage, PropertySetData* set) const {
    if (offset > size_ || size_ - offset < 4) return Corrupt("the dictionary lies outside its section");
    const std::uint32_t count = Get32(s_ + offset);
    if (count > (size_ - offset - 4) / 8)
      return Corrupt("the dictionary claims " + std::to_string(count) + " entries, more than its section can hold");
    std::size_t p = offset + 4;
    bool evenBefore = false;
    for (std::uint32_t i = 0; i < count; ++i) {
      auto where = [i] { return "dictionary entry " + std::to_string(i); };
      // Wine's ole32 pads a name whose length (null included) is even with four zero bytes
      // where none belong. No entry after the first has id 0, so zeros there are that padding.
      if (codePage == kCodePageUnicode && evenBefore && size_ - p >= 12 && Get32(s_ + p) == 0) p += 4;
      if (size_ - p < 8) return Corrupt(where() + " runs past the end of its section");
      const PROPID id = Get32(s_ + p);
      const std::uint64_t length = Get32(s_ + p + 4);
      p += 8;
      const std::uint64_t bytes = codePage == kCodePageUnicode ? length * 2 : length;
      if (bytes > size_ - p)
        return Corrupt(where() + " (property " + std::to_string(id) + ") has a name of " + std::to_string(length) +
                       (codePage == kCodePageUnicode ? " characters" : " bytes") +
                       " that runs past the end of its section");
      const auto n = static_cast<std::size_t>(length);
      std::u16string name =
          codePage == kCodePageUnicode ? DecodeUnits(s_ + p, n) : DecodeCodePage(s_ + p, n, codePage);
      p += static_cast<std::size_t>(bytes);
      if (codePage == kCodePageUnicode) p = std::min(Pad4(p), size_);
      evenBefore = length % 2 == 0;
      // A name the set already holds (for another id) cannot be looked up twice: the first
      // one stays, as ole32 resolves it.
      if (name.empty() || set->names.contains(id)) continue;
      std::u16string key = set->NameKey(name);
      if (set->idsByName.emplace(std::move(key), id).second) set->names[id] = std::move(name);
    }
    return S_OK;
  }

 private:
  const std::uint8_t* s_;
  std::size_t size_;
};

void Append16(std::vector<std::uint8_t>& out, std::uint16_t v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}
void Append32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void Append64(std::vector<std::uint8_t>& out, std::uint64_t v) {
  Append32(out, static_cast<std::uint32_t>(v));
  Append32(out, static_cast<std::uint32_t>(v >> 32));
}
void AppendPad(std::vector<std::uint8_t>& out, std::size_t from) {
  while ((out.size() - from) % 4 != 0) out.push_back(0);
}
void AppendUnits(std::vector<std::uint8_t>& out, std::u16string_view s) {
  for (char16_t c : s) Append16(out, c);
  Append16(out, 0);
}

HRESULT AppendValue(std::vector<std::uint8_t>& out, std::size_t sectionStart, PROPID id, const PROPVARIANT& v) {
  Append16(out, v.vt);
  Append16(out, 0);
  switch (v.vt) {
    case VT_EMPTY: case VT_NULL: break;
    case VT_I1: case VT_UI1: out.push_back(static_cast<std::uint8_t>(v.hVal)); break;
    case VT_I2: case VT_UI2: Append16(out, static_cast<std::uint16_t>(v.hVal)); break;
    case VT_BOOL: Append16(out, v.hVal != 0 ? 0xFFFF : 0); break;
    case VT_I4: case VT_UI4: case VT_INT: case VT_UINT: case VT_ERROR:
      Append32(out, static_cast<std::uint32_t>(v.hVal));
      break;
    case VT_R4: {
      const float f = static_cast<float>(v.dblVal);
      std::uint32_t bits;
      std::memcpy(&bits, &f, 4);
      Append32(out, bits);
      break;
    }
    case VT_I8: case VT_UI8: case VT_CY: Append64(out, static_cast<std::uint64_t>(v.hVal)); break;
    case VT_R8: case VT_DATE: {
      std::uint64_t bits;
      std::memcpy(&bits, &v.dblVal, 8);
      Append64(out, bits);
      break;
    }
    case VT_FILETIME:
      Append32(out, v.filetime.dwLowDateTime);
      Append32(out, v.filetime.dwHighDateTime);
      break;
    case VT_CLSID:
      if (v.blob.size() != 16)
        return Fail(STG_E_INVALIDPARAMETER, "property " + std::to_string(id) + ": a VT_CLSID value needs 16 bytes");
      out.insert(out.end(), v.blob.begin(), v.blob.end());
      break;
    case VT_LPWSTR:
      // The empty string too has its null: ole32 readers misread a length of 0.
      Append32(out, static_cast<std::uint32_t>(v.pwszVal.size() + 1));
      AppendUnits(out, v.pwszVal);
      break;
    case VT_LPSTR: case VT_BSTR:
      // In a code-page-1200 set these are UTF-16 too, their size counted in bytes.
      Append32(out, static_cast<std::uint32_t>((v.pwszVal.size() + 1) * 2));
      AppendUnits(out, v.pwszVal);
      break;
    case VT_BLOB:
      Append32(out, static_cast<std::uint32_t>(v.blob.size()));
      out.insert(out.end(), v.blob.begin(), v.blob.end());
      break;
    default:
      out.insert(out.end(), v.blob.begin(), v.blob.end());
      break;
  }
  AppendPad(out, sectionStart);
  return S_OK;
}

}  // namespace

bool PropertySetData::CaseSensitive() const {
  const auto it = values.find(PID_BEHAVIOR);
  return it != values.end() && ScalarSize(it->second.vt) > 0 && (it->second.hVal & 1) != 0;
}

std::u16string PropertySetData::NameKey(std::u16string_view name) const {
  return CaseSensitive() ? std::u16string(name) : UpperName(name);
}

void PropertySetData::SetName(PROPID id, std::u16string name) {
  EraseName(id);
  idsByName[NameKey(name)] = id;
  names[id] = std::move(name);
}

void PropertySetData::EraseName(PROPID id) {
  const auto it = names.find(id);
  if (it == names.end()) return;
  idsByName.erase(NameKey(it->second));
  names.erase(it);
}

PropertySetData NewPropertySet(const FMTID& fmtid, const CLSID& clsid, bool caseSensitive) {
  PropertySetData set;
  set.fmtid = fmtid;
  set.clsid = clsid;
  set.values[PID_CODEPAGE] = PROPVARIANT::Int(VT_I2, kCodePageUnicode);
  if (caseSensitive) {
    set.formatVersion = 1;
    set.values[PID_BEHAVIOR] = PROPVARIANT::Int(VT_UI4, 1);
  }
  set.dirty = true;
  return set;
}

bool IsWritableType(VARTYPE vt) {
  switch (vt) {
    case VT_EMPTY: case VT_NULL: case VT_I1: case VT_UI1: case VT_I2: case VT_UI2: case VT_BOOL:
    case VT_I4: case VT_UI4: case VT_INT: case VT_UINT: case VT_ERROR: case VT_R4: case VT_I8:
    case VT_UI8: case VT_CY: case VT_R8: case VT_DATE: case VT_FILETIME: case VT_CLSID:
    case VT_LPWSTR: case VT_LPSTR: case VT_BSTR: case VT_BLOB:
      return true;
    default:
      return false;
  }
}

HRESULT ParsePropertySet(const std::uint8_t* bytes, std::size_t size, const FMTID& fmtid, PropertySetData* set) {
  if (size < kStreamHeader + kSectionEntry)
    return BadHeader("the stream is " + std::to_string(size) + " bytes long, shorter than a property-set header");
  if (Get16(bytes) != 0xFFFE) return BadHeader("byte-order mark " + Hex32(Get16(bytes)) + " instead of 0xFFFE");
  set->formatVersion = Get16(bytes + 2);
  if (set->formatVersion > 1) return BadHeader("format version " + std::to_string(set->formatVersion));
  set->osVersion = Get32(bytes + 4);
  set->clsid = GetGuid(bytes + 8);
  const std::uint32_t sections = Get32(bytes + 24);
  if (sections == 0) return BadHeader("the stream holds no section");
  if (sections > (size - kStreamHeader) / kSectionEntry)
    return BadHeader("the stream claims " + std::to_string(sections) + " sections, more than it can hold");

  // The section of the asked format id; the first one when none carries it.
  std::size_t mine = 0;
  for (std::size_t i = 0; i < sections; ++i)
    if (GetGuid(bytes + kStreamHeader + i * kSectionEntry) == fmtid) {
      mine = i;
      break;
    }
  std::vector<std::pair<std::size_t, std::size_t>> spans;
  for (std::size_t i = 0; i < sections; ++i) {
    const std::size_t offset = Get32(bytes + kStreamHeader + i * kSectionEntry + 16);
    const std::string what = "section " + std::to_string(i);
    if (offset < kStreamHeader + sections * kSectionEntry || offset > size || size - offset < 8)
      return BadHeader(what + " starts at offset " + std::to_string(offset) + ", outside the " +
                       std::to_string(size) + "-byte stream");
    std::size_t length = Get32(bytes + offset);
    // Wine's ole32 counts the padding after the last value but leaves it unwritten: a section
    // up to three bytes short of its size is whole.
    if (length > size - offset) {
      if (length - (size - offset) > 3)
        return Corrupt(what + " claims " + std::to_string(length) + " bytes, but only " +
                       std::to_string(size - offset) + " follow it in the stream");
      length = size - offset;
    }
    if (length < 8) return Corrupt(what + " claims only " + std::to_string(length) + " bytes");
    spans.emplace_back(offset, length);
  }

  const std::uint8_t* s = bytes + spans[mine].first;
  const std::size_t sectionSize = spans[mine].second;
  set->fmtid = GetGuid(bytes + kStreamHeader + mine * kSectionEntry);
  const std::uint32_t count = Get32(s + 4);
  if (count > (sectionSize - 8) / 8)
    return Corrupt("the section claims " + std::to_string(count) + " properties, more than its " +
                   std::to_string(sectionSize) + " bytes can hold");
  std::vector<std::pair<PROPID, std::size_t>> table;
  table.reserve(count);
  for (std::uint32_t i = 0; i < count; ++i) table.emplace_back(Get32(s + 8 + 8 * i), Get32(s + 12 + 8 * i));
  std::vector<std::size_t> offsets;
  for (const auto& t : table) offsets.push_back(t.second);
  std::sort(offsets.begin(), offsets.end());
  auto nextOffset = [&](std::size_t offset) {
    const auto it = std::upper_bound(offsets.begin(), offsets.end(), offset);
    return it == offsets.end() ? sectionSize : *it;
  };

  const SectionReader reader(s, sectionSize);
  // The code page first: strings and the dictionary are read in it.
  std::uint16_t codePage = kCodePageUnicode;
  std::set<PROPID> seen;
  std::size_t budget = sectionSize;
  for (const auto& [id, offset] : table) {
    if (id != PID_CODEPAGE) continue;
    PROPVARIANT v;
    std::size_t scratch = sectionSize;
    if (HRESULT hr = reader.Value(id, offset, nextOffset(offset), codePage, &scratch, &v); Failed(hr)) return hr;
    if (v.vt == VT_I2 || v.vt == VT_UI2) codePage = static_cast<std::uint16_t>(v.hVal);
    break;
  }
  for (const auto& [id, offset] : table) {
    if (!seen.insert(id).second) continue;  // a repeated id: the first entry counts
    if (id == PID_DICTIONARY) continue;
    PROPVARIANT v;
    if (HRESULT hr = reader.Value(id, offset, nextOffset(offset), codePage, &budget, &v); Failed(hr)) return hr;
    set->values[id] = std::move(v);
  }
  // The behaviour property (case-sensitive names) decides how the dictionary is keyed.
  for (const auto& [id, offset] : table)
    if (id == PID_DICTIONARY) {
      if (HRESULT hr = reader.Dictionary(offset, codePage, set); Failed(hr)) return hr;
      break;
    }
  // Everything is held as UTF-16 now and is written back in code page 1200.
  set->values[PID_CODEPAGE] = PROPVARIANT::Int(VT_I2, kCodePageUnicode);

  for (std::size_t i = 0; i < sections; ++i) {
    if (i == mine) continue;
    const std::uint8_t* p = bytes + spans[i].first;
    set->otherSections.emplace_back(GetGuid(bytes + kStreamHeader + i * kSectionEntry),
                                    std::vector<std::uint8_t>(p, p + spans[i].second));
  }
  return S_OK;
}

HRESULT SerializePropertySet(const PropertySetData& set, std::vector<std::uint8_t>* outPtr) {
  std::vector<std::uint8_t>& out = *outPtr;
  out.clear();
  const std::size_t sections = 1 + set.otherSections.size();
  Append16(out, 0xFFFE);
  Append16(out, set.formatVersion);
  Append32(out, set.osVersion);
  out.resize(out.size() + 16);
  PutGuid(out.data() + 8, set.clsid);
  Append32(out, static_cast<std::uint32_t>(sections));
  const std::size_t tableAt = out.size();
  out.resize(out.size() + sections * kSectionEntry);

  const std::size_t start = out.size();
  PutGuid(out.data() + tableAt, set.fmtid);
  Put32(out.data() + tableAt + 16, static_cast<std::uint32_t>(start));
  const std::size_t count = set.values.size() + (set.names.empty() ? 0 : 1);
  Append32(out, 0);  // size, filled in below
  Append32(out, static_cast<std::uint32_t>(count));
  std::size_t entry = out.size();
  out.resize(out.size() + count * 8);
  auto addEntry = [&](PROPID id) {
    Put32(out.data() + entry, id);
    Put32(out.data() + entry + 4, static_cast<std::uint32_t>(out.size() - start));
    entry += 8;
  };
  if (!set.names.empty()) {
    addEntry(PID_DICTIONARY);
    Append32(out, static_cast<std::uint32_t>(set.names.size()));
    for (const auto& [id, name] : set.names) {
      Append32(out, id);
      Append32(out, static_cast<std::uint32_t>(name.size() + 1));
      AppendUnits(out, name);
      AppendPad(out, start);
    }
  }
  for (const auto& [id, v] : set.values) {
    addEntry(id);
    if (HRESULT hr = AppendValue(out, start, id, v); Failed(hr)) return hr;
  }
  if (out.size() - start > 0xFFFFFFFFu) return Fail(STG_E_DOCFILETOOLARGE, "a property set exceeds 4 GB");
  Put32(out.data() + start, static_cast<std::uint32_t>(out.size() - start));

  for (std::size_t i = 0; i < set.otherSections.size(); ++i) {
    const std::size_t at = tableAt + (i + 1) * kSectionEntry;
    const std::size_t offset = out.size();
    PutGuid(out.data() + at, set.otherSections[i].first);
    Put32(out.data() + at + 16, static_cast<std::uint32_t>(offset));
    out.insert(out.end(), set.otherSections[i].second.begin(), set.otherSections[i].second.end());
    AppendPad(out, offset);
  }
  return S_OK;
}

}  // namespace kyvex::ole::detail
