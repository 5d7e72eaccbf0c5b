// What a study reads from a run: step traces, how well the car followed its
// time cycle, the battery's charge balance and the corrected fuel, figures
// per distance, the version and the inputs' fingerprints.

#include <cmath>
#include <fstream>
#include <sstream>
#include <thread>

#include "base/Sha256.h"
#include "batch_harness.h"

namespace drivanto::testing {
namespace {

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// 10 m/s on a level road from the start, 400 s.
const char* const kLevel10 = "0 10 0 0 1 0\n200 10 0 0 1 0\n400 0 0 100 1 0\n401 0 0 100 1 0\n";

std::vector<std::vector<std::string>> Csv(const std::string& text) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    std::vector<std::string> cells;
    std::istringstream cs(line);
    for (std::string cell; std::getline(cs, cell, ',');) cells.push_back(cell);
    rows.push_back(cells);
  }
  return rows;
}

TEST(StudyTrace, ColumnsAgreeWithTheResultFiles) {
  BatchFolder f;
  f.Write("L10.CYK", kLevel10);
  auto j = f.RunJson(TimeCycle("L10.CYK", "0.5") +
                     Set({"Spara=1100", "chargeOnLimit=1", "chargeOffLimit=0.5"}) +
                     Args{"--trace", f / "trace.csv"});
  const auto csv = Csv(f.Read("trace.csv"));
  ASSERT_GT(csv.size(), 2u);
  const auto& header = csv[0];
  EXPECT_EQ(header[0], "ttot_s");
  EXPECT_EQ(header[2], "v_m_per_s");
  EXPECT_EQ(header[6], "U_V");
  const Rows r1 = f.ResultRows("RESULT1.TXT");
  const Rows r2 = f.ResultRows("RESULT2.TXT");
  ASSERT_EQ(csv.size() - 1, r1.size());
  auto column = [&](const std::string& name) {
    for (std::size_t c = 0; c < header.size(); ++c) {
      if (header[c] == name) return c;
    }
    ADD_FAILURE() << "no column " << name;
    return std::size_t{0};
  };
  const std::size_t v = column("v_m_per_s"), ttot = column("ttot_s"), nic = column("nic_rpm");
  for (std::size_t i = 0; i < r1.size(); ++i) {
    ASSERT_NEAR(std::stod(csv[i + 1][v]), r1[i][r1::v], 0.05 + 1e-9) << "step " << i + 1;
    ASSERT_NEAR(std::stod(csv[i + 1][ttot]), r1[i][r1::ttot], 0.005 + 1e-9) << "step " << i + 1;
    ASSERT_NEAR(std::stod(csv[i + 1][nic]), r2[i][r2::nic], 0.5 + 1e-9) << "step " << i + 1;
  }
  // The numbers read back exactly as the state held them: the last row's
  // distance is the summary's.
  EXPECT_NEAR(std::stod(csv.back()[column("ltot_m")]), Num(j, "ltot"), 1e-9);
}

TEST(StudyTrace, ChosenVariablesEveryNthStep) {
  BatchFolder f;
  f.Write("L10.CYK", kLevel10);
  ASSERT_EQ(f.Run(TimeCycle("L10.CYK", "0.5") + Args{"--max-steps", "100", "--trace", f / "t.csv",
                                                     "--trace-vars", "ttot,gear,chargeState,Tbat",
                                                     "--trace-every", "10"})
                .code,
            0);
  const auto csv = Csv(f.Read("t.csv"));
  ASSERT_EQ(csv.size(), 11u);
  EXPECT_EQ(csv[0], (std::vector<std::string>{"ttot_s", "gear", "chargeState", "Tbat"}));
  EXPECT_EQ(csv[1][0], "5.01");  // step 10 at 0.5 s a step from 0.01 s
  EXPECT_EQ(csv[1][3], f / "BIL1/BATTERI.TAB");
  // The run's last step is in the trace even where N leaves it out.
  ASSERT_EQ(f.Run(TimeCycle("L10.CYK", "0.5") + Args{"--max-steps", "95", "--trace", f / "t.csv",
                                                     "--trace-vars", "stegnr", "--trace-every",
                                                     "10"})
                .code,
            0);
  const auto last = Csv(f.Read("t.csv"));
  ASSERT_EQ(last.size(), 11u);
  EXPECT_EQ(last[9][0], "90");
  EXPECT_EQ(last[10][0], "95");
  // Units from the field catalogue, also of the variables outside the
  // default set; counts, codes and texts go without.
  ASSERT_EQ(f.Run(TimeCycle("L10.CYK", "0.5") +
                  Args{"--max-steps", "2", "--trace", f / "u.csv", "--trace-vars",
                       "cycleSlope,rowSpeed,ratio,regenPower,fuelEnergy,medelforbr,stegnr,Ttidd"})
                .code,
            0);
  EXPECT_EQ(Csv(f.Read("u.csv"))[0],
            (std::vector<std::string>{"cycleSlope_pct", "rowSpeed_m_per_s",
                                      "ratio_rpm_per_m_per_s", "regenPower_W", "fuelEnergy_kWh_per_l",
                                      "medelforbr_cl_per_mil", "stegnr", "Ttidd"}));
  // The list of names in the error holds only those a trace can take.
  BatchResult listed = f.Run(Args{"--trace", f / "x.csv", "--trace-vars", "nosuch"});
  EXPECT_TRUE(Contains(listed.err, "  usedCapacity")) << listed.err;
  EXPECT_FALSE(Contains(listed.err, "gearRatio")) << listed.err;
  // Names that are not variables, arrays and a trace over an input.
  for (const Args& bad : {Args{"--trace", f / "x.csv", "--trace-vars", "ttot,nosuch"},
                          Args{"--trace", f / "x.csv", "--trace-vars", "gearRatio"},
                          Args{"--trace", f / "x.csv", "--trace-every", "0"}}) {
    EXPECT_EQ(f.Run(bad).code, 2);
  }
  const std::string cycle = f.Read("L10.CYK");
  BatchResult r =
      f.Run(TimeCycle("L10.CYK", "0.5") + Args{"--max-steps", "10", "--trace", f / "L10.CYK"});
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(Contains(r.err, "the trace and the time-cycle file are the same file")) << r.err;
  EXPECT_EQ(f.Read("L10.CYK"), cycle);
}

TEST(StudySummary, TraceMissOfACycleTheCarCanFollow) {
  BatchFolder f;
  f.Write("L10.CYK", kLevel10);
  auto j = f.RunJson(TimeCycle("L10.CYK", "0.5") +
                     Args{"--trace", f / "t.csv", "--trace-vars", "dt,v,vCycle,ltot"});
  // Recomputed from the trace: the requested speed over the steps.
  const auto csv = Csv(f.Read("t.csv"));
  double cycle = 0, shortfall = 0, excess = 0, offBand = 0;
  for (std::size_t i = 1; i < csv.size(); ++i) {
    const double dt = std::stod(csv[i][0]), v = std::stod(csv[i][1]), vc = std::stod(csv[i][2]);
    cycle += vc * dt;
    shortfall = std::max(shortfall, (vc - v) * 3.6);
    excess = std::max(excess, (v - vc) * 3.6);
    if (std::fabs(v - vc) * 3.6 > 2) offBand += dt;
  }
  EXPECT_NEAR(Num(j, "traceMiss.cycleDistance"), cycle, 1e-6);
  EXPECT_NEAR(Num(j, "traceMiss.cycleDistance"), 4000, 10);  // 10 m/s for 400 s
  EXPECT_NEAR(Num(j, "traceMiss.maxShortfall"), shortfall, 1e-9);
  EXPECT_GT(Num(j, "traceMiss.maxShortfall"), 30);  // from rest to 36 km/h
  EXPECT_NEAR(Num(j, "traceMiss.maxExcess"), excess, 1e-9);
  EXPECT_NEAR(Num(j, "traceMiss.secondsOffBand"), offBand, 1e-9);
  EXPECT_GT(offBand, 0);
  EXPECT_LT(offBand, 10);
  const double driven = Num(j, "ltot") - 0.01;
  EXPECT_NEAR(Num(j, "traceMiss.distanceError"), (driven - cycle) * 100 / cycle, 0.01);
  EXPECT_LT(std::fabs(Num(j, "traceMiss.distanceError")), 1);
  EXPECT_FALSE(Contains(f.Run(TimeCycle("L10.CYK", "0.5")).out, "warning"));
}

TEST(StudySummary, AWarningWhenTheCarMissesTheCycle) {
  BatchFolder f;
  f.Write("L10.CYK", kLevel10);
  // Too little current to reach 10 m/s quickly.
  BatchResult r = f.Run(TimeCycle("L10.CYK", "0.5") + Set({"maxCurrentElectric=8"}));
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(Contains(r.out, "warning: the car drove ")) << r.out;
  EXPECT_TRUE(Contains(r.out, "% less than the cycle asks")) << r.out;
  // Map cycles have no trace miss.
  auto j = f.RunJson({});
  EXPECT_EQ(j["traceMiss"], "null");
}

// The open-circuit voltage of the battery file: table 1's row at no current,
// read from the text and interpolated by hand.
struct OcvTable {
  std::vector<double> keys, volts;
  explicit OcvTable(const std::string& text) {
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line) && line.rfind("TAB 1", 0) != 0) {
    }
    std::getline(in, line);  // title
    std::getline(in, line);
    std::istringstream k(line);
    for (double x; k >> x;) keys.push_back(x);
    std::getline(in, line);
    std::istringstream v(line);
    double current = -1;
    v >> current;
    EXPECT_EQ(current, 0);
    for (double x; v >> x;) volts.push_back(x);
    EXPECT_EQ(keys.size(), volts.size());
  }
  double At(double u) const {
    std::size_t i = 1;
    while (i + 1 < keys.size() && keys[i] < u) ++i;
    return volts[i - 1] + (volts[i] - volts[i - 1]) * (u - keys[i - 1]) / (keys[i] - keys[i - 1]);
  }
  // kWh stored between two used capacities (%) of a battery of `ah`, by a
  // fine midpoint sum.
  double Stored(double from, double to, double ah) const {
    const int n = 200000;
    double sum = 0;
    for (int i = 0; i < n; ++i) sum += At(to + (from - to) * (i + 0.5) / n);
    return sum * (from - to) / n * ah / 100 / 1000;
  }
};

// The fuel's energy the engine burns: 1 / 3.18e-8 J a litre.
const double kFuelKWh = 1 / 3.18e-8 / 3.6e6;

TEST(StudySummary, ChargeBalanceOnTheEnergyStoredInTheBattery) {
  BatchFolder f;
  f.Write("L10.CYK", kLevel10);
  const OcvTable ocv(f.Read("BIL1/BATTERI.TAB"));
  const double ah = 30;
  struct Case {
    const char* name;
    Args settings;
    const char* chainFrom;
  };
  const Case cases[] = {
      {"charging from the start",
       Set({"usedCapacity=50", "chargeOnLimit=0.001", "chargeOffLimit=0"}), "run"},
      {"on the battery alone", Set({"usedCapacity=50", "chargeOnLimit=101"}), "chargingPoint"},
  };
  double etaOf[2] = {0, 0};
  for (int c = 0; c < 2; ++c) {
    SCOPED_TRACE(cases[c].name);
    const std::string trace = f / "t.csv";
    auto j = f.RunJson(TimeCycle("L10.CYK", "0.5") + cases[c].settings +
                       Args{"--trace", trace, "--trace-vars", "dt,usedCapacity,Iaba"});
    EXPECT_EQ(j["chargeBalance.chainFrom"], cases[c].chainFrom);
    const double start = Num(j, "chargeBalance.startUsedCapacity");
    const double end = Num(j, "chargeBalance.endUsedCapacity");
    EXPECT_EQ(start, 50);
    EXPECT_EQ(end, Num(j, "usedCapacity"));
    EXPECT_NEAR(Num(j, "chargeBalance.chargeChange"), (start - end) * ah / 100, 1e-9);
    const double stored = Num(j, "chargeBalance.storedEnergyChange");
    EXPECT_NEAR(stored, ocv.Stored(start, end, ah), 1e-7);
    // The same as the charge that went in and out, step by step, valued at
    // the open-circuit voltage (to within the steps' error).
    const auto csv = Csv(f.Read("t.csv"));
    double flow = 0;
    for (std::size_t i = 1; i < csv.size(); ++i) {
      flow -= ocv.At(std::stod(csv[i][1])) * std::stod(csv[i][2]) * std::stod(csv[i][0]) / 3.6e6;
    }
    EXPECT_NEAR(stored, flow, 0.002 * std::fabs(flow));
    // The terminals' view includes the battery's own losses: it sees more
    // energy put in, or less taken out, than is stored.
    EXPECT_GT(Num(j, "chargeBalance.netEnergyChange"), stored);
    EXPECT_NEAR(Num(j, "chargeBalance.netEnergyChange"), -Num(j, "netEnergy"), 1e-12);
    const double fuel = Num(j, "fuelUsed"), eta = Num(j, "chargeBalance.chainEfficiency");
    EXPECT_GT(eta, 0.25);
    EXPECT_LT(eta, 0.40);
    etaOf[c] = eta;
    EXPECT_NEAR(Num(j, "chargeBalance.correctedFuel"), fuel - stored / (eta * kFuelKWh), 1e-9);
    EXPECT_NEAR(Num(j, "chargeBalance.correctedFuelPer100km"),
                Num(j, "chargeBalance.correctedFuel") * 100000 / Num(j, "distance"), 1e-9);
    // Line 32 of the constants file is not the engine's fuel: the figures
    // keep to the model's, and the text says so.
    auto other = f.RunJson(TimeCycle("L10.CYK", "0.5") + cases[c].settings +
                           Set({"fuelEnergy=5"}));
    EXPECT_EQ(other["chargeBalance.correctedFuel"], j["chargeBalance.correctedFuel"]);
    EXPECT_EQ(Num(other, "fuelEnergySetting"), 5);
    EXPECT_NEAR(Num(other, "fuelEnergy"), kFuelKWh, 1e-12);
    EXPECT_TRUE(Contains(f.Run(TimeCycle("L10.CYK", "0.5") + Set({"fuelEnergy=5"})).out,
                         "line 32 of the constants file"));
  }
  // Both chains price a kWh alike (the engine runs at the same point).
  EXPECT_NEAR(etaOf[1], etaOf[0], 0.03 * etaOf[0]);
}

// The usual way to find a charge-sustaining fuel: runs from several states
// of charge, a straight line of fuel against the stored-energy change, its
// value at no change. Every run's corrected fuel lies within 1 % of it, the
// runs in which the engine never started too.
TEST(StudySummary, CorrectedFuelMeetsTheRegressionInterceptOfItsRuns) {
  BatchFolder f;
  struct Run {
    double fuel = 0, change = 0, corrected = 0;
    std::string chainFrom;
  };
  for (const char* cycle : {"UDDS.CYK", "HWFET.CYK"}) {
    for (auto [on, off] : {std::pair{60, 40}, {50, 30}, {70, 50}}) {
      std::vector<Run> runs(10);
      auto one = [&](int i) {
        const int start = 30 + 5 * i;
        // Two runs at a time in one folder: no result files.
        BatchResult r = f.Run(TimeCycle(cycle, "0.1") +
                              Set({"Spara=0000", "usedCapacity=" + std::to_string(start),
                                   "chargeOnLimit=" + std::to_string(on),
                                   "chargeOffLimit=" + std::to_string(off)}) +
                              Args{"--json"});
        auto j = ParseFlatJson(r.out);
        runs[i] = {Num(j, "fuelUsed"), Num(j, "chargeBalance.storedEnergyChange"),
                   Num(j, "chargeBalance.correctedFuel"), j["chargeBalance.chainFrom"]};
      };
      std::thread other([&] {
        for (int i = 1; i < 10; i += 2) one(i);
      });
      for (int i = 0; i < 10; i += 2) one(i);
      other.join();
      double mx = 0, my = 0, sxy = 0, sxx = 0;
      for (const Run& r : runs) mx += r.change / 10, my += r.fuel / 10;
      for (const Run& r : runs) {
        sxy += (r.change - mx) * (r.fuel - my);
        sxx += (r.change - mx) * (r.change - mx);
      }
      const double intercept = my - sxy / sxx * mx;
      for (std::size_t i = 0; i < runs.size(); ++i) {
        EXPECT_NEAR(runs[i].corrected, intercept, 0.01 * intercept)
            << cycle << " limits " << on << "/" << off << " from " << 30 + 5 * i << " %, "
            << runs[i].chainFrom << " chain, fuel " << runs[i].fuel << " l, stored "
            << runs[i].change << " kWh";
      }
    }
  }
}

TEST(StudySummary, FuelFromWhatTheTankHeldAtTheStart) {
  BatchFolder f;
  f.Write("L10.CYK", kLevel10);
  const Args run = TimeCycle("L10.CYK", "0.5") +
                   Set({"usedCapacity=45", "chargeOnLimit=40", "chargeOffLimit=30"});
  auto full = f.RunJson(run);
  auto part = f.RunJson(run + Set({"fuelLeft=20"}));
  ASSERT_GT(Num(full, "fuelUsed"), 0);
  // The same fuel burnt, whatever the tank held.
  EXPECT_NEAR(Num(part, "fuelUsed"), Num(full, "fuelUsed"), 1e-9);
  EXPECT_NEAR(Num(part, "fuelPer100km"), Num(full, "fuelPer100km"), 1e-9);
  EXPECT_LT(Num(part, "fuelPer100km"), 20);
  EXPECT_NEAR(Num(part, "chargeBalance.correctedFuel"), Num(full, "chargeBalance.correctedFuel"),
              1e-12);
}

// A run resumed from a snapshot reports the part it drove: its figures and
// the whole run's less the first part's agree.
TEST(StudySummary, AResumedRunCoversItsOwnSpan) {
  BatchFolder f;
  const Args run = TimeCycle("UDDS.CYK", "0.1") + Set({"chargeOnLimit=50", "chargeOffLimit=45"});
  auto whole = f.RunJson(run);
  auto first = f.RunJson(run + Args{"--max-steps", "6000", "--save-snapshot", f / "half.snp"});
  auto rest = f.RunJson(Args{"--load-snapshot", f / "half.snp"});
  EXPECT_EQ(first["span.from"], "start");
  EXPECT_EQ(rest["span.from"], "snapshot");
  EXPECT_NEAR(Num(rest, "span.startLtot"), Num(first, "ltot"), 1e-9);
  EXPECT_EQ(rest["runOptions"], "--load-snapshot " + f / "half.snp");
  for (const char* key : {"distance", "time", "fuelUsed", "CO", "NOx", "HC", "driveEnergy",
                          "netEnergy", "engineOnTime", "generatorEnergy"}) {
    EXPECT_NEAR(Num(first, key) + Num(rest, key), Num(whole, key), 1e-6 * (1 + Num(whole, key)))
        << key;
  }
  EXPECT_NEAR(Num(rest, "COPerKm"), Num(rest, "CO") * 1000 / Num(rest, "distance"), 1e-9);
  EXPECT_NEAR(Num(rest, "fuelPer100km"), Num(rest, "fuelUsed") * 1e5 / Num(rest, "distance"),
              1e-9);
  EXPECT_NEAR(Num(rest, "chargeBalance.startUsedCapacity"), Num(first, "usedCapacity"), 1e-12);
  EXPECT_EQ(whole["settings.chargeOnLimit"], "50");
  EXPECT_EQ(whole["dt"], "0.1");
  EXPECT_EQ(whole["timeMode"], "D");
}

TEST(StudySummary, ARunThatEndsBeforeItsCycleSaysSo) {
  BatchFolder f;
  struct Case {
    const char* name;
    Args args;
    const char* endReason;
    bool completed;
  };
  const Case cases[] = {
      {"the whole cycle", TimeCycle("HWFET.CYK", "0.1"), "mode100", true},
      {"cut by the full length", TimeCycle("HWFET.CYK", "0.1") + Set({"fullLength=14000"}),
       "fullLength", false},
      {"cut by the full time", TimeCycle("HWFET.CYK", "0.1") + Set({"fullTime=600"}), "fullTime",
       false},
      {"cut by the step limit", TimeCycle("HWFET.CYK", "0.1") + Args{"--max-steps", "3000"},
       "maxSteps", false},
  };
  // The cycle's distance: 16.5 km over 765 s.
  const double cycleDistance = Num(f.RunJson(cases[0].args), "traceMiss.cycleDistance");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BatchResult r = f.Run(c.args + Args{"--json"});
    ASSERT_EQ(r.code, 0) << r.err;
    auto j = ParseFlatJson(r.out);
    EXPECT_EQ(j["endReason"], c.endReason);
    EXPECT_EQ(j["cycleCompleted"], c.completed ? "true" : "false");
    const double left = Num(j, "cycleDistanceLeft"), timeLeft = Num(j, "cycleTimeLeft");
    if (c.completed) {
      EXPECT_EQ(left, 0);
      EXPECT_TRUE(r.err.empty()) << r.err;
      continue;
    }
    // What was asked and what is left make the cycle (to within the last
    // step's distance).
    EXPECT_NEAR(Num(j, "traceMiss.cycleDistance") + left, cycleDistance, 5);
    EXPECT_NEAR(Num(j, "ttot") + timeLeft, 766, 0.2);
    EXPECT_TRUE(Contains(r.err, "warning: the run ended (" + std::string(c.endReason) +
                                    ") before the end of its cycle"))
        << r.err;
    EXPECT_TRUE(Contains(f.Run(c.args).out, "warning: the run ended")) << c.name;
  }
}

TEST(StudySummary, PerDistanceFiguresVersionAndInputs) {
  BatchFolder f;
  auto j = f.RunJson(TimeCycle("UDDS.CYK", "0.2") + Set({"chargeOnLimit=1", "chargeOffLimit=0.5"}));
  const double km = Num(j, "distance") / 1000;
  EXPECT_EQ(Num(j, "distance"), Num(j, "ltot"));  // from the odometer's floor of 1 cm
  EXPECT_NEAR(Num(j, "fuelPer100km"), Num(j, "fuelUsed") / km * 100, 1e-9);
  EXPECT_NEAR(Num(j, "COPerKm"), Num(j, "CO") / km, 1e-9);
  EXPECT_NEAR(Num(j, "NOxPerKm"), Num(j, "NOx") / km, 1e-9);
  EXPECT_NEAR(Num(j, "HCPerKm"), Num(j, "HC") / km, 1e-9);
  EXPECT_EQ(j["version"], DRIVANTO_VERSION);
  EXPECT_EQ(j["inputs.constants.file"], f / "CONS.VAL");
  EXPECT_EQ(j["inputs.constants.sha256"], Sha256Hex(f.Read("CONS.VAL")));
  EXPECT_EQ(j["inputs.timeCycle.sha256"], Sha256Hex(f.Read("UDDS.CYK")));
  for (const char* table : {"battery", "engine", "motor", "vehicle", "gearbox", "brake"}) {
    const std::string file = j["inputs." + std::string(table) + ".file"];
    ASSERT_FALSE(file.empty()) << table;
    EXPECT_EQ(j["inputs." + std::string(table) + ".sha256"], Sha256OfFile(file)) << table;
  }
}

}  // namespace
}  // namespace drivanto::testing
