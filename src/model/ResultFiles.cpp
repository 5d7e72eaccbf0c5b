// The two result files: one row of fifteen fixed-width values per step.

#include <algorithm>
#include <cstring>

#include "base/Errors.h"
#include "base/Files.h"
#include "base/FixedFormat.h"
#include "model/Codes.h"
#include "model/Inputs.h"
#include "model/Modules.h"

namespace drivanto {

namespace {

const char* const kHeader1 =
    "1 Varvt rpm 2 Mom  Nm  3  U  V    4  P  kW  "
    "5 Energi   6 Acc m/s2 7 Broms N  8 Iaba  A  9 Pla  kW  "
    "10 IC v.gr 11 dv m/s  12 v  m/s  13 vb  m/s 14 ltot  m  "
    "15 ttot  s";

const char* const kHeader2 =
    "  1 Pelm kW  2 nel rpm  3 mel Nm   4 Pgen kW  "
    "5 Pbroms br 6 Preg kW 7 Ppic kW  8 nic rpm  "
    "9 mic Nm   10 Ila  A 11 CO g   "
    " 12 NOx g   13 HC g    14 vb-v m/s 15 ttot  s";

const char* const kRule =
    "---------- ---------- ---------- ---------- "
    "---------- ---------- ---------- ---------- ---------- "
    "---------- ---------- ---------- ---------- ---------- "
    "----------";

// One field: a blank and the number right-aligned in 10 characters.
void AddField(std::string& row, double value, int decimals) {
  row += ' ';
  AppendFixed(row, value, 10, decimals);
}

void Create(ResultFile& file, const std::string& name, const char* header) {
  file.Create(name);
  file.WriteLine(header);
  file.WriteLine(kRule);
}

// A file whose state says "created" but that is not open in this program (a
// run resumed from a snapshot) is opened for appending.
void EnsureOpen(const Sim& sim, ResultFile& file, const std::string& name) {
  if (file.IsOpen()) return;
  CheckResultFiles(sim);
  file.OpenAppend(name);
}

}  // namespace

void CheckResultFiles(const Sim& sim) {
  const State& s = sim.s;
  const bool first = s.outputFlags.At(1) == '1';
  const bool second = s.outputFlags.At(2) == '1';
  if (first) CheckOutputFile(sim, s.Tresultat, "result file 1");
  if (second) CheckOutputFile(sim, s.Tresultatp, "result file 2");
  if (first && second && SameFile(s.Tresultat, s.Tresultatp)) {
    throw IoError(s.Tresultatp, 0,
                  "result file 1 and result file 2 are the same file; choose another name for "
                  "one of them");
  }
}

void OpenResultFiles(Sim& sim) {
  State& s = sim.s;
  if ((s.outputFlags.At(1) == '1' && s.resfil1status == '-') ||
      (s.outputFlags.At(2) == '1' && s.resfil2status == '-')) {
    CheckResultFiles(sim);
  }
  if (s.outputFlags.At(1) == '1' && s.resfil1status == '-') {
    s.resfil1status = 'K';
    Create(sim.result1, s.Tresultat, kHeader1);
  }
  if (s.outputFlags.At(2) == '1' && s.resfil2status == '-') {
    s.resfil2status = 'K';
    Create(sim.result2, s.Tresultatp, kHeader2);
  }
}

void AccumulateResultEnergy(State& s) { s.Energi = s.Energi + s.U * s.totalCurrent * s.dt; }

void WriteResultRows(Sim& sim) {
  if (sim.rowSink) {
    sim.rowSink->Rows(sim);
    return;
  }
  const State& s = sim.s;
  if (s.outputFlags.At(1) == '1' && s.resfil1status == 'K') WriteResultRow1(sim);
  if (s.outputFlags.At(2) == '1' && s.resfil2status == 'K') WriteResultRow2(sim);
}

void CaptureResultRow1(const State& s, double out[kResultColumns]) {
  // Each value stored once, straight into the row (no array in between).
  out[0] = s.engineSpeed;
  out[1] = s.engineTorque;
  out[2] = s.U;
  out[3] = s.Ppic * 0.001;
  out[4] = s.Energi;
  out[5] = (s.v - s.vPrev) / s.dt;
  out[6] = s.brakeForce;
  out[7] = s.Iaba;
  out[8] = s.Ila * s.U / 1000;
  out[9] = s.icEff;
  out[10] = s.vb - s.v;
  out[11] = s.v;
  out[12] = s.vb;
  out[13] = s.ltot;
  out[14] = s.ttot;
}

void CaptureResultRow2(const State& s, double out[kResultColumns]) {
  // Each value stored once, straight into the row (no array in between).
  out[0] = RpmToRadPerSec(s.mel * 0.001 * s.nel);
  out[1] = s.nel;
  out[2] = s.mel;
  out[3] = s.U * 0.001 * s.Ila;
  out[4] = s.brakeForce * 0.001 * (s.ltot - s.ltotPrev) / s.dt;
  out[5] = 0.001 * s.regenCurrent * s.U;
  out[6] = s.Ppic * 0.001;
  out[7] = s.engineSpeed;
  out[8] = s.engineTorque;
  out[9] = s.Ila;
  out[10] = s.CO;
  out[11] = s.NOx;
  out[12] = s.HC;
  out[13] = s.vb - s.v;
  out[14] = s.ttot;
}

void FormatResultRow(ResultFile& file, int which, const double values[kResultColumns]) {
  static constexpr int kDecimals[2][kResultColumns] = {
      {0, 0, 0, 0, 1, 2, 0, 0, 1, 2, 1, 1, 1, 0, 2}, {1, 0, 1, 0, 1, 1, 1, 0, 1, 1, 0, 0, 0, 1, 1}};
  std::string& row = file.BeginLine();
  // Each field a blank and ten characters, written in place; a value whose
  // text is wider or that the quick way does not decide takes AddField.
  const std::size_t start = row.size();
  row.resize(start + kResultColumns * 11, ' ');
  char* field = row.data() + start;
  for (int k = 0; k < kResultColumns; ++k, field += 11) {
    char buf[32];
    char* const end = buf + sizeof buf;
    const char* p = FixedBackward(end, values[k], kDecimals[which - 1][k]);
    if (!p || end - p > 10) {
      row.resize(start);
      for (int j = 0; j < kResultColumns; ++j) AddField(row, values[j], kDecimals[which - 1][j]);
      break;
    }
    std::memcpy(field + 11 - (end - p), p, static_cast<std::size_t>(end - p));
  }
  file.EndLine();
}

void EnsureResultFileOpen(Sim& sim, int which) {
  if (which == 1) {
    EnsureOpen(sim, sim.result1, sim.s.Tresultat);
  } else {
    EnsureOpen(sim, sim.result2, sim.s.Tresultatp);
  }
}

void WriteResultRow1(Sim& sim) {
  EnsureResultFileOpen(sim, 1);
  double v[kResultColumns];
  CaptureResultRow1(sim.s, v);
  FormatResultRow(sim.result1, 1, v);
}

void WriteResultRow2(Sim& sim) {
  EnsureResultFileOpen(sim, 2);
  double v[kResultColumns];
  CaptureResultRow2(sim.s, v);
  FormatResultRow(sim.result2, 2, v);
}

}  // namespace drivanto
