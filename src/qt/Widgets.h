#pragma once
// Small pieces the window's files share: controls that report clicks, and
// text between the toolkit and the program.

#include <QAction>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QString>
#include <QStringList>
#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace drivanto {

// A control that reports left clicks (after its own handling of them).
template <class Base>
class Clickable : public Base {
 public:
  Clickable(std::function<void()> onClick, QWidget* parent)
      : Base(parent), onClick_(std::move(onClick)) {}

 protected:
  void mousePressEvent(QMouseEvent* e) override {
    Base::mousePressEvent(e);
    if (e->button() == Qt::LeftButton) onClick_();
  }

 private:
  std::function<void()> onClick_;
};

using ClickLabel = Clickable<QLabel>;
using ClickText = Clickable<QPlainTextEdit>;
using ClickLine = Clickable<QLineEdit>;

// A panel's value box: one value a line, read by the line's position, so its
// lines keep their places whatever is typed. Typing over a selection that
// takes in line breaks (a triple click takes the line's own), Delete at a
// line's end, Backspace at its start, Enter (which moves to the next line)
// and the line breaks of pasted text never join or split lines: a selection
// over several lines is emptied line by line. Anything else that would change
// the number of lines is undone at once.
class RowBox : public ClickText {
 public:
  RowBox(std::function<void()> onClick, QWidget* parent) : ClickText(std::move(onClick), parent) {
    // Text is not dragged in or about (a move would take its line breaks).
    setAcceptDrops(false);
    viewport()->setAcceptDrops(false);
  }

  // Empties the selected part of each line, keeping the line breaks; the
  // cursor stays where the selection began.
  static void RemoveKeepingLines(QTextCursor& cursor) {
    if (!cursor.hasSelection()) return;
    const int start = cursor.selectionStart(), end = cursor.selectionEnd();
    QTextDocument* doc = cursor.document();
    cursor.beginEditBlock();
    for (QTextBlock b = doc->findBlock(end); b.isValid() && b.position() + b.length() > start;
         b = b.previous()) {
      const int from = std::max(start, b.position());
      const int to = std::min(end, b.position() + b.length() - 1);  // up to the line break
      if (to > from) {
        QTextCursor part(doc);
        part.setPosition(from);
        part.setPosition(to, QTextCursor::KeepAnchor);
        part.removeSelectedText();
      }
      if (b.position() <= start) break;
    }
    cursor.endEditBlock();
    cursor.setPosition(start);
  }

 protected:
  void keyPressEvent(QKeyEvent* e) override {
    QTextCursor c = textCursor();
    const bool spans = c.hasSelection() && document()->findBlock(c.selectionStart()) !=
                                               document()->findBlock(c.selectionEnd());
    const int key = e->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
      c.clearSelection();
      c.movePosition(QTextCursor::NextBlock);
      setTextCursor(c);
      return;
    }
    const QString text = e->text();
    const bool typed = !text.isEmpty() && text[0].isPrint() &&
                       !(e->modifiers() & (Qt::ControlModifier | Qt::AltModifier));
    if (spans && (typed || key == Qt::Key_Backspace || key == Qt::Key_Delete ||
                  e->matches(QKeySequence::Cut))) {
      if (e->matches(QKeySequence::Cut)) copy();
      RemoveKeepingLines(c);
      if (typed) c.insertText(text);
      setTextCursor(c);
      return;
    }
    if (!c.hasSelection() && ((key == Qt::Key_Backspace && c.atBlockStart()) ||
                              (key == Qt::Key_Delete && c.atBlockEnd()))) {
      return;
    }
    KeepingLines([&] { ClickText::keyPressEvent(e); });
  }

  void insertFromMimeData(const QMimeData* source) override {
    QString text = source->text();
    while (text.endsWith('\n') || text.endsWith('\r') || text.endsWith(QChar::ParagraphSeparator))
      text.chop(1);
    for (QChar& ch : text) {
      if (ch == '\n' || ch == '\r' || ch == QChar::ParagraphSeparator || ch == QChar::LineSeparator)
        ch = ' ';
    }
    QTextCursor c = textCursor();
    c.beginEditBlock();
    RemoveKeepingLines(c);
    c.insertText(text);
    c.endEditBlock();
    setTextCursor(c);
  }

  void contextMenuEvent(QContextMenuEvent* e) override {
    std::unique_ptr<QMenu> menu(createStandardContextMenu(e->pos()));
    // Cut and Delete empty the lines of a selection but keep them.
    for (QAction* a : menu->actions()) {
      const bool cut = a->objectName() == "edit-cut", erase = a->objectName() == "edit-delete";
      if (!cut && !erase) continue;
      QObject::disconnect(a, &QAction::triggered, nullptr, nullptr);
      connect(a, &QAction::triggered, this, [this, cut] {
        if (cut) copy();
        QTextCursor c = textCursor();
        RemoveKeepingLines(c);
        setTextCursor(c);
      });
    }
    KeepingLines([&] { menu->exec(e->globalPos()); });
  }

 private:
  // Runs an edit and undoes it when it changed the number of lines.
  template <class F>
  void KeepingLines(F edit) {
    const int lines = document()->blockCount();
    edit();
    if (document()->blockCount() != lines) document()->undo();
  }
};

inline QString Q(const std::string& s) {
  return QString::fromUtf8(s.data(), static_cast<int>(s.size()));
}
inline std::string S(const QString& q) { return q.toUtf8().toStdString(); }

inline QString Lines(const std::vector<std::string>& rows) {
  QStringList list;
  for (const std::string& r : rows) list << Q(r);
  return list.join("\n");
}

inline std::vector<std::string> Rows(const QPlainTextEdit* box) {
  std::vector<std::string> rows;
  for (const QString& line : box->toPlainText().split('\n')) rows.push_back(S(line));
  return rows;
}

// Keypad keys without NumLock arrive as the digits they carry.

}  // namespace drivanto
