#include <gtest/gtest.h>

#include <set>
#include <string>

#include "base/Text.h"
#include "state/Snapshot.h"
#include "state/State.h"
#include "state/Variables.h"
#include "ui/Panels.h"

namespace drivanto {
namespace {

TEST(StateDefaults, StartUpValues) {
  State s;
  SetDefaults(s);
  EXPECT_EQ(s.dt, 1);
  EXPECT_EQ(s.gearMode, 20);
  EXPECT_EQ(s.outputFlags.Text(), "0111");
  EXPECT_EQ(s.maxRpm, 7000);
  EXPECT_EQ(s.fuelEnergy, 8.74);
  EXPECT_EQ(s.fuelDensity, 0.75);
  EXPECT_EQ(s.elmEff, 50);
  EXPECT_EQ(s.U, 120);
  EXPECT_EQ(s.elmRefVoltage, 120);
  EXPECT_EQ(s.usedCapacity, 0.01);
  EXPECT_EQ(s.mapPos, -1);
  EXPECT_EQ(s.ltot, -1);
  EXPECT_EQ(s.screenState, 'S');
  EXPECT_EQ(s.chargeState, '0');
  EXPECT_EQ(s.chargeManual, '0');
  EXPECT_EQ(s.controlMode, ' ');
  EXPECT_EQ(s.slopeMode, ' ');
  EXPECT_EQ(s.timeMode, ' ');
  EXPECT_EQ(s.reservmod, ' ');
  EXPECT_EQ(s.keyTyped, ' ');
  EXPECT_EQ(s.stopAtEmptyTank, 'N');
  EXPECT_EQ(s.roadCurves, 'N');
  EXPECT_EQ(s.spareFlag1, 'J');
  EXPECT_EQ(s.loopIndex, 101);
  EXPECT_EQ(s.kursfel, 1);
  EXPECT_EQ(s.nextRowPos, 0.01);
  EXPECT_EQ(s.readRow[2], 1);
  EXPECT_EQ(s.cycleDt, 1);
  EXPECT_EQ(s.rowDt, 1);
  EXPECT_EQ(s.accelSteps, 1);
  EXPECT_EQ(s.brakeSteps, 1);
  EXPECT_EQ(s.limitFactor, 1);
  EXPECT_EQ(s.spareNumber1, 1);
  EXPECT_EQ(s.spareNumber2, 1);
  EXPECT_EQ(s.spareNumber204, 120);
  // Everything else is empty.
  EXPECT_EQ(s.vehicleMass, 0);
  EXPECT_EQ(s.ttot, 0);
  EXPECT_EQ(s.stegnr, 0);
  EXPECT_EQ(s.cycleType, '\0');
  EXPECT_EQ(s.spareFlag2, '\0');
  EXPECT_EQ(s.konsfil, "");
  EXPECT_EQ(s.tankVolume, 0);
  EXPECT_EQ(s.fuelLeft, 0);
}

TEST(StateDefaults, SettingDefaultsAgainClearsTheRunButFillsTheTank) {
  State s;
  SetDefaults(s);
  s.tankVolume = 40;
  s.Myname = "Åsa";
  s.stegnr = 500;
  s.roadObjects1[0] = 3;
  s.roadObjects3[100] = 4;
  s.gearRatio[10] = 2.5;
  s.outputFlags = String4("1M");
  SetDefaults(s);
  EXPECT_EQ(s.fuelLeft, 40);  // the tank volume at that moment
  EXPECT_EQ(s.tankVolume, 0);
  EXPECT_EQ(s.Myname, "");
  EXPECT_EQ(s.stegnr, 0);
  EXPECT_EQ(s.roadObjects1[0], 0);
  EXPECT_EQ(s.roadObjects3[100], 0);
  EXPECT_EQ(s.gearRatio[10], 0);
  EXPECT_EQ(s.outputFlags.Text(), "0111");
}

TEST(StateFields, EveryFieldHasOneUniqueName) {
  std::set<std::string> names;
  for (const NamedField& f : AllFields()) {
    EXPECT_TRUE(names.insert(f.name).second) << "twice: " << f.name;
    const NamedField* found = FindField(f.name);
    ASSERT_NE(found, nullptr) << f.name;
    EXPECT_TRUE(found->field == f.field) << f.name;
  }
  // Names are compared exactly.
  EXPECT_EQ(FindField("DT"), nullptr);
  EXPECT_EQ(FindField("dt "), nullptr);
  EXPECT_EQ(FindField(""), nullptr);
  // Fields that snapshots do not hold are there too.
  for (const char* name : {"chargeOffLimit", "spareFile2", "loadMode", "musx", "musy", "motstatus",
                           "regenPower", "curveStart"}) {
    EXPECT_NE(FindField(name), nullptr) << name;
  }
  // So is every field of the snapshot.
  for (const SnapshotLine& l : SnapshotLines()) {
    bool known = false;
    for (const NamedField& f : AllFields()) known = known || f.field == l.field;
    EXPECT_TRUE(known) << "snapshot line " << l.line;
  }
}

TEST(StateFields, SetFromTextByType) {
  State s;
  SetDefaults(s);
  std::string why;
  auto set = [&](const char* name, const std::string& text) {
    why.clear();
    const NamedField* f = FindField(name);
    EXPECT_NE(f, nullptr) << name;
    return f && SetFieldFromText(s, f->field, text, &why);
  };

  // Reals with a point or a comma; anything else changes nothing.
  EXPECT_TRUE(set("maxRpm", "6500,5"));
  EXPECT_EQ(s.maxRpm, 6500.5);
  EXPECT_TRUE(set("dt", " 1e-3"));
  EXPECT_EQ(s.dt, 0.001);
  EXPECT_FALSE(set("dt", "fast"));
  EXPECT_FALSE(why.empty());
  EXPECT_FALSE(set("dt", ""));
  EXPECT_FALSE(set("dt", "2 s"));
  EXPECT_EQ(s.dt, 0.001);

  // Integers in the field's own range.
  EXPECT_TRUE(set("gearMode", "10"));
  EXPECT_EQ(s.gearMode, 10);
  EXPECT_TRUE(set("stegnr", "-7"));
  EXPECT_EQ(s.stegnr, -7);
  EXPECT_TRUE(set("stegnr", "1e3"));
  EXPECT_EQ(s.stegnr, 1000);
  EXPECT_FALSE(set("stegnr", "4.5"));
  EXPECT_FALSE(set("stegnr", "3e9"));
  EXPECT_EQ(s.stegnr, 1000);
  EXPECT_TRUE(set("omrakna", "255"));
  EXPECT_EQ(s.omrakna, 255);
  EXPECT_FALSE(set("omrakna", "256"));
  EXPECT_FALSE(set("omrakna", "-1"));
  EXPECT_EQ(s.omrakna, 255);
  EXPECT_TRUE(set("spareWord67", "65535"));
  EXPECT_EQ(s.spareWord67, 65535);
  EXPECT_FALSE(set("spareWord67", "65536"));

  // Characters: the first one, in the Windows code page; empty is a blank.
  EXPECT_TRUE(set("styrmod", "Mus"));
  EXPECT_EQ(s.controlMode, 'M');
  EXPECT_TRUE(set("reservmod", "å"));
  EXPECT_EQ(s.reservmod, '\xE5');
  EXPECT_TRUE(set("timeMode", ""));
  EXPECT_EQ(s.timeMode, ' ');

  // Texts are cut to 250 characters.
  std::string longName;
  for (int i = 0; i < 300; ++i) longName += "ö";
  EXPECT_TRUE(set("Myname", longName));
  EXPECT_EQ(CharCount(s.Myname), 250u);
  EXPECT_EQ(s.Myname, CutChars(longName, 250));

  // The option text takes up to four characters and keeps the places beyond.
  EXPECT_TRUE(set("Spara", "1M"));
  EXPECT_EQ(s.outputFlags.Text(), "1M");
  EXPECT_EQ(s.outputFlags.At(3), '1');
  EXPECT_EQ(s.outputFlags.At(4), '1');
  EXPECT_TRUE(set("Spara", "0011M"));
  EXPECT_EQ(s.outputFlags.Text(), "0011");

  // Arrays cannot be set as a whole.
  EXPECT_FALSE(set("roadObjects1", "5"));
  EXPECT_FALSE(why.empty());
  EXPECT_EQ(s.roadObjects1[1], 0);
}

TEST(StateFields, FieldsAsText) {
  State s;
  SetDefaults(s);
  s.reservmod = '\xE4';
  EXPECT_EQ(FieldToText(s, FindField("usedCapacity")->field), "0.01");
  EXPECT_EQ(FieldToText(s, FindField("gearMode")->field), "20");
  EXPECT_EQ(FieldToText(s, FindField("reservmod")->field), "ä");
  EXPECT_EQ(FieldToText(s, FindField("Spara")->field), "0111");
  EXPECT_EQ(FieldToText(s, FindField("gearRatio")->field), "");
}

}  // namespace
}  // namespace drivanto

namespace drivanto {
namespace {

// The settings panels take their labels from the catalogue: every label the
// catalogue holds is shown by one panel, once.
TEST(Catalogue, EveryLabelIsShownByOnePanel) {
  State s;
  SetDefaults(s);
  std::multiset<std::string> shown;
  for (Panel p : {Panel::Files, Panel::CarConstants, Panel::ProgramConstants, Panel::StartValues,
                  Panel::Modes}) {
    const std::vector<std::string> labels = PanelLabelRows(p);
    const std::vector<std::string> values = PanelValueRows(s, p);
    // Each value row has its label row beside it.
    EXPECT_LE(values.size(), labels.size());
    for (std::size_t i = 2; i < labels.size(); ++i) shown.insert(labels[i]);
  }
  int labelled = 0;
  for (const NamedField& f : AllFields()) {
    if (*f.label == '\0') continue;
    ++labelled;
    EXPECT_EQ(shown.count(f.label), 1u) << f.name << ": " << f.label;
  }
  EXPECT_EQ(labelled, 45);
}

}  // namespace
}  // namespace drivanto
