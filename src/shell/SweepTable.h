#pragma once
// The table of a sweep: one row per run (its id, its settings, its exit code
// and message, its summary's figures) in summary.csv and summary.jsonl,
// written as runs finish; the plan of the runs; and collecting the rows from
// the runs' folders after their commands ran elsewhere.

#include <iosfwd>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace drivanto {

struct SweepRun {
  std::string id;
  std::vector<std::pair<std::string, std::string>> settings;
};

// What a study is: its folder, the options every run is given (as one line
// of words), the input files' SHA-256 by their names in the folder, and its
// runs. Written as plan.jsonl: a first line of the study, then a line a run.
struct SweepPlan {
  std::string folder;
  std::string options;
  std::vector<std::pair<std::string, std::string>> inputs;  // name in the folder, SHA-256
  std::vector<SweepRun> runs;
  bool described = true;  // false: a plan of an older program, runs only
};

// What one finished run leaves behind: its exit code, its message and its
// summary (a JSON object, "" when the run never began; a failed run's partial
// summary is kept apart from the figures of the runs that ended well).
struct SweepOutcome {
  int exitCode = 0;
  std::string error;
  std::string summary;
};

class SweepTable {
 public:
  SweepTable(std::string dir, std::vector<std::string> settingNames);
  std::string Header() const;
  // Creates both files, or keeps them when resuming (their header checked).
  void Start(bool resume);
  // Appends a run's row to both files (safe from several threads).
  void Add(const SweepRun& run, const SweepOutcome& o);

 private:
  std::string dir_;
  std::vector<std::string> names_;
  std::mutex mutex_;
};

// The setting names of the runs, in order of appearance.
std::vector<std::string> SettingNames(const std::vector<SweepRun>& runs);
// The column of a setting in the table: "set." and its name, so that no
// setting's column can take a figure's name.
std::string SettingColumn(const std::string& name);
// The last line of a text that is a JSON object, and the other lines as one
// message.
std::string JsonLine(const std::string& text);
std::string ErrorText(const std::string& err);
// The ids summary.jsonl already holds.
std::set<std::string> FinishedIds(const std::string& dir);
void WritePlan(const std::string& dir, const SweepPlan& plan);
SweepPlan ReadPlan(const std::string& dir);
// How a study's plan and the plan of a sweep asked to resume it differ, in
// words ("" when they are the same study).
std::string PlanDifference(const SweepPlan& study, const SweepPlan& now);
// Builds summary.csv and .jsonl from the runs' folders of a planned sweep.
int Collect(const std::string& dir, std::ostream& out, std::ostream& err);

}  // namespace drivanto
