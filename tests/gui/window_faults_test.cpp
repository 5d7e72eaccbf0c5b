// The window as a user meets it: holds and dialogs, the panels' layout, the
// title, the number settings, the speed scale, the road's edge, a missing
// constants file, the window's size and language; driven through its widgets.

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <filesystem>
#include <fstream>

#include "base/Files.h"
#include "gui/TempData.h"
#include "cli/Batch.h"
#include "qt/MainWindow.h"
#include "state/Snapshot.h"

namespace drivanto {
namespace {

using testing::TempData;

template <class W>
W* Find(const MainWindow& w, const char* name) {
  W* widget = w.findChild<W*>(name);
  EXPECT_NE(widget, nullptr) << name;
  return widget;
}

class WindowFaults : public ::testing::Test {
 protected:
  void SetUp() override { Open(data.folder()); }
  void Open(const std::string& folder) {
    window = std::make_unique<MainWindow>(WindowOptions{folder, true});
    window->setMessageSink([this](const QString& m) { messages.push_back(m.toStdString()); });
    window->setTerminate([](int) {});
    window->setFileChooser([this](const FileRequest&) -> std::optional<QString> {
      if (dialogSeconds > 0) window->simulatedClock().now += dialogSeconds;
      if (answer.empty()) return std::nullopt;
      return QString::fromStdString(answer);
    });
    started = window->StartUpSequence();
    window->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(window.get()));
  }
  // Lets the boxes lay out their text after a change.
  static void Settle() { QApplication::processEvents(); }
  void PressStart() {
    QTest::mouseClick(Find<QPushButton>(*window, "startButton"), Qt::LeftButton);
    window->timer().stop();  // the test ticks by hand
  }
  void Ticks(int n) {
    for (int i = 0; i < n; ++i) window->TimerTick();
  }
  void Type(QChar c) { QTest::keyClick(Find<QLineEdit>(*window, "keyBox"), c.toLatin1()); }
  QPlainTextEdit* Values(int panel) {
    return Find<QPlainTextEdit>(*window, ("panelValues" + std::to_string(panel)).c_str());
  }
  QPlainTextEdit* Labels(int panel) {
    return Find<QPlainTextEdit>(*window, ("panelLabels" + std::to_string(panel)).c_str());
  }
  State& s() { return window->sim().s; }

  TempData data;
  std::unique_ptr<MainWindow> window;
  std::vector<std::string> messages;
  std::string answer;
  double dialogSeconds = 0;
  bool started = false;
};

TEST_F(WindowFaults, ACancelledSnapshotDialogDoesNotMakeALongStep) {
  s().timeMode = 'R';
  PressStart();
  window->timer().start();
  Ticks(50);
  for (const char* command : {"Spara konstanter och variabler som", "Konstanter och variabler"}) {
    SCOPED_TRACE(command);
    const double before = s().ttot;
    dialogSeconds = 15;  // the dialog stands open for 15 s, then is cancelled
    window->action(command)->trigger();
    EXPECT_TRUE(window->timer().isActive());
    Ticks(1);
    EXPECT_NEAR(s().ttot - before, 0.04, 0.005);
    EXPECT_NEAR(s().dt, 0.04, 0.005);
  }
}

// The line of the text block `row` of a box, in the window's coordinates.
int RowY(QPlainTextEdit* box, int row) {
  QTextCursor cursor(box->document()->findBlockByNumber(row));
  return box->mapTo(box->window(), box->cursorRect(cursor).center()).y();
}

TEST_F(WindowFaults, EveryValueSitsOnItsLabelsLine) {
  const char* menus[] = {"Använda filer", "Bilkonstanter.", "Programkonstanter", "Utgångsvärden",
                         "Moder"};
  for (int panel = 0; panel < 5; ++panel) {
    SCOPED_TRACE(menus[panel]);
    window->action(menus[panel])->trigger();
    Settle();
    QPlainTextEdit* labels = Labels(panel);
    QPlainTextEdit* values = Values(panel);
    const int rows = values->document()->blockCount();
    for (int row = 2; row < rows; ++row) {
      ASSERT_EQ(values->document()->findBlockByNumber(row).layout()->lineCount(), 1) << row;
      ASSERT_EQ(labels->document()->findBlockByNumber(row).layout()->lineCount(), 1) << row;
      EXPECT_EQ(RowY(labels, row), RowY(values, row)) << "row " << row;
    }
    QTest::mouseClick(labels->viewport(), Qt::LeftButton);
  }
  // The mass sits beside its label.
  window->action("Bilkonstanter.")->trigger();
  const int massRow = 4;
  EXPECT_EQ(Labels(1)->document()->findBlockByNumber(massRow).text().left(12), "Fordonsmassa");
  EXPECT_EQ(RowY(Labels(1), massRow), RowY(Values(1), massRow));
}

TEST_F(WindowFaults, TheFilesPanelFitsTheWindowWithLongNames) {
  const std::string longFolder = data.path(std::string(60, 'x') + "/BIL1/");
  s().Tbat = longFolder + "BATTERI.TAB";  // about 90 characters
  s().Tresultat = longFolder + "RESULT1.TXT";
  window->action("Använda filer")->trigger();
  Settle();
  QPlainTextEdit* values = Values(0);
  QPlainTextEdit* labels = Labels(0);
  for (QPlainTextEdit* box : {values, labels}) {
    const QRect r(box->mapTo(window.get(), QPoint(0, 0)), box->size());
    EXPECT_LE(r.right(), window->width() - 1);
    EXPECT_LE(r.bottom(), window->height() - 1);
  }
  // No name wraps; the long ones can be scrolled to and read whole.
  for (int row = 0; row < values->document()->blockCount(); ++row) {
    EXPECT_EQ(values->document()->findBlockByNumber(row).layout()->lineCount(), 1);
  }
  EXPECT_GT(values->horizontalScrollBar()->maximum(), 0);
  EXPECT_EQ(values->document()->findBlockByNumber(5).text().toStdString(), s().Tbat);
  // The last rows can be reached: the label box scrolls with the values.
  values->verticalScrollBar()->setValue(values->verticalScrollBar()->maximum());
  EXPECT_EQ(labels->verticalScrollBar()->value(), values->verticalScrollBar()->value());
}

TEST_F(WindowFaults, TheTitleFollowsTheSettings) {
  window->action("Använda filer")->trigger();
  QPlainTextEdit* values = Values(0);
  QStringList rows = values->toPlainText().split('\n');
  rows[16] = "Kalle";  // Myname
  values->setPlainText(rows.join('\n'));
  QTest::mouseClick(Labels(0)->viewport(), Qt::LeftButton);
  EXPECT_TRUE(window->windowTitle().startsWith("Drivanto Ver 2.0    Kalle   Bilmodell: BIL1"))
      << window->windowTitle().toStdString();
  // A new car folder names the new car.
  std::filesystem::copy(data.path("BIL1"), data.path("BIL2"));
  window->action("Bilmapp")->trigger();
  Find<QLineEdit>(*window, "carFolderBox")->setText(QString::fromStdString(data.path("BIL2")));
  QTest::mouseClick(Find<QPlainTextEdit>(*window, "carFolderLabels")->viewport(), Qt::LeftButton);
  EXPECT_TRUE(window->windowTitle().startsWith("Drivanto Ver 2.0    Kalle   Bilmodell: BIL2"))
      << window->windowTitle().toStdString();
}

TEST_F(WindowFaults, NumbersFollowACommaLocale) {
  const QLocale before;
  QLocale::setDefault(QLocale(QLocale::Swedish, QLocale::Sweden));
  window->action("Bilkonstanter.")->trigger();
  const QStringList rows = Values(1)->toPlainText().split('\n');
  EXPECT_EQ(rows[16].toStdString(), "8,74");  // the fuel's energy
  QTest::mouseClick(Labels(1)->viewport(), Qt::LeftButton);
  EXPECT_EQ(s().fuelEnergy, 8.74);
  PressStart();
  Ticks(5);
  answer = data.path("komma.snap");
  const double ttot = s().ttot;
  window->action("Spara konstanter och variabler som")->trigger();
  const std::string text = ReadFileBytes(answer);
  EXPECT_NE(text.find("\r\n8,74\r\n"), std::string::npos);
  EXPECT_EQ(text.find("\r\n8.74\r\n"), std::string::npos);
  QLocale::setDefault(before);
  // Read back with either separator.
  State loaded;
  SetDefaults(loaded);
  LoadSnapshot(loaded, answer);
  EXPECT_EQ(loaded.fuelEnergy, 8.74);
  EXPECT_EQ(loaded.ttot, ttot);
}

TEST_F(WindowFaults, SpeedNumbersSitAtTheirSpeeds) {
  PressStart();
  const QImage& image = window->surfaceImage();
  for (int kmh = 10; kmh <= 180; kmh += 10) {
    const double x = kmh / 3.6 * 14;
    double sum = 0;
    int count = 0;
    for (int px = static_cast<int>(x) - 16; px <= static_cast<int>(x) + 16; ++px) {
      for (int py = 45; py < 60; ++py) {
        if (px >= 0 && px < 800 && image.pixel(px, py) == qRgb(255, 255, 255)) {
          sum += px;
          ++count;
        }
      }
    }
    ASSERT_GT(count, 0) << kmh;
    EXPECT_NEAR(sum / count, x, 2.5) << kmh << " km/h";
  }
}

TEST_F(WindowFaults, NothingIsDrawnBelowTheRoad) {
  PressStart();
  const QImage strip = window->surfaceImage().copy(0, 581, 800, 19);
  for (int i = 0; i < 600; ++i) {
    Type('6');  // steer, so the road and its dashes swing
    Ticks(1);
    ASSERT_EQ(window->surfaceImage().copy(0, 581, 800, 19), strip) << "tick " << i;
  }
}

TEST_F(WindowFaults, AMissingConstantsFileKeepsTheWindowOpenWithTheDefaults) {
  std::filesystem::remove(data.path("CONS.VAL"));
  messages.clear();
  Open(data.folder());
  EXPECT_FALSE(started);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0], data.path("CONS.VAL") + ": filen finns inte");
  EXPECT_EQ(s().maxRpm, 7000);  // a default
}

TEST_F(WindowFaults, TheStartPictureTravelsWithTheProgram) {
  const QLabel* picture = Find<QLabel>(*window, "startPicture");
  EXPECT_FALSE(picture->pixmap().isNull());
  EXPECT_FALSE(QImage(":/drivanto/START.BMP").isNull());
}

TEST_F(WindowFaults, TheWindowKeepsItsSizeAndSpeaksSwedish) {
  window->show();
  const QSize size = window->size();
  window->resize(size.width() + 300, size.height() + 200);
  QApplication::processEvents();
  EXPECT_EQ(window->size(), size);
  EXPECT_EQ(QCoreApplication::translate("QFileDialog", "Look in:"), QString::fromUtf8("Sök i:"));
  EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), QString("Avbryt"));
  EXPECT_EQ(QCoreApplication::translate("QFileDialog", "&Open"), QString::fromUtf8("&Öppna"));
}

// The window and the batch runner, in the same folder with the same keys,
// leave the same snapshot but for the name of the snapshot itself.
TEST_F(WindowFaults, WindowAndBatchRunsLeaveIdenticalSnapshots) {
  const int n = 400;
  PressStart();
  for (int i = 1; i <= n; ++i) {
    if (i == 50) Type('>');
    if (i == 120) Type('L');
    if (i == 200) Type('0');
    if (i == 260) Type('6');
    Ticks(1);
  }
  answer = data.path("window.snap");
  window->action("Spara konstanter och variabler som")->trigger();
  const std::string windowSnap = ReadFileBytes(answer);
  window.reset();
  std::ostringstream out, err;
  const std::string batchSnapName = data.path("batch.snap");
  ASSERT_EQ(RunBatch({"--max-steps", std::to_string(n), "--key", "50:>", "--key", "120:L", "--key",
                      "200:0", "--key", "260:6", "--save-snapshot", batchSnapName, data.folder()},
                     out, err),
            0)
      << err.str();
  const std::string batchSnap = ReadFileBytes(batchSnapName);
  auto lines = [](const std::string& text) {
    std::vector<std::string> v;
    for (std::size_t start = 0, end; (end = text.find("\r\n", start)) != std::string::npos;
         start = end + 2) {
      v.push_back(text.substr(start, end - start));
    }
    return v;
  };
  const auto a = lines(windowSnap), b = lines(batchSnap);
  ASSERT_EQ(a.size(), 1050u);
  ASSERT_EQ(b.size(), 1050u);
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (i + 1 == 98) continue;  // the snapshot's own name
    EXPECT_EQ(a[i], b[i]) << "snapshot line " << i + 1;
  }
}

}  // namespace
}  // namespace drivanto
