// The framework's regular-expression classes.
//
// RegEx, RegExOptions and RegExMatch hold no engine of their own: every
// operation calls through the table of the component's 19 entry points that
// start-up binds by name (RuntimeAllocatePluginEntrypointsTable,
// RuntimeLookupPluginEntrypoint). The component behind the table is PCRE2.
//
// Defaults: matching ignores case, ^ and $ match at every line start and end,
// line ends are CR, LF or CRLF, "." does not match a line end, quantifiers are
// greedy, empty matches are found. A pattern that does not compile, and a
// search that hits the component's match or depth limit, raise
// RegExSearchPatternException (a RegExException). The limit bounds the whole
// search of one text, over all its start positions and all the calls that
// search it (see SearchBudget), not each start alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/object.h"
#include "platform/runtime.h"

namespace platform {

// The places of the entry table, in the order in which start-up binds them.
enum RegExEntry : int {
  kRegExInit = 0,             // "RegEx.__init"
  kRegExExit,                 // "RegEx.__exit"
  kRegExSearchTarget,         // "RegEx.Search(TargetString as String) as RegExMatch"
  kRegExSearchTargetStart,    // "RegEx.Search(TargetString as String, SearchStartPosition as Integer) as RegExMatch"
  kRegExSearchNext,           // "RegEx.Search() as RegExMatch"
  kRegExReplaceTarget,        // "RegEx.Replace(TargetString as String) as String"
  kRegExReplaceTargetStart,   // "RegEx.Replace(TargetString as String, SearchStartPosition as Integer) as String"
  kRegExReplaceNext,          // "RegEx.Replace() as String"
  kRegExSearchPatternSet,     // "RegEx.SearchPattern.Set"
  kRegExOptionsSet,           // "RegEx.Options.Set"
  kRegExOptionsInit,          // "RegExOptions.__init"
  kRegExOptionsExit,          // "RegExOptions.__exit"
  kRegExOptionsLineEndTypeSet,// "RegExOptions.LineEndType.Set"
  kRegExMatchInit,            // "RegExMatch.__init"
  kRegExMatchExit,            // "RegExMatch.__exit"
  kRegExMatchReplace,         // "RegExMatch.Replace() as String"
  kRegExMatchReplacePattern,  // "RegExMatch.Replace(ReplacementPattern as string) as String"
  kRegExMatchSubExpressionString,  // "RegExMatch.SubExpressionString(MatchNumber as Integer) as String"
  kRegExMatchSubExpressionStartB,  // "RegExMatch.SubExpressionStartB(MatchNumber as Integer) as Integer"
  kRegExEntryCount
};

// The table the RegEx classes call through; start-up sets it. Calling an
// operation while its place is empty raises NilObjectException.
extern PluginEntry* gRegExEntrypoints;

// A text checked once to be valid UTF-8, as every search target must be; an
// invalid text is repaired into a copy of its own (each invalid byte becomes
// U+FFFD, as Search does with its targets), and view() gives that form.
// Pieces of it that start and end at characters are valid UTF-8 too, so
// they can be searched without being checked again (RegEx::Matches).
class CheckedText {
 public:
  // The text must outlive the CheckedText, which only looks at it when it is
  // valid; a temporary would not.
  explicit CheckedText(std::string_view text);
  explicit CheckedText(const char* text) : CheckedText(std::string_view(text)) {}
  explicit CheckedText(std::string&& text) = delete;
  // The piece [from, to) of `text` (byte offsets into text.view(), at
  // characters) followed by `tail`, kept as a copy; only the tail is checked.
  CheckedText(const CheckedText& text, size_t from, size_t to, std::string_view tail);
  CheckedText(const CheckedText&) = delete;
  CheckedText& operator=(const CheckedText&) = delete;

  std::string_view view() const { return view_; }
  // Whether byte offset `at` (at most the size) is where a character starts
  // or the text ends.
  bool AtCharacter(size_t at) const;

 private:
  std::string_view view_;
  std::string own_;
};

// What the searches of one text may still spend, all calls together: a
// budget that grows with the text's size, so that a pattern that backtracks
// without bound is stopped (as a limit hit) after a moment, however many
// start positions or pieces it is tried at, while every ordinary search of
// any length finishes. Kept by the pattern component; a caller makes one for
// a text and hands it to every search of that text or of its pieces.
struct SearchBudget {
  explicit SearchBudget(size_t text_bytes = 0) : bytes(text_bytes) {}
  size_t bytes;  // the size of the whole text, which sets the budget (0: the first target's)
  // The component's own bookkeeping.
  bool started = false;
  uint64_t left = 0;
  int64_t clock_start = 0, clock_checked = 0;  // nanoseconds, 0: not read yet
  uint32_t calls = 0;
  uint32_t narrowed = 0;  // how far the windows of start positions are narrowed
  int tier = -1;          // the per-start limit now in use (-1: none yet)
  size_t window = 0;      // start positions a call tries at most
  size_t passed = 0;      // start positions passed at this tier since it was reached
  const char* window_text = nullptr;  // the last window's end, for the calls in it
  size_t window_grid = 0, window_last = 0;
};

// One match as byte offsets into the text searched: [start, end).
struct MatchSpan {
  size_t start, end;
};

// Where a walk over the matches of a text stands (RegEx::NextMatches); a new
// one starts at the beginning of the text.
class MatchWalk {
 public:
  // Whether the walk has met the end of the matches.
  bool done() const { return done_; }

 private:
  friend class RegEx;
  size_t offset_ = 0;
  bool after_empty_ = false;
  bool done_ = false;
  SearchBudget budget_;  // one for the whole walk
};

class RegExOptions : public Object {
 public:
  RegExOptions();
  ~RegExOptions() override;

  bool ReplaceAllMatches = false;
  bool CaseSensitive = false;
  bool Greedy = true;
  bool DotMatchAll = false;
  bool MatchEmpty = true;
  bool TreatTargetAsOneLine = false;  // false: ^ and $ match at every line

  // 0: any of CR, LF, CRLF (the default); 1: CR; 2: LF; 3: CRLF. Any
  // other value is ignored and the type stays as it was.
  int LineEndType() const { return line_end_type_; }
  void LineEndType(int type);

  RegExOptions(const RegExOptions&) = delete;
  RegExOptions& operator=(const RegExOptions&) = delete;

 private:
  friend class RegEx;
  int line_end_type_ = 0;
  void* handle_ = nullptr;  // the component's options object
};

class RegExMatch : public Object {
 public:
  ~RegExMatch() override;
  RegExMatch(const RegExMatch&) = delete;
  RegExMatch& operator=(const RegExMatch&) = delete;
  // The number of subexpressions of the pattern, the whole match included.
  int SubExpressionCount() const { return count_; }
  // Group n (0: the whole match); the empty text for a group that did not
  // take part.
  std::string SubExpressionString(int n) const;
  // Byte offset (from 0) of group n in the target; -1 when it did not take
  // part (or n is out of range).
  int SubExpressionStartB(int n) const;
  // The regex's replacement pattern, or the given one, with \0 to \9 filled in.
  std::string Replace() const;
  std::string Replace(const std::string& replacement_pattern) const;

  // Takes over the component's match object (opaque).
  explicit RegExMatch(void* handle);
  void* Handle() const { return handle_; }

 private:
  void* handle_;
  int count_ = 0;
};

class RegEx : public Object {
 public:
  RegEx();
  ~RegEx() override;
  RegEx(const RegEx&) = delete;
  RegEx& operator=(const RegEx&) = delete;

  const std::string& SearchPattern() const { return search_pattern_; }
  void SearchPattern(const std::string& pattern);  // raises on a bad pattern

  const std::string& ReplacementPattern() const { return replacement_pattern_; }
  void ReplacementPattern(const std::string& pattern) { replacement_pattern_ = pattern; }

  const std::shared_ptr<RegExOptions>& Options() const { return options_; }
  void Options(std::shared_ptr<RegExOptions> options);

  // The first match in the target (from byte `start`: below 0 from the
  // beginning, inside a character from the next one, past the end nil), or
  // nil. The regex keeps its own copy of the target: Search() with no target
  // goes on after the previous match in it (nil when there is none).
  //
  // Targets are taken as UTF-8; a target that is not valid UTF-8 is searched
  // in its repaired form (each invalid byte becomes U+FFFD), and offsets and
  // texts of its matches refer to that form.
  std::shared_ptr<RegExMatch> Search(std::string_view target);
  std::shared_ptr<RegExMatch> Search(std::string_view target, int start);
  std::shared_ptr<RegExMatch> Search();

  // Whether Search of the text, or of its piece [from, to) (byte offsets
  // into text.view()), gives a match, found the same way; the text is
  // searched where it lies, is not checked again (a piece that does not
  // start and end at characters is checked alone), is not kept, and no match
  // object is made. A later Search() goes on as if this call had not been
  // made. Raises as Search does.
  bool Matches(const CheckedText& text);
  bool Matches(const CheckedText& text, size_t from, size_t to);
  // The same, spending from the budget of a larger text that the caller
  // searches piece by piece: the pieces of one text share one budget.
  bool Matches(const CheckedText& text, SearchBudget& budget);
  bool Matches(const CheckedText& text, size_t from, size_t to, SearchBudget& budget);

  // The next matches of the text, at most `room` of them, into `spans`, in
  // the order in which Replace with ReplaceAllMatches takes them (after an
  // empty match the next try at the same place must not be empty, else the
  // search moves one character on); gives how many. Fewer than `room` (none
  // included) means the walk is over. The text is searched where it lies,
  // is not checked again and not kept, no match object is made, and a later
  // Search() goes on as if this call had not been made. Every call of one
  // walk must be given the same text. Raises as Search does; the walk is
  // then over.
  size_t NextMatches(const CheckedText& text, MatchWalk& walk, MatchSpan* spans, size_t room);

  // The target with the first match, or with every match when
  // Options.ReplaceAllMatches is set, replaced by the replacement pattern
  // (\0 the whole match, \1 to \9 its groups; a group that did not take
  // part gives the empty text; every other character, a backslash before
  // anything but a digit included, stands for itself). With a start, the
  // text before it is kept unchanged. Replace() works on the target of the
  // last Search from where Search() would go on, and changes no state of the
  // regex; with no such target it gives the empty text.
  std::string Replace(std::string_view target);
  std::string Replace(std::string_view target, int start);
  std::string Replace();

  void* Handle() const { return handle_; }

 private:
  void* handle_ = nullptr;
  std::string search_pattern_;
  std::string replacement_pattern_;
  std::shared_ptr<RegExOptions> options_;
};

}  // namespace platform
