// The gearbox: the gear table, read at the first step, and the automatic
// shift by the vehicle speed.

#include <cstdio>

#include "base/Files.h"
#include "base/NumberText.h"
#include "base/Text.h"
#include "base/Words.h"
#include "model/Codes.h"
#include "model/Modules.h"

namespace drivanto {

namespace {

// Reads the 50 numbers of the gear table, five per gear. A missing or short
// file leaves the rest of the arrays as they were.
void ReadGearTable(State& s) {
  std::string bytes;
  try {
    bytes = ReadFileBytes(s.Tvx);
  } catch (const std::exception&) {
    return;
  }
  std::array<double, 11>* columns[5] = {&s.upShiftSpeed, &s.downShiftSpeed, &s.gearEffA,
                                        &s.gearRatio, &s.gearEffB};
  std::size_t pos = 0;
  for (int gear = 1; gear <= kTopGear; ++gear) {
    for (int k = 0; k < 5; ++k) {
      const std::string_view word = NextWord(bytes, &pos);
      if (word.empty()) return;
      double value = 0;
      if (!IsPlainNumber(word, &value)) return;
      (*columns[k])[gear] = value;
    }
  }
}

}  // namespace

void GearStep(Sim& sim) {
  State& s = sim.s;
  if (s.stegnr == 1) {
    ReadGearTable(s);
    s.gear = 1;
  }
  if (s.gear < 1) s.gear = 1;
  if (s.gear > kTopGear) s.gear = kTopGear;
  const int g = s.gear;
  if (s.v > s.upShiftSpeed[g] && g < kTopGear) s.gear = static_cast<uint8_t>(g + 1);
  if (s.v < s.downShiftSpeed[g] && g > 1) s.gear = static_cast<uint8_t>(g - 1);
}

}  // namespace drivanto
