// Table lookups over the bundled car: compiled tables found through their
// sites, within a step (the notification queue already read), per step of six
// lookups (one read of the queue included), with every lookup checking the
// file's status (where there are no notifications), and re-reading the file
// at every lookup.

#include <benchmark/benchmark.h>

#include <string>

#include "data/Tables.h"

namespace {

const std::string kCar = std::string(DRIVANTO_BENCH_DATA_DIR) + "/BIL1/";
const std::string kVehicle = kCar + "FORDON.TAB";
const std::string kBattery = kCar + "BATTERI.TAB";
const std::string kMotor = kCar + "ELMOTOR.TAB";
const std::string kEngine = kCar + "FORBR.TAB";
const std::string kBrake = kCar + "BROMS.TAB";

struct Sites {
  drivanto::TableSite vehicle, battery, motor, torque, efficiency, brake;
};

// One step's worth of lookups of a running car: road load, battery voltage,
// motor efficiency, engine maximum torque and efficiency, brake regeneration.
double StepLookups(drivanto::TableCache& cache, Sites& s, double v) {
  using drivanto::TABR1;
  using drivanto::TABR2;
  double sum = 0;
  sum += TABR1(cache, s.vehicle, kVehicle, "1", 'i', v, 1);
  sum += TABR2(cache, s.battery, kBattery, "1", 'i', 'i', 35.0, 120.0);
  sum += TABR2(cache, s.motor, kMotor, "1", 'i', 'i', 80.0, v * 263);
  sum += TABR1(cache, s.torque, kEngine, "1", 'i', 3000.0, 1);
  sum += TABR2(cache, s.efficiency, kEngine, "2", 'i', 'i', 75.0, 3000.0);
  sum += TABR2(cache, s.brake, kBrake, "1", 'i', 'i', 2500.0, v);
  return sum;
}

enum class Mode { InStep, StepPerSix, StatusChecked, Rereading };

void Lookups(benchmark::State& state, Mode mode) {
  drivanto::TableCache cache;
  cache.enabled = mode != Mode::Rereading;
  cache.notifications = mode != Mode::StatusChecked;
  Sites sites;
  double v = 1;
  if (mode == Mode::InStep) cache.BeginStep();
  for (auto _ : state) {
    if (mode == Mode::StepPerSix) cache.BeginStep();
    benchmark::DoNotOptimize(StepLookups(cache, sites, v));
    if (mode == Mode::StepPerSix) cache.EndStep();
    v = (v > 40) ? 1 : v + 0.37;
  }
  state.SetItemsProcessed(state.iterations() * 6);
}

void BM_LookupsCachedInStep(benchmark::State& state) { Lookups(state, Mode::InStep); }
void BM_LookupsStepOfSix(benchmark::State& state) { Lookups(state, Mode::StepPerSix); }
void BM_LookupsStatusChecked(benchmark::State& state) { Lookups(state, Mode::StatusChecked); }
void BM_LookupsRereading(benchmark::State& state) { Lookups(state, Mode::Rereading); }
BENCHMARK(BM_LookupsCachedInStep);
BENCHMARK(BM_LookupsStepOfSix);
BENCHMARK(BM_LookupsStatusChecked);
BENCHMARK(BM_LookupsRereading);

}  // namespace

BENCHMARK_MAIN();
