// The run's history for the charts, read from traces and result files, and
// drive scripts as the batch runner reads them.

#include <gtest/gtest.h>

#include <cmath>

#include "TempFolder.h"
#include "base/Errors.h"
#include "run/DriveScript.h"
#include "run/History.h"

namespace drivanto {
namespace {

using testing::TempFolder;

Sample At(double t) {
  Sample s;
  s.fill(0);
  s[static_cast<std::size_t>(Quantity::Time)] = t;
  return s;
}

double TimeOf(const Sample& s) { return s[static_cast<std::size_t>(Quantity::Time)]; }

TEST(RunHistory, StaysWithinItsLimitAndKeepsTheWholeRunInView) {
  RunHistory h(100);
  for (int i = 0; i < 100000; ++i) h.Record(At(i));
  ASSERT_LE(h.samples().size(), 100u);
  EXPECT_GE(h.samples().size(), 50u);
  // Evenly spaced from the start to near the end.
  EXPECT_EQ(TimeOf(h.samples().front()), 0);
  EXPECT_GT(TimeOf(h.samples().back()), 100000 - 2 * static_cast<double>(h.stride()));
  for (std::size_t i = 1; i < h.samples().size(); ++i) {
    EXPECT_EQ(TimeOf(h.samples()[i]) - TimeOf(h.samples()[i - 1]), static_cast<double>(h.stride()));
  }
  const auto version = h.version();
  h.Clear();
  EXPECT_TRUE(h.samples().empty());
  EXPECT_NE(h.version(), version);
  h.Record(At(7));
  EXPECT_EQ(h.samples().size(), 1u);  // a new run starts from every step again
}

TEST(RunHistory, FromATraceAndFromResultFiles) {
  TempFolder dir;
  const std::string trace =
      dir.Write("t.csv",
                "ttot_s,v_m_per_s,vb_m_per_s,chargeState,fuelLeft_l,nic_rpm,mic_Nm\n"
                "0.5,10,12,0,35,0,0\n1,20,20,+,34.5,3000,80\n");
  RunHistory h = HistoryFromTrace(trace);
  ASSERT_EQ(h.samples().size(), 2u);
  const Sample& s = h.samples()[1];
  EXPECT_DOUBLE_EQ(s[static_cast<std::size_t>(Quantity::Speed)], 72);
  EXPECT_DOUBLE_EQ(s[static_cast<std::size_t>(Quantity::Requested)], 72);
  EXPECT_EQ(s[static_cast<std::size_t>(Quantity::Charging)], 1);
  EXPECT_DOUBLE_EQ(s[static_cast<std::size_t>(Quantity::Fuel)], 0.5);  // used since the first row
  EXPECT_NEAR(s[static_cast<std::size_t>(Quantity::EnginePower)], 3000 * 80 * 2 * 3.14 / 60 / 1000,
              1e-9);
  EXPECT_TRUE(std::isnan(s[static_cast<std::size_t>(Quantity::Voltage)]));  // not in this trace

  const std::string bad = dir.Write("bad.csv", "ttot_s,v_m_per_s\n1,x\n");
  try {
    HistoryFromTrace(bad);
    FAIL();
  } catch (const IoError& e) {
    EXPECT_EQ(e.file(), bad);
    EXPECT_EQ(e.line(), 2);
  }
  EXPECT_THROW(HistoryFromTrace(dir.Write("no.csv", "a,b\n1,2\n")), IoError);
  // Saved as UTF-16: refused, saying so, by both readers.
  const std::string wide = dir.Write("wide.csv", std::string("\xff\xfet\0t\0o\0t\0\n\0", 12));
  for (auto read : {+[](const std::string& f) { HistoryFromTrace(f); },
                    +[](const std::string& f) { HistoryFromResultFiles(f, ""); }}) {
    try {
      read(wide);
      ADD_FAILURE() << "a UTF-16 file was read";
    } catch (const IoError& e) {
      EXPECT_NE(std::string(e.what()).find("saved as UTF-16"), std::string::npos) << e.what();
    }
  }
  const std::string r1 =
      dir.Write("R1.TXT", "head\r\n---------- rule\r\n" + std::string(15, ' ') + "\r\n");
  EXPECT_THROW(HistoryFromResultFiles(r1, ""), IoError);  // a row without its 15 numbers
}

TEST(DriveScript, LinesAndTheirErrors) {
  TempFolder dir;
  const std::string good = dir.Write("d.txt",
                                     "drivanto drive script 1\n# a comment\nsnapshot\nA\r\nB\r\n"
                                     "end snapshot\nkey 5:>\nkey 7:space\nmouse 9:320,-4\n"
                                     "clock 0:43200.5\nclock 1:43200.54,43200.541\n");
  DriveScript d = ReadDriveScript(good);
  EXPECT_EQ(d.snapshot, "A\r\nB\r\n");
  EXPECT_EQ(d.keys.find(5)->second, '>');
  EXPECT_EQ(d.keys.find(7)->second, ' ');
  EXPECT_EQ(d.mouse.find(9)->second, std::make_pair(320, -4));
  EXPECT_EQ(d.clock[1], (std::vector<double>{43200.54, 43200.541}));
  ScriptedClock clock(d);
  clock.BeginTick(1);
  EXPECT_EQ(clock.Read(), 43200.54);
  EXPECT_EQ(clock.ReadAgain(), 43200.541);
  EXPECT_EQ(clock.ReadAgain(), 43200.541 + 0.001);  // more than the drive read
  EXPECT_EQ(clock.extraReadings(), 1);
  for (const auto& [text, line] : std::vector<std::pair<std::string, int>>{
           {"not a script\n", 1},
           {"drivanto drive script 1\nsnapshot\nA\r\nend snapshot\nkey 5\n", 5},
           {"drivanto drive script 1\nsnapshot\nA\r\nend snapshot\nclock 3:1,x\n", 5},
           {"drivanto drive script 1\nsnapshot\nA\r\nend snapshot\njump 3\n", 5}}) {
    const std::string f = dir.Write("bad.txt", text);
    try {
      ReadDriveScript(f);
      ADD_FAILURE() << text;
    } catch (const IoError& e) {
      EXPECT_EQ(e.line(), line) << text << e.what();
    }
  }
}

}  // namespace
}  // namespace drivanto
