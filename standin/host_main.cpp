// vm-standin-host: plays the host application on machines that have none.
//
//   vm-standin-host [--headless] [--quiet] [--save FILE] DOCUMENT
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>

#include "platform/posix_io.h"
#include "platform/scripting.h"
#include "standin/host.h"
#include "standin/server.h"

#ifdef VM_STANDIN_QT
#include <QApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <map>

#include "standin/qt_view.h"
#endif

namespace {

int g_signal_pipe[2] = {-1, -1};

void OnSignal(int) {
  const char c = 1;
  [[maybe_unused]] ssize_t n = ::write(g_signal_pipe[1], &c, 1);
}

bool InstallSignals() {
  if (!platform::OpenPipe(g_signal_pipe, platform::Blocking::kNo)) return false;
  struct sigaction sa;
  std::memset(&sa, 0, sizeof sa);
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);
  return true;
}

int Usage() {
  std::cerr << "usage: vm-standin-host [--headless] [--quiet] [--save FILE] DOCUMENT\n"
               "  --headless  no window: a plain-text rendering on standard output after each change\n"
               "  --quiet     no rendering on standard output\n"
               "  --save FILE write the styled document to FILE at start, after every applied\n"
               "              request and on exit\n";
  return 2;
}

bool HasDisplay() {
  for (const char* v : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    const char* s = std::getenv(v);
    if (s && *s) return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  bool headless = false, quiet = false;
  std::string save_path, doc_path;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--headless") headless = true;
    else if (a == "--quiet") quiet = true;
    else if (a == "--save" && i + 1 < argc) save_path = argv[++i];
    else if (!a.empty() && a[0] != '-' && doc_path.empty()) doc_path = a;
    else return Usage();
  }
  if (doc_path.empty()) return Usage();

  standin::Document doc;
  std::string error;
  if (!standin::Document::Load(doc_path, &doc, &error)) {
    std::cerr << "stand-in host: " << error << "\n";
    return 1;
  }
  if (!InstallSignals()) {
    std::cerr << "stand-in host: cannot set up signal handling\n";
    return 1;
  }
  standin::Host host(std::move(doc), save_path, quiet, std::cout, std::cerr);
  auto log = [](const std::string& m) { std::cerr << "stand-in host: " << m << std::endl; };
  std::unique_ptr<standin::Server> server = standin::Server::Start(
      platform::AppleEventFolder(), [&host](const standin::Request& r) { return host.Handle(r); },
      log, &error);
  if (!server) {
    std::cerr << "stand-in host: " << error << "\n";
    return 1;
  }
  // Saved before the announcement: whoever waits for it may read the file.
  host.Save();
  std::cerr << "stand-in host: " << host.document().Pieces().size() << " pieces from " << doc_path
            << "; listening on " << server->SocketPath() << std::endl;

#ifdef VM_STANDIN_QT
  if (!headless && !HasDisplay()) {
    std::cerr << "stand-in host: no display; running without a window\n";
    headless = true;
  }
  if (!headless) {
    QApplication app(argc, argv);
    standin::HostWindow window(&host.document());
    window.show();
    std::map<int, QSocketNotifier*> notifiers;
    QSocketNotifier listening(server->ListenFd(), QSocketNotifier::Read);
    QObject::connect(&listening, &QSocketNotifier::activated, [&] { server->Accept(); });
    server->on_open = [&](int fd) {
      auto* n = new QSocketNotifier(fd, QSocketNotifier::Read, &app);
      notifiers[fd] = n;
      QObject::connect(n, &QSocketNotifier::activated, [&server, fd] { server->Read(fd); });
    };
    server->on_close = [&](int fd) {
      auto it = notifiers.find(fd);
      if (it == notifiers.end()) return;
      // It may be the notifier whose signal is running now.
      it->second->setEnabled(false);
      it->second->deleteLater();
      notifiers.erase(it);
    };
    QTimer expiry;
    QObject::connect(&expiry, &QTimer::timeout, [&] { server->Expire(); });
    expiry.start(1000);
    QSocketNotifier stop(g_signal_pipe[0], QSocketNotifier::Read);
    QObject::connect(&stop, &QSocketNotifier::activated, [&] { app.quit(); });
    host.on_change = [&](const std::string& message) { window.Refresh(message); };
    host.on_activate = [&] {
      window.raise();
      window.activateWindow();
    };
    app.exec();
    host.on_change = nullptr;
    host.on_activate = nullptr;
    server->on_open = nullptr;
    server->on_close = nullptr;
    server.reset();
    host.Save();
    return 0;
  }
#else
  (void)HasDisplay;
  (void)headless;
#endif

  host.Render("loaded " + doc_path);
  while (!server->Poll(1000, g_signal_pipe[0])) {
  }
  server.reset();
  host.Save();
  return 0;
}
