// The main window drawn with Qt Widgets. Its behaviour lives in TMainForm; this class only
// builds the widgets and forwards the events.
#pragma once

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>

#include "app/Ana.h"
#include "report/Report.h"

namespace kyvex {

class TMainFormQt : public QWidget, public TMainFormView {
  Q_OBJECT
 public:
  explicit TMainFormQt(std::string versionText, QWidget* parent = nullptr);
  ~TMainFormQt() override;

  TMainForm& Form() { return *FForm; }

  QWidget* JvgWizardHeader1;
  QListWidget* JvItemsPanel1;
  QStackedWidget* PC1;
  QWidget* JvFooter1;
  QPushButton* JvFooterBtn1;
  QPushButton* JvFooterBtn3;
  // The file page: the file's name, its actions and how the last one ended.
  QLineEdit* FileNameEdit;
  QPushButton* SaveButton;
  QPushButton* LoadButton;
  QPushButton* BrowseButton;
  QPlainTextEdit* FileStatusText;
  // In the footer, on every page, while the pages show data loaded from a file.
  QLabel* FileDataLabel;

  // TMainFormView
  void SetCaption(const std::string& caption) override;
  void SetActivePage(int page) override;
  void CloseWindow() override;
  void ComponentRefreshed(TKyvex_KSIC_Component& component) override;
  void ComponentNotLoaded(TKyvex_KSIC_Component& component, const std::string& reason) override;
  void ShowFileData(const std::string& marker, const TStorageInfoRecord& info) override;
  void ShowLiveData() override;

 protected:
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QWidget* MakePage(const QString& title, QLabel** body);
  void ShowSystemSummary();
  void ShowSections(int page, const report::Sections& sections);
  void ShowNote(int page, const QString& note);
  void RunFileAction(const std::function<TFileActionResult(const std::string&)>& action);
  void BrowseForFile();

  std::unique_ptr<TMainForm> FForm;
  QLabel* FPageBodies[kPageCount] = {};
};

}  // namespace kyvex
