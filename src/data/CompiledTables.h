#pragma once
// Tables scanned once into numbers. A one-dimensional table is its row keys
// and, per value column, the value of every row with the rule for short rows
// already applied (a row without the column carries the value of the row
// before it). A two-dimensional table adds its column keys. A lookup is then
// a search for the bracketing keys - binary where the keys increase, a pass
// in file order where they do not - and the same arithmetic as a lookup that
// walks the text.

#include <string_view>
#include <vector>

#include "data/TableText.h"

namespace drivanto {

// Rows in file order with their values per column.
struct TableRows {
  std::vector<double> keys;
  // columns[j][i]: value column j + 1 of row i, carried down over short rows.
  std::vector<std::vector<double>> columns;
  bool increasing = true;  // keys never decrease: binary search applies

  // Value column c (1-based) of row i; 0 for a column no row has.
  double Value(int c, std::size_t i) const {
    return (c >= 1 && c <= static_cast<int>(columns.size())) ? columns[c - 1][i] : 0.0;
  }
  // The first row whose key is strictly greater than x, or keys.size().
  std::size_t FirstAbove(double x) const;
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

// The lookups proper. They return false where the argument lies beyond the
// table (or the table is missing): the caller reports it.
bool Lookup1(const Table1& t, char mode, double x, int column, double* result);
bool Lookup2(const Table2& t, char columnMode, char rowMode, double columnArg, double rowArg,
             double* result);

}  // namespace drivanto
