// Style requests whose lists are longer than one script argument can carry
// (128 KiB on Linux): they reach the host as several requests, each within
// the limits, that together say exactly what the one request says.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>

#include "faults_support.h"
#include "standin/document.h"

#ifndef VM_STANDIN_HOST
#error "VM_STANDIN_HOST names the stand-in host"
#endif
#ifndef VM_STANDIN_SCRIPT
#error "VM_STANDIN_SCRIPT names the stand-in host script"
#endif

extern char** environ;

namespace faults {
namespace {

using Values = std::vector<std::string>;

// The kernel's limit for one argument, its NUL included.
constexpr size_t kArgumentLimit = 128 * 1024;

// A piece of `pairs` pairs of paragraphs, "ab" and "c": every "b" and every
// paragraph that begins with "a" is a match, so the lists run far beyond
// one argument.
struct DensePiece {
  std::string text;          // paragraphs joined by CR
  std::string b_positions;   // where each "b" is: "2,7,12,...,"
  std::string a_paragraphs;  // "1,3,5,...,"
};

DensePiece Dense(size_t pairs) {
  DensePiece p;
  for (size_t i = 0; i < pairs; ++i) {
    if (i) p.text += '\r';
    p.text += "ab\rc";
    p.b_positions += std::to_string(5 * i + 2) + ",";
    p.a_paragraphs += std::to_string(2 * i + 1) + ",";
  }
  return p;
}

const char kRules[] = "^a\tP\tp\nb\tB\n";

class LongRequestTest : public FaultTest {
 protected:
  // Runs the rule set "dense" against the content; gives the calls after
  // getcontents.
  std::vector<ScriptCall> RunDense() {
    WriteRuleSet("dense.txt", kRules);
    Reactivate();
    ClearCalls();
    EXPECT_TRUE(ClickRow("dense"));
    auto calls = Calls();
    EXPECT_FALSE(calls.empty());
    if (!calls.empty()) calls.erase(calls.begin());
    return calls;
  }

  // Each call's values fit, its lists hold whole entries, and the calls of
  // each script join to the whole lists, every other value unchanged.
  void ExpectRunsOf(const std::vector<ScriptCall>& calls, const DensePiece& piece) {
    Values joined_ps(1), joined_cs(2);
    size_t ps = 0, cs = 0;
    for (const ScriptCall& call : calls) {
      const bool para = call.script == "applyPS.scpt";
      const size_t lists = para ? 1 : 2;
      (para ? ps : cs)++;
      ASSERT_EQ(call.values.size(), lists + 4) << call.script;
      size_t entries = 0;
      for (size_t k = 0; k < lists; ++k) {
        const std::string& list = call.values[k];
        EXPECT_LT(list.size(), kArgumentLimit) << call.script;
        ASSERT_FALSE(list.empty()) << call.script;
        EXPECT_EQ(list.back(), ',') << call.script << ": a list ends with a whole entry";
        const size_t n = static_cast<size_t>(std::count(list.begin(), list.end(), ','));
        if (k == 0) entries = n;
        EXPECT_EQ(n, entries) << "the i-th start goes with the i-th end";
        (para ? joined_ps : joined_cs)[k] += list;
      }
      const Values rest(call.values.begin() + static_cast<long>(lists), call.values.end());
      EXPECT_EQ(rest, (Values{para ? "P" : "B", "A", "B", "1"}));
    }
    EXPECT_GE(ps, 2u);
    EXPECT_GE(cs, 2u);
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.front().script, "applyPS.scpt") << "the rules' order";
    EXPECT_EQ(calls.back().script, "applyCS.scpt") << "the rules' order";
    EXPECT_TRUE(joined_ps[0] == piece.a_paragraphs);
    EXPECT_TRUE(joined_cs[0] == piece.b_positions);
    EXPECT_TRUE(joined_cs[1] == piece.b_positions);
  }
};

TEST_F(LongRequestTest, EachCallFitsAndTheCallsJoinToTheWholeLists) {
  Start();
  const DensePiece piece = Dense(40'000);
  ASSERT_GT(piece.b_positions.size(), kArgumentLimit);
  ASSERT_GT(piece.a_paragraphs.size(), kArgumentLimit);
  SetContent("A/B:" + piece.text);
  std::string err;
  std::vector<ScriptCall> calls;
  err = CaptureStderr([&] { calls = RunDense(); });
  EXPECT_EQ(err, "");
  ExpectRunsOf(calls, piece);

  // A short list still goes whole, in one call.
  SetContent("A/B:ab\rc");
  calls = RunDense();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].values, (Values{"1,", "P", "A", "B", "1"}));
  EXPECT_EQ(calls[1].values, (Values{"2,", "2,", "B", "A", "B", "1"}));
}

// With a small stack limit the kernel allows 128 KiB for all arguments and
// the environment together, not for each argument.
TEST_F(LongRequestTest, AllValuesOfACallFitASmallStackLimit) {
  Start();
  const DensePiece piece = Dense(40'000);
  SetContent("A/B:" + piece.text);
  const ChildResult child = RunInChild(root, [&] {
    rlimit stack{512 * 1024, 512 * 1024};
    rlimit now{};
    if (::getrlimit(RLIMIT_STACK, &now) == 0 && now.rlim_max < stack.rlim_max) return 77;
    if (::setrlimit(RLIMIT_STACK, &stack) != 0) return 77;
    WriteRuleSet("dense.txt", kRules);
    Reactivate();
    ClearCalls();
    return ClickRow("dense") ? 0 : 1;
  });
  if (child.status == 77) GTEST_SKIP() << "the stack limit cannot be set to 512 KiB here";
  ASSERT_EQ(child.status, 0) << child.err;
  EXPECT_EQ(child.err, "");
  auto calls = Calls();
  ASSERT_FALSE(calls.empty());
  calls.erase(calls.begin());
  ExpectRunsOf(calls, piece);
  for (const ScriptCall& call : calls) {
    size_t all = 0;
    for (const std::string& v : call.values) all += v.size();
    EXPECT_LT(all, kArgumentLimit) << call.script;
  }
}

// ---- through the stand-in host ----------------------------------------------------

// The stand-in host on a document of its own, in a short private runtime
// folder (a socket's path must fit a sockaddr_un).
class StandinHost {
 public:
  StandinHost(const std::string& document, const std::string& saved) {
    char dir[] = "/tmp/vm-lr-XXXXXX";
    if (!::mkdtemp(dir)) return;
    runtime_ = dir;
    ::setenv("XDG_RUNTIME_DIR", runtime_.c_str(), 1);
    std::vector<std::string> args = {VM_STANDIN_HOST, "--headless", "--quiet", "--save", saved,
                                     document};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    if (::posix_spawn(&pid_, VM_STANDIN_HOST, &fa, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&fa);
  }
  ~StandinHost() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
    std::error_code ec;
    fs::remove_all(runtime_, ec);
  }

  // Waits until the host accepts connections; false when it ended instead.
  bool Ready() {
    const std::string path = runtime_ + "/appleevents/ART5";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (pid_ > 0 && std::chrono::steady_clock::now() < deadline) {
      const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
      sockaddr_un addr{};
      addr.sun_family = AF_UNIX;
      path.copy(addr.sun_path, sizeof addr.sun_path - 1);
      const bool up = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
      ::close(fd);
      if (up) return true;
      if (::waitpid(pid_, nullptr, WNOHANG) == pid_) pid_ = -1;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
  }

 private:
  std::string runtime_;
  pid_t pid_ = -1;
};

TEST_F(LongRequestTest, TheHostStylesTheDocumentAsForOneRequest) {
  const DensePiece piece = Dense(40'000);
  std::string document = "=== A/B\n";
  for (char c : piece.text) document += c == '\r' ? '\n' : c;
  document += '\n';
  const std::string document_file = root + "/document.txt";
  const std::string saved_file = root + "/saved.txt";
  WriteFile(document_file, document);

  // What the host makes of the rules' two requests, each sent whole.
  standin::Document expected;
  std::string error;
  ASSERT_TRUE(standin::Document::Parse(document, &expected, &error)) << error;
  ASSERT_TRUE(expected.ApplyParagraphStyle(piece.a_paragraphs, "P", "A", "B", "1").ok);
  ASSERT_TRUE(
      expected.ApplyCharacterStyle(piece.b_positions, piece.b_positions, "B", "A", "B", "1").ok);

  for (const char* script : {"getcontents.scpt", "applyCS.scpt", "applyPS.scpt"}) {
    fs::remove(resources + "/" + script);
    fs::copy_file(VM_STANDIN_SCRIPT, resources + "/" + script);
  }
  StandinHost host(document_file, saved_file);
  ASSERT_TRUE(host.Ready());
  Start();
  WriteRuleSet("dense.txt", kRules);
  Reactivate();
  std::string err;
  err = CaptureStderr([&] { ASSERT_TRUE(ClickRow("dense")); });
  EXPECT_EQ(err, "");
  const std::string saved = ReadFile(saved_file);
  EXPECT_EQ(Occurrences(saved, "styles \"B\""), 40'000u);
  EXPECT_TRUE(saved == expected.Saved()) << "the saved document differs";
}

}  // namespace
}  // namespace faults
