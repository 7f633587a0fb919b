// The property-set stream (MS-OLEPS): parsing into a set of values and names, and writing a
// set the way Windows writes one (code page 1200, dictionary lengths in UTF-16 units).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "compound/Ole.h"

namespace kyvex::ole::detail {

struct PropertySetData {
  std::uint16_t formatVersion = 0;
  std::uint32_t osVersion = 0x00020006;  // Win32, 6.0; readers ignore it
  CLSID clsid;
  FMTID fmtid;
  // Every value by id, the code page (1), locale and behaviour included. Text of every
  // string type is held as UTF-16, whatever the code page of the stream it came from, and
  // the set is written back in code page 1200.
  std::map<PROPID, PROPVARIANT> values;
  std::map<PROPID, std::u16string> names;
  std::unordered_map<std::u16string, PROPID> idsByName;  // keyed by NameKey()
  // Further sections of the stream (the user-defined set of DocumentSummaryInformation, for
  // one), carried over byte for byte.
  std::vector<std::pair<FMTID, std::vector<std::uint8_t>>> otherSections;
  bool dirty = false;

  bool CaseSensitive() const;
  std::u16string NameKey(std::u16string_view name) const;
  void SetName(PROPID id, std::u16string name);
  void EraseName(PROPID id);
};

PropertySetData NewPropertySet(const FMTID& fmtid, const CLSID& clsid, bool caseSensitive);

// Fails with STG_E_INVALIDHEADER (stream header) or STG_E_DOCFILECORRUPT (section contents),
// with LastErrorText telling what was wrong.
HRESULT ParsePropertySet(const std::uint8_t* bytes, std::size_t size, const FMTID& fmtid, PropertySetData* set);
HRESULT SerializePropertySet(const PropertySetData& set, std::vector<std::uint8_t>* out);

// Whether a caller may write a value of this type.
bool IsWritableType(VARTYPE vt);

}  // namespace kyvex::ole::detail
