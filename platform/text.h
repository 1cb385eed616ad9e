// The framework's text functions.
//
// Text is UTF-8 in std::string. Lengths, positions and slices count code
// points, and positions and field numbers count from 1. Comparisons (text
// equality, InStr, NthField, Split) ignore the case of the ASCII letters and
// compare every other character exactly. Every function is linear in the part
// of the text it touches: a scan walks a byte cursor and never re-counts from
// the start of the text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Number of characters.
int Len(std::string_view s);

// Position (from 1) of the first occurrence of `find` at or after character
// `start` (0 or 1: from the beginning); 0 when absent. An empty `find` is
// found at the start position, up to one past the last character.
int InStr(int start, std::string_view s, std::string_view find);
int InStr(std::string_view s, std::string_view find);

// The first / last `count` characters; a count below 1 gives the empty text.
std::string Left(std::string_view s, int count);
std::string Right(std::string_view s, int count);

// Characters from `start` (below 1 starts at 1) to the end, or `length` of
// them (a length below 1 gives the empty text).
std::string Mid(std::string_view s, int start);
std::string Mid(std::string_view s, int start, int length);

// Field n (from 1) of `s` cut at `separator`; the empty text when there are
// fewer fields or n is below 1. An empty separator gives the whole text as
// field 1.
std::string NthField(std::string_view s, std::string_view separator, int n);

// The pieces between separators, in order; k separators give k + 1 pieces,
// empty ones kept (the empty text gives one empty piece). An empty separator
// gives the whole text as the one piece.
std::vector<std::string> Split(std::string_view s, std::string_view separator);

// The one character of that code point (invalid code points give U+FFFD).
std::string Chr(int code);

// Plain decimal text of a whole number (the empty format).
std::string Str(int64_t value);

// The number at the start of a text: optional leading spaces, a sign, digits,
// a fraction and an exponent, up to the first other character; 0 when there
// is none.
double Val(std::string_view s);

// A double as a 32-bit whole number: truncated toward zero, saturated at the
// type's limits, NaN gives 0.
int32_t ToInt32(double value);

// Text equality: the ASCII letters compare without case, all else exactly.
bool TextEquals(std::string_view a, std::string_view b);

// Validity of UTF-8, and the repair applied to every text that enters from
// outside: each invalid byte becomes U+FFFD.
bool IsValidUtf8(std::string_view bytes);
std::string ToValidUtf8(std::string_view bytes);

}  // namespace platform
