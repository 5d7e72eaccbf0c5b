// The dashboard and the road view drawn on their own on the window's image,
// with states set by hand.

#include <gtest/gtest.h>

#include <QImage>

#include "display/Bmp.h"
#include "display/Dashboard.h"
#include "qt/QtCanvas.h"

namespace drivanto {
namespace {

const Rgb kGrey{160, 160, 160};
const Rgb kBattery{255, 136, 85};

class DashboardTest : public ::testing::Test {
 protected:
  DashboardTest() : image(800, 600, QImage::Format_RGB32), canvas(&image, DashboardFont()) {
    image.fill(Qt::black);
    SetDefaults(s);
    s.tankVolume = 35;
    s.fuelLeft = 35;
    s.maxBrakeForce = 9000;
    s.Iskala = 200;
    s.Uskala = 400;
    s.batCapacity = 30;
    s.dt = 0.04;
    s.stegnr = 3;
    s.mapPos = 0;
    s.ltot = 0.01;
  }
  Rgb At(int x, int y) const { return canvas.Pixel(x, y); }

  QImage image;
  QtCanvas canvas;
  State s;
};

TEST_F(DashboardTest, RectanglesHaveAnOutlineAndExcludeRightAndBottom) {
  canvas.SetLine(colors::kBlack);
  canvas.SetFill(colors::kWhite);
  canvas.Rect(10, 20, 15, 10);  // y values in either order
  EXPECT_EQ(At(10, 10), colors::kBlack);
  EXPECT_EQ(At(14, 19), colors::kBlack);
  EXPECT_EQ(At(11, 11), colors::kWhite);
  EXPECT_EQ(At(13, 18), colors::kWhite);
  canvas.SetLine(colors::kRed);
  canvas.Rect(100, 100, 101, 105);  // one pixel wide: outline only
  EXPECT_EQ(At(100, 102), colors::kRed);
  EXPECT_EQ(At(101, 102), colors::kBlack);
}

TEST_F(DashboardTest, EmissionBarsStopAtAHundredPixels) {
  s.mapPos = 1000;
  s.CO = 99.4 * 1000 / 10000;  // 99.4 g/mil
  DrawInstruments(canvas, s);
  EXPECT_EQ(At(55, 102), kGrey);
  EXPECT_EQ(At(55, 198), kGrey);
  EXPECT_NE(At(55, 100), kGrey);
  image.fill(Qt::black);
  s.CO = 250 * 1000 / 10000.0;  // 250 g/mil: a full bar
  DrawInstruments(canvas, s);
  EXPECT_EQ(At(55, 101), kGrey);
  EXPECT_NE(At(55, 99), kGrey);
}

TEST_F(DashboardTest, NoEmissionBarsBelowTenMetres) {
  s.mapPos = 9;
  s.CO = 5;
  DrawInstruments(canvas, s);
  EXPECT_EQ(At(55, 190), colors::kBlack);
}

TEST_F(DashboardTest, BatteryInstrumentsFollowCurrentVoltageAndCharge) {
  s.totalCurrent = 3 * s.Iskala;  // above the scale: up to the top of the window
  s.U = 300;
  s.usedCapacity = 30;
  DrawInstruments(canvas, s);
  EXPECT_EQ(At(235, 5), kBattery);
  EXPECT_EQ(At(355, 126), kBattery);  // voltmeter top at 200 - 75
  EXPECT_NE(At(355, 120), kBattery);
  EXPECT_EQ(At(465, 131), kBattery);  // charge meter: 100 - 30 pixels high
  EXPECT_NE(At(465, 128), kBattery);
}

TEST_F(DashboardTest, TheMapViewSparesTheBatteryInstruments) {
  s.outputFlags.Set(4, 'M');
  s.U = 300;
  s.mussx = 0;
  s.mussy = 200;
  DrawInstruments(canvas, s);
  EXPECT_NE(At(355, 150), kBattery);
  // With the engine stopped the dot sits at (218,254) to (220,256); odd ticks
  // draw it black, even ones white.
  EXPECT_EQ(At(218, 254), colors::kBlack);
  s.stegnr = 4;
  DrawInstruments(canvas, s);
  EXPECT_EQ(At(218, 254), colors::kWhite);
  EXPECT_EQ(At(220, 256), colors::kWhite);
  EXPECT_NE(At(221, 257), colors::kWhite);
}

TEST_F(DashboardTest, EveryTenthTickClearsTheValueAreas) {
  canvas.SetPixel(160, 180, colors::kWhite);
  s.stegnr = 11;
  DrawInstruments(canvas, s);
  EXPECT_EQ(At(160, 180), colors::kWhite);
  s.stegnr = 20;
  DrawInstruments(canvas, s);
  EXPECT_EQ(At(160, 180), colors::kBlack);
}

TEST_F(DashboardTest, NumberTexts) {
  EXPECT_EQ(FixedText(0.37), "0.4");
  EXPECT_EQ(FixedText(2.34), "2.0");
  EXPECT_EQ(FixedText(0.04), "0.0");
  EXPECT_EQ(FixedText(-0.37), "-0.4");
  EXPECT_EQ(FixedText(0), "0.0");
  EXPECT_NE(FixedText(9.6).find('E'), std::string::npos);  // rounds to 10
  EXPECT_NE(FixedText(12.3).find('E'), std::string::npos);
  EXPECT_EQ(WholeText(2.5), "2");
  EXPECT_EQ(WholeText(3.5), "4");
  EXPECT_EQ(WholeText(-7.4), "-7");
}

class RoadTest : public DashboardTest {
 protected:
  void SetUp() override {
    for (int i = 0; i < 4; ++i) {
      pictures[i] =
          LoadBmp(std::string(DRIVANTO_TEST_DATA_DIR) + "/MOT" + std::to_string(i + 1) + ".BMP");
      pictures[i].transparent = true;
    }
  }
  std::string Draw() {
    RoadView view;
    LayOutRoadView(s, &view);
    return DrawRoadView(canvas, view, {&pictures[0], &pictures[1], &pictures[2], &pictures[3]});
  }
  std::array<Picture, 4> pictures;
};

TEST_F(RoadTest, AStraightCenteredRoadReportsNothing) {
  s.kursfel = 0;
  s.sidlage = 0;
  EXPECT_EQ(Draw(), "");
  EXPECT_EQ(At(10, 500), colors::kVerge);
  EXPECT_EQ(At(790, 500), colors::kVerge);
  EXPECT_EQ(At(200, 570), colors::kBlack);
  EXPECT_EQ(At(430, 540), colors::kRed);   // the bonnet
  EXPECT_EQ(At(340, 290), colors::kBlue);  // the sky at the road's far end
}

TEST_F(RoadTest, TheVergeUnderAProbeIsDitchDriving) {
  s.kursfel = 0;
  s.sidlage = 400;
  EXPECT_EQ(Draw(), "Dikeskörning");
  s.sidlage = -400;
  EXPECT_EQ(Draw(), "Dikeskörning");
}

TEST_F(RoadTest, TheOncomingCarUnderAProbeIsACrash) {
  // Lap 1 of the oncoming traffic, the car at perspective index 180 on the
  // left lane, the driver drifted over to it.
  s.kursfel = 0;
  s.sidlage = 333;
  s.ttot = 0;
  s.mapPos = 1551;
  s.motstatus = 2;
  EXPECT_EQ(Draw(), "Krock");
  EXPECT_EQ(s.vagk, 180);
  EXPECT_EQ(s.moty, 480);
}

TEST_F(RoadTest, NoCarBeforeItHasComeOverTheHorizon) {
  s.kursfel = 0;
  s.sidlage = 333;
  s.ttot = 0;
  s.mapPos = 1551;
  s.motstatus = 0;
  EXPECT_EQ(Draw(), "");
  EXPECT_EQ(s.motstatus, 0);
}

}  // namespace
}  // namespace drivanto
