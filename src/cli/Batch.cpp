#include "cli/Batch.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <ostream>

#include "base/Errors.h"
#include "base/Files.h"
#include "base/Version.h"
#include "run/RunArgs.h"
#include "run/Runner.h"

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
  --strategy NAME        the energy-management strategy: thermostat (the
                         default: the car's own limits), powerFollower,
                         optimalLine, ecms, schedule=FILE.csv (README,
                         "Strategies"); also as settings: --set strategy=ecms
                         --set ecms.factor=3
  --strategy-param NAME=NUMBER
                         a parameter of the strategy, e.g. minPower=8000;
                         repeatable
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
  RunSpec runSpec;
  std::string plot;
  bool json = false;
  bool help = false;
  bool version = false;
};

Options Parse(const std::vector<std::string>& args) {
  Options o;
  bool folderSeen = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (ParseRunOption(args, &i, &o.runSpec)) continue;
    if (a == "--help" || a == "-h") {
      o.help = true;
    } else if (a == "--plot") {
      if (i + 1 >= args.size()) throw UsageError(a + " needs a value");
      o.plot = AbsolutePath(args[++i]);
    } else if (a == "--version") {
      o.version = true;
    } else if (a == "--json") {
      o.json = true;
    } else if (!a.empty() && a[0] == '-' && a != "-") {
      throw UsageError("unknown option " + a);
    } else {
      if (folderSeen) throw UsageError("only one FOLDER may be given");
      o.runSpec.folder = a;
      folderSeen = true;
    }
  }
  FinishRunOptions(o.runSpec, !o.runSpec.trace.empty());
  return o;
}

// Draws the charts of a trace with drivanto-plot (the one beside this
// program, else the one on the PATH). Returns "" or why it failed.
std::string Plot(const std::string& trace, const std::string& image) {
  const std::string program = ProgramBeside("drivanto-plot");
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
    err << "drivanto-batch: " << e.what() << "\n(see drivanto-batch --help)\n";
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


  RunSpec& runSpec = o.runSpec;
  // A plot needs a trace: without one of the user's, a temporary one.
  bool temporaryTrace = false;
  if (!o.plot.empty() && runSpec.trace.empty()) {
    char name[] = "/tmp/drivanto-plot-trace-XXXXXX";
    const int fd = ::mkstemp(name);
    if (fd < 0) {
      err << "drivanto-batch: no temporary file for the plot's trace: " << ErrnoReason(errno)
          << "\n";
      return 1;
    }
    ::close(fd);
    runSpec.trace = name;
    runSpec.traceRole = "the plot's trace";
    temporaryTrace = true;
  }
  if (!o.plot.empty()) runSpec.otherOutputs.emplace_back("the plot", o.plot);
  const RunResult r = Runner().Run(runSpec);
  r.Report(out, err, o.json, "drivanto-batch");
  if (r.exitCode == 0) {
    if (o.plot.empty()) return 0;
    const std::string why = Plot(runSpec.trace, o.plot);
    if (temporaryTrace) ::unlink(runSpec.trace.c_str());
    if (why.empty()) return 0;
    err << "drivanto-batch: the plot " << o.plot << " was not made: " << why << "\n";
    return 1;
  }
  if (temporaryTrace) ::unlink(runSpec.trace.c_str());
  return r.exitCode;
}

}  // namespace drivanto
