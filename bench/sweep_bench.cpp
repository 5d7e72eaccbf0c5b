// A study of 40 runs of the urban schedule at a fixed step of 0.04 s (34,252
// steps each, result files off) through drivanto-sweep on one and two
// cores, against a single run: steps per second of wall time, the working
// copies of the folder included (on disk and in memory).

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "cli/Batch.h"
#include "study/Sweep.h"

namespace {

constexpr int64_t kSteps = 34252;

const std::vector<std::string> kUdds = {"--set", "cycleType=T",    "--set", "Ttidd=UDDS.CYK",
                                        "--set", "timeMode=D",     "--set", "dt=0.04",
                                        "--set", "fullTime=100000", "--set", "Spara=0000"};

std::string TempDir(const char* under = "/tmp") {
  std::string tmpl = std::string(under) + "/drivanto-sweep-bench-XXXXXX";
  return mkdtemp(tmpl.data());
}

void BM_SingleUddsRun(benchmark::State& state) {
  const std::string work = TempDir();
  std::filesystem::copy(DRIVANTO_BENCH_DATA_DIR, work, std::filesystem::copy_options::recursive);
  std::vector<std::string> args = kUdds;
  args.push_back(work);
  int64_t steps = 0;
  for (auto _ : state) {
    std::ostringstream out, err;
    if (drivanto::RunBatch(args, out, err) != 0) state.SkipWithError(err.str().c_str());
    steps += kSteps;
  }
  state.counters["steps_per_second"] =
      benchmark::Counter(static_cast<double>(steps), benchmark::Counter::kIsRate);
  std::filesystem::remove_all(work);
}

// range(0): runs at a time; range(1): 1 puts the study's folder in memory
// (/dev/shm), where making the runs' working copies costs nearly nothing.
void BM_Sweep40UddsRuns(benchmark::State& state) {
  const std::string out = TempDir(state.range(1) ? "/dev/shm" : "/tmp");
  std::vector<std::string> args = kUdds;
  const std::vector<std::string> more = {"--grid",
                                         "chargeOnLimit=40:79:1",
                                         "-j",
                                         std::to_string(state.range(0)),
                                         DRIVANTO_BENCH_DATA_DIR,
                                         "--out",
                                         out};
  args.insert(args.end(), more.begin(), more.end());
  int64_t steps = 0;
  for (auto _ : state) {
    std::ostringstream o, e;
    if (drivanto::RunSweep(args, o, e) != 0) state.SkipWithError(e.str().c_str());
    steps += 40 * kSteps;
  }
  state.counters["steps_per_second"] =
      benchmark::Counter(static_cast<double>(steps), benchmark::Counter::kIsRate);
  std::filesystem::remove_all(out);
}

// A study of 200 short runs (10 s of the urban schedule each, 250 steps):
// what a run costs besides its steps. range(0): runs at a time.
void BM_Sweep200ShortRuns(benchmark::State& state) {
  const std::string out = TempDir();
  std::vector<std::string> args = kUdds;
  const std::vector<std::string> more = {"--set", "fullTime=10", "--grid", "chargeOnLimit=40:59.9:0.1",
                                         "-j", std::to_string(state.range(0)),
                                         DRIVANTO_BENCH_DATA_DIR, "--out", out};
  args.insert(args.end(), more.begin(), more.end());
  int64_t runs = 0;
  for (auto _ : state) {
    std::ostringstream o, e;
    if (drivanto::RunSweep(args, o, e) != 0) state.SkipWithError(e.str().c_str());
    runs += 200;
  }
  state.counters["runs_per_second"] =
      benchmark::Counter(static_cast<double>(runs), benchmark::Counter::kIsRate);
  std::filesystem::remove_all(out);
}

BENCHMARK(BM_SingleUddsRun)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Sweep40UddsRuns)
    ->Args({1, 0})
    ->Args({2, 0})
    ->Args({2, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(2);
BENCHMARK(BM_Sweep200ShortRuns)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
