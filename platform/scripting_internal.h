// What the script runner shares with the framework's own tests only.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/object.h"

namespace platform::detail {

// How long a host script may run before it is ended and counts as failed:
// as long as AppleScript waits for the answer to an Apple event.
inline constexpr std::chrono::milliseconds kScriptTimeout = std::chrono::minutes(2);

// ExecuteAppleScript with the time limit given; the program always runs its
// scripts with kScriptTimeout.
std::string ExecuteAppleScript(const std::shared_ptr<FolderItem>& script,
                               const std::vector<Variant>& values,
                               std::chrono::milliseconds timeout);

}  // namespace platform::detail
