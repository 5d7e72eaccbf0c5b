#pragma once
// Run control shared by the window and the batch runner, free of the
// toolkit: loading a snapshot and resuming its run, the held save of a
// snapshot, taking the clock up again after a hold.

#include <functional>
#include <string>
#include <vector>

#include "model/Sim.h"

namespace drivanto {

// After a file name or car constant has changed: the reduced reading of the
// constants (names completed, the table files' constants read again) and the
// efficiency map's torque scale.
void RereadSettings(Sim& sim);

// A file a loaded state named in a folder where it is not, and the file of
// that name in the folder the run works in now, which is used instead.
struct MovedFile {
  std::string variable;  // Tbat, Ttidd, ...
  std::string from, to;
};

// A state made in another folder (a snapshot or drive script sent to a
// colleague, a folder moved) names its files where they were. Each name that
// leads to no file is looked for by its last part in the working folder (the
// car folder's tables in the car folder of that name there); where found, it
// is used and listed. A file the run cannot do without (the car folder, its
// six tables, the cycle followed) found nowhere is an IoError that names the
// file and, through `origin` (given the variable's snapshot line and name),
// where its name came from.
std::vector<MovedFile> FindMovedFiles(
    State& loaded, const std::string& workingFolder,
    const std::function<std::string(int line, const std::string& variable)>& origin);

// The files a state names, as `FindMovedFiles` left them, in one sentence
// ("" when none moved).
std::string MovedFilesNotice(const std::vector<MovedFile>& moved, const std::string& source);

// Loads a snapshot into the run; a file that is plainly not a snapshot, or
// one whose files are nowhere, is refused before anything changes (IoError
// naming it). Files named where they are not are taken from the working
// folder (listed in `moved`). The name becomes ValueFileName. Returns whether
// the snapshot is of a run under way (stegnr > 1), which ResumeLoadedRun
// then takes up.
// The strategy chosen in the window for the car's folder, kept in
// STRATEGI.VAL beside the constants file: its name and parameters (the
// thermostat's are its settings, kept in the constants file). Throws IoError.
std::string FolderStrategyFile(const State& s);
void SaveFolderStrategy(const State& s, const std::string& name,
                        const std::vector<std::pair<std::string, double>>& parameters);
// The folder's strategy made for the run, when the file is there (false
// when not). Throws IoError for a file that cannot be read and UsageError
// for a strategy that cannot be made.
bool TakeFolderStrategy(Sim& sim);

bool LoadSnapshotIntoRun(Sim& sim, const std::string& fileName,
                         std::vector<MovedFile>* moved = nullptr);

// The same for the starting state of a drive script (its snapshot starts at
// the script's line `firstLine`).
bool LoadScriptStateIntoRun(Sim& sim, const std::string& scriptFile, const std::string& snapshot,
                            int firstLine, std::vector<MovedFile>* moved = nullptr);

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
