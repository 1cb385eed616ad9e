// The real backend: Qt 6 Widgets. Linking this file in makes RuntimeInit
// bring up Qt instead of the headless backend.
#include "platform/qt/qt_backend.h"

#include <QApplication>
#include <QCursor>
#include <QMessageBox>
#include <QPointer>
#include <QSocketNotifier>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "platform/backend.h"
#include "platform/qt/qt_window.h"
#include "platform/quit_signals.h"
#include "platform/runtime.h"

namespace platform::qt {
namespace {

// The program reads no command line, so Qt never sees the real one.
int g_argc = 1;
char g_arg0[] = "Vellowmark";
char* g_argv[] = {g_arg0, nullptr};

// The application object outlives a backend when windows are still alive at
// the backend's end (a test that keeps its window); the next backend reuses it.
QApplication* g_app = nullptr;

// Qt's messages while the application object comes up. Qt ends the process
// with abort() when no window system can be reached (no display, or one that
// does not answer); the program says so in one line and exits with 1 instead.
struct StartupMessage {
  QtMsgType type;
  std::string category, file, function;
  int line;
  QString text;
};
std::vector<StartupMessage>* g_startup_messages = nullptr;

void CollectStartupMessage(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  if (type != QtFatalMsg) {
    g_startup_messages->push_back({type, context.category ? context.category : "",
                                   context.file ? context.file : "",
                                   context.function ? context.function : "", context.line, text});
    return;
  }
  // The window system's own reason comes before the fatal message.
  QString reason;
  for (const StartupMessage& m : *g_startup_messages)
    if (m.category.rfind("qt.qpa", 0) == 0 && m.type != QtDebugMsg && m.type != QtInfoMsg) {
      reason = m.text.trimmed();
      break;
    }
  if (reason.isEmpty()) reason = QStringLiteral("the window system could not be started");
  std::fprintf(stderr, "Vellowmark: no usable display (%s)\n", reason.simplified().toLocal8Bit().constData());
  std::fflush(nullptr);
  // Qt is half built: nothing of it may run again, static destructors included.
  std::_Exit(1);
}

QApplication* StartApplication() {
  std::vector<StartupMessage> messages;
  g_startup_messages = &messages;
  const QtMessageHandler previous = qInstallMessageHandler(&CollectStartupMessage);
  auto* app = new QApplication(g_argc, g_argv);
  qInstallMessageHandler(previous);
  g_startup_messages = nullptr;
  // A start that worked passes Qt's remarks on as usual.
  for (const StartupMessage& m : messages) {
    const QMessageLogContext context(m.file.empty() ? nullptr : m.file.c_str(), m.line,
                                     m.function.empty() ? nullptr : m.function.c_str(),
                                     m.category.empty() ? nullptr : m.category.c_str());
    if (previous) previous(m.type, context, m.text);
  }
  return app;
}

class QtBackend : public backend::Backend {
 public:
  QtBackend() {
    if (!QCoreApplication::instance()) g_app = StartApplication();
    // Closing the last window does not end the loop by itself: the program
    // quits from its close handler, after it has saved what it keeps.
    QApplication::setQuitOnLastWindowClosed(false);
    WatchQuitSignals();
  }

  ~QtBackend() override {
    delete quit_notifier_.data();
    // Windows that went while no loop ran are still waiting to be deleted.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    if (g_app && QtWindowPeer::LivePeers() == 0) {
      delete g_app;
      g_app = nullptr;
    }
  }

  std::unique_ptr<backend::WindowPeer> CreateWindowPeer(Window& window) override {
    return std::make_unique<QtWindowPeer>(window);
  }

  void SetBusyCursor(bool busy) override {
    if (busy)
      QApplication::setOverrideCursor(Qt::WaitCursor);
    else
      QApplication::restoreOverrideCursor();
  }

  void Run() override {
    WatchQuitSignals();
    in_loop_ = true;
    // A request that came during start-up is taken before any event.
    if (platform::detail::TakeQuitSignal()) quit_pending_ = true;
    if (quit_pending_) TakeQuitRoad();
    if (!quit_requested_) QApplication::exec();
    quit_requested_ = false;
    in_loop_ = false;
  }

  void RequestQuit() override {
    quit_requested_ = true;
    QCoreApplication::exit(0);  // no effect while no loop runs: Run sees the flag
  }

  void MsgBox(const std::string& message) override {
    // Also on standard error, where a message stays once its box is gone.
    std::fprintf(stderr, "%s\n", message.c_str());
    std::fflush(stderr);
    // The program is quitting: no box waits for an answer.
    if (quit_pending_) return;
    QMessageBox box(QMessageBox::Information, QStringLiteral("Vellowmark"),
                    QString::fromUtf8(message.data(), static_cast<qsizetype>(message.size())),
                    QMessageBox::Ok, QApplication::activeWindow());
    box.setWindowModality(Qt::ApplicationModal);
    open_boxes_.push_back(&box);
    box.exec();
    open_boxes_.pop_back();
    // A quit request closed the box: the loop takes it once this handler
    // has returned to it.
    if (quit_pending_ && open_boxes_.empty() && in_loop_ && quit_notifier_)
      QMetaObject::invokeMethod(quit_notifier_, [this] { TakeQuitRoad(); }, Qt::QueuedConnection);
  }

 private:
  void WatchQuitSignals() {
    const int fd = platform::detail::QuitSignalFd();
    if (quit_notifier_ || fd < 0) return;
    quit_notifier_ = new QSocketNotifier(static_cast<qintptr>(fd), QSocketNotifier::Read);
    QObject::connect(quit_notifier_, &QSocketNotifier::activated, quit_notifier_,
                     [this] { OnQuitSignal(); });
  }

  // The pipe became readable: in the loop itself the quit is taken now. A
  // message box's own loop (start-up's "start the host" one, or one inside
  // a handler) is closed as if answered, and the quit waits for the event
  // loop proper.
  void OnQuitSignal() {
    if (!platform::detail::TakeQuitSignal()) return;
    quit_pending_ = true;
    if (!open_boxes_.empty()) {
      for (QMessageBox* box : open_boxes_) box->done(QMessageBox::Ok);
      return;
    }
    if (in_loop_) TakeQuitRoad();
  }

  // The quit item's road, once: every window closes, its close handler
  // runs, and the program quits.
  void TakeQuitRoad() {
    if (quit_taken_) return;
    quit_taken_ = true;
    RuntimeDispatch([] { RuntimeQuitAction(); });
  }

  bool quit_requested_ = false;
  bool in_loop_ = false;
  bool quit_pending_ = false;
  bool quit_taken_ = false;
  std::vector<QMessageBox*> open_boxes_;
  QPointer<QSocketNotifier> quit_notifier_;
};

std::unique_ptr<backend::Backend> MakeQtBackend() { return std::make_unique<QtBackend>(); }

[[maybe_unused]] const bool registered = [] {
  backend::SetBackendFactory(&MakeQtBackend);
  return true;
}();

}  // namespace
}  // namespace platform::qt
