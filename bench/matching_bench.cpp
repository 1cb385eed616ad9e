// getRegPos and getRegParaPos on generated 1 MB and 10 MB texts, and on
// 10,000 small pieces with 20 rules, each beside the strong baseline: a lean
// PCRE2 JIT loop that computes the same lists (see "the strong baseline").
// The last lines give the ratio of each matcher to it, from paired timings.
// Then runaway patterns on 1 MB, timed until the search gives up, and "." on
// 50 MB, which must complete (--benchmark_filter='runaway|whole' runs these
// alone).
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
#include "platform/regex.h"
#include "platform/utf8_scan.h"

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

// --- the strong baseline ------------------------------------------------------
//
// What a lean C program does for the same lists: the text validated once,
// then PCRE2's JIT fast path (which checks nothing), characters counted by a
// plain loop that the compiler vectorises, and each list appended to one
// buffer grown with realloc (which moves large blocks by remapping pages).

struct Strong {
  pcre2_code* code = nullptr;
  pcre2_match_data* md = nullptr;
  pcre2_match_context* mc = nullptr;
  pcre2_jit_stack* stack = nullptr;
  bool crlf_newline = true;

  explicit Strong(const std::string& pattern) {
    pcre2_compile_context* cc = pcre2_compile_context_create(nullptr);
    pcre2_set_newline(cc, PCRE2_NEWLINE_ANYCRLF);
    int error;
    PCRE2_SIZE offset;
    code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(),
                         PCRE2_UTF | PCRE2_CASELESS | PCRE2_MULTILINE | PCRE2_NEVER_BACKSLASH_C,
                         &error, &offset, cc);
    pcre2_compile_context_free(cc);
    if (!code || pcre2_jit_compile(code, PCRE2_JIT_COMPLETE) != 0) {
      std::fprintf(stderr, "strong baseline: cannot compile %s with JIT\n", pattern.c_str());
      std::exit(2);
    }
    md = pcre2_match_data_create_from_pattern(code, nullptr);
    mc = pcre2_match_context_create(nullptr);
    stack = pcre2_jit_stack_create(32 * 1024, 8 << 20, nullptr);
    pcre2_jit_stack_assign(mc, nullptr, stack);
  }
  ~Strong() {
    pcre2_jit_stack_free(stack);
    pcre2_match_context_free(mc);
    pcre2_match_data_free(md);
    pcre2_code_free(code);
  }
  Strong(const Strong&) = delete;
  Strong& operator=(const Strong&) = delete;
};

// A byte buffer grown with realloc.
class Buffer {
 public:
  Buffer() = default;
  Buffer(Buffer&& other) noexcept : p_(other.p_), n_(other.n_), cap_(other.cap_) {
    other.p_ = nullptr;
    other.n_ = other.cap_ = 0;
  }
  Buffer(const Buffer&) = delete;
  Buffer& operator=(const Buffer&) = delete;
  ~Buffer() { std::free(p_); }
  char* Room(size_t k) {
    if (n_ + k > cap_) {
      cap_ = std::max(2 * cap_, n_ + k + 4096);
      p_ = static_cast<char*>(std::realloc(p_, cap_));
      if (!p_) std::abort();
    }
    return p_ + n_;
  }
  void Grow(size_t k) { n_ += k; }
  void Append(const char* s, size_t k) {
    std::memcpy(Room(k), s, k);
    n_ += k;
  }
  void Number(size_t n) {
    char* at = Room(24);
    char* end = std::to_chars(at, at + 23, n).ptr;
    *end++ = ',';
    n_ += end - at;
  }
  std::string str() const { return std::string(p_ ? p_ : "", n_); }
  const char* data() const { return p_ ? p_ : ""; }
  size_t size() const { return n_; }

 private:
  char* p_ = nullptr;
  size_t n_ = 0, cap_ = 0;
};

// Character starts in [p, p + n): every byte that is not 10xxxxxx.
size_t CountChars(const char* p, size_t n) {
  size_t chars = 0;
  for (size_t i = 0; i < n; ++i) chars += static_cast<signed char>(p[i]) > -65;
  return chars;
}

bool ValidOnce(const std::string& text) {
  if (!platform::utf8::IsValid(text.data(), text.size())) {
    std::fprintf(stderr, "strong baseline: the text is not valid UTF-8\n");
    std::abort();
  }
  return true;
}

// Every match, with the usual empty-match rule, turned into character
// positions by counting forward from the previous match.
Buffer StrongRegPos(const Strong& b, const std::string& text) {
  ValidOnce(text);
  const auto* s = reinterpret_cast<PCRE2_SPTR>(text.data());
  const size_t len = text.size();
  Buffer starts, ends;
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
      if (b.crlf_newline && text[offset - 1] == '\r' && offset < len && text[offset] == '\n')
        ++offset;
      while (offset < len && (static_cast<unsigned char>(text[offset]) & 0xC0) == 0x80) ++offset;
      after_empty = false;
      continue;
    }
    if (rc < 0) std::abort();
    const PCRE2_SIZE* ov = pcre2_get_ovector_pointer(b.md);
    chars += CountChars(text.data() + counted_to, ov[0] - counted_to);
    starts.Number(chars + 1);
    chars += CountChars(text.data() + ov[0], ov[1] - ov[0]);
    ends.Number(chars);
    counted_to = ov[1];
    offset = ov[1];
    after_empty = ov[0] == ov[1];
  }
  starts.Append("<>", 2);
  starts.Append(ends.data(), ends.size());
  return starts;
}

// Each paragraph searched where it lies together with its CR; the last,
// which has none, copied to get one.
Buffer StrongParaPos(const Strong& b, const std::string& text) {
  ValidOnce(text);
  Buffer list;
  std::string last;
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
    if (rc >= 0) list.Number(number);
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
  const int rounds = ours_ms > 200 ? 7 : 15;
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

// Many small pieces: what a styling run of a long document split into
// 10,000 pieces of about 100 characters does with a rule set of 20 rules,
// one call per piece and rule. The strong side compiles each pattern once.
struct Pieces {
  std::vector<std::string> texts;
  std::vector<std::string> patterns;
  std::vector<bool> paragraph;
};

const Pieces& SmallPieces() {
  static const Pieces pieces = [] {
    Pieces p;
    const std::string& english = Text(false, 1);
    const std::string& japanese = Text(true, 1);
    size_t at_en = 0, at_ja = 0;
    for (int i = 0; i < 10000; ++i) {
      const std::string& text = i % 4 == 3 ? japanese : english;
      size_t& at = i % 4 == 3 ? at_ja : at_en;
      // 100 characters from where the last piece of this language ended.
      const size_t bytes = platform::utf8::AdvanceChars(text.data() + at, text.size() - at, 100);
      p.texts.emplace_back(text, at, bytes);
      at += bytes;
    }
    const char* const patterns[] = {
        "window",  "[0-9]+", "river|garden", "東京",       "^.{0,3}", "silver",   "天気|会議",
        "market",  "\\bthe\\b", "[A-Z]",     "。",         "style",   "paragraph", "日本語",
        "water",   "[0-9]{3,}", "(?-i)The",  "文字|段落", "pattern", "\\d+\\.\\d+"};
    for (int r = 0; r < 20; ++r) {
      p.patterns.push_back(patterns[r]);
      p.paragraph.push_back(r % 5 == 4);
    }
    return p;
  }();
  return pieces;
}

std::string OursPieces() {
  const Pieces& p = SmallPieces();
  size_t total = 0;
  for (const std::string& text : p.texts)
    for (size_t r = 0; r < p.patterns.size(); ++r)
      total += p.paragraph[r] ? engine::getRegParaPos(text, p.patterns[r]).size()
                              : engine::getRegPos(text, p.patterns[r]).size();
  return std::to_string(total);
}

std::string StrongPieces() {
  const Pieces& p = SmallPieces();
  std::vector<std::unique_ptr<Strong>> compiled;
  for (const std::string& pattern : p.patterns) compiled.push_back(std::make_unique<Strong>(pattern));
  size_t total = 0;
  for (const std::string& text : p.texts)
    for (size_t r = 0; r < p.patterns.size(); ++r)
      total += p.paragraph[r] ? StrongParaPos(*compiled[r], text).size()
                              : StrongRegPos(*compiled[r], text).size();
  return std::to_string(total);
}

bool SamePieces() {
  const Pieces& p = SmallPieces();
  for (size_t r = 0; r < p.patterns.size(); ++r) {
    const Strong strong(p.patterns[r]);
    for (const std::string& text : p.texts) {
      const bool same = p.paragraph[r]
                            ? engine::getRegParaPos(text, p.patterns[r]) == StrongParaPos(strong, text).str()
                            : engine::getRegPos(text, p.patterns[r]) == StrongRegPos(strong, text).str();
      if (!same) return false;
    }
  }
  return true;
}

// --- runaway patterns and a search that must complete ----------------------------
//
// Patterns that backtrack without bound, or scan the rest of the text at
// every start, on a 1 MB piece: each must end with the limit outcome (a
// raise from getRegPos, the empty list from getRegParaPos) within a few
// seconds. The time is the whole search until it gives up.
struct Runaway {
  std::string name;
  std::string pattern;
  bool paragraphs;  // getRegParaPos on 1 MB of short paragraphs
};

const std::vector<Runaway>& Runaways() {
  static const std::vector<Runaway> cases = {
      {"(?:a|a){20}b", "(?:a|a){20}b", false},
      {"(*NO_JIT)(?:a|a){20}b", "(*NO_JIT)(?:a|a){20}b", false},
      {"empty then anchored retry", "(?:(?:a|a){20}b)?", false},
      {"(a+)+$", "(a+)+$", false},
      {"(?:a|aa)+$", "(?:a|aa)+$", false},
      {"(?:a)*b quadratic", "(?:a)*b", false},
      {"(?=a*b) uncounted scan", "(?=a*b)", false},
      {"(*NO_JIT)a*b uncounted scan", "(*NO_JIT)a*b", false},
      {"paragraphs (?:a|a){20}b", "(?:a|a){20}b", true},
      {"paragraphs (*NO_JIT)(?:a|a){12}b", "(*NO_JIT)(?:a|a){12}b", true},
  };
  return cases;
}

// 1 MB of "a" ending in "!b"; or 1 MB of paragraphs of 30 "a" and "!b".
const std::string& RunawayText(bool paragraphs) {
  static const std::string one = std::string((1 << 20) - 2, 'a') + "!b";
  static const std::string many = [] {
    std::string text;
    const std::string paragraph = std::string(30, 'a') + "!b\r";
    while (text.size() + paragraph.size() <= (1 << 20)) text += paragraph;
    return text;
  }();
  return paragraphs ? many : one;
}

void RunRunaway(benchmark::State& st, const Runaway& c) {
  const std::string& text = RunawayText(c.paragraphs);
  for (auto _ : st) {
    if (c.paragraphs) {
      if (!engine::getRegParaPos(text, c.pattern).empty()) st.SkipWithError("paragraphs listed");
      continue;
    }
    try {
      engine::getRegPos(text, c.pattern);
      st.SkipWithError("the search was not stopped");
    } catch (const platform::RegExSearchPatternException&) {
    }
  }
}

// "." on 50 MB: an ordinary search of a long text, which must finish whole
// and give the lists of the strong baseline (PCRE2 asked directly).
void RunWholeDot(benchmark::State& st) {
  static const std::string text = MakeText(false, size_t{50} << 20);
  const Strong strong(".");
  const std::string expected = StrongRegPos(strong, text).str();
  for (auto _ : st) {
    const std::string got = engine::getRegPos(text, ".");
    if (got != expected) st.SkipWithError("getRegPos of . on 50 MB differs from PCRE2");
  }
}

std::string Fixed(double x) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.2f", x);
  return buf;
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  BindRegExComponent();
  auto add = [](const std::string& name, auto fn) {
    benchmark::RegisterBenchmark(name.c_str(), fn)
        ->Unit(benchmark::kMillisecond)
        ->MinTime(0.2)
        ->Repetitions(5)
        ->ReportAggregatesOnly(true);
  };
  struct Paired {
    std::string line;
    std::function<void()> ours, strong;
    std::string ours_key;
  };
  std::vector<Paired> paired;
  for (size_t mb : {1, 10}) {
    for (const Case& c : Cases()) {
      const std::string& text = Text(c.japanese, mb);
      auto strong = std::make_shared<Strong>(c.pattern);
      // Same lists from both sides, or the comparison means nothing.
      if (engine::getRegPos(text, c.pattern) != StrongRegPos(*strong, text).str() ||
          engine::getRegParaPos(text, c.pattern) != StrongParaPos(*strong, text).str()) {
        std::fprintf(stderr, "lists differ for %s\n", Key("case", c, mb).c_str());
        return 2;
      }
      const std::string name = c.name + " " + std::to_string(mb) + "MB";
      paired.push_back({"ratio getRegPos/strong " + name,
                        [&text, c] { benchmark::DoNotOptimize(engine::getRegPos(text, c.pattern)); },
                        [&text, strong] { benchmark::DoNotOptimize(StrongRegPos(*strong, text)); },
                        Key("getRegPos", c, mb)});
      paired.push_back({"ratio getRegParaPos/strong " + name,
                        [&text, c] {
                          benchmark::DoNotOptimize(engine::getRegParaPos(text, c.pattern));
                        },
                        [&text, strong] { benchmark::DoNotOptimize(StrongParaPos(*strong, text)); },
                        Key("getRegParaPos", c, mb)});
      add(Key("getRegPos", c, mb), [&text, c](benchmark::State& st) {
        for (auto _ : st) benchmark::DoNotOptimize(engine::getRegPos(text, c.pattern));
      });
      add(Key("strong-RegPos", c, mb), [&text, strong](benchmark::State& st) {
        for (auto _ : st) benchmark::DoNotOptimize(StrongRegPos(*strong, text));
      });
      add(Key("getRegParaPos", c, mb), [&text, c](benchmark::State& st) {
        for (auto _ : st) benchmark::DoNotOptimize(engine::getRegParaPos(text, c.pattern));
      });
      add(Key("strong-ParaPos", c, mb), [&text, strong](benchmark::State& st) {
        for (auto _ : st) benchmark::DoNotOptimize(StrongParaPos(*strong, text));
      });
    }
  }
  if (!SamePieces()) {
    std::fprintf(stderr, "lists differ for the small pieces\n");
    return 2;
  }
  const std::string pieces_key = "pieces/10000x100chars/20rules";
  paired.push_back({"ratio pieces/strong 10000 pieces of 100 characters, 20 rules",
                    [] { benchmark::DoNotOptimize(OursPieces()); },
                    [] { benchmark::DoNotOptimize(StrongPieces()); }, pieces_key});
  add(pieces_key, [](benchmark::State& st) {
    for (auto _ : st) benchmark::DoNotOptimize(OursPieces());
  });
  add("strong-" + pieces_key, [](benchmark::State& st) {
    for (auto _ : st) benchmark::DoNotOptimize(StrongPieces());
  });

  for (const Runaway& c : Runaways()) {
    benchmark::RegisterBenchmark(("runaway/" + c.name + "/1MB").c_str(),
                                 [&c](benchmark::State& st) { RunRunaway(st, c); })
        ->Iterations(1)
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond);
  }
  benchmark::RegisterBenchmark("whole/getRegPos ./50MB", RunWholeDot)
      ->Iterations(1)
      ->UseRealTime()
      ->Unit(benchmark::kMillisecond);

  MedianReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  // Ratios of paired timings (see PairedRatio); the medians above give the
  // absolute times. Only the cases that ran (a --benchmark_filter may leave
  // some out).
  std::printf("\n");
  for (const Paired& p : paired) {
    auto it = reporter.medians.find(p.ours_key);
    if (it == reporter.medians.end()) continue;
    std::printf("%s: %s\n", p.line.c_str(),
                Fixed(PairedRatio(p.ours, p.strong, it->second)).c_str());
    std::fflush(stdout);
  }
  return 0;
}
