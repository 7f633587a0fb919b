// Structured storage of our own: compound files (MS-CFB, version 3) and property sets
// (MS-OLEPS), behind interfaces shaped like ole32's IStorage, IPropertySetStorage and
// IPropertyStorage, so that the storage-file code reads like the Windows code it mirrors and
// runs the same on every platform.
//
// How this differs from ole32, on purpose:
// - Interfaces live as long as a std::shared_ptr holds them. Releasing the last reference to
//   a file's root storage closes the file; storages and property sets opened below it answer
//   STG_E_REVERTED after that.
// - A file is read whole when it is opened and every change is kept in memory. A write-mode
//   root writes the complete new file beside the old one and replaces the old one atomically
//   on Commit() and again when the root is released, so a process that dies during a save
//   leaves the previous file as it was. Commit() reports a failed write; the release path
//   cannot, which is why callers that care commit explicitly first.
// - A file is held exclusively for as long as it is open, whatever the sharing flags say: a
//   second open of the same file, in this process or another, gets STG_E_SHAREVIOLATION.
// - Strings are owned std::u16string values; nothing needs CoTaskMemFree.
//
// Status values are ole32's. When a call fails for a reason worth telling (a damaged file,
// mostly), LastErrorText() says what was wrong, in the manner of ole32's error info.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kyvex::ole {

using HRESULT = std::int32_t;
using ULONG = std::uint32_t;
using DWORD = std::uint32_t;
using PROPID = std::uint32_t;
using VARTYPE = std::uint16_t;

// Windows' headers define many of these names as macros. The guards let this header live in
// a translation unit that has included <windows.h> before it (the macros then stand for the
// same values).
#ifndef S_OK
inline constexpr HRESULT S_OK = 0;
#endif
#ifndef S_FALSE
inline constexpr HRESULT S_FALSE = 1;
#endif
#define KYVEX_OLE_STATUS(name, value) inline constexpr HRESULT name = static_cast<HRESULT>(value##u);
#ifndef E_NOTIMPL
KYVEX_OLE_STATUS(E_NOTIMPL, 0x80004001)
#endif
#ifndef E_POINTER
KYVEX_OLE_STATUS(E_POINTER, 0x80004003)
#endif
#ifndef E_FAIL
KYVEX_OLE_STATUS(E_FAIL, 0x80004005)
#endif
#ifndef E_OUTOFMEMORY
KYVEX_OLE_STATUS(E_OUTOFMEMORY, 0x8007000E)
#endif
#ifndef E_INVALIDARG
KYVEX_OLE_STATUS(E_INVALIDARG, 0x80070057)
#endif
#ifndef STG_E_INVALIDFUNCTION
KYVEX_OLE_STATUS(STG_E_INVALIDFUNCTION, 0x80030001)
#endif
#ifndef STG_E_FILENOTFOUND
KYVEX_OLE_STATUS(STG_E_FILENOTFOUND, 0x80030002)
#endif
#ifndef STG_E_PATHNOTFOUND
KYVEX_OLE_STATUS(STG_E_PATHNOTFOUND, 0x80030003)
#endif
#ifndef STG_E_ACCESSDENIED
KYVEX_OLE_STATUS(STG_E_ACCESSDENIED, 0x80030005)
#endif
#ifndef STG_E_INSUFFICIENTMEMORY
KYVEX_OLE_STATUS(STG_E_INSUFFICIENTMEMORY, 0x80030008)
#endif
#ifndef STG_E_INVALIDPOINTER
KYVEX_OLE_STATUS(STG_E_INVALIDPOINTER, 0x80030009)
#endif
#ifndef STG_E_WRITEFAULT
KYVEX_OLE_STATUS(STG_E_WRITEFAULT, 0x8003001D)
#endif
#ifndef STG_E_READFAULT
KYVEX_OLE_STATUS(STG_E_READFAULT, 0x8003001E)
#endif
#ifndef STG_E_SHAREVIOLATION
KYVEX_OLE_STATUS(STG_E_SHAREVIOLATION, 0x80030020)
#endif
#ifndef STG_E_FILEALREADYEXISTS
KYVEX_OLE_STATUS(STG_E_FILEALREADYEXISTS, 0x80030050)
#endif
#ifndef STG_E_INVALIDPARAMETER
KYVEX_OLE_STATUS(STG_E_INVALIDPARAMETER, 0x80030057)
#endif
#ifndef STG_E_MEDIUMFULL
KYVEX_OLE_STATUS(STG_E_MEDIUMFULL, 0x80030070)
#endif
#ifndef STG_E_INVALIDHEADER
KYVEX_OLE_STATUS(STG_E_INVALIDHEADER, 0x800300FB)
#endif
#ifndef STG_E_INVALIDNAME
KYVEX_OLE_STATUS(STG_E_INVALIDNAME, 0x800300FC)
#endif
#ifndef STG_E_INVALIDFLAG
KYVEX_OLE_STATUS(STG_E_INVALIDFLAG, 0x800300FF)
#endif
#ifndef STG_E_REVERTED
KYVEX_OLE_STATUS(STG_E_REVERTED, 0x80030102)
#endif
#ifndef STG_E_DOCFILECORRUPT
KYVEX_OLE_STATUS(STG_E_DOCFILECORRUPT, 0x80030109)
#endif
#ifndef STG_E_DOCFILETOOLARGE
KYVEX_OLE_STATUS(STG_E_DOCFILETOOLARGE, 0x80030111)
#endif
#undef KYVEX_OLE_STATUS

constexpr bool Succeeded(HRESULT hr) { return hr >= 0; }
constexpr bool Failed(HRESULT hr) { return hr < 0; }

// The platform's text for a status, e.g. "The file is already in use." (English only).
std::string StatusText(HRESULT hr);

// What was wrong when the last failing call of this thread had more to say than its status
// (for example "directory sector chain loops at sector 7"); empty otherwise. Every call into
// this engine clears it first.
const std::string& LastErrorText();

// Access and sharing modes (STGM).
#define KYVEX_OLE_FLAG(name, value) inline constexpr DWORD name = value;
#ifndef STGM_READ
KYVEX_OLE_FLAG(STGM_READ, 0x00000000)
KYVEX_OLE_FLAG(STGM_WRITE, 0x00000001)
KYVEX_OLE_FLAG(STGM_READWRITE, 0x00000002)
KYVEX_OLE_FLAG(STGM_SHARE_EXCLUSIVE, 0x00000010)
KYVEX_OLE_FLAG(STGM_SHARE_DENY_WRITE, 0x00000020)
KYVEX_OLE_FLAG(STGM_SHARE_DENY_READ, 0x00000030)
KYVEX_OLE_FLAG(STGM_SHARE_DENY_NONE, 0x00000040)
KYVEX_OLE_FLAG(STGM_CREATE, 0x00001000)
KYVEX_OLE_FLAG(STGM_TRANSACTED, 0x00010000)
KYVEX_OLE_FLAG(STGM_DIRECT, 0x00000000)
KYVEX_OLE_FLAG(STGM_FAILIFTHERE, 0x00000000)
#endif

// Property-set flags.
#ifndef PROPSETFLAG_DEFAULT
KYVEX_OLE_FLAG(PROPSETFLAG_DEFAULT, 0)
KYVEX_OLE_FLAG(PROPSETFLAG_NONSIMPLE, 1)
KYVEX_OLE_FLAG(PROPSETFLAG_ANSI, 2)
KYVEX_OLE_FLAG(PROPSETFLAG_UNBUFFERED, 4)
KYVEX_OLE_FLAG(PROPSETFLAG_CASE_SENSITIVE, 8)
#endif

// PROPSPEC kinds and reserved property ids.
#ifndef PRSPEC_LPWSTR
KYVEX_OLE_FLAG(PRSPEC_LPWSTR, 0)
KYVEX_OLE_FLAG(PRSPEC_PROPID, 1)
#endif
#ifndef PID_DICTIONARY
KYVEX_OLE_FLAG(PID_DICTIONARY, 0)
KYVEX_OLE_FLAG(PID_CODEPAGE, 1)
KYVEX_OLE_FLAG(PID_FIRST_USABLE, 2)
KYVEX_OLE_FLAG(PID_LOCALE, 0x80000000)
KYVEX_OLE_FLAG(PID_BEHAVIOR, 0x80000003)
KYVEX_OLE_FLAG(PID_ILLEGAL, 0xFFFFFFFF)
#endif
#undef KYVEX_OLE_FLAG

// Element types of STATSTG.
inline constexpr DWORD STGTY_STORAGE = 1;
inline constexpr DWORD STGTY_STREAM = 2;
inline constexpr DWORD STATFLAG_DEFAULT = 0;
inline constexpr DWORD STATFLAG_NONAME = 1;
inline constexpr DWORD STGC_DEFAULT = 0;

// Property types (VARTYPE).
inline constexpr VARTYPE VT_EMPTY = 0;
inline constexpr VARTYPE VT_NULL = 1;
inline constexpr VARTYPE VT_I2 = 2;
inline constexpr VARTYPE VT_I4 = 3;
inline constexpr VARTYPE VT_R4 = 4;
inline constexpr VARTYPE VT_R8 = 5;
inline constexpr VARTYPE VT_CY = 6;
inline constexpr VARTYPE VT_DATE = 7;
inline constexpr VARTYPE VT_BSTR = 8;
inline constexpr VARTYPE VT_ERROR = 10;
inline constexpr VARTYPE VT_BOOL = 11;
inline constexpr VARTYPE VT_I1 = 16;
inline constexpr VARTYPE VT_UI1 = 17;
inline constexpr VARTYPE VT_UI2 = 18;
inline constexpr VARTYPE VT_UI4 = 19;
inline constexpr VARTYPE VT_I8 = 20;
inline constexpr VARTYPE VT_UI8 = 21;
inline constexpr VARTYPE VT_INT = 22;
inline constexpr VARTYPE VT_UINT = 23;
inline constexpr VARTYPE VT_LPSTR = 30;
inline constexpr VARTYPE VT_LPWSTR = 31;
inline constexpr VARTYPE VT_FILETIME = 64;
inline constexpr VARTYPE VT_BLOB = 65;
inline constexpr VARTYPE VT_CLSID = 72;
inline constexpr VARTYPE VT_VECTOR = 0x1000;

struct GUID {
  std::uint32_t Data1 = 0;
  std::uint16_t Data2 = 0;
  std::uint16_t Data3 = 0;
  std::uint8_t Data4[8] = {};
  friend bool operator==(const GUID&, const GUID&) = default;
};
using CLSID = GUID;
using FMTID = GUID;

inline constexpr GUID GUID_NULL{};
inline constexpr FMTID FMTID_SummaryInformation{
    0xF29F85E0, 0x4FF9, 0x1068, {0xAB, 0x91, 0x08, 0x00, 0x2B, 0x27, 0xB3, 0xD9}};
inline constexpr FMTID FMTID_DocSummaryInformation{
    0xD5CDD502, 0x2E9C, 0x101B, {0x93, 0x97, 0x08, 0x00, 0x2B, 0x2C, 0xF9, 0xAE}};
inline constexpr FMTID FMTID_UserDefinedProperties{
    0xD5CDD505, 0x2E9C, 0x101B, {0x93, 0x97, 0x08, 0x00, 0x2B, 0x2C, 0xF9, 0xAE}};

struct FILETIME {
  std::uint32_t dwLowDateTime = 0;
  std::uint32_t dwHighDateTime = 0;
  friend bool operator==(const FILETIME&, const FILETIME&) = default;
};

struct STATSTG {
  std::u16string pwcsName;  // empty with STATFLAG_NONAME
  DWORD type = 0;           // STGTY_STORAGE or STGTY_STREAM
  std::uint64_t cbSize = 0;
  FILETIME mtime, ctime, atime;
  DWORD grfMode = 0;
  DWORD grfLocksSupported = 0;
  CLSID clsid;
  DWORD grfStateBits = 0;
};

// One property value. Scalars share hVal (integers of every width, as their sign-extended or
// zero-extended value; VT_BOOL as -1 or 0; VT_ERROR; VT_CY's raw 64 bits) and dblVal (VT_R4,
// VT_R8, VT_DATE). Text of every string type is held as UTF-16: VT_LPSTR and VT_BSTR values
// of a set in another code page are converted when the set is read. VT_BLOB and VT_CLSID keep
// their bytes in blob; so does any type this engine does not interpret (vectors, VT_CF,
// VT_DECIMAL, ...): such a value is carried through a rewrite of its set unchanged but cannot
// be written by a caller.
struct PROPVARIANT {
  VARTYPE vt = VT_EMPTY;
  std::int64_t hVal = 0;
  double dblVal = 0.0;
  FILETIME filetime;
  std::u16string pwszVal;
  std::vector<std::uint8_t> blob;

  static PROPVARIANT LPWSTR(std::u16string s) {
    PROPVARIANT v;
    v.vt = VT_LPWSTR;
    v.pwszVal = std::move(s);
    return v;
  }
  static PROPVARIANT I8(std::int64_t x) {
    PROPVARIANT v;
    v.vt = VT_I8;
    v.hVal = x;
    return v;
  }
  static PROPVARIANT R8(double x) {
    PROPVARIANT v;
    v.vt = VT_R8;
    v.dblVal = x;
    return v;
  }
  static PROPVARIANT FileTime(FILETIME ft) {
    PROPVARIANT v;
    v.vt = VT_FILETIME;
    v.filetime = ft;
    return v;
  }
  static PROPVARIANT Int(VARTYPE vt, std::int64_t x) {
    PROPVARIANT v;
    v.vt = vt;
    v.hVal = x;
    return v;
  }
};

// A property addressed by name (PRSPEC_LPWSTR) or by id (PRSPEC_PROPID). The name is only
// borrowed for the call.
struct PROPSPEC {
  ULONG ulKind = PRSPEC_PROPID;
  PROPID propid = 0;
  std::u16string_view lpwstr;

  static PROPSPEC ByName(std::u16string_view name) { return {PRSPEC_LPWSTR, 0, name}; }
  static PROPSPEC ById(PROPID id) { return {PRSPEC_PROPID, id, {}}; }
};

struct STATPROPSTG {
  std::u16string lpwstrName;  // empty for a property without a name
  PROPID propid = 0;
  VARTYPE vt = VT_EMPTY;
};

struct STATPROPSETSTG {
  FMTID fmtid;
  CLSID clsid;
  DWORD grfFlags = 0;
};

class IEnumSTATSTG {
 public:
  virtual ~IEnumSTATSTG() = default;
  // Fetches up to celt entries; S_OK when celt were fetched, S_FALSE when fewer.
  virtual HRESULT Next(ULONG celt, STATSTG* rgelt, ULONG* pceltFetched) = 0;
  virtual HRESULT Skip(ULONG celt) = 0;
  virtual HRESULT Reset() = 0;
};

class IPropertyStorage {
 public:
  virtual ~IPropertyStorage() = default;
  // S_OK when at least one of the properties exists, S_FALSE when none does (those read as
  // VT_EMPTY).
  virtual HRESULT ReadMultiple(ULONG cpspec, const PROPSPEC rgpspec[], PROPVARIANT rgpropvar[]) = 0;
  // A new name gets the lowest id not below propidNameFirst (at least 2) that no value and
  // no name of the set uses; a name already present (in any letter case) keeps its id and its
  // first spelling.
  virtual HRESULT WriteMultiple(ULONG cpspec, const PROPSPEC rgpspec[], const PROPVARIANT rgpropvar[],
                                PROPID propidNameFirst) = 0;
  virtual HRESULT DeleteMultiple(ULONG cpspec, const PROPSPEC rgpspec[]) = 0;
  virtual HRESULT ReadPropertyNames(ULONG cpropid, const PROPID rgpropid[], std::u16string rglpwstrName[]) = 0;
  virtual HRESULT WritePropertyNames(ULONG cpropid, const PROPID rgpropid[],
                                     const std::u16string_view rglpwstrName[]) = 0;
  virtual HRESULT DeletePropertyNames(ULONG cpropid, const PROPID rgpropid[]) = 0;
  // Every value of the set (the dictionary and the code page excluded), in id order.
  virtual HRESULT Enum(std::vector<STATPROPSTG>* props) = 0;
  virtual HRESULT Stat(STATPROPSETSTG* stat) = 0;
  // Changes are kept with the file and written when its root commits.
  virtual HRESULT Commit(DWORD grfCommitFlags) = 0;
};

class IPropertySetStorage {
 public:
  virtual ~IPropertySetStorage() = default;
  virtual HRESULT Create(const FMTID& rfmtid, const CLSID* pclsid, DWORD grfFlags, DWORD grfMode,
                         std::shared_ptr<IPropertyStorage>* ppprstg) = 0;
  virtual HRESULT Open(const FMTID& rfmtid, DWORD grfMode, std::shared_ptr<IPropertyStorage>* ppprstg) = 0;
  virtual HRESULT Delete(const FMTID& rfmtid) = 0;
};

class IStorage {
 public:
  virtual ~IStorage() = default;
  virtual HRESULT CreateStorage(std::u16string_view pwcsName, DWORD grfMode, DWORD reserved1, DWORD reserved2,
                                std::shared_ptr<IStorage>* ppstg) = 0;
  virtual HRESULT OpenStorage(std::u16string_view pwcsName, IStorage* pstgPriority, DWORD grfMode,
                              const std::u16string* snbExclude, DWORD reserved,
                              std::shared_ptr<IStorage>* ppstg) = 0;
  virtual HRESULT DestroyElement(std::u16string_view pwcsName) = 0;
  // Elements in the file's directory order: shorter names first, then by upper-cased UTF-16.
  virtual HRESULT EnumElements(DWORD reserved1, void* reserved2, DWORD reserved3,
                               std::shared_ptr<IEnumSTATSTG>* ppenum) = 0;
  virtual HRESULT Stat(STATSTG* pstatstg, DWORD grfStatFlag) = 0;
  // Not part of COM's IStorage: looks one element up by name (case-insensitive, as every
  // lookup here is) without enumerating its siblings. S_OK or STG_E_FILENOTFOUND.
  virtual HRESULT StatElement(std::u16string_view pwcsName, STATSTG* pstatstg) = 0;
  // Writes the whole file (see the top of this header). Any storage of the file may ask.
  virtual HRESULT Commit(DWORD grfCommitFlags) = 0;
  // Drops every change made since the file was opened or last committed. Storages and
  // property sets opened before answer STG_E_REVERTED afterwards.
  virtual HRESULT Revert() = 0;
  // COM's QueryInterface for IID_IPropertySetStorage.
  virtual HRESULT QueryPropertySetStorage(std::shared_ptr<IPropertySetStorage>* ppPropSetStg) = 0;
};

// S_OK: a compound file; S_FALSE: another kind of file (also an empty one); otherwise the
// failure (STG_E_FILENOTFOUND for an absent file). File names are UTF-8.
HRESULT StgIsStorageFile(const std::string& fileName);

// Modes: STGM_READ or STGM_READWRITE, with a sharing flag (the file is held exclusively in any
// case). A file that is not a compound file answers STG_E_FILEALREADYEXISTS.
HRESULT StgOpenStorage(const std::string& fileName, IStorage* pstgPriority, DWORD grfMode,
                       const std::u16string* snbExclude, DWORD reserved, std::shared_ptr<IStorage>* ppstgOpen);

// Mode STGM_READWRITE (or STGM_WRITE) with a sharing flag; with STGM_CREATE an existing file
// is replaced (when the new one is committed, not before), without it STG_E_FILEALREADYEXISTS.
HRESULT StgCreateDocfile(const std::string& fileName, DWORD grfMode, DWORD reserved,
                         std::shared_ptr<IStorage>* ppstgOpen);

// A read-only storage over the bytes of a compound file held in memory.
HRESULT StgOpenStorageOnMemory(std::span<const std::uint8_t> bytes, std::shared_ptr<IStorage>* ppstgOpen);

// The stream name of a property set: "\005SummaryInformation" and
// "\005DocumentSummaryInformation" for the two standard sets, otherwise ole32's base-32 form.
std::u16string FmtIdToPropStgName(const FMTID& fmtid);

// Upper-cases one UTF-16 unit as element and property names are compared (Latin, Greek,
// Cyrillic and the other simple one-to-one mappings of the Basic Multilingual Plane).
char16_t UpperUnit(char16_t c);

// Test support: called at each step of writing a file; a test process may stop itself there
// (the argument is the number of the step). Not for production use.
void SetCommitStepHook(std::function<void(int step)> hook);

}  // namespace kyvex::ole
