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

#include "study/Json.h"

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
  // The optimum of the run's cycle and the run's distance from it, as a
  // JSON object ({"correctedFuelPer100km": ..., "gap": ...}); "" for none.
  std::string optimum;
};

class SweepTable {
 public:
  // `optimumColumns`: the table has the optimum's columns
  // (optimum.correctedFuelPer100km, optimumGap) after the figures.
  SweepTable(std::string dir, std::vector<std::string> settingNames, bool optimumColumns = false);
  ~SweepTable();
  SweepTable(const SweepTable&) = delete;
  SweepTable& operator=(const SweepTable&) = delete;
  std::string Header() const;
  // Creates both files anew; when resuming, with the rows of the planned
  // runs that came through whole (once each), whose ids it returns. Throws
  // IoError.
  std::set<std::string> Start(bool resume, const std::vector<SweepRun>& runs);
  // Appends a run's row to both files, whole or not at all (safe from
  // several threads). Throws IoError naming the file and the reason.
  void Add(const SweepRun& run, const SweepOutcome& o);
  // Both files anew from rows of summary.jsonl.
  void WriteAll(const std::vector<std::string>& jsonRows);
  // The row of summary.jsonl for a run (a line).
  static std::string JsonRow(const SweepRun& run, const SweepOutcome& o);

 private:
  std::string CsvRow(const std::vector<JsonValue>& flat) const;
  void CloseFiles();
  std::string dir_;
  std::vector<std::string> names_;
  bool optimumColumns_ = false;
  std::mutex mutex_;
  // summary.jsonl and summary.csv, held open for appending from the first
  // row on (closed when the files are made anew).
  int jsonFd_ = -1, csvFd_ = -1;
};

// The study folder held by one sweep at a time: a lock (released when the
// program ends) on DIR/lock, which names the process holding it. Throws
// IoError when another process or sweep holds it.
class StudyLock {
 public:
  explicit StudyLock(const std::string& dir);
  ~StudyLock();
  StudyLock(const StudyLock&) = delete;
  StudyLock& operator=(const StudyLock&) = delete;

 private:
  int fd_ = -1;
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
void WritePlan(const std::string& dir, const SweepPlan& plan);
SweepPlan ReadPlan(const std::string& dir);
// How a study's plan and the plan of a sweep asked to resume it differ, in
// words ("" when they are the same study).
std::string PlanDifference(const SweepPlan& study, const SweepPlan& now);
// Builds summary.csv and .jsonl from the runs' folders of a planned sweep.
// Then removes the collected runs' folders as `keepRuns` says (all, failed,
// none).
int Collect(const std::string& dir, const std::string& keepRuns, std::ostream& out,
            std::ostream& err);

}  // namespace drivanto
