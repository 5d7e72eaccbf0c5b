// The time base: the increment of a step from the settings, the drive cycle or
// the wall clock, and how it advances the driven time.

#include <gtest/gtest.h>

#include "model_fixture.h"

namespace drivanto {
namespace {

class TimeBase : public testing::ModelTest {
 protected:
  TimeBase() {
    s.screenState = 'G';
    s.paus = 0;
  }
};

TEST_F(TimeBase, FixedIncrementOfZeroAddsNothingAndLeavesTheMinimum) {
  s.timeMode = 'D';
  s.dt = 0;
  s.cycleDt = 5;  // not used in mode D
  s.ttot = 0;
  s.cycleTime = 0;
  TimeStep(sim);
  EXPECT_EQ(s.ttot, 0);
  EXPECT_EQ(s.cycleTime, 0);
  EXPECT_EQ(s.dt, 0.001);
  TimeStep(sim);
  EXPECT_DOUBLE_EQ(s.ttot, 0.001);
  EXPECT_DOUBLE_EQ(s.cycleTime, 0.001);
  EXPECT_EQ(s.dt, 0.001);

  s.dt = 0.25;
  s.ttot = 10;
  TimeStep(sim);
  EXPECT_EQ(s.ttot, 10.25);
  EXPECT_EQ(s.dt, 0.25);
  EXPECT_EQ(clock.rereads, 0);
}

TEST_F(TimeBase, CycleIncrementOfZeroStopsTheDrivenTime) {
  s.timeMode = ' ';
  s.cycleDt = 0;
  s.ttot = 4;
  s.cycleTime = 4;
  for (int i = 0; i < 3; ++i) {
    TimeStep(sim);
    EXPECT_EQ(s.ttot, 4);
    EXPECT_EQ(s.cycleTime, 4);
    EXPECT_EQ(s.dt, 0.001);
  }
  s.cycleDt = 0.5;
  TimeStep(sim);
  EXPECT_EQ(s.ttot, 4.5);
  EXPECT_EQ(s.cycleTime, 4.5);
  EXPECT_EQ(s.dt, 0.5);
  EXPECT_EQ(clock.rereads, 0);
}

TEST_F(TimeBase, RealTimeIncrementIsTheWallClockSinceTheLastStep) {
  s.timeMode = 'R';
  s.cycleDt = 3;  // ignored in real time
  s.ttot = 5;
  s.clockPrev = 999.96;
  clock.now = 1000.0;
  TimeStep(sim);
  EXPECT_NEAR(s.dt, 0.04, 1e-9);
  EXPECT_NEAR(s.ttot, 5.04, 1e-9);
  EXPECT_EQ(s.clockNow, 1000.0);
  EXPECT_EQ(s.clockPrev, 1000.0);
  EXPECT_EQ(clock.rereads, 0);
}

TEST_F(TimeBase, RealTimeWaitsUntilAMillisecondHasPassed) {
  s.timeMode = 'R';
  s.ttot = 5;
  s.clockPrev = 1000.0;
  clock.now = 1000.0;
  clock.step = 0.0004;
  TimeStep(sim);
  EXPECT_EQ(clock.rereads, 3);  // 0.4, 0.8, 1.2 ms
  EXPECT_NEAR(s.dt, 0.0012, 1e-9);
  EXPECT_NEAR(s.ttot, 5.0012, 1e-9);
  EXPECT_EQ(s.clockPrev, s.clockNow);
  EXPECT_NEAR(s.clockNow, 1000.0012, 1e-9);
}

TEST_F(TimeBase, FirstRealTimeStepFromZeroTakesTheClockAsItsBase) {
  s.timeMode = 'R';
  s.ttot = 0;
  s.clockPrev = 0;
  clock.now = 43200.0;
  clock.step = 0.0025;
  TimeStep(sim);
  EXPECT_EQ(clock.rereads, 1);
  EXPECT_NEAR(s.dt, 0.0025, 1e-9);
  EXPECT_NEAR(s.ttot, 0.0025, 1e-9);
}

TEST_F(TimeBase, ScreenSetUpCallBeforeTheFirstStepDoesNotAdvanceTheTime) {
  s.screenState = 'S';
  s.paus = 1;
  s.timeMode = 'R';
  s.ttot = 0;
  s.cycleTime = 0;
  s.clockPrev = 0;
  clock.now = 30000.5;
  TimeStep(sim);
  EXPECT_EQ(s.ttot, 0);
  EXPECT_EQ(s.cycleTime, 0);
  EXPECT_NEAR(s.dt, 1.0, 1e-9);
  EXPECT_EQ(s.clockPrev, 30000.5);
  EXPECT_EQ(clock.rereads, 0);
}

TEST_F(TimeBase, PausedCallDuringARunAddsExactlyOneSecond) {
  s.paus = 1;
  s.timeMode = 'R';
  s.ttot = 100;
  s.cycleTime = 60;
  s.clockPrev = 50000;  // the pause lasted ten minutes
  clock.now = 50600;
  TimeStep(sim);
  EXPECT_EQ(s.dt, 1.0);
  EXPECT_EQ(s.ttot, 101);
  EXPECT_EQ(s.cycleTime, 61);
  EXPECT_EQ(s.clockPrev, 50600);
}

TEST_F(TimeBase, NegativeCycleIncrementSwitchesToRealTime) {
  s.timeMode = ' ';
  s.cycleDt = -1;
  s.ttot = 20;
  s.cycleTime = 20;
  s.clockPrev = 1000;
  clock.now = 1000.5;
  TimeStep(sim);
  EXPECT_EQ(s.dt, 0.5);
  EXPECT_EQ(s.ttot, 20.5);
  EXPECT_EQ(s.cycleTime, 20.5);

  // A positive increment afterwards is taken from the row again.
  s.cycleDt = 0.2;
  clock.now = 1010;
  TimeStep(sim);
  EXPECT_EQ(s.dt, 0.2);
  EXPECT_DOUBLE_EQ(s.ttot, 20.7);
}

TEST_F(TimeBase, MidnightAddsADayToTheClock) {
  s.timeMode = 'R';
  s.ttot = 1000;
  s.clockPrev = 86399.98;
  clock.now = 0.02;
  TimeStep(sim);
  EXPECT_NEAR(s.dt, 0.04, 1e-9);
  EXPECT_NEAR(s.ttot, 1000.04, 1e-9);
  EXPECT_EQ(clock.rereads, 0);

  // A clock set back within the day is a new base: the step waits 1 ms
  // instead of for ever.
  s.clockPrev = 50000;
  clock.now = 49000;
  clock.step = 0.0006;
  TimeStep(sim);
  EXPECT_EQ(clock.rereads, 2);
  EXPECT_NEAR(s.dt, 0.0012, 1e-9);
}

}  // namespace
}  // namespace drivanto
