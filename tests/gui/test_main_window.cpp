// The Qt main window, driven as a user would: clicks, typed keys, Escape.
#include <QKeyEvent>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>

#include "app/AnaQt.h"
#include "platform/fake/FakePlatform.h"

using kyvex::TMainFormQt;

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

  void typedKeysAreUpperCasedByTurkishRules() {
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_));
    clickEntry(6);
    QLineEdit* edit = window_->FileNameEdit;
    edit->setFocus();
    typeText(edit, QString::fromUtf8("ıişçé"));
    QCOMPARE(edit->text(), QString::fromUtf8("IİŞÇé"));
    edit->clear();
    typeText(edit, "disk1.kyx");
    QCOMPARE(edit->text(), QString::fromUtf8("DİSK1.KYX"));
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
