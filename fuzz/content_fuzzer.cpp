// The host's content: cutting it into pieces at "<t@ke>" and a piece into
// its address fields and its text, held against a naive reading of the
// format.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/style_rules.h"
#include "fuzz/fuzz_support.h"
#include "platform/text.h"

namespace {

// The first "/"-separated fields of a head, found byte by byte.
std::string HeadField(const std::string& head, int n) {
  size_t start = 0;
  for (int i = 1; i < n; ++i) {
    const size_t slash = head.find('/', start);
    if (slash == std::string::npos) return std::string();
    start = slash + 1;
  }
  const size_t end = head.find('/', start);
  return head.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string content =
      platform::ToValidUtf8(std::string_view(reinterpret_cast<const char*>(data), size));

  const std::vector<std::string> pieces = engine::SplitContent(content);
  const std::vector<std::string> expected =
      fuzz::NaiveSplit(content, std::string(engine::kChunkSeparator));
  if (pieces != expected) {
    std::string detail = "  content: " + fuzz::Show(content) + "\n  pieces:";
    for (const auto& p : pieces) detail += " " + fuzz::Show(p);
    detail += "\n  expected:";
    for (const auto& p : expected) detail += " " + fuzz::Show(p);
    fuzz::Fail("SplitContent", detail);
  }

  // Joined again with the separator as it stood, the pieces give the content
  // back byte for byte.
  std::string joined;
  for (size_t i = 0; i < pieces.size(); ++i) {
    joined += pieces[i];
    if (i + 1 < pieces.size()) {
      const std::string sep = content.substr(joined.size(), 6);
      if (!fuzz::FoldedAt(sep, 0, std::string(engine::kChunkSeparator)))
        fuzz::Fail("SplitContent separator", "  at byte " + std::to_string(joined.size()) +
                                                 " of " + fuzz::Show(content));
      joined += sep;
    }
  }
  fuzz::CheckEqual("SplitContent join", joined, content, "");

  for (const std::string& piece : pieces) {
    if (piece.empty()) continue;
    const engine::ContentChunk chunk = engine::ParseContentChunk(piece);
    const size_t colon = piece.find(':');
    const std::string head = colon == std::string::npos ? std::string() : piece.substr(0, colon);
    const std::string text = colon == std::string::npos ? piece : piece.substr(colon + 1);
    const std::string context = "piece " + fuzz::Show(piece);
    fuzz::CheckEqual("ParseContentChunk text", chunk.text, text, context);
    fuzz::CheckEqual("ParseContentChunk field1", chunk.address.field1, HeadField(head, 1), context);
    fuzz::CheckEqual("ParseContentChunk field2", chunk.address.field2, HeadField(head, 2), context);
    fuzz::CheckValidUtf8("ParseContentChunk text", chunk.text);
    fuzz::CheckValidUtf8("ParseContentChunk field1", chunk.address.field1);
    fuzz::CheckValidUtf8("ParseContentChunk field2", chunk.address.field2);
  }
  return 0;
}
