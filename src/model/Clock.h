#pragma once
// The clock the time base reads: the computer's own or one the runner moves.

namespace drivanto {

// The time of day in seconds (hours x 3600 + minutes x 60 + seconds +
// milliseconds x 0.001).
class Clock {
 public:
  virtual ~Clock() = default;
  // The clock as the time base first reads it in a step.
  virtual double Read() = 0;
  // The clock read again while the time base waits for 1 ms to pass.
  virtual double ReadAgain() = 0;
};

// Whether a clock value still moves when a millisecond is added to it (a
// finite value below 2^40 s); a snapshot may hold any value.
inline bool ClockCanAdvance(double t) {
  return t - t == 0.0 && t < 1099511627776.0 && t > -1099511627776.0;
}

// The computer's clock, local time, to the millisecond.
class SystemClock : public Clock {
 public:
  double Read() override;
  double ReadAgain() override { return Read(); }
};

// A clock that stands still but for what the runner adds: 0.04 s at the start
// of every tick and 0.001 s at every reread of the time base's wait, so a
// real-time run advances 0.04 s per step and is reproducible.
class SimulatedClock : public Clock {
 public:
  double now = 43200.0;
  double Read() override { return now; }
  double ReadAgain() override {
    now += 0.001;
    return now;
  }
};

}  // namespace drivanto
