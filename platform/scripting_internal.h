// What the script runner shares with the framework's own tests only.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/object.h"

namespace platform::detail {

// How long a host script may run before it is ended and counts as failed:
// as long as AppleScript waits for the answer to an Apple event.
inline constexpr std::chrono::milliseconds kScriptTimeout = std::chrono::minutes(2);

// How much standard output a host script may write before it is ended and
// counts as failed: far more than any real document's text, far less than
// the memory a script that prints without end would take from the program.
inline constexpr size_t kScriptOutputCeiling = size_t{512} << 20;

// ExecuteAppleScript with the time limit and output ceiling given; the
// program always runs its scripts with kScriptTimeout and
// kScriptOutputCeiling.
std::string ExecuteAppleScript(const std::shared_ptr<FolderItem>& script,
                               const std::vector<Variant>& values,
                               std::chrono::milliseconds timeout,
                               size_t output_ceiling = kScriptOutputCeiling);

}  // namespace platform::detail
