// A whole styling run (50 pieces, 100 rules: 5,000 style requests and one
// getcontents) with a host script that answers at once, beside a bare
// posix_spawn + waitpid of the same script with similar arguments. Before
// timing, one run with the script's log on shows that every request reached
// the script with its own values. Runs and spawn batches alternate over 7
// rounds, and the last line gives the median ratio of the run's time per
// request to the bare spawn's time.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <iterator>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/main_window.h"
#include "app/startup.h"
#include "platform/files.h"
#include "platform/runtime.h"

#ifndef VM_BENCH_SCRIPT
#error "VM_BENCH_SCRIPT names the host script stand-in"
#endif

extern char** environ;

namespace fs = std::filesystem;

namespace {

constexpr int kPieces = 50;
constexpr int kRules = 100;
constexpr int kRequests = kPieces * kRules;
constexpr int kSpawnBatch = kRequests + 1;  // as many processes as a run starts
constexpr int kRounds = 7;

const char* const kWords[] = {"river", "garden", "window", "silver", "market", "pattern",
                              "style", "paragraph", "the",   "of",     "and",    "water",
                              "東京",  "日本語",    "文字",  "段落",   "書式",   "スタイル"};

struct Setup {
  std::string root, resources, content;
  std::vector<std::string> layers, ids;  // each piece's two address fields
  std::vector<std::string> patterns, texts;
  std::vector<bool> paragraph;
};

void Write(const std::string& path, const std::string& bytes) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

// A bundle whose Resources hold the quick script under the three names, a
// rule set of 100 rules beside it and the content of 50 pieces.
Setup MakeBundle() {
  char dir[] = "/tmp/vm-bench-XXXXXX";
  if (!mkdtemp(dir)) {
    std::perror("mkdtemp");
    std::exit(2);
  }
  Setup s;
  s.root = dir;
  s.resources = s.root + "/Vellowmark.app/Contents/Resources";
  s.content = s.root + "/content.txt";
  fs::create_directories(s.resources);
  fs::create_directories(s.root + "/Vellowmark.app/Contents/MacOS");
  for (const char* name : {"getcontents.scpt", "applyCS.scpt", "applyPS.scpt"})
    fs::copy_file(VM_BENCH_SCRIPT, s.resources + "/" + name);

  std::mt19937 rng(11);
  const size_t words = std::size(kWords);
  std::string rules;
  for (int i = 0; i < kRules; ++i) {
    std::string pattern = kWords[rng() % words];
    if (i % 7 == 0) pattern = "(" + pattern + "|" + kWords[rng() % words] + ")";
    if (i % 11 == 0) pattern = "[0-9]+";
    rules += pattern + "\tStyle " + std::to_string(i) + (i % 5 == 0 ? "\tp" : "") + "\n";
    s.patterns.push_back(pattern);
    s.paragraph.push_back(i % 5 == 0);
  }
  Write(s.root + "/reglist/bench.txt", rules);

  std::string content;
  for (int p = 0; p < kPieces; ++p) {
    if (p) content += "<t@ke>";
    s.layers.push_back("layer" + std::to_string(p % 4));
    s.ids.push_back(std::to_string(p));
    content += s.layers.back() + "/" + s.ids.back() + ":";
    std::string text;
    for (int para = 0; para < 4; ++para) {
      if (para) text += '\r';
      for (int w = 0; w < 12; ++w) {
        text += kWords[rng() % words];
        text += w % 5 == 4 ? " " + std::to_string(rng() % 1000) + " " : " ";
      }
    }
    content += text;
    s.texts.push_back(text);
  }
  Write(s.content, content);

  setenv("XDG_CONFIG_HOME", (s.root + "/config").c_str(), 1);
  setenv("XDG_RUNTIME_DIR", (s.root + "/run").c_str(), 1);
  setenv("VM_RECORD_CONTENT", s.content.c_str(), 1);
  unsetenv("VM_RECORD_LOG");  // nothing logged: the script answers at once
  platform::SetExecutablePathForTesting(s.root + "/Vellowmark.app/Contents/MacOS/Vellowmark");
  return s;
}

// Start-up as the program runs it; the host check's message is not wanted
// among the figures.
void StartProgram() {
  std::fflush(stderr);
  const int saved = dup(2);
  const int null = open("/dev/null", O_WRONLY);
  dup2(null, 2);
  platform::RuntimeInit();
  initialize();
  platform::RuntimeSetExceptionHelper(&CallFunctionWithExceptionHandling);
  platform::RunFrameworkInitialization(&Startup);
  std::fflush(stderr);
  dup2(saved, 2);
  close(saved);
  close(null);
}

// One bare spawn-and-wait of the script, with arguments like a request's.
void BareSpawn(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid;
  if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) std::abort();
  int status;
  while (waitpid(pid, &status, 0) < 0) {
  }
}

// The calls the recording script logged: each its script's file name and
// its values.
std::vector<std::vector<std::string>> ReadCalls(const std::string& log) {
  std::ifstream in(log, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::string> fields;
  for (size_t at = 0; at < bytes.size();) {
    const size_t nul = bytes.find('\0', at);
    if (nul == std::string::npos) break;
    fields.push_back(bytes.substr(at, nul - at));
    at = nul + 1;
  }
  std::vector<std::vector<std::string>> calls;
  for (size_t i = 0; i + 1 < fields.size();) {
    const size_t count = std::stoul(fields[i + 1]);
    std::vector<std::string> call = {fields[i]};
    for (size_t k = 0; k < count && i + 2 + k < fields.size(); ++k) call.push_back(fields[i + 2 + k]);
    calls.push_back(std::move(call));
    i += 2 + count;
  }
  return calls;
}

// One run with the script's log on: the contents asked for once, then one
// request per piece and rule, in that order, each with the lists of its
// rule in its piece, its style and its piece's address.
bool EveryRequestReachedTheScript(const Setup& setup, const std::shared_ptr<class Window1>& window) {
  const std::string log = setup.root + "/calls.log";
  setenv("VM_RECORD_LOG", log.c_str(), 1);
  window->MainScpt("bench.txt");
  unsetenv("VM_RECORD_LOG");
  const auto calls = ReadCalls(log);
  fs::remove(log);
  if (calls.size() != static_cast<size_t>(kRequests) + 1 || calls[0][0] != "getcontents.scpt") {
    std::fprintf(stderr, "the script saw %zu calls, not %d\n", calls.size(), kRequests + 1);
    return false;
  }
  size_t i = 1;
  for (int p = 0; p < kPieces; ++p) {
    const std::string& text = setup.texts[p];
    for (int r = 0; r < kRules; ++r, ++i) {
      std::vector<std::string> expected;
      if (setup.paragraph[r]) {
        expected = {"applyPS.scpt", window->getRegParaPos(text, setup.patterns[r])};
      } else {
        const std::string lists = window->getRegPos(text, setup.patterns[r]);
        const size_t split = lists.find("<>");
        expected = {"applyCS.scpt", lists.substr(0, split), lists.substr(split + 2)};
      }
      expected.push_back("Style " + std::to_string(r));
      expected.push_back(setup.layers[p]);
      expected.push_back(setup.ids[p]);
      const std::vector<std::string>& got = calls[i];
      // The last value is the clearing flag, whatever the preferences hold.
      if (got.size() != expected.size() + 1 ||
          !std::equal(expected.begin(), expected.end(), got.begin())) {
        std::fprintf(stderr, "request %zu (piece %d, rule %d) did not reach the script as made\n",
                     i, p, r);
        return false;
      }
    }
  }
  return true;
}

// Keeps each run's real time per iteration, in seconds.
class KeepingReporter : public benchmark::ConsoleReporter {
 public:
  KeepingReporter() : ConsoleReporter(isatty(1) ? OO_Defaults : OO_Tabular) {}
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs)
      if (run.iterations > 0)
        seconds[run.run_name.function_name] =
            run.real_accumulated_time / static_cast<double>(run.iterations);
  }
  std::map<std::string, double> seconds;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  const Setup setup = MakeBundle();
  StartProgram();
  auto window = Window1();

  // The run must make every request, or the comparison means nothing: the
  // background hook counts one pass per line, per request and per piece,
  // besides the matchers' own passes, which are counted here alone.
  {
    uint64_t expected = kRules + kRequests + kPieces;
    for (const std::string& text : setup.texts) {
      for (size_t r = 0; r < setup.patterns.size(); ++r) {
        const uint64_t before = platform::RuntimeBackgroundTaskCount();
        if (setup.paragraph[r]) {
          window->getRegParaPos(text, setup.patterns[r]);
        } else {
          window->getRegPos(text, setup.patterns[r]);
        }
        expected += platform::RuntimeBackgroundTaskCount() - before;
      }
    }
    const uint64_t before = platform::RuntimeBackgroundTaskCount();
    window->MainScpt("bench.txt");
    const uint64_t passes = platform::RuntimeBackgroundTaskCount() - before;
    if (passes != expected) {
      std::fprintf(stderr, "the run made %llu passes, not %llu\n",
                   static_cast<unsigned long long>(passes),
                   static_cast<unsigned long long>(expected));
      fs::remove_all(setup.root);
      return 2;
    }
  }

  if (!EveryRequestReachedTheScript(setup, window)) {
    fs::remove_all(setup.root);
    return 2;
  }

  const std::vector<std::string> args = {setup.resources + "/applyCS.scpt", "12,40,77,", "15,45,80,",
                                         "Style 42", "layer1", "17", "1"};
  std::vector<std::pair<std::string, std::string>> pairs;
  for (int round = 0; round < kRounds; ++round) {
    const std::string run = "StylingRun/50pieces/100rules/round:" + std::to_string(round);
    const std::string spawn = "BareSpawn/round:" + std::to_string(round);
    pairs.emplace_back(run, spawn);
    benchmark::RegisterBenchmark(run.c_str(), [window](benchmark::State& st) {
      for (auto _ : st) window->MainScpt("bench.txt");
      st.counters["requests"] = kRequests;
    })->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(spawn.c_str(), [&args](benchmark::State& st) {
      for (auto _ : st) BareSpawn(args);
    })->Iterations(kSpawnBatch)->UseRealTime()->Unit(benchmark::kMicrosecond);
  }
  KeepingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  std::vector<double> ratios;
  for (const auto& [run, spawn] : pairs) {
    auto r = reporter.seconds.find(run), s = reporter.seconds.find(spawn);
    if (r == reporter.seconds.end() || s == reporter.seconds.end() || s->second <= 0) continue;
    const double per_request = r->second / kRequests;
    std::printf("round: %.3f ms per request, %.3f ms per bare spawn\n", per_request * 1e3,
                s->second * 1e3);
    ratios.push_back(per_request / s->second);
  }
  finalize();
  platform::RuntimeExit();
  fs::remove_all(setup.root);
  if (ratios.empty()) {
    std::printf("ratio request/spawn: n/a\n");
    return 0;
  }
  std::nth_element(ratios.begin(), ratios.begin() + ratios.size() / 2, ratios.end());
  std::printf("ratio request/spawn (median of %zu rounds): %.2f\n", ratios.size(),
              ratios[ratios.size() / 2]);
  return 0;
}
