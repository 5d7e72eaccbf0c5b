#include "shell/Batch.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <map>
#include <new>
#include <ostream>
#include <sstream>

#include "base/Errors.h"
#include "base/Files.h"
#include "base/FixedFormat.h"
#include "base/NumberText.h"
#include "base/Text.h"
#include "base/Version.h"
#include "data/Constants.h"
#include "model/Inputs.h"
#include "model/Modules.h"
#include "shell/DriveScript.h"
#include "shell/Run.h"
#include "shell/RunControl.h"
#include "shell/SettingText.h"
#include "shell/Settings.h"
#include "shell/StartFolder.h"
#include "shell/Summary.h"
#include "shell/Trace.h"
#include "state/Snapshot.h"
#include "state/Variables.h"

namespace drivanto {

namespace {

const char* const kHelp = R"(Usage: drivanto-batch [options] [FOLDER]

Runs the simulator without its window: start-up from CONS.VAL in FOLDER (the
working folder, default the current folder), START, then one computation step
per tick until the run ends (mode 100, the full time, the full length), the
tank runs empty with "Stopp vid tom tank" J, or the step limit is reached.
Result files are written as the constants say; a summary is printed at the end.

Options (applied in the order given, after the constants are read):
  --constants FILE       read FILE instead of FOLDER/CONS.VAL
  --set NAME=VALUE       set a setting or start value by its variable name,
                         e.g. timeMode=D, dt=0.04, Spara=1100, vehicleMass=1500
  --load-snapshot FILE   load a snapshot of constants and variables; a snapshot
                         of a run under way (stegnr > 1) continues that run
  --save-snapshot FILE   save a snapshot when the run has ended
  --key N:C              type the character C before tick N (the tick whose
                         stegnr becomes N); C may be "space"; repeatable
  --mouse N:X,Y          move the mouse to X,Y before tick N; repeatable
  --max-steps N          end the run after N ticks (default 10000000)
  --script FILE          replay a drive script recorded by the window
                         (drivanto --record FILE, or "Spara körning som..."):
                         its starting state, then per tick its key, mouse and
                         clock readings, so the steps are the window's own
  --realtime             take real time from the computer's clock instead of
                         the simulated clock (which starts at 12:00:00 and
                         advances 0.04 s per tick)
  --json                 print the summary as one JSON object
  --trace FILE.csv       write a step trace: a header of variable names with
                         their units, then one row per step
  --trace-vars A,B,...   the variables of the trace, by their names (default:
                         time, distance, speeds, slope, battery, motor,
                         engine, fuel and emissions)
  --trace-every N        a row every N-th step only
  --plot FILE.png|.svg   draw the charts of the run (drivanto-plot) into FILE
  --version              print the version
  --help                 print this text

Drive scripts (--script) are plain text, written by the window as a drive
goes on: the line "drivanto drive script 1", the starting state between the
lines "snapshot" and "end snapshot" (a snapshot file's 1050 lines), then
  key N:C          the key C typed before tick N (as --key N:C)
  mouse N:X,Y      the mouse at X,Y before tick N (as --mouse N:X,Y)
  clock N:T1,T2    the clock readings of tick N, in order (N = 0: at START);
                   a reading repeated K times is written T*K
  time N:TTOT,CYCLE,NOW,PREV,DT
                   the time base's values (ttot, cycleTime, clockNow,
                   clockPrev, dt) as something between the ticks (a pause, a
                   dialog, a panel) left them before tick N
  end N            the recording stopped after tick N: the replay ends there
                   (without it, at the last tick the script names, with a
                   warning that the recording was cut short)
Lines beginning with "#" are comments. Clock readings are seconds of the
day: finite, not below 0, never going back but across midnight. A script made
in another folder finds its files of the same names in FOLDER.

Every output (result files, trace, plot, snapshot to save) is checked against
every input and every other output before anything is written; a result file
or trace that another run is writing is refused.

The summary covers this run's own span (after --load-snapshot the resumed
part); a run that ends before its cycle's end says so, with what is left.

Exit codes: 0 the run ended; 1 an input/output or data error (a run that
had begun prints its summary to standard error first); 2 a usage error; 3 a
table lookup fell outside its table: the two lines meant for ERROR.TAB are
printed, and the file is written in the working folder where it can be (the
message says so when it could not).
)";

struct Options {
  std::string folder;
  std::string constants;
  struct Action {
    enum Kind { Set, Load, Script } kind;
    std::string a, b;
  };
  std::vector<Action> actions;
  std::multimap<int64_t, char> keys;
  std::multimap<int64_t, std::pair<int32_t, int32_t>> mouse;
  std::string saveSnapshot;
  int64_t maxSteps = 10000000;
  bool realtime = false;
  bool json = false;
  bool help = false;
  std::string trace;
  std::string script;
  std::string plot;
  bool version = false;
  std::vector<std::string> traceVars = DefaultTraceVariables();
  int64_t traceEvery = 1;
  bool traceVarsGiven = false, traceEveryGiven = false;
  // The options besides --set that change what the run computes, as given.
  std::vector<std::string> runOptions;
};

struct UsageError {
  std::string message;
};

std::string Absolute(const std::string& path) {
  if (IsAbsolutePath(path)) return path;
  std::error_code ec;
  const std::string cwd = std::filesystem::current_path(ec).string();
  if (ec) return path;
  if (path.empty() || path == ".") return cwd;
  return JoinPath(cwd, path);
}

// A whole number, all of the text: an optional sign and decimal digits.
bool ParseWhole(const std::string& text, int64_t* out) {
  std::string_view t = text;
  const bool plus = !t.empty() && t[0] == '+';
  if (plus) t.remove_prefix(1);
  if (t.empty() || (plus && t[0] == '-')) return false;
  int64_t v = 0;
  const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
  if (ec != std::errc() || end != t.data() + t.size()) return false;
  *out = v;
  return true;
}

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

std::string ValidNames() {
  std::vector<std::string> names;
  for (const NamedField& f : AllFields()) names.push_back(f.name);
  return NameList(names);
}

Options Parse(const std::vector<std::string>& args) {
  Options o;
  bool folderSeen = false;
  auto value = [&](std::size_t& i, const std::string& opt) -> std::string {
    if (i + 1 >= args.size()) throw UsageError{opt + " needs a value"};
    return args[++i];
  };
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") {
      o.help = true;
    } else if (a == "--constants") {
      o.constants = value(i, a);
      o.runOptions.push_back(a);
      o.runOptions.push_back(Absolute(o.constants));
    } else if (a == "--set") {
      std::string v = value(i, a);
      std::size_t eq = v.find('=');
      if (eq == std::string::npos) throw UsageError{"--set takes NAME=VALUE, not \"" + v + "\""};
      std::string name = v.substr(0, eq);
      if (!FindField(name)) {
        throw UsageError{"unknown variable \"" + Printable(name) + "\" in --set. Valid names:\n" +
                         ValidNames()};
      }
      const std::string why = CheckSetting(name, v.substr(eq + 1));
      if (!why.empty()) throw UsageError{"--set " + why};
      o.actions.push_back({Options::Action::Set, name, v.substr(eq + 1)});
    } else if (a == "--load-snapshot") {
      o.actions.push_back({Options::Action::Load, Absolute(value(i, a)), {}});
      o.runOptions.push_back(a);
      o.runOptions.push_back(o.actions.back().a);
    } else if (a == "--script") {
      if (!o.script.empty()) throw UsageError{"only one --script may be given"};
      o.script = Absolute(value(i, a));
      o.actions.push_back({Options::Action::Script, o.script, {}});
      o.runOptions.push_back(a);
      o.runOptions.push_back(o.script);
    } else if (a == "--plot") {
      o.plot = Absolute(value(i, a));
    } else if (a == "--version") {
      o.version = true;
    } else if (a == "--save-snapshot") {
      o.saveSnapshot = Absolute(value(i, a));
    } else if (a == "--key") {
      std::string v = value(i, a);
      std::size_t colon = v.find(':');
      int64_t n = 0;
      std::string ch = (colon == std::string::npos) ? std::string() : v.substr(colon + 1);
      if (ch == "space") ch = " ";
      if (colon == std::string::npos || !ParseWhole(v.substr(0, colon), &n) || CharCount(ch) != 1) {
        throw UsageError{"--key takes N:C (a tick number and one character), not \"" + v + "\""};
      }
      o.keys.emplace(n, FirstCharCp1252(ch));
      o.runOptions.push_back(a);
      o.runOptions.push_back(v);
    } else if (a == "--mouse") {
      std::string v = value(i, a);
      std::size_t colon = v.find(':');
      std::size_t comma = v.find(',', colon == std::string::npos ? 0 : colon);
      int64_t n = 0, x = 0, y = 0;
      if (colon == std::string::npos || comma == std::string::npos ||
          !ParseWhole(v.substr(0, colon), &n) ||
          !ParseWhole(v.substr(colon + 1, comma - colon - 1), &x) ||
          !ParseWhole(v.substr(comma + 1), &y) || x < INT32_MIN || x > INT32_MAX || y < INT32_MIN ||
          y > INT32_MAX) {
        throw UsageError{"--mouse takes N:X,Y (a tick number and a position), not \"" + v + "\""};
      }
      o.mouse.emplace(n, std::make_pair(static_cast<int32_t>(x), static_cast<int32_t>(y)));
      o.runOptions.push_back(a);
      o.runOptions.push_back(v);
    } else if (a == "--max-steps") {
      std::string v = value(i, a);
      if (!ParseWhole(v, &o.maxSteps) || o.maxSteps < 0) {
        throw UsageError{"--max-steps takes a whole number, not \"" + v + "\""};
      }
      o.runOptions.push_back(a);
      o.runOptions.push_back(v);
    } else if (a == "--realtime") {
      o.realtime = true;
      o.runOptions.push_back(a);
    } else if (a == "--json") {
      o.json = true;
    } else if (a == "--trace") {
      o.trace = Absolute(value(i, a));
    } else if (a == "--trace-vars") {
      const std::string v = value(i, a);
      o.traceVarsGiven = true;
      o.traceVars.clear();
      for (std::size_t start = 0; start <= v.size();) {
        std::size_t comma = v.find(',', start);
        if (comma == std::string::npos) comma = v.size();
        if (comma > start) o.traceVars.push_back(v.substr(start, comma - start));
        start = comma + 1;
      }
      const std::string unknown = UnknownTraceVariable(o.traceVars);
      if (o.traceVars.empty() || !unknown.empty()) {
        throw UsageError{"--trace-vars: \"" + unknown +
                         "\" is not a variable that can be traced. Valid names:\n" +
                         NameList(TraceableVariables())};
      }
    } else if (a == "--trace-every") {
      const std::string v = value(i, a);
      if (!ParseWhole(v, &o.traceEvery) || o.traceEvery < 1) {
        throw UsageError{"--trace-every takes a whole number of 1 or more, not \"" + v + "\""};
      }
      o.traceEveryGiven = true;
    } else if (!a.empty() && a[0] == '-' && a != "-") {
      throw UsageError{"unknown option " + a};
    } else {
      if (folderSeen) throw UsageError{"only one FOLDER may be given"};
      o.folder = a;
      folderSeen = true;
    }
  }
  if (o.trace.empty() && (o.traceVarsGiven || o.traceEveryGiven)) {
    throw UsageError{std::string(o.traceVarsGiven ? "--trace-vars" : "--trace-every") +
                     " needs --trace FILE.csv"};
  }
  return o;
}

std::string EndReason(const State& s) {
  if (s.modeNo == 100) return "mode100";
  if (s.ttot >= s.fullTime) return "fullTime";
  return "fullLength";
}

// Draws the charts of a trace with drivanto-plot (the one beside this
// program, else the one on the PATH). Returns "" or why it failed.
std::string Plot(const std::string& trace, const std::string& image) {
  std::error_code ec;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  std::string program = "drivanto-plot";
  if (!ec && std::filesystem::exists(self.parent_path() / program)) {
    program = (self.parent_path() / program).string();
  }
  std::vector<std::string> args = {program, trace, "-o", image};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (::posix_spawnp(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0) {
    return "drivanto-plot cannot be started";
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return "drivanto-plot was lost";
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return "drivanto-plot failed";
  return {};
}

}  // namespace

int RunBatch(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  Options o;
  try {
    o = Parse(args);
  } catch (const UsageError& e) {
    err << "drivanto-batch: " << e.message << "\n(see drivanto-batch --help)\n";
    return 2;
  }
  if (o.help) {
    out << kHelp << "\n" << kLicenceLine;
    return 0;
  }
  if (o.version) {
    out << "drivanto-batch " << kVersion << "\n";
    return 0;
  }

  // A file-size limit ends a write with an error instead of killing the
  // program, so the failure can be reported like a full disk.
  std::signal(SIGXFSZ, SIG_IGN);

  Sim sim;
  SystemClock systemClock;
  SimulatedClock simulatedClock;
  sim.clock = o.realtime ? static_cast<Clock*>(&systemClock) : &simulatedClock;
  sim.result1.buffered = true;
  sim.result2.buffered = true;
  State& s = sim.s;
  const auto started = std::chrono::steady_clock::now();
  // A plot needs a trace: without one of the user's, a temporary one.
  bool temporaryTrace = false;
  if (!o.plot.empty() && o.trace.empty()) {
    char name[] = "/tmp/drivanto-plot-trace-XXXXXX";
    const int fd = ::mkstemp(name);
    if (fd < 0) {
      err << "drivanto-batch: no temporary file for the plot's trace: " << ErrnoReason(errno)
          << "\n";
      return 1;
    }
    ::close(fd);
    o.trace = name;
    temporaryTrace = true;
  }
  const std::string workingFolder = Absolute(o.folder.empty() ? "." : o.folder);
  const std::string constantsFile =
      o.constants.empty() ? JoinPath(workingFolder, "CONS.VAL") : Absolute(o.constants);
  RunOutcome r;
  DriveScript script;
  std::unique_ptr<ScriptedClock> scriptedClock;
  RunFigures figures;
  TraceWriter trace;
  std::vector<InputPrint> inputs;
  bool running = false;  // the run has begun: a failure still gets its summary
  try {
    StartUp(sim, workingFolder,
            o.constants.empty() ? std::string("CONS.VAL") : Absolute(o.constants));
    ComposeTitle(s);

    bool underWay = false;
    for (const Options::Action& a : o.actions) {
      if (a.kind == Options::Action::Set) {
        ApplySetting(sim, a.a, a.b);
      } else if (a.kind == Options::Action::Load) {
        sim.namedFiles.emplace_back("the snapshot loaded", a.a);
        std::vector<MovedFile> moved;
        underWay = LoadSnapshotIntoRun(sim, a.a, &moved);
        if (!underWay) s.skarmstatus = 'S';
        if (!moved.empty()) {
          err << "drivanto-batch: " << MovedFilesNotice(moved, "the snapshot " + a.a) << "\n";
        }
      } else {
        // A drive script: its starting state, its keys, mouse and clock.
        script = ReadDriveScript(a.a);
        sim.namedFiles.emplace_back("the drive script", a.a);
        std::vector<MovedFile> moved;
        underWay = LoadScriptStateIntoRun(sim, a.a, script.snapshot, script.snapshotLine, &moved);
        if (!underWay) s.skarmstatus = 'S';
        if (!moved.empty()) {
          err << "drivanto-batch: " << MovedFilesNotice(moved, "the drive script " + a.a) << "\n";
        }
        o.keys.insert(script.keys.begin(), script.keys.end());
        o.mouse.insert(script.mouse.begin(), script.mouse.end());
        scriptedClock = std::make_unique<ScriptedClock>(script);
        sim.clock = scriptedClock.get();
      }
    }
    // Every output is checked against every input and every other output
    // before anything is written.
    if (!o.saveSnapshot.empty()) {
      sim.namedOutputs.emplace_back("the snapshot to save", o.saveSnapshot);
    }
    if (!o.trace.empty()) {
      sim.namedOutputs.emplace_back(temporaryTrace ? "the plot's trace" : "the trace", o.trace);
    }
    if (!o.plot.empty()) sim.namedOutputs.emplace_back("the plot", o.plot);
    CheckOutputs(sim);
    inputs = InputPrints(sim);
    if (underWay) {
      // A run under way goes on with its next tick; its clock resumes, unless
      // it stands where adding a step no longer moves it.
      ResumeLoadedRun(sim);
      simulatedClock.now = s.clockNow;
      if (!ClockCanAdvance(s.clockNow)) {
        err << "drivanto-batch: the snapshot's clock (" << FormatShortest(s.clockNow)
            << " s) cannot advance; it starts again at " << FormatShortest(SimulatedClock().now)
            << " s\n";
        simulatedClock.now = SimulatedClock().now;
      }
    } else {
      if (scriptedClock) scriptedClock->BeginTick(0);
      Start(sim, nullptr);
    }

    figures.Begin(sim, underWay);
    if (!o.trace.empty()) trace.Open(o.trace, o.traceVars, static_cast<long>(o.traceEvery));
    running = true;
    const auto stepsStarted = std::chrono::steady_clock::now();
    for (int64_t tick = 0; tick < o.maxSteps; ++tick) {
      simulatedClock.now += 0.04;
      const int64_t next = static_cast<int64_t>(s.stegnr) + 1;
      if (scriptedClock) {
        // A replay ends where its drive ended.
        if (next > script.lastTick) {
          r.reason = "scriptEnd";
          break;
        }
        scriptedClock->BeginTick(next);
        // What happened to the time base between the drive's ticks.
        if (auto it = script.times.find(next); it != script.times.end()) {
          s.ttot = it->second.ttot;
          s.cycleTime = it->second.cycleTime;
          s.clockNow = it->second.clockNow;
          s.clockPrev = it->second.clockPrev;
          s.dt = it->second.dt;
        }
      }
      for (auto [it, end] = o.keys.equal_range(next); it != end; ++it) s.tangent = it->second;
      for (auto [it, end] = o.mouse.equal_range(next); it != end; ++it) {
        s.musx = it->second.first;
        s.musy = it->second.second;
      }
      TickOutcome t = Tick(sim, nullptr);
      if (t == TickOutcome::Ended) {
        r.reason = EndReason(s);
        break;
      }
      ++r.steps;
      figures.AfterStep(s);
      trace.Step(s, static_cast<long>(r.steps));
      if (t == TickOutcome::EmptyTank) {
        r.reason = "Bensinstopp";
        break;
      }
    }
    r.stepSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - stepsStarted).count();
    sim.result1.Close();
    sim.result2.Close();
    trace.Finish(s, static_cast<long>(r.steps));
    trace.Close();
    if (!o.saveSnapshot.empty()) {
      // As the menu command does, the pause flag is set while saving.
      SaveSnapshotOfRun(sim, o.saveSnapshot, UserDecimalSeparator());
      s.paus = 0;
    }
  } catch (const TableRangeError& e) {
    r.exitCode = 3;
    r.error = Printable(e.line1()) + "\n" + Printable(e.line2());
    if (!e.notWritten().empty()) r.error += "\nERROR.TAB could not be written: " + e.notWritten();
  } catch (const IoError& e) {
    r.exitCode = 1;
    r.error = std::string("drivanto-batch: ") + e.what();
    if (e.reason() == "file not found" && e.file() == constantsFile) {
      const std::string bundled = BundledDataFolder();
      r.error += "\n(the bundled default car and constants are in " + bundled +
                 "; to run it: cp -r " + bundled + " FOLDER && drivanto-batch FOLDER)";
    }
  } catch (const std::bad_alloc&) {
    r.exitCode = 1;
    r.error = "drivanto-batch: " + DescribeUnexpected("out of memory");
  } catch (const std::exception& e) {
    r.exitCode = 1;
    r.error = "drivanto-batch: " + DescribeUnexpected(e.what());
  }
  r.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  for (const Options::Action& a : o.actions) {
    if (a.kind == Options::Action::Set) r.settings.push_back({a.a, a.b});
  }
  r.runOptions = o.runOptions;
  if (r.exitCode == 0) {
    const RunSummary summary = Summarise(sim, r, figures);
    WriteSummary(out, summary, inputs, o.json);
    if (scriptedClock && !script.ended) {
      err << "drivanto-batch: warning: the drive script " << Printable(o.script)
          << " has no end line: its recording was cut short; it was replayed as far as it goes, "
             "to tick "
          << script.lastTick << "\n";
    }
    if (scriptedClock && scriptedClock->extraReadings() > 0) {
      err << "drivanto-batch: warning: the replay read the clock " << scriptedClock->extraReadings()
          << " times more than the drive did: its steps may differ from the drive's\n";
    }
    if (const std::string w = CycleWarning(summary); !w.empty()) {
      err << "drivanto-batch: warning: " << w << "\n";
    }
    if (o.plot.empty()) return 0;
    const std::string why = Plot(o.trace, o.plot);
    if (temporaryTrace) ::unlink(o.trace.c_str());
    if (why.empty()) return 0;
    err << "drivanto-batch: the plot " << o.plot << " was not made: " << why << "\n";
    return 1;
  }
  if (temporaryTrace) ::unlink(o.trace.c_str());
  // The rows written so far are kept; a failed run's summary goes to the
  // error stream, before the message.
  try {
    sim.result1.Close();
    sim.result2.Close();
    trace.Close();
  } catch (const IoError& e) {
    r.error += std::string("\ndrivanto-batch: ") + e.what();
  }
  if (running && r.exitCode == 1) {
    r.reason = "failed";
    WriteSummary(err, Summarise(sim, r, figures), inputs, o.json);
  }
  err << r.error << "\n";
  return r.exitCode;
}

}  // namespace drivanto
