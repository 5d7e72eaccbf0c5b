#include "run/Runner.h"

#include <chrono>
#include <memory>
#include <new>
#include <ostream>
#include <sstream>

#include "base/Errors.h"
#include "base/Files.h"
#include "base/NumberText.h"
#include "base/Text.h"
#include "model/Inputs.h"
#include "model/Modules.h"
#include "run/DriveScript.h"
#include "run/Recorder.h"
#include "run/RowWriter.h"
#include "run/RunControl.h"
#include "run/SettingText.h"
#include "run/StartFolder.h"
#include "run/Tick.h"
#include "run/Trace.h"
#include "state/Snapshot.h"
#include "state/Variables.h"

namespace drivanto {

namespace {

std::string EndReason(const State& s) {
  if (s.modeNo == 100) return "mode100";
  if (s.ttot >= s.fullTime) return "fullTime";
  return "fullLength";
}

// The summary's figures, gathered step by step.
class FiguresObserver : public RunObserver {
 public:
  explicit FiguresObserver(RunFigures& figures) : figures_(figures) {}
  void AfterStep(const Sim& sim, int64_t) override { figures_.AfterStep(sim.s); }

 private:
  RunFigures& figures_;
};

// The result files' writer, whose failure ends the run after the tick that
// met it (before anything else sees that step).
class RowCheck : public RunObserver {
 public:
  explicit RowCheck(const RowWriter& rows) : rows_(rows) {}
  void AfterTick(const Sim&, int64_t) override { rows_.ThrowIfFailed(); }

 private:
  const RowWriter& rows_;
};

// The trace as an observer of the run.
class TraceObserver : public RunObserver {
 public:
  TraceObserver(const std::string& file, const std::vector<std::string>& names, int64_t every) {
    writer_.Open(file, names, static_cast<long>(every));
  }
  void AfterStep(const Sim& sim, int64_t step) override {
    writer_.Step(sim.s, static_cast<long>(step));
  }
  void End(const Sim& sim, int64_t steps) override {
    writer_.Finish(sim.s, static_cast<long>(steps));
    writer_.Close();
  }
  void Close() { writer_.Close(); }

 private:
  TraceWriter writer_;
};

}  // namespace

std::string RunResult::SummaryText(bool json) const {
  std::ostringstream out;
  WriteSummary(out, summary, inputs, json);
  return out.str();
}

void RunResult::Report(std::ostream& out, std::ostream& err, bool json,
                       const std::string& program) const {
  for (const std::string& notice : notices) err << program << ": " << notice << "\n";
  if (exitCode == 0) {
    WriteSummary(out, summary, inputs, json);
    for (const std::string& warning : warnings) err << program << ": " << warning << "\n";
    return;
  }
  if (began && exitCode == 1) WriteSummary(err, summary, inputs, json);
  err << error << "\n";
}

RunResult Runner::Run(const RunSpec& runSpec) const {
  RunResult result;
  auto outcome = std::make_shared<RunOutcome>();
  result.outcome_ = outcome;
  RunOutcome& r = *outcome;
  const std::string prefix = runSpec.program.empty() ? std::string() : runSpec.program + ": ";

  Sim sim;
  if (runSpec.tables) sim.tables = *runSpec.tables;
  SystemClock systemClock;
  SimulatedClock simulatedClock;
  sim.clock = runSpec.realtime ? static_cast<Clock*>(&systemClock) : &simulatedClock;
  sim.result1.buffered = true;
  sim.result2.buffered = true;
  State& s = sim.s;
  const auto started = std::chrono::steady_clock::now();
  const std::string workingFolder = AbsolutePath(runSpec.folder.empty() ? "." : runSpec.folder);
  const std::string constantsFile =
      runSpec.constants.empty() ? JoinPath(workingFolder, "CONS.VAL") : AbsolutePath(runSpec.constants);
  std::multimap<int64_t, char> keys = runSpec.keys;
  std::multimap<int64_t, std::pair<int32_t, int32_t>> mouse = runSpec.mouse;
  DriveScript script;
  std::string scriptFile;
  std::unique_ptr<ScriptedClock> scriptedClock;
  RunFigures figures;
  std::unique_ptr<TraceObserver> trace;
  std::unique_ptr<Recorder> recorder;
  std::unique_ptr<RowWriter> rows;
  try {
    // What the caller asks for is checked before anything is read.
    for (const RunSpec::Action& a : runSpec.actions) {
      if (a.kind != RunSpec::Action::Set) continue;
      if (!FindField(a.a) && !IsStrategyChoice(a.a)) {
        throw UsageError("unknown variable \"" + Printable(a.a) + "\"");
      }
      if (const std::string why = CheckSetting(a.a, a.b); !why.empty()) throw UsageError(why);
    }
    // The strategy: as given, or as chosen among the settings (the last
    // "strategy", then the parameters of the strategy so chosen).
    std::string strategy = runSpec.strategy;
    std::vector<std::pair<std::string, double>> strategyParams = runSpec.strategyParams;
    for (const RunSpec::Action& a : runSpec.actions) {
      if (a.kind == RunSpec::Action::Set && a.a == "strategy") {
        strategy = a.b.rfind("schedule=", 0) == 0 ? "schedule=" + AbsolutePath(a.b.substr(9)) : a.b;
      }
    }
    for (const RunSpec::Action& a : runSpec.actions) {
      if (a.kind != RunSpec::Action::Set || a.a == "strategy" || !IsStrategyChoice(a.a)) continue;
      const std::size_t dot = a.a.find('.');
      if (a.a.substr(0, dot) == strategy) {
        strategyParams.emplace_back(a.a.substr(dot + 1), ParseNumberEitherSeparator(a.b));
      }
    }
    if (!strategy.empty()) {
      State probe;
      SetDefaults(probe);
      std::string why;
      MakeStrategy(strategy, strategyParams, probe, &why);
      if (!why.empty()) throw UsageError(why);
    }
    if (!runSpec.record.empty()) recorder = std::make_unique<Recorder>(runSpec.record);
    StartUp(sim, workingFolder,
            runSpec.constants.empty() ? std::string("CONS.VAL") : AbsolutePath(runSpec.constants));
    if (!runSpec.errorFolder.empty()) sim.tables->errorFolder = runSpec.errorFolder;
    sim.tables->makeErrorFolder = runSpec.makeErrorFolder;
    ComposeTitle(s);

    bool underWay = false;
    for (const RunSpec::Action& a : runSpec.actions) {
      if (a.kind == RunSpec::Action::Set) {
        if (!IsStrategyChoice(a.a)) ApplySetting(sim, a.a, a.b);
      } else if (a.kind == RunSpec::Action::Load) {
        const std::string file = AbsolutePath(a.a);
        sim.namedFiles.emplace_back("the snapshot loaded", file);
        std::vector<MovedFile> moved;
        underWay = LoadSnapshotIntoRun(sim, file, &moved);
        if (!underWay) s.screenState = 'S';
        if (!moved.empty()) result.notices.push_back(MovedFilesNotice(moved, "the snapshot " + file));
      } else {
        // A drive script: its starting state, its keys, mouse and clock.
        scriptFile = AbsolutePath(a.a);
        script = ReadDriveScript(scriptFile);
        sim.namedFiles.emplace_back("the drive script", scriptFile);
        std::vector<MovedFile> moved;
        underWay =
            LoadScriptStateIntoRun(sim, scriptFile, script.snapshot, script.snapshotLine, &moved);
        if (!underWay) s.screenState = 'S';
        if (!moved.empty()) {
          result.notices.push_back(MovedFilesNotice(moved, "the drive script " + scriptFile));
        }
        keys.insert(script.keys.begin(), script.keys.end());
        mouse.insert(script.mouse.begin(), script.mouse.end());
        scriptedClock = std::make_unique<ScriptedClock>(script);
        sim.clock = scriptedClock.get();
      }
    }
    // The strategy, made on the settings as they now stand.
    // A snapshot of a run with a strategy goes on with it and with what it
    // kept, unless the run is given a strategy of its own.
    const SavedStrategy& loaded = sim.loadedStrategy;
    if (runSpec.strategyObject) {
      // The caller's own strategy (one written in Python): the run steps a
      // copy, which takes what a snapshot of it kept.
      sim.strategy.Set(runSpec.strategyObject->Clone());
      Strategy* made = sim.strategy.get();
      if (made->Name() == loaded.name && !made->TakeKeptState(loaded.kept)) {
        throw IoError(sim.s.ValueFileName, static_cast<int>(kSnapshotLines) + 3,
                      "what the strategy " + loaded.name + " kept is not what it keeps");
      }
      strategy.clear();
    } else if (strategy.empty() && !loaded.name.empty()) {
      strategy = loaded.name;
      strategyParams = loaded.parameters;
    }
    // Else the strategy chosen for the folder in the window, if any.
    if (strategy.empty() && !runSpec.strategyObject) TakeFolderStrategy(sim);
    if (!strategy.empty()) {
      std::string why;
      sim.strategy.Set(MakeStrategy(strategy, strategyParams, s, &why));
      if (!why.empty()) throw UsageError(why);
      Strategy* made = sim.strategy.get();
      if (made && made->Name() == loaded.name && !made->TakeKeptState(loaded.kept)) {
        throw IoError(sim.s.ValueFileName, static_cast<int>(kSnapshotLines) + 3,
                      "what the strategy " + loaded.name + " kept is not what it keeps");
      }
    }
    // Every output is checked against every input and every other output
    // before anything is written.
    if (!runSpec.saveSnapshot.empty()) {
      sim.namedOutputs.emplace_back("the snapshot to save", runSpec.saveSnapshot);
    }
    if (!runSpec.trace.empty()) sim.namedOutputs.emplace_back(runSpec.traceRole, runSpec.trace);
    for (const auto& other : runSpec.otherOutputs) sim.namedOutputs.push_back(other);
    CheckOutputs(sim);
    result.inputs = InputPrints(sim);
    if (underWay) {
      // A run under way goes on with its next tick; its clock resumes, unless
      // it stands where adding a step no longer moves it.
      ResumeLoadedRun(sim);
      simulatedClock.now = s.clockNow;
      if (!ClockCanAdvance(s.clockNow)) {
        result.notices.push_back("the snapshot's clock (" + FormatShortest(s.clockNow) +
                                 " s) cannot advance; it starts again at " +
                                 FormatShortest(SimulatedClock().now) + " s");
        simulatedClock.now = SimulatedClock().now;
      }
    } else {
      if (scriptedClock) scriptedClock->BeginTick(0);
      Start(sim, nullptr);
    }

    // The car's tables are read before the steps, not by the first of them.
    ReadStepTables(sim);
    figures.Begin(sim, underWay);
    if (!runSpec.trace.empty()) {
      trace = std::make_unique<TraceObserver>(
          runSpec.trace, runSpec.traceVars.empty() ? DefaultTraceVariables() : runSpec.traceVars,
          runSpec.traceEvery);
    }
    std::vector<RunObserver*> observers;
    if (trace) observers.push_back(trace.get());
    if (recorder) observers.push_back(recorder.get());
    observers.insert(observers.end(), runSpec.observers.begin(), runSpec.observers.end());
    for (RunObserver* o : observers) o->Begin(sim);
    result.began = true;
    // The result files' rows are written beside the run; the figures come
    // first among the observers of each step.
    rows = std::make_unique<RowWriter>(sim);
    RowCheck rowCheck(*rows);
    FiguresObserver figuresObserver(figures);
    observers.insert(observers.begin(), {&rowCheck, &figuresObserver});
    const auto stepsStarted = std::chrono::steady_clock::now();
    for (int64_t tick = 0; tick < runSpec.maxSteps; ++tick) {
      simulatedClock.now += 0.04;
      const int64_t next = static_cast<int64_t>(s.stegnr) + 1;
      if (scriptedClock) {
        // A replay ends where its drive ended.
        if (next > script.lastTick) {
          r.reason = "scriptEnd";
          break;
        }
        scriptedClock->BeginTick(next);
        // What happened to the time base between the drive's ticks.
        if (auto it = script.times.find(next); it != script.times.end()) {
          s.ttot = it->second.ttot;
          s.cycleTime = it->second.cycleTime;
          s.clockNow = it->second.clockNow;
          s.clockPrev = it->second.clockPrev;
          s.dt = it->second.dt;
        }
      }
      for (auto [it, end] = keys.equal_range(next); it != end; ++it) s.keyTyped = it->second;
      for (auto [it, end] = mouse.equal_range(next); it != end; ++it) {
        s.mouseX = it->second.first;
        s.mouseY = it->second.second;
      }
      // The tick after the last step closes the result files: every row is
      // written before it.
      if (RunEnded(s)) rows->Finish();
      const TickOutcome t = ObservedTick(sim, nullptr, observers, &r.steps);
      if (t == TickOutcome::Ended) {
        r.reason = EndReason(s);
        break;
      }
      if (t == TickOutcome::EmptyTank) {
        r.reason = "Bensinstopp";
        break;
      }
    }
    rows->Finish();
    r.stepSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - stepsStarted).count();
    sim.result1.Close();
    sim.result2.Close();
    for (RunObserver* o : observers) o->End(sim, r.steps);
    if (!runSpec.saveSnapshot.empty()) {
      // As the menu command does, the pause flag is set while saving.
      SaveSnapshotOfRun(sim, runSpec.saveSnapshot, UserDecimalSeparator());
      s.paus = 0;
    }
  } catch (const UsageError& e) {
    r.exitCode = 2;
    r.error = prefix + e.what();
  } catch (const TableRangeError& e) {
    r.exitCode = 3;
    r.error = Printable(e.line1()) + "\n" + Printable(e.line2());
    if (!e.notWritten().empty()) r.error += "\nERROR.TAB could not be written: " + e.notWritten();
  } catch (const IoError& e) {
    r.exitCode = 1;
    r.error = prefix + e.what();
    if (e.reason() == "file not found" && e.file() == constantsFile) {
      const std::string bundled = BundledDataFolder();
      r.error += "\n(the bundled default car and constants are in " + bundled +
                 "; to run it: cp -r " + bundled + " FOLDER && drivanto-batch FOLDER)";
    }
  } catch (const std::bad_alloc&) {
    r.exitCode = 1;
    r.error = prefix + DescribeUnexpected("out of memory");
  } catch (const std::exception& e) {
    r.exitCode = 1;
    r.error = prefix + DescribeUnexpected(e.what());
  }
  r.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  for (const RunSpec::Action& a : runSpec.actions) {
    if (a.kind == RunSpec::Action::Set) r.settings.push_back({a.a, a.b});
  }
  r.runOptions = runSpec.runOptions;
  if (r.exitCode != 0) {
    // The rows written so far are kept.
    try {
      if (rows) rows->Finish();
    } catch (const IoError&) {
      // The write that failed is the run's failure, or follows from it.
    }
    try {
      sim.result1.Close();
      sim.result2.Close();
      if (trace) trace->Close();
    } catch (const IoError& e) {
      r.error += "\n" + prefix + e.what();
    }
    if (result.began && r.exitCode == 1) r.reason = "failed";
  }
  result.exitCode = r.exitCode;
  result.error = r.error;
  if (r.exitCode == 0 || result.began) result.summary = Summarise(sim, r, figures);
  if (recorder) {
    result.recordedNames = runSpec.record;
    result.recorded = recorder->TakeColumns();
  }
  if (r.exitCode == 0) {
    if (scriptedClock && !script.ended) {
      result.warnings.push_back(
          "warning: the drive script " + Printable(scriptFile) +
          " has no end line: its recording was cut short; it was replayed as far as it goes, "
          "to tick " +
          std::to_string(script.lastTick));
    }
    if (scriptedClock && scriptedClock->extraReadings() > 0) {
      result.warnings.push_back("warning: the replay read the clock " +
                                std::to_string(scriptedClock->extraReadings()) +
                                " times more than the drive did: its steps may differ from the "
                                "drive's");
    }
    if (const std::string w = CycleWarning(result.summary); !w.empty()) {
      result.warnings.push_back("warning: " + w);
    }
  }
  return result;
}

}  // namespace drivanto
