// One computation step: the modules of the car in their fixed order. The step
// reads the car's tables and changes the state; it writes no file.

#include "model/Modules.h"

namespace drivanto {

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
    s.mic = 0;
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
  if (s.Spara.At(4) == 'M') EngineMapPoint(sim);  // 19
  // 20, 21: the rows of the result files are written after the step, by
  // the run (WriteResultRows); the energy column of file 1 is the step's.
  if (s.Spara.At(1) == '1' && s.resfil1status == 'K') AccumulateResultEnergy(s);
}

}  // namespace drivanto
