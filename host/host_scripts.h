// The three host scripts, run from the application bundle's resource folder.
// Each takes its values in order and gives the script's text result.
//
//   getcontents()  the document's text: pieces "<address 1>/<address 2>:<text>"
//                  joined by "<t@ke>", paragraphs separated by CR
//   applyCS(starts, ends, style, address 1, address 2, clear flag)
//   applyPS(paragraphs, style, address 1, address 2, clear flag)
#pragma once

#include <string>
#include <vector>

#include "platform/object.h"

std::string getcontents(const std::vector<platform::Variant>& values = {});
std::string applyCS(const std::vector<platform::Variant>& values);
std::string applyPS(const std::vector<platform::Variant>& values);

namespace host {

// The host check: asks the host to come to the front with the activate
// event, and asks the user to start it when the event is not delivered.
void CheckHost();

// The message of the host check.
inline constexpr const char* kStartHostMessage = "Illustratorを起動してください。";

}  // namespace host
