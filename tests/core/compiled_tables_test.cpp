// The compiled tables against plain walks over the text (reference_tables.h):
// generated table files with short rows, decreasing and repeated keys, exact
// key hits, out-of-range arguments, titles, comments and several tables, in
// every mode of both lookups: the same values to the bit, the same failures.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "data/CompiledTables.h"
#include "reference_tables.h"

namespace drivanto::testing {
namespace {

class TableWriter {
 public:
  explicit TableWriter(uint32_t seed) : rng_(seed) {}

  std::string File() {
    std::string text;
    const int tables = Pick(1, 3);
    for (int t = 0; t < tables; ++t) text += Table(t);
    if (Chance(0.2)) text += "\r\n \r\n";
    return text;
  }
  // Keys that the last file used, to aim arguments at them.
  const std::vector<double>& keys() const { return keys_; }
  std::mt19937& rng() { return rng_; }
  int Pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
  bool Chance(double p) { return std::bernoulli_distribution(p)(rng_); }

 private:
  std::string Number(double v) {
    char buf[64];
    switch (Pick(0, 9)) {
      case 0: std::snprintf(buf, sizeof buf, "%.3e", v); break;
      case 1: std::snprintf(buf, sizeof buf, "%g", v); break;
      default: std::snprintf(buf, sizeof buf, "%.2f", v);
    }
    return buf;
  }
  std::string Value() {
    switch (Pick(0, 19)) {
      case 0: return "12,5";  // not a number: its leading digits count
      case 1: return "1.5x";
      case 2: return "abc";
      case 3: return "-";
      default: return Number(std::uniform_real_distribution<double>(-50, 500)(rng_));
    }
  }
  std::string Separator() {
    switch (Pick(0, 9)) {
      case 0: return "\t";
      case 1: return " ( ";
      case 2: return " * ";
      default: return "  ";
    }
  }
  std::string Eol() { return Chance(0.5) ? "\r\n" : "\n"; }

  std::vector<double> Keys(int n) {
    std::vector<double> k;
    double x = Chance(0.2) ? -Pick(1, 20) : (Chance(0.2) ? 0.0 : Pick(1, 20));
    const bool decreasing = Chance(0.15);
    for (int i = 0; i < n; ++i) {
      k.push_back(x);
      const double step = Chance(0.15) ? 0.0 : Pick(1, 30) * 0.5;
      x += decreasing && Chance(0.5) ? -step : step;
    }
    keys_.insert(keys_.end(), k.begin(), k.end());
    return k;
  }

  std::string Header(int index) {
    static const char* const kWords[] = {"TAB", "Tab", "tab", "Tabell", "TAB1", "tabx"};
    std::string h = kWords[Pick(0, 5)];
    if (Chance(0.9)) {
      h += Chance(0.2) ? "\t" : " ";
      h += Chance(0.1) ? "01" : std::to_string(index + 1);
      if (Chance(0.3)) h += " title words";
    }
    return h;
  }

  std::string Table(int index) {
    std::string text;
    if (Chance(0.3)) text += "Comment line with words" + Eol();
    text += Header(index) + Eol();
    if (Chance(0.3)) text += "unit line rpm Nm" + Eol();
    if (Chance(0.2)) text += Eol();
    const bool twoD = Chance(0.5);
    int columns = Pick(1, 6);
    if (twoD && Chance(0.1)) columns = Pick(29, 33);
    if (twoD) {
      std::string line = Chance(0.2) ? "keys " : "";
      for (double k : Keys(columns)) line += Number(k) + Separator();
      text += line + Eol();
    }
    const int rows = Pick(0, 8);
    for (double r : Keys(rows)) {
      if (Chance(0.1)) text += "note" + Eol();
      if (Chance(0.05)) text += Eol();
      std::string line = Chance(0.05) ? "x " : "";
      line += Number(r);
      const int values = Chance(0.2) ? Pick(0, columns) : columns;
      for (int v = 0; v < values; ++v) line += Separator() + Value();
      text += line + Eol();
    }
    return text;
  }

  std::mt19937 rng_;
  std::vector<double> keys_;
};

std::vector<double> Arguments(TableWriter& w) {
  std::vector<double> a = {0.0,
                           -0.0,
                           -1.0,
                           1e-300,
                           1e300,
                           -1e300,
                           std::numeric_limits<double>::infinity(),
                           std::numeric_limits<double>::quiet_NaN()};
  for (double k : w.keys()) {
    a.push_back(k);
    a.push_back(std::nextafter(k, 1e308));
    a.push_back(std::nextafter(k, -1e308));
    a.push_back(k + 0.25);
  }
  for (int i = 0; i < 6; ++i)
    a.push_back(std::uniform_real_distribution<double>(-10, 150)(w.rng()));
  return a;
}

bool Same(double a, double b) {
  return std::memcmp(&a, &b, sizeof a) == 0 || (std::isnan(a) && std::isnan(b));
}

TEST(CompiledTables, AgreeWithTheWalkOverTheText) {
  const char kModes[] = {'i', '+', '-', 'x'};
  const char* const kNumbers[] = {"0", "1", "2", "3", "01", "9"};
  long compared = 0, failures = 0;
  for (uint32_t seed = 1; seed <= 1500; ++seed) {
    TableWriter w(seed);
    const std::string text = w.File();
    const TableFile f = TokenizeTable(text);
    const std::vector<double> args = Arguments(w);
    for (const char* number : kNumbers) {
      const Table1 t1 = CompileTable1(f, number);
      const Table2 t2 = CompileTable2(f, number);
      // Hints carried from lookup to lookup (and between tables) change no
      // result.
      LookupHint hint1, hint2;
      for (std::size_t i = 0; i < args.size(); ++i) {
        const double x = args[i];
        const char mode = kModes[i % 4];
        for (int column : {0, 1, 2, 5, -1, 40}) {
          double want = 0, got = 0;
          const bool ok = ReferenceTABR1(f, number, mode, x, column, &want);
          ASSERT_EQ(Lookup1(t1, mode, x, column, &got), ok)
              << "TABR1 table " << number << " x " << x << " column " << column << "\n"
              << text;
          double hinted = 0;
          ASSERT_EQ(Lookup1(t1, mode, x, column, &hinted, (i % 3) ? &hint1 : &hint2), ok);
          if (ok) {
            ASSERT_TRUE(Same(hinted, want)) << "with a hint, x " << x << "\n" << text;
          }
          if (ok) {
            ASSERT_TRUE(Same(got, want)) << got << " against " << want << " x " << x << "\n"
                                         << text;
          }
          failures += !ok;
          ++compared;
        }
        const double y = args[(i * 7 + seed) % args.size()];
        for (char rowMode : {'i', '+', '-'}) {
          double want = 0, got = 0;
          const bool ok = ReferenceTABR2(f, number, mode, rowMode, x, y, &want);
          ASSERT_EQ(Lookup2(t2, mode, rowMode, x, y, &got), ok)
              << "TABR2 table " << number << " args " << x << " / " << y << "\n"
              << text;
          double hinted = 0;
          ASSERT_EQ(Lookup2(t2, mode, rowMode, x, y, &hinted, (i % 3) ? &hint2 : &hint1), ok);
          if (ok) {
            ASSERT_TRUE(Same(hinted, want)) << "with a hint, " << x << " / " << y << "\n" << text;
          }
          if (ok) {
            ASSERT_TRUE(Same(got, want))
                << got << " against " << want << " args " << x << " / " << y << "\n"
                << text;
          }
          failures += !ok;
          ++compared;
        }
      }
    }
  }
  std::printf("compared %ld lookups, %ld of them outside their table\n", compared, failures);
  // The generator reaches both outcomes often.
  EXPECT_GT(failures, compared / 20);
  EXPECT_LT(failures, compared * 19 / 20);
}

TEST(CompiledTables, ShortRowsCarryTheValueOfTheRowAbove) {
  const TableFile f = TokenizeTable("TAB 1 \n1 10 100\n2 20\n3\n4 40 400\n");
  const Table1 t = CompileTable1(f, "1");
  ASSERT_TRUE(t.found);
  EXPECT_EQ(t.rows.keys, (std::vector<double>{1, 2, 3, 4}));
  const double column1[] = {10, 20, 20, 40}, column2[] = {100, 100, 100, 400};
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(t.rows.Value(1, i), column1[i]) << i;
    EXPECT_EQ(t.rows.Value(2, i), column2[i]) << i;
    EXPECT_EQ(t.rows.Value(3, i), 0) << i;  // no row has a third value
  }
  double v = 0;
  ASSERT_TRUE(Lookup1(t, 'i', 3, 2, &v));
  EXPECT_EQ(v, 100 + (400 - 100) * 0.0);  // on the row of 3: its carried value
  ASSERT_TRUE(Lookup1(t, 'i', 3.5, 2, &v));
  EXPECT_EQ(v, 250);
}

TEST(CompiledTables, AWideRowAmongManyShortOnesCarriesWithoutAColumnPerRow) {
  // 300 values on the first row, then 400 rows of one or two: carried
  // columns would take 120,000 values for the file's 1,000, so a lookup
  // walks back instead. Every value against the rule worked out row by row.
  std::string text = "TAB 1\nt\n0";
  std::vector<std::vector<double>> rows = {{}};
  for (int c = 0; c < 300; ++c) {
    text += " " + std::to_string(c + 1);
    rows[0].push_back(c + 1);
  }
  text += "\n";
  for (int r = 1; r <= 400; ++r) {
    rows.push_back({1000.0 + r});
    text += std::to_string(r) + " " + std::to_string(1000 + r);
    if (r % 7 == 0) {
      rows.back().push_back(2000.0 + r);
      text += " " + std::to_string(2000 + r);
    }
    text += "\n";
  }
  const Table1 t = CompileTable1(TokenizeTable(text), "1");
  ASSERT_EQ(t.rows.keys.size(), rows.size());
  for (int c : {1, 2, 3, 150, 300, 301}) {
    double carried = 0;
    for (std::size_t i = 0; i < rows.size(); ++i) {
      if (static_cast<std::size_t>(c) <= rows[i].size()) carried = rows[i][c - 1];
      ASSERT_EQ(t.rows.Value(c, i), c > 300 ? 0 : carried) << "column " << c << " row " << i;
    }
  }
}

TEST(CompiledTables, DecreasingKeysAreSearchedInFileOrder) {
  // 5 then 2: an argument of 3 stops at the first row above it (5), not at
  // the row a binary search over the sorted keys would give.
  const TableFile f = TokenizeTable("TAB 1 \n5 50\n2 20\n8 80\n");
  const Table1 t = CompileTable1(f, "1");
  EXPECT_FALSE(t.rows.increasing);
  double v = 0;
  ASSERT_TRUE(Lookup1(t, 'i', 3, 1, &v));
  EXPECT_EQ(v, 30);  // between the implicit zero and 5
  ASSERT_TRUE(Lookup1(t, 'i', 6, 1, &v));
  EXPECT_EQ(v, 20 + (80 - 20) * (6 - 2) / 6.0);
}

}  // namespace
}  // namespace drivanto::testing
