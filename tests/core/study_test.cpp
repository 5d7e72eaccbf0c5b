// What a study reads from a run: step traces, how well the car followed its
// time cycle, the battery's charge balance and the corrected fuel, figures
// per distance, the version and the inputs' fingerprints.

#include <cmath>
#include <fstream>
#include <sstream>

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

TEST(StudySummary, ChargeBalanceAndCorrectedFuel) {
  BatchFolder f;
  f.Write("L10.CYK", kLevel10);
  // Charging forced on: the battery ends fuller than it started.
  auto on =
      f.RunJson(TimeCycle("L10.CYK", "0.5") + Set({"chargeOnLimit=0.001", "chargeOffLimit=0"}));
  const double fuel = Num(on, "fuelUsed");
  ASSERT_GT(fuel, 0);
  const double change = Num(on, "chargeBalance.netEnergyChange");
  EXPECT_NEAR(change, -Num(on, "netEnergy"), 1e-12);  // from 0 at the start
  EXPECT_GT(change, 0);
  EXPECT_EQ(on["chargeBalance.chainFrom"], "run");
  const double eta = Num(on, "chargeBalance.chainEfficiency");
  EXPECT_GT(eta, 0.1);
  EXPECT_LT(eta, 0.5);
  // The stored energy would have cost eta x 8.74 kWh a litre of fuel.
  EXPECT_NEAR(Num(on, "chargeBalance.correctedFuel"), fuel - change / (eta * 8.74), 1e-9);
  EXPECT_LT(Num(on, "chargeBalance.correctedFuel"), fuel);
  EXPECT_NEAR(Num(on, "chargeBalance.correctedFuelPer100km"),
              Num(on, "chargeBalance.correctedFuel") * 100000 / (Num(on, "ltot") - 0.01), 1e-9);
  // On the battery alone: the engine never ran, the chain's best point
  // prices the energy taken.
  auto off = f.RunJson(TimeCycle("L10.CYK", "0.5"));
  EXPECT_EQ(Num(off, "fuelUsed"), 0);
  EXPECT_EQ(off["chargeBalance.chainFrom"], "bestPoint");
  EXPECT_LT(Num(off, "chargeBalance.netEnergyChange"), 0);
  EXPECT_GT(Num(off, "chargeBalance.correctedFuel"), 0);
  const double best = Num(off, "chargeBalance.chainEfficiency");
  EXPECT_GT(best, eta);  // the best point beats the run's mean
  EXPECT_LT(best, 0.9);
}

TEST(StudySummary, PerDistanceFiguresVersionAndInputs) {
  BatchFolder f;
  auto j = f.RunJson(TimeCycle("UDDS.CYK", "0.2") + Set({"chargeOnLimit=1", "chargeOffLimit=0.5"}));
  const double km = Num(j, "ltot") / 1000;
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
