#include "model/Strategy.h"

#include <algorithm>
#include <cmath>
#include <map>

#include "model/Codes.h"

namespace drivanto {

bool CarQueries::MaxTorque(double rpm, double* torque) {
  try {
    return Lookup1(tables_.Get1(torque_, s_.Tforb, "1"), 'i', rpm, 1, torque);
  } catch (const std::exception&) {
    return false;
  }
}

bool CarQueries::Efficiency(double rpm, double torque, double* efficiency) {
  try {
    return Lookup2(tables_.Get2(efficiency_, s_.Tforb, "2"), 'i', 'i', torque, rpm, efficiency);
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
    const Table1& t = tables_.Get1(torque_, s_.Tforb, "1");
    if (!t.found || t.rows.keys.empty()) return {0, 0};
    const auto [lo, hi] = std::minmax_element(t.rows.keys.begin(), t.rows.keys.end());
    return {std::max(*lo, 0.0), *hi};
  } catch (const std::exception&) {
    return {0, 0};
  }
}

namespace {

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
  double minPower = 5000, maxPower = 25000, minOnTime = 20;
  Hysteresis limits;
  double onFor = 0;

  std::string Name() const override { return "powerFollower"; }
  std::vector<std::pair<std::string, double>> Parameters() const override {
    return {{"minPower", minPower},
            {"maxPower", maxPower},
            {"onLimit", limits.onLimit},
            {"offLimit", limits.offLimit},
            {"minOnTime", minOnTime}};
  }
  StrategyDecision Decide(const StrategyInputs& in, CarQueries&) override {
    const bool wasOn = limits.on;
    if (!limits.Update(in.usedCapacity, onFor >= minOnTime)) {
      onFor = 0;
      return {};
    }
    onFor = wasOn ? onFor + in.dt : in.dt;
    const double demand = in.tractionPower + in.auxPower;
    return {true, std::clamp(demand, minPower, maxPower), 0};
  }
  std::unique_ptr<Strategy> Clone() const override {
    return std::make_unique<PowerFollower>(*this);
  }
};

// The thermostat's limits and power, each power made at the engine speed
// and torque of best efficiency for it (the engine's optimal operating line).
class OptimalLine : public Strategy {
 public:
  double power = 0;  // W; 0: the charging setting's (current times voltage, or power)
  double chargeSetting = 0;
  Hysteresis limits;
  std::map<long, double> bestSpeed;  // the line, by power in steps of 10 W

  std::string Name() const override { return "optimalLine"; }
  std::vector<std::pair<std::string, double>> Parameters() const override {
    return {{"power", power}, {"onLimit", limits.onLimit}, {"offLimit", limits.offLimit}};
  }
  StrategyDecision Decide(const StrategyInputs& in, CarQueries& car) override {
    if (!limits.Update(in.usedCapacity)) return {};
    double p = power;
    if (p <= 0) p = chargeSetting < 0 ? -chargeSetting * 1000 : chargeSetting * in.voltage;
    return {true, p, SpeedFor(p, car)};
  }
  std::unique_ptr<Strategy> Clone() const override { return std::make_unique<OptimalLine>(*this); }

  // The speed of best efficiency at which the engine can give this power;
  // 0 (the generator's speed) when none can.
  double SpeedFor(double p, CarQueries& car) {
    const long key = std::lround(p / 10);
    if (auto it = bestSpeed.find(key); it != bestSpeed.end()) return it->second;
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
    bestSpeed[key] = best;
    return best;
  }
};

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
        {"minOnTime", "s the engine runs at least once started (default 20)"}}},
      {"optimalLine",
       "the thermostat's limits and power, each power made at the engine speed and torque of "
       "best efficiency for it (the optimal operating line of the engine's table)",
       {{"power", "W charged while on; 0: as the thermostat (default 0)"},
        {"onLimit", "% used capacity above which the engine starts (default chargeOnLimit)"},
        {"offLimit", "% used capacity below which it stops (default chargeOffLimit)"}}},
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
