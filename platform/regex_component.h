// The calling convention between the RegEx classes (regex.cpp) and the
// pattern component behind the entry table (regex_pcre2.cpp). Internal to
// platform/: nothing else calls the component directly.
//
// Handles are opaque pointers owned as follows: a regex handle from
// RegExInit is released by RegExExit; an options handle from OptionsInit by
// OptionsExit; a match handle, returned by a search, belongs to the caller,
// who reads it after MatchInit and releases it with MatchExit.
//
// Targets, patterns and replacements are passed as byte ranges and need not
// outlive the call; the component keeps what it needs. A failing call
// returns its neutral value and fills `error`; the class raises.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/regex.h"
#include "platform/runtime.h"

namespace platform::regex_component {

// A walk over the matches of a target, taken several at a time (see
// Flags::walk). The cursor is carried from one call to the next; `spans` has
// room for `room` matches, and the call says how many it `found`.
struct Walk {
  size_t offset = 0;
  bool after_empty = false;  // the previous match was empty and ended at offset
  bool done = false;
  MatchSpan* spans = nullptr;
  size_t room = 0;
  size_t found = 0;
  SearchBudget* budget = nullptr;  // the walk's, for all its calls
};

// The options that are plain fields of RegExOptions, read afresh for every
// operation (callers may change them at any time).
struct Flags {
  bool case_sensitive = false;
  bool greedy = true;
  bool dot_match_all = false;
  bool match_empty = true;
  bool one_line = false;
  bool replace_all = false;

  // How one search treats its target; not options of the regex.
  // target_checked: the target is known to be valid UTF-8 and is not checked
  // again. probe: the caller asks only whether there is a match; the target
  // is searched where it lies and not kept, no match object is made (a match
  // gives kProbeMatched, which is no match handle) and the walk of Search()
  // stays as it was.
  // walk: the caller takes the next matches of the walk, in the order in
  // which a replace-all takes them, as byte offsets; the target is searched
  // where it lies and not kept, no match object is made (the search gives
  // nil), and the walk of Search() stays as it was.
  // budget: what a probe spends from (the budget of the text it is a piece
  // of); without one, the probe has a budget of its own.
  bool target_checked = false;
  bool probe = false;
  Walk* walk = nullptr;
  SearchBudget* budget = nullptr;
};

// What a probing search gives for a match.
extern char kProbeMatched[];

enum class Failure : int {
  kNone = 0,
  kPattern,  // the pattern does not compile, or a search hit a limit
  kOther,    // any other failure of the engine
};

struct Error {
  Failure failure = Failure::kNone;
  std::string message;
};

// The function types of the 19 entries, in the order of RegExEntry.
using RegExInitFn = void* (*)();
using RegExExitFn = void (*)(void* re);
using SearchTargetFn = void* (*)(void* re, std::string_view target, std::string_view replacement,
                                 const Flags* flags, Error* error);
using SearchTargetStartFn = void* (*)(void* re, std::string_view target, int64_t start,
                                      std::string_view replacement, const Flags* flags,
                                      Error* error);
using SearchNextFn = void* (*)(void* re, std::string_view replacement, const Flags* flags,
                               Error* error);
using ReplaceTargetFn = void (*)(void* re, std::string_view target, std::string_view replacement,
                                 const Flags* flags, std::string* out, Error* error);
using ReplaceTargetStartFn = void (*)(void* re, std::string_view target, int64_t start,
                                      std::string_view replacement, const Flags* flags,
                                      std::string* out, Error* error);
using ReplaceNextFn = void (*)(void* re, std::string_view replacement, const Flags* flags,
                               std::string* out, Error* error);
using SearchPatternSetFn = void (*)(void* re, std::string_view pattern, const Flags* flags,
                                    Error* error);
using OptionsSetFn = void (*)(void* re, void* options);
using OptionsInitFn = void* (*)();
using OptionsExitFn = void (*)(void* options);
// False, with nothing changed, for a type outside 0 to 3.
using OptionsLineEndTypeSetFn = bool (*)(void* options, int type);
// Gives the number of subexpressions, the whole match included.
using MatchInitFn = int (*)(void* match);
using MatchExitFn = void (*)(void* match);
using MatchReplaceFn = void (*)(void* match, std::string* out);
using MatchReplacePatternFn = void (*)(void* match, std::string_view pattern, std::string* out);
using MatchSubExpressionStringFn = void (*)(void* match, int n, std::string* out);
using MatchSubExpressionStartBFn = int64_t (*)(void* match, int n);

// The component's published names, for the runtime's lookup by name.
struct NamedEntrypoint {
  const char* name;
  PluginEntry entry;
};
extern const NamedEntrypoint kPcre2Entrypoints[];
extern const int kPcre2EntrypointCount;

}  // namespace platform::regex_component
