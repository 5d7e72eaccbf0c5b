// The reader of the drive-cycle file: it follows the file row by row as far as
// the cycle's position, keeping the last row read and the one before it (the
// active row), and finds its place again after a snapshot or a switch of
// cycle.

#include <algorithm>
#include <cmath>

#include "base/Errors.h"
#include "base/Rounding.h"
#include "model/Codes.h"
#include "model/Modules.h"

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
    if (s.prevReadRow[4] == CycleMode::EngineOff) s.tangent = ' ';
    for (int k = 1; k <= 6; ++k) s.prevReadRow[k] = s.readRow[k];
    sim.cyclePrevRowIsInitial = sim.cycleRowIsInitial;
    double row[6];
    sim.cycleFile.ReadRow(row);
    sim.cycleRowIsInitial = false;
    for (int k = 1; k <= 6; ++k) s.readRow[k] = row[k - 1];
    PublishActiveRow(sim);
    if (s.prevReadRow[4] == CycleMode::EngineOff) s.tangent = 'C';
  }
  // A file that closes with a single end row (mode 100) as its last row: no
  // row follows to make it active, so once the position has passed it, it
  // becomes the active row itself and the run ends there. Files that close
  // with two end rows have made the first one active before this point.
  if (s.readRow[1] < x && RoundInt(s.readRow[4]) == CycleMode::End &&
      RoundInt(s.prevReadRow[4]) != CycleMode::End && !sim.cycleRowIsInitial &&
      sim.cycleFile.AtEnd()) {
    if (s.prevReadRow[4] == CycleMode::EngineOff) s.tangent = ' ';
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
