#pragma once
// The options that describe a run, as drivanto-batch takes them (and the
// sweep hands on to every run): --constants, --set, --load-snapshot,
// --script, --key, --mouse, --max-steps, --realtime, --save-snapshot,
// --trace, --trace-vars and --trace-every.

#include <cstddef>
#include <string>
#include <vector>

#include "run/Runner.h"

namespace drivanto {

// Reads the option at args[*i] (and its value, moving *i past it) into the
// run's description. Returns false, changing nothing, when args[*i] is not one of these
// options; throws UsageError for a value it cannot take. File names become
// absolute (from the current folder).
bool ParseRunOption(const std::vector<std::string>& args, std::size_t* i, RunSpec* runSpec);

// After the last option: --trace-vars and --trace-every need --trace.
// `traceGiven` tells whether a trace was asked for (possibly by another
// option than --trace). Throws UsageError.
void FinishRunOptions(const RunSpec& runSpec, bool traceGiven);

// A list of names, two blanks before each, wrapped at 76 columns.
std::string NameList(const std::vector<std::string>& names);

// A NAME=VALUE setting checked (a known variable, a value it can take);
// throws UsageError naming what is wrong, with `option` ("--set") in front.
void CheckSettingText(const std::string& option, const std::string& name,
                      const std::string& value);

}  // namespace drivanto
