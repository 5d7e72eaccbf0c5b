#pragma once
// A setting given on the command line as NAME=VALUE (--set, --grid, a table
// of runs): checked before any run, so that a value the model cannot take is
// a usage error naming the setting and what it accepts.

#include <string>

namespace drivanto {

// "" when NAME may be set to VALUE, else why not (an unknown name, a value
// that does not fit the variable, or one the model cannot run with).
std::string CheckSetting(const std::string& name, const std::string& value);

}  // namespace drivanto
