// The Qt backend on the offscreen platform: a window built like the main
// window, driven with real Qt input events.
#include <gtest/gtest.h>

#include <QAbstractItemModel>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QListWidget>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QThread>
#include <QTimer>
#include <QtTest/QTest>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/qt/qt_backend.h"
#include "platform/runtime.h"
#include "platform/ui.h"

using namespace platform;

namespace {

std::vector<std::string> g_qt_warnings;

void CollectQtMessages(QtMsgType type, const QMessageLogContext&, const QString& text) {
  if (type != QtDebugMsg && type != QtInfoMsg) g_qt_warnings.push_back(text.toStdString());
}

std::shared_ptr<RuntimeException> CatchRuntimeExceptions(void (*fn)(void*), void* arg) {
  try {
    fn(arg);
  } catch (const RuntimeException& e) {
    return e.Clone();
  }
  return nullptr;
}

// A menu item whose choice fails, as a program's handler might.
class FailingMenuItem : public MenuItem {
 public:
  void UserChoose() override { throw IOException("menu choice failed"); }
};

std::shared_ptr<MenuItem> Item(const std::string& name, const std::string& text,
                               const std::string& shortcut = "") {
  auto item = std::make_shared<MenuItem>();
  item->Name(name);
  item->AutoEnable(true);
  item->Text(text);
  item->KeyboardShortcut(shortcut);
  return item;
}

// The program's menu bar: File with Quit, Edit with the editing commands.
std::shared_ptr<MenuBar> JapaneseMenuBar() {
  auto bar = std::make_shared<MenuBar>();
  auto file = Item("FileMenu", "ファイル");
  bar->Append(file);
  auto quit = std::make_shared<QuitMenuItem>();
  quit->Name("FileQuit");
  quit->Text("終了");
  quit->KeyboardShortcut("Cmd+Q");
  file->Append(quit);
  auto edit = Item("EditMenu", "編集");
  bar->Append(edit);
  edit->Append(Item("EditUndo", "元に戻す", "Cmd+Z"));
  edit->Append(Item("UntitledMenu1", "-"));
  edit->Append(Item("EditCut", "カット", "Cmd+X"));
  edit->Append(Item("EditCopy", "コピー", "Cmd+C"));
  edit->Append(Item("EditPaste", "貼り付け", "Cmd+V"));
  edit->Append(Item("EditClear", "削除"));
  edit->Append(Item("UntitledMenu0", "-"));
  edit->Append(Item("EditSelectAll", "すべてを選択", "Cmd+A"));
  return bar;
}

class QtWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_qt_warnings.clear();
    previous_handler_ = qInstallMessageHandler(&CollectQtMessages);
    RuntimeResetForTesting();
    RuntimeInit();
    RuntimeSetExceptionHelper(&CatchRuntimeExceptions);
    bar = JapaneseMenuBar();
  }

  void TearDown() override {
    list.reset();
    box.reset();
    window.reset();
    RuntimeFinalizeModules();
    RuntimeExit();
    qInstallMessageHandler(previous_handler_);
  }

  // The main window's design: 160 x 160, the list above the ticked box.
  void Open() {
    window = std::make_shared<Window>();
    window->SetClassName("TestWindow.TestWindow");
    Window* w = window.get();
    window->AddEventHandler(WindowEvent::Layout, [this, w] {
      w->MenuBar(bar);
      w->SetProperties({{"Placement", 0},
                        {"Width", 160},
                        {"Height", 160},
                        {"MinWidth", 64},
                        {"MinHeight", 64},
                        {"MaxWidth", 400},
                        {"MaxHeight", 600},
                        {"Frame", 7},
                        {"Title", std::string("Vellowmark")},
                        {"Visible", true},
                        {"MenuBarVisible", true},
                        {"CloseButton", true},
                        {"Resizeable", true},
                        {"LiveResize", true},
                        {"MaximizeButton", false},
                        {"MinimizeButton", true}});
    });
    window->AddEventHandler(WindowEvent::CreateControls, [this, w] {
      auto l = w->New<Listbox>();
      l->Constructor();
      w->AddControl("Listbox1", l);
      l->TextUnit(0);
      SetProperties(*l, {{"Left", 6}, {"Top", 4}, {"Width", 148}, {"Height", 136},
                         {"LockLeft", true}, {"LockTop", true}, {"LockRight", true},
                         {"LockBottom", true}, {"TabIndex", 2}, {"ColumnCount", 1},
                         {"HasHeading", false}, {"ScrollBarHorizontal", false},
                         {"ScrollBarVertical", true}, {"SelectionType", 0}});
      RuntimeAddEventHandler(*l, "CellClick",
                             [this](const std::shared_ptr<Listbox>& lb, int32_t row, int32_t column,
                                    int32_t x, int32_t y) { return OnCellClick(lb, row, column, x, y); });
      auto b = w->New<CheckBox>();
      b->Constructor();
      w->AddControl("CB1", b);
      b->TextSize(10.0f);
      b->TextUnit(0);
      SetProperties(*b, {{"Left", 5}, {"Top", 138}, {"Width", 149}, {"Height", 20},
                         {"LockLeft", true}, {"LockTop", false}, {"LockRight", false},
                         {"LockBottom", true}, {"TabIndex", 3},
                         {"Caption", std::string("clearing overrides")}, {"State", 1},
                         {"Value", true}});
      list = l;
      box = b;
    });
    if (on_open) window->AddEventHandler(WindowEvent::Open, [this] { on_open(); });
    window->AddEventHandler(WindowEvent::Close, [this] {
      events.push_back(QThread::currentThread()->loopLevel() > 0 ? "close in loop" : "close");
    });
    window->Constructor();
    qwin = qt::WidgetOf(*window);
    ASSERT_NE(qwin, nullptr);
    qlist = qwin->findChild<QListWidget*>("Listbox1");
    qbox = qwin->findChild<QCheckBox*>("CB1");
    ASSERT_NE(qlist, nullptr);
    ASSERT_NE(qbox, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(qwin));
  }

  bool OnCellClick(const std::shared_ptr<Listbox>& lb, int row, int column, int x, int y) {
    EXPECT_EQ(lb, list);
    EXPECT_EQ(column, 0);
    clicks.push_back(row);
    click_points.emplace_back(x, y);
    if (on_click) on_click(row);
    return false;
  }

  void AddRows(const std::vector<std::string>& rows) {
    for (const auto& r : rows) list->AddRow(r);
    QCoreApplication::processEvents();
  }

  void ClickRow(int row) {
    QTest::mouseClick(qlist->viewport(), Qt::LeftButton, {}, qlist->visualItemRect(qlist->item(row)).center());
  }

  // Through the window system, as the platform delivers a real click (a
  // modal box or the window's activation can stand in its way).
  QPoint WindowPoint(QWidget* widget, QPoint pos) const {
    return qwin->windowHandle()->mapFromGlobal(widget->mapToGlobal(pos));
  }
  QPoint RowCenter(int row) const { return qlist->visualItemRect(qlist->item(row)).center(); }
  void SystemClickRow(int row) {
    QTest::mouseClick(qwin->windowHandle(), Qt::LeftButton, {}, WindowPoint(qlist->viewport(), RowCenter(row)));
  }
  void SystemPointerTo(int row) {
    QTest::mouseMove(qwin->windowHandle(), WindowPoint(qlist->viewport(), RowCenter(row)));
  }

  int BarHeight() const { return qwin->menuBar()->height(); }

  // Runs the event loop; false when nothing ended it within a few seconds.
  bool RunLoop() {
    bool timed_out = false;
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [&] {
      timed_out = true;
      QCoreApplication::exit(1);
    });
    guard.start(5000);
    RuntimeRun();
    return !timed_out;
  }

  void SaveScreenshot(const std::string& name) {
    const char* dir = std::getenv("VM_ARTIFACTS");
    if (!dir || !*dir) return;
    QDir().mkpath(QString::fromUtf8(dir));
    EXPECT_TRUE(qwin->grab().save(QString::fromUtf8(dir) + "/" + QString::fromStdString(name)));
  }

  QtMessageHandler previous_handler_ = nullptr;
  std::shared_ptr<MenuBar> bar;
  std::shared_ptr<Window> window;
  std::shared_ptr<Listbox> list;
  std::shared_ptr<CheckBox> box;
  QMainWindow* qwin = nullptr;
  QListWidget* qlist = nullptr;
  QCheckBox* qbox = nullptr;
  std::vector<int> clicks;
  std::vector<std::pair<int, int>> click_points;
  std::function<void(int)> on_click;
  std::function<void()> on_open;
  std::vector<std::string> events;
};

TEST_F(QtWindowTest, DesignWindowHasExactContentAreaFlagsAndControls) {
  Open();
  AddRows({"headings", "body text", "ルビ"});
  EXPECT_EQ(qwin->centralWidget()->size(), QSize(160, 160));
  EXPECT_EQ(qwin->centralWidget()->y(), BarHeight());
  EXPECT_GT(BarHeight(), 0);
  EXPECT_EQ(qwin->size(), QSize(160, 160 + BarHeight()));
  EXPECT_EQ(qwin->minimumSize(), QSize(64, 64 + BarHeight()));
  EXPECT_EQ(qwin->maximumSize(), QSize(400, 600 + BarHeight()));
  EXPECT_EQ(qwin->windowTitle(), QStringLiteral("Vellowmark"));

  const Qt::WindowFlags flags = qwin->windowFlags();
  EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
  EXPECT_TRUE(flags.testFlag(Qt::WindowMinimizeButtonHint));
  EXPECT_TRUE(flags.testFlag(Qt::WindowCloseButtonHint));
  EXPECT_TRUE(flags.testFlag(Qt::CustomizeWindowHint));

  EXPECT_EQ(qlist->geometry(), QRect(6, 4, 148, 136));
  EXPECT_EQ(qbox->geometry(), QRect(5, 138, 149, 20));
  EXPECT_EQ(qbox->text(), QStringLiteral("clearing overrides"));
  EXPECT_EQ(qbox->checkState(), Qt::Checked);
  EXPECT_EQ(qlist->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
  EXPECT_EQ(qlist->verticalScrollBarPolicy(), Qt::ScrollBarAsNeeded);
  EXPECT_EQ(qlist->dragDropMode(), QAbstractItemView::NoDragDrop);
  EXPECT_FALSE(qlist->dragEnabled());
  EXPECT_EQ(qlist->selectionMode(), QAbstractItemView::SingleSelection);
  ASSERT_EQ(qlist->count(), 3);
  EXPECT_EQ(qlist->item(2)->text(), QStringLiteral("ルビ"));
  SaveScreenshot("qt-main-window.png");
}

TEST_F(QtWindowTest, MenuBarMirrorsTheMenusInOrder) {
  Open();
  QList<QAction*> menus = qwin->menuBar()->actions();
  ASSERT_EQ(menus.size(), 2);
  EXPECT_EQ(menus[0]->text(), QStringLiteral("ファイル"));
  EXPECT_EQ(menus[1]->text(), QStringLiteral("編集"));

  QList<QAction*> file = menus[0]->menu()->actions();
  ASSERT_EQ(file.size(), 1);
  EXPECT_EQ(file[0]->text(), QStringLiteral("終了"));
  EXPECT_EQ(file[0]->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
  // What puts it into the application menu on macOS, whatever its text.
  EXPECT_EQ(file[0]->menuRole(), QAction::QuitRole);

  struct Expected {
    const char* text;  // nullptr: a separator
    QKeySequence shortcut;
  };
  const std::vector<Expected> edit_expected = {
      {"元に戻す", QKeySequence(Qt::CTRL | Qt::Key_Z)}, {nullptr, {}},
      {"カット", QKeySequence(Qt::CTRL | Qt::Key_X)},   {"コピー", QKeySequence(Qt::CTRL | Qt::Key_C)},
      {"貼り付け", QKeySequence(Qt::CTRL | Qt::Key_V)}, {"削除", QKeySequence()},
      {nullptr, {}},                                   {"すべてを選択", QKeySequence(Qt::CTRL | Qt::Key_A)}};
  QList<QAction*> edit = menus[1]->menu()->actions();
  ASSERT_EQ(edit.size(), static_cast<qsizetype>(edit_expected.size()));
  for (size_t i = 0; i < edit_expected.size(); ++i) {
    SCOPED_TRACE(i);
    const Expected& e = edit_expected[i];
    EXPECT_EQ(edit[i]->isSeparator(), e.text == nullptr);
    if (e.text) {
      EXPECT_EQ(edit[i]->text(), QString::fromUtf8(e.text));
    }
    EXPECT_EQ(edit[i]->shortcut(), e.shortcut);
    EXPECT_NE(edit[i]->menuRole(), QAction::QuitRole);
  }
}

TEST_F(QtWindowTest, ClickOnRowRunsCellClickWithThatRow) {
  Open();
  AddRows({"a", "b", "c"});
  ClickRow(0);
  ClickRow(2);
  EXPECT_EQ(clicks, (std::vector<int>{0, 2}));
  // The cell-relative point of the click.
  const QRect cell = qlist->visualItemRect(qlist->item(2));
  EXPECT_EQ(click_points.back(), std::make_pair(cell.center().x() - cell.left(), cell.center().y() - cell.top()));

  // Below the last row there is no cell.
  QTest::mouseClick(qlist->viewport(), Qt::LeftButton, {}, QPoint(20, qlist->viewport()->height() - 3));
  EXPECT_EQ(clicks.size(), 2u);
}

TEST_F(QtWindowTest, ClickActsOnlyOnTheRowShownUnderThePointer) {
  Open();
  AddRows({"a", "b"});
  const QPoint below_b(20, qlist->visualItemRect(qlist->item(1)).bottom() + 5);
  const QPoint on_a = RowCenter(0);
  // Changes not yet mirrored when the press comes: the click was made on
  // what the window showed, so a row that took the place of what was under
  // the pointer is not run.
  list->AddRow("c");
  QTest::mouseClick(qlist->viewport(), Qt::LeftButton, {}, below_b);
  ASSERT_EQ(qlist->count(), 3);
  list->DeleteAllRows();
  for (const char* row : {"new", "a", "b"}) list->AddRow(row);
  QTest::mouseClick(qlist->viewport(), Qt::LeftButton, {}, on_a);
  EXPECT_EQ(qlist->item(0)->text(), QStringLiteral("new"));
  EXPECT_TRUE(clicks.empty());
  EXPECT_TRUE(qlist->selectedItems().isEmpty());
  // What is shown now acts.
  QTest::mouseClick(qlist->viewport(), Qt::LeftButton, {}, on_a);
  EXPECT_EQ(clicks, (std::vector<int>{0}));
}

TEST_F(QtWindowTest, ClickThatActivatesTheWindowStartsNothing) {
  // This platform times neither the activation nor the press: a clock of
  // the test's own says when each is handled.
  int64_t now = 1000000;
  qt::detail::SetActivationClock([&now] { return now; });
  struct RestoreClock {
    ~RestoreClock() { qt::detail::SetActivationClock(nullptr); }
  } restore_clock;
  Open();
  AddRows({"b", "c"});
  ASSERT_TRUE(QTest::qWaitForWindowActive(qwin));
  // Each activation refills the list, as the program's handler does; a rule
  // set came into the folder while the window was in the background.
  std::vector<std::string> folder = {"b", "c"};
  window->AddEventHandler(WindowEvent::Activate, [this, &folder] {
    list->DeleteAllRows();
    for (const auto& row : folder) list->AddRow(row);
  });
  QWidget other;
  other.show();
  const auto deactivate = [&] {
    other.activateWindow();
    return QTest::qWaitForWindowActive(&other) && !window->IsActive();
  };
  const auto activate = [&] {
    qwin->activateWindow();
    return QTest::qWaitForWindowActive(qwin) && window->IsActive();
  };
  // In every case the pointer comes to rest on the list while the window is
  // inactive.

  // The press on "b" activates the window (a window manager focuses it and
  // passes the press on at once), and the refill puts "a" under the
  // pointer: the press runs nothing, even once the refilled rows are shown.
  ASSERT_TRUE(deactivate());
  SystemPointerTo(0);
  folder = {"a", "b", "c"};
  ASSERT_TRUE(activate());
  QCoreApplication::processEvents();
  ASSERT_EQ(qlist->item(0)->text(), QStringLiteral("a"));
  SystemClickRow(0);
  EXPECT_TRUE(clicks.empty());
  EXPECT_TRUE(qlist->selectedItems().isEmpty());
  // The next press acts, on what is shown now.
  SystemClickRow(0);
  EXPECT_EQ(clicks, (std::vector<int>{0}));

  // Activated from the keyboard, or because another window closed: the
  // user's click comes later, and acts.
  ASSERT_TRUE(deactivate());
  SystemPointerTo(1);
  ASSERT_TRUE(activate());
  now += 1000;
  SystemClickRow(1);
  EXPECT_EQ(clicks, (std::vector<int>{0, 1}));

  // A right press activates the window: a left click right after it acts.
  ASSERT_TRUE(deactivate());
  SystemPointerTo(2);
  ASSERT_TRUE(activate());
  QTest::mouseClick(qwin->windowHandle(), Qt::RightButton, {}, WindowPoint(qlist->viewport(), RowCenter(2)));
  SystemClickRow(2);
  EXPECT_EQ(clicks, (std::vector<int>{0, 1, 2}));
}

TEST_F(QtWindowTest, CheckBoxClickTogglesModelAndModelDrivesBox) {
  Open();
  QTest::mouseClick(qbox, Qt::LeftButton, {}, QPoint(8, 10));
  EXPECT_FALSE(box->Value());
  EXPECT_EQ(qbox->checkState(), Qt::Unchecked);
  QTest::mouseClick(qbox, Qt::LeftButton, {}, QPoint(8, 10));
  EXPECT_TRUE(box->Value());
  EXPECT_EQ(qbox->checkState(), Qt::Checked);

  box->Value(false);  // as restored preferences set it
  QCoreApplication::processEvents();
  EXPECT_EQ(qbox->checkState(), Qt::Unchecked);
  EXPECT_FALSE(box->Value());  // mirroring does not toggle the model back
}

TEST_F(QtWindowTest, TabMovesFocusFromListToCheckBox) {
  Open();
  ASSERT_TRUE(QTest::qWaitForWindowActive(qwin));
  qlist->setFocus();
  ASSERT_TRUE(qlist->hasFocus());
  QTest::keyClick(qlist, Qt::Key_Tab);
  EXPECT_TRUE(qbox->hasFocus());
}

TEST_F(QtWindowTest, ResizeMovesControlsByTheirLocksWithinTheLimits) {
  Open();
  struct Case {
    QSize asked, expected;
    bool outside;  // an outside resize that ignores the size hints (no window manager)
  };
  const std::vector<Case> cases = {
      {{200, 300}, {200, 300}, false}, {{64, 64}, {64, 64}, false},  {{30, 20}, {64, 64}, false},
      {{1000, 1000}, {400, 600}, false}, {{30, 20}, {64, 64}, true}, {{1000, 1000}, {400, 600}, true},
      {{160, 160}, {160, 160}, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.asked.width() << "x" << c.asked.height() << (c.outside ? " outside" : ""));
    const QSize min = qwin->minimumSize(), max = qwin->maximumSize();
    if (c.outside) {
      qwin->setMinimumSize(1, 1);  // (0, 0) would hand the minimum back to the layout
      qwin->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    }
    qwin->resize(c.asked.width(), c.asked.height() + BarHeight());
    QCoreApplication::processEvents();
    const int w = c.expected.width(), h = c.expected.height();
    EXPECT_EQ(QSize(window->Width(), window->Height()), c.expected);
    EXPECT_EQ(qwin->centralWidget()->size(), c.expected);
    EXPECT_EQ(qlist->geometry(), QRect(6, 4, w - 12, h - 24));
    EXPECT_EQ(qbox->geometry(), QRect(5, h - 22, 149, 20));
    EXPECT_EQ(qbox->y(), qlist->geometry().bottom() + 1 - 2);
    EXPECT_EQ(qwin->minimumSize(), min);
    EXPECT_EQ(qwin->maximumSize(), max);
  }
}

TEST_F(QtWindowTest, ModelFrameAndUserMoveMeetInBothDirections) {
  Open();
  window->Left(40);
  window->Top(50);
  window->Width(220);
  window->Height(180);
  QCoreApplication::processEvents();
  EXPECT_EQ(qwin->pos(), QPoint(40, 50));
  EXPECT_EQ(qwin->centralWidget()->size(), QSize(220, 180));
  EXPECT_EQ(qlist->geometry(), QRect(6, 4, 208, 156));

  qwin->move(70, 90);
  QCoreApplication::processEvents();
  EXPECT_EQ(window->Left(), 70);
  EXPECT_EQ(window->Top(), 90);
}

TEST_F(QtWindowTest, FrameOffEveryScreenOpensOnTheNearest) {
  struct Case {
    const char* what;
    QPoint asked;
    bool on_screen;
  };
  const std::vector<Case> cases = {{"on the screen", {120, 90}, true},
                                   {"far right", {99999, 90}, false},
                                   {"far below", {120, 99999}, false},
                                   {"far off both ways", {99999, 99999}, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    // As the window's open handler restores a saved frame.
    on_open = [this, &c] {
      window->Left(c.asked.x());
      window->Top(c.asked.y());
      window->Width(300);
      window->Height(200);
    };
    Open();
    QCoreApplication::processEvents();
    const QRect screen = qwin->screen()->geometry();
    // Placed as the window opens, before the platform adds its decorations
    // (which may then stand out by their width).
    const QSize size = qwin->size();
    EXPECT_EQ(size, QSize(300, 200 + BarHeight()));
    const QPoint expected = c.on_screen ? c.asked
                                        : QPoint(std::min(c.asked.x(), screen.right() + 1 - size.width()),
                                                 std::min(c.asked.y(), screen.bottom() + 1 - size.height()));
    EXPECT_EQ(qwin->pos(), expected);
    EXPECT_TRUE(screen.contains(QRect(qwin->pos(), size)));
    EXPECT_EQ(QPoint(window->Left(), window->Top()), expected);  // what a close would save
    EXPECT_EQ(QSize(window->Width(), window->Height()), QSize(300, 200));
    window->Close();
    window.reset();
  }
}

TEST_F(QtWindowTest, CloseRequestAsksTheModel) {
  for (bool refuse : {true, false}) {
    SCOPED_TRACE(refuse ? "refused" : "accepted");
    events.clear();
    Open();
    window->AddCancelCloseHandler([refuse] { return refuse; });
    EXPECT_EQ(qwin->close(), !refuse);
    QCoreApplication::processEvents();
    EXPECT_EQ(window->IsOpen(), refuse);
    EXPECT_EQ(events.size(), refuse ? 0u : 1u);
    EXPECT_EQ(qt::WidgetOf(*window) != nullptr && qt::WidgetOf(*window)->isVisible(), refuse);
    if (refuse) {
      window->AddCancelCloseHandler(nullptr);
      window->Close();
    }
  }
}

TEST_F(QtWindowTest, ActivationReachesTheModel) {
  Open();
  ASSERT_TRUE(QTest::qWaitForWindowActive(qwin));
  EXPECT_TRUE(window->IsActive());
  const int activations = window->HandlerRuns(WindowEvent::Activate);
  QWidget other;
  other.show();
  other.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
  EXPECT_FALSE(window->IsActive());
  qwin->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(qwin));
  EXPECT_TRUE(window->IsActive());
  EXPECT_EQ(window->HandlerRuns(WindowEvent::Activate), activations);  // no handler bound
  window->AddEventHandler(WindowEvent::Activate, [this] { events.push_back("activate"); });
  other.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
  qwin->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(qwin));
  EXPECT_EQ(events, (std::vector<std::string>{"activate"}));
}

TEST_F(QtWindowTest, CtrlQClosesTheWindowThenEndsTheLoop) {
  Open();
  ASSERT_TRUE(QTest::qWaitForWindowActive(qwin));
  QTimer::singleShot(0, qwin, [this] { QTest::keyClick(qwin, Qt::Key_Q, Qt::ControlModifier); });
  EXPECT_TRUE(RunLoop());
  EXPECT_EQ(events, (std::vector<std::string>{"close in loop"}));
  EXPECT_FALSE(window->IsOpen());
  EXPECT_EQ(RuntimeGetImplicitWindow("TestWindow.TestWindow"), nullptr);
}

TEST_F(QtWindowTest, QuitBeforeRunMakesRunReturnAtOnce) {
  Open();
  Quit();
  EXPECT_TRUE(RunLoop());
  // And the next run is a normal one again.
  QTimer::singleShot(0, [] { Quit(); });
  EXPECT_TRUE(RunLoop());
}

TEST_F(QtWindowTest, ExceptionInHandlerEndsRunAndIsRaisedFromRun) {
  auto failing = std::make_shared<FailingMenuItem>();
  failing->Text("失敗");
  failing->KeyboardShortcut("Cmd+F");
  bar->Item(1)->Append(failing);
  Open();
  AddRows({"a", "b"});
  ASSERT_TRUE(QTest::qWaitForWindowActive(qwin));

  on_click = [this](int) {
    list->AddRow("added before the failure");
    throw NilObjectException("nil window");
  };
  QTimer::singleShot(0, qwin, [this] { ClickRow(1); });
  bool timed_out = false;
  QTimer::singleShot(5000, [&] { timed_out = true; QCoreApplication::exit(1); });
  try {
    RuntimeRun();
    ADD_FAILURE() << "RuntimeRun returned normally";
  } catch (const NilObjectException& e) {
    EXPECT_EQ(e.Message(), "nil window");
  }
  EXPECT_FALSE(timed_out);
  EXPECT_EQ(clicks, (std::vector<int>{1}));
  // The change made before the failure still reaches the window.
  QCoreApplication::processEvents();
  EXPECT_EQ(qlist->count(), 3);

  // A menu choice that fails ends the loop the same way, with its class.
  QTimer::singleShot(0, qwin, [this] { QTest::keyClick(qwin, Qt::Key_F, Qt::ControlModifier); });
  EXPECT_THROW(RuntimeRun(), IOException);
  EXPECT_FALSE(timed_out);

  for (const auto& w : g_qt_warnings) EXPECT_EQ(w.find("xception"), std::string::npos) << w;
}

TEST_F(QtWindowTest, TenThousandRowsFromOneHandlerMirrorInOneBatch) {
  Open();
  AddRows({"start"});
  int inserts = 0, removals = 0;
  QObject::connect(qlist->model(), &QAbstractItemModel::rowsInserted, [&] { ++inserts; });
  QObject::connect(qlist->model(), &QAbstractItemModel::rowsRemoved, [&] { ++removals; });
  const auto refill = [this](const std::string& prefix) {
    list->DeleteAllRows();
    for (int i = 0; i < 10000; ++i) list->AddRow(prefix + std::to_string(i));
  };
  on_click = [&](int) { refill("rule "); };
  ClickRow(0);
  QCoreApplication::processEvents();
  ASSERT_EQ(qlist->count(), 10000);
  EXPECT_EQ(qlist->item(0)->text(), QStringLiteral("rule 0"));
  EXPECT_EQ(qlist->item(9999)->text(), QStringLiteral("rule 9999"));
  EXPECT_EQ(inserts, 1);

  // Refilling with the same rows (as every activation does) changes nothing.
  inserts = removals = 0;
  ClickRow(5);
  QCoreApplication::processEvents();
  EXPECT_EQ(inserts, 0);
  EXPECT_EQ(removals, 0);

  // Other rows replace the shown ones.
  on_click = [&](int) { refill("set "); };
  ClickRow(5);
  QCoreApplication::processEvents();
  ASSERT_EQ(qlist->count(), 10000);
  EXPECT_EQ(qlist->item(1234)->text(), QStringLiteral("set 1234"));
  EXPECT_EQ(clicks, (std::vector<int>{0, 5, 5}));
}

TEST_F(QtWindowTest, MsgBoxWaitsForTheUserAndReturnsWhenClosed) {
  Open();
  // As a user does: read the box, then close it with a key or its close
  // button. MsgBox returns only once the box is gone.
  struct Seen {
    QString title, text;
    bool modal = false;
  };
  std::vector<Seen> seen;
  const auto answer = [&](std::function<void(QMessageBox*)> close) {
    QTimer::singleShot(0, [&, close] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!box) {
        ADD_FAILURE() << "no modal message box";
        QTimer::singleShot(0, [] {
          if (QWidget* w = QApplication::activeModalWidget()) w->close();
        });
        return;
      }
      seen.push_back({box->windowTitle(), box->text(), box->isModal()});
      close(box);
    });
  };
  answer([](QMessageBox* box) { QTest::keyClick(box, Qt::Key_Return); });
  MsgBox("Illustratorを起動してください。");
  answer([](QMessageBox* box) { QTest::keyClick(box, Qt::Key_Escape); });
  MsgBox("second");
  answer([](QMessageBox* box) { box->close(); });  // the title bar's close button
  MsgBox("third");

  ASSERT_EQ(seen.size(), 3u);
  const std::vector<QString> texts = {QStringLiteral("Illustratorを起動してください。"),
                                      QStringLiteral("second"), QStringLiteral("third")};
  for (size_t i = 0; i < seen.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(seen[i].title, QStringLiteral("Vellowmark"));
    EXPECT_EQ(seen[i].text, texts[i]);
    EXPECT_TRUE(seen[i].modal);
  }
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);

  // While a box is up, a click on the window reaches nothing.
  AddRows({"a"});
  answer([this](QMessageBox* box) {
    SystemClickRow(0);
    QTest::keyClick(box, Qt::Key_Return);
  });
  MsgBox("modal");
  EXPECT_TRUE(clicks.empty());
}

}  // namespace
