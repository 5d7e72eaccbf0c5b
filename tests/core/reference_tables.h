#pragma once
// The lookups as plain walks over the tokens of a table file, in file order,
// without any compiled form: the behaviour the compiled tables must keep.
// They return false where the lookup falls outside its table.

#include "data/TableText.h"

namespace drivanto::testing {

inline bool ReferenceTABR1(const TableFile& f, std::string_view tableNumber, char mode, double x,
                           int column, double* result) {
  const auto& tok = f.tokens;
  std::size_t p = 0;
  if (!FindTable1(f, tableNumber, &p)) return false;
  double xCur = 0, yCur = 0, xPrev = 0, yPrev = 0;
  while (!(xCur > x)) {
    xPrev = xCur;
    yPrev = yCur;
    const TableToken* row = nullptr;
    while (p < tok.size()) {
      const TableToken& t = tok[p++];
      if (t.isHeader) break;
      if (t.isNumber) {
        row = &t;
        break;
      }
    }
    if (!row) return false;
    xCur = f.Value(*row);
    if (column == 0) {
      yCur = xCur;
    } else {
      int k = 0;
      for (std::size_t q = p; q < tok.size() && f.LineOf(q) == f.LineOf(static_cast<std::size_t>(row - tok.data())); ++q) {
        if (++k == column) {
          yCur = f.Value(tok[q]);
          break;
        }
      }
    }
    p = StartOfLine(f, f.LineOf(static_cast<std::size_t>(row - tok.data())) + 1);
  }
  *result = (xCur - xPrev == 0.0) ? yPrev : Between(mode, xPrev, xCur, yPrev, yCur, x);
  return true;
}

inline bool ReferenceTABR2(const TableFile& f, std::string_view tableNumber, char columnMode,
                           char rowMode, double columnArg, double rowArg, double* result) {
  const auto& tok = f.tokens;
  std::size_t p = 0;
  if (!FindTable2(f, tableNumber, &p)) return false;
  const std::size_t headerLine = f.LineOf(p - 1);
  double kCur = 0, kPrev = 0;
  int c = 0;
  int64_t keyLine = -1;
  while (kCur < columnArg) {
    std::size_t q = p;
    bool found = false;
    for (; q < tok.size(); ++q) {
      if (keyLine >= 0 && f.LineOf(q) != keyLine) break;
      if (tok[q].isNumber) {
        found = true;
        break;
      }
    }
    if (!found) break;
    kPrev = kCur;
    ++c;
    kCur = f.Value(tok[q]);
    keyLine = f.LineOf(q);
    p = q + 1;
  }
  double rCur = 0, rPrev = 0, lowCur = 0, highCur = 0, lowPrev = 0, highPrev = 0;
  std::size_t line = (keyLine >= 0 ? static_cast<std::size_t>(keyLine) : headerLine) + 1;
  while (!(rCur > rowArg)) {
    rPrev = rCur;
    lowPrev = lowCur;
    highPrev = highCur;
    std::size_t first = 0, end = 0;
    for (;;) {
      if (line >= f.LineCount()) return false;
      first = f.lineStart[line];
      end = f.lineStart[line + 1];
      if (first == end) {
        ++line;
        continue;
      }
      if (tok[first].isHeader) return false;
      if (!tok[first].isNumber) {
        ++line;
        continue;
      }
      break;
    }
    rCur = f.Value(tok[first]);
    ++line;
    if (c > kMaxTableColumns) break;
    for (int j = 1; first + j < end; ++j) {
      if (j == c - 1) lowCur = f.Value(tok[first + j]);
      if (j == c) {
        highCur = f.Value(tok[first + j]);
        break;
      }
    }
    if (c == 1) lowCur = 0.0;
  }
  if (columnArg <= 0.0 || rowArg < 0.0) {
    *result = 0.0;
    return true;
  }
  const double vPrev = Between(columnMode, kPrev, kCur, lowPrev, highPrev, columnArg);
  const double vCur = Between(columnMode, kPrev, kCur, lowCur, highCur, columnArg);
  *result = (rCur - rPrev == 0.0) ? vPrev : Between(rowMode, rPrev, rCur, vPrev, vCur, rowArg);
  return true;
}

}  // namespace drivanto::testing
