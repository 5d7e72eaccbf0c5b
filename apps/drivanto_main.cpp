// drivanto: the simulator's window.
//
//   drivanto [--start] [FOLDER]
//
// FOLDER is the working folder with CONS.VAL; without it the current folder is
// used when it holds CONS.VAL, else the bundled data folder. --start presses
// START as soon as the window has started up.

#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <iostream>

#include "shell/qt/MainWindow.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("mavo");
  std::string given;
  bool start = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--start") {
      start = true;
    } else if (a == "--help" || a == "-h") {
      std::cout << "usage: drivanto [--start] [FOLDER]\n";
      return 0;
    } else {
      given = a;
    }
  }
  std::string looked;
  std::string folder = drivanto::FindWorkingFolder(given, &looked);
  if (folder.empty()) {
    const QString text =
        QString::fromUtf8("Filen CONS.VAL finns inte. Sökt i: ") + QString::fromStdString(looked);
    std::cerr << text.toStdString() << "\n";
    QMessageBox::critical(nullptr, "Drivanto", text);
    return 1;
  }
  drivanto::MainWindow window({folder, false});
  window.show();
  QTimer::singleShot(0, &window, [&window, start] {
    if (window.StartUpSequence() && start) window.Button1Click();
  });
  return app.exec();
}
