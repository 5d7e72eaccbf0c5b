#pragma once
// A setting given on the command line as NAME=VALUE (--set, --grid, a table
// of runs): checked before any run, so that a value the model cannot take is
// a usage error naming the setting and what it accepts; and applied to a run.

#include <string>

#include "model/Sim.h"

namespace drivanto {

// Whether NAME chooses the strategy rather than a variable: "strategy" (its
// value a strategy's name) or "STRATEGY.PARAMETER" (a number), so that runs
// and studies choose strategies as they set anything else.
bool IsStrategyChoice(const std::string& name);

// "" when NAME may be set to VALUE, else why not (an unknown name, a value
// that does not fit the variable, or one the model cannot run with).
std::string CheckSetting(const std::string& name, const std::string& value);

// Sets a checked setting as the constants file would give it (letters
// upper-cased where the file's rule says so); a file name or car constant is
// followed by the reduced reading of the constants, as after a settings
// panel, so that names are completed and the table files' constants are read
// again. Throws IoError when a table file cannot be read.
void ApplySetting(Sim& sim, const std::string& name, const std::string& value);

}  // namespace drivanto
