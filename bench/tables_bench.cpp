// Table lookups over the bundled car: through the cache (the file is checked
// for changes at every lookup) against re-reading the file at every lookup.

#include <benchmark/benchmark.h>

#include <string>

#include "data/Tables.h"

namespace {

const std::string kCar = std::string(DRIVANTO_BENCH_DATA_DIR) + "/BIL1/";

// One step's worth of lookups of a running car: road load, battery voltage,
// motor efficiency, engine maximum torque and efficiency, brake regeneration.
double StepLookups(drivanto::TableCache& cache, double v) {
  using drivanto::TABR1;
  using drivanto::TABR2;
  double sum = 0;
  sum += TABR1(cache, kCar + "FORDON.TAB", "1", 'i', v, 1);
  sum += TABR2(cache, kCar + "BATTERI.TAB", "1", 'i', 'i', 35.0, 120.0);
  sum += TABR2(cache, kCar + "ELMOTOR.TAB", "1", 'i', 'i', 80.0, v * 263);
  sum += TABR1(cache, kCar + "FORBR.TAB", "1", 'i', 3000.0, 1);
  sum += TABR2(cache, kCar + "FORBR.TAB", "2", 'i', 'i', 75.0, 3000.0);
  sum += TABR2(cache, kCar + "BROMS.TAB", "1", 'i', 'i', 2500.0, v);
  return sum;
}

void Lookups(benchmark::State& state, bool cached) {
  drivanto::TableCache cache;
  cache.enabled = cached;
  double v = 1;
  for (auto _ : state) {
    benchmark::DoNotOptimize(StepLookups(cache, v));
    v = (v > 40) ? 1 : v + 0.37;
  }
  state.SetItemsProcessed(state.iterations() * 6);
}

void BM_LookupsCached(benchmark::State& state) { Lookups(state, true); }
void BM_LookupsRereading(benchmark::State& state) { Lookups(state, false); }
BENCHMARK(BM_LookupsCached);
BENCHMARK(BM_LookupsRereading);

}  // namespace

BENCHMARK_MAIN();
