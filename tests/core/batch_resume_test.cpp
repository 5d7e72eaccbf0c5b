// Runs stopped with a snapshot and started again from it go on exactly as
// the run made in one go; snapshots read back what they hold.

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "batch_harness.h"

namespace drivanto::testing {
namespace {

// Snapshots of the same state: every line equal (a snapshot keeps every bit
// of its reals, so a resumed run starts from exactly the saved values).
void ExpectSameSnapshot(const std::vector<std::string>& a, const std::vector<std::string>& b) {
  ASSERT_EQ(a.size(), b.size());
  std::string differences;
  for (std::size_t n = 1; n < a.size(); ++n) {
    if (a[n] != b[n])
      differences += "\n  line " + std::to_string(n) + ": " + a[n] + " against " + b[n];
  }
  EXPECT_TRUE(differences.empty()) << "snapshots differ:" << differences;
}

// Runs `run` in one go and again split after each of `splits` steps, in the
// same folder so that every file name is the same; the second part gets
// `resume` before the snapshot is loaded. Compares the result files and the
// final snapshots.
void ExpectSplitRunsEqualTheWholeRun(const BatchFolder& f, const Args& run,
                                     std::initializer_list<int> splits,
                                     const std::vector<std::string>& resultFiles,
                                     const Args& resume = {}) {
  const std::string final = f / "final.snap";
  auto whole = f.RunJson(run + Args{"--save-snapshot", final});
  ASSERT_EQ(whole["endReason"], "mode100");
  const auto wholeSnapshot = f.Snapshot("final.snap");
  std::vector<std::string> wholeRows;
  for (const auto& name : resultFiles) wholeRows.push_back(f.Read(name));
  for (int split : splits) {
    SCOPED_TRACE("split after " + std::to_string(split) + " steps");
    std::filesystem::remove(final);
    auto first = f.RunJson(
        run + Args{"--max-steps", std::to_string(split), "--save-snapshot", f / "part.snap"});
    EXPECT_EQ(first["endReason"], "maxSteps");
    auto second =
        f.RunJson(resume + Args{"--load-snapshot", f / "part.snap", "--save-snapshot", final});
    EXPECT_EQ(second["endReason"], "mode100");
    EXPECT_EQ(Num(first, "steps") + Num(second, "steps"), Num(whole, "steps"));
    EXPECT_NEAR(Num(second, "ltot"), Num(whole, "ltot"), 1e-9);
    for (std::size_t k = 0; k < resultFiles.size(); ++k) {
      EXPECT_TRUE(f.Read(resultFiles[k]) == wholeRows[k]) << resultFiles[k] << " differs";
    }
    ExpectSameSnapshot(f.Snapshot("final.snap"), wholeSnapshot);
  }
}

// A long urban run split where a 15-digit snapshot lost the last bits of the
// time (the halves then parted at row 15,942): identical result files.
TEST(BatchResume, UrbanScheduleSplitAtStep12000) {
  BatchFolder f;
  ExpectSplitRunsEqualTheWholeRun(f, TimeCycle("UDDS.CYK", "0.04") + Set({"Spara=1100"}), {12000},
                                  {"RESULT1.TXT", "RESULT2.TXT"});
}

TEST(BatchResume, MapCycleWithFixedIncrement) {
  BatchFolder f;
  ExpectSplitRunsEqualTheWholeRun(f, MapCycle("KARTA.CYK", "1") + Set({"Spara=1100"}), {2, 600},
                                  {"RESULT1.TXT", "RESULT2.TXT"});
}

TEST(BatchResume, TimeCycleInRealTimeOnTheSimulatedClock) {
  BatchFolder f;
  f.Write("R.CYK", "0 10 0 0 1 0\n20 15 2 0 1 0\n40 0 0 100 1 0\n41 0 0 100 1 0\n");
  ExpectSplitRunsEqualTheWholeRun(
      f, Set({"cycleType=T", "Ttidd=R.CYK", "timeMode=R", "fullTime=1e5", "Spara=1100"}), {2, 600},
      {"RESULT1.TXT", "RESULT2.TXT"});
}

TEST(BatchResume, WhileChargingAndEmitting) {
  BatchFolder f;
  // The switch-off limit is not part of a snapshot: the second part is given
  // it again, as the constants file would. (Straight road: see below for curves.)
  ExpectSplitRunsEqualTheWholeRun(
      f,
      MapCycle("KARTA.CYK", "1") +
          Set({"Spara=0100", "chargeOnLimit=5", "chargeOffLimit=3", "roadCurves=N"}),
      {400, 700}, {"RESULT2.TXT"}, Set({"chargeOffLimit=3"}));
}

TEST(BatchResume, DuringAHoldAndAfterASwitchOfCycle) {
  BatchFolder f;
  f.Write("SW.CYK",
          "0 10 0 0 1 0\n100 10 0 20 1 0\n300 20 0 0 1 0\n500 20 0 0 1 0\n600 0 0 21 15.3 0\n"
          "650 20 0 0 1 0\n"
          "700 20 0 0 1 0\n900 0 0 100 1 0\n901 0 0 100 1 0\n");
  f.Write("SWT.CYK",
          "0 15 0 0 1 0\n30 15 0 0 1 0\n40 15 0 20 1 0\n41 15 0 0 1 0\n"
          "500 0 0 100 1 0\n501 0 0 100 1 0\n");
  // Step 60 is on the time cycle, step 120 in the hold at 600 m.
  ExpectSplitRunsEqualTheWholeRun(f,
                                  MapCycle("SW.CYK", "0.5") + Set({"Ttidd=SWT.CYK", "Spara=1100"}),
                                  {60, 120}, {"RESULT1.TXT"});
}

// Charging switched on by hand after a coasting row; a row boundary after
// the split. The coasting row was left long before the split and plays no
// part any more: the charging by hand goes on in both runs.
TEST(BatchResume, PassedCoastingRowDoesNotActAgain) {
  BatchFolder f;
  f.Write("C3.CYK",
          "0 10 0 0 1 0\n10 10 0 3 1 0\n20 10 0 0 1 0\n40 10 0 0 1 0\n"
          "60 0 0 100 1 0\n61 0 0 100 1 0\n");
  const Args run = TimeCycle("C3.CYK", "0.5") + Set({"Spara=0100"}) + Keys({{60, "+"}});
  ExpectSplitRunsEqualTheWholeRun(f, run, {70}, {"RESULT2.TXT"});
  const Rows r = f.ResultRows("RESULT2.TXT");
  ASSERT_EQ(r.size(), 122u);
  int off = 0;
  for (std::size_t i = 60; i < r.size(); ++i) off += r[i][r2::nic] != 3000;
  EXPECT_EQ(off, 0) << "steps after the key without charging";
}

// A right curve of sharpness 2 over 400 m from 100 m: the road turns by
// 2 x 0.2 per metre driven in it, 160 in all. Stopped and resumed inside the
// curve, the run must turn the rest of it. Where the curve began is not in a
// snapshot, so the resumed run finds it to within one step (2 x 0.2 x 7.5 m).
TEST(BatchResume, InsideARoadCurve) {
  BatchFolder f;
  f.Write("CURVE.CYK",
          "0 15 0 0 1 0\n100 15 0 0 1 2400\n600 15 0 0 1 0\n800 0 0 100 1 0\n801 0 0 100 1 0\n");
  const Args run = MapCycle("CURVE.CYK", "0.5") + Set({"roadCurves=J"});
  f.Run(run + Args{"--save-snapshot", f / "whole.snap"});
  const double whole = f.SnapshotNumber("whole.snap", snap::roadAngle);
  EXPECT_NEAR(whole, 2 * 0.2 * 400, 3);
  f.Run(run + Args{"--max-steps", "60", "--save-snapshot", f / "part.snap"});
  EXPECT_GT(f.SnapshotNumber("part.snap", snap::ltot), 200);  // within the curve
  EXPECT_LT(f.SnapshotNumber("part.snap", snap::ltot), 400);
  f.Run({"--load-snapshot", f / "part.snap", "--save-snapshot", f / "split.snap"});
  EXPECT_NEAR(f.SnapshotNumber("split.snap", snap::roadAngle), whole, 3.0 + 1e-9);
}

TEST(BatchResume, PreparedSituationSavedBeforeTheFirstTickStartsTheSameRun) {
  BatchFolder f;
  const Args run = MapCycle("KARTA.CYK", "1") + Set({"Spara=0100", "usedCapacity=30", "v=12"});
  auto whole = f.RunJson(run);
  const std::string rows = f.Read("RESULT2.TXT");
  auto none = f.RunJson(run + Args{"--max-steps", "0", "--save-snapshot", f / "ready.snap"});
  EXPECT_EQ(Num(none, "steps"), 0);
  EXPECT_EQ(f.Snapshot("ready.snap")[snap::stegnr], "0");
  auto started = f.RunJson({"--load-snapshot", f / "ready.snap"});
  EXPECT_EQ(started["steps"], whole["steps"]);
  EXPECT_EQ(started["ltot"], whole["ltot"]);
  EXPECT_TRUE(f.Read("RESULT2.TXT") == rows);
}

// A snapshot loaded and saved again gives back every line; so does its copy
// with decimal commas in the reals.
TEST(BatchResume, SnapshotLoadedAndSavedAgainReproducesEveryLine) {
  BatchFolder f;
  f.Run(MapCycle("KARTA.CYK", "0.5") + Set({"chargeOnLimit=2", "chargeOffLimit=1", "Spara=1100"}) +
        Keys({{600, ">"}, {650, "+"}}) +
        Args{"--max-steps", "700", "--save-snapshot", f / "a.snap"});
  const auto a = f.Snapshot("a.snap");
  EXPECT_EQ(a[snap::valueFileName], f / "a.snap");
  EXPECT_EQ(a[snap::cycleFileName], f / "KARTA.CYK");
  EXPECT_EQ(a[37], "\x01");  // the pause flag set while saving
  EXPECT_EQ(a[snap::styrmod], ">");
  EXPECT_EQ(a[snap::chargeState], "+");
  std::string comma;
  int changed = 0;
  for (std::size_t n = 1; n < a.size(); ++n) {
    std::string line = a[n];
    if (IsNumberLine(line) && line.find('.') != std::string::npos) {
      line[line.find('.')] = ',';
      ++changed;
    }
    comma += line + "\r\n";
  }
  EXPECT_GT(changed, 50);
  f.Write("comma.snap", comma);
  for (const char* from : {"a.snap", "comma.snap"}) {
    SCOPED_TRACE(from);
    f.Run({"--load-snapshot", f / from, "--max-steps", "0", "--save-snapshot", f / "b.snap"});
    const auto b = f.Snapshot("b.snap");
    EXPECT_EQ(b[snap::valueFileName], f / "b.snap");
    // The cycle reader's file name is not read back; the resumed run finds
    // its place in the same cycle file again.
    EXPECT_EQ(b[snap::cycleFileName], a[snap::cycleFileName]);
    for (std::size_t n = 1; n < a.size(); ++n) {
      if (n != snap::valueFileName) {
        EXPECT_EQ(b[n], a[n]) << "line " << n;
      }
    }
  }
}

}  // namespace
}  // namespace drivanto::testing

namespace drivanto::testing {
namespace {

// A strategy and what it keeps travel with the snapshot: the second part is
// given no strategy and goes on as the run made in one go.
TEST(BatchResume, WithAStrategyThatKeepsWhatItDecided) {
  for (const char* strategy : {"ecms", "powerFollower", "optimalLine"}) {
    SCOPED_TRACE(strategy);
    BatchFolder f;
    const Args run = TimeCycle("UDDS.CYK", "0.1") + Set({"Spara=1100", "usedCapacity=59.5"}) +
                     Args{"--strategy", strategy};
    ExpectSplitRunsEqualTheWholeRun(f, run, {1500, 7001}, {"RESULT1.TXT", "RESULT2.TXT"});
    // A drive script starting mid-run carries the strategy and what it kept
    // as the snapshot does: replayed to the end, the whole run's rows.
    auto whole = f.RunJson(run);
    const std::string rows1 = f.Read("RESULT1.TXT");
    f.RunJson(run + Args{"--max-steps", "4000", "--save-snapshot", f / "part.snap"});
    f.Write("drive.txt", "drivanto drive script 1\nsnapshot\n" + f.Read("part.snap") +
                             "end snapshot\nend " + whole["steps"] + "\n");
    auto replay = f.RunJson({"--script", f / "drive.txt"});
    EXPECT_EQ(replay["strategy"], strategy);
    EXPECT_TRUE(f.Read("RESULT1.TXT") == rows1) << "result file 1 differs";
  }
}

}  // namespace
}  // namespace drivanto::testing
