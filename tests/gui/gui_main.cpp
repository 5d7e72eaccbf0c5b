// The window tests run with the offscreen platform: no display is needed.

#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

#include "qt/Translations.h"

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  drivanto::InstallSwedishTranslations(app);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
