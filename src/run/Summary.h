#pragma once
// What a run reports when it ends: the state's totals, figures gathered step
// by step (how well the car followed a time cycle, whether it drove the cycle
// to its end, the engine's running, the battery's charge balance on the
// energy it stores and the fuel it corresponds to), the settings the run was
// given, the program's version and the fingerprints of the inputs; as text
// for people or as one JSON object.
//
// Every amount and every per-distance figure covers the same span: the run
// made by this call, from its start (or from the snapshot it resumed) to its
// end.

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "data/CompiledTables.h"
#include "model/Sim.h"

namespace drivanto {

// The battery as its tables describe it: the open-circuit voltage against
// the used capacity (the discharge voltages at no current), the voltage at a
// net current, and the stored energy between two used capacities.
class BatteryView {
 public:
  // From the car's battery file; without voltages where it cannot be read.
  void Read(Sim& sim);
  bool valid() const { return valid_; }
  // V at a used capacity in %.
  double OpenCircuit(double usedCapacity) const;
  // V at a net current in A (positive: discharge), as the model computes it.
  double Voltage(double usedCapacity, double current) const;
  // Ohm: the drop from the open-circuit voltage per ampere at that current
  // (taken at 10 A at least).
  double Resistance(double usedCapacity, double current) const;
  // kWh stored in the battery between two used capacities (positive when
  // `from` is more used than `to`): the charge in between valued at the
  // open-circuit voltage, exact for the table's straight pieces.
  double StoredEnergy(double from, double to) const;

 private:
  Table2 discharge_, charge_;
  // Where the last lookups found their rows (they only save searching).
  mutable LookupHint openHint_, dischargeHint_, chargeHint_;
  double currentScale_ = 1;  // the table's capacity over the car's
  double capacityAh_ = 0;
  bool valid_ = false;
};

// Figures gathered over the steps of a run.
class RunFigures {
 public:
  // At the start of the run (after start-up, settings and snapshots);
  // `resumed` when the run goes on from a snapshot of a run under way.
  void Begin(Sim& sim, bool resumed);
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

  // The state where the run began.
  const State& start() const { return start_; }
  bool resumed() const { return resumed_; }
  const BatteryView& battery() const { return battery_; }
  // kWh the generator delivered into the battery (at its terminals).
  double generatorEnergy() const { return generatorEnergy_; }
  // kWh the generator's work added to the energy stored in the battery, at
  // the margin: its charge valued at the open-circuit voltage, plus the
  // charge the traction and regeneration currents save or lose because the
  // charging current raises the battery's voltage.
  double generatorStoredEnergy() const { return generatorStored_; }
  // Time-weighted means over the steps: used capacity (%), and the current
  // that follows the voltage (traction and auxiliaries less regeneration, A).
  double meanUsedCapacity() const { return time_ > 0 ? ucTime_ / time_ : start_.usedCapacity; }
  double meanPowerCurrent() const { return time_ > 0 ? powerCurrentTime_ / time_ : 0; }
  // s with the engine burning fuel, and how often it started.
  double engineOnTime() const { return engineOnTime_; }
  int64_t engineStarts() const { return engineStarts_; }

 private:
  TraceMiss miss_;
  int64_t timeSteps_ = 0;
  State start_;
  bool resumed_ = false;
  BatteryView battery_;
  double generatorEnergy_ = 0, generatorStored_ = 0;
  double engineOnTime_ = 0;
  int64_t engineStarts_ = 0;
  double time_ = 0, ucTime_ = 0, powerCurrentTime_ = 0;
  bool engineWasOn_ = false;
};

// The battery's charge balance and the fuel corrected for it.
struct ChargeBalance {
  double startUsedCapacity = 0, endUsedCapacity = 0;  // %
  double chargeChange = 0;        // Ah, positive when the battery ends fuller
  double storedEnergyChange = 0;  // kWh stored, positive when the battery ends fuller
  double netEnergyChange = 0;     // kWh at the terminals, positive when it ends fuller
  double chainEfficiency = 0;     // fuel energy to stored battery energy, 0..1
  bool chainFromRun = false;      // the run's own (else the charging point's)
  double correctedFuel = 0;       // l
  double correctedFuelPer100km = 0;
};

// What is left of the cycle when a run ends before the cycle's end.
struct CycleLeft {
  bool completed = false;
  std::optional<double> time;      // s (time cycles)
  std::optional<double> distance;  // m
  std::string file;                // the cycle followed at the end
};

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
  // What the run was given besides its files: the settings changed by name
  // (in order, each as given) and the other options that change its input.
  std::vector<std::pair<std::string, std::string>> settings;
  std::vector<std::string> runOptions;
};

// Every figure of the summary.
struct RunSummary {
  std::string endReason;
  int64_t steps = 0;
  double ttot = 0, ltot = 0, height = 0;  // the state's clock and odometer at the end
  double time = 0, distance = 0;          // s and m driven in this run
  double startTtot = 0, startLtot = 0;
  bool resumed = false;
  double fuelUsed = 0;  // l: fuel at the start minus fuel at the end
  double medelforbr = 0;
  double CO = 0, NOx = 0, HC = 0;  // g in this run
  double netEnergy = 0;            // kWh: U x Iaba in this run (the battery's view)
  double driveEnergy = 0;          // kWh: U x totalCurrent in this run
  double usedCapacity = 0;         // % at the end
  double dt = 0;
  char timeMode = ' ';
  double wallSeconds = 0, stepsPerSecond = 0;
  double fuelPer100km = 0, COPerKm = 0, NOxPerKm = 0, HCPerKm = 0;
  double COPerMil = 0, NOxPerMil = 0, HCPerMil = 0;
  double engineOnTime = 0;
  int64_t engineStarts = 0;
  double generatorEnergy = 0;        // kWh at the battery's terminals
  double fuelEnergy = 0;             // kWh/l the engine's fuel holds (the model's own value)
  double fuelEnergySetting = 0;      // kWh/l of the constants file
  // The energy-management strategy, its parameters (name=value, blank
  // between) and how often the engine could not give what it asked for.
  std::string strategy = "thermostat";
  std::string strategyParameters;
  int64_t strategyLimits = 0;
  bool onTimeCycle = false;
  RunFigures::TraceMiss traceMiss;
  CycleLeft cycle;
  ChargeBalance balance;
  const RunOutcome* outcome = nullptr;
};

RunSummary Summarise(Sim& sim, const RunOutcome& r, const RunFigures& figures);

// Whether the constants file's fuel energy differs from the model's (by
// more than 0.1 %).
bool FuelEnergySettingDiffers(const RunSummary& summary);

// The warning of a run that ended before its cycle did, "" for a run that
// drove its cycle to the end.
std::string CycleWarning(const RunSummary& summary);

// The summary's figures by key, in the order of the JSON object: a dotted key
// is a member of an object (span, traceMiss, chargeBalance). `column` is the
// key's place among a study table's columns (0: not a column). README lists
// every key with its unit and meaning.
struct SummaryKey {
  const char* key;
  int column;
  std::string (*json)(const RunSummary& summary);  // the value as JSON text
  // Whether the run has the object the key belongs to (else it is null).
  bool (*present)(const RunSummary& summary) = nullptr;
};
const std::vector<SummaryKey>& SummaryKeys();

// Writes the summary (text, or one JSON object; README lists every key).
void WriteSummary(std::ostream& out, const RunSummary& summary,
                  const std::vector<InputPrint>& inputs, bool json);

// A JSON number (null where not finite; the shortest of 15 significant
// digits, whatever the locale) and string.
std::string JsonNumber(double x);
std::string JsonString(const std::string& text);

}  // namespace drivanto
