#pragma once
// The program's version, one number for every program (set in CMake).

namespace drivanto {

inline constexpr const char* kVersion = DRIVANTO_VERSION;

// The line every program's --help ends with.
inline constexpr const char* kLicenceLine =
    "Drivanto " DRIVANTO_VERSION
    " is free software under the GNU General Public License, version 3\n"
    "or later (GPL-3.0-or-later); it comes with no warranty. See the file LICENSE.\n";

}  // namespace drivanto
