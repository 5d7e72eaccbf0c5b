#include "model/Strategy.h"

#include <algorithm>
#include <cmath>
#include <map>

#include "base/Errors.h"
#include "base/Files.h"
#include "base/NumberText.h"
#include "base/Text.h"
#include "model/Codes.h"

namespace drivanto {

bool CarQueries::MaxTorque(double rpm, double* torque) {
  try {
    return Lookup1(tables_.Get1(sites_.torque, s_.Tforb, "1"), 'i', rpm, 1, torque);
  } catch (const std::exception&) {
    return false;
  }
}

bool CarQueries::Efficiency(double rpm, double torque, double* efficiency) {
  try {
    return Lookup2(tables_.Get2(sites_.efficiency, s_.Tforb, "2"), 'i', 'i', torque, rpm, efficiency);
  } catch (const std::exception&) {
    return false;
  }
}

bool CarQueries::FuelFlow(double rpm, double torque, double* flow) {
  double eff = 0;
  if (!Efficiency(rpm, torque, &eff)) return false;
  // As the engine burns it: shaft power times the litres per joule, over the
  // efficiency (none below 0.1 %).
  *flow = eff > 0.1 ? RpmToRadPerSec(rpm) * torque * kFuelLitresPerJoule * 100 / eff : 0.0;
  return true;
}

double CarQueries::TorqueFor(double power, double rpm) const {
  if (rpm <= 0 || s_.genEff == 0) return 0;
  return power * 100 * 60 / (rpm * kModelTwoPi) / s_.genEff;
}

std::pair<double, double> CarQueries::SpeedRange() {
  try {
    const Table1& t = tables_.Get1(sites_.torque, s_.Tforb, "1");
    if (!t.found || t.rows.keys.empty()) return {0, 0};
    const auto [lo, hi] = std::minmax_element(t.rows.keys.begin(), t.rows.keys.end());
    return {std::max(*lo, 0.0), *hi};
  } catch (const std::exception&) {
    return {0, 0};
  }
}

bool CarQueries::NOxFlow(double rpm, double torque, double* flow) {
  double fuel = 0, perKg = 0;
  if (!FuelFlow(rpm, torque, &fuel)) return false;
  try {
    if (!Lookup2(tables_.Get2(sites_.nox, s_.Tforb, "4"), 'i', 'i', torque, rpm, &perKg)) {
      return false;
    }
  } catch (const std::exception&) {
    return false;
  }
  *flow = fuel * s_.fuelDensity * perKg;
  return true;
}

std::vector<double> CarQueries::Voltages(double usedCapacity, const std::vector<double>& currents) {
  std::vector<double> volts(currents.size(), std::nan(""));
  const double scale = s_.batTableCapacity > 0.1 && s_.batCapacity != 0
                           ? s_.batTableCapacity / s_.batCapacity
                           : 1.0;
  try {
    const Table2& discharge = tables_.Get2(sites_.batteryDischarge, s_.Tbat, "1");
    const Table2& charge = tables_.Get2(sites_.batteryCharge, s_.Tbat, "2");
    LookupHint hint;
    for (std::size_t k = 0; k < currents.size(); ++k) {
      const double current = currents[k] * scale;
      double v = 0;
      const bool found = current >= 0 ? Lookup2(discharge, 'i', 'i', usedCapacity, current, &v, &hint)
                                      : Lookup2(charge, 'i', 'i', usedCapacity, -current, &v, &hint);
      if (found) volts[k] = v;
    }
  } catch (const std::exception&) {
    // No table: no answers.
  }
  return volts;
}

double BestSpeed(double p, CarQueries& car) {
  const auto [lo, hi] = car.SpeedRange();
  double best = 0, bestEff = -1;
  constexpr int kSpeeds = 200;
  for (int i = 0; i <= kSpeeds && hi > lo; ++i) {
    const double n = lo + (hi - lo) * i / kSpeeds;
    if (n <= 2) continue;
    const double torque = car.TorqueFor(p, n);
    double most = 0, eff = 0;
    if (!car.MaxTorque(n, &most) || torque > most) continue;
    if (car.Efficiency(n, torque, &eff) && eff > bestEff) {
      bestEff = eff;
      best = n;
    }
  }
  return best;
}

double MostPower(CarQueries& car) {
  const auto [lo, hi] = car.SpeedRange();
  double most = 0;
  constexpr int kSpeeds = 200;
  for (int i = 0; i <= kSpeeds && hi > lo; ++i) {
    const double n = lo + (hi - lo) * i / kSpeeds;
    double torque = 0;
    if (n <= 2 || !car.MaxTorque(n, &torque)) continue;
    // The torque that charges a power, turned round.
    const double p = car.TorqueFor(1000, n) > 0 ? 1000 * torque / car.TorqueFor(1000, n) : 0;
    most = std::max(most, p);
  }
  return most;
}

std::vector<OperatingPoint> OperatingPoints(CarQueries& car, double maxPower, int count,
                                            double fixedSpeed) {
  std::vector<OperatingPoint> points;
  for (int k = 1; k <= count; ++k) {
    OperatingPoint o;
    o.power = maxPower * k / count;
    o.speed = fixedSpeed > 0 ? fixedSpeed : BestSpeed(o.power, car);
    const double torque = car.TorqueFor(o.power, o.speed);
    double most = 0;
    if (o.speed <= 2 || !car.MaxTorque(o.speed, &most) || torque > most) continue;
    if (!car.FuelFlow(o.speed, torque, &o.fuelFlow) || o.fuelFlow <= 0) continue;
    if (!car.NOxFlow(o.speed, torque, &o.noxFlow)) o.noxFlow = 0;
    points.push_back(o);
  }
  return points;
}

namespace {

// The engine's optimal operating line: the best speed for each power in
// steps of 10 W (a power takes its step's: the same whichever power came
// first, so that a run resumed with an empty line decides as before), each
// found once.
struct OperatingLine {
  std::map<long, double> speeds;
  double SpeedFor(double p, CarQueries& car) {
    const long key = std::lround(p / 10);
    if (auto it = speeds.find(key); it != speeds.end()) return it->second;
    return speeds[key] = BestSpeed(static_cast<double>(key) * 10, car);
  }
};

// Engine on above one limit of used capacity, off below the other.
struct Hysteresis {
  double onLimit = 60, offLimit = 40;
  bool on = false;
  bool Update(double usedCapacity, bool mayStop = true) {
    if (usedCapacity > onLimit) on = true;
    if (usedCapacity < offLimit && mayStop) on = false;
    return on;
  }
};

// The generator's power follows what the motor and the auxiliaries take,
// between a least and a most power, the engine on and off by the limits of
// used capacity, and once on, on for at least a while.
class PowerFollower : public Strategy {
 public:
  double minPower = 5000, maxPower = 25000, minOnTime = 20, bestSpeed = 1, gain = 5000;
  Hysteresis limits;
  double onFor = 0;
  OperatingLine line;

  std::string Name() const override { return "powerFollower"; }
  std::vector<std::pair<std::string, double>> Parameters() const override {
    return {{"minPower", minPower},
            {"maxPower", maxPower},
            {"onLimit", limits.onLimit},
            {"offLimit", limits.offLimit},
            {"minOnTime", minOnTime},
            {"bestSpeed", bestSpeed},
            {"gain", gain}};
  }
  StrategyDecision Decide(const StrategyInputs& in, CarQueries& car) override {
    const bool wasOn = limits.on;
    if (!limits.Update(in.usedCapacity, onFor >= minOnTime)) {
      onFor = 0;
      return {};
    }
    onFor = wasOn ? onFor + in.dt : in.dt;
    // The demand, and more the emptier the battery is than the middle of
    // the limits (less the fuller), so that runs end near where they began.
    const double middle = (limits.onLimit + limits.offLimit) / 2;
    const double p = std::clamp(in.tractionPower + in.auxPower + gain * (in.usedCapacity - middle),
                                minPower, maxPower);
    // Each power at its best speed, or at the generator's.
    return {true, p, bestSpeed != 0 ? line.SpeedFor(p, car) : 0.0};
  }
  std::unique_ptr<Strategy> Clone() const override {
    return std::make_unique<PowerFollower>(*this);
  }
  std::vector<double> KeptState() const override { return {limits.on ? 1.0 : 0.0, onFor}; }
  bool TakeKeptState(const std::vector<double>& kept) override {
    if (kept.size() != 2) return false;
    limits.on = kept[0] != 0;
    onFor = kept[1];
    return true;
  }
};

// The thermostat's limits and power, each power made at the engine speed
// and torque of best efficiency for it (the engine's optimal operating line).
class OptimalLine : public Strategy {
 public:
  double power = 0;  // W; 0: the charging setting's (current times voltage, or power)
  double chargeSetting = 0;
  Hysteresis limits;
  OperatingLine line;

  std::string Name() const override { return "optimalLine"; }
  std::vector<std::pair<std::string, double>> Parameters() const override {
    return {{"power", power}, {"onLimit", limits.onLimit}, {"offLimit", limits.offLimit}};
  }
  StrategyDecision Decide(const StrategyInputs& in, CarQueries& car) override {
    if (!limits.Update(in.usedCapacity)) return {};
    double p = power;
    if (p <= 0) p = chargeSetting < 0 ? -chargeSetting * 1000 : chargeSetting * in.voltage;
    return {true, p, line.SpeedFor(p, car)};
  }
  std::unique_ptr<Strategy> Clone() const override { return std::make_unique<OptimalLine>(*this); }
  std::vector<double> KeptState() const override { return {limits.on ? 1.0 : 0.0}; }
  bool TakeKeptState(const std::vector<double>& kept) override {
    if (kept.size() != 1) return false;
    limits.on = kept[0] != 0;
    return true;
  }

};

// Equivalent consumption minimisation: each step the charging power (from
// none to maxPower, each made at its best engine speed) that costs least
// fuel power less the equivalence factor times the electric power gained;
// the factor grows as the used capacity rises above its target, so that the
// run ends near where it started.
class Ecms : public Strategy {
 public:
  double factor = 2.8, gain = 1.0, target = -1, maxPower = 30000, minOnTime = 5;
  int powers = 30;
  double onFor = 0;
  bool on = false;
  // Per candidate power: its best speed and the fuel power it costs (W).
  std::vector<double> power, speed, fuelPower;

  std::string Name() const override { return "ecms"; }
  std::vector<std::pair<std::string, double>> Parameters() const override {
    return {{"factor", factor},     {"gain", gain},
            {"target", target},     {"maxPower", maxPower},
            {"minOnTime", minOnTime}, {"powers", static_cast<double>(powers)}};
  }
  StrategyDecision Decide(const StrategyInputs& in, CarQueries& car) override {
    if (target < 0) target = in.usedCapacity;
    if (power.empty()) Tabulate(car);
    // Above the target (the battery emptier) electric energy is worth more.
    const double s = factor * (1 + gain * (in.usedCapacity - target) / 10);
    std::size_t best = power.size();
    double bestCost = 0;  // the engine off costs nothing
    for (std::size_t k = 0; k < power.size(); ++k) {
      const double cost = fuelPower[k] - s * power[k];
      if (cost < bestCost) {
        bestCost = cost;
        best = k;
      }
    }
    if (best == power.size() && on && onFor < minOnTime) {
      // Once started, the engine runs a while: at its cheapest power.
      double least = 0;
      for (std::size_t k = 0; k < power.size(); ++k) {
        const double cost = fuelPower[k] - s * power[k];
        if (best == power.size() || cost < least) {
          least = cost;
          best = k;
        }
      }
    }
    if (best == power.size()) {
      on = false;
      onFor = 0;
      return {};
    }
    onFor = on ? onFor + in.dt : in.dt;
    on = true;
    return {true, power[best], speed[best]};
  }
  std::unique_ptr<Strategy> Clone() const override { return std::make_unique<Ecms>(*this); }
  // (The target, once taken from the run's start, is kept with the rest.)
  std::vector<double> KeptState() const override { return {target, on ? 1.0 : 0.0, onFor}; }
  bool TakeKeptState(const std::vector<double>& kept) override {
    if (kept.size() != 3) return false;
    target = kept[0];
    on = kept[1] != 0;
    onFor = kept[2];
    return true;
  }

 private:
  void Tabulate(CarQueries& car);
};

// A table of decisions by time, replayed: from each row's time on, its
// engine on/off, power and speed, until the next row's time.
class Schedule : public Strategy {
 public:
  struct Row {
    double time, on, power, speed;
  };
  std::string file;
  std::vector<Row> rows;

  std::string Name() const override { return "schedule=" + file; }
  std::vector<std::pair<std::string, double>> Parameters() const override { return {}; }
  StrategyDecision Decide(const StrategyInputs& in, CarQueries&) override {
    const auto after = std::upper_bound(rows.begin(), rows.end(), in.time,
                                        [](double t, const Row& r) { return t < r.time; });
    if (after == rows.begin()) return {};
    const Row& r = *(after - 1);
    if (r.on == 0) return {};
    return {true, r.power, r.speed};
  }
  std::unique_ptr<Strategy> Clone() const override { return std::make_unique<Schedule>(*this); }
};

// The schedule's CSV: a header (time,engineOn,power[,speed]), then a row per
// decision with times that never decrease. Throws IoError naming the file
// and the line.
std::vector<Schedule::Row> ReadSchedule(const std::string& file) {
  const std::vector<std::string> lines = SplitLines(ReadFileBytes(file));
  std::vector<Schedule::Row> rows;
  int number = 0;
  for (const std::string& line : lines) {
    ++number;
    if (number == 1 || line.find_first_not_of(" \t\r") == std::string::npos) continue;
    const std::vector<std::string> cells = SplitAt(line, ',');
    if (cells.size() < 3 || cells.size() > 4) {
      throw IoError(file, number, "a row holds time,engineOn,power[,speed]");
    }
    double v[4] = {0, 0, 0, 0};
    for (std::size_t c = 0; c < cells.size(); ++c) {
      bool complete = false;
      v[c] = ParseNumberEitherSeparator(cells[c], &complete);
      if (!complete || !std::isfinite(v[c])) {
        throw IoError(file, number, "\"" + Printable(cells[c]) + "\" is not a number");
      }
    }
    if (!rows.empty() && v[0] < rows.back().time) {
      throw IoError(file, number, "the times must not decrease");
    }
    if (v[2] < 0 || v[3] < 0) throw IoError(file, number, "a power or speed below 0");
    rows.push_back({v[0], v[1], v[2], v[3]});
  }
  return rows;
}

void Ecms::Tabulate(CarQueries& car) {
  for (int k = 1; k <= powers; ++k) {
    const double p = maxPower * k / powers;
    const double n = BestSpeed(p, car);
    double flow = 0;
    if (n <= 0 || !car.FuelFlow(n, car.TorqueFor(p, n), &flow) || flow <= 0) continue;
    power.push_back(p);
    speed.push_back(n);
    fuelPower.push_back(flow / kFuelLitresPerJoule);
  }
}

bool Take(std::vector<std::pair<std::string, double>>& params, const char* name, double* value) {
  for (auto it = params.begin(); it != params.end(); ++it) {
    if (it->first == name) {
      *value = it->second;
      params.erase(it);
      return true;
    }
  }
  return false;
}

}  // namespace

std::vector<std::pair<std::string, double>> ThermostatParameters(const State& s) {
  return {{"onLimit", s.chargeOnLimit},
          {"offLimit", s.chargeOffLimit},
          {"current", s.chargeSetting},
          {"speed", s.genRpm}};
}

std::string SavedStrategyText(const Strategy* strategy) {
  if (!strategy) return "";
  std::string text = "strategy " + strategy->Name() + "\r\nparameters";
  for (const auto& [name, value] : strategy->Parameters()) {
    text += " " + name + "=" + FormatShortest(value);
  }
  text += "\r\nkept";
  for (double x : strategy->KeptState()) text += " " + FormatShortest(x);
  return text + "\r\n";
}

SavedStrategy ReadSavedStrategy(const std::vector<std::string>& lines, int firstLine,
                                const std::string& fileName) {
  SavedStrategy saved;
  std::vector<std::string> rest;
  for (const std::string& l : lines) {
    if (l.find_first_not_of(" \t\r") != std::string::npos) rest.push_back(l);
  }
  if (rest.empty()) return saved;
  auto words = [](const std::string& line) {
    std::vector<std::string> w;
    for (const std::string& x : SplitAt(line, ' ')) {
      if (!x.empty() && x != "\r") w.push_back(x.back() == '\r' ? x.substr(0, x.size() - 1) : x);
    }
    return w;
  };
  auto number = [&](const std::string& text, int line) {
    bool complete = false;
    const double x = ParseNumberEitherSeparator(text, &complete);
    if (!complete) throw IoError(fileName, line, "\"" + Printable(text) + "\" is not a number");
    return x;
  };
  const std::vector<std::string> head = words(rest[0]);
  if (rest.size() != 3 || head.size() < 2 || head[0] != "strategy" ||
      words(rest[1]).empty() || words(rest[1])[0] != "parameters" || words(rest[2]).empty() ||
      words(rest[2])[0] != "kept") {
    throw IoError(fileName, firstLine,
                  "after the snapshot's lines, only a strategy's three lines (strategy NAME, "
                  "parameters NAME=VALUE..., kept VALUES...)");
  }
  // (A schedule's file name may hold blanks.)
  saved.name = rest[0].substr(rest[0].find(' ') + 1);
  while (!saved.name.empty() && (saved.name.back() == '\r' || saved.name.back() == ' ')) {
    saved.name.pop_back();
  }
  const std::vector<std::string> params = words(rest[1]);
  for (std::size_t i = 1; i < params.size(); ++i) {
    const std::size_t eq = params[i].find('=');
    if (eq == std::string::npos) {
      throw IoError(fileName, firstLine + 1, "\"" + Printable(params[i]) + "\" is not NAME=VALUE");
    }
    saved.parameters.emplace_back(params[i].substr(0, eq),
                                  number(params[i].substr(eq + 1), firstLine + 1));
  }
  const std::vector<std::string> kept = words(rest[2]);
  for (std::size_t i = 1; i < kept.size(); ++i) saved.kept.push_back(number(kept[i], firstLine + 2));
  return saved;
}

const std::vector<StrategyInfo>& BuiltInStrategies() {
  static const std::vector<StrategyInfo> list = {
      {"thermostat",
       "charging on above onLimit, off below offLimit, at the set current or power and the "
       "generator's set speed (the car's own rule, the default)",
       {{"onLimit", "% used capacity above which charging starts (chargeOnLimit)"},
        {"offLimit", "% used capacity below which it stops (chargeOffLimit)"},
        {"current", "A charged; a negative value is a power in kW (chargeSetting)"},
        {"speed", "rpm of the generator and the engine (genRpm)"}}},
      {"powerFollower",
       "the generator's power follows what the motor and the auxiliaries take, between minPower "
       "and maxPower; the engine on above onLimit, off below offLimit once on for minOnTime",
       {{"minPower", "W charged at least while on (default 5000)"},
        {"maxPower", "W charged at most (default 25000)"},
        {"onLimit", "% used capacity above which the engine starts (default chargeOnLimit)"},
        {"offLimit", "% used capacity below which it stops (default chargeOffLimit)"},
        {"minOnTime", "s the engine runs at least once started (default 20)"},
        {"bestSpeed", "1: each power at the engine speed of best efficiency for it; 0: at the "
                      "generator's speed (default 1)"},
        {"gain", "W more charged per % used capacity above the middle of the limits, less below "
                 "(default 5000)"}}},
      {"optimalLine",
       "the thermostat's limits and power, each power made at the engine speed and torque of "
       "best efficiency for it (the optimal operating line of the engine's table)",
       {{"power", "W charged while on; 0: as the thermostat (default 0)"},
        {"onLimit", "% used capacity above which the engine starts (default chargeOnLimit)"},
        {"offLimit", "% used capacity below which it stops (default chargeOffLimit)"}}},
      {"ecms",
       "equivalent consumption minimisation: each step the charging power that costs least "
       "fuel less factor times the electric energy gained, the factor growing as the used "
       "capacity rises above its target",
       {{"factor", "the equivalence factor at the target (default 2.8)"},
        {"gain", "how much the factor grows per 10 % used capacity above the target (default 1)"},
        {"target", "% used capacity to end at; -1: where the run starts (default -1)"},
        {"maxPower", "W charged at most (default 30000)"},
        {"minOnTime", "s the engine runs at least once started (default 5)"},
        {"powers", "charging powers tried, evenly up to maxPower (default 30)"}}},
      {"schedule=FILE",
       "replays a table of decisions by time from FILE.csv: a header, then rows "
       "time,engineOn,power[,speed] (s, 0/1, W, rpm; speed 0 or none: the generator's); each "
       "row holds from its time to the next",
       {}},
  };
  return list;
}

std::unique_ptr<Strategy> MakeStrategy(const std::string& name,
                                       const std::vector<std::pair<std::string, double>>& given,
                                       State& s, std::string* why) {
  std::vector<std::pair<std::string, double>> params = given;
  std::unique_ptr<Strategy> made;
  if (name == "thermostat") {
    Take(params, "onLimit", &s.chargeOnLimit);
    Take(params, "offLimit", &s.chargeOffLimit);
    Take(params, "current", &s.chargeSetting);
    Take(params, "speed", &s.genRpm);
  } else if (name == "powerFollower") {
    auto p = std::make_unique<PowerFollower>();
    p->limits = {s.chargeOnLimit, s.chargeOffLimit, s.chargeState == '+'};
    Take(params, "minPower", &p->minPower);
    Take(params, "maxPower", &p->maxPower);
    Take(params, "onLimit", &p->limits.onLimit);
    Take(params, "offLimit", &p->limits.offLimit);
    Take(params, "minOnTime", &p->minOnTime);
    Take(params, "bestSpeed", &p->bestSpeed);
    Take(params, "gain", &p->gain);
    if (p->minPower < 0 || p->maxPower < p->minPower) {
      *why = "powerFollower needs 0 <= minPower <= maxPower";
      return nullptr;
    }
    made = std::move(p);
  } else if (name == "optimalLine") {
    auto p = std::make_unique<OptimalLine>();
    p->limits = {s.chargeOnLimit, s.chargeOffLimit, s.chargeState == '+'};
    p->chargeSetting = s.chargeSetting;
    Take(params, "power", &p->power);
    Take(params, "onLimit", &p->limits.onLimit);
    Take(params, "offLimit", &p->limits.offLimit);
    made = std::move(p);
  } else if (name.rfind("schedule=", 0) == 0) {
    auto p = std::make_unique<Schedule>();
    p->file = name.substr(9);
    p->rows = ReadSchedule(p->file);
    made = std::move(p);
  } else if (name == "ecms") {
    auto p = std::make_unique<Ecms>();
    double powers = p->powers;
    Take(params, "factor", &p->factor);
    Take(params, "gain", &p->gain);
    Take(params, "target", &p->target);
    Take(params, "maxPower", &p->maxPower);
    Take(params, "minOnTime", &p->minOnTime);
    Take(params, "powers", &powers);
    if (!(powers >= 1 && powers <= 10000) || p->maxPower <= 0 || p->factor <= 0) {
      *why = "ecms needs factor > 0, maxPower > 0 and powers from 1 to 10000";
      return nullptr;
    }
    p->powers = static_cast<int>(powers);
    made = std::move(p);
  } else {
    std::string names;
    for (const StrategyInfo& i : BuiltInStrategies()) names += std::string(" ") + i.name;
    *why = "unknown strategy \"" + name + "\"; the strategies are:" + names;
    return nullptr;
  }
  if (!params.empty()) {
    *why = "the strategy " + name + " has no parameter \"" + params.front().first + "\"";
    return nullptr;
  }
  why->clear();
  return made;
}

}  // namespace drivanto
