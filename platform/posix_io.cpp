#include "platform/posix_io.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/syscall.h>
#endif

namespace platform {

bool SetBlocking(int fd, Blocking blocking) {
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0) return false;
  const int wanted = blocking == Blocking::kNo ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
  return wanted == flags || ::fcntl(fd, F_SETFL, wanted) == 0;
}

#if defined(__linux__)

// Linux sets the flags in the call that opens the descriptor, so no other
// thread can spawn a child that inherits it in between.

bool OpenPipe(int fds[2], Blocking blocking) {
  return ::pipe2(fds, O_CLOEXEC | (blocking == Blocking::kNo ? O_NONBLOCK : 0)) == 0;
}

int OpenLocalSocket(Blocking blocking) {
  return ::socket(AF_UNIX,
                  SOCK_STREAM | SOCK_CLOEXEC | (blocking == Blocking::kNo ? SOCK_NONBLOCK : 0), 0);
}

int AcceptConnection(int listen_fd, Blocking blocking) {
  return ::accept4(listen_fd, nullptr, nullptr,
                   SOCK_CLOEXEC | (blocking == Blocking::kNo ? SOCK_NONBLOCK : 0));
}

int OpenProcessExitFd(pid_t pid) {
#ifdef SYS_pidfd_open
  return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
#else
  (void)pid;
  errno = ENOSYS;
  return -1;
#endif
}

#else

int OpenProcessExitFd(pid_t) {
  errno = ENOSYS;
  return -1;
}

namespace {

// The flags a fresh descriptor needs, set right after the call that opened
// it. (A child spawned by another thread in between could inherit it; the
// spawn itself closes what it does not name, see KeepOnlyStandardStreams.)
bool Prepare(int fd, Blocking blocking, bool socket) {
  const int fd_flags = ::fcntl(fd, F_GETFD);
  if (fd_flags < 0 || ::fcntl(fd, F_SETFD, fd_flags | FD_CLOEXEC) != 0) return false;
  // A BSD socket takes O_NONBLOCK over from its listener: always set the
  // wanted state.
  if (!SetBlocking(fd, blocking)) return false;
#ifdef SO_NOSIGPIPE
  // Not every macOS knows MSG_NOSIGNAL: the socket itself refuses the signal.
  int one = 1;
  if (socket && ::setsockopt(fd, SOL_SOCKET, SO_NOSIGPIPE, &one, sizeof one) != 0) return false;
#else
  (void)socket;
#endif
  return true;
}

void CloseKeepingErrno(int fd) {
  const int error = errno;
  ::close(fd);
  errno = error;
}

int PreparedSocket(int fd, Blocking blocking) {
  if (fd < 0 || Prepare(fd, blocking, true)) return fd;
  CloseKeepingErrno(fd);
  return -1;
}

}  // namespace

bool OpenPipe(int fds[2], Blocking blocking) {
  if (::pipe(fds) != 0) return false;
  if (Prepare(fds[0], blocking, false) && Prepare(fds[1], blocking, false)) return true;
  CloseKeepingErrno(fds[0]);
  CloseKeepingErrno(fds[1]);
  return false;
}

int OpenLocalSocket(Blocking blocking) {
  return PreparedSocket(::socket(AF_UNIX, SOCK_STREAM, 0), blocking);
}

int AcceptConnection(int listen_fd, Blocking blocking) {
  return PreparedSocket(::accept(listen_fd, nullptr, nullptr), blocking);
}

#endif

void KeepOnlyStandardStreams(posix_spawn_file_actions_t* actions, short* flags) {
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
  (void)flags;
  posix_spawn_file_actions_addclosefrom_np(actions, STDERR_FILENO + 1);
#elif defined(__APPLE__)
  // The child gets only the descriptors the actions name; the shared
  // standard error has to be named too.
  posix_spawn_file_actions_addinherit_np(actions, STDERR_FILENO);
  *flags |= POSIX_SPAWN_CLOEXEC_DEFAULT;
#else
  (void)actions;
  (void)flags;
#endif
}

std::string PrintableInLine(const std::string& s) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(s.size());
  for (unsigned char c : s) {
    if (c < 0x20 || c == 0x7f) {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

void WriteDiagnosticLine(const std::string& line) {
  const char* p = line.data();
  size_t left = line.size();
  while (left > 0) {
    const ssize_t n = ::write(STDERR_FILENO, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    p += n;
    left -= static_cast<size_t>(n);
  }
}

}  // namespace platform
