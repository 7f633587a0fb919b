#include "common/KSI_Common.h"

#include <algorithm>

#include "common/Kyvex_Routines.h"
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

constexpr std::uint32_t kModeRead = ole::STGM_READ | ole::STGM_SHARE_EXCLUSIVE;                   // 0x10
constexpr std::uint32_t kModeWrite = ole::STGM_READWRITE | ole::STGM_SHARE_EXCLUSIVE;             // 0x12
constexpr std::uint32_t kModeCreate = ole::STGM_CREATE | ole::STGM_READWRITE | ole::STGM_SHARE_EXCLUSIVE;  // 0x1012

// The published Summary Information ids the header uses.
constexpr std::uint32_t PIDSI_TITLE = 2;
constexpr std::uint32_t PIDSI_SUBJECT = 3;
constexpr std::uint32_t PIDSI_AUTHOR = 4;
constexpr std::uint32_t PIDSI_KEYWORDS = 5;
constexpr std::uint32_t PIDSI_CREATE_DTM = 12;
constexpr std::uint32_t PIDSI_APPNAME = 18;
constexpr std::uint32_t PIDSI_DOC_SECURITY = 19;

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

void TKyvex_KSIC_Component::SaveToStorageFile(const std::string& FileName) {
  TStructuredSTorage root(nullptr, OpenForWriting(FileName));
  {
    auto set = root.OpenPropertySet(FMTID_SummaryInformation, kModeWrite, true);
    const auto& p = set->PropertyStorage();
    const TPlatformSnapshot& snap = PlatformSnapshot();
    const std::string edition = GetOSEdition(snap.OSKind, snap.ProductType, snap.Suites);
    std::string loggedUser = GetDefaultLogonUser();
    if (loggedUser.empty()) loggedUser = GetCurrentUserName();
    const std::int32_t platformId =
        snap.VersionRecordRead ? static_cast<std::int32_t>(snap.VersionRecord.dwPlatformId) : 0;

    WriteStringPropertyById(p, PIDSI_TITLE, "Kyvex System Information Storage File");
    WriteStringPropertyById(p, PIDSI_APPNAME, std::string(kKyvexFamilyName) + " " + kKyvexFamilyVersion);
    WriteStringPropertyById(p, PIDSI_AUTHOR, StorageFileAuthor());
    WriteStringPropertyById(p, PIDSI_KEYWORDS, edition.empty() ? snap.OSName : snap.OSName + " " + edition);
    WriteStringPropertyById(p, PIDSI_SUBJECT, snap.MachineName);
    WriteDateTimePropertyById(p, PIDSI_CREATE_DTM, SystemTimeToDateTime(platform::Current().GetLocalTime()));
    WriteStringProperty(p, "OS.LoggedUser", loggedUser);
    WriteStringProperty(p, "OS.Account", GetCurrentUserName());
    WriteIntegerProperty(p, "OS.Platform", platformId);
    WriteIntegerProperty(p, "OS.MajorVersion", snap.MajorVersion);
    WriteIntegerProperty(p, "OS.MinorVersion", snap.MinorVersion);
    WriteIntegerProperty(p, "OS.BuildNumber", snap.BuildNumber & 0xFFFF);
    WriteStringProperty(p, "OS.CSD", text::Trim(snap.CSDVersion));
    WriteStringPropertyById(p, PIDSI_DOC_SECURITY, IsAdmin() ? "Admin" : "NON-Admin");
    WriteIntegerProperty(p, "VMWare", IsVMWare() ? 1 : 0);
    WriteIntegerProperty(p, "VPC", IsVirtualPC() ? 1 : 0);
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
  auto set = root.OpenPropertySet(FMTID_SummaryInformation, kModeRead, false);
  const std::shared_ptr<ole::IPropertyStorage> p = set ? set->PropertyStorage() : nullptr;
  TStorageInfoRecord& info = FStorageInfo;
  info.MachineName = ReadStringPropertyById(p, PIDSI_SUBJECT);
  info.Application = ReadStringPropertyById(p, PIDSI_APPNAME);
  info.OSName = ReadStringPropertyById(p, PIDSI_KEYWORDS);
  info.CreationTime = ReadDateTimePropertyById(p, PIDSI_CREATE_DTM);
  info.AccountType = ReadStringPropertyById(p, PIDSI_DOC_SECURITY);
  info.LoggedUser = ReadStringProperty(p, "OS.LoggedUser");
  info.Account = ReadStringProperty(p, "OS.Account");
  info.Platform = static_cast<std::int32_t>(ReadIntegerProperty(p, "OS.Platform"));
  info.MajorVersion = static_cast<std::int32_t>(ReadIntegerProperty(p, "OS.MajorVersion"));
  info.MinorVersion = static_cast<std::int32_t>(ReadIntegerProperty(p, "OS.MinorVersion"));
  info.BuildNumber = static_cast<std::int32_t>(ReadIntegerProperty(p, "OS.BuildNumber"));
  info.CSDVersion = ReadStringProperty(p, "OS.CSD");
  info.VMWare = ReadIntegerProperty(p, "VMWare") == 1;
  info.VPC = ReadIntegerProperty(p, "VPC") == 1;
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
  std::unique_ptr<TStructuredSTorage> own;
  try {
    own = root.OpenSubStorage(StorageName, kModeRead, false);
  } catch (const EOleSysError&) {
    return false;  // the file holds nothing of this component
  }
  read(*own);
  return true;
}

}  // namespace kyvex
