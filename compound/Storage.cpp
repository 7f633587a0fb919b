// The interfaces over the in-memory tree of a compound file, and the file-level functions.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <stdexcept>

#include "compound/Detail.h"
#include "compound/FileSharing.h"
#include "compound/FileIo.h"
#include "compound/PropertySetFormat.h"
#include "platform/Text.h"

namespace kyvex::ole {
namespace detail {
namespace {

thread_local std::string t_lastError;

// Files are read whole; beyond this a file is refused before anything is allocated.
constexpr std::uint64_t kMaxFileSize = sizeof(void*) >= 8 ? (std::uint64_t{1} << 30) : (std::uint64_t{1} << 29);

template <class F>
HRESULT Guard(F&& body) {
  ClearError();
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return Fail(STG_E_INSUFFICIENTMEMORY, "out of memory");
  } catch (const std::length_error&) {
    return Fail(STG_E_INSUFFICIENTMEMORY, "out of memory");
  }
}

HRESULT FromIo(const IoResult& r, bool writing) {
  HRESULT hr = writing ? STG_E_WRITEFAULT : STG_E_READFAULT;
  switch (r.error) {
    case IoError::None: return S_OK;
    case IoError::NotFound: hr = STG_E_FILENOTFOUND; break;
    case IoError::PathNotFound: hr = STG_E_PATHNOTFOUND; break;
    case IoError::ShareViolation: hr = STG_E_SHAREVIOLATION; break;
    case IoError::AccessDenied: hr = STG_E_ACCESSDENIED; break;
    case IoError::AlreadyExists: hr = STG_E_FILEALREADYEXISTS; break;
    case IoError::DiskFull: hr = STG_E_MEDIUMFULL; break;
    case IoError::TooLarge: hr = STG_E_DOCFILETOOLARGE; break;
    case IoError::Other: break;
  }
  return Fail(hr, r.text);
}

struct FileState {
  std::string fileName;
  std::shared_ptr<Node> root;
  std::unique_ptr<HeldFile> hold;  // none for a file in memory
  bool writable = false;
  bool open = true;
  bool dirty = false;
  // The file as last read or written: what Revert returns to (empty: an empty file).
  std::vector<std::uint8_t> image;

  HRESULT Commit();
  HRESULT Revert();
  void Close();
};

// Brings a stream's bytes up to date with its property set.
HRESULT FlushStream(Node& n) {
  if (!n.propertySet || !n.propertySet->dirty) return S_OK;
  std::vector<std::uint8_t> bytes;
  if (HRESULT hr = SerializePropertySet(*n.propertySet, &bytes); Failed(hr)) return hr;
  n.data = std::move(bytes);
  n.propertySet->dirty = false;
  return S_OK;
}

HRESULT FlushTree(Node& root) {
  std::vector<Node*> pending{&root};
  while (!pending.empty()) {
    Node* n = pending.back();
    pending.pop_back();
    if (HRESULT hr = FlushStream(*n); Failed(hr)) return hr;
    for (auto& entry : n->children) pending.push_back(entry.second.get());
  }
  return S_OK;
}

HRESULT FileState::Commit() {
  if (!open) return Fail(STG_E_REVERTED, "the file has been closed");
  if (!writable || !dirty) return S_OK;
  if (HRESULT hr = FlushTree(*root); Failed(hr)) return hr;
  std::vector<std::uint8_t> bytes;
  if (HRESULT hr = SerializeCompound(*root, &bytes); Failed(hr)) return hr;
  if (const IoResult r = hold->Replace(bytes); !r.ok()) return FromIo(r, true);
  image = std::move(bytes);
  dirty = false;
  return S_OK;
}

HRESULT FileState::Revert() {
  if (!open) return Fail(STG_E_REVERTED, "the file has been closed");
  if (!writable || !dirty) return S_OK;
  std::shared_ptr<Node> fresh;
  if (image.empty()) {
    fresh = std::make_shared<Node>();
    fresh->name = u"Root Entry";
    fresh->isStorage = true;
  } else if (HRESULT hr = ParseCompound(image.data(), image.size(), &fresh); Failed(hr)) {
    return hr;
  }
  MarkRemoved(*root);
  root = std::move(fresh);
  dirty = false;
  return S_OK;
}

void FileState::Close() {
  if (!open) return;
  // Nobody is left to hear about a failure here; callers that must know commit first.
  if (writable && dirty) (void)Commit();
  open = false;
  hold.reset();
  root.reset();
  image.clear();
  image.shrink_to_fit();
}

bool ValidElementName(std::u16string_view name) {
  if (name.empty() || name.size() > 31) return false;
  for (char16_t c : name)
    if (c == u'/' || c == u'\\' || c == u':' || c == u'!') return false;
  return true;
}

constexpr DWORD kAccessMask = 0x3;
constexpr DWORD kShareMask = 0x70;
constexpr DWORD kKnownModeBits = kAccessMask | kShareMask | STGM_CREATE | STGM_TRANSACTED;

// Modes of elements below the root: ole32 asks for exclusive sharing there.
HRESULT CheckChildMode(DWORD mode, bool creating) {
  if ((mode & ~kKnownModeBits) != 0 || (mode & kAccessMask) == 3)
    return Fail(STG_E_INVALIDFLAG, "unsupported mode " + Hex32(mode));
  if ((mode & kShareMask) != STGM_SHARE_EXCLUSIVE)
    return Fail(STG_E_INVALIDFLAG, "elements below the root must be opened with STGM_SHARE_EXCLUSIVE");
  if (!creating && (mode & STGM_CREATE) != 0) return Fail(STG_E_INVALIDFLAG, "STGM_CREATE is for creating");
  return S_OK;
}

bool WantsWrite(DWORD mode) { return (mode & kAccessMask) != 0; }

void FillStat(const Node& n, std::u16string_view name, bool withName, DWORD mode, STATSTG* st) {
  *st = STATSTG{};
  if (withName) st->pwcsName = std::u16string(name);
  st->type = n.isStorage ? STGTY_STORAGE : STGTY_STREAM;
  st->cbSize = n.isStorage ? 0 : n.data.size();
  st->ctime = {static_cast<std::uint32_t>(n.ctime), static_cast<std::uint32_t>(n.ctime >> 32)};
  st->mtime = {static_cast<std::uint32_t>(n.mtime), static_cast<std::uint32_t>(n.mtime >> 32)};
  st->grfMode = mode;
  st->clsid = n.clsid;
  st->grfStateBits = n.stateBits;
}

HRESULT Reverted() { return Fail(STG_E_REVERTED, "the element was destroyed, reverted or its file closed"); }

class EnumImpl final : public IEnumSTATSTG {
 public:
  EnumImpl(std::shared_ptr<FileState> file, std::vector<std::shared_ptr<Node>> items)
      : file_(std::move(file)), items_(std::move(items)) {}

  HRESULT Next(ULONG celt, STATSTG* rgelt, ULONG* pceltFetched) override {
    return Guard([&]() -> HRESULT {
      if (!file_->open) return Reverted();
      if (celt > 0 && rgelt == nullptr) return Fail(STG_E_INVALIDPOINTER, "no room for the entries");
      ULONG n = 0;
      while (n < celt && pos_ < items_.size()) {
        Node& node = *items_[pos_++];
        if (HRESULT hr = FlushStream(node); Failed(hr)) return hr;
        FillStat(node, node.name, true, 0, &rgelt[n++]);
      }
      if (pceltFetched) *pceltFetched = n;
      return n == celt ? S_OK : S_FALSE;
    });
  }
  HRESULT Skip(ULONG celt) override {
    const std::size_t left = items_.size() - pos_;
    pos_ += std::min<std::size_t>(celt, left);
    return celt <= left ? S_OK : S_FALSE;
  }
  HRESULT Reset() override {
    pos_ = 0;
    return S_OK;
  }

 private:
  std::shared_ptr<FileState> file_;
  std::vector<std::shared_ptr<Node>> items_;
  std::size_t pos_ = 0;
};

class PropertyStorageImpl final : public IPropertyStorage {
 public:
  PropertyStorageImpl(std::shared_ptr<FileState> file, std::shared_ptr<Node> node, bool writable)
      : file_(std::move(file)), node_(std::move(node)), writable_(writable) {
    ++node_->propertyUsers;
  }
  ~PropertyStorageImpl() override {
    if (--node_->propertyUsers != 0 || !node_->propertySet || node_->removed) return;
    // As ole32 does when the last interface on a set is released, its values are written to
    // the stream's bytes, and the parsed set is let go: a file of hundreds of sets would
    // otherwise hold each of them parsed until it is committed. A set that cannot be written
    // stays, for the commit to report.
    if (file_->writable && Failed(FlushStream(*node_))) return;
    if (!node_->propertySet->dirty) node_->propertySet.reset();
  }
  PropertyStorageImpl(const PropertyStorageImpl&) = delete;
  PropertyStorageImpl& operator=(const PropertyStorageImpl&) = delete;

  HRESULT ReadMultiple(ULONG cpspec, const PROPSPEC rgpspec[], PROPVARIANT rgpropvar[]) override {
    return Guard([&]() -> HRESULT {
      if (HRESULT hr = Check(false); Failed(hr)) return hr;
      if (cpspec > 0 && (rgpspec == nullptr || rgpropvar == nullptr))
        return Fail(STG_E_INVALIDPOINTER, "no PROPSPECs or no room for the values");
      const PropertySetData& set = *node_->propertySet;
      bool any = false;
      for (ULONG i = 0; i < cpspec; ++i) {
        rgpropvar[i] = PROPVARIANT{};
        PROPID id;
        if (HRESULT hr = Resolve(rgpspec[i], &id); Failed(hr)) return hr;
        if (id == PID_ILLEGAL || id == PID_DICTIONARY) continue;
        const auto it = set.values.find(id);
        if (it == set.values.end()) continue;
        rgpropvar[i] = it->second;
        any = true;
      }
      return any ? S_OK : S_FALSE;
    });
  }

  HRESULT WriteMultiple(ULONG cpspec, const PROPSPEC rgpspec[], const PROPVARIANT rgpropvar[],
                        PROPID propidNameFirst) override {
    return Guard([&]() -> HRESULT {
      if (HRESULT hr = Check(true); Failed(hr)) return hr;
      if (cpspec > 0 && (rgpspec == nullptr || rgpropvar == nullptr))
        return Fail(STG_E_INVALIDPOINTER, "no PROPSPECs or no values");
      if (propidNameFirst < PID_FIRST_USABLE || propidNameFirst >= PID_LOCALE)
        return Fail(STG_E_INVALIDPARAMETER, "the first id for new names must lie between 2 and 0x7FFFFFFF");
      // Everything is checked before anything changes: a refused call leaves the set as it was.
      for (ULONG i = 0; i < cpspec; ++i) {
        const PROPSPEC& spec = rgpspec[i];
        const PROPVARIANT& v = rgpropvar[i];
        if (spec.ulKind == PRSPEC_LPWSTR) {
          if (spec.lpwstr.empty()) return Fail(STG_E_INVALIDPARAMETER, "a property name is empty");
        } else if (spec.ulKind == PRSPEC_PROPID) {
          const bool locale = spec.propid == PID_LOCALE && v.vt == VT_UI4;
          if (spec.propid == PID_DICTIONARY || spec.propid == PID_CODEPAGE ||
              (spec.propid >= PID_LOCALE && !locale))
            return Fail(STG_E_INVALIDPARAMETER, "property id " + Hex32(spec.propid) + " is reserved");
        } else {
          return Fail(STG_E_INVALIDPARAMETER, "unknown PROPSPEC kind " + std::to_string(spec.ulKind));
        }
        if (!IsWritableType(v.vt) || (v.vt == VT_CLSID && v.blob.size() != 16))
          return Fail(STG_E_INVALIDPARAMETER, "values of type " + std::to_string(v.vt) + " cannot be written");
      }
      PropertySetData& set = *node_->propertySet;
      for (ULONG i = 0; i < cpspec; ++i) {
        PROPID id;
        if (HRESULT hr = Resolve(rgpspec[i], &id); Failed(hr)) return hr;
        if (id == PID_ILLEGAL) {
          // The lowest id nothing in the set uses yet: taking the id after the highest one
          // would hand out ids that callers go on to write by number.
          id = propidNameFirst;
          while (set.values.contains(id) || set.names.contains(id)) {
            if (++id >= PID_LOCALE) return Fail(STG_E_INSUFFICIENTMEMORY, "no free property id is left");
          }
          set.SetName(id, std::u16string(rgpspec[i].lpwstr));
        }
        set.values[id] = rgpropvar[i];
      }
      Touch();
      return S_OK;
    });
  }

  HRESULT DeleteMultiple(ULONG cpspec, const PROPSPEC rgpspec[]) override {
    return Guard([&]() -> HRESULT {
      if (HRESULT hr = Check(true); Failed(hr)) return hr;
      if (cpspec > 0 && rgpspec == nullptr) return Fail(STG_E_INVALIDPOINTER, "no PROPSPECs");
      PropertySetData& set = *node_->propertySet;
      for (ULONG i = 0; i < cpspec; ++i) {
        PROPID id;
        if (HRESULT hr = Resolve(rgpspec[i], &id); Failed(hr)) return hr;
        if (id == PID_DICTIONARY || id == PID_CODEPAGE)
          return Fail(STG_E_INVALIDPARAMETER, "property id " + Hex32(id) + " is reserved");
        if (id != PID_ILLEGAL) set.values.erase(id);
      }
      Touch();
      return S_OK;
    });
  }

  HRESULT ReadPropertyNames(ULONG cpropid, const PROPID rgpropid[], std::u16string rglpwstrName[]) override {
    return Guard([&]() -> HRESULT {
      if (HRESULT hr = Check(false); Failed(hr)) return hr;
      if (cpropid > 0 && (rgpropid == nullptr || rglpwstrName == nullptr))
        return Fail(STG_E_INVALIDPOINTER, "no ids or no room for the names");
      const PropertySetData& set = *node_->propertySet;
      bool any = false;
      for (ULONG i = 0; i < cpropid; ++i) {
        const auto it = set.names.find(rgpropid[i]);
        rglpwstrName[i] = it == set.names.end() ? std::u16string() : it->second;
        any = any || it != set.names.end();
      }
      return any ? S_OK : S_FALSE;
    });
  }

  HRESULT WritePropertyNames(ULONG cpropid, const PROPID rgpropid[],
                             const std::u16string_view rglpwstrName[]) override {
    return Guard([&]() -> HRESULT {
      if (HRESULT hr = Check(true); Failed(hr)) return hr;
      if (cpropid > 0 && (rgpropid == nullptr || rglpwstrName == nullptr))
        return Fail(STG_E_INVALIDPOINTER, "no ids or no names");
      PropertySetData& set = *node_->propertySet;
      for (ULONG i = 0; i < cpropid; ++i) {
        if (rgpropid[i] == PID_CODEPAGE || rgpropid[i] >= PID_LOCALE)
          return Fail(STG_E_INVALIDPARAMETER, "property id " + Hex32(rgpropid[i]) + " cannot be named");
        if (rglpwstrName[i].empty()) return Fail(STG_E_INVALIDPARAMETER, "a property name is empty");
        const auto it = set.idsByName.find(set.NameKey(rglpwstrName[i]));
        if (it != set.idsByName.end() && it->second != rgpropid[i])
          return Fail(STG_E_INVALIDPARAMETER,
                      "the name \"" + NameForMessage(rglpwstrName[i]) + "\" already belongs to property " +
                          std::to_string(it->second));
      }
      for (ULONG i = 0; i < cpropid; ++i) set.SetName(rgpropid[i], std::u16string(rglpwstrName[i]));
      Touch();
      return S_OK;
    });
  }

  HRESULT DeletePropertyNames(ULONG cpropid, const PROPID rgpropid[]) override {
    return Guard([&]() -> HRESULT {
      if (HRESULT hr = Check(true); Failed(hr)) return hr;
      if (cpropid > 0 && rgpropid == nullptr) return Fail(STG_E_INVALIDPOINTER, "no ids");
      for (ULONG i = 0; i < cpropid; ++i) node_->propertySet->EraseName(rgpropid[i]);
      Touch();
      return S_OK;
    });
  }

  HRESULT Enum(std::vector<STATPROPSTG>* props) override {
    return Guard([&]() -> HRESULT {
      if (HRESULT hr = Check(false); Failed(hr)) return hr;
      if (props == nullptr) return Fail(STG_E_INVALIDPOINTER, "no room for the list");
      props->clear();
      const PropertySetData& set = *node_->propertySet;
      for (const auto& [id, v] : set.values) {
        if (id == PID_CODEPAGE || id >= PID_LOCALE) continue;
        const auto name = set.names.find(id);
        props->push_back({name == set.names.end() ? std::u16string() : name->second, id, v.vt});
      }
      return S_OK;
    });
  }

  HRESULT Stat(STATPROPSETSTG* stat) override {
    return Guard([&]() -> HRESULT {
      if (HRESULT hr = Check(false); Failed(hr)) return hr;
      if (stat == nullptr) return Fail(STG_E_INVALIDPOINTER, "no room for the description");
      const PropertySetData& set = *node_->propertySet;
      stat->fmtid = set.fmtid;
      stat->clsid = set.clsid;
      stat->grfFlags = set.CaseSensitive() ? PROPSETFLAG_CASE_SENSITIVE : PROPSETFLAG_DEFAULT;
      return S_OK;
    });
  }

  HRESULT Commit(DWORD) override {
    return Guard([&]() -> HRESULT { return Check(false); });
  }

 private:
  HRESULT Check(bool writing) const {
    if (!file_->open || node_->removed || !node_->propertySet) return Reverted();
    if (writing && !writable_) return Fail(STG_E_ACCESSDENIED, "the property set is open for reading only");
    return S_OK;
  }
  // The id a PROPSPEC stands for; PID_ILLEGAL for a name the set does not hold.
  HRESULT Resolve(const PROPSPEC& spec, PROPID* id) const {
    if (spec.ulKind == PRSPEC_PROPID) {
      *id = spec.propid;
      return S_OK;
    }
    if (spec.ulKind != PRSPEC_LPWSTR)
      return Fail(STG_E_INVALIDPARAMETER, "unknown PROPSPEC kind " + std::to_string(spec.ulKind));
    const PropertySetData& set = *node_->propertySet;
    const auto it = set.idsByName.find(set.NameKey(spec.lpwstr));
    *id = it == set.idsByName.end() ? PID_ILLEGAL : it->second;
    return S_OK;
  }
  void Touch() {
    node_->propertySet->dirty = true;
    file_->dirty = true;
  }

  std::shared_ptr<FileState> file_;
  std::shared_ptr<Node> node_;
  bool writable_;
};

class StorageImpl;

class PropertySetStorageImpl final : public IPropertySetStorage {
 public:
  explicit PropertySetStorageImpl(std::shared_ptr<StorageImpl> storage) : storage_(std::move(storage)) {}
  HRESULT Create(const FMTID& rfmtid, const CLSID* pclsid, DWORD grfFlags, DWORD grfMode,
                 std::shared_ptr<IPropertyStorage>* ppprstg) override;
  HRESULT Open(const FMTID& rfmtid, DWORD grfMode, std::shared_ptr<IPropertyStorage>* ppprstg) override;
  HRESULT Delete(const FMTID& rfmtid) override;

 private:
  std::shared_ptr<StorageImpl> storage_;
};

class StorageImpl final : public IStorage, public std::enable_shared_from_this<StorageImpl> {
 public:
  StorageImpl(std::shared_ptr<FileState> file, std::shared_ptr<Node> node, bool writable, bool isRoot)
      : file_(std::move(file)), node_(std::move(node)), writable_(writable), isRoot_(isRoot) {}
  ~StorageImpl() override {
    if (isRoot_) file_->Close();
  }

  HRESULT CreateStorage(std::u16string_view name, DWORD mode, DWORD, DWORD, std::shared_ptr<IStorage>* out) override {
    return Guard([&]() -> HRESULT {
      if (out == nullptr) return Fail(STG_E_INVALIDPOINTER, "no room for the storage");
      out->reset();
      if (HRESULT hr = Check(); Failed(hr)) return hr;
      if (HRESULT hr = CheckChildMode(mode, true); Failed(hr)) return hr;
      if (!WantsWrite(mode)) return Fail(STG_E_ACCESSDENIED, "a storage is created for writing");
      if (!writable_) return Fail(STG_E_ACCESSDENIED, "the storage is open for reading only");
      std::shared_ptr<Node> child;
      if (HRESULT hr = NewChild(name, (mode & STGM_CREATE) != 0, true, &child); Failed(hr)) return hr;
      *out = std::make_shared<StorageImpl>(file_, child, true, false);
      return S_OK;
    });
  }

  HRESULT OpenStorage(std::u16string_view name, IStorage* priority, DWORD mode, const std::u16string* exclude,
                      DWORD, std::shared_ptr<IStorage>* out) override {
    return Guard([&]() -> HRESULT {
      if (out == nullptr) return Fail(STG_E_INVALIDPOINTER, "no room for the storage");
      out->reset();
      if (HRESULT hr = Check(); Failed(hr)) return hr;
      if (priority != nullptr || exclude != nullptr)
        return Fail(STG_E_INVALIDFUNCTION, "priority storages and exclusion lists are not supported");
      if (HRESULT hr = CheckChildMode(mode, false); Failed(hr)) return hr;
      if (WantsWrite(mode) && !writable_) return Fail(STG_E_ACCESSDENIED, "the storage is open for reading only");
      const std::shared_ptr<Node> child = Find(name);
      if (!child || !child->isStorage)
        return Fail(STG_E_FILENOTFOUND, "no storage named \"" + NameForMessage(name) + "\"");
      *out = std::make_shared<StorageImpl>(file_, child, WantsWrite(mode), false);
      return S_OK;
    });
  }

  HRESULT DestroyElement(std::u16string_view name) override {
    return Guard([&]() -> HRESULT {
      if (HRESULT hr = Check(); Failed(hr)) return hr;
      if (!writable_) return Fail(STG_E_ACCESSDENIED, "the storage is open for reading only");
      Node& n = *Self();
      const auto it = n.children.find(UpperName(name));
      if (it == n.children.end()) return Fail(STG_E_FILENOTFOUND, "no element named \"" + NameForMessage(name) + "\"");
      MarkRemoved(*it->second);
      n.children.erase(it);
      file_->dirty = true;
      return S_OK;
    });
  }

  HRESULT EnumElements(DWORD reserved1, void* reserved2, DWORD reserved3, std::shared_ptr<IEnumSTATSTG>* out) override {
    return Guard([&]() -> HRESULT {
      if (out == nullptr) return Fail(STG_E_INVALIDPOINTER, "no room for the enumerator");
      out->reset();
      if (HRESULT hr = Check(); Failed(hr)) return hr;
      if (reserved1 != 0 || reserved2 != nullptr || reserved3 != 0)
        return Fail(STG_E_INVALIDPARAMETER, "reserved arguments must be 0");
      std::vector<std::shared_ptr<Node>> items;
      items.reserve(Self()->children.size());
      for (const auto& entry : Self()->children) items.push_back(entry.second);
      *out = std::make_shared<EnumImpl>(file_, std::move(items));
      return S_OK;
    });
  }

  HRESULT Stat(STATSTG* st, DWORD flag) override {
    return Guard([&]() -> HRESULT {
      if (st == nullptr) return Fail(STG_E_INVALIDPOINTER, "no room for the description");
      if (HRESULT hr = Check(); Failed(hr)) return hr;
      const std::u16string name = isRoot_ ? kyvex::text::Utf8ToUtf16(file_->fileName) : Self()->name;
      FillStat(*Self(), name, flag != STATFLAG_NONAME, writable_ ? STGM_READWRITE : STGM_READ, st);
      return S_OK;
    });
  }

  HRESULT StatElement(std::u16string_view name, STATSTG* st) override {
    return Guard([&]() -> HRESULT {
      if (st == nullptr) return Fail(STG_E_INVALIDPOINTER, "no room for the description");
      if (HRESULT hr = Check(); Failed(hr)) return hr;
      const std::shared_ptr<Node> child = Find(name);
      if (!child) return Fail(STG_E_FILENOTFOUND, "no element named \"" + NameForMessage(name) + "\"");
      if (HRESULT hr = FlushStream(*child); Failed(hr)) return hr;
      FillStat(*child, child->name, true, 0, st);
      return S_OK;
    });
  }

  HRESULT Commit(DWORD) override {
    return Guard([&]() -> HRESULT {
      if (HRESULT hr = Check(); Failed(hr)) return hr;
      return file_->Commit();
    });
  }

  HRESULT Revert() override {
    return Guard([&]() -> HRESULT {
      if (HRESULT hr = Check(); Failed(hr)) return hr;
      return isRoot_ ? file_->Revert() : S_OK;
    });
  }

  HRESULT QueryPropertySetStorage(std::shared_ptr<IPropertySetStorage>* out) override {
    return Guard([&]() -> HRESULT {
      if (out == nullptr) return Fail(STG_E_INVALIDPOINTER, "no room for the interface");
      *out = std::make_shared<PropertySetStorageImpl>(shared_from_this());
      return S_OK;
    });
  }

  // For the property-set interface of this storage.
  HRESULT Check() const {
    if (!file_->open || Self()->removed) return Reverted();
    return S_OK;
  }
  bool Writable() const { return writable_; }
  const std::shared_ptr<FileState>& File() const { return file_; }
  std::shared_ptr<Node> Find(std::u16string_view name) const {
    if (name.empty() || name.size() > 31) return nullptr;
    const auto it = Self()->children.find(UpperName(name));
    return it == Self()->children.end() ? nullptr : it->second;
  }
  // Makes a new element; with replace an element of that name goes first, otherwise it is
  // an error.
  HRESULT NewChild(std::u16string_view name, bool replace, bool storage, std::shared_ptr<Node>* out) {
    if (!ValidElementName(name))
      return Fail(STG_E_INVALIDNAME, "\"" + NameForMessage(name) +
                                         "\" is not a valid element name (1 to 31 characters, none of / \\ : !)");
    Node& n = *Self();
    std::u16string key = UpperName(name);
    const auto it = n.children.find(key);
    if (it != n.children.end()) {
      if (!replace) return Fail(STG_E_FILEALREADYEXISTS, "an element named \"" + NameForMessage(name) + "\" exists");
      MarkRemoved(*it->second);
      n.children.erase(it);
    }
    auto child = std::make_shared<Node>();
    child->name = std::u16string(name);
    child->isStorage = storage;
    n.children.emplace(std::move(key), child);
    file_->dirty = true;
    *out = std::move(child);
    return S_OK;
  }

 private:
  Node* Self() const { return isRoot_ ? file_->root.get() : node_.get(); }

  std::shared_ptr<FileState> file_;
  std::shared_ptr<Node> node_;  // unused for the root, which follows the file's current tree
  bool writable_;
  bool isRoot_;
};

HRESULT PropertySetStorageImpl::Create(const FMTID& fmtid, const CLSID* pclsid, DWORD flags, DWORD mode,
                                       std::shared_ptr<IPropertyStorage>* out) {
  return Guard([&]() -> HRESULT {
    if (out == nullptr) return Fail(STG_E_INVALIDPOINTER, "no room for the property set");
    out->reset();
    if (HRESULT hr = storage_->Check(); Failed(hr)) return hr;
    if (HRESULT hr = CheckChildMode(mode, true); Failed(hr)) return hr;
    if (!WantsWrite(mode)) return Fail(STG_E_INVALIDFLAG, "a property set is created for writing");
    if (!storage_->Writable()) return Fail(STG_E_ACCESSDENIED, "the storage is open for reading only");
    if ((flags & ~(PROPSETFLAG_UNBUFFERED | PROPSETFLAG_CASE_SENSITIVE)) != 0)
      return Fail(STG_E_INVALIDFLAG, "only simple Unicode property sets can be created (flags " + Hex32(flags) + ")");
    if (fmtid == FMTID_UserDefinedProperties)
      return Fail(STG_E_INVALIDPARAMETER,
                  "the user-defined set is a second section, which this engine does not create");
    std::shared_ptr<Node> node;
    if (HRESULT hr = storage_->NewChild(FmtIdToPropStgName(fmtid), (mode & STGM_CREATE) != 0, false, &node); Failed(hr))
      return hr;
    node->propertySet = std::make_shared<PropertySetData>(
        NewPropertySet(fmtid, pclsid ? *pclsid : GUID_NULL, (flags & PROPSETFLAG_CASE_SENSITIVE) != 0));
    *out = std::make_shared<PropertyStorageImpl>(storage_->File(), node, true);
    return S_OK;
  });
}

HRESULT PropertySetStorageImpl::Open(const FMTID& fmtid, DWORD mode, std::shared_ptr<IPropertyStorage>* out) {
  return Guard([&]() -> HRESULT {
    if (out == nullptr) return Fail(STG_E_INVALIDPOINTER, "no room for the property set");
    out->reset();
    if (HRESULT hr = storage_->Check(); Failed(hr)) return hr;
    if (HRESULT hr = CheckChildMode(mode, false); Failed(hr)) return hr;
    if (WantsWrite(mode) && !storage_->Writable())
      return Fail(STG_E_ACCESSDENIED, "the storage is open for reading only");
    const std::u16string name = FmtIdToPropStgName(fmtid);
    const std::shared_ptr<Node> node = storage_->Find(name);
    if (!node || node->isStorage)
      return Fail(STG_E_FILENOTFOUND, "no property set \"" + NameForMessage(name) + "\" in this storage");
    if (!node->propertySet) {
      auto set = std::make_shared<PropertySetData>();
      if (HRESULT hr = ParsePropertySet(node->data.data(), node->data.size(), fmtid, set.get()); Failed(hr)) return hr;
      node->propertySet = std::move(set);
    }
    *out = std::make_shared<PropertyStorageImpl>(storage_->File(), node, WantsWrite(mode));
    return S_OK;
  });
}

HRESULT PropertySetStorageImpl::Delete(const FMTID& fmtid) {
  return storage_->DestroyElement(FmtIdToPropStgName(fmtid));
}

HRESULT CheckRootMode(DWORD mode) {
  if ((mode & ~kKnownModeBits) != 0 || (mode & kAccessMask) == 3)
    return Fail(STG_E_INVALIDFLAG, "unsupported mode " + Hex32(mode));
  return S_OK;
}

}  // namespace

HRESULT Fail(HRESULT hr, std::string text) {
  t_lastError = std::move(text);
  return hr;
}

void ClearError() { t_lastError.clear(); }

std::u16string UpperName(std::u16string_view name) {
  std::u16string out(name);
  // Names are nearly always ASCII: those units are mapped here, without the table search.
  for (char16_t& c : out)
    c = c >= 0x80 ? UpperUnit(c) : (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c;
  return out;
}

GUID GetGuid(const std::uint8_t* p) {
  GUID g;
  g.Data1 = Get32(p);
  g.Data2 = Get16(p + 4);
  g.Data3 = Get16(p + 6);
  std::memcpy(g.Data4, p + 8, 8);
  return g;
}

void PutGuid(std::uint8_t* p, const GUID& g) {
  Put32(p, g.Data1);
  Put16(p + 4, g.Data2);
  Put16(p + 6, g.Data3);
  std::memcpy(p + 8, g.Data4, 8);
}

std::string Hex32(std::uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X", v);
  return buf;
}

std::string NameForMessage(std::u16string_view name) {
  std::u16string shown;
  for (char16_t c : name) {
    if (c < 0x20) {
      // Property-set streams start with U+0005: show such units as \NNN.
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\%03o", static_cast<unsigned>(c));
      for (const char* q = buf; *q; ++q) shown.push_back(static_cast<char16_t>(*q));
    } else {
      shown.push_back(c);
    }
  }
  return kyvex::text::Utf16ToUtf8(shown);
}

}  // namespace detail

const std::string& LastErrorText() { return detail::t_lastError; }

std::string StatusText(HRESULT hr) {
  struct Entry {
    HRESULT hr;
    const char* text;
  };
  static constexpr Entry kTexts[] = {
      {S_OK, "The operation completed successfully."},
      {S_FALSE, "The operation completed without result (S_FALSE)."},
      {E_NOTIMPL, "Not implemented."},
      {E_POINTER, "Invalid pointer."},
      {E_FAIL, "Unspecified error."},
      {E_OUTOFMEMORY, "Not enough memory is available to complete this operation."},
      {E_INVALIDARG, "One or more arguments are invalid."},
      {STG_E_INVALIDFUNCTION, "Unable to perform requested operation."},
      {STG_E_FILENOTFOUND, "The file or element could not be found."},
      {STG_E_PATHNOTFOUND, "The path could not be found."},
      {STG_E_ACCESSDENIED, "Access denied."},
      {STG_E_INSUFFICIENTMEMORY, "There is insufficient memory available to complete operation."},
      {STG_E_INVALIDPOINTER, "Invalid pointer error."},
      {STG_E_WRITEFAULT, "A disk error occurred during a write operation."},
      {STG_E_READFAULT, "A disk error occurred during a read operation."},
      {STG_E_SHAREVIOLATION, "A share violation has occurred: the file is in use."},
      {STG_E_FILEALREADYEXISTS, "The file already exists or is not a compound file."},
      {STG_E_INVALIDPARAMETER, "Invalid parameter error."},
      {STG_E_MEDIUMFULL, "There is insufficient disk space to complete operation."},
      {STG_E_INVALIDHEADER, "The file's header is invalid: it is not a valid storage file."},
      {STG_E_INVALIDNAME, "The name is not valid."},
      {STG_E_INVALIDFLAG, "Invalid flag error."},
      {STG_E_REVERTED, "The object has been invalidated by a revert operation above it in the transaction tree."},
      {STG_E_DOCFILECORRUPT, "The compound file is corrupt."},
      {STG_E_DOCFILETOOLARGE, "The compound file is too large for the current implementation."},
  };
  for (const Entry& e : kTexts)
    if (e.hr == hr) return e.text;
  return "Unknown error " + detail::Hex32(static_cast<std::uint32_t>(hr)) + ".";
}

std::u16string FmtIdToPropStgName(const FMTID& fmtid) {
  if (fmtid == FMTID_SummaryInformation) return u"\005SummaryInformation";
  if (fmtid == FMTID_DocSummaryInformation || fmtid == FMTID_UserDefinedProperties)
    return u"\005DocumentSummaryInformation";
  // ole32's form for any other set: the GUID's 128 bits, low bits first, five at a time,
  // written with the 32 characters below (the first character of each byte upper-case).
  static constexpr char kMap[] = "abcdefghijklmnopqrstuvwxyz012345";
  std::uint8_t bytes[16];
  detail::PutGuid(bytes, fmtid);
  std::u16string out(1, u'\005');
  std::size_t i = 0;
  unsigned bitsLeft = 8;
  while (i < 16) {
    unsigned v = bytes[i] >> (8 - bitsLeft);
    if (bitsLeft >= 5) {
      char16_t c = static_cast<char16_t>(kMap[v & 0x1F]);
      if (bitsLeft == 8 && c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
      out.push_back(c);
      bitsLeft -= 5;
      if (bitsLeft == 0) {
        ++i;
        bitsLeft = 8;
      }
    } else {
      if (++i < 16) v |= static_cast<unsigned>(bytes[i]) << bitsLeft;
      out.push_back(static_cast<char16_t>(kMap[v & 0x1F]));
      bitsLeft += 8 - 5;
    }
  }
  return out;
}

HRESULT StgIsStorageFile(const std::string& fileName) {
  return detail::Guard([&]() -> HRESULT {
    std::vector<std::uint8_t> prefix;
    if (const detail::IoResult r = detail::HeldFile::ReadPrefix(fileName, 8, &prefix); !r.ok())
      return detail::FromIo(r, false);
    return prefix.size() == 8 && std::memcmp(prefix.data(), detail::kSignature, 8) == 0 ? S_OK : S_FALSE;
  });
}

HRESULT StgOpenStorage(const std::string& fileName, IStorage* priority, DWORD mode, const std::u16string* exclude,
                       DWORD, std::shared_ptr<IStorage>* out) {
  using namespace detail;
  return Guard([&]() -> HRESULT {
    if (out == nullptr) return Fail(STG_E_INVALIDPOINTER, "no room for the storage");
    out->reset();
    if (priority != nullptr || exclude != nullptr)
      return Fail(STG_E_INVALIDFUNCTION, "priority storages and exclusion lists are not supported");
    if (HRESULT hr = CheckRootMode(mode); Failed(hr)) return hr;
    if ((mode & STGM_CREATE) != 0) return Fail(STG_E_INVALIDFLAG, "STGM_CREATE is for StgCreateDocfile");
    auto file = std::make_shared<FileState>();
    file->fileName = fileName;
    file->writable = WantsWrite(mode);
    if (const IoResult r = HeldFile::Open(fileName, file->writable, false, false, &file->hold, nullptr); !r.ok())
      return FromIo(r, false);
    if (const IoResult r = file->hold->ReadAll(kMaxFileSize, &file->image); !r.ok()) return FromIo(r, false);
    if (HRESULT hr = ParseCompound(file->image.data(), file->image.size(), &file->root); Failed(hr)) {
      const std::string why = LastErrorText();
      return Fail(hr, "\"" + fileName + "\": " + why);
    }
    *out = std::make_shared<StorageImpl>(file, nullptr, file->writable, true);
    return S_OK;
  });
}

HRESULT StgCreateDocfile(const std::string& fileName, DWORD mode, DWORD, std::shared_ptr<IStorage>* out) {
  using namespace detail;
  return Guard([&]() -> HRESULT {
    if (out == nullptr) return Fail(STG_E_INVALIDPOINTER, "no room for the storage");
    out->reset();
    if (HRESULT hr = CheckRootMode(mode); Failed(hr)) return hr;
    if (!WantsWrite(mode)) return Fail(STG_E_INVALIDFLAG, "a compound file is created for writing");
    if (fileName.empty()) return Fail(STG_E_INVALIDNAME, "no file name");
    auto file = std::make_shared<FileState>();
    file->fileName = fileName;
    file->writable = true;
    file->dirty = true;
    file->root = std::make_shared<Node>();
    file->root->name = u"Root Entry";
    file->root->isStorage = true;
    bool created = false;
    if (const IoResult r = HeldFile::Open(fileName, true, true, (mode & STGM_CREATE) == 0, &file->hold, &created);
        !r.ok())
      return FromIo(r, true);
    // A file made here is a valid empty compound file from the start; a file being replaced
    // stays as it is until the new one is committed.
    if (created) {
      if (HRESULT hr = file->Commit(); Failed(hr)) return hr;
      file->image.clear();
    }
    *out = std::make_shared<StorageImpl>(file, nullptr, true, true);
    return S_OK;
  });
}

HRESULT StgOpenStorageForSave(const std::string& fileName, std::shared_ptr<IStorage>* out) {
  using namespace detail;
  return Guard([&]() -> HRESULT {
    if (out == nullptr) return Fail(STG_E_INVALIDPOINTER, "no room for the storage");
    out->reset();
    if (fileName.empty()) return Fail(STG_E_INVALIDNAME, "no file name");
    auto file = std::make_shared<FileState>();
    file->fileName = fileName;
    file->writable = true;
    bool created = false;
    if (const IoResult r = HeldFile::Open(fileName, true, true, false, &file->hold, &created, Hold::Saving); !r.ok())
      return FromIo(r, true);
    // What the file holds is judged under the hold: another save may have replaced it since
    // the caller last looked.
    std::vector<std::uint8_t> bytes;
    if (!created) {
      if (const IoResult r = file->hold->ReadAll(kMaxFileSize, &bytes); !r.ok()) return FromIo(r, false);
    }
    if (bytes.size() >= 8 && std::memcmp(bytes.data(), kSignature, 8) == 0) {
      if (HRESULT hr = ParseCompound(bytes.data(), bytes.size(), &file->root); Failed(hr)) {
        const std::string why = LastErrorText();
        return Fail(hr, "\"" + fileName + "\": " + why);
      }
      file->image = std::move(bytes);
    } else {
      file->root = std::make_shared<Node>();
      file->root->name = u"Root Entry";
      file->root->isStorage = true;
      file->dirty = true;
      // As with StgCreateDocfile: a file made here is a valid empty compound file at once.
      if (created) {
        if (HRESULT hr = file->Commit(); Failed(hr)) return hr;
        file->image.clear();
      }
    }
    *out = std::make_shared<StorageImpl>(file, nullptr, true, true);
    return S_OK;
  });
}

HRESULT StgReadFileShared(const std::string& fileName, std::uint64_t limit, std::vector<std::uint8_t>* bytes) {
  using namespace detail;
  return Guard([&]() -> HRESULT {
    if (bytes == nullptr) return Fail(STG_E_INVALIDPOINTER, "no room for the bytes");
    bytes->clear();
    if (const IoResult r = HeldFile::ReadShared(fileName, std::min(limit, kMaxFileSize), bytes); !r.ok())
      return FromIo(r, false);
    return S_OK;
  });
}

HRESULT StgOpenStorageOnMemory(std::span<const std::uint8_t> bytes, std::shared_ptr<IStorage>* out) {
  using namespace detail;
  return Guard([&]() -> HRESULT {
    if (out == nullptr) return Fail(STG_E_INVALIDPOINTER, "no room for the storage");
    out->reset();
    auto file = std::make_shared<FileState>();
    if (HRESULT hr = ParseCompound(bytes.data(), bytes.size(), &file->root); Failed(hr)) return hr;
    *out = std::make_shared<StorageImpl>(file, nullptr, false, true);
    return S_OK;
  });
}

}  // namespace kyvex::ole
