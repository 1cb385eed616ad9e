// The host check at start-up: the activate event to "ART5", and the one
// message when it is not delivered.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "app/main_window.h"
#include "host/host_scripts.h"
#include "platform/headless/driver.h"
#include "platform/text.h"
#include "support/app_fixture.h"

namespace fs = std::filesystem;

namespace {

// A host on <folder>/ART5 that reads one line per connection and answers
// with `answer` (nothing at all when it is empty).
class Listener {
 public:
  Listener(const std::string& folder, std::string answer) : answer_(std::move(answer)) {
    fs::create_directories(folder);
    fs::permissions(folder, fs::perms::owner_all);  // events go only through a private folder
    fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const std::string path = folder + "/ART5";
    EXPECT_LT(path.size(), sizeof addr.sun_path);
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    EXPECT_EQ(bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0) << path;
    EXPECT_EQ(listen(fd_, 4), 0);
    thread_ = std::thread([this] { Serve(); });
  }
  ~Listener() {
    stop_ = true;
    thread_.join();
    close(fd_);
  }
  std::vector<std::string> Requests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }

 private:
  void Serve() {
    while (!stop_) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, 20) <= 0) continue;
      const int conn = accept(fd_, nullptr, nullptr);
      if (conn < 0) continue;
      std::string line;
      char c;
      pollfd q{conn, POLLIN, 0};
      while (poll(&q, 1, 1000) > 0 && read(conn, &c, 1) == 1 && c != '\n') line += c;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back(line);
      }
      if (!answer_.empty()) (void)!write(conn, answer_.data(), answer_.size());
      close(conn);
    }
  }

  std::string answer_;
  int fd_ = -1;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  std::mutex mutex_;
  std::vector<std::string> requests_;
};

class HostCheckTest : public AppFixture {
 protected:
  void SetUp() override {
    AppFixture::SetUp();
    // A socket's path must fit a sockaddr_un, so the event folder lives in
    // a short private folder of its own.
    char dir[] = "/tmp/vm-hc-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    events_root_ = dir;
    setenv("XDG_RUNTIME_DIR", events_root_.c_str(), 1);
  }
  void TearDown() override {
    AppFixture::TearDown();
    fs::remove_all(events_root_);
  }
  std::string EventFolder() const { return events_root_ + "/appleevents"; }
  std::string Start() {
    return CaptureStderr([&] { StartUp(); });
  }

  std::string events_root_;
};

const std::string kMessage = "Illustratorを起動してください。";

TEST_F(HostCheckTest, RunningHostGetsTheActivateEventAndNoMessage) {
  Listener host(EventFolder(), "ok\n");
  const std::string err = Start();
  EXPECT_TRUE(platform::headless::Messages().empty());
  EXPECT_EQ(err.find(kMessage), std::string::npos) << err;
  EXPECT_EQ(host.Requests(), (std::vector<std::string>{"misc actv"}));
}

struct Absent {
  const char* name;
  const char* answer;  // nullptr: no listener at all
};

const Absent kAbsentHosts[] = {
    {"no listener", nullptr},
    {"answers something else", "no\n"},
    {"answers OK in capitals", "OK\n"},
    {"hangs up without an answer", ""},
};

TEST_F(HostCheckTest, HostNotRunningShowsTheMessageOnce) {
  for (const Absent& a : kAbsentHosts) {
    SCOPED_TRACE(a.name);
    platform::RuntimeResetForTesting();
    std::unique_ptr<Listener> host;
    if (a.answer) host = std::make_unique<Listener>(EventFolder(), a.answer);
    const std::string err = Start();
    EXPECT_EQ(platform::headless::Messages(), (std::vector<std::string>{kMessage}));
    EXPECT_NE(err.find(kMessage), std::string::npos) << err;
    if (host) {
      EXPECT_EQ(host->Requests().size(), 1u);
    }
    ShutDown();
    host.reset();
    fs::remove_all(EventFolder());
  }
}

TEST_F(HostCheckTest, StaleSocketFileCountsAsNoHost) {
  {
    Listener gone(EventFolder(), "ok\n");
  }  // closed, its socket file left behind
  ASSERT_TRUE(fs::exists(EventFolder() + "/ART5"));
  Start();
  EXPECT_EQ(platform::headless::Messages(), (std::vector<std::string>{kMessage}));
}

TEST_F(HostCheckTest, WindowWorksAfterTheMessage) {
  WriteRuleSet("Titles.txt", "a\tHead");
  SetContent("A/B:a");
  Start();
  ASSERT_EQ(platform::headless::Messages().size(), 1u);
  auto window = Window1();
  ASSERT_EQ(window->Listbox1()->ListCount(), 1);
  EXPECT_EQ(window->Listbox1()->Cell(0, 0), "Titles");
  ClearCalls();
  window->Listbox1()->UserClickCell(0, 0);
  const auto calls = Calls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[1].script, "applyCS.scpt");
  EXPECT_EQ(calls[1].values[2], "Head");
  // Activations and runs ask the host nothing more.
  window->UserDeactivate();
  window->UserActivate();
  EXPECT_EQ(platform::headless::Messages().size(), 1u);
  window->AI_ACCTIVE();
  EXPECT_EQ(platform::headless::Messages().size(), 2u) << "once per check";
}

TEST(HostCheckMessage, IsTwentyOneCharactersAndFortyOneBytes) {
  EXPECT_EQ(std::string(host::kStartHostMessage), kMessage);
  EXPECT_EQ(platform::Len(host::kStartHostMessage), 21);
  EXPECT_EQ(std::strlen(host::kStartHostMessage), 41u);
  EXPECT_EQ(platform::Right(host::kStartHostMessage, 1), "。");
}

}  // namespace
