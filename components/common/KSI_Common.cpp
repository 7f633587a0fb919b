#include "common/KSI_Common.h"

#include <algorithm>

#include "common/Kyvex_Routines.h"
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

std::shared_ptr<ole::IStorage> OpenForWriting(const std::string& FileName) {
  std::shared_ptr<ole::IStorage> storage;
  if (ole::StgIsStorageFile(FileName) == ole::S_OK)
    OleCheck(ole::StgOpenStorage(FileName, nullptr, kModeWrite, nullptr, 0, &storage), "opening " + FileName);
  else
    OleCheck(ole::StgCreateDocfile(FileName, kModeCreate, 0, &storage), "creating " + FileName);
  return storage;
}

}  // namespace

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
  if (ole::StgIsStorageFile(FileName) != ole::S_OK) return false;
  std::shared_ptr<ole::IStorage> storage;
  OleCheck(ole::StgOpenStorage(FileName, nullptr, kModeRead, nullptr, 0, &storage), "opening " + FileName);
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
  if (ole::StgIsStorageFile(FileName) != ole::S_OK) return false;
  std::shared_ptr<ole::IStorage> storage;
  OleCheck(ole::StgOpenStorage(FileName, nullptr, kModeRead, nullptr, 0, &storage), "opening " + FileName);
  TStructuredSTorage root(nullptr, storage);
  // None when the file holds nothing of this component; the container error when it holds a
  // storage of that name that cannot be opened.
  auto own = OpenStorageIfPresent(root, StorageName);
  if (!own) return false;
  read(*own);
  return true;
}

}  // namespace kyvex
