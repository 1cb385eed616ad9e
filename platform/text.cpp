#include "platform/text.h"

#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include <locale.h>
#include <stdlib.h>
#ifdef __APPLE__
#include <xlocale.h>  // newlocale, strtod_l
#endif

#include "platform/utf8_scan.h"

namespace platform {

namespace {

// The "C" locale, made once (0 should the system have none to give):
// numbers read the same in every locale.
locale_t CLocale() {
  static const locale_t c = ::newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
  return c;
}

bool IsAsciiLetter(unsigned char c) { return (c | 0x20) >= 'a' && (c | 0x20) <= 'z'; }
unsigned char FoldAscii(unsigned char c) { return IsAsciiLetter(c) ? (c | 0x20) : c; }

bool HasAsciiLetter(std::string_view s) {
  for (unsigned char c : s)
    if (IsAsciiLetter(c)) return true;
  return false;
}

bool EqualsFolded(const char* a, const char* b, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (FoldAscii(static_cast<unsigned char>(a[i])) != FoldAscii(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

std::string LowerAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(FoldAscii(static_cast<unsigned char>(c)));
  return out;
}

// Finds a needle in a haystack, ASCII letters compared without case. A
// valid UTF-8 needle found byte-wise in valid UTF-8 always sits on character
// boundaries, so the search works on bytes. Every strategy here is linear in
// the haystack: exact needles go to the two-way memmem; short folded needles
// anchor on one byte with memchr and compare a bounded number of bytes per
// hit; long folded needles search a folded copy.
class Finder {
 public:
  Finder(std::string_view haystack, std::string_view needle)
      : hay_(haystack), needle_(needle), folded_(HasAsciiLetter(needle)) {
    if (!folded_ || needle_.size() <= kShortNeedle) {
      // Anchor on the first byte that is not a letter, if any: one memchr.
      anchor_ = 0;
      for (size_t i = 0; i < needle_.size(); ++i)
        if (!IsAsciiLetter(static_cast<unsigned char>(needle_[i]))) {
          anchor_ = i;
          anchor_is_letter_ = false;
          break;
        }
    } else {
      folded_hay_ = LowerAscii(hay_);
      folded_needle_ = LowerAscii(needle_);
    }
  }

  // Byte offset of the first occurrence at or after `from`, or npos.
  size_t Find(size_t from) const {
    const size_t n = needle_.size();
    if (n == 0) return from <= hay_.size() ? from : std::string_view::npos;
    if (from > hay_.size() || hay_.size() - from < n) return std::string_view::npos;
    if (!folded_) {
      const void* hit = memmem(hay_.data() + from, hay_.size() - from, needle_.data(), n);
      return hit ? static_cast<const char*>(hit) - hay_.data() : std::string_view::npos;
    }
    if (needle_.size() > kShortNeedle) {
      const void* hit = memmem(folded_hay_.data() + from, folded_hay_.size() - from,
                               folded_needle_.data(), n);
      return hit ? static_cast<const char*>(hit) - folded_hay_.data() : std::string_view::npos;
    }
    const char* base = hay_.data();
    const size_t last = hay_.size() - n;  // last possible start
    if (!anchor_is_letter_) {
      const char a = needle_[anchor_];
      size_t pos = from + anchor_;
      while (pos <= last + anchor_) {
        const void* hit = memchr(base + pos, a, last + anchor_ + 1 - pos);
        if (!hit) break;
        size_t at = static_cast<const char*>(hit) - base;
        size_t start = at - anchor_;
        if (EqualsFolded(base + start, needle_.data(), n)) return start;
        pos = at + 1;
      }
      return std::string_view::npos;
    }
    // Every byte of the needle is a letter: look for either case of the first.
    const char lo = static_cast<char>(needle_[0] | 0x20), up = static_cast<char>(lo & ~0x20);
    size_t pos = from;
    const char* next_lo = nullptr;
    const char* next_up = nullptr;
    bool lo_done = false, up_done = false;
    while (pos <= last) {
      if (!lo_done && (!next_lo || next_lo < base + pos)) {
        next_lo = static_cast<const char*>(memchr(base + pos, lo, last + 1 - pos));
        lo_done = !next_lo;
      }
      if (!up_done && (!next_up || next_up < base + pos)) {
        next_up = static_cast<const char*>(memchr(base + pos, up, last + 1 - pos));
        up_done = !next_up;
      }
      const char* hit = nullptr;
      if (!lo_done) hit = next_lo;
      if (!up_done && (!hit || next_up < hit)) hit = next_up;
      if (!hit) break;
      size_t start = hit - base;
      if (EqualsFolded(base + start, needle_.data(), n)) return start;
      pos = start + 1;
    }
    return std::string_view::npos;
  }

 private:
  static constexpr size_t kShortNeedle = 32;
  std::string_view hay_;
  std::string_view needle_;
  bool folded_;
  size_t anchor_ = 0;
  bool anchor_is_letter_ = true;
  std::string folded_hay_;
  std::string folded_needle_;
};

int ClampToInt(size_t n) { return n > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(n); }

// Length of the valid UTF-8 sequence at p, or 0 when the byte there does
// not start one.
size_t ValidSequenceLength(const unsigned char* p, size_t avail) {
  unsigned char c = p[0];
  if (c < 0x80) return 1;
  auto cont = [&](size_t i) { return i < avail && (p[i] & 0xC0) == 0x80; };
  if (c >= 0xC2 && c <= 0xDF) return cont(1) ? 2 : 0;
  if (c >= 0xE0 && c <= 0xEF) {
    if (!cont(1) || !cont(2)) return 0;
    if (c == 0xE0 && p[1] < 0xA0) return 0;  // overlong
    if (c == 0xED && p[1] > 0x9F) return 0;  // surrogate
    return 3;
  }
  if (c >= 0xF0 && c <= 0xF4) {
    if (!cont(1) || !cont(2) || !cont(3)) return 0;
    if (c == 0xF0 && p[1] < 0x90) return 0;  // overlong
    if (c == 0xF4 && p[1] > 0x8F) return 0;  // beyond U+10FFFF
    return 4;
  }
  return 0;
}

// Byte offset just past the first `count` characters of s (or its end).
size_t OffsetOfChar(std::string_view s, size_t count) {
  return count == 0 ? 0 : utf8::AdvanceChars(s.data(), s.size(), count);
}

}  // namespace

int Len(std::string_view s) { return ClampToInt(utf8::CountChars(s.data(), s.size())); }

int InStr(int start, std::string_view s, std::string_view find) {
  size_t skip = start > 1 ? static_cast<size_t>(start) - 1 : 0;
  size_t from = OffsetOfChar(s, skip);
  // A start beyond the end of the text finds nothing, not even the empty text.
  if (skip > 0 && utf8::CountChars(s.data(), from) < skip) return 0;
  size_t at = Finder(s, find).Find(from);
  if (at == std::string_view::npos) return 0;
  return ClampToInt(skip + utf8::CountChars(s.data() + from, at - from) + 1);
}

int InStr(std::string_view s, std::string_view find) { return InStr(0, s, find); }

std::string Left(std::string_view s, int count) {
  if (count < 1) return std::string();
  return std::string(s.substr(0, OffsetOfChar(s, static_cast<size_t>(count))));
}

std::string Right(std::string_view s, int count) {
  if (count < 1) return std::string();
  // Walk back from the end: each character start passed counts one.
  size_t pos = s.size();
  size_t taken = 0;
  while (pos > 0 && taken < static_cast<size_t>(count)) {
    --pos;
    if (!utf8::IsContinuation(static_cast<unsigned char>(s[pos]))) ++taken;
  }
  return std::string(s.substr(pos));
}

std::string Mid(std::string_view s, int start) {
  size_t skip = start > 1 ? static_cast<size_t>(start) - 1 : 0;
  return std::string(s.substr(OffsetOfChar(s, skip)));
}

std::string Mid(std::string_view s, int start, int length) {
  if (length < 1) return std::string();
  size_t skip = start > 1 ? static_cast<size_t>(start) - 1 : 0;
  size_t from = OffsetOfChar(s, skip);
  std::string_view rest = s.substr(from);
  return std::string(rest.substr(0, OffsetOfChar(rest, static_cast<size_t>(length))));
}

std::string NthField(std::string_view s, std::string_view separator, int n) {
  if (n < 1) return std::string();
  if (separator.empty()) return n == 1 ? std::string(s) : std::string();
  Finder finder(s, separator);
  size_t field_start = 0;
  for (int i = 1; i < n; ++i) {
    size_t at = finder.Find(field_start);
    if (at == std::string_view::npos) return std::string();
    field_start = at + separator.size();
  }
  size_t end = finder.Find(field_start);
  if (end == std::string_view::npos) end = s.size();
  return std::string(s.substr(field_start, end - field_start));
}

std::vector<std::string> Split(std::string_view s, std::string_view separator) {
  std::vector<std::string> pieces;
  if (separator.empty()) {
    pieces.emplace_back(s);
    return pieces;
  }
  Finder finder(s, separator);
  size_t piece_start = 0;
  for (;;) {
    size_t at = finder.Find(piece_start);
    if (at == std::string_view::npos) break;
    pieces.emplace_back(s.substr(piece_start, at - piece_start));
    piece_start = at + separator.size();
  }
  pieces.emplace_back(s.substr(piece_start));
  return pieces;
}

std::string Chr(int code) {
  uint32_t cp = static_cast<uint32_t>(code);
  if (code < 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
  std::string out;
  utf8::AppendCodePoint(out, cp);
  return out;
}

std::string Str(int64_t value) { return std::to_string(value); }

double Val(std::string_view s) {
  size_t i = 0;
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
    negative = s[i] == '-';
    ++i;
  }
  auto is_digit = [&](size_t k) { return k < s.size() && s[k] >= '0' && s[k] <= '9'; };
  const size_t mantissa_start = i;
  size_t int_digits = 0, frac_digits = 0;
  while (is_digit(i)) ++i, ++int_digits;
  if (i < s.size() && s[i] == '.') {
    size_t k = i + 1;
    while (is_digit(k)) ++k, ++frac_digits;
    if (int_digits + frac_digits > 0) i = k;
  }
  if (int_digits + frac_digits == 0) return 0.0;
  size_t end = i;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    size_t k = i + 1;
    if (k < s.size() && (s[k] == '+' || s[k] == '-')) ++k;
    if (is_digit(k)) {
      while (is_digit(k)) ++k;
      end = k;
    }
  }
  // The span holds nothing but digits, a point and an exponent, which the C
  // locale's strtod reads exactly (whatever locale the process runs in):
  // correctly rounded, infinity above the largest double, zero or a
  // subnormal below the smallest.
  const std::string number(s.substr(mantissa_start, end - mantissa_start));
  const locale_t c = CLocale();
  const double value = c ? ::strtod_l(number.c_str(), nullptr, c) : std::strtod(number.c_str(), nullptr);
  return negative ? -value : value;
}

int32_t ToInt32(double value) {
  if (std::isnan(value)) return 0;
  if (value >= 2147483647.0) return INT32_MAX;
  if (value <= -2147483648.0) return INT32_MIN;
  return static_cast<int32_t>(value);  // truncates toward zero
}

bool TextEquals(std::string_view a, std::string_view b) {
  return a.size() == b.size() && EqualsFolded(a.data(), b.data(), a.size());
}

bool IsValidUtf8(std::string_view bytes) { return utf8::IsValid(bytes.data(), bytes.size()); }

std::string ToValidUtf8(std::string_view bytes) {
  if (IsValidUtf8(bytes)) return std::string(bytes);
  static const char kReplacement[] = "\xEF\xBF\xBD";
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 2);
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  size_t i = 0;
  while (i < bytes.size()) {
    size_t n = ValidSequenceLength(p + i, bytes.size() - i);
    if (n == 0) {
      out.append(kReplacement, 3);
      ++i;
    } else {
      out.append(bytes.data() + i, n);
      i += n;
    }
  }
  return out;
}

}  // namespace platform
