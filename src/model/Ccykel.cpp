// The drive cycle: the reader that follows the cycle file row by row, the
// application of the active row with its mode codes, the driver's stop and
// steering keys and the road curves.

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "base/Errors.h"

#include "base/Rounding.h"
#include "model/Modules.h"

namespace drivanto {

namespace {

enum class Variant { Map, Time };

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

// The steering keys turn the wheel by an amount that grows with the speed.
void Steer(State& s, double sum) {
  double change = 0.0;
  switch (s.tangent) {
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

void ApplyRow(Sim& sim, Variant variant) {
  State& s = sim.s;
  const bool map = variant == Variant::Map;
  s.activeRowPos = s.rowPos;
  s.vCycle = s.rowSpeed;
  const char* kept = map ? "<>IP" : "<>Ii";
  if (!OneOf(s.styrmod, kept) && s.modeNo != 21) s.vbCycle = s.rowSpeed;
  if (s.slopeMode != 'L' && s.slopeMode != 'l' && s.modeNo != 21) s.cycleSlope = s.rowSlope;
  if (s.ttot >= s.holdUntil && s.rowMode < 999) s.modeValue = s.rowMode;
  s.modeNo = RoundInt(s.modeValue);
  if (s.rowMode > 999) RoadObjectCode(s);
  if (s.timeMode != 'D' && s.modeNo != 21 && s.modeNo != 15 && (map || s.timeMode != 'R')) {
    s.cycleDt = s.rowDt;
  }
  if (s.modeNo == s.modePrev) return;
  switch (s.modeNo) {
    case 10:
      (map ? s.mapMark : s.timeMark) = s.activeRowPos;
      break;
    case 11:
      if (RoundInt(s.rowDt) == 11) {
        if (map) s.mapPos = s.mapMark; else s.cycleTime = s.timeMark;
      } else {
        if (map) s.mapPos = s.ltot; else s.cycleTime = s.ttot;
      }
      break;
    case 15:
      (map ? s.mapPos : s.cycleTime) = s.rowDt;
      break;
    case 20:
      // Switch to the other kind of cycle, restarting its file from the
      // present position.
      if (map) {
        s.cycleType = 'T';
        s.readRow[1] = 0;
        ReadCycleUntil(sim, s.Ttidd, s.cycleTime);
      } else {
        s.cycleType = 'K';
        s.readRow[1] = 0;
        ReadCycleUntil(sim, s.Tkarta, s.mapPos);
      }
      s.modeNo = 0;
      s.readRow[4] = 0;
      s.prevReadRow[4] = 0;
      break;
    default:
      break;
  }
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
    if (s.prevReadRow[4] == 3) s.tangent = ' ';
    s.prevReadRow[1] = s.readRow[1];
    s.prevReadRow[2] = s.readRow[2];
    s.prevReadRow[3] = s.readRow[3];
    s.prevReadRow[4] = s.readRow[4];
    s.prevReadRow[5] = s.readRow[5];
    s.prevReadRow[6] = s.readRow[6];
    sim.cyclePrevRowIsInitial = sim.cycleRowIsInitial;
    double row[6];
    sim.cycleFile.ReadRow(row);
    sim.cycleRowIsInitial = false;
    s.readRow[1] = row[0];
    s.readRow[2] = row[1];
    s.readRow[3] = row[2];
    s.readRow[4] = row[3];
    s.readRow[5] = row[4];
    s.readRow[6] = row[5];
    PublishActiveRow(sim);
    if (s.prevReadRow[4] == 3) s.tangent = 'C';
  }
}

void ResumeCycleFile(Sim& sim) {
  State& s = sim.s;
  // Where the current road curve began is not kept in a snapshot; a run
  // resumed inside a curve takes it from how far the car has come since the
  // curve's row became active (to within one step).
  const double c = s.rowCurve;
  if (std::fabs(c) > 999 && std::fabs(c) < 10000 && c == s.prevRowCurve) {
    const double since = (s.cycleType == 'K') ? s.mapPos - s.rowPos : s.v * (s.cycleTime - s.rowPos);
    s.curveStart = s.ltot - std::max(0.0, since);
  }
  const std::string& name = (s.cycleType == 'K') ? s.Tkarta : s.Ttidd;
  const double last[6] = {s.readRow[1], s.readRow[2], s.readRow[3], s.readRow[4], s.readRow[5], s.readRow[6]};
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

void CycleStep(Sim& sim) {
  State& s = sim.s;
  s.COPrev = s.CO;
  s.NOxPrev = s.NOx;
  s.HCPrev = s.HC;

  // Keys.
  if (s.tangent == 'Q' || s.tangent == 'q') s.fullTime = s.ttot - 1;
  if (s.tangent == '8') s.tangent = 'I';
  if (s.tangent == '2') s.tangent = 'i';
  if (s.stegnr > 2 && s.tangent == ' ') s.styrmod = ' ';
  if (s.tangent == 'M' || s.tangent == 'm') s.styrmod = 'M';
  const double sum = s.v + s.vPrev;
  Steer(s, sum);

  s.kursfel = SatInt(static_cast<int64_t>(s.vagkurs) - s.kurs);
  s.sidlage = SatInt(static_cast<int64_t>(s.sidlage) + RoundInt(sum * s.kursfel * s.dt / 50));

  s.maxCurrent = (s.chargeState == '+') ? s.maxCurrentCharging : s.maxCurrentElectric;

  if (s.cycleType == 'K') {
    if (s.stegnr < 2 || s.mapPos >= s.nextRowPos) ReadCycleUntil(sim, s.Tkarta, s.mapPos);
    ApplyRow(sim, Variant::Map);
  }
  if (s.cycleType == 'T') {
    if (s.cycleTime >= s.nextRowPos) ReadCycleUntil(sim, s.Ttidd, s.cycleTime);
    ApplyRow(sim, Variant::Time);
  }

  // A new mode.
  if (s.modeNo != s.modePrev) {
    if (s.modeNo == 21) s.holdUntil = s.ttot + s.rowDt;
    if (s.modePrev != 21) s.vbHold = s.vb;
    switch (s.modeNo) {
      case 30:
        if (s.styrmod == 'J' || s.styrmod == 'W') s.styrmod = ' ';
        break;
      case 31:
        if (s.styrmod == ' ' || s.styrmod == 'W') s.styrmod = 'J';
        break;
      case 32:
        if (s.styrmod == ' ' || s.styrmod == 'J') s.styrmod = 'W';
        break;
      case 60: s.snapshotMark = 's'; break;
      default: break;
    }
    int32_t group = RoundInt(s.modeNo / 10.0);
    if (group == 4) s.accelSteps = std::max<int32_t>(1, s.modeNo - 40);
    if (group == 5) s.brakeSteps = std::max<int32_t>(1, s.modeNo - 50);
  }

  // Gear commands of the cycle. The gearbox has ten gears; codes 111 to 118
  // engage the top gear.
  if (!OneOf(s.styrmod, "<>IJPW")) {
    if (s.modeNo > 100 && s.modeNo < 119) {
      s.gearMode = 10;
      s.gear = static_cast<uint8_t>(std::min<int32_t>(s.modeNo - 100, 10));
    }
    if (s.modeNo == 120) s.gearMode = 20;
  }

  // Road curves.
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

  if (s.modeNo == 21 && s.ttot >= s.holdUntil) s.vbCycle = s.vbHold;
  if (s.tangent == 's') s.snapshotMark = 's';
}

}  // namespace drivanto
