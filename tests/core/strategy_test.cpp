// Energy-management strategies: the energy chain from the fuel to the
// battery holds for each of them, the thermostat's parameters are its
// settings, what cannot be is a usage error, and a run's copy carries its
// strategy.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "base/NumberText.h"
#include "batch_harness.h"
#include "model/Codes.h"
#include "model/Modules.h"
#include "run/Runner.h"
#include "run/Summary.h"
#include "study/Json.h"
#include "ui/Panels.h"
#include "study/Sweep.h"
#include "run/Tick.h"
#include "state/Snapshot.h"
#include "state/Variables.h"

namespace drivanto::testing {
namespace {

RunSpec Cycle(const std::string& folder, const std::string& cycle, const std::string& strategy) {
  RunSpec runSpec;
  runSpec.folder = folder;
  for (const auto& [name, value] : std::vector<std::pair<std::string, std::string>>{
           {"cycleType", "T"}, {"Ttidd", cycle}, {"timeMode", "D"}, {"dt", "0.1"},
           {"Spara", "0000"}, {"usedCapacity", "58"}}) {
    runSpec.Set(name, value);
  }
  runSpec.strategy = strategy;
  return runSpec;
}

// Step by step, the fuel's energy through the engine's and the generator's
// efficiencies is the electric energy charged (within what the voltage moves
// inside a step), no efficiency exceeds 100 %, and the battery stores what
// went in less what came out. Each strategy, with its defaults on the
// bundled car, ends a schedule within 2 % used capacity of where it began.
TEST(Strategies, TheEnergyChainHoldsAndRunsEndWhereTheyBegan) {
  BatchFolder f(DRIVANTO_TEST_DATA_DIR);
  Sim car;
  StartUp(car, f.path());
  BatteryView battery;
  battery.Read(car);
  ASSERT_TRUE(battery.valid());
  for (const char* strategy : {"thermostat", "powerFollower", "optimalLine", "ecms"}) {
    for (const char* cycle : {"UDDS.CYK", "HWFET.CYK", "WLTC3B.CYK"}) {
      SCOPED_TRACE(std::string(strategy) + " on " + cycle);
      RunSpec runSpec = Cycle(f.path(), cycle, strategy);
      runSpec.record = {"fuelFlow", "icEff", "Ila", "U", "dt", "genEff", "usedCapacity", "Iaba"};
      const RunResult r = Runner().Run(runSpec);
      ASSERT_EQ(r.exitCode, 0) << r.error;
      EXPECT_EQ(r.summary.endReason, "mode100");
      EXPECT_EQ(r.summary.strategy, strategy);
      EXPECT_NEAR(r.summary.balance.endUsedCapacity, 58, 2);
      const auto& c = r.recorded;
      double fromFuel = 0, charged = 0, mostEff = 0;
      for (std::size_t i = 0; i < c[0].size(); ++i) {
        if (c[0][i] <= 0) continue;
        fromFuel += c[0][i] * c[4][i] / kFuelLitresPerJoule * c[1][i] / 100 * c[5][i] / 100;
        charged += c[3][i] * c[2][i] * c[4][i];
        mostEff = std::max({mostEff, c[1][i], c[5][i]});
      }
      ASSERT_GT(charged, 1e6) << "the engine ran";
      EXPECT_NEAR(fromFuel / charged, 1.0, 0.01);
      EXPECT_LE(mostEff, 100);
      EXPECT_NEAR(r.summary.generatorEnergy * 3.6e6, charged, 1e-6 * charged);
      // The battery: the energy it stores at the end less at the start is the
      // charge that went in and out, each step's valued at the open-circuit
      // voltage of its used capacity (to within what a step moves it).
      double inAndOut = 0, previous = r.summary.balance.startUsedCapacity;
      for (std::size_t i = 0; i < c[6].size(); ++i) {
        inAndOut -= battery.OpenCircuit((previous + c[6][i]) / 2) * c[7][i] * c[4][i] / 3.6e6;
        previous = c[6][i];
      }
      EXPECT_NEAR(inAndOut, r.summary.balance.storedEnergyChange,
                  0.002 * std::fabs(r.summary.balance.storedEnergyChange) + 1e-4);
    }
  }
}

// The thermostat is the car's own control: its parameters are the settings
// they name, and the result files are those of the settings, byte for byte.
TEST(Strategies, TheThermostatsParametersAreItsSettings) {
  BatchFolder a(DRIVANTO_TEST_DATA_DIR), b(DRIVANTO_TEST_DATA_DIR);
  RunSpec byParameters = Cycle(a.path(), "UDDS.CYK", "thermostat");
  byParameters.Set("Spara", "1100");
  byParameters.strategyParams = {{"onLimit", 62}, {"offLimit", 45}, {"current", -15}, {"speed", 3200}};
  RunSpec bySettings = Cycle(b.path(), "UDDS.CYK", "");
  for (const auto& [name, value] : std::vector<std::pair<std::string, std::string>>{
           {"Spara", "1100"}, {"chargeOnLimit", "62"}, {"chargeOffLimit", "45"},
           {"chargeSetting", "-15"}, {"genRpm", "3200"}}) {
    bySettings.Set(name, value);
  }
  const RunResult ra = Runner().Run(byParameters), rb = Runner().Run(bySettings);
  ASSERT_EQ(ra.exitCode, 0) << ra.error;
  ASSERT_EQ(rb.exitCode, 0) << rb.error;
  EXPECT_EQ(a.Read("RESULT1.TXT"), b.Read("RESULT1.TXT"));
  EXPECT_EQ(a.Read("RESULT2.TXT"), b.Read("RESULT2.TXT"));
  EXPECT_EQ(ra.summary.strategyParameters, "onLimit=62 offLimit=45 current=-15 speed=3200");
}

// A strategy the caller writes (as one written in Python is), deciding as the
// thermostat does - on above one limit, off below the other, the set current
// or power at the generator's speed - gives the thermostat's result files.
class ThermostatAlike : public Strategy {
 public:
  double onLimit = 0, offLimit = 0, setting = 0;
  std::string Name() const override { return "thermostatAlike"; }
  std::vector<std::pair<std::string, double>> Parameters() const override { return {}; }
  StrategyDecision Decide(const StrategyInputs& in, CarQueries&) override {
    bool on = in.engineWasOn;
    if (in.usedCapacity > onLimit) on = true;
    if (in.usedCapacity < offLimit) on = false;
    StrategyDecision d;
    d.engineOn = on;
    if (setting < 0) d.power = -setting * 1000;
    else d.current = setting;
    return d;
  }
  std::unique_ptr<Strategy> Clone() const override {
    return std::make_unique<ThermostatAlike>(*this);
  }
};

TEST(Strategies, TheCallersOwnThermostatGivesTheThermostatsResultFiles) {
  for (double setting : {70.0, -15.0}) {
    SCOPED_TRACE(setting);
    BatchFolder a(DRIVANTO_TEST_DATA_DIR), b(DRIVANTO_TEST_DATA_DIR);
    RunSpec native = Cycle(a.path(), "UDDS.CYK", "");
    RunSpec own = Cycle(b.path(), "UDDS.CYK", "");
    auto alike = std::make_shared<ThermostatAlike>();
    alike->onLimit = 62;
    alike->offLimit = 45;
    alike->setting = setting;
    own.strategyObject = alike;
    for (RunSpec* r : {&native, &own}) {
      for (const auto& [name, value] : std::vector<std::pair<std::string, std::string>>{
               {"Spara", "1100"}, {"chargeOnLimit", "62"}, {"chargeOffLimit", "45"},
               {"chargeSetting", FormatShortest(setting)}}) {
        r->Set(name, value);
      }
    }
    const RunResult ra = Runner().Run(native), rb = Runner().Run(own);
    ASSERT_EQ(ra.exitCode, 0) << ra.error;
    ASSERT_EQ(rb.exitCode, 0) << rb.error;
    EXPECT_EQ(rb.summary.strategy, "thermostatAlike");
    EXPECT_TRUE(a.Read("RESULT1.TXT") == b.Read("RESULT1.TXT")) << "result file 1 differs";
    EXPECT_TRUE(a.Read("RESULT2.TXT") == b.Read("RESULT2.TXT")) << "result file 2 differs";
  }
}

// A run's decisions written as a schedule and replayed give the run's
// result files again, byte for byte.
TEST(Strategies, AScheduleReplaysTheRunItWasWrittenFrom) {
  BatchFolder a(DRIVANTO_TEST_DATA_DIR), b(DRIVANTO_TEST_DATA_DIR);
  RunSpec ecms = Cycle(a.path(), "UDDS.CYK", "ecms");
  ecms.Set("Spara", "1100");
  ecms.record = {"ttot", "strategyPower", "strategySpeed"};
  const RunResult r = Runner().Run(ecms);
  ASSERT_EQ(r.exitCode, 0) << r.error;
  std::string csv = "time,engineOn,power,speed\n";
  for (std::size_t i = 0; i < r.recorded[0].size(); ++i) {
    csv += FormatShortest(r.recorded[0][i]) + "," + (r.recorded[1][i] > 0 ? "1," : "0,") +
           FormatShortest(r.recorded[1][i]) + "," + FormatShortest(r.recorded[2][i]) + "\n";
  }
  b.Write("decisions.csv", csv);
  RunSpec replay = Cycle(b.path(), "UDDS.CYK", "schedule=" + (b / "decisions.csv"));
  replay.Set("Spara", "1100");
  const RunResult s = Runner().Run(replay);
  ASSERT_EQ(s.exitCode, 0) << s.error;
  EXPECT_GT(r.summary.engineStarts, 5);
  EXPECT_EQ(a.Read("RESULT1.TXT"), b.Read("RESULT1.TXT"));
  EXPECT_EQ(a.Read("RESULT2.TXT"), b.Read("RESULT2.TXT"));

  // A schedule that cannot be read says where.
  b.Write("bad.csv", "time,engineOn,power\n0,1,5000\n10,1,lots\n");
  const RunResult bad = Runner().Run(Cycle(b.path(), "UDDS.CYK", "schedule=" + (b / "bad.csv")));
  EXPECT_EQ(bad.exitCode, 1);
  EXPECT_NE(bad.error.find("bad.csv"), std::string::npos) << bad.error;
  EXPECT_NE(bad.error.find("\"lots\" is not a number"), std::string::npos) << bad.error;
}

// A study chooses strategies and their parameters as it sets anything else;
// each row is the run made alone with that strategy.
TEST(Strategies, AStudySweepsStrategiesAndTheirParameters) {
  BatchFolder f(DRIVANTO_TEST_DATA_DIR);
  TempFolder out;
  std::ostringstream o, e;
  const std::vector<std::string> args = {
      "--grid", "strategy=thermostat,ecms", "--grid", "ecms.factor=2.6,3.1", "--set", "cycleType=T",
      "--set", "Ttidd=HWFET.CYK", "--set", "timeMode=D", "--set", "dt=0.5", "--set", "Spara=0000",
      "--set", "usedCapacity=58", f.path(), "--out", out.path()};
  ASSERT_EQ(RunSweep(args, o, e), 0) << e.str();
  std::istringstream jsonl(TempFolder::ReadBytes(out / "summary.jsonl"));
  int rows = 0;
  for (std::string line; std::getline(jsonl, line); ++rows) {
    const auto flat = FlattenJson(line);
    ASSERT_TRUE(flat);
    std::map<std::string, std::string> row;
    for (const JsonValue& v : *flat) row[v.key] = v.text;
    const std::string strategy = row.at("settings.strategy");
    RunSpec alone = Cycle(f.path(), "HWFET.CYK", strategy);
    alone.Set("dt", "0.5");
    if (strategy == "ecms") alone.strategyParams = {{"factor", std::stod(row.at("settings.ecms.factor"))}};
    const RunResult r = Runner().Run(alone);
    ASSERT_EQ(r.exitCode, 0) << r.error;
    EXPECT_EQ(row.at("summary.strategy"), strategy);
    EXPECT_EQ(row.at("summary.strategyParameters"), r.summary.strategyParameters);
    EXPECT_EQ(row.at("summary.fuelUsed"), JsonNumber(r.summary.fuelUsed)) << line;
  }
  EXPECT_EQ(rows, 4);
}

// The window's panel chooses the strategy for the folder: taken over, it
// runs, and it is kept beside the constants for the next session and for
// runs without a strategy of their own; what cannot be is refused in Swedish.
TEST(Strategies, ThePanelsChoiceIsTheFoldersStrategy) {
  BatchFolder f(DRIVANTO_TEST_DATA_DIR);
  SimulatedClock clock;
  Sim sim;
  sim.clock = &clock;
  StartUp(sim, f.path());
  const std::vector<std::string> shown = StrategyPanelRows(sim, ',');
  EXPECT_EQ(shown[2], "thermostat");
  EXPECT_EQ(shown[3], "onLimit=59");
  std::vector<std::string> rows = shown;
  rows[2] = "ecms";
  rows[3] = "factor=2,9";
  for (std::size_t i = 4; i < rows.size(); ++i) rows[i] = "";
  EXPECT_EQ(TakeOverPanel(sim, Panel::Strategy, rows, shown), "");
  ASSERT_TRUE(sim.strategy);
  EXPECT_EQ(sim.strategy.get()->Name(), "ecms");
  EXPECT_EQ(f.Read("STRATEGI.VAL").substr(0, 37), "strategy ecms\r\nparameters factor=2.9 ");
  // A run of the folder without a strategy of its own takes it.
  const RunResult r = Runner().Run(Cycle(f.path(), "HWFET.CYK", ""));
  ASSERT_EQ(r.exitCode, 0) << r.error;
  EXPECT_EQ(r.summary.strategy, "ecms");
  EXPECT_EQ(r.summary.strategyParameters.substr(0, 10), "factor=2.9");

  const struct {
    const char* name;
    const char* row;
    const char* says;
  } refused[] = {
      {"ecms", "factor=lots", "raden \"factor=lots\" ska vara NAMN=TAL"},
      {"bangBang", "", "det finns ingen strategi \"bangBang\""},
      {"ecms", "factr=3", "strategin ecms har ingen parameter \"factr\""},
  };
  for (const auto& c : refused) {
    rows[2] = c.name;
    rows[3] = c.row;
    const std::string said = TakeOverPanel(sim, Panel::Strategy, rows, shown);
    EXPECT_NE(said.find(c.says), std::string::npos) << said;
    EXPECT_EQ(sim.strategy.get()->Name(), "ecms");  // as it was
  }
}

// What a strategy is told: the cycle's rows ahead on a time cycle among it.
class Probe : public Strategy {
 public:
  std::string Name() const override { return "probe"; }
  std::vector<std::pair<std::string, double>> Parameters() const override { return {}; }
  StrategyDecision Decide(const StrategyInputs& in, CarQueries&) override {
    if (in.time > 25 && ahead.empty()) {
      ahead = in.rowsAhead(3);
      cycleTime = in.cycleTime;
    }
    return {};
  }
  std::unique_ptr<Strategy> Clone() const override { return std::make_unique<Probe>(*this); }
  std::vector<std::pair<double, double>> ahead;
  double cycleTime = 0;
};

TEST(Strategies, AStrategySeesTheRowsAheadOnATimeCycle) {
  BatchFolder f(DRIVANTO_TEST_DATA_DIR);
  f.Write("AHEAD.CYK",
          "0 10 0 0 1 0\n20 15 0 0 1 0\n40 5 0 0 1 0\n60 8 0 0 1 0\n80 0 0 100 1 0\n"
          "81 0 0 100 1 0\n");
  SimulatedClock clock;
  Sim sim;
  sim.clock = &clock;
  StartUp(sim, f.path());
  for (const auto& [name, value] : std::vector<std::pair<std::string, std::string>>{
           {"cycleType", "T"}, {"Ttidd", f / "AHEAD.CYK"}, {"timeMode", "D"}, {"dt", "0.5"},
           {"Spara", "0000"}}) {
    std::string why;
    ASSERT_TRUE(SetFieldFromText(sim.s, FindField(name)->field, value, &why)) << why;
  }
  auto probe = std::make_unique<Probe>();
  Probe* seen = probe.get();
  sim.strategy.Set(std::move(probe));
  Start(sim, nullptr);
  for (int i = 0; i < 60; ++i) Tick(sim, nullptr);
  ASSERT_GT(seen->cycleTime, 20);
  ASSERT_LT(seen->cycleTime, 40);
  const std::vector<std::pair<double, double>> want = {{40, 5}, {60, 8}, {80, 0}};
  EXPECT_EQ(seen->ahead, want);
}

TEST(Strategies, WhatCannotBeIsAUsageError) {
  BatchFolder f(DRIVANTO_TEST_DATA_DIR);
  const struct {
    const char* strategy;
    std::vector<std::pair<std::string, double>> params;
    const char* says;
  } cases[] = {
      {"bangBang", {}, "unknown strategy \"bangBang\"; the strategies are: thermostat"},
      {"powerFollower", {{"minpower", 1}}, "has no parameter \"minpower\""},
      {"powerFollower", {{"minPower", 9000}, {"maxPower", 8000}}, "minPower <= maxPower"},
      {"thermostat", {{"power", 1}}, "has no parameter \"power\""},
  };
  for (const auto& c : cases) {
    RunSpec runSpec = Cycle(f.path(), "UDDS.CYK", c.strategy);
    runSpec.strategyParams = c.params;
    const RunResult r = Runner().Run(runSpec);
    EXPECT_EQ(r.exitCode, 2) << c.strategy;
    EXPECT_NE(r.error.find(c.says), std::string::npos) << r.error;
  }
  // From the command line: a parameter's value must be a number.
  const BatchResult bad = f.Run({"--strategy-param", "minPower=lots", f.path()});
  EXPECT_EQ(bad.code, 2);
  EXPECT_NE(bad.err.find("NAME=NUMBER"), std::string::npos) << bad.err;
}

// A run's copy carries its strategy and what it keeps (the power follower's
// time on): stepped alone it reaches its twin's state.
TEST(Strategies, ACopyOfARunCarriesItsStrategy) {
  BatchFolder f(DRIVANTO_TEST_DATA_DIR);
  SimulatedClock clock;
  Sim sim;
  sim.clock = &clock;
  StartUp(sim, f.path());
  for (const auto& [name, value] : std::vector<std::pair<std::string, std::string>>{
           {"cycleType", "T"}, {"Ttidd", f / "UDDS.CYK"}, {"timeMode", "D"}, {"dt", "0.1"},
           {"Spara", "0000"}, {"usedCapacity", "59.9"}}) {
    std::string why;
    ASSERT_TRUE(SetFieldFromText(sim.s, FindField(name)->field, value, &why)) << why;
  }
  std::string why;
  sim.strategy.Set(MakeStrategy("powerFollower", {{"minOnTime", 300}}, sim.s, &why));
  ASSERT_TRUE(sim.strategy) << why;
  Start(sim, nullptr);
  // Until the engine has run for a while.
  for (int i = 0; i < 3000 && !(sim.s.chargeState == '+' && sim.s.ttot > 200); ++i) Tick(sim, nullptr);
  ASSERT_EQ(sim.s.chargeState, '+');
  Sim copy = sim;
  Sim& twin = sim;  // the original goes on with its own strategy
  for (Sim* run : {&copy, &twin}) {
    for (int i = 0; i < 3000; ++i) {
      run->s.stegnr = run->s.stegnr + 1;
      SimulationStep(*run);
    }
  }
  EXPECT_EQ(SnapshotText(copy.s), SnapshotText(twin.s));
  EXPECT_NE(copy.strategy.get(), twin.strategy.get());
}

}  // namespace
}  // namespace drivanto::testing
