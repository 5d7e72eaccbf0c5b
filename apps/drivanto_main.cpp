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
#include <filesystem>
#include <iostream>

#include "shell/qt/MainWindow.h"
#include "shell/qt/Translations.h"

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
  drivanto::InstallSwedishTranslations(app);
  std::string looked;
  std::string folder = drivanto::FindWorkingFolder(given, &looked);
  if (folder.empty()) {
    // The window opens all the same, with the defaults and the message of the
    // missing file, in the folder given or the current folder.
    std::cerr << "drivanto: no CONS.VAL found (looked in " << looked << ")\n";
    std::error_code ec;
    folder = given.empty() ? std::filesystem::current_path(ec).string() : given;
  }
  drivanto::MainWindow window({folder, false});
  window.show();
  QTimer::singleShot(0, &window, [&window, start] {
    if (window.StartUpSequence() && start) window.Button1Click();
  });
  return app.exec();
}
