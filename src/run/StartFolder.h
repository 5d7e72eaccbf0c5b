#pragma once
// Where the programs find the bundled default (the constants, the car, the
// cycles and the pictures) and where the window starts.

#include <string>

namespace drivanto {

// The bundled default: <program's folder>/../share/drivanto when the program
// is installed, else the data folder of the source tree it was built from.
std::string BundledDataFolder();

struct StartFolder {
  std::string folder;  // empty when none could be found or made
  std::string notice;  // said once, when the bundled default was copied (lines)
  std::string why;     // why there is no folder
};

// The window's working folder: FOLDER when given; else the current folder
// when it holds CONS.VAL; else ~/Drivanto, which on first use receives a
// copy of the bundled default (the bundled files themselves stay as they
// are, so result files never land among them).
StartFolder ChooseStartFolder(const std::string& given);

}  // namespace drivanto
