// The one internal interface behind the framework's windows and event loop.
// The models of ui.h call it; a backend implements it. The built-in headless
// backend runs everywhere; the Qt backend installs itself when linked in.
// Only platform code includes this header.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace platform {
class Window;
}

namespace platform::backend {

// The platform side of one window.
class WindowPeer {
 public:
  virtual ~WindowPeer() = default;
  // The model changed (frame, title, menu bar, controls, rows, checkbox):
  // mirror it. Calls may come in bursts (a refresh adds every row); a peer
  // should coalesce them, but be up to date before it next shows the window
  // or hands input back to the model.
  virtual void Changed() = 0;
  // The window is to appear (after Open) / go (after its Close handler).
  virtual void Show() = 0;
  virtual void Destroy() = 0;
};

class Backend {
 public:
  virtual ~Backend() = default;
  virtual std::unique_ptr<WindowPeer> CreateWindowPeer(Window& window) = 0;
  // Runs the event loop until RequestQuit.
  virtual void Run() = 0;
  // Ends the loop after the current event (also when called before Run).
  virtual void RequestQuit() = 0;
  virtual void MsgBox(const std::string& message) = 0;
  // Shows the busy cursor over the application's windows, or the usual one
  // again; calls nest, each true undone by one false.
  virtual void SetBusyCursor(bool busy) = 0;
};

using BackendFactory = std::unique_ptr<Backend> (*)();

// Set by a backend that is linked in (from a static initialiser); without
// one, RuntimeInit uses the headless backend.
void SetBackendFactory(BackendFactory factory);

// The backend RuntimeInit brought up (the headless one before that).
Backend& Current();

// The framework's calls of note (start-up, class registration, binding,
// windows, the event loop, finalisation), each named as it happens, for a
// test driver that follows them (see headless/driver.h). Nothing follows
// them unless a driver installs an observer; an observer that raises makes
// that call fail with what it raised.
using CallObserver = std::function<void(const std::string&)>;
void SetCallObserver(CallObserver observer);
void NoteCall(const std::string& call);

}  // namespace platform::backend
