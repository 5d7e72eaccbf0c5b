// The road slope: from the drive cycle, or stepped by the keys "L" and "l".

#include "model/Modules.h"

namespace drivanto {

void SlopeStep(Sim& sim) {
  State& s = sim.s;
  if (s.tangent == 'L' || s.tangent == 'l') {
    s.slopeMode = 'L';
    if (s.tangent == 'L' && s.slope < 40) s.slope = s.slope + 0.5;
    if (s.tangent == 'l' && s.slope > -40) s.slope = s.slope - 0.5;
  }
  if (OneOf(s.tangent, "FKTfkt")) s.slopeMode = ' ';
  if (s.slopeMode != 'L' && s.slopeMode != 'l' && s.cycleSlope < 100) s.slope = s.cycleSlope;
}

}  // namespace drivanto
