// The main window's behaviour, kept apart from any widget toolkit: which page an entry
// shows, the caption, the key filter and the order in which the components are refreshed.
// A toolkit window implements TMainFormView and forwards its events here.
#pragma once

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
  // Called after each component's refresh, so that the window can show its data.
  virtual void ComponentRefreshed(TKyvex_KSIC_Component& component) = 0;
};

class TMainForm : public TComponent {
 public:
  // `versionText` is the running executable's version ("2.0.0.2"), empty when it has none.
  TMainForm(TMainFormView& view, std::string versionText);

  // Window created: the caption.
  void FormCreate();
  // Window shown: page 0, then the storage, SMBIOS and processor refreshes in that order.
  void FormShow();
  // Navigation entry clicked: entries 0..6 show their own page, entry 7 page 8.
  void JvItemsPanel1ItemClick(int index);
  // "Yardım": the help page.
  void JvFooterBtn1Click();
  // "Vazgeç" or Escape: close.
  void JvFooterBtn3Click();
  // Every typed character passes here before the focused control receives it.
  void FormKeyPress(char32_t& key);

  int ActivePage() const { return FActivePage; }
  const std::string& Caption() const { return FCaption; }

  TKyvex_CPU* Kyvex_CPU1;
  TKyvex_SMBIOS* Kyvex_SMBIOS1;
  TKyvex_Storage* Kyvex_Storage1;

 private:
  void SetActivePage(int page);
  TMainFormView& FView;
  std::string FVersionText;
  std::string FCaption;
  int FActivePage = 0;
};

// The caption: title, " .:: Sürüm ", version text, " ::.".
std::string BuildCaption(const std::string& title, const std::string& versionText);

// The page a navigation entry shows, or -1 when the entry does not exist.
int PageOfNavigationEntry(int index);

}  // namespace kyvex
