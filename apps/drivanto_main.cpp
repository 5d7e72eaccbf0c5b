// drivanto: the simulator's window.
//
//   drivanto [FOLDER]
//
// FOLDER is the working folder with CONS.VAL; without it the current folder is
// used when it holds CONS.VAL, else the bundled data folder.

#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <iostream>

#include "shell/qt/MainWindow.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("mavo");
  std::string given = argc > 1 ? argv[1] : "";
  std::string looked;
  std::string folder = drivanto::FindWorkingFolder(given, &looked);
  if (folder.empty()) {
    const QString text = QString::fromUtf8("Filen CONS.VAL finns inte. Sökt i: ") + QString::fromStdString(looked);
    std::cerr << text.toStdString() << "\n";
    QMessageBox::critical(nullptr, "Drivanto", text);
    return 1;
  }
  drivanto::MainWindow window({folder, false});
  window.show();
  QTimer::singleShot(0, &window, [&window] { window.StartUpSequence(); });
  return app.exec();
}
