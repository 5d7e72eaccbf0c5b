#pragma once
// The files a run reads, with their roles: what no output of the run may
// overwrite, and what a result is traced back to.

#include <string>
#include <vector>

#include "model/Sim.h"

namespace drivanto {

struct RunInput {
  const char* key;   // a short name for summaries ("constants", "battery", ...)
  std::string role;  // words for messages ("the constants file", ...)
  std::string file;
};

// The constants file, the table files, the efficiency-map picture, both
// cycle files, the snapshot named by the state and the files the runner
// names (Sim::namedFiles). Names that are empty are left out.
std::vector<RunInput> InputsOf(const Sim& sim);

// Whether two names lead to the same file: the same file on disk (device and
// inode) where both exist, otherwise the same full path once letter case,
// "." and ".." and links are resolved.
bool SameFile(const std::string& a, const std::string& b);

// Throws IoError when the output file `name` (in the role `role`, e.g.
// "result file 1") is one of the run's inputs, or another output the runner
// names (Sim::namedOutputs) in another role.
void CheckOutputFile(const Sim& sim, const std::string& name, const std::string& role);

// Every output the runner names and the result files the settings switch
// on, each checked as above, before anything is written.
void CheckOutputs(const Sim& sim);

}  // namespace drivanto
