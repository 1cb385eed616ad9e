// The quit signals on every POSIX system: sigaction and a self-pipe.
#include "platform/quit_signals.h"

#include <cerrno>
#include <csignal>
#include <cstdio>

#include <unistd.h>

#include "platform/posix_io.h"

namespace platform::detail {
namespace {

constexpr int kQuitSignals[] = {SIGTERM, SIGHUP, SIGINT};
constexpr int kSignalCount = sizeof kQuitSignals / sizeof kQuitSignals[0];

// What the handler touches: set before any handler is installed.
volatile sig_atomic_t g_write_fd = -1;
volatile sig_atomic_t g_arrived = 0;

int g_read_fd = -1;
bool g_installed = false;
bool g_taken = false;
struct sigaction g_previous[kSignalCount];
bool g_caught[kSignalCount] = {};

void OnQuitSignal(int) {
  const int saved = errno;
  g_arrived = 1;
  const char byte = 'q';
  // Non-blocking: when the pipe is full it already says all there is to say.
  ssize_t ignored = ::write(g_write_fd, &byte, 1);
  (void)ignored;
  errno = saved;
}

}  // namespace

void InstallQuitSignals() {
  if (g_installed) return;
  if (g_read_fd < 0) {
    int fds[2];
    if (!OpenPipe(fds, Blocking::kNo)) {
      std::perror("Vellowmark: no pipe for the quit signals");
      return;  // the signals keep their usual effect
    }
    g_read_fd = fds[0];
    g_write_fd = fds[1];
  }
  struct sigaction action {};
  action.sa_handler = &OnQuitSignal;
  sigemptyset(&action.sa_mask);
  for (int sig : kQuitSignals) sigaddset(&action.sa_mask, sig);
  // Interrupted calls resume; poll and the event loop's wait return anyway.
  action.sa_flags = SA_RESTART;
  for (int i = 0; i < kSignalCount; ++i) {
    g_caught[i] = false;
    if (::sigaction(kQuitSignals[i], nullptr, &g_previous[i]) != 0) continue;
    if (g_previous[i].sa_handler == SIG_IGN) continue;
    g_caught[i] = ::sigaction(kQuitSignals[i], &action, nullptr) == 0;
  }
  g_installed = true;
}

int QuitSignalFd() { return g_read_fd; }

bool QuitSignalArrived() { return g_arrived != 0; }

bool TakeQuitSignal() {
  if (g_read_fd >= 0) {
    char buffer[64];
    for (;;) {
      const ssize_t n = ::read(g_read_fd, buffer, sizeof buffer);
      if (n > 0 || (n < 0 && errno == EINTR)) continue;
      break;  // empty (EAGAIN) or failed
    }
  }
  if (!g_arrived || g_taken) return false;
  g_taken = true;
  return true;
}

void ResetQuitSignalsForTesting() {
  if (g_installed) {
    for (int i = 0; i < kSignalCount; ++i)
      if (g_caught[i]) ::sigaction(kQuitSignals[i], &g_previous[i], nullptr);
    g_installed = false;
  }
  TakeQuitSignal();
  g_arrived = 0;
  g_taken = false;
}

}  // namespace platform::detail
