// getRegPos and getRegParaPos on generated 1 MB and 10 MB texts, each beside
// a bare PCRE2 JIT loop that computes the same list on the same text. The
// last lines give the ratio of each matcher to its bare loop.
#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "app/regex_binding.h"
#include "engine/match_positions.h"

namespace {

// --- generated texts ----------------------------------------------------------

const char* const kEnglishWords[] = {
    "the",    "of",     "and",    "a",      "to",     "in",     "is",     "you",    "that",
    "it",     "he",     "was",    "for",    "on",     "are",    "as",     "with",   "his",
    "they",   "at",     "be",     "this",   "have",   "from",   "or",     "one",    "had",
    "by",     "word",   "but",    "not",    "what",   "all",    "were",   "we",     "when",
    "your",   "can",    "said",   "there",  "use",    "an",     "each",   "which",  "she",
    "do",     "how",    "their",  "if",     "will",   "up",     "other",  "about",  "out",
    "many",   "then",   "them",   "these",  "so",     "some",   "her",    "would",  "make",
    "like",   "him",    "into",   "time",   "has",    "look",   "two",    "more",   "write",
    "go",     "see",    "number", "no",     "way",    "could",  "people", "my",     "than",
    "first",  "water",  "been",   "call",   "who",    "oil",    "its",    "now",    "find",
    "long",   "down",   "day",    "did",    "get",    "come",   "made",   "may",    "part",
    "river",  "garden", "window", "silver", "market", "pattern", "style", "paragraph"};
const char* const kJapaneseWords[] = {
    "東京",   "大阪",   "電車",   "天気",   "会議",   "今日",   "明日",   "私",     "彼",
    "です",   "ます",   "した",   "という", "ことが", "ために", "そして", "しかし", "文字",
    "段落",   "書式",   "設定",   "文書",   "作業",   "確認",   "時間",   "場所",   "山",
    "川",     "海",     "空",     "花",     "雨",     "雪",     "風",     "新しい", "古い",
    "大きな", "小さな", "美しい", "日本語", "テキスト", "スタイル", "パターン", "ページ",
    "の",     "に",     "は",     "を",     "が",     "で",     "と",     "も",     "から"};

// Paragraphs of about 80 characters separated by CR, with numbers in them,
// up to `bytes` bytes (cut at a character boundary).
std::string MakeText(bool japanese, size_t bytes) {
  std::mt19937 rng(japanese ? 2024 : 1999);
  const size_t word_count = japanese ? std::size(kJapaneseWords) : std::size(kEnglishWords);
  std::string text;
  text.reserve(bytes + 256);
  while (text.size() < bytes) {
    std::string paragraph;
    int chars = 0;
    const int target = 70 + static_cast<int>(rng() % 21);
    while (chars < target) {
      std::string piece;
      if (rng() % 9 == 0) {
        piece = std::to_string(rng() % (rng() % 2 ? 100 : 100000));
      } else {
        piece = japanese ? kJapaneseWords[rng() % word_count] : kEnglishWords[rng() % word_count];
      }
      int piece_chars = 0;
      for (unsigned char c : piece) piece_chars += (c & 0xC0) != 0x80;
      if (!paragraph.empty()) {
        if (japanese) {
          if (rng() % 7 == 0) paragraph += "、", ++chars;
        } else {
          paragraph += ' ', ++chars;
        }
      }
      paragraph += piece;
      chars += piece_chars;
    }
    paragraph += japanese ? "。" : ".";
    text += paragraph;
    text += '\r';
  }
  size_t cut = bytes;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  text.resize(cut);
  return text;
}

const std::string& Text(bool japanese, size_t megabytes) {
  static std::map<std::pair<bool, size_t>, std::string> cache;
  auto& text = cache[{japanese, megabytes}];
  if (text.empty()) text = MakeText(japanese, megabytes << 20);
  return text;
}

// --- the bare loops -------------------------------------------------------------

struct Bare {
  pcre2_code* code = nullptr;
  pcre2_match_data* md = nullptr;
  pcre2_match_context* mc = nullptr;
  pcre2_jit_stack* stack = nullptr;

  explicit Bare(const std::string& pattern) {
    pcre2_compile_context* cc = pcre2_compile_context_create(nullptr);
    pcre2_set_newline(cc, PCRE2_NEWLINE_ANYCRLF);
    int error;
    PCRE2_SIZE offset;
    code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(),
                         PCRE2_UTF | PCRE2_CASELESS | PCRE2_MULTILINE | PCRE2_NEVER_BACKSLASH_C,
                         &error, &offset, cc);
    pcre2_compile_context_free(cc);
    if (!code || pcre2_jit_compile(code, PCRE2_JIT_COMPLETE) != 0) {
      std::fprintf(stderr, "bare loop: cannot compile %s with JIT\n", pattern.c_str());
      std::exit(2);
    }
    md = pcre2_match_data_create_from_pattern(code, nullptr);
    mc = pcre2_match_context_create(nullptr);
    stack = pcre2_jit_stack_create(32 * 1024, 8 << 20, nullptr);
    pcre2_jit_stack_assign(mc, nullptr, stack);
  }
  ~Bare() {
    pcre2_jit_stack_free(stack);
    pcre2_match_context_free(mc);
    pcre2_match_data_free(md);
    pcre2_code_free(code);
  }
};

// Characters in [p, p + n), 8 bytes at a time.
size_t CountChars(const char* p, size_t n) {
  size_t chars = 0, i = 0;
  for (; i + 8 <= n; i += 8) {
    uint64_t w;
    std::memcpy(&w, p + i, 8);
    chars += 8 - __builtin_popcountll(w & ~(w << 1) & 0x8080808080808080ull);
  }
  for (; i < n; ++i) chars += (static_cast<unsigned char>(p[i]) & 0xC0) != 0x80;
  return chars;
}

void AppendNumber(std::string& s, size_t n) {
  char buf[24];
  s.append(buf, std::to_chars(buf, buf + sizeof buf, n).ptr);
  s += ',';
}

// Every match, with the usual empty-match rule, turned into character
// positions by counting forward from the previous match.
std::string BareRegPos(const Bare& b, const std::string& text) {
  const auto* s = reinterpret_cast<PCRE2_SPTR>(text.data());
  const size_t len = text.size();
  std::string starts, ends;
  size_t offset = 0, counted_to = 0, chars = 0;
  bool after_empty = false;
  for (;;) {
    int rc;
    if (after_empty)
      rc = pcre2_match(b.code, s, len, offset,
                       PCRE2_NOTEMPTY_ATSTART | PCRE2_ANCHORED | PCRE2_NO_UTF_CHECK, b.md, b.mc);
    else
      rc = pcre2_jit_match(b.code, s, len, offset, 0, b.md, b.mc);
    if (rc == PCRE2_ERROR_NOMATCH) {
      if (!after_empty || offset >= len) break;
      ++offset;
      if (text[offset - 1] == '\r' && offset < len && text[offset] == '\n') ++offset;
      while (offset < len && (static_cast<unsigned char>(text[offset]) & 0xC0) == 0x80) ++offset;
      after_empty = false;
      continue;
    }
    if (rc < 0) std::abort();
    const PCRE2_SIZE* ov = pcre2_get_ovector_pointer(b.md);
    chars += CountChars(text.data() + counted_to, ov[0] - counted_to);
    AppendNumber(starts, chars + 1);
    chars += CountChars(text.data() + ov[0], ov[1] - ov[0]);
    AppendNumber(ends, chars);
    counted_to = ov[1];
    offset = ov[1];
    after_empty = ov[0] == ov[1];
  }
  starts += "<>";
  starts += ends;
  return starts;
}

// Each paragraph searched in place together with its CR.
std::string BareParaPos(const Bare& b, const std::string& text) {
  std::string list, last;
  const char* p = text.data();
  const char* const end = p + text.size();
  for (size_t number = 1;; ++number) {
    const char* cr = static_cast<const char*>(std::memchr(p, '\r', end - p));
    int rc;
    if (cr) {
      rc = pcre2_jit_match(b.code, reinterpret_cast<PCRE2_SPTR>(p), cr + 1 - p, 0, 0, b.md, b.mc);
    } else {
      last.assign(p, end - p);
      last += '\r';
      rc = pcre2_jit_match(b.code, reinterpret_cast<PCRE2_SPTR>(last.data()), last.size(), 0, 0,
                           b.md, b.mc);
    }
    if (rc >= 0) AppendNumber(list, number);
    if (!cr) break;
    p = cr + 1;
  }
  return list;
}

// --- cases ----------------------------------------------------------------------

struct Case {
  std::string name;
  bool japanese;
  std::string pattern;
};

const std::vector<Case>& Cases() {
  static const std::vector<Case> cases = {
      {"en word", false, "window"},
      {"en [0-9]+", false, "[0-9]+"},
      {"en 5 words", false, "river|garden|window|silver|market"},
      {"en ^.{0,3}", false, "^.{0,3}"},
      {"en .", false, "."},
      {"ja word", true, "東京"},
      {"ja [0-9]+", true, "[0-9]+"},
      {"ja 5 words", true, "東京|大阪|電車|天気|会議"},
      {"ja ^.{0,3}", true, "^.{0,3}"},
      {"ja .", true, "."},
  };
  return cases;
}

std::string Key(const char* what, const Case& c, size_t mb) {
  return std::string(what) + "/" + c.name + "/" + std::to_string(mb) + "MB";
}

// Keeps the median of every benchmark, for the ratios.
class MedianReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs)
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median")
        medians[run.run_name.function_name] = run.GetAdjustedRealTime();
  }
  std::map<std::string, double> medians;
};

// The ratio of two operations on the same text, from paired batches timed
// back to back (the order alternating), as the median over the rounds: load
// that drifts while the benchmarks run touches both sides of each pair alike.
double PairedRatio(const std::function<void()>& ours, const std::function<void()>& bare,
                   double ours_ms) {
  using Clock = std::chrono::steady_clock;
  const int batch = ours_ms > 0 ? std::max(1, static_cast<int>(20.0 / ours_ms)) : 1;
  const int rounds = ours_ms > 200 ? 5 : 9;
  auto time = [batch](const std::function<void()>& fn) {
    const auto start = Clock::now();
    for (int i = 0; i < batch; ++i) fn();
    return std::chrono::duration<double>(Clock::now() - start).count();
  };
  std::vector<double> ratios;
  for (int round = 0; round < rounds; ++round) {
    double a, b;
    if (round % 2 == 0) {
      a = time(ours);
      b = time(bare);
    } else {
      b = time(bare);
      a = time(ours);
    }
    ratios.push_back(a / b);
  }
  std::nth_element(ratios.begin(), ratios.begin() + rounds / 2, ratios.end());
  return ratios[rounds / 2];
}

struct Prepared {
  Case c;
  size_t mb;
  const std::string* text;
  std::shared_ptr<Bare> bare;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  BindRegExComponent();
  const size_t sizes[] = {1, 10};
  std::vector<Prepared> prepared;
  for (size_t mb : sizes) {
    for (const Case& c : Cases()) {
      const std::string& text = Text(c.japanese, mb);
      auto bare = std::make_shared<Bare>(c.pattern);
      // Same lists from both sides, or the comparison means nothing.
      if (engine::getRegPos(text, c.pattern) != BareRegPos(*bare, text) ||
          engine::getRegParaPos(text, c.pattern) != BareParaPos(*bare, text)) {
        std::fprintf(stderr, "lists differ for %s\n", Key("case", c, mb).c_str());
        return 2;
      }
      prepared.push_back({c, mb, &text, bare});
      auto add = [&](const std::string& name, auto fn) {
        benchmark::RegisterBenchmark(name.c_str(), fn)
            ->Unit(benchmark::kMillisecond)
            ->MinTime(0.2)
            ->Repetitions(5)
            ->ReportAggregatesOnly(true);
      };
      add(Key("getRegPos", c, mb), [&text, c](benchmark::State& st) {
        for (auto _ : st) benchmark::DoNotOptimize(engine::getRegPos(text, c.pattern));
      });
      add(Key("bare-RegPos", c, mb), [&text, bare](benchmark::State& st) {
        for (auto _ : st) benchmark::DoNotOptimize(BareRegPos(*bare, text));
      });
      add(Key("getRegParaPos", c, mb), [&text, c](benchmark::State& st) {
        for (auto _ : st) benchmark::DoNotOptimize(engine::getRegParaPos(text, c.pattern));
      });
      add(Key("bare-ParaPos", c, mb), [&text, bare](benchmark::State& st) {
        for (auto _ : st) benchmark::DoNotOptimize(BareParaPos(*bare, text));
      });
    }
  }
  MedianReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  auto median = [&](const std::string& key) {
    auto it = reporter.medians.find(key);
    return it == reporter.medians.end() ? 0.0 : it->second;
  };
  auto ratio = [&](const std::string& a, const std::string& b) {
    double x = median(a), y = median(b);
    return y > 0 ? x / y : 0.0;
  };
  std::vector<std::string> ratio_lines;
  auto Fixed = [](double x) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.2f", x);
    return std::string(buf);
  };
  std::printf("\n");
  for (const Case& c : Cases()) {
    std::printf("scaling 10MB/1MB getRegPos %s: %.2f\n", c.name.c_str(),
                ratio(Key("getRegPos", c, 10), Key("getRegPos", c, 1)));
    std::printf("scaling 10MB/1MB getRegParaPos %s: %.2f\n", c.name.c_str(),
                ratio(Key("getRegParaPos", c, 10), Key("getRegParaPos", c, 1)));
    // The bare loops show what the machine alone does with ten times the data
    // (caches, and page faults on large fresh buffers).
    std::printf("scaling 10MB/1MB bare-RegPos %s: %.2f\n", c.name.c_str(),
                ratio(Key("bare-RegPos", c, 10), Key("bare-RegPos", c, 1)));
    std::printf("scaling 10MB/1MB bare-ParaPos %s: %.2f\n", c.name.c_str(),
                ratio(Key("bare-ParaPos", c, 10), Key("bare-ParaPos", c, 1)));
  }
  // Ratios of paired timings (see PairedRatio); the medians above give the
  // absolute times.
  for (const Prepared& p : prepared) {
    const std::string name = p.c.name + " " + std::to_string(p.mb) + "MB";
    const std::string& text = *p.text;
    const std::string& pattern = p.c.pattern;
    const Bare& bare = *p.bare;
    // Only the cases that ran (a --benchmark_filter may leave some out).
    if (median(Key("getRegPos", p.c, p.mb)) > 0) {
      const double r =
          PairedRatio([&] { benchmark::DoNotOptimize(engine::getRegPos(text, pattern)); },
                      [&] { benchmark::DoNotOptimize(BareRegPos(bare, text)); },
                      median(Key("getRegPos", p.c, p.mb)));
      ratio_lines.push_back("ratio getRegPos/bare " + name + ": " + Fixed(r));
    }
    if (median(Key("getRegParaPos", p.c, p.mb)) > 0) {
      const double r =
          PairedRatio([&] { benchmark::DoNotOptimize(engine::getRegParaPos(text, pattern)); },
                      [&] { benchmark::DoNotOptimize(BareParaPos(bare, text)); },
                      median(Key("getRegParaPos", p.c, p.mb)));
      ratio_lines.push_back("ratio getRegParaPos/bare " + name + ": " + Fixed(r));
    }
  }
  for (const std::string& line : ratio_lines) std::printf("%s\n", line.c_str());
  return 0;
}
