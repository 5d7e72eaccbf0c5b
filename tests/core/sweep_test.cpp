// drivanto-sweep: runs over a grid or a table of settings in folders of their
// own, the summary table written as runs finish, resumed sweeps, failed runs
// as rows, and the same study through GNU parallel and collected afterwards.

#include <sys/wait.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "batch_harness.h"
#include "shell/Json.h"
#include "shell/Sweep.h"

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
          v.key.find("stepsPerSecond") != std::string::npos ||
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
  EXPECT_EQ(header.rfind("id,chargeOnLimit,chargeOffLimit,exitCode,error,endReason,steps,", 0), 0u);
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
      if (key == "wallSeconds" || key == "stepsPerSecond" || value == "{}" ||
          (key.rfind("inputs.", 0) == 0 && key.size() > 5 &&
           key.substr(key.size() - 5) == ".file")) {
        continue;
      }
      EXPECT_EQ(row.at("summary." + key), value) << key;
    }
    EXPECT_TRUE(fs::exists(Out("runs/" + id + "/CONS.VAL")));
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
  EXPECT_TRUE(Contains(script, "sed -n \"${SLURM_ARRAY_TASK_ID}p\" '" + Out("jobs.txt") + "'"));
  // Task 2 of the array, as Slurm would start it.
  ASSERT_EQ(std::system(("cd '" + out.path() + "' && SLURM_ARRAY_TASK_ID=2 bash '" +
                         Out("sweep.sbatch") + "'")
                            .c_str()),
            0);
  EXPECT_EQ(TempFolder::ReadBytes(Out("runs/run002/exitcode")), "0\n");
  EXPECT_FALSE(fs::exists(Out("runs/run001/exitcode")));
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
