// The main window's behaviour, kept apart from any widget toolkit: which page an entry
// shows, the caption, the key filter, the order in which the components are refreshed and
// the file page's saving and loading. A toolkit window implements TMainFormView and forwards
// its events here.
#pragma once

#include <cstdint>
#include <string>

#include "common/KSI_Common.h"

namespace kyvex {

class TKyvex_CPU;
class TKyvex_SMBIOS;
class TKyvex_Storage;

// The application's title, the first part of the caption.
inline constexpr const char* kApplicationTitle = "Vorlan Install";

constexpr int kNavigationEntryCount = 8;
constexpr int kPageCount = 9;
constexpr int kHelpPage = 7;

class TMainFormView {
 public:
  virtual ~TMainFormView() = default;
  virtual void SetCaption(const std::string& caption) = 0;
  virtual void SetActivePage(int page) = 0;
  virtual void CloseWindow() = 0;
  // Called after each component's refresh or load, so that the window can show its data.
  virtual void ComponentRefreshed(TKyvex_KSIC_Component& component) = 0;
  // After a load that left `component` without data from the file (the file holds none of
  // it, or it could not be read): its pages must not go on showing what they showed before
  // as if it came from the file. `reason` is the sentence to show there instead.
  virtual void ComponentNotLoaded(TKyvex_KSIC_Component& component, const std::string& reason) = 0;
  // The pages now show data loaded from a storage file: `marker` says so where it stays in
  // sight, `info` describes the machine the file was written on (the system page shows it).
  virtual void ShowFileData(const std::string& marker, const TStorageInfoRecord& info) = 0;
  // The pages show this machine's live data (again): no marker, the live system summary.
  virtual void ShowLiveData() = 0;
};

// How a file action ended, in the words the file page shows.
struct TFileActionResult {
  bool Succeeded = false;
  std::string Message;
};

class TMainForm : public TComponent {
 public:
  // `versionText` is the running executable's version ("2.0.0.2"), empty when it has none.
  TMainForm(TMainFormView& view, std::string versionText);

  // Window created: the caption.
  void FormCreate();
  // Window shown: page 0, then the storage, SMBIOS and processor refreshes in that order;
  // the pages show live data again also when a file was loaded before.
  void FormShow();
  // Navigation entry clicked: entries 0..6 show their own page, entry 7 page 8.
  void JvItemsPanel1ItemClick(int index);
  // "Yardım": the help page.
  void JvFooterBtn1Click();
  // "Vazgeç" or Escape: close.
  void JvFooterBtn3Click();
  // Every typed character passes here before the focused control receives it, `target`
  // saying which control that is. The file name field takes what was typed as it is: a path
  // upper-cased by Turkish rules names another file (Linux) or another name altogether
  // ("kayit" becomes "KAYİT").
  enum class TKeyTarget { Other, FileName };
  void FormKeyPress(char32_t& key, TKeyTarget target = TKeyTarget::Other);

  // The file page's "Kaydet": this machine's data, all three components, into one storage
  // file. When the window shows loaded data, the live data are collected again first, so
  // that the file never pairs this machine's header with another machine's data.
  TFileActionResult SaveDataToFile(const std::string& FileName);
  // The file page's "Yükle": every component the file holds (the first processor of it),
  // shown with a marker that the data are not live. A file that is no storage file, cannot
  // be read or holds none of the components changes nothing on the pages. A machine
  // recorded by `kyvex capture` (its folder, or its .tar.gz) is shown the same way, every
  // component collected from the recording, marked as a recorded machine.
  TFileActionResult LoadDataFromFile(const std::string& FileName);

  int ActivePage() const { return FActivePage; }
  const std::string& Caption() const { return FCaption; }
  // Whether the pages show data loaded from a file, and the marker saying so (empty when live).
  bool ShowingFileData() const { return !FFileDataMarker.empty(); }
  const std::string& FileDataMarker() const { return FFileDataMarker; }

  TKyvex_CPU* Kyvex_CPU1;
  TKyvex_SMBIOS* Kyvex_SMBIOS1;
  TKyvex_Storage* Kyvex_Storage1;

 private:
  void SetActivePage(int page);
  void RefreshLiveData();
  void RestoreProcessor(std::uint32_t index);
  TFileActionResult LoadDataFromCapture(const std::string& path);
  TMainFormView& FView;
  std::string FVersionText;
  std::string FCaption;
  int FActivePage = 0;
  std::string FFileDataMarker;
};

// The caption: title, " .:: Sürüm ", version text, " ::.".
std::string BuildCaption(const std::string& title, const std::string& versionText);

// The page a navigation entry shows, or -1 when the entry does not exist.
int PageOfNavigationEntry(int index);

// The words that stay in sight while the pages show data from a file written on the machine
// `info` describes: "Dosyadan: MACHINE, DATE — canlı veri değil".
std::string FileDataMarkerText(const TStorageInfoRecord& info);

// The same for a machine recorded by `kyvex capture` and opened from `path`:
// "Kayıtlı makine: MACHINE (PATH) — canlı veri değil".
std::string CaptureDataMarkerText(const std::string& machine, const std::string& path);

}  // namespace kyvex
