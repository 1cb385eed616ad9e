// The busy cursor on the Qt backend: Qt's application-wide override cursor.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCursor>
#include <stdexcept>

#include "platform/runtime.h"
#include "platform/ui.h"

namespace {

Qt::CursorShape Shown() {
  const QCursor* cursor = QApplication::overrideCursor();
  return cursor ? cursor->shape() : Qt::ArrowCursor;
}

TEST(QtBusyCursorTest, WaitCursorWhileOneLivesAndTheUsualOneAfterTheLast) {
  platform::RuntimeResetForTesting();
  platform::RuntimeInit();
  ASSERT_NE(QApplication::instance(), nullptr) << "the Qt backend is linked in";
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  {
    platform::BusyCursor outer;
    EXPECT_EQ(Shown(), Qt::WaitCursor);
    try {
      platform::BusyCursor inner;
      EXPECT_EQ(Shown(), Qt::WaitCursor);
      throw std::runtime_error("the run failed");
    } catch (const std::runtime_error&) {
    }
    EXPECT_EQ(Shown(), Qt::WaitCursor);
  }
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  platform::RuntimeFinalizeModules();
  platform::RuntimeExit();
}

}  // namespace
