// A recorded drive with a pause: the replay goes on from the pause as the
// window did (the time base's values taken up between the ticks), to the
// same result files, and ends where the recording ended.

#include <gtest/gtest.h>

#include <QAction>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <filesystem>
#include <sstream>

#include "base/Files.h"
#include "gui/FindWidget.h"
#include "gui/TempData.h"
#include "cli/Batch.h"
#include "qt/MainWindow.h"

namespace drivanto {
namespace {

using testing::Find;
using testing::TempData;

TEST(DriveRecording, APausedDriveReplaysAsTheWindowDroveIt) {
  TempData data;
  const std::string script = data.path("drive.txt");
  std::string windowRows1, windowRows2;
  {
    MainWindow window(WindowOptions{data.folder(), false, script});  // the computer's clock
    window.setMessageSink([](const QString& m) { ADD_FAILURE() << m.toStdString(); });
    ASSERT_TRUE(window.StartUpSequence());
    window.show();
    State& s = window.sim().s;
    s.timeMode = 'R';
    s.outputFlags.Set(1, '1');
    QTest::mouseClick(Find<QPushButton>(window, "startButton"), Qt::LeftButton);
    window.timer().stop();
    QLineEdit* keys = Find<QLineEdit>(window, "keyBox");
    for (int i = 1; i <= 200; ++i) {
      if (i == 30) QTest::keyClick(keys, '>');
      if (i == 100) {
        // A pause of a third of a second: "Stopp/Start" twice.
        window.action("Stopp/Start")->trigger();
        QTest::qWait(330);
        window.action("Stopp/Start")->trigger();
        window.timer().stop();
      }
      QTest::qWait(i % 5 == 0 ? 2 : 1);  // (at least a millisecond, as the timer's)
      window.TimerTick();
    }
    windowRows1 = ReadFileBytes(s.Tresultat);
  }  // closing the window ends the recording
  const std::string text = ReadFileBytes(script);
  EXPECT_NE(text.find("\ntime 100:"), std::string::npos);
  EXPECT_NE(text.find("\nend 200\n"), std::string::npos);
  std::ostringstream out, err;
  const std::string replay1 = data.path("REPLAY1.TXT");
  ASSERT_EQ(RunBatch({"--script", script, "--set", "Tresultat=" + replay1, "--json",
                      data.folder()},
                     out, err),
            0)
      << err.str();
  EXPECT_TRUE(ReadFileBytes(replay1) == windowRows1) << "result file 1 differs";
  EXPECT_NE(out.str().find("\"endReason\": \"scriptEnd\""), std::string::npos) << out.str();
  EXPECT_NE(out.str().find("\"steps\": 200,"), std::string::npos) << out.str();
  EXPECT_EQ(err.str().find("no end line"), std::string::npos) << err.str();
  EXPECT_EQ(err.str().find("more than the drive did"), std::string::npos) << err.str();
}

}  // namespace
}  // namespace drivanto

namespace drivanto {
namespace {

// A recording never lands on an input: refused with a message, the file as
// it was; a snapshot made in another folder loads with the files of the same
// names here, and says so.
TEST(DriveRecording, OntoAnInputIsRefusedAndSnapshotsFindTheirFiles) {
  TempData data;
  const std::string table = ReadFileBytes(data.path("BIL1/FORDON.TAB"));
  MainWindow window(WindowOptions{data.folder(), true});
  std::vector<std::string> messages;
  window.setMessageSink([&](const QString& m) { messages.push_back(m.toStdString()); });
  ASSERT_TRUE(window.StartUpSequence());
  QTest::mouseClick(Find<QPushButton>(window, "startButton"), Qt::LeftButton);
  window.timer().stop();
  for (int i = 0; i < 5; ++i) window.TimerTick();
  window.setFileChooser([&](const FileRequest&) {
    return std::optional<QString>(QString::fromStdString(data.path("BIL1/FORDON.TAB")));
  });
  window.action(QString::fromUtf8("Spara körning som..."))->trigger();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_NE(messages[0].find("inspelningen av körningen och fordonstabellen är samma fil"),
            std::string::npos)
      << messages[0];
  EXPECT_EQ(ReadFileBytes(data.path("BIL1/FORDON.TAB")), table);
  for (int i = 0; i < 5; ++i) window.TimerTick();  // the run goes on
  EXPECT_EQ(window.sim().s.stegnr, 10);

  // A snapshot saved in another folder, which is gone.
  TempData other;
  {
    std::ostringstream out, err;
    ASSERT_EQ(RunBatch({"--max-steps", "20", "--save-snapshot", other.path("s.snp"), other.folder()},
                       out, err),
              0)
        << err.str();
  }
  const std::string snapshot = ReadFileBytes(other.path("s.snp"));
  std::filesystem::remove_all(other.path("BIL1"));
  messages.clear();
  window.setFileChooser([&](const FileRequest&) {
    return std::optional<QString>(QString::fromStdString(other.path("s.snp")));
  });
  window.action("Konstanter och variabler")->trigger();
  ASSERT_FALSE(messages.empty());
  EXPECT_NE(messages[0].find("Ögonblicksbilden anger filer där de inte finns"), std::string::npos)
      << messages[0];
  EXPECT_EQ(window.sim().s.Tbat, data.path("BIL1/BATTERI.TAB"));
  EXPECT_EQ(window.sim().s.stegnr, 20);
}

}  // namespace
}  // namespace drivanto
