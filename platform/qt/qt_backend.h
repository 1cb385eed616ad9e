// What tests of the Qt backend may reach beyond the models. The program's
// own code never includes this header.
#pragma once

#include <cstdint>
#include <functional>

class QMainWindow;

namespace platform {
class Window;
}

namespace platform::qt {

// The Qt window that mirrors a model window; nullptr when the window has no
// Qt peer (another backend, or its platform window is gone).
QMainWindow* WidgetOf(const Window& window);

// Brings the Qt window up to date with its model at once, as the backend
// does before it hands input back.
void FlushWindow(const Window& window);

namespace detail {
// The clock (milliseconds) that times a press against the window's last
// activation where the window system gives neither a time (Qt's offscreen
// platform, Cocoa); an empty one restores the steady clock.
void SetActivationClock(std::function<int64_t()> clock);
}  // namespace detail

}  // namespace platform::qt
