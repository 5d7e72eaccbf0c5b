// The bundled drive cycles followed to their end, the distance driven against
// the schedules, and the ways a run ends: mode 100, full time, full length.

#include <cmath>
#include <fstream>
#include <sstream>

#include "batch_harness.h"

namespace drivanto::testing {
namespace {

struct CycleFacts {
  double trapezoidDistance = 0;  // m, up to the first mode-100 row
  double endPosition = -1;       // position of the first mode-100 row
  double climb = 0;              // slope x segment length, map cycles: the height gained
};

// Reads a cycle file as plain rows of six numbers.
CycleFacts Facts(const std::string& file) {
  std::ifstream in(file);
  std::vector<std::vector<double>> rows;
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream f(line);
    std::vector<double> r;
    for (double x; f >> x;) r.push_back(x);
    if (r.size() == 6) rows.push_back(r);
  }
  CycleFacts c;
  for (std::size_t i = 0; i + 1 < rows.size(); ++i) {
    if (rows[i][3] == 100) {
      c.endPosition = rows[i][0];
      break;
    }
    const double span = rows[i + 1][0] - rows[i][0];
    c.trapezoidDistance += (rows[i][1] + rows[i + 1][1]) / 2 * span;
    c.climb += rows[i][2] * span / 100;
  }
  return c;
}

TEST(BatchCycles, MapCycleKartaRunsToItsEndWithTheDefaultConstants) {
  BatchFolder f;  // the settings the scenarios were written for
  const CycleFacts karta = Facts(f / "KARTA.CYK");
  ASSERT_EQ(karta.endPosition, 13700);
  EXPECT_NEAR(karta.climb, 4.0, 1e-9);

  const RunSummary j = f.RunModel({});
  EXPECT_EQ(j.endReason, "mode100");
  EXPECT_FALSE(f.Exists("ERROR.TAB"));
  // The mode-100 row is reached, the row after it (13710 m) never becomes active.
  EXPECT_GE(j.ltot, 13700);
  EXPECT_LT(j.ltot, 13710);
  EXPECT_LT(j.ttot, 3000);  // well before the full time of CONS.VAL
  // The climbs and descents of the map leave the car 4 m above the start.
  EXPECT_NEAR(j.height, karta.climb, 0.3);
  // Charging never came on (used capacity stays below 60 %): no fuel used.
  EXPECT_LT(j.usedCapacity, 60);
  EXPECT_EQ(j.fuelUsed, 0);
  // "0111" in CONS.VAL is read as "0110": only result file 2, one row a step.
  EXPECT_FALSE(f.Exists("RESULT1.TXT"));
  const Rows rows = f.ResultRows("RESULT2.TXT");
  EXPECT_EQ(static_cast<double>(rows.size()), j.steps);
  // Real time on the simulated clock: 0.04 s a step.
  EXPECT_NEAR(rows.back()[r2::ttot], j.ttot, 0.05);
  EXPECT_NEAR(j.ttot / j.steps, 0.04, 1e-4);
}

// The bundled default shows what the program is about: the car moves at
// once, the engine-generator comes on within the first three minutes and
// the run ends with fuel used and emissions.
TEST(BatchCycles, TheBundledDefaultRunShowsTheHybridAtWork) {
  BatchFolder f(DRIVANTO_TEST_DATA_DIR);
  const RunSummary j = f.RunModel(Set({"Spara=1100"}));
  EXPECT_EQ(j.endReason, "mode100");
  for (double amount : {j.fuelUsed, j.CO, j.NOx, j.HC}) EXPECT_GT(amount, 0);
  const Rows r1 = f.ResultRows("RESULT1.TXT");
  const Rows r2 = f.ResultRows("RESULT2.TXT");
  double moving = -1, engineOn = -1;
  for (const auto& row : r1) {
    if (row[r1::v] >= 0.5) {
      moving = row[r1::ttot];
      break;
    }
  }
  for (const auto& row : r2) {
    if (row[r2::nic] > 0) {
      engineOn = row[r2::ttot];
      break;
    }
  }
  EXPECT_GE(moving, 0);
  EXPECT_LT(moving, 2.0);
  EXPECT_GE(engineOn, 0);
  EXPECT_LT(engineOn, 180);
}

TEST(BatchCycles, TimeCycleTidRunsToItsEndInRealTime) {
  BatchFolder f;
  const CycleFacts tid = Facts(f / "TID.CYK");
  // Letters are upper-cased as in the constants file: "t" is the time cycle.
  const RunSummary j = f.RunModel(Set({"cycleType=t", "Ttidd=TID.CYK", "fullTime=100000", "fullLength=1e7"}));
  EXPECT_EQ(j.endReason, "mode100");
  EXPECT_FALSE(f.Exists("ERROR.TAB"));
  EXPECT_GE(j.ttot, tid.endPosition);
  EXPECT_LT(j.ttot, tid.endPosition + 1);
  // The hill: up 4 % for 50 s, down 4 % for 30 s; the car ends higher up.
  EXPECT_GT(j.height, 0);
  EXPECT_NEAR(j.ltot, tid.trapezoidDistance, 0.03 * tid.trapezoidDistance);
}

// UDDS and HWFET followed with 0.2 s steps: the distance of the speed trace
// (trapezoidal sum of the rows) is driven to within 1 %.
TEST(BatchCycles, UddsAndHwfetDriveTheDistanceOfTheirSchedules) {
  struct Case {
    const char* file;
    double distance;  // trapezoidal, m
    double seconds;   // position of the end row
  };
  for (const Case c : {Case{"UDDS.CYK", 11990, 1370}, Case{"HWFET.CYK", 16507, 766}}) {
    SCOPED_TRACE(c.file);
    BatchFolder f;
    const CycleFacts facts = Facts(f / c.file);
    EXPECT_NEAR(facts.trapezoidDistance, c.distance, 1);
    EXPECT_EQ(facts.endPosition, c.seconds);

    const RunSummary j = f.RunModel(TimeCycle(c.file, "0.2"));
    EXPECT_EQ(j.endReason, "mode100");
    EXPECT_FALSE(f.Exists("ERROR.TAB"));
    EXPECT_NEAR(j.ltot, c.distance, 0.01 * c.distance);
    EXPECT_GE(j.ttot, c.seconds);
    EXPECT_LT(j.ttot, c.seconds + 1);
    EXPECT_EQ(j.height, 0);  // both schedules are level
  }
}

// A cycle at 10 m/s that would run for 1000 s.
const char* const kLevel10 =
    "0 10 0 0 1 0\n"
    "500 10 0 0 1 0\n"
    "1000 0 0 100 1 0\n"
    "1001 0 0 100 1 0\n";

TEST(BatchCycles, FullTimeAndFullLengthEndTheRun) {
  BatchFolder f;
  f.Write("L10.CYK", kLevel10);
  // From 0 s in steps of 0.5 s the time is exactly 30 s after 60 steps.
  const RunSummary t = f.RunModel(TimeCycle("L10.CYK", "0.5") + Set({"ttot=0", "fullTime=30", "timeMode=d"}));
  EXPECT_EQ(t.endReason, "fullTime");
  EXPECT_EQ(t.steps, 60);
  EXPECT_EQ(t.ttot, 30);
  // The first step that reaches 500 m ends it, at most one step of 5 m beyond.
  const RunSummary l = f.RunModel(TimeCycle("L10.CYK", "0.5") + Set({"fullLength=500"}));
  EXPECT_EQ(l.endReason, "fullLength");
  EXPECT_GE(l.ltot, 500);
  EXPECT_LT(l.ltot, 500 + 10 * 0.5 + 0.1);
}

TEST(BatchCycles, FixedIncrementOfZeroAdvancesByTheMinimum) {
  BatchFolder f;
  f.Write("L10.CYK", kLevel10);
  // An increment of 0 comes from the constants file (line 57); on the
  // command line it is refused.
  std::string constants = f.Read("CONS.VAL");
  std::vector<std::string> lines;
  for (std::size_t start = 0, end; (end = constants.find("\r\n", start)) != std::string::npos;
       start = end + 2) {
    lines.push_back(constants.substr(start, end - start));
  }
  ASSERT_GE(lines.size(), 57u);
  lines[56] = "0";
  constants.clear();
  for (const std::string& l : lines) constants += l + "\r\n";
  f.Write("CONS.VAL", constants);
  EXPECT_EQ(f.Run(TimeCycle("L10.CYK", "0")).code, 2);
  const RunSummary j = f.RunModel(Set({"cycleType=T", "Ttidd=L10.CYK", "timeMode=D", "fullTime=100000"}) +
                     Args{"--max-steps", "100"});
  // The screen set-up before the first step has already raised the
  // increment to its lower bound of 1 ms, so every step adds 0.001 s.
  EXPECT_NEAR(j.ttot, 0.01 + 100 * 0.001, 1e-9);
}

// A cycle whose only end row is its last row ends there, like a cycle that
// closes with two end rows; with neither it runs to the full time.
TEST(BatchCycles, ASingleEndRowEndsTheRunAtTheCyclesEnd) {
  BatchFolder f;
  struct Case {
    const char* name;
    const char* rows;
    const char* endReason;
    double ttot;
  };
  const Case cases[] = {
      {"one end row", "0 10 0 0 1 0\n550 5 0 0 1 0\n600 0 0 100 1 0\n", "mode100", 600},
      {"two end rows", "0 10 0 0 1 0\n550 5 0 0 1 0\n600 0 0 100 1 0\n601 0 0 100 1 0\n",
       "mode100", 601},
      {"one end row and blank lines", "0 10 0 0 1 0\n550 5 0 0 1 0\n600 0 0 100 1 0\n\n  \n",
       "mode100", 600},
      {"no end row", "0 10 0 0 1 0\n550 5 0 0 1 0\n600 0 0 0 1 0\n", "fullTime", 2000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    f.Write("C.CYK", c.rows);
    const RunSummary j = f.RunModel(TimeCycle("C.CYK", "0.5") + Set({"fullTime=2000"}));
    EXPECT_EQ(j.endReason, c.endReason);
    EXPECT_NEAR(j.ttot, c.ttot, 1.01);
    EXPECT_EQ(j.cycle.completed, std::string(c.endReason) == "mode100");
    // The map variant of the same rows (positions in metres).
    const RunSummary m = f.RunModel(MapCycle("C.CYK", "0.5") + Set({"fullTime=2000"}));
    EXPECT_EQ(m.endReason, c.endReason);
  }
}

TEST(BatchCycles, IncrementFromTheCycleRows) {
  BatchFolder f;
  f.Write("HALF.CYK", "0 10 0 0 0.5 0\n20 10 0 0 0.5 0\n40 0 0 100 0.5 0\n41 0 0 100 0.5 0\n");
  const RunSummary j = f.RunModel(Set({"cycleType=T", "Ttidd=HALF.CYK", "timeMode= ", "fullTime=1000"}));
  EXPECT_EQ(j.endReason, "mode100");
  EXPECT_GE(j.ttot, 40);
  EXPECT_LT(j.ttot, 42);
  // Half-second rows: about two steps per second of the cycle.
  EXPECT_NEAR(j.steps, 2 * j.ttot, 3);
}

}  // namespace
}  // namespace drivanto::testing
