// The friction brake: automatic in speed control, by the keys or the mouse
// otherwise.

#include <algorithm>

#include "model/Modules.h"

namespace drivanto {

void BrakeStep(Sim& sim) {
  State& s = sim.s;
  const auto key = static_cast<unsigned char>(s.tangent);
  if (key >= 49 && key <= 122) s.brakeForce = 0;  // any key "1" to "z" releases the brake
  if (s.tangent == '0') s.brakeForce = s.brakeForce + s.maxBrakeForce / 10;
  switch (s.styrmod) {
    case 'I':
    case 'J':
    case 'M':
    case 'P':
    case 'W':
    case 'Y': break;
    default:
      // Speed control: the force that brings the speed down to vb within
      // brakeSteps increments, less what the resistance already does.
      s.brakeForce = 0;
      if (1.1 * s.vb < s.v) {
        s.brakeForce = (s.v - s.vb) * s.vehicleMass / (std::max<int32_t>(s.brakeSteps, 1) * s.dt) -
                       s.resistForce;
      }
      break;
  }
  if (s.brakeForce < 0) s.brakeForce = 0;
  if (s.brakeForce > s.maxBrakeForce) s.brakeForce = s.maxBrakeForce;
}

}  // namespace drivanto
