#pragma once
// The dashboard drawn on the window's surface: the fixed background of the
// screen set-up routine and the instruments redrawn every tick, the
// efficiency-map view and the road view with its probes.

#include <array>
#include <string>

#include "display/Canvas.h"
#include "state/State.h"

namespace drivanto {

// Number texts of the dashboard.
std::string WholeText(double x);  // the rounded value
// One digit after the point after rounding to one significant digit
// (0.37 -> "0.4", 2.34 -> "2.0", 0.04 -> "0.0"); 10 or more in exponent form.
std::string FixedText(double x);

// The screen set-up's background: black instrument area, the map picture when
// character 4 of Spara is "M", the blue band, the speed scale and the labels.
void DrawBackground(Canvas& c, const State& s, const Picture* map);

// The instruments of one tick, after the computation step.
void DrawInstruments(Canvas& c, State& s);

// The blinking operating point in the efficiency map.
void DrawMapDot(Canvas& c, const State& s);

// The map view as "Hämta" - "Musseldiagram" draws it during a run.
void DrawMapScreen(Canvas& c, const Picture* map);

// The road view, the oncoming car, the probes and the bonnet. Returns the
// message of the last probe that found something ("Dikeskörning", "Krock"),
// or "".
std::string DrawRoadView(Canvas& c, State& s, const std::array<const Picture*, 4>& cars);

}  // namespace drivanto
