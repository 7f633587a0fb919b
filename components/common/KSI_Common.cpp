#include "common/KSI_Common.h"

#include <algorithm>

#include "common/Kyvex_Routines.h"
#include "platform/Platform.h"

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

// The summary header of the storage file is written and read here once the storage-file
// layer is in place; until then a component keeps no file.
namespace kyvex {
void TKyvex_KSIC_Component::SaveToStorageFile(const std::string&) {}
bool TKyvex_KSIC_Component::LoadFromStorageFile(const std::string& FileName) {
  FStorageFileName = FileName;
  SetLiveData(false);
  return false;
}
}  // namespace kyvex
