// make_pictures: draws the pictures the simulator shows, so they can be made
// anew: the oncoming car at four sizes ("MOT1.BMP" to "MOT4.BMP"), the start
// picture ("START.BMP", 640 x 480, 16 colours) and the car's engine
// efficiency map (the file named by Mussfil in CONS.VAL), drawn from the
// engine's own tables in the geometry of the map view.
//
//   make_pictures DATA_FOLDER

#include <cmath>
#include <cstdio>
#include <exception>
#include <iostream>
#include <string>

#include "base/Files.h"
#include "data/Tables.h"
#include "display/Bmp.h"
#include "model/Modules.h"
#include "run/Tick.h"

using namespace drivanto;

namespace {

Picture Blank(int w, int h, Rgb c) {
  Picture p;
  p.width = w;
  p.height = h;
  p.pixels.assign(static_cast<std::size_t>(w) * h, c);
  return p;
}

void Set(Picture& p, int x, int y, Rgb c) {
  if (x >= 0 && y >= 0 && x < p.width && y < p.height)
    p.pixels[static_cast<std::size_t>(y) * p.width + x] = c;
}

void Box(Picture& p, double x0, double y0, double x1, double y1, Rgb c) {
  for (int y = static_cast<int>(std::round(y0)); y < static_cast<int>(std::round(y1)); ++y) {
    for (int x = static_cast<int>(std::round(x0)); x < static_cast<int>(std::round(x1)); ++x)
      Set(p, x, y, c);
  }
}

void Ellipse(Picture& p, double cx, double cy, double rx, double ry, Rgb c) {
  for (int y = static_cast<int>(cy - ry); y <= static_cast<int>(cy + ry); ++y) {
    for (int x = static_cast<int>(cx - rx); x <= static_cast<int>(cx + rx); ++x) {
      double dx = (x + 0.5 - cx) / rx, dy = (y + 0.5 - cy) / ry;
      if (dx * dx + dy * dy <= 1) Set(p, x, y, c);
    }
  }
}

// An oncoming car seen from the front: a pure blue body (the collision probe
// looks for that colour) on a white background, which is transparent.
Picture OncomingCar(int w, int h) {
  const Rgb white{255, 255, 255}, blue{0, 0, 255}, glass{40, 40, 60}, black{0, 0, 0},
      lamp{255, 240, 120}, grey{120, 120, 120};
  Picture p = Blank(w, h, white);
  Box(p, w * 0.18, h * 0.05, w * 0.82, h * 0.45, blue);   // roof and pillars
  Box(p, w * 0.26, h * 0.12, w * 0.74, h * 0.40, glass);  // windscreen
  Box(p, w * 0.04, h * 0.40, w * 0.96, h * 0.82, blue);   // body
  Box(p, w * 0.08, h * 0.50, w * 0.22, h * 0.62, lamp);   // headlights
  Box(p, w * 0.78, h * 0.50, w * 0.92, h * 0.62, lamp);
  Box(p, w * 0.32, h * 0.56, w * 0.68, h * 0.66, grey);   // grille
  Box(p, w * 0.06, h * 0.82, w * 0.24, h * 1.00, black);  // wheels
  Box(p, w * 0.76, h * 0.82, w * 0.94, h * 1.00, black);
  // The bottom-left pixel gives the transparent colour.
  Set(p, 0, h - 1, white);
  return p;
}

const Rgb kPalette[16] = {{0, 0, 0},       {128, 0, 0},   {0, 128, 0},   {128, 128, 0},
                          {0, 0, 128},     {128, 0, 128}, {0, 128, 128}, {192, 192, 192},
                          {128, 128, 128}, {255, 0, 0},   {0, 255, 0},   {255, 255, 0},
                          {0, 0, 255},     {255, 0, 255}, {0, 255, 255}, {255, 255, 255}};

// A country road towards the hills with the little hybrid car on it.
Picture StartPicture() {
  const int w = 640, h = 480;
  Picture p = Blank(w, h, kPalette[14]);
  for (int y = 0; y < 140; ++y) Box(p, 0, y, w, y + 1, y < 70 ? kPalette[12] : kPalette[14]);
  Ellipse(p, 520, 80, 40, 40, kPalette[11]);  // sun
  for (int x = 0; x < w; ++x) {               // hills
    double top = 230 + 30 * std::sin(x / 70.0) + 15 * std::sin(x / 23.0);
    Box(p, x, top, x + 1, 300, kPalette[2]);
  }
  Box(p, 0, 300, w, h, kPalette[10]);  // fields
  for (int y = 300; y < h; ++y) {      // road in perspective
    double half = 10 + (y - 300) * 1.6;
    Box(p, 320 - half, y, 320 + half, y + 1, kPalette[8]);
    if (((y - 300) / 12) % 2 == 0) Box(p, 318, y, 322 + (y - 300) / 60.0, y + 1, kPalette[15]);
  }
  // The car, from behind.
  Box(p, 250, 360, 390, 430, kPalette[9]);
  Box(p, 270, 330, 370, 362, kPalette[9]);
  Box(p, 282, 336, 358, 358, kPalette[8]);
  Box(p, 256, 395, 280, 408, kPalette[11]);
  Box(p, 360, 395, 384, 408, kPalette[11]);
  Box(p, 256, 430, 286, 450, kPalette[0]);
  Box(p, 354, 430, 384, 450, kPalette[0]);
  return p;
}

// 3 x 5 digits for the map's axis labels.
const char* const kDigits[10] = {
    "111101101101111", "010110010010111", "111001111100111", "111001111001111", "101101111001001",
    "111100111001111", "111100111101111", "111001001001001", "111101111101111", "111101111001111"};

void Number(Picture& p, int x, int y, int value, Rgb c) {
  std::string text = std::to_string(value);
  for (char ch : text) {
    const char* d = kDigits[ch - '0'];
    for (int i = 0; i < 15; ++i) {
      if (d[i] == '1') Set(p, x + i % 3, y + i / 3, c);
    }
    x += 4;
  }
}

// The efficiency map: origin (0 rpm, 0 Nm) at picture pixel (38,184), 20 rpm
// per pixel to the right, mussskala Nm per 200 pixels upward.
Picture EfficiencyMap(Sim& sim) {
  State& s = sim.s;
  const int w = 400, h = 200;
  const int ox = 38, oy = 184;
  const double nmPerPixel = s.mussskala / 200;
  const Rgb back{16, 16, 48}, axis{255, 255, 255}, curve{255, 255, 0};
  const Rgb bands[] = {{40, 40, 110}, {30, 80, 150},  {20, 120, 160}, {30, 150, 110},
                       {90, 170, 60}, {170, 180, 40}, {220, 150, 30}, {230, 90, 30}};
  const double levels[] = {15, 20, 25, 28, 31, 33, 35, 36};
  Picture p = Blank(w, h, back);
  const double maxRpm = std::min(s.maxRpm, (w - ox - 1) * 20.0);
  for (int x = ox + 1; x < w; ++x) {
    const double rpm = (x - ox) * 20.0;
    if (rpm > maxRpm) break;
    const double full = TABR1(sim.tables, s.Tforb, "1", 'i', rpm, 1);
    for (int y = oy - 1; y >= 0; --y) {
      const double torque = (oy - y) * nmPerPixel;
      if (torque > full) break;
      const double eff = TABR2(sim.tables, s.Tforb, "2", 'i', 'i', torque, rpm);
      int band = -1;
      for (int k = 0; k < 8; ++k) {
        if (eff >= levels[k]) band = k;
      }
      if (band >= 0) Set(p, x, y, bands[band]);
    }
    // The full-load curve.
    const int yc = oy - static_cast<int>(std::lround(full / nmPerPixel));
    Set(p, x, yc, curve);
    Set(p, x, yc - 1, curve);
  }
  // Iso-efficiency lines where the band changes.
  Picture lines = p;
  for (int y = 1; y < h - 1; ++y) {
    for (int x = ox + 2; x < w - 1; ++x) {
      Rgb c = p.At(x, y);
      if (c == back || c == curve) continue;
      if (!(p.At(x + 1, y) == c) && !(p.At(x + 1, y) == back) && !(p.At(x + 1, y) == curve)) {
        Set(lines, x, y, Rgb{230, 230, 230});
      } else if (!(p.At(x, y - 1) == c) && !(p.At(x, y - 1) == back) &&
                 !(p.At(x, y - 1) == curve)) {
        Set(lines, x, y, Rgb{230, 230, 230});
      }
    }
  }
  p = lines;
  // Axes with ticks every 1000 rpm and every 20 Nm.
  for (int x = ox; x < w; ++x) Set(p, x, oy, axis);
  for (int y = 0; y <= oy; ++y) Set(p, ox, y, axis);
  for (int rpm = 1000; (rpm / 20) + ox < w - 8; rpm += 1000) {
    int x = ox + rpm / 20;
    for (int k = 1; k <= 3; ++k) Set(p, x, oy + k, axis);
    Number(p, x - 6, oy + 6, rpm, axis);
  }
  for (int nm = 20; oy - nm / nmPerPixel >= 4; nm += 20) {
    int y = oy - static_cast<int>(std::lround(nm / nmPerPixel));
    for (int k = 1; k <= 3; ++k) Set(p, ox - k, y, axis);
    Number(p, ox - 6 - 4 * static_cast<int>(std::to_string(nm).size()), y - 2, nm, axis);
  }
  // A legend of the efficiency bands, in per cent.
  for (int k = 0; k < 8; ++k) {
    Box(p, w - 30, 8 + k * 12, w - 22, 16 + k * 12, bands[k]);
    Number(p, w - 18, 9 + k * 12, static_cast<int>(levels[k]), axis);
  }
  return p;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: make_pictures DATA_FOLDER\n";
    return 2;
  }
  const std::string folder = argv[1];
  try {
    const int sizes[4][2] = {{20, 14}, {32, 22}, {44, 30}, {64, 44}};
    for (int i = 0; i < 4; ++i) {
      SaveBmp24(JoinPath(folder, "MOT" + std::to_string(i + 1) + ".BMP"),
                OncomingCar(sizes[i][0], sizes[i][1]));
    }
    SaveBmp4(JoinPath(folder, "START.BMP"), StartPicture(), kPalette);
    Sim sim;
    SimulatedClock clock;
    sim.clock = &clock;
    StartUp(sim, folder);
    sim.s.omrakna = 1;
    EngineMapPoint(sim);
    sim.s.omrakna = 0;
    SaveBmp24(sim.s.Mussfil, EfficiencyMap(sim));
    std::cout << "pictures written; map torque scale " << sim.s.mussskala << " Nm\n";
  } catch (const std::exception& e) {
    std::cerr << "make_pictures: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
