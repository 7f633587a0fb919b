// The report's two walks over a record's field list: every value into JSON, and the values
// the text report shows as plain rows.
#pragma once

#include <string>
#include <type_traits>

#include "common/KSI_Fields.h"
#include "report/Report.h"

namespace kyvex::report {

// Hands each value of a field list to the visitor's handler for its kind: Text, List (of
// texts), Flag (a Boolean), Letter (a drive letter), Real, Code (unsigned numbers and
// enumerations) or Number (signed numbers).
template <class Visitor>
struct TFieldKinds {
  void operator()(const TField& f, const std::string& v) const { Self().Text(f, v); }
  void operator()(const TField& f, const std::vector<std::string>& v) const { Self().List(f, v); }
  void operator()(const TField& f, const bool& v) const { Self().Flag(f, v); }
  void operator()(const TField& f, const char& v) const { Self().Letter(f, v); }
  void operator()(const TField& f, const double& v) const { Self().Real(f, v); }
  template <class T>
    requires(std::is_integral_v<T> || std::is_enum_v<T>)
  void operator()(const TField& f, const T& v) const {
    if constexpr (std::is_enum_v<T>)
      Self().Code(f, static_cast<std::uint64_t>(static_cast<std::underlying_type_t<T>>(v)));
    else if constexpr (std::is_signed_v<T>)
      Self().Number(f, static_cast<std::int64_t>(v));
    else
      Self().Code(f, static_cast<std::uint64_t>(v));
  }

 private:
  const Visitor& Self() const { return static_cast<const Visitor&>(*this); }
};

// Puts each value under its field's name into a JSON object: texts as UTF-8 (bytes that are
// not are read as Windows-1252), a drive letter as a one-letter text, numbers as numbers, and
// beside or around them what the field's JSON style asks for (see TJsonStyle).
class TFieldJson : public TFieldKinds<TFieldJson> {
 public:
  explicit TFieldJson(nlohmann::ordered_json& into) : into_(into) {}

  void Text(const TField& f, const std::string& v) const;
  void List(const TField& f, const std::vector<std::string>& v) const;
  void Flag(const TField& f, bool v) const;
  void Letter(const TField& f, char v) const;
  void Real(const TField& f, double v) const;
  void Code(const TField& f, std::uint64_t v) const;
  void Number(const TField& f, std::int64_t v) const;

 private:
  // The place of the field's value: a dotted name nests.
  nlohmann::ordered_json& Slot(const TField& f, const char* suffix = "") const;
  nlohmann::ordered_json& into_;
};

// One record's fields as JSON.
template <class Record, class Visit>
nlohmann::ordered_json FieldsJson(const Record& r, Visit visit) {
  nlohmann::ordered_json j = nlohmann::ordered_json::object();
  visit(r, TFieldJson(j));
  return j;
}

// Adds a row for each field that has a label: a text as it is ("-" for an empty one), a list
// of texts one row per text, a Boolean as yes or no, a coded value by its text, a number in
// decimal. A field marked OmitEmpty gives no row for an empty text or a zero.
class TFieldRows : public TFieldKinds<TFieldRows> {
 public:
  explicit TFieldRows(Lines& into) : into_(into) {}

  void Text(const TField& f, const std::string& v) const;
  void List(const TField& f, const std::vector<std::string>& v) const;
  void Flag(const TField& f, bool v) const;
  void Letter(const TField& f, char v) const;
  void Real(const TField& f, double v) const;
  void Code(const TField& f, std::uint64_t v) const;
  void Number(const TField& f, std::int64_t v) const;

 private:
  void Add(const TField& f, const std::string& text, bool empty) const;
  Lines& into_;
};

}  // namespace kyvex::report
