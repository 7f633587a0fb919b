#include "app/AnaQt.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollArea>
#include <QShortcut>
#include <QVBoxLayout>

#include "cli/CpuReport.h"
#include "cli/Report.h"
#include "cli/SmbiosReport.h"
#include "cli/StorageReport.h"
#include "cpu/KSI_CPU.h"
#include "smbios/KSI_SMBIOS.h"
#include "storage/KSI_Storage.h"

namespace kyvex {

namespace {

const QColor kWindowColour(215, 211, 204);  // 13423575
const QColor kBannerColour(10, 36, 107);    // 7021578

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
      FileNameEdit = new QLineEdit(page);
      FileNameEdit->setObjectName("FileNameEdit");
      FileNameEdit->setPlaceholderText(QString::fromUtf8("Dosya adı"));
      page->layout()->addWidget(FileNameEdit);
      static_cast<QVBoxLayout*>(page->layout())->addStretch(1);
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
  footer->addWidget(JvFooterBtn1);
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

void TMainFormQt::ShowSystemSummary() {
  ShowSections(0, {{"", report::SummaryLines(report::CollectSystemSummary())}});
}

void TMainFormQt::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (event->spontaneous()) return;  // the window system re-showing a minimised window
  FForm->FormShow();
  ShowSystemSummary();
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
  FForm->FormKeyPress(ch);
  if (ch == units[0]) return QWidget::eventFilter(watched, event);
  // Hand the focused control the upper-cased character instead of the typed one.
  const QString replaced = QString::fromUcs4(&ch, 1);
  QKeyEvent changed(key->type(), key->key(), key->modifiers(), replaced, key->isAutoRepeat(), key->count());
  QApplication::sendEvent(watched, &changed);
  return true;
}

}  // namespace kyvex
