#pragma once
// The "Const" sections of the vehicle, engine, battery and motor files: the
// reference values of the car and the settings given as -1.

#include "data/Tables.h"
#include "state/State.h"

namespace drivanto {

// Reads the four files in the order vehicle, engine, battery, motor. Throws
// IoError when a file cannot be read.
void ReadTableConstants(State& s, TableCache& tables);

}  // namespace drivanto
