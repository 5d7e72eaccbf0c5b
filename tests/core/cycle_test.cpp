// The drive cycle: the reader that follows the cycle file, the key commands of
// the cycle module, the mode codes of the rows, the slope and the road curves.

#include <gtest/gtest.h>

#include <string>

#include "base/Errors.h"
#include "model_fixture.h"

namespace drivanto {
namespace {

using testing::ModelTest;

class CycleReader : public ModelTest {
 protected:
  CycleReader() { s.stegnr = 1; }
};

// Positions 0, 10, 20, 30; speed and slope tell the rows apart.
const char* kFourRows = "0 10 1 0 1 0\r\n10 20 2 0 2 0\r\n20 30 3 0 3 0\r\n30 40 4 0 4 0\r\n";

TEST_F(CycleReader, RowBecomesActiveAboveItsPositionOnceTheNextRowIsRead) {
  const std::string f = Write("A.CYK", kFourRows);
  ReadCycleUntil(sim, f, 5);
  EXPECT_EQ(s.rowPos, 0);
  EXPECT_EQ(s.rowSpeed, 10);
  EXPECT_EQ(s.rowSlope, 1);
  EXPECT_EQ(s.rowDt, 1);
  EXPECT_EQ(s.nextRowPos, 10);

  s.stegnr = 2;
  // A position equal to the next row's does not make it active.
  ReadCycleUntil(sim, f, 10);
  EXPECT_EQ(s.rowSpeed, 10);
  EXPECT_EQ(s.nextRowPos, 10);

  ReadCycleUntil(sim, f, 10.5);
  EXPECT_EQ(s.rowPos, 10);
  EXPECT_EQ(s.rowSpeed, 20);
  EXPECT_EQ(s.rowSlope, 2);
  EXPECT_EQ(s.rowDt, 2);
  EXPECT_EQ(s.nextRowPos, 20);

  // The last row is never left for a row after it, so it never becomes active.
  ReadCycleUntil(sim, f, 1000);
  EXPECT_EQ(s.rowPos, 20);
  EXPECT_EQ(s.rowSpeed, 30);
  EXPECT_EQ(s.nextRowPos, 30);
  ReadCycleUntil(sim, f, 5000);
  EXPECT_EQ(s.rowPos, 20);
}

TEST_F(CycleReader, RowsRunAcrossLineBreaksAndTheRestOfALineIsSkipped) {
  const std::string f = Write("B.CYK",
                              "0 5 0 0 1 0 remarks after the sixth number 99\r\n"
                              "10 6\r\n"
                              "   -2 0 0.5\n"
                              "1150\n"
                              "20 7 0 0 1 0\r\n30 8 0 0 1 0\r\n");
  ReadCycleUntil(sim, f, 15);
  EXPECT_EQ(s.rowPos, 10);
  EXPECT_EQ(s.rowSpeed, 6);
  EXPECT_EQ(s.rowSlope, -2);
  EXPECT_EQ(s.rowMode, 0);
  EXPECT_EQ(s.rowDt, 0.5);
  EXPECT_EQ(s.rowCurve, 1150);
  EXPECT_EQ(s.nextRowPos, 20);
}

TEST_F(CycleReader, MalformedNumberOrMissingFileThrowsNamingFileAndRow) {
  const std::string f = Write("C.CYK", "0 5 0 0 1 0\r\n10 6 0 x7 1 0\r\n20 7 0 0 1 0\r\n");
  try {
    ReadCycleUntil(sim, f, 15);
    ADD_FAILURE() << "no error for a malformed number";
  } catch (const IoError& e) {
    EXPECT_EQ(e.file(), f);
    EXPECT_EQ(e.line(), 2);
    EXPECT_NE(std::string(e.what()).find(f), std::string::npos);
  }
  EXPECT_THROW(ReadCycleUntil(sim, dir / "MISSING.CYK", 5), IoError);
}

TEST_F(CycleReader, ReopensWhenThePositionGoesBackOrTheNameChanges) {
  const std::string a = Write("A.CYK", kFourRows);
  const std::string b = Write("B.CYK", "0 50 0 0 1 0\r\n10 60 0 0 1 0\r\n20 70 0 0 1 0\r\n");
  ReadCycleUntil(sim, a, 25);
  ASSERT_EQ(s.rowSpeed, 30);
  s.stegnr = 5;

  // Same file, position not behind the active row: the reader goes on.
  ReadCycleUntil(sim, a, 25);
  EXPECT_EQ(s.rowSpeed, 30);

  // Behind the active row (with the current row's position cleared, as the
  // switch of cycle kind does): read again from the start.
  s.readRow[1] = 0;
  ReadCycleUntil(sim, a, 15);
  EXPECT_EQ(s.rowPos, 10);
  EXPECT_EQ(s.rowSpeed, 20);
  EXPECT_EQ(s.nextRowPos, 20);

  // Another file.
  s.readRow[1] = 0;
  ReadCycleUntil(sim, b, 15);
  EXPECT_EQ(s.cycleLastFileName, b);
  EXPECT_EQ(s.rowPos, 10);
  EXPECT_EQ(s.rowSpeed, 60);
  EXPECT_EQ(s.nextRowPos, 20);
}

TEST_F(CycleReader, EngineOffRowsHoldTheCoastingCommandUntilLeft) {
  const std::string f =
      Write("D.CYK", "0 5 0 0 1 0\r\n10 5 0 3 1 0\r\n20 5 0 0 1 0\r\n30 5 0 0 1 0\r\n");
  s.keyTyped = '.';
  ReadCycleUntil(sim, f, 5);
  EXPECT_EQ(s.keyTyped, '.');
  s.stegnr = 2;
  ReadCycleUntil(sim, f, 15);
  EXPECT_EQ(s.rowMode, 3);
  EXPECT_EQ(s.keyTyped, 'C');
  ReadCycleUntil(sim, f, 25);
  EXPECT_EQ(s.rowMode, 0);
  EXPECT_EQ(s.keyTyped, ' ');
}

TEST_F(CycleReader, FirstRowAfterTheStartLendsItsTimeIncrement) {
  const std::string f = Write("E.CYK", "5 10 0 0 0.25 0\r\n15 10 0 0 0.5 0\r\n25 0 0 0 1 0\r\n");
  s.cycleType = 'T';
  s.readRow[5] = 0;
  s.prevReadRow[5] = 0;
  ReadCycleUntil(sim, f, 1);
  EXPECT_EQ(s.nextRowPos, 5);
  EXPECT_EQ(s.rowDt, 0.25);
  s.stegnr = 2;
  ReadCycleUntil(sim, f, 6);
  EXPECT_EQ(s.rowDt, 0.25);
  ReadCycleUntil(sim, f, 16);
  EXPECT_EQ(s.rowDt, 0.5);
}

// ---- the cycle module without a cycle file ----

class CycleModule : public ModelTest {
 protected:
  CycleModule() {
    s.cycleType = 'N';  // neither kind: no file is read
    s.stegnr = 5;
    s.keyTyped = '.';
  }
  void Step() {
    s.modePrev = s.modeNo;
    CycleStep(sim);
  }
};

TEST_F(CycleModule, StopAndControlKeys) {
  s.CO = 3;
  s.NOx = 4;
  s.HC = 5;
  s.ttot = 50;
  s.fullTime = 1000;
  s.keyTyped = 'Q';
  Step();
  EXPECT_EQ(s.fullTime, 49);
  EXPECT_EQ(s.COPrev, 3);
  EXPECT_EQ(s.NOxPrev, 4);
  EXPECT_EQ(s.HCPrev, 5);
  s.ttot = 70;
  s.keyTyped = 'q';
  Step();
  EXPECT_EQ(s.fullTime, 69);

  s.keyTyped = '8';
  Step();
  EXPECT_EQ(s.keyTyped, 'I');
  s.keyTyped = '2';
  Step();
  EXPECT_EQ(s.keyTyped, 'i');

  s.controlMode = 'J';
  s.stegnr = 2;
  s.keyTyped = ' ';
  Step();
  EXPECT_EQ(s.controlMode, 'J');
  s.stegnr = 3;
  Step();
  EXPECT_EQ(s.controlMode, ' ');

  s.keyTyped = 'm';
  Step();
  EXPECT_EQ(s.controlMode, 'M');
  s.controlMode = ' ';
  s.keyTyped = 'M';
  Step();
  EXPECT_EQ(s.controlMode, 'M');
}

TEST_F(CycleModule, SteeringKeysTurnTheWheelWithTheSpeed) {
  // s = v + vPrev = 10, dt 0.5.
  s.v = 4;
  s.vPrev = 6;
  s.dt = 0.5;
  const struct {
    char key;
    int kurs;
  } cases[] = {
      {'9', 5},   // +(10 + 2) x 0.8 x 0.5 = 4.8
      {'7', -5},  // -4.8
      {'6', 2},   // +(10 + 1) x 0.4 x 0.5 = 2.2
      {'4', -2},  // -2.2
      {'3', 1},   // +10 x 0.2 x 0.5 = 1.0
      {'1', -1},  // -1.0
      {'5', 0},   // not a steering key
  };
  for (const auto& c : cases) {
    s.kurs = 0;
    s.keyTyped = c.key;
    Step();
    EXPECT_EQ(s.kurs, c.kurs) << "key " << c.key;
  }
  // The change adds to the wheel's direction.
  s.kurs = 10;
  s.keyTyped = '9';
  Step();
  EXPECT_EQ(s.kurs, 15);  // round(10 + 4.8)
}

TEST_F(CycleModule, CourseErrorMovesTheCarSideways) {
  s.vagkurs = 20;
  s.kurs = 0;
  s.v = 4;
  s.vPrev = 6;
  s.dt = 1;
  s.sidlage = 3;
  s.keyTyped = '.';
  Step();
  EXPECT_EQ(s.kursfel, 20);
  EXPECT_EQ(s.sidlage, 7);  // 3 + round(10 x 20 x 1 / 50)
  s.kurs = 30;
  Step();
  EXPECT_EQ(s.kursfel, -10);
  EXPECT_EQ(s.sidlage, 5);  // 7 + round(10 x -10 / 50)
}

TEST_F(CycleModule, CurrentLimitFollowsTheChargingState) {
  s.maxCurrentElectric = 200;
  s.maxCurrentCharging = 220;
  s.chargeState = '+';
  Step();
  EXPECT_EQ(s.maxCurrent, 220);
  s.chargeState = '0';
  Step();
  EXPECT_EQ(s.maxCurrent, 200);
}

TEST_F(CycleModule, ControlModeCodesActOnAModeChangeOnly) {
  const struct {
    int mode;
    char before;
    char after;
  } cases[] = {
      {30, 'J', ' '}, {30, 'W', ' '}, {30, 'M', 'M'}, {31, ' ', 'J'}, {31, 'W', 'J'},
      {31, 'I', 'I'}, {32, ' ', 'W'}, {32, 'J', 'W'}, {32, 'M', 'M'},
  };
  for (const auto& c : cases) {
    s.modeNo = 0;
    s.modePrev = 0;
    s.controlMode = c.before;
    s.modeNo = c.mode;  // the row of this step brought the code
    CycleStep(sim);
    EXPECT_EQ(s.controlMode, c.after) << "mode " << c.mode << " from '" << c.before << "'";
  }
  // The same code in the next step changes nothing.
  s.modeNo = 31;
  s.modePrev = 31;
  s.controlMode = ' ';
  CycleStep(sim);
  EXPECT_EQ(s.controlMode, ' ');

  s.modeNo = 60;
  s.modePrev = 0;
  s.snapshotMark = ' ';
  CycleStep(sim);
  EXPECT_EQ(s.snapshotMark, 's');
  s.snapshotMark = ' ';
  s.modePrev = 60;
  s.keyTyped = 's';
  CycleStep(sim);
  EXPECT_EQ(s.snapshotMark, 's');
}

TEST_F(CycleModule, RegulatorConstantsFromTheTensGroupRoundedToEven) {
  const struct {
    int mode;
    int accel;
    int brake;
  } cases[] = {
      {35, 1, 7},                          // 3.5 -> 4: 35 - 40 raised to 1
      {36, 1, 7}, {44, 4, 7}, {45, 5, 7},  // 4.5 -> 4
      {46, 7, 1},                          // 4.6 -> 5: 46 - 50 raised to 1
      {52, 7, 2}, {54, 7, 4}, {55, 7, 7},  // 5.5 -> 6: neither
      {34, 7, 7},                          // 3.4 -> 3: neither
  };
  for (const auto& c : cases) {
    s.accelSteps = 7;
    s.brakeSteps = 7;
    s.modePrev = 0;
    s.modeNo = c.mode;
    CycleStep(sim);
    EXPECT_EQ(s.accelSteps, c.accel) << "mode " << c.mode;
    EXPECT_EQ(s.brakeSteps, c.brake) << "mode " << c.mode;
  }
}

TEST_F(CycleModule, GearCodesInEveryStepUnlessDrivenByKeysOrCurrent) {
  const struct {
    int mode;
    int gear;
    int gearMode;
  } cases[] = {
      {101, 1, 10},  {103, 3, 10}, {110, 10, 10}, {111, 10, 10},
      {118, 10, 10}, {100, 6, 20}, {119, 6, 20},  {120, 6, 20},
  };
  for (const auto& c : cases) {
    s.gear = 6;
    s.gearMode = 20;
    s.modeNo = c.mode;
    s.modePrev = c.mode;  // no mode change needed
    s.controlMode = ' ';
    CycleStep(sim);
    EXPECT_EQ(s.gear, c.gear) << "mode " << c.mode;
    EXPECT_EQ(s.gearMode, c.gearMode) << "mode " << c.mode;
  }
  s.gearMode = 10;
  s.modeNo = 120;
  CycleStep(sim);
  EXPECT_EQ(s.gearMode, 20);
  for (char mode : {'<', '>', 'I', 'J', 'P', 'W'}) {
    s.gear = 6;
    s.gearMode = 20;
    s.modeNo = 103;
    s.controlMode = mode;
    CycleStep(sim);
    EXPECT_EQ(s.gear, 6) << mode;
    EXPECT_EQ(s.gearMode, 20) << mode;
  }
}

TEST_F(CycleModule, RoadCurveTurnsTheRoadOverItsLength) {
  s.roadCurves = 'J';
  s.v = 10;
  s.dt = 0.5;
  s.ltot = 1000;
  s.rowCurve = 3150;
  s.prevRowCurve = 0;
  Step();
  EXPECT_EQ(s.curveStart, 1000);
  EXPECT_DOUBLE_EQ(s.roadAngle, 3.0);  // 3 x 0.2 x 10 x 0.5
  EXPECT_EQ(s.vagkurs, 3);
  EXPECT_EQ(s.prevRowCurve, 3150);
  s.ltot = 1100;
  Step();
  EXPECT_EQ(s.curveStart, 1000);
  EXPECT_DOUBLE_EQ(s.roadAngle, 6.0);
  EXPECT_EQ(s.vagkurs, 6);
  s.ltot = 1150;  // 150 m driven: the curve is over
  Step();
  EXPECT_DOUBLE_EQ(s.roadAngle, 6.0);

  // -3150 turns the other way, from where it begins.
  s.rowCurve = -3150;
  s.ltot = 2000;
  Step();
  EXPECT_EQ(s.curveStart, 2000);
  EXPECT_DOUBLE_EQ(s.roadAngle, 3.0);
  EXPECT_EQ(s.vagkurs, 3);

  // The sharpness is the thousands digit, not the rounded thousands: 2700
  // is 2 over 700 m.
  s.rowCurve = 2700;
  s.ltot = 3000;
  s.roadAngle = 0;
  Step();
  EXPECT_DOUBLE_EQ(s.roadAngle, 2.0);  // 2 x 0.2 x 10 x 0.5
  s.ltot = 3699;
  Step();
  EXPECT_DOUBLE_EQ(s.roadAngle, 4.0);

  // A code that is no curve leaves the angle; the direction is its rounding.
  s.rowCurve = 500;
  s.roadAngle = 2.6;
  Step();
  EXPECT_DOUBLE_EQ(s.roadAngle, 2.6);
  EXPECT_EQ(s.vagkurs, 3);
}

TEST_F(CycleModule, WithoutRoadCurvesOnlyTheWheelMoves) {
  s.roadCurves = 'N';
  s.v = 10;
  s.vPrev = 10;
  s.dt = 0.5;
  s.rowCurve = 3150;
  s.vagkurs = 7;
  s.roadAngle = 0;
  s.kurs = 0;
  s.keyTyped = '3';
  Step();
  EXPECT_EQ(s.vagkurs, 7);
  EXPECT_EQ(s.roadAngle, 0);
  EXPECT_EQ(s.kurs, 2);  // 20 x 0.2 x 0.5
}

// ---- the cycle module following a cycle file ----

class CycleRows : public ModelTest {
 protected:
  CycleRows() {
    s.stegnr = 1;
    s.timeMode = ' ';
    s.keyTyped = '.';
  }
  void MapStep(double pos) {
    s.modePrev = s.modeNo;
    s.mapPos = pos;
    CycleStep(sim);
    ++s.stegnr;
  }
  void TimeStepAt(double t) {
    s.modePrev = s.modeNo;
    s.cycleTime = t;
    CycleStep(sim);
    ++s.stegnr;
  }
};

TEST_F(CycleRows, MapRowSetsDemandSlopeAndIncrement) {
  s.cycleType = 'K';
  s.Tkarta = Write("K.CYK", "0 12 1.5 0 0.2 0\r\n100 15 150 0 0.3 0\r\n200 0 0 0 1 0\r\n");
  MapStep(50);
  EXPECT_EQ(s.activeRowPos, 0);
  EXPECT_EQ(s.vCycle, 12);
  EXPECT_EQ(s.vbCycle, 12);
  EXPECT_EQ(s.cycleSlope, 1.5);
  EXPECT_EQ(s.cycleDt, 0.2);
  SlopeStep(sim);
  EXPECT_EQ(s.slope, 1.5);

  // A slope of 100 or more keeps the slope.
  MapStep(150);
  EXPECT_EQ(s.cycleSlope, 150);
  SlopeStep(sim);
  EXPECT_EQ(s.slope, 1.5);

  // Cruise control keeps its own requested value; time mode D its increment.
  s.controlMode = '>';
  s.timeMode = 'D';
  s.vbCycle = 99;
  s.cycleDt = 7;
  MapStep(160);
  EXPECT_EQ(s.vCycle, 15);
  EXPECT_EQ(s.vbCycle, 99);
  EXPECT_EQ(s.cycleDt, 7);
}

TEST_F(CycleRows, MarkAndJumpInAMapCycle) {
  s.cycleType = 'K';
  s.Tkarta = Write("K.CYK",
                   "0 10 0 0 1 0\r\n100 12 0 10 1 0\r\n200 14 0 0 1 0\r\n300 16 0 11 11 0\r\n"
                   "400 18 0 0 1 0\r\n500 20 0 11 5 0\r\n600 22 0 0 1 0\r\n700 24 0 15 42 0\r\n"
                   "800 0 0 0 1 0\r\n900 0 0 0 1 0\r\n");
  MapStep(50);
  MapStep(150);
  EXPECT_EQ(s.modeNo, 10);
  EXPECT_EQ(s.mapMark, 100);
  MapStep(250);
  EXPECT_EQ(s.modeNo, 0);
  MapStep(350);
  EXPECT_EQ(s.modeNo, 11);
  EXPECT_EQ(s.mapPos, 100);  // back to the mark
  MapStep(450);
  s.ltot = 1234;
  MapStep(550);
  EXPECT_EQ(s.mapPos, 1234);  // column 5 is not 11: the driven distance
  MapStep(650);
  s.cycleDt = 0.5;
  MapStep(750);
  EXPECT_EQ(s.modeNo, 15);
  EXPECT_EQ(s.mapPos, 42);
  EXPECT_EQ(s.cycleDt, 0.5);  // mode 15 does not take its column 5 as increment
}

TEST_F(CycleRows, MarkAndJumpInATimeCycle) {
  s.cycleType = 'T';
  s.nextRowPos = 0;
  s.Ttidd = Write("T.CYK",
                  "0 10 0 0 1 0\r\n10 12 0 10 1 0\r\n20 14 0 0 1 0\r\n30 16 0 11 11 0\r\n"
                  "40 18 0 0 1 0\r\n50 20 0 11 5 0\r\n60 22 0 0 1 0\r\n70 24 0 15 3 0\r\n"
                  "80 0 0 0 1 0\r\n90 0 0 0 1 0\r\n");
  TimeStepAt(5);
  EXPECT_EQ(s.vbCycle, 10);
  TimeStepAt(15);
  EXPECT_EQ(s.timeMark, 10);
  TimeStepAt(25);
  TimeStepAt(35);
  EXPECT_EQ(s.cycleTime, 10);
  TimeStepAt(45);
  s.ttot = 77;
  TimeStepAt(55);
  EXPECT_EQ(s.cycleTime, 77);
  TimeStepAt(65);
  TimeStepAt(75);
  EXPECT_EQ(s.cycleTime, 3);
  // Keyboard power control does not keep the requested value in a time cycle.
  s.controlMode = 'P';
  s.vbCycle = 99;
  TimeStepAt(76);
  EXPECT_EQ(s.vbCycle, 24);
  s.controlMode = ' ';
  // Real time: a time cycle does not take the rows' increments.
  s.timeMode = 'R';
  s.cycleDt = -1;
  TimeStepAt(85);
  EXPECT_EQ(s.vbCycle, 0);
  EXPECT_EQ(s.cycleDt, -1);
}

TEST_F(CycleRows, SwitchFromMapToTimeCycleIsServedInTheSameStep) {
  s.cycleType = 'K';
  s.Tkarta = Write("K.CYK", "0 10 0 0 1 0\r\n100 10 0 20 1 0\r\n200 10 0 0 1 0\r\n");
  // Modes 5 and 7 mean nothing; they show the clearing of the buffers.
  s.Ttidd = Write("T.CYK", "0 5 1 0 1 0\r\n30 25 2 5 2 0\r\n60 35 3 7 3 0\r\n90 0 0 0 1 0\r\n");
  s.cycleTime = 40;
  MapStep(50);
  ASSERT_EQ(s.vbCycle, 10);
  MapStep(150);
  EXPECT_EQ(s.cycleType, 'T');
  EXPECT_EQ(s.readRow[4], 0);
  EXPECT_EQ(s.prevReadRow[4], 0);
  EXPECT_EQ(s.rowMode, 5);
  EXPECT_EQ(s.modeNo, 5);  // the time row applied after the switch
  EXPECT_EQ(s.rowPos, 30);
  EXPECT_EQ(s.nextRowPos, 60);
  EXPECT_EQ(s.vbCycle, 25);
  EXPECT_EQ(s.cycleSlope, 2);
  EXPECT_EQ(s.cycleDt, 2);
}

TEST_F(CycleRows, SwitchFromTimeToMapCycleReadsTheMapFile) {
  s.cycleType = 'T';
  s.nextRowPos = 0;
  s.Ttidd = Write("T.CYK", "0 5 0 0 1 0\r\n10 5 0 20 1 0\r\n20 5 0 0 1 0\r\n");
  s.Tkarta = Write("K.CYK", "0 8 0 0 1 0\r\n100 9 0 0 1 0\r\n200 11 0 0 1 0\r\n300 0 0 0 1 0\r\n");
  s.mapPos = 150;
  TimeStepAt(5);
  s.mapPos = 150;
  TimeStepAt(15);
  EXPECT_EQ(s.cycleType, 'K');
  EXPECT_EQ(s.modeNo, 0);
  EXPECT_EQ(s.rowPos, 100);
  EXPECT_EQ(s.rowSpeed, 9);
  EXPECT_EQ(s.nextRowPos, 200);
  MapStep(160);
  EXPECT_EQ(s.vbCycle, 9);
}

TEST_F(CycleRows, HoldKeepsItsRowAndIgnoresTheRowsAfterIt) {
  s.cycleType = 'K';
  s.Tkarta = Write("K.CYK",
                   "0 10 1 0 1 0\r\n100 20 2 21 10 0\r\n200 30 3 0 4 0\r\n300 0 0 0 1 0\r\n"
                   "400 0 0 0 1 0\r\n");
  s.ttot = 0;
  MapStep(50);
  s.vb = 10;
  s.ttot = 5;
  MapStep(150);
  EXPECT_EQ(s.modeNo, 21);
  EXPECT_EQ(s.holdUntil, 15);
  EXPECT_EQ(s.vbHold, 10);
  EXPECT_EQ(s.vbCycle, 20);
  EXPECT_EQ(s.cycleSlope, 2);
  EXPECT_EQ(s.cycleDt, 1);  // the hold's column 5 is its length, not an increment
  s.vb = 20;
  s.ttot = 10;
  MapStep(250);
  EXPECT_EQ(s.vCycle, 30);
  EXPECT_EQ(s.modeNo, 21);
  EXPECT_EQ(s.vbCycle, 20);
  EXPECT_EQ(s.cycleSlope, 2);
  EXPECT_EQ(s.cycleDt, 1);
  EXPECT_EQ(s.vbHold, 10);
  s.ttot = 15;
  MapStep(260);
  EXPECT_EQ(s.modeNo, 0);
  EXPECT_EQ(s.cycleDt, 4);
  EXPECT_EQ(s.vbHold, 10);  // leaving the hold is no new hold
  MapStep(270);
  EXPECT_EQ(s.vbCycle, 30);
  EXPECT_EQ(s.cycleSlope, 3);
}

TEST_F(CycleRows, HoldRestoresTheRequestedSpeedAtItsEnd) {
  s.cycleType = 'K';
  s.Tkarta = Write("K.CYK",
                   "0 10 0 0 1 0\r\n100 20 0 21 10 0\r\n1000 30 0 0 1 0\r\n"
                   "2000 0 0 0 1 0\r\n");
  s.ttot = 0;
  MapStep(50);
  s.vb = 10;
  s.ttot = 5;
  MapStep(150);
  ASSERT_EQ(s.vbCycle, 20);
  s.vb = 20;
  s.ttot = 14.9;
  MapStep(160);
  EXPECT_EQ(s.vbCycle, 20);
  s.ttot = 15;
  MapStep(170);
  EXPECT_EQ(s.modeNo, 21);
  EXPECT_EQ(s.vbCycle, 10);
  s.ttot = 16;
  MapStep(180);
  EXPECT_EQ(s.vbCycle, 10);
}

TEST_F(CycleRows, RoadObjectCodesSetAndClearTheTables) {
  s.cycleType = 'K';
  s.Tkarta = Write("K.CYK",
                   "0 10 0 1005 1 0\r\n10 10 0 1006 1 0\r\n20 10 0 1105 1 0\r\n"
                   "30 10 0 1207 1 0\r\n40 10 0 1208 1 0\r\n50 10 0 9007 1 0\r\n"
                   "60 10 0 2005 1 0\r\n70 10 0 2105 1 0\r\n80 10 0 2207 1 0\r\n"
                   "90 10 0 9100 1 0\r\n100 0 0 0 1 0\r\n");
  s.roadObjects1[6] = 2;  // 2 is kept by 10xx
  s.roadObjects3[8] = 5;  // a non-zero entry is kept by 12xx
  s.modeValue = 4;
  MapStep(5);
  EXPECT_EQ(s.roadObjects1[5], 1);
  EXPECT_EQ(s.modeValue, 4);  // object codes are no mode
  EXPECT_EQ(s.modeNo, 4);
  MapStep(15);
  EXPECT_EQ(s.roadObjects1[6], 2);
  MapStep(25);
  EXPECT_EQ(s.roadObjects2[5], 1);
  MapStep(35);
  EXPECT_EQ(s.roadObjects3[7], 1);
  MapStep(45);
  EXPECT_EQ(s.roadObjects3[8], 5);
  MapStep(55);
  EXPECT_EQ(s.roadObjects3[0], 7);
  MapStep(65);
  EXPECT_EQ(s.roadObjects1[5], 0);
  MapStep(75);
  EXPECT_EQ(s.roadObjects2[5], 0);
  MapStep(85);
  EXPECT_EQ(s.roadObjects3[7], 0);
  MapStep(95);
  EXPECT_EQ(s.roadObjects3[0], 0);
  EXPECT_EQ(s.roadObjects1[6], 2);
}

TEST(Slope, KeysStepTheSlopeWithinFortyPercent) {
  Sim sim;
  State& s = sim.s;
  SetDefaults(s);
  s.cycleSlope = 3;
  s.slope = 39.5;
  s.keyTyped = 'L';
  SlopeStep(sim);
  EXPECT_EQ(s.slopeMode, 'L');
  EXPECT_EQ(s.slope, 40);
  SlopeStep(sim);
  EXPECT_EQ(s.slope, 40);
  s.keyTyped = '.';
  SlopeStep(sim);
  EXPECT_EQ(s.slope, 40);  // the cycle's slope does not apply while keyed
  s.slope = -39.5;
  s.keyTyped = 'l';
  SlopeStep(sim);
  EXPECT_EQ(s.slope, -40);
  SlopeStep(sim);
  EXPECT_EQ(s.slope, -40);
  for (char key : {'F', 'k', 'T'}) {
    s.slopeMode = 'L';
    s.slope = 10;
    s.keyTyped = key;
    SlopeStep(sim);
    EXPECT_EQ(s.slopeMode, ' ') << key;
    EXPECT_EQ(s.slope, 3) << key;
  }
}

}  // namespace
}  // namespace drivanto
