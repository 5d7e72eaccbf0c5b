// What the window says, in Swedish and whole: the error boxes, the edit
// boxes' menus, the file dialogs, the car-folder panel, the manual and the
// notice of the first start.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QAbstractFileIconProvider>
#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTextBlock>
#include <QTest>
#include <QTextLayout>
#include <QTreeView>
#include <filesystem>
#include <fstream>
#include <functional>

#include "base/Errors.h"
#include "base/Files.h"
#include "gui/FindWidget.h"
#include "gui/TempData.h"
#include "ui/Panels.h"
#include "run/StartFolder.h"
#include "qt/Manual.h"
#include "qt/MainWindow.h"
#include "qt/Translations.h"

namespace drivanto {
namespace {

using testing::Find;
using testing::TempData;

// English left in a message beside its file's name: words the core's
// reasons are made of.
bool HasEnglish(const std::string& message, const std::string& file) {
  std::string rest = message;
  for (std::size_t at; !file.empty() && (at = rest.find(file)) != std::string::npos;) {
    rest.erase(at, file.size());
  }
  static const QRegularExpression english(
      R"(\b(file|files|not|line|the|is|are|found|and|holds|of|a|an|reading|choose|output)\b)");
  return QString::fromStdString(rest).contains(english);
}

class WindowTexts : public ::testing::Test {
 protected:
  void Open(const std::string& folder) {
    window = std::make_unique<MainWindow>(WindowOptions{folder, true});
    window->setMessageSink([this](const QString& m) { messages.push_back(m.toStdString()); });
    window->setTerminate([](int) {});
    window->setFileChooser([this](const FileRequest& r) -> std::optional<QString> {
      requests.push_back(r);
      if (answer.empty()) return std::nullopt;
      return QString::fromStdString(answer);
    });
    started = window->StartUpSequence();
  }
  void Write(const std::string& name, const std::string& bytes) {
    std::ofstream(data.path(name), std::ios::binary | std::ios::trunc) << bytes;
  }

  TempData data;
  std::unique_ptr<MainWindow> window;
  std::vector<std::string> messages;
  std::vector<FileRequest> requests;
  std::string answer;
  bool started = false;
};

TEST_F(WindowTexts, ErrorBoxesSpeakSwedish) {
  Open(data.folder());
  ASSERT_TRUE(started);
  std::string snapshot;
  for (int line = 1; line <= 1050; ++line) snapshot += (line == 148 ? "text" : "0") + std::string("\r\n");
  const struct {
    const char* what;
    std::function<void()> act;
    std::string file;
    std::string expected;  // the message after the file's name
  } cases[] = {
      {"a missing constants file",
       [&] {
         answer = data.path("NONE.VAL");
         window->action(QString::fromUtf8("Hämta/Konstanter"))->trigger();
       },
       data.path("NONE.VAL"), ": filen finns inte"},
      {"a folder for a file",
       [&] {
         answer = data.path("BIL1");
         window->action(QString::fromUtf8("Hämta/Konstanter"))->trigger();
       },
       data.path("BIL1"), ": är en mapp, inte en fil"},
      {"binary data for a snapshot",
       [&] {
         answer = data.path("binary.snap");
         std::string bytes;
         for (int i = 0; i < 200; ++i) bytes += std::string("0.25\r\n1\r\nabcdefghijklmnopq\0rstuvwxyz\r\n", 35);
         Write("binary.snap", bytes);
         window->action("Konstanter och variabler")->trigger();
       },
       data.path("binary.snap"), ": inte en ögonblicksbild: filen innehåller binära data"},
      {"a constants file for a snapshot",
       [&] {
         answer = data.path("CONS.VAL");
         window->action("Konstanter och variabler")->trigger();
       },
       data.path("CONS.VAL"), ": inte en ögonblicksbild: den har 58 rader, en ögonblicksbild 1050"},
      {"a word in a snapshot's number",
       [&] {
         answer = data.path("bad.snap");
         Write("bad.snap", snapshot);
         window->action("Konstanter och variabler")->trigger();
       },
       data.path("bad.snap"), ", rad 148: ogiltigt tal"},
      {"a text for the map picture",
       [&] {
         answer = data.path("CONS.VAL");
         window->action(QString::fromUtf8("Hämta/Musseldiagram"))->trigger();
       },
       data.path("CONS.VAL"), ": inte en BMP-bild"},
      {"a constants file cut short",
       [&] {
         answer = data.path("SHORT.VAL");
         Write("SHORT.VAL", "UDDS.CYK\r\nKARTA.CYK\r\nBIL1\r\n");
         window->action(QString::fromUtf8("Hämta/Konstanter"))->trigger();
       },
       data.path("SHORT.VAL"),
       ": konstantfilen slutar efter rad 3 (rad 4 saknas); en konstantfil har 58 rader. Sedan "
       "gick det inte att läsa tabellfilerna: " +
           data.path("BIL1/") + ": är en mapp, inte en fil"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    messages.clear();
    c.act();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], c.file + c.expected);
    EXPECT_FALSE(HasEnglish(messages[0], c.file)) << messages[0];
    // The window as it was for the next case.
    answer = data.path("CONS.VAL");
    window->action(QString::fromUtf8("Hämta/Konstanter"))->trigger();
    ASSERT_EQ(messages.size(), 1u) << messages.back();
  }
}

// The core's messages that the window may show, reason by reason; a reason
// it does not know stays as it came.
TEST(SwedishMessages, TheCoresReasonsAndWholeMessages) {
  const struct {
    std::string english, swedish;
  } reasons[] = {
      {"access denied", "åtkomst nekas"},
      {"disk full", "disken är full"},
      {"row 12 ends after 4 of its six numbers", "rad 12 slutar efter 4 av sina sex tal"},
      {"row 3: \"x1\" is not a number (column 2)", "rad 3: \"x1\" är inget tal (kolumn 2)"},
      {"result file 1 and the constants file are the same file; an output must not overwrite an "
       "input (choose another name for result file 1)",
       "resultatfil 1 och konstantfilen är samma fil; det som skrivs får inte skriva över det som "
       "läses (välj ett annat namn för resultatfil 1)"},
      {"out of memory while reading this file", "minnet räcker inte när filen lästes"},
      {"something new", "something new"},
  };
  for (const auto& r : reasons) {
    EXPECT_EQ(SwedishReason(r.english).toStdString(), r.swedish);
    EXPECT_EQ(SwedishMessage(IoError("/a: b/c.TAB", 7, r.english)).toStdString(),
              "/a: b/c.TAB, rad 7: " + r.swedish);
    EXPECT_EQ(SwedishMessage("/a: b/c.TAB, line 7: " + r.english).toStdString(),
              r.english == "something new" ? "/a: b/c.TAB, line 7: something new"
                                           : "/a: b/c.TAB, rad 7: " + r.swedish);
  }
  EXPECT_EQ(SwedishMessage(IoError("", 0, "file not found")).toStdString(),
            "(en fil utan namn): filen finns inte");
}

// The texts of a menu's items without their accelerators and shortcuts.
QStringList Items(QMenu* menu) {
  QStringList items;
  for (QAction* a : menu->actions()) {
    if (a->isSeparator()) continue;
    items << a->text().section('\t', 0, 0).remove('&');
  }
  return items;
}

TEST_F(WindowTexts, EditMenusAndFileDialogsSpeakSwedish) {
  Open(data.folder());
  window->show();
  window->action("Bilkonstanter.")->trigger();
  window->action("Bilmapp")->trigger();
  const QStringList swedish = {"Ångra", "Gör om", "Klipp ut", "Kopiera", "Klistra in",
                               "Ta bort", "Markera allt", "Infoga Unicode-styrtecken"};
  for (const char* name : {"panelValues1", "panelLabels1", "carFolderBox", "manual"}) {
    SCOPED_TRACE(name);
    QWidget* box = window->findChild<QWidget*>(name);
    ASSERT_NE(box, nullptr);
    std::unique_ptr<QMenu> menu;
    if (auto* line = qobject_cast<QLineEdit*>(box)) menu.reset(line->createStandardContextMenu());
    if (auto* text = qobject_cast<QPlainTextEdit*>(box)) menu.reset(text->createStandardContextMenu());
    ASSERT_NE(menu, nullptr);
    const QStringList items = Items(menu.get());
    EXPECT_FALSE(items.isEmpty());
    for (const QString& item : items) EXPECT_TRUE(swedish.contains(item)) << item.toStdString();
  }
  // Every dialog's filters.
  answer.clear();
  for (const char* item : {"Hämta/Konstanter", "Hämta/Musseldiagram", "Spara konstanter som",
                           "Spara körning som...", "Konstanter och variabler",
                           "Spara konstanter och variabler som"}) {
    window->action(QString::fromUtf8(item))->trigger();
  }
  ASSERT_EQ(requests.size(), 6u);
  static const QRegularExpression english(R"(\b(Bitmaps?|All|Files?|Values?)\b)");
  for (const FileRequest& r : requests) {
    EXPECT_FALSE(r.filter.contains(english)) << r.filter.toStdString();
    EXPECT_FALSE(r.title.contains(english)) << r.title.toStdString();
  }
  // The dialog's list: a folder is a "Mapp", and no column is cut short.
  EXPECT_EQ(QAbstractFileIconProvider().type(QFileInfo(QString::fromStdString(data.folder()))),
            QString("Mapp"));
  const std::unique_ptr<QFileDialog> dialog =
      MakeFileDialog(window.get(), {QString::fromUtf8("Hämta konstanter"), "",
                                    "CONS.VAL", "VAL", QString::fromStdString(data.folder()),
                                    false});
  dialog->show();
  auto* list = dialog->findChild<QTreeView*>("treeView");
  ASSERT_NE(list, nullptr);
  ASSERT_TRUE(QTest::qWaitFor([&] { return list->model()->rowCount(list->rootIndex()) > 5; }));
  QApplication::processEvents();
  for (int column = 1; column < list->header()->count(); ++column) {
    EXPECT_GE(list->header()->sectionSize(column), static_cast<QAbstractItemView*>(list)->sizeHintForColumn(column))
        << "column " << column << " is cut short";
  }
  EXPECT_GE(list->header()->sectionSize(0), static_cast<QAbstractItemView*>(list)->sizeHintForColumn(0) / 2);
}

TEST_F(WindowTexts, TheCarFolderPanelShowsAllItsRows) {
  Open(data.folder());
  window->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
  window->action("Bilmapp")->trigger();
  auto* labels = Find<QPlainTextEdit>(*window, "carFolderLabels");
  QApplication::processEvents();
  const QTextBlock last = labels->document()->lastBlock();
  EXPECT_EQ(last.text().toStdString(), CarFolderRows().back());
  const QRect row = labels->cursorRect(QTextCursor(last));
  EXPECT_LE(row.bottom(), labels->viewport()->height()) << "the last row is out of sight";
  EXPECT_EQ(labels->verticalScrollBar()->maximum(), 0);
}

TEST(Manual, TellsOfTheDiagramsSnapshotsAndRecordedDrives) {
  std::string text;
  for (const std::string& line : ManualLines()) {
    text += line + "\n";
    EXPECT_LE(QString::fromStdString(line).size(), 75) << line;
  }
  for (const char* words : {"\"Diagram\"", "\"Arbetspunkter\"", "\"Spara körning som...\"",
                            "\"Spara konstanter och variabler som\"",
                            "\"Konstanter och variabler\"", "Ögonblicksbild", "--script"}) {
    EXPECT_NE(text.find(words), std::string::npos) << words;
  }
}

// The notice of the first start names the folder on a line of its own, not
// broken where the message box wraps its text.
TEST(FirstStart, TheNoticeKeepsTheFoldersNameWhole) {
  TempData data;
  const std::string home = data.path("anna");
  std::filesystem::create_directories(home);
  const char* before = getenv("HOME");
  const std::string kept = before ? before : "";
  setenv("HOME", home.c_str(), 1);
  const std::string cwd = std::filesystem::current_path().string();
  std::filesystem::current_path(home);
  const StartFolder start = ChooseStartFolder("");
  std::filesystem::current_path(cwd);
  setenv("HOME", kept.c_str(), 1);
  ASSERT_EQ(start.folder, home + "/Drivanto");
  ASSERT_FALSE(start.notice.empty());
  QMessageBox box(QMessageBox::Information, "Drivanto", QString::fromStdString(start.notice));
  box.show();
  QApplication::processEvents();
  auto* label = box.findChild<QLabel*>("qt_msgbox_label");
  ASSERT_NE(label, nullptr);
  // The label's text laid out as the box shows it.
  QString text = label->text();
  text.replace('\n', QChar::LineSeparator);
  QTextLayout layout(text, label->font());
  QTextOption option;
  option.setWrapMode(label->wordWrap() ? QTextOption::WordWrap : QTextOption::NoWrap);
  layout.setTextOption(option);
  layout.beginLayout();
  std::vector<QString> lines;
  for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
    line.setLineWidth(label->contentsRect().width());
    lines.push_back(text.mid(line.textStart(), line.textLength()).trimmed());
  }
  layout.endLayout();
  bool whole = false;
  std::string shown;
  for (const QString& line : lines) {
    whole |= line == QString::fromStdString(start.folder);
    shown += line.toStdString() + "|";
  }
  EXPECT_TRUE(whole) << shown;
}

}  // namespace
}  // namespace drivanto
