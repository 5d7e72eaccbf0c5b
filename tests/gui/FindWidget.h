#pragma once
// The window's controls as a test meets them: found by their object names.

#include <gtest/gtest.h>

#include <QString>

#include "qt/MainWindow.h"

namespace drivanto::testing {

// The control of the window with this object name; a test fails when the
// window has none of that name and kind.
template <class W>
W* Find(const MainWindow& w, const QString& name) {
  W* widget = w.findChild<W*>(name);
  EXPECT_NE(widget, nullptr) << name.toStdString();
  return widget;
}

}  // namespace drivanto::testing
