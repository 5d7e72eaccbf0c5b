#pragma once
// The simulation record: the state together with what the modules keep
// between steps (the drive cycle in memory, the car's tables, the result
// files) and the clock the time base reads.
//
// A Sim is a value: a copy carries the state and the position in the drive
// cycle and shares the car's tables, and can be stepped on its own
// (SimulationStep), so a run can branch. A copy's result files are closed:
// it writes nothing its original writes.

#include <string>
#include <utility>
#include <vector>

#include "data/Tables.h"
#include "model/Clock.h"
#include "model/CycleFile.h"
#include "model/ResultFile.h"
#include "model/Strategy.h"
#include "state/State.h"

namespace drivanto {

// Where the model looks up its tables: one site per table it reads.
struct ModelTables {
  TableSite roadLoad;          // vehicle, table 1
  TableSite batteryDischarge;  // battery, table 1
  TableSite batteryCharge;     // battery, table 2
  TableSite motorDrive;        // motor, table 1
  TableSite motorBrake;        // motor, table 2
  TableSite engineTorque;      // engine, table 1
  TableSite engineEfficiency;  // engine, table 2
  TableSite engineCO;          // engine, tables 3 to 5
  TableSite engineNOx;
  TableSite engineHC;
  TableSite brakeRegen;  // brake regeneration, table 1
  TableSite gearTable;   // the gearbox file (not numbered tables)
  // The tables as the strategy asks them (its own sites, so that its
  // questions leave the model's places in the tables alone).
  QuerySites strategyQueries;
};

struct Sim;

// Where the rows of the result files go after a step when the run hands them
// on (to be written beside the run) instead of writing them itself.
class ResultRowSink {
 public:
  virtual ~ResultRowSink() = default;
  virtual void Rows(Sim& sim) = 0;
};

struct Sim {
  State s;
  SharedTables tables;
  ModelTables sites;
  CycleFile cycleFile;
  // The energy-management strategy; empty: the thermostat (the car's own).
  StrategySlot strategy;
  // The strategy the last snapshot loaded holds (a run resumed from it goes
  // on with it).
  SavedStrategy loadedStrategy;
  // The result files are written by a thread beside the run: each on cache
  // lines of its own, so that the step's data and theirs are not shared.
  alignas(64) ResultFile result1;
  alignas(64) ResultFile result2;
  alignas(64) Clock* clock = nullptr;
  // Not copied: a copy writes its rows itself (to closed files: nowhere).
  struct SinkRef {
    ResultRowSink* sink = nullptr;
    SinkRef() = default;
    SinkRef(const SinkRef&) {}
    SinkRef& operator=(const SinkRef&) {
      sink = nullptr;
      return *this;
    }
    explicit operator bool() const { return sink != nullptr; }
    ResultRowSink* operator->() const { return sink; }
  } rowSink;
  // Files the runner reads besides those of the settings (a snapshot to
  // load, a drive script), each with its role; no output may overwrite them.
  std::vector<std::pair<std::string, std::string>> namedFiles;
  // Files the runner writes besides the result files (a trace, a snapshot
  // to save, a picture, a recording), each with its role: no output may be
  // another's file.
  std::vector<std::pair<std::string, std::string>> namedOutputs;

  // The two row buffers of the cycle reader still hold the values they had
  // before the first row was read (not a row of any file).
  bool cycleRowIsInitial = true;
  bool cyclePrevRowIsInitial = true;
};

}  // namespace drivanto
