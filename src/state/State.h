#pragma once
// The one record of the simulator: every setting, start value, mode and dynamic
// quantity of the car, the run control and the dashboard, under its own name.
// Modules read and write these fields directly; nothing else holds model state.
// The fields and their order come from the catalogue, state/StateFields.def.

#include <array>
#include <cstdint>
#include <string>

#include "state/String4.h"

namespace drivanto {

struct State {
#define FIELD(type, name, pub, dflt, line, kind, constLine, constKind, unit, label) type name{};
#define ARRAY(type, name, pub, size, line, kind, unit, label) std::array<type, size> name{};
#include "state/StateFields.def"
#undef FIELD
#undef ARRAY
};

// Gives every field its start-up default (before CONS.VAL is read).
void SetDefaults(State& s);

}  // namespace drivanto
