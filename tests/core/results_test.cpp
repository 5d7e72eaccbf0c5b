// The two result files: their headers, the fixed-width rows, and which of
// them the option text selects.

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "model_fixture.h"

namespace drivanto {
namespace {

using testing::TempFolder;

const std::string kHeader1 =
    "1 Varvt rpm 2 Mom  Nm  3  U  V    4  P  kW  "
    "5 Energi   6 Acc m/s2 7 Broms N  8 Iaba  A  9 Pla  kW  "
    "10 IC v.gr 11 dv m/s  12 v  m/s  13 vb  m/s 14 ltot  m  "
    "15 ttot  s";
const std::string kHeader2 =
    "  1 Pelm kW  2 nel rpm  3 mel Nm   4 Pgen kW  "
    "5 Pbroms br 6 Preg kW 7 Ppic kW  8 nic rpm  "
    "9 mic Nm   10 Ila  A 11 CO g   "
    " 12 NOx g   13 HC g    14 vb-v m/s 15 ttot  s";

// Fifteen runs of ten dashes with a blank between them.
std::string Rule() {
  std::string r;
  for (int i = 0; i < 15; ++i) r += (i ? " " : "") + std::string(10, '-');
  return r;
}

// Each text as a field: a blank, then right-aligned in 10 characters.
std::string Fields(const std::vector<std::string>& texts) {
  std::string row;
  for (const std::string& t : texts)
    row += " " + std::string(t.size() < 10 ? 10 - t.size() : 0, ' ') + t;
  return row;
}

std::vector<std::string> Lines(const std::string& file) {
  std::vector<std::string> lines;
  std::istringstream in(TempFolder::ReadBytes(file));
  for (std::string line; std::getline(in, line);) {
    // Every line ends in CR LF.
    EXPECT_FALSE(line.empty() || line.back() != '\r') << "line without CR LF: " << line;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

class Results : public testing::ModelTest {
 protected:
  Results() {
    s.Tresultat = dir / "RESULT1.TXT";
    s.Tresultatp = dir / "RESULT2.TXT";
    s.resfil1status = '-';
    s.resfil2status = '-';
  }
};

TEST_F(Results, CreatedWithHeaderAndRule) {
  s.outputFlags = String4("1111");
  OpenResultFiles(sim);
  EXPECT_EQ(s.resfil1status, 'K');
  EXPECT_EQ(s.resfil2status, 'K');
  EXPECT_EQ(TempFolder::ReadBytes(s.Tresultat), kHeader1 + "\r\n" + Rule() + "\r\n");
  EXPECT_EQ(TempFolder::ReadBytes(s.Tresultatp), kHeader2 + "\r\n" + Rule() + "\r\n");
  EXPECT_EQ(Rule().size(), 164u);
}

TEST_F(Results, OptionTextSelectsTheFilesAndCreatedFilesStay) {
  s.outputFlags = String4("0111");
  OpenResultFiles(sim);
  EXPECT_EQ(s.resfil1status, '-');
  EXPECT_EQ(s.resfil2status, 'K');
  EXPECT_FALSE(TempFolder::Exists(s.Tresultat));
  EXPECT_TRUE(TempFolder::Exists(s.Tresultatp));

  // A file already created for the run is not created again.
  sim.result2.Close();
  TempFolder::WriteBytes(s.Tresultatp, "rows of this run\n");
  OpenResultFiles(sim);
  EXPECT_EQ(TempFolder::ReadBytes(s.Tresultatp), "rows of this run\n");

  // After the run (status "-") it is made anew, emptied.
  s.resfil2status = '-';
  OpenResultFiles(sim);
  EXPECT_EQ(TempFolder::ReadBytes(s.Tresultatp), kHeader2 + "\r\n" + Rule() + "\r\n");
}

TEST_F(Results, RowOfFileOne) {
  s.outputFlags = String4("1111");
  OpenResultFiles(sim);
  s.engineSpeed = 3000;
  s.engineTorque = 80.4;
  s.U = 300;
  s.Ppic = 0;
  s.Energi = 100;
  s.totalCurrent = 50;
  s.dt = 0.5;
  s.v = 12;
  s.vPrev = 11;
  s.brakeForce = 1234.4;
  s.Iaba = 20.6;
  s.Ila = 70;
  s.icEff = 31.234;
  s.vb = 10;
  s.ltot = 5000.4;
  s.ttot = 123.456;
  AccumulateResultEnergy(s);
  WriteResultRow1(sim);
  EXPECT_EQ(s.Energi, 7600);  // 100 + 300 x 50 x 0.5
  const std::vector<std::string> lines = Lines(s.Tresultat);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[2], Fields({"3000", "80", "300", "0", "7600.0", "2.00", "1234", "21", "21.0",
                              "31.23", "-2.0", "12.0", "10.0", "5000", "123.46"}));
  EXPECT_EQ(lines[2].size(), 15u * 11);

  // Slowing down, and a second row.
  s.v = 11;
  s.vPrev = 12;
  AccumulateResultEnergy(s);
  WriteResultRow1(sim);
  EXPECT_EQ(Lines(s.Tresultat)[3].substr(44, 22), Fields({"15100.0", "-2.00"}));
}

TEST_F(Results, RowOfFileTwo) {
  s.outputFlags = String4("0111");
  OpenResultFiles(sim);
  s.mel = 100;
  s.nel = 3000;
  s.U = 300;
  s.Ila = 70;
  s.brakeForce = 2000;
  s.ltot = 110;
  s.ltotPrev = 100;
  s.dt = 0.5;
  s.regenCurrent = 10;
  s.Ppic = 0;
  s.engineSpeed = 3000;
  s.engineTorque = 80.4;
  s.CO = 12.4;
  s.NOx = 3.6;
  s.HC = 0.2;
  s.vb = 10;
  s.v = 12;
  s.ttot = 123.456;
  WriteResultRow2(sim);
  const std::vector<std::string> lines = Lines(s.Tresultatp);
  ASSERT_EQ(lines.size(), 3u);
  // Pelm: 100 Nm at 3000 rpm is 31.4 kW; braking 2 kN over 10 m in 0.5 s
  // is 40 kW; regeneration 10 A at 300 V is 3 kW.
  EXPECT_EQ(lines[2], Fields({"31.4", "3000", "100.0", "21", "40.0", "3.0", "0.0", "3000", "80.4",
                              "70.0", "12", "4", "0", "-2.0", "123.5"}));
}

TEST_F(Results, LargeNumberWidensItsField) {
  s.outputFlags = String4("1111");
  OpenResultFiles(sim);
  s.Energi = 1e9;
  s.totalCurrent = 0;
  s.dt = 1;
  WriteResultRow1(sim);
  const std::string row = Lines(s.Tresultat)[2];
  EXPECT_EQ(row.size(), 15u * 11 + 2);
  EXPECT_EQ(row.substr(44, 13), " 1000000000.0");
}

TEST_F(Results, EnergyAccumulatesOnlyWhileFileOneIsWritten) {
  UseSmallCar();
  s.outputFlags = String4("0111");
  s.stegnr = 0;
  OpenResultFiles(sim);
  s.screenState = 'G';
  for (int i = 0; i < 3; ++i) {
    ++s.stegnr;
    SimulationStep(sim);
    WriteResultRows(sim);
  }
  EXPECT_EQ(s.Energi, 0);
  EXPECT_EQ(Lines(s.Tresultatp).size(), 5u);
  EXPECT_FALSE(TempFolder::Exists(s.Tresultat));

  s.outputFlags = String4("1111");
  OpenResultFiles(sim);
  double energy = 0;
  for (int i = 0; i < 3; ++i) {
    ++s.stegnr;
    SimulationStep(sim);
    WriteResultRows(sim);
    energy += s.U * s.totalCurrent * s.dt;
  }
  EXPECT_GT(energy, 0);
  EXPECT_DOUBLE_EQ(s.Energi, energy);
  EXPECT_EQ(Lines(s.Tresultat).size(), 5u);
  EXPECT_EQ(Lines(s.Tresultatp).size(), 8u);

  // File 1 deselected while created: no rows, no energy.
  s.outputFlags = String4("0111");
  ++s.stegnr;
  SimulationStep(sim);
  WriteResultRows(sim);
  EXPECT_DOUBLE_EQ(s.Energi, energy);
  EXPECT_EQ(Lines(s.Tresultat).size(), 5u);
  EXPECT_EQ(Lines(s.Tresultatp).size(), 9u);
}

}  // namespace
}  // namespace drivanto
