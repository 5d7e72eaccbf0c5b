#pragma once
// Small pieces the window's files share: controls that report clicks, and
// text between the toolkit and the program.

#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QString>
#include <QStringList>
#include <functional>
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
