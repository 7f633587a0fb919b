#include "app/Ana.h"

#include "app/Lib01.h"
#include "cpu/KSI_CPU.h"
#include "smbios/KSI_SMBIOS.h"
#include "storage/KSI_Storage.h"

namespace kyvex {

std::string BuildCaption(const std::string& title, const std::string& versionText) {
  return title + " .:: Sürüm " + versionText + " ::.";
}

int PageOfNavigationEntry(int index) {
  if (index < 0 || index >= kNavigationEntryCount) return -1;
  // Page 7 is the help page, reached from the footer only.
  return index == 7 ? 8 : index;
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
  TKyvex_KSIC_Component* order[] = {Kyvex_Storage1, Kyvex_SMBIOS1, Kyvex_CPU1};
  for (auto* component : order) {
    component->CollectData();
    FView.ComponentRefreshed(*component);
  }
}

void TMainForm::JvItemsPanel1ItemClick(int index) {
  const int page = PageOfNavigationEntry(index);
  if (page >= 0) SetActivePage(page);
}

void TMainForm::JvFooterBtn1Click() { SetActivePage(kHelpPage); }

void TMainForm::JvFooterBtn3Click() { FView.CloseWindow(); }

void TMainForm::FormKeyPress(char32_t& key) { key = TurkishUpCaseChar(key); }

}  // namespace kyvex
