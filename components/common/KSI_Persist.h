// What every component's save and load share: the open modes, opening an element of a file
// being loaded (a missing one is told from a damaged one), and writing and reading the values
// a field list names.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>

#include "common/KSI_Fields.h"
#include "common/Kyvex_SS.h"

namespace kyvex {

inline constexpr std::uint32_t kStorageSaveMode = ole::STGM_READWRITE | ole::STGM_SHARE_EXCLUSIVE;  // 0x12
inline constexpr std::uint32_t kStorageLoadMode = ole::STGM_READ | ole::STGM_SHARE_EXCLUSIVE;       // 0x10

// A storage below `parent`, for a load: none when the file holds no element of that name (a
// missing element is not an error); the container error, naming the element, when the file
// holds one that cannot be opened as a storage (damaged, or a stream of that name).
std::unique_ptr<TStructuredSTorage> OpenStorageIfPresent(TStructuredSTorage& parent, const std::string& name);

// The property set `fmtid` of `storage`, for a load: none when the storage has none; the
// container error, naming the element, when the set is there but cannot be read.
std::unique_ptr<TStoragePropertySet> OpenValuesIfPresent(TStructuredSTorage& storage,
                                                         const ole::FMTID& fmtid = FMTID_DocSummaryInformation);

// Writes each stored value of a field list, by name or by property id: texts as strings,
// doubles as doubles (a date-time by id as a FILETIME), a Boolean as 1 or 0, a drive letter (char) as a one-letter string, every other value as a 64-bit
// integer, signed ones sign-extended, unsigned ones and enumerations zero-extended.
struct TFieldWriter {
  std::shared_ptr<ole::IPropertyStorage> ps;

  void operator()(const TField& f, const std::string& v) const;
  void operator()(const TField& f, const double& v) const;
  void operator()(const TField& f, const bool& v) const;
  void operator()(const TField& f, const char& v) const;
  // Lists of texts are values the stored layout does not hold.
  void operator()(const TField&, const std::vector<std::string>&) const {}
  template <class T>
    requires(std::is_integral_v<T> || std::is_enum_v<T>)
  void operator()(const TField& f, const T& v) const {
    if (!f.IsStored()) return;
    if constexpr (std::is_enum_v<T>) {
      WriteInteger(f, static_cast<std::int64_t>(static_cast<std::uint64_t>(static_cast<std::underlying_type_t<T>>(v))));
    } else if constexpr (std::is_signed_v<T>) {
      WriteInteger(f, static_cast<std::int64_t>(v));
    } else {
      WriteInteger(f, static_cast<std::int64_t>(static_cast<std::uint64_t>(v)));
    }
  }

 private:
  void WriteInteger(const TField& f, std::int64_t v) const;
};

// Reads each stored value of a field list back. A value missing from the set (or no set at
// all: `ps` empty) reads as the empty value of its kind. Integers keep the low bits of their
// own width (a set only its element bits), a Boolean is true only for a stored 1, a text is
// cut to the field's limit, and an enumeration's ordinal past its names reads as the field's
// fallback. Values not in the stored layout are left as they are.
struct TFieldReader {
  std::shared_ptr<ole::IPropertyStorage> ps;

  void operator()(const TField& f, std::string& v) const;
  void operator()(const TField& f, double& v) const;
  void operator()(const TField& f, bool& v) const;
  void operator()(const TField& f, char& v) const;
  void operator()(const TField&, std::vector<std::string>&) const {}
  template <class T>
    requires(std::is_integral_v<T> || std::is_enum_v<T>)
  void operator()(const TField& f, T& v) const {
    if (!f.IsStored()) return;
    const std::uint64_t raw = ReadBits(f);
    if constexpr (std::is_enum_v<T>) {
      using U = std::underlying_type_t<T>;
      const auto ordinal = static_cast<U>(raw);
      if (f.Fallback >= 0 && !f.Names.empty() && static_cast<std::uint64_t>(ordinal) >= f.Names.size())
        v = static_cast<T>(f.Fallback);
      else
        v = static_cast<T>(ordinal);
    } else if constexpr (std::is_signed_v<T>) {
      // The low bits carry the sign, so that a stored -1 of any width reads as -1.
      v = static_cast<T>(static_cast<std::make_unsigned_t<T>>(raw));
    } else {
      v = static_cast<T>(raw);
    }
  }

 private:
  // The stored integer's bits, a set's masked to its elements.
  std::uint64_t ReadBits(const TField& f) const;
};

}  // namespace kyvex
