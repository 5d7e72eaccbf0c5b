#include "display/Dashboard.h"

#include <cmath>
#include <cstdio>

#include "base/Rounding.h"
#include "base/Text.h"

namespace drivanto {

namespace {

using namespace colors;

std::string CharText(char c) { return c == '\0' ? std::string() : CharToUtf8(c); }

// The blue band, the speed scale (km/h over the bar's 14 pixels per m/s) and
// the fuel and emission captions of the right and left columns.
void BandAndScale(Canvas& c, const char* litres) {
  c.SetFill(kBlue);
  c.Rect(0, 280, 799, 315);
  c.SetFill(kBlack);
  c.SetTextColor(kWhite);
  // Each number centred on its speed on the bar (14 pixels per m/s).
  for (int kmh = 0; kmh <= 180; kmh += 10) {
    const std::string label = std::to_string(kmh);
    const int x = RoundInt(kmh / 3.6 * 14) - c.TextWidth(label) / 2;
    c.Text(x < 0 ? 0 : x, 45, label);
  }
  c.Text(5, 240, litres);
  c.Text(750, 180, "g/mil");
  c.Text(750, 240, "%");
}

// Round to the nearest integer, ties to even, as a real.
double RoundHalfEven(double x) {
  double f = std::floor(x);
  double d = x - f;
  if (d > 0.5) return f + 1;
  if (d < 0.5) return f;
  return std::fmod(f, 2.0) == 0.0 ? f : f + 1;
}

void StatusRow(Canvas& c, const State& s) {
  c.Text(10, 0, "acc:");
  c.Text(50, 0, FixedText((s.v - s.vPrev) / s.dt));
  c.Text(100, 0, "vx :");
  c.Text(140, 0, WholeText(s.gear));
  c.Text(330, 0, CharText(s.controlMode));
  c.Text(340, 0, CharText(s.slopeMode));
  c.Text(350, 0, CharText(s.timeMode));
  if (s.timeMode == ' ') {
    if (s.cycleDt > 0) c.Text(350, 0, "d");
    if (s.cycleDt < 0) c.Text(350, 0, "r");
  }
  c.Text(360, 0, CharText(s.reservmod));
  c.Text(390, 0, CharText(s.cycleType));
  if (s.keyTyped != '.') c.Text(410, 0, CharText(s.keyTyped));
  if (s.gearMode < 15) c.Text(370, 0, "Mv");
  if (s.gearMode > 15) c.Text(370, 0, "Av");
  if (s.chargeManual == '+') {
    c.Text(440, 0, "Man Laddn");
    c.Text(520, 0, s.chargeState == '+' ? "+" : "-");
  }
  c.Text(210, 0, "Dt :");
  c.Text(250, 0, FixedText(s.dt));
}

void Slope(Canvas& c, const State& s) {
  c.Text(38, 85, "Lutn i %        ");
  c.Text(110, 85, WholeText(s.slope));
  c.SetLine(kWhite);
  c.Line(38, 120, 88, 120);
  c.Line(88, 120, 138, RoundInt(120 - 2 * s.slope));
  c.SetLine(kBlack);
}

void TripRow(Canvas& c, const State& s) {
  c.SetFill(kBlack);
  c.Rect(400, 60, 500, 75);
  c.Text(110, 60, "Höjd        ");
  c.Text(150, 60, WholeText(s.height));
  c.Text(550, 0, "Tid i sekunder  ");
  c.Text(680, 0, WholeText(s.ttot));
  c.Text(40, 60, "km");
  c.Text(70, 60, FixedText(s.mapPos / 1000));
  c.Text(400, 60, WholeText(s.medelforbr));
  if (s.v + s.vPrev > 1) c.Text(450, 60, WholeText(s.fuelFlow * 2000000 / (s.v + s.vPrev)));
  c.Text(500, 60, "cl/mil");
}

void Gauge(Canvas& c, const State& s, double total, double startTotal, Rgb fill, int barX,
           int textX, int lastStepY) {
  c.SetFill(fill);
  if (s.mapPos > 10) {
    int n = RoundInt(total * 10000 / s.mapPos);
    if (n > 100) n = 100;
    c.Rect(barX, 200, barX + 10, 200 - n);
    c.Text(textX, 220, n <= 99.9 ? WholeText(n) : std::string(">100"));
  }
  if (s.v * s.dt > 0.01) {
    c.Text(710, lastStepY, WholeText((total - startTotal) * 10000 / (s.v * s.dt)));
  }
}

void BatteryInstruments(Canvas& c, const State& s) {
  c.SetFill(kBattery);
  c.Rect(230, 200, 240, RoundInt(200 - 100 * s.totalCurrent / s.Iskala));
  c.Rect(260, 200, 265, RoundInt(200 - 100 * s.Ila / s.Iskala));
  c.Rect(290, 200, 295, RoundInt(200 - 100 * s.regenCurrent / s.Iskala));
  c.Rect(350, 200, 360, RoundInt(200 - 100 * s.U / s.Uskala));
  c.Rect(460, 200, 470, RoundInt(100 + s.usedCapacity));
  c.SetFill(kBlack);
  c.Text(225, 80, "I A");
  c.Text(340, 80, "U V");
  c.Text(450, 80, "Q Ah");
  c.Text(250, 100, WholeText(s.Iskala));
  c.Text(370, 100, WholeText(s.Uskala));
  c.Text(480, 100, WholeText(s.batCapacity));
  c.Text(220, 220, WholeText(s.motorCurrent));
  c.Text(250, 240, WholeText(s.Ila));
  c.Text(280, 220, WholeText(s.regenCurrent));
  c.Text(340, 220, WholeText(s.U));
  c.Text(450, 220, WholeText(s.batCapacity - 0.01 * s.usedCapacity * s.batCapacity));
}

}  // namespace

std::string WholeText(double x) { return std::to_string(RoundInt(x)); }

std::string FixedText(double x) {
  if (!std::isfinite(x)) return "0.0";
  double r = 0;
  if (x != 0) {
    double e = std::floor(std::log10(std::fabs(x)));
    double scale = std::pow(10.0, e);
    r = RoundHalfEven(x / scale) * scale;
  }
  char buf[32];
  if (std::fabs(r) >= 10) {
    std::snprintf(buf, sizeof buf, "%.0E", r);
  } else {
    std::snprintf(buf, sizeof buf, "%.1f", r);
  }
  return buf;
}

void DrawBackground(Canvas& c, const State& s, const Picture* map) {
  c.SetLine(kBlack);
  c.SetFill(kBlack);
  c.Rect(0, 0, 799, 315);
  if (s.outputFlags.At(4) == 'M' && map) c.Draw(180, 70, *map);
  BandAndScale(c, "Liter          g/mil");
  c.Text(5, 260, "Bens");
  c.Text(50, 260, "CO");
  c.Text(80, 260, "NOx");
  c.Text(120, 260, "HC");
}

void DrawInstruments(Canvas& c, const State& s) {
  c.SetLine(kBlack);
  c.SetTextColor(kWhite);
  c.SetFill(kBlack);
  // The right parts of the speed bars.
  c.Rect(RoundInt(s.vb * 14), 15, 800, 20);
  c.Rect(RoundInt(s.v * 14), 20, 800, 40);
  // Every tenth tick the value areas are cleared, so stale digits disappear.
  if (s.stegnr % 10 == 0) {
    c.Rect(0, 0, 780, 20);
    c.Rect(0, 60, 180, 240);
    c.Rect(250, 60, 600, 75);
    c.Rect(700, 150, 750, 280);
    c.Rect(50, 0, 100, 15);
    if (s.outputFlags.At(4) != 'M') c.Rect(150, 60, 700, 280);
  }
  StatusRow(c, s);
  Slope(c, s);
  TripRow(c, s);
  c.SetFill(kMagenta);
  c.Rect(0, 20, RoundInt(s.v * 14), 40);
  c.Rect(0, 15, RoundInt(s.vCycle * 14), 20);
  c.SetFill(kFuel);
  c.Rect(20, 200, 30, RoundInt(200 - s.fuelLeft * 120 / s.tankVolume));
  c.Text(15, 220, WholeText(s.fuelLeft));
  c.SetFill(kBrake);
  c.Rect(32, 200, 37, RoundInt(200 - s.brakeForce * 120 / s.maxBrakeForce));
  Gauge(c, s, s.CO, s.COPrev, kCO, 50, 45, 200);
  Gauge(c, s, s.NOx, s.NOxPrev, kNOx, 90, 85, 180);
  Gauge(c, s, s.HC, s.HCPrev, kHC, 130, 125, 160);
  c.SetFill(kFuel);
  c.Text(710, 240, WholeText(s.icEff));
  if (s.outputFlags.At(4) == 'M') {
    DrawMapDot(c, s);
  } else {
    BatteryInstruments(c, s);
  }
  c.SetFill(kBlack);
}

void DrawMapDot(Canvas& c, const State& s) {
  const Rgb color = (s.stegnr % 2 == 0) ? kWhite : kBlack;
  for (int dy = 0; dy < 3; ++dy) {
    for (int dx = 0; dx < 3; ++dx) c.SetPixel(s.mussx + 218 + dx, s.mussy + 54 + dy, color);
  }
}

void DrawMapScreen(Canvas& c, const Picture* map) {
  c.SetLine(kBlack);
  c.SetFill(kBlack);
  c.Rect(0, 0, 800, 600);
  if (map) c.Draw(180, 70, *map);
  BandAndScale(c, "Liter              g/mil");
}

namespace {

// round((k / d)^3) for the whole numbers k of -n < k < n, as the road view's
// perspective takes it (one table per divisor, made once).
class Cubes {
 public:
  Cubes(int n, double d) : n_(n), values_(2 * n - 1) {
    for (int k = -n + 1; k < n; ++k) values_[k + n - 1] = RoundInt(std::pow(k / d, 3));
  }
  int32_t operator()(int32_t k) const { return values_[k + n_ - 1]; }

 private:
  int n_;
  std::vector<int32_t> values_;
};

}  // namespace

void LayOutRoadView(State& s, RoadView* view) {
  static const Cubes dashCubes(400, 67.0), carCubes(800, 133.0);
  const double kf = s.kursfel;
  const double sl = s.sidlage;
  // On course in the middle of the road every edge and dash lies at 0 (the
  // formulas below give exactly 0 there, or a NaN that rounds to 0).
  const bool straight = s.kursfel == 0 && s.sidlage == 0;
  if (view) {
    // The road's edges (without a picture the dashes below set both anew).
    s.vagx1 = RoundInt(kf - (kf - sl) * 2 / 240 + kf / 2);
    s.vagx2 = RoundInt(kf - (kf - sl) * 70 / 240 + kf / 70);
    view->leftVerge = {{s.sidlage + 30, 580},
                   {s.vagx2 + 215, 380},
                   {s.vagx1 + 265, 315},
                   {s.vagx1 + 265, 300},
                   {0, 300},
                   {0, 580}};
    view->rightVerge = {{799, 580},           {799, 300},           {s.vagx1 + 415, 300},
                    {s.vagx1 + 415, 315}, {s.vagx2 + 480, 380}, {s.sidlage + 695, 580}};
    view->sky[0] = s.vagx1 + 265;
    view->sky[1] = s.vagx1 + 420;
    view->road = {{s.sidlage + 30, 580}, {s.vagx2 + 215, 380}, {s.vagx1 + 265, 315},
              {s.vagx1 + 415, 315},  {s.vagx2 + 480, 380}, {s.sidlage + 695, 580}};
  }
  // Lane dashes that run towards the driver as the car covers 400 m. Without
  // a picture only the last one counts: the state keeps its positions.
  for (int o = view ? 0 : 300; o <= 300; o += 100) {
    s.vagk = RoundInt(s.mapPos + o) % 400;
    s.vagk = dashCubes(s.vagk) + 2;
    const double k = s.vagk;
    if (straight) {
      s.vagx1 = 0;
      s.vagx2 = 0;
    } else {
      s.vagx1 = RoundInt(kf - (kf - sl) * k / 240 + kf / k);
      s.vagx2 = RoundInt(kf - (kf - sl) * 1.4 * k / 240 + kf * 0.714 / k);
    }
    if (!view) continue;
    view->dashes.push_back({{s.vagx1 + 338 - RoundInt(0.1 * k), s.vagk + 310},
                        {RoundInt(s.vagx2 - 0.1 * k) + 338, RoundInt(1.4 * k) + 310},
                        {RoundInt(s.vagx2 + 0.1 * k) + 340, RoundInt(1.4 * k) + 310},
                        {RoundInt(0.1 * k) + s.vagx1 + 340, s.vagk + 310}});
  }
  // The oncoming car, two laps of every five.
  const int32_t x = RoundInt(20 * s.ttot + s.mapPos);
  s.vagk = x % 800;
  s.vagk = carCubes(s.vagk);
  const int32_t lap = (x / 800) % 5;
  if (lap == 1 || lap == 3) {
    if (s.vagk == 0) s.motstatus = 2;
    if (s.motstatus == 2 && s.vagk > 19) {
      s.vagx1 = straight ? 0 : RoundInt(kf - (kf - sl) * s.vagk / 240);
      s.motx = s.vagx1 + 300 - s.vagk;
      s.moty = s.vagk + 300;
      int car = -1;
      if (s.vagk < 70) {
        car = 0;
      } else if (s.vagk < 90) {
        s.motx -= 8;
        car = 1;
      } else if (s.vagk < 110) {
        s.motx -= 16;
        car = 2;
      } else if (s.vagk < 230) {
        s.motx -= 30;
        car = 3;
      }
      if (view) {
        if (car >= 0) view->car = car;
        view->carAt = {s.motx, s.moty};
      }
    }
  }
}

std::string DrawRoadView(Canvas& c, const RoadView& v, const std::array<const Picture*, 4>& cars) {
  // Nothing of the road view reaches below the road (y 580): the strip under
  // it belongs to the window's background.
  c.ClipBelow(kRoadViewBottom + 1);
  c.SetFill(kVerge);
  c.SetLine(kVerge);
  c.Polygon(v.leftVerge);
  c.Polygon(v.rightVerge);
  // Sky at the far end of the road.
  c.SetFill(kBlue);
  c.SetLine(kBlue);
  c.Rect(v.sky[0], 280, v.sky[1], 315);
  // Road surface.
  c.SetFill(kBlack);
  c.SetLine(kBlack);
  c.Polygon(v.road);
  c.SetFill(kWhite);
  c.SetLine(kBlack);
  for (const std::vector<Point>& dash : v.dashes) c.Polygon(dash);
  c.SetFill(kBlack);
  if (v.car >= 0 && cars[v.car]) c.Draw(v.carAt.x, v.carAt.y, *cars[v.car]);
  // Probes along the bonnet's top edge.
  std::string message;
  for (Point p : {Point{370, 500}, Point{450, 500}, Point{490, 500}}) {
    Rgb px = c.Pixel(p.x, p.y);
    if (px == kVerge) message = "Dikeskörning";
    if (px == kBlue) message = "Krock";
  }
  // The bonnet.
  c.SetFill(kRed);
  c.SetLine(kBlack);
  c.Polygon({{350, 580}, {360, 500}, {500, 500}, {520, 580}});
  c.ClipBelow(-1);
  return message;
}

}  // namespace drivanto
