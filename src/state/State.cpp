#include "state/State.h"

namespace drivanto {

void SetDefaults(State& s) {
  // The tank starts as full as the tank volume in force at this moment (0 at
  // program start), so it is taken before the volume itself is cleared.
  const double tankVolumeNow = s.tankVolume;
  s = State{};
#define FIELD(type, name, pub, dflt, line, kind, constLine, constKind, unit, label) s.name = type(dflt);
#define ARRAY(type, name, pub, size, line, kind, unit, label)
#include "state/StateFields.def"
#undef FIELD
#undef ARRAY
  // The speed column of the cycle reader's row before the first row read.
  s.readRow[2] = 1;
  s.fuelLeft = tankVolumeNow;
}

}  // namespace drivanto
