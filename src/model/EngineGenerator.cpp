// The engine-generator: the generator that sets the engine's speed and load
// while charging, and the combustion engine - its maximum torque, efficiency,
// fuel flow and emissions. (Modules Ggen, IICmot.)

#include "base/Rounding.h"
#include "data/Tables.h"
#include "model/Codes.h"
#include "model/Modules.h"

// The generator: while charging, the engine turns at the generator speed and
// gives the torque that the charging current needs.

namespace drivanto {

void GeneratorStep(Sim& sim) {
  State& s = sim.s;
  if (s.chargeState == '+') {
    s.engineSpeed = s.genRpm;
    if (sim.strategy && s.chargeManual == '0') {
      // A strategy's power at its speed (or the generator's).
      if (s.strategySpeed > 0) s.engineSpeed = s.strategySpeed;
      s.Ila = s.strategyCurrent > 0 ? s.strategyCurrent : Ratio(s.strategyPower, s.U);
    } else if (s.chargeSetting < 0) {
      s.Ila = Ratio(-s.chargeSetting * 1000, s.U);
    }
    if (s.engineSpeed != 0 && s.genEff != 0) {
      // Electric power divided by the generator efficiency and the angular speed.
      s.engineTorque = s.Ila * 100 * s.U * 60 / (s.engineSpeed * kModelTwoPi) / s.genEff;
    } else {
      // Without a generator speed or efficiency nothing can be charged.
      s.engineTorque = 0;
      s.Ila = 0;
    }
  } else {
    s.engineSpeed = 0;
    s.engineTorque = 0;
  }
}

}  // namespace drivanto

// The combustion engine: its maximum torque, efficiency and fuel flow at the
// operating point, and its emissions of CO, NOx and HC.

namespace drivanto {

namespace {

// The operating point has not moved since the start of the step (to within
// 0.001 rpm and 0.001 Nm), so the cached values stand.
bool PointUnchanged(const State& s) {
  return RoundInt(1000 * s.engineTorque) == s.micKey && RoundInt(1000 * s.engineSpeed) == s.nicKey;
}

void Emission(Sim& sim, TableSite& site, const char* table, double& total, double& areaTotal,
              int32_t& key) {
  State& s = sim.s;
  double e;
  if (PointUnchanged(s)) {
    e = key * 0.001;
  } else {
    e = TABR2(sim.tables, site, s.Tforb, table, 'i', 'i', s.engineTorque, s.engineSpeed);
    key = RoundInt(1000 * e);
  }
  total = total + s.fuelFlow * s.fuelDensity * e * s.dt;
  if (s.envArea != 0) areaTotal = areaTotal + s.fuelFlow * s.fuelDensity * e * s.dt;
}

}  // namespace

void EngineStep(Sim& sim) {
  State& s = sim.s;
  if (s.engineSpeed <= 2) return;
  s.icMaxTorque = TABR1(sim.tables, sim.sites.engineTorque, s.Tforb, "1", 'i', s.engineSpeed, 1);
  if (s.loadMode != "Comp1" && s.loadMode != "Para1" && s.loadMode != "K" &&
      s.engineTorque > s.icMaxTorque) {
    s.Ila = Ratio(s.icMaxTorque * s.Ila, s.engineTorque);
    BatteryVoltage(sim);
  }
  if (s.engineTorque > s.icMaxTorque) {
    // What a strategy asked for and the engine cannot give is counted.
    if (sim.strategy) s.strategyLimits = WrapIncrement(s.strategyLimits);
    s.engineTorque = s.icMaxTorque;
  }
  s.fuelFlow = 0;
  if (PointUnchanged(s)) {
    s.icEff = s.icEffKey * 0.001;
  } else {
    s.icEff = TABR2(sim.tables, sim.sites.engineEfficiency, s.Tforb, "2", 'i', 'i', s.engineTorque, s.engineSpeed);
  }
  // Shaft power times the litres per joule, divided by the efficiency.
  if (s.icEff > 0.1) {
    s.fuelFlow = RpmToRadPerSec(s.engineSpeed) * s.engineTorque * kFuelLitresPerJoule * 100 / s.icEff;
  }
}

void EngineEmissions(Sim& sim) {
  State& s = sim.s;
  Emission(sim, sim.sites.engineCO, "3", s.CO, s.COArea, s.COKey);
  Emission(sim, sim.sites.engineNOx, "4", s.NOx, s.NOxArea, s.NOxKey);
  Emission(sim, sim.sites.engineHC, "5", s.HC, s.HCArea, s.HCKey);
}

}  // namespace drivanto
