#pragma once
// Energy-management strategies: what decides, step by step, whether the
// engine-generator runs, how much power it charges with and at what engine
// speed. The built-in rule of the car - charging switched on above one limit
// of used capacity and off below another, at the set current or power and the
// generator's set speed - is the thermostat, the default; it is the model's
// own charging control and needs no object. Any other strategy is an object
// the step asks once per step; the keys "+", "-" and space and the rule of the
// environmentally sensitive area stay on top of it.

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "data/Tables.h"
#include "state/State.h"

namespace drivanto {

// What a supervisory controller knows when it decides (the charging control's
// place in the step: after the driver's demand and the battery's voltage).
struct StrategyInputs {
  double time = 0;          // s, the run's clock (ttot)
  double dt = 0;            // s, this step
  double speed = 0;         // m/s
  double requestedSpeed = 0;  // m/s, what the driver or the cycle asks for
  double slope = 0;         // %
  double usedCapacity = 0;  // %
  double voltage = 0;       // V, the battery's terminal voltage now
  double tractionPower = 0;  // W the motor asks of the battery
  double auxPower = 0;       // W the auxiliaries take
  // What the engine gave last step (0 when it was off).
  double engineSpeed = 0, engineTorque = 0, fuelFlow = 0;
  bool engineWasOn = false;
  // On a time cycle: its clock (s), and up to n of the rows ahead of the one
  // being driven, each its time (s) and speed (m/s), read when asked (none
  // on a map cycle or past the file's end).
  double cycleTime = 0;
  std::function<std::vector<std::pair<double, double>>(int n)> rowsAhead;
};

// What a strategy decides for this step.
struct StrategyDecision {
  bool engineOn = false;
  double power = 0;        // W of electric power into the battery while on
  double engineSpeed = 0;  // rpm; 0: the generator speed of the settings
  double current = 0;      // A charged instead of the power, when above 0
};

// Read-only questions on the car's engine tables. A question outside a table
// has no answer (false, or 0), never a range error.
// Where the questions look their tables up (kept with the run, apart from the
// model's own places in the tables).
struct QuerySites {
  TableSite torque, efficiency, nox, batteryDischarge, batteryCharge;
};

class CarQueries {
 public:
  CarQueries(TableCache& tables, const State& s, QuerySites& sites)
      : tables_(tables), s_(s), sites_(sites) {}
  // Nm the engine gives at most at this speed; false outside its table.
  bool MaxTorque(double rpm, double* torque);
  // % efficiency at this point; false outside the table.
  bool Efficiency(double rpm, double torque, double* efficiency);
  // l/s of fuel at this point (as the engine burns it); false outside.
  bool FuelFlow(double rpm, double torque, double* flow);
  // Nm the engine turns the generator with to charge this electric power at
  // this speed (the generator's efficiency included).
  double TorqueFor(double power, double rpm) const;
  // The engine speeds of the maximum-torque table (rpm), lowest and highest.
  std::pair<double, double> SpeedRange();
  // g/s of NOx at this point (the fuel flow times the table's g/kg); false
  // outside the tables.
  bool NOxFlow(double rpm, double torque, double* flow);
  // V at the battery's terminals at this used capacity (%) for each current
  // (A, positive discharging), from the battery's tables as the step has
  // them (the tables found once); NaN where a table has no answer.
  std::vector<double> Voltages(double usedCapacity, const std::vector<double>& currents);
  // Ah the battery holds.
  double Capacity() const { return s_.batCapacity; }
  // rpm of the generator's set speed.
  double GeneratorSpeed() const { return s_.genRpm; }

 private:
  TableCache& tables_;
  const State& s_;
  QuerySites& sites_;
};

// The engine speed of best efficiency at which it can give this electric
// power (200 speeds across its table); 0 when it can at none.
double BestSpeed(double power, CarQueries& car);

// The most electric power the engine can give (W), at any speed of its table.
double MostPower(CarQueries& car);

// A way to charge: an electric power, the engine speed it is made at, and
// what it burns and emits.
struct OperatingPoint {
  double power = 0;     // W into the battery
  double speed = 0;     // rpm
  double fuelFlow = 0;  // l/s
  double noxFlow = 0;   // g/s
};

// `count` powers in equal steps up to `maxPower`, each at its best speed, or
// at `fixedSpeed` (rpm) when that is above 0; a power the engine cannot give
// there is left out.
std::vector<OperatingPoint> OperatingPoints(CarQueries& car, double maxPower, int count,
                                            double fixedSpeed = 0);

// A strategy. It may keep state between steps (Clone copies it with the run).
class Strategy {
 public:
  virtual ~Strategy() = default;
  virtual std::string Name() const = 0;
  // Its parameters as name=value, in the order they are documented.
  virtual std::vector<std::pair<std::string, double>> Parameters() const = 0;
  virtual StrategyDecision Decide(const StrategyInputs& in, CarQueries& car) = 0;
  virtual std::unique_ptr<Strategy> Clone() const = 0;
  // What it keeps between steps, as numbers (saved with a snapshot of the
  // run, so that a run resumed from it goes on as the run made in one go),
  // and taken back; false for numbers it cannot take.
  virtual std::vector<double> KeptState() const { return {}; }
  virtual bool TakeKeptState(const std::vector<double>& kept) { return kept.empty(); }
};

// A strategy as a snapshot of the run holds it: its name, parameters and
// kept state, written after the state's lines. Empty name: none (the
// thermostat, or a snapshot written before strategies).
struct SavedStrategy {
  std::string name;
  std::vector<std::pair<std::string, double>> parameters;
  std::vector<double> kept;
};
// The lines (CR LF ends) after a snapshot's own; "" for no strategy.
std::string SavedStrategyText(const Strategy* strategy);
// From the lines after a snapshot's own; throws IoError (file, line, reason)
// for lines that are not a strategy's.
SavedStrategy ReadSavedStrategy(const std::vector<std::string>& lines, int firstLine,
                                const std::string& fileName);

// The thermostat's parameters: the settings it runs on.
std::vector<std::pair<std::string, double>> ThermostatParameters(const State& s);

// The strategies by name, each with its parameters' names and meanings (for
// help texts and the README).
struct StrategyInfo {
  const char* name;
  const char* summary;
  std::vector<std::pair<const char*, const char*>> parameters;  // name, meaning
};
const std::vector<StrategyInfo>& BuiltInStrategies();

// A strategy made from its name and parameters (name=value, each given at
// most once; missing ones take their defaults, some from the state's settings).
// Returns nullptr with *why set for an unknown name, parameter or value; for
// "thermostat" returns nullptr with *why empty (the model's own control), its
// parameters set on the state's settings.
std::unique_ptr<Strategy> MakeStrategy(const std::string& name,
                                       const std::vector<std::pair<std::string, double>>& params,
                                       State& s, std::string* why);

// The slot of a run's strategy: a copy of the run copies its strategy (and
// whatever the strategy keeps).
class StrategySlot {
 public:
  StrategySlot() = default;
  StrategySlot(const StrategySlot& o) : p_(o.p_ ? o.p_->Clone() : nullptr) {}
  StrategySlot& operator=(const StrategySlot& o) {
    p_ = o.p_ ? o.p_->Clone() : nullptr;
    return *this;
  }
  StrategySlot(StrategySlot&&) = default;
  StrategySlot& operator=(StrategySlot&&) = default;
  void Set(std::unique_ptr<Strategy> p) { p_ = std::move(p); }
  Strategy* get() const { return p_.get(); }
  explicit operator bool() const { return p_ != nullptr; }

 private:
  std::unique_ptr<Strategy> p_;
};

}  // namespace drivanto
