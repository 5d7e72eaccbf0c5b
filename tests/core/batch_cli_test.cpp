// The command line of drivanto-batch: its summary, its exit codes and what it
// reports on errors, among them a table lookup outside its table.

#include <cstdio>
#include <fstream>
#include <sstream>

#include "batch_harness.h"

namespace drivanto::testing {
namespace {

const char* const kLevel20 = "0 20 0 0 1 0\n100 20 0 0 1 0\n200 0 0 100 1 0\n201 0 0 100 1 0\n";

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST(BatchCli, JsonSummaryHoldsTheListedKeys) {
  BatchFolder f;
  auto j = f.RunJson(TimeCycle("TID.CYK", "1") + Set({"chargeOnLimit=1", "chargeOffLimit=0.5"}));
  const char* keys[] = {"endReason",
                        "steps",
                        "ttot",
                        "ltot",
                        "height",
                        "fuelUsed",
                        "medelforbr",
                        "CO",
                        "NOx",
                        "HC",
                        "COPerMil",
                        "NOxPerMil",
                        "HCPerMil",
                        "netEnergy",
                        "driveEnergy",
                        "usedCapacity",
                        "wallSeconds",
                        "stepsPerSecond",
                        "fuelPer100km",
                        "COPerKm",
                        "NOxPerKm",
                        "HCPerKm",
                        "traceMiss.cycleDistance",
                        "traceMiss.distanceError",
                        "traceMiss.maxShortfall",
                        "traceMiss.maxExcess",
                        "traceMiss.secondsOffBand",
                        "chargeBalance.netEnergyChange",
                        "chargeBalance.chainEfficiency",
                        "chargeBalance.correctedFuel",
                        "chargeBalance.correctedFuelPer100km"};
  for (const char* k : keys) {
    ASSERT_TRUE(j.count(k)) << k;
    if (std::string(k) == "endReason") continue;
    char* end = nullptr;
    std::strtod(j[k].c_str(), &end);
    EXPECT_TRUE(!j[k].empty() && *end == '\0') << k << " is not a number: " << j[k];
  }
  EXPECT_EQ(j["endReason"], "mode100");
  // The end row lies at 271 s. The cycle is read before the time advances,
  // so a row becomes active in the first step that begins past it: with 1 s
  // steps from 0 s that is step 273, and the tick after it ends the run.
  EXPECT_EQ(Num(j, "steps"), 273);
  EXPECT_NEAR(Num(j, "ttot"), 0.01 + 273, 1e-9);
  EXPECT_NEAR(Num(j, "HCPerMil"), Num(j, "HC") * 10000 / Num(j, "ltot"), 1e-9);
  EXPECT_GT(Num(j, "fuelUsed"), 0);
  EXPECT_GE(Num(j, "wallSeconds"), 0);

  // Without --json: one labelled line each.
  BatchResult text = f.Run(TimeCycle("TID.CYK", "1"));
  EXPECT_EQ(text.code, 0);
  EXPECT_TRUE(Contains(text.out, "end reason      mode100\n")) << text.out;
  EXPECT_TRUE(Contains(text.out, "steps           273\n")) << text.out;
}

TEST(BatchCli, MissingConstantsFileIsAnInputError) {
  TempFolder empty;
  BatchResult r = BatchFolder::RunAsGiven({empty.path()});
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(Contains(r.err, empty / "CONS.VAL")) << r.err;
  EXPECT_FALSE(TempFolder::Exists(empty / "ERROR.TAB"));
}

TEST(BatchCli, ConstantsFromAnotherFileWithNamesInTheWorkingFolder) {
  BatchFolder f;
  TempFolder other;
  // Line 37 of the copy selects the time cycle of line 1, TID.CYK instead of UDDS.CYK.
  std::string cons = f.Read("CONS.VAL");
  cons.replace(cons.find("UDDS.CYK"), 8, "TID.CYK");
  cons.replace(cons.find("\r\nK\r\n"), 5, "\r\nT\r\n");
  other.Write("ALT.VAL", cons);
  std::filesystem::remove(f / "CONS.VAL");
  auto j = f.RunJson(Args{"--constants", other / "ALT.VAL"} + Set({"timeMode=D", "dt=1"}));
  EXPECT_EQ(j["endReason"], "mode100");
  EXPECT_EQ(Num(j, "steps"), 273);
  EXPECT_TRUE(f.Exists("RESULT2.TXT"));  // the result file lies in the working folder
}

TEST(BatchCli, MalformedNumberInTheCycleNamesFileAndRow) {
  BatchFolder f;
  f.Write("BAD.CYK", "0 10 0 0 1 0\n10 1O 0 0 1 0\n20 0 0 100 1 0\n21 0 0 100 1 0\n");
  BatchResult r = f.Run(TimeCycle("BAD.CYK", "1"));
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(Contains(r.err, f / "BAD.CYK")) << r.err;
  EXPECT_TRUE(Contains(r.err, "line 2:") || Contains(r.err, "row 2:")) << r.err;
  EXPECT_TRUE(Contains(r.err, "1O")) << r.err;
  EXPECT_FALSE(f.Exists("ERROR.TAB"));

  BatchResult missing = f.Run(TimeCycle("NONE.CYK", "1"));
  EXPECT_EQ(missing.code, 1);
  EXPECT_TRUE(Contains(missing.err, f / "NONE.CYK")) << missing.err;
}

TEST(BatchCli, UsageErrors) {
  BatchFolder f;
  BatchResult unknown = f.Run(Set({"noSuchThing=1"}));
  EXPECT_EQ(unknown.code, 2);
  EXPECT_TRUE(Contains(unknown.err, "noSuchThing")) << unknown.err;
  for (const char* name : {"chargeOnLimit", "Ttidd", "timeMode", "stopAtEmptyTank"}) {
    EXPECT_TRUE(Contains(unknown.err, std::string("  ") + name)) << name;
  }
  const Args bad[] = {
      {"--key", "5"},      {"--key", "x:Q"},     {"--key", "5:QQ"},     {"--key", "5:"},
      {"--mouse", "5:10"}, {"--mouse", "5:a,b"}, {"--max-steps", "-1"}, {"--max-steps", "ten"},
      {"--set", "dt"},     {"--set", "dt=abc"},  {"--bogus"},           {"--key"},
      {f / "other"}};
  for (const Args& a : bad) {
    BatchResult r = f.Run(a);
    EXPECT_EQ(r.code, 2) << a[0] << " " << (a.size() > 1 ? a[1] : "");
    EXPECT_TRUE(Contains(r.err, "--help")) << r.err;
    EXPECT_TRUE(r.out.empty());
  }
  // Values the model cannot run with name the setting and what it takes.
  const std::pair<const char*, const char*> refused[] = {
      {"cycleType=X", "T (a time cycle) or K (a map cycle)"},
      {"timeMode=Q", "D (the fixed step dt), R (real time) or a blank"},
      {"dt=0", "a time step in seconds above 0"},
      {"dt=-0.1", "a time step in seconds above 0"}};
  for (const auto& [setting, accepted] : refused) {
    BatchResult r = f.Run(Set({setting}));
    EXPECT_EQ(r.code, 2) << setting;
    EXPECT_TRUE(Contains(r.err, std::string("--set ") + setting + ": " + accepted)) << r.err;
  }
  // A trace's options without a trace.
  for (const Args& a : {Args{"--trace-vars", "ttot"}, Args{"--trace-every", "5"}}) {
    BatchResult r = f.Run(a);
    EXPECT_EQ(r.code, 2) << a[0];
    EXPECT_TRUE(Contains(r.err, a[0] + " needs --trace FILE.csv")) << r.err;
  }
  EXPECT_FALSE(f.Exists("RESULT2.TXT"));  // nothing ran
  for (const char* fine : {"cycleType=k", "timeMode=d", "timeMode=", "dt=0,5"}) {
    EXPECT_EQ(f.Run(Set({fine}) + Args{"--max-steps", "2"}).code, 0) << fine;
  }
  BatchResult help = f.Run({"--help"});
  EXPECT_EQ(help.code, 0);
  EXPECT_TRUE(Contains(help.out, "Usage: drivanto-batch"));
  EXPECT_EQ(f.Run(Keys({{3, "space"}}) + Args{"--max-steps", "5"}).code, 0);
}

// A vehicle table in car folder BIL2 that ends at 5 m/s, and a cycle asking 20 m/s.
TEST(BatchCli, LookupBeyondTheVehicleTableWritesErrorTab) {
  BatchFolder f;
  std::filesystem::copy(f / "BIL1", f / "BIL2");
  std::istringstream in(f.Read("BIL1/FORDON.TAB"));
  std::string table, line;
  bool rows = false;
  while (std::getline(in, line)) {
    double x = 0;
    if (rows && std::sscanf(line.c_str(), " %lf", &x) == 1 && x > 5) continue;
    rows = rows || line.rfind("TAB 1", 0) == 0;
    table += line + "\n";
  }
  ASSERT_TRUE(Contains(table, "5    125.4"));
  ASSERT_FALSE(Contains(table, "6    130.5"));
  f.Write("BIL2/FORDON.TAB", table);
  f.Write("L20.CYK", kLevel20);

  BatchResult r = f.Run(TimeCycle("L20.CYK", "0.5") + Set({"Bilmapp=BIL2"}));
  EXPECT_EQ(r.code, 3);
  ASSERT_TRUE(f.Exists("ERROR.TAB"));
  // In code page 437: å 86, ä 84, ö 94. The regulator's mean of the 20 m/s
  // asked and the standing car's 0.001 m/s is the first argument past 5 m/s.
  const std::string expected =
      "Avbrott p g a att TABR1 inte funnit n\x86got inv\x84rde i " + (f / "BIL2/FORDON.TAB") +
      "\r\ntabell nr 1 som \x84r st\x94rre \x84n  1.00005000000000E+0001\r\n";
  EXPECT_EQ(f.Read("ERROR.TAB"), expected);
  EXPECT_EQ(r.err, "Avbrott p g a att TABR1 inte funnit något invärde i " +
                       (f / "BIL2/FORDON.TAB") +
                       "\ntabell nr 1 som är större än  1.00005000000000E+0001\n");
  // The step before (the car still standing) left its row in the result file.
  EXPECT_EQ(f.ResultRows("RESULT2.TXT").size(), 1u);

  // The car folder BIL1 still has the whole table.
  f.Write("ERROR.TAB", "");
  EXPECT_EQ(f.Run(TimeCycle("L20.CYK", "0.5")).code, 0);
  EXPECT_EQ(f.Read("ERROR.TAB"), "");
}

// A 1 Ah battery read from a table measured for 30 Ah: the current is scaled
// by 30 and passes the table's last row of 2000 A.
TEST(BatchCli, LookupBeyondTheBatteryTableWritesErrorTab) {
  BatchFolder f;
  BatchResult r = f.Run(Set({"batCapacity=1", "timeMode=D", "dt=0.5"}));
  EXPECT_EQ(r.code, 3);
  const std::string text = f.Read("ERROR.TAB");
  const std::string head = "Avbrott p g a att TABR2 inte funnit n\x86got inv\x84rdepar i " +
                           (f / "BIL1/BATTERI.TAB") + "\r\ntabell nr 1 som \x84r st\x94rre \x84n ";
  ASSERT_EQ(text.substr(0, head.size()), head);
  const std::string numbers = text.substr(head.size());
  ASSERT_EQ(numbers.size(), 23 + 3 + 23 + 2u) << numbers;
  EXPECT_EQ(numbers.substr(23, 3), " / ");
  EXPECT_EQ(numbers[2], '.');
  EXPECT_EQ(numbers.substr(17, 2), "E+");
  EXPECT_GT(std::stod(numbers.substr(26, 23)), 2000);  // the scaled current
  EXPECT_EQ(r.err.rfind("Avbrott p g a att TABR2 inte funnit något invärdepar i ", 0), 0u) << r.err;
}

TEST(BatchCli, OptionsApplyInTheOrderGiven) {
  BatchFolder f;
  f.Write("L20.CYK", kLevel20);
  f.Run(TimeCycle("L20.CYK", "0.5") + Args{"--max-steps", "10", "--save-snapshot", f / "s.snap"});
  f.Run(Args{"--load-snapshot", f / "s.snap"} + Set({"dt=0.25"}) +
        Args{"--max-steps", "4", "--save-snapshot", f / "after.snap"});
  f.Run(Set({"dt=0.25"}) + Args{"--load-snapshot", f / "s.snap"} +
        Args{"--max-steps", "4", "--save-snapshot", f / "before.snap"});
  EXPECT_EQ(f.Snapshot("after.snap")[snap::ttot], "6.01");   // 5.01 + 4 x 0.25
  EXPECT_EQ(f.Snapshot("before.snap")[snap::ttot], "7.01");  // the snapshot's 0.5 s
}

TEST(BatchCli, ComputerClockDoesNotChangeARunWithFixedIncrement) {
  BatchFolder f;
  auto simulated = f.RunJson(TimeCycle("TID.CYK", "1"));
  auto realtime = f.RunJson(TimeCycle("TID.CYK", "1") + Args{"--realtime"});
  EXPECT_EQ(realtime["steps"], simulated["steps"]);
  EXPECT_EQ(realtime["ltot"], simulated["ltot"]);
  EXPECT_EQ(realtime["usedCapacity"], simulated["usedCapacity"]);
}

}  // namespace
}  // namespace drivanto::testing
