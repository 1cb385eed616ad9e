// The built-in backend: no toolkit, an event queue that tests fill.
#include <cstdio>
#include <deque>
#include <memory>

#include "platform/backend.h"
#include "platform/headless/driver.h"
#include "platform/quit_signals.h"
#include "platform/runtime.h"

namespace platform::headless {
namespace {

struct State {
  std::deque<std::function<void()>> queue;
  std::vector<std::string> messages;
  std::vector<bool> cursor_changes;
  bool quit = false;
  int live_windows = 0;
};

State& state() {
  static State s;
  return s;
}

class HeadlessPeer : public backend::WindowPeer {
 public:
  void Changed() override {}
  void Show() override {
    if (!shown_) ++state().live_windows;
    shown_ = true;
  }
  void Destroy() override {
    if (shown_) --state().live_windows;
    shown_ = false;
  }
  ~HeadlessPeer() override { Destroy(); }

 private:
  bool shown_ = false;
};

class HeadlessBackend : public backend::Backend {
 public:
  HeadlessBackend() { state().quit = false; }
  std::unique_ptr<backend::WindowPeer> CreateWindowPeer(Window&) override {
    return std::make_unique<HeadlessPeer>();
  }
  void Run() override {
    for (;;) {
      // A quit signal, also one that came before the loop, goes the quit
      // item's road before anything more runs.
      if (detail::TakeQuitSignal()) RuntimeDispatch([] { RuntimeQuitAction(); });
      if (state().quit || state().queue.empty()) break;
      auto action = std::move(state().queue.front());
      state().queue.pop_front();
      RuntimeDispatch(action);
    }
  }
  void RequestQuit() override { state().quit = true; }
  void MsgBox(const std::string& message) override {
    state().messages.push_back(message);
    std::fprintf(stderr, "%s\n", message.c_str());
  }
  void SetBusyCursor(bool busy) override { state().cursor_changes.push_back(busy); }
};

}  // namespace

void Post(std::function<void()> action) { state().queue.push_back(std::move(action)); }
const std::vector<std::string>& Messages() { return state().messages; }
void ClearMessages() { state().messages.clear(); }
const std::vector<bool>& BusyCursorChanges() { return state().cursor_changes; }
void ClearBusyCursorChanges() { state().cursor_changes.clear(); }
bool QuitRequested() { return state().quit; }
int LiveWindows() { return state().live_windows; }

void ObserveFrameworkCalls(std::function<void(const std::string&)> observer) {
  backend::SetCallObserver(std::move(observer));
}

void ResetForTesting() {
  backend::SetCallObserver(nullptr);
  state().queue.clear();
  state().messages.clear();
  state().cursor_changes.clear();
  state().quit = false;
}

std::unique_ptr<backend::Backend> MakeBackend() { return std::make_unique<HeadlessBackend>(); }

}  // namespace platform::headless
