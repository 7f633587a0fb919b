#include "report/FieldReport.h"

#include <cstring>

#include "common/Kyvex_SS.h"

namespace kyvex::report {

using Json = nlohmann::ordered_json;

Json& TFieldJson::Slot(const TField& f, const char* suffix) const {
  Json* at = &into_;
  const char* name = f.Name;
  for (const char* dot; (dot = std::strchr(name, '.')) != nullptr; name = dot + 1) {
    Json& inner = (*at)[std::string(name, dot)];
    if (!inner.is_object()) inner = Json::object();
    at = &inner;
  }
  return (*at)[std::string(name) + suffix];
}

void TFieldJson::Text(const TField& f, const std::string& v) const { Slot(f) = Readable(v); }

void TFieldJson::List(const TField& f, const std::vector<std::string>& v) const {
  Json list = Json::array();
  for (const auto& text : v) list.push_back(Readable(text));
  Slot(f) = list;
}

void TFieldJson::Flag(const TField& f, bool v) const { Slot(f) = v; }

void TFieldJson::Letter(const TField& f, char v) const { Slot(f) = LetterText(v); }

void TFieldJson::Real(const TField& f, double v) const {
  Slot(f) = v;
  if (f.DateTime) Slot(f, f.TextSuffix) = FormatDateTime(v);
}

void TFieldJson::Number(const TField& f, std::int64_t v) const { Slot(f) = v; }

void TFieldJson::Code(const TField& f, std::uint64_t v) const {
  switch (f.Json) {
    case TJsonStyle::Value:
      Slot(f) = v;
      return;
    case TJsonStyle::Text: {
      Slot(f) = v;
      const std::string text = f.Text ? f.Text(v) : std::string();
      if (!text.empty()) Slot(f, f.TextSuffix) = text;
      return;
    }
    case TJsonStyle::Enumeration: {
      Json e = {{"Value", v}};
      if (v < f.Names.size()) e["Name"] = f.Names[v];
      if (f.Text) e["Text"] = f.Text(v);
      Slot(f) = e;
      return;
    }
    case TJsonStyle::Set: {
      Json names = Json::array();
      for (std::size_t n = 0; n < f.Names.size() && n < 64; ++n)
        if ((v >> n) & 1u) names.push_back(f.Names[n]);
      Slot(f) = names;
      return;
    }
  }
}

void TFieldRows::Add(const TField& f, const std::string& text, bool empty) const {
  if (!f.Label || (empty && f.OmitEmpty)) return;
  into_.push_back({f.Label, text});
}

void TFieldRows::Text(const TField& f, const std::string& v) const {
  Add(f, v.empty() ? "-" : Shown(v), v.empty());
}

// One row per text, each under the label: mount points may hold commas and spaces, so a
// joined row could not be read apart.
void TFieldRows::List(const TField& f, const std::vector<std::string>& v) const {
  if (v.empty()) Add(f, "-", true);
  for (const auto& text : v) Add(f, Shown(text), false);
}

void TFieldRows::Flag(const TField& f, bool v) const { Add(f, v ? "yes" : "no", !v); }

void TFieldRows::Letter(const TField& f, char v) const {
  Add(f, v ? LetterText(v) : "-", v == 0);
}

void TFieldRows::Real(const TField& f, double v) const {
  Add(f, f.DateTime ? FormatDateTime(v) : std::to_string(v), v == 0);
}

void TFieldRows::Code(const TField& f, std::uint64_t v) const {
  std::string text = f.Text ? f.Text(v) : std::string();
  if (text.empty() && f.Json == TJsonStyle::Set) {
    for (std::size_t n = 0; n < f.Names.size() && n < 64; ++n)
      if ((v >> n) & 1u) text += (text.empty() ? "" : ", ") + std::string(f.Names[n]);
    if (text.empty()) text = "none";
  } else if (f.RowWithCode) {
    text = (text.empty() ? std::string() : text + " ") + "(" + std::to_string(v) + ")";
  } else if (text.empty()) {
    text = std::to_string(v);
  }
  Add(f, text, v == 0);
}

void TFieldRows::Number(const TField& f, std::int64_t v) const { Add(f, std::to_string(v), v == 0); }

}  // namespace kyvex::report
