// drivanto: the simulator's window.
//
//   drivanto [--start] [--record FILE] [FOLDER]
//
// FOLDER is the working folder with CONS.VAL; without it the current folder is
// used when it holds CONS.VAL, else ~/Drivanto, a copy of the bundled default
// made on first use. --start presses
// START as soon as the window has started up.

#include <QApplication>
#include <QIcon>
#include <QMessageBox>
#include <QTimer>
#include <filesystem>
#include <iostream>

#include "base/Version.h"
#include "run/StartFolder.h"
#include "qt/MainWindow.h"
#include "qt/Translations.h"

int main(int argc, char** argv) {
  std::string given, record;
  bool startNow = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--start") {
      startNow = true;
    } else if (a == "--record" && i + 1 < argc) {
      record = argv[++i];
    } else if (a == "--version") {
      std::cout << "drivanto " << drivanto::kVersion << "\n";
      return 0;
    } else if (a == "--help" || a == "-h") {
      std::cout << "usage: drivanto [--start] [--record FILE] [FOLDER]\n\n"
                   "The simulator's window, started in FOLDER (with CONS.VAL), else in the\n"
                   "current folder when it holds CONS.VAL, else in ~/Drivanto, which\n"
                   "receives a copy of the bundled default on first use.\n"
                   "  --start          press START as soon as the window is up\n"
                   "  --record FILE    record the drive from START on into a drive script,\n"
                   "                   replayed by drivanto-batch --script FILE\n"
                   "  --version        print the version\n\n"
                << drivanto::kLicenceLine;
      return 0;
    } else {
      given = a;
    }
  }
  // The arguments are read before the toolkit starts, so that --help and
  // --version answer without a display.
  QApplication app(argc, argv);
  QApplication::setApplicationName("mavo");
  // The installed desktop entry and its icon (the icon theme's "drivanto").
  QGuiApplication::setDesktopFileName("drivanto");
  QApplication::setWindowIcon(QIcon::fromTheme("drivanto"));
  drivanto::InstallSwedishTranslations(app);
  const drivanto::StartFolder start = drivanto::ChooseStartFolder(given);
  std::string folder = start.folder;
  if (folder.empty()) {
    // The window opens all the same, with the defaults and the message of the
    // missing file, in the current folder.
    std::cerr << "drivanto: " << start.why << "\n";
    std::error_code ec;
    folder = std::filesystem::current_path(ec).string();
  }
  if (!record.empty() && record[0] != '/') {
    std::error_code ec;
    record = (std::filesystem::current_path(ec) / record).string();
  }
  drivanto::MainWindow window({folder, false, record});
  window.show();
  if (!start.notice.empty()) {
    QTimer::singleShot(0, &window, [&window, &start] {
      QMessageBox::information(&window, "Drivanto", QString::fromStdString(start.notice));
    });
  }
  QTimer::singleShot(0, &window, [&window, startNow] {
    if (window.StartUpSequence() && startNow) window.StartClicked();
  });
  return app.exec();
}
