#pragma once
// Tables scanned once into numbers. A one-dimensional table is its row keys
// and, per value column, the value of every row with the rule for short rows
// already applied (a row without the column carries the value of the row
// before it). A two-dimensional table adds its column keys. A lookup is then
// a search for the bracketing keys - binary where the keys increase, a pass
// in file order where they do not - and the same arithmetic as a lookup that
// walks the text.

#include <cstdint>
#include <string_view>
#include <vector>

#include "data/TableText.h"

namespace drivanto {

// Rows in file order with their values. A row without a value column carries
// the value of the row before it (0 before a column's first value). Rows that
// all hold the same number of values are read in place; other tables get
// their carried columns made once, when they are compiled, unless that would
// take far more room than the file's own numbers (a wide row among many short
// ones): then a lookup walks back to the row that holds the column. A
// compiled table is never changed by a lookup, so threads share it.
class TableRows {
 public:
  void AddRow(double key, const std::vector<double>& values);
  std::vector<double> keys;
  bool increasing = true;  // keys never decrease: binary search applies

  // After the last row.
  void Finish();
  // Value column c (1-based) of row i; 0 for a column no row has.
  double Value(int c, std::size_t i) const {
    if (c < 1 || c > widest_) return 0.0;
    const std::size_t j = static_cast<std::size_t>(c - 1);
    const std::size_t w = static_cast<std::size_t>(widest_);
    if (uniform_) return values_[i * w + j];
    if (!carried_.empty()) return carried_[i * w + j];
    return WalkBack(j, i);
  }
  // The first row whose key is strictly greater than x, or keys.size().
  // With a hint (the row found last time), a lookup that stays between the
  // same two rows skips the search.
  std::size_t FirstAbove(double x, uint32_t* hint = nullptr) const;
  // Every value of every row, as written (for summaries of a table).
  const std::vector<double>& values() const { return values_; }
  int widest() const { return widest_; }

 private:
  double WalkBack(std::size_t column, std::size_t row) const;
  std::vector<double> values_;       // all rows' values, row after row
  std::vector<uint32_t> starts_;  // where each row's values begin in values_
  int widest_ = 0;
  bool uniform_ = false;
  std::vector<double> carried_;  // row after row, every column, when made
};

struct Table1 {
  bool found = false;  // the file holds the table
  TableRows rows;
};

struct Table2 {
  bool found = false;
  std::vector<double> keys;  // the column keys of the key line
  bool keysIncreasing = true;
  TableRows rows;             // rows after the key line
  TableRows rowsAfterHeader;  // rows after the header (column argument <= 0)
};

Table1 CompileTable1(const TableFile& f, std::string_view tableNumber);
Table2 CompileTable2(const TableFile& f, std::string_view tableNumber);

// Where a place in the model found its row and column last time. A hint only
// saves work: a lookup gives the same result with it, without it, or with
// one left by any other table.
struct LookupHint {
  uint32_t row = 0;
  uint32_t column = 0;
};

// The lookups proper. They return false where the argument lies beyond the
// table (or the table is missing): the caller reports it.
bool Lookup1(const Table1& t, char mode, double x, int column, double* result,
             LookupHint* hint = nullptr);
bool Lookup2(const Table2& t, char columnMode, char rowMode, double columnArg, double rowArg,
             double* result, LookupHint* hint = nullptr);

}  // namespace drivanto
