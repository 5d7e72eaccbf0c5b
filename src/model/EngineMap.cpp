// The engine's operating point in the efficiency-map picture: 20 rpm per
// pixel to the right, mussskala Nm over 200 pixels upward. (Module Mmussla.)

#include "base/Rounding.h"
#include "data/Tables.h"
#include "model/Modules.h"

namespace drivanto {

namespace {

// The torque at the top of the map: the first of 950, 900, 850, ... that lies
// less than 51 Nm above the full-load curve sampled every 100 rpm below
// maxRpm, or, for curves above 950 Nm, the first value in steps of 50 that
// covers the curve.
double TorqueScale(Sim& sim) {
  State& s = sim.s;
  double scale = 1000;
  char marker = 'F';
  // Without a sample (maxRpm of 10 rpm or less) the scale stays at its first
  // value; a curve that is not a number cannot push it for ever either.
  for (int pass = 0; marker == 'F' && pass < 100000; ++pass) {
    double n = 10;
    scale -= 50;
    bool sampled = false;
    while (n < s.maxRpm) {
      sampled = true;
      const double t = TABR1(sim.tables, sim.sites.engineTorque, s.Tforb, "1", 'i', n, 1);
      if (t > scale - 51) marker = 'R';
      if (t > scale) {
        scale += 100;
        marker = 'F';
        n = s.maxRpm + 10;
      }
      n += 100;
    }
    if (!sampled) break;
  }
  return scale;
}

}  // namespace

void EngineMapPoint(Sim& sim) {
  State& s = sim.s;
  if (s.omrakna) s.mussskala = TorqueScale(sim);
  s.musspix = s.mussskala / 200;
  s.mussx = TruncInt(s.engineSpeed / 20);
  s.mussy = TruncInt(200 - Ratio(s.engineTorque, s.musspix));
}

}  // namespace drivanto
