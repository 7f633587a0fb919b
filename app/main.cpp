// vorlan-install: the desktop window of Kyvex System Information.
#include <QApplication>
#include <iostream>

#include "app/AnaQt.h"
#include "app/Lib01.h"
#include "common/Kyvex_Native.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QString::fromUtf8(kyvex::kApplicationTitle));
  int rc = 0;
  {
    kyvex::TMainFormQt window(kyvex::GetVersionText());
    window.show();
    rc = QApplication::exec();
  }
  try {
    kyvex::UnbindNativeAPI();
  } catch (const std::exception& e) {
    std::cerr << "vorlan-install: " << e.what() << "\n";
  }
  return rc;
}
