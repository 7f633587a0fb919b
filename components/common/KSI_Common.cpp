#include "common/KSI_Common.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "common/Kyvex_Routines.h"
#include "compound/FileSharing.h"
#include "common/KSI_Persist.h"
#include "common/Kyvex_SS.h"
#include "platform/Platform.h"
#include "platform/Text.h"

namespace kyvex {

TComponent::TComponent(TComponent* AOwner) : FOwner(AOwner) {
  if (FOwner) FOwner->FComponents.push_back(this);
}

TComponent::~TComponent() {
  while (!FComponents.empty()) {
    TComponent* child = FComponents.back();
    child->FOwner = nullptr;
    FComponents.pop_back();
    delete child;
  }
  if (FOwner) {
    auto& siblings = FOwner->FComponents;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
  }
}

TKyvex_KSIC_Component::TKyvex_KSIC_Component(TComponent* AOwner)
    : TComponent(AOwner),
      F_About(std::string(kKyvexFamilyName) + " " + kKyvexFamilyVersion +
              " - hardware information components by Kyvex"),
      F_Refresh("Double-click to get data") {}

void TKyvex_KSIC_Component::CollectData() {
  SetLiveData(true);
  const TPlatformSnapshot& snap = PlatformSnapshot();
  if (!snap.VersionRecordRead) {
    FStorageInfo.Platform = FStorageInfo.MajorVersion = FStorageInfo.MinorVersion = 0;
    FStorageInfo.BuildNumber = 0;
    FStorageInfo.CSDVersion.clear();
    return;
  }
  const auto& v = snap.VersionRecord;
  FStorageInfo.Platform = static_cast<std::int32_t>(v.dwPlatformId);
  FStorageInfo.MajorVersion = static_cast<std::int32_t>(v.dwMajorVersion);
  FStorageInfo.MinorVersion = static_cast<std::int32_t>(v.dwMinorVersion);
  // Windows 9x keeps the version in the high word of the build number.
  FStorageInfo.BuildNumber = v.dwPlatformId == platform::kPlatformWin32Windows
                                 ? static_cast<std::int32_t>(v.dwBuildNumber & 0xFFFF)
                                 : static_cast<std::int32_t>(v.dwBuildNumber);
  FStorageInfo.CSDVersion = v.szCSDVersion;
}

}  // namespace kyvex


namespace kyvex {

namespace {

constexpr std::uint32_t kModeRead = kStorageLoadMode;
constexpr std::uint32_t kModeWrite = kStorageSaveMode;
constexpr std::uint32_t kModeCreate = ole::STGM_CREATE | ole::STGM_READWRITE | ole::STGM_SHARE_EXCLUSIVE;  // 0x1012

// Days from 1899-12-30 to the given civil date (proleptic Gregorian).
std::int64_t DaysSince1899(int y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468 + 25569;  // 25569: 1899-12-30 to 1970-01-01
}

// The root of a batched save: everything passes to the file's root but the writing, which
// waits for the batch's own commit.
class DeferredCommitStorage : public ole::IStorage {
 public:
  explicit DeferredCommitStorage(std::shared_ptr<ole::IStorage> inner) : inner_(std::move(inner)) {}
  ole::HRESULT CreateStorage(std::u16string_view name, ole::DWORD mode, ole::DWORD r1, ole::DWORD r2,
                             std::shared_ptr<ole::IStorage>* out) override {
    return inner_->CreateStorage(name, mode, r1, r2, out);
  }
  ole::HRESULT OpenStorage(std::u16string_view name, ole::IStorage* priority, ole::DWORD mode,
                           const std::u16string* exclude, ole::DWORD reserved,
                           std::shared_ptr<ole::IStorage>* out) override {
    return inner_->OpenStorage(name, priority, mode, exclude, reserved, out);
  }
  ole::HRESULT DestroyElement(std::u16string_view name) override { return inner_->DestroyElement(name); }
  ole::HRESULT EnumElements(ole::DWORD r1, void* r2, ole::DWORD r3, std::shared_ptr<ole::IEnumSTATSTG>* out) override {
    return inner_->EnumElements(r1, r2, r3, out);
  }
  ole::HRESULT Stat(ole::STATSTG* st, ole::DWORD flags) override { return inner_->Stat(st, flags); }
  ole::HRESULT StatElement(std::u16string_view name, ole::STATSTG* st) override { return inner_->StatElement(name, st); }
  ole::HRESULT Commit(ole::DWORD) override { return ole::S_OK; }
  // A component's failed save fails the whole batch, which then writes nothing.
  ole::HRESULT Revert() override { return ole::S_OK; }
  ole::HRESULT QueryPropertySetStorage(std::shared_ptr<ole::IPropertySetStorage>* out) override {
    return inner_->QueryPropertySetStorage(out);
  }

 private:
  std::shared_ptr<ole::IStorage> inner_;
};

thread_local TStorageFileSave::State* t_save = nullptr;
thread_local TStorageFileImage::State* t_image = nullptr;

}  // namespace

struct TStorageFileSave::State {
  std::string fileName;
  std::shared_ptr<ole::IStorage> file;
  std::shared_ptr<ole::IStorage> deferred;
  bool committed = false;
};

struct TStorageFileImage::State {
  std::string fileName;
  ole::HRESULT kind = ole::S_FALSE;
  std::vector<std::uint8_t> bytes;
  // The image parsed once, on the first read: every part read from it afterwards opens its
  // own elements in this one tree (a file of 255 processors was otherwise parsed 256 times).
  std::shared_ptr<ole::IStorage> parsed;
};

namespace {

std::shared_ptr<ole::IStorage> OpenForWriting(const std::string& FileName) {
  if (t_save && t_save->fileName == FileName) return t_save->deferred;
  std::shared_ptr<ole::IStorage> storage;
  if (ole::StgIsStorageFile(FileName) == ole::S_OK)
    OleCheck(ole::StgOpenStorage(FileName, nullptr, kModeWrite, nullptr, 0, &storage), "opening " + FileName);
  else
    OleCheck(ole::StgCreateDocfile(FileName, kModeCreate, 0, &storage), "creating " + FileName);
  return storage;
}

// The file's root for a load: none when it is no storage file (or none at all), the
// container error when it is one that cannot be opened. Read from the thread's image of the
// file where one is taken.
// The size the file has, not what its header claims, is what a read costs: a sparse file of
// hundreds of megabytes costs nothing to make, and reading it would.
void RefuseOversized(const std::string& FileName, std::uint64_t size) {
  if (size > kMaxStorageFileSize)
    throw EOleSysError(ole::STG_E_DOCFILETOOLARGE, "reading " + FileName,
                       "the file is " + std::to_string(size) + " bytes long; a storage file larger than " +
                           std::to_string(kMaxStorageFileSize >> 20) +
                           " MiB is not read (a machine's description takes a few megabytes at most)");
}

std::shared_ptr<ole::IStorage> OpenForReading(const std::string& FileName) {
  std::shared_ptr<ole::IStorage> storage;
  if (t_image && t_image->fileName == FileName) {
    if (t_image->kind != ole::S_OK) return nullptr;
    if (!t_image->parsed) {
      OleCheck(ole::StgOpenStorageOnMemory(t_image->bytes, &t_image->parsed), "opening " + FileName);
      // The tree holds its own copy of every stream.
      std::vector<std::uint8_t>().swap(t_image->bytes);
    }
    return t_image->parsed;
  }
  if (ole::StgIsStorageFile(FileName) != ole::S_OK) return nullptr;
  std::error_code ec;
  const auto size = std::filesystem::file_size(std::filesystem::path(std::u8string(FileName.begin(), FileName.end())), ec);
  if (!ec) RefuseOversized(FileName, size);
  OleCheck(ole::StgOpenStorage(FileName, nullptr, kModeRead, nullptr, 0, &storage), "opening " + FileName);
  return storage;
}

}  // namespace

TStorageFileSave::TStorageFileSave(const std::string& FileName)
    : state_(std::make_unique<State>()) {
  state_->fileName = FileName;
  // Readers go on reading the old file meanwhile; another save is waited for a while.
  std::shared_ptr<ole::IStorage> storage;
  OleCheck(ole::StgOpenStorageForSave(FileName, &storage), "opening " + FileName);
  state_->file = std::move(storage);
  state_->deferred = std::make_shared<DeferredCommitStorage>(state_->file);
  t_save = state_.get();
}

TStorageFileSave::~TStorageFileSave() {
  if (t_save == state_.get()) t_save = nullptr;
  // Without a commit the file keeps what it held: the changes are dropped before the last
  // reference, whose closing would otherwise write them.
  if (!state_->committed && state_->file) (void)state_->file->Revert();
}

void TStorageFileSave::Commit() {
  OleCheck(state_->file->Commit(ole::STGC_DEFAULT), "writing " + state_->fileName);
  state_->committed = true;
}

TStorageFileImage::TStorageFileImage(const std::string& FileName)
    : state_(std::make_unique<State>()) {
  state_->fileName = FileName;
  state_->kind = ole::StgIsStorageFile(FileName);
  if (state_->kind == ole::S_OK) {
    // As a reader that keeps only writers out: other readers and a save being prepared go on.
    const ole::HRESULT hr = ole::StgReadFileShared(FileName, kMaxStorageFileSize, &state_->bytes);
    if (hr == ole::STG_E_DOCFILETOOLARGE) {
      std::error_code ec;
      const auto size =
          std::filesystem::file_size(std::filesystem::path(std::u8string(FileName.begin(), FileName.end())), ec);
      RefuseOversized(FileName, ec ? kMaxStorageFileSize + 1 : size);
    }
    OleCheck(hr, "reading " + FileName);
    // Replaced meanwhile by something else than a storage file: judged on what was read.
    if (state_->bytes.size() < 8 || std::memcmp(state_->bytes.data(), "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) != 0) {
      state_->kind = ole::S_FALSE;
      state_->bytes.clear();
    }
  }
  t_image = state_.get();
}

TStorageFileImage::~TStorageFileImage() {
  if (t_image == state_.get()) t_image = nullptr;
}

TDateTime SystemTimeToDateTime(const platform::SystemTime& t) {
  const double time = (t.wHour * 3600000.0 + t.wMinute * 60000.0 + t.wSecond * 1000.0 + t.wMilliseconds) / 86400000.0;
  return static_cast<double>(DaysSince1899(t.wYear, t.wMonth, t.wDay)) + time;
}

std::string StorageFileAuthor() { return "Kyvex Yazılım - Kyvex System Information"; }

TStorageInfoRecord CurrentStorageInfo() {
  const TPlatformSnapshot& snap = PlatformSnapshot();
  const std::string edition = GetOSEdition(snap.OSKind, snap.ProductType, snap.Suites);
  TStorageInfoRecord r;
  r.Title = "Kyvex System Information Storage File";
  r.Application = std::string(kKyvexFamilyName) + " " + kKyvexFamilyVersion;
  r.Author = StorageFileAuthor();
  r.OSName = edition.empty() ? snap.OSName : snap.OSName + " " + edition;
  r.MachineName = snap.MachineName;
  r.CreationTime = SystemTimeToDateTime(platform::Current().GetLocalTime());
  r.LoggedUser = GetDefaultLogonUser();
  if (r.LoggedUser.empty()) r.LoggedUser = GetCurrentUserName();
  r.Account = GetCurrentUserName();
  r.Platform = snap.VersionRecordRead ? static_cast<std::int32_t>(snap.VersionRecord.dwPlatformId) : 0;
  r.MajorVersion = snap.MajorVersion;
  r.MinorVersion = snap.MinorVersion;
  r.BuildNumber = snap.BuildNumber & 0xFFFF;
  r.CSDVersion = text::Trim(snap.CSDVersion);
  r.AccountType = IsAdmin() ? "Admin" : "NON-Admin";
  r.VMWare = IsVMWare();
  r.VPC = IsVirtualPC();
  return r;
}

void TKyvex_KSIC_Component::SaveToStorageFile(const std::string& FileName) {
  TStructuredSTorage root(nullptr, OpenForWriting(FileName));
  {
    auto set = root.OpenPropertySet(FMTID_SummaryInformation, kModeWrite, true);
    const TStorageInfoRecord header = CurrentStorageInfo();
    VisitStorageInfoFields(header, TFieldWriter{set->PropertyStorage()});
  }
  root.Commit();
}

bool TKyvex_KSIC_Component::LoadFromStorageFile(const std::string& FileName) {
  FStorageFileName = FileName;
  SetLiveData(false);
  std::shared_ptr<ole::IStorage> storage = OpenForReading(FileName);
  if (!storage) return false;
  TStructuredSTorage root(nullptr, storage);
  // A header that is there but cannot be read is an error, not an empty header.
  auto set = OpenValuesIfPresent(root, FMTID_SummaryInformation);
  FStorageInfo = TStorageInfoRecord{};
  VisitStorageInfoFields(FStorageInfo, TFieldReader{set ? set->PropertyStorage() : nullptr});
  return true;
}

void TKyvex_KSIC_Component::SaveComponentStorage(const std::string& FileName, const std::string& StorageName,
                                                 const std::function<void(TStructuredSTorage&)>& write) {
  TStructuredSTorage root(nullptr, OpenForWriting(FileName));
  {
    // Absent is fine: the storage is made anew below.
    root.Storage()->DestroyElement(text::Utf8ToUtf16(StorageName));
    auto own = root.OpenSubStorage(StorageName, kModeWrite, true);
    write(*own);
  }
  root.Commit();
}

bool TKyvex_KSIC_Component::LoadComponentStorage(const std::string& FileName, const std::string& StorageName,
                                                 const std::function<void(TStructuredSTorage&)>& read) {
  std::shared_ptr<ole::IStorage> storage = OpenForReading(FileName);
  if (!storage) return false;
  TStructuredSTorage root(nullptr, storage);
  // None when the file holds nothing of this component; the container error when it holds a
  // storage of that name that cannot be opened.
  auto own = OpenStorageIfPresent(root, StorageName);
  if (!own) return false;
  read(*own);
  return true;
}

}  // namespace kyvex
