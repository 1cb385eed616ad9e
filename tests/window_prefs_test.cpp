// The window's frame and checkbox kept in "vellowmark.pref": restored when
// the window opens, written whole when it closes.
#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <filesystem>
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "app/main_window.h"
#include "app/startup.h"
#include "host/host_scripts.h"
#include "platform/headless/driver.h"
#include "platform/runtime.h"
#include "platform/text.h"
#include "support/app_fixture.h"

namespace fs = std::filesystem;

namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t at; (at = text.find('\n', start)) != std::string::npos; start = at + 1)
    lines.push_back(text.substr(start, at - start));
  if (start < text.size()) lines.push_back(text.substr(start) + " (no line end)");
  return lines;
}

std::string TypeOf(const std::string& path, int* error) {
  char value[16];
  const ssize_t n = getxattr(path.c_str(), "user.mac.type", value, sizeof value);
  *error = n < 0 ? errno : 0;
  return n > 0 ? std::string(value, static_cast<size_t>(n)) : std::string();
}

std::vector<std::string> Listing(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

class PrefsTest : public AppFixture {
 protected:
  void Start() {
    CaptureStderr([&] { StartUp(); });
  }
  // Closes the window and ends the program as the event loop would.
  void CloseAndEnd() {
    Window1()->Close();
    EXPECT_TRUE(platform::headless::QuitRequested());
    EXPECT_EQ(ShutDown(), 0);
  }
  void ExpectFrame(int left, int top, int width, int height, bool ticked) {
    auto w = Window1();
    EXPECT_EQ(w->Left(), left);
    EXPECT_EQ(w->Top(), top);
    EXPECT_EQ(w->Width(), width);
    EXPECT_EQ(w->Height(), height);
    EXPECT_EQ(w->CB1()->Value(), ticked);
  }
};

TEST_F(PrefsTest, NoFileKeepsTheDesignAndIsWrittenAtClose) {
  ASSERT_FALSE(fs::exists(prefs_file));
  Start();
  auto w = Window1();
  EXPECT_EQ(w->Width(), 160);
  EXPECT_EQ(w->Height(), 160);
  EXPECT_TRUE(w->CB1()->Value());
  EXPECT_EQ(platform::headless::Messages(), (std::vector<std::string>{host::kStartHostMessage}))
      << "the host check ran";
  ASSERT_NE(w->gMyPref, nullptr);
  EXPECT_EQ(w->gMyPref->NativePath(), prefs_file);
  EXPECT_FALSE(fs::exists(prefs_file)) << "opening writes nothing";

  const std::string left = platform::Str(w->Left()), top = platform::Str(w->Top());
  CloseAndEnd();
  EXPECT_EQ(Lines(ReadFile(prefs_file)), (std::vector<std::string>{left, top, "160", "160", "1"}));
  int error = 0;
  const std::string type = TypeOf(prefs_file, &error);
  if (error == ENOTSUP) {
    std::cout << "note: no user extended attributes here; the type was not checked\n";
  } else {
    EXPECT_EQ(type, "pref");
  }
  EXPECT_EQ(Listing(config), (std::vector<std::string>{"vellowmark.pref"})) << "no temporary file";
}

struct Restore {
  const char* file;
  int left, top, width, height;
  bool ticked;
};

const Restore kRestores[] = {
    {"5\n20\n300\n200\n1\n", 10, 40, 300, 200, true},
    {"9\n39\n160\n160\n1\n", 10, 40, 160, 160, true},
    {"10\n40\n160\n160\n1\n", 10, 40, 160, 160, true},
    {"11\n41\n160\n160\n1\n", 11, 41, 160, 160, true},
    {"-20\n-20\n160\n160\n1\n", 10, 40, 160, 160, true},
    {"120\n90\n300\n420\n0\n", 120, 90, 300, 420, false},
    {"120\n90\n300\n420\n2\n", 120, 90, 300, 420, false},
    {"120\n90\n300\n420\n-1\n", 120, 90, 300, 420, false},
    {"120\n90\n300\n420\n1", 120, 90, 300, 420, true},                      // no final line end
    {"120\r\n90\r\n300\r\n420\r\n1\r\n", 120, 90, 300, 420, true},          // CRLF
    {" 120\n+90 px\n300.9\n420e0\n1.0\n", 120, 90, 300, 420, true},         // what Val reads
    {"120\n90\n1000\n1000\n1\n", 120, 90, 400, 600, true},                  // the window's limits
    {"1e20\n-1e20\n300\n420\n1\n", INT_MAX, 40, 300, 420, true},            // out of range
    {"abc\n", 10, 40, 64, 64, false},                                       // values of 0
    {"", 10, 40, 64, 64, false},
    {"\n\n\n\n\n", 10, 40, 64, 64, false},
};

TEST_F(PrefsTest, FileRestoresFrameAndCheckbox) {
  for (const Restore& r : kRestores) {
    SCOPED_TRACE(::testing::PrintToString(std::string(r.file)));
    platform::RuntimeResetForTesting();
    WriteFile(prefs_file, r.file);
    Start();
    ExpectFrame(r.left, r.top, r.width, r.height, r.ticked);
    EXPECT_EQ(platform::headless::Messages().size(), 1u) << "the host check ran";
    ShutDown();
    EXPECT_EQ(ReadFile(prefs_file), r.file) << "opening leaves the file alone";
  }
}

TEST_F(PrefsTest, CyclesKeepFiveLinesAndTheSameFrame) {
  Start();
  auto w = Window1();
  w->UserMove(120, 90);
  w->UserResize(300, 420);
  w->CB1()->UserToggle();
  CloseAndEnd();
  const std::string saved = ReadFile(prefs_file);
  ASSERT_EQ(saved, "120\n90\n300\n420\n0\n");
  for (int cycle = 0; cycle < 6; ++cycle) {
    SCOPED_TRACE(cycle);
    platform::RuntimeResetForTesting();
    Start();
    ExpectFrame(120, 90, 300, 420, false);
    CloseAndEnd();
    EXPECT_EQ(ReadFile(prefs_file), saved);
  }
}

TEST_F(PrefsTest, RandomBytesGiveAUsableWindowAndACleanFile) {
  std::mt19937 rng(7);
  for (int round = 0; round < 4; ++round) {
    SCOPED_TRACE(round);
    std::string bytes(1 + rng() % 4096, '\0');
    for (char& c : bytes) c = static_cast<char>(rng());
    if (round == 3) bytes.insert(0, "77\n");  // one number among the noise
    platform::RuntimeResetForTesting();
    WriteFile(prefs_file, bytes);
    Start();
    auto w = Window1();
    EXPECT_GE(w->Left(), 10);
    EXPECT_GE(w->Top(), 40);
    EXPECT_GE(w->Width(), w->MinWidth());
    EXPECT_LE(w->Width(), w->MaxWidth());
    EXPECT_GE(w->Height(), w->MinHeight());
    EXPECT_LE(w->Height(), w->MaxHeight());
    if (round == 3) {
      EXPECT_EQ(w->Left(), 77);
    }
    const std::string expected = platform::Str(w->Left()) + "\n" + platform::Str(w->Top()) + "\n" +
                                 platform::Str(w->Width()) + "\n" + platform::Str(w->Height()) +
                                 "\n" + (w->CB1()->Value() ? "1" : "0") + "\n";
    CloseAndEnd();
    EXPECT_EQ(ReadFile(prefs_file), expected);
  }
}

TEST_F(PrefsTest, UnreachableFolderAtCloseLeavesTheOldFileAndEndsTheProgram) {
  // The preferences folder is reached through a link that, once the window
  // is open, leads through a regular file: nothing can be created there.
  const std::string real = root + "/config-real";
  const std::string old = "120\n90\n300\n420\n1\n";
  WriteFile(real + "/vellowmark.pref", old);
  fs::remove_all(config);
  fs::create_directory_symlink(real, config);
  WriteFile(root + "/plain-file", "x");
  bool closed = false;
  platform::headless::Post([&] {
    fs::remove(config);
    fs::create_directory_symlink(root + "/plain-file/config", config);
    closed = true;
    Window1()->Close();
  });
  int status = -1;
  const std::string err = CaptureStderr([&] { status = ProgramMain(); });
  EXPECT_TRUE(closed);
  EXPECT_EQ(status, 1);
  EXPECT_NE(err.find("Unhandled NilObjectException"), std::string::npos) << err;
  EXPECT_EQ(ReadFile(real + "/vellowmark.pref"), old);
  EXPECT_EQ(Listing(real), (std::vector<std::string>{"vellowmark.pref"}));
}

TEST_F(PrefsTest, FailedWriteAtCloseLeavesTheOldFileWhole) {
  const std::string old = "120\n90\n300\n420\n1\n";
  WriteFile(prefs_file, old);
  Start();
  Window1()->UserMove(200, 200);
  // Every write to a file fails (EFBIG), as on a full disk.
  rlimit saved{};
  getrlimit(RLIMIT_FSIZE, &saved);
  auto previous = std::signal(SIGXFSZ, SIG_IGN);
  rlimit none = saved;
  none.rlim_cur = 0;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &none), 0);
  // The failed save is raised (and ends the program), not passed over.
  EXPECT_THROW(Window1()->Close(), platform::IOException);
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, previous);
  EXPECT_EQ(ReadFile(prefs_file), old);
  EXPECT_EQ(Listing(config), (std::vector<std::string>{"vellowmark.pref"}));
}

}  // namespace
