// Start-up, the application object, the menu bar and the main window's
// shape, on the headless backend.
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>

#include "app/app.h"
#include "app/main_window.h"
#include "app/menu_bar.h"
#include "app/startup.h"
#include "platform/headless/driver.h"
#include "platform/runtime.h"
#include "support/app_fixture.h"

using platform::WindowEvent;

namespace {

struct MenuRow {
  const char* parent;  // "" for the bar
  const char* name;
  const char* text;
  const char* shortcut;
  bool quit_item;
};

const MenuRow kMenuTree[] = {
    {"", "FileMenu", "ファイル", "", false},
    {"FileMenu", "FileQuit", "終了", "Cmd+Q", true},
    {"", "EditMenu", "編集", "", false},
    {"EditMenu", "EditUndo", "元に戻す", "Cmd+Z", false},
    {"EditMenu", "UntitledMenu1", "-", "", false},
    {"EditMenu", "EditCut", "カット", "Cmd+X", false},
    {"EditMenu", "EditCopy", "コピー", "Cmd+C", false},
    {"EditMenu", "EditPaste", "貼り付け", "Cmd+V", false},
    {"EditMenu", "EditClear", "削除", "", false},
    {"EditMenu", "UntitledMenu0", "-", "", false},
    {"EditMenu", "EditSelectAll", "すべてを選択", "Cmd+A", false},
};

class ShellTest : public AppFixture {};

TEST_F(ShellTest, MenuTreeIsBuiltOnceInOrder) {
  StartUp();
  auto bar = MenuBar1();
  ASSERT_EQ(bar, MenuBar1()) << "the accessor builds one bar";
  ASSERT_EQ(bar->Count(), 2);
  // Walk the tree in build order and compare it with the table.
  std::vector<std::shared_ptr<platform::MenuItem>> walked;
  for (int m = 0; m < bar->Count(); ++m) {
    walked.push_back(bar->Item(m));
    for (int i = 0; i < bar->Item(m)->Count(); ++i) walked.push_back(bar->Item(m)->Item(i));
  }
  ASSERT_EQ(walked.size(), std::size(kMenuTree));
  for (size_t i = 0; i < walked.size(); ++i) {
    const MenuRow& row = kMenuTree[i];
    SCOPED_TRACE(row.name);
    EXPECT_EQ(walked[i]->Name(), row.name);
    EXPECT_EQ(walked[i]->Text(), row.text);
    EXPECT_EQ(walked[i]->KeyboardShortcut(), row.shortcut);
    EXPECT_TRUE(walked[i]->AutoEnable());
    EXPECT_EQ(std::dynamic_pointer_cast<platform::QuitMenuItem>(walked[i]) != nullptr, row.quit_item);
    if (*row.parent) {
      EXPECT_EQ(bar->Child(row.parent)->Child(row.name), walked[i]);
    }
  }
  // The window's accessors find the same items by name.
  auto window = Window1();
  EXPECT_EQ(window->UntitledMenu1(), bar->Child("EditMenu")->Item(1));
  EXPECT_EQ(window->UntitledMenu0(), bar->Child("EditMenu")->Item(6));
  EXPECT_EQ(window->FileQuit(), bar->Child("FileMenu")->Item(0));
  EXPECT_EQ(window->EditSelectAll()->Text(), "すべてを選択");
}

TEST_F(ShellTest, OneApplicationOneMenuBarOneWindow) {
  StartUp();
  auto app = App();
  ASSERT_TRUE(app);
  EXPECT_EQ(app, App());
  EXPECT_EQ(app->MenuBar(), MenuBar1());
  auto window = Window1();
  EXPECT_EQ(window, Window1()) << "a second call creates nothing";
  EXPECT_EQ(window->MenuBar(), MenuBar1());
  EXPECT_EQ(window->HandlerRuns(WindowEvent::Open), 1);
  EXPECT_EQ(platform::GetImplicitWindow("Window1.Window1"), window);
  // The program's classes follow the framework's, in order.
  auto names = platform::RuntimeRegisteredClassNames();
  ASSERT_GE(names.size(), 4u);
  EXPECT_EQ(names[0], "Object");
  EXPECT_EQ(std::vector<std::string>(names.end() - 3, names.end()),
            (std::vector<std::string>{"App", "Window1.Window1", "MenuBar1.MenuBar1"}));
}

TEST_F(ShellTest, WindowOpensWithItsDesign) {
  StartUp();
  auto window = Window1();
  EXPECT_TRUE(App());
  EXPECT_EQ(window->Width(), 160);
  EXPECT_EQ(window->Height(), 160);
  EXPECT_EQ(window->Title(), "Vellowmark");
  EXPECT_FALSE(window->MaximizeButton());
  EXPECT_TRUE(window->MinimizeButton());
  EXPECT_TRUE(window->CloseButton());
  EXPECT_FALSE(window->ContentsChanged());
  auto list = window->Listbox1();
  auto box = window->CB1();
  ASSERT_TRUE(list && box);
  EXPECT_EQ(list->ColumnCount(), 1);
  EXPECT_FALSE(list->HasHeading());
  EXPECT_TRUE(list->HasCellClickHandler());
  EXPECT_EQ(box->Caption(), "clearing overrides");
  EXPECT_TRUE(box->Value());
  EXPECT_FLOAT_EQ(box->TextSize(), 10.0f);
  EXPECT_LT(list->TabIndex(), box->TabIndex());
}

struct Size {
  int w, h;       // asked for
  int cw, ch;     // what the window keeps
};

TEST_F(ShellTest, ControlsFollowTheirLocksWithinTheSizeLimits) {
  StartUp();
  auto window = Window1();
  const Size sizes[] = {{160, 160, 160, 160}, {300, 200, 300, 200}, {64, 64, 64, 64},
                        {400, 600, 400, 600}, {10, 10, 64, 64},     {1000, 1000, 400, 600},
                        {200, 63, 200, 64},   {401, 300, 400, 300}};
  for (const Size& s : sizes) {
    SCOPED_TRACE(std::to_string(s.w) + "x" + std::to_string(s.h));
    window->UserResize(s.w, s.h);
    ASSERT_EQ(window->Width(), s.cw);
    ASSERT_EQ(window->Height(), s.ch);
    auto list = window->Listbox1();
    auto box = window->CB1();
    EXPECT_EQ(list->Left(), 6);
    EXPECT_EQ(list->Top(), 4);
    EXPECT_EQ(list->Width(), s.cw - 12);
    EXPECT_EQ(list->Height(), s.ch - 24);
    EXPECT_EQ(box->Left(), 5);
    EXPECT_EQ(box->Top(), s.ch - 22);
    EXPECT_EQ(box->Width(), 149);
    EXPECT_EQ(box->Height(), 20);
    EXPECT_EQ(list->Top() + list->Height() - box->Top(), 2);
  }
  // The frame set by the program is clamped the same way.
  window->Width(0);
  window->Height(5000);
  EXPECT_EQ(window->Width(), 64);
  EXPECT_EQ(window->Height(), 600);
}

TEST_F(ShellTest, MovingResizingAndDeactivatingRunNoHandlerOfTheProgram) {
  StartUp();
  auto window = Window1();
  const int activations = window->HandlerRuns(WindowEvent::Activate);
  for (WindowEvent e : {WindowEvent::Moved, WindowEvent::Resized, WindowEvent::Deactivate,
                        WindowEvent::CancelClose, WindowEvent::AddMenuHandlers})
    EXPECT_FALSE(window->HasHandler(e));
  window->UserMove(300, 200);
  window->UserResize(250, 300);
  window->UserDeactivate();
  EXPECT_EQ(window->HandlerRuns(WindowEvent::Activate), activations);
  EXPECT_EQ(window->HandlerRuns(WindowEvent::Close), 0);
  window->UserActivate();  // becoming active again refreshes the list
  EXPECT_EQ(window->HandlerRuns(WindowEvent::Activate), activations + 1);
}

TEST_F(ShellTest, ClosingTheWindowQuitsAndIsNeverRefused) {
  StartUp();
  platform::headless::Post([] { Window1()->Close(); });
  platform::RuntimeRun();
  EXPECT_TRUE(platform::headless::QuitRequested());
  EXPECT_EQ(platform::GetImplicitWindow("Window1.Window1"), nullptr);
  EXPECT_EQ(ShutDown(), 0);
}

TEST_F(ShellTest, QuitItemClosesTheWindowFirst) {
  StartUp();
  platform::headless::Post([] { Window1()->FileQuit()->UserChoose(); });
  platform::RuntimeRun();
  EXPECT_TRUE(platform::headless::QuitRequested());
  EXPECT_FALSE(ReadFile(prefs_file).empty()) << "the close handler saved the preferences";
}

TEST_F(ShellTest, FinalisationReleasesTheMenuBarLast) {
  StartUp();
  std::weak_ptr<platform::MenuBar> bar = MenuBar1();
  std::weak_ptr<platform::Application> app = App();
  platform::RuntimeFinalizeModules();
  EXPECT_TRUE(app.expired());
  EXPECT_FALSE(bar.expired()) << "still held for the last step";
  finalize();
  EXPECT_TRUE(bar.expired());
  EXPECT_EQ(MenuBar1::implicitInstance, nullptr);
  started = false;
  platform::RuntimeExit();
}

void Returns(void*) {}
void RaisesNil(void*) { throw platform::NilObjectException("none"); }
void RaisesOther(void*) { throw std::runtime_error("not ours"); }

TEST(CallFunctionWithExceptionHandling, GivesWhatEscaped) {
  EXPECT_EQ(CallFunctionWithExceptionHandling(&Returns, nullptr), nullptr);
  auto caught = CallFunctionWithExceptionHandling(&RaisesNil, nullptr);
  ASSERT_TRUE(caught);
  EXPECT_STREQ(caught->ClassName(), "NilObjectException");
  EXPECT_THROW(CallFunctionWithExceptionHandling(&RaisesOther, nullptr), std::runtime_error);
}

class WholeProgramTest : public AppFixture {};

TEST_F(WholeProgramTest, ExceptionOutOfTheEventLoopEndsTheProgramOnce) {
  bool later_ran = false;
  platform::headless::Post([] { throw platform::IOException("disk gone"); });
  platform::headless::Post([&] { later_ran = true; });
  int status = -1;
  const std::string err = CaptureStderr([&] { status = ProgramMain(); });
  EXPECT_EQ(status, 1);
  EXPECT_FALSE(later_ran) << "the loop is not started again";
  EXPECT_NE(err.find("Unhandled IOException: disk gone"), std::string::npos) << err;
  EXPECT_EQ(err.find("Unhandled"), err.rfind("Unhandled")) << "handed over once";
  EXPECT_EQ(MenuBar1::implicitInstance, nullptr);
}

TEST_F(WholeProgramTest, ExceptionOutOfStartUpMeansTheLoopNeverRuns) {
  // A preferences folder that cannot exist: the open handler raises.
  WriteFile(root + "/plain-file", "x");
  setenv("XDG_CONFIG_HOME", (root + "/plain-file/config").c_str(), 1);
  bool loop_ran = false;
  platform::headless::Post([&] { loop_ran = true; });
  int status = -1;
  const std::string err = CaptureStderr([&] { status = ProgramMain(); });
  EXPECT_EQ(status, 1);
  EXPECT_FALSE(loop_ran);
  EXPECT_NE(err.find("Unhandled NilObjectException"), std::string::npos) << err;
  EXPECT_EQ(MenuBar1::implicitInstance, nullptr);
}

TEST_F(WholeProgramTest, NormalQuitGivesZero) {
  platform::headless::Post([] { Window1()->Close(); });
  EXPECT_EQ(ProgramMain(), 0);
}

}  // namespace
