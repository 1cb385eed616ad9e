// The two matchers of the styling run: the character ranges of a pattern's
// matches in a chunk's text (getRegPos) and the paragraphs it matches in
// (getRegParaPos). The main window's methods of the same names call these.
#pragma once

#include <string>
#include <string_view>

namespace engine {

// The markers that the replace-all puts around every match: each the first
// of its chain ("<@>", "[@]", "{@}" / "</>", "[/]", "{/}") that does not occur
// in the text, chosen independently; the empty text when all three occur.
struct MarkerPair {
  std::string opening, closing;
};
MarkerPair ChooseMarkerPair(std::string_view text);

// The RegPosList of the pattern's matches in the text: "s1,s2,<>e1,e2,",
// positions counted in characters from 1, an empty match at k giving start k
// and end k - 1, no match giving "<>". One start and one end per match,
// whatever the text holds. Raises the RegExException of a rejected pattern.
std::string getRegPos(const std::string& text, const std::string& pattern);

// The RegParaList: "i," for every paragraph (text between carriage returns,
// numbered from 1) in which the pattern matches, searched with one carriage
// return appended. The empty text when none matches or the pattern is
// rejected (a RegExException is caught here).
std::string getRegParaPos(const std::string& text, const std::string& pattern);

}  // namespace engine
