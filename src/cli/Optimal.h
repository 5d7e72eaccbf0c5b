#pragma once
// drivanto-optimal: the least fuel with which the car could drive a time
// cycle known in advance, ending with the battery where it began, and the
// model's own run of the schedule that gives it.

#include <iosfwd>
#include <string>
#include <vector>

namespace drivanto {

// Runs drivanto-optimal with the given arguments (without the program name).
// Exit codes as drivanto-batch's.
int RunOptimal(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace drivanto
