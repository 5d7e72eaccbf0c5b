#pragma once
// The course of a run, kept step by step for the charts: a bounded history
// that thins out its older points instead of growing without end, and the
// operating points of the engine and the motor. Read from a step trace or
// from result files 1 and 2 too, so the same charts can be drawn afterwards.

#include <array>
#include <cstddef>
#include <string>
#include <vector>

#include "run/Tick.h"
#include "state/State.h"

namespace drivanto {

// The quantities the charts show, one value each per sample.
enum class Quantity {
  Time,           // s, driven time
  Speed,          // km/h
  Requested,      // km/h, the requested speed (vb)
  CycleSpeed,     // km/h, the cycle's speed (vCycle)
  UsedCapacity,   // %
  Voltage,        // V
  Current,        // A, battery current
  Charging,       // 1 while charging, else 0
  ChargeCurrent,  // A
  EnginePower,    // kW
  Fuel,           // l used
  CO,             // g
  NOx,            // g
  HC,             // g
  EngineSpeed,    // rpm (nic)
  EngineTorque,   // Nm (mic)
  MotorSpeed,     // rpm (nel)
  MotorTorque,    // Nm (mel)
  Count
};
constexpr std::size_t kQuantities = static_cast<std::size_t>(Quantity::Count);

using Sample = std::array<double, kQuantities>;

// A sample of the state after a step.
Sample SampleOf(const State& s);

class RunHistory : public RunObserver {
 public:
  // At most `limit` samples are kept (at least 16): when the history is full
  // every second sample is dropped and from then on only every second step
  // is recorded, and so on, so the whole run stays in view at an even
  // spacing.
  explicit RunHistory(std::size_t limit = 20000);

  void Clear();
  void Record(const Sample& sample);
  void Record(const State& s) { Record(SampleOf(s)); }
  // As an observer of the run: every step's sample.
  void AfterStep(const Sim& sim, int64_t) override { Record(sim.s); }

  const std::vector<Sample>& samples() const { return samples_; }
  std::size_t stride() const { return stride_; }
  // Grows with every change, so a view can tell whether to redraw.
  unsigned long version() const { return version_; }

 private:
  std::size_t limit_;
  std::size_t stride_ = 1;
  std::size_t skipped_ = 0;
  unsigned long version_ = 0;
  std::vector<Sample> samples_;
};

// A history from a step trace (drivanto-batch --trace: a header of names
// with units, one row per step) or from result file 1 and/or 2 (their fixed
// columns). Quantities a file does not hold are NaN. Throws IoError naming
// the file when it is neither.
RunHistory HistoryFromTrace(const std::string& file);
RunHistory HistoryFromResultFiles(const std::string& result1, const std::string& result2);

}  // namespace drivanto
