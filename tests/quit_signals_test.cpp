// The system's requests to end the program (SIGTERM, SIGHUP, SIGINT),
// raised for real in the test process while the whole program runs on the
// headless backend: the event loop takes the quit item's road, so the close
// handler saves the frame and the box; a styling run blocked in a host
// script ends that script's group at once and starts no other.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "app/main_window.h"
#include "app/startup.h"
#include "platform/headless/driver.h"
#include "platform/runtime.h"
#include "support/app_fixture.h"

namespace fs = std::filesystem;
using platform::WindowEvent;

namespace {

struct NamedSignal {
  int number;
  const char* name;
};
const NamedSignal kQuitSignals[] = {{SIGTERM, "SIGTERM"}, {SIGHUP, "SIGHUP"}, {SIGINT, "SIGINT"}};
void PrintTo(const NamedSignal& sig, std::ostream* os) { *os << sig.name; }

// The program starts as from a desktop, with the three at their defaults,
// whatever the test runner was started with (nohup, a background job).
void DefaultQuitSignals() {
  for (const NamedSignal& sig : kQuitSignals) std::signal(sig.number, SIG_DFL);
}

// Whether the process is gone: no such process, or one that has ended and
// waits only for its parent (an orphan of a parent that never reaps).
bool Gone(pid_t pid) {
  if (::kill(pid, 0) != 0) return errno == ESRCH;
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return true;
  const size_t close = line.rfind(')');
  return close != std::string::npos && close + 2 < line.size() && line[close + 2] == 'Z';
}

class QuitSignalTest : public AppFixture, public ::testing::WithParamInterface<NamedSignal> {
 protected:
  // A saved frame and a cleared box; the user then moves and resizes the
  // window and ticks the box, which only the close handler can save.
  void StartAndChangeTheWindow() {
    WriteFile(prefs_file, "100\n100\n200\n200\n0\n");
    DefaultQuitSignals();
    CaptureStderr([&] { StartUp(); });  // no host: its message goes to stderr
    window = Window1();
    ASSERT_FALSE(window->CB1()->Value());
    window->UserMove(300, 210);
    window->UserResize(250, 280);
    window->CB1()->UserToggle();
    ASSERT_TRUE(window->CB1()->Value());
  }

  void ExpectQuitThroughTheCloseHandler() {
    EXPECT_TRUE(platform::headless::QuitRequested());
    EXPECT_EQ(window->HandlerRuns(WindowEvent::Close), 1);
    EXPECT_EQ(platform::headless::LiveWindows(), 0);
    EXPECT_EQ(ReadFile(prefs_file), "300\n210\n250\n280\n1\n") << "the frame and the ticked box";
    for (const auto& entry : fs::directory_iterator(config))
      EXPECT_EQ(entry.path().filename().string().rfind(".vellowmark.pref.tmp", 0), std::string::npos)
          << entry.path();
    window.reset();
    EXPECT_EQ(ShutDown(), 0);
  }

  std::shared_ptr<class Window1> window;
};

TEST_P(QuitSignalTest, EndsTheLoopThroughTheCloseHandler) {
  StartAndChangeTheWindow();
  const int sig = GetParam().number;
  bool later_ran = false;
  platform::headless::Post([sig] { ::raise(sig); });
  platform::headless::Post([&] { later_ran = true; });
  platform::RuntimeRun();
  EXPECT_FALSE(later_ran) << "the quit comes before the next event";
  ExpectQuitThroughTheCloseHandler();
}

TEST_P(QuitSignalTest, ArrivingBeforeTheLoopQuitsOnceWhenItStarts) {
  StartAndChangeTheWindow();
  ::raise(GetParam().number);
  ::raise(GetParam().number);
  // One more while the close handler runs changes nothing either.
  platform::headless::ObserveFrameworkCalls([](const std::string& call) {
    if (call == "Window event Close") ::raise(SIGTERM);
  });
  bool later_ran = false;
  platform::headless::Post([&] { later_ran = true; });
  platform::RuntimeRun();
  platform::headless::ObserveFrameworkCalls(nullptr);
  EXPECT_FALSE(later_ran);
  ExpectQuitThroughTheCloseHandler();
}

// A styling run whose first style request never ends: the script records
// its pid and its child's, then waits for the child.
TEST_P(QuitSignalTest, EndsAHangingScriptAndStartsNoOther) {
  const std::string ready = root + "/ready", applied = root + "/applyCS.calls";
  const std::string hang = resources + "/applyCS.scpt";
  fs::remove(hang);
  WriteFile(hang, "#!/bin/sh\n"
                  "echo call >> '" + applied + "'\n"
                  "sleep 300 &\n"
                  "echo \"$$ $!\" > '" + ready + ".tmp' && mv '" + ready + ".tmp' '" + ready + "'\n"
                  "wait\n");
  ::chmod(hang.c_str(), 0755);
  WriteRuleSet("set.txt", "x\tX\nx\tY\tp\nx\tZ");
  SetContent("A/1:x\rx<t@ke>B/2:x");
  StartAndChangeTheWindow();
  ClearCalls();

  // The signal comes from another thread once the script runs, as from
  // outside the process.
  const int sig = GetParam().number;
  std::thread sender([&] {
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!fs::exists(ready) && std::chrono::steady_clock::now() < give_up)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ::kill(::getpid(), sig);
  });
  platform::headless::Post([] { Window1()->MainScpt("set.txt"); });
  const auto start = std::chrono::steady_clock::now();
  const std::string err = CaptureStderr([] { platform::RuntimeRun(); });
  const auto took = std::chrono::steady_clock::now() - start;
  sender.join();

  // Only a hang is caught here: the script sleeps for 300 s and the
  // script timeout is 120 s.
  EXPECT_LT(took, std::chrono::seconds(60));
  pid_t script = 0, child = 0;
  std::ifstream(ready) >> script >> child;
  ASSERT_GT(script, 0);
  ASSERT_GT(child, 0);
  EXPECT_TRUE(Gone(script));
  EXPECT_TRUE(Gone(child)) << "the script's whole group is ended";
  if (!Gone(child)) ::kill(child, SIGKILL);
  EXPECT_EQ(ReadFile(applied), "call\n") << "no further applyCS";
  std::vector<std::string> scripts;
  for (const ScriptCall& call : Calls()) scripts.push_back(call.script);
  EXPECT_EQ(scripts, std::vector<std::string>{"getcontents.scpt"}) << "no applyPS after the quit";
  const std::string line = "ExecuteAppleScript: " + hang + ": ended it because the program is quitting\n";
  EXPECT_NE(err.find(line), std::string::npos) << err;
  EXPECT_EQ(err.find("ExecuteAppleScript"), err.rfind("ExecuteAppleScript")) << "one line: " << err;
  ExpectQuitThroughTheCloseHandler();
}

INSTANTIATE_TEST_SUITE_P(Signals, QuitSignalTest, ::testing::ValuesIn(kQuitSignals),
                         [](const auto& info) { return std::string(info.param.name); });

class IgnoredQuitSignalTest : public AppFixture {
 protected:
  void TearDown() override {
    AppFixture::TearDown();
    DefaultQuitSignals();
  }
};

// Started with SIGHUP ignored (as under nohup), the program keeps it so.
TEST_F(IgnoredQuitSignalTest, StaysIgnored) {
  std::signal(SIGHUP, SIG_IGN);
  CaptureStderr([&] { StartUp(); });
  auto window = Window1();
  bool later_ran = false;
  platform::headless::Post([] { ::raise(SIGHUP); });
  platform::headless::Post([&] { later_ran = true; });
  platform::RuntimeRun();
  EXPECT_TRUE(later_ran);
  EXPECT_FALSE(platform::headless::QuitRequested());
  EXPECT_EQ(window->HandlerRuns(WindowEvent::Close), 0);
}

}  // namespace
