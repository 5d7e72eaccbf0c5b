// A result-file row of 30 fixed-point fields of width 10 with 0, 1 or 2
// decimals, written by AppendFixed against the C library's snprintf; and a
// row of fields that all sit at rounding ties, where AppendFixed takes its
// exact way.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <span>
#include <string>

#include "base/FixedFormat.h"

namespace {

struct Field {
  double value;
  int decimals;
};

// Values of the kind a step writes: speeds, forces, powers, energies, small
// and negative quantities, whole numbers; one (0.995 with 2 decimals) lies at
// a rounding tie of its scaled value and takes the exact way.
constexpr Field kRow[30] = {
    {1234.567, 2}, {-0.04, 2},   {3000.0, 0},   {0.75, 2},    {12.3456, 1},  {88.125, 1},
    {-153.27, 1},  {0.0, 2},     {9.81, 2},     {4711.0, 0},  {-2.5e-3, 2},  {63.4, 1},
    {250000.4, 0}, {1.0 / 3, 2}, {-17.83, 1},   {0.995, 2},   {345.678, 1},  {-1234.4, 0},
    {27.0, 1},     {0.012, 2},   {1500.75, 0},  {-98.6, 2},   {7.25, 2},     {42.0, 0},
    {0.5, 1},      {-0.0, 2},    {123456.7, 1}, {2.71828, 2}, {-3000.27, 1}, {55.55, 2},
};

// Thirty fields that all lie at a tie of their scaled value (k + 0.5 with no
// decimals, decimal values ending in 5 one place after the printed ones), all
// taking the exact way: the cost of the slow case.
constexpr Field kTies[30] = {
    {0.5, 0},     {1.5, 0},     {2.5, 0},    {-3.5, 0},   {1234.5, 0}, {0.125, 2},
    {0.375, 2},   {-0.625, 2},  {2.25, 1},   {-7.75, 1},  {0.005, 2},  {0.015, 2},
    {0.285, 2},   {1.005, 2},   {-2.675, 2}, {0.995, 2},  {17.85, 1},  {-0.45, 1},
    {3000.25, 1}, {10.05, 1},   {99.95, 1},  {0.0625, 3}, {1.0005, 3}, {-5.5, 0},
    {6.5, 0},     {-88.125, 2}, {4.35, 1},   {0.035, 2},  {12.345, 2}, {-0.055, 2},
};

void AppendFixedFields(benchmark::State& state, const Field* fields) {
  std::string row;
  for (auto _ : state) {
    row.clear();
    for (const Field& f : std::span<const Field>(fields, 30)) {
      drivanto::AppendFixed(row, f.value, 10, f.decimals);
    }
    benchmark::DoNotOptimize(row.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * 30);
  state.counters["ns_per_field"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * 30,
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void SnprintfFields(benchmark::State& state, const Field* fields) {
  std::string row;
  char buf[400];
  for (auto _ : state) {
    row.clear();
    for (const Field& f : std::span<const Field>(fields, 30)) {
      const int n = std::snprintf(buf, sizeof buf, "%*.*f", 10, f.decimals, f.value);
      row.append(buf, static_cast<std::size_t>(n));
    }
    benchmark::DoNotOptimize(row.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * 30);
  state.counters["ns_per_field"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * 30,
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

}  // namespace

BENCHMARK_CAPTURE(AppendFixedFields, typical_row, kRow);
BENCHMARK_CAPTURE(SnprintfFields, typical_row, kRow);
BENCHMARK_CAPTURE(AppendFixedFields, all_ties, kTies);
BENCHMARK_CAPTURE(SnprintfFields, all_ties, kTies);

BENCHMARK_MAIN();
