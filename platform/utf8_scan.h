// Bulk UTF-8 primitives behind the text functions and the pattern component:
// counting characters, stepping over them and validating, each several bytes
// at a time. Internal to platform/.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/text.h"

namespace platform::utf8 {

inline bool IsContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// Number of characters (bytes that are not continuation bytes) in p[0, n).
size_t CountChars(const char* p, size_t n);

// Byte offset of the start of character `count` + 1 counted from p (so just
// past `count` characters), or n when the text has no more characters.
size_t AdvanceChars(const char* p, size_t n, size_t count);

// Whether p[0, n) is well-formed UTF-8 (no overlongs, surrogates or code
// points beyond U+10FFFF).
bool IsValid(const char* p, size_t n);

// Copies src[0, n) to dst (which must not overlap it) and tells whether the
// bytes are well-formed UTF-8, reading them once for both.
bool CopyValidating(char* dst, const char* src, size_t n);

// Appends the UTF-8 form of the code point cp (at most U+10FFFF).
void AppendCodePoint(std::string& out, uint32_t cp);

}  // namespace platform::utf8
