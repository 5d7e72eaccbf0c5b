// The speed: Newton's law with the motor torque, the resistance and the brake.

#include <algorithm>

#include "model/Codes.h"
#include "model/Modules.h"

namespace drivanto {

void SpeedStep(Sim& sim) {
  State& s = sim.s;
  // The tractive force is the motor torque times the motor's angular speed per
  // unit of vehicle speed. A car without a mass is not moved.
  if (s.vehicleMass != 0) {
    s.v = s.v +
          (RpmToRadPerSec(s.ratio) * s.mel - s.resistForce - s.brakeForce) / s.vehicleMass * s.dt;
  }
  if (s.v < 0.001) s.v = 0.001;
  s.nelLimited = std::max(s.nel, 10.0);
  s.melUsed = s.mel;
}

}  // namespace drivanto
