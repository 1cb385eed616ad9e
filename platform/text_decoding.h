// Decoding of the bytes of a text file into the framework's UTF-8 text.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace platform {

// Shift_JIS (code page 932) to UTF-8; nothing when some byte sequence is not
// valid in that code page.
std::optional<std::string> DecodeShiftJis(std::string_view bytes);

// UTF-16 (without its byte-order mark) to UTF-8; a surrogate without its
// partner, and an odd byte at the end, each become U+FFFD.
std::string DecodeUtf16(std::string_view bytes, bool big_endian);

// A file's bytes as text: a UTF-16 byte-order mark (either order) makes the
// rest decode as UTF-16; a UTF-8 byte-order mark is dropped; valid UTF-8 is
// kept as it is; otherwise Shift_JIS when it decodes cleanly, else UTF-8 with
// each invalid byte replaced by U+FFFD.
std::string DecodeTextFile(std::string_view bytes);

}  // namespace platform
