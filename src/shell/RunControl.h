#pragma once
// Run control shared by the window and the batch runner, free of the
// toolkit: loading a snapshot and resuming its run, the held save of a
// snapshot, taking the clock up again after a hold.

#include <string>

#include "model/Sim.h"

namespace drivanto {

// Loads a snapshot into the run; a file that is plainly not a snapshot is
// refused before anything changes (IoError naming it). The name becomes
// ValueFileName. Returns whether the snapshot is of a run under way
// (stegnr > 1), which ResumeLoadedRun then takes up.
bool LoadSnapshotIntoRun(Sim& sim, const std::string& fileName);

// After a snapshot of a run under way has been loaded: the cycle file found
// again at its row, the oncoming car's state taken from where it was drawn.
void ResumeLoadedRun(Sim& sim);

// Saves a snapshot as the menu command does: the name becomes ValueFileName
// and the pause flag is set while saving (it stays set: the caller resumes).
void SaveSnapshotOfRun(Sim& sim, const std::string& fileName, char decimalSeparator);

// The real-time clock taken up from the present moment, so that a hold (a
// dialog, a panel) does not enter the next step's time increment.
void RebaseClock(Sim& sim);

// The decimal separator of the user's number settings (LC_NUMERIC, LC_ALL,
// LANG), "." where none is set or the locale is not installed.
char UserDecimalSeparator();

}  // namespace drivanto
