#pragma once
// The headless batch runner: the window's sequence without the drawing, for
// studies, scripts and tests.

#include <iosfwd>
#include <string>
#include <vector>

namespace drivanto {

// Runs drivanto-batch with the given arguments (without the program name).
// Returns the exit code: 0 the run ended, 1 an input/output or data error, 2 a
// usage error, 3 a table lookup outside its table.
int RunBatch(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace drivanto
