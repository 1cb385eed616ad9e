#include <utility>

#include "engine/style_rules.h"
#include "host/host_scripts.h"
#include "platform/text.h"

namespace engine {
namespace {

// Each value is moved, not copied, into the request when the caller can
// spare it: a dense rule's lists can be many times the size of the text.
template <class... Texts>
std::vector<platform::Variant> Values(Texts&&... texts) {
  std::vector<platform::Variant> values;
  values.reserve(sizeof...(texts));
  (values.emplace_back(std::string(std::forward<Texts>(texts))), ...);
  return values;
}

}  // namespace

void SendCharacterRequest(const std::string& positions, const std::string& style,
                          const std::string& address1, const std::string& address2,
                          const std::string& clear_flag) {
  std::string starts = platform::NthField(positions, "<>", 1);
  std::string ends = platform::NthField(positions, "<>", 2);
  applyCS(Values(std::move(starts), std::move(ends), style, address1, address2, clear_flag));
}

void SendParagraphRequest(const std::string& paragraphs, const std::string& style,
                          const std::string& address1, const std::string& address2,
                          const std::string& clear_flag) {
  applyPS(Values(paragraphs, style, address1, address2, clear_flag));
}

}  // namespace engine
