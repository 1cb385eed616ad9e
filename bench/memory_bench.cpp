// Peak memory and time of getRegPos (at 1, 10 and 50 MB) and of a whole
// styling run (at 1 and 10 MB) over one large piece of text, for a sparse
// pattern (a word) and for ".". For getRegPos the peak is also given against
// what no implementation can do without: the text and the lists it returns.
//
// Every case runs in a forked child, so that one case's heap cannot lower or
// raise another's figures. The child makes its input, resets the kernel's
// peak-RSS mark (/proc/self/clear_refs, "5") and reads the peak (VmHWM) when
// the work is done; the figure given is that peak less the child's resting
// size before its input was made, so the input text itself is part of it.
// The whole run is the program's own: start-up on the headless backend, a
// bundle whose scripts are the test recorder, and Window1::MainScpt.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/main_window.h"
#include "app/regex_binding.h"
#include "app/startup.h"
#include "engine/match_positions.h"
#include "platform/files.h"
#include "platform/runtime.h"

#ifndef VM_RECORDER_PATH
#error "VM_RECORDER_PATH names the recording host script"
#endif

namespace fs = std::filesystem;

namespace {

// --- input ----------------------------------------------------------------------

const char* const kWords[] = {
    "the",   "of",    "and",    "a",      "to",     "in",     "is",    "you",   "that",  "it",
    "he",    "was",   "for",    "on",     "are",    "as",     "with",  "his",   "they",  "at",
    "be",    "this",  "have",   "from",   "or",     "one",    "had",   "by",    "word",  "but",
    "not",   "what",  "all",    "were",   "we",     "when",   "your",  "can",   "said",  "there",
    "use",   "an",    "each",   "which",  "she",    "do",     "how",   "their", "if",    "will",
    "up",    "other", "about",  "out",    "many",   "then",   "them",  "these", "so",    "some",
    "her",   "would", "make",   "like",   "him",    "into",   "time",  "has",   "look",  "two",
    "more",  "write", "go",     "see",    "number", "no",     "way",   "could", "people", "my",
    "than",  "first", "water",  "been",   "call",   "who",    "oil",   "its",   "now",   "find",
    "long",  "down",  "day",    "did",    "get",    "come",   "made",  "may",   "part",  "garden"};

// English-like paragraphs of about 85 characters separated by CR; the word
// "vellum" (the sparse pattern) is one word in about 2,500.
std::string MakeText(size_t bytes) {
  std::string text;
  text.reserve(bytes + 128);
  uint64_t x = 88172645463325252ull;
  auto next = [&] {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    return x;
  };
  while (text.size() < bytes) {
    const size_t start = text.size();
    while (text.size() - start < 80) {
      if (text.size() > start) text += ' ';
      text += next() % 2500 == 0 ? "vellum" : kWords[next() % std::size(kWords)];
    }
    text += ".\r";
  }
  text.resize(bytes);
  return text;
}

long g_failed = 0;     // set by a case in its child
size_t g_floor = 0;    // bytes the case cannot do without: the text and the lists

// --- measuring ------------------------------------------------------------------

long StatusKiB(const char* field) {
  std::ifstream in("/proc/self/status");
  std::string line;
  const size_t n = std::strlen(field);
  while (std::getline(in, line))
    if (line.compare(0, n, field) == 0) return std::atol(line.c_str() + n + 1);
  return -1;
}

bool ResetPeak() {
  std::ofstream out("/proc/self/clear_refs");
  out << "5";
  out.flush();
  return static_cast<bool>(out);
}

long PeakKiB() {
  const long hwm = StatusKiB("VmHWM");
  if (hwm >= 0) return hwm;
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return ru.ru_maxrss;
}

long MinorFaults() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return ru.ru_minflt;
}

struct Timed {
  double seconds;
  long faults;
};

Timed Measure(const std::function<void()>& work) {
  const long faults = MinorFaults();
  const auto t0 = std::chrono::steady_clock::now();
  work();
  const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  return {s, MinorFaults() - faults};
}

struct Figures {
  double first = 0;     // the first run in a fresh process: its memory is new
  double best = 0;      // the fastest of the later runs, on memory the heap kept
  long best_faults = 0; // page faults during that run
  double peak_mb = 0;   // peak above the resting size, input included
  long failed = 0;      // style requests that could not reach the script
  double floor_mb = 0;  // text plus lists, where the case knows them
  bool ok = false;
};

// What a case does in its child: make its input (untimed), then run `work`
// once per repetition. Returns the bytes of the text.
struct Case {
  std::string name;
  size_t bytes;
  std::function<void(const std::function<void(const std::function<void()>&)>& measure)> run;
};

Figures RunCase(const Case& c, int repetitions) {
  int pipe_fds[2];
  if (pipe(pipe_fds) != 0) return {};
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    close(pipe_fds[0]);
    Figures f;
    const long resting = StatusKiB("VmRSS");
    std::vector<Timed> times;
    bool reset = false;
    c.run([&](const std::function<void()>& work) {
      if (!reset) reset = ResetPeak();
      for (int i = 0; i < repetitions; ++i) times.push_back(Measure(work));
    });
    if (!times.empty()) {
      f.first = times.front().seconds;
      const Timed best = *std::min_element(
          times.begin() + (times.size() > 1 ? 1 : 0), times.end(),
          [](const Timed& a, const Timed& b) { return a.seconds < b.seconds; });
      f.best = best.seconds;
      f.best_faults = best.faults;
    }
    f.peak_mb = (PeakKiB() - resting) / 1024.0;
    f.ok = reset && !times.empty();
    f.failed = g_failed;
    f.floor_mb = g_floor / 1048576.0;
    if (write(pipe_fds[1], &f, sizeof f) != sizeof f) _exit(3);
    _exit(0);
  }
  close(pipe_fds[1]);
  Figures f;
  const bool got = read(pipe_fds[0], &f, sizeof f) == sizeof f;
  close(pipe_fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (!got || !WIFEXITED(status) || WEXITSTATUS(status) != 0) f.ok = false;
  return f;
}

// --- the cases ------------------------------------------------------------------

std::string g_scratch;
volatile size_t g_sink;

// getRegPos over a text of `bytes` bytes.
Case RegPosCase(const std::string& label, const std::string& pattern, size_t bytes) {
  return {"getRegPos " + label, bytes, [=](const auto& measure) {
            BindRegExComponent();
            const std::string text = MakeText(bytes);
            measure([&] {
              const std::string lists = engine::getRegPos(text, pattern);
              g_sink = lists.size();
              g_floor = text.size() + lists.size();
            });
          }};
}

void WriteBytes(const std::string& path, const std::string& bytes) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

// The whole program up to its event loop, in a scratch bundle whose scripts
// record their calls; then one styling run of a one-rule set over one piece.
Case StylingRunCase(const std::string& label, const std::string& pattern, size_t bytes) {
  return {"styling run " + label, bytes, [=](const auto& measure) {
            const std::string root = g_scratch + "/run-" + std::to_string(getpid());
            const std::string resources = root + "/Vellowmark.app/Contents/Resources";
            fs::create_directories(resources);
            fs::create_directories(root + "/Vellowmark.app/Contents/MacOS");
            fs::create_directories(root + "/config");
            fs::create_directories(root + "/run");
            fs::permissions(root + "/run", fs::perms::owner_all);
            for (const char* s : {"getcontents.scpt", "applyCS.scpt", "applyPS.scpt"})
              fs::copy_file(VM_RECORDER_PATH, resources + "/" + s);
            WriteBytes(root + "/reglist/set.txt", pattern + "\tS");
            {
              std::string content = "A/B:" + MakeText(bytes);
              WriteBytes(root + "/content.txt", content);
            }
            platform::SetExecutablePathForTesting(root + "/Vellowmark.app/Contents/MacOS/Vellowmark");
            setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
            setenv("XDG_RUNTIME_DIR", (root + "/run").c_str(), 1);
            setenv("VM_RECORD_LOG", (root + "/calls.log").c_str(), 1);
            setenv("VM_RECORD_CONTENT", (root + "/content.txt").c_str(), 1);
            // The host check's message and the scripts' failures go to a file.
            const std::string err_path = root + "/stderr";
            const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(err, 2);
            close(err);
            platform::RuntimeResetForTesting();
            platform::RuntimeInit();
            initialize();
            platform::RuntimeSetExceptionHelper(&CallFunctionWithExceptionHandling);
            platform::RunFrameworkInitialization(&Startup);
            auto window = Window1();
            int runs = 0;
            measure([&] {
              ++runs;
              fs::remove(root + "/calls.log");
              window->MainScpt("set.txt");
            });
            std::ifstream in(err_path);
            for (std::string line; std::getline(in, line);)
              g_failed += line.rfind("ExecuteAppleScript: ", 0) == 0;
            g_failed /= std::max(runs, 1);  // per run
            fs::remove_all(root);
          }};
}

void Print(const std::string& name, size_t bytes, const Figures& f) {
  const double mb = bytes / 1048576.0;
  if (!f.ok) {
    std::printf("%-18s %4.0f MB   failed\n", name.c_str(), mb);
    return;
  }
  std::printf("%-18s %4.0f MB %9.1f ms %9.1f ms %8ld %8.1f MB %7.2f", name.c_str(), mb,
              f.first * 1e3, f.best * 1e3, f.best_faults, f.peak_mb, f.peak_mb / mb);
  if (f.floor_mb > 0)
    std::printf("  text+lists %7.1f MB, peak/(text+lists) %5.2f", f.floor_mb, f.peak_mb / f.floor_mb);
  if (f.failed) std::printf("  (%ld request(s) could not reach the script)", f.failed);
  std::printf("\n");
}

}  // namespace

int main() {
  char dir[] = "/tmp/vm-memory-bench-XXXXXX";
  const char* tmp = std::getenv("TMPDIR");
  std::string base = tmp && *tmp ? std::string(tmp) + "/vm-memory-bench-XXXXXX" : dir;
  if (!mkdtemp(base.data())) {
    std::perror("mkdtemp");
    return 1;
  }
  g_scratch = base;

  struct Pair {
    std::string label, pattern;
    bool whole_run;
  };
  const Pair pairs[] = {{"word", "vellum", false}, {".", ".", false},
                        {"word", "vellum", true},  {".", ".", true}};
  std::printf(
      "first: one run in a fresh process; best: fastest of the repeats after it, with its\n"
      "page faults (new memory; where faults are slow they dominate the time of '.')\n"
      "peak: highest resident size above the process's resting size, the text included\n");
  std::printf("%-18s %7s %12s %12s %8s %11s %7s\n", "case", "text", "first", "best", "faults",
              "peak", "/text");
  bool all_ok = true;
  std::vector<std::string> ratios;
  for (const Pair& p : pairs) {
    // getRegPos alone also at 50 MB; a whole run at 1 and 10.
    std::vector<size_t> sizes = {1, 10};
    if (!p.whole_run) sizes.push_back(50);
    std::vector<Figures> figures;
    for (size_t mb : sizes) {
      const size_t bytes = mb << 20;
      const Case c = p.whole_run ? StylingRunCase(p.label, p.pattern, bytes)
                                 : RegPosCase(p.label, p.pattern, bytes);
      const Figures f = RunCase(c, mb == 1 ? 8 : mb == 10 ? 4 : 2);
      Print(c.name, bytes, f);
      all_ok = all_ok && f.ok;
      figures.push_back(f);
    }
    auto ratio = [](double a, double b) { return b > 0 ? a / b : 0.0; };
    for (size_t i = 1; i < sizes.size(); ++i) {
      char line[200];
      std::snprintf(line, sizeof line,
                    "%-18s 1 -> %2zu MB (linear is %2zu): time first %6.2f, time best %6.2f, "
                    "memory %6.2f",
                    ((p.whole_run ? "styling run " : "getRegPos ") + p.label).c_str(), sizes[i],
                    sizes[i], ratio(figures[i].first, figures[0].first),
                    ratio(figures[i].best, figures[0].best),
                    ratio(figures[i].peak_mb, figures[0].peak_mb));
      ratios.push_back(line);
    }
  }
  std::printf("\ngrowth with the size of the text:\n");
  for (const auto& r : ratios) std::printf("%s\n", r.c_str());
  fs::remove_all(g_scratch);
  return all_ok ? 0 : 1;
}
