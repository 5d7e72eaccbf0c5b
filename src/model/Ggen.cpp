// The generator: while charging, the engine turns at the generator speed and
// gives the torque that the charging current needs.

#include "model/Codes.h"
#include "model/Modules.h"

namespace drivanto {

void GeneratorStep(Sim& sim) {
  State& s = sim.s;
  if (s.chargeState == '+') {
    s.nic = s.genRpm;
    if (s.chargeSetting < 0) s.Ila = Ratio(-s.chargeSetting * 1000, s.U);
    if (s.nic != 0 && s.genEff != 0) {
      // Electric power divided by the generator efficiency and the angular speed.
      s.mic = s.Ila * 100 * s.U * 60 / (s.nic * kModelTwoPi) / s.genEff;
    } else {
      // Without a generator speed or efficiency nothing can be charged.
      s.mic = 0;
      s.Ila = 0;
    }
  } else {
    s.nic = 0;
    s.mic = 0;
  }
}

}  // namespace drivanto
