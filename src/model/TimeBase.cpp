// The time base: the increment of the step from the settings, the drive cycle
// or the wall clock. (Module Ttid.)

#include "model/Modules.h"

namespace drivanto {

namespace {

// Far more readings than a millisecond of any working clock takes.
constexpr long kMaxClockReadings = 5000000;

// Wall-clock seconds since the previous step. The clock counts seconds of
// the day: across midnight a day is added; a clock set back is taken as the
// new base.
double Elapsed(State& s) {
  double d = s.clockNow - s.clockPrev;
  if (d < -43200.0) d += 86400.0;
  // A clock set back (or a value that is not a number) is the new base.
  if (!(d >= 0.0)) {
    s.clockPrev = s.clockNow;
    d = 0.0;
  }
  return d;
}

}  // namespace

void TimeStep(Sim& sim) {
  State& s = sim.s;
  s.clockNow = sim.clock->Read();
  if (s.ttot < 1 && s.clockPrev < 1) s.clockPrev = s.clockNow;
  if (s.timeMode != 'D') {
    s.dt = s.cycleDt;
    if (s.timeMode == 'R' || s.cycleDt < 0) {
      if (s.paus) s.clockPrev = s.clockNow - 1;
      s.dt = Elapsed(s);
      // Wait until at least 1 ms of wall time has passed. The wait is
      // bounded: a clock that stands still (a value too large to move by a
      // millisecond, a broken clock) gives up after a generous number of
      // readings and the step takes its 1 ms.
      for (long readings = 0; s.dt < 0.001; ++readings) {
        if (readings == kMaxClockReadings) {
          s.dt = 0.001;
          break;
        }
        s.clockNow = sim.clock->ReadAgain();
        s.dt = Elapsed(s);
      }
    }
  }
  s.clockPrev = s.clockNow;
  if (s.screenState == 'G') {
    s.ttot = s.ttot + s.dt;
    s.cycleTime = s.cycleTime + s.dt;
  }
  if (s.dt < 0.001) s.dt = 0.001;
}

}  // namespace drivanto
