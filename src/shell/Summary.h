#pragma once
// What a run reports when it ends: the state's totals, figures gathered step
// by step (how well the car followed a time cycle, the battery's charge
// balance and the fuel it corresponds to), the program's version and the
// fingerprints of the inputs; as text for people or as one JSON object.

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "model/Sim.h"

namespace drivanto {

// Figures gathered over the steps of a run.
class RunFigures {
 public:
  // At the start of the run (after start-up, settings and snapshots).
  void Begin(const State& s);
  // After every step.
  void AfterStep(const State& s);

  struct TraceMiss {
    double cycleDistance = 0;   // m: the requested speed integrated over the steps
    double drivenDistance = 0;  // m, over the same steps
    double maxShortfall = 0;    // km/h: the largest vCycle - v
    double maxExcess = 0;       // km/h: the largest v - vCycle
    double secondsOffBand = 0;  // s with |v - vCycle| > 2 km/h
    // %: driven distance against the cycle's (0 without cycle distance).
    double DistanceError() const;
  };
  // Whether any step followed a time cycle.
  bool onTimeCycle() const { return timeSteps_ > 0; }
  const TraceMiss& traceMiss() const { return miss_; }

  double startNetEnergy() const { return startNetEnergy_; }
  double startFuelLeft() const { return startFuelLeft_; }
  double startLtot() const { return startLtot_; }
  // kWh the generator delivered into the battery.
  double generatorEnergy() const { return generatorEnergy_; }

 private:
  TraceMiss miss_;
  int64_t timeSteps_ = 0;
  double startNetEnergy_ = 0, startFuelLeft_ = 0, startLtot_ = 0;
  double generatorEnergy_ = 0;
};

// The battery's charge balance and the fuel corrected for it.
struct ChargeBalance {
  double netEnergyChange = 0;  // kWh, positive when the battery ends fuller
  double chainEfficiency = 0;  // fuel energy to battery energy, 0..1
  bool chainFromRun = false;   // the run's mean (else the chain's best point)
  double correctedFuel = 0;    // l
  double correctedFuelPer100km = 0;
};

// The balance of the run: the fuel it would have used with the battery
// ending as it started, through the run's mean engine-generator efficiency
// (generator energy / fuel energy) or, when the engine never ran, the
// chain's best point (best engine efficiency x generator efficiency).
ChargeBalance BalanceOf(Sim& sim, const RunFigures& figures);

struct InputPrint {
  std::string key, file, sha256;  // sha256 empty when the file cannot be read
};
std::vector<InputPrint> InputPrints(const Sim& sim);

struct RunOutcome {
  std::string reason = "maxSteps";
  int64_t steps = 0;
  double wall = 0;
  double stepSeconds = 0;
  int exitCode = 0;
  std::string error;  // the message of a failed run
};

// Writes the summary. Keys of the JSON object: the state's totals
// (endReason ... usedCapacity, wallSeconds, stepsPerSecond), version,
// fuelPer100km, COPerKm, NOxPerKm, HCPerKm, traceMiss (time cycles, else
// null), chargeBalance, inputs, and exitCode/error for a failed run.
void WriteSummary(std::ostream& out, Sim& sim, const RunOutcome& r, const RunFigures& figures,
                  const std::vector<InputPrint>& inputs, bool json);

// A JSON number (null where not finite) and string.
std::string JsonNumber(double x);
std::string JsonString(const std::string& text);

}  // namespace drivanto
