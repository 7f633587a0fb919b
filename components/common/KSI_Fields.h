// The fields of a record, listed once. Each record type (the storage file's header values, a
// processor, each SMBIOS record, a storage device) has one visiting function that names every
// value it holds, in the order the stored layout writes them:
//
//   template <class Record, class Visitor>
//   void VisitFields(Record& r, Visitor&& v) { v(TField{.Name = "Model"}, r.Model); ... }
//
// The save, the load, the reset, the JSON and the plain rows of the text report are visitors
// walking that one list, so a new value is one more line there. A visitor is called with the
// field's description and the value (const for the save, the JSON and the rows).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <type_traits>
#include <vector>

namespace kyvex {

// How JSON shows a value.
enum class TJsonStyle : std::uint8_t {
  Value,        // the value alone
  Text,         // the value, and beside it its text under Name + TextSuffix (left out when empty)
  Enumeration,  // {"Value": ordinal, "Name": the value's own name, "Text": its text}
  Set,          // the names of the elements present, as an array
};

// The stored name of a value the storage file does not hold.
inline constexpr const char* kNotStored = "";

struct TField {
  // The property's name: the JSON key, and the stored name unless Stored says otherwise. A
  // dot nests in JSON ("Geometry.Cylinders" is "Cylinders" inside "Geometry").
  const char* Name;
  // Its name in the stored layout where that differs from Name; kNotStored for a value the
  // file does not hold (it is shown and reset, never saved or loaded).
  const char* Stored = nullptr;
  // A value the stored layout keeps under a property id instead of a name (the published
  // ids of the summary information); 0 for a named one.
  std::uint32_t StoredId = 0;
  // A double that is a date-time (days since 1899-12-30): stored as a FILETIME, shown as a
  // calendar time beside the number.
  bool DateTime = false;
  // The text table: the text of a value (a code's name), empty where there is none.
  std::string (*Text)(std::uint64_t value) = nullptr;
  TJsonStyle Json = TJsonStyle::Value;
  const char* TextSuffix = "Text";
  // Enumerations: the value names by ordinal. Sets: the element names by bit.
  std::span<const char* const> Names = {};
  // Sets: the element bits a load keeps (all others are dropped); 0 keeps the value's width.
  std::uint32_t SetBits = 0;
  // Enumerations: a stored ordinal past Names loads as this one, so that a damaged or foreign
  // file cannot give the type a value it does not have. Negative: loaded as stored.
  int Fallback = -1;
  // Numbers and enumerations: the value a reset gives (an enumeration's "unknown" member).
  std::int64_t Initial = 0;
  // Texts: the most bytes a loaded text keeps (cut at a character boundary); 0 for no limit.
  std::uint16_t MaxText = 0;
  // The text report's plain row: its label, or none where the report's own layout shows the
  // value. OmitEmpty leaves the row out for an empty text or a zero.
  const char* Label = nullptr;
  bool OmitEmpty = false;
  // A coded value's row shows its text and the code ("Disk (7)"); otherwise the text alone.
  bool RowWithCode = false;
  // Records of one thing found by two routes are merged: a value marked so is taken from the
  // other record where this one has none (empty, zero, false). Values without the mark are
  // merged by the record's own rules, or not at all.
  bool MergeFill = false;

  const char* StoredName() const { return Stored ? Stored : Name; }
  bool IsStored() const { return StoredId != 0 || !Stored || *Stored; }
};

// The elements bits 0..last of a set.
constexpr std::uint32_t SetElements(unsigned last) { return (2u << last) - 1u; }

// Resets every value a record's field list names: texts empty, numbers and enumerations to
// the field's initial value, everything else to the value of a new object of its type.
struct TFieldReset {
  template <class T>
  void operator()(const TField& f, T& value) const {
    if constexpr (std::is_arithmetic_v<T> || std::is_enum_v<T>)
      value = static_cast<T>(f.Initial);
    else
      value = T{};
  }
};

// Takes every value marked MergeFill that `target` lacks from `source`. `visit(record,
// visitor)` walks the record type's field list.
template <class Record, class Visit>
void FillEmptyFields(Record& target, const Record& source, Visit visit) {
  std::vector<const void*> from;
  visit(source, [&from](const TField&, const auto& value) { from.push_back(&value); });
  std::size_t i = 0;
  visit(target, [&from, &i](const TField& f, auto& value) {
    using T = std::remove_cvref_t<decltype(value)>;
    const T& other = *static_cast<const T*>(from[i++]);
    if (f.MergeFill && value == T{}) value = other;
  });
}

}  // namespace kyvex
