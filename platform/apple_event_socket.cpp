// The activate event and its kin where there are no Apple events: a line
// over a Unix-domain socket in the event folder, named after the target's
// signature (see AppleEvent::Send).
#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "platform/posix_io.h"
#include "platform/scripting.h"

namespace platform {

namespace {

using Clock = std::chrono::steady_clock;

// Waits for `events` on fd until the deadline; false on timeout or error.
bool WaitFor(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return false;
    pollfd p{fd, events, 0};
    int rc = ::poll(&p, 1, static_cast<int>(left.count()));
    if (rc > 0) return true;  // ready, or an error the next call reports
    if (rc < 0 && errno != EINTR) return false;
  }
}

// The longest socket path a sockaddr_un holds, its NUL aside.
constexpr size_t kMaxSocketPath = sizeof(sockaddr_un::sun_path) - 1;

// One line on standard error: the path that does not fit.
void ReportTooLong(const std::string& path) {
  WriteDiagnosticLine("AppleEvent: " + PrintableInLine(path) + ": the event socket's path is " +
                      std::to_string(path.size()) + " bytes, longer than the " +
                      std::to_string(kMaxSocketPath) +
                      " a Unix socket's may be; the event is not sent\n");
}

bool Exchange(int fd, const std::string& path, const std::string& request,
              Clock::time_point deadline) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (path.size() > kMaxSocketPath) return false;
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  // A listener whose backlog is full refuses a non-blocking connect with
  // EAGAIN for the moment; try again until the deadline.
  while (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
    if (errno != EAGAIN || Clock::now() + std::chrono::milliseconds(10) >= deadline) return false;
    ::usleep(10000);
  }

  size_t sent = 0;
  while (sent < request.size()) {
    ssize_t n = ::send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
    if (n > 0) {
      sent += static_cast<size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (!WaitFor(fd, POLLOUT, deadline)) return false;
    } else {
      return false;
    }
  }

  // The answer is one short line; anything longer is not "ok".
  std::string answer;
  char buffer[64];
  for (;;) {
    ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n > 0) {
      answer.append(buffer, static_cast<size_t>(n));
      if (answer.find('\n') != std::string::npos) break;
      if (answer.size() > 64) return false;
    } else if (n == 0) {
      break;  // a last line without its LF counts as well
    } else if (errno == EINTR) {
      continue;
    } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
      if (!WaitFor(fd, POLLIN, deadline)) return false;
    } else {
      return false;
    }
  }
  std::string line = answer.substr(0, answer.find('\n'));
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line == "ok";
}

}  // namespace

bool AppleEvent::Send() {
  const auto deadline = Clock::now() + std::chrono::seconds(2);
  const std::string folder = AppleEventFolder();
  if (!IsPrivateEventFolder(folder)) return false;
  // A path that does not fit is never cut short: that would name another
  // socket.
  const std::string path = folder + "/" + target_;
  if (path.size() > kMaxSocketPath) {
    ReportTooLong(path);
    return false;
  }
  int fd = OpenLocalSocket(Blocking::kNo);
  if (fd < 0) return false;
  bool delivered = Exchange(fd, path, class_ + " " + id_ + "\n", deadline);
  ::close(fd);
  return delivered;
}

}  // namespace platform
