// drivanto-sweep: runs over a grid or a table of settings in folders of their
// own, the summary table written as runs finish, resumed sweeps, failed runs
// as rows, and the same study through GNU parallel and collected afterwards.

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "batch_harness.h"
#include "study/Json.h"
#include "study/Sweep.h"
#include "study/SweepTable.h"

namespace drivanto::testing {
namespace {

namespace fs = std::filesystem;

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

BatchResult Sweep(const Args& args) {
  std::ostringstream out, err;
  BatchResult r;
  r.code = RunSweep(args, out, err);
  r.out = out.str();
  r.err = err.str();
  return r;
}

// A short time cycle the car follows in a few hundred steps.
const char* const kShort = "0 10 0 0 1 0\n60 10 0 0 1 0\n120 0 0 100 1 0\n121 0 0 100 1 0\n";

class SweepTest : public ::testing::Test {
 protected:
  SweepTest() { data.Write("SHORT.CYK", kShort); }
  Args Common() const {
    return Set({"cycleType=T", "Ttidd=SHORT.CYK", "timeMode=D", "dt=0.5", "fullTime=100000",
                "usedCapacity=58"});
  }
  std::string Out(const std::string& name) const { return out.path() + "/" + name; }

  BatchFolder data;  // the study's input folder
  TempFolder out;
};

using Table = std::vector<std::map<std::string, std::string>>;

// The rows of a summary.csv by id, each cell by its column's name (cells
// without quotes).
std::map<std::string, std::map<std::string, std::string>> CsvTable(const std::string& file) {
  std::istringstream in(TempFolder::ReadBytes(file));
  auto cells = [](const std::string& line) {
    std::vector<std::string> out;
    std::istringstream cs(line);
    for (std::string cell; std::getline(cs, cell, ',');) out.push_back(cell);
    if (!line.empty() && line.back() == ',') out.push_back("");
    return out;
  };
  std::string line;
  std::getline(in, line);
  const std::vector<std::string> header = cells(line);
  std::map<std::string, std::map<std::string, std::string>> rows;
  while (std::getline(in, line)) {
    const std::vector<std::string> row = cells(line);
    EXPECT_EQ(row.size(), header.size()) << line;
    for (std::size_t c = 0; c < header.size() && c < row.size(); ++c) rows[row[0]][header[c]] = row[c];
  }
  return rows;
}

// The rows of a summary.jsonl, by id, without the figures of timing and the
// folders the files were in.
std::map<std::string, std::map<std::string, std::string>> JsonlById(const std::string& file) {
  std::map<std::string, std::map<std::string, std::string>> rows;
  std::istringstream in(TempFolder::ReadBytes(file));
  for (std::string line; std::getline(in, line);) {
    auto flat = FlattenJson(line);
    EXPECT_TRUE(flat.has_value()) << line;
    if (!flat) continue;
    std::map<std::string, std::string> row;
    for (const JsonValue& v : *flat) {
      if (v.key.find("wallSeconds") != std::string::npos ||
          v.key.find("stepsPerSecond") != std::string::npos || v.key == "summary.cycleFile" ||
          (v.key.rfind("summary.inputs.", 0) == 0 && v.key.size() > 5 &&
           v.key.substr(v.key.size() - 5) == ".file")) {
        continue;
      }
      row[v.key] = v.text;
    }
    rows[row["id"]] = row;
  }
  return rows;
}

TEST_F(SweepTest, EveryRowEqualsTheRunAlone) {
  BatchResult r =
      Sweep(Common() + Args{"--grid", "chargeOnLimit=57,59", "--grid", "chargeOffLimit=50:54:2",
                            "-j", "2", data.path(), "--out", out.path()});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(Contains(r.err, "6/6 runs")) << r.err;  // the progress
  const auto rows = JsonlById(Out("summary.jsonl"));
  ASSERT_EQ(rows.size(), 6u);
  // The CSV has a header and the same six runs.
  std::istringstream csv(TempFolder::ReadBytes(Out("summary.csv")));
  std::string header;
  std::getline(csv, header);
  EXPECT_EQ(header.rfind("id,set.chargeOnLimit,set.chargeOffLimit,exitCode,error,endReason,", 0),
            0u);
  int lines = 0;
  for (std::string line; std::getline(csv, line);) ++lines;
  EXPECT_EQ(lines, 6);
  // Each row as drivanto-batch gives it for that run alone.
  for (const auto& [id, row] : rows) {
    SCOPED_TRACE(id);
    EXPECT_EQ(row.at("exitCode"), "0");
    BatchFolder alone(data.path());
    auto j = alone.RunJson(Common() + Set({"chargeOnLimit=" + row.at("settings.chargeOnLimit"),
                                           "chargeOffLimit=" + row.at("settings.chargeOffLimit")}));
    for (const auto& [key, value] : j) {
      if (key == "wallSeconds" || key == "stepsPerSecond" || value == "{}" || key == "cycleFile" ||
          (key.rfind("inputs.", 0) == 0 && key.size() > 5 &&
           key.substr(key.size() - 5) == ".file")) {
        continue;
      }
      EXPECT_EQ(row.at("summary." + key), value) << key;
    }
    EXPECT_TRUE(fs::exists(Out("runs/" + id + "/CONS.VAL")));
    EXPECT_EQ(row.at("summary.settings.chargeOnLimit"), row.at("settings.chargeOnLimit"));
  }
  // The settings make a difference: not every run used the same fuel.
  std::set<std::string> fuels;
  for (const auto& [id, row] : rows) fuels.insert(row.at("summary.fuelUsed"));
  EXPECT_GT(fuels.size(), 1u);
}

TEST_F(SweepTest, ATableOfRunsAFailedRunAndResuming) {
  data.Write("runs.csv", "id,chargeOnLimit,batCapacity\nlow,57,-1\nhigh,59,-1\nbroken,58,1\n");
  BatchResult r =
      Sweep(Common() + Args{"--runs", data / "runs.csv", data.path(), "--out", out.path()});
  EXPECT_EQ(r.code, 1);  // one run failed
  EXPECT_TRUE(Contains(r.out, "1 failed")) << r.out;
  auto rows = JsonlById(Out("summary.jsonl"));
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows["low"]["exitCode"], "0");
  EXPECT_EQ(rows["broken"]["exitCode"], "3");  // a battery lookup beyond its table
  EXPECT_TRUE(Contains(rows["broken"]["error"], "Avbrott p g a att TABR2"))
      << rows["broken"]["error"];
  EXPECT_EQ(rows["high"]["settings.chargeOnLimit"], "59");
  // The failed run's folder holds its ERROR.TAB and its error stream.
  EXPECT_TRUE(TempFolder::ReadBytes(Out("runs/broken/ERROR.TAB")).find("TABR2") !=
              std::string::npos);
  EXPECT_TRUE(TempFolder::Exists(Out("runs/broken/stderr.txt")));
  // The failed run's figures stay out of the table and out of the row's
  // summary in summary.jsonl.
  EXPECT_EQ(rows["broken"]["summary"], "null");
  const auto table = CsvTable(Out("summary.csv"));
  for (const auto& [column, value] : table.at("broken")) {
    if (column != "id" && column.rfind("set.", 0) != 0 && column != "exitCode" &&
        column != "error") {
      EXPECT_EQ(value, "") << column;
    }
  }
  EXPECT_FALSE(table.at("low").at("chargeBalance.correctedFuelPer100km").empty());

  // An interrupted sweep: only the first finished row survived.
  std::istringstream jsonl(TempFolder::ReadBytes(Out("summary.jsonl")));
  std::string first;
  std::getline(jsonl, first);
  TempFolder::WriteBytes(Out("summary.jsonl"), first + "\n");
  std::istringstream csv(TempFolder::ReadBytes(Out("summary.csv")));
  std::string header, row1;
  std::getline(csv, header);
  std::getline(csv, row1);
  TempFolder::WriteBytes(Out("summary.csv"), header + "\n" + row1 + "\n");
  r = Sweep(Common() +
            Args{"--runs", data / "runs.csv", "--resume", data.path(), "--out", out.path()});
  EXPECT_TRUE(Contains(r.out, "2 runs (1 done before)")) << r.out;
  rows = JsonlById(Out("summary.jsonl"));
  EXPECT_EQ(rows.size(), 3u);

  // Without result files the runs read the study's folder in place: a run's
  // folder is made only when it writes into it (the failed run's ERROR.TAB).
  TempFolder inPlace;
  r = Sweep(Common() + Set({"Spara=0000"}) +
            Args{"--runs", data / "runs.csv", data.path(), "--out", inPlace.path()});
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(TempFolder::ReadBytes(inPlace / "runs/broken/ERROR.TAB").find("TABR2") !=
              std::string::npos);
  EXPECT_FALSE(TempFolder::Exists(inPlace / "runs/low"));
  EXPECT_FALSE(data.Exists("ERROR.TAB"));
}

// A sweep's outputs never land on its inputs, on each other or on the
// study's own files; a run's trace stays in the run's folder.
TEST_F(SweepTest, NoOutputOverwritesAnInputOrTheStudysFiles) {
  ASSERT_EQ(Sweep(Common() + Args{"--grid", "chargeOnLimit=57,58", data.path(), "--out",
                                  out.path()})
                .code,
            0);
  const std::string table = TempFolder::ReadBytes(Out("summary.csv"));
  data.Write("runs.csv", "id,chargeOnLimit\na,57\nb,58\n");
  const Args grid = Common() + Args{"--grid", "chargeOnLimit=57,58"};
  struct Case {
    Args args;
    const char* says;
  };
  const Case cases[] = {
      {grid + Args{"--trace", "../../summary.csv"}, "may not leave it"},
      {grid + Args{"--trace", Out("t.csv")}, "every run would write this one file"},
      {grid + Args{"--save-snapshot", ".."}, "may not leave it"},
      {grid + Args{"--emit-jobs", Out("summary.csv")},
       "the emitted commands and the study's table are the same file"},
      {grid + Args{"--emit-jobs", data / "CONS.VAL"},
       "the emitted commands and the input file CONS.VAL are the same file"},
      {grid + Args{"--emit-jobs", Out("j.txt"), "--emit-slurm", Out("j.txt")},
       "the Slurm script and the emitted commands are the same file"},
      {Common() + Args{"--runs", Out("plan.jsonl")}, "the first column must be"},
      {Common() + Args{"--runs", data / "runs.csv", "--emit-slurm", data / "runs.csv"},
       "the Slurm script and the table of runs are the same file"},
      {grid + Args{"--emit-jobs", data / "BIL1/FORDON.TAB"}, "the input file BIL1/FORDON.TAB"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.says);
    BatchResult r = Sweep(c.args + Args{data.path(), "--out", out.path()});
    EXPECT_EQ(r.code, 2);
    EXPECT_TRUE(Contains(r.err, c.says)) << r.err;
    EXPECT_EQ(TempFolder::ReadBytes(Out("summary.csv")), table);
  }
  EXPECT_EQ(TempFolder::ReadBytes(data / "runs.csv"), "id,chargeOnLimit\na,57\nb,58\n");
  // One run may write a trace anywhere.
  EXPECT_EQ(Sweep(Common() + Args{"--grid", "chargeOnLimit=57", "--trace", Out("t.csv"),
                                  data.path(), "--out", Out("one")})
                .code,
            0);
  EXPECT_TRUE(fs::exists(Out("t.csv")));
}

// Messages name the table of runs' line and column, show what does not print
// as \xNN, and refuse a table saved as UTF-16; a grid too large is refused
// by its size before a run is made.
TEST_F(SweepTest, BadTablesAndGridsAreNamedUpFront) {
  struct Case {
    std::string table;
    const char* says;
  };
  const Case cases[] = {
      {"name,dt\nx,0.5\n", "line 1: the first column must be \"id\", not \"name\""},
      {"id,dt,nosuch\nx,0.5,1\n", "line 1, column 3: \"nosuch\" is no setting"},
      {"id,dt\nrun\x01x,0.5\n", "line 2: \"run\\x01x\" is no id"},
      {"id,dt\n../x,0.5\n", "line 2: \"../x\" is no id"},
      {"id,dt\nx,0.5\nx,1\n", "line 3: the id \"x\" is there twice"},
      {"id,dt\nx,0.5\ny,0\n", "line 3, column 2: dt=0: a time step in seconds above 0"},
      {"id,dt\nx,0.5,7\n", "line 2: 3 cells, the header has 2"},
      {"id,dt\n", "the table of runs holds no runs"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.says);
    data.Write("t.csv", c.table);
    BatchResult r = Sweep({"--runs", data / "t.csv", data.path(), "--out", out.path()});
    EXPECT_EQ(r.code, 2);
    EXPECT_TRUE(Contains(r.err, data / "t.csv, " + std::string(c.says)) ||
                Contains(r.err, data / "t.csv: " + std::string(c.says)))
        << r.err;
  }
  data.Write("t.csv", std::string("\xff\xfei\0d\0,\0d\0t\0\n\0", 14));
  BatchResult r = Sweep({"--runs", data / "t.csv", data.path(), "--out", out.path()});
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(Contains(r.err, "saved as UTF-16")) << r.err;
  r = Sweep({"--grid", "dt=0.001:100:0.001", "--grid", "chargeOnLimit=1:100000:1", data.path(),
             "--out", out.path()});
  EXPECT_EQ(r.code, 2);
  EXPECT_TRUE(Contains(r.err, "the grid holds 10000000000 runs (100000 x 100000), more than the "
                              "100000 a study takes"))
      << r.err;
  EXPECT_FALSE(fs::exists(Out("plan.jsonl")));
  // A line nested past any summary's depth is no summary (and costs no
  // stack).
  std::string deep;
  for (int i = 0; i < 45000; ++i) deep += "{\"a\": ";
  EXPECT_FALSE(FlattenJson(deep + "1" + std::string(45000, '}')).has_value());
  EXPECT_TRUE(FlattenJson("{\"a\": {\"b\": {\"c\": 1}}}").has_value());
}

// Which runs' folders stay once their rows are written.
TEST_F(SweepTest, KeepRunsChoosesTheFoldersThatStay) {
  data.Write("runs.csv", "id,batCapacity\ngood,-1\nbad,1\n");
  for (const auto& [keep, kept] : std::vector<std::pair<std::string, std::set<std::string>>>{
           {"all", {"good", "bad"}}, {"failed", {"bad"}}, {"none", {}}}) {
    SCOPED_TRACE(keep);
    TempFolder study;
    EXPECT_EQ(Sweep(Common() + Args{"--runs", data / "runs.csv", "--keep-runs", keep, data.path(),
                                    "--out", study.path()})
                  .code,
              1);  // "bad" fails
    std::set<std::string> folders;
    for (const auto& e : fs::directory_iterator(study.path() + "/runs")) {
      folders.insert(e.path().filename().string());
    }
    EXPECT_EQ(folders, kept);
    EXPECT_EQ(JsonlById(study.path() + "/summary.jsonl").size(), 2u);
  }
  EXPECT_EQ(Sweep(Common() + Args{"--grid", "dt=1", "--keep-runs", "some", data.path(), "--out",
                                  out.path()})
                .code,
            2);
}

TEST_F(SweepTest, UsageErrors) {
  EXPECT_EQ(Sweep({"--grid", "nosuch=1,2", data.path(), "--out", out.path()}).code, 2);
  EXPECT_EQ(Sweep({"--grid", "dt=5:1:1", data.path(), "--out", out.path()}).code, 2);
  EXPECT_EQ(Sweep({"--grid", "dt=0.5", data.path()}).code, 2);  // no --out
  data.Write("bad.csv", "name,dt\nx,0.5\n");
  EXPECT_EQ(Sweep({"--runs", data / "bad.csv", data.path(), "--out", out.path()}).code, 2);
  data.Write("twice.csv", "id,dt\nx,0.5\nx,1\n");
  EXPECT_EQ(Sweep({"--runs", data / "twice.csv", data.path(), "--out", out.path()}).code, 2);
  EXPECT_EQ(Sweep({"--help"}).code, 0);
}

TEST_F(SweepTest, ASlurmArrayRunsTheSameCommands) {
  ASSERT_EQ(
      Sweep(Common() + Args{"--grid", "chargeOnLimit=57,58,59", "--emit-jobs", Out("jobs.txt"),
                            "--emit-slurm", Out("sweep.sbatch"), "--batch-program",
                            DRIVANTO_BATCH_PROGRAM, data.path(), "--out", out.path()})
          .code,
      0);
  const std::string script = TempFolder::ReadBytes(Out("sweep.sbatch"));
  EXPECT_TRUE(Contains(script, "#SBATCH --array=1-3\n")) << script;
  // Task 2 of the array, as Slurm would start it.
  ASSERT_EQ(std::system(("cd '" + out.path() + "' && SLURM_ARRAY_TASK_ID=2 bash '" +
                         Out("sweep.sbatch") + "'")
                            .c_str()),
            0);
  EXPECT_EQ(TempFolder::ReadBytes(Out("runs/run002/exitcode")), "0\n");
  EXPECT_FALSE(fs::exists(Out("runs/run001/exitcode")));
}

// Many runs an array task, the task's time, partition and further lines; a
// failed run fails its command and its task.
TEST_F(SweepTest, SlurmTasksOfSeveralRunsAndFailedRunsSeenByTheScheduler) {
  ASSERT_EQ(Sweep(Common() + Args{"--grid", "chargeOnLimit=56:60:1", "--grid", "batCapacity=-1,1",
                                  "--emit-slurm", Out("s.sbatch"), "--slurm-runs-per-task", "4",
                                  "--slurm-time", "0:10:00", "--slurm-partition", "short",
                                  "--slurm-option", "--mem=500M", "--batch-program",
                                  DRIVANTO_BATCH_PROGRAM, data.path(), "--out", out.path()})
                .code,
            0);
  const std::string script = TempFolder::ReadBytes(Out("s.sbatch"));
  for (const char* line : {"#SBATCH --array=1-3\n", "#SBATCH --time=0:10:00\n",
                           "#SBATCH --partition=short\n", "#SBATCH --mem=500M\n"}) {
    EXPECT_TRUE(Contains(script, line)) << line << script;
  }
  // Task 3 makes runs 9 and 10 (batCapacity 1 fails: a battery lookup beyond
  // its table) and fails with its failed run.
  const int status = std::system(
      ("cd '" + out.path() + "' && SLURM_ARRAY_TASK_ID=3 bash '" + Out("s.sbatch") + "'").c_str());
  EXPECT_NE(WEXITSTATUS(status), 0);
  for (int run = 1; run <= 10; ++run) {
    const std::string id = "runs/run" + std::string(run < 10 ? "00" : "0") + std::to_string(run);
    EXPECT_EQ(fs::exists(Out(id + "/exitcode")), run >= 9) << id;
  }
  EXPECT_EQ(TempFolder::ReadBytes(Out("runs/run010/exitcode")), "3\n");
  // Each emitted command ends with its run's exit code.
  std::istringstream jobs(TempFolder::ReadBytes(Out("jobs.txt")));
  std::vector<std::string> lines;
  for (std::string line; std::getline(jobs, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 10u);
  TempFolder::WriteBytes(Out("one.sh"), lines[1]);
  EXPECT_EQ(WEXITSTATUS(std::system(("bash '" + Out("one.sh") + "'").c_str())), 3);
  TempFolder::WriteBytes(Out("one.sh"), lines[0]);
  EXPECT_EQ(WEXITSTATUS(std::system(("bash '" + Out("one.sh") + "'").c_str())), 0);
  // Without a number, the array stays at 999 tasks or fewer.
  TempFolder big;
  ASSERT_EQ(Sweep(Common() + Args{"--grid", "chargeOnLimit=1:2500:1", "--emit-slurm",
                                  big.path() + "/b.sbatch", data.path(), "--out", big.path()})
                .code,
            0);
  EXPECT_TRUE(Contains(TempFolder::ReadBytes(big.path() + "/b.sbatch"), "#SBATCH --array=1-834\n"));
}

// A run's folder holds the files it reads, not the folder's pictures,
// documents or results of earlier runs.
TEST_F(SweepTest, ARunsFolderHoldsItsInputsOnly) {
  for (const char* stale : {"RESULT1.TXT", "RESULT2.TXT", "ERROR.TAB", "notes.txt", "old.snp"}) {
    data.Write(stale, "left from before\n");
  }
  ASSERT_EQ(Sweep(Common() + Args{"--grid", "Ttidd=SHORT.CYK,TID.CYK", "-j1", data.path(), "--out",
                                  out.path()})
                .code,
            0);
  std::set<std::string> first, second;
  for (const auto& e : fs::recursive_directory_iterator(Out("runs/run001"))) {
    if (e.is_regular_file()) first.insert(fs::relative(e.path(), Out("runs/run001")).string());
  }
  for (const auto& e : fs::recursive_directory_iterator(Out("runs/run002"))) {
    if (e.is_regular_file()) second.insert(fs::relative(e.path(), Out("runs/run002")).string());
  }
  const std::set<std::string> inputs = {"CONS.VAL",         "BIL1/BATTERI.TAB", "BIL1/FORBR.TAB",
                                        "BIL1/ELMOTOR.TAB", "BIL1/FORDON.TAB",  "BIL1/VAXEL.TAB",
                                        "BIL1/BROMS.TAB",   "KARTA.CYK"};
  std::set<std::string> expected = inputs;
  expected.insert({"SHORT.CYK", "RESULT2.TXT"});  // the run's own result file 2
  EXPECT_EQ(first, expected);
  expected = inputs;
  expected.insert({"TID.CYK", "RESULT2.TXT"});
  EXPECT_EQ(second, expected);
  EXPECT_EQ(TempFolder::ReadBytes(Out("runs/run001/RESULT2.TXT")).find("left from before"),
            std::string::npos);
}

// A resumed study is the same study: other runs, options or inputs are
// refused, naming what differs, and the table is left as it was.
TEST_F(SweepTest, AResumeOfAnotherStudyIsRefused) {
  const Args grid = Common() + Args{"--grid", "chargeOnLimit=57,58"};
  ASSERT_EQ(Sweep(grid + Args{data.path(), "--out", out.path()}).code, 0);
  const std::string table = TempFolder::ReadBytes(Out("summary.csv"));
  struct Case {
    const char* name;
    Args args;
    const char* says;
  };
  const Case cases[] = {
      {"another grid", Common() + Args{"--grid", "chargeOnLimit=57,59"},
       "run 2 was run002 (chargeOnLimit=58), now run002 (chargeOnLimit=59)"},
      {"another setting for every run", grid + Set({"vehicleMass=1500"}),
       "its options were \""},
      {"more runs", Common() + Args{"--grid", "chargeOnLimit=57,58,59"},
       "it has 2 runs, this sweep 3"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BatchResult r = Sweep(c.args + Args{"--resume", data.path(), "--out", out.path()});
    EXPECT_EQ(r.code, 2);
    EXPECT_TRUE(Contains(r.err, "cannot be resumed by this sweep: ")) << r.err;
    EXPECT_TRUE(Contains(r.err, c.says)) << r.err;
    EXPECT_EQ(TempFolder::ReadBytes(Out("summary.csv")), table);
  }
  // An input edited since.
  data.Write("SHORT.CYK", std::string(kShort) + "\n");
  BatchResult r = Sweep(grid + Args{"--resume", data.path(), "--out", out.path()});
  EXPECT_EQ(r.code, 2);
  EXPECT_TRUE(Contains(r.err, "SHORT.CYK has changed since")) << r.err;
  // The same study resumes.
  data.Write("SHORT.CYK", kShort);
  r = Sweep(grid + Args{"--resume", data.path(), "--out", out.path()});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(Contains(r.out, "0 runs (2 done before)")) << r.out;
}

// Grid values from ranges read as written; a setting swept that is also a
// figure's name keeps its own column.
TEST_F(SweepTest, GridTextsAndColumnsThatCannotClash) {
  ASSERT_EQ(Sweep(Common() + Args{"--grid", "usedCapacity=50.1:50.5:0.1", "-j2", "--max-steps",
                                  "20", data.path(), "--out", out.path()})
                .code,
            0);
  const auto table = CsvTable(Out("summary.csv"));
  std::set<std::string> values;
  for (const auto& [id, row] : table) values.insert(row.at("set.usedCapacity"));
  EXPECT_EQ(values, (std::set<std::string>{"50.1", "50.2", "50.3", "50.4", "50.5"}));
  for (const auto& [id, row] : table) {
    EXPECT_NE(row.at("usedCapacity"), row.at("set.usedCapacity"));  // the end's, not the start's
    EXPECT_EQ(row.at("chargeBalance.startUsedCapacity"), row.at("set.usedCapacity"));
  }
  for (const Args& bad : {Args{"--grid", "cycleType=T,X"}, Args{"--grid", "dt=0:1:0.5"},
                          Args{"-j0"}, Args{"--jobs=abc"}, Args{"--trace-vars", "ttot"},
                          Args{"--grid", "dt=1", "--slurm-runs-per-task", "0"}}) {
    EXPECT_EQ(Sweep(Common() + bad + Args{data.path(), "--out", out.path()}).code, 2) << bad[0];
  }
}

TEST_F(SweepTest, GnuParallelGivesTheSameTableAsTheSweepItself) {
  if (std::system("command -v parallel >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "GNU parallel is not installed (scripts/setup installs it)";
  }
  const Args grid =
      Common() + Args{"--grid", "chargeOnLimit=56:59:1", "--grid", "chargeOffLimit=50,52,54"};
  TempFolder inProcess;
  ASSERT_EQ(Sweep(grid + Args{data.path(), "--out", inProcess.path()}).code, 0);
  ASSERT_EQ(Sweep(grid + Args{"--emit-jobs", Out("jobs.txt"), "--batch-program",
                              DRIVANTO_BATCH_PROGRAM, data.path(), "--out", out.path()})
                .code,
            0);
  const std::string command = "parallel --will-cite -j 2 --joblog '" + Out("joblog") +
                              "' --resume < '" + Out("jobs.txt") + "' > /dev/null 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0);
  BatchResult collected = Sweep({"--collect", out.path()});
  ASSERT_EQ(collected.code, 0) << collected.err;
  EXPECT_TRUE(Contains(collected.out, "collected 12 of 12 runs")) << collected.out;
  const auto a = JsonlById(inProcess.path() + "/summary.jsonl");
  const auto b = JsonlById(Out("summary.jsonl"));
  ASSERT_EQ(a.size(), 12u);
  EXPECT_EQ(a, b);
}

}  // namespace
}  // namespace drivanto::testing

namespace drivanto::testing {
namespace {

// Collecting never takes away rows it cannot replace, and reads only what
// reads as a run's outcome.
TEST_F(SweepTest, CollectKeepsWhatItCannotReplace) {
  const Args grid = Common() + Args{"--grid", "chargeOnLimit=57,58,59"};
  ASSERT_EQ(Sweep(grid + Args{data.path(), "--out", out.path()}).code, 0);
  const auto table = CsvTable(Out("summary.csv"));
  const auto rowsBefore = JsonlById(Out("summary.jsonl"));
  // A study made in process: its runs' folders hold no exit codes. The rows
  // stay (in the plan's order).
  BatchResult r = Sweep({"--collect", out.path()});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(Contains(r.out, "collected 0 of 3 runs")) << r.out;
  EXPECT_EQ(CsvTable(Out("summary.csv")), table);
  EXPECT_EQ(JsonlById(Out("summary.jsonl")), rowsBefore);
  const std::string csv = TempFolder::ReadBytes(Out("summary.csv"));
  // A plan that does not read is an error, and the table stays.
  const std::string plan = TempFolder::ReadBytes(Out("plan.jsonl"));
  for (const std::string& broken :
       {std::string(), std::string("\xff\xfe{\0\"\0", 6), std::string("{\"id\": \"run001\"\n")}) {
    TempFolder::WriteBytes(Out("plan.jsonl"), broken);
    r = Sweep({"--collect", out.path()});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(Contains(r.err, "plan.jsonl")) << r.err;
    EXPECT_EQ(TempFolder::ReadBytes(Out("summary.csv")), csv);
  }
  TempFolder::WriteBytes(Out("plan.jsonl"), plan);
  // Exit codes and summaries as a run's folder may hold them.
  struct Case {
    const char* exitcode;
    const char* stdoutText;
    const char* says;
  };
  const Case cases[] = {
      {"2147483648\n", "", "is no exit code (0 to 255)"},
      {"1e300\n", "", "is no exit code (0 to 255)"},
      {"-1\n", "", "is no exit code"},
      {"0\n", "{\"endReason\": \"mode100\", \"steps\": }\n", "cannot be read"},
      {"0\n", "", "ended without its summary"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.exitcode);
    TempFolder::WriteBytes(Out("runs/run002/exitcode"), c.exitcode);
    TempFolder::WriteBytes(Out("runs/run002/stdout.txt"), c.stdoutText);
    r = Sweep({"--collect", out.path()});
    EXPECT_EQ(r.code, 1);
    const auto rows = JsonlById(Out("summary.jsonl"));
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_TRUE(Contains(rows.at("run002").at("error"), c.says)) << rows.at("run002").at("error");
    EXPECT_EQ(rows.at("run002").at("summary"), "null");
    EXPECT_EQ(rows.at("run001").at("exitCode"), "0");  // kept from the sweep
  }
}

// One sweep at a time writes a study folder.
TEST_F(SweepTest, ASecondSweepIntoAStudyBeingWrittenIsRefused) {
  const Args grid = Common() + Args{"--grid", "chargeOnLimit=57,58"};
  ASSERT_EQ(Sweep(grid + Args{data.path(), "--out", out.path()}).code, 0);
  const std::string csv = TempFolder::ReadBytes(Out("summary.csv"));
  {
    StudyLock first(out.path());
    for (const Args& second : {grid + Args{data.path(), "--out", out.path()},
                               grid + Args{"--resume", data.path(), "--out", out.path()},
                               Args{"--collect", out.path()}}) {
      BatchResult r = Sweep(second);
      EXPECT_EQ(r.code, 1);
      EXPECT_TRUE(Contains(r.err, out.path() + ": is being written by another drivanto-sweep "
                                               "(process " +
                                      std::to_string(getpid()) + ")"))
          << r.err;
      EXPECT_EQ(TempFolder::ReadBytes(Out("summary.csv")), csv);
    }
  }
  EXPECT_EQ(Sweep(grid + Args{"--resume", data.path(), "--out", out.path()}).code, 0);
}

// The file-size limit reached while the table grows: rows are whole or
// absent, the runs without rows are counted and the reason named, and a
// resume makes the table whole.
TEST_F(SweepTest, RowsAreWholeOrAbsentAndAResumeRepairsTheTable) {
  const Args grid = Common() + Args{"--grid", "chargeOnLimit=51:62:1", "-j", "2",
                                    "--max-steps", "30", data.path(), "--out", out.path()};
  const pid_t child = fork();
  if (child == 0) {
    // As drivanto-sweep does: the limit is an error, not a kill. Big enough
    // for the runs' folders, too small for twelve rows.
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{26000, 26000};
    setrlimit(RLIMIT_FSIZE, &limit);
    std::ostringstream o, e;
    const int code = RunSweep(grid, o, e);
    const bool said = e.str().find("no row: ") != std::string::npos &&
                      e.str().find("file too large") != std::string::npos;
    _exit(code == 1 && said ? 0 : 10 + code);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  const std::string jsonl = TempFolder::ReadBytes(Out("summary.jsonl"));
  ASSERT_FALSE(jsonl.empty());
  EXPECT_EQ(jsonl.back(), '\n');
  const auto rows = JsonlById(Out("summary.jsonl"));  // every line reads
  EXPECT_LT(rows.size(), 12u);
  EXPECT_EQ(CsvTable(Out("summary.csv")).size(), rows.size());
  BatchResult r = Sweep(Args{"--resume"} + grid);
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(JsonlById(Out("summary.jsonl")).size(), 12u);
  EXPECT_EQ(CsvTable(Out("summary.csv")).size(), 12u);
  // A line cut short and a row twice, as an older program could leave them.
  const std::string whole = TempFolder::ReadBytes(Out("summary.jsonl"));
  const std::string first = whole.substr(0, whole.find('\n') + 1);
  TempFolder::WriteBytes(Out("summary.jsonl"), whole + first + "{\"id\": \"run0");
  r = Sweep(Args{"--resume"} + grid);
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(Contains(r.out, "0 runs (12 done before)")) << r.out;
  EXPECT_EQ(TempFolder::ReadBytes(Out("summary.jsonl")).size(), whole.size());
}

}  // namespace
}  // namespace drivanto::testing
