// A run made from code: its recorded columns against its own trace, a copy
// of a run stepped alone against the run itself, a run from code against the
// same run of drivanto-batch, and a study whose runs write nothing into their
// folders.

#include <charconv>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>

#include "batch_harness.h"
#include "model/Modules.h"
#include "run/Runner.h"
#include "run/Tick.h"
#include "state/Snapshot.h"
#include "study/Json.h"
#include "study/Sweep.h"
#include "run/Summary.h"

namespace drivanto::testing {
namespace {

RunSpec Udds(const std::string& folder, const std::string& dt) {
  RunSpec runSpec;
  runSpec.folder = folder;
  for (const char* s : {"cycleType=T", "Ttidd=UDDS.CYK", "timeMode=D"}) {
    const std::string text = s;
    runSpec.Set(text.substr(0, text.find('=')), text.substr(text.find('=') + 1));
  }
  runSpec.Set("dt", dt);
  return runSpec;
}

bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

TEST(Runner, RecordedColumnsAreTheTraceBitForBit) {
  BatchFolder f(DRIVANTO_TEST_DATA_DIR);
  RunSpec runSpec = Udds(f.path(), "0.1");
  runSpec.Set("Spara", "0000");
  runSpec.trace = f / "trace.csv";
  runSpec.traceVars = {"ttot", "v", "U", "usedCapacity", "fuelLeft", "nic", "stegnr"};
  runSpec.record = runSpec.traceVars;
  const RunResult r = Runner().Run(runSpec);
  ASSERT_EQ(r.exitCode, 0) << r.error;
  ASSERT_EQ(r.recorded.size(), runSpec.record.size());
  std::istringstream trace(f.Read("trace.csv"));
  std::string line;
  std::getline(trace, line);  // the header
  std::size_t row = 0;
  for (; std::getline(trace, line); ++row) {
    std::size_t start = 0;
    for (std::size_t c = 0; c < runSpec.record.size(); ++c) {
      std::size_t end = line.find(',', start);
      if (end == std::string::npos) end = line.size();
      double x = 0;
      std::from_chars(line.data() + start, line.data() + end, x);
      ASSERT_LT(row, r.recorded[c].size());
      ASSERT_TRUE(SameBits(r.recorded[c][row], x))
          << runSpec.record[c] << " row " << row << ": " << r.recorded[c][row] << " against " << x;
      start = end + 1;
    }
  }
  EXPECT_EQ(row, static_cast<std::size_t>(r.summary.steps));
  EXPECT_EQ(r.recorded[0].size(), row);
  EXPECT_EQ(r.summary.endReason, "mode100");

  // A text, a letter or a table cannot be recorded: the run says so.
  for (const char* name : {"Tbat", "timeMode", "readRow", "nothing"}) {
    RunSpec bad = Udds(f.path(), "0.1");
    bad.record = {name};
    const RunResult b = Runner().Run(bad);
    EXPECT_EQ(b.exitCode, 2) << name;
    EXPECT_NE(b.error.find(name), std::string::npos) << b.error;
  }
}

TEST(Runner, ACopyOfARunStepsAloneToTheSameState) {
  BatchFolder f(DRIVANTO_TEST_DATA_DIR);
  SimulatedClock clock;
  auto original = std::make_unique<Sim>();
  original->clock = &clock;
  StartUp(*original, f.path());
  for (const auto& [name, value] :
       std::vector<std::pair<std::string, std::string>>{{"cycleType", "T"},
                                                        {"Ttidd", f / "UDDS.CYK"},
                                                        {"timeMode", "D"},
                                                        {"dt", "0.1"},
                                                        {"Spara", "1100"}}) {
    std::string why;
    ASSERT_TRUE(SetFieldFromText(original->s, FindField(name)->field, value, &why)) << why;
  }
  Start(*original, nullptr);
  for (int i = 0; i < 4000; ++i) ASSERT_EQ(Tick(*original, nullptr), TickOutcome::Ran);
  const std::string rowsBefore = f.Read("RESULT1.TXT");

  // Branch: the copy goes on alone, the original is gone.
  Sim copy = *original;
  auto stepAlone = [](Sim& sim, int steps) {
    for (int i = 0; i < steps; ++i) {
      sim.s.stegnr = sim.s.stegnr + 1;
      SimulationStep(sim);
    }
  };
  Sim twin = *original;
  stepAlone(twin, 3000);
  original.reset();
  stepAlone(copy, 3000);
  EXPECT_EQ(SnapshotText(copy.s), SnapshotText(twin.s));
  EXPECT_GT(copy.s.ltot, 5000);
  // The copies wrote no row into the original's result file.
  EXPECT_EQ(f.Read("RESULT1.TXT"), rowsBefore);
}

TEST(Runner, ARunFromCodeIsTheRunOfTheBatchRunner) {
  BatchFolder f(DRIVANTO_TEST_DATA_DIR);
  RunSpec runSpec = Udds(f.path(), "0.1");
  runSpec.Set("Spara", "1100");
  const RunResult r = Runner().Run(runSpec);
  ASSERT_EQ(r.exitCode, 0) << r.error;
  const std::string files[2] = {f.Read("RESULT1.TXT"), f.Read("RESULT2.TXT")};
  const BatchResult b = f.Run(TimeCycle("UDDS.CYK", "0.1") + Set({"Spara=1100"}));
  ASSERT_EQ(b.code, 0) << b.err;
  EXPECT_EQ(f.Read("RESULT1.TXT"), files[0]);
  EXPECT_EQ(f.Read("RESULT2.TXT"), files[1]);
  EXPECT_GT(files[0].size(), 100000u);
}

// One table names the summary's figures: the JSON object holds exactly its
// keys (on a time cycle and, with traceMiss null, on a map), and README's
// table of keys names each of them.
TEST(Runner, TheSummaryKeysAreTheJsonsAndTheReadmes) {
  BatchFolder f(DRIVANTO_TEST_DATA_DIR);
  std::ifstream in(DRIVANTO_README);
  const std::string readme((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_GT(readme.size(), 1000u);
  for (bool timeCycle : {true, false}) {
    RunSpec runSpec = timeCycle ? Udds(f.path(), "0.5") : RunSpec();
    runSpec.folder = f.path();
    runSpec.maxSteps = 50;
    const RunResult r = Runner().Run(runSpec);
    ASSERT_EQ(r.exitCode, 0) << r.error;
    const auto flat = FlattenJson(r.SummaryText(true));
    ASSERT_TRUE(flat);
    std::set<std::string> figures;
    for (const JsonValue& v : *flat) {
      const std::string top = v.key.substr(0, v.key.find('.'));
      if (top != "settings" && top != "runOptions" && top != "inputs") figures.insert(v.key);
    }
    std::set<std::string> keys;
    for (const SummaryKey& k : SummaryKeys()) {
      if (timeCycle || std::string(k.key).rfind("traceMiss.", 0) != 0) keys.insert(k.key);
    }
    if (!timeCycle) keys.insert("traceMiss");
    EXPECT_EQ(figures, keys);
  }
  // README's table rows; a row may name a key of an object as `.name` after
  // a full key of the same object.
  std::vector<std::string> rows;
  for (std::size_t at = 0; (at = readme.find("\n| `", at)) != std::string::npos; ++at) {
    rows.push_back(readme.substr(at + 1, readme.find('\n', at + 1) - at - 1));
  }
  for (const SummaryKey& k : SummaryKeys()) {
    const std::string key = k.key;
    const std::size_t dot = key.find('.');
    bool listed = false;
    for (const std::string& row : rows) {
      listed = listed || row.find("`" + key + "`") != std::string::npos ||
               (dot != std::string::npos && row.find("`" + key.substr(0, dot + 1)) != std::string::npos &&
                row.find("`" + key.substr(dot) + "`") != std::string::npos);
    }
    EXPECT_TRUE(listed) << key << " is not in README's table of summary keys";
  }
}


TEST(Runner, AStudysRunsThatWriteNoFilesGetNoCopies) {
  BatchFolder f(DRIVANTO_TEST_DATA_DIR);
  const std::string out = f / "study";
  for (const char* spara : {"0000", "1000"}) {
    std::ostringstream o, e;
    const int code =
        RunSweep({f.path(), "--out", out, "--set", "cycleType=T", "--set", "Ttidd=UDDS.CYK",
                  "--set", "dt=0.5", "--set", std::string("Spara=") + spara, "--grid",
                  "chargeOnLimit=50,55", "--trace", "t.csv", "-j", "2"},
                 o, e);
    ASSERT_EQ(code, 0) << e.str();
    const bool writes = spara[0] == '1';
    // The run's folder holds its trace, and copies of its inputs only when
    // it writes a result file there.
    EXPECT_TRUE(TempFolder::Exists(out + "/runs/run001/t.csv"));
    EXPECT_EQ(TempFolder::Exists(out + "/runs/run001/CONS.VAL"), writes) << spara;
    EXPECT_EQ(TempFolder::Exists(out + "/runs/run002/RESULT1.TXT"), writes) << spara;
    EXPECT_FALSE(f.Exists("RESULT1.TXT")) << "a run wrote into the study's folder";
    std::filesystem::remove_all(out);
  }
}

}  // namespace
}  // namespace drivanto::testing
