// Running host scripts as processes, and Apple events over the event folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include "platform/scripting.h"
#include "platform/scripting_internal.h"
#include "support/short_folder.h"

namespace fs = std::filesystem;
using platform::FolderItem;
using platform::Variant;

namespace {

class ScriptingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* base = std::getenv("VM_TEST_TMP");
    ASSERT_NE(base, nullptr) << "VM_TEST_TMP is not set";
    // Short: the event socket's path must fit a sockaddr_un.
    dir_ = fs::path(base) / ("sc" + std::to_string(::getpid()) + "-" +
                             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  std::shared_ptr<FolderItem> Script(const std::string& name, const std::string& body,
                                     mode_t mode = 0755) const {
    std::string path = (dir_ / name).string();
    std::ofstream(path, std::ios::binary) << body;
    ::chmod(path.c_str(), mode);
    return std::make_shared<FolderItem>(path);
  }

  // Runs fn with standard error caught in a file; gives what was written.
  std::string CatchingStderr(const std::function<void()>& fn) const {
    std::string path = (dir_ / "stderr.log").string();
    int file = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    int saved = ::dup(STDERR_FILENO);
    ::dup2(file, STDERR_FILENO);
    fn();
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
    ::close(file);
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  // Runs the script with standard error caught; gives the result.
  std::string RunCatchingStderr(const std::shared_ptr<FolderItem>& script,
                                const std::vector<Variant>& values, std::string* err) const {
    std::string result;
    *err = CatchingStderr([&] { result = platform::ExecuteAppleScript(script, values); });
    return result;
  }

  fs::path dir_;
};

const char kPrintArgs[] = "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\0' \"$a\"; done\n";

std::vector<std::string> SplitAtNul(const std::string& s) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\0') {
      parts.push_back(s.substr(start, i - start));
      start = i + 1;
    }
  }
  EXPECT_EQ(start, s.size()) << "output does not end in NUL";
  return parts;
}

TEST_F(ScriptingTest, ValuesReachTheScriptByteForByte) {
  std::string pwned = (dir_ / "pwned").string();
  std::vector<std::string> values = {
      "with space",  "dq\"sq'",       "$(touch " + pwned + ")", "`touch " + pwned + "`",
      "-n",          "--",            "tab\there",              "line\nbreak\n",
      "",            "*",             "back\\slash\\n",         "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E",
      "semi;colon|", "  lead trail ", "\r\n",
  };
  std::vector<Variant> args(values.begin(), values.end());
  std::string out = platform::ExecuteAppleScript(Script("args", kPrintArgs), args);
  EXPECT_EQ(SplitAtNul(out), values);
  EXPECT_FALSE(fs::exists(pwned));
}

TEST_F(ScriptingTest, AValueEndsAtItsFirstNulByte) {
  std::string out = platform::ExecuteAppleScript(
      Script("args", kPrintArgs), {Variant(std::string("cut\0rest", 8)), Variant("next")});
  EXPECT_EQ(SplitAtNul(out), (std::vector<std::string>{"cut", "next"}));
}

TEST_F(ScriptingTest, ResultLosesOneFinalLineFeedOnly) {
  struct Case {
    const char* printf_arg;
    std::string result;
  } cases[] = {
      {"a\\n\\n", "a\n"}, {"a", "a"},       {"\\n", ""},         {"", ""},
      {"x\\r\\n", "x\r"}, {"\\na", "\na"}, {"a\\377b", "a\xEF\xBF\xBD" "b"},
  };
  for (const Case& c : cases) {
    auto script = Script("out", std::string("#!/bin/sh\nprintf '") + c.printf_arg + "'\n");
    EXPECT_EQ(platform::ExecuteAppleScript(script, {}), c.result) << c.printf_arg;
  }
}

TEST_F(ScriptingTest, EmptyListStandardInputAndLargeOutput) {
  EXPECT_EQ(platform::ExecuteAppleScript(Script("n", "#!/bin/sh\necho $#\n"), {}), "0");
  // Standard input is empty, not the test's own.
  EXPECT_EQ(platform::ExecuteAppleScript(Script("cat", "#!/bin/sh\ncat\necho done\n"), {}),
            "done");
  // 50 MB must come through whole without the pipe blocking the script.
  std::string big = platform::ExecuteAppleScript(
      Script("big", "#!/bin/sh\nhead -c 52428800 /dev/zero | tr '\\0' x\n"), {});
  EXPECT_EQ(big.size(), 52428800u);
  EXPECT_EQ(big.find_first_not_of('x'), std::string::npos);
}

TEST_F(ScriptingTest, FailuresGiveEmptyTextAndOneLineNamingTheScript) {
  struct Case {
    const char* label;
    std::shared_ptr<FolderItem> script;
    const char* what;
  } cases[] = {
      {"non-zero exit", Script("exit3", "#!/bin/sh\necho partial\nexit 3\n"), "status 3"},
      {"killed", Script("killed", "#!/bin/sh\necho partial\nkill -9 $$\n"), "signal 9"},
      {"missing", std::make_shared<FolderItem>((dir_ / "missing.scpt").string()), "cannot start"},
      {"not executable", Script("plain", "#!/bin/sh\necho hi\n", 0644), "cannot start"},
      {"no interpreter line", Script("noshebang", "echo hi\n"), "cannot start"},
      {"folder", std::make_shared<FolderItem>(dir_.string()), "cannot start"},
      {"a blank in its name", Script("my script", "#!/bin/sh\nexit 3\n"), "status 3"},
  };
  for (const Case& c : cases) {
    std::string err;
    EXPECT_EQ(RunCatchingStderr(c.script, {Variant("v")}, &err), "") << c.label;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << c.label << ": " << err;
    EXPECT_EQ(err.back(), '\n') << c.label;
    EXPECT_NE(err.find(c.script->NativePath()), std::string::npos) << c.label << ": " << err;
    EXPECT_NE(err.find(c.what), std::string::npos) << c.label << ": " << err;
  }
}

TEST_F(ScriptingTest, ScriptStderrPassesThroughAndSuccessAddsNothing) {
  std::string err;
  auto script = Script("warn", "#!/bin/sh\necho from-script >&2\necho result\n");
  EXPECT_EQ(RunCatchingStderr(script, {}, &err), "result");
  EXPECT_EQ(err, "from-script\n");
}

// The program ignores SIGPIPE, and a caller may ignore or block more: the
// script still starts with every signal at its default and none blocked.
TEST_F(ScriptingTest, ScriptGetsDefaultSignalsAndNoStrayDescriptors) {
  // (SIGCHLD stays: ignored, it would take the script's status away.)
  const int kSignals[] = {SIGPIPE, SIGINT, SIGQUIT, SIGHUP, SIGTERM, SIGUSR1, SIGTTOU, SIGTSTP};
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  struct sigaction old[std::size(kSignals)];
  sigset_t blocked, old_mask;
  sigemptyset(&blocked);
  for (size_t i = 0; i < std::size(kSignals); ++i) {
    ASSERT_EQ(::sigaction(kSignals[i], &ignore, &old[i]), 0);
    sigaddset(&blocked, kSignals[i]);
  }
  sigaddset(&blocked, SIGUSR2);
  sigaddset(&blocked, SIGALRM);
  sigaddset(&blocked, SIGCHLD);
  ASSERT_EQ(::pthread_sigmask(SIG_BLOCK, &blocked, &old_mask), 0);
  int stray = ::open("/dev/null", O_RDONLY);  // deliberately without close-on-exec
  ASSERT_GE(stray, 3);
  // The script is cat itself, so that the sets it shows are those exec gave
  // it (a shell would clear its mask first).
  const std::string status = platform::ExecuteAppleScript(
      Script("sets", "#!/bin/cat /proc/self/status\n"), {});
  const std::string fds = platform::ExecuteAppleScript(
      Script("fds", "#!/bin/sh\n"
                    "[ -e /proc/$$/fd/" + std::to_string(stray) + " ] && echo leaked\n"
                    "echo checked\n"),
      {});
  ::close(stray);
  ::pthread_sigmask(SIG_SETMASK, &old_mask, nullptr);
  for (size_t i = 0; i < std::size(kSignals); ++i) ::sigaction(kSignals[i], &old[i], nullptr);

  EXPECT_EQ(fds, "checked");
  std::istringstream lines(status);
  std::map<std::string, std::string> sets;
  for (std::string line; std::getline(lines, line);) {
    const size_t colon = line.find(':');
    if (colon != std::string::npos && line.compare(0, 3, "Sig") == 0)
      sets[line.substr(0, colon)] = line.substr(line.find_first_not_of(" \t", colon + 1));
  }
  ASSERT_TRUE(sets.count("SigIgn") && sets.count("SigBlk")) << status;
  EXPECT_EQ(std::stoull(sets["SigIgn"], nullptr, 16), 0u) << "ignored: " << sets["SigIgn"];
  EXPECT_EQ(std::stoull(sets["SigBlk"], nullptr, 16), 0u) << "blocked: " << sets["SigBlk"];
}

// A script that leaves a process behind holding its output: the call ends
// with the script, and gives what the script wrote, not what the process
// writes later.
TEST_F(ScriptingTest, AProcessLeftHoldingTheOutputDoesNotHoldTheCall) {
  const std::string pid_file = (dir_ / "left.pid").string();
  struct Case {
    const char* label;
    const char* before;  // what the script writes before it leaves the process behind
    std::string result;
  } cases[] = {
      {"a line", "echo before\n", "before\nafter"},
      // More than a pipe holds: read while the script runs, the rest at its end.
      {"a megabyte", "head -c 1000000 /dev/zero | tr '\\0' x\n",
       std::string(1000000, 'x') + "after"},
  };
  for (const Case& c : cases) {
    auto script = Script("leaves", std::string("#!/bin/sh\n") + c.before +
                                       "(sleep 30; echo late) &\n"
                                       "echo $! > '" + pid_file + "'\n"
                                       "echo after\n");
    const std::string out = platform::ExecuteAppleScript(script, {});
    EXPECT_TRUE(out == c.result) << c.label << ": " << out.size() << " bytes ending in \""
                                 << out.substr(out.size() - std::min<size_t>(out.size(), 20)) << "\"";
    // The process left behind, and the sleep it started, are the test's to end.
    std::ifstream in(pid_file);
    pid_t left = 0;
    ASSERT_TRUE(in >> left) << c.label;
    const pid_t group = ::getpgid(left);
    if (group > 1) ::kill(-group, SIGKILL);
  }
}

// A pipe whose reader sees its end once every writer has gone; the test
// waits on it with a deadline that only guards against a hang.
bool WritersGone(int read_fd) {
  pollfd p{read_fd, POLLIN, 0};
  return ::poll(&p, 1, 60'000) > 0 && (p.revents & POLLHUP);
}

// A script that runs too long is ended with everything it started, and
// counts as failed: empty result, one line naming the time limit.
TEST_F(ScriptingTest, AScriptThatRunsTooLongIsEndedWithItsGroup) {
  const std::string fifo = (dir_ / "held").string();
  const std::string ready = (dir_ / "ready").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const int held = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(held, 0);
  // The script and a process it starts both hold the fifo open, then wait.
  auto script = Script("hangs", "#!/bin/sh\n"
                                "echo partial\n"
                                "exec 3>'" + fifo + "'\n"
                                "sleep 1000 &\n"
                                "echo $$ > '" + ready + "'\n"
                                "exec sleep 1000\n");
  // The limit must not end the script before it is set up: a slow machine
  // gets a longer one.
  std::string result = "not run", err;
  std::chrono::milliseconds limit(250);
  for (; limit <= std::chrono::minutes(1); limit *= 2) {
    std::filesystem::remove(ready);
    std::string path = (dir_ / "stderr.log").string();
    int file = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    int saved = ::dup(STDERR_FILENO);
    ::dup2(file, STDERR_FILENO);
    result = platform::detail::ExecuteAppleScript(script, {}, limit);
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
    ::close(file);
    std::ifstream in(path, std::ios::binary);
    err.assign(std::istreambuf_iterator<char>(in), {});
    if (fs::exists(ready) && fs::file_size(ready) > 0) break;
  }
  ASSERT_TRUE(fs::exists(ready)) << "the script never got going";
  EXPECT_EQ(result, "");
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
  EXPECT_NE(err.find(script->NativePath()), std::string::npos) << err;
  EXPECT_NE(err.find("timed out after"), std::string::npos) << err;
  const bool gone = WritersGone(held);
  EXPECT_TRUE(gone) << "the script's group outlived its time limit";
  ::close(held);
  if (!gone) {
    std::ifstream in(ready);
    pid_t group = 0;
    if (in >> group && group > 1) ::kill(-group, SIGKILL);
  }
}

// A fifo the test reads, which a script and what it starts hold open for
// writing: once every writer has gone, the whole group has ended.
class HeldFifo {
 public:
  explicit HeldFifo(const fs::path& path) : path_(path.string()) {
    EXPECT_EQ(::mkfifo(path_.c_str(), 0600), 0);
    fd_ = ::open(path_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    EXPECT_GE(fd_, 0);
  }
  ~HeldFifo() {
    // A group that outlived a failed test is the test's to end; while one
    // of it holds the fifo, its id is still its own.
    std::ifstream in(path_ + ".pid");
    pid_t group = 0;
    pollfd p{fd_, POLLIN, 0};
    if (in >> group && group > 1 && !(::poll(&p, 1, 0) > 0 && (p.revents & POLLHUP)))
      ::kill(-group, SIGKILL);
    ::close(fd_);
    ::unlink(path_.c_str());
    ::unlink((path_ + ".pid").c_str());
  }
  // Shell lines that hold the fifo in the script and in a process it
  // leaves behind.
  std::string HoldLines() const {
    return "exec 3>'" + path_ + "'\nsleep 1000 &\necho $$ > '" + path_ + ".pid'\n";
  }
  bool WritersGone() const { return ::WritersGone(fd_); }

 private:
  std::string path_;
  int fd_ = -1;
};

// Output up to the ceiling is the result; one byte more, or output without
// end, ends the script with its group and counts as failed: empty result,
// one line naming the ceiling.
TEST_F(ScriptingTest, OutputPastTheCeilingEndsTheScriptWithItsGroup) {
  const size_t ceiling = 100000;
  auto writes = [](size_t n) {
    return "head -c " + std::to_string(n) + " /dev/zero | tr '\\0' x\n";
  };
  struct Case {
    const char* label;
    std::string body;
    bool passes;
    size_t x_in_result;
  } cases[] = {
      {"exactly the ceiling", writes(ceiling), true, ceiling},
      {"the ceiling's last byte a line feed", writes(ceiling - 1) + "echo\n", true, ceiling - 1},
      {"one byte more, then waits", writes(ceiling + 1) + "exec sleep 1000\n", false, 0},
      {"one byte more, then ends", writes(ceiling + 1), false, 0},
      {"a line feed past the ceiling", writes(ceiling) + "echo\n", false, 0},
      {"far more at once, then ends", writes(4 * ceiling), false, 0},
      {"without end", "exec yes 'line of output'\n", false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    HeldFifo held(dir_ / "held");
    // A failing script leaves a process behind that the group kill must end.
    auto script = Script("writes", "#!/bin/sh\n" + (c.passes ? "" : held.HoldLines()) + c.body);
    std::string err;
    // The time limit only guards against a hang: the ceiling must end it.
    std::string out;
    err = CatchingStderr([&] {
      out = platform::detail::ExecuteAppleScript(script, {}, std::chrono::minutes(2), ceiling);
    });
    if (c.passes) {
      EXPECT_EQ(out, std::string(c.x_in_result, 'x'));
      EXPECT_EQ(err, "");
      continue;
    }
    EXPECT_EQ(out, "");
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_NE(err.find(script->NativePath()), std::string::npos) << err;
    EXPECT_NE(err.find("wrote more than 100000 bytes"), std::string::npos) << err;
    EXPECT_TRUE(held.WritersGone()) << "the script's group outlived the ceiling";
  }
}

// The program's own ceiling: a script that prints without end is ended
// once it has written 512 MiB, and the program lives on.
TEST_F(ScriptingTest, AScriptThatPrintsWithoutEndIsEndedAt512MiB) {
  HeldFifo held(dir_ / "held");
  auto script = Script("yes", "#!/bin/sh\n" + held.HoldLines() +
                                  "exec yes 'a line of a document that never ends'\n");
  std::string err;
  EXPECT_EQ(RunCatchingStderr(script, {}, &err), "");
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
  EXPECT_NE(err.find(script->NativePath() + ": wrote more than 512 MiB; ended it"),
            std::string::npos)
      << err;
  EXPECT_TRUE(held.WritersGone()) << "the script's group outlived the ceiling";
}

// Started from a terminal with "stty tostop", the program is in the
// terminal's foreground; a script that writes to standard error (the
// terminal) must still run to its end, not be stopped as a background job.
TEST_F(ScriptingTest, AScriptRunsToItsEndUnderATerminalWithTostop) {
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(master, 0) << std::strerror(errno);
  ASSERT_EQ(::grantpt(master), 0);
  ASSERT_EQ(::unlockpt(master), 0);
  const std::string terminal = ::ptsname(master);
  auto script = Script("warns", "#!/bin/sh\necho to-the-terminal >&2\necho result\n");
  int result_pipe[2];
  ASSERT_EQ(::pipe2(result_pipe, O_CLOEXEC), 0);

  // A child of the test is the terminal's session leader and its
  // foreground job, as a shell would start the program.
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(result_pipe[0]);
    ::close(master);
    const int tty = ::open(terminal.c_str(), O_RDWR);
    termios mode{};
    if (::setsid() < 0 || tty < 0 || ::ioctl(tty, TIOCSCTTY, 0) != 0 ||
        ::tcgetattr(tty, &mode) != 0)
      ::_exit(10);
    mode.c_lflag |= TOSTOP;
    if (::tcsetattr(tty, TCSANOW, &mode) != 0 || ::tcsetpgrp(tty, ::getpgrp()) != 0 ||
        ::dup2(tty, STDERR_FILENO) < 0)
      ::_exit(11);
    // Stopped by SIGTTOU, the script would be ended only by this limit.
    const std::string out =
        platform::detail::ExecuteAppleScript(script, {}, std::chrono::seconds(30));
    const bool written = ::write(result_pipe[1], out.data(), out.size()) ==
                         static_cast<ssize_t>(out.size());
    ::_exit(written ? 0 : 12);
  }
  ::close(result_pipe[1]);

  // Reads what the terminal shows while the child runs (the guard only
  // catches a hang), and the result, until the child has closed both.
  std::string shown, result;
  pollfd fds[2] = {{master, POLLIN, 0}, {result_pipe[0], POLLIN, 0}};
  const auto guard = std::chrono::steady_clock::now() + std::chrono::minutes(2);
  while ((fds[0].fd >= 0 || fds[1].fd >= 0) && std::chrono::steady_clock::now() < guard) {
    if (::poll(fds, 2, 1000) <= 0) continue;
    for (pollfd& p : fds) {
      if (!p.revents) continue;
      char buffer[4096];
      const ssize_t n = ::read(p.fd, buffer, sizeof buffer);
      if (n > 0) (&p == &fds[0] ? shown : result).append(buffer, static_cast<size_t>(n));
      else if (!(n < 0 && errno == EINTR)) p.fd = -1;  // EIO: the terminal's session ended
    }
  }
  ::close(result_pipe[0]);
  ::close(master);
  if (fds[1].fd >= 0) ::kill(child, SIGKILL);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_LT(fds[1].fd, 0) << "the child hung";
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
      << "the terminal set-up failed: status " << status;
  EXPECT_EQ(result, "result");
  EXPECT_NE(shown.find("to-the-terminal"), std::string::npos) << shown;
}

// ---- Apple events ----

// A target application: listens under a signature in the event folder and
// answers the first line it gets in the way it is told.
class Listener {
 public:
  enum class Mode { kOk, kOther, kSilent, kHangUp, kOkNoLineEnd, kOkInPieces };

  Listener(const std::string& path, Mode mode) : mode_(mode) {
    fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    EXPECT_LT(path.size(), sizeof addr.sun_path) << path;
    path.copy(addr.sun_path, sizeof addr.sun_path - 1);
    EXPECT_EQ(::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0) << path;
    EXPECT_EQ(::listen(fd_, 4), 0);
    thread_ = std::thread([this] { Serve(); });
  }
  ~Listener() {
    stop_ = true;
    thread_.join();
    ::close(fd_);
  }
  std::string Received() {
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
  }

 private:
  void Serve() {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, 5000) <= 0) return;
    int client = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) return;
    if (mode_ == Mode::kHangUp) {
      ::close(client);
      return;
    }
    std::string line;
    char c;
    while (line.find('\n') == std::string::npos && ::read(client, &c, 1) == 1) line += c;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      received_ = line;
    }
    const char* answer = mode_ == Mode::kOk ? "ok\n" : mode_ == Mode::kOther ? "no\n"
                         : mode_ == Mode::kOkNoLineEnd ? "ok" : nullptr;
    if (mode_ == Mode::kOkInPieces) {
      // Each piece once the sender has read the one before (what it has not
      // read still counts against this socket: TIOCOUTQ), so that each is a
      // read of its own.
      for (const char* piece : {"o", "k", "\n"}) {
        (void)::write(client, piece, 1);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        int unread = 0;
        while (::ioctl(client, TIOCOUTQ, &unread) == 0 && unread > 0 &&
               std::chrono::steady_clock::now() < deadline)
          std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    } else if (answer) {
      (void)::write(client, answer, std::strlen(answer));
    } else {
      while (!stop_) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::close(client);
  }

  Mode mode_;
  int fd_ = -1;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::string received_;
};

// The event folder lives in a short folder of its own: a socket's path must
// fit a sockaddr_un.
class AppleEventTest : public ScriptingTest {
 protected:
  void SetUp() override {
    ScriptingTest::SetUp();
    ASSERT_FALSE(run_.empty()) << "no short folder under /tmp";
    const char* old = std::getenv("XDG_RUNTIME_DIR");
    had_runtime_ = old != nullptr;
    if (old) old_runtime_ = old;
    ::setenv("XDG_RUNTIME_DIR", run_.c_str(), 1);
    ASSERT_EQ(::mkdir((run_ / "appleevents").c_str(), 0700), 0);
    ASSERT_EQ(platform::AppleEventFolder(), (run_ / "appleevents").string());
  }
  void TearDown() override {
    if (had_runtime_)
      ::setenv("XDG_RUNTIME_DIR", old_runtime_.c_str(), 1);
    else
      ::unsetenv("XDG_RUNTIME_DIR");
    ScriptingTest::TearDown();
  }
  std::string SocketPath() const { return (run_ / "appleevents" / "ART5").string(); }

  ShortFolder short_;
  const fs::path run_{short_.path()};
  bool had_runtime_ = false;
  std::string old_runtime_;
};

TEST_F(AppleEventTest, ActivateIsDeliveredWhenTheTargetAnswersOk) {
  auto event = platform::NewAppleEvent("misc", "actv", "ART5");
  ASSERT_NE(event, nullptr);
  EXPECT_EQ(event->EventClass(), "misc");
  EXPECT_EQ(event->EventID(), "actv");
  EXPECT_EQ(event->Target(), "ART5");
  for (auto mode : {Listener::Mode::kOk, Listener::Mode::kOkNoLineEnd, Listener::Mode::kOkInPieces}) {
    SCOPED_TRACE("answer mode " + std::to_string(static_cast<int>(mode)));
    fs::remove(SocketPath());
    Listener listener(SocketPath(), mode);
    EXPECT_TRUE(event->Send());
    EXPECT_EQ(listener.Received(), "misc actv\n");
  }
}

TEST_F(AppleEventTest, AnythingButOkIsNotDelivered) {
  struct Case {
    const char* label;
    Listener::Mode mode;
  } cases[] = {{"other answer", Listener::Mode::kOther}, {"hang up", Listener::Mode::kHangUp}};
  auto old = std::signal(SIGPIPE, SIG_DFL);  // any SIGPIPE would end the test
  for (const Case& c : cases) {
    fs::remove(SocketPath());
    Listener listener(SocketPath(), c.mode);
    EXPECT_FALSE(platform::NewAppleEvent("misc", "actv", "ART5")->Send()) << c.label;
  }
  std::signal(SIGPIPE, old);
}

TEST_F(AppleEventTest, SilentTargetGivesFalseAfterAboutTwoSeconds) {
  Listener listener(SocketPath(), Listener::Mode::kSilent);
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(platform::NewAppleEvent("misc", "actv", "ART5")->Send());
  auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(1500));
  EXPECT_LT(waited, std::chrono::seconds(4));  // it gives up rather than hang
  EXPECT_EQ(listener.Received(), "misc actv\n");
}

TEST_F(AppleEventTest, NoListenerIsNotDelivered) {
  // No socket at all.
  EXPECT_FALSE(platform::NewAppleEvent("misc", "actv", "ART5")->Send());
  // A socket file left behind by a target that has gone: refused.
  int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  SocketPath().copy(addr.sun_path, sizeof addr.sun_path - 1);
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ::close(fd);
  ASSERT_TRUE(fs::exists(SocketPath()));
  EXPECT_FALSE(platform::NewAppleEvent("misc", "actv", "ART5")->Send());
  // No event folder.
  fs::remove_all(run_ / "appleevents");
  EXPECT_FALSE(platform::NewAppleEvent("misc", "actv", "ART5")->Send());
}

// A socket that listens but never accepts: a connection attempt stays
// queued, so the test can tell whether anybody knocked.
class SilentSocket {
 public:
  explicit SilentSocket(const std::string& path) {
    fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    path.copy(addr.sun_path, sizeof addr.sun_path - 1);
    EXPECT_EQ(::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0) << path;
    EXPECT_EQ(::listen(fd_, 4), 0);
  }
  ~SilentSocket() { ::close(fd_); }
  bool Knocked() const {
    pollfd p{fd_, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0;
  }

 private:
  int fd_ = -1;
};

// An event folder so deep that the socket's path does not fit a sockaddr_un:
// the event is not sent, one line on standard error names the path whole,
// and a socket at the path cut to what fits is never tried. The longest path
// that fits still carries the event.
TEST_F(AppleEventTest, ASocketPathThatDoesNotFitIsNeverCutShort) {
  const size_t most = sizeof(sockaddr_un::sun_path) - 1;
  const std::string tail = "/appleevents/ART5";
  for (size_t length : {most, most + 1, most + 60}) {
    SCOPED_TRACE(length);
    const fs::path deep = run_ / std::string(length - tail.size() - run_.string().size() - 1, 'd');
    ASSERT_EQ(::mkdir(deep.c_str(), 0700), 0);
    ASSERT_EQ(::mkdir((deep / "appleevents").c_str(), 0700), 0);
    ::setenv("XDG_RUNTIME_DIR", deep.c_str(), 1);
    const std::string path = deep.string() + tail;
    ASSERT_EQ(path.size(), length);
    bool sent = false;
    auto send = [&] { sent = platform::NewAppleEvent("misc", "actv", "ART5")->Send(); };
    if (length <= most) {
      Listener listener(path, Listener::Mode::kOk);
      EXPECT_EQ(CatchingStderr(send), "");
      EXPECT_TRUE(sent);
      EXPECT_EQ(listener.Received(), "misc actv\n");
    } else {
      SilentSocket cut(path.substr(0, most));
      const std::string err = CatchingStderr(send);
      EXPECT_FALSE(sent);
      EXPECT_FALSE(cut.Knocked()) << "a cut path names another socket";
      EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
      EXPECT_TRUE(!err.empty() && err.back() == '\n') << err;
      EXPECT_NE(err.find(path + ":"), std::string::npos) << err;
    }
    fs::remove_all(deep);
  }
}

// The event folder someone else could have made, or could listen in: no
// event goes there, and no connection is even tried.
TEST_F(AppleEventTest, EventsGoOnlyThroughAPrivateFolder) {
  const fs::path events = run_ / "appleevents";
  const fs::path elsewhere = run_ / "elsewhere";
  ASSERT_EQ(::mkdir(elsewhere.c_str(), 0700), 0);
  struct Case {
    const char* label;
    std::function<void()> make;  // makes `events`, whose sockets live in `home`
    fs::path home;
  } cases[] = {
      {"group may write", [&] { ::chmod(events.c_str(), 0770); }, events},
      {"others may write", [&] { ::chmod(events.c_str(), 0707); }, events},
      {"everybody's, sticky", [&] { ::chmod(events.c_str(), 01777); }, events},
      {"a link to a private folder",
       [&] {
         fs::remove(events);
         fs::create_directory_symlink(elsewhere, events);
       },
       elsewhere},
  };
  for (const Case& c : cases) {
    fs::remove_all(events);
    fs::remove(elsewhere / "ART5");
    ASSERT_EQ(::mkdir(events.c_str(), 0700), 0);
    c.make();
    SilentSocket target((c.home / "ART5").string());
    EXPECT_FALSE(platform::NewAppleEvent("misc", "actv", "ART5")->Send()) << c.label;
    EXPECT_FALSE(target.Knocked()) << c.label;
    std::string why;
    EXPECT_FALSE(platform::IsPrivateEventFolder(events.string(), &why)) << c.label;
  }

  // Read and search rights for others take nothing away: the folder stays
  // ours, and the event arrives.
  fs::remove_all(events);
  ASSERT_EQ(::mkdir(events.c_str(), 0700), 0);
  ::chmod(events.c_str(), 0755);
  Listener listener(SocketPath(), Listener::Mode::kOk);
  EXPECT_TRUE(platform::NewAppleEvent("misc", "actv", "ART5")->Send());
}

TEST_F(AppleEventTest, AFolderOwnedByAnotherUserIsNotUsed) {
  if (::geteuid() != 0) GTEST_SKIP() << "only root can give the event folder to another user";
  const fs::path events = run_ / "appleevents";
  ASSERT_EQ(::chown(events.c_str(), 65534, 65534), 0);
  SilentSocket target(SocketPath());
  EXPECT_FALSE(platform::NewAppleEvent("misc", "actv", "ART5")->Send());
  EXPECT_FALSE(target.Knocked());
  std::string why;
  EXPECT_FALSE(platform::IsPrivateEventFolder(events.string(), &why));
  EXPECT_NE(why.find("another user"), std::string::npos) << why;
}

}  // namespace
