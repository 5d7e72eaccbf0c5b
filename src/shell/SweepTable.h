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

// What one finished run leaves behind: its exit code, its message and its
// summary (a JSON object, "" when the run never began).
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
// The last line of a text that is a JSON object, and the other lines as one
// message.
std::string JsonLine(const std::string& text);
std::string ErrorText(const std::string& err);
// The ids summary.jsonl already holds.
std::set<std::string> FinishedIds(const std::string& dir);
void WritePlan(const std::string& dir, const std::vector<SweepRun>& runs);
std::vector<SweepRun> ReadPlan(const std::string& dir);
// Builds summary.csv and .jsonl from the runs' folders of a planned sweep.
int Collect(const std::string& dir, std::ostream& out, std::ostream& err);

}  // namespace drivanto
