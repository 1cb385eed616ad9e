#include "platform/text_decoding.h"

#include <cerrno>

#include <iconv.h>

#include "platform/text.h"

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

std::string DecodeTextFile(std::string_view bytes) {
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
  if (IsValidUtf8(bytes)) return std::string(bytes);
  if (auto sjis = DecodeShiftJis(bytes)) return *std::move(sjis);
  return ToValidUtf8(bytes);
}

}  // namespace platform
