#include "engine/style_rules.h"
#include "host/host_scripts.h"
#include "platform/text.h"

namespace engine {

void SendCharacterRequest(const std::string& positions, const std::string& style,
                          const std::string& address1, const std::string& address2,
                          const std::string& clear_flag) {
  const std::string starts = platform::NthField(positions, "<>", 1);
  const std::string ends = platform::NthField(positions, "<>", 2);
  applyCS({starts, ends, style, address1, address2, clear_flag});
}

void SendParagraphRequest(const std::string& paragraphs, const std::string& style,
                          const std::string& address1, const std::string& address2,
                          const std::string& clear_flag) {
  applyPS({paragraphs, style, address1, address2, clear_flag});
}

}  // namespace engine
