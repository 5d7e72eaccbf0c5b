#pragma once
// drivanto-sweep: a study in one command. Runs over a grid of settings or a
// table of runs, made through the run API in threads on all cores (a run
// that writes result files in a working copy of its own); their summaries
// gathered into one table. Or the same runs written as
// commands for GNU parallel or a Slurm job array, and their folders gathered
// afterwards.

#include <iosfwd>
#include <string>
#include <vector>

namespace drivanto {

// Runs drivanto-sweep with the given arguments (without the program name).
// Returns 0 when every run ended well, 1 when a run failed or a file could
// not be written, 2 on a usage error.
int RunSweep(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace drivanto
