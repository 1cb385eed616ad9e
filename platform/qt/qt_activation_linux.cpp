// On X11 the server stamps every input event with its own clock. A focus
// change carries no time, so the time of an activation is asked for the
// usual way: a property of the window is appended nothing, and the server
// reports the change with its time. Other platforms (Wayland, offscreen)
// have no such clock here.
#include <xcb/xcb.h>

#include <QAbstractNativeEventFilter>
#include <QByteArray>
#include <QGuiApplication>
#include <QPointer>
#include <QWidget>
#include <cstdlib>
#include <unordered_map>
#include <utility>

#include "platform/qt/qt_activation.h"

namespace platform::qt {
namespace {

constexpr char kTimeProperty[] = "_VELLOWMARK_TIME";

class TimeAnswers : public QObject, public QAbstractNativeEventFilter {
 public:
  TimeAnswers(xcb_connection_t* connection, xcb_atom_t atom)
      : QObject(QCoreApplication::instance()), connection_(connection), atom_(atom) {}

  void Ask(xcb_window_t window, std::function<void(uint32_t)> done) {
    waiting_[window] = std::move(done);
    xcb_change_property(connection_, XCB_PROP_MODE_APPEND, window, atom_, XCB_ATOM_STRING, 8, 0, nullptr);
    xcb_flush(connection_);
  }

  bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override {
    if (type != "xcb_generic_event_t") return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7f) != XCB_PROPERTY_NOTIFY) return false;
    const auto* change = reinterpret_cast<const xcb_property_notify_event_t*>(event);
    if (change->atom != atom_) return false;
    auto it = waiting_.find(change->window);
    if (it == waiting_.end()) return false;
    std::function<void(uint32_t)> done = std::move(it->second);
    waiting_.erase(it);
    done(change->time);
    return false;  // Qt learns the server's time from it too
  }

  xcb_connection_t* connection() const { return connection_; }

 private:
  xcb_connection_t* connection_;
  xcb_atom_t atom_;
  std::unordered_map<xcb_window_t, std::function<void(uint32_t)>> waiting_;
};

QPointer<TimeAnswers> g_answers;

}  // namespace

bool RequestEventTime(QWidget* window, std::function<void(uint32_t)> done) {
  if (!window || QGuiApplication::platformName() != QLatin1String("xcb")) return false;
  auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
  if (!connection) return false;
  if (!g_answers || g_answers->connection() != connection) {
    delete g_answers.data();
    const xcb_intern_atom_cookie_t cookie =
        xcb_intern_atom(connection, 0, static_cast<uint16_t>(sizeof kTimeProperty - 1), kTimeProperty);
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(connection, cookie, nullptr);
    if (!reply) return false;
    const xcb_atom_t atom = reply->atom;
    std::free(reply);
    g_answers = new TimeAnswers(connection, atom);
    QCoreApplication::instance()->installNativeEventFilter(g_answers);
  }
  g_answers->Ask(static_cast<xcb_window_t>(window->winId()), std::move(done));
  return true;
}

}  // namespace platform::qt
