// The optimum by dynamic programming over the battery's used capacity, and
// the program's run of it: the recording, the solve, the schedule and the
// forward run.

#include "study/Optimum.h"

#include <algorithm>
#include <barrier>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <thread>

#include "base/Errors.h"
#include "base/Files.h"
#include "base/NumberText.h"
#include "model/Sim.h"
#include "run/SettingText.h"

namespace drivanto {

namespace {

// l of fuel a % of used capacity outside the limits, or above the end, is
// weighed as: more than any cycle burns, so the solver leaves them whenever
// it can.
constexpr double kOutside = 1000;

// The battery's current for each power it gives, at each point of the grid
// of used capacity: a row per point, in equal steps of power.
struct CurrentTables {
  static constexpr int kRows = 2048;
  double p0 = 0, step = 1;
  std::vector<double> current;
  // `x`: (power - p0) / step.
  double At(std::size_t point, double x) const {
    x = std::clamp(x, 0.0, kRows - 1.0);
    const int k = std::min(static_cast<int>(x), kRows - 2);
    const double* row = &current[point * kRows];
    return row[k] + (x - k) * (row[k + 1] - row[k]);
  }
};

CurrentTables MakeCurrentTables(const OptimumProblem& p, const std::vector<double>& grid) {
  CurrentTables t;
  double lo = 0, hi = 0, most = 0;
  for (double d : p.demand) {
    lo = std::min(lo, d);
    hi = std::max(hi, d);
  }
  for (const OperatingPoint& o : p.points) most = std::max(most, o.power);
  lo -= most + 1000;
  hi += 1000;
  t.p0 = lo;
  t.step = (hi - lo) / (CurrentTables::kRows - 1);
  t.current.resize(grid.size() * CurrentTables::kRows);
  // The power at a current, sampled finely from charging to discharging,
  // then turned round; beyond the most power the battery gives (or takes)
  // its last current stands.
  constexpr int kSamples = 4 * CurrentTables::kRows;
  std::vector<double> current(kSamples + 1), power(kSamples + 1);
  for (std::size_t i = 0; i < grid.size(); ++i) {
    double v0 = p.voltages(grid[i], {0.0})[0];
    if (!(v0 > 1)) v0 = 1;
    const double iLo = 3 * lo / v0, iHi = 3 * hi / v0;
    for (int m = 0; m <= kSamples; ++m) current[m] = iLo + (iHi - iLo) * m / kSamples;
    const std::vector<double> volts = p.voltages(grid[i], current);
    // Beyond the table, the last voltage it gave.
    double lastVolts = v0;
    for (int m = 0; m <= kSamples; ++m) {
      const double v = std::isfinite(volts[m]) ? volts[m] : lastVolts;
      lastVolts = v;
      power[m] = v * current[m];
      if (m > 0 && power[m] < power[m - 1]) power[m] = power[m - 1];
    }
    double* row = &t.current[i * CurrentTables::kRows];
    int m = 0;
    for (int r = 0; r < CurrentTables::kRows; ++r) {
      const double target = t.p0 + r * t.step;
      while (m < kSamples - 1 && power[m + 1] < target) ++m;
      const double span = power[m + 1] - power[m];
      const double f = span > 0 ? std::clamp((target - power[m]) / span, 0.0, 1.0) : 0.0;
      row[r] = current[m] + f * (current[m + 1] - current[m]);
    }
  }
  return t;
}

}  // namespace

OptimumSolution SolveOptimum(const OptimumProblem& p) {
  OptimumSolution out;
  const std::size_t stages = p.first.empty() ? 0 : p.first.size() - 1;
  const int points = std::max(p.usedPoints, 2);
  // The grid, laid so that the end's used capacity is one of its points.
  const double du = (p.usedMax - p.usedMin) / (points - 1);
  const double lowest = p.usedEnd - std::floor((p.usedEnd - p.usedMin) / du + 1e-9) * du;
  const std::size_t n = static_cast<std::size_t>(std::floor((p.usedMax - lowest) / du + 1e-9)) + 1;
  std::vector<double> grid(n);
  for (std::size_t i = 0; i < n; ++i) grid[i] = lowest + du * static_cast<double>(i);
  const CurrentTables tables = MakeCurrentTables(p, grid);
  // Choice 0 is the engine off, choice c the point c - 1.
  const std::size_t choices = p.points.size() + 1;
  std::vector<double> shift(choices, 0), burn(choices, 0), nox(choices, 0);
  for (std::size_t c = 1; c < choices; ++c) {
    shift[c] = p.points[c - 1].power / tables.step;
    burn[c] = p.points[c - 1].fuelFlow;
    nox[c] = p.points[c - 1].noxFlow;
  }
  const int layers = p.startCost > 0 ? 2 : 1;  // the engine off and on
  const double perAmpereSecond = p.capacity > 0 ? 100 / (p.capacity * 3600) : 0;
  const std::size_t layer = n;
  // The cost to go from each stage on, kept for the way forward.
  std::vector<float> kept((stages + 1) * layers * layer);
  out.memoryBytes = kept.size() * sizeof(float) + tables.current.size() * sizeof(double);
  // Beyond the grid's ends (the limits, or just inside them) the cost rises
  // steeply from the end's: never flat, or the solver would find there a
  // battery that empties for nothing and carry it back over the grid.
  const double highest = grid[n - 1];
  auto costAt = [&](const auto* row, double u) {
    const double g = (u - lowest) / du;
    if (g <= 0) return static_cast<double>(row[0]) + kOutside * (lowest - u);
    const double top = static_cast<double>(n - 1);
    if (g >= top) return static_cast<double>(row[n - 1]) + kOutside * (u - highest);
    const std::size_t k = static_cast<std::size_t>(g);
    const double f = g - static_cast<double>(k);
    return row[k] + f * (static_cast<double>(row[k + 1]) - row[k]);
  };
  auto terminal = [&](double u) { return u > p.usedEnd + 1e-12 ? kOutside * (u - p.usedEnd) : 0.0; };
  for (int e = 0; e < layers; ++e) {
    for (std::size_t i = 0; i < n; ++i) {
      kept[(stages * layers + e) * layer + i] = static_cast<float>(terminal(grid[i]));
    }
  }
  // Backwards over the stages, the grid shared among the threads. The cost to
  // go is carried in double between stages; its float copy guides the way
  // forward.
  std::vector<double> buffers[2] = {std::vector<double>(layers * layer),
                                    std::vector<double>(layers * layer)};
  for (int e = 0; e < layers; ++e) {
    for (std::size_t i = 0; i < n; ++i) buffers[stages % 2][e * layer + i] = terminal(grid[i]);
  }
  const int threads = std::clamp(p.threads, 1, static_cast<int>(std::max<std::size_t>(n / 8, 1)));
  std::barrier sync(threads);
  auto work = [&](int t) {
    const std::size_t from = n * t / threads, to = n * (t + 1) / threads;
    std::vector<double> x, next(choices);
    for (std::size_t k = stages; k-- > 0;) {
      const std::size_t a = p.first[k], b = p.first[k + 1];
      double length = 0;
      x.clear();
      for (std::size_t s = a; s < b; ++s) {
        x.push_back((p.demand[s] - tables.p0) / tables.step);
        length += p.dt[s];
      }
      const std::vector<double>& later = buffers[(k + 1) % 2];
      std::vector<double>& now = buffers[k % 2];
      for (std::size_t i = from; i < to; ++i) {
        for (std::size_t c = 0; c < choices; ++c) {
          double charge = 0;
          for (std::size_t s = 0; s < x.size(); ++s) {
            charge += tables.At(i, x[s] - shift[c]) * p.dt[a + s];
          }
          next[c] = grid[i] + charge * perAmpereSecond;
        }
        for (int e = 0; e < layers; ++e) {
          double best = HUGE_VAL;
          for (std::size_t c = 0; c < choices; ++c) {
            const int onLater = layers == 2 && c > 0 ? 1 : 0;
            const double u = next[c];
            // The later cost, read from the double carried row.
            const double ahead = costAt(&later[onLater * layer], u);
            double cost = (burn[c] + p.noxWeight * nox[c]) * length + ahead;
            if (layers == 2 && e == 0 && c > 0) cost += p.startCost;
            best = std::min(best, cost);
          }
          now[e * layer + i] = best;
          kept[(k * layers + e) * layer + i] = static_cast<float>(best);
        }
      }
      sync.arrive_and_wait();
    }
  };
  std::vector<std::thread> helpers;
  for (int t = 1; t < threads; ++t) helpers.emplace_back(work, t);
  work(0);
  for (std::thread& h : helpers) h.join();

  // Forward from the start: each stage's choice of least cost at the used
  // capacity reached (between the grid's rows), with its exact transition.
  double u = p.usedStart;
  int e = layers == 2 && p.engineOnAtStart ? 1 : 0;
  bool on = p.engineOnAtStart;
  out.used.push_back(u);
  for (std::size_t k = 0; k < stages; ++k) {
    const std::size_t a = p.first[k], b = p.first[k + 1];
    double length = 0;
    for (std::size_t s = a; s < b; ++s) length += p.dt[s];
    const double g = std::clamp((u - lowest) / du, 0.0, static_cast<double>(n - 1));
    const std::size_t i0 = std::min(static_cast<std::size_t>(g), n - 2);
    const double f = g - static_cast<double>(i0);
    int best = 0;
    double bestCost = HUGE_VAL, bestNext = u;
    for (std::size_t c = 0; c < choices; ++c) {
      double charge = 0;
      for (std::size_t s = a; s < b; ++s) {
        const double xs = (p.demand[s] - tables.p0) / tables.step - shift[c];
        charge += ((1 - f) * tables.At(i0, xs) + f * tables.At(i0 + 1, xs)) * p.dt[s];
      }
      const double next = u + charge * perAmpereSecond;
      const int onLater = layers == 2 && c > 0 ? 1 : 0;
      double cost = (burn[c] + p.noxWeight * nox[c]) * length +
                    costAt(&kept[((k + 1) * layers + onLater) * layer], next);
      if (layers == 2 && e == 0 && c > 0) cost += p.startCost;
      if (cost < bestCost) {
        bestCost = cost;
        best = static_cast<int>(c);
        bestNext = next;
      }
    }
    out.choice.push_back(best - 1);
    if (best > 0) {
      if (!on) ++out.starts;
      out.fuel += burn[best] * length;
      out.nox += nox[best] * length;
    }
    on = best > 0;
    if (layers == 2) e = on ? 1 : 0;
    u = bestNext;
    out.used.push_back(u);
    if (u < p.usedMin - 1e-9 || u > p.usedMax + 1e-9) out.feasible = false;
  }
  if (u > p.usedEnd + 1e-3) out.feasible = false;
  out.cost = out.fuel + p.noxWeight * out.nox + p.startCost * out.starts;
  return out;
}

namespace {

// Records what the traction side asks of the battery, step by step, and
// keeps the run's state at its start (for the car's tables).
class DemandRecorder : public RunObserver {
 public:
  std::unique_ptr<Sim> start;
  std::vector<double> ttot, dt, demand;
  void Begin(const Sim& sim) override { start = std::make_unique<Sim>(sim); }
  void AfterStep(const Sim& sim, int64_t) override {
    const State& s = sim.s;
    ttot.push_back(s.ttot);
    dt.push_back(s.dt);
    demand.push_back(s.U * (s.totalCurrent - s.regenCurrent));
  }
};

double SecondsSince(std::chrono::steady_clock::time_point t) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

}  // namespace

OptimumReport RunOptimum(const OptimumRequest& request) {
  using Clock = std::chrono::steady_clock;
  OptimumReport report;
  auto fail = [&](int code, const std::string& why) {
    report.exitCode = code;
    report.error = why;
    return report;
  };
  if (!(request.step > 0) || !std::isfinite(request.step)) return fail(2, "the decision step must be above 0 s");
  if (request.usedPoints < 2 || request.powers < 1) {
    return fail(2, "the grids need at least 2 points of used capacity and 1 power");
  }
  // The runs are the car's with the optimum's strategy: a strategy chosen
  // among the settings has no say.
  RunSpec base = request.run;
  std::erase_if(base.actions, [](const RunSpec::Action& a) {
    return a.kind == RunSpec::Action::Set && IsStrategyChoice(a.a);
  });
  // 1. What the traction side asks of the battery, from one run of the cycle.
  DemandRecorder recorder;
  RunSpec recording = base;
  recording.strategy = "thermostat";
  recording.strategyParams.clear();
  recording.Set("Spara", "0000");
  recording.trace.clear();
  recording.saveSnapshot.clear();
  recording.otherOutputs.clear();
  recording.observers = {&recorder};
  auto started = Clock::now();
  const RunResult recorded = Runner().Run(recording);
  report.recordSeconds = SecondsSince(started);
  if (recorded.exitCode != 0) return fail(recorded.exitCode, recorded.error);
  if (!recorder.start || recorder.start->s.cycleType != 'T') {
    return fail(2, "the optimum needs a time cycle (cycleType=T, the cycle file in Ttidd)");
  }
  if (!recorded.summary.cycle.completed || recorder.ttot.empty()) {
    return fail(1, "the cycle was not driven to its end (" + recorded.summary.endReason +
                       "): the optimum needs the whole cycle");
  }
  Sim& car = *recorder.start;
  QuerySites sites;
  CarQueries queries(*car.tables, car.s, sites);

  OptimumProblem problem;
  problem.capacity = car.s.batCapacity;
  problem.usedStart = car.s.usedCapacity;
  problem.usedMin = std::isnan(request.usedMin) ? std::max(0.01, problem.usedStart - 10) : request.usedMin;
  problem.usedMax = std::isnan(request.usedMax) ? std::min(100.0, problem.usedStart + 10) : request.usedMax;
  if (request.limitsFromConstants) {
    problem.usedMin = car.s.chargeOffLimit;
    problem.usedMax = car.s.chargeOnLimit;
  }
  if (!(problem.usedMin < problem.usedStart && problem.usedStart < problem.usedMax)) {
    return fail(2, "the limits of used capacity (" + FormatShortest(problem.usedMin) + " to " +
                       FormatShortest(problem.usedMax) + " %) must hold the start's " +
                       FormatShortest(problem.usedStart) + " % between them");
  }
  if (!(problem.capacity > 0)) return fail(1, "the battery has no capacity (batCapacity)");
  report.usedMin = problem.usedMin;
  report.usedMax = problem.usedMax;
  report.generatorSpeed = request.fixedSpeed ? queries.GeneratorSpeed() : 0;
  double most = request.maxPower;
  if (most <= 0) {
    if (request.fixedSpeed) {
      double torque = 0;
      const double n = queries.GeneratorSpeed();
      if (n > 2 && queries.MaxTorque(n, &torque) && queries.TorqueFor(1000, n) > 0) {
        most = 1000 * torque / queries.TorqueFor(1000, n);
      }
    } else {
      most = MostPower(queries);
    }
  }
  report.maxPower = most;
  problem.points = OperatingPoints(queries, most, request.powers, report.generatorSpeed);
  report.powers = static_cast<int>(problem.points.size());
  if (problem.points.empty()) {
    return fail(1, "the engine's tables give no charging power up to " + FormatShortest(most) +
                       " W" + (request.fixedSpeed ? " at the generator's speed" : ""));
  }
  problem.voltages = [&queries](double u, const std::vector<double>& currents) {
    return queries.Voltages(u, currents);
  };
  problem.demand = recorder.demand;
  problem.dt = recorder.dt;
  // The decision steps: a model step belongs to the decision step its end
  // falls in, counted from the run's start.
  const double t0 = recorder.ttot[0] - recorder.dt[0];
  long last = -1;
  for (std::size_t s = 0; s < recorder.ttot.size(); ++s) {
    const long stage =
        std::max(0L, static_cast<long>(std::ceil((recorder.ttot[s] - t0) / request.step - 1e-9)) - 1);
    if (stage != last) {
      problem.first.push_back(s);
      last = stage;
    }
  }
  problem.first.push_back(recorder.ttot.size());
  report.stages = static_cast<int>(problem.first.size() - 1);
  problem.usedPoints = request.usedPoints;
  problem.startCost = request.startCost;
  problem.noxWeight = request.noxWeight;
  problem.engineOnAtStart = car.s.chargeState == '+';
  problem.threads = request.threads;

  // 2. and 3. Solve, write the schedule, drive it; aim the end again while
  // the forward run ends away from its start. The schedule lands on none of
  // the run's inputs.
  const std::string schedule = AbsolutePath(request.schedule);
  for (const InputPrint& input : recorded.inputs) {
    std::error_code ec;
    if (!input.file.empty() && (input.file == schedule ||
                                std::filesystem::equivalent(input.file, schedule, ec))) {
      return fail(2, "the schedule " + schedule + " would overwrite an input of the run (" +
                         input.key + ")");
    }
  }
  RunSpec forward = base;
  forward.strategy = "schedule=" + schedule;
  // (Checked against the forward run's result files, trace and snapshot.)
  forward.otherOutputs.emplace_back("the schedule", schedule);
  forward.strategyParams.clear();
  double target = problem.usedStart;
  for (int attempt = 0;; ++attempt) {
    problem.usedEnd = std::clamp(target, problem.usedMin, problem.usedMax);
    started = Clock::now();
    report.solution = SolveOptimum(problem);
    report.solveSeconds += SecondsSince(started);
    ++report.solves;
    std::string csv = "time,engineOn,power,speed\n";
    report.scheduleRows = 0;
    int previous = -2;
    for (std::size_t k = 0; k < report.solution.choice.size(); ++k) {
      const int c = report.solution.choice[k];
      if (c == previous) continue;
      previous = c;
      const double time = recorder.ttot[problem.first[k]];
      csv += FormatShortest(time) + ",";
      csv += c < 0 ? "0,0,0\n"
                   : "1," + FormatShortest(problem.points[c].power) + "," +
                         FormatShortest(problem.points[c].speed) + "\n";
      ++report.scheduleRows;
    }
    try {
      WriteFileAtomic(schedule, csv);
    } catch (const IoError& e) {
      return fail(1, std::string("the schedule cannot be written: ") + e.what());
    }
    started = Clock::now();
    report.forward = Runner().Run(forward);
    report.forwardSeconds += SecondsSince(started);
    if (report.forward.exitCode != 0) return fail(report.forward.exitCode, report.forward.error);
    const double miss = report.forward.summary.balance.endUsedCapacity - problem.usedStart;
    if (std::fabs(miss) <= 0.05 || attempt >= request.corrections) break;
    target -= miss;
  }
  return report;
}

std::string OptimumReport::Text(const OptimumRequest& request, bool json) const {
  const RunSummary& f = forward.summary;
  const double km = f.distance / 1000;
  const double difference =
      solution.fuel > 0 ? 100 * (f.fuelUsed - solution.fuel) / solution.fuel : 0.0;
  if (json) {
    std::string o = "{\n  \"solver\": {";
    auto add = [&](const std::string& key, const std::string& value, bool last = false) {
      o += "\"" + key + "\": " + value + (last ? "" : ", ");
    };
    add("fuel", JsonNumber(solution.fuel));
    add("fuelPer100km", JsonNumber(km > 0 ? solution.fuel / km * 100 : 0));
    add("nox", JsonNumber(solution.nox));
    add("starts", std::to_string(solution.starts));
    add("cost", JsonNumber(solution.cost));
    add("endUsedCapacity", JsonNumber(solution.used.empty() ? 0 : solution.used.back()));
    add("feasible", solution.feasible ? "true" : "false");
    add("forwardFuel", JsonNumber(f.fuelUsed));
    add("forwardCorrectedFuel", JsonNumber(f.balance.correctedFuel));
    add("forwardCorrectedFuelPer100km", JsonNumber(f.balance.correctedFuelPer100km));
    add("differencePercent", JsonNumber(difference));
    add("step", JsonNumber(request.step));
    add("stages", std::to_string(stages));
    add("usedPoints", std::to_string(request.usedPoints));
    add("usedMin", JsonNumber(usedMin));
    add("usedMax", JsonNumber(usedMax));
    add("powers", std::to_string(powers));
    add("maxPower", JsonNumber(maxPower));
    add("engineSpeed", request.fixedSpeed ? JsonNumber(generatorSpeed) : "\"best\"");
    add("startCost", JsonNumber(request.startCost));
    add("noxWeight", JsonNumber(request.noxWeight));
    add("threads", std::to_string(request.threads));
    add("solves", std::to_string(solves));
    add("schedule", JsonString(AbsolutePath(request.schedule)));
    add("scheduleRows", std::to_string(scheduleRows));
    add("memoryBytes", std::to_string(solution.memoryBytes));
    add("recordSeconds", JsonNumber(recordSeconds));
    add("solveSeconds", JsonNumber(solveSeconds));
    add("forwardSeconds", JsonNumber(forwardSeconds), true);
    return o + "},\n  \"forward\": " + forward.SummaryText(true) + "\n}\n";
  }
  char line[512];
  std::string o;
  std::snprintf(line, sizeof line, "optimum         %.4f l of fuel by the solver (%.2f l/100 km), %d starts, ends at %.3f %% used%s\n",
                solution.fuel, km > 0 ? solution.fuel / km * 100 : 0.0, solution.starts,
                solution.used.empty() ? 0.0 : solution.used.back(),
                solution.feasible ? "" : " (outside the limits: no schedule keeps them)");
  o += line;
  std::snprintf(line, sizeof line, "forward run     %.4f l of fuel, corrected %.4f l (%.2f l/100 km), %lld starts, ends at %.3f %% used\n",
                f.fuelUsed, f.balance.correctedFuel, f.balance.correctedFuelPer100km,
                static_cast<long long>(f.engineStarts), f.balance.endUsedCapacity);
  o += line;
  std::snprintf(line, sizeof line, "difference      %+.2f %% (the forward run's fuel against the solver's)\n", difference);
  o += line;
  std::snprintf(line, sizeof line, "grids           %d points of used capacity from %g to %g %%, %d charging powers up to %.0f W %s, a decision every %g s (%d decisions)\n",
                request.usedPoints, usedMin, usedMax, powers, maxPower,
                request.fixedSpeed ? "at the generator's speed" : "each at its best engine speed",
                request.step, stages);
  o += line;
  if (request.startCost > 0 || request.noxWeight > 0) {
    std::snprintf(line, sizeof line, "weights         %g l per engine start, %g l per g of NOx\n",
                  request.startCost, request.noxWeight);
    o += line;
  }
  o += "schedule        " + AbsolutePath(request.schedule) + " (" + std::to_string(scheduleRows) + " rows)\n";
  std::snprintf(line, sizeof line, "time            recording %.3f s, solver %.3f s (%d solve%s, %d thread%s), forward run %.3f s\n",
                recordSeconds, solveSeconds, solves, solves == 1 ? "" : "s", request.threads,
                request.threads == 1 ? "" : "s", forwardSeconds);
  o += line;
  std::snprintf(line, sizeof line, "memory          %.1f MB kept by the solver\n",
                solution.memoryBytes / 1e6);
  o += line;
  o += "\nThe forward run:\n" + forward.SummaryText(false);
  return o;
}

}  // namespace drivanto
