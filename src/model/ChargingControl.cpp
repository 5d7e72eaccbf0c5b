// Charging control: on above the switch-on limit of used capacity, off below
// the switch-off limit, or by hand with "+" and "-". (Module Lladdn.)

#include "model/Modules.h"

namespace drivanto {

void ChargingControl(Sim& sim) {
  State& s = sim.s;
  if (s.usedCapacity > s.chargeOnLimit && s.chargeManual == '0') s.chargeState = '+';
  if (s.chargeStartDist < 1 && s.usedCapacity > s.chargeOffLimit) s.chargeStartDist = s.ltot;
  if (s.chargeState == '+' && s.usedCapacity < s.chargeOffLimit && s.ltot - s.chargeStartDist > 1) {
    // Litres per metre times 10^6 is centilitres per 10 km.
    s.medelforbr = (s.tankVolume - s.fuelLeft) * 1000000 / (s.ltot - s.chargeStartDist);
  }
  if (s.usedCapacity < s.chargeOffLimit && s.chargeManual == '0') s.chargeState = '0';
  if (s.envArea != 0 && s.chargeManual == '0' && s.usedCapacity < s.envOnLimit) s.chargeState = '0';
  s.Ila = (s.chargeState == '+') ? s.chargeSetting : 0;
  // A negative setting is a constant charging power in kW.
  if (s.chargeState == '+' && s.chargeSetting < 0) s.Ila = Ratio(-s.chargeSetting * 1000, s.U);
  if (s.chargeOnLimit > 100) s.chargeState = '0';
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

}  // namespace drivanto
