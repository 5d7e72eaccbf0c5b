#include "run/RunArgs.h"

#include <cmath>

#include "base/Errors.h"
#include "base/Files.h"
#include "base/NumberText.h"
#include "base/Text.h"
#include "run/DriveScript.h"
#include "run/SettingText.h"
#include "run/Trace.h"
#include "state/Variables.h"

namespace drivanto {

namespace {

std::string ValidNames() {
  std::vector<std::string> names;
  for (const NamedField& f : AllFields()) names.push_back(f.name);
  return NameList(names);
}

}  // namespace

std::string NameList(const std::vector<std::string>& names) {
  std::string list;
  int column = 0;
  for (const std::string& n : names) {
    if (column + n.size() + 1 > 76) {
      list += "\n";
      column = 0;
    }
    list += "  " + n;
    column += static_cast<int>(n.size()) + 2;
  }
  return list;
}

void CheckSettingText(const std::string& option, const std::string& name,
                      const std::string& value) {
  if (!FindField(name)) {
    throw UsageError("unknown variable \"" + Printable(name) + "\" in " + option +
                     ". Valid names:\n" + ValidNames());
  }
  const std::string why = CheckSetting(name, value);
  if (!why.empty()) throw UsageError(option + " " + why);
}

bool ParseRunOption(const std::vector<std::string>& args, std::size_t* index, RunSpec* runSpec) {
  std::size_t& i = *index;
  const std::string& a = args[i];
  auto value = [&]() -> std::string {
    if (i + 1 >= args.size()) throw UsageError(a + " needs a value");
    return args[++i];
  };
  RunSpec& o = *runSpec;
  if (a == "--constants") {
    o.constants = AbsolutePath(value());
    o.runOptions.push_back(a);
    o.runOptions.push_back(o.constants);
  } else if (a == "--set") {
    const std::string v = value();
    const std::size_t eq = v.find('=');
    if (eq == std::string::npos) throw UsageError("--set takes NAME=VALUE, not \"" + v + "\"");
    CheckSettingText("--set", v.substr(0, eq), v.substr(eq + 1));
    o.Set(v.substr(0, eq), v.substr(eq + 1));
  } else if (a == "--strategy") {
    o.strategy = value();
    // A schedule's file is found from the current folder.
    if (o.strategy.rfind("schedule=", 0) == 0) o.strategy = "schedule=" + AbsolutePath(o.strategy.substr(9));
    o.runOptions.push_back(a);
    o.runOptions.push_back(o.strategy);
  } else if (a == "--strategy-param") {
    const std::string v = value();
    const std::size_t eq = v.find('=');
    bool complete = false;
    const double x = eq == std::string::npos ? 0.0
                                             : ParseNumberEitherSeparator(v.substr(eq + 1), &complete);
    if (eq == std::string::npos || eq == 0 || !complete || !std::isfinite(x)) {
      throw UsageError("--strategy-param takes NAME=NUMBER, not \"" + Printable(v) + "\"");
    }
    o.strategyParams.emplace_back(v.substr(0, eq), x);
    o.runOptions.push_back(a);
    o.runOptions.push_back(v);
  } else if (a == "--load-snapshot") {
    o.actions.push_back({RunSpec::Action::Load, AbsolutePath(value()), {}});
    o.runOptions.push_back(a);
    o.runOptions.push_back(o.actions.back().a);
  } else if (a == "--script") {
    for (const RunSpec::Action& earlier : o.actions) {
      if (earlier.kind == RunSpec::Action::Script) {
        throw UsageError("only one --script may be given");
      }
    }
    o.actions.push_back({RunSpec::Action::Script, AbsolutePath(value()), {}});
    o.runOptions.push_back(a);
    o.runOptions.push_back(o.actions.back().a);
  } else if (a == "--save-snapshot") {
    o.saveSnapshot = AbsolutePath(value());
  } else if (a == "--key") {
    const std::string v = value();
    int64_t n = 0;
    char c = 0;
    if (!ParseKeyValue(v, &n, &c)) {
      throw UsageError("--key takes N:C (a tick number and one character), not \"" + v + "\"");
    }
    o.keys.emplace(n, c);
    o.runOptions.push_back(a);
    o.runOptions.push_back(v);
  } else if (a == "--mouse") {
    const std::string v = value();
    int64_t n = 0;
    int32_t x = 0, y = 0;
    if (!ParseMouseValue(v, &n, &x, &y)) {
      throw UsageError("--mouse takes N:X,Y (a tick number and a position), not \"" + v + "\"");
    }
    o.mouse.emplace(n, std::make_pair(x, y));
    o.runOptions.push_back(a);
    o.runOptions.push_back(v);
  } else if (a == "--max-steps") {
    const std::string v = value();
    if (!ParseWholeNumber(v, &o.maxSteps) || o.maxSteps < 0) {
      throw UsageError("--max-steps takes a whole number, not \"" + v + "\"");
    }
    o.runOptions.push_back(a);
    o.runOptions.push_back(v);
  } else if (a == "--realtime") {
    o.realtime = true;
    o.runOptions.push_back(a);
  } else if (a == "--trace") {
    o.trace = AbsolutePath(value());
  } else if (a == "--trace-vars") {
    const std::string v = value();
    o.traceVars.clear();
    for (std::size_t start = 0; start <= v.size();) {
      std::size_t comma = v.find(',', start);
      if (comma == std::string::npos) comma = v.size();
      if (comma > start) o.traceVars.push_back(v.substr(start, comma - start));
      start = comma + 1;
    }
    const std::string unknown = UnknownTraceVariable(o.traceVars);
    if (o.traceVars.empty() || !unknown.empty()) {
      throw UsageError("--trace-vars: \"" + unknown +
                       "\" is not a variable that can be traced. Valid names:\n" +
                       NameList(TraceableVariables()));
    }
    o.traceVarsGiven = true;
  } else if (a == "--trace-every") {
    const std::string v = value();
    if (!ParseWholeNumber(v, &o.traceEvery) || o.traceEvery < 1) {
      throw UsageError("--trace-every takes a whole number of 1 or more, not \"" + v + "\"");
    }
    o.traceEveryGiven = true;
  } else {
    return false;
  }
  return true;
}

void FinishRunOptions(const RunSpec& runSpec, bool traceGiven) {
  if (!traceGiven && (runSpec.traceVarsGiven || runSpec.traceEveryGiven)) {
    throw UsageError(std::string(runSpec.traceVarsGiven ? "--trace-vars" : "--trace-every") +
                     " needs --trace FILE.csv");
  }
}

}  // namespace drivanto
