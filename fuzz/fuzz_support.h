// Helpers shared by the fuzz targets: plain, slow reference definitions of
// the text model (code points, ASCII letters folded) that the targets hold
// the real functions against, and a check that stops the run with a message.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace fuzz {

// A failed check is a finding: print what differed and abort, so that
// libFuzzer keeps the input.
[[noreturn]] inline void Fail(const char* what, const std::string& detail) {
  std::fprintf(stderr, "\n*** fuzz check failed: %s\n%s\n", what, detail.c_str());
  std::fflush(stderr);
  std::abort();
}

// Shows a text with its control characters and non-ASCII bytes escaped.
inline std::string Show(std::string_view s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '\\' || c == '"') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", c);
      out += buf;
    }
  }
  return out + "\"";
}

inline void CheckEqual(const char* what, const std::string& got, const std::string& expected,
                       const std::string& context) {
  if (got != expected)
    Fail(what, "  got:      " + Show(got) + "\n  expected: " + Show(expected) + "\n  " + context);
}

// Decodes valid UTF-8 (the callers pass nothing else) into code points.
inline std::u32string Decode(std::string_view s) {
  std::u32string out;
  size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    int extra = c < 0x80 ? 0 : c < 0xE0 ? 1 : c < 0xF0 ? 2 : 3;
    char32_t cp = extra == 0 ? c : extra == 1 ? (c & 0x1F) : extra == 2 ? (c & 0x0F) : (c & 0x07);
    for (int k = 1; k <= extra && i + k < s.size(); ++k)
      cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    out += cp;
    i += static_cast<size_t>(extra) + 1;
  }
  return out;
}

inline std::string Encode(std::u32string_view u) {
  std::string out;
  for (char32_t cp : u) {
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

inline char32_t Fold(char32_t c) { return c >= U'A' && c <= U'Z' ? c + 32 : c; }

inline char32_t Unit(char c) { return static_cast<unsigned char>(c); }
inline char32_t Unit(char32_t c) { return c; }

// Whether `needle` occurs in `hay` at `at`, ASCII letters without case.
template <class S>
bool FoldedAt(const S& hay, size_t at, const S& needle) {
  if (at > hay.size() || hay.size() - at < needle.size()) return false;
  for (size_t k = 0; k < needle.size(); ++k)
    if (Fold(Unit(hay[at + k])) != Fold(Unit(needle[k]))) return false;
  return true;
}

// The pieces between leftmost, non-overlapping occurrences of `sep`.
template <class S>
std::vector<S> NaiveSplit(const S& s, const S& sep) {
  std::vector<S> pieces;
  if (sep.empty()) return {s};
  size_t start = 0, i = 0;
  while (i < s.size()) {
    if (FoldedAt(s, i, sep)) {
      pieces.push_back(s.substr(start, i - start));
      i += sep.size();
      start = i;
    } else {
      ++i;
    }
  }
  pieces.push_back(s.substr(start));
  return pieces;
}

// Whether every byte sequence is well-formed UTF-8, decided byte by byte
// from the table of well-formed sequences.
inline bool ValidUtf8(std::string_view s) {
  size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    auto at = [&](size_t k) -> int {
      return i + k < s.size() ? static_cast<unsigned char>(s[i + k]) : -1;
    };
    auto in = [](int b, int lo, int hi) { return b >= lo && b <= hi; };
    size_t n;
    if (c < 0x80) n = 1;
    else if (in(c, 0xC2, 0xDF) && in(at(1), 0x80, 0xBF)) n = 2;
    else if (c == 0xE0 && in(at(1), 0xA0, 0xBF) && in(at(2), 0x80, 0xBF)) n = 3;
    else if ((in(c, 0xE1, 0xEC) || in(c, 0xEE, 0xEF)) && in(at(1), 0x80, 0xBF) &&
             in(at(2), 0x80, 0xBF)) n = 3;
    else if (c == 0xED && in(at(1), 0x80, 0x9F) && in(at(2), 0x80, 0xBF)) n = 3;
    else if (c == 0xF0 && in(at(1), 0x90, 0xBF) && in(at(2), 0x80, 0xBF) && in(at(3), 0x80, 0xBF)) n = 4;
    else if (in(c, 0xF1, 0xF3) && in(at(1), 0x80, 0xBF) && in(at(2), 0x80, 0xBF) &&
             in(at(3), 0x80, 0xBF)) n = 4;
    else if (c == 0xF4 && in(at(1), 0x80, 0x8F) && in(at(2), 0x80, 0xBF) && in(at(3), 0x80, 0xBF)) n = 4;
    else return false;
    i += n;
  }
  return true;
}

inline void CheckValidUtf8(const char* what, const std::string& s) {
  if (!ValidUtf8(s)) Fail(what, "  not valid UTF-8: " + Show(s));
}

}  // namespace fuzz
