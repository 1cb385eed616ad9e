// Which press came with a window's activation. A click on an inactive
// window brings it to the front and starts nothing; a press that comes later
// (the window was activated from the keyboard, or because another window
// closed) is the user's next click and acts. Internal to the Qt backend.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

class QInputEvent;
class QWidget;

namespace platform::qt {

class ActivationWatch {
 public:
  // A press at most this long after the activation came with it. A window
  // manager passes the press that activated a window on with the press's
  // own time, which is before the activation; a program that focuses a
  // window and then presses (a test tool) takes a few milliseconds. A user
  // takes a good deal longer to click a window activated from the keyboard.
  static constexpr int kWithinMs = 20;

  // The window, shown, became active again and its handlers ran: a press
  // from now on may be the one that brought it to the front.
  void Activated(QWidget* window);
  // The window is no longer active: no press comes with that activation.
  void Deactivated();
  // Every press of any button on the window, in order: true for the first
  // one after an activation when it came with it. A press of another
  // button uses the activation up as well, so a later click acts.
  bool TakeActivatingPress(const QInputEvent& press);

 private:
  struct Mark {
    bool pending = true;  // the window system's time of the activation not known yet
    uint32_t time = 0;
  };
  bool armed_ = false;
  bool by_event_time_ = false;
  int64_t local_ms_ = 0;
  std::shared_ptr<Mark> mark_;
};

// The window system's time of "now" for this window, in the clock of its
// input events' timestamps: done(time) runs on the main thread once the
// answer comes. False where the window system has no such clock (then
// nothing runs). Any input event made before the request has an earlier or
// equal time, or arrives before the answer.
bool RequestEventTime(QWidget* window, std::function<void(uint32_t)> done);

}  // namespace platform::qt
