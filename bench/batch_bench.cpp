// The bundled car on the urban schedule at a fixed step of 0.04 s (about
// 34,000 steps), with the result files off and with both on.

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "shell/Batch.h"

namespace {

std::string WorkFolder() {
  static std::string folder;
  if (folder.empty()) {
    char tmpl[] = "/tmp/drivanto-bench-XXXXXX";
    folder = mkdtemp(tmpl);
    std::filesystem::copy(DRIVANTO_BENCH_DATA_DIR, folder,
                          std::filesystem::copy_options::recursive |
                              std::filesystem::copy_options::overwrite_existing);
    // Files changed in the last two seconds are compared byte for byte at
    // every lookup; the benchmark measures the ordinary case of settled files.
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
  }
  return folder;
}

void RunUdds(benchmark::State& state, const std::string& spara) {
  const std::vector<std::string> args = {
      "--set", "cycleType=T", "--set", "Ttidd=UDDS.CYK", "--set", "timeMode=D",
      "--set", "dt=0.04",     "--set", "fullTime=100000", "--set", "fullLength=1e9",
      "--set", "Spara=" + spara, WorkFolder()};
  int64_t steps = 0;
  for (auto _ : state) {
    std::ostringstream out, err;
    if (drivanto::RunBatch(args, out, err) != 0) state.SkipWithError(err.str().c_str());
    steps += 34252;
  }
  state.counters["steps_per_second"] = benchmark::Counter(static_cast<double>(steps), benchmark::Counter::kIsRate);
}

void BM_UddsResultFilesOff(benchmark::State& state) { RunUdds(state, "0000"); }
void BM_UddsResultFilesOn(benchmark::State& state) { RunUdds(state, "1100"); }
BENCHMARK(BM_UddsResultFilesOff)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UddsResultFilesOn)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
