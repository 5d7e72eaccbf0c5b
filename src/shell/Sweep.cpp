#include "shell/Sweep.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <atomic>
#include <charconv>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <ostream>
#include <set>
#include <sstream>
#include <thread>

#include "base/Errors.h"
#include "base/Files.h"
#include "base/FixedFormat.h"
#include "base/NumberText.h"
#include "base/Text.h"
#include "base/Version.h"
#include "shell/Batch.h"
#include "shell/Json.h"
#include "shell/Summary.h"
#include "shell/SweepTable.h"
#include "state/Variables.h"

namespace drivanto {

namespace fs = std::filesystem;

namespace {

const char* const kHelp = R"(Usage: drivanto-sweep [options] FOLDER --out DIR
       drivanto-sweep --collect DIR

Runs drivanto-batch once for every combination of the settings given (or
every row of a table of runs), each in its own copy of FOLDER (without its
pictures and documents, which runs do not read) under DIR/runs/ID/, on all cores, and gathers their summaries in DIR/summary.csv and
DIR/summary.jsonl, one row per run, written as each run finishes.

What to run:
  --grid NAME=V1,V2,...      values of a setting (repeatable: every
  --grid NAME=FROM:TO:STEP   combination is run); NAME as for --set
  --runs FILE.csv            one run per row: an "id" column, then one column
                             per setting (names in the header)
Options given to every run, as drivanto-batch takes them:
  --set NAME=VALUE  --key N:C  --mouse N:X,Y  --max-steps N  --realtime
  --trace FILE.csv  --trace-vars A,B  --trace-every N
(a trace or a snapshot to save with a relative name lands in the run's folder)
How:
  --out DIR                  the study's folder (needed)
  -j N, --jobs N             runs at a time (default: the number of cores)
  --resume                   run only what DIR/summary.jsonl does not hold
  --emit-jobs FILE           do not run: write one self-contained shell command
                             per run (for GNU parallel:
                             parallel --joblog J --resume -S hosts < FILE)
  --emit-slurm FILE          do not run: write a Slurm job-array script that
                             runs the same commands by SLURM_ARRAY_TASK_ID
  --batch-program PATH       the drivanto-batch the emitted commands call
                             (default: the one beside this program)
  --collect DIR              build DIR/summary.csv and .jsonl from the runs'
                             folders (after emitted commands have run)
  --help                     print this text
  --version                  print the version

Exit codes: 0 every run ended well; 1 a run failed (its row says why) or a
file could not be written; 2 a usage error.
)";

struct UsageError {
  std::string message;
};

struct Options {
  std::string folder, out, runsFile, emitJobs, emitSlurm, collect, batchProgram;
  std::vector<std::pair<std::string, std::vector<std::string>>> grid;
  std::vector<std::string> batchArgs;
  std::string trace, saveSnapshot;
  unsigned jobs = 0;
  bool resume = false, help = false, version = false;
};

std::string Absolute(const std::string& path) {
  if (path.empty() || IsAbsolutePath(path)) return path;
  std::error_code ec;
  return (fs::current_path(ec) / path).lexically_normal().string();
}

std::vector<std::string> Split(const std::string& text, char sep) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t at = text.find(sep, start);
    parts.push_back(text.substr(start, at == std::string::npos ? std::string::npos : at - start));
    if (at == std::string::npos) return parts;
    start = at + 1;
  }
}

// A shortest text of a number for grid values made from a range.
std::string NumberText(double x) {
  char buf[32];
  const auto r = std::to_chars(buf, buf + sizeof buf, x);
  return std::string(buf, r.ptr);
}

void CheckSetting(const std::string& name, const std::string& value) {
  const NamedField* f = FindField(name);
  if (!f) throw UsageError{"unknown variable \"" + name + "\""};
  State probe;
  std::string why;
  if (!SetFieldFromText(probe, f->field, value, &why)) {
    throw UsageError{name + "=" + value + ": " + why};
  }
}

std::vector<std::string> GridValues(const std::string& name, const std::string& text) {
  std::vector<std::string> values;
  const std::vector<std::string> range = Split(text, ':');
  if (range.size() == 3) {
    bool a = false, b = false, c = false;
    const double from = ParseNumberPrefix(range[0], &a), to = ParseNumberPrefix(range[1], &b),
                 step = ParseNumberPrefix(range[2], &c);
    if (!a || !b || !c || !(step > 0) || !(to >= from) || (to - from) / step > 100000) {
      throw UsageError{"--grid " + name + "=" + text +
                       ": FROM:TO:STEP with FROM <= TO and STEP > 0"};
    }
    const long n = static_cast<long>(std::floor((to - from) / step + 1e-9));
    for (long i = 0; i <= n; ++i) values.push_back(NumberText(from + i * step));
  } else {
    values = Split(text, ',');
  }
  for (const std::string& v : values) {
    if (v.empty()) throw UsageError{"--grid " + name + "=" + text + ": an empty value"};
    CheckSetting(name, v);
  }
  return values;
}

Options Parse(const std::vector<std::string>& args) {
  Options o;
  auto value = [&](std::size_t& i) -> std::string {
    if (i + 1 >= args.size()) throw UsageError{args[i] + " needs a value"};
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
      if (eq == std::string::npos) throw UsageError{"--grid takes NAME=VALUES, not \"" + v + "\""};
      const std::string name = v.substr(0, eq);
      for (const auto& g : o.grid) {
        if (g.first == name) throw UsageError{"--grid " + name + " given twice"};
      }
      o.grid.push_back({name, GridValues(name, v.substr(eq + 1))});
    } else if (a == "--runs") {
      o.runsFile = Absolute(value(i));
    } else if (a == "-j" || a == "--jobs") {
      const std::string v = value(i);
      int64_t n = 0;
      bool complete = false;
      n = static_cast<int64_t>(ParseNumberPrefix(v, &complete));
      if (!complete || n < 1 || n > 1024)
        throw UsageError{a + " takes a number of runs at a time, not \"" + v + "\""};
      o.jobs = static_cast<unsigned>(n);
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
      o.batchArgs.push_back(a);
      o.batchArgs.push_back(v);
    } else if (a == "--realtime") {
      o.batchArgs.push_back(a);
    } else if (!a.empty() && a[0] == '-') {
      throw UsageError{"unknown option " + a};
    } else {
      if (!o.folder.empty()) throw UsageError{"only one FOLDER may be given"};
      o.folder = Absolute(a);
    }
  }
  return o;
}

// The runs of a CSV table: "id" first, then one column per setting.
std::vector<SweepRun> RunsFromTable(const std::string& file) {
  std::vector<std::string> lines = SplitLines(ReadFileBytes(file));
  std::vector<SweepRun> runs;
  if (lines.empty()) throw UsageError{file + ": the table is empty"};
  const std::vector<std::string> header = Split(lines[0], ',');
  if (header.empty() || header[0] != "id")
    throw UsageError{file + ": the first column must be \"id\""};
  std::set<std::string> ids;
  for (std::size_t n = 1; n < lines.size(); ++n) {
    if (lines[n].empty()) continue;
    const std::vector<std::string> cells = Split(lines[n], ',');
    if (cells.size() != header.size()) {
      throw UsageError{file + ", line " + std::to_string(n + 1) + ": " +
                       std::to_string(cells.size()) + " cells, the header has " +
                       std::to_string(header.size())};
    }
    SweepRun r{cells[0], {}};
    if (r.id.empty() || r.id.find_first_of("/\\. ") != std::string::npos ||
        !ids.insert(r.id).second) {
      throw UsageError{file + ", line " + std::to_string(n + 1) + ": \"" + r.id +
                       "\" is not a new id (letters, digits, - and _)"};
    }
    for (std::size_t c = 1; c < header.size(); ++c) {
      CheckSetting(header[c], cells[c]);
      r.settings.push_back({header[c], cells[c]});
    }
    runs.push_back(std::move(r));
  }
  return runs;
}

std::vector<SweepRun> GridRuns(const Options& o) {
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

// A run's working copy of the study's folder: everything but the pictures
// and documents, which the batch runner never reads (most of the bytes and
// files of the bundled folder).
bool RunNeeds(const fs::path& file) {
  std::string ext = file.extension().string();
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext != ".bmp" && ext != ".md" && ext != ".png" && ext != ".svg";
}

void CopyFolder(const std::string& from, const std::string& to) {
  std::error_code ec;
  fs::remove_all(to, ec);
  fs::create_directories(to, ec);
  if (ec) throw IoError(to, 0, ec.message());
  for (auto it = fs::recursive_directory_iterator(from, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    const fs::path target = fs::path(to) / fs::relative(it->path(), from);
    if (it->is_directory()) {
      fs::create_directories(target, ec);
    } else if (RunNeeds(it->path())) {
      fs::copy_file(it->path(), target, fs::copy_options::overwrite_existing, ec);
    }
  }
  if (ec) throw IoError(from, 0, "cannot be copied to " + to + ": " + ec.message());
}

SweepOutcome RunOne(const Options& o, const SweepRun& run) {
  const std::string runDir = o.out + "/runs/" + run.id;
  SweepOutcome r;
  try {
    CopyFolder(o.folder, runDir);
  } catch (const IoError& e) {
    r.exitCode = 1;
    r.error = std::string("drivanto-sweep: ") + e.what();
    return r;
  }
  std::ostringstream out, err;
  r.exitCode = RunBatch(BatchArgs(o, run, runDir), out, err);
  r.summary = r.exitCode == 0 ? JsonLine(out.str()) : JsonLine(err.str());
  r.error = r.exitCode == 0 ? std::string() : ErrorText(err.str());
  // The run's row holds its summary and exit code; what it said on its
  // error stream stays beside its files.
  if (!err.str().empty()) WriteFilePlain(runDir + "/stderr.txt", err.str());
  return r;
}

std::string Quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out += c;
    }
  }
  return out + "'";
}

std::string ProgramBeside(const std::string& name) {
  std::error_code ec;
  const fs::path self = fs::read_symlink("/proc/self/exe", ec);
  if (ec) return name;
  return (self.parent_path() / name).string();
}

void EmitJobs(const Options& o, const std::vector<SweepRun>& runs, std::ostream& out) {
  const std::string batch =
      o.batchProgram.empty() ? ProgramBeside("drivanto-batch") : o.batchProgram;
  std::string jobs;
  for (const SweepRun& run : runs) {
    const std::string runDir = o.out + "/runs/" + run.id;
    std::string cmd = "rm -rf " + Quote(runDir) + " && mkdir -p " + Quote(runDir) + " && cp -R " +
                      Quote(o.folder + "/.") + " " + Quote(runDir + "/") + " && { " + Quote(batch);
    for (const std::string& a : BatchArgs(o, run, runDir)) cmd += " " + Quote(a);
    cmd += " >" + Quote(runDir + "/stdout.txt") + " 2>" + Quote(runDir + "/stderr.txt") +
           "; echo $? >" + Quote(runDir + "/exitcode") + "; }";
    jobs += cmd + "\n";
  }
  const std::string jobsFile = o.emitJobs.empty() ? o.out + "/jobs.txt" : o.emitJobs;
  WriteFileAtomic(jobsFile, jobs);
  out << "wrote " << runs.size() << " commands to " << jobsFile << "\n";
  if (!o.emitSlurm.empty()) {
    std::string script = "#!/bin/bash\n";
    script += "#SBATCH --job-name=drivanto-sweep\n";
    script += "#SBATCH --array=1-" + std::to_string(runs.size()) + "\n";
    script += "#SBATCH --ntasks=1\n#SBATCH --cpus-per-task=1\n";
    script += "#SBATCH --output=" + o.out + "/slurm-%A_%a.out\n";
    script += "# One run of the sweep per array task: the task's line of the commands.\n";
    script += "set -euo pipefail\n";
    script += "line=$(sed -n \"${SLURM_ARRAY_TASK_ID}p\" " + Quote(jobsFile) + ")\n";
    script += "exec bash -c \"$line\"\n";
    WriteFileAtomic(o.emitSlurm, script);
    fs::permissions(o.emitSlurm, fs::perms::owner_exec | fs::perms::group_exec,
                    fs::perm_options::add);
    out << "wrote the Slurm script " << o.emitSlurm << " (sbatch " << o.emitSlurm << ")\n";
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
    if (!o.collect.empty()) return Collect(o.collect, out, err);
    if (o.folder.empty()) throw UsageError{"no FOLDER given"};
    if (o.out.empty()) throw UsageError{"no --out DIR given"};
    if (!o.runsFile.empty() && !o.grid.empty())
      throw UsageError{"--runs and --grid exclude each other"};
    runs = o.runsFile.empty() ? GridRuns(o) : RunsFromTable(o.runsFile);
    if (runs.empty()) throw UsageError{"no runs"};
  } catch (const UsageError& e) {
    err << "drivanto-sweep: " << e.message << "\n(see drivanto-sweep --help)\n";
    return 2;
  } catch (const IoError& e) {
    err << "drivanto-sweep: " << e.what() << "\n";
    return 1;
  }

  try {
    std::error_code ec;
    fs::create_directories(o.out + "/runs", ec);
    if (ec) throw IoError(o.out, 0, ec.message());
    WritePlan(o.out, runs);
    if (!o.emitJobs.empty() || !o.emitSlurm.empty()) {
      EmitJobs(o, runs, out);
      return 0;
    }
    SweepTable table(o.out, SettingNames(runs));
    table.Start(o.resume);
    std::vector<const SweepRun*> todo;
    const std::set<std::string> done = o.resume ? FinishedIds(o.out) : std::set<std::string>{};
    for (const SweepRun& r : runs) {
      if (!done.count(r.id)) todo.push_back(&r);
    }
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
    auto worker = [&] {
      for (std::size_t i; (i = next++) < todo.size();) {
        const SweepRun& run = *todo[i];
        SweepOutcome o1;
        try {
          o1 = RunOne(o, run);
          table.Add(run, o1);
        } catch (const IoError& e) {
          std::lock_guard<std::mutex> lock(progressMutex);
          if (firstError.empty()) firstError = e.what();
          o1.exitCode = 1;
        }
        std::lock_guard<std::mutex> lock(progressMutex);
        failed += o1.exitCode != 0;
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
    if (!firstError.empty()) err << "drivanto-sweep: " << firstError << "\n";
    out << todo.size() << " runs";
    if (done.size()) out << " (" << done.size() << " done before)";
    out << " in " << o.out << "/summary.csv";
    if (failed) out << "; " << failed << " failed (see their rows)";
    out << "\n";
    return failed ? 1 : 0;
  } catch (const IoError& e) {
    err << "drivanto-sweep: " << e.what() << "\n";
    return 1;
  }
}

}  // namespace drivanto
