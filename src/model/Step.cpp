// One computation step: the modules of the car in their fixed order, and the
// previous values kept at its start. The step reads the car's tables and
// changes the state; it writes no file. (Modules Bberh, Pprev.)

#include "base/Rounding.h"
#include "model/Modules.h"

// One computation step: the modules of the car in their fixed order. The step
// reads the car's tables and changes the state; it writes no file.

namespace drivanto {

void ReadStepTables(Sim& sim) {
  const State& s = sim.s;
  StepOfLookups lookups(sim.tables);
  TableCache& cache = *sim.tables;
  ModelTables& at = sim.sites;
  // A table that cannot be read now is left for the step to report.
  auto read = [](auto&& get) {
    try {
      get();
    } catch (const std::exception&) {
    }
  };
  const std::pair<TableSite*, std::pair<const std::string*, const char*>> ones[] = {
      {&at.roadLoad, {&s.Tford, "1"}}, {&at.engineTorque, {&s.Tforb, "1"}}};
  const std::pair<TableSite*, std::pair<const std::string*, const char*>> twos[] = {
      {&at.batteryDischarge, {&s.Tbat, "1"}}, {&at.batteryCharge, {&s.Tbat, "2"}},
      {&at.motorDrive, {&s.Telm, "1"}},       {&at.motorBrake, {&s.Telm, "2"}},
      {&at.engineEfficiency, {&s.Tforb, "2"}}, {&at.engineCO, {&s.Tforb, "3"}},
      {&at.engineNOx, {&s.Tforb, "4"}},       {&at.engineHC, {&s.Tforb, "5"}},
      {&at.brakeRegen, {&s.Tbr, "1"}}};
  for (const auto& one : ones) {
    read([&] { cache.Get1(*one.first, *one.second.first, one.second.second); });
  }
  for (const auto& two : twos) {
    read([&] { cache.Get2(*two.first, *two.second.first, two.second.second); });
  }
  read([&] { cache.Text(at.gearTable, s.Tvx); });
}

void SimulationStep(Sim& sim) {
  State& s = sim.s;
  StepOfLookups lookups(sim.tables);
  SavePreviousValues(sim);     // 1
  CycleStep(sim);              // 2
  TimeStep(sim);               // 3
  SlopeStep(sim);              // 4
  DriverDemandStep(sim);       // 5
  BatteryVoltage(sim);         // 6
  ChargingControl(sim);        // 7
  GeneratorStep(sim);          // 8
  if (s.chargeState == '+') {  // 9
    EngineStep(sim);
    EngineEmissions(sim);
  } else {
    s.Ila = 0;
    s.engineTorque = 0;
    s.fuelFlow = 0;
    s.icEff = 0.001;
  }
  GearStep(sim);               // 10
  MotorStep(sim);              // 11
  ResistanceStep(sim);         // 12
  BrakeStep(sim);              // 13
  SpeedStep(sim);              // 14
  RegenStep(sim);              // 15
  DistanceStep(sim);           // 16
  BatteryCapacity(sim);        // 17
  if (s.chargeState == '+') {  // 18
    EngineStep(sim);
    s.fuelLeft = s.fuelLeft - s.dt * s.fuelFlow;
  }
  if (s.outputFlags.At(4) == 'M') EngineMapPoint(sim);  // 19
  // 20, 21: the rows of the result files are written after the step, by
  // the run (WriteResultRows); the energy column of file 1 is the step's.
  if (s.outputFlags.At(1) == '1' && s.resfil1status == 'K') AccumulateResultEnergy(s);
}

}  // namespace drivanto

namespace drivanto {

void SavePreviousValues(Sim& sim) {
  State& s = sim.s;
  s.modePrev = s.modeNo;
  s.vPrev = s.v;
  s.clockPrev = s.clockNow;
  s.ltotPrev = s.ltot;
  s.totalCurrentPrev = s.totalCurrent;
  s.UPrev = s.U;
  s.motorCurrentPrev = s.motorCurrent;
  s.regenCurrentPrev = s.regenCurrent;
  s.IabaPrev = s.Iaba;
  s.IlaPrev = s.Ila;
  s.slopePrev = s.slope;
  s.netEnergyPrev = s.netEnergy;
  s.spareValue1Prev = s.spareValue1;
  s.spareValue2Prev = s.spareValue2;
  s.spareValue3Prev = s.spareValue3;
  s.spareValue4Prev = s.spareValue4;
  s.spareValue5Prev = s.spareValue5;
  s.spareValue6Prev = s.spareValue6;
  s.spareValue7Prev = s.spareValue7;
  s.spareValue8Prev = s.spareValue8;
  if (s.modeNo != 21) s.modeBeforeHold = s.modeNo;

  // The engine's operating point at the start of the step, to 0.001.
  s.nicKey = RoundInt(1000 * s.engineSpeed);
  s.micKey = RoundInt(1000 * s.engineTorque);
  s.icMaxTorqueKey = RoundInt(1000 * s.icMaxTorque);
  s.icEffKey = RoundInt(1000 * s.icEff);
}

}  // namespace drivanto
