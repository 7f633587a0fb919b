// Kyvex_SS: the storage-file container. Two small wrappers keep a storage and a property set
// of a compound file alive while a component saves or loads, and typed routines write and
// read one property at a time, by name or by id.
//
// Ownership: OpenSubStorage, OpenPropertySet and CreatePropertySet hand the caller a wrapper
// that the caller frees (innermost first: property sets, then sub-storages, then the root).
// A root wrapper is made by the caller around the storage StgOpenStorage or StgCreateDocfile
// gave. The root wrapper commits the file when it is freed; a root freed while an exception
// unwinds discards the unfinished save instead, so that the file keeps its previous content.
// A commit failure cannot leave a destructor: call Commit() before freeing the root to have
// it raised.
//
// Reading with a routine of another kind than the stored value (files from other writers may
// hold any type):
// - strings are read from VT_LPWSTR, VT_LPSTR and VT_BSTR only;
// - integers from every integer type (VT_I1 to VT_I8, VT_UI1 to VT_UI8, VT_INT, VT_UINT) whose
//   value fits a signed 64-bit integer, from VT_BOOL as 1 or 0, and from VT_R4 and VT_R8 when
//   the value is a whole number within range;
// - doubles from VT_R8 and VT_R4, and from the integer types when the value converts exactly
//   (magnitude at most 2^53);
// - date-times from VT_FILETIME, and from VT_DATE (the same day count as a date-time);
// anything else reads as the empty value of the kind (empty string, 0, 0.0, date-time 0), as
// an absent property does.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "compound/Ole.h"

namespace kyvex {

// Days since 1899-12-30, the time of day as the fraction. Before 1899-12-30 the day count is
// negative and the fraction still adds time of day: -1.25 is 1899-12-29 06:00.
using TDateTime = double;

inline constexpr ole::FMTID FMTID_SummaryInformation = ole::FMTID_SummaryInformation;
inline constexpr ole::FMTID FMTID_DocSummaryInformation = ole::FMTID_DocSummaryInformation;

// The container's error: a failing status of the storage engine.
class EOleSysError : public std::runtime_error {
 public:
  // The message names the status ("... (0x80030020)"), then what was being done (context) and
  // what the engine found (detail), where given.
  EOleSysError(ole::HRESULT code, const std::string& context = {}, const std::string& detail = {});
  ole::HRESULT ErrorCode() const noexcept { return code_; }

 private:
  ole::HRESULT code_;
};

// Raises EOleSysError for a failing status, with the engine's explanation of it.
void OleCheck(ole::HRESULT hr, const std::string& context = {});

class TStoragePropertySet;

class TStructuredSTorage {
 public:
  // parent: the wrapper this storage was opened from, or none for a root.
  TStructuredSTorage(TStructuredSTorage* parent, std::shared_ptr<ole::IStorage> storage);
  ~TStructuredSTorage();
  TStructuredSTorage(const TStructuredSTorage&) = delete;
  TStructuredSTorage& operator=(const TStructuredSTorage&) = delete;

  // 1 for the wrapper itself plus 1 for every live wrapper opened from it.
  std::int32_t RefCount() const { return refCount_; }
  const std::shared_ptr<ole::IStorage>& Storage() const { return storage_; }
  TStructuredSTorage* Parent() const { return parent_; }
  bool IsChild() const { return isChild_; }
  // The names from the root down to this storage, "/" between them; empty for a root.
  const std::string& Path() const { return path_; }

  // Opens (or, with createIfMissing, creates) a storage below this one. The name may be a
  // path of names separated by "\"; the levels between are freed together with the last one.
  // Raises EOleSysError when the storage cannot be opened or created (absent without
  // createIfMissing, or the name of a stream).
  std::unique_ptr<TStructuredSTorage> OpenSubStorage(const std::string& name, std::uint32_t mode,
                                                     bool createIfMissing);

  // Whether an element (storage or stream) of that name is present, letters compared without
  // regard to case. One leading "\" is ignored; an empty name gives false.
  bool ElementExists(const std::string& name);

  // The property set of that format id, or none when it is absent (or unreadable) and not to
  // be created; created with class id GUID_NULL and flags 0 when missing and createIfMissing.
  std::unique_ptr<TStoragePropertySet> OpenPropertySet(const ole::FMTID& fmtid, std::uint32_t mode,
                                                       bool createIfMissing, const std::string& setName = {});

  // Creates the set (mode should carry STGM_CREATE to replace one present); a set name that
  // is not blank is written as the name of property 0.
  std::unique_ptr<TStoragePropertySet> CreatePropertySet(const std::string& setName, const ole::FMTID& fmtid,
                                                         const ole::CLSID& clsid, std::uint32_t flags,
                                                         std::uint32_t mode);

  // Writes the file now; raises EOleSysError when that fails.
  void Commit();

 private:
  friend class TStoragePropertySet;
  // Applied to this wrapper when a wrapper or property set opened from it goes: one reference
  // less, or, for a child already at 0 (a level between the root and a path's last storage),
  // the end of this wrapper.
  void Release();
  void Forget(const void* dependant);

  std::int32_t refCount_ = 1;
  std::shared_ptr<ole::IStorage> storage_;
  std::string path_;
  TStructuredSTorage* parent_;
  bool isChild_;
  int uncaughtAtCreation_;
  // Wrappers opened from this one and still alive: they lose their parent if this one is
  // freed out of order, instead of keeping a dangling pointer.
  std::vector<TStructuredSTorage*> childWrappers_;
  std::vector<TStoragePropertySet*> propertySets_;
};

class TStoragePropertySet {
 public:
  TStoragePropertySet(std::shared_ptr<ole::IPropertyStorage> propertyStorage, TStructuredSTorage* owner);
  ~TStoragePropertySet();
  TStoragePropertySet(const TStoragePropertySet&) = delete;
  TStoragePropertySet& operator=(const TStoragePropertySet&) = delete;

  const std::shared_ptr<ole::IPropertyStorage>& PropertyStorage() const { return propertyStorage_; }
  TStructuredSTorage* Owner() const { return owner_; }

 private:
  friend class TStructuredSTorage;
  std::shared_ptr<ole::IPropertyStorage> propertyStorage_;
  TStructuredSTorage* owner_;
};

// Typed values. Writes raise EOleSysError on failure (also when no property set is given);
// reads never raise and give the empty value for an absent property, an absent set (none) or
// a value of another kind (see the top of this header). New names get ids from 2 upward, the
// lowest one free.
void WriteStringProperty(const std::shared_ptr<ole::IPropertyStorage>& ps, const std::string& name,
                         const std::string& value);
void WriteIntegerProperty(const std::shared_ptr<ole::IPropertyStorage>& ps, const std::string& name,
                          std::int64_t value);
void WriteDoubleProperty(const std::shared_ptr<ole::IPropertyStorage>& ps, const std::string& name, double value);
void WriteStringPropertyById(const std::shared_ptr<ole::IPropertyStorage>& ps, std::uint32_t id,
                             const std::string& value);
void WriteDateTimePropertyById(const std::shared_ptr<ole::IPropertyStorage>& ps, std::uint32_t id, TDateTime value);

std::string ReadStringProperty(const std::shared_ptr<ole::IPropertyStorage>& ps, const std::string& name);
std::int64_t ReadIntegerProperty(const std::shared_ptr<ole::IPropertyStorage>& ps, const std::string& name);
double ReadDoubleProperty(const std::shared_ptr<ole::IPropertyStorage>& ps, const std::string& name);
std::string ReadStringPropertyById(const std::shared_ptr<ole::IPropertyStorage>& ps, std::uint32_t id);
TDateTime ReadDateTimePropertyById(const std::shared_ptr<ole::IPropertyStorage>& ps, std::uint32_t id);

// The calendar time of a date-time as a FILETIME, with no time-zone step; milliseconds are
// rounded. A date-time before 1601-01-01 (which FILETIME cannot hold) gives FILETIME 0, the
// first instant it can; one past the FILETIME range gives the last; NaN gives 0.
ole::FILETIME DateTimeToFileTime(TDateTime value);
// The FILETIME's calendar time as a date-time, to the millisecond; a FILETIME beyond the
// range Windows converts (high bit set) gives 0.
TDateTime FileTimeToDateTime(const ole::FILETIME& ft);

// A date-time as "YYYY-MM-DD HH:MM:SS" (empty for 0, for a value that is not finite and for
// one more than about 8000 years from 1899).
std::string FormatDateTime(TDateTime value);

// Whether the file exists, holds data and is not a storage file: a save would replace it, so
// the programs refuse to save there (an empty file has nothing to lose).
bool HoldsOtherData(const std::string& FileName);

}  // namespace kyvex
