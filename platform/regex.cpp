#include "platform/regex.h"

#include <algorithm>
#include <cstdint>
#include <new>
#include <vector>

#include "platform/regex_component.h"
#include "platform/text.h"

namespace platform {

PluginEntry* gRegExEntrypoints = nullptr;

namespace {

namespace rc = regex_component;

// The bound entry point of that place, cast back to its real type.
template <class Fn>
Fn Entry(RegExEntry place) {
  PluginEntry entry = gRegExEntrypoints ? gRegExEntrypoints[place] : nullptr;
  if (!entry) throw NilObjectException("regular-expression component entry point not bound");
  return reinterpret_cast<Fn>(entry);
}

// For destructors, which must not raise: nullptr when the place is empty.
template <class Fn>
Fn EntryOrNull(RegExEntry place) {
  PluginEntry entry = gRegExEntrypoints ? gRegExEntrypoints[place] : nullptr;
  return reinterpret_cast<Fn>(entry);
}

void RaiseIfFailed(const rc::Error& error) {
  switch (error.failure) {
    case rc::Failure::kNone: return;
    case rc::Failure::kPattern: throw RegExSearchPatternException(error.message);
    case rc::Failure::kOther: throw RegExException(error.message);
  }
}

}  // namespace

// --- CheckedText ---------------------------------------------------------------

CheckedText::CheckedText(std::string_view text) : view_(text) {
  if (!IsValidUtf8(text)) {
    own_ = ToValidUtf8(text);
    view_ = own_;
  }
}

CheckedText::CheckedText(const CheckedText& text, size_t from, size_t to, std::string_view tail) {
  const std::string_view whole = text.view();
  to = std::min(to, whole.size());
  from = std::min(from, to);
  own_.reserve(to - from + tail.size());
  own_.append(whole.substr(from, to - from));
  if (IsValidUtf8(tail)) {
    own_.append(tail);
  } else {
    own_ += ToValidUtf8(tail);
  }
  // A piece cut inside a character is no longer valid: repair it whole.
  if (!text.AtCharacter(from) || !text.AtCharacter(to)) own_ = ToValidUtf8(own_);
  view_ = own_;
}

bool CheckedText::AtCharacter(size_t at) const {
  return at >= view_.size() || (static_cast<unsigned char>(view_[at]) & 0xC0) != 0x80;
}

// --- RegExOptions --------------------------------------------------------------

RegExOptions::RegExOptions() { handle_ = Entry<rc::OptionsInitFn>(kRegExOptionsInit)(); }

RegExOptions::~RegExOptions() {
  if (auto exit = EntryOrNull<rc::OptionsExitFn>(kRegExOptionsExit)) exit(handle_);
}

void RegExOptions::LineEndType(int type) {
  if (Entry<rc::OptionsLineEndTypeSetFn>(kRegExOptionsLineEndTypeSet)(handle_, type))
    line_end_type_ = type;
}

// --- RegExMatch ----------------------------------------------------------------

RegExMatch::RegExMatch(void* handle) : handle_(handle) {
  count_ = Entry<rc::MatchInitFn>(kRegExMatchInit)(handle_);
}

RegExMatch::~RegExMatch() {
  if (auto exit = EntryOrNull<rc::MatchExitFn>(kRegExMatchExit)) exit(handle_);
}

std::string RegExMatch::SubExpressionString(int n) const {
  std::string out;
  Entry<rc::MatchSubExpressionStringFn>(kRegExMatchSubExpressionString)(handle_, n, &out);
  return out;
}

int RegExMatch::SubExpressionStartB(int n) const {
  int64_t start = Entry<rc::MatchSubExpressionStartBFn>(kRegExMatchSubExpressionStartB)(handle_, n);
  return start > INT32_MAX ? INT32_MAX : static_cast<int>(start);
}

std::string RegExMatch::Replace() const {
  std::string out;
  Entry<rc::MatchReplaceFn>(kRegExMatchReplace)(handle_, &out);
  return out;
}

std::string RegExMatch::Replace(const std::string& replacement_pattern) const {
  std::string out;
  Entry<rc::MatchReplacePatternFn>(kRegExMatchReplacePattern)(handle_, replacement_pattern, &out);
  return out;
}

// --- RegEx ---------------------------------------------------------------------

namespace {

[[gnu::always_inline]] inline rc::Flags FlagsOf(const std::shared_ptr<RegExOptions>& options) {
  const RegExOptions& o = Deref(options, "RegEx.Options");
  rc::Flags f;
  f.case_sensitive = o.CaseSensitive;
  f.greedy = o.Greedy;
  f.dot_match_all = o.DotMatchAll;
  f.match_empty = o.MatchEmpty;
  f.one_line = o.TreatTargetAsOneLine;
  f.replace_all = o.ReplaceAllMatches;
  return f;
}

// Searches can make a match object per paragraph; their shared blocks (all
// of one size) are recycled through a small per-thread free list instead of
// going to the heap each time.
thread_local bool tBlockPoolGone = false;

class BlockPool {
 public:
  ~BlockPool() {
    tBlockPoolGone = true;
    for (void* block : free_) ::operator delete(block);
  }
  void* Take(size_t size) {
    if (size != size_ || free_.empty()) return ::operator new(size);
    void* block = free_.back();
    free_.pop_back();
    return block;
  }
  void Give(void* block, size_t size) {
    if (size_ == 0) size_ = size;
    if (size == size_ && free_.size() < kKept) {
      free_.push_back(block);
    } else {
      ::operator delete(block);
    }
  }

 private:
  static constexpr size_t kKept = 64;
  size_t size_ = 0;
  std::vector<void*> free_;
};

BlockPool* Blocks() {
  if (tBlockPoolGone) return nullptr;
  thread_local BlockPool pool;
  return &pool;
}

template <class T>
struct RecyclingAllocator {
  using value_type = T;
  RecyclingAllocator() = default;
  template <class U>
  RecyclingAllocator(const RecyclingAllocator<U>&) {}  // NOLINT: rebinding
  T* allocate(size_t n) {
    if (n != 1) return static_cast<T*>(::operator new(n * sizeof(T)));
    BlockPool* pool = Blocks();
    return static_cast<T*>(pool ? pool->Take(sizeof(T)) : ::operator new(sizeof(T)));
  }
  void deallocate(T* p, size_t n) {
    BlockPool* pool = n == 1 ? Blocks() : nullptr;
    if (pool)
      pool->Give(p, sizeof(T));
    else
      ::operator delete(p);
  }
  template <class U>
  bool operator==(const RecyclingAllocator<U>&) const { return true; }
};

std::shared_ptr<RegExMatch> Adopt(void* match, const rc::Error& error) {
  RaiseIfFailed(error);
  if (!match) return nullptr;
  try {
    return std::allocate_shared<RegExMatch>(RecyclingAllocator<RegExMatch>(), match);
  } catch (...) {
    if (auto exit = EntryOrNull<rc::MatchExitFn>(kRegExMatchExit)) exit(match);
    throw;
  }
}

}  // namespace

RegEx::RegEx() : options_(std::make_shared<RegExOptions>()) {
  handle_ = Entry<rc::RegExInitFn>(kRegExInit)();
  try {
    Entry<rc::OptionsSetFn>(kRegExOptionsSet)(handle_, options_->handle_);
  } catch (...) {
    if (auto exit = EntryOrNull<rc::RegExExitFn>(kRegExExit)) exit(handle_);
    throw;
  }
}

RegEx::~RegEx() {
  if (auto exit = EntryOrNull<rc::RegExExitFn>(kRegExExit)) exit(handle_);
}

void RegEx::SearchPattern(const std::string& pattern) {
  search_pattern_ = pattern;
  rc::Flags flags = FlagsOf(options_);
  rc::Error error;
  Entry<rc::SearchPatternSetFn>(kRegExSearchPatternSet)(handle_, pattern, &flags, &error);
  RaiseIfFailed(error);
}

void RegEx::Options(std::shared_ptr<RegExOptions> options) {
  // The component learns the new options before the old ones may go.
  Entry<rc::OptionsSetFn>(kRegExOptionsSet)(handle_, options ? options->handle_ : nullptr);
  options_ = std::move(options);
}

std::shared_ptr<RegExMatch> RegEx::Search(std::string_view target) {
  rc::Flags flags = FlagsOf(options_);
  rc::Error error;
  void* match = Entry<rc::SearchTargetFn>(kRegExSearchTarget)(handle_, target, replacement_pattern_,
                                                              &flags, &error);
  return Adopt(match, error);
}

std::shared_ptr<RegExMatch> RegEx::Search(std::string_view target, int start) {
  rc::Flags flags = FlagsOf(options_);
  rc::Error error;
  void* match = Entry<rc::SearchTargetStartFn>(kRegExSearchTargetStart)(
      handle_, target, start, replacement_pattern_, &flags, &error);
  return Adopt(match, error);
}

std::shared_ptr<RegExMatch> RegEx::Search() {
  rc::Flags flags = FlagsOf(options_);
  rc::Error error;
  void* match =
      Entry<rc::SearchNextFn>(kRegExSearchNext)(handle_, replacement_pattern_, &flags, &error);
  return Adopt(match, error);
}

bool RegEx::Matches(const CheckedText& text) { return Matches(text, 0, text.view().size()); }

bool RegEx::Matches(const CheckedText& text, size_t from, size_t to) {
  SearchBudget budget(text.view().size());
  return Matches(text, from, to, budget);
}

bool RegEx::Matches(const CheckedText& text, SearchBudget& budget) {
  return Matches(text, 0, text.view().size(), budget);
}

bool RegEx::Matches(const CheckedText& text, size_t from, size_t to, SearchBudget& budget) {
  const std::string_view whole = text.view();
  to = std::min(to, whole.size());
  from = std::min(from, to);
  rc::Flags flags = FlagsOf(options_);
  flags.probe = true;
  flags.budget = &budget;
  flags.target_checked = text.AtCharacter(from) && text.AtCharacter(to);
  rc::Error error;
  void* matched = Entry<rc::SearchTargetFn>(kRegExSearchTarget)(
      handle_, whole.substr(from, to - from), replacement_pattern_, &flags, &error);
  if (error.failure != rc::Failure::kNone) RaiseIfFailed(error);
  return matched != nullptr;
}

size_t RegEx::NextMatches(const CheckedText& text, MatchWalk& walk, MatchSpan* spans,
                          size_t room) {
  if (walk.done_ || room == 0) return 0;
  rc::Walk state;
  state.offset = walk.offset_;
  state.after_empty = walk.after_empty_;
  state.spans = spans;
  state.room = room;
  state.budget = &walk.budget_;
  rc::Flags flags = FlagsOf(options_);
  flags.target_checked = true;
  flags.walk = &state;
  rc::Error error;
  Entry<rc::SearchTargetFn>(kRegExSearchTarget)(handle_, text.view(), replacement_pattern_, &flags,
                                                &error);
  walk.offset_ = state.offset;
  walk.after_empty_ = state.after_empty;
  walk.done_ = state.done || error.failure != rc::Failure::kNone;
  RaiseIfFailed(error);
  return state.found;
}

std::string RegEx::Replace(std::string_view target) {
  rc::Flags flags = FlagsOf(options_);
  rc::Error error;
  std::string out;
  Entry<rc::ReplaceTargetFn>(kRegExReplaceTarget)(handle_, target, replacement_pattern_, &flags,
                                                  &out, &error);
  RaiseIfFailed(error);
  return out;
}

std::string RegEx::Replace(std::string_view target, int start) {
  rc::Flags flags = FlagsOf(options_);
  rc::Error error;
  std::string out;
  Entry<rc::ReplaceTargetStartFn>(kRegExReplaceTargetStart)(handle_, target, start,
                                                            replacement_pattern_, &flags, &out,
                                                            &error);
  RaiseIfFailed(error);
  return out;
}

std::string RegEx::Replace() {
  rc::Flags flags = FlagsOf(options_);
  rc::Error error;
  std::string out;
  Entry<rc::ReplaceNextFn>(kRegExReplaceNext)(handle_, replacement_pattern_, &flags, &out, &error);
  RaiseIfFailed(error);
  return out;
}

}  // namespace platform
