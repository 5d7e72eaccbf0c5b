// The bundled car on the urban schedule at a fixed step of 0.04 s (34,252
// steps), with the result files off and with both on; on data that has
// settled and on data copied just before each run. Wall time of the whole
// run (start-up included), and the rate of its steps alone.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "run/Runner.h"
#include "model/Modules.h"
#include "run/Tick.h"
#include "state/Variables.h"

namespace {

std::string CopyOfData() {
  char tmpl[] = "/tmp/drivanto-bench-XXXXXX";
  std::string folder = mkdtemp(tmpl);
  std::filesystem::copy(
      DRIVANTO_BENCH_DATA_DIR, folder,
      std::filesystem::copy_options::recursive | std::filesystem::copy_options::overwrite_existing);
  return folder;
}

// A copy made once, then left to settle for a few seconds.
const std::string& SettledFolder() {
  static const std::string folder = [] {
    std::string f = CopyOfData();
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    return f;
  }();
  return folder;
}

void RunUdds(benchmark::State& state, const std::string& spara, bool freshCopy) {
  int64_t steps = 0;
  double stepSeconds = 0;
  const std::string settled = SettledFolder();
  for (auto _ : state) {
    std::string folder = settled;
    if (freshCopy) {
      state.PauseTiming();
      folder = CopyOfData();
      state.ResumeTiming();
    }
    drivanto::RunSpec run;
    run.folder = folder;
    for (const auto& [name, value] : std::vector<std::pair<std::string, std::string>>{
             {"cycleType", "T"}, {"Ttidd", "UDDS.CYK"}, {"timeMode", "D"}, {"dt", "0.04"},
             {"fullTime", "100000"}, {"fullLength", "1e9"}, {"Spara", spara}}) {
      run.Set(name, value);
    }
    const drivanto::RunResult result = drivanto::Runner().Run(run);
    if (result.exitCode != 0) state.SkipWithError(result.error.c_str());
    steps += result.summary.steps;
    stepSeconds += result.summary.steps / std::max(result.summary.stepsPerSecond, 1.0);
    if (freshCopy) {
      state.PauseTiming();
      std::filesystem::remove_all(folder);
      state.ResumeTiming();
    }
  }
  // The whole run (start-up, the steps, the summary), and the steps alone as
  // the run's summary times them.
  state.counters["steps_per_second"] =
      benchmark::Counter(static_cast<double>(steps), benchmark::Counter::kIsRate);
  state.counters["run_steps_per_second"] = static_cast<double>(steps) / stepSeconds;
}

void BM_UddsResultFilesOff(benchmark::State& state) { RunUdds(state, "0000", false); }
void BM_UddsResultFilesOn(benchmark::State& state) { RunUdds(state, "1100", false); }
void BM_UddsFreshCopyResultFilesOff(benchmark::State& state) { RunUdds(state, "0000", true); }
void BM_UddsFreshCopyResultFilesOn(benchmark::State& state) { RunUdds(state, "1100", true); }
// A run's state copied part-way and the copy stepped alone (as a study that
// branches does): the model's steps without the tick around them.
void BM_UddsCopiedStateSteppedAlone(benchmark::State& state) {
  drivanto::SimulatedClock clock;
  drivanto::Sim sim;
  sim.clock = &clock;
  drivanto::StartUp(sim, SettledFolder());
  for (const auto& [name, value] : std::vector<std::pair<std::string, std::string>>{
           {"cycleType", "T"}, {"Ttidd", SettledFolder() + "/UDDS.CYK"}, {"timeMode", "D"},
           {"dt", "0.04"}, {"fullTime", "100000"}, {"Spara", "0000"}}) {
    std::string why;
    drivanto::SetFieldFromText(sim.s, drivanto::FindField(name)->field, value, &why);
  }
  drivanto::Start(sim, nullptr);
  for (int i = 0; i < 1000; ++i) drivanto::Tick(sim, nullptr);
  int64_t steps = 0;
  for (auto _ : state) {
    drivanto::Sim copy = sim;
    for (int i = 0; i < 30000; ++i) {
      copy.s.stegnr = copy.s.stegnr + 1;
      drivanto::SimulationStep(copy);
    }
    steps += 30000;
  }
  state.counters["steps_per_second"] =
      benchmark::Counter(static_cast<double>(steps), benchmark::Counter::kIsRate);
}

BENCHMARK(BM_UddsResultFilesOff)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_UddsResultFilesOn)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_UddsFreshCopyResultFilesOff)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_UddsFreshCopyResultFilesOn)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_UddsCopiedStateSteppedAlone)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
