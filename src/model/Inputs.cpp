#include "model/Inputs.h"

#include <sys/stat.h>

#include <filesystem>

#include "base/Errors.h"
#include "base/Files.h"
#include "data/Constants.h"
#include "model/Modules.h"

namespace drivanto {

std::vector<RunInput> InputsOf(const Sim& sim) {
  const State& s = sim.s;
  std::vector<RunInput> all = {
      {"constants", "the constants file", InWorkingFolder(s, s.konsfil)},
      {"battery", "the battery table file", s.Tbat},
      {"engine", "the engine table file", s.Tforb},
      {"motor", "the motor table file", s.Telm},
      {"vehicle", "the vehicle table file", s.Tford},
      {"gearbox", "the gearbox file", s.Tvx},
      {"brake", "the brake table file", s.Tbr},
      {"map", "the efficiency-map picture", s.Mussfil},
      {"timeCycle", "the time-cycle file", s.Ttidd},
      {"mapCycle", "the map-cycle file", s.Tkarta},
  };
  // What the runner names (a drive script, a snapshot loaded) before the
  // snapshot the state names, which may be the same file.
  for (const auto& [role, file] : sim.namedFiles) all.push_back({"named", role, file});
  all.push_back({"snapshot", "the snapshot", s.ValueFileName});
  std::vector<RunInput> inputs;
  for (RunInput& i : all) {
    if (!i.file.empty()) inputs.push_back(std::move(i));
  }
  return inputs;
}

bool SameFile(const std::string& a, const std::string& b) {
  const std::string ra = ResolveCase(a), rb = ResolveCase(b);
  struct stat sa, sb;
  const bool ea = ::stat(ra.c_str(), &sa) == 0, eb = ::stat(rb.c_str(), &sb) == 0;
  if (ea && eb) return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
  if (ea != eb) return false;
  std::error_code ec1, ec2;
  const auto pa = std::filesystem::weakly_canonical(std::filesystem::absolute(ra), ec1);
  const auto pb = std::filesystem::weakly_canonical(std::filesystem::absolute(rb), ec2);
  return !ec1 && !ec2 && pa == pb;
}

void CheckOutputFile(const Sim& sim, const std::string& name, const std::string& role) {
  if (name.empty()) return;
  for (const RunInput& input : InputsOf(sim)) {
    if (!SameFile(name, input.file)) continue;
    throw IoError(name, 0,
                  role + " and " + input.role +
                      " are the same file; an output must not overwrite an input (choose "
                      "another name for " +
                      role + ")");
  }
  for (const auto& [otherRole, file] : sim.namedOutputs) {
    if (otherRole == role || !SameFile(name, file)) continue;
    throw IoError(name, 0,
                  role + " and " + otherRole +
                      " are the same file; each output needs a file of its own (choose another "
                      "name for " +
                      role + ")");
  }
}

void CheckOutputs(const Sim& sim) {
  for (const auto& [role, file] : sim.namedOutputs) CheckOutputFile(sim, file, role);
  CheckResultFiles(sim);
}

}  // namespace drivanto
