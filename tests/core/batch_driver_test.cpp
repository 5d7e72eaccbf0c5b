// The driver at the keyboard and the mouse, and the charging of the battery:
// automatic between its two limits, by hand, at constant power, until the
// tank is empty.

#include <cmath>

#include "batch_harness.h"

namespace drivanto::testing {
namespace {

// 10 m/s on a level road for 1000 s.
const char* const kLevel10 = "0 10 0 0 1 0\n500 10 0 0 1 0\n1000 0 0 100 1 0\n1001 0 0 100 1 0\n";
// 15 m/s on a level road for 10000 s.
const char* const kLevel15 =
    "0 15 0 0 1 0\n5000 15 0 0 1 0\n10000 0 0 100 1 0\n10001 0 0 100 1 0\n";

class BatchDriver : public ::testing::Test {
 protected:
  BatchDriver() {
    f.Write("L10.CYK", kLevel10);
    f.Write("L15.CYK", kLevel15);
  }
  Args Level10(int steps) const {
    return TimeCycle("L10.CYK", "0.5") + Set({"Spara=1100"}) +
           Args{"--max-steps", std::to_string(steps)};
  }
  BatchFolder f;
};

TEST_F(BatchDriver, QuitKeyEndsTheRunAtTheNextTick) {
  const RunSummary j = f.RunModel(Level10(300) + Keys({{100, "Q"}}) + Args{"--save-snapshot", f / "q.snap"});
  EXPECT_EQ(j.endReason, "fullTime");
  EXPECT_EQ(j.steps, 100);
  const auto s = f.Snapshot("q.snap");
  EXPECT_NEAR(std::stod(s[snap::fullTime]), std::stod(s[snap::ttot]) - 1, 1e-9);
  EXPECT_EQ(f.ResultRows("RESULT1.TXT").size(), 100u);
  // Lower case does the same.
  const RunSummary q = f.RunModel(Level10(300) + Keys({{40, "q"}}));
  EXPECT_EQ(q.steps, 40);
}

TEST_F(BatchDriver, CruiseControlStepsTheRequestedSpeed) {
  f.Run(Level10(300) + Keys({{100, ">"}, {101, ">"}, {102, ">"}, {200, "<"}}));
  Rows r = f.ResultRows("RESULT1.TXT");
  ASSERT_EQ(r.size(), 300u);
  EXPECT_EQ(r[98][r1::vb], 10);
  EXPECT_EQ(r[99][r1::vb], 11);
  EXPECT_EQ(r[101][r1::vb], 13);
  EXPECT_NEAR(r[195][r1::v], 13, 0.2);  // the cycle's 10 m/s no longer counts
  EXPECT_EQ(r[199][r1::vb], 12);
  EXPECT_NEAR(r[299][r1::v], 12, 0.2);
  // Two keys in one tick: only the last acts.
  f.Run(Level10(150) + Keys({{100, ">"}, {100, "<"}}) + Args{"--save-snapshot", f / "k.snap"});
  EXPECT_EQ(f.Snapshot("k.snap")[snap::vb], "9");
  // Limits 40 and 0.01 m/s; a space hands the speed back to the cycle.
  Args up, down;
  for (int t = 100; t < 140; ++t) up = up + Keys({{t, ">"}});
  for (int t = 100; t < 120; ++t) down = down + Keys({{t, "<"}});
  f.Run(Level10(150) + up + Args{"--save-snapshot", f / "up.snap"});
  EXPECT_EQ(f.Snapshot("up.snap")[snap::vb], "40");
  f.Run(Level10(150) + down + Args{"--save-snapshot", f / "down.snap"});
  EXPECT_EQ(f.Snapshot("down.snap")[snap::vb], "0.01");
  f.Run(Level10(300) + down + Keys({{200, "space"}}));
  r = f.ResultRows("RESULT1.TXT");
  ASSERT_EQ(r.size(), 300u);
  EXPECT_LT(r[190][r1::v], 0.1);
  EXPECT_EQ(r[199][r1::vb], 10);
  EXPECT_NEAR(r[299][r1::v], 10, 0.2);
}

TEST_F(BatchDriver, MouseDrivesFromTheTopAndBrakesBelow) {
  const Args mouse = Keys({{100, "M"}}) + Args{"--mouse",     "100:320,0", "--mouse",
                                               "160:320,200", "--mouse",   "200:320,300"};
  f.Run(Level10(260) + mouse);
  const Rows r = f.ResultRows("RESULT1.TXT");
  ASSERT_EQ(r.size(), 260u);
  EXPECT_EQ(r[98][r1::vb], 10);
  // Full current at the top of the window: no requested speed, the car runs
  // away from the cycle's 10 m/s.
  for (int i = 99; i < 159; ++i) EXPECT_EQ(r[i][r1::vb], 0);
  EXPECT_GT(r[158][r1::v], 30);
  EXPECT_GT(r[158][r1::Iaba], 150);
  // y = 200: 9000 - (250 - 200) x 9000 / 125 = 5400 N; y = 300: the full 9000 N.
  EXPECT_EQ(r[160][r1::brake], 5400);
  EXPECT_EQ(r[201][r1::brake], 9000);
  EXPECT_LT(r[259][r1::v], 0.05);
}

TEST_F(BatchDriver, MouseControlFromTheSettingsIsUpperCased) {
  f.Run(Level10(40) + Set({"styrmod=m"}) + Args{"--mouse", "1:320,0"});
  const Rows r = f.ResultRows("RESULT1.TXT");
  ASSERT_EQ(r.size(), 40u);
  EXPECT_EQ(r[39][r1::vb], 0);
  EXPECT_GT(r[39][r1::v], 15);
}

TEST_F(BatchDriver, SlopeKeysRaiseTheRoadAndTheCarClimbs) {
  const RunSummary j = f.RunModel(Level10(300) + Keys({{100, "L"}, {101, "L"}}) +
                     Args{"--save-snapshot", f / "l.snap"});
  const auto s = f.Snapshot("l.snap");
  EXPECT_EQ(s[snap::slope], "1");
  const Rows r = f.ResultRows("RESULT1.TXT");
  ASSERT_EQ(r.size(), 300u);
  // From step 102 on the road rises 1 %: the height is a hundredth of the
  // distance driven since.
  EXPECT_NEAR(j.height, 0.01 * (j.ltot - r[100][r1::ltot]), 0.2);
  // "F" gives the slope back to the cycle (level).
  const RunSummary back = f.RunModel(Level10(300) + Keys({{100, "L"}, {150, "F"}}) +
                        Args{"--save-snapshot", f / "f.snap"});
  EXPECT_EQ(f.Snapshot("f.snap")[snap::slope], "0");
  // 0.5 % over the 50 steps of about 5 m from step 100 to step 149.
  EXPECT_NEAR(back.height, 0.005 * 50 * 5, 0.1);
}

// The default limits: on above 60 %, off below 40 % used capacity. The
// decision of a step uses the used capacity left by the step before, so the
// state after n - 1 steps is what switched charging in step n.
TEST_F(BatchDriver, ChargingSwitchesOnAbove60AndOffBelow40Percent) {
  const Args run = TimeCycle("L15.CYK", "1") + Set({"usedCapacity=59.7"});
  f.Run(run + Args{"--max-steps", "2000"});
  const Rows r = f.ResultRows("RESULT2.TXT");
  ASSERT_EQ(r.size(), 2000u);
  std::vector<int> changes;  // steps (from 1) where charging came on or went off
  for (int i = 1; i < 2000; ++i) {
    if ((r[i][r2::nic] > 0) != (r[i - 1][r2::nic] > 0)) changes.push_back(i + 1);
  }
  ASSERT_GE(changes.size(), 3u);
  EXPECT_EQ(r[0][r2::nic], 0);
  auto usedAfter = [&](int steps) {
    f.Run(run + Args{"--max-steps", std::to_string(steps), "--save-snapshot", f / "u.snap"});
    return f.SnapshotNumber("u.snap", snap::usedCapacity);
  };
  for (std::size_t k = 0; k < 3; ++k) {
    const int step = changes[k];
    const bool on = k % 2 == 0;
    SCOPED_TRACE(step);
    EXPECT_EQ(r[step - 1][r2::nic], on ? 3000 : 0);
    EXPECT_EQ(r[step - 1][r2::Ila], on ? 70 : 0);
    if (k == 2) break;  // the second switch-on: from the rows alone
    if (on) {
      EXPECT_GT(usedAfter(step - 1), 60);
      EXPECT_LE(usedAfter(step - 2), 60);
    } else {
      EXPECT_LT(usedAfter(step - 1), 40);
      EXPECT_GE(usedAfter(step - 2), 40);
    }
  }
  // Between the limits the state holds: a long stretch of each.
  EXPECT_GT(changes[1] - changes[0], 100);
  EXPECT_GT(changes[2] - changes[1], 100);
}

TEST_F(BatchDriver, ChargingUsesFuelAndEmits) {
  const RunSummary j = f.RunModel(TimeCycle("L15.CYK", "1") + Set({"chargeOnLimit=1", "chargeOffLimit=0.5"}) +
                     Args{"--max-steps", "600"});
  EXPECT_GT(j.fuelUsed, 0);
  EXPECT_GT(j.CO, 0);
  EXPECT_GT(j.NOx, 0);
  EXPECT_GT(j.HC, 0);
  EXPECT_NEAR(j.COPerMil, j.CO * 10000 / j.ltot, 1e-9);
  EXPECT_NEAR(j.NOxPerMil, j.NOx * 10000 / j.ltot, 1e-9);
  // Charging comes on and goes off again, more than once, within the limits.
  const Rows r = f.ResultRows("RESULT2.TXT");
  int ons = 0;
  for (std::size_t i = 1; i < r.size(); ++i) ons += r[i][r2::nic] > 0 && r[i - 1][r2::nic] == 0;
  EXPECT_GE(ons, 2);
  EXPECT_LT(j.usedCapacity, 1.5);
  // The cumulative emissions in file 2 never fall.
  for (std::size_t i = 1; i < r.size(); ++i) EXPECT_GE(r[i][r2::CO], r[i - 1][r2::CO]);
}

TEST_F(BatchDriver, OnLimitAbove100NeverCharges) {
  const RunSummary j = f.RunModel(TimeCycle("L15.CYK", "1") + Set({"usedCapacity=70", "chargeOnLimit=101"}) +
                     Keys({{50, "+"}}) + Args{"--max-steps", "100"});
  EXPECT_EQ(j.fuelUsed, 0);
  EXPECT_EQ(j.CO, 0);
  // "+" switches the engine on for the one step it was typed in, without current.
  const Rows r = f.ResultRows("RESULT2.TXT");
  ASSERT_EQ(r.size(), 100u);
  for (std::size_t i = 0; i < r.size(); ++i) {
    EXPECT_EQ(r[i][r2::nic], i == 49 ? 3000 : 0) << "step " << i + 1;
    EXPECT_EQ(r[i][r2::Ila], 0);
  }
}

TEST_F(BatchDriver, ChargingByHand) {
  // "+" at 50, "-" at 100, "+" at 150 and a space at 200: the used capacity is
  // far below 40 %, so automatic control switches off again.
  f.Run(TimeCycle("L15.CYK", "1") + Keys({{50, "+"}, {100, "-"}, {150, "+"}, {200, "space"}}) +
        Args{"--max-steps", "250"});
  const Rows r = f.ResultRows("RESULT2.TXT");
  ASSERT_EQ(r.size(), 250u);
  for (int step = 1; step <= 250; ++step) {
    const bool running = (step >= 50 && step < 100) || (step >= 150 && step <= 200);
    EXPECT_EQ(r[step - 1][r2::nic], running ? 3000 : 0) << "step " << step;
    // The current follows from the step after the key.
    const bool current = (step > 50 && step < 100) || (step > 150 && step <= 200);
    EXPECT_EQ(r[step - 1][r2::Ila], current ? 70 : 0) << "step " << step;
  }
}

TEST_F(BatchDriver, NegativeChargeSettingChargesAtConstantPower) {
  f.Run(TimeCycle("L15.CYK", "1") + Set({"chargeSetting=-20", "usedCapacity=70", "Spara=1100"}) +
        Args{"--max-steps", "100"});
  const Rows a = f.ResultRows("RESULT1.TXT");
  const Rows b = f.ResultRows("RESULT2.TXT");
  ASSERT_EQ(a.size(), 100u);
  ASSERT_EQ(b.size(), 100u);
  // 20 kW whatever the voltage: torque 20000 x 100 x 60 / (3000 x 6.28) / 90 = 70.8 Nm.
  double lowest = 1e9, highest = 0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    EXPECT_EQ(a[i][r1::Pla], 20.0) << "step " << i + 1;
    EXPECT_EQ(b[i][r2::mic], 70.8) << "step " << i + 1;
    lowest = std::min(lowest, b[i][r2::Ila]);
    highest = std::max(highest, b[i][r2::Ila]);
  }
  EXPECT_GT(highest - lowest, 2);  // the current follows the voltage
}

TEST_F(BatchDriver, EmptyTankStopsTheRun) {
  const Args run =
      TimeCycle("L15.CYK", "1") + Set({"usedCapacity=70", "tankVolume=0.02", "fuelLeft=0.02"});
  const RunSummary j = f.RunModel(run + Set({"stopAtEmptyTank=J"}) + Args{"--save-snapshot", f / "e.snap"});
  EXPECT_EQ(j.endReason, "Bensinstopp");
  EXPECT_GT(j.fuelUsed, 0.02);
  EXPECT_LT(f.SnapshotNumber("e.snap", snap::fuelLeft), 0);
  // It stopped at the first step after which the tank was below zero.
  const int steps = static_cast<int>(j.steps);
  f.Run(run + Args{"--max-steps", std::to_string(steps - 1), "--save-snapshot", f / "b.snap"});
  EXPECT_GE(f.SnapshotNumber("b.snap", snap::fuelLeft), 0);
  // Resumed, the run stops again after one step while the tank stays empty.
  const RunSummary again = f.RunModel(Args{"--load-snapshot", f / "e.snap"});
  EXPECT_EQ(again.endReason, "Bensinstopp");
  EXPECT_EQ(again.steps, 1);
  // With "N" the car goes on with a negative tank.
  const RunSummary on = f.RunModel(run + Set({"stopAtEmptyTank=N"}) + Args{"--max-steps", "50"});
  EXPECT_EQ(on.endReason, "maxSteps");
  EXPECT_GT(on.fuelUsed, 0.05);
}

}  // namespace
}  // namespace drivanto::testing
