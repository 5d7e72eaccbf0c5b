#pragma once
// The modules of the computation step, in files named after the car's
// components. Each is a plain function over the simulation record.

#include <string>

#include "model/Sim.h"

namespace drivanto {

// Step.cpp (Pprev): previous values and the engine cache keys.
void SavePreviousValues(Sim& sim);

// DriveCycle.cpp (Ccykel): drive cycle, key commands, road curves.
void CycleStep(Sim& sim);
void ReadCycleUntil(Sim& sim, const std::string& fileName, double x);
// Switches to the given kind of cycle ('T' time, 'K' map) and reads its file
// as far as the present position; the mode in force is cleared.
void SwitchCycleAndRead(Sim& sim, char cycleType);
// After a snapshot of a run under way has been loaded: opens the cycle file of
// the present cycle type and finds the row the reader had read last, without
// acting on the rows it passes, so the run goes on exactly where it left off.
// When the row is not found the file is left to the reader's own rules.
void ResumeCycleFile(Sim& sim);

// TimeBase.cpp (Ttid): the time increment.
void TimeStep(Sim& sim);

// Vehicle.cpp (Llutning): road slope.
void SlopeStep(Sim& sim);

// Driver.cpp (Ppdr): driver demand and speed regulator.
void DriverDemandStep(Sim& sim);

// Battery.cpp (Bbatsp, BbatKap), ChargingControl.cpp (Lladdn): battery
// voltage, charging control, capacity.
void BatteryVoltage(Sim& sim);
void ChargingControl(Sim& sim);
void BatteryCapacity(Sim& sim);

// EngineGenerator.cpp (Ggen, IICmot): generator and combustion engine.
void GeneratorStep(Sim& sim);
void EngineStep(Sim& sim);
void EngineEmissions(Sim& sim);

// Driveline.cpp (Vvxl, Eelmot): gearbox and traction motor.
void GearStep(Sim& sim);
void MotorStep(Sim& sim);

// Vehicle.cpp (Mmotst, Hhast, Llength), Driveline.cpp (Bbrake, Rreg):
// resistance, brakes, speed, regeneration, distance.
void ResistanceStep(Sim& sim);
void BrakeStep(Sim& sim);
void SpeedStep(Sim& sim);
void RegenStep(Sim& sim);
void DistanceStep(Sim& sim);

// EngineMap.cpp (Mmussla): the engine's operating point in the efficiency
// map (and the map's torque scale while omrakna is set).
void EngineMapPoint(Sim& sim);

// ResultFiles.cpp (RRFIL, Ssparap): result files.
// Throws IoError when a result file to be written is the same file as an
// input of the run (the constants file, a table file, a cycle file, the
// snapshot, the other result file): a result file never destroys an input.
void CheckResultFiles(const Sim& sim);
void OpenResultFiles(Sim& sim);
// The energy column of result file 1, summed while the file is written: a
// part of the step.
void AccumulateResultEnergy(State& s);
// One row each, of the state after a step (the energy already summed).
void WriteResultRow1(Sim& sim);
void WriteResultRow2(Sim& sim);
// After a step: the rows of the result files the settings switch on (to
// the record's row sink when it has one).
void WriteResultRows(Sim& sim);
// The parts of a row: its fifteen values taken from the state, and the
// values written into the file with the column's decimals (`which`: 1 or
// 2); a file of a resumed run is opened for appending first.
constexpr int kResultColumns = 15;
void CaptureResultRow1(const State& s, double out[kResultColumns]);
void CaptureResultRow2(const State& s, double out[kResultColumns]);
void FormatResultRow(ResultFile& file, int which, const double values[kResultColumns]);
void EnsureResultFileOpen(Sim& sim, int which);

// Step.cpp (Bberh): one computation step, the modules in their fixed order.
void SimulationStep(Sim& sim);

// Reads and compiles every table the step looks up, as the files now name
// them, so that the first step finds them ready. Nothing else changes: a file
// that cannot be read is left for the step to report as it meets it.
void ReadStepTables(Sim& sim);

// a / b, or 0 where b is 0 (a value the model cannot compute stays out of the
// state instead of becoming infinite).
inline double Ratio(double a, double b) { return b != 0.0 ? a / b : 0.0; }

// Whether the mode letter c is one of the letters of set (a literal: the
// compiler turns the test into a few comparisons).
template <std::size_t N>
inline bool OneOf(char c, const char (&set)[N]) {
  for (std::size_t i = 0; i + 1 < N; ++i) {
    if (c == set[i]) return true;
  }
  return false;
}

}  // namespace drivanto
