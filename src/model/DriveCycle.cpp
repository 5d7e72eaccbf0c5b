// The drive cycle in the step - the driver's keys, the road curves, the modes
// - and the reader that follows the cycle file row by row. (Modules Ccykel,
// CycleReader.)

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "base/Errors.h"
#include "base/Rounding.h"
#include "model/Codes.h"
#include "model/Modules.h"

// The drive cycle in the step: the driver's stop and steering keys, the road
// under the car, the active row of the cycle with its mode codes, the gear
// commands and the road curves.

namespace drivanto {

namespace {

enum class Variant { Map, Time };

// The steering keys turn the wheel by an amount that grows with the speed.
void Steer(State& s, double sum) {
  double change = 0.0;
  switch (s.keyTyped) {
    case '9': change = (sum + 2) * 0.8 * s.dt; break;
    case '7': change = -(sum + 2) * 0.8 * s.dt; break;
    case '6': change = (sum + 1) * 0.4 * s.dt; break;
    case '4': change = -(sum + 1) * 0.4 * s.dt; break;
    case '3': change = sum * 0.2 * s.dt; break;
    case '1': change = -sum * 0.2 * s.dt; break;
    default: return;
  }
  s.kurs = RoundInt(s.kurs + change);
}

// Keys that stop the run, take over the motor, hand control back, choose the
// mouse, and steer; then where the car lies across the road.
void ApplyDriverKeys(State& s) {
  if (s.keyTyped == 'Q' || s.keyTyped == 'q') s.fullTime = s.ttot - 1;
  if (s.keyTyped == '8') s.keyTyped = 'I';
  if (s.keyTyped == '2') s.keyTyped = 'i';
  if (s.stegnr > 2 && s.keyTyped == ' ') s.controlMode = ' ';
  if (s.keyTyped == 'M' || s.keyTyped == 'm') s.controlMode = 'M';
  const double sum = s.v + s.vPrev;
  Steer(s, sum);
  s.kursfel = SatInt(static_cast<int64_t>(s.vagkurs) - s.kurs);
  s.sidlage = SatInt(static_cast<int64_t>(s.sidlage) + RoundInt(sum * s.kursfel * s.dt / 50));
}

// Road-object codes (1000 and above): set and clear entries of the three
// object tables.
void RoadObjectCode(State& s) {
  int32_t g = RoundInt(s.rowMode / 100);
  int32_t i = RoundInt(s.rowMode) % 100;
  if (i < 0 || i > 100) return;
  switch (g) {
    case 10:
      if (s.roadObjects1[i] < 2) s.roadObjects1[i] = 1;
      break;
    case 20: s.roadObjects1[i] = 0; break;
    case 11: s.roadObjects2[i] = 1; break;
    case 21: s.roadObjects2[i] = 0; break;
    case 12:
      if (s.roadObjects3[i] == 0) s.roadObjects3[i] = 1;
      break;
    case 22: s.roadObjects3[i] = 0; break;
    case 90: s.roadObjects3[0] = i; break;
    case 91: s.roadObjects3[0] = 0; break;
    default: break;
  }
}

// A mode that moves the cycle's position or switches the kind of cycle,
// when it has just become active.
void ApplyPositionMode(Sim& sim, Variant variant) {
  State& s = sim.s;
  const bool map = variant == Variant::Map;
  switch (s.modeNo) {
    case CycleMode::MarkPosition: (map ? s.mapMark : s.timeMark) = s.activeRowPos; break;
    case CycleMode::JumpBack:
      if (RoundInt(s.rowDt) == kJumpToMark) {
        if (map)
          s.mapPos = s.mapMark;
        else
          s.cycleTime = s.timeMark;
      } else {
        if (map)
          s.mapPos = s.ltot;
        else
          s.cycleTime = s.ttot;
      }
      break;
    case CycleMode::SetPosition: (map ? s.mapPos : s.cycleTime) = s.rowDt; break;
    case CycleMode::SwitchCycle:
      // The other kind of cycle, its file restarted from the present position.
      SwitchCycleAndRead(sim, map ? 'T' : 'K');
      break;
    default: break;
  }
}

// The active row: requested speed, slope, mode, time increment.
void ApplyRow(Sim& sim, Variant variant) {
  State& s = sim.s;
  const bool map = variant == Variant::Map;
  s.activeRowPos = s.rowPos;
  s.vCycle = s.rowSpeed;
  const bool kept = map ? OneOf(s.controlMode, "<>IP") : OneOf(s.controlMode, "<>Ii");
  if (!kept && s.modeNo != CycleMode::Hold) s.vbCycle = s.rowSpeed;
  if (s.slopeMode != 'L' && s.slopeMode != 'l' && s.modeNo != CycleMode::Hold)
    s.cycleSlope = s.rowSlope;
  if (s.ttot >= s.holdUntil && s.rowMode < CycleMode::RoadObjects) s.modeValue = s.rowMode;
  s.modeNo = RoundInt(s.modeValue);
  if (s.rowMode > CycleMode::RoadObjects) RoadObjectCode(s);
  if (s.timeMode != 'D' && s.modeNo != CycleMode::Hold && s.modeNo != CycleMode::SetPosition &&
      (map || s.timeMode != 'R')) {
    s.cycleDt = s.rowDt;
  }
  if (s.modeNo != s.modePrev) ApplyPositionMode(sim, variant);
}

// Reads the cycle as far as its position and applies the active row.
void FollowCycle(Sim& sim) {
  State& s = sim.s;
  if (s.cycleType == 'K') {
    if (s.stegnr < 2 || s.mapPos >= s.nextRowPos) ReadCycleUntil(sim, s.Tkarta, s.mapPos);
    ApplyRow(sim, Variant::Map);
  }
  if (s.cycleType == 'T') {
    if (s.cycleTime >= s.nextRowPos) ReadCycleUntil(sim, s.Ttidd, s.cycleTime);
    ApplyRow(sim, Variant::Time);
  }
}

// A mode that has just become active: the hold, the control modes, the
// snapshot mark and the regulators' constants.
void StartNewMode(State& s) {
  if (s.modeNo == s.modePrev) return;
  if (s.modeNo == CycleMode::Hold) s.holdUntil = s.ttot + s.rowDt;
  if (s.modePrev != CycleMode::Hold) s.vbHold = s.vb;
  switch (s.modeNo) {
    case CycleMode::CycleControl:
      if (s.controlMode == 'J' || s.controlMode == 'W') s.controlMode = ' ';
      break;
    case CycleMode::CurrentControl:
      if (s.controlMode == ' ' || s.controlMode == 'W') s.controlMode = 'J';
      break;
    case CycleMode::PowerControl:
      if (s.controlMode == ' ' || s.controlMode == 'J') s.controlMode = 'W';
      break;
    case CycleMode::SnapshotMark: s.snapshotMark = 's'; break;
    default: break;
  }
  const int32_t group = RoundInt(s.modeNo / 10.0);
  if (group == CycleMode::AccelGroup) s.accelSteps = std::max<int32_t>(1, s.modeNo - 40);
  if (group == CycleMode::BrakeGroup) s.brakeSteps = std::max<int32_t>(1, s.modeNo - 50);
}

// Gear commands of the cycle, unless the driver has taken over. Codes 111 to
// 118 engage the top gear.
void ApplyGearCommands(State& s) {
  if (OneOf(s.controlMode, "<>IJPW")) return;
  if (s.modeNo > CycleMode::ManualGear && s.modeNo < CycleMode::LastGearCode) {
    s.gearMode = GearMode::Manual;
    s.gear = static_cast<uint8_t>(std::min<int32_t>(s.modeNo - CycleMode::ManualGear, kTopGear));
  }
  if (s.modeNo == CycleMode::AutomaticGear) s.gearMode = GearMode::Automatic;
}

// The road's curves turn the road under the car.
void FollowRoadCurves(State& s) {
  if (s.roadCurves == 'J' || s.roadCurves == 'j') {
    const double c = s.rowCurve;
    if (std::fabs(c) > 999 && std::fabs(c) < 10000) {
      if (c != s.prevRowCurve) s.curveStart = s.ltot;
      const int32_t code = RoundInt(c);
      if ((std::abs(code) % 1000) + s.curveStart > s.ltot) {
        const int32_t k = code / 1000;
        s.roadAngle = s.roadAngle + k * 0.2 * s.v * s.dt;
      }
    }
    s.vagkurs = RoundInt(s.roadAngle);
  }
  s.prevRowCurve = s.rowCurve;
}

}  // namespace

void CycleStep(Sim& sim) {
  State& s = sim.s;
  s.COPrev = s.CO;
  s.NOxPrev = s.NOx;
  s.HCPrev = s.HC;
  ApplyDriverKeys(s);
  s.maxCurrent = (s.chargeState == '+') ? s.maxCurrentCharging : s.maxCurrentElectric;
  FollowCycle(sim);
  StartNewMode(s);
  ApplyGearCommands(s);
  FollowRoadCurves(s);
  if (s.modeNo == CycleMode::Hold && s.ttot >= s.holdUntil) s.vbCycle = s.vbHold;
  if (s.keyTyped == 's') s.snapshotMark = 's';
}

}  // namespace drivanto

// The reader of the drive-cycle file: it follows the file row by row as far
// as the cycle's position, keeping the last row read and the one before it
// (the active row), and finds its place again after a snapshot or a switch of
// cycle.

namespace drivanto {

namespace {

void PublishActiveRow(Sim& sim) {
  State& s = sim.s;
  s.rowPos = s.prevReadRow[1];
  s.rowSpeed = s.prevReadRow[2];
  s.rowSlope = s.prevReadRow[3];
  s.rowMode = s.prevReadRow[4];
  s.rowDt = s.prevReadRow[5];
  s.rowCurve = s.prevReadRow[6];
  s.nextRowPos = s.readRow[1];
  // Before the first row of the file the car runs on the reader's initial
  // buffer; its time increment of 0 would stop the driven time for good when
  // the first row of a time cycle lies after the start, so it takes the first
  // row's increment.
  if (sim.cyclePrevRowIsInitial && s.rowDt == 0.0 && s.cycleType == 'T') s.rowDt = s.readRow[5];
}

}  // namespace

void ReadCycleUntil(Sim& sim, const std::string& fileName, double x) {
  State& s = sim.s;
  if (s.stegnr < 2 || x < s.prevReadRow[1] || fileName != s.cycleLastFileName ||
      !sim.cycleFile.IsOpen()) {
    s.cycleLastFileName = fileName;
    sim.cycleFile.Open(fileName);
  }
  while (!sim.cycleFile.AtEnd() && s.readRow[1] < x) {
    if (s.prevReadRow[4] == CycleMode::EngineOff) s.keyTyped = ' ';
    for (int k = 1; k <= 6; ++k) s.prevReadRow[k] = s.readRow[k];
    sim.cyclePrevRowIsInitial = sim.cycleRowIsInitial;
    double row[6];
    sim.cycleFile.ReadRow(row);
    sim.cycleRowIsInitial = false;
    for (int k = 1; k <= 6; ++k) s.readRow[k] = row[k - 1];
    PublishActiveRow(sim);
    if (s.prevReadRow[4] == CycleMode::EngineOff) s.keyTyped = 'C';
  }
  // A file that closes with a single end row (mode 100) as its last row: no
  // row follows to make it active, so once the position has passed it, it
  // becomes the active row itself and the run ends there. Files that close
  // with two end rows have made the first one active before this point.
  if (s.readRow[1] < x && RoundInt(s.readRow[4]) == CycleMode::End &&
      RoundInt(s.prevReadRow[4]) != CycleMode::End && !sim.cycleRowIsInitial &&
      sim.cycleFile.AtEnd()) {
    if (s.prevReadRow[4] == CycleMode::EngineOff) s.keyTyped = ' ';
    for (int k = 1; k <= 6; ++k) s.prevReadRow[k] = s.readRow[k];
    sim.cyclePrevRowIsInitial = false;
    PublishActiveRow(sim);
  }
}

void SwitchCycleAndRead(Sim& sim, char cycleType) {
  State& s = sim.s;
  s.cycleType = cycleType;
  s.readRow[1] = 0;
  if (cycleType == 'K') {
    ReadCycleUntil(sim, s.Tkarta, s.mapPos);
  } else {
    ReadCycleUntil(sim, s.Ttidd, s.cycleTime);
  }
  s.modeNo = 0;
  s.readRow[4] = 0;
  s.prevReadRow[4] = 0;
}

void ResumeCycleFile(Sim& sim) {
  State& s = sim.s;
  // Where the current road curve began is not kept in a snapshot; a run
  // resumed inside a curve takes it from how far the car has come since the
  // curve's row became active (to within one step).
  const double c = s.rowCurve;
  if (std::fabs(c) > 999 && std::fabs(c) < 10000 && c == s.prevRowCurve) {
    const double since =
        (s.cycleType == 'K') ? s.mapPos - s.rowPos : s.v * (s.cycleTime - s.rowPos);
    s.curveStart = s.ltot - std::max(0.0, since);
  }
  const std::string& name = (s.cycleType == 'K') ? s.Tkarta : s.Ttidd;
  const double last[6] = {s.readRow[1], s.readRow[2], s.readRow[3],
                          s.readRow[4], s.readRow[5], s.readRow[6]};
  try {
    sim.cycleFile.Open(name);
    while (!sim.cycleFile.AtEnd()) {
      double row[6];
      sim.cycleFile.ReadRow(row);
      if (std::equal(row, row + 6, last)) {
        s.cycleLastFileName = name;
        return;
      }
      if (row[0] > last[0]) break;
    }
  } catch (const IoError&) {
  }
  sim.cycleFile.Close();
}

}  // namespace drivanto
