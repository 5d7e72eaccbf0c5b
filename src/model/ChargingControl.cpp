// Charging control: on above the switch-on limit of used capacity, off below
// the switch-off limit, or by hand with "+" and "-". (Module Lladdn.)

#include <algorithm>
#include <cmath>

#include "base/Rounding.h"
#include "model/Modules.h"

namespace drivanto {

namespace {

// The dashboard's average consumption: from where the used capacity first
// passed the switch-off limit, updated while charging below it.
void AverageConsumption(State& s) {
  if (s.chargeStartDist < 1 && s.usedCapacity > s.chargeOffLimit) s.chargeStartDist = s.ltot;
  if (s.chargeState == '+' && s.usedCapacity < s.chargeOffLimit && s.ltot - s.chargeStartDist > 1) {
    // Litres per metre times 10^6 is centilitres per 10 km.
    s.medelforbr = (s.tankVolume - s.fuelLeft) * 1000000 / (s.ltot - s.chargeStartDist);
  }
}

// "+" charges and "-" stops by hand; a space gives the control back.
void ChargingKeys(State& s) {
  if (s.keyTyped == '+') {
    s.chargeState = '+';
    s.chargeManual = '+';
  }
  if (s.keyTyped == '-') {
    s.chargeState = '0';
    s.chargeManual = '+';
  }
  if (s.keyTyped == ' ') s.chargeManual = '0';
}

// A strategy's step: it decides while the control is automatic; the keys and
// the sensitive area's rule stay on top of it, and the dashboard's average
// consumption is kept as with the thermostat.
void StrategyControl(Sim& sim, Strategy& strategy) {
  State& s = sim.s;
  AverageConsumption(s);
  s.strategyPower = 0;
  s.strategySpeed = 0;
  s.strategyCurrent = 0;
  if (s.chargeManual == '0') {
    StrategyInputs in;
    in.time = s.ttot;
    in.dt = s.dt;
    in.speed = s.v;
    in.requestedSpeed = s.vb;
    in.slope = s.slope;
    in.usedCapacity = s.usedCapacity;
    in.voltage = s.U;
    in.tractionPower = s.motorCurrent * s.U;
    in.auxPower = s.auxPower;
    in.engineWasOn = s.chargeState == '+';
    in.engineSpeed = s.engineSpeed;
    in.engineTorque = s.engineTorque;
    in.fuelFlow = s.fuelFlow;
    in.cycleTime = s.cycleTime;
    in.rowsAhead = [&sim](int n) {
      std::vector<std::pair<double, double>> rows;
      const State& st = sim.s;
      if (st.cycleType != 'T' || n <= 0) return rows;
      // The row read last lies ahead of the one being driven; the rest
      // follow in the file (read from a copy of the reader's place). Before
      // the reader has opened the file (the first step), from its beginning.
      const bool fromStart = !sim.cycleFile.IsOpen();
      if (!fromStart && !sim.cycleRowIsInitial && st.readRow[1] > st.cycleTime) {
        rows.emplace_back(st.readRow[1], st.readRow[2]);
      }
      try {
        CycleFile ahead = sim.cycleFile;
        if (fromStart) ahead.Open(st.Ttidd);
        double row[6];
        while (static_cast<int>(rows.size()) < n && !ahead.AtEnd()) {
          ahead.ReadRow(row);
          if (!fromStart || row[0] > st.cycleTime) rows.emplace_back(row[0], row[1]);
        }
      } catch (const std::exception&) {
        // A file or a row the reader cannot read ends what lies ahead.
      }
      return rows;
    };
    CarQueries car(*sim.tables, s, sim.sites.strategyQueries);
    const StrategyDecision d = strategy.Decide(in, car);
    const bool byCurrent = std::isfinite(d.current) && d.current > 0;
    const bool usable = d.engineOn && (byCurrent || (std::isfinite(d.power) && d.power > 0)) &&
                        std::isfinite(d.engineSpeed) && d.engineSpeed >= 0;
    s.chargeState = usable ? '+' : '0';
    if (usable) {
      s.strategyPower = byCurrent ? 0.0 : d.power;
      s.strategyCurrent = byCurrent ? d.current : 0.0;
      s.strategySpeed = d.engineSpeed;
      // A speed outside the engine's table is brought to its nearest end.
      if (d.engineSpeed > 0) {
        const auto [lo, hi] = car.SpeedRange();
        const double n = std::clamp(d.engineSpeed, lo, hi);
        if (n != d.engineSpeed) s.strategyLimits = WrapIncrement(s.strategyLimits);
        s.strategySpeed = n;
      }
    }
  }
  if (s.envArea != 0 && s.chargeManual == '0' && s.usedCapacity < s.envOnLimit) s.chargeState = '0';
  s.Ila = 0;
  if (s.chargeState == '+') {
    if (s.chargeManual == '0') {
      s.Ila = s.strategyCurrent > 0 ? s.strategyCurrent : Ratio(s.strategyPower, s.U);
    } else {
      // Charging by hand: the set current or power.
      s.Ila = s.chargeSetting < 0 ? Ratio(-s.chargeSetting * 1000, s.U) : s.chargeSetting;
    }
  }
  ChargingKeys(s);
}

}  // namespace

void ChargingControl(Sim& sim) {
  if (Strategy* strategy = sim.strategy.get()) {
    StrategyControl(sim, *strategy);
    return;
  }
  State& s = sim.s;
  if (s.usedCapacity > s.chargeOnLimit && s.chargeManual == '0') s.chargeState = '+';
  AverageConsumption(s);
  if (s.usedCapacity < s.chargeOffLimit && s.chargeManual == '0') s.chargeState = '0';
  if (s.envArea != 0 && s.chargeManual == '0' && s.usedCapacity < s.envOnLimit) s.chargeState = '0';
  s.Ila = (s.chargeState == '+') ? s.chargeSetting : 0;
  // A negative setting is a constant charging power in kW.
  if (s.chargeState == '+' && s.chargeSetting < 0) s.Ila = Ratio(-s.chargeSetting * 1000, s.U);
  if (s.chargeOnLimit > 100) s.chargeState = '0';
  ChargingKeys(s);
}

}  // namespace drivanto
