// The text functions against reference definitions on code points: decode,
// operate on the std::u32string, encode again; separators and searches
// compare ASCII letters without case.
#include <fuzzer/FuzzedDataProvider.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "platform/text.h"

namespace {

using fuzz::Decode;
using fuzz::Encode;

std::u32string Sub(const std::u32string& u, int64_t from, int64_t count) {
  if (from >= static_cast<int64_t>(u.size()) || count <= 0) return std::u32string();
  return u.substr(static_cast<size_t>(from), static_cast<size_t>(count));
}

std::string RefLeft(const std::u32string& u, int count) { return Encode(Sub(u, 0, count)); }

std::string RefRight(const std::u32string& u, int count) {
  if (count < 1) return std::string();
  const int64_t n = static_cast<int64_t>(u.size());
  const int64_t from = count >= n ? 0 : n - count;
  return Encode(Sub(u, from, n - from));
}

std::string RefMid(const std::u32string& u, int start) {
  const int64_t from = start < 1 ? 0 : static_cast<int64_t>(start) - 1;
  return Encode(Sub(u, from, static_cast<int64_t>(u.size())));
}

std::string RefMid(const std::u32string& u, int start, int length) {
  const int64_t from = start < 1 ? 0 : static_cast<int64_t>(start) - 1;
  return Encode(Sub(u, from, length));
}

int RefInStr(int start, const std::u32string& u, const std::u32string& find) {
  const int64_t from = start > 1 ? static_cast<int64_t>(start) - 1 : 0;
  const int64_t n = static_cast<int64_t>(u.size());
  if (from > n) return 0;
  for (int64_t i = from; i + static_cast<int64_t>(find.size()) <= n; ++i)
    if (fuzz::FoldedAt(u, static_cast<size_t>(i), find)) return static_cast<int>(i + 1);
  return 0;
}

std::string RefNthField(const std::u32string& u, const std::u32string& sep, int n) {
  if (n < 1) return std::string();
  const std::vector<std::u32string> fields = fuzz::NaiveSplit(u, sep);
  if (sep.empty()) return n == 1 ? Encode(u) : std::string();
  return static_cast<size_t>(n) <= fields.size() ? Encode(fields[static_cast<size_t>(n) - 1])
                                                 : std::string();
}

// Val: leading spaces (and TABs, as the framework's reads), a sign, digits
// with an optional fraction, an optional exponent; what strtod makes of
// exactly that much.
double RefVal(const std::string& s) {
  size_t i = 0;
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
  std::string number;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) number += s[i++];
  size_t digits = 0;
  while (i < s.size() && s[i] >= '0' && s[i] <= '9') number += s[i++], ++digits;
  if (i < s.size() && s[i] == '.') {
    size_t k = i + 1;
    std::string fraction = ".";
    while (k < s.size() && s[k] >= '0' && s[k] <= '9') fraction += s[k++], ++digits;
    if (digits > 0) {
      number += fraction;
      i = k;
    }
  }
  if (digits == 0) return 0.0;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    size_t k = i + 1;
    std::string exponent = "e";
    if (k < s.size() && (s[k] == '+' || s[k] == '-')) exponent += s[k++];
    if (k < s.size() && s[k] >= '0' && s[k] <= '9') {
      while (k < s.size() && s[k] >= '0' && s[k] <= '9') exponent += s[k++];
      number += exponent;
    }
  }
  return std::strtod(number.c_str(), nullptr);
}

int32_t RefToInt32(double v) {
  if (std::isnan(v)) return 0;
  if (v >= 2147483647.0) return INT32_MAX;
  if (v <= -2147483648.0) return INT32_MIN;
  return static_cast<int32_t>(std::trunc(v));
}

// Values below the smallest normal double may come out as 0 or as a
// subnormal, depending on the parser; both convert to 0.
bool SameNumber(double a, double b) {
  if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
  auto flush = [](double x) { return std::fabs(x) < 2.2250738585072014e-308 ? 0.0 : x; };
  return flush(a) == flush(b);
}

// An integer argument: mostly near the text's length, sometimes anything.
int Argument(FuzzedDataProvider& in) {
  switch (in.ConsumeIntegralInRange<int>(0, 7)) {
    case 0: return in.ConsumeIntegral<int>();
    case 1: return in.PickValueInArray({INT_MIN, INT_MIN + 1, -1, 0, 1, INT_MAX - 1, INT_MAX});
    default: return in.ConsumeIntegralInRange<int>(-3, 40);
  }
}

void CheckNumber(const std::string& s) {
  const double got = platform::Val(s);
  const double expected = RefVal(s);
  if (!SameNumber(got, expected))
    fuzz::Fail("Val", "  text " + fuzz::Show(s) + ": got " + std::to_string(got) + ", expected " +
                          std::to_string(expected));
  if (platform::ToInt32(got) != RefToInt32(expected))
    fuzz::Fail("ToInt32", "  text " + fuzz::Show(s));
}

void CheckText(const std::string& s, const std::string& find, int a, int b) {
  const std::u32string u = Decode(s), f = Decode(find);
  const std::string args = "text " + fuzz::Show(s) + ", other " + fuzz::Show(find) +
                           ", a=" + std::to_string(a) + ", b=" + std::to_string(b);

  if (platform::Len(s) != static_cast<int>(u.size())) fuzz::Fail("Len", args);
  fuzz::CheckEqual("Left", platform::Left(s, a), RefLeft(u, a), args);
  fuzz::CheckEqual("Right", platform::Right(s, a), RefRight(u, a), args);
  fuzz::CheckEqual("Mid/2", platform::Mid(s, a), RefMid(u, a), args);
  fuzz::CheckEqual("Mid/3", platform::Mid(s, a, b), RefMid(u, a, b), args);

  const int at = platform::InStr(a, s, find);
  if (at != RefInStr(a, u, f))
    fuzz::Fail("InStr", "  got " + std::to_string(at) + ", expected " +
                            std::to_string(RefInStr(a, u, f)) + "\n  " + args);
  if (platform::InStr(s, find) != RefInStr(0, u, f)) fuzz::Fail("InStr/2", args);

  fuzz::CheckEqual("NthField", platform::NthField(s, find, a), RefNthField(u, f, a), args);
  const std::vector<std::string> pieces = platform::Split(s, find);
  std::vector<std::string> expected;
  for (const auto& p : fuzz::NaiveSplit(u, f)) expected.push_back(Encode(p));
  if (pieces != expected) {
    std::string detail = "  got " + std::to_string(pieces.size()) + " pieces:";
    for (const auto& p : pieces) detail += " " + fuzz::Show(p);
    detail += "\n  expected " + std::to_string(expected.size()) + ":";
    for (const auto& p : expected) detail += " " + fuzz::Show(p);
    fuzz::Fail("Split", detail + "\n  " + args);
  }

  const bool equal = u.size() == f.size() && fuzz::FoldedAt(u, 0, f);
  if (platform::TextEquals(s, find) != equal) fuzz::Fail("TextEquals", args);

  CheckNumber(s);
}

// Each byte that does not begin a well-formed sequence becomes U+FFFD.
std::string RefRepair(const std::string& s) {
  std::string out;
  size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    const size_t n = c < 0x80 ? 1 : c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3
                   : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
    if (n > 0 && i + n <= s.size() && fuzz::ValidUtf8(std::string_view(s).substr(i, n))) {
      out.append(s, i, n);
      i += n;
    } else {
      out += "\xEF\xBF\xBD";
      ++i;
    }
  }
  return out;
}

// Text that is not valid UTF-8 never reaches these functions, but on such
// bytes they still may not read or write out of bounds.
void ExerciseRaw(const std::string& s, const std::string& find, int a, int b) {
  (void)platform::Len(s);
  (void)platform::Left(s, a);
  (void)platform::Right(s, a);
  (void)platform::Mid(s, a);
  (void)platform::Mid(s, a, b);
  (void)platform::InStr(a, s, find);
  (void)platform::NthField(s, find, a);
  (void)platform::Split(s, find);
  (void)platform::Val(s);
  if (platform::IsValidUtf8(s) != fuzz::ValidUtf8(s)) fuzz::Fail("IsValidUtf8", fuzz::Show(s));
  fuzz::CheckEqual("ToValidUtf8", platform::ToValidUtf8(s), RefRepair(s), fuzz::Show(s));
  const char32_t cp = static_cast<char32_t>(a);
  const bool scalar = a >= 0 && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF);
  fuzz::CheckEqual("Chr", platform::Chr(a), Encode(std::u32string(1, scalar ? cp : 0xFFFD)),
                   "code " + std::to_string(a));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const int a = Argument(in);
  const int b = Argument(in);
  const std::string find = in.ConsumeRandomLengthString(16);
  const std::string s = in.ConsumeRemainingBytesAsString();
  ExerciseRaw(s, find, a, b);
  CheckText(platform::ToValidUtf8(s), platform::ToValidUtf8(find), a, b);
  return 0;
}
