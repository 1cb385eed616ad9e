// What the runtime shares with the other framework files only.
#pragma once

#include <memory>
#include <vector>

namespace platform {
class Window;
}

namespace platform::detail {

// The framework keeps every open window alive, in order of opening, until
// its close handler has returned.
void KeepWindow(const std::shared_ptr<Window>& window);
void ReleaseWindow(const Window* window);
std::vector<std::shared_ptr<Window>> OpenWindows();

}  // namespace platform::detail
