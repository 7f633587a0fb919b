#include "app/AnaQt.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollArea>
#include <QShortcut>
#include <QVBoxLayout>

#include "report/CpuReport.h"
#include "report/HeaderReport.h"
#include "report/Report.h"
#include "report/SmbiosReport.h"
#include "report/StorageReport.h"
#include "cpu/KSI_CPU.h"
#include "smbios/KSI_SMBIOS.h"
#include "storage/KSI_Storage.h"

namespace kyvex {

namespace {

const QColor kWindowColour(215, 211, 204);  // 13423575
const QColor kBannerColour(10, 36, 107);    // 7021578
const QColor kWarningColour(160, 0, 0);

constexpr int kClientWidth = 572;
constexpr int kClientHeight = 369;
constexpr int kHeaderHeight = 60;
constexpr int kFooterHeight = 45;
constexpr int kListWidth = 145;
constexpr int kEntryHeight = 33;

class Banner : public QWidget {
 public:
  explicit Banner(QWidget* parent) : QWidget(parent) { setFixedHeight(kHeaderHeight); }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    QLinearGradient g(0, 0, width(), 0);
    g.setColorAt(0, kBannerColour);
    g.setColorAt(1, kWindowColour);
    p.fillRect(rect(), g);
    QFont bold = font();
    bold.setBold(true);
    bold.setPointSize(bold.pointSize() + 3);
    p.setFont(bold);
    p.setPen(Qt::white);
    p.drawText(QRect(12, 6, width() - 24, 26), Qt::AlignLeft | Qt::AlignVCenter,
               QString::fromUtf8("Kyvex System Information"));
    QFont normal = font();
    p.setFont(normal);
    p.drawText(QRect(24, 32, width() - 36, 22), Qt::AlignLeft | Qt::AlignVCenter,
               QString::fromUtf8("Programımızı tercih ettiğiniz için teşekkür ederiz.."));
  }
};

// The navigation entries; entry 7 leads to page 8.
const char* const kEntries[kNavigationEntryCount] = {
    "Sistem", "İşlemci", "Anakart ve BIOS", "Bellek ve kartlar",
    "Diskler", "Sürücüler", "Dosya", "Hakkında"};

// Page titles by page index.
const char* const kPageTitles[kPageCount] = {
    "Sistem özeti", "İşlemci", "Anakart ve BIOS", "Bellek ve kartlar", "Fiziksel aygıtlar",
    "Mantıksal sürücüler", "Dosya", "Yardım", "Hakkında"};

}  // namespace

TMainFormQt::TMainFormQt(std::string versionText, QWidget* parent) : QWidget(parent) {
  FForm = std::make_unique<TMainForm>(*this, std::move(versionText));

  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowCloseButtonHint |
                 Qt::WindowTitleHint);
  setFixedSize(kClientWidth, kClientHeight);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, kWindowColour);
  setPalette(pal);
  setAutoFillBackground(true);
  QFont f("MS Sans Serif");
  f.setStyleHint(QFont::SansSerif);
  f.setPointSize(8);
  setFont(f);

  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(0, 0, 0, 0);
  outer->setSpacing(0);

  JvgWizardHeader1 = new Banner(this);
  outer->addWidget(JvgWizardHeader1);

  auto* middle = new QHBoxLayout();
  middle->setSpacing(0);
  JvItemsPanel1 = new QListWidget(this);
  JvItemsPanel1->setFixedWidth(kListWidth);
  JvItemsPanel1->setMouseTracking(true);
  JvItemsPanel1->setStyleSheet(
      "QListWidget { background: rgb(215,211,204); border: none; }"
      "QListWidget::item { height: 33px; padding-left: 8px; }"
      "QListWidget::item:hover { color: white; background: rgb(10,36,107); }"
      "QListWidget::item:selected { color: white; background: rgb(10,36,107); }");
  for (const char* entry : kEntries) {
    auto* item = new QListWidgetItem(QString::fromUtf8(entry), JvItemsPanel1);
    item->setSizeHint(QSize(kListWidth, kEntryHeight));
  }
  connect(JvItemsPanel1, &QListWidget::itemClicked, this,
          [this](QListWidgetItem* item) { FForm->JvItemsPanel1ItemClick(JvItemsPanel1->row(item)); });
  middle->addWidget(JvItemsPanel1);

  PC1 = new QStackedWidget(this);
  PC1->setFocusPolicy(Qt::NoFocus);
  for (int i = 0; i < kPageCount; ++i) {
    QLabel* body = nullptr;
    QWidget* page = MakePage(QString::fromUtf8(kPageTitles[i]), &body);
    FPageBodies[i] = body;
    if (i == 6) {
      body->setText(QString::fromUtf8("Bilgileri bir dosyaya kaydedin ya da bir dosyadan yükleyin."));
      auto* layout = static_cast<QVBoxLayout*>(page->layout());
      FileNameEdit = new QLineEdit(page);
      FileNameEdit->setObjectName("FileNameEdit");
      FileNameEdit->setPlaceholderText(QString::fromUtf8("Dosya adı"));
      layout->addWidget(FileNameEdit);
      auto* actions = new QHBoxLayout();
      SaveButton = new QPushButton(QString::fromUtf8("Kaydet"), page);
      SaveButton->setObjectName("SaveButton");
      LoadButton = new QPushButton(QString::fromUtf8("Yükle"), page);
      LoadButton->setObjectName("LoadButton");
      BrowseButton = new QPushButton(QString::fromUtf8("Gözat…"), page);
      BrowseButton->setObjectName("BrowseButton");
      actions->addWidget(SaveButton);
      actions->addWidget(LoadButton);
      actions->addStretch(1);
      actions->addWidget(BrowseButton);
      layout->addLayout(actions);
      // A path has no blanks to wrap at, and the container's reason comes after it: the
      // status wraps anywhere, so that the reason stays in sight.
      FileStatusText = new QPlainTextEdit(page);
      FileStatusText->setObjectName("FileStatusText");
      FileStatusText->setReadOnly(true);
      FileStatusText->setFrameShape(QFrame::NoFrame);
      FileStatusText->setFocusPolicy(Qt::NoFocus);
      FileStatusText->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
      FileStatusText->viewport()->setAutoFillBackground(false);
      layout->addWidget(FileStatusText, 1);
      // The page's one line of text (in the scroll area MakePage put it in) needs no more
      // room than that; the status takes the rest.
      QWidget* intro = layout->itemAt(1)->widget();
      layout->setStretchFactor(intro, 0);
      intro->setMaximumHeight(36);
      connect(SaveButton, &QPushButton::clicked, this, [this] {
        RunFileAction([this](const std::string& name) { return FForm->SaveDataToFile(name); });
      });
      connect(LoadButton, &QPushButton::clicked, this, [this] {
        RunFileAction([this](const std::string& name) { return FForm->LoadDataFromFile(name); });
      });
      connect(BrowseButton, &QPushButton::clicked, this, [this] { BrowseForFile(); });
    }
    if (i == 7)
      body->setText(QString::fromUtf8(
          "Soldaki listeden bir bölüm seçin. Bilgiler pencere her açıldığında yeniden toplanır.\n"
          "Vazgeç ya da Esc programı kapatır."));
    if (i == 8)
      body->setText(QString::fromStdString(FForm->Kyvex_CPU1->_About()));
    PC1->addWidget(page);
  }
  middle->addWidget(PC1, 1);
  outer->addLayout(middle, 1);

  JvFooter1 = new QWidget(this);
  JvFooter1->setFixedHeight(kFooterHeight);
  auto* footer = new QHBoxLayout(JvFooter1);
  footer->setContentsMargins(10, 8, 10, 8);
  JvFooterBtn1 = new QPushButton(QString::fromUtf8("Yardım"), JvFooter1);
  JvFooterBtn3 = new QPushButton(QString::fromUtf8("Vazgeç"), JvFooter1);
  FileDataLabel = new QLabel(JvFooter1);
  FileDataLabel->setObjectName("FileDataLabel");
  FileDataLabel->setAlignment(Qt::AlignCenter);
  FileDataLabel->setWordWrap(true);
  // The footer's width is fixed: a long machine name wraps instead of pushing the buttons.
  FileDataLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  QPalette warning = FileDataLabel->palette();
  warning.setColor(QPalette::WindowText, kWarningColour);
  FileDataLabel->setPalette(warning);
  QFont bold = FileDataLabel->font();
  bold.setBold(true);
  FileDataLabel->setFont(bold);
  FileDataLabel->hide();
  footer->addWidget(JvFooterBtn1);
  footer->addStretch(1);
  footer->addWidget(FileDataLabel, 8);
  footer->addStretch(1);
  footer->addWidget(JvFooterBtn3);
  outer->addWidget(JvFooter1);
  connect(JvFooterBtn1, &QPushButton::clicked, this, [this] { FForm->JvFooterBtn1Click(); });
  connect(JvFooterBtn3, &QPushButton::clicked, this, [this] { FForm->JvFooterBtn3Click(); });
  auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  connect(escape, &QShortcut::activated, this, [this] { FForm->JvFooterBtn3Click(); });

  // Key preview: the window sees every typed character before the focused control.
  qApp->installEventFilter(this);

  FForm->FormCreate();
}

TMainFormQt::~TMainFormQt() { qApp->removeEventFilter(this); }

QWidget* TMainFormQt::MakePage(const QString& title, QLabel** body) {
  auto* page = new QWidget(PC1);
  auto* layout = new QVBoxLayout(page);
  layout->setContentsMargins(12, 10, 12, 10);
  auto* heading = new QLabel(title, page);
  QFont bold = heading->font();
  bold.setBold(true);
  bold.setPointSize(bold.pointSize() + 2);
  heading->setFont(bold);
  layout->addWidget(heading);
  auto* scroll = new QScrollArea(page);
  scroll->setWidgetResizable(true);
  scroll->setFrameShape(QFrame::NoFrame);
  scroll->setBackgroundRole(QPalette::Window);
  *body = new QLabel(scroll);
  (*body)->setWordWrap(true);
  (*body)->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  (*body)->setTextInteractionFlags(Qt::TextSelectableByMouse);
  scroll->setWidget(*body);
  layout->addWidget(scroll, 1);
  return page;
}

void TMainFormQt::SetCaption(const std::string& caption) { setWindowTitle(QString::fromStdString(caption)); }

void TMainFormQt::SetActivePage(int page) {
  PC1->setCurrentIndex(page);
  const int entry = page == 8 ? 7 : page;
  if (entry >= 0 && entry < kNavigationEntryCount && page != kHelpPage)
    JvItemsPanel1->setCurrentRow(entry);
  else
    JvItemsPanel1->clearSelection();
}

void TMainFormQt::CloseWindow() { close(); }

void TMainFormQt::ShowSections(int page, const report::Sections& sections) {
  QString html;
  for (const auto& section : sections) {
    if (!section.Title.empty())
      html += "<p style='margin-top:6px'><b>" + QString::fromStdString(section.Title).toHtmlEscaped() + "</b></p>";
    html += "<table cellspacing='2'>";
    for (const auto& [label, value] : section.Items)
      html += "<tr><td>" + QString::fromStdString(label).toHtmlEscaped() + "</td><td>" +
              QString::fromStdString(value).toHtmlEscaped() + "</td></tr>";
    html += "</table>";
  }
  if (sections.empty()) html = QString::fromUtf8("<i>Bilgi bulunamadı.</i>");
  FPageBodies[page]->setTextFormat(Qt::RichText);
  FPageBodies[page]->setText(html);
}

void TMainFormQt::ComponentRefreshed(TKyvex_KSIC_Component& component) {
  if (auto* cpu = dynamic_cast<TKyvex_CPU*>(&component)) {
    ShowSections(1, report::CpuSections(*cpu));
  } else if (auto* smbios = dynamic_cast<TKyvex_SMBIOS*>(&component)) {
    ShowSections(2, report::SmbiosSystemSections(*smbios));
    ShowSections(3, report::SmbiosDeviceSections(*smbios));
  } else if (auto* storage = dynamic_cast<TKyvex_Storage*>(&component)) {
    ShowSections(4, report::StoragePhysicalSections(*storage));
    ShowSections(5, report::StorageLogicalSections(*storage));
  }
}

void TMainFormQt::ShowNote(int page, const QString& note) {
  FPageBodies[page]->setTextFormat(Qt::RichText);
  FPageBodies[page]->setText("<i>" + note.toHtmlEscaped() + "</i>");
}

void TMainFormQt::ComponentNotLoaded(TKyvex_KSIC_Component& component, const std::string& reason) {
  const QString note = QString::fromStdString(reason);
  if (dynamic_cast<TKyvex_CPU*>(&component)) {
    ShowNote(1, note);
  } else if (dynamic_cast<TKyvex_SMBIOS*>(&component)) {
    ShowNote(2, note);
    ShowNote(3, note);
  } else if (dynamic_cast<TKyvex_Storage*>(&component)) {
    ShowNote(4, note);
    ShowNote(5, note);
  }
}

void TMainFormQt::ShowFileData(const std::string& marker, const TStorageInfoRecord& info) {
  FileDataLabel->setText(QString::fromStdString(marker));
  FileDataLabel->setToolTip(FileDataLabel->text());
  FileDataLabel->show();
  // The system page describes the machine the file was written on, not this one.
  ShowSections(0, {{"Dosyadaki bilgilerin makinesi", report::StorageInfoLines(info)}});
}

void TMainFormQt::ShowLiveData() {
  FileDataLabel->hide();
  FileDataLabel->clear();
  ShowSystemSummary();
}

void TMainFormQt::RunFileAction(const std::function<TFileActionResult(const std::string&)>& action) {
  // A save collects every processor again and a load may refresh live data: it takes a while.
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const TFileActionResult result = action(FileNameEdit->text().toStdString());
  QApplication::restoreOverrideCursor();
  QPalette pal = FileStatusText->palette();
  pal.setColor(QPalette::Text, result.Succeeded ? palette().color(QPalette::WindowText) : kWarningColour);
  FileStatusText->setPalette(pal);
  FileStatusText->setPlainText(QString::fromStdString(result.Message));
}

void TMainFormQt::BrowseForFile() {
  // One dialog serves both actions: it takes a new name for a save as well as an existing
  // file for a load, and does not warn about replacing, since a save into an existing
  // storage file replaces only this program's parts of it.
  QFileDialog dialog(this, QString::fromUtf8("Dosya seçin"));
  dialog.setObjectName("FileDialog");
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setOption(QFileDialog::DontConfirmOverwrite);
  // A machine recorded by `kyvex capture` loads from its archive too (or from its folder,
  // whose path is typed).
  dialog.setNameFilters({QString::fromUtf8("Kyvex depolama dosyaları (*.kyx)"),
                         QString::fromUtf8("Kayıtlı makineler (*.tar.gz *.tgz)"), QString::fromUtf8("Tüm dosyalar (*)")});
  if (!FileNameEdit->text().isEmpty()) dialog.selectFile(FileNameEdit->text());
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  // Set here, not typed: the window's key filter would upper-case a typed path.
  FileNameEdit->setText(QDir::toNativeSeparators(dialog.selectedFiles().first()));
}

void TMainFormQt::ShowSystemSummary() {
  ShowSections(0, {{"", report::SummaryLines(report::CollectSystemSummary())}});
}

void TMainFormQt::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (event->spontaneous()) return;  // the window system re-showing a minimised window
  FForm->FormShow();
}

bool TMainFormQt::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress) return QWidget::eventFilter(watched, event);
  auto* widget = qobject_cast<QWidget*>(watched);
  if (!widget || widget->window() != this) return QWidget::eventFilter(watched, event);
  auto* key = static_cast<QKeyEvent*>(event);
  const QString typed = key->text();
  const auto units = typed.toUcs4();
  if (units.size() != 1) return QWidget::eventFilter(watched, event);
  char32_t ch = units[0];
  FForm->FormKeyPress(ch, watched == FileNameEdit ? TMainForm::TKeyTarget::FileName : TMainForm::TKeyTarget::Other);
  if (ch == units[0]) return QWidget::eventFilter(watched, event);
  // Hand the focused control the upper-cased character instead of the typed one.
  const QString replaced = QString::fromUcs4(&ch, 1);
  QKeyEvent changed(key->type(), key->key(), key->modifiers(), replaced, key->isAutoRepeat(), key->count());
  QApplication::sendEvent(watched, &changed);
  return true;
}

}  // namespace kyvex
