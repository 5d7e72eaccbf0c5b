#include "study/Sweep.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <atomic>
#include <charconv>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <ostream>
#include <set>
#include <sstream>
#include <thread>

#include "base/Errors.h"
#include "base/Files.h"
#include "base/FixedFormat.h"
#include "base/NumberText.h"
#include "base/Text.h"
#include "model/Inputs.h"
#include "base/Sha256.h"
#include "base/Version.h"
#include "run/Tick.h"
#include "run/SettingText.h"
#include "run/Trace.h"
#include "study/Optimum.h"
#include "run/RunArgs.h"
#include "run/Runner.h"
#include "study/Json.h"
#include "run/Summary.h"
#include "study/SweepTable.h"
#include "state/Variables.h"

namespace drivanto {

namespace fs = std::filesystem;

namespace {

const char* const kHelp = R"(Usage: drivanto-sweep [options] FOLDER --out DIR
       drivanto-sweep --collect DIR

Makes the run of drivanto-batch for every combination of the settings given
(or every row of a table of runs), in this program on all cores, and
gathers their summaries in DIR/summary.csv and DIR/summary.jsonl, one row
per run, written as each run finishes. A run that writes result files works
in its own folder DIR/runs/ID/ holding copies of the input files it reads
from FOLDER (the constants file, the table files, the cycles: no pictures,
no results of earlier runs); any other run reads FOLDER as it is, and its
folder holds only what it writes (a trace, a snapshot, ERROR.TAB, its
warnings), made when it writes one. DIR/plan.jsonl records the
study: its folder, its options, its inputs' SHA-256 and its runs. The
table's columns: id, one column per setting named set.NAME, exitCode, error
(a failed run's figures stay empty), then the summary's figures.

What to run:
  --grid NAME=V1,V2,...      values of a setting (repeatable: every
  --grid NAME=FROM:TO:STEP   combination is run); NAME as for --set
  --runs FILE.csv            one run per row: an "id" column, then one column
                             per setting (names in the header)
(a study holds at most 100000 runs; a larger grid is refused with its size)
Options given to every run, as drivanto-batch takes them:
  --set NAME=VALUE  --key N:C  --mouse N:X,Y  --max-steps N  --realtime
  --strategy NAME  --strategy-param NAME=NUMBER
  --trace FILE.csv  --trace-vars A,B  --trace-every N
(a trace or a snapshot to save with a relative name lands in the run's folder)
How:
  --out DIR                  the study's folder (needed)
  -j N, --jobs N             runs at a time (default: the number of cores)
  --resume                   run only what DIR/summary.jsonl does not hold; a
                             study of other runs, options or inputs is refused
  --emit-jobs FILE           do not run: write one self-contained shell command
                             per run (for GNU parallel:
                             parallel --joblog J --resume -S hosts < FILE)
  --emit-slurm FILE          do not run: write a Slurm job-array script that
                             runs the same commands by SLURM_ARRAY_TASK_ID
  --slurm-runs-per-task N    runs one array task makes, one after the other
                             (default: as few as keep the array at 999 tasks
                             or fewer, under Slurm's usual limit of 1000)
  --slurm-time T             #SBATCH --time=T (e.g. 0:30:00 a task)
  --slurm-partition P        #SBATCH --partition=P
  --slurm-option TEXT        a further line #SBATCH TEXT (repeatable), e.g.
                             --slurm-option "--mem=2G"
  --batch-program PATH       the drivanto-batch the emitted commands call
                             (default: the one beside this program)
  --collect DIR              build DIR/summary.csv and .jsonl from the runs'
                             folders (after emitted commands have run)
  --optimum                  add the optimum of each run's cycle (drivanto-optimal
                             at its defaults, for the run's settings but its
                             strategy) as optimum.correctedFuelPer100km, and
                             the run's distance from it in %, optimumGap; the
                             schedules stay in DIR as optimum-N.csv
  --keep-runs all|failed|none
                             which runs' folders stay once their rows are in
                             the table (default all: a run's result files and
                             trace stay; failed keeps only the failed runs'
                             folders, none keeps the table alone)
  --help                     print this text
  --version                  print the version

An emitted command exits with its run's exit code (also kept in the run's
folder as "exitcode" for --collect), so that GNU parallel's joblog and Slurm
see a failed run.

Exit codes: 0 every run ended well; 1 a run failed (its row says why) or a
file could not be written; 2 a usage error.
)";


// The most runs a study takes: its plan, table and folders stay within what
// one machine holds and reads back quickly.
constexpr double kMostRuns = 100000;

struct Options {
  std::string folder, out, runsFile, emitJobs, emitSlurm, collect, batchProgram;
  std::string slurmTime, slurmPartition;
  std::vector<std::string> slurmOptions;
  int64_t runsPerTask = 0;
  std::string keepRuns = "all";
  std::vector<std::pair<std::string, std::vector<std::string>>> grid;
  std::vector<std::string> batchArgs;
  std::string trace, saveSnapshot;
  unsigned jobs = 0;
  bool resume = false, help = false, version = false;
  bool optimum = false;
};

std::string Absolute(const std::string& path) {
  if (path.empty() || IsAbsolutePath(path)) return path;
  std::error_code ec;
  return (fs::current_path(ec) / path).lexically_normal().string();
}

// The text of a grid value made from a range: 15 significant digits, so
// that 0.1 + 2 x 0.1 reads 0.3 and not as the nearest double's 17 digits.
std::string NumberText(double x) {
  char buf[40];
  const auto r = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::general, 15);
  return std::string(buf, r.ptr);
}

void RequireSetting(const std::string& name, const std::string& value) {
  const std::string why = CheckSetting(name, value);
  if (!why.empty()) throw UsageError(why);
}

bool WholeNumber(const std::string& text, int64_t* out) { return ParseWholeNumber(text, out); }

// A value that goes on an #SBATCH line: one line, no control characters.
std::string SbatchValue(const std::string& option, const std::string& value) {
  for (unsigned char c : value) {
    if (c < 0x20 || c == 0x7f) {
      throw UsageError(option + " takes one line of text, not \"" + Printable(value) + "\"");
    }
  }
  if (value.empty()) throw UsageError(option + " needs a value");
  return value;
}

// A grid's FROM:TO:STEP, nullopt for a list of values; a UsageError for a
// range that is none.
struct GridRange {
  double from, step;
  long n;  // the values' count less one
};

std::optional<GridRange> RangeOf(const std::string& name, const std::string& text) {
  const std::vector<std::string> range = SplitAt(text, ':');
  if (range.size() != 3) return std::nullopt;
  bool a = false, b = false, c = false;
  const double from = ParseNumberPrefix(range[0], &a), to = ParseNumberPrefix(range[1], &b),
               step = ParseNumberPrefix(range[2], &c);
  if (!a || !b || !c || !(step > 0) || !(to >= from) || !((to - from) / step <= kMostRuns)) {
    throw UsageError("--grid " + Printable(name + "=" + text) +
                     ": FROM:TO:STEP with FROM <= TO and STEP > 0");
  }
  return GridRange{from, step, static_cast<long>(std::floor((to - from) / step + 1e-9))};
}

// The number of a grid's values, counted without making them.
std::size_t GridCount(const std::string& name, const std::string& text) {
  if (const auto r = RangeOf(name, text)) return static_cast<std::size_t>(r->n) + 1;
  return static_cast<std::size_t>(std::count(text.begin(), text.end(), ',')) + 1;
}

std::vector<std::string> GridValues(const std::string& name, const std::string& text) {
  std::vector<std::string> values;
  if (const auto r = RangeOf(name, text)) {
    for (long i = 0; i <= r->n; ++i) values.push_back(NumberText(r->from + i * r->step));
  } else {
    values = SplitAt(text, ',');
  }
  for (const std::string& v : values) {
    if (v.empty()) throw UsageError("--grid " + Printable(name + "=" + text) + ": an empty value");
    RequireSetting(name, v);
  }
  return values;
}

Options Parse(const std::vector<std::string>& args) {
  Options o;
  std::vector<std::pair<std::string, std::string>> grid;  // --grid NAME=TEXT
  auto value = [&](std::size_t& i) -> std::string {
    if (i + 1 >= args.size()) throw UsageError(args[i] + " needs a value");
    return args[++i];
  };
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") {
      o.help = true;
    } else if (a == "--version") {
      o.version = true;
    } else if (a == "--out") {
      o.out = Absolute(value(i));
    } else if (a == "--grid") {
      const std::string v = value(i);
      const std::size_t eq = v.find('=');
      if (eq == std::string::npos) {
        throw UsageError("--grid takes NAME=VALUES, not \"" + Printable(v) + "\"");
      }
      const std::string name = v.substr(0, eq);
      for (const auto& g : grid) {
        if (g.first == name) throw UsageError("--grid " + Printable(name) + " given twice");
      }
      grid.push_back({name, v.substr(eq + 1)});
    } else if (a == "--runs") {
      o.runsFile = Absolute(value(i));
    } else if (a == "-j" || a == "--jobs" || (a.rfind("-j", 0) == 0 && a.size() > 2) ||
               a.rfind("--jobs=", 0) == 0) {
      // -j N, -jN, --jobs N, --jobs=N
      const std::string v = a == "-j" || a == "--jobs" ? value(i)
                            : a[1] == 'j'              ? a.substr(2)
                                                       : a.substr(7);
      int64_t n = 0;
      if (!WholeNumber(v, &n) || n < 1 || n > 1024) {
        throw UsageError("-j takes a number of runs at a time from 1 to 1024, not \"" +
                         Printable(v) + "\"");
      }
      o.jobs = static_cast<unsigned>(n);
    } else if (a == "--slurm-runs-per-task") {
      const std::string v = value(i);
      if (!WholeNumber(v, &o.runsPerTask) || o.runsPerTask < 1) {
        throw UsageError(a + " takes a number of runs of 1 or more, not \"" + Printable(v) + "\"");
      }
    } else if (a == "--optimum") {
      o.optimum = true;
    } else if (a == "--keep-runs") {
      o.keepRuns = value(i);
      if (o.keepRuns != "all" && o.keepRuns != "failed" && o.keepRuns != "none") {
        throw UsageError("--keep-runs takes all, failed or none, not \"" + Printable(o.keepRuns) +
                         "\"");
      }
    } else if (a == "--slurm-time") {
      o.slurmTime = SbatchValue(a, value(i));
    } else if (a == "--slurm-partition") {
      o.slurmPartition = SbatchValue(a, value(i));
    } else if (a == "--slurm-option") {
      o.slurmOptions.push_back(SbatchValue(a, value(i)));
    } else if (a == "--resume") {
      o.resume = true;
    } else if (a == "--emit-jobs") {
      o.emitJobs = Absolute(value(i));
    } else if (a == "--emit-slurm") {
      o.emitSlurm = Absolute(value(i));
    } else if (a == "--batch-program") {
      o.batchProgram = Absolute(value(i));
    } else if (a == "--collect") {
      o.collect = Absolute(value(i));
    } else if (a == "--trace") {
      o.trace = value(i);
    } else if (a == "--save-snapshot") {
      o.saveSnapshot = value(i);
    } else if (a == "--set" || a == "--key" || a == "--mouse" || a == "--max-steps" ||
               a == "--trace-vars" || a == "--trace-every" || a == "--load-snapshot" ||
               a == "--constants") {
      std::string v = value(i);
      if (a == "--load-snapshot" || a == "--constants") v = Absolute(v);
      if (a == "--set") {
        const std::size_t eq = v.find('=');
        if (eq == std::string::npos) {
          throw UsageError("--set takes NAME=VALUE, not \"" + Printable(v) + "\"");
        }
        RequireSetting(v.substr(0, eq), v.substr(eq + 1));
      }
      if (a == "--trace-vars") {
        const std::string unknown = UnknownTraceVariable(SplitAt(v, ','));
        if (!unknown.empty()) {
          throw UsageError("--trace-vars: \"" + Printable(unknown) +
                           "\" is not a variable that can be traced");
        }
      }
      o.batchArgs.push_back(a);
      o.batchArgs.push_back(v);
    } else if (a == "--realtime") {
      o.batchArgs.push_back(a);
    } else if (!a.empty() && a[0] == '-') {
      throw UsageError("unknown option " + Printable(a));
    } else {
      if (!o.folder.empty()) throw UsageError("only one FOLDER may be given");
      o.folder = Absolute(a);
    }
  }
  const bool traceOptions = std::find(o.batchArgs.begin(), o.batchArgs.end(), "--trace-vars") !=
                                o.batchArgs.end() ||
                            std::find(o.batchArgs.begin(), o.batchArgs.end(), "--trace-every") !=
                                o.batchArgs.end();
  if (traceOptions && o.trace.empty()) {
    throw UsageError("--trace-vars and --trace-every need --trace FILE.csv");
  }
  if (o.optimum && (!o.emitJobs.empty() || !o.emitSlurm.empty() || !o.collect.empty())) {
    throw UsageError("--optimum needs the runs made here, not --emit-jobs, --emit-slurm or --collect");
  }
  // The grid's size first, from the counts of its values, before any value
  // is made (a grid of many settings would take memory and time without
  // bound only to be refused).
  double size = 1;
  std::string product;
  for (const auto& [name, text] : grid) {
    const std::size_t count = GridCount(name, text);
    size *= static_cast<double>(count);
    product += (product.empty() ? "" : " x ") + std::to_string(count);
  }
  if (size > kMostRuns) {
    throw UsageError("the grid holds " + (std::isfinite(size) ? NumberText(size) : "over 1e+308") +
                     " runs (" + product + "), more than the " + NumberText(kMostRuns) +
                     " a study takes; split it into several studies");
  }
  for (const auto& [name, text] : grid) o.grid.push_back({name, GridValues(name, text)});
  return o;
}

// The runs of a CSV table: "id" first, then one column per setting.
// A run's id names its folder: letters, digits, - and _ only.
bool IsRunId(const std::string& id) {
  if (id.empty() || id.size() > 100) return false;
  for (char c : id) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_') return false;
  }
  return true;
}

std::vector<SweepRun> RunsFromTable(const std::string& file) {
  const std::string bytes = ReadFileBytes(file);
  RejectUtf16(file, bytes);
  std::vector<std::string> lines = SplitLines(bytes);
  std::vector<SweepRun> runs;
  const std::string name = Printable(file);
  auto where = [&](std::size_t line, std::size_t column) {
    return name + ", line " + std::to_string(line + 1) +
           (column ? ", column " + std::to_string(column + 1) : std::string()) + ": ";
  };
  if (lines.empty()) throw UsageError(name + ": the table of runs is empty");
  const std::vector<std::string> header = SplitAt(lines[0], ',');
  if (header.empty() || header[0] != "id") {
    throw UsageError(where(0, 0) + "the first column must be \"id\", not \"" +
                     Printable(header.empty() ? "" : header[0]) + "\"");
  }
  for (std::size_t c = 1; c < header.size(); ++c) {
    if (!FindField(header[c]) && !IsStrategyChoice(header[c])) {
      throw UsageError(where(0, c) + "\"" + Printable(header[c]) + "\" is no setting");
    }
    for (std::size_t k = 1; k < c; ++k) {
      if (header[k] == header[c]) {
        throw UsageError(where(0, c) + "the setting " + Printable(header[c]) + " twice");
      }
    }
  }
  std::set<std::string> ids;
  for (std::size_t n = 1; n < lines.size(); ++n) {
    if (lines[n].empty()) continue;
    const std::vector<std::string> cells = SplitAt(lines[n], ',');
    if (cells.size() != header.size()) {
      throw UsageError(where(n, 0) + std::to_string(cells.size()) + " cells, the header has " +
                       std::to_string(header.size()));
    }
    SweepRun r{cells[0], {}};
    if (!IsRunId(r.id)) {
      throw UsageError(where(n, 0) + "\"" + Printable(r.id) +
                       "\" is no id (letters, digits, - and _, at most 100)");
    }
    if (!ids.insert(r.id).second) {
      throw UsageError(where(n, 0) + "the id \"" + r.id + "\" is there twice");
    }
    for (std::size_t c = 1; c < header.size(); ++c) {
      // (A command line cannot hold one; a file name read from it neither.)
      if (cells[c].find('\0') != std::string::npos) {
        throw UsageError(where(n, c) + header[c] + "=" + Printable(cells[c]) +
                         ": a character of code 0, which no setting can hold");
      }
      const std::string why = CheckSetting(header[c], cells[c]);
      if (!why.empty()) throw UsageError(where(n, c) + why);
      r.settings.push_back({header[c], cells[c]});
    }
    runs.push_back(std::move(r));
  }
  if (runs.empty()) throw UsageError(name + ": the table of runs holds no runs");
  return runs;
}

std::vector<SweepRun> GridRuns(const Options& o) {
  // (Its size was checked when the options were read.)
  std::vector<SweepRun> runs{{"", {}}};
  for (const auto& [name, values] : o.grid) {
    std::vector<SweepRun> next;
    for (const SweepRun& r : runs) {
      for (const std::string& v : values) {
        SweepRun n = r;
        n.settings.push_back({name, v});
        next.push_back(std::move(n));
      }
    }
    runs = std::move(next);
  }
  const std::size_t width =
      std::to_string(runs.size()).size() < 3 ? 3 : std::to_string(runs.size()).size();
  for (std::size_t i = 0; i < runs.size(); ++i) {
    std::string id = std::to_string(i + 1);
    runs[i].id = "run" + std::string(width - id.size(), '0') + id;
  }
  return runs;
}

// The arguments of drivanto-batch for a run in its folder.
std::vector<std::string> BatchArgs(const Options& o, const SweepRun& run,
                                   const std::string& runDir) {
  std::vector<std::string> args = o.batchArgs;
  for (const auto& [name, value] : run.settings) {
    args.push_back("--set");
    args.push_back(name + "=" + value);
  }
  auto inRun = [&](const std::string& f) { return IsAbsolutePath(f) ? f : runDir + "/" + f; };
  if (!o.trace.empty()) {
    args.push_back("--trace");
    args.push_back(inRun(o.trace));
  }
  if (!o.saveSnapshot.empty()) {
    args.push_back("--save-snapshot");
    args.push_back(inRun(o.saveSnapshot));
  }
  args.push_back("--json");
  args.push_back(runDir);
  return args;
}

std::string Quote(const std::string& s) { return ShellQuoted(s); }

// The files a run reads from the study's folder, as names in the folder
// (letter case as on disk): found by a start-up in memory with the run's
// settings, so that a run's folder gets its inputs and nothing else (no
// pictures, no result files of earlier runs). Runs whose file settings agree
// share one start-up.
class RunInputs {
 public:
  explicit RunInputs(const Options& o) : o_(o) {}

  const std::vector<std::string>& Of(const SweepRun& run) { return Find(run).files; }

  // Whether the run writes result files into its working folder (as its
  // settings say; a snapshot or drive script it loads may say so too).
  bool WritesIntoFolder(const SweepRun& run) { return Find(run).writes; }

 private:
  struct Found {
    std::vector<std::string> files;
    bool writes = true;
  };

  const Found& Find(const SweepRun& run) {
    std::string key;
    for (const auto& [name, value] : run.settings) {
      const NamedField* f = FindField(name);
      if (f && std::holds_alternative<std::string State::*>(f->field)) {
        key += name + "=" + value + '\n';
      }
    }
    for (const auto& [name, value] : run.settings) {
      if (name == "Spara") key += name + "=" + value + '\n';
    }
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = known_.find(key);
    if (it == known_.end()) it = known_.emplace(key, StartUpInMemory(run)).first;
    return it->second;
  }

  Found StartUpInMemory(const SweepRun& run) const {
    Sim sim;
    Found found;
    std::vector<std::string>& files = found.files;
    const fs::path folder = fs::weakly_canonical(o_.folder);
    auto add = [&](const std::string& name) {
      if (name.empty()) return;
      std::error_code ec;
      const fs::path real = fs::weakly_canonical(ResolveCase(name), ec);
      if (ec || !fs::is_regular_file(real, ec)) return;
      const fs::path rel = real.lexically_relative(folder);
      if (rel.empty() || *rel.begin() == "..") return;  // outside the folder: read where it is
      if (std::find(files.begin(), files.end(), rel.string()) == files.end()) {
        files.push_back(rel.string());
      }
    };
    std::string constants = "CONS.VAL";
    for (std::size_t i = 0; i + 1 < o_.batchArgs.size(); ++i) {
      if (o_.batchArgs[i] == "--constants") constants = o_.batchArgs[i + 1];
    }
    add(IsAbsolutePath(constants) ? constants : JoinPath(o_.folder, constants));
    try {
      StartUp(sim, o_.folder, constants);
      for (std::size_t i = 0; i + 1 < o_.batchArgs.size(); ++i) {
        if (o_.batchArgs[i] != "--set") continue;
        const std::string& v = o_.batchArgs[i + 1];
        const std::size_t eq = v.find('=');
        if (!IsStrategyChoice(v.substr(0, eq))) ApplySetting(sim, v.substr(0, eq), v.substr(eq + 1));
      }
      for (const auto& [name, value] : run.settings) {
        if (!IsStrategyChoice(name)) ApplySetting(sim, name, value);
      }
      const bool loads = std::find_if(o_.batchArgs.begin(), o_.batchArgs.end(), [](const auto& a) {
                           return a == "--load-snapshot" || a == "--script";
                         }) != o_.batchArgs.end();
      found.writes = loads || sim.s.outputFlags.At(1) == '1' || sim.s.outputFlags.At(2) == '1';
    } catch (const std::exception&) {
      // The run itself will fail and say why; what was found is copied.
    }
    for (const RunInput& input : InputsOf(sim)) {
      const std::string key = input.key;
      if (key != "map" && key != "snapshot" && key != "named") add(input.file);
    }
    return found;
  }

  const Options& o_;
  std::mutex mutex_;
  std::map<std::string, Found> known_;
};

// The run's folder, made anew and empty.
void MakeEmptyFolder(const std::string& to) {
  std::error_code ec;
  fs::remove_all(to, ec);
  fs::create_directories(to, ec);
  if (ec) throw IoError(to, 0, "cannot be made: " + ec.message());
}

// The run's folder, made anew with copies of its input files.
void CopyInputs(const std::string& from, const std::vector<std::string>& files,
                const std::string& to) {
  std::error_code ec;
  fs::remove_all(to, ec);
  fs::create_directories(to, ec);
  if (ec) throw IoError(to, 0, "cannot be made: " + ec.message());
  for (const std::string& f : files) {
    const fs::path target = fs::path(to) / f;
    fs::create_directories(target.parent_path(), ec);
    if (!ec) fs::copy_file(fs::path(from) / f, target, fs::copy_options::overwrite_existing, ec);
    if (ec) throw IoError(JoinPath(from, f), 0, "cannot be copied to " + to + ": " + ec.message());
  }
}

// The SHA-256 of every input file of the study's runs, by name in the folder.
std::vector<std::pair<std::string, std::string>> InputPrintsOf(
    const Options& o, RunInputs& inputs, const std::vector<SweepRun>& runs) {
  std::map<std::string, std::string> prints;
  for (const SweepRun& run : runs) {
    for (const std::string& f : inputs.Of(run)) {
      if (prints.count(f)) continue;
      try {
        prints[f] = Sha256OfFile(JoinPath(o.folder, f));
      } catch (const IoError&) {
        prints[f] = "";
      }
    }
  }
  return {prints.begin(), prints.end()};
}

// Every file the sweep writes against every file it reads and against each
// other, before anything is written: the study's own files, the emitted
// commands and script, and the runs' traces and snapshots, which stay in
// their run's folder.
void CheckStudyFiles(const Options& o, RunInputs& inputs, const std::vector<SweepRun>& runs) {
  std::vector<std::pair<std::string, std::string>> outputs = {
      {"the study's table", o.out + "/summary.csv"},
      {"the study's table of JSON lines", o.out + "/summary.jsonl"},
      {"the study's plan", o.out + "/plan.jsonl"},
      {"the study's lock", o.out + "/lock"}};
  if (!o.emitJobs.empty() || !o.emitSlurm.empty()) {
    outputs.push_back({"the emitted commands", o.emitJobs.empty() ? o.out + "/jobs.txt" : o.emitJobs});
  }
  if (!o.emitSlurm.empty()) outputs.push_back({"the Slurm script", o.emitSlurm});
  std::vector<std::pair<std::string, std::string>> read;
  if (!o.runsFile.empty()) read.push_back({"the table of runs", o.runsFile});
  for (std::size_t i = 0; i + 1 < o.batchArgs.size(); ++i) {
    if (o.batchArgs[i] == "--constants") read.push_back({"the constants file", o.batchArgs[i + 1]});
    if (o.batchArgs[i] == "--load-snapshot") read.push_back({"the snapshot", o.batchArgs[i + 1]});
  }
  for (const SweepRun& run : runs) {
    for (const std::string& f : inputs.Of(run)) {
      read.push_back({"the input file " + f, JoinPath(o.folder, f)});
    }
    if (read.size() > 64) break;  // the inputs of the first runs stand for the rest
  }
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    const auto& [role, file] = outputs[i];
    for (const auto& [inRole, in] : read) {
      if (SameFile(file, in)) {
        throw UsageError(Printable(file) + ": " + role + " and " + inRole +
                         " are the same file; an output must not overwrite an input");
      }
    }
    for (std::size_t k = 0; k < i; ++k) {
      if (SameFile(file, outputs[k].second)) {
        throw UsageError(Printable(file) + ": " + role + " and " + outputs[k].first +
                         " are the same file");
      }
    }
  }
  // A run's trace or snapshot stays in its own folder: a relative name that
  // leaves it, or one name for every run of several, would have the runs
  // write each other's files or the study's.
  for (const auto& [option, name] : {std::pair{"--trace", o.trace},
                                     std::pair{"--save-snapshot", o.saveSnapshot}}) {
    if (name.empty()) continue;
    if (IsAbsolutePath(name)) {
      if (runs.size() > 1) {
        throw UsageError(std::string(option) + " " + Printable(name) +
                         ": every run would write this one file; give a name within the "
                         "run's folder (without a leading /)");
      }
      continue;
    }
    const fs::path inRun = fs::path("run") / name;
    const fs::path normal = inRun.lexically_normal();
    if (normal.empty() || *normal.begin() != "run" || normal == fs::path("run") ||
        normal == fs::path("run/")) {
      throw UsageError(std::string(option) + " " + Printable(name) +
                       ": a name within the run's folder is needed (it may not leave it)");
    }
  }
}

// An emitted command is one line of its file (GNU parallel and the Slurm
// script take them line by line): no word of it may hold a line feed.
void RequireOneLineCommands(const Options& o, const std::vector<SweepRun>& runs) {
  auto check = [](const std::string& what, const std::string& word) {
    if (word.find('\n') != std::string::npos) {
      throw UsageError(what + " \"" + Printable(word) +
                       "\" holds a line end, which an emitted command (one line) cannot carry");
    }
  };
  check("the folder", o.folder);
  check("--out", o.out);
  check("--batch-program", o.batchProgram);
  check("--trace", o.trace);
  check("--save-snapshot", o.saveSnapshot);
  for (const std::string& a : o.batchArgs) check("the option", a);
  for (const SweepRun& r : runs) {
    for (const auto& [name, value] : r.settings) {
      check("the setting of run " + r.id, name + "=" + value);
    }
  }
}

// The options every run is given, as one line of words.
std::string OptionsText(const Options& o) {
  std::vector<std::string> words = o.batchArgs;
  if (!o.trace.empty()) words.insert(words.end(), {"--trace", o.trace});
  if (!o.saveSnapshot.empty()) words.insert(words.end(), {"--save-snapshot", o.saveSnapshot});
  return ShellLine(words);
}

// A run made in this process. A run that writes result files works in a
// folder of its own with copies of its inputs; any other reads the study's
// folder where it is, and its folder holds only what it writes (a trace, a
// snapshot, ERROR.TAB, its error stream), or nothing.
SweepOutcome RunOne(const Options& o, const RunSpec& common, RunInputs& inputs,
                    const SweepRun& run, const SharedTables& tables) {
  const std::string runDir = o.out + "/runs/" + run.id;
  const bool copies = inputs.WritesIntoFolder(run);
  SweepOutcome r;
  // A run that reads in place gets its folder when it writes into it: a trace
  // or a snapshot (made now), ERROR.TAB (made by the run), its error stream
  // (made below). A folder left by an earlier attempt is emptied.
  const bool writes = !o.trace.empty() || !o.saveSnapshot.empty();
  std::error_code ec;
  bool made = copies || writes || fs::exists(runDir, ec);
  try {
    if (copies) {
      CopyInputs(o.folder, inputs.Of(run), runDir);
    } else if (made) {
      MakeEmptyFolder(runDir);
    }
  } catch (const IoError& e) {
    r.exitCode = 1;
    r.error = std::string("drivanto-sweep: ") + e.what();
    return r;
  }
  RunSpec runSpec = common;
  runSpec.folder = copies ? runDir : o.folder;
  // Runs that read the study's folder in place share their thread's tables.
  if (!copies) runSpec.tables = tables;
  runSpec.errorFolder = runDir;
  runSpec.makeErrorFolder = true;
  for (const auto& [name, value] : run.settings) runSpec.Set(name, value);
  auto inRun = [&](const std::string& f) { return IsAbsolutePath(f) ? f : runDir + "/" + f; };
  if (!o.trace.empty()) runSpec.trace = inRun(o.trace);
  if (!o.saveSnapshot.empty()) runSpec.saveSnapshot = inRun(o.saveSnapshot);
  const RunResult result = Runner().Run(runSpec);
  std::ostringstream out, err;
  result.Report(out, err, true, "drivanto-batch");
  r.exitCode = result.exitCode;
  r.summary = r.exitCode == 0 ? JsonLine(out.str()) : JsonLine(err.str());
  r.error = r.exitCode == 0 ? std::string() : ErrorText(err.str());
  // The run's row holds its summary and exit code; what it said on its
  // error stream stays beside its files.
  if (!err.str().empty()) {
    try {
      if (::mkdir(runDir.c_str(), 0777) != 0 && errno != EEXIST) {
        throw IoError(runDir, 0, ErrnoReason(errno));
      }
      WriteFilePlain(runDir + "/stderr.txt", err.str());
    } catch (const IoError&) {
      // A copy for convenience: the row holds the message.
    }
    made = true;
  }
  if (made || result.exitCode == 3) fs::remove(runDir, ec);  // only when the run left it empty
  return r;
}

// The options every run is given, as a run's description.
RunSpec CommonSpec(const Options& o) {
  RunSpec runSpec;
  for (std::size_t i = 0; i < o.batchArgs.size(); ++i) ParseRunOption(o.batchArgs, &i, &runSpec);
  return runSpec;
}

// The optima of a study's cycles: one for each set of a run's settings but
// those of its strategy (the strategy's choice and parameters, the
// thermostat's own, the result files).
class Optima {
 public:
  static std::string Key(const SweepRun& run) {
    std::string key;
    for (const auto& [name, value] : run.settings) {
      if (IsStrategyChoice(name) || name == "chargeOnLimit" || name == "chargeOffLimit" ||
          name == "chargeSetting" || name == "genRpm" || name == "Spara") {
        continue;
      }
      key += name + "=" + value + "\n";
    }
    return key;
  }
  // The run's optimum and distance from it, as a JSON object; "" when the
  // run failed or its optimum could not be found.
  std::string Against(const SweepRun& run, const SweepOutcome& outcome) const {
    auto it = corrected_.find(Key(run));
    if (it == corrected_.end() || outcome.exitCode != 0) return {};
    std::string gap = "null";
    if (auto flat = FlattenJson(outcome.summary)) {
      for (const JsonValue& v : *flat) {
        bool complete = false;
        const double fuel = ParseNumberPrefix(v.text, &complete);
        if (v.key == "chargeBalance.correctedFuelPer100km" && complete && it->second > 0) {
          gap = JsonNumber(100 * (fuel - it->second) / it->second);
        }
      }
    }
    return "{\"correctedFuelPer100km\": " + JsonNumber(it->second) + ", \"gap\": " + gap + "}";
  }
  std::map<std::string, double> corrected_;
};

Optima FindOptima(const Options& o, const RunSpec& common, const std::vector<const SweepRun*>& todo,
                  std::ostream& err) {
  Optima optima;
  std::vector<const SweepRun*> firsts;
  std::set<std::string> seen;
  for (const SweepRun* run : todo) {
    if (seen.insert(Optima::Key(*run)).second) firsts.push_back(run);
  }
  for (std::size_t n = 0; n < firsts.size(); ++n) {
    err << "\roptimum " << n + 1 << " of " << firsts.size() << "...";
    err.flush();
    OptimumRequest request;
    request.run = common;
    request.run.folder = o.folder;
    for (const auto& [name, value] : firsts[n]->settings) request.run.Set(name, value);
    // Its forward run writes no result file into the study's folder.
    request.run.Set("Spara", "0000");
    request.run.trace.clear();
    request.run.saveSnapshot.clear();
    request.threads = static_cast<int>(std::max(1u, o.jobs ? o.jobs : std::thread::hardware_concurrency()));
    request.schedule = o.out + "/optimum-" + std::to_string(n + 1) + ".csv";
    const OptimumReport report = RunOptimum(request);
    if (report.exitCode == 0) {
      optima.corrected_[Optima::Key(*firsts[n])] =
          report.forward.summary.balance.correctedFuelPer100km;
    } else {
      err << "\ndrivanto-sweep: no optimum for the runs like " << firsts[n]->id << ": "
          << report.error << "\n";
    }
  }
  if (!firsts.empty()) err << "\n";
  return optima;
}

void EmitJobs(const Options& o, RunInputs& inputs, const std::vector<SweepRun>& runs,
              std::ostream& out) {
  const std::string batch =
      o.batchProgram.empty() ? ProgramBeside("drivanto-batch") : o.batchProgram;
  std::string jobs;
  for (const SweepRun& run : runs) {
    // The run's folder with copies of its inputs, the run, its exit code
    // kept for --collect and handed on to whoever ran the command.
    const std::string runDir = o.out + "/runs/" + run.id;
    std::string cmd = "rm -rf " + Quote(runDir) + " && mkdir -p " + Quote(runDir);
    const std::vector<std::string>& files = inputs.Of(run);
    if (!files.empty()) {
      cmd += " && (cd " + Quote(o.folder) + " && cp --parents --";
      for (const std::string& f : files) cmd += " " + Quote(f);
      cmd += " " + Quote(runDir + "/") + ")";
    }
    cmd += " && { " + Quote(batch);
    for (const std::string& a : BatchArgs(o, run, runDir)) cmd += " " + Quote(a);
    cmd += " >" + Quote(runDir + "/stdout.txt") + " 2>" + Quote(runDir + "/stderr.txt") +
           "; rc=$?; echo $rc >" + Quote(runDir + "/exitcode") + "; exit $rc; }";
    jobs += cmd + "\n";
  }
  const std::string jobsFile = o.emitJobs.empty() ? o.out + "/jobs.txt" : o.emitJobs;
  WriteFileAtomic(jobsFile, jobs);
  out << "wrote " << runs.size() << " commands to " << jobsFile << "\n";
  if (!o.emitSlurm.empty()) {
    // Slurm's usual MaxArraySize is 1001 (task ids up to 1000): by default
    // each task makes as many runs as keep the array at 999 tasks or fewer.
    const int64_t total = static_cast<int64_t>(runs.size());
    const int64_t perTask = o.runsPerTask > 0 ? o.runsPerTask : (total + 998) / 999;
    const int64_t tasks = (total + perTask - 1) / perTask;
    std::string script = "#!/bin/bash\n";
    script += "#SBATCH --job-name=drivanto-sweep\n";
    script += "#SBATCH --array=1-" + std::to_string(tasks) + "\n";
    script += "#SBATCH --ntasks=1\n#SBATCH --cpus-per-task=1\n";
    script += "#SBATCH --output=" + o.out + "/slurm-%A_%a.out\n";
    if (!o.slurmTime.empty()) script += "#SBATCH --time=" + o.slurmTime + "\n";
    if (!o.slurmPartition.empty()) script += "#SBATCH --partition=" + o.slurmPartition + "\n";
    for (const std::string& line : o.slurmOptions) script += "#SBATCH " + line + "\n";
    script += "# " + std::to_string(perTask) + " run" + (perTask == 1 ? "" : "s") +
              " of the sweep per array task: lines (task - 1) x " + std::to_string(perTask) +
              " + 1 to task x " + std::to_string(perTask) +
              " of the commands, one after the other.\n"
              "# The task fails when one of its runs failed.\n";
    script += "set -uo pipefail\n";
    script += "per=" + std::to_string(perTask) + "\n";
    script += "first=$(( (SLURM_ARRAY_TASK_ID - 1) * per + 1 ))\n";
    script += "last=$(( SLURM_ARRAY_TASK_ID * per ))\n";
    script += "status=0\n";
    script += "while IFS= read -r line; do\n";
    script += "  bash -c \"$line\" || status=$?\n";
    script += "done < <(sed -n \"${first},${last}p\" " + Quote(jobsFile) + ")\n";
    script += "exit $status\n";
    WriteFileAtomic(o.emitSlurm, script);
    fs::permissions(o.emitSlurm, fs::perms::owner_exec | fs::perms::group_exec,
                    fs::perm_options::add);
    out << "wrote the Slurm script " << o.emitSlurm << " (" << tasks << " array tasks of "
        << perTask << " run" << (perTask == 1 ? "" : "s") << "; sbatch " << o.emitSlurm << ")\n";
  }
  out << "afterwards: drivanto-sweep --collect " << o.out << "\n";
}

std::string Seconds(double s) {
  std::string t;
  AppendFixed(t, s, 0, s < 10 ? 1 : 0);
  return t + " s";
}

}  // namespace

int RunSweep(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  Options o;
  std::vector<SweepRun> runs;
  RunInputs inputs(o);
  try {
    o = Parse(args);
    if (o.help) {
      out << kHelp;
      return 0;
    }
    if (o.version) {
      out << "drivanto-sweep " << kVersion << "\n";
      return 0;
    }
    if (!o.collect.empty()) return Collect(o.collect, o.keepRuns, out, err);
    if (o.folder.empty()) throw UsageError("no FOLDER given");
    if (o.out.empty()) throw UsageError("no --out DIR given");
    if (!o.runsFile.empty() && !o.grid.empty())
      throw UsageError("--runs and --grid exclude each other");
    runs = o.runsFile.empty() ? GridRuns(o) : RunsFromTable(o.runsFile);
    if (runs.empty()) throw UsageError("no runs");
    CheckStudyFiles(o, inputs, runs);
    if (!o.emitJobs.empty() || !o.emitSlurm.empty()) RequireOneLineCommands(o, runs);
  } catch (const UsageError& e) {
    err << "drivanto-sweep: " << e.what() << "\n(see drivanto-sweep --help)\n";
    return 2;
  } catch (const IoError& e) {
    err << "drivanto-sweep: " << e.what() << "\n";
    return 1;
  }

  try {
    std::error_code ec;
    fs::create_directories(o.out + "/runs", ec);
    if (ec) throw IoError(o.out, 0, "cannot be made: " + ec.message());
    const StudyLock lock(o.out);
    SweepPlan plan{o.folder, OptionsText(o), InputPrintsOf(o, inputs, runs), runs};
    // (The plan as it is read and written, letter case and all.)
    if (o.resume && fs::exists(ResolveCase(o.out + "/plan.jsonl"), ec)) {
      // A resumed study must be the same study: its runs, options and inputs.
      const std::string why = PlanDifference(ReadPlan(o.out), plan);
      if (!why.empty()) {
        err << "drivanto-sweep: " << o.out << " cannot be resumed by this sweep: " << why
            << "\n(resume it with the options it was made with, or start the sweep in another "
               "folder)\n";
        return 2;
      }
    } else {
      WritePlan(o.out, plan);
    }
    if (!o.emitJobs.empty() || !o.emitSlurm.empty()) {
      EmitJobs(o, inputs, runs, out);
      return 0;
    }
    SweepTable table(o.out, SettingNames(runs), o.optimum);
    const std::set<std::string> done = table.Start(o.resume, runs);
    std::vector<const SweepRun*> todo;
    for (const SweepRun& r : runs) {
      if (!done.count(r.id)) todo.push_back(&r);
    }
    const RunSpec common = CommonSpec(o);
    const Optima optima = o.optimum ? FindOptima(o, common, todo, err) : Optima();
    const unsigned jobs = o.jobs ? o.jobs : std::max(1u, std::thread::hardware_concurrency());
    std::atomic<std::size_t> next{0};
    std::atomic<int> failed{0};
    std::mutex progressMutex;
    std::size_t finished = 0;
    const auto started = std::chrono::steady_clock::now();
    auto progress = [&] {
      const double elapsed =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
      const std::size_t total = todo.size();
      const int width = 30;
      const int filled = total ? static_cast<int>(width * finished / total) : width;
      err << "\r[" << std::string(filled, '#') << std::string(width - filled, '.') << "] "
          << finished << "/" << total << " runs";
      if (finished > 0 && finished < total) {
        err << ", about " << Seconds(elapsed / finished * (total - finished)) << " left   ";
      } else {
        err << ", " << Seconds(elapsed) << "          ";
      }
      err.flush();
    };
    std::string firstError;
    std::size_t unwritten = 0;  // runs whose rows could not be written
    auto worker = [&] {
      const SharedTables tables;
      for (std::size_t i; (i = next++) < todo.size();) {
        const SweepRun& run = *todo[i];
        SweepOutcome o1;
        bool written = true;
        try {
          o1 = RunOne(o, common, inputs, run, tables);
          if (o.optimum) o1.optimum = optima.Against(run, o1);
          table.Add(run, o1);
        } catch (const IoError& e) {
          std::lock_guard<std::mutex> guard(progressMutex);
          if (firstError.empty()) firstError = e.what();
          written = false;
        }
        // Once its row is in the table, a run's folder goes as --keep-runs says.
        if (written && (o.keepRuns == "none" || (o.keepRuns == "failed" && o1.exitCode == 0))) {
          std::error_code gone;
          fs::remove_all(o.out + "/runs/" + run.id, gone);
        }
        std::lock_guard<std::mutex> guard(progressMutex);
        if (!written) {
          ++unwritten;
        } else {
          failed += o1.exitCode != 0;
        }
        ++finished;
        progress();
      }
    };
    progress();
    std::vector<std::thread> threads;
    for (unsigned t = 0; t < std::min<std::size_t>(jobs, todo.size()); ++t)
      threads.emplace_back(worker);
    for (std::thread& t : threads) t.join();
    err << "\n";
    out << todo.size() << " runs";
    if (done.size()) out << " (" << done.size() << " done before)";
    out << " in " << o.out << "/summary.csv";
    if (failed) out << "; " << failed << " failed (see their rows)";
    out << "\n";
    if (unwritten) {
      err << "drivanto-sweep: " << unwritten << " run" << (unwritten == 1 ? " has" : "s have")
          << " no row: " << firstError << "\n(--resume runs "
          << (unwritten == 1 ? "it" : "them") << " again once the cause is mended)\n";
    }
    return failed || unwritten ? 1 : 0;
  } catch (const IoError& e) {
    err << "drivanto-sweep: " << e.what() << "\n";
    return 1;
  }
}

}  // namespace drivanto
