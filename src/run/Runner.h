#pragma once
// A run made from code: a description of the run in (its folder, settings,
// snapshots or drive script, keys, mouse and clock, the outputs to make), its
// end, its figures and, when asked, its recorded variables out. The batch
// runner and the sweep are thin layers over it.
//
// What watches a run - the trace, the summary's figures, the recorded
// columns, the caller's own observers - sees the state after each step and
// never changes it.

#include <cstdint>
#include <iosfwd>
#include <map>
#include <optional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "model/Sim.h"
#include "run/Summary.h"
#include "run/Tick.h"

namespace drivanto {


struct RunSpec {
  // The working folder (start-up reads CONS.VAL there unless `constants`
  // names another file); relative names are taken from the current folder.
  std::string folder = ".";
  std::string constants;

  // What is done to the state after start-up, in order: a setting by its
  // variable name, a snapshot loaded, a drive script's starting state (and
  // then its keys, mouse and clock).
  struct Action {
    enum Kind { Set, Load, Script } kind;
    std::string a;  // the name of the setting, or the file
    std::string b;  // the setting's value
  };
  std::vector<Action> actions;
  void Set(const std::string& name, const std::string& value) {
    actions.push_back({Action::Set, name, value});
  }

  // The energy-management strategy by name ("" or "thermostat": the car's
  // own charging control) and its parameters, NAME=value in order.
  std::string strategy;
  std::vector<std::pair<std::string, double>> strategyParams;
  // Or a strategy the caller made (one written in Python): the run steps
  // its Clone; a strategy chosen among the settings has no say then.
  std::shared_ptr<const Strategy> strategyObject;

  // The key typed and the mouse position before the tick with this stegnr.
  std::multimap<int64_t, char> keys;
  std::multimap<int64_t, std::pair<int32_t, int32_t>> mouse;
  int64_t maxSteps = 10000000;
  // The computer's clock instead of the simulated one (which starts at
  // 12:00:00 and advances 0.04 s per tick).
  bool realtime = false;

  // Outputs. Result files are written as the settings say (Spara).
  std::string saveSnapshot;
  std::string trace;
  std::string traceRole = "the trace";
  std::vector<std::string> traceVars;  // empty: the default set
  int64_t traceEvery = 1;
  bool traceVarsGiven = false, traceEveryGiven = false;  // (as options)
  // Other files the caller will write from the run (a plot): checked with
  // the run's outputs before anything is written.
  std::vector<std::pair<std::string, std::string>> otherOutputs;
  // Variables kept in memory, a value per step (RunResult::recorded).
  std::vector<std::string> record;
  // The cache the car's tables are read through: one kept between runs (the
  // runs of a study one after another in a thread) reads and hashes a file
  // that has not changed once. Empty: the run's own.
  std::optional<SharedTables> tables;
  // Folder for ERROR.TAB; empty: the working folder. Made when the run
  // writes ERROR.TAB and it is not there, when asked.
  std::string errorFolder;
  bool makeErrorFolder = false;
  // Observers besides the runner's own, told in this order.
  std::vector<RunObserver*> observers;

  // The options besides the settings that change what the run computes, as
  // they were given, for the summary.
  std::vector<std::string> runOptions;
  // The program named in messages.
  std::string program = "drivanto-batch";
};

struct RunResult {
  // 0 the run ended; 1 an input/output or data error; 2 the run asks for
  // what cannot be (an unknown setting or a value it cannot take, a variable
  // that cannot be recorded); 3 a table lookup fell outside its table.
  int exitCode = 0;
  // The message of a failed run (lines; the program's name where the batch
  // runner prints it).
  std::string error;
  // Said while the run was set up (files found elsewhere, a clock started
  // again), and warnings at its end (a script cut short, a cycle not driven
  // to its end); each a line without the program's name.
  std::vector<std::string> notices;
  std::vector<std::string> warnings;
  // Whether the run began (a failed run that had begun has a summary).
  bool began = false;
  RunSummary summary;
  std::vector<InputPrint> inputs;
  // The variables asked for in RunSpec::record, a column per name in that
  // order, a value per step.
  std::vector<std::string> recordedNames;
  std::vector<std::vector<double>> recorded;

  // The summary as drivanto-batch prints it (text, or one JSON object).
  std::string SummaryText(bool json) const;
  // What drivanto-batch prints of the run: the notices, then the summary on
  // `out` and the warnings, or for a failed run its summary (when it had
  // begun and the failure was not a table's) and the message on `err`.
  // Lines on `err` begin with the program's name.
  void Report(std::ostream& out, std::ostream& err, bool json, const std::string& program) const;

 private:
  friend class Runner;
  // What the summary points at.
  std::shared_ptr<RunOutcome> outcome_;
};

class Runner {
 public:
  // Makes the run. Never throws for what a run can meet (missing or bad
  // files, a full disk, a table range error, exhausted memory): the result
  // says what happened.
  RunResult Run(const RunSpec& runSpec) const;
};

}  // namespace drivanto
