// The real backend: Qt 6 Widgets. Linking this file in makes RuntimeInit
// bring up Qt instead of the headless backend.
#include "platform/qt/qt_backend.h"

#include <QApplication>
#include <QCursor>
#include <QMessageBox>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "platform/backend.h"
#include "platform/qt/qt_window.h"

namespace platform::qt {
namespace {

// The program reads no command line, so Qt never sees the real one.
int g_argc = 1;
char g_arg0[] = "Vellowmark";
char* g_argv[] = {g_arg0, nullptr};

// The application object outlives a backend when windows are still alive at
// the backend's end (a test that keeps its window); the next backend reuses it.
QApplication* g_app = nullptr;

bool EnvFlag(const char* name) {
  const char* v = std::getenv(name);
  return v && *v && std::string(v) != "0";
}

class QtBackend : public backend::Backend {
 public:
  QtBackend() {
    if (!QCoreApplication::instance()) g_app = new QApplication(g_argc, g_argv);
    // Closing the last window does not end the loop by itself: the program
    // quits from its close handler, after it has saved what it keeps.
    QApplication::setQuitOnLastWindowClosed(false);
  }

  ~QtBackend() override {
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
    if (quit_requested_) {
      quit_requested_ = false;
      return;
    }
    QApplication::exec();
    quit_requested_ = false;
  }

  void RequestQuit() override {
    quit_requested_ = true;
    QCoreApplication::exit(0);  // no effect while no loop runs: Run sees the flag
  }

  void MsgBox(const std::string& message) override {
    std::fprintf(stderr, "%s\n", message.c_str());
    std::fflush(stderr);
    if (const char* log = std::getenv("VM_MSGBOX_LOG"); log && *log) {
      if (std::FILE* f = std::fopen(log, "a")) {
        std::fwrite(message.data(), 1, message.size(), f);
        std::fputc('\n', f);
        std::fclose(f);
      }
    }
    QMessageBox box(QMessageBox::Information, QStringLiteral("Vellowmark"),
                    QString::fromUtf8(message.data(), static_cast<qsizetype>(message.size())),
                    QMessageBox::Ok, QApplication::activeWindow());
    box.setWindowModality(Qt::ApplicationModal);
    // For unattended runs of the real window.
    if (EnvFlag("VM_MSGBOX_AUTOCLOSE"))
      QTimer::singleShot(200, &box, [&box] { box.done(QMessageBox::Ok); });
    box.exec();
  }

 private:
  bool quit_requested_ = false;
};

std::unique_ptr<backend::Backend> MakeQtBackend() { return std::make_unique<QtBackend>(); }

[[maybe_unused]] const bool registered = [] {
  backend::SetBackendFactory(&MakeQtBackend);
  return true;
}();

}  // namespace
}  // namespace platform::qt
