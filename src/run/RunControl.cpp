#include "run/RunControl.h"

#include <langinfo.h>
#include <sys/stat.h>
#include <locale.h>

#include <filesystem>

#include "base/Errors.h"
#include "base/Files.h"
#include "base/NumberText.h"
#include "base/Rounding.h"
#include "base/Text.h"
#include "data/Constants.h"
#include "model/Modules.h"
#include "state/Snapshot.h"

namespace drivanto {

void RereadSettings(Sim& sim) {
  sim.s.omrakna = 1;
  try {
    StepOfLookups once(sim.tables);
    ReadConstants(sim.s, sim.tables);
    EngineMapPoint(sim);
  } catch (...) {
    sim.s.omrakna = 0;
    throw;
  }
  sim.s.omrakna = 0;
}

namespace {

namespace fs = std::filesystem;

bool IsFile(const std::string& name) {
  std::error_code ec;
  return !name.empty() && fs::is_regular_file(ResolveCase(name), ec);
}
bool IsFolder(const std::string& name) {
  std::error_code ec;
  return !name.empty() && fs::is_directory(ResolveCase(name), ec);
}

// The snapshot line of a text variable.
int SnapshotLineOf(std::string State::*field) {
  for (const SnapshotLine& l : SnapshotLines()) {
    if (l.field == Field(field)) return l.line;
  }
  return 0;
}

}  // namespace

std::vector<MovedFile> FindMovedFiles(
    State& s, const std::string& workingFolder,
    const std::function<std::string(int line, const std::string& variable)>& origin) {
  std::vector<MovedFile> moved;
  auto missing = [&](std::string State::*field, const char* variable, const std::string& where) {
    const std::string& name = s.*field;
    return IoError(name, 0,
                   "not found; the name comes from " + origin(SnapshotLineOf(field), variable) +
                       ". Put the file there, or use the snapshot in a folder that holds " +
                       where);
  };
  // The car folder first: the tables are looked for in it.
  if (!IsFolder(s.Bilmapp)) {
    const std::string here = JoinPath(workingFolder, LastPathPart(s.Bilmapp));
    if (!LastPathPart(s.Bilmapp).empty() && IsFolder(here)) {
      moved.push_back({"Bilmapp", s.Bilmapp, here});
      s.Bilmapp = Cut250(here);
    } else {
      throw missing(&State::Bilmapp, "Bilmapp",
                    "the car folder " + Printable(LastPathPart(s.Bilmapp)));
    }
  }
  struct Named {
    std::string State::*field;
    const char* variable;
    bool table;     // in the car folder
    bool required;  // the run cannot go without it
  };
  const Named named[] = {
      {&State::Tbat, "Tbat", true, true},       {&State::Tforb, "Tforb", true, true},
      {&State::Telm, "Telm", true, true},       {&State::Tford, "Tford", true, true},
      {&State::Tvx, "Tvx", true, true},         {&State::Tbr, "Tbr", true, true},
      {&State::Ttidd, "Ttidd", false, s.cycleType == 'T'},
      {&State::Tkarta, "Tkarta", false, s.cycleType != 'T'},
      {&State::Mussfil, "Mussfil", true, false}, {&State::konsfil, "konsfil", false, false},
  };
  for (const Named& n : named) {
    std::string& name = s.*n.field;
    if (name.empty() || IsFile(name)) continue;
    const std::string last = LastPathPart(name);
    std::string here = JoinPath(n.table ? s.Bilmapp : workingFolder, last);
    if (!IsFile(here) && n.table) here = JoinPath(workingFolder, last);
    if (!last.empty() && IsFile(here)) {
      moved.push_back({n.variable, name, here});
      name = Cut250(here);
    } else if (n.required) {
      throw missing(n.field, n.variable,
                    Printable(last) + (n.table ? " in its car folder " +
                                                     Printable(LastPathPart(s.Bilmapp))
                                               : std::string()));
    }
  }
  // Result files go to the working folder when their folder is gone.
  for (auto [field, variable] : {std::pair{&State::Tresultat, "Tresultat"},
                                 std::pair{&State::Tresultatp, "Tresultatp"}}) {
    std::string& name = s.*field;
    if (name.empty()) continue;
    const std::string parent = fs::path(name).parent_path().string();
    if (parent.empty() || IsFolder(parent)) continue;
    const std::string here = JoinPath(workingFolder, LastPathPart(name));
    moved.push_back({variable, name, here});
    name = Cut250(here);
  }
  return moved;
}

std::string MovedFilesNotice(const std::vector<MovedFile>& moved, const std::string& source) {
  if (moved.empty()) return {};
  std::string text = Printable(source) + " names files where they are not; used instead:";
  for (const MovedFile& m : moved) text += " " + m.variable + " " + Printable(m.to) + ";";
  text.back() = '.';
  return text;
}

std::string FolderStrategyFile(const State& s) {
  return JoinPath(FolderOf(s.konsfil.empty() ? JoinPath(s.startmapp, "CONS.VAL") : s.konsfil),
                  "STRATEGI.VAL");
}

void SaveFolderStrategy(const State& s, const std::string& name,
                        const std::vector<std::pair<std::string, double>>& parameters) {
  std::string text = "strategy " + name + "\r\nparameters";
  if (name != "thermostat") {
    for (const auto& [n, value] : parameters) text += " " + n + "=" + FormatShortest(value);
  }
  WriteFileAtomic(FolderStrategyFile(s), text + "\r\nkept\r\n");
}

bool TakeFolderStrategy(Sim& sim) {
  const std::string file = FolderStrategyFile(sim.s);
  struct stat st;
  if (::stat(file.c_str(), &st) != 0) return false;
  const SavedStrategy saved = ReadSavedStrategy(SplitLines(ReadFileBytes(file)), 1, file);
  if (saved.name.empty()) return false;
  std::string why;
  sim.strategy.Set(MakeStrategy(saved.name, saved.parameters, sim.s, &why));
  if (!why.empty()) throw UsageError(file + ": " + why);
  return true;
}

namespace {

// A strategy's lines after a snapshot's own; `firstLine` is the line of the
// file the snapshot's first line has.
SavedStrategy StrategyAfterSnapshot(std::string_view snapshot, int firstLine,
                                    const std::string& fileName) {
  const std::vector<std::string> lines = SplitLines(std::string(snapshot));
  if (lines.size() <= kSnapshotLines) return SavedStrategy();
  return ReadSavedStrategy(std::vector<std::string>(lines.begin() + kSnapshotLines, lines.end()),
                           firstLine + static_cast<int>(kSnapshotLines), fileName);
}

}  // namespace

bool LoadSnapshotIntoRun(Sim& sim, const std::string& fileName, std::vector<MovedFile>* moved) {
  State& s = sim.s;
  CheckIsSnapshot(fileName);
  State loaded = s;
  LoadSnapshot(loaded, fileName);
  std::vector<MovedFile> found =
      FindMovedFiles(loaded, s.startmapp, [&](int line, const std::string& variable) {
        return "the snapshot " + Printable(fileName) + ", line " + std::to_string(line) + " (" +
               variable + ")";
      });
  sim.loadedStrategy = StrategyAfterSnapshot(ReadFileBytes(fileName), 1, fileName);
  s = std::move(loaded);
  s.ValueFileName = Cut250(fileName);
  if (moved) *moved = std::move(found);
  return s.stegnr > 1;
}

bool LoadScriptStateIntoRun(Sim& sim, const std::string& scriptFile, const std::string& snapshot,
                            int firstLine, std::vector<MovedFile>* moved) {
  State& s = sim.s;
  const std::size_t lines = SplitLines(snapshot).size();
  if (lines < kSnapshotLines) {
    throw IoError(scriptFile, firstLine,
                  "the starting snapshot holds " + std::to_string(lines) + " lines, a snapshot " +
                      std::to_string(kSnapshotLines) +
                      " (a line lost shifts every value after it)");
  }
  State loaded = s;
  try {
    LoadSnapshotText(loaded, snapshot, scriptFile);
  } catch (const IoError& e) {
    // The snapshot's line within the script.
    throw IoError(scriptFile, e.line() > 0 ? firstLine + e.line() - 1 : 0,
                  "(the starting snapshot's line " + std::to_string(e.line()) + "): " + e.reason());
  }
  std::vector<MovedFile> found =
      FindMovedFiles(loaded, s.startmapp, [&](int line, const std::string& variable) {
        return "drive script " + Printable(scriptFile) + ", line " +
               std::to_string(firstLine + line - 1) + " (the snapshot's line " +
               std::to_string(line) + ", " + variable + ")";
      });
  sim.loadedStrategy = StrategyAfterSnapshot(snapshot, firstLine, scriptFile);
  s = std::move(loaded);
  s.ValueFileName = Cut250(scriptFile);
  if (moved) *moved = std::move(found);
  return s.stegnr > 1;
}

void ResumeLoadedRun(Sim& sim) {
  State& s = sim.s;
  // The loaded row buffers are rows of the cycle file.
  sim.cycleRowIsInitial = false;
  sim.cyclePrevRowIsInitial = false;
  ResumeCycleFile(sim);
  // Whether the oncoming car is under way is not kept in a snapshot. It
  // starts at the beginning of the road's first lap (position 800, where it
  // stands for about 106 positions) and never stops, so a run resumed past
  // that point, or with the car drawn somewhere, has it under way.
  const int32_t roadPosition = RoundInt(20 * s.ttot + s.mapPos);
  if (roadPosition >= 906 || s.motx != 0 || s.moty != 0) s.motstatus = 2;
}

void SaveSnapshotOfRun(Sim& sim, const std::string& fileName, char decimalSeparator) {
  State& s = sim.s;
  s.ValueFileName = Cut250(fileName);
  s.paus = 1;
  WriteFileAtomic(fileName, SnapshotText(s, decimalSeparator) + SavedStrategyText(sim.strategy.get()));
}

void RebaseClock(Sim& sim) {
  State& s = sim.s;
  s.clockNow = sim.clock->Read();
  s.clockPrev = s.clockNow;
}

char UserDecimalSeparator() {
  locale_t user = ::newlocale(LC_NUMERIC_MASK, "", static_cast<locale_t>(0));
  if (user == static_cast<locale_t>(0)) return '.';
  const char* radix = ::nl_langinfo_l(RADIXCHAR, user);
  const char separator = (radix && (radix[0] == ',' || radix[0] == '.')) ? radix[0] : '.';
  ::freelocale(user);
  return separator;
}

}  // namespace drivanto
