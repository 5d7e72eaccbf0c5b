// The optimum on the bundled car: the solver alone (one solve, its grids at
// the defaults: 200 points of used capacity, 40 powers) against one forward
// run of the same cycle, side by side in one process. UDDS with a decision
// every 1 s, on one thread and on two; WLTC 3b with a decision every 0.1 s.

#include <benchmark/benchmark.h>

#include <string>

#include "run/Runner.h"
#include "study/Optimum.h"

namespace {

drivanto::OptimumRequest Request(const std::string& cycle, double step, int threads) {
  drivanto::OptimumRequest request;
  request.run.folder = DRIVANTO_BENCH_DATA_DIR;
  for (const auto& [k, v] : std::vector<std::pair<std::string, std::string>>{
           {"cycleType", "T"}, {"Ttidd", cycle}, {"timeMode", "D"}, {"dt", "0.1"},
           {"Spara", "0000"}}) {
    request.run.Set(k, v);
  }
  request.step = step;
  request.threads = threads;
  request.corrections = 0;  // one solve
  request.schedule = "/tmp/drivanto-bench-optimal-" + cycle + ".csv";
  return request;
}

void Optimum(benchmark::State& state, const std::string& cycle, double step, int threads) {
  const drivanto::OptimumRequest request = Request(cycle, step, threads);
  double solve = 0, forward = 0, record = 0, memory = 0;
  for (auto _ : state) {
    const drivanto::OptimumReport r = drivanto::RunOptimum(request);
    if (r.exitCode != 0) {
      state.SkipWithError(r.error.c_str());
      return;
    }
    solve += r.solveSeconds;
    forward += r.forwardSeconds;
    record += r.recordSeconds;
    memory = static_cast<double>(r.solution.memoryBytes);
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["solve_s"] = solve / n;
  state.counters["forward_run_s"] = forward / n;
  state.counters["recording_s"] = record / n;
  state.counters["solve_over_forward"] = solve / forward;
  state.counters["memory_MB"] = memory / 1e6;
}

}  // namespace

BENCHMARK_CAPTURE(Optimum, udds_1s_1thread, std::string("UDDS.CYK"), 1.0, 1)
    ->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK_CAPTURE(Optimum, udds_1s_2threads, std::string("UDDS.CYK"), 1.0, 2)
    ->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK_CAPTURE(Optimum, wltc3b_0_1s_1thread, std::string("WLTC3B.CYK"), 0.1, 1)
    ->Unit(benchmark::kMillisecond)->Iterations(3);

BENCHMARK_MAIN();
