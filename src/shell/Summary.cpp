#include "shell/Summary.h"

#include <algorithm>
#include <cmath>
#include <ostream>

#include "base/Errors.h"
#include "base/FixedFormat.h"
#include "base/Sha256.h"
#include "base/Text.h"
#include "base/Version.h"
#include "model/Inputs.h"

namespace drivanto {

namespace {

// km/h over which the car counts as off the cycle's speed.
constexpr double kBandKmh = 2.0;

std::string Fixed(double x, int decimals) {
  std::string t;
  AppendFixed(t, x, 0, decimals);
  return t;
}

double Per100km(double amount, double metres) {
  return metres > 0 ? amount * 100000 / metres : 0.0;
}
double PerKm(double grams, double metres) { return metres > 0 ? grams * 1000 / metres : 0.0; }

// The best efficiency in the engine's efficiency table, in %.
double BestEngineEfficiency(Sim& sim) {
  TableSite site;
  const Table2& t = sim.tables.Get2(site, sim.s.Tforb, "2");
  double best = 0;
  for (double v : t.rows.values()) best = std::max(best, v);
  return best;
}

}  // namespace

void RunFigures::Begin(const State& s) {
  startNetEnergy_ = s.netEnergy;
  startFuelLeft_ = s.fuelLeft;
  startLtot_ = s.ltot;
}

void RunFigures::AfterStep(const State& s) {
  generatorEnergy_ += s.U * s.Ila * s.dt / 3600000;
  if (s.cycleType != 'T') return;
  ++timeSteps_;
  miss_.cycleDistance += s.vCycle * s.dt;
  miss_.drivenDistance += s.ltot - s.ltotPrev;
  miss_.maxShortfall = std::max(miss_.maxShortfall, (s.vCycle - s.v) * 3.6);
  miss_.maxExcess = std::max(miss_.maxExcess, (s.v - s.vCycle) * 3.6);
  if (std::fabs(s.v - s.vCycle) * 3.6 > kBandKmh) miss_.secondsOffBand += s.dt;
}

double RunFigures::TraceMiss::DistanceError() const {
  return cycleDistance > 0 ? (drivenDistance - cycleDistance) * 100 / cycleDistance : 0.0;
}

ChargeBalance BalanceOf(Sim& sim, const RunFigures& figures) {
  const State& s = sim.s;
  ChargeBalance b;
  b.netEnergyChange = -(s.netEnergy - figures.startNetEnergy());
  const double fuel = figures.startFuelLeft() - s.fuelLeft;
  const double fuelEnergy = fuel * s.fuelEnergy;
  if (fuel > 0 && fuelEnergy > 0 && figures.generatorEnergy() > 0) {
    b.chainEfficiency = figures.generatorEnergy() / fuelEnergy;
    b.chainFromRun = true;
  } else {
    try {
      b.chainEfficiency = BestEngineEfficiency(sim) / 100 * s.genEff / 100;
    } catch (const std::exception&) {
      b.chainEfficiency = 0;
    }
  }
  const double perLitre = b.chainEfficiency * s.fuelEnergy;  // kWh into the battery a litre
  b.correctedFuel = perLitre > 0 ? fuel - b.netEnergyChange / perLitre : fuel;
  b.correctedFuelPer100km = Per100km(b.correctedFuel, s.ltot - figures.startLtot());
  return b;
}

std::vector<InputPrint> InputPrints(const Sim& sim) {
  std::vector<InputPrint> prints;
  for (const RunInput& input : InputsOf(sim)) {
    if (std::string(input.key) == "map" || std::string(input.key) == "named" ||
        std::string(input.key) == "snapshot") {
      continue;
    }
    InputPrint p{input.key, input.file, {}};
    try {
      p.sha256 = Sha256OfFile(input.file);
    } catch (const IoError&) {
      // A file that is not there (the cycle of the kind not followed).
    }
    prints.push_back(std::move(p));
  }
  return prints;
}

std::string JsonNumber(double x) {
  if (x != x || x - x != 0) return "null";
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.15g", x);
  return buf;
}

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (char c : Printable(text)) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

void WriteSummary(std::ostream& out, Sim& sim, const RunOutcome& r, const RunFigures& figures,
                  const std::vector<InputPrint>& inputs, bool json) {
  const State& s = sim.s;
  const double fuelUsed = s.tankVolume - s.fuelLeft;
  auto perMil = [&](double g) { return s.ltot > 0 ? g * 10000 / s.ltot : 0.0; };
  const double rate = r.stepSeconds > 0 ? r.steps / r.stepSeconds : 0.0;
  const ChargeBalance balance = BalanceOf(sim, figures);
  const RunFigures::TraceMiss& miss = figures.traceMiss();
  const auto J = JsonNumber;
  if (json) {
    out << "{\"endReason\": \"" << r.reason << "\", \"steps\": " << r.steps
        << ", \"ttot\": " << J(s.ttot) << ", \"ltot\": " << J(s.ltot)
        << ", \"height\": " << J(s.height) << ", \"fuelUsed\": " << J(fuelUsed)
        << ", \"medelforbr\": " << J(s.medelforbr) << ", \"CO\": " << J(s.CO)
        << ", \"NOx\": " << J(s.NOx) << ", \"HC\": " << J(s.HC)
        << ", \"COPerMil\": " << J(perMil(s.CO)) << ", \"NOxPerMil\": " << J(perMil(s.NOx))
        << ", \"HCPerMil\": " << J(perMil(s.HC)) << ", \"netEnergy\": " << J(s.netEnergy)
        << ", \"driveEnergy\": " << J(s.driveEnergy) << ", \"usedCapacity\": " << J(s.usedCapacity)
        << ", \"wallSeconds\": " << J(r.wall) << ", \"stepsPerSecond\": " << J(rate)
        << ", \"version\": \"" << kVersion << "\""
        << ", \"fuelPer100km\": " << J(Per100km(fuelUsed, s.ltot))
        << ", \"COPerKm\": " << J(PerKm(s.CO, s.ltot))
        << ", \"NOxPerKm\": " << J(PerKm(s.NOx, s.ltot))
        << ", \"HCPerKm\": " << J(PerKm(s.HC, s.ltot));
    out << ", \"traceMiss\": ";
    if (figures.onTimeCycle()) {
      out << "{\"cycleDistance\": " << J(miss.cycleDistance)
          << ", \"distanceError\": " << J(miss.DistanceError())
          << ", \"maxShortfall\": " << J(miss.maxShortfall)
          << ", \"maxExcess\": " << J(miss.maxExcess)
          << ", \"secondsOffBand\": " << J(miss.secondsOffBand) << "}";
    } else {
      out << "null";
    }
    out << ", \"chargeBalance\": {\"netEnergyChange\": " << J(balance.netEnergyChange)
        << ", \"chainEfficiency\": " << J(balance.chainEfficiency) << ", \"chainFrom\": \""
        << (balance.chainFromRun ? "run" : "bestPoint") << "\""
        << ", \"correctedFuel\": " << J(balance.correctedFuel)
        << ", \"correctedFuelPer100km\": " << J(balance.correctedFuelPer100km) << "}";
    out << ", \"inputs\": {";
    for (std::size_t i = 0; i < inputs.size(); ++i) {
      out << (i ? ", " : "") << "\"" << inputs[i].key
          << "\": {\"file\": " << JsonString(inputs[i].file) << ", \"sha256\": "
          << (inputs[i].sha256.empty() ? "null" : "\"" + inputs[i].sha256 + "\"") << "}";
    }
    out << "}";
    if (r.exitCode != 0) {
      out << ", \"exitCode\": " << r.exitCode << ", \"error\": " << JsonString(r.error);
    }
    out << "}\n";
    return;
  }
  auto line = [&](const char* label, double v, int decimals, const char* unit) {
    out << label << Fixed(v, decimals) << unit << "\n";
  };
  auto grams = [&](const char* label, double g) {
    out << label << Fixed(g, 2) << " g  (" << Fixed(perMil(g), 2) << " g/mil, "
        << Fixed(PerKm(g, s.ltot), 3) << " g/km)\n";
  };
  out << "end reason      " << r.reason << "\n";
  out << "steps           " << r.steps << "\n";
  line("ttot            ", s.ttot, 2, " s");
  line("ltot            ", s.ltot, 1, " m");
  line("height          ", s.height, 1, " m");
  out << "fuel used       " << Fixed(fuelUsed, 3) << " l  (" << Fixed(Per100km(fuelUsed, s.ltot), 2)
      << " l/100 km)\n";
  line("medelforbr      ", s.medelforbr, 1, " cl/mil");
  grams("CO              ", s.CO);
  grams("NOx             ", s.NOx);
  grams("HC              ", s.HC);
  line("netEnergy       ", s.netEnergy, 4, " kWh");
  line("driveEnergy     ", s.driveEnergy, 4, " kWh");
  line("usedCapacity    ", s.usedCapacity, 3, " %");
  out << "charge balance  " << Fixed(balance.netEnergyChange, 4) << " kWh; corrected fuel "
      << Fixed(balance.correctedFuel, 3) << " l (" << Fixed(balance.correctedFuelPer100km, 2)
      << " l/100 km)\n";
  if (figures.onTimeCycle()) {
    out << "trace miss      " << Fixed(miss.DistanceError(), 2) << " % of "
        << Fixed(miss.cycleDistance, 1) << " m; shortfall up to " << Fixed(miss.maxShortfall, 1)
        << " km/h, excess up to " << Fixed(miss.maxExcess, 1) << " km/h; "
        << Fixed(miss.secondsOffBand, 1) << " s off the 2 km/h band\n";
    if (std::fabs(miss.DistanceError()) > 1) {
      out << "warning: the car drove " << Fixed(std::fabs(miss.DistanceError()), 2) << " % "
          << (miss.DistanceError() > 0 ? "more" : "less") << " than the cycle asks\n";
    }
  }
  line("wall time       ", r.wall, 3, " s");
  line("steps/second    ", rate, 0, "");
  out << "version         " << kVersion << "\n";
}

}  // namespace drivanto
