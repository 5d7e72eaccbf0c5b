// One computation step: the modules of the car in their fixed order.

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
  if (s.Spara.At(4) == 'M') EngineMapPoint(sim);                             // 19
  if (s.Spara.At(1) == '1' && s.resfil1status == 'K') WriteResultRow1(sim);  // 20
  if (s.Spara.At(2) == '1' && s.resfil2status == 'K') WriteResultRow2(sim);  // 21
}

}  // namespace drivanto
