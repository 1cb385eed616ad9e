// A whole styling run (50 pieces, 100 rules: 5,000 style requests and one
// getcontents) with a host script that answers at once, beside a bare
// posix_spawn + waitpid of the same script with similar arguments. Runs and
// spawn batches alternate, and the last line gives the median ratio of the
// run's time per request to the bare spawn's time.
#include <benchmark/benchmark.h>

#include <algorithm>
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
constexpr int kRounds = 3;

const char* const kWords[] = {"river", "garden", "window", "silver", "market", "pattern",
                              "style", "paragraph", "the",   "of",     "and",    "water",
                              "東京",  "日本語",    "文字",  "段落",   "書式",   "スタイル"};

struct Setup {
  std::string root, resources, content;
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
    content += "layer" + std::to_string(p % 4) + "/" + std::to_string(p) + ":";
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
  std::printf("ratio request/spawn: %.2f\n", ratios[ratios.size() / 2]);
  return 0;
}
