// Distance, map position and height.

#include "model/Modules.h"

namespace drivanto {

void DistanceStep(Sim& sim) {
  State& s = sim.s;
  const double step = (s.v + s.vPrev) * s.dt / 2;
  s.mapPos = s.mapPos + step;
  s.ltot = s.ltot + step;
  s.height = s.height + s.dt * s.slope * (s.v + s.vPrev) / 200;
}

}  // namespace drivanto
