// The stand-in host and its scripts as separate processes, talking over the
// event socket in a private runtime folder.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/scripting.h"
#include "support/short_folder.h"

extern char** environ;

namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFile(const std::string& path, const std::string& data) {
  std::ofstream(path, std::ios::binary) << data;
}

struct Result {
  int status = -1;  // exit code, or -1 when killed
  std::string out, err;
};

const char kDocument[] =
    "=== 1/1\n"
    "第1章 日本語\n"
    "価格は1,280円\n"
    "=== 2/x\n"
    "Note: abc\n";

class StandinProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* base = std::getenv("VM_TEST_TMP");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/si-XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    // A short private folder: the socket's path must fit a sockaddr_un.
    runtime_ = short_.path();
    ASSERT_FALSE(runtime_.empty()) << "no short folder under /tmp";
    socket_ = runtime_ + "/appleevents/ART5";
    doc_ = dir_ + "/doc.txt";
    saved_ = dir_ + "/saved.txt";
    WriteFile(doc_, kDocument);
    // For platform::AppleEvent in this process; each test runs in a
    // process of its own.
    setenv("XDG_RUNTIME_DIR", runtime_.c_str(), 1);
  }

  void TearDown() override {
    if (host_ > 0) {
      kill(host_, SIGKILL);
      waitpid(host_, nullptr, 0);
    }
  }

  // Starts `program` with `args`, XDG_RUNTIME_DIR pointing at our folder
  // and `extra_env`; stdout and stderr go to files named after `tag`.
  pid_t Spawn(const std::string& program, const std::vector<std::string>& args, const std::string& tag,
              const std::vector<std::string>& extra_env = {}) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
      if (std::strncmp(*e, "XDG_RUNTIME_DIR=", 16) != 0 && std::strncmp(*e, "QT_QPA_PLATFORM=", 16) != 0)
        env.push_back(*e);
    env.push_back("XDG_RUNTIME_DIR=" + runtime_);
    for (const std::string& e : extra_env) env.push_back(e);
    std::vector<char*> envp, argv;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<std::string> all = {program};
    all.insert(all.end(), args.begin(), args.end());
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 1, (dir_ + "/" + tag + ".out").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&fa, 2, (dir_ + "/" + tag + ".err").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, program.c_str(), &fa, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&fa);
    EXPECT_EQ(rc, 0) << program;
    return rc == 0 ? pid : -1;
  }

  Result Wait(pid_t pid, const std::string& tag) {
    Result r;
    int status = 0;
    if (pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status)) r.status = WEXITSTATUS(status);
    r.out = ReadFile(dir_ + "/" + tag + ".out");
    r.err = ReadFile(dir_ + "/" + tag + ".err");
    return r;
  }

  Result Script(const std::string& name, const std::vector<std::string>& args) {
    const std::string tag = "script" + std::to_string(++scripts_);
    return Wait(Spawn(std::string(VM_STANDIN_RESOURCES) + "/" + name, args, tag), tag);
  }

  // Starts the host and waits for its socket; false when it ended instead.
  bool StartHost(const std::vector<std::string>& extra_env = {}, std::vector<std::string> args = {"--headless"}) {
    args.insert(args.end(), {"--save", saved_, doc_});
    host_ = Spawn(VM_STANDIN_HOST, args, "host", extra_env);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
      if (Listening()) return true;
      if (waitpid(host_, nullptr, WNOHANG) == host_) {
        host_ = -1;
        return false;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
  }

  // Whether something accepts connections on the socket (a stale socket
  // file does not).
  bool Listening() {
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strcpy(addr.sun_path, socket_.c_str());
    const bool up = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    close(fd);
    return up;
  }

  // Ends the host as a signal would, and gives how it ended.
  Result StopHost(int sig = SIGTERM) {
    kill(host_, sig);
    Result r = Wait(host_, "host");
    host_ = -1;
    return r;
  }

  ShortFolder short_;
  std::string dir_, runtime_, socket_, doc_, saved_;
  pid_t host_ = -1;
  int scripts_ = 0;
};

TEST_F(StandinProcessTest, ScriptsFetchAndStyleThroughTheRunningHost) {
  ASSERT_TRUE(StartHost()) << ReadFile(dir_ + "/host.err");
  Result r = Script("getcontents.scpt", {});
  EXPECT_EQ(r.status, 0) << r.err;
  // One final LF, which the program's script runner drops.
  EXPECT_EQ(r.out, "1/1:第1章 日本語\r価格は1,280円<t@ke>2/x:Note: abc\n");

  // A style name with a newline, a tab, quotes and Japanese reaches the host
  // whole, as one argument.
  const std::string odd = "強\n\t\"調\"";
  r = Script("applyCS.scpt", {"5,13,", "7,15,", odd, "1", "1", "0"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.rfind("applied", 0), 0u) << r.out;
  r = Script("applyCS.scpt", {"6,", "6,", "B", "1", "1", "0"});
  EXPECT_EQ(r.status, 0);
  r = Script("applyPS.scpt", {"1,", "Head", "2", "x", "1"});
  EXPECT_EQ(r.status, 0);

  const std::string expected =
      "# stand-in host: styled document\n"
      "piece \"1\" \"1\"\n"
      "  paragraph 1 style - text \"第1章 日本語\"\n"
      "    chars 5-5 \"日\" styles \"強\\n\\t\\\"調\\\"\"\n"
      "    chars 6-6 \"本\" styles \"強\\n\\t\\\"調\\\"\" \"B\"\n"
      "    chars 7-7 \"語\" styles \"強\\n\\t\\\"調\\\"\"\n"
      "  paragraph 2 style - text \"価格は1,280円\"\n"
      "    chars 13-15 \",28\" styles \"強\\n\\t\\\"調\\\"\"\n"
      "piece \"2\" \"x\"\n"
      "  paragraph 1 style \"Head\" text \"Note: abc\"\n";
  EXPECT_EQ(ReadFile(saved_), expected);  // saved after each applied request

  // A malformed request is answered, refused on the host's stderr, and
  // leaves the document as it was.
  r = Script("applyCS.scpt", {"1,2,", "1,", "X", "1", "1", "0"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind("refused:", 0), 0u) << r.out;
  r = Script("applyPS.scpt", {"1,", "X", "1", "1"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind("refused:", 0), 0u) << r.out;

  const Result host = StopHost();
  EXPECT_EQ(host.status, 0) << host.err;
  EXPECT_NE(host.err.find("refused: applyCS: 2 starts but 1 ends; nothing changed"), std::string::npos)
      << host.err;
  EXPECT_NE(host.err.find("takes 5 arguments, not 4"), std::string::npos);
  EXPECT_EQ(ReadFile(saved_), expected);
  // The host takes its socket away when it ends.
  struct stat st;
  EXPECT_NE(lstat(socket_.c_str(), &st), 0);
}

TEST_F(StandinProcessTest, ActivateEventIsAnsweredOnlyWhileTheHostRuns) {
  EXPECT_FALSE(platform::NewAppleEvent("misc", "actv", "ART5")->Send());
  ASSERT_TRUE(StartHost());
  EXPECT_TRUE(platform::NewAppleEvent("misc", "actv", "ART5")->Send());
  EXPECT_FALSE(platform::NewAppleEvent("misc", "quit", "ART5")->Send());
  EXPECT_EQ(StopHost(SIGINT).status, 0);
  EXPECT_FALSE(platform::NewAppleEvent("misc", "actv", "ART5")->Send());
}

// An event line is answered however it arrives: each piece is sent once the
// host has read the one before, so that every piece is a read of its own.
TEST_F(StandinProcessTest, EventLinesAreAnsweredHoweverTheyArrive) {
  struct Case {
    const char* label;
    std::vector<std::string> pieces;
    std::string answer;
  } cases[] = {
      {"whole", {"misc actv\n"}, "ok\n"},
      {"in pieces", {"mi", "sc ac", "tv", "\n"}, "ok\n"},
      {"CRLF, the LF alone", {"misc actv\r", "\n"}, "ok\n"},
      {"another event, in pieces", {"misc ", "quit\n"}, "unknown event\n"},
  };
  ASSERT_TRUE(StartHost()) << ReadFile(dir_ + "/host.err");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strcpy(addr.sun_path, socket_.c_str());
    ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    for (const std::string& piece : c.pieces) {
      ASSERT_EQ(send(fd, piece.data(), piece.size(), MSG_NOSIGNAL), static_cast<ssize_t>(piece.size()));
      // Bytes the host has not read yet still count against this socket
      // (TIOCOUTQ, which Linux also calls SIOCOUTQ; where a socket does not
      // answer it, the pieces may merge).
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
      int unread = 0;
      while (ioctl(fd, TIOCOUTQ, &unread) == 0 && unread > 0 &&
             std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      ASSERT_EQ(unread, 0) << "the host did not read \"" << piece << "\" within 10 s";
    }
    std::string answer;
    char buf[64];
    for (ssize_t n; (n = recv(fd, buf, sizeof buf, 0)) > 0;) answer.append(buf, static_cast<size_t>(n));
    close(fd);
    EXPECT_EQ(answer, c.answer);
  }
  const Result host = StopHost();
  EXPECT_EQ(host.status, 0) << host.err;
  EXPECT_EQ(host.err.find("a client left"), std::string::npos) << host.err;
}

TEST_F(StandinProcessTest, ScriptWithoutHostFailsWithAMessage) {
  for (const char* name : {"getcontents.scpt", "applyCS.scpt", "applyPS.scpt"}) {
    SCOPED_TRACE(name);
    const Result r = Script(name, {"1,", "1,", "s", "1", "1", "0"});
    EXPECT_NE(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("no stand-in host is running"), std::string::npos) << r.err;
  }
}

TEST_F(StandinProcessTest, OnlyOneHostClaimsTheSocketAndAStaleOneIsReplaced) {
  // A socket left by a host that died: bound, never listening.
  ASSERT_EQ(mkdir((runtime_ + "/appleevents").c_str(), 0700), 0);
  const int stale = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strcpy(addr.sun_path, socket_.c_str());
  ASSERT_EQ(bind(stale, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  close(stale);

  ASSERT_TRUE(StartHost()) << ReadFile(dir_ + "/host.err");
  EXPECT_TRUE(platform::NewAppleEvent("misc", "actv", "ART5")->Send());

  const Result second = Wait(Spawn(VM_STANDIN_HOST, {"--headless", doc_}, "second"), "second");
  EXPECT_EQ(second.status, 1);
  EXPECT_NE(second.err.find("another stand-in host is running"), std::string::npos) << second.err;
  EXPECT_TRUE(platform::NewAppleEvent("misc", "actv", "ART5")->Send());  // the first one still serves
  EXPECT_EQ(StopHost().status, 0);
}

TEST_F(StandinProcessTest, AFileInTheSocketsPlaceIsLeftAlone) {
  ASSERT_EQ(mkdir((runtime_ + "/appleevents").c_str(), 0700), 0);
  WriteFile(socket_, "mine");
  EXPECT_FALSE(StartHost());
  const Result host = Wait(-1, "host");
  EXPECT_NE(host.err.find("is not a socket"), std::string::npos) << host.err;
  EXPECT_EQ(ReadFile(socket_), "mine");
}

// The host makes its event folder private, and will not listen in one that
// anybody else may write to: the program would never send there.
TEST_F(StandinProcessTest, ListensOnlyInAPrivateEventFolder) {
  const std::string events = runtime_ + "/appleevents";
  ASSERT_EQ(mkdir(events.c_str(), 0700), 0);
  ASSERT_EQ(chmod(events.c_str(), 0777), 0);
  EXPECT_FALSE(StartHost());
  const Result refused = Wait(-1, "host");
  EXPECT_NE(refused.err.find("cannot carry events (others may write to it)"), std::string::npos)
      << refused.err;
  EXPECT_FALSE(Listening());

  ASSERT_EQ(rmdir(events.c_str()), 0);
  ASSERT_TRUE(StartHost()) << ReadFile(dir_ + "/host.err");
  struct stat st;
  ASSERT_EQ(lstat(events.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0700u);
  EXPECT_TRUE(platform::NewAppleEvent("misc", "actv", "ART5")->Send());
  EXPECT_EQ(StopHost().status, 0);
}

TEST_F(StandinProcessTest, AStalledClientDoesNotHoldUpOthers) {
  ASSERT_TRUE(StartHost());
  const int slow = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strcpy(addr.sun_path, socket_.c_str());
  ASSERT_EQ(connect(slow, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  const char part[] = "script applyCS 6\n2\n1,";
  ASSERT_GT(send(slow, part, sizeof part - 1, MSG_NOSIGNAL), 0);

  const Result r = Script("getcontents.scpt", {});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.rfind("1/1:", 0), 0u);
  close(slow);
  EXPECT_EQ(StopHost().status, 0);
}

TEST_F(StandinProcessTest, RefusesAMissingOrBrokenDocument) {
  WriteFile(doc_, "no header\n");
  EXPECT_FALSE(StartHost());
  Result host = Wait(-1, "host");
  EXPECT_NE(host.err.find("line 1:"), std::string::npos) << host.err;
  unlink(doc_.c_str());
  EXPECT_FALSE(StartHost());
  host = Wait(-1, "host");
  EXPECT_NE(host.err.find("cannot open"), std::string::npos) << host.err;
}

#ifdef VM_STANDIN_HAS_QT
// The window build: its socket runs in Qt's event loop.
TEST_F(StandinProcessTest, WindowedHostServesAndSavesOnSignal) {
  ASSERT_TRUE(StartHost({"QT_QPA_PLATFORM=offscreen"}, {})) << ReadFile(dir_ + "/host.err");
  EXPECT_TRUE(platform::NewAppleEvent("misc", "actv", "ART5")->Send());
  Result r = Script("applyPS.scpt", {"2,", "本文", "1", "1", "0"});
  EXPECT_EQ(r.status, 0) << r.err;
  r = Script("getcontents.scpt", {});
  EXPECT_EQ(r.out.rfind("1/1:第1章", 0), 0u) << r.out;
  const Result host = StopHost();
  EXPECT_EQ(host.status, 0) << host.err;
  EXPECT_NE(ReadFile(saved_).find("paragraph 2 style \"本文\" text \"価格は1,280円\""), std::string::npos);
}
#endif

}  // namespace
