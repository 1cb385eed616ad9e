#include "platform/text_decoding.h"

#include <cerrno>

#include <iconv.h>

#include "platform/text.h"
#include "platform/utf8_scan.h"

namespace platform {

std::optional<std::string> DecodeShiftJis(std::string_view bytes) {
  iconv_t cd = iconv_open("UTF-8", "CP932");
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  // Every CP932 character is one or two bytes and at most three in UTF-8.
  std::string out(bytes.size() * 3 / 2 + 16, '\0');
  char* in = const_cast<char*>(bytes.data());
  size_t in_left = bytes.size();
  char* dst = out.data();
  size_t out_left = out.size();
  bool ok = true;
  while (in_left > 0) {
    if (iconv(cd, &in, &in_left, &dst, &out_left) != static_cast<size_t>(-1)) continue;
    if (errno == E2BIG) {
      size_t used = out.size() - out_left;
      out.resize(out.size() * 2);
      dst = out.data() + used;
      out_left = out.size() - used;
      continue;
    }
    ok = false;  // EILSEQ, or EINVAL for a lead byte cut off at the end
    break;
  }
  iconv_close(cd);
  if (!ok) return std::nullopt;
  out.resize(out.size() - out_left);
  return out;
}

std::string DecodeUtf16(std::string_view bytes, bool big_endian) {
  constexpr uint32_t kReplacement = 0xFFFD;
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const size_t units = bytes.size() / 2;
  auto unit = [&](size_t i) -> uint32_t {
    return big_endian ? (p[2 * i] << 8 | p[2 * i + 1]) : (p[2 * i + 1] << 8 | p[2 * i]);
  };
  std::string out;
  out.reserve(units * 3 / 2 + 3);
  for (size_t i = 0; i < units; ++i) {
    const uint32_t u = unit(i);
    if (u < 0xD800 || u > 0xDFFF) {
      utf8::AppendCodePoint(out, u);
    } else if (u <= 0xDBFF && i + 1 < units && unit(i + 1) >= 0xDC00 && unit(i + 1) <= 0xDFFF) {
      utf8::AppendCodePoint(out, 0x10000 + ((u - 0xD800) << 10) + (unit(i + 1) - 0xDC00));
      ++i;
    } else {
      utf8::AppendCodePoint(out, kReplacement);  // a surrogate without its partner
    }
  }
  if (bytes.size() % 2 != 0) utf8::AppendCodePoint(out, kReplacement);  // half a unit at the end
  return out;
}

std::string DecodeTextFile(std::string_view bytes) {
  if (bytes.substr(0, 2) == "\xFF\xFE") return DecodeUtf16(bytes.substr(2), false);
  if (bytes.substr(0, 2) == "\xFE\xFF") return DecodeUtf16(bytes.substr(2), true);
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
  if (IsValidUtf8(bytes)) return std::string(bytes);
  if (auto sjis = DecodeShiftJis(bytes)) return *std::move(sjis);
  return ToValidUtf8(bytes);
}

}  // namespace platform
