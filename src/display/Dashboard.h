#pragma once
// The dashboard drawn on the window's surface: the fixed background of the
// screen set-up routine and the instruments redrawn every tick, the
// efficiency-map view and the road view with its probes.

#include <array>
#include <string>
#include <vector>

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
void DrawInstruments(Canvas& c, const State& s);

// The blinking operating point in the efficiency map.
void DrawMapDot(Canvas& c, const State& s);

// The map view as "Hämta" - "Musseldiagram" draws it during a run.
void DrawMapScreen(Canvas& c, const Picture* map);

// The last row of the road view: nothing of it is drawn below.
constexpr int kRoadViewBottom = 580;

// Where the road view's parts lie for the present state.
struct RoadView {
  std::vector<Point> leftVerge, rightVerge, road;
  int sky[2] = {0, 0};                     // x range of the sky at the road's end
  std::vector<std::vector<Point>> dashes;  // lane dashes
  int car = -1;                            // the oncoming car's picture, -1 for none
  Point carAt{0, 0};
};

// The road view's step, run every tick with or without a window: the road's
// perspective, the dashes and the oncoming car, whose positions the state
// keeps (vagx1, vagx2, vagk, motx, moty, motstatus). The parts' geometry goes
// to *view when one is given (a window draws it).
void LayOutRoadView(State& s, RoadView* view);

// The road view, the oncoming car, the probes and the bonnet, drawn from the
// layout. Returns the message of the last probe that found something
// ("Dikeskörning", "Krock"), or "".
std::string DrawRoadView(Canvas& c, const RoadView& view,
                         const std::array<const Picture*, 4>& cars);

}  // namespace drivanto
