#include "run/Tick.h"

#include "base/Rounding.h"
#include "base/Text.h"
#include "data/Constants.h"
#include "model/Modules.h"

namespace drivanto {

const char* const kAuthorLine = "   Drivanto-gruppen 2026";

std::string CarModelName(const std::string& carFolder) {
  std::string name;
  for (char c : carFolder) {
    name += c;
    if (c == '\\' || c == '/') name.clear();
  }
  return Cut250(name);
}

std::string ComposeTitle(State& s) {
  s.bilmodell = CarModelName(s.Bilmapp);
  return "Drivanto Ver 2.0    " + s.Myname + "   Bilmodell: " + s.bilmodell + kAuthorLine;
}

void StartUp(Sim& sim, const std::string& workingFolder, const std::string& constantsFile) {
  State& s = sim.s;
  std::string folder = Cut250(workingFolder);
  SetDefaults(s);
  s.startmapp = folder;
  sim.tables->errorFolder = folder;
  s.resfil1status = '-';
  s.resfil2status = '-';
  s.konsfil = Cut250(constantsFile);
  {
    StepOfLookups once(sim.tables);
    ReadConstants(s, sim.tables);
  }
  s.loadMode = "H";
  s.stegnr = 0;
}

void ScreenSetup(Sim& sim, Display* display) {
  State& s = sim.s;
  OpenResultFiles(sim);
  if (display) display->DrawBackground(sim);
  if (s.outputFlags.At(4) != 'M') {
    // The ammeter's full scale: the largest of the two current limits and the
    // charging current (a charging power never sets it).
    s.Iskala = s.maxCurrentElectric;
    if (s.maxCurrentCharging > s.Iskala) s.Iskala = s.maxCurrentCharging;
    if (s.chargeSetting > s.Iskala) s.Iskala = s.chargeSetting;
  }
  std::string title = ComposeTitle(s);
  if (display) display->SetTitle(title);
  s.paus = 1;
  TimeStep(sim);
  s.paus = 0;
}

void Start(Sim& sim, Display* display) {
  ScreenSetup(sim, display);
  sim.s.omrakna = 1;
  {
    StepOfLookups once(sim.tables);
    EngineMapPoint(sim);
  }
  sim.s.omrakna = 0;
}

bool RunEnded(const State& s) {
  return s.modeNo == 100 || s.ttot >= s.fullTime || s.ltot >= s.fullLength;
}

TickOutcome Tick(Sim& sim, Display* display) {
  State& s = sim.s;
  if (RunEnded(s)) {
    if (s.resfil1status == 'K') {
      s.resfil1status = '-';
      sim.result1.Close();
    }
    if (s.resfil2status == 'K') {
      s.resfil2status = '-';
      sim.result2.Close();
    }
    return TickOutcome::Ended;
  }
  s.stegnr = WrapIncrement(s.stegnr);
  if (s.stegnr < 1) s.screenState = 'S';
  if (s.screenState == 'S') ScreenSetup(sim, display);
  s.screenState = 'G';
  SimulationStep(sim);
  WriteResultRows(sim);
  // What the dashboard keeps in the state, also when nothing is drawn: the
  // average consumption of the trip row in cl/mil (not for a distance of
  // exactly 0) and the time mode letter in upper case.
  if (s.mapPos > 1 && s.ltot != 0) s.medelforbr = (s.tankVolume - s.fuelLeft) * 1000000 / s.ltot;
  s.timeMode = UpperAscii(s.timeMode);
  // The road view's positions are part of the state, with a window or without.
  if (display) {
    RoadView road;
    LayOutRoadView(s, &road);
    display->DrawInstruments(sim, road);
    display->EndTick();
  } else {
    LayOutRoadView(s, nullptr);
  }
  if (UpperAscii(s.keyTyped) != 'C') s.keyTyped = '.';
  if (UpperAscii(s.stopAtEmptyTank) == 'J' && s.fuelLeft < 0) {
    if (display) {
      display->ShowMessage("Bensinstopp");
      display->StopTimer();
    }
    return TickOutcome::EmptyTank;
  }
  return TickOutcome::Ran;
}

TickOutcome ObservedTick(Sim& sim, Display* display, const std::vector<RunObserver*>& observers,
                         int64_t* steps) {
  const int64_t tick = static_cast<int64_t>(sim.s.stegnr) + 1;
  for (RunObserver* o : observers) o->BeforeTick(sim, tick);
  TickOutcome outcome;
  try {
    outcome = Tick(sim, display);
  } catch (...) {
    // The tick's failure is what is passed on.
    for (RunObserver* o : observers) {
      try {
        o->AfterTick(sim, tick);
      } catch (...) {
      }
    }
    throw;
  }
  for (RunObserver* o : observers) o->AfterTick(sim, tick);
  if (outcome != TickOutcome::Ended) {
    ++*steps;
    for (RunObserver* o : observers) o->AfterStep(sim, *steps);
  }
  return outcome;
}

}  // namespace drivanto
