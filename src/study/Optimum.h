#pragma once
// The least fuel with which the car could have driven a time cycle known in
// advance, ending with its battery no emptier than it began: deterministic
// dynamic programming over the battery's used capacity, backwards over the
// cycle's decision steps; then the decisions found, written as a schedule,
// driven forward by the model itself, so that the figures come from the same
// simulation as every other strategy's.
//
// In a series hybrid what the wheels ask of the battery does not depend on
// the engine, so one run records it step by step; the solver then only
// weighs, each decision step, the engine off or one of the charging powers
// (each made at its engine point), against the battery that power leaves.

#include <cstddef>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "model/Strategy.h"
#include "run/Runner.h"

namespace drivanto {

struct OptimumProblem {
  // Decision step k holds the model's steps first[k] to first[k + 1] - 1.
  std::vector<std::size_t> first;
  // Per model step: W the motor and the auxiliaries take of the battery
  // (less what braking gives back), and its length in s.
  std::vector<double> demand, dt;
  // The ways to charge; the engine off besides them.
  std::vector<OperatingPoint> points;
  // V at the terminals at a used capacity (%) for each current (A, positive
  // discharging); NaN where there is none.
  std::function<std::vector<double>(double usedCapacity, const std::vector<double>& currents)>
      voltages;
  double capacity = 0;  // Ah
  // % used: at the start, at the end at most, and the limits in between,
  // on a grid of usedPoints points (laid so that usedEnd is one of them).
  double usedStart = 0, usedEnd = 0, usedMin = 0, usedMax = 100;
  int usedPoints = 200;
  double startCost = 0;  // l of fuel an engine start is weighed as
  double noxWeight = 0;  // l of fuel a gram of NOx is weighed as
  bool engineOnAtStart = false;
  int threads = 1;
};

struct OptimumSolution {
  // Per decision step: -1 the engine off, else the index of its point.
  std::vector<int> choice;
  // % used at each decision step's start and at the end, as the solver's
  // battery has it.
  std::vector<double> used;
  double fuel = 0, nox = 0;  // l, g along the path
  int starts = 0;
  double cost = 0;  // fuel with the starts and the NOx weighed in
  // Within the limits all the way and at usedEnd or below at the end.
  bool feasible = true;
  std::size_t memoryBytes = 0;  // what the solver kept
};

OptimumSolution SolveOptimum(const OptimumProblem& problem);

// The optimum of a run as drivanto-optimal makes it.
struct OptimumRequest {
  RunSpec run;  // the car and its settings (a time cycle)
  double step = 1;  // s between decisions
  int usedPoints = 200;
  int powers = 40;
  // % used between which the battery is kept; NaN: 10 either side of the start.
  double usedMin = std::numeric_limits<double>::quiet_NaN();
  double usedMax = std::numeric_limits<double>::quiet_NaN();
  // Instead: between the constants' charging limits (chargeOffLimit, chargeOnLimit).
  bool limitsFromConstants = false;
  double maxPower = 0;      // W; 0: the most the engine gives
  bool fixedSpeed = false;  // each power at the generator's set speed
  double startCost = 0, noxWeight = 0;
  int threads = 1;
  std::string schedule = "optimal-schedule.csv";  // written, then driven
  // How often the end is aimed again when the forward run ends more than
  // 0.05 % used capacity away from its start.
  int corrections = 3;
};

struct OptimumReport {
  int exitCode = 0;  // as RunResult's
  std::string error;
  OptimumSolution solution;
  int stages = 0;
  double usedMin = 0, usedMax = 0, maxPower = 0, generatorSpeed = 0;
  int powers = 0;  // the powers the engine can give of those asked for
  int solves = 0;
  std::size_t scheduleRows = 0;
  double recordSeconds = 0, solveSeconds = 0, forwardSeconds = 0;
  RunResult forward;
  // The figures as drivanto-optimal prints them: text, or one JSON object
  // with "solver" and "forward" (the forward run's summary).
  std::string Text(const OptimumRequest& request, bool json) const;
};

OptimumReport RunOptimum(const OptimumRequest& request);

}  // namespace drivanto
