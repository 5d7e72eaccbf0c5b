#include "data/CompiledTables.h"

#include <algorithm>

namespace drivanto {

namespace {

bool NeverDecreasing(const std::vector<double>& keys) {
  for (std::size_t i = 1; i < keys.size(); ++i) {
    if (keys[i] < keys[i - 1]) return false;
  }
  return true;
}

// Rows of a two-dimensional table from the given line to the next header
// line: a line whose first token is a number is a row, with at most the
// columns a lookup can reach.
TableRows RowsFrom(const TableFile& f, std::size_t line) {
  TableRows r;
  std::vector<double> values;
  for (; line < f.LineCount(); ++line) {
    const std::size_t first = f.lineStart[line];
    const std::size_t end = f.lineStart[line + 1];
    if (first == end) continue;
    if (f.tokens[first].isHeader) break;
    if (!f.tokens[first].isNumber) continue;
    values.clear();
    for (std::size_t q = first + 1; q < end && values.size() < kMaxTableColumns; ++q) {
      values.push_back(f.Value(f.tokens[q]));
    }
    r.AddRow(f.Value(f.tokens[first]), values);
  }
  r.increasing = NeverDecreasing(r.keys);
  r.Finish();
  return r;
}

}  // namespace

void TableRows::AddRow(double key, const std::vector<double>& values) {
  keys.push_back(key);
  uniform_ = false;
  starts_.push_back(static_cast<uint32_t>(values_.size()));
  values_.insert(values_.end(), values.begin(), values.end());
  widest_ = std::max(widest_, static_cast<int>(values.size()));
  carried_.clear();
}

void TableRows::Finish() {
  const std::size_t w = static_cast<std::size_t>(widest_);
  uniform_ = widest_ > 0 && values_.size() == keys.size() * w;
  carried_.clear();
  if (uniform_) {
    starts_.clear();
    starts_.shrink_to_fit();
    return;
  }
  // The carried columns, where they take at most four times the room of
  // the numbers themselves (or little room at all).
  if (widest_ == 0 || keys.size() * w > std::max<std::size_t>(4 * values_.size(), 65536)) return;
  carried_.resize(keys.size() * w);
  for (std::size_t j = 0; j < w; ++j) {
    double value = 0.0;
    for (std::size_t i = 0; i < keys.size(); ++i) {
      const std::size_t end = i + 1 < starts_.size() ? starts_[i + 1] : values_.size();
      if (starts_[i] + j < end) value = values_[starts_[i] + j];
      carried_[i * w + j] = value;
    }
  }
}

double TableRows::WalkBack(std::size_t column, std::size_t row) const {
  for (std::size_t i = row + 1; i-- > 0;) {
    const std::size_t end = i + 1 < starts_.size() ? starts_[i + 1] : values_.size();
    if (starts_[i] + column < end) return values_[starts_[i] + column];
  }
  return 0.0;
}

std::size_t TableRows::FirstAbove(double x, uint32_t* hint) const {
  if (increasing) {
    const std::size_t n = keys.size();
    if (hint) {
      // The row found last time is the answer when x still lies below it and
      // not below the row before (the only such row: the keys never decrease).
      const std::size_t h = *hint;
      if (h <= n && (h == 0 || keys[h - 1] <= x) && (h == n || x < keys[h])) return h;
    }
    const auto i =
        static_cast<std::size_t>(std::upper_bound(keys.begin(), keys.end(), x) - keys.begin());
    if (hint) *hint = static_cast<uint32_t>(i);
    return i;
  }
  std::size_t i = 0;
  while (i < keys.size() && !(keys[i] > x)) ++i;
  return i;
}

Table1 CompileTable1(const TableFile& f, std::string_view tableNumber) {
  Table1 t;
  std::size_t p = 0;
  if (!FindTable1(f, tableNumber, &p)) return t;
  t.found = true;
  const auto& tok = f.tokens;
  std::vector<double> values;
  for (;;) {
    // The next number token is a row's key; a header ends the table.
    std::size_t row = tok.size();
    while (p < tok.size()) {
      const std::size_t k = p++;
      if (tok[k].isHeader) break;
      if (tok[k].isNumber) {
        row = k;
        break;
      }
    }
    if (row == tok.size()) break;
    values.clear();
    const std::size_t line = f.LineOf(row);
    const std::size_t end = StartOfLine(f, line + 1);
    for (std::size_t q = p; q < end; ++q) values.push_back(f.Value(tok[q]));
    t.rows.AddRow(f.Value(tok[row]), values);
    p = end;
  }
  t.rows.increasing = NeverDecreasing(t.rows.keys);
  t.rows.Finish();
  return t;
}

Table2 CompileTable2(const TableFile& f, std::string_view tableNumber) {
  Table2 t;
  std::size_t p = 0;
  if (!FindTable2(f, tableNumber, &p)) return t;
  t.found = true;
  const auto& tok = f.tokens;
  const std::size_t headerLine = f.LineOf(p - 1);
  // The key line: the line of the first number after the header; its keys
  // are the numbers from there to the end of that line.
  std::size_t q = p;
  while (q < tok.size() && !tok[q].isNumber) ++q;
  if (q < tok.size()) {
    const uint32_t keyLine = f.LineOf(q);
    for (const std::size_t end = StartOfLine(f, keyLine + 1); q < end; ++q) {
      if (tok[q].isNumber) t.keys.push_back(f.Value(tok[q]));
    }
    t.rows = RowsFrom(f, keyLine + 1);
  }
  t.keysIncreasing = NeverDecreasing(t.keys);
  t.rowsAfterHeader = RowsFrom(f, headerLine + 1);
  return t;
}

bool Lookup1(const Table1& t, char mode, double x, int column, double* result,
             LookupHint* hint) {
  if (!t.found) return false;
  // The implicit row at 0 already lies above a negative argument.
  if (0.0 > x) {
    *result = 0.0;
    return true;
  }
  const TableRows& r = t.rows;
  const std::size_t i = r.FirstAbove(x, hint ? &hint->row : nullptr);
  if (i == r.keys.size()) return false;
  const double xCur = r.keys[i];
  const double yCur = column == 0 ? xCur : r.Value(column, i);
  double xPrev = 0, yPrev = 0;
  if (i > 0) {
    xPrev = r.keys[i - 1];
    yPrev = column == 0 ? xPrev : r.Value(column, i - 1);
  }
  if (xCur - xPrev == 0.0) {
    *result = yPrev;
  } else {
    *result = Between(mode, xPrev, xCur, yPrev, yCur, x);
  }
  return true;
}

bool Lookup2(const Table2& t, char columnMode, char rowMode, double columnArg, double rowArg,
             double* result, LookupHint* hint) {
  if (!t.found) return false;
  // Column: the first key at least as large as the argument, else the last
  // two keys; none for an argument at or below the implicit zero column.
  int c = 0;
  double kPrev = 0, kCur = 0;
  const std::size_t nKeys = t.keys.size();
  if (0.0 < columnArg && nKeys > 0) {
    std::size_t i;
    if (t.keysIncreasing) {
      // The first key at least as large: the hint's when it is that key.
      const std::size_t h = hint ? hint->column : nKeys + 1;
      if (h <= nKeys && (h == 0 || t.keys[h - 1] < columnArg) &&
          (h == nKeys || !(t.keys[h] < columnArg))) {
        i = h;
      } else {
        i = static_cast<std::size_t>(
            std::lower_bound(t.keys.begin(), t.keys.end(), columnArg) - t.keys.begin());
        if (hint) hint->column = static_cast<uint32_t>(i);
      }
    } else {
      i = 0;
      while (i < nKeys && t.keys[i] < columnArg) ++i;
    }
    if (i == nKeys) i = nKeys - 1;
    c = static_cast<int>(i) + 1;
    kCur = t.keys[i];
    kPrev = i > 0 ? t.keys[i - 1] : 0.0;
  }
  const TableRows& r = c == 0 ? t.rowsAfterHeader : t.rows;

  double rPrev = 0, rCur = 0, lowPrev = 0, highPrev = 0, lowCur = 0, highCur = 0;
  if (!(0.0 > rowArg)) {
    if (r.keys.empty()) return false;
    if (c > kMaxTableColumns) {
      // Beyond the columns that take part: the first row ends the scan.
      rCur = r.keys[0];
    } else {
      const std::size_t i = r.FirstAbove(rowArg, hint ? &hint->row : nullptr);
      if (i == r.keys.size()) return false;
      auto low = [&](std::size_t row) { return c >= 2 ? r.Value(c - 1, row) : 0.0; };
      auto high = [&](std::size_t row) { return c >= 1 ? r.Value(c, row) : 0.0; };
      rCur = r.keys[i];
      lowCur = low(i);
      highCur = high(i);
      if (i > 0) {
        rPrev = r.keys[i - 1];
        lowPrev = low(i - 1);
        highPrev = high(i - 1);
      }
    }
  }
  // Arguments at or below the zero column and row give 0, once the scans
  // have found their rows.
  if (columnArg <= 0.0 || rowArg < 0.0) {
    *result = 0.0;
    return true;
  }
  const double vPrev = Between(columnMode, kPrev, kCur, lowPrev, highPrev, columnArg);
  const double vCur = Between(columnMode, kPrev, kCur, lowCur, highCur, columnArg);
  *result = (rCur - rPrev == 0.0) ? vPrev : Between(rowMode, rPrev, rCur, vPrev, vCur, rowArg);
  return true;
}

}  // namespace drivanto
