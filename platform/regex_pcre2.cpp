// The pattern component: PCRE2, 8-bit code units, UTF mode, JIT where the
// machine has it. It is reached only through the entry points it publishes
// by name (kPcre2Entrypoints); see regex_component.h for the convention.
#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/regex_component.h"
#include "platform/text.h"
#include "platform/utf8_scan.h"

namespace platform::regex_component {

namespace {

// Limits on one start position: PCRE2 counts its steps (backtracking points)
// afresh at every start position it tries. kMatchLimit is the most any one
// start may take; what a whole search may take is the search budget below.
constexpr uint32_t kMatchLimit = 10'000'000;
constexpr uint32_t kDepthLimit = 250'000;
constexpr uint32_t kHeapLimitKiB = 256 * 1024;
constexpr size_t kJitStackStart = 32 * 1024;
constexpr size_t kJitStackMax = 8 * 1024 * 1024;

// One match context (limits and JIT stack) per thread; the JIT stack must
// not be shared between threads.
struct MatchEnvironment {
  pcre2_match_context* context = nullptr;
  pcre2_jit_stack* jit_stack = nullptr;
  pcre2_compile_context* compile_context = nullptr;
  // The per-start limit and the offset limit the context holds, so that a
  // search sets them only when they change.
  uint32_t match_limit = kMatchLimit;
  size_t offset_limit = PCRE2_UNSET;

  MatchEnvironment() {
    context = pcre2_match_context_create(nullptr);
    compile_context = pcre2_compile_context_create(nullptr);
    if (context) {
      pcre2_set_match_limit(context, kMatchLimit);
      pcre2_set_depth_limit(context, kDepthLimit);
      pcre2_set_heap_limit(context, kHeapLimitKiB);
      jit_stack = pcre2_jit_stack_create(kJitStackStart, kJitStackMax, nullptr);
      if (jit_stack) pcre2_jit_stack_assign(context, nullptr, jit_stack);
    }
  }
  ~MatchEnvironment() {
    if (jit_stack) pcre2_jit_stack_free(jit_stack);
    if (context) pcre2_match_context_free(context);
    if (compile_context) pcre2_compile_context_free(compile_context);
  }
  MatchEnvironment(const MatchEnvironment&) = delete;
  MatchEnvironment& operator=(const MatchEnvironment&) = delete;
};

[[gnu::always_inline]] inline MatchEnvironment& Environment() {
  thread_local MatchEnvironment environment;
  return environment;
}

struct OptionsRecord {
  int line_end_type = 0;  // 0 any of CR, LF, CRLF; 1 CR; 2 LF; 3 CRLF
};

// Where the next search of a target starts.
struct Cursor {
  size_t offset = 0;
  bool after_empty = false;  // the previous match was empty and ended here
  bool done = false;
};

// A compiled pattern and what the searches need to know of it. Shared by
// every regex of the same pattern text and options (see CompiledPatterns);
// PCRE2 only reads compiled code while matching.
struct Compiled {
  pcre2_code* code = nullptr;
  bool jit = false;
  bool crlf_is_newline = false;
  int group_count = 1;          // subexpressions, the whole match included
  bool own_start_items = false;  // begins with "(*": searched by pcre2_match, which reads them
  bool windowed = true;          // a search may be cut into windows (see Windowable)
  uint32_t own_match_limit = UINT32_MAX;  // the pattern's (*LIMIT_MATCH=n)

  Compiled() = default;
  Compiled(const Compiled&) = delete;
  Compiled& operator=(const Compiled&) = delete;
  ~Compiled() {
    if (code) pcre2_code_free(code);
  }
};

struct Regex {
  std::string pattern;
  std::shared_ptr<const Compiled> compiled;
  pcre2_code* code = nullptr;  // compiled->code
  pcre2_match_data* match_data = nullptr;
  const PCRE2_SIZE* ovector = nullptr;  // match_data's, which stays where it is
  uint32_t compiled_options = 0;
  int compiled_line_end = -1;
  bool jit = false;
  bool crlf_is_newline = false;
  int group_count = 1;  // subexpressions, the whole match included
  bool own_start_items = false;
  bool windowed = true;
  uint32_t own_match_limit = UINT32_MAX;

  const OptionsRecord* options = nullptr;

  // The last target given to Search, for Search() and for the matches.
  std::shared_ptr<std::string> subject;
  Cursor cursor;
  SearchBudget budget;  // of the subject's search, Search() included

  std::shared_ptr<const std::string> replacement;

  ~Regex() { Release(); }
  void Release() {
    if (match_data) pcre2_match_data_free(match_data);
    match_data = nullptr;
    ovector = nullptr;
    compiled.reset();
    code = nullptr;
  }
};

// A match keeps its offsets inline up to the \0 to \9 that replacements
// can name; patterns with more groups spill to the heap.
struct Match {
  static constexpr int kInlineGroups = 10;
  std::shared_ptr<const std::string> subject;
  std::shared_ptr<const std::string> replacement;
  int group_count = 1;
  PCRE2_SIZE inline_offsets[2 * kInlineGroups];
  std::vector<PCRE2_SIZE> more_offsets;
  const PCRE2_SIZE* offsets = inline_offsets;  // start and end of each group

  void Assign(const PCRE2_SIZE* ov, int groups) {
    group_count = groups;
    if (groups <= kInlineGroups) {
      for (int i = 0; i < 2 * groups; ++i) inline_offsets[i] = ov[i];
      offsets = inline_offsets;
    } else {
      more_offsets.assign(ov, ov + 2 * groups);
      offsets = more_offsets.data();
    }
  }
};

// Matches are made and dropped at a high rate (one per paragraph searched),
// so released ones are kept for reuse.
thread_local bool tMatchPoolGone = false;

class MatchPool {
 public:
  ~MatchPool() {
    tMatchPoolGone = true;  // matches released later (static objects) are deleted
    for (Match* m : free_) delete m;
  }
  Match* Take() {
    if (free_.empty()) return new Match;
    Match* m = free_.back();
    free_.pop_back();
    return m;
  }
  void Give(Match* m) {
    m->subject.reset();
    m->replacement.reset();
    if (free_.size() < kKept && m->more_offsets.capacity() == 0) {
      free_.push_back(m);
    } else {
      delete m;
    }
  }

 private:
  static constexpr size_t kKept = 64;
  std::vector<Match*> free_;
};

MatchPool* Pool() {
  if (tMatchPoolGone) return nullptr;
  thread_local MatchPool pool;
  return &pool;
}

const char kEmpty[] = "";

const char* DataOf(std::string_view s) { return s.data() ? s.data() : kEmpty; }

void Fail(Error* error, Failure failure, std::string message) {
  if (error && error->failure == Failure::kNone) {
    error->failure = failure;
    error->message = std::move(message);
  }
}

std::string Pcre2Message(int code) {
  PCRE2_UCHAR buffer[256];
  int n = pcre2_get_error_message(code, buffer, sizeof buffer);
  if (n < 0) return "error " + std::to_string(code);
  return std::string(reinterpret_cast<const char*>(buffer), static_cast<size_t>(n));
}

// Texts reach the engine as valid UTF-8, so it never re-checks them: each
// text is checked once when it arrives, and an invalid one is repaired
// (every invalid byte becomes U+FFFD) and used in that form.
class ValidText {
 public:
  explicit ValidText(std::string_view text) : view_(text) {
    if (!utf8::IsValid(DataOf(text), text.size())) {
      repaired_ = ToValidUtf8(text);
      view_ = repaired_;
    }
  }
  std::string_view view() const { return view_; }

 private:
  std::string_view view_;
  std::string repaired_;
};

uint32_t CompileOptions(const Flags& flags) {
  // \C could split a character; the offset limit cuts searches into windows.
  uint32_t options = PCRE2_UTF | PCRE2_NEVER_BACKSLASH_C | PCRE2_USE_OFFSET_LIMIT;
  if (!flags.case_sensitive) options |= PCRE2_CASELESS;
  if (!flags.one_line) options |= PCRE2_MULTILINE;
  if (flags.dot_match_all) options |= PCRE2_DOTALL;
  if (!flags.greedy) options |= PCRE2_UNGREEDY;
  return options;
}

uint32_t NewlineFor(int line_end_type) {
  switch (line_end_type) {
    case 1: return PCRE2_NEWLINE_CR;
    case 2: return PCRE2_NEWLINE_LF;
    case 3: return PCRE2_NEWLINE_CRLF;
    default: return PCRE2_NEWLINE_ANYCRLF;
  }
}

// Start items at the head of a pattern ((*UTF), (*NOTEMPTY), (*LIMIT_MATCH=n)
// and the rest, in any order) are read by PCRE2 itself. Those that act at
// match time, (*NOTEMPTY) and (*NOTEMPTY_ATSTART), are applied by
// pcre2_match but not by the JIT entry, so a pattern that begins with an
// item of that form is searched through pcre2_match (which still runs its
// JIT code): it gives what pcre2_match gives, whatever its items say.
bool HasStartItems(std::string_view pattern) {
  return pattern.size() >= 2 && pattern[0] == '(' && pattern[1] == '*';
}

// Whether a search may be cut into windows of start positions (see
// RunMatch) and still find what one search from its start finds: not when
// the outcome at a start position depends on where the call began (\G, and
// (*NOTEMPTY_ATSTART), which PCRE2 applies at the start of every call) or
// reaches past its own start position ((*COMMIT) ends the whole search,
// (*SKIP) moves it on). Read from the text: a false alarm only costs the
// windows, and such a search is still bounded by its budget.
bool Windowable(std::string_view pattern) {
  for (std::string_view mark : {"\\G", "(*COMMIT", "(*SKIP", "NOTEMPTY_ATSTART"})
    if (pattern.find(mark) != std::string_view::npos) return false;
  return true;
}

// The patterns compiled lately, so that a styling run that applies the same
// rules to many pieces of text compiles each pattern once: compiling (and
// JIT-compiling) costs far more than searching a short piece. Keyed by the
// pattern text and everything else that shapes the compiled code; the least
// recently used entry makes way. One per thread, like the match context.
class CompiledPatterns {
 public:
  std::shared_ptr<const Compiled> Find(std::string_view pattern, uint32_t options,
                                       uint32_t newline) {
    for (Entry& e : entries_) {
      if (e.options == options && e.newline == newline && e.pattern == pattern) {
        e.used = ++clock_;
        return e.compiled;
      }
    }
    return nullptr;
  }
  void Keep(std::string_view pattern, uint32_t options, uint32_t newline,
            std::shared_ptr<const Compiled> compiled) {
    if (pattern.size() > kLongestKept) return;
    Entry* slot = nullptr;
    if (entries_.size() < kKept) {
      slot = &entries_.emplace_back();
    } else {
      slot = &entries_.front();
      for (Entry& e : entries_)
        if (e.used < slot->used) slot = &e;
    }
    slot->pattern.assign(pattern);
    slot->options = options;
    slot->newline = newline;
    slot->compiled = std::move(compiled);
    slot->used = ++clock_;
  }

 private:
  static constexpr size_t kKept = 64;
  static constexpr size_t kLongestKept = 4096;
  struct Entry {
    std::string pattern;
    uint32_t options = 0, newline = 0;
    std::shared_ptr<const Compiled> compiled;
    uint64_t used = 0;
  };
  std::vector<Entry> entries_;
  uint64_t clock_ = 0;
};

CompiledPatterns& Patterns() {
  thread_local CompiledPatterns patterns;
  return patterns;
}

std::shared_ptr<const Compiled> CompilePattern(std::string_view pattern, uint32_t options,
                                               uint32_t newline_type, Error* error) {
  if (auto known = Patterns().Find(pattern, options, newline_type)) return known;
  MatchEnvironment& env = Environment();
  if (env.compile_context) pcre2_set_newline(env.compile_context, newline_type);
  int error_code = 0;
  PCRE2_SIZE error_offset = 0;
  auto c = std::make_shared<Compiled>();
  c->code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(DataOf(pattern)), pattern.size(), options,
                          &error_code, &error_offset, env.compile_context);
  if (!c->code) {
    Fail(error, Failure::kPattern,
         "bad pattern at offset " + std::to_string(error_offset) + ": " + Pcre2Message(error_code));
    return nullptr;
  }
  // A pattern may forbid JIT, as in (*NO_JIT): then compiling for it
  // "succeeds" without code, so ask whether there is any.
  size_t jit_size = 0;
  c->jit = pcre2_jit_compile(c->code, PCRE2_JIT_COMPLETE) == 0 &&
           pcre2_pattern_info(c->code, PCRE2_INFO_JITSIZE, &jit_size) == 0 && jit_size > 0;
  uint32_t newline = 0, captures = 0;
  pcre2_pattern_info(c->code, PCRE2_INFO_NEWLINE, &newline);
  pcre2_pattern_info(c->code, PCRE2_INFO_CAPTURECOUNT, &captures);
  c->crlf_is_newline = newline == PCRE2_NEWLINE_ANY || newline == PCRE2_NEWLINE_CRLF ||
                       newline == PCRE2_NEWLINE_ANYCRLF;
  c->group_count = static_cast<int>(captures) + 1;
  c->own_start_items = HasStartItems(pattern);
  c->windowed = Windowable(pattern);
  uint32_t own_limit = 0;
  if (pcre2_pattern_info(c->code, PCRE2_INFO_MATCHLIMIT, &own_limit) == 0)
    c->own_match_limit = own_limit;
  Patterns().Keep(pattern, options, newline_type, c);
  return c;
}

bool Compile(Regex& re, const Flags& flags, Error* error) {
  re.Release();
  const uint32_t options = CompileOptions(flags);
  const int line_end = re.options ? re.options->line_end_type : 0;
  re.compiled = CompilePattern(re.pattern, options, NewlineFor(line_end), error);
  if (!re.compiled) {
    re.compiled_line_end = -1;
    return false;
  }
  const Compiled& c = *re.compiled;
  re.match_data = pcre2_match_data_create_from_pattern(c.code, nullptr);
  if (!re.match_data) {
    re.Release();
    Fail(error, Failure::kOther, "out of memory");
    return false;
  }
  re.ovector = pcre2_get_ovector_pointer(re.match_data);
  re.code = c.code;
  re.jit = c.jit;
  re.crlf_is_newline = c.crlf_is_newline;
  re.group_count = c.group_count;
  re.own_start_items = c.own_start_items;
  re.windowed = c.windowed;
  re.own_match_limit = c.own_match_limit;
  re.compiled_options = options;
  re.compiled_line_end = line_end;
  return true;
}

// Compiles again only when an option that shapes the compiled pattern has
// changed since the last compilation.
[[gnu::always_inline]] inline bool EnsureCompiled(Regex& re, const Flags& flags, Error* error) {
  const int line_end = re.options ? re.options->line_end_type : 0;
  if (re.code && re.compiled_options == CompileOptions(flags) && re.compiled_line_end == line_end)
    return true;
  return Compile(re, flags, error);
}

// --- the search budget --------------------------------------------------------
//
// PCRE2 bounds the steps at each start position, not the search: a pattern
// that stays under the limit at every start can still take minutes over a
// long text. So a search runs in windows of start positions (the offset
// limit), each call with a per-start limit, and pays for every call from
// the budget of the whole search (SearchBudget): a call that tries at most
// S start positions with limit L does at most S * L steps, and that is its
// charge, whatever the outcome. PCRE2 offers no count of the steps a call
// really took. The limit starts small (32 steps a start for JIT code, over
// 4096 starts) and follows the text:
// - when a window hits the limit, the start that needs more is sought in a
//   window a sixteenth as wide from the same place, and once it is alone,
//   the limit is raised fourfold (up to kMatchLimit, which fails it);
// - a window that passes lets the next one be four times as wide, up to
//   what keeps the charge of a window at 4096 * 32; once a window's worth
//   of starts has passed at a raised limit, the limit is lowered a tier.
// Every failed try is paid for too. Ordinary patterns take a few steps a
// start and stay at the lowest tier. There a search can cost at most
// 2 * 32 a byte of JIT code (every start tried once unanchored; a match
// costs the starts up to its end, so at most one more start each) and
// 2 * 64 + 64 of the interpreter (the anchored retries after empty
// matches), all within the kBudgetPerByte a byte of the budget: so a call
// at the lowest tier that ends the search (RunMatch's usual case) need not
// be paid for, and is not. The budget is kBudgetBase + kBudgetPerByte a
// byte; a lone start that needs x steps costs about 140,000 + 3 x; where
// every start needs x, a start costs about 5 x. A runaway ends within
// about two seconds at 1 MB.
//
// A step of the interpreter takes several times as long as one of JIT code
// (45 ns against 6 ns, measured on a backtracking pattern), so it is charged
// kInterpreterWeight times; the interpreter starts at a lower tier.
//
// Some work PCRE2 does not count: a possessive repeat or a lookahead can
// scan the rest of the text within one step, at every start. A clock is the
// last guard against that: a search that has run longer than kClockBaseNs,
// plus kClockPerByteNs for every byte of its text and kClockPerUnitNs for
// every unit it has paid, ends as a limit hit. An ordinary search takes far
// less (a match of "." some 20 to 350 ns on a loaded machine, realloc of the
// lists included; a byte of a sparse search about 1 ns), so only work that
// PCRE2 does not count can run the clock out. Calls are timed while their
// windows are wide or narrowed; a slow call narrows the windows, so that
// the clock is read often enough, and quick ones widen them again. A long
// text starts narrowed: the first call has no time to go by.
constexpr uint32_t kTierLimit[] = {8,      32,      128,       512,       2048,       8192,
                                   32'768, 131'072, 524'288,   2'097'152, kMatchLimit};
constexpr int kTiers = sizeof kTierLimit / sizeof kTierLimit[0];
constexpr int kJitFloor = 1;  // JIT code starts at 32 steps a start
constexpr uint64_t kInterpreterWeight = 8;
constexpr uint64_t kBudgetBase = 200'000'000;
constexpr uint64_t kBudgetPerByte = 256;
constexpr int64_t kClockBaseNs = 2'000'000'000;
constexpr int64_t kClockPerByteNs = 1000;
constexpr int64_t kClockPerUnitNs = 20;
constexpr uint32_t kCallsPerClockRead = 256;
constexpr size_t kClockReadWindow = 512;  // a call over this many starts reads the clock
constexpr int64_t kSlowNs = 20'000'000;   // calls this far apart narrow the windows
constexpr int64_t kQuickNs = 1'000'000;   // and these widen them
constexpr uint32_t kMostNarrowed = 12;
constexpr size_t kLongText = 64 * 1024;   // starts with windows of 64 starts
constexpr uint32_t kNarrowedAtFirst = 6;

uint64_t BudgetOf(size_t bytes) { return kBudgetBase + kBudgetPerByte * static_cast<uint64_t>(bytes); }

// The widest window at each tier: as many starts as keep its charge at
// 4096 * 32 steps, at most 4096 (always a power of two).
constexpr size_t kWidest[kTiers] = {4096, 4096, 1024, 256, 64, 16, 4, 1, 1, 1, 1};
static_assert(kWidest[kJitFloor] * kTierLimit[kJitFloor] == 4096 * 32);

[[gnu::always_inline]] inline size_t WidestWindow(int tier, uint32_t narrowed) {
  const size_t window = kWidest[tier] >> narrowed;
  return window ? window : 1;
}

// The last start position of the window that holds `from`, or s.size()
// when it reaches the end. Windows lie on a grid of `window` (a power of
// two) bytes, so that the calls of a dense search share one offset limit;
// a window has at most `window` starts after `from` and the few bytes of a
// character. The next window begins at a character, never between the CR
// and LF of a line end: PCRE2 steps over such a LF within one call, and a
// call begun there would not.
// The budget keeps the last window's end for the calls that follow in it.
[[gnu::always_inline]] inline size_t WindowEnd(std::string_view s, size_t from, size_t window,
                                               SearchBudget& budget) {
  const size_t grid = (from | (window - 1)) + 1;
  if (grid >= s.size()) return s.size();
  if (grid == budget.window_grid && s.data() == budget.window_text) return budget.window_last;
  size_t next = grid;
  while (next < s.size() && utf8::IsContinuation(static_cast<unsigned char>(s[next]))) ++next;
  if (next < s.size() && s[next] == '\n' && s[next - 1] == '\r') ++next;
  budget.window_text = s.data();
  budget.window_grid = grid;
  budget.window_last = next >= s.size() ? s.size() : next - 1;
  return budget.window_last;
}

int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Reads the clock: false when the search has run out of time. Unless a long
// text started it, the first reading starts the clock, so that short
// searches never read it.
bool ClockAllows(SearchBudget& budget) {
  const int64_t now = NowNs();
  if (budget.clock_start == 0) {
    budget.clock_start = budget.clock_checked = now;
    return true;
  }
  const int64_t since = now - budget.clock_checked;
  budget.clock_checked = now;
  if (since > kSlowNs)
    budget.narrowed = std::min(budget.narrowed + 2, kMostNarrowed);
  else if (since < kQuickNs && budget.narrowed > 0)
    --budget.narrowed;
  const uint64_t paid = BudgetOf(budget.bytes) - budget.left;
  const int64_t allowed = kClockBaseNs + kClockPerByteNs * static_cast<int64_t>(budget.bytes) +
                          kClockPerUnitNs * static_cast<int64_t>(paid);
  return now - budget.clock_start <= allowed;
}

// Counts a call; every so often, and after a call over a wide or narrowed
// window (`window`: the call tried a whole window), reads the clock. A
// search out of time has nothing left.
[[gnu::always_inline]] inline void Tick(SearchBudget& budget, size_t starts, bool window) {
  if (++budget.calls % kCallsPerClockRead != 0 && starts < kClockReadWindow &&
      !(window && budget.narrowed > 0))
    return;
  if (!ClockAllows(budget)) budget.left = 0;
}

[[gnu::always_inline]] inline int CallPcre2(const Regex& re, PCRE2_SPTR subject, size_t length,
                                            size_t offset, uint32_t options,
                                            pcre2_match_context* context) {
  // The JIT entry cannot anchor at match time, nor apply start items.
  if (re.jit && !re.own_start_items && !(options & PCRE2_ANCHORED))
    return pcre2_jit_match(re.code, subject, length, offset, options, re.match_data, context);
  return pcre2_match(re.code, subject, length, offset, options | PCRE2_NO_UTF_CHECK,
                     re.match_data, context);
}

// The limits of the next call, set in the context only when they change.
[[gnu::always_inline]] inline void SetLimits(MatchEnvironment& env, uint32_t match_limit,
                                             size_t offset_limit) {
  if (env.match_limit != match_limit) {
    env.match_limit = match_limit;
    pcre2_set_match_limit(env.context, match_limit);
  }
  if (env.offset_limit != offset_limit) {
    env.offset_limit = offset_limit;
    pcre2_set_offset_limit(env.context, offset_limit);
  }
}

// RunMatch in full: every tier, window and retry.
[[gnu::noinline]] int RunMatchWindows(const Regex& re, std::string_view s, size_t offset,
                                      uint32_t options, SearchBudget& budget) {
  MatchEnvironment& env = Environment();
  const auto* subject = reinterpret_cast<PCRE2_SPTR>(DataOf(s));
  const size_t length = s.size();
  if (!budget.started) {
    budget.started = true;
    if (budget.bytes == 0) budget.bytes = length;
    budget.left = BudgetOf(budget.bytes);
    if (budget.bytes > kLongText) {
      budget.narrowed = kNarrowedAtFirst;
      budget.clock_start = budget.clock_checked = NowNs();
    }
  }
  const bool anchored = (options & PCRE2_ANCHORED) != 0;
  const bool interpreted = anchored || !re.jit;
  const uint64_t weight = interpreted ? kInterpreterWeight : 1;
  const int floor = interpreted ? 0 : kJitFloor;
  // An anchored retry tries one start, from the lowest tier; a search
  // carries its tier and window from call to call.
  int anchored_tier = floor;
  size_t one = 1;
  int& tier = anchored ? anchored_tier : budget.tier;
  size_t& window = anchored ? one : budget.window;
  if (tier < floor) tier = floor;
  if (window == 0) window = WidestWindow(tier, budget.narrowed);
  window = std::clamp<size_t>(window, 1, WidestWindow(tier, budget.narrowed));
  size_t from = offset;
  for (;;) {
    const uint64_t limit = kTierLimit[tier];
    // The last start position this call may try.
    size_t last = length;
    if (anchored)
      last = from;
    else if (re.windowed)
      last = WindowEnd(s, from, window, budget);
    const uint64_t most = weight * limit * (last - from + 1);
    if (budget.left < most) {
      budget.left = 0;
      return PCRE2_ERROR_MATCHLIMIT;
    }
    SetLimits(env, static_cast<uint32_t>(limit), last < length ? last : PCRE2_UNSET);
    const int rc = CallPcre2(re, subject, length, from, options, env.context);
    if (rc >= 0 || rc == PCRE2_ERROR_NOMATCH) {
      // It passed the start positions up to the one the match began at, which
      // lies before its end (\K can hide it from the start), or all of the
      // window.
      const size_t passed_to = rc >= 0 ? std::clamp<size_t>(re.ovector[1], from, last) : last;
      const size_t starts = passed_to - from + 1;
      budget.left -= weight * limit * starts;
      if (!anchored && tier > floor) {
        budget.passed += starts;
        if (budget.passed >= WidestWindow(tier, 0)) {
          --tier;
          budget.passed = 0;
        }
      }
      // Passing widens the window again (a match does too: the search has
      // moved on from a start that needed more).
      window = std::min(window * 4, WidestWindow(tier, budget.narrowed));
      if (rc >= 0 || last >= length || anchored) {
        Tick(budget, starts, false);
        return rc;
      }
      Tick(budget, starts, true);
      from = last + 1;
      continue;
    }
    budget.left -= most;
    if (rc != PCRE2_ERROR_MATCHLIMIT) return rc;
    Tick(budget, last - from, true);
    if (window > 1 && last > from && re.windowed && !anchored) {
      // Seek the start that needs more in a narrower window.
      window = std::max<size_t>(1, window / 16);
      continue;
    }
    // One start needs more: the pattern's own limit, or the last tier,
    // holds for it.
    if (tier + 1 == kTiers || limit >= re.own_match_limit) return rc;
    ++tier;
    budget.passed = 0;
  }
}

// The first match from `offset`, as pcre2_match finds it, in windows of
// start positions paid for from the budget (see above). Gives what PCRE2
// gives: the match (its offsets in re.match_data), PCRE2_ERROR_NOMATCH, or
// a failure; a search over its budget or its time fails with
// PCRE2_ERROR_MATCHLIMIT. The usual call, one window at the lowest tier that
// ends the search, is made here and costs nothing (see above); everything
// else in RunMatchWindows.
[[gnu::always_inline]] inline int RunMatch(const Regex& re, std::string_view s, size_t offset,
                                          uint32_t options, SearchBudget& budget) {
  const int floor = re.jit ? kJitFloor : 0;
  if ((options & PCRE2_ANCHORED) || budget.tier != floor || budget.window == 0 ||
      budget.left == 0)
    return RunMatchWindows(re, s, offset, options, budget);
  const size_t length = s.size();
  const size_t last = re.windowed ? WindowEnd(s, offset, budget.window, budget) : length;
  MatchEnvironment& env = Environment();
  SetLimits(env, kTierLimit[floor], last < length ? last : PCRE2_UNSET);
  const int rc =
      CallPcre2(re, reinterpret_cast<PCRE2_SPTR>(DataOf(s)), length, offset, options, env.context);
  if (rc >= 0) {
    const size_t starts = std::clamp<size_t>(re.ovector[1], offset, last) - offset + 1;
    if (budget.window < kWidest[floor])
      budget.window = std::min(budget.window * 4, WidestWindow(floor, budget.narrowed));
    Tick(budget, starts, false);
    return rc;
  }
  if (rc != PCRE2_ERROR_NOMATCH || last < length) {
    // Not the usual case after all: paid for like any other call.
    const uint64_t most = (re.jit ? 1 : kInterpreterWeight) * kTierLimit[floor] * (last - offset + 1);
    budget.left -= std::min(budget.left, most);
  }
  if (rc == PCRE2_ERROR_NOMATCH) {
    if (last >= length) {
      Tick(budget, last - offset + 1, false);
      return rc;
    }
    Tick(budget, last - offset + 1, true);
    budget.window = std::min(budget.window * 4, WidestWindow(floor, budget.narrowed));
    return RunMatchWindows(re, s, last + 1, options, budget);
  }
  if (rc != PCRE2_ERROR_MATCHLIMIT) return rc;
  Tick(budget, last - offset, true);
  if (budget.window > 1 && last > offset && re.windowed) {
    budget.window = std::max<size_t>(1, budget.window / 16);
  } else {
    if (floor + 1 == kTiers || kTierLimit[floor] >= re.own_match_limit) return rc;
    ++budget.tier;
    budget.passed = 0;
  }
  return RunMatchWindows(re, s, offset, options, budget);
}

// A search that failed for another reason than "no match".
void FailSearch(int rc, Error* error) {
  switch (rc) {
    case PCRE2_ERROR_MATCHLIMIT:
    case PCRE2_ERROR_DEPTHLIMIT:
    case PCRE2_ERROR_HEAPLIMIT:
    case PCRE2_ERROR_JIT_STACKLIMIT:
      Fail(error, Failure::kPattern, "pattern too complex for this text: " + Pcre2Message(rc));
      break;
    default:
      Fail(error, Failure::kOther, "search failed: " + Pcre2Message(rc));
  }
}

// A match found from `offset` that a walk can go on from: \K in an
// assertion can make one end before it starts, or before the place the
// search started.
[[gnu::always_inline]] inline bool MatchIsSound(const Regex& re, size_t offset, Error* error) {
  const PCRE2_SIZE* ov = re.ovector;
  if (ov[0] <= ov[1] && ov[1] >= offset) return true;
  Fail(error, Failure::kOther, "match ends before it starts (\\K in an assertion)");
  return false;
}

// The next match at or after the cursor, with the usual handling of empty
// matches: after an empty match the next one may not be empty at the same
// place; when there is none, the search moves one character on (and never
// stops between the CR and LF of a line end). The match's offsets are in
// re.match_data.
bool FindNext(const Regex& re, std::string_view s, Cursor& cursor, const Flags& flags,
              SearchBudget& budget, Error* error) {
  const uint32_t base = flags.match_empty ? 0 : PCRE2_NOTEMPTY;
  while (!cursor.done && cursor.offset <= s.size()) {
    uint32_t options = base;
    if (cursor.after_empty) options |= PCRE2_NOTEMPTY_ATSTART | PCRE2_ANCHORED;
    int rc = RunMatch(re, s, cursor.offset, options, budget);
    if (rc == PCRE2_ERROR_NOMATCH) {
      if (!cursor.after_empty || cursor.offset >= s.size()) break;
      size_t next = cursor.offset + 1;
      if (s[cursor.offset] == '\r' && re.crlf_is_newline && next < s.size() && s[next] == '\n')
        ++next;
      else
        while (next < s.size() && utf8::IsContinuation(static_cast<unsigned char>(s[next]))) ++next;
      cursor.offset = next;
      cursor.after_empty = false;
      continue;
    }
    if (rc < 0) {
      cursor.done = true;
      FailSearch(rc, error);
      return false;
    }
    if (!MatchIsSound(re, cursor.offset, error)) {
      cursor.done = true;
      return false;
    }
    const PCRE2_SIZE* ov = re.ovector;
    cursor.offset = ov[1];
    cursor.after_empty = ov[0] == ov[1];
    return true;
  }
  cursor.done = true;
  return false;
}

// Bytes on their way to the end of a text, gathered in a small buffer.
class Stage {
 public:
  // Runs longer than this go straight to the text.
  static constexpr size_t kShort = 16;

  explicit Stage(std::string& out) : out_(out) {}
  Stage(const Stage&) = delete;
  Stage& operator=(const Stage&) = delete;
  void Put(const char* p, size_t n) {
    if (n > kShort) {
      Flush();
      out_.append(p, n);
      return;
    }
    if (n > kRoom - used_) Flush();
    char* d = buffer_ + used_;
    for (size_t i = 0; i < n; ++i) d[i] = p[i];
    used_ += n;
  }
  // The same for a run that can be read kShort bytes on from p: short runs
  // are copied as a whole block, which costs no loop.
  void PutPadded(const char* p, size_t n) {
    if (n > kShort) return Put(p, n);
    if (n > kRoom - used_) Flush();
    std::memcpy(buffer_ + used_, p, kShort);
    used_ += n;
  }
  void Flush() {
    out_.append(buffer_, used_);
    used_ = 0;
  }

 private:
  static constexpr size_t kRoom = 64;
  std::string& out_;
  size_t used_ = 0;
  char buffer_[kRoom + kShort] = {};
};

// A replacement pattern cut once into literal runs and group references, so
// that applying it per match costs no parsing.
class Replacement {
 public:
  explicit Replacement(std::string_view pattern) {
    const ValidText valid(pattern);
    const std::string_view text = valid.view();
    size_t literal_start = 0;
    for (size_t i = 0; i + 1 < text.size(); ++i) {
      char c = text[i], d = text[i + 1];
      if (c == '\\' && d >= '0' && d <= '9') {
        if (i > literal_start) pieces_.push_back({-1, literal_start, i - literal_start});
        pieces_.push_back({d - '0', 0, 0});
        literal_start = i + 2;
        ++i;
      }
    }
    if (text.size() > literal_start)
      pieces_.push_back({-1, literal_start, text.size() - literal_start});
    // Room after the last literal for Stage::PutPadded.
    text_.reserve(text.size() + Stage::kShort);
    text_.assign(text);
    text_.append(Stage::kShort, '\0');
  }

  // Appends the subject from byte `from` up to the match, then the match's
  // replacement. Short runs are gathered on the stack and appended in one go:
  // dense matches make runs of a few bytes, where each append of its own
  // would cost more than the bytes.
  void AppendTo(Stage& stage, std::string_view subject, size_t from, const PCRE2_SIZE* ov,
                int group_count) const {
    stage.Put(subject.data() + from, ov[0] - from);
    for (const Piece& p : pieces_) {
      if (p.group < 0) {
        stage.PutPadded(text_.data() + p.pos, p.len);
      } else if (p.group < group_count && ov[2 * p.group] != PCRE2_UNSET) {
        stage.Put(subject.data() + ov[2 * p.group], ov[2 * p.group + 1] - ov[2 * p.group]);
      }
    }
  }

 private:
  struct Piece {
    int group;  // -1: a literal run
    size_t pos, len;
  };
  std::string text_;  // the pattern's text, then kShort bytes of padding
  std::vector<Piece> pieces_;
};

// The target with the match after `start`, or every one, replaced; the text
// before `start` is kept as it is.
void ReplaceIn(const Regex& re, std::string_view s, Cursor cursor, std::string_view replacement,
               const Flags& flags, std::string* out, Error* error) {
  const Replacement r(replacement);
  std::string result;
  result.reserve(s.size() + (flags.replace_all ? s.size() / 16 : 0) + 64);
  const size_t start = cursor.done ? s.size() : cursor.offset;
  result.append(s.data(), start);
  size_t copied = start;
  Stage stage(result);
  SearchBudget budget(s.size());
  while (FindNext(re, s, cursor, flags, budget, error)) {
    const PCRE2_SIZE* ov = re.ovector;
    if (result.capacity() - result.size() < 4096 && ov[0] > start) {
      stage.Flush();
      // Dense matches outgrow the first guess: grow once to what the part
      // done so far foretells for the whole, instead of doubling again and
      // again (each time copying all and touching new memory).
      const double per_byte = static_cast<double>(result.size()) / static_cast<double>(ov[0]);
      const size_t foretold =
          static_cast<size_t>(per_byte * 1.05 * static_cast<double>(s.size())) + 8192;
      result.reserve(std::max(foretold, result.capacity() + result.capacity() / 2));
    }
    r.AppendTo(stage, s, copied, ov, re.group_count);
    copied = ov[1];
    if (!flags.replace_all) break;
  }
  if (error && error->failure != Failure::kNone) return;
  stage.Flush();
  result.append(s.data() + copied, s.size() - copied);
  *out = std::move(result);
}

// Where a search given a byte position starts: negative positions start at
// the beginning, a position inside a character at the next character.
Cursor CursorAt(std::string_view s, int64_t start) {
  Cursor c;
  if (start <= 0) return c;
  if (static_cast<uint64_t>(start) > s.size()) {
    c.done = true;
    return c;
  }
  size_t pos = static_cast<size_t>(start);
  while (pos < s.size() && utf8::IsContinuation(static_cast<unsigned char>(s[pos]))) ++pos;
  c.offset = pos;
  return c;
}

void* NewMatch(Regex& re) {
  MatchPool* pool = Pool();
  Match* m = pool ? pool->Take() : new Match;
  m->subject = re.subject;
  m->replacement = re.replacement;
  m->Assign(re.ovector, re.group_count);
  return m;
}

// An empty replacement (the usual case for searches) is kept as nil, which
// saves every match two reference-count updates.
void KeepReplacement(Regex& re, std::string_view replacement) {
  if (replacement.empty())
    re.replacement.reset();
  else if (!re.replacement || *re.replacement != replacement)
    re.replacement = std::make_shared<const std::string>(replacement);
}

void* SearchFrom(Regex& re, std::string_view target, int64_t start, std::string_view replacement,
                 const Flags* flags, Error* error) {
  if (!EnsureCompiled(re, *flags, error)) return nullptr;
  // Reuse the subject's buffer when no match still refers to it. The target
  // is checked while it is copied in, so it is read once.
  if (!re.subject || re.subject.use_count() != 1) re.subject = std::make_shared<std::string>();
  std::string& subject = *re.subject;
  subject.resize(target.size());
  if (!utf8::CopyValidating(subject.data(), DataOf(target), target.size()))
    subject = ToValidUtf8(target);
  KeepReplacement(re, replacement);
  re.cursor = CursorAt(*re.subject, start);
  re.budget = SearchBudget(re.subject->size());
  if (!FindNext(re, *re.subject, re.cursor, *flags, re.budget, error)) return nullptr;
  return NewMatch(re);
}

// --- the entry points ---------------------------------------------------------

void* RegExInit() { return new Regex; }

void RegExExit(void* re) { delete static_cast<Regex*>(re); }

// Whether the pattern matches in the target, searched where it lies (see
// Flags::probe): the first search of FindNext, without its state.
void* Probe(Regex& re, std::string_view target, const Flags& flags, Error* error);

// A probe with a budget of its own, for its target alone.
[[gnu::noinline]] void* ProbeAlone(Regex& re, std::string_view target, const Flags& flags,
                                   Error* error) {
  SearchBudget budget(target.size());
  Flags with_budget = flags;
  with_budget.budget = &budget;
  return Probe(re, target, with_budget, error);
}

void* Probe(Regex& re, std::string_view target, const Flags& flags, Error* error) {
  if (!flags.budget) return ProbeAlone(re, target, flags, error);
  if (!EnsureCompiled(re, flags, error)) return nullptr;
  std::optional<ValidText> valid;
  if (!flags.target_checked) target = valid.emplace(target).view();
  const int rc = RunMatch(re, target, 0, flags.match_empty ? 0 : PCRE2_NOTEMPTY, *flags.budget);
  if (rc == PCRE2_ERROR_NOMATCH) return nullptr;
  if (rc < 0 || !MatchIsSound(re, 0, error)) {
    if (rc < 0) FailSearch(rc, error);
    return nullptr;
  }
  return kProbeMatched;
}

// The next matches of a walk over the target (see Flags::walk), found as
// FindNext finds them, until the walk's room is full or the matches end.
void* WalkOn(Regex& re, std::string_view target, const Flags& flags, Error* error) {
  Walk& walk = *flags.walk;
  walk.found = 0;
  if (walk.done) return nullptr;
  if (!EnsureCompiled(re, flags, error)) {
    walk.done = true;
    return nullptr;
  }
  std::optional<ValidText> valid;
  if (!flags.target_checked) target = valid.emplace(target).view();
  Cursor cursor{walk.offset, walk.after_empty, false};
  const PCRE2_SIZE* ov = re.ovector;
  std::optional<SearchBudget> own;
  SearchBudget& budget = walk.budget ? *walk.budget : own.emplace(target.size());
  while (walk.found < walk.room && FindNext(re, target, cursor, flags, budget, error))
    walk.spans[walk.found++] = MatchSpan{ov[0], ov[1]};
  walk.offset = cursor.offset;
  walk.after_empty = cursor.after_empty;
  walk.done = cursor.done;
  return nullptr;
}

void* SearchTarget(void* re, std::string_view target, std::string_view replacement,
                   const Flags* flags, Error* error) {
  if (flags->walk) return WalkOn(*static_cast<Regex*>(re), target, *flags, error);
  if (flags->probe) return Probe(*static_cast<Regex*>(re), target, *flags, error);
  return SearchFrom(*static_cast<Regex*>(re), target, 0, replacement, flags, error);
}

void* SearchTargetStart(void* re, std::string_view target, int64_t start,
                        std::string_view replacement, const Flags* flags, Error* error) {
  return SearchFrom(*static_cast<Regex*>(re), target, start, replacement, flags, error);
}

void* SearchNext(void* handle, std::string_view replacement, const Flags* flags, Error* error) {
  Regex& re = *static_cast<Regex*>(handle);
  if (!re.subject) return nullptr;
  if (!EnsureCompiled(re, *flags, error)) return nullptr;
  KeepReplacement(re, replacement);
  if (!FindNext(re, *re.subject, re.cursor, *flags, re.budget, error)) return nullptr;
  return NewMatch(re);
}

void ReplaceTarget(void* handle, std::string_view target, std::string_view replacement,
                   const Flags* flags, std::string* out, Error* error) {
  Regex& re = *static_cast<Regex*>(handle);
  if (!EnsureCompiled(re, *flags, error)) return;
  ValidText valid(target);
  ReplaceIn(re, valid.view(), Cursor{}, replacement, *flags, out, error);
}

void ReplaceTargetStart(void* handle, std::string_view target, int64_t start,
                        std::string_view replacement, const Flags* flags, std::string* out,
                        Error* error) {
  Regex& re = *static_cast<Regex*>(handle);
  if (!EnsureCompiled(re, *flags, error)) return;
  ValidText valid(target);
  ReplaceIn(re, valid.view(), CursorAt(valid.view(), start), replacement, *flags, out, error);
}

void ReplaceNext(void* handle, std::string_view replacement, const Flags* flags, std::string* out,
                 Error* error) {
  Regex& re = *static_cast<Regex*>(handle);
  if (!re.subject) {
    out->clear();
    return;
  }
  if (!EnsureCompiled(re, *flags, error)) return;
  // The subject may be shared with matches; it is not changed.
  std::shared_ptr<const std::string> subject = re.subject;
  ReplaceIn(re, *subject, re.cursor, replacement, *flags, out, error);
}

void SearchPatternSet(void* handle, std::string_view pattern, const Flags* flags, Error* error) {
  Regex& re = *static_cast<Regex*>(handle);
  re.pattern.assign(DataOf(pattern), pattern.size());
  Compile(re, *flags, error);
}

void OptionsSet(void* re, void* options) {
  static_cast<Regex*>(re)->options = static_cast<const OptionsRecord*>(options);
}

void* OptionsInit() { return new OptionsRecord; }

void OptionsExit(void* options) { delete static_cast<OptionsRecord*>(options); }

bool OptionsLineEndTypeSet(void* options, int type) {
  if (type < 0 || type > 3) return false;
  static_cast<OptionsRecord*>(options)->line_end_type = type;
  return true;
}

int MatchInit(void* match) { return static_cast<Match*>(match)->group_count; }

void MatchExit(void* match) {
  auto* m = static_cast<Match*>(match);
  if (MatchPool* pool = Pool())
    pool->Give(m);
  else
    delete m;
}

void MatchReplacePattern(void* handle, std::string_view pattern, std::string* out) {
  const Match& m = *static_cast<Match*>(handle);
  out->clear();
  Stage stage(*out);
  Replacement(pattern).AppendTo(stage, *m.subject, m.offsets[0], m.offsets, m.group_count);
  stage.Flush();
}

void MatchReplace(void* handle, std::string* out) {
  const Match& m = *static_cast<Match*>(handle);
  MatchReplacePattern(handle, m.replacement ? std::string_view(*m.replacement) : std::string_view(),
                      out);
}

void MatchSubExpressionString(void* handle, int n, std::string* out) {
  const Match& m = *static_cast<Match*>(handle);
  out->clear();
  if (n < 0 || n >= m.group_count || m.offsets[2 * n] == PCRE2_UNSET) return;
  out->assign(*m.subject, m.offsets[2 * n], m.offsets[2 * n + 1] - m.offsets[2 * n]);
}

int64_t MatchSubExpressionStartB(void* handle, int n) {
  const Match& m = *static_cast<Match*>(handle);
  if (n < 0 || n >= m.group_count || m.offsets[2 * n] == PCRE2_UNSET) return -1;
  return static_cast<int64_t>(m.offsets[2 * n]);
}

template <class Fn>
PluginEntry Publish(Fn fn) {
  return reinterpret_cast<PluginEntry>(fn);
}

}  // namespace

char kProbeMatched[1];

const NamedEntrypoint kPcre2Entrypoints[] = {
    {"RegEx.__init", Publish<RegExInitFn>(RegExInit)},
    {"RegEx.__exit", Publish<RegExExitFn>(RegExExit)},
    {"RegEx.Search(TargetString as String) as RegExMatch", Publish<SearchTargetFn>(SearchTarget)},
    {"RegEx.Search(TargetString as String, SearchStartPosition as Integer) as RegExMatch",
     Publish<SearchTargetStartFn>(SearchTargetStart)},
    {"RegEx.Search() as RegExMatch", Publish<SearchNextFn>(SearchNext)},
    {"RegEx.Replace(TargetString as String) as String", Publish<ReplaceTargetFn>(ReplaceTarget)},
    {"RegEx.Replace(TargetString as String, SearchStartPosition as Integer) as String",
     Publish<ReplaceTargetStartFn>(ReplaceTargetStart)},
    {"RegEx.Replace() as String", Publish<ReplaceNextFn>(ReplaceNext)},
    {"RegEx.SearchPattern.Set", Publish<SearchPatternSetFn>(SearchPatternSet)},
    {"RegEx.Options.Set", Publish<OptionsSetFn>(OptionsSet)},
    {"RegExOptions.__init", Publish<OptionsInitFn>(OptionsInit)},
    {"RegExOptions.__exit", Publish<OptionsExitFn>(OptionsExit)},
    {"RegExOptions.LineEndType.Set", Publish<OptionsLineEndTypeSetFn>(OptionsLineEndTypeSet)},
    {"RegExMatch.__init", Publish<MatchInitFn>(MatchInit)},
    {"RegExMatch.__exit", Publish<MatchExitFn>(MatchExit)},
    {"RegExMatch.Replace() as String", Publish<MatchReplaceFn>(MatchReplace)},
    {"RegExMatch.Replace(ReplacementPattern as string) as String",
     Publish<MatchReplacePatternFn>(MatchReplacePattern)},
    {"RegExMatch.SubExpressionString(MatchNumber as Integer) as String",
     Publish<MatchSubExpressionStringFn>(MatchSubExpressionString)},
    {"RegExMatch.SubExpressionStartB(MatchNumber as Integer) as Integer",
     Publish<MatchSubExpressionStartBFn>(MatchSubExpressionStartB)},
};
const int kPcre2EntrypointCount = sizeof kPcre2Entrypoints / sizeof kPcre2Entrypoints[0];

}  // namespace platform::regex_component
