#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "TempFolder.h"
#include "base/Errors.h"
#include "base/Text.h"
#include "data/Constants.h"
#include "gui/SwedishLocale.h"
#include "state/Snapshot.h"
#include "state/State.h"

namespace drivanto {
namespace {

// A complete constants file, one entry per line (bytes as in the file; line
// 15 holds "Åsa Öberg" in the Windows code page).
std::vector<std::string> BaseLines() {
  return {"TID.CYK", "KARTA.CYK", "BIL1", "D:\\OLD\\BAT.TAB", "FORB.TAB", "c:/elm/ELM.TAB",
          "FORD.TAB", "VX.TAB", "BR.TAB", "VGRAD.BMP", "RESERV1.TXT", "RESERV2.TXT",
          "/var/tmp/RESULT1.TXT", "RESULT2.TXT",
          "\xC5sa \xD6"
          "berg",
          // 16-29: car constants
          "200", "220", "1200", "60", "-5", "40", "3000", "90", "9000", "500", "2500", "0.65",
          "230", "150",
          // 30-34
          "", "", "9.1", "0.74", "6500",
          // 35-44: program constants
          "1800", "14000", "Tid", "2.5", "1101", "3", "j", "J", "n", "x",
          // 45-54: start values and limits
          "12", "5", "0", "-3", "-2", "25", "0.005", "40", "60", "70",
          // 55-58: modes
          "m", "d", "0.04", "a"};
}

std::string Join(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& l : lines) out += l + "\r\n";
  return out;
}

const char* kVehicle =
    "Vehicle\r\nConst\r\nMass kg\r\n1350\r\nCdA m2\r\n0.64\r\nTAB 1\r\nt\r\n0 100\r\n50 500\r\n";
const char* kEngine = "Engine\nConst\nConstant\n0.33\nTAB 1\nt\n1000 50\n";
const char* kBattery =
    "Battery\nConst\nCapacity Ah\n50\nVoltmeter scale V\n250\n"
    "TAB 1\nt\n0 50 100\n0 300 280 250\n100 280 260 230\n";
const char* kMotor =
    "Motor\nConst\nBase speed\n3000\nMax torque\n180\nReference voltage\n310\n"
    "Loss coefficient\n0.05\n";

class ConstantsFile : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteCar("BIL1");
    tables.errorFolder = dir.path();
  }

  void WriteCar(const std::string& folder) {
    dir.Write(folder + "/FORD.TAB", kVehicle);
    dir.Write(folder + "/FORB.TAB", kEngine);
    dir.Write(folder + "/BAT.TAB", kBattery);
    dir.Write(folder + "/ELM.TAB", kMotor);
  }

  // A state with its defaults and the working folder, as at start-up.
  State Fresh() const {
    State s;
    SetDefaults(s);
    s.startmapp = dir.path();
    s.konsfil = "CONS.VAL";
    return s;
  }

  State Read(const std::vector<std::string>& lines) {
    dir.Write("CONS.VAL", Join(lines));
    State s = Fresh();
    ReadConstants(s, tables);
    return s;
  }

  // Reads the base file with line n (from 1) replaced by text.
  State ReadWith(int n, const std::string& text) {
    std::vector<std::string> lines = BaseLines();
    lines[n - 1] = text;
    return Read(lines);
  }

  std::string P(const std::string& name) const { return dir / name; }

  testing::TempFolder dir;
  TableCache tables;
};

TEST_F(ConstantsFile, EveryLineIsReadByItsPosition) {
  dir.Write("CONS.VAL", Join(BaseLines()));
  State s = Fresh();
  ReadConstants(s, tables);

  EXPECT_EQ(s.konsfil, P("CONS.VAL"));
  EXPECT_EQ(s.Ttidd, P("TID.CYK"));
  EXPECT_EQ(s.Tkarta, P("KARTA.CYK"));
  EXPECT_EQ(s.Bilmapp, P("BIL1"));
  EXPECT_EQ(s.Tbat, P("BIL1/BAT.TAB"));  // the folder named in the file is dropped
  EXPECT_EQ(s.Tforb, P("BIL1/FORB.TAB"));
  EXPECT_EQ(s.Telm, P("BIL1/ELM.TAB"));
  EXPECT_EQ(s.Tford, P("BIL1/FORD.TAB"));
  EXPECT_EQ(s.Tvx, P("BIL1/VX.TAB"));
  EXPECT_EQ(s.Tbr, P("BIL1/BR.TAB"));
  EXPECT_EQ(s.Mussfil, P("BIL1/VGRAD.BMP"));
  EXPECT_EQ(s.spareFile1, P("BIL1/RESERV1.TXT"));
  EXPECT_EQ(s.spareFile2, P("BIL1/RESERV2.TXT"));
  EXPECT_EQ(s.Tresultat, "/var/tmp/RESULT1.TXT");  // absolute: unchanged
  EXPECT_EQ(s.Tresultatp, P("RESULT2.TXT"));
  EXPECT_EQ(s.Myname, "Åsa Öberg");

  EXPECT_EQ(s.maxCurrentElectric, 200);
  EXPECT_EQ(s.maxCurrentCharging, 220);
  EXPECT_EQ(s.vehicleMass, 1200);
  EXPECT_EQ(s.batCapacity, 60);
  EXPECT_EQ(s.chargeSetting, -5);
  EXPECT_EQ(s.tankVolume, 40);
  EXPECT_EQ(s.genRpm, 3000);
  EXPECT_EQ(s.genEff, 90);
  EXPECT_EQ(s.maxBrakeForce, 9000);
  EXPECT_EQ(s.auxPower, 500);
  EXPECT_EQ(s.elmBaseRpm, 2500);
  EXPECT_EQ(s.cdA, 0.65);
  EXPECT_EQ(s.minVoltage, 230);
  EXPECT_EQ(s.elmMaxTorque, 150);
  EXPECT_EQ(s.fuelEnergy, 9.1);
  EXPECT_EQ(s.fuelDensity, 0.74);
  EXPECT_EQ(s.maxRpm, 6500);

  EXPECT_EQ(s.fullTime, 1800);
  EXPECT_EQ(s.fullLength, 14000);
  EXPECT_EQ(s.cycleType, 'T');
  EXPECT_EQ(s.spareNumber1, 2.5);
  EXPECT_EQ(s.outputFlags.Text(), "0100");
  EXPECT_EQ(s.spareNumber2, 3);
  EXPECT_EQ(s.spareFlag1, 'j');  // not upper-cased
  EXPECT_EQ(s.stopAtEmptyTank, 'J');
  EXPECT_EQ(s.roadCurves, 'n');
  EXPECT_EQ(s.spareFlag2, 'x');

  EXPECT_EQ(s.ttot, 12);
  EXPECT_EQ(s.cycleTime, 5);
  EXPECT_EQ(s.ltot, 0.01);
  EXPECT_EQ(s.mapPos, -3);  // no lower bound
  EXPECT_EQ(s.usedCapacity, 0.01);
  EXPECT_DOUBLE_EQ(s.fuelLeft, 30);  // 25 % of 40 l used
  EXPECT_EQ(s.v, 0.01);
  EXPECT_EQ(s.chargeOffLimit, 40);
  EXPECT_EQ(s.chargeOnLimit, 60);
  EXPECT_EQ(s.envOnLimit, 70);

  EXPECT_EQ(s.controlMode, 'M');
  EXPECT_EQ(s.timeMode, 'D');
  EXPECT_EQ(s.dt, 0.04);
  EXPECT_EQ(s.gearMode, 20);

  // The table files' constants were read as well.
  EXPECT_EQ(s.tableMass, 1350);
  EXPECT_EQ(s.tableCdA, 0.64);
  EXPECT_EQ(s.engineConst, 0.33);
  EXPECT_EQ(s.batTableCapacity, 50);
  EXPECT_EQ(s.Uskala, 250);
  EXPECT_EQ(s.elmRefVoltage, 310);
  EXPECT_EQ(s.elmLossCoef, 0.05);
}

TEST_F(ConstantsFile, CycleTypeAndGearModeLetters) {
  for (const char* t : {"T", "t", "Tid", "tid"}) EXPECT_EQ(ReadWith(37, t).cycleType, 'T') << t;
  for (const char* k : {"K", "Karta", "x", "", " T"})
    EXPECT_EQ(ReadWith(37, k).cycleType, 'K') << k;
  for (const char* a : {"A", "a", "Automat"}) EXPECT_EQ(ReadWith(58, a).gearMode, 20) << a;
  for (const char* m : {"M", "Manuell", "x", ""}) EXPECT_EQ(ReadWith(58, m).gearMode, 10) << m;
}

TEST_F(ConstantsFile, StartValuesHaveALowerBound) {
  for (const char* low : {"0", "-5", "0.009", ""}) {
    EXPECT_EQ(ReadWith(45, low).ttot, 0.01) << low;
    EXPECT_EQ(ReadWith(47, low).ltot, 0.01) << low;
    EXPECT_EQ(ReadWith(49, low).usedCapacity, 0.01) << low;
    EXPECT_EQ(ReadWith(51, low).v, 0.01) << low;
  }
  EXPECT_EQ(ReadWith(45, "0.01").ttot, 0.01);
  EXPECT_EQ(ReadWith(51, "13.5").v, 13.5);
  // The cycle positions may be zero or negative.
  EXPECT_EQ(ReadWith(46, "0").cycleTime, 0);
  EXPECT_EQ(ReadWith(48, "-1").mapPos, -1);
  // Used fuel in percent of the tank of line 21.
  EXPECT_DOUBLE_EQ(ReadWith(50, "0").fuelLeft, 40);
  EXPECT_DOUBLE_EQ(ReadWith(50, "100").fuelLeft, 0);
  EXPECT_DOUBLE_EQ(ReadWith(21, "60").fuelLeft, 45);
}

TEST_F(ConstantsFile, OptionTextKeepsOnlyTheResultFileChoices) {
  EXPECT_EQ(ReadWith(39, "1101").outputFlags.Text(), "0100");
  EXPECT_EQ(ReadWith(39, "0111").outputFlags.Text(), "0110");
  EXPECT_EQ(ReadWith(39, "1M0M").outputFlags.Text(), "0100");
  EXPECT_EQ(ReadWith(39, "11111").outputFlags.Text(), "0110");  // four characters at most
  // A short text keeps its length; the places beyond it are set all the same.
  State s = ReadWith(39, "0x2");
  EXPECT_EQ(s.outputFlags.Text(), "011");
  EXPECT_EQ(s.outputFlags.len, 3);
  EXPECT_EQ(s.outputFlags.At(4), '0');
  State e = ReadWith(39, "");
  EXPECT_EQ(e.outputFlags.Text(), "");
  EXPECT_EQ(e.outputFlags.At(1), '0');
  EXPECT_EQ(e.outputFlags.At(2), '1');
  EXPECT_EQ(e.outputFlags.At(4), '0');
}

TEST_F(ConstantsFile, NumberLinesThatAreNotNumbers) {
  // Lines 32 to 34 keep the value they had.
  EXPECT_EQ(ReadWith(32, "abc").fuelEnergy, 8.74);
  EXPECT_EQ(ReadWith(33, "").fuelDensity, 0.75);
  EXPECT_EQ(ReadWith(34, "7,5").maxRpm, 7000);
  EXPECT_EQ(ReadWith(34, "  6000").maxRpm, 6000);
  {
    dir.Write("CONS.VAL", Join(BaseLines()));
    State s = Fresh();
    ReadConstants(s, tables);
    std::vector<std::string> lines = BaseLines();
    lines[31] = "x";
    lines[32] = "x";
    lines[33] = "x";
    dir.Write("CONS.VAL", Join(lines));
    s.konsfil = "CONS.VAL";
    ReadConstants(s, tables);
    EXPECT_EQ(s.fuelEnergy, 9.1);  // the values of the earlier reading
    EXPECT_EQ(s.fuelDensity, 0.74);
    EXPECT_EQ(s.maxRpm, 6500);
  }
  // Other number lines give the partial value or 0.
  EXPECT_EQ(ReadWith(16, "12abc").maxCurrentElectric, 12);
  EXPECT_EQ(ReadWith(16, "").maxCurrentElectric, 0);
  EXPECT_EQ(ReadWith(57, "1E-5").dt, 1e-5);
  EXPECT_EQ(ReadWith(57, "x").dt, 0);
  // Line 38: letters C and V stand for numbers.
  EXPECT_EQ(ReadWith(38, "C").spareNumber1, 0.549);
  EXPECT_EQ(ReadWith(38, "cng").spareNumber1, 0.549);
  EXPECT_EQ(ReadWith(38, "V").spareNumber1, 1.2);
  EXPECT_EQ(ReadWith(38, "v").spareNumber1, 1.2);
  EXPECT_EQ(ReadWith(38, "Bensin").spareNumber1, 1);
  EXPECT_EQ(ReadWith(38, "").spareNumber1, 1);
  EXPECT_EQ(ReadWith(38, "0.8").spareNumber1, 0.8);
}

TEST_F(ConstantsFile, LettersAreUpperCasedOnlyWhereTheLineSaysSo) {
  EXPECT_EQ(ReadWith(42, "ja").stopAtEmptyTank, 'j');
  EXPECT_EQ(ReadWith(42, "").stopAtEmptyTank, ' ');
  EXPECT_EQ(ReadWith(44, "\xE4").spareFlag2, '\xE4');
  EXPECT_EQ(ReadWith(55, "").controlMode, ' ');
  EXPECT_EQ(ReadWith(55, "\xE5").controlMode, '\xE5');  // å stays as it is
  EXPECT_EQ(ReadWith(56, "r").timeMode, 'R');
  EXPECT_EQ(ReadWith(56, " ").timeMode, ' ');
  // A UTF-8 file gives the same letters and names.
  std::vector<std::string> utf8 = BaseLines();
  utf8[14] = "Åsa Öberg";
  utf8[54] = "ä";
  State u = Read(utf8);
  EXPECT_EQ(u.controlMode, '\xE4');
  EXPECT_EQ(u.Myname, "Åsa Öberg");
}

TEST_F(ConstantsFile, MissingLinesReadAsEmpty) {
  std::vector<std::string> lines = BaseLines();
  lines.resize(20);
  dir.Write("CONS.VAL", Join(lines));
  State s = Fresh();
  ReadConstants(s, tables);
  EXPECT_EQ(s.vehicleMass, 1200);
  EXPECT_EQ(s.tankVolume, 0);
  EXPECT_EQ(s.elmMaxTorque, 0);
  EXPECT_EQ(s.fuelEnergy, 8.74);
  EXPECT_EQ(s.maxRpm, 7000);
  EXPECT_EQ(s.cycleType, 'K');
  EXPECT_EQ(s.spareNumber1, 1);
  EXPECT_EQ(s.outputFlags.Text(), "");
  EXPECT_EQ(s.spareFlag1, ' ');
  EXPECT_EQ(s.ttot, 0.01);
  EXPECT_EQ(s.v, 0.01);
  EXPECT_EQ(s.mapPos, 0);
  EXPECT_EQ(s.fuelLeft, 0);
  EXPECT_EQ(s.dt, 0);
  EXPECT_EQ(s.gearMode, 10);
  EXPECT_EQ(s.controlMode, ' ');
}

TEST_F(ConstantsFile, NamesAreCompletedWithTheCarAndWorkingFolders) {
  // An absolute car folder stays as it is; table names keep only their last part.
  State a = ReadWith(3, P("BIL1"));
  EXPECT_EQ(a.Bilmapp, P("BIL1"));
  EXPECT_EQ(a.Tbat, P("BIL1/BAT.TAB"));
  State b = ReadWith(7, "sub\\dir/FORD.TAB");
  EXPECT_EQ(b.Tford, P("BIL1/FORD.TAB"));
  // Completed names are cut to 250 characters, as are long lines.
  State c = ReadWith(14, std::string(245, 'r'));
  EXPECT_EQ(c.Tresultatp.size(), 250u);
  EXPECT_EQ(c.Tresultatp, P(std::string(249 - dir.path().size(), 'r')));
  std::string longName;
  for (int i = 0; i < 300; ++i) longName += "ö";
  EXPECT_EQ(CharCount(ReadWith(15, longName).Myname), 250u);
  // Without a car folder the table files lie in the working folder.
  WriteCar(".");
  State d = ReadWith(3, "");
  EXPECT_EQ(d.Tford, P("FORD.TAB"));
  EXPECT_EQ(d.tableMass, 1350);
}

TEST_F(ConstantsFile, UnknownWorkingFolderLeavesRelativeNamesRelative) {
  std::vector<std::string> lines = BaseLines();
  lines[2] = P("BIL1");
  dir.Write("CONS.VAL", Join(lines));
  State s = Fresh();
  s.startmapp = "";
  s.konsfil = P("CONS.VAL");
  ReadConstants(s, tables);
  EXPECT_EQ(s.Ttidd, "TID.CYK");
  EXPECT_EQ(s.Tresultatp, "RESULT2.TXT");
  EXPECT_EQ(s.Tbat, P("BIL1/BAT.TAB"));
}

TEST_F(ConstantsFile, RecomputingLeavesTheFileUnread) {
  dir.Write("CONS.VAL", Join(BaseLines()));
  State s = Fresh();
  ReadConstants(s, tables);

  std::vector<std::string> lines = BaseLines();
  lines[15] = "999";
  dir.Write("CONS.VAL", Join(lines));
  WriteCar("BIL2");
  dir.Write("BIL2/FORD.TAB", "Const\nMass\n1500\nCdA\n0.7\n");
  // A settings panel changed the car folder and asked for the table's mass.
  s.omrakna = 1;
  s.Bilmapp = "BIL2";
  s.vehicleMass = -1;
  ReadConstants(s, tables);
  EXPECT_EQ(s.maxCurrentElectric, 200);
  EXPECT_EQ(s.Bilmapp, P("BIL2"));
  EXPECT_EQ(s.Tford, P("BIL2/FORD.TAB"));
  EXPECT_EQ(s.Tbat, P("BIL2/BAT.TAB"));
  EXPECT_EQ(s.konsfil, P("CONS.VAL"));
  EXPECT_EQ(s.Ttidd, P("TID.CYK"));
  EXPECT_EQ(s.vehicleMass, 1500);
  EXPECT_EQ(s.tableCdA, 0.7);

  // The file must still exist.
  ASSERT_EQ(std::remove(P("CONS.VAL").c_str()), 0);
  EXPECT_THROW(ReadConstants(s, tables), IoError);
}

TEST_F(ConstantsFile, MissingFileChangesNothing) {
  State s = Fresh();
  s.konsfil = "NOPE.VAL";
  s.Tbat = "BAT.TAB";
  s.spareFile2 = "X2";
  s.chargeOffLimit = 33;
  const std::string before = SnapshotText(s);
  try {
    ReadConstants(s, tables);
    FAIL() << "no error";
  } catch (const IoError& e) {
    EXPECT_EQ(e.file(), P("NOPE.VAL"));
  }
  EXPECT_EQ(SnapshotText(s), before);
  EXPECT_EQ(s.konsfil, "NOPE.VAL");
  EXPECT_EQ(s.Tbat, "BAT.TAB");
  EXPECT_EQ(s.spareFile2, "X2");
  EXPECT_EQ(s.chargeOffLimit, 33);
}

TEST_F(ConstantsFile, WrittenFileReadsBackToTheSameSettings) {
  dir.Write("CONS.VAL", Join(BaseLines()));
  State s = Fresh();
  ReadConstants(s, tables);
  s.spareNumber1 = 1.0 / 3.0;
  s.fullLength = 1e-5;
  s.chargeOnLimit = -123456.789;
  s.maxBrakeForce = 1e20;
  s.genEff = 0.1 + 0.2;
  s.gearMode = 10;
  s.cycleType = 'K';
  s.roadCurves = 'J';
  WriteConstants(s, P("SAVED.VAL"));

  State r = Fresh();
  r.konsfil = "SAVED.VAL";
  ReadConstants(r, tables);
  for (const ConstLine& c : ConstantLines()) {
    if (c.line >= 45 && c.line <= 51) continue;
    SCOPED_TRACE("line " + std::to_string(c.line));
    if (auto d = std::get_if<double State::*>(&c.field)) {
      if (c.kind == ConstKind::Empty) continue;
      EXPECT_NEAR(r.**d, s.**d, std::fabs(s.**d) * 1e-14);
    } else if (auto t = std::get_if<std::string State::*>(&c.field)) {
      EXPECT_EQ(r.**t, s.**t);
    } else if (auto ch = std::get_if<char State::*>(&c.field)) {
      EXPECT_EQ(r.**ch, s.**ch);
    }
  }
  EXPECT_EQ(r.outputFlags, s.outputFlags);
  EXPECT_EQ(r.gearMode, 10);
  // The start values come back at their minimum with a full tank.
  EXPECT_EQ(r.ttot, 0.01);
  EXPECT_EQ(r.cycleTime, 0);
  EXPECT_EQ(r.ltot, 0.01);
  EXPECT_EQ(r.mapPos, 0);
  EXPECT_EQ(r.usedCapacity, 0.01);
  EXPECT_EQ(r.fuelLeft, 40);
  EXPECT_EQ(r.v, 0.01);
}

TEST_F(ConstantsFile, WrittenFileLayout) {
  dir.Write("CONS.VAL", Join(BaseLines()));
  State s = Fresh();
  ReadConstants(s, tables);
  s.maxRpm = 7000;
  s.fuelEnergy = 8.74;
  s.chargeOffLimit = 0.01;
  s.dt = 1e-5;
  WriteConstants(s, P("OUT.VAL"));
  std::string bytes = testing::TempFolder::ReadBytes(P("OUT.VAL"));

  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == '\n') {
      ASSERT_TRUE(i > 0 && bytes[i - 1] == '\r') << "line " << lines.size() + 1;
      lines.push_back(bytes.substr(start, i - 1 - start));
      start = i + 1;
    }
  }
  EXPECT_EQ(start, bytes.size());
  ASSERT_EQ(lines.size(), 58u);
  EXPECT_EQ(lines[0], P("TID.CYK"));
  EXPECT_EQ(lines[3], P("BIL1/BAT.TAB"));
  EXPECT_EQ(lines[14],
            "\xC5sa \xD6"
            "berg");  // Windows code page
  EXPECT_EQ(lines[15], "200");
  EXPECT_EQ(lines[26], "0.65");
  EXPECT_EQ(lines[29], "");
  EXPECT_EQ(lines[30], "");
  EXPECT_EQ(lines[31], "8.74");
  EXPECT_EQ(lines[33], "7000");
  EXPECT_EQ(lines[36], "T");
  EXPECT_EQ(lines[37], "2.5");
  EXPECT_EQ(lines[38], "0100");
  EXPECT_EQ(lines[40], "j");
  for (int n = 45; n <= 51; ++n) EXPECT_EQ(lines[n - 1], "") << "line " << n;
  EXPECT_EQ(lines[51], "0.01");
  EXPECT_EQ(lines[54], "M");
  EXPECT_EQ(lines[55], "D");
  EXPECT_EQ(lines[56], "1E-5");
  EXPECT_EQ(lines[57], "A");
  s.gearMode = 10;
  EXPECT_EQ(SplitLines(ConstantsText(s))[57], "M");
}

// Under a Swedish locale (decimal comma in the C library) the file keeps its
// own form: the decimal point and the shortest text of up to 15 significant
// digits, which reads back as the value written.
TEST_F(ConstantsFile, WrittenNumbersDoNotFollowTheLocale) {
  dir.Write("CONS.VAL", Join(BaseLines()));
  State s = Fresh();
  ReadConstants(s, tables);
  const std::string inC = ConstantsText(s);
  testing::SwedishLocale swedish;
  ASSERT_TRUE(swedish.ok()) << "no Swedish locale (Debian: the package locales)";
  EXPECT_EQ(ConstantsText(s), inC);
  const struct {
    double value;
    const char* text;
  } numbers[] = {{0.7, "0.7"},
                 {0.04, "0.04"},
                 {7000, "7000"},
                 {-0.5, "-0.5"},
                 {0.1 + 0.2, "0.3"},
                 {1.0 / 3.0, "0.333333333333333"},
                 {-123456.789, "-123456.789"},
                 {999999999999999, "999999999999999"},
                 {1e15, "1E15"},
                 {0.0001, "0.0001"},
                 {0.00012345, "0.00012345"},
                 {0.000012345, "1.2345E-5"},
                 {2.5e20, "2.5E20"},
                 {0.9999999999999999, "1"}};
  for (const auto& n : numbers) {
    SCOPED_TRACE(n.text);
    s.cdA = n.value;  // line 27
    s.dt = n.value;   // line 57
    const std::string text = ConstantsText(s);
    WriteConstants(s, P("SAVED.VAL"));
    EXPECT_EQ(testing::TempFolder::ReadBytes(P("SAVED.VAL")), text);
    const std::vector<std::string> lines = SplitLines(text);
    ASSERT_EQ(lines.size(), 58u);
    EXPECT_EQ(lines[26], n.text);
    EXPECT_EQ(lines[56], n.text);
    State r = Fresh();
    r.konsfil = "SAVED.VAL";
    ReadConstants(r, tables);
    EXPECT_NEAR(r.cdA, n.value, std::fabs(n.value) * 1e-14);
    EXPECT_NEAR(r.dt, n.value, std::fabs(n.value) * 1e-14);
  }
}

TEST_F(ConstantsFile, FailedWriteLeavesTheEarlierFile) {
  State s = Fresh();
  // The target is a folder, or lies in a folder that does not exist.
  std::filesystem::create_directories(P("folder"));
  EXPECT_THROW(WriteConstants(s, P("folder")), IoError);
  EXPECT_THROW(WriteConstants(s, P("nothere/CONS.VAL")), IoError);
  for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
    EXPECT_EQ(e.path().filename().string().rfind(".folder", 0), std::string::npos)
        << "temporary file left: " << e.path();
  }

  if (::geteuid() == 0) GTEST_SKIP() << "permissions are not checked for root";
  std::string old = dir.Write("ro/CONS.VAL", "the earlier file\r\n");
  ASSERT_EQ(::chmod(P("ro").c_str(), 0555), 0);
  EXPECT_THROW(WriteConstants(s, old), IoError);
  EXPECT_EQ(testing::TempFolder::ReadBytes(old), "the earlier file\r\n");
}

}  // namespace
}  // namespace drivanto
