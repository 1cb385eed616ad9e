#include "platform/qt/qt_activation.h"

#include <QInputEvent>
#include <chrono>
#include <utility>

#include "platform/qt/qt_backend.h"

namespace platform::qt {
namespace {

std::function<int64_t()>& TestClock() {
  static std::function<int64_t()> clock;
  return clock;
}

// Where the window system times no activation: when the press is handled
// against when the activation was, on the steady clock.
int64_t NowMs() {
  if (TestClock()) return TestClock()();
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

namespace detail {
void SetActivationClock(std::function<int64_t()> clock) { TestClock() = std::move(clock); }
}  // namespace detail

void ActivationWatch::Activated(QWidget* window) {
  armed_ = true;
  auto mark = std::make_shared<Mark>();
  mark_ = mark;
  std::weak_ptr<Mark> weak = mark;
  by_event_time_ = RequestEventTime(window, [weak](uint32_t time) {
    if (auto m = weak.lock()) {
      m->time = time;
      m->pending = false;
    }
  });
  local_ms_ = NowMs();
}

void ActivationWatch::Deactivated() {
  armed_ = false;
  mark_.reset();
}

bool ActivationWatch::TakeActivatingPress(const QInputEvent& press) {
  if (!armed_) return false;
  armed_ = false;
  if (!by_event_time_) return NowMs() - local_ms_ <= kWithinMs;
  // A press that arrives before the answer was made before the request.
  if (mark_->pending) return true;
  // Event times are milliseconds that wrap at 32 bits.
  const auto after = static_cast<int32_t>(static_cast<uint32_t>(press.timestamp()) - mark_->time);
  return after <= kWithinMs;
}

}  // namespace platform::qt
