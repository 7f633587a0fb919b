#include "common/KSI_Persist.h"

#include "platform/Text.h"

namespace kyvex {

namespace {

std::string ElementPath(const TStructuredSTorage& parent, const std::string& name) {
  return parent.Path().empty() ? name : parent.Path() + "/" + name;
}

}  // namespace

std::unique_ptr<TStructuredSTorage> OpenStorageIfPresent(TStructuredSTorage& parent, const std::string& name) {
  if (!parent.ElementExists(name)) return nullptr;
  return parent.OpenSubStorage(name, kStorageLoadMode, false);
}

std::unique_ptr<TStoragePropertySet> OpenValuesIfPresent(TStructuredSTorage& storage, const ole::FMTID& fmtid) {
  const std::string streamName = text::Utf16ToUtf8(ole::FmtIdToPropStgName(fmtid));
  if (!storage.ElementExists(streamName)) return nullptr;
  // Asked directly rather than through OpenPropertySet, which takes an unreadable set for an
  // absent one: the engine's own reason is what the error should carry.
  std::shared_ptr<ole::IPropertySetStorage> sets;
  OleCheck(storage.Storage()->QueryPropertySetStorage(&sets), "reading " + ElementPath(storage, streamName.substr(1)));
  std::shared_ptr<ole::IPropertyStorage> ps;
  OleCheck(sets->Open(fmtid, kStorageLoadMode, &ps), "reading " + ElementPath(storage, streamName.substr(1)));
  return std::make_unique<TStoragePropertySet>(std::move(ps), &storage);
}

void TFieldWriter::operator()(const TField& f, const std::string& v) const {
  if (f.StoredId)
    WriteStringPropertyById(ps, f.StoredId, v);
  else if (f.IsStored())
    WriteStringProperty(ps, f.StoredName(), v);
}

void TFieldWriter::operator()(const TField& f, const double& v) const {
  if (f.StoredId && f.DateTime)
    WriteDateTimePropertyById(ps, f.StoredId, v);
  else if (f.IsStored())
    WriteDoubleProperty(ps, f.StoredName(), v);
}

void TFieldWriter::operator()(const TField& f, const bool& v) const {
  if (f.IsStored()) WriteIntegerProperty(ps, f.StoredName(), v ? 1 : 0);
}

void TFieldWriter::operator()(const TField& f, const char& v) const {
  if (f.IsStored()) WriteStringProperty(ps, f.StoredName(), v ? std::string(1, v) : std::string());
}

void TFieldWriter::WriteInteger(const TField& f, std::int64_t v) const { WriteIntegerProperty(ps, f.StoredName(), v); }

void TFieldReader::operator()(const TField& f, std::string& v) const {
  if (!f.IsStored()) return;
  v = f.StoredId ? ReadStringPropertyById(ps, f.StoredId) : ReadStringProperty(ps, f.StoredName());
  if (f.MaxText) v = text::CutUtf8(v, f.MaxText);
}

void TFieldReader::operator()(const TField& f, double& v) const {
  if (f.StoredId && f.DateTime)
    v = ReadDateTimePropertyById(ps, f.StoredId);
  else if (f.IsStored())
    v = ReadDoubleProperty(ps, f.StoredName());
}

void TFieldReader::operator()(const TField& f, bool& v) const {
  if (f.IsStored()) v = ReadIntegerProperty(ps, f.StoredName()) == 1;
}

// A drive letter was a single byte of the system's code page before it became UTF-16, so a
// letter outside ASCII is mapped back to that byte rather than cut out of its UTF-8 form.
void TFieldReader::operator()(const TField& f, char& v) const {
  if (!f.IsStored()) return;
  const std::string stored = ReadStringProperty(ps, f.StoredName());
  v = 0;
  if (stored.empty()) return;
  std::size_t pos = 0;
  char32_t c = 0;
  if (!text::DecodeUtf8(stored, pos, c)) {
    v = stored[0];
  } else if (c < 0x80) {
    v = static_cast<char>(c);
  } else {
    v = '?';  // what the platform's code-page conversion puts for a character it lacks
    for (unsigned b = 0x80; b <= 0xFF; ++b) {
      if (text::Cp1252ToUnicode(static_cast<unsigned char>(b)) != c) continue;
      v = static_cast<char>(b);
      break;
    }
  }
}

std::uint64_t TFieldReader::ReadBits(const TField& f) const {
  const auto raw = static_cast<std::uint64_t>(ReadIntegerProperty(ps, f.StoredName()));
  return f.SetBits ? raw & f.SetBits : raw;
}

}  // namespace kyvex
