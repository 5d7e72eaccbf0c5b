#pragma once
// The program's version, one number for every program (set in CMake).

namespace drivanto {

inline constexpr const char* kVersion = DRIVANTO_VERSION;

}  // namespace drivanto
