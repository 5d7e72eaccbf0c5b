// The settings panels, the constants and snapshot commands of the menu,
// driven offscreen through the menu and the panels' boxes as a user drives
// them, with the file dialogs answered by the test.

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QLocale>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTextBlock>
#include <filesystem>
#include <functional>
#include <map>
#include <fstream>
#include <sstream>

#include "base/Files.h"
#include "base/Text.h"
#include "gui/FindWidget.h"
#include "gui/SwedishLocale.h"
#include "gui/TempData.h"
#include "qt/MainWindow.h"
#include "state/Snapshot.h"

namespace drivanto {
namespace {

using testing::Find;
using testing::TempData;

std::vector<std::string> Rows(const QPlainTextEdit* box) {
  std::vector<std::string> rows;
  for (const QString& l : box->toPlainText().split('\n')) rows.push_back(l.toStdString());
  return rows;
}

// Types over a row of a box as a user does: a click on the row, Home,
// Shift+End, then the new text.
void SetRow(QPlainTextEdit* box, int row, const QString& text) {
  ASSERT_LT(row, box->document()->blockCount());
  const QPoint at = box->cursorRect(QTextCursor(box->document()->findBlockByNumber(row))).center();
  ASSERT_TRUE(box->viewport()->rect().contains(at)) << "row " << row << " is out of sight";
  QTest::mouseClick(box->viewport(), Qt::LeftButton, Qt::NoModifier, at);
  ASSERT_EQ(box->textCursor().blockNumber(), row);
  QTest::keyClick(box, Qt::Key_Home);
  QTest::keyClick(box, Qt::Key_End, Qt::ShiftModifier);
  QTest::keyClicks(box, text);
  EXPECT_EQ(box->document()->findBlockByNumber(row).text(), text);
}

// The same for a one-line box: a click into it, Home, Shift+End, the text.
void SetLine(QLineEdit* box, const QString& text) {
  QTest::mouseClick(box, Qt::LeftButton);
  QTest::keyClick(box, Qt::Key_Home);
  QTest::keyClick(box, Qt::Key_End, Qt::ShiftModifier);
  QTest::keyClicks(box, text);
  EXPECT_EQ(box->text(), text);
}

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

class PanelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window = std::make_unique<MainWindow>(WindowOptions{data.folder(), true});
    window->setMessageSink([this](const QString& m) { messages.push_back(m.toStdString()); });
    window->setTerminate([](int) {});
    window->setFileChooser([this](const FileRequest& r) -> std::optional<QString> {
      requests.push_back(r);
      if (answer.empty()) return std::nullopt;
      return QString::fromStdString(answer);
    });
    ASSERT_TRUE(window->StartUpSequence());
    // Shown, so that the boxes lay out their rows where a click finds them.
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
  }
  void StartAndTick(int n) {
    QTest::mouseClick(Find<QPushButton>(*window, "startButton"), Qt::LeftButton);
    window->timer().stop();
    for (int i = 0; i < n; ++i) window->TimerTick();
    window->timer().start();
  }
  State& s() { return window->sim().s; }
  QPlainTextEdit* Labels(Panel panel) {
    return Find<QPlainTextEdit>(*window, QString("panelLabels%1").arg(static_cast<int>(panel)));
  }
  QPlainTextEdit* Values(Panel panel) {
    return Find<QPlainTextEdit>(*window, QString("panelValues%1").arg(static_cast<int>(panel)));
  }
  // A click on a panel's label box, which closes the panel.
  void ClosePanel(Panel panel) { QTest::mouseClick(Labels(panel)->viewport(), Qt::LeftButton); }

  TempData data;
  std::unique_ptr<MainWindow> window;
  std::vector<std::string> messages;
  std::vector<FileRequest> requests;
  std::string answer;
};

TEST_F(PanelTest, PanelsShowTheirLabelsAndValues) {
  window->action("Moder")->trigger();
  const auto labels = Rows(Labels(Panel::Modes));
  EXPECT_EQ(labels[0], "             MODER");
  EXPECT_EQ(labels[1], "Dessa rutor försvinner om du klickar på denna ruta.");
  EXPECT_EQ(labels[2], "Motorstyrning  M = Mus");
  const auto values = Rows(Values(Panel::Modes));
  ASSERT_GE(values.size(), 6u);
  EXPECT_EQ(values[1], "Denna ruta kan du ändra i.");
  EXPECT_EQ(values[3], "R");
  EXPECT_EQ(values[5], "A");
  window->action("Bilkonstanter.")->trigger();
  const auto car = Rows(Values(Panel::CarConstants));
  EXPECT_EQ(car[2], "200.0");  // maximum current, one decimal
  EXPECT_EQ(car[4], "1350");   // the vehicle table's mass, no decimals
  EXPECT_EQ(car[18], "6500");
  // Several panels may be open at once.
  EXPECT_FALSE(Labels(Panel::Modes)->isHidden());
  EXPECT_FALSE(Labels(Panel::CarConstants)->isHidden());
}

TEST_F(PanelTest, ModesPanelTakesTheSecondLetterAfterABlank) {
  window->action("Moder")->trigger();
  SetRow(Values(Panel::Modes), 2, " m");
  SetRow(Values(Panel::Modes), 5, "m");
  ClosePanel(Panel::Modes);
  EXPECT_EQ(s().controlMode, 'M');
  EXPECT_EQ(s().gearMode, 10);
  EXPECT_TRUE(Labels(Panel::Modes)->isHidden());
  EXPECT_TRUE(Values(Panel::Modes)->isHidden());
}

TEST_F(PanelTest, AnUneditedRowKeepsItsExactValue) {
  // Shown rounded ("0"), an untouched time increment of 0.04 stays 0.04 and a
  // used capacity of 0.01 stays 0.01.
  s().dt = 0.04;
  s().usedCapacity = 0.01;
  s().controlMode = 'm';
  window->action("Moder")->trigger();
  EXPECT_EQ(Rows(Values(Panel::Modes))[4], "0");
  ClosePanel(Panel::Modes);
  EXPECT_EQ(s().dt, 0.04);
  EXPECT_EQ(s().controlMode, 'm');
  window->action("Utgångsvärden")->trigger();
  ClosePanel(Panel::StartValues);
  EXPECT_EQ(s().usedCapacity, 0.01);
  // An edited row is taken over by its rule: the time increment accepts a
  // comma, the start values take the number's leading part.
  window->action("Moder")->trigger();
  SetRow(Values(Panel::Modes), 4, "0,25");
  ClosePanel(Panel::Modes);
  EXPECT_DOUBLE_EQ(s().dt, 0.25);
  window->action("Utgångsvärden")->trigger();
  SetRow(Values(Panel::StartValues), 6, "12,5");
  ClosePanel(Panel::StartValues);
  EXPECT_EQ(s().usedCapacity, 12);
}

TEST_F(PanelTest, ALowerCaseTRepositionsTheTimeCycle) {
  s().cycleTime = 30.5;
  window->action("Programkonstanter")->trigger();
  SetRow(Values(Panel::ProgramConstants), 4, "t");
  ClosePanel(Panel::ProgramConstants);
  EXPECT_EQ(s().cycleType, 'T');
  EXPECT_EQ(s().cycleLastFileName, s().Ttidd);
  // The active row is the last one before 30.5 s of the time cycle.
  EXPECT_LT(s().rowPos, 30.5);
  EXPECT_GE(s().nextRowPos, 30.5);
  EXPECT_EQ(s().modeNo, 0);
  EXPECT_EQ(s().prevReadRow[4], 0);
}

TEST_F(PanelTest, ProgramConstantsDoNotAcceptACommaButStoreSparaAsTyped) {
  window->action("Programkonstanter")->trigger();
  SetRow(Values(Panel::ProgramConstants), 2, "12,5");
  SetRow(Values(Panel::ProgramConstants), 6, "1101x");
  SetRow(Values(Panel::ProgramConstants), 11, "j");
  ClosePanel(Panel::ProgramConstants);
  EXPECT_DOUBLE_EQ(s().fullTime, 12);
  EXPECT_EQ(s().outputFlags.Text(), "1101");
  EXPECT_EQ(s().stopAtEmptyTank, 'j');
}

TEST_F(PanelTest, StartValuesActOnTheRunningModel) {
  window->action(QString::fromUtf8("Utgångsvärden"))->trigger();
  SetRow(Values(Panel::StartValues), 6, "0");
  SetRow(Values(Panel::StartValues), 7, "25");
  SetRow(Values(Panel::StartValues), 8, "7");
  ClosePanel(Panel::StartValues);
  EXPECT_DOUBLE_EQ(s().usedCapacity, 0.01);
  EXPECT_DOUBLE_EQ(s().fuelLeft, 0.75 * s().tankVolume);
  EXPECT_DOUBLE_EQ(s().v, 7);
}

TEST_F(PanelTest, MinusOneInTheCarPanelTakesTheTableValueAgain) {
  window->action("Bilkonstanter.")->trigger();
  SetRow(Values(Panel::CarConstants), 4, "-1");
  SetRow(Values(Panel::CarConstants), 2, "150,5");
  ClosePanel(Panel::CarConstants);
  EXPECT_DOUBLE_EQ(s().vehicleMass, s().tableMass);
  EXPECT_DOUBLE_EQ(s().maxCurrentElectric, 150.5);
  EXPECT_EQ(s().omrakna, 0);
}

TEST_F(PanelTest, ANewCarFolderMakesLaterLookupsReadIt) {
  namespace fs = std::filesystem;
  fs::copy(data.path("BIL1"), data.path("BIL2"), fs::copy_options::recursive);
  // The second car's vehicle file names another reference mass.
  std::string vehicle = Slurp(data.path("BIL2/FORDON.TAB"));
  const std::size_t at = vehicle.find("1350", vehicle.find("Const"));
  ASSERT_NE(at, std::string::npos);
  vehicle.replace(at, 4, "1650");
  std::ofstream(data.path("BIL2/FORDON.TAB"), std::ios::binary) << vehicle;
  const double firstMass = s().vehicleMass;

  window->action("Bilmapp")->trigger();
  QLineEdit* folderBox = Find<QLineEdit>(*window, "carFolderBox");
  QPlainTextEdit* folderLabels = Find<QPlainTextEdit>(*window, "carFolderLabels");
  EXPECT_EQ(folderBox->text().toStdString(), s().Bilmapp);
  SetLine(folderBox, QString::fromStdString(data.path("BIL2")));
  QTest::mouseClick(folderLabels->viewport(), Qt::LeftButton);  // closes the panel
  EXPECT_EQ(s().Tford, data.path("BIL2/FORDON.TAB"));
  EXPECT_EQ(s().Tbat, data.path("BIL2/BATTERI.TAB"));
  EXPECT_DOUBLE_EQ(s().tableMass, 1650);
  // A mass given as -1 keeps the value taken from the first car.
  EXPECT_DOUBLE_EQ(s().vehicleMass, firstMass);
  EXPECT_TRUE(folderLabels->isHidden());
}

TEST_F(PanelTest, AClickInAValueBoxHoldsTheRunUntilThePanelCloses) {
  StartAndTick(5);
  window->action("Moder")->trigger();
  EXPECT_TRUE(window->timer().isActive()) << "an open panel leaves the run going";
  QTest::mouseClick(Values(Panel::Modes)->viewport(), Qt::LeftButton);
  EXPECT_FALSE(window->timer().isActive());
  ClosePanel(Panel::Modes);
  EXPECT_TRUE(window->timer().isActive());
  window->timer().stop();
}

TEST_F(PanelTest, BeforeStartClosingAPanelLeavesTheTimerOff) {
  window->action("Moder")->trigger();
  QTest::mouseClick(Values(Panel::Modes)->viewport(), Qt::LeftButton);
  ClosePanel(Panel::Modes);
  EXPECT_FALSE(window->timer().isActive());
}

TEST_F(PanelTest, LoadingConstantsReplacesTheLiveStartValues) {
  StartAndTick(5);
  window->timer().stop();
  s().usedCapacity = 35;
  answer = data.path("CONS.VAL");
  window->action(QString::fromUtf8("Hämta/Konstanter"))->trigger();
  ASSERT_FALSE(requests.empty());
  EXPECT_EQ(requests.back().title, QString::fromUtf8("Hämta konstanter"));
  EXPECT_EQ(requests.back().defaultName, QString("CONS.VAL"));
  EXPECT_DOUBLE_EQ(s().usedCapacity, 58);  // line 49 of the bundled constants
  EXPECT_FALSE(window->timer().isActive()) << "loading constants leaves the timer alone";
}

TEST_F(PanelTest, SavingConstantsWritesTheFile) {
  answer = data.path("SAVED.VAL");
  window->action("Spara konstanter som")->trigger();
  EXPECT_EQ(s().ValueFileName, answer);
  const std::string text = Slurp(answer);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 58);
  EXPECT_EQ(text.substr(0, text.find("\r\n")), data.path("UDDS.CYK"));
}

TEST_F(PanelTest, CancelledDialogsReadAndWriteNothing) {
  StartAndTick(5);
  const double ttot = s().ttot;
  answer.clear();
  window->action("Spara konstanter och variabler som")->trigger();
  window->action("Konstanter och variabler")->trigger();
  window->action("Spara konstanter som")->trigger();
  window->action(QString::fromUtf8("Hämta/Konstanter"))->trigger();
  EXPECT_EQ(requests.size(), 4u);
  EXPECT_TRUE(window->timer().isActive());
  EXPECT_EQ(s().paus, 0);
  EXPECT_DOUBLE_EQ(s().ttot, ttot);
  EXPECT_TRUE(s().ValueFileName.empty());
  window->timer().stop();
}

TEST_F(PanelTest, SnapshotSavedAndLoadedDuringARun) {
  StartAndTick(40);
  answer = data.path("run.snap");
  window->action("Spara konstanter och variabler som")->trigger();
  EXPECT_TRUE(window->timer().isActive());
  EXPECT_EQ(s().paus, 0);
  const std::string text = Slurp(answer);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1050);
  State saved;
  SetDefaults(saved);
  LoadSnapshot(saved, answer);
  EXPECT_EQ(saved.ValueFileName, answer);

  window->timer().stop();
  for (int i = 0; i < 20; ++i) window->TimerTick();
  ASSERT_GT(s().stegnr, saved.stegnr);
  window->action("Konstanter och variabler")->trigger();
  EXPECT_EQ(s().stegnr, saved.stegnr);
  EXPECT_EQ(s().screenState, 'G');
  EXPECT_TRUE(window->timer().isActive()) << "a run under way continues at once";
  window->timer().stop();
}

TEST_F(PanelTest, SnapshotLoadedBeforeStartWaitsForStart) {
  StartAndTick(30);
  answer = data.path("run.snap");
  window->action("Spara konstanter och variabler som")->trigger();
  window->timer().stop();
  // A fresh window, before START.
  MainWindow fresh(WindowOptions{data.folder(), true});
  fresh.setMessageSink([](const QString&) {});
  fresh.setFileChooser([this](const FileRequest&) {
    return std::optional<QString>(QString::fromStdString(answer));
  });
  ASSERT_TRUE(fresh.StartUpSequence());
  fresh.action("Konstanter och variabler")->trigger();
  EXPECT_FALSE(fresh.timer().isActive());
  EXPECT_EQ(fresh.sim().s.screenState, 'S');
  EXPECT_EQ(fresh.sim().s.paus, 0);
  EXPECT_EQ(fresh.sim().s.stegnr, s().stegnr);
}

TEST_F(PanelTest, SavingASnapshotBeforeStartStartsTheTimer) {
  answer = data.path("early.snap");
  window->action("Spara konstanter och variabler som")->trigger();
  EXPECT_TRUE(window->timer().isActive());
  EXPECT_TRUE(std::filesystem::exists(answer));
  window->timer().stop();
}

TEST_F(PanelTest, AFailedSaveIsReportedAndHoldsTheRun) {
  StartAndTick(5);
  answer = data.path("no-such-folder/x.snap");
  window->action("Spara konstanter och variabler som")->trigger();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_NE(messages[0].find("x.snap"), std::string::npos);
  EXPECT_FALSE(window->timer().isActive());
  EXPECT_EQ(s().paus, 1);
  // "Stopp/Start" continues the run.
  window->action("Stopp/Start")->trigger();
  EXPECT_TRUE(window->timer().isActive());
  window->timer().stop();
}

// A save that fails half-way (here: the file-size limit of the process, which
// holds for root as well) leaves the earlier file as it was.
TEST_F(PanelTest, ASaveThatFailsHalfWayLeavesTheOldFileIntact) {
  answer = data.path("kept.snap");
  std::ofstream(answer) << "old contents\n";
  struct rlimit old;
  getrlimit(RLIMIT_FSIZE, &old);
  struct rlimit tiny = old;
  tiny.rlim_cur = 200;
  auto previous = std::signal(SIGXFSZ, SIG_IGN);
  setrlimit(RLIMIT_FSIZE, &tiny);
  window->action("Spara konstanter och variabler som")->trigger();
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, previous);
  EXPECT_EQ(Slurp(answer), "old contents\n");
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_NE(messages[0].find("kept.snap"), std::string::npos);
  EXPECT_EQ(
      std::filesystem::directory_iterator(data.folder()) != std::filesystem::directory_iterator(),
      true);
  for (const auto& e : std::filesystem::directory_iterator(data.folder())) {
    EXPECT_EQ(e.path().filename().string().find(".kept.snap."), std::string::npos)
        << "temporary file left";
  }
}

TEST_F(PanelTest, ASaveIntoAReadOnlyFolderLeavesTheOldFileIntact) {
  if (geteuid() == 0) GTEST_SKIP() << "permissions do not hold for root";
  namespace fs = std::filesystem;
  fs::create_directory(data.path("ro"));
  answer = data.path("ro/kept.snap");
  std::ofstream(answer) << "old contents\n";
  fs::permissions(data.path("ro"), fs::perms::owner_read | fs::perms::owner_exec);
  window->action("Spara konstanter och variabler som")->trigger();
  fs::permissions(data.path("ro"), fs::perms::owner_all);
  EXPECT_EQ(Slurp(answer), "old contents\n");
  EXPECT_EQ(messages.size(), 1u);
}

TEST_F(PanelTest, AFileThatIsNotASnapshotIsRefusedAndChangesNothing) {
  const std::string before = SnapshotText(s());
  for (const std::string& content :
       {std::string(), Slurp(data.path("CONS.VAL")), std::string("abc\r\n\x01\x02\xff\r\n"),
        std::string(4000, '\0')}) {
    messages.clear();
    answer = data.path("garbage.snap");
    std::ofstream(answer, std::ios::binary | std::ios::trunc) << content;
    window->action("Konstanter och variabler")->trigger();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].rfind(answer + ": ", 0), 0u) << messages[0];
    EXPECT_TRUE(messages[0].find("inte en ögonblicksbild") != std::string::npos ||
                messages[0].find("UTF-16") != std::string::npos)
        << messages[0];
    EXPECT_EQ(SnapshotText(s()), before);
  }
  // A snapshot with a bad line loads the lines before it, as a damaged file
  // does; the message names the file and the line.
  std::string bad;
  for (int line = 1; line <= 1050; ++line)
    bad += (line == 148 ? "text" : "0") + std::string("\r\n");
  std::ofstream(answer, std::ios::binary | std::ios::trunc) << bad;
  messages.clear();
  window->action("Konstanter och variabler")->trigger();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0], answer + ", rad 148: ogiltigt tal");
}

// A Swedish user edits with the decimal comma, saves the constants and reads
// them back: every panel shows what it showed, and the file has the decimal
// point. The start values (lines 45 to 51) are not saved.
TEST_F(PanelTest, ConstantsSavedUnderASwedishLocaleReadBackTheSame) {
  testing::SwedishLocale swedish;
  ASSERT_TRUE(swedish.ok()) << "no Swedish locale (Debian: the package locales)";
  const QLocale before;
  QLocale::setDefault(QLocale(QLocale::Swedish, QLocale::Sweden));
  struct Restore {
    QLocale locale;
    ~Restore() { QLocale::setDefault(locale); }
  } restore{before};
  window->action("Bilkonstanter.")->trigger();
  SetRow(Values(Panel::CarConstants), 2, "150,5");
  SetRow(Values(Panel::CarConstants), 13, "0,65");
  ClosePanel(Panel::CarConstants);
  window->action("Moder")->trigger();
  SetRow(Values(Panel::Modes), 4, "0,04");
  ClosePanel(Panel::Modes);
  ASSERT_EQ(s().cdA, 0.65);
  ASSERT_EQ(s().dt, 0.04);
  static const Panel all[] = {Panel::Files, Panel::CarConstants, Panel::ProgramConstants,
                              Panel::StartValues, Panel::Modes};
  auto shown = [](MainWindow& w) {
    std::vector<std::vector<std::string>> rows;
    for (Panel panel : all) {
      w.action(panel == Panel::Files              ? "Använda filer"
               : panel == Panel::CarConstants     ? "Bilkonstanter."
               : panel == Panel::ProgramConstants ? "Programkonstanter"
               : panel == Panel::StartValues      ? "Utgångsvärden"
                                                  : "Moder")
          ->trigger();
      const auto* box =
          w.findChild<QPlainTextEdit*>(QString("panelValues%1").arg(static_cast<int>(panel)));
      rows.push_back(Rows(box));
      if (panel == Panel::StartValues) {
        for (int unsaved : {6, 7, 8}) rows.back()[unsaved].clear();
      }
    }
    return rows;
  };
  const auto edited = shown(*window);
  EXPECT_EQ(edited[1][13], "0,65");
  answer = data.path("SAVED.VAL");
  window->action("Spara konstanter som")->trigger();
  const std::vector<std::string> lines = SplitLines(Slurp(answer));
  ASSERT_EQ(lines.size(), 58u);
  EXPECT_EQ(lines[15], "150.5");
  EXPECT_EQ(lines[26], "0.65");
  EXPECT_EQ(lines[56], "0.04");

  MainWindow fresh(WindowOptions{data.folder(), true});
  fresh.setMessageSink([](const QString& m) { ADD_FAILURE() << m.toStdString(); });
  fresh.setFileChooser([this](const FileRequest&) {
    return std::optional<QString>(QString::fromStdString(answer));
  });
  ASSERT_TRUE(fresh.StartUpSequence());
  fresh.action(QString::fromUtf8("Hämta/Konstanter"))->trigger();
  EXPECT_EQ(fresh.sim().s.cdA, 0.65);
  EXPECT_EQ(fresh.sim().s.dt, 0.04);
  EXPECT_EQ(fresh.sim().s.maxCurrentElectric, 150.5);
  EXPECT_EQ(shown(fresh), edited);
}

// The centre of a row of a box, where a click lands on it.
QPoint RowPoint(QPlainTextEdit* box, int row) {
  return box->cursorRect(QTextCursor(box->document()->findBlockByNumber(row))).center() +
         QPoint(2, 0);
}

// Editing one row of a value box never moves another row's value: whatever
// the keys, the box keeps its number of rows and the rows after the edited
// ones keep their places.
TEST_F(PanelTest, EditingARowNeverMovesAnotherRowsValue) {
  struct Case {
    const char* what;
    std::function<void(QPlainTextEdit*)> edit;
    std::map<int, std::string> rows;  // the rows that change, as they become
  };
  // Car constants: row 13 is CdA, 14 the lowest voltage, 15 the motor's torque.
  const Case cases[] = {
      {"a triple click takes the row's line break; typing replaces the value only",
       [](QPlainTextEdit* box) {
         QTest::mouseDClick(box->viewport(), Qt::LeftButton, Qt::NoModifier, RowPoint(box, 13));
         QTest::mouseClick(box->viewport(), Qt::LeftButton, Qt::NoModifier, RowPoint(box, 13));
         ASSERT_TRUE(box->textCursor().selectedText().contains(QChar::ParagraphSeparator))
             << "the triple click took no line break";
         QTest::keyClicks(box, "0,8");
       },
       {{13, "0,8"}}},
      {"Backspace at a row's start and Delete at its end",
       [](QPlainTextEdit* box) {
         QTest::mouseClick(box->viewport(), Qt::LeftButton, Qt::NoModifier, RowPoint(box, 14));
         QTest::keyClick(box, Qt::Key_Home);
         QTest::keyClick(box, Qt::Key_Backspace);
         QTest::keyClick(box, Qt::Key_Backspace, Qt::ControlModifier);
         QTest::keyClick(box, Qt::Key_End);
         QTest::keyClick(box, Qt::Key_Delete);
         QTest::keyClick(box, Qt::Key_Delete, Qt::ControlModifier);
       },
       {}},
      {"Enter moves to the next row",
       [](QPlainTextEdit* box) {
         QTest::mouseClick(box->viewport(), Qt::LeftButton, Qt::NoModifier, RowPoint(box, 13));
         QTest::keyClick(box, Qt::Key_End);
         QTest::keyClick(box, Qt::Key_Return);
         QTest::keyClick(box, Qt::Key_Home);
         QTest::keyClicks(box, "1");
       },
       {{14, "1" + std::string("230.0")}}},
      {"a selection over three rows, typed over, empties them and keeps them",
       [](QPlainTextEdit* box) {
         QTest::mouseClick(box->viewport(), Qt::LeftButton, Qt::NoModifier, RowPoint(box, 13));
         QTest::keyClick(box, Qt::Key_Home);
         QTest::keyClick(box, Qt::Key_Down, Qt::ShiftModifier);
         QTest::keyClick(box, Qt::Key_Down, Qt::ShiftModifier);
         QTest::keyClick(box, Qt::Key_End, Qt::ShiftModifier);
         QTest::keyClicks(box, "7");
       },
       {{13, "7"}, {14, ""}, {15, ""}}},
      {"pasted line breaks become blanks",
       [](QPlainTextEdit* box) {
         QApplication::clipboard()->setText("0,9\n180\r\n");
         QTest::mouseDClick(box->viewport(), Qt::LeftButton, Qt::NoModifier, RowPoint(box, 13));
         QTest::mouseClick(box->viewport(), Qt::LeftButton, Qt::NoModifier, RowPoint(box, 13));
         QTest::keyClick(box, Qt::Key_V, Qt::ControlModifier);
       },
       {{13, "0,9 180"}}},
      {"cut over a row's line break, then undo and redo",
       [](QPlainTextEdit* box) {
         QTest::mouseDClick(box->viewport(), Qt::LeftButton, Qt::NoModifier, RowPoint(box, 14));
         QTest::mouseClick(box->viewport(), Qt::LeftButton, Qt::NoModifier, RowPoint(box, 14));
         QTest::keyClick(box, Qt::Key_X, Qt::ControlModifier);
         QTest::keyClick(box, Qt::Key_Z, Qt::ControlModifier);
         QTest::keyClick(box, Qt::Key_Y, Qt::ControlModifier);
         QTest::keyClick(box, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
       },
       {{14, ""}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    window->action("Bilkonstanter.")->trigger();
    QPlainTextEdit* box = Values(Panel::CarConstants);
    const std::vector<std::string> before = Rows(box);
    ASSERT_EQ(before[13], "0.64");
    ASSERT_EQ(before[14], "230.0");
    ASSERT_EQ(before[15], "180.0");
    const double minVoltage = s().minVoltage, torque = s().elmMaxTorque, speed = s().maxRpm;
    c.edit(box);
    std::vector<std::string> expected = before;
    for (const auto& [row, text] : c.rows) expected[static_cast<std::size_t>(row)] = text;
    EXPECT_EQ(Rows(box), expected);
    ClosePanel(Panel::CarConstants);
    EXPECT_TRUE(messages.empty());
    if (!c.rows.count(14)) {
      EXPECT_EQ(s().minVoltage, minVoltage);
    } else if (c.rows.at(14).empty()) {
      EXPECT_EQ(s().minVoltage, 0);  // an emptied row reads as 0
    }
    if (!c.rows.count(15)) {
      EXPECT_EQ(s().elmMaxTorque, torque);
    }
    EXPECT_EQ(s().maxRpm, speed);  // the last row
    // The values as they were for the next case.
    s().minVoltage = minVoltage;
    s().elmMaxTorque = torque;
    s().cdA = 0.64;
  }
  EXPECT_DOUBLE_EQ(s().cdA, 0.64);
}

// Should the rows no longer be where they were, closing the panel refuses
// with a message, changes nothing and leaves the panel open to be mended.
TEST_F(PanelTest, RowsThatNoLongerLineUpAreRefused) {
  window->action("Bilkonstanter.")->trigger();
  QPlainTextEdit* box = Values(Panel::CarConstants);
  std::vector<std::string> rows = Rows(box);
  const State before = s();
  for (const bool fewer : {true, false}) {
    std::vector<std::string> changed = rows;
    if (fewer) {
      changed[13] += changed[14];  // CdA and the lowest voltage on one row
      changed.erase(changed.begin() + 14);
    } else {
      changed.insert(changed.begin() + 13, "0,8");
    }
    box->setPlainText(QString::fromStdString([&] {
      std::string text;
      for (const std::string& r : changed) text += (text.empty() ? "" : "\n") + r;
      return text;
    }()));
    messages.clear();
    ClosePanel(Panel::CarConstants);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find(fewer ? "slagits ihop" : "delats"), std::string::npos) << messages[0];
    EXPECT_NE(messages[0].find("fel rader"), std::string::npos) << messages[0];
    EXPECT_FALSE(Labels(Panel::CarConstants)->isHidden());
    EXPECT_EQ(s().cdA, before.cdA);
    EXPECT_EQ(s().minVoltage, before.minVoltage);
    EXPECT_EQ(s().maxRpm, before.maxRpm);
  }
  // Chosen again from the menu, the panel starts over with the values as
  // they are.
  window->action("Bilkonstanter.")->trigger();
  EXPECT_EQ(Rows(box), rows);
  messages.clear();
  ClosePanel(Panel::CarConstants);
  EXPECT_TRUE(messages.empty());
  EXPECT_TRUE(Labels(Panel::CarConstants)->isHidden());
}

TEST_F(PanelTest, PrintNoticeShowsAndHides) {
  window->action("Skriv ut konstanter")->trigger();
  QPlainTextEdit* notice = Find<QPlainTextEdit>(*window, "printNotice");
  EXPECT_FALSE(notice->isHidden());
  EXPECT_EQ(Rows(notice).back(), "Funktionen ännu ej inlagd.");
  QTest::mouseClick(notice->viewport(), Qt::LeftButton);  // a click closes it
  EXPECT_TRUE(notice->isHidden());
  EXPECT_FALSE(window->timer().isActive());
}

}  // namespace
}  // namespace drivanto
