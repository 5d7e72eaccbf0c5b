#include "cli/Optimal.h"

#include <cmath>
#include <ostream>

#include "base/Errors.h"
#include "base/NumberText.h"
#include "base/Text.h"
#include "base/Version.h"
#include "run/RunArgs.h"
#include "study/Optimum.h"

namespace drivanto {

namespace {

const char* const kHelp = R"(Usage: drivanto-optimal [options] [FOLDER]

The least fuel with which the car in FOLDER (default the current folder)
could drive its time cycle, knowing the whole cycle in advance and ending
with the battery where it started: one run records what the motor and the
auxiliaries ask of the battery step by step; dynamic programming over the
battery's used capacity then finds, backwards over the cycle, the engine off
or the charging power of least fuel for each decision step; the decisions are
written as a schedule (the schedule strategy's CSV) and driven forward by the
model, so the figures come from the same simulation as every strategy's.

Options:
  --constants FILE       read FILE instead of FOLDER/CONS.VAL
  --set NAME=VALUE       a setting, as drivanto-batch takes it (the cycle:
                         --set cycleType=T --set Ttidd=UDDS.CYK)
  --step S               seconds between decisions (default 1)
  --used-points N        points of the grid of used capacity (default 200)
  --powers N             charging powers, in equal steps up to the most the
                         engine gives (default 40)
  --max-power W          the largest charging power (default: the engine's
                         most)
  --used-min P, --used-max P
                         % used capacity the battery is kept between
                         (default 10 either side of the start)
  --limits-from-constants
                         keep it between the charging limits of the
                         constants (chargeOffLimit, chargeOnLimit) instead
  --fixed-speed          each power at the generator's set speed (genRpm),
                         not at the engine speed of best efficiency for it
  --start-cost L         litres of fuel each engine start is weighed as
  --nox-weight L         litres of fuel each gram of NOx is weighed as
  -j N                   threads for the solver (default 1)
  --schedule FILE.csv    where the schedule goes (default
                         optimal-schedule.csv in the current folder)
  --json                 print one JSON object: "solver" (the figures below)
                         and "forward" (the forward run's summary, as
                         drivanto-batch --json prints it)
  --version              print the version
  --help                 print this text

Printed: the solver's fuel, the forward run's fuel and corrected fuel, their
difference, the grids used, the time each part took and the solver's memory
(its cost-to-go: decision steps x points of used capacity, as 4-byte
numbers, twice with a start cost). When the forward run ends more than 0.05 %
used capacity away from its start (the solver's battery is the model's, a
step behind), the solver aims its end again, up to 3 times.

Exit codes: 0 done; 1 an input/output or data error (also a cycle not
driven to its end); 2 a usage error (also a map cycle, or a schedule that
would overwrite an input); 3 a table lookup outside its table.
)";

double Number(const std::vector<std::string>& args, std::size_t* i) {
  const std::string& name = args[*i];
  if (*i + 1 >= args.size()) throw UsageError(name + " needs a value");
  const std::string& text = args[++*i];
  bool complete = false;
  const double x = ParseNumberEitherSeparator(text, &complete);
  if (!complete || !std::isfinite(x)) {
    throw UsageError(name + " takes a number, not \"" + Printable(text) + "\"");
  }
  return x;
}

int Whole(const std::vector<std::string>& args, std::size_t* i, int least, int most) {
  const std::string name = args[*i];
  const double x = Number(args, i);
  if (x != std::floor(x) || x < least || x > most) {
    throw UsageError(name + " takes a whole number from " + std::to_string(least) + " to " +
                     std::to_string(most) + ", not \"" + Printable(args[*i]) + "\"");
  }
  return static_cast<int>(x);
}

struct Options {
  OptimumRequest request;
  bool limitsFromConstants = false;
  bool json = false, help = false, version = false;
};

Options Parse(const std::vector<std::string>& args) {
  Options o;
  bool folderSeen = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--set" || a == "--constants") {
      ParseRunOption(args, &i, &o.request.run);
    } else if (a == "--step") {
      o.request.step = Number(args, &i);
      if (!(o.request.step > 0)) throw UsageError("--step takes seconds above 0");
    } else if (a == "--used-points") {
      o.request.usedPoints = Whole(args, &i, 2, 100000);
    } else if (a == "--powers") {
      o.request.powers = Whole(args, &i, 1, 10000);
    } else if (a == "--max-power") {
      o.request.maxPower = Number(args, &i);
      if (!(o.request.maxPower > 0)) throw UsageError("--max-power takes watts above 0");
    } else if (a == "--used-min") {
      o.request.usedMin = Number(args, &i);
    } else if (a == "--used-max") {
      o.request.usedMax = Number(args, &i);
    } else if (a == "--limits-from-constants") {
      o.limitsFromConstants = true;
    } else if (a == "--fixed-speed") {
      o.request.fixedSpeed = true;
    } else if (a == "--start-cost") {
      o.request.startCost = Number(args, &i);
      if (o.request.startCost < 0) throw UsageError("--start-cost takes litres, not below 0");
    } else if (a == "--nox-weight") {
      o.request.noxWeight = Number(args, &i);
      if (o.request.noxWeight < 0) throw UsageError("--nox-weight takes litres, not below 0");
    } else if (a == "-j") {
      o.request.threads = Whole(args, &i, 1, 256);
    } else if (a.rfind("-j", 0) == 0 && a.size() > 2 && a[2] != '-') {
      std::vector<std::string> pair = {"-j", a.substr(2)};
      std::size_t k = 0;
      o.request.threads = Whole(pair, &k, 1, 256);
    } else if (a == "--schedule") {
      if (i + 1 >= args.size()) throw UsageError(a + " needs a value");
      o.request.schedule = args[++i];
    } else if (a == "--json") {
      o.json = true;
    } else if (a == "--help" || a == "-h") {
      o.help = true;
    } else if (a == "--version") {
      o.version = true;
    } else if (!a.empty() && a[0] == '-' && a != "-") {
      throw UsageError("unknown option " + a);
    } else {
      if (folderSeen) throw UsageError("only one FOLDER may be given");
      o.request.run.folder = a;
      folderSeen = true;
    }
  }
  if (o.limitsFromConstants && (!std::isnan(o.request.usedMin) || !std::isnan(o.request.usedMax))) {
    throw UsageError("--limits-from-constants or --used-min/--used-max, not both");
  }
  o.request.run.program = "drivanto-optimal";
  return o;
}

}  // namespace

int RunOptimal(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  Options o;
  try {
    o = Parse(args);
  } catch (const UsageError& e) {
    err << "drivanto-optimal: " << e.what() << "\n(see drivanto-optimal --help)\n";
    return 2;
  }
  if (o.help) {
    out << kHelp << "\n" << kLicenceLine;
    return 0;
  }
  if (o.version) {
    out << "drivanto-optimal " << kVersion << "\n";
    return 0;
  }
  o.request.limitsFromConstants = o.limitsFromConstants;
  const OptimumReport report = RunOptimum(o.request);
  if (report.exitCode != 0) {
    // (A run's own message names the program already.)
    const bool named = report.error.rfind("drivanto-optimal: ", 0) == 0;
    err << (named ? "" : "drivanto-optimal: ") << report.error << "\n";
    return report.exitCode;
  }
  out << report.Text(o.request, o.json);
  for (const std::string& w : report.forward.warnings) err << "drivanto-optimal: " << w << "\n";
  return 0;
}

}  // namespace drivanto
