// The Qt main window, driven as a user would: clicks, typed keys, Escape, the file page.
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "app/AnaQt.h"
#include "common/Kyvex_SS.h"
#include "platform/fake/FakePlatform.h"
#include "smbios/KSI_SMBIOS.h"
#include "storage/KSI_Storage.h"
#include "unit/smbios/SmbiosTables.h"

using kyvex::TMainFormQt;

namespace {

class TestStorage : public kyvex::TKyvex_Storage {
 public:
  using kyvex::TKyvex_Storage::FPhysicalDevices;
};

// A storage file from another machine: a desktop's SMBIOS data and one disk, no processor.
void WriteOtherMachinesFile(const std::string& file) {
  kyvex::platform::FakePlatform other;
  other.computerName = "otherbox";
  kyvex::platform::ScopedPlatform use(other);
  kyvex::TKyvex_SMBIOS smbios;
  smbios_test::Decode(smbios, smbios_test::DesktopTable(), 2, 3);
  smbios.SaveToStorageFile(file);
  TestStorage storage;
  kyvex::TDeviceInfo disk;
  disk.Model = "KYVEX OTHER DISK";
  disk.DeviceType = kyvex::kDeviceTypeDisk;
  storage.FPhysicalDevices = {disk};
  storage.SaveToStorageFile(file);
}

// The top-level elements of a storage file among `names`.
QStringList ElementsOf(const std::string& file, const QStringList& names) {
  std::shared_ptr<kyvex::ole::IStorage> root;
  if (kyvex::ole::StgOpenStorage(file, nullptr, 0x10, nullptr, 0, &root) != kyvex::ole::S_OK) return {};
  QStringList found;
  for (const QString& name : names) {
    kyvex::ole::STATSTG stat;
    if (root->StatElement(name.toStdU16String(), &stat) == kyvex::ole::S_OK) found << name;
  }
  return found;
}

}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void init() { window_ = new TMainFormQt("2.0.0.2"); }
  void cleanup() { delete window_; }

  void fixedClientAreaAndCaption() {
    QCOMPARE(window_->size(), QSize(572, 369));
    QCOMPARE(window_->minimumSize(), window_->maximumSize());
    QCOMPARE(window_->windowTitle(), QString::fromUtf8("Vorlan Install .:: Sürüm 2.0.0.2 ::."));
    TMainFormQt bare("");
    QCOMPARE(bare.windowTitle(), QString::fromUtf8("Vorlan Install .:: Sürüm  ::."));
    QCOMPARE(window_->JvItemsPanel1->count(), 8);
    QCOMPARE(window_->PC1->count(), 9);
    QCOMPARE(window_->JvFooterBtn1->text(), QString::fromUtf8("Yardım"));
    QCOMPARE(window_->JvFooterBtn3->text(), QString::fromUtf8("Vazgeç"));
  }

  void showStartsOnPageZeroWithTheSummary() {
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_));
    QCOMPARE(window_->PC1->currentIndex(), 0);
    auto* label = window_->PC1->widget(0)->findChildren<QLabel*>().last();
    QVERIFY2(label->text().contains("Operating system"), qPrintable(label->text()));
  }

  void navigationEntriesAndHelp() {
    window_->show();
    for (int entry = 0; entry < 7; ++entry) {
      clickEntry(entry);
      QCOMPARE(window_->PC1->currentIndex(), entry);
    }
    clickEntry(7);
    QCOMPARE(window_->PC1->currentIndex(), 8);
    QTest::mouseClick(window_->JvFooterBtn1, Qt::LeftButton);
    QCOMPARE(window_->PC1->currentIndex(), 7);
    window_->Form().JvItemsPanel1ItemClick(8);
    window_->Form().JvItemsPanel1ItemClick(-1);
    QCOMPARE(window_->PC1->currentIndex(), 7);
  }

  void typedKeysAreUpperCasedByTurkishRulesExceptInTheFileName() {
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_));
    clickEntry(6);
    // Any field of the window but the file name: the Turkish upper-case filter holds.
    auto* other = new QLineEdit(window_->PC1->widget(6));
    other->show();
    other->setFocus();
    typeText(other, QString::fromUtf8("ıişçé"));
    QCOMPARE(other->text(), QString::fromUtf8("IİŞÇé"));
    other->clear();
    typeText(other, "disk1.kyx");
    QCOMPARE(other->text(), QString::fromUtf8("DİSK1.KYX"));
    // The file name is a path: it keeps what was typed.
    QLineEdit* edit = window_->FileNameEdit;
    edit->setFocus();
    typeText(edit, QString::fromUtf8("kayit-bilgi ıişç.kyx"));
    QCOMPARE(edit->text(), QString::fromUtf8("kayit-bilgi ıişç.kyx"));
  }

  void aTypedNameIsSavedUnderExactlyThatName() {
    showOnFilePage();
    QTemporaryDir dir;
    const QString path = dir.filePath("kayit-bilgi.kyx");
    window_->FileNameEdit->clear();
    window_->FileNameEdit->setFocus();
    typeText(window_->FileNameEdit, path);
    QCOMPARE(window_->FileNameEdit->text(), path);
    QTest::mouseClick(window_->SaveButton, Qt::LeftButton);
    QCOMPARE(window_->FileStatusText->toPlainText(), QString::fromUtf8("Kaydedildi: ") + path);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"kayit-bilgi.kyx"});
  }

  void saveThenLoadThroughTheFilePage() {
    showOnFilePage();
    QTemporaryDir dir;
    const QString path = dir.filePath("makine.kyx");
    window_->FileNameEdit->setText(path);
    QTest::mouseClick(window_->SaveButton, Qt::LeftButton);
    QCOMPARE(window_->FileStatusText->toPlainText(), QString::fromUtf8("Kaydedildi: ") + path);
    QVERIFY(QFile::exists(path));
    const QStringList parts = {QString(QChar(5)) + "SummaryInformation", "CPU", "SMBIOS", "Storage"};
    QCOMPARE(ElementsOf(path.toStdString(), parts), parts);
    kyvex::TKyvex_KSIC_Component header;
    QVERIFY(header.LoadFromStorageFile(path.toStdString()));
    QCOMPARE(header.StorageInfo().MachineName, std::string("FAKEHOST"));
    QVERIFY(!window_->FileDataLabel->isVisible());

    QTest::mouseClick(window_->LoadButton, Qt::LeftButton);
    QCOMPARE(window_->FileStatusText->toPlainText(), QString::fromUtf8("Yüklendi: ") + path);
    QVERIFY(window_->FileDataLabel->isVisible());
    QVERIFY2(window_->FileDataLabel->text().startsWith(QString::fromUtf8("Dosyadan: FAKEHOST, ")),
             qPrintable(window_->FileDataLabel->text()));
    QVERIFY(window_->FileDataLabel->text().endsWith(QString::fromUtf8("canlı veri değil")));
    QVERIFY2(pageText(0).contains("FAKEHOST"), qPrintable(pageText(0)));
    for (int page = 1; page <= 5; ++page) QVERIFY2(!pageText(page).contains("dosya"), qPrintable(pageText(page)));
    QVERIFY(window_->Form().ShowingFileData());
  }

  void loadedPagesShowTheFileUntilTheWindowIsShownAgain() {
    showOnFilePage();
    QTemporaryDir dir;
    const QString path = dir.filePath("other.kyx");
    WriteOtherMachinesFile(path.toStdString());
    QVERIFY(!pageText(2).contains("Award Software"));
    window_->FileNameEdit->setText(path);
    QTest::mouseClick(window_->LoadButton, Qt::LeftButton);
    QCOMPARE(window_->FileStatusText->toPlainText(), QString::fromUtf8("Yüklendi: ") + path +
                                                   QString::fromUtf8(" — dosyada yok: İşlemci"));
    QVERIFY(window_->FileDataLabel->isVisible());
    QVERIFY(window_->FileDataLabel->text().startsWith(QString::fromUtf8("Dosyadan: OTHERBOX, ")));
    QVERIFY2(pageText(0).contains("OTHERBOX"), qPrintable(pageText(0)));
    QVERIFY2(pageText(2).contains("Award Software"), qPrintable(pageText(2)));
    QVERIFY2(pageText(4).contains("KYVEX OTHER DISK"), qPrintable(pageText(4)));
    // This machine's processor is not passed off as the file's.
    QVERIFY2(pageText(1).contains(QString::fromUtf8("Yüklenen dosyada bu bölümün bilgisi yok.")), qPrintable(pageText(1)));

    window_->hide();
    window_->show();
    QVERIFY(!window_->FileDataLabel->isVisible());
    QVERIFY(!window_->Form().ShowingFileData());
    QVERIFY(!pageText(2).contains("Award Software"));
    QVERIFY(!pageText(4).contains("KYVEX OTHER DISK"));
    QVERIFY(!pageText(0).contains("OTHERBOX"));
  }

  void aCaptureOpensAsARecordedMachine() {
    showOnFilePage();
    const QString path = QString(KYVEX_SOURCE_DIR) + "/tests/data/capture/vm";
    window_->FileNameEdit->setText(path);
    QTest::mouseClick(window_->LoadButton, Qt::LeftButton);
    QCOMPARE(window_->FileStatusText->toPlainText(), QString::fromUtf8("Yüklendi: ") + path + QString::fromUtf8(" (kayıtlı makine)"));
    QVERIFY(window_->FileDataLabel->isVisible());
    QCOMPARE(window_->FileDataLabel->text(),
             QString::fromUtf8("Kayıtlı makine: VM (") + path + QString::fromUtf8(") — canlı veri değil"));
    QVERIFY2(pageText(0).contains("VM"), qPrintable(pageText(0)));
    QVERIFY2(pageText(4).contains("Virtio block device"), qPrintable(pageText(4)));
    window_->hide();
    window_->show();
    QVERIFY(!window_->FileDataLabel->isVisible());
    QVERIFY(!pageText(4).contains("Virtio block device"));
  }

  void badFilesAndNoNameLeaveThePagesAsTheyWere() {
    showOnFilePage();
    QTemporaryDir dir;
    const QString other = dir.filePath("other.kyx");
    WriteOtherMachinesFile(other.toStdString());
    window_->FileNameEdit->setText(other);
    QTest::mouseClick(window_->LoadButton, Qt::LeftButton);
    QStringList pages;
    for (int page = 0; page <= 5; ++page) pages << pageText(page);
    const QString marker = window_->FileDataLabel->text();

    const QString garbage = dir.filePath("garbage.kyx");
    {
      QFile f(garbage);
      QVERIFY(f.open(QIODevice::WriteOnly));
      f.write(QByteArray("\xD0\xCF\x11\xE0 almost a compound file") + QByteArray(700, '\x5A'));
    }
    struct Case {
      QString name;
      QString status;
    };
    for (const Case& c : {Case{garbage, QString::fromUtf8("Bu bir depolama dosyası değil: ") + garbage},
                          Case{dir.filePath("absent.kyx"), QString::fromUtf8("Dosya bulunamadı: ") + dir.filePath("absent.kyx")},
                          Case{"", QString::fromUtf8("Önce bir dosya adı yazın ya da Gözat… ile bir dosya seçin.")}}) {
      window_->FileNameEdit->setText(c.name);
      QTest::mouseClick(window_->LoadButton, Qt::LeftButton);
      QCOMPARE(window_->FileStatusText->toPlainText(), c.status);
      QVERIFY(window_->FileDataLabel->isVisible());
      QCOMPARE(window_->FileDataLabel->text(), marker);
      for (int page = 0; page <= 5; ++page) QCOMPARE(pageText(page), pages[page]);
    }
    window_->FileNameEdit->clear();
    QTest::mouseClick(window_->SaveButton, Qt::LeftButton);
    QCOMPARE(window_->FileStatusText->toPlainText(),
             QString::fromUtf8("Önce bir dosya adı yazın ya da Gözat… ile bir dosya seçin."));
    QVERIFY2(QDir(dir.path()).entryList(QDir::Files).size() == 2, "nothing was written");
  }

  void browsePutsTheChosenPathAsItIs() {
    showOnFilePage();
    QTemporaryDir dir;
    // Lower case on purpose: typed, it would come out upper-cased.
    const QString path = QDir::toNativeSeparators(dir.filePath("kayit-dosyasi.kyx"));
    bool dialogSeen = false;
    QTimer::singleShot(0, this, [&] {
      auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
      if (!dialog) return;
      dialogSeen = true;
      dialog->selectFile(path);
      static_cast<QDialog*>(dialog)->accept();  // the dialog's own accept, as its button calls it
    });
    QTest::mouseClick(window_->BrowseButton, Qt::LeftButton);
    QVERIFY(dialogSeen);
    QCOMPARE(window_->FileNameEdit->text(), path);
  }

  void escapeAndCancelClose() {
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_));
    QTest::keyClick(window_, Qt::Key_Escape);
    QVERIFY(!window_->isVisible());
    window_->show();
    QVERIFY(window_->isVisible());
    QTest::mouseClick(window_->JvFooterBtn3, Qt::LeftButton);
    QVERIFY(!window_->isVisible());
  }

 private:
  // What a keyboard sends for each character: a key press carrying the character's text.
  // (QTest's own key helpers only take Latin-1.)
  static void typeText(QWidget* target, const QString& text) {
    for (QChar ch : text) {
      QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(ch));
      QApplication::sendEvent(target, &press);
      QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, QString(ch));
      QApplication::sendEvent(target, &release);
    }
  }

  // The body of a page: what it shows below its heading.
  QString pageText(int page) const {
    auto* label = window_->PC1->widget(page)->findChildren<QLabel*>().at(1);
    return label->text();
  }

  void showOnFilePage() {
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_));
    clickEntry(6);
    QCOMPARE(window_->PC1->currentIndex(), 6);
  }

  void clickEntry(int entry) {
    auto* item = window_->JvItemsPanel1->item(entry);
    const QRect r = window_->JvItemsPanel1->visualItemRect(item);
    QTest::mouseClick(window_->JvItemsPanel1->viewport(), Qt::LeftButton, {}, r.center());
  }

  TMainFormQt* window_ = nullptr;
};

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  // The window refreshes its components when shown: let it see a scripted machine.
  kyvex::platform::FakePlatform fake;
  kyvex::platform::ScopedPlatform use(fake);
  MainWindowTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "test_main_window.moc"
