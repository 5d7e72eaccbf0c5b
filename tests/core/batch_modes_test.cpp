// Mode codes of the drive cycle, each in a short cycle written for it.

#include <algorithm>

#include "batch_harness.h"

namespace drivanto::testing {
namespace {

// The first row index (from `from` on) whose column satisfies the test; -1 if none.
template <class Test>
int FirstRow(const Rows& rows, int column, Test test, int from = 0) {
  for (int i = from; i < static_cast<int>(rows.size()); ++i) {
    if (test(rows[i][column])) return i;
  }
  return -1;
}

// Keyboard current control ("8"), three brake presses ("0"), charging on by
// hand ("+"), and a coasting row from 40 s to 60 s. Step n is row n - 1.
TEST(BatchModes, CoastingRowReleasesTheBrakeAndHandsChargingBackWhenLeft) {
  BatchFolder f;
  f.Write("COAST.CYK",
          "0 10 0 0 1 0\n40 10 0 3 1 0\n60 10 0 0 1 0\n80 0 0 100 1 0\n81 0 0 100 1 0\n");
  const Args run = TimeCycle("COAST.CYK", "1") + Set({"Spara=1100"}) +
                   Keys({{20, "+"}, {30, "8"}, {33, "0"}, {34, "0"}, {35, "0"}});
  const RunSummary j = f.RunModel(run);
  EXPECT_EQ(j.endReason, "mode100");
  const Rows r = f.ResultRows("RESULT1.TXT");
  ASSERT_GE(r.size(), 70u);
  // Each "0" adds a tenth of the 9000 N brake force; keyboard control keeps it.
  EXPECT_EQ(r[32][r1::brake], 900);
  EXPECT_EQ(r[33][r1::brake], 1800);
  EXPECT_EQ(r[34][r1::brake], 2700);
  EXPECT_EQ(r[40][r1::brake], 2700);
  EXPECT_LT(r[40][r1::v], 0.05);  // the car has been braked to a standstill
  // The row at 40 s becomes active in step 42 (position 41 s at its start).
  for (int i = 41; i < 70; ++i) EXPECT_EQ(r[i][r1::brake], 0) << "step " << i + 1;
  // Charging by hand runs through the coasting row; the space written when
  // the row is left (step 62) puts charging back on automatic, which switches
  // it off at the next step as the used capacity is far below 40 %.
  for (int i = 19; i < 62; ++i) EXPECT_EQ(r[i][r1::nic], 3000) << "step " << i + 1;
  for (int i = 62; i < static_cast<int>(r.size()); ++i)
    EXPECT_EQ(r[i][r1::nic], 0) << "step " << i + 1;

  // While the row is active the key command stays "C" from tick to tick.
  f.Run(run + Args{"--max-steps", "50", "--save-snapshot", f / "during.snap"});
  EXPECT_EQ(f.Snapshot("during.snap")[snap::tangent], "C");
  f.Run(run + Args{"--max-steps", "70", "--save-snapshot", f / "after.snap"});
  EXPECT_EQ(f.Snapshot("after.snap")[snap::tangent], ".");
}

TEST(BatchModes, MarkAndJumpBack) {
  // Mode 10 at 10 s remembers the position; mode 11 with 11 in column 5
  // jumps back to it, so 20 s of the cycle are driven twice. Mode 11 with
  // another column 5 takes the driven time, which changes nothing here.
  const std::string head = "0 10 0 0 1 0\n10 10 0 10 1 0\n20 10 0 0 1 0\n";
  const std::string tail = "40 0 0 100 1 0\n41 0 0 100 1 0\n";
  BatchFolder f;
  f.Write("BACK.CYK", head + "30 10 0 11 11 0\n" + tail);
  f.Write("STAY.CYK", head + "30 10 0 11 1 0\n" + tail);
  const RunSummary back = f.RunModel(TimeCycle("BACK.CYK", "0.5"));
  const RunSummary stay = f.RunModel(TimeCycle("STAY.CYK", "0.5"));
  EXPECT_EQ(back.endReason, "mode100");
  EXPECT_EQ(stay.endReason, "mode100");
  EXPECT_NEAR(stay.ttot, 40, 1.5);
  EXPECT_NEAR(back.ttot, 40 + (30 - 10), 2);
  EXPECT_NEAR(back.ltot - stay.ltot, 20 * 10, 20);
}

TEST(BatchModes, JumpForwardSkipsTheRowsBetween) {
  BatchFolder f;
  // At 20 s the cycle jumps to 50 s; the 25 m/s row at 30 s is never driven.
  f.Write("JUMP.CYK",
          "0 10 0 0 1 0\n20 10 0 15 50 0\n30 25 0 0 1 0\n50 10 0 0 1 0\n"
          "60 0 0 100 1 0\n61 0 0 100 1 0\n");
  const RunSummary j = f.RunModel(TimeCycle("JUMP.CYK", "0.5") + Set({"Spara=1100"}));
  EXPECT_EQ(j.endReason, "mode100");
  EXPECT_NEAR(j.ttot, 60 - (50 - 20), 2);
  double vmax = 0;
  for (const auto& row : f.ResultRows("RESULT1.TXT")) vmax = std::max(vmax, row[r1::vb]);
  EXPECT_EQ(vmax, 10);
}

TEST(BatchModes, SwitchFromMapToTimeCycleAndBack) {
  BatchFolder f;
  // Map: 10 m/s, at 100 m over to the time cycle; its rows ask 15 m/s and at
  // 40 s hand back to the map, which asks 20 m/s from 300 m and ends at 900 m.
  f.Write("SW.CYK",
          "0 10 0 0 1 0\n100 10 0 20 1 0\n300 20 0 0 1 0\n700 20 0 0 1 0\n"
          "900 0 0 100 1 0\n901 0 0 100 1 0\n");
  f.Write("SWT.CYK",
          "0 15 0 0 1 0\n30 15 0 0 1 0\n40 15 0 20 1 0\n41 15 0 0 1 0\n"
          "500 0 0 100 1 0\n501 0 0 100 1 0\n");
  const Args run = MapCycle("SW.CYK", "0.5") + Set({"Ttidd=SWT.CYK", "Spara=1100"});
  const RunSummary j = f.RunModel(run + Args{"--save-snapshot", f / "end.snap"});
  EXPECT_EQ(j.endReason, "mode100");
  EXPECT_GT(j.ltot, 900);
  EXPECT_LT(j.ltot, 920);
  EXPECT_EQ(f.Snapshot("end.snap")[snap::cycleType], "K");

  const Rows r = f.ResultRows("RESULT1.TXT");
  const int to15 = FirstRow(r, r1::vb, [](double vb) { return vb == 15; });
  const int to20 = FirstRow(r, r1::vb, [](double vb) { return vb == 20; });
  ASSERT_GE(to15, 0);
  ASSERT_GT(to20, to15);
  EXPECT_NEAR(r[to15][r1::ltot], 100, 12);
  EXPECT_NEAR(r[to20][r1::ttot], 40, 2);
  for (int i = to15; i < to20; ++i) EXPECT_EQ(r[i][r1::vb], 15);

  f.Run(run + Args{"--max-steps", "60", "--save-snapshot", f / "mid.snap"});
  EXPECT_EQ(f.Snapshot("mid.snap")[snap::cycleType], "T");
}

TEST(BatchModes, HoldStopsForItsTimeAndRestoresTheSpeedBefore) {
  BatchFolder f;
  f.Write("HOLD.CYK",
          "0 10 0 0 1 0\n200 0 0 21 20 0\n230 8 0 0 1 0\n400 0 0 100 1 0\n401 0 0 100 1 0\n");
  const RunSummary j = f.RunModel(MapCycle("HOLD.CYK", "0.5") + Set({"Spara=1100"}));
  EXPECT_EQ(j.endReason, "mode100");
  const Rows r = f.ResultRows("RESULT1.TXT");
  // A map cycle starts once the creeping car has passed its first row.
  const int start = FirstRow(r, r1::vb, [](double vb) { return vb > 0; });
  ASSERT_GE(start, 0);
  const int stop = FirstRow(
      r, r1::vb, [](double vb) { return vb == 0; }, start);
  ASSERT_GT(stop, start);
  const int go = FirstRow(
      r, r1::vb, [](double vb) { return vb > 0; }, stop);
  ASSERT_GT(go, stop);
  EXPECT_NEAR(r[stop][r1::ltot], 200, 8);
  EXPECT_NEAR(r[go][r1::ttot] - r[stop][r1::ttot], 20, 0.5 + 1e-9);
  // The speed asked before the stop returns, not the next row's 8 m/s.
  EXPECT_EQ(r[go][r1::vb], 10);
  for (int i = stop + 6; i < go; ++i) EXPECT_LT(r[i][r1::v], 0.05) << "step " << i + 1;
  EXPECT_EQ(r.back()[r1::vb], 0);  // and the 8 m/s row came later (then the end)
  EXPECT_GE(FirstRow(
                r, r1::vb, [](double vb) { return vb == 8; }, go),
            go);
}

TEST(BatchModes, CurrentAndPowerFromTheCycle) {
  BatchFolder f;
  // 31: column 2 is a current (50 A); 32: a power (10 kW); 30: speed again.
  f.Write("CUR.CYK",
          "0 10 0 0 1 0\n10 50 0 31 1 0\n30 10 0 32 1 0\n50 12 0 30 1 0\n"
          "70 0 0 100 1 0\n71 0 0 100 1 0\n");
  const RunSummary j = f.RunModel(TimeCycle("CUR.CYK", "0.5") + Set({"Spara=1100"}));
  EXPECT_EQ(j.endReason, "mode100");
  const Rows r = f.ResultRows("RESULT1.TXT");
  ASSERT_GE(r.size(), 140u);
  // Rows 24 to 59 (12 to 30 s): 50 A for the motor plus 500 W / U for the
  // auxiliaries, whatever the speed; no requested speed.
  for (int i = 24; i < 60; ++i) {
    EXPECT_EQ(r[i][r1::vb], 0);
    EXPECT_GE(r[i][r1::Iaba], 51);
    EXPECT_LE(r[i][r1::Iaba], 52);
  }
  EXPECT_GT(r[59][r1::v], r[24][r1::v] + 5);
  // Rows 64 to 99: 10 kW for the motor and 500 W: the energy column grows by
  // 10.5 kW x 0.5 s a step wherever the voltage holds still.
  int steady = 0;
  for (int i = 64; i < 100; ++i) {
    EXPECT_EQ(r[i][r1::vb], 0);
    if (r[i][r1::U] != r[i - 1][r1::U]) continue;
    ++steady;
    EXPECT_NEAR((r[i][r1::Energi] - r[i - 1][r1::Energi]) / 0.5, 10500, 40) << "step " << i + 1;
  }
  EXPECT_GT(steady, 20);
  // From 50 s on the cycle's 12 m/s is asked for again and reached.
  EXPECT_EQ(r[110][r1::vb], 12);
  EXPECT_NEAR(r[138][r1::v], 12, 0.3);
}

TEST(BatchModes, RegulatorConstantsFromTheCycle) {
  BatchFolder f;
  f.Write("REG.CYK",
          "0 10 0 0 1 0\n10 15 0 45 1 0\n20 10 0 54 1 0\n30 15 0 35 1 0\n"
          "40 10 0 46 1 0\n50 10 0 44 1 0\n60 10 0 55 1 0\n70 0 0 100 1 0\n71 0 0 100 1 0\n");
  const Args run = TimeCycle("REG.CYK", "1") + Set({"Spara=1100"});
  // Tens group by rounding to even: 45 -> 4 (5 steps), 54 -> 5 (4 steps),
  // 35 -> 4 (at least 1), 46 -> 5 (at least 1), 44 -> 4 (4), 55 -> 6 (none).
  const struct {
    int steps, mode, accel, brake;
  } expected[] = {{5, 0, 1, 1},   {15, 45, 5, 1}, {25, 54, 5, 4}, {35, 35, 1, 4},
                  {45, 46, 1, 1}, {55, 44, 4, 1}, {65, 55, 4, 1}};
  for (const auto& e : expected) {
    SCOPED_TRACE(e.steps);
    f.Run(run + Args{"--max-steps", std::to_string(e.steps), "--save-snapshot", f / "r.snap"});
    const auto s = f.Snapshot("r.snap");
    EXPECT_EQ(s[snap::modeNo], std::to_string(e.mode));
    EXPECT_EQ(s[snap::accelSteps], std::to_string(e.accel));
    EXPECT_EQ(s[snap::brakeSteps], std::to_string(e.brake));
  }
  f.Run(run);
  const Rows r = f.ResultRows("RESULT1.TXT");
  ASSERT_GE(r.size(), 42u);
  // 5 m/s more asked: with 5 steps about a fifth of it in the first second,
  // with 1 step as much as the current limit allows.
  EXPECT_GT(r[11][r1::acc], 0.7);
  EXPECT_LT(r[11][r1::acc], 1.2);
  EXPECT_GT(r[31][r1::acc], 2.0);
  // 4 m/s too fast: the brake force of 4 steps is about a quarter of 1 step's.
  EXPECT_GT(r[21][r1::brake], 0);
  EXPECT_LT(r[21][r1::brake], r[41][r1::brake] / 3);
}

TEST(BatchModes, SnapshotMarkFromTheCycleAndFromTheKey) {
  BatchFolder f;
  const std::string plain = "0 10 0 0 1 0\n20 10 0 0 1 0\n30 0 0 100 1 0\n31 0 0 100 1 0\n";
  f.Write("PLAIN.CYK", plain);
  f.Write("MARK.CYK", "0 10 0 0 1 0\n20 10 0 60 1 0\n30 0 0 100 1 0\n31 0 0 100 1 0\n");
  f.Run(TimeCycle("PLAIN.CYK", "1") + Args{"--save-snapshot", f / "plain.snap"});
  f.Run(TimeCycle("MARK.CYK", "1") + Args{"--save-snapshot", f / "mark.snap"});
  f.Run(TimeCycle("PLAIN.CYK", "1") + Keys({{5, "s"}}) + Args{"--save-snapshot", f / "key.snap"});
  EXPECT_NE(f.Snapshot("plain.snap")[snap::snapshotMark], "s");
  EXPECT_EQ(f.Snapshot("mark.snap")[snap::snapshotMark], "s");
  EXPECT_EQ(f.Snapshot("key.snap")[snap::snapshotMark], "s");
}

TEST(BatchModes, GearsFromTheCycle) {
  BatchFolder f;
  f.Write("GEAR.CYK",
          "0 10 0 0 1 0\n20 10 0 102 1 0\n40 16 0 103 1 0\n60 10 0 101 1 0\n"
          "80 10 0 120 1 0\n100 10 0 110 1 0\n120 0 0 100 1 0\n121 0 0 100 1 0\n");
  const Args run = TimeCycle("GEAR.CYK", "1");
  // Ratios of the gear file: gear 1 263, 2 400, 3 347.6, 9 149.6 rpm per m/s.
  const struct {
    int steps;
    const char *gear, *ratio;
    int gearMode;
  } expected[] = {{15, "1", "263", 20},
                  {35, "2", "400", 10},
                  {55, "3", "347.6", 10},
                  {75, "1", "263", 10},
                  {95, "1", "263", 20},
                  // Gear 10 asked at 10 m/s: below its down-shift speed the
                  // gearbox falls back to 9 in every step.
                  {115, "9", "149.6", 10}};
  for (const auto& e : expected) {
    SCOPED_TRACE(e.steps);
    f.Run(run + Args{"--max-steps", std::to_string(e.steps), "--save-snapshot", f / "g.snap"});
    const auto s = f.Snapshot("g.snap");
    EXPECT_EQ(s[snap::gear], e.gear);
    EXPECT_EQ(s[snap::ratio], e.ratio);
    EXPECT_EQ(s[snap::gearMode], std::to_string(e.gearMode));
  }
  // Under cruise control the cycle's gear commands are not followed.
  f.Run(run + Keys({{10, ">"}}) + Args{"--max-steps", "35", "--save-snapshot", f / "c.snap"});
  EXPECT_EQ(f.Snapshot("c.snap")[snap::gear], "1");
  EXPECT_EQ(f.Snapshot("c.snap")[snap::gearMode], "20");
}

}  // namespace
}  // namespace drivanto::testing
