// The life of the process as it happens: the whole entry routine on the
// headless backend, with the framework's calls followed in order, and the
// top-level handler given exceptions of every kind, from the event loop and
// from start-up.
#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "app/startup.h"
#include "platform/headless/driver.h"
#include "platform/runtime.h"
#include "support/app_fixture.h"

namespace {

using Journal = std::vector<std::string>;

// The program's three classes; every other registration is the framework's.
bool ProgramClass(const std::string& call) {
  return call == "RuntimeRegisterClass App" || call == "RuntimeRegisterClass Window1.Window1" ||
         call == "RuntimeRegisterClass MenuBar1.MenuBar1";
}

const char* const kEntryPoints[] = {
    "RegEx.__init",
    "RegEx.__exit",
    "RegEx.Search(TargetString as String) as RegExMatch",
    "RegEx.Search(TargetString as String, SearchStartPosition as Integer) as RegExMatch",
    "RegEx.Search() as RegExMatch",
    "RegEx.Replace(TargetString as String) as String",
    "RegEx.Replace(TargetString as String, SearchStartPosition as Integer) as String",
    "RegEx.Replace() as String",
    "RegEx.SearchPattern.Set",
    "RegEx.Options.Set",
    "RegExOptions.__init",
    "RegExOptions.__exit",
    "RegExOptions.LineEndType.Set",
    "RegExMatch.__init",
    "RegExMatch.__exit",
    "RegExMatch.Replace() as String",
    "RegExMatch.Replace(ReplacementPattern as string) as String",
    "RegExMatch.SubExpressionString(MatchNumber as Integer) as String",
    "RegExMatch.SubExpressionStartB(MatchNumber as Integer) as Integer",
};

// Start-up up to the opened window: the runtime, the framework's classes and
// then the program's, the exception helper, the start routine binding the
// pattern component, the application object furnished with its menu bar
// before it is registered, and the main window.
Journal StartUpCalls() {
  Journal calls = {"RuntimeInit",
                 "RuntimeRegisterClass (framework)",
                 "RuntimeRegisterClass App",
                 "RuntimeRegisterClass Window1.Window1",
                 "RuntimeRegisterClass MenuBar1.MenuBar1",
                 "RuntimeSetExceptionHelper",
                 "RunFrameworkInitialization",
                 "RuntimeInitExternalClasses",
                 "RuntimeAllocatePluginEntrypointsTable 19"};
  for (const char* name : kEntryPoints) calls.push_back(std::string("RuntimeLookupPluginEntrypoint ") + name);
  calls.insert(calls.end(), {"RuntimeNewObject App",
                             "RuntimeNewObject MenuBar1.MenuBar1",
                             "Application.MenuBar",
                             "RuntimeRegisterAppObject",
                             "RuntimeNewObject Window1.Window1",
                             "Window.Constructor Window1.Window1",
                             "Window event Layout",
                             "Window event CreateControls",
                             "Window event Open"});
  return calls;
}

// After the top-level handler: finalisation, the menu bar last, then the
// runtime's end.
const Journal kEnd = {"RuntimeFinalizeModules", "MenuBar released", "RuntimeExit"};

Journal Join(Journal a, const Journal& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

std::string Show(const Journal& calls) {
  std::string s;
  for (const auto& c : calls) s += "  " + c + "\n";
  return s;
}

class LifeTest : public AppFixture {
 protected:
  // Follows the framework's calls; `fail_at` names the call that raises
  // through `raise`.
  void Follow(const std::string& fail_at = "", std::function<void()> raise = nullptr) {
    platform::headless::ObserveFrameworkCalls([this, fail_at, raise](const std::string& call) {
      if (call.rfind("RuntimeRegisterClass ", 0) == 0 && !ProgramClass(call)) {
        if (journal.empty() || journal.back() != "RuntimeRegisterClass (framework)")
          journal.push_back("RuntimeRegisterClass (framework)");
        return;
      }
      // Only the main window's events and the program's own objects count
      // here; message boxes and the like are other tests' business.
      journal.push_back(call);
      if (!fail_at.empty() && call == fail_at && raise) raise();
    });
  }

  // The whole entry routine, with standard error kept; gives the exit status.
  int RunMain() {
    int status = -1;
    err = CaptureStderr([&] { status = ProgramMain(); });
    platform::headless::ObserveFrameworkCalls(nullptr);
    return status;
  }

  size_t Count(const std::string& text) const {
    size_t n = 0;
    for (size_t at = err.find(text); at != std::string::npos; at = err.find(text, at + 1)) ++n;
    return n;
  }

  Journal journal;
  std::string err;
};

TEST_F(LifeTest, StartUpLoopAndFinalisationRunInOrder) {
  Follow();
  platform::headless::Post([] { Window1()->Close(); });
  EXPECT_EQ(RunMain(), 0) << err;
  const Journal expected = Join(Join(StartUpCalls(), {"Window event Activate", "RuntimeRun",
                                                    "Window event Close", "RuntimeRun returns"}),
                              kEnd);
  EXPECT_EQ(journal, expected) << "calls made:\n" << Show(journal);
}

// What the program and the framework may raise: the framework's own
// exceptions, the standard library's, and anything else at all.
struct Raised {
  const char* what;
  std::function<void()> raise;
  const char* report;  // what the framework's handling writes
};

const Raised kRaised[] = {
    {"a framework exception", [] { throw platform::IOException("disk gone"); },
     "Unhandled IOException: disk gone"},
    {"a standard exception", [] { throw std::length_error("too long"); }, ": too long"},
    {"an exception of no class", [] { throw 42; }, "Unhandled "},
};

TEST_F(LifeTest, ExceptionOutOfTheLoopIsHandedOverOnceThenTheProgramFinalises) {
  for (const Raised& r : kRaised) {
    SCOPED_TRACE(r.what);
    journal.clear();
    platform::RuntimeResetForTesting();
    Follow();
    bool later_ran = false;
    platform::headless::Post(r.raise);
    platform::headless::Post([&] { later_ran = true; });
    EXPECT_EQ(RunMain(), 1) << "the status the runtime's end gives after an unhandled exception";
    EXPECT_FALSE(later_ran) << "the loop is not started again";
    EXPECT_NE(err.find(r.report), std::string::npos) << err;
    EXPECT_EQ(Count("Unhandled"), 1u) << err;
    const Journal expected = Join(Join(StartUpCalls(), {"Window event Activate", "RuntimeRun",
                                                      "RuntimeRun returns", "RuntimeUnhandledException"}),
                                kEnd);
    EXPECT_EQ(journal, expected) << "calls made:\n" << Show(journal);
  }
}

TEST_F(LifeTest, ExceptionOutOfStartUpMeansTheLoopNeverRuns) {
  for (const Raised& r : kRaised) {
    SCOPED_TRACE(r.what);
    journal.clear();
    platform::RuntimeResetForTesting();
    // The window's opening fails with it.
    Follow("Window event Open", r.raise);
    EXPECT_EQ(RunMain(), 1);
    EXPECT_NE(err.find(r.report), std::string::npos) << err;
    EXPECT_EQ(Count("Unhandled"), 1u) << err;
    const Journal expected = Join(Join(StartUpCalls(), {"RuntimeUnhandledException"}), kEnd);
    EXPECT_EQ(journal, expected) << "calls made:\n" << Show(journal);
  }
}

}  // namespace
