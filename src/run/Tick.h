#pragma once
// Run control without the toolkit: start-up, START, the screen set-up routine
// and the 40 ms tick. The window calls these with its drawing; the batch
// runner calls them without.

#include <cstdint>
#include <string>
#include <vector>

#include "display/Dashboard.h"
#include "model/Sim.h"

namespace drivanto {

// What the tick and the screen set-up hand to the window.
class Display {
 public:
  virtual ~Display() = default;
  // The fixed background of the screen set-up routine (black instrument area,
  // map picture or battery scale, blue band, scales, labels).
  virtual void DrawBackground(Sim& sim) = 0;
  // The instruments, the map dot or the battery instruments, the road view
  // with its probes and the bonnet, after a computation step. Drawing only
  // reads the state.
  virtual void DrawInstruments(const Sim& sim, const RoadView& road) = 0;
  virtual void SetTitle(const std::string& title) = 0;
  // The red message box.
  virtual void ShowMessage(const std::string& text) = 0;
  virtual void StopTimer() = 0;
  // End of a tick: the key box is emptied and takes the input focus.
  virtual void EndTick() = 0;
};

// The last part of the car-folder path (after its last "/" or "\").
std::string CarModelName(const std::string& carFolder);
// The window title: sets bilmodell and returns the caption.
std::string ComposeTitle(State& s);

// Start-up: working folder, defaults, result-file states "-", the constants
// file read ("CONS.VAL" in the working folder unless another is named), load
// mode "H", tick counter 0. Throws IoError when the file cannot be read (the
// defaults and what was read so far stay).
void StartUp(Sim& sim, const std::string& workingFolder,
             const std::string& constantsFile = "CONS.VAL");

// The fixed author line at the end of the window title.
extern const char* const kAuthorLine;

// The screen set-up routine: result files, background, ammeter scale, title,
// and a time-base call with paus set that re-bases the real-time clock.
void ScreenSetup(Sim& sim, Display* display);

// START: the screen set-up and the efficiency map's torque scale.
void Start(Sim& sim, Display* display);

// The run has ended: mode 100, the full time or the full length reached.
bool RunEnded(const State& s);

enum class TickOutcome { Ended, Ran, EmptyTank };

// One timer tick.
TickOutcome Tick(Sim& sim, Display* display);

// What watches a run from outside the model - the trace, the recorded
// columns, the summary's figures, the window's chart history, a drive being
// recorded - is told of each tick through ObservedTick.
class RunObserver {
 public:
  virtual ~RunObserver() = default;
  // Before the first step (after start-up, settings, snapshots and START).
  virtual void Begin(const Sim& sim) { (void)sim; }
  // Before tick `tick` (the stegnr it will make) runs.
  virtual void BeforeTick(const Sim& sim, int64_t tick) {
    (void)sim;
    (void)tick;
  }
  // After the tick, whether it made a step or not, also when it failed.
  virtual void AfterTick(const Sim& sim, int64_t tick) {
    (void)sim;
    (void)tick;
  }
  // After a tick that made a step; `step` counts the steps of this run from 1.
  virtual void AfterStep(const Sim& sim, int64_t step) {
    (void)sim;
    (void)step;
  }
  // After the last step, when the run ended well.
  virtual void End(const Sim& sim, int64_t steps) {
    (void)sim;
    (void)steps;
  }
};

// One tick with its observers told, in order: BeforeTick, the tick,
// AfterTick (also when the tick throws, which is then passed on), and
// AfterStep with *steps counted up when the tick made a step.
TickOutcome ObservedTick(Sim& sim, Display* display, const std::vector<RunObserver*>& observers,
                         int64_t* steps);

}  // namespace drivanto
