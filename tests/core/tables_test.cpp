#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <string>

#include "TempFolder.h"
#include "base/Errors.h"
#include "data/Tables.h"

namespace drivanto {
namespace {

// Engine torque over speed: a free text first, a title and a unit line, CR LF
// line ends, and a row (2000) with fewer values than the others.
const char* kTorque =
    "Engine torque and friction, measured 1998\r\n"
    "TAB 1\r\n"
    "Speed Torque\r\n"
    "rpm Nm Nm\r\n"
    "1000 50 5\r\n"
    "2000 80\r\n"
    "3000 100 30\r\n";

// Two rows with the same x make a step at x = 2.
const char* kStep =
    "TAB 1\n"
    "step\n"
    "1 10\n"
    "2 20\n"
    "2 30\n"
    "3 40\n"
    "TAB 2\n"
    "next table\n"
    "5 50\n"
    "9 90\n";

// Battery voltage over current (rows) and used capacity (columns), followed by
// another table.
const char* kVoltage =
    "Battery voltage while discharging\n"
    "TAB 3\n"
    "Voltage V\n"
    "10 20 40\n"
    "ampere\n"
    "5 100 200 400\n"
    "10 200 300 500\n"
    "\n"
    "20 300 400 600\n"
    "TAB 4\n"
    "t\n"
    "50 60\n"
    "100 1 1\n"
    "200 1 1\n";

class Tables : public ::testing::Test {
 protected:
  Tables() { cache.errorFolder = dir.path(); }

  std::string Write(const std::string& name, const std::string& text) {
    return dir.Write(name, text);
  }
  std::string ErrorFile() const { return testing::TempFolder::ReadBytes(dir / "ERROR.TAB"); }

  testing::TempFolder dir;
  TableCache cache;
};

TEST_F(Tables, ArgumentOnARowGivesThatRow) {
  std::string f = Write("FORB.TAB", kTorque);
  EXPECT_DOUBLE_EQ(TABR1(cache, f, "1", 'i', 2000, 1), 80);
  EXPECT_DOUBLE_EQ(TABR1(cache, f, "1", '-', 2000, 1), 80);
  EXPECT_DOUBLE_EQ(TABR1(cache, f, "1", '+', 2000, 1), 100);  // the next row
  EXPECT_DOUBLE_EQ(TABR1(cache, f, "1", 'i', 1000, 1), 50);
  // Between rows.
  EXPECT_DOUBLE_EQ(TABR1(cache, f, "1", 'i', 1500, 1), 65);
  EXPECT_DOUBLE_EQ(TABR1(cache, f, "1", '+', 1500, 1), 80);
  EXPECT_DOUBLE_EQ(TABR1(cache, f, "1", '-', 1500, 1), 50);
  EXPECT_DOUBLE_EQ(TABR1(cache, f, "1", 'i', 2999, 1), 99.98);
}

TEST_F(Tables, BelowTheFirstRowTheTableGoesToZero) {
  std::string f = Write("FORB.TAB", kTorque);
  EXPECT_DOUBLE_EQ(TABR1(cache, f, "1", 'i', 500, 1), 25);
  EXPECT_DOUBLE_EQ(TABR1(cache, f, "1", '+', 500, 1), 50);
  EXPECT_DOUBLE_EQ(TABR1(cache, f, "1", '-', 500, 1), 0);
  EXPECT_DOUBLE_EQ(TABR1(cache, f, "1", 'i', 0, 1), 0);
  // A negative argument gives 0 whatever the table and the mode.
  EXPECT_EQ(TABR1(cache, f, "1", 'i', -1, 1), 0);
  EXPECT_EQ(TABR1(cache, f, "1", '+', -1e9, 1), 0);
  EXPECT_EQ(TABR1(cache, f, "1", 'i', -0.001, 0), 0);
}

TEST_F(Tables, TwoRowsWithTheSameXMakeAStep) {
  std::string f = Write("STEP.TAB", kStep);
  EXPECT_DOUBLE_EQ(TABR1(cache, f, "1", 'i', 1.5, 1), 15);  // toward the first of the two
  EXPECT_DOUBLE_EQ(TABR1(cache, f, "1", 'i', 2, 1), 30);    // the second
  EXPECT_DOUBLE_EQ(TABR1(cache, f, "1", '-', 2, 1), 30);
  EXPECT_DOUBLE_EQ(TABR1(cache, f, "1", 'i', 2.5, 1), 35);
}

TEST_F(Tables, ColumnZeroGivesTheArgumentWithinTheTable) {
  std::string f = Write("FORB.TAB", kTorque);
  EXPECT_DOUBLE_EQ(TABR1(cache, f, "1", 'i', 1500, 0), 1500);
  EXPECT_DOUBLE_EQ(TABR1(cache, f, "1", 'i', 2999, 0), 2999);
  EXPECT_DOUBLE_EQ(TABR1(cache, f, "1", 'i', 400, 0), 400);
  EXPECT_THROW(TABR1(cache, f, "1", 'i', 3000, 0), TableRangeError);
}

TEST_F(Tables, ShortRowKeepsTheValueOfTheRowBefore) {
  std::string f = Write("FORB.TAB", kTorque);
  // Column 2 is 5 at 1000, missing at 2000 (so 5 again) and 30 at 3000.
  EXPECT_DOUBLE_EQ(TABR1(cache, f, "1", 'i', 1500, 2), 5);
  EXPECT_DOUBLE_EQ(TABR1(cache, f, "1", 'i', 2000, 2), 5);
  EXPECT_DOUBLE_EQ(TABR1(cache, f, "1", 'i', 2500, 2), 17.5);
  // A column no row has stays at the implicit zero.
  EXPECT_EQ(TABR1(cache, f, "1", 'i', 2500, 7), 0);
}

TEST_F(Tables, SeparatorsBlankLinesAndCommentsArePassedOver) {
  std::string f = Write("SEP.TAB",
                        "TAB 3\n"
                        "Title\n"
                        "  \t\n"
                        "* measured values *\n"
                        "1(10)\n"
                        "!\n"
                        "2\t(20)\n"
                        "3\xE5"
                        "30\n"  // å (CP1252) separates like a blank
                        "4 40\n");
  EXPECT_DOUBLE_EQ(TABR1(cache, f, "3", 'i', 1.5, 1), 15);
  EXPECT_DOUBLE_EQ(TABR1(cache, f, "3", 'i', 2.5, 1), 25);
  EXPECT_DOUBLE_EQ(TABR1(cache, f, "3", 'i', 3.5, 1), 35);
}

TEST_F(Tables, TableNumbersAreComparedAsText) {
  std::string f = Write("NUM.TAB",
                        "TAB 01\nt\n1 100\n2 200\n"
                        "TAB 1\nt\n1 10\n2 20\n");
  EXPECT_DOUBLE_EQ(TABR1(cache, f, "1", 'i', 1.5, 1), 15);
  EXPECT_DOUBLE_EQ(TABR1(cache, f, "01", 'i', 1.5, 1), 150);
  EXPECT_DOUBLE_EQ(TABR1(cache, f, "0", 'i', 1.5, 1), 150);  // the first table
  EXPECT_THROW(TABR1(cache, f, "001", 'i', 1.5, 1), TableRangeError);
  EXPECT_THROW(TABR1(cache, f, "", 'i', 1.5, 1), TableRangeError);
  // A header without a number matches only the request for the first table.
  std::string g = Write("NONUM.TAB", "TAB\nt\n1 10\n2 20\n");
  EXPECT_DOUBLE_EQ(TABR1(cache, g, "0", 'i', 1.5, 1), 15);
  EXPECT_THROW(TABR1(cache, g, "", 'i', 1.5, 1), TableRangeError);
  EXPECT_THROW(TABR2(cache, g, "", 'i', 'i', 1, 1.5), TableRangeError);
}

TEST_F(Tables, HeaderWordsBeginWithTabInOneOfThreeSpellings) {
  std::string f = Write("HDR.TAB",
                        "Tabell 4\nt\n1 40\n2 80\n"
                        "tab 5\nt\n1 50\n2 100\n"
                        "Tab1 6\nt\n1 60\n2 120\n"
                        "TABLE 7\nt\n1 70\n2 140\n");
  EXPECT_DOUBLE_EQ(TABR1(cache, f, "4", 'i', 1, 1), 40);
  EXPECT_DOUBLE_EQ(TABR1(cache, f, "5", 'i', 1, 1), 50);
  EXPECT_DOUBLE_EQ(TABR1(cache, f, "6", 'i', 1, 1), 60);
  EXPECT_DOUBLE_EQ(TABR1(cache, f, "7", 'i', 1, 1), 70);
  // Each table ends at the next header.
  EXPECT_THROW(TABR1(cache, f, "4", 'i', 2, 1), TableRangeError);
  // Mixed spellings are not headers.
  std::string g = Write("MIX.TAB", "tAB 9\nt\n1 10\n2 20\n");
  EXPECT_THROW(TABR1(cache, g, "9", 'i', 1, 1), TableRangeError);
}

TEST_F(Tables, BlankAfterTheTableNumberMakesTheTitleLineCount) {
  std::string f = Write("TITLE.TAB",
                        "TAB 7 \ntitle 5 90\n10 100\n20 200\n"
                        "TAB 8\ntitle 5 90\n10 100\n20 200\n");
  // With the blank the title line is a row (5, 90) ...
  EXPECT_DOUBLE_EQ(TABR1(cache, f, "7", 'i', 7.5, 1), 95);
  // ... without it the title line is skipped and the rows start at 10.
  EXPECT_DOUBLE_EQ(TABR1(cache, f, "8", 'i', 7.5, 1), 75);
  // TABR2 searches line by line and skips nothing after the header.
  EXPECT_DOUBLE_EQ(TABR2(cache, f, "8", 'i', 'i', 5, 15), 150);
}

TEST_F(Tables, ArgumentAboveTheLastRowWritesTheErrorFile) {
  std::string f = Write("STEP.TAB", kStep);
  testing::TempFolder::WriteBytes(dir / "ERROR.TAB",
                                  "an older error file, longer than the new one\r\n"
                                  "second line\r\nthird line\r\n");
  try {
    TABR1(cache, f, "1", 'i', 3.5, 1);
    FAIL() << "no range error";
  } catch (const TableRangeError& e) {
    EXPECT_EQ(e.line1(), "Avbrott p g a att TABR1 inte funnit något invärde i " + f);
    EXPECT_EQ(e.line2(), "tabell nr 1 som är större än  3.50000000000000E+0000");
  }
  EXPECT_EQ(ErrorFile(), "Avbrott p g a att TABR1 inte funnit n\x86got inv\x84rde i " + f +
                             "\r\n"
                             "tabell nr 1 som \x84r st\x94rre \x84n  3.50000000000000E+0000\r\n");
  // The last row itself is out of range too (a greater row is needed), and
  // the rows of the next table are not taken.
  EXPECT_THROW(TABR1(cache, f, "1", 'i', 3, 1), TableRangeError);
  EXPECT_THROW(TABR1(cache, f, "1", '-', 4, 1), TableRangeError);
  EXPECT_DOUBLE_EQ(TABR1(cache, f, "2", 'i', 7, 1), 70);
  EXPECT_THROW(TABR1(cache, f, "2", 'i', 9, 1), TableRangeError);
  EXPECT_EQ(ErrorFile(), "Avbrott p g a att TABR1 inte funnit n\x86got inv\x84rde i " + f +
                             "\r\n"
                             "tabell nr 2 som \x84r st\x94rre \x84n  9.00000000000000E+0000\r\n");
}

TEST_F(Tables, MissingTableOrEmptyFileIsOutOfRange) {
  std::string f = Write("FORB.TAB", kTorque);
  EXPECT_THROW(TABR1(cache, f, "2", 'i', -5, 1), TableRangeError);
  EXPECT_EQ(ErrorFile(), "Avbrott p g a att TABR1 inte funnit n\x86got inv\x84rde i " + f +
                             "\r\n"
                             "tabell nr 2 som \x84r st\x94rre \x84n -5.00000000000000E+0000\r\n");
  EXPECT_THROW(TABR2(cache, f, "2", 'i', 'i', 1, 1), TableRangeError);
  std::string empty = Write("EMPTY.TAB", "");
  EXPECT_THROW(TABR1(cache, empty, "0", 'i', 1, 1), TableRangeError);
  EXPECT_THROW(TABR2(cache, empty, "0", 'i', 'i', 1, 1), TableRangeError);
  // A header with no rows after it.
  std::string bare = Write("BARE.TAB", "TAB 1\n");
  EXPECT_THROW(TABR1(cache, bare, "1", 'i', 1, 1), TableRangeError);
  EXPECT_THROW(TABR2(cache, bare, "1", 'i', 'i', 1, 1), TableRangeError);
}

TEST_F(Tables, TokensThatAreNotNumbers) {
  std::string f = Write("JUNK.TAB",
                        "TAB 1\nt\n"
                        "1 10\n"
                        "abc 12,5 3 30\n"  // 12,5 is no x: the row is (3, 30)
                        "5 50\n"
                        "TAB 2\nt\n"
                        "1 10\n"
                        "2 12,5\n"
                        "3 1.5x\n"
                        "4 abc\n"
                        "5 50\n");
  EXPECT_DOUBLE_EQ(TABR1(cache, f, "1", 'i', 2, 1), 20);
  EXPECT_DOUBLE_EQ(TABR1(cache, f, "1", 'i', 4, 1), 40);
  // As values they give the number they begin with, or 0.
  EXPECT_DOUBLE_EQ(TABR1(cache, f, "2", '-', 2, 1), 12);
  EXPECT_DOUBLE_EQ(TABR1(cache, f, "2", '-', 3, 1), 1.5);
  EXPECT_DOUBLE_EQ(TABR1(cache, f, "2", '-', 4, 1), 0);
  EXPECT_DOUBLE_EQ(TABR1(cache, f, "2", 'i', 4.5, 1), 25);
}

TEST_F(Tables, TwoDimensionalArgumentsOnKeys) {
  std::string f = Write("BAT.TAB", kVoltage);
  EXPECT_DOUBLE_EQ(TABR2(cache, f, "3", 'i', 'i', 20, 10), 300);
  EXPECT_DOUBLE_EQ(TABR2(cache, f, "3", '+', 'i', 20, 10), 300);  // that column
  EXPECT_DOUBLE_EQ(TABR2(cache, f, "3", '-', 'i', 20, 10), 200);  // the column before
  EXPECT_DOUBLE_EQ(TABR2(cache, f, "3", 'i', '-', 20, 10), 300);
  EXPECT_DOUBLE_EQ(TABR2(cache, f, "3", 'i', '+', 20, 10), 400);  // the next row
  EXPECT_DOUBLE_EQ(TABR2(cache, f, "3", 'i', 'i', 10, 5), 100);
  EXPECT_DOUBLE_EQ(TABR2(cache, f, "3", '-', 'i', 10, 5), 0);  // the zero column
  EXPECT_DOUBLE_EQ(TABR2(cache, f, "3", 'i', 'i', 40, 10), 500);
  EXPECT_DOUBLE_EQ(TABR2(cache, f, "0", 'i', 'i', 40, 10), 500);
}

TEST_F(Tables, TwoDimensionalInterpolationAndExtrapolation) {
  std::string f = Write("BAT.TAB", kVoltage);
  EXPECT_DOUBLE_EQ(TABR2(cache, f, "3", 'i', 'i', 30, 15), 450);
  EXPECT_DOUBLE_EQ(TABR2(cache, f, "3", '+', '-', 30, 15), 500);
  EXPECT_DOUBLE_EQ(TABR2(cache, f, "3", '-', '+', 30, 15), 400);
  // Above the last key: the last two columns are extended.
  EXPECT_DOUBLE_EQ(TABR2(cache, f, "3", 'i', 'i', 60, 10), 700);
  EXPECT_DOUBLE_EQ(TABR2(cache, f, "3", 'i', 'i', 50, 15), 650);
  // Below the first key: toward the zero column; below the first row: toward 0.
  EXPECT_DOUBLE_EQ(TABR2(cache, f, "3", 'i', 'i', 5, 10), 100);
  EXPECT_DOUBLE_EQ(TABR2(cache, f, "3", 'i', 'i', 5, 15), 125);
  EXPECT_DOUBLE_EQ(TABR2(cache, f, "3", 'i', 'i', 10, 2.5), 50);
  EXPECT_DOUBLE_EQ(TABR2(cache, f, "3", 'i', 'i', 10, 0), 0);
  // Zero or negative arguments.
  EXPECT_EQ(TABR2(cache, f, "3", 'i', 'i', 0, 10), 0);
  EXPECT_EQ(TABR2(cache, f, "3", 'i', 'i', -5, 10), 0);
  EXPECT_EQ(TABR2(cache, f, "3", 'i', 'i', 20, -1), 0);
  // The rows are scanned all the same: a row argument beyond the table is out
  // of range even with a column argument of 0 (a coasting motor's torque).
  EXPECT_THROW(TABR2(cache, f, "3", 'i', 'i', 0, 25), TableRangeError);
  EXPECT_THROW(TABR2(cache, f, "3", 'i', 'i', -0.0, 20), TableRangeError);
}

TEST_F(Tables, TwoDimensionalRowAboveTheLastWritesTheErrorFile) {
  std::string f = Write("BAT.TAB", kVoltage);
  try {
    TABR2(cache, f, "3", 'i', 'i', 20, 25);
    FAIL() << "no range error";
  } catch (const TableRangeError& e) {
    EXPECT_EQ(e.line1(), "Avbrott p g a att TABR2 inte funnit något invärdepar i " + f);
    EXPECT_EQ(e.line2(),
              "tabell nr 3 som är större än  2.00000000000000E+0001 /  2.50000000000000E+0001");
  }
  EXPECT_EQ(ErrorFile(), "Avbrott p g a att TABR2 inte funnit n\x86got inv\x84rdepar i " + f +
                             "\r\n"
                             "tabell nr 3 som \x84r st\x94rre \x84n  2.00000000000000E+0001 /  "
                             "2.50000000000000E+0001\r\n");
  // The last row needs a greater one after it; table 4 does not supply it.
  EXPECT_THROW(TABR2(cache, f, "3", 'i', 'i', 20, 20), TableRangeError);
  EXPECT_THROW(TABR2(cache, f, "7", 'i', 'i', 20, 5), TableRangeError);
  EXPECT_DOUBLE_EQ(TABR2(cache, f, "4", 'i', 'i', 60, 150), 1);
}

TEST_F(Tables, AtMostThirtyColumnsTakePart) {
  // Keys 10, 20, ... 320; the value in column j of row r is r + j.
  std::string text = "TAB 1\nwide\n";
  for (int j = 1; j <= 32; ++j)
    text += "k" + std::to_string(j) + " " + std::to_string(10 * j) + " ";
  text += "\n";
  for (int r : {0, 100}) {
    text += std::to_string(r);
    for (int j = 1; j <= 32; ++j) text += " " + std::to_string(r + j);
    text += "\n";
  }
  std::string f = Write("WIDE.TAB", text);
  EXPECT_DOUBLE_EQ(TABR2(cache, f, "1", 'i', 'i', 30, 50), 53);  // labels on the key line skipped
  EXPECT_DOUBLE_EQ(TABR2(cache, f, "1", 'i', 'i', 300, 50), 80);
  EXPECT_DOUBLE_EQ(TABR2(cache, f, "1", 'i', 'i', 295, 50), 79.5);
  // Beyond the 30th column the scan stops at the first row: nothing is read.
  EXPECT_EQ(TABR2(cache, f, "1", 'i', 'i', 305, 50), 0);
  EXPECT_EQ(TABR2(cache, f, "1", 'i', 'i', 320, 5000), 0);
}

TEST_F(Tables, AnEditBetweenTwoLookupsIsSeen) {
  std::string f = Write("ELM.TAB", "TAB 1\nt\n1 10\n2 20\n3 30\n");
  EXPECT_DOUBLE_EQ(TABR1(cache, f, "1", 'i', 1.5, 1), 15);
  EXPECT_DOUBLE_EQ(TABR1(cache, f, "1", 'i', 2.5, 1), 25);
  EXPECT_EQ(cache.reads, 1);  // an unchanged file is tokenised once

  // Rewritten in place with another size.
  testing::TempFolder::WriteBytes(f, "TAB 1\nt\n1 100\n2 200\n3 300\n");
  EXPECT_DOUBLE_EQ(TABR1(cache, f, "1", 'i', 1.5, 1), 150);

  // Replaced by another file of the same size.
  std::string tmp = Write("ELM.NEW", "TAB 1\nt\n1 500\n2 600\n3 700\n");
  ASSERT_EQ(std::rename(tmp.c_str(), f.c_str()), 0);
  EXPECT_DOUBLE_EQ(TABR1(cache, f, "1", 'i', 1.5, 1), 550);

  // Rewritten in place with the same size at once, within the resolution of
  // the file times.
  testing::TempFolder::WriteBytes(f, "TAB 1\nt\n1 900\n2 800\n3 700\n");
  EXPECT_DOUBLE_EQ(TABR1(cache, f, "1", 'i', 1.5, 1), 850);
  testing::TempFolder::WriteBytes(f, "TAB 1\nt\n1 901\n2 801\n3 701\n");
  EXPECT_DOUBLE_EQ(TABR1(cache, f, "1", 'i', 1.5, 1), 851);

  // The same edits are seen with the cache switched off.
  TableCache plain;
  plain.enabled = false;
  EXPECT_DOUBLE_EQ(TABR1(plain, f, "1", 'i', 1.5, 1), 851);
}

TEST_F(Tables, AnEditThatKeepsSizeAndFileTimeIsSeen) {
  // An old table file, overwritten in place by a copy of the same size that
  // keeps the old modification time (as "cp -p" or an unpacked archive does).
  const struct timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
  std::string f = Write("BR.TAB", "TAB 1\nt\n1 10\n2 20\n3 30\n");
  ASSERT_EQ(::utimensat(AT_FDCWD, f.c_str(), old, 0), 0);
  EXPECT_DOUBLE_EQ(TABR1(cache, f, "1", 'i', 1.5, 1), 15);
  testing::TempFolder::WriteBytes(f, "TAB 1\nt\n1 70\n2 80\n3 90\n");
  ASSERT_EQ(::utimensat(AT_FDCWD, f.c_str(), old, 0), 0);
  EXPECT_DOUBLE_EQ(TABR1(cache, f, "1", 'i', 1.5, 1), 75);
}

TEST_F(Tables, MissingFileIsAnInputOutputError) {
  std::string f = dir / "NOPE.TAB";
  try {
    TABR1(cache, f, "1", 'i', 1, 1);
    FAIL() << "no error";
  } catch (const IoError& e) {
    EXPECT_EQ(e.file(), f);
    EXPECT_EQ(e.reason(), "file not found");
  }
  EXPECT_THROW(TABR2(cache, f, "1", 'i', 'i', 1, 1), IoError);
  EXPECT_FALSE(testing::TempFolder::Exists(dir / "ERROR.TAB"));

  // A file removed after a lookup is not served from the cache.
  std::string g = Write("GONE.TAB", kStep);
  EXPECT_DOUBLE_EQ(TABR1(cache, g, "1", 'i', 1.5, 1), 15);
  ASSERT_EQ(std::remove(g.c_str()), 0);
  EXPECT_THROW(TABR1(cache, g, "1", 'i', 1.5, 1), IoError);
}

TEST_F(Tables, FileNameMayDifferInLetterCase) {
  Write("bil1/bat.tab", kVoltage);
  EXPECT_DOUBLE_EQ(TABR2(cache, dir / "BIL1/BAT.TAB", "3", 'i', 'i', 20, 10), 300);
  EXPECT_DOUBLE_EQ(TABR2(cache, dir / "Bil1/Bat.Tab", "3", 'i', 'i', 30, 15), 450);
  EXPECT_THROW(TABR2(cache, dir / "BIL2/BAT.TAB", "3", 'i', 'i', 20, 10), IoError);
}

}  // namespace
}  // namespace drivanto
