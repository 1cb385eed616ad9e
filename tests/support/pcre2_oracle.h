// Expected match lists straight from PCRE2, for checking getRegPos and
// getRegParaPos against something that shares no code with them or with
// the pattern component.
//
// The pattern is compiled with the component's documented defaults set
// here by hand (caseless, ^ and $ at every line, line ends CR, LF or CRLF,
// UTF, no \C) and the component's limits on a single search; it is matched
// by pcre2_match, which reads the pattern's own start items such as
// (*NOTEMPTY), with a match loop of its own (the one pcre2demo shows). By
// default the interpreter runs; `jit` uses JIT code, whose limits behave
// like the component's. `match_limit` bounds each start position, as
// PCRE2 does; the component bounds the whole search too, so where a start
// needs many steps it may give the limit outcome where the oracle answers.
//
// Texts must be valid UTF-8 (the component repairs other texts where they
// enter; give the oracle the repaired form).
#pragma once

#ifndef PCRE2_CODE_UNIT_WIDTH
#define PCRE2_CODE_UNIT_WIDTH 8
#endif
#include <pcre2.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace oracle {

class Pcre2Oracle {
 public:
  explicit Pcre2Oracle(const std::string& pattern, bool jit = false,
                       uint32_t match_limit = 10'000'000) {
    compile_ = pcre2_compile_context_create(nullptr);
    match_ = pcre2_match_context_create(nullptr);
    pcre2_set_newline(compile_, PCRE2_NEWLINE_ANYCRLF);
    pcre2_set_match_limit(match_, match_limit);
    pcre2_set_depth_limit(match_, 250'000);
    pcre2_set_heap_limit(match_, 256 * 1024);
    int error = 0;
    PCRE2_SIZE offset = 0;
    code_ = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(),
                          PCRE2_UTF | PCRE2_NEVER_BACKSLASH_C | PCRE2_CASELESS | PCRE2_MULTILINE,
                          &error, &offset, compile_);
    if (!code_) return;
    if (jit) {
      stack_ = pcre2_jit_stack_create(32 * 1024, 8 * 1024 * 1024, nullptr);
      pcre2_jit_stack_assign(match_, nullptr, stack_);
      pcre2_jit_compile(code_, PCRE2_JIT_COMPLETE);
    }
    data_ = pcre2_match_data_create_from_pattern(code_, nullptr);
    uint32_t newline = 0;
    pcre2_pattern_info(code_, PCRE2_INFO_NEWLINE, &newline);
    crlf_newline_ = newline == PCRE2_NEWLINE_ANY || newline == PCRE2_NEWLINE_CRLF ||
                    newline == PCRE2_NEWLINE_ANYCRLF;
  }
  ~Pcre2Oracle() {
    if (data_) pcre2_match_data_free(data_);
    if (code_) pcre2_code_free(code_);
    if (stack_) pcre2_jit_stack_free(stack_);
    pcre2_match_context_free(match_);
    pcre2_compile_context_free(compile_);
  }
  Pcre2Oracle(const Pcre2Oracle&) = delete;
  Pcre2Oracle& operator=(const Pcre2Oracle&) = delete;

  // Whether PCRE2 accepts the pattern.
  bool compiled() const { return code_ && data_; }

  // Byte ranges of every match in text order: after an empty match, a
  // non-empty one anchored at the same place is tried, else the search
  // steps one character on (a CRLF as one when it is a line end). Nothing
  // when the pattern was rejected or a search fails for any reason but "no
  // match" (a limit, \K making a match end before it starts).
  std::optional<std::vector<std::pair<size_t, size_t>>> Matches(const std::string& s) const {
    if (!compiled()) return std::nullopt;
    std::vector<std::pair<size_t, size_t>> matches;
    size_t offset = 0;
    bool after_empty = false;
    // PCRE2 checks the whole subject's UTF-8 on the first search; later ones
    // skip it, or the loop would take time quadratic in the text's length.
    uint32_t checked = 0;
    while (offset <= s.size()) {
      const int rc = Match(s, offset,
                           checked | (after_empty ? PCRE2_NOTEMPTY_ATSTART | PCRE2_ANCHORED : 0));
      checked = PCRE2_NO_UTF_CHECK;
      if (rc == PCRE2_ERROR_NOMATCH) {
        if (!after_empty || offset == s.size()) break;
        size_t next = offset + 1;
        if (crlf_newline_ && s[offset] == '\r' && next < s.size() && s[next] == '\n') {
          ++next;
        } else {
          while (next < s.size() && (static_cast<unsigned char>(s[next]) & 0xC0) == 0x80) ++next;
        }
        offset = next;
        after_empty = false;
        continue;
      }
      if (rc < 0) return std::nullopt;
      const PCRE2_SIZE* ov = pcre2_get_ovector_pointer(data_);
      if (ov[0] > ov[1] || ov[1] < offset) return std::nullopt;
      matches.emplace_back(ov[0], ov[1]);
      offset = ov[1];
      after_empty = ov[0] == ov[1];
    }
    return matches;
  }

  // The RegPosList of the text: "s1,s2,<>e1,e2,", character positions from
  // 1, an empty match at k giving start k and end k - 1.
  std::optional<std::string> Positions(const std::string& s) const {
    const auto matches = Matches(s);
    if (!matches) return std::nullopt;
    // chars_before[b]: the characters that start before byte b.
    std::vector<uint64_t> chars_before(s.size() + 1, 0);
    for (size_t b = 0; b < s.size(); ++b)
      chars_before[b + 1] = chars_before[b] + ((static_cast<unsigned char>(s[b]) & 0xC0) != 0x80);
    std::string starts, ends;
    for (const auto& [from, to] : *matches) {
      starts += std::to_string(chars_before[from] + 1) + ",";
      ends += std::to_string(chars_before[to]) + ",";
    }
    return starts + "<>" + ends;
  }

  // The RegParaList: "i," for every paragraph (cut at CR, numbered from 1)
  // in which a search of the paragraph with one CR appended finds a match.
  // Nothing when the pattern was rejected or some search fails.
  std::optional<std::string> Paragraphs(const std::string& s) const {
    if (!compiled()) return std::nullopt;
    std::string list;
    size_t start = 0;
    for (int number = 1;; ++number) {
      const size_t cr = s.find('\r', start);
      const std::string paragraph =
          s.substr(start, cr == std::string::npos ? std::string::npos : cr - start) + "\r";
      const int rc = Match(paragraph, 0, 0);
      if (rc >= 0) {
        list += std::to_string(number) + ",";
      } else if (rc != PCRE2_ERROR_NOMATCH) {
        return std::nullopt;
      }
      if (cr == std::string::npos) break;
      start = cr + 1;
    }
    return list;
  }

 private:
  int Match(const std::string& subject, size_t offset, uint32_t options) const {
    return pcre2_match(code_, reinterpret_cast<PCRE2_SPTR>(subject.data()), subject.size(), offset,
                       options, data_, match_);
  }

  pcre2_compile_context* compile_ = nullptr;
  pcre2_match_context* match_ = nullptr;
  pcre2_jit_stack* stack_ = nullptr;
  pcre2_code* code_ = nullptr;
  pcre2_match_data* data_ = nullptr;
  bool crlf_newline_ = false;
};

}  // namespace oracle
