// The program's own main window on the Qt backend (offscreen): start-up as
// the entry routine runs it, then what a user sees on the real window -- its
// title, content size and size limits, its buttons, both controls where they
// stand at every size, the list's scroll bars, the ticked box, both menus
// with every caption, separator and shortcut -- and Ctrl+Q quitting through
// the close handler. Every expected value is written here; every actual one
// is read from the Qt widgets.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QFontDatabase>
#include <QKeySequence>
#include <QListWidget>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <QtTest/QTest>
#include <functional>
#include <string>
#include <vector>

#include "app/startup.h"
#include "platform/runtime.h"
#include "support/app_fixture.h"

namespace {

// The test's own application object, so that timers can be armed before the
// program's start-up (the backend uses an application object that exists).
int g_argc = 1;
char g_arg0[] = "app_window_test";
char* g_argv[] = {g_arg0, nullptr};

// Answers the host check's message box (no host runs here) as a user does,
// with a click on its button.
class BoxAnswerer {
 public:
  BoxAnswerer() {
    timer_.setInterval(5);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!box || box->buttons().isEmpty()) return;
      ++answered;
      QTest::mouseClick(box->buttons().first(), Qt::LeftButton);
    });
    timer_.start();
  }
  int answered = 0;

 private:
  QTimer timer_;
};

// The visible main windows on the screen.
std::vector<QMainWindow*> MainWindows() {
  std::vector<QMainWindow*> found;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* main = qobject_cast<QMainWindow*>(w); main && main->isVisible()) found.push_back(main);
  return found;
}

class AppWindowTest : public AppFixture {
 protected:
  static void SetUpTestSuite() {
    if (!QCoreApplication::instance()) app_ = new QApplication(g_argc, g_argv);
    // The system's fonts are loaded once, with the environment the test
    // started with, not with a test's private folders (gone after it).
    QFontDatabase::families();
  }
  static void TearDownTestSuite() {
    delete app_;
    app_ = nullptr;
  }
  static inline QApplication* app_ = nullptr;

  // Start-up as the entry routine runs it, up to the event loop; then the
  // window's widgets as the user sees them.
  void Open() {
    BoxAnswerer answerer;
    started = true;
    platform::RuntimeInit();
    initialize();
    platform::RuntimeSetExceptionHelper(&CallFunctionWithExceptionHandling);
    platform::RunFrameworkInitialization(&Startup);
    QCoreApplication::processEvents();
    ASSERT_EQ(answerer.answered, 1) << "the host check asked for the host once";
    const auto windows = MainWindows();
    ASSERT_EQ(windows.size(), 1u) << "one main window";
    win = windows[0];
    ASSERT_TRUE(QTest::qWaitForWindowExposed(win));
    content = win->centralWidget();
    ASSERT_NE(content, nullptr);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    const auto lists = content->findChildren<QListWidget*>();
    const auto boxes = content->findChildren<QCheckBox*>();
    ASSERT_EQ(lists.size(), 1) << "one list";
    ASSERT_EQ(boxes.size(), 1) << "one checkbox";
    list = lists[0];
    box = boxes[0];
  }

  int Bar() const { return win->menuBar()->isVisible() ? win->menuBar()->height() : 0; }

  // Resizes the real window to that content size as an outside resize does
  // (no window manager holds it to the size hints), and lets the program
  // answer: the program itself keeps its limits.
  void ResizeContent(int width, int height) {
    win->setMinimumSize(1, 1);
    win->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    win->resize(width, height + Bar());
    QCoreApplication::processEvents();
  }

  QMainWindow* win = nullptr;
  QWidget* content = nullptr;
  QListWidget* list = nullptr;
  QCheckBox* box = nullptr;
};

TEST_F(AppWindowTest, FirstStartShowsTheDesign) {
  Open();
  EXPECT_EQ(win->windowTitle(), QStringLiteral("Vellowmark"));
  EXPECT_TRUE(win->menuBar()->isVisible());
  EXPECT_GT(Bar(), 0);
  EXPECT_EQ(content->size(), QSize(160, 160));
  EXPECT_EQ(content->y(), Bar()) << "the content lies below the menu bar";
  EXPECT_EQ(win->size(), QSize(160, 160 + Bar()));
  EXPECT_EQ(win->minimumSize(), QSize(64, 64 + Bar()));
  EXPECT_EQ(win->maximumSize(), QSize(400, 600 + Bar()));

  // A window with a title bar, close and minimise buttons, no maximise.
  const Qt::WindowFlags flags = win->windowFlags();
  EXPECT_EQ(flags & Qt::WindowType_Mask, Qt::Window);
  EXPECT_TRUE(flags.testFlag(Qt::WindowTitleHint));
  EXPECT_TRUE(flags.testFlag(Qt::WindowCloseButtonHint));
  EXPECT_TRUE(flags.testFlag(Qt::WindowMinimizeButtonHint));
  EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));

  EXPECT_EQ(list->geometry(), QRect(6, 4, 148, 136));
  EXPECT_EQ(box->geometry(), QRect(5, 138, 149, 20));
  EXPECT_TRUE(list->isVisible() && list->isEnabled());
  EXPECT_TRUE(box->isVisible() && box->isEnabled());
  EXPECT_EQ(box->text(), QStringLiteral("clearing overrides"));
  EXPECT_EQ(box->checkState(), Qt::Checked) << "ticked at first start";
  EXPECT_EQ(list->count(), 0) << "an empty reglist gives an empty list";
  EXPECT_FALSE(list->dragEnabled());
  EXPECT_EQ(list->dragDropMode(), QAbstractItemView::NoDragDrop);
}

TEST_F(AppWindowTest, TabMovesTheFocusFromTheListToTheCheckBox) {
  Open();
  ASSERT_TRUE(QTest::qWaitForWindowActive(win));
  list->setFocus();
  ASSERT_TRUE(list->hasFocus());
  QTest::keyClick(list, Qt::Key_Tab);
  EXPECT_TRUE(box->hasFocus());
}

TEST_F(AppWindowTest, ControlsFollowTheirLocksWhenTheWindowIsResized) {
  Open();
  // Content sizes asked for, and what the window keeps within 64 x 64 to
  // 400 x 600: wider, narrower, taller, shorter, both ways, and beyond
  // each limit.
  struct Case {
    QSize asked, kept;
  };
  const Case cases[] = {
      {{300, 160}, {300, 160}}, {{100, 160}, {100, 160}}, {{160, 400}, {160, 400}},
      {{160, 100}, {160, 100}}, {{250, 90}, {250, 90}},   {{90, 250}, {90, 250}},
      {{64, 64}, {64, 64}},     {{400, 600}, {400, 600}}, {{30, 20}, {64, 64}},
      {{1000, 900}, {400, 600}}, {{30, 900}, {64, 600}},  {{1000, 20}, {400, 64}},
      {{160, 160}, {160, 160}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.asked.width() << "x" << c.asked.height());
    ResizeContent(c.asked.width(), c.asked.height());
    const int w = c.kept.width(), h = c.kept.height();
    EXPECT_EQ(content->size(), c.kept);
    EXPECT_EQ(win->size(), QSize(w, h + Bar()));
    EXPECT_EQ(win->minimumSize(), QSize(64, 64 + Bar())) << "the limits hold again";
    EXPECT_EQ(win->maximumSize(), QSize(400, 600 + Bar()));
    // The list keeps all four edges' distances; the box keeps its left and
    // bottom distances and its size.
    EXPECT_EQ(list->geometry(), QRect(6, 4, w - 12, h - 24));
    EXPECT_EQ(box->geometry(), QRect(5, h - 22, 149, 20));
  }
}

TEST_F(AppWindowTest, ListShowsAVerticalScrollBarOnlyWhenItsRowsNeedOne) {
  // Rows enough to overflow the list at its design height, one of them far
  // wider than the list.
  for (int i = 0; i < 29; ++i) WriteRuleSet("set" + std::to_string(100 + i) + ".txt", "a\tS\n");
  WriteRuleSet(std::string(120, 'w') + ".txt", "a\tS\n");
  Open();
  ASSERT_EQ(list->count(), 30);
  EXPECT_TRUE(list->verticalScrollBar()->isVisible()) << "30 rows need a vertical scroll bar";
  EXPECT_FALSE(list->horizontalScrollBar()->isVisible()) << "never a horizontal one";

  // Tall enough for every row: the vertical bar goes.
  ResizeContent(400, 600);
  const int rows_height = list->sizeHintForRow(0) * list->count();
  ASSERT_LT(rows_height + 2 * list->frameWidth(), list->height()) << "the rows fit";
  EXPECT_FALSE(list->verticalScrollBar()->isVisible());
  EXPECT_FALSE(list->horizontalScrollBar()->isVisible());
}

TEST_F(AppWindowTest, MenusShowEveryCaptionSeparatorAndShortcut) {
  Open();
  const QList<QAction*> menus = win->menuBar()->actions();
  ASSERT_EQ(menus.size(), 2);
  EXPECT_EQ(menus[0]->text(), QStringLiteral("ファイル"));
  EXPECT_EQ(menus[1]->text(), QStringLiteral("編集"));
  for (QAction* menu : menus) {
    SCOPED_TRACE(menu->text().toStdString());
    ASSERT_NE(menu->menu(), nullptr);
    EXPECT_TRUE(menu->shortcut().isEmpty());
    EXPECT_TRUE(menu->isEnabled());
  }

  struct Row {
    const char* text;  // nullptr: a separator line
    QKeySequence shortcut;
  };
  const std::vector<std::vector<Row>> expected = {
      {{"終了", QKeySequence(Qt::CTRL | Qt::Key_Q)}},
      {{"元に戻す", QKeySequence(Qt::CTRL | Qt::Key_Z)},
       {nullptr, {}},
       {"カット", QKeySequence(Qt::CTRL | Qt::Key_X)},
       {"コピー", QKeySequence(Qt::CTRL | Qt::Key_C)},
       {"貼り付け", QKeySequence(Qt::CTRL | Qt::Key_V)},
       {"削除", QKeySequence()},
       {nullptr, {}},
       {"すべてを選択", QKeySequence(Qt::CTRL | Qt::Key_A)}},
  };
  for (size_t m = 0; m < expected.size(); ++m) {
    const QList<QAction*> items = menus[static_cast<qsizetype>(m)]->menu()->actions();
    ASSERT_EQ(items.size(), static_cast<qsizetype>(expected[m].size())) << "menu " << m;
    for (size_t i = 0; i < expected[m].size(); ++i) {
      const Row& row = expected[m][i];
      QAction* item = items[static_cast<qsizetype>(i)];
      SCOPED_TRACE(testing::Message() << "menu " << m << " item " << i);
      EXPECT_EQ(item->isSeparator(), row.text == nullptr);
      if (row.text) {
        EXPECT_EQ(item->text(), QString::fromUtf8(row.text));
        EXPECT_EQ(item->menu(), nullptr) << "an item, not a submenu";
      }
      EXPECT_EQ(item->shortcut(), row.shortcut) << item->shortcut().toString().toStdString();
    }
  }
}

// The whole entry routine: the user answers the host check's message, then
// presses Ctrl+Q on the active window. The close handler saves the window's
// frame and box, the loop ends, and the program exits 0.
TEST_F(AppWindowTest, CtrlQQuitsThroughTheCloseHandler) {
  BoxAnswerer answerer;
  bool pressed = false, timed_out = false;
  QTimer user;
  user.setInterval(10);
  QObject::connect(&user, &QTimer::timeout, [&] {
    if (QApplication::activeModalWidget()) return;
    const auto windows = MainWindows();
    if (windows.size() != 1 || QApplication::activeWindow() != windows[0]) return;
    user.stop();
    pressed = true;
    QTest::keyClick(windows[0], Qt::Key_Q, Qt::ControlModifier);
  });
  user.start();
  QTimer guard;
  guard.setSingleShot(true);
  QObject::connect(&guard, &QTimer::timeout, [&] {
    timed_out = true;
    QCoreApplication::exit(0);
  });
  guard.start(10000);
  const int status = ProgramMain();
  EXPECT_TRUE(pressed) << "the window became active";
  EXPECT_FALSE(timed_out) << "Ctrl+Q ended the program";
  EXPECT_EQ(status, 0);
  EXPECT_EQ(answerer.answered, 1);
  EXPECT_TRUE(MainWindows().empty());
  // The close handler wrote the frame and the ticked box.
  const std::string saved = ReadFile(prefs_file);
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t at; (at = saved.find('\n', start)) != std::string::npos; start = at + 1)
    lines.push_back(saved.substr(start, at - start));
  ASSERT_EQ(lines.size(), 5u) << saved;
  EXPECT_EQ(start, saved.size()) << "nothing after the fifth line";
  EXPECT_EQ(lines[2], "160");
  EXPECT_EQ(lines[3], "160");
  EXPECT_EQ(lines[4], "1");
}

}  // namespace
