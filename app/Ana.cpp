#include "app/Ana.h"

#include <algorithm>
#include <exception>
#include <filesystem>
#include <iterator>
#include <memory>
#include <vector>

#include "app/Lib01.h"
#include "common/Kyvex_SS.h"
#include "cpu/KSI_CPU.h"
#include "smbios/KSI_SMBIOS.h"
#include "storage/KSI_Storage.h"
#include "report/Capture.h"

namespace kyvex {

namespace {

constexpr std::uint32_t kPeekMode = ole::STGM_READ | ole::STGM_SHARE_EXCLUSIVE;  // 0x10

// A component as the file page deals with it: the top-level storage its data live in and
// the name its pages go by.
struct TFilePart {
  TKyvex_KSIC_Component* Component;
  const char* StorageName;
  const char* Title;
};

bool IsBlank(const std::string& s) { return s.find_first_not_of(" \t") == std::string::npos; }

std::string Join(const std::vector<std::string>& items, const char* separator) {
  std::string out;
  for (const auto& item : items) out += (out.empty() ? "" : separator) + item;
  return out;
}

const char* const kNoFileName = "Önce bir dosya adı yazın ya da Gözat… ile bir dosya seçin.";

}  // namespace

std::string BuildCaption(const std::string& title, const std::string& versionText) {
  return title + " .:: Sürüm " + versionText + " ::.";
}

int PageOfNavigationEntry(int index) {
  if (index < 0 || index >= kNavigationEntryCount) return -1;
  // Page 7 is the help page, reached from the footer only.
  return index == 7 ? 8 : index;
}

std::string FileDataMarkerText(const TStorageInfoRecord& info) {
  std::vector<std::string> origin;
  if (!info.MachineName.empty()) origin.push_back(info.MachineName);
  const std::string written = FormatDateTime(info.CreationTime);
  if (!written.empty()) origin.push_back(written);
  return "Dosyadan" + (origin.empty() ? std::string() : ": " + Join(origin, ", ")) + " — canlı veri değil";
}

std::string CaptureDataMarkerText(const std::string& machine, const std::string& path) {
  return "Kayıtlı makine: " + (machine.empty() ? std::string("adı bilinmiyor") : machine) + " (" + path +
         ") — canlı veri değil";
}

TMainForm::TMainForm(TMainFormView& view, std::string versionText)
    : TComponent(nullptr),
      Kyvex_CPU1(new TKyvex_CPU(this)),
      Kyvex_SMBIOS1(new TKyvex_SMBIOS(this)),
      Kyvex_Storage1(new TKyvex_Storage(this)),
      FView(view),
      FVersionText(std::move(versionText)) {
  Kyvex_CPU1->SetName("Kyvex_CPU1");
  Kyvex_SMBIOS1->SetName("Kyvex_SMBIOS1");
  Kyvex_SMBIOS1->SetReadLocalMemory(true);
  Kyvex_Storage1->SetName("Kyvex_Storage1");
}

void TMainForm::FormCreate() {
  FCaption = BuildCaption(kApplicationTitle, FVersionText);
  FView.SetCaption(FCaption);
}

void TMainForm::SetActivePage(int page) {
  FActivePage = page;
  FView.SetActivePage(page);
}

void TMainForm::FormShow() {
  SetActivePage(0);
  RefreshLiveData();
}

void TMainForm::RefreshLiveData() {
  TKyvex_KSIC_Component* order[] = {Kyvex_Storage1, Kyvex_SMBIOS1, Kyvex_CPU1};
  for (auto* component : order) {
    component->CollectData();
    FView.ComponentRefreshed(*component);
  }
  FFileDataMarker.clear();
  FView.ShowLiveData();
}

TFileActionResult TMainForm::SaveDataToFile(const std::string& FileName) {
  if (IsBlank(FileName)) return {false, kNoFileName};
  // A save replaces any file that is not a storage file; a document chosen by mistake would
  // be lost, so only a new name or a storage file is written.
  if (HoldsOtherData(FileName))
    return {false, "Kaydedilmedi: " + FileName + " bir depolama dosyası değil; üzerine yazılmaz."};
  bool refreshed = false;
  // The processor save walks every processor and leaves the component on the last one.
  const std::uint32_t shownProcessor = Kyvex_CPU1->CPUIndex();
  try {
    if (ShowingFileData()) {
      RefreshLiveData();
      refreshed = true;
    }
    // Each save refreshes the shared header and replaces only its own storage, so one file
    // ends up holding all three; they reach the disk together, in one replacement.
    TStorageFileSave once(FileName);
    TKyvex_KSIC_Component* order[] = {Kyvex_Storage1, Kyvex_SMBIOS1, Kyvex_CPU1};
    for (auto* component : order) component->SaveToStorageFile(FileName);
    once.Commit();
  } catch (const std::exception& e) {
    RestoreProcessor(shownProcessor);
    return {false, "Kaydedilemedi: " + FileName + " — " + e.what()};
  }
  RestoreProcessor(shownProcessor);
  return {true, "Kaydedildi: " + FileName + (refreshed ? " (canlı veriler yeniden toplandı)" : "")};
}

void TMainForm::RestoreProcessor(std::uint32_t index) {
  if (Kyvex_CPU1->CPUIndex() == index) return;
  // Back on the processor the pages show, with its data: the pages are not redrawn, they
  // already show it.
  Kyvex_CPU1->SetCPUIndex(index);
  Kyvex_CPU1->CollectData();
}

TFileActionResult TMainForm::LoadDataFromFile(const std::string& FileName) {
  if (IsBlank(FileName)) return {false, kNoFileName};
  {
    // A capture is a folder or its archive; a storage file is neither.
    std::error_code ec;
    const bool folder = std::filesystem::is_directory(FileName, ec);
    bool archive = false;
    for (const char* ending : {".tar.gz", ".tgz", ".tar"}) archive |= FileName.ends_with(ending);
    if (folder || (archive && std::filesystem::is_regular_file(FileName, ec))) return LoadDataFromCapture(FileName);
  }
  const ole::HRESULT kind = ole::StgIsStorageFile(FileName);
  if (kind == ole::STG_E_FILENOTFOUND || kind == ole::STG_E_PATHNOTFOUND)
    return {false, "Dosya bulunamadı: " + FileName};
  if (kind == ole::S_FALSE) return {false, "Bu bir depolama dosyası değil: " + FileName};

  const TFilePart parts[] = {{Kyvex_Storage1, "Storage", "Diskler ve sürücüler"},
                             {Kyvex_SMBIOS1, "SMBIOS", "Anakart, BIOS ve bellek"},
                             {Kyvex_CPU1, "CPU", "İşlemci"}};
  constexpr int kParts = static_cast<int>(std::size(parts));
  // Loading is not undoable (the storage component empties its lists before it reads), so
  // what the file holds is looked at before any component is touched: a file that offers
  // nothing leaves the pages as they are.
  bool held[kParts] = {};
  try {
    OleCheck(kind, "checking " + FileName);
    std::shared_ptr<ole::IStorage> storage;
    OleCheck(ole::StgOpenStorage(FileName, nullptr, kPeekMode, nullptr, 0, &storage), "opening " + FileName);
    TStructuredSTorage root(nullptr, storage);
    for (int i = 0; i < kParts; ++i) held[i] = root.ElementExists(parts[i].StorageName);
  } catch (const std::exception& e) {
    return {false, "Yüklenemedi: " + FileName + " — " + e.what()};
  }
  if (std::find(std::begin(held), std::end(held), true) == std::end(held))
    return {false, "Dosyada yüklenecek bilgi yok: " + FileName};

  // The window has no processor selector: a file's first processor stands for the machine.
  Kyvex_CPU1->SetCPUIndex(0);
  // Every part from one reading of the file.
  TStorageFileImage image(FileName);
  std::vector<std::string> missing, unreadable;
  bool anyLoaded = false;
  TStorageInfoRecord origin;
  // Every component loads, also one the file lacks, so that none of them goes on calling
  // its data live beside the file's.
  for (int i = 0; i < kParts; ++i) {
    TKyvex_KSIC_Component& component = *parts[i].Component;
    std::string failure;
    bool loaded = false;
    try {
      // A component answers for any storage file when it has no storage of its own to look
      // for; only the storage's presence says that the data came from the file.
      loaded = component.LoadFromStorageFile(FileName) && held[i];
    } catch (const std::exception& e) {
      failure = e.what();
    }
    if (loaded) {
      if (!anyLoaded) origin = component.StorageInfo();
      anyLoaded = true;
      FView.ComponentRefreshed(component);
    } else if (!failure.empty()) {
      unreadable.push_back(std::string(parts[i].Title) + ": " + failure);
      FView.ComponentNotLoaded(component, "Bu bölümün bilgisi dosyadan okunamadı: " + failure);
    } else {
      missing.push_back(parts[i].Title);
      FView.ComponentNotLoaded(component, "Yüklenen dosyada bu bölümün bilgisi yok.");
    }
  }

  if (!anyLoaded) {
    // The components were touched and hold nothing worth showing: back to this machine.
    RefreshLiveData();
    const std::string why = unreadable.empty() ? "dosyadaki bilgiler okunamadı" : Join(unreadable, "; ");
    return {false, "Yüklenemedi: " + FileName + " — " + why + " (canlı veriler yeniden toplandı)"};
  }
  FFileDataMarker = FileDataMarkerText(origin);
  FView.ShowFileData(FFileDataMarker, origin);
  std::string message = "Yüklendi: " + FileName;
  if (!missing.empty()) message += " — dosyada yok: " + Join(missing, ", ");
  if (!unreadable.empty()) message += " — okunamadı: " + Join(unreadable, "; ");
  return {unreadable.empty(), message};
}

TFileActionResult TMainForm::LoadDataFromCapture(const std::string& path) {
  // Opened in full before any component is touched: a capture that cannot be read leaves
  // the pages as they are.
  std::string error;
  auto opened = capture::OpenCapture(path, error);
  if (!opened) return {false, "Yüklenemedi: " + path + " — " + error};
  TStorageInfoRecord origin;
  std::string failure;
  {
    platform::ScopedPlatform scope(opened->Platform());
    UseRecordedClocks(opened->Clocks());
    try {
      Kyvex_CPU1->SetCPUIndex(0);
      TKyvex_KSIC_Component* order[] = {Kyvex_Storage1, Kyvex_SMBIOS1, Kyvex_CPU1};
      for (auto* component : order) {
        component->CollectData();
        FView.ComponentRefreshed(*component);
      }
      origin = CurrentStorageInfo();
    } catch (const std::exception& e) {
      failure = e.what();
    }
    UseRecordedClocks(nullptr);
  }
  if (!failure.empty()) {
    RefreshLiveData();
    return {false, "Yüklenemedi: " + path + " — " + failure + " (canlı veriler yeniden toplandı)"};
  }
  origin.CreationTime = 0;  // when it was recorded is not known; the time of showing it is no answer
  FFileDataMarker = CaptureDataMarkerText(origin.MachineName, path);
  FView.ShowFileData(FFileDataMarker, origin);
  // As on the command line: a request the capture holds no reply to is a note; a file refused
  // (a link leading out, a special file) means the pages may not show the machine in full.
  const std::vector<std::string> problems = opened->Problems();
  const bool whole = std::all_of(problems.begin(), problems.end(),
                                 [](const std::string& p) { return p.rfind("devices.txt holds no reply", 0) == 0; });
  return {whole, "Yüklendi: " + path + " (kayıtlı makine)" + (problems.empty() ? "" : " — " + Join(problems, "; "))};
}

void TMainForm::JvItemsPanel1ItemClick(int index) {
  const int page = PageOfNavigationEntry(index);
  if (page >= 0) SetActivePage(page);
}

void TMainForm::JvFooterBtn1Click() { SetActivePage(kHelpPage); }

void TMainForm::JvFooterBtn3Click() { FView.CloseWindow(); }

void TMainForm::FormKeyPress(char32_t& key, TKeyTarget target) {
  if (target == TKeyTarget::FileName) return;
  key = TurkishUpCaseChar(key);
}

}  // namespace kyvex
