#pragma once
#include <string>
#include <vector>
namespace drivanto {
// The lines of the built-in user manual "BRUKSANVISNING" (UTF-8).
const std::vector<std::string>& ManualLines();
}  // namespace drivanto
