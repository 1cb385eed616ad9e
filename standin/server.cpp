#include "standin/server.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/posix_io.h"
#include "platform/scripting.h"

namespace standin {

namespace {

std::string Errno(const std::string& what) { return what + ": " + std::strerror(errno); }

bool FillAddress(const std::string& path, sockaddr_un* addr, std::string* error) {
  std::memset(addr, 0, sizeof *addr);
  addr->sun_family = AF_UNIX;
  if (path.size() >= sizeof addr->sun_path) {
    *error = path + ": the socket path is longer than a Unix socket name may be";
    return false;
  }
  std::memcpy(addr->sun_path, path.c_str(), path.size() + 1);
  return true;
}

// Whether something accepts connections on `path`, and if so what it said
// to the activate event.
bool SomeoneListens(const std::string& path, std::string* answer) {
  sockaddr_un addr;
  std::string ignored;
  if (!FillAddress(path, &addr, &ignored)) return false;
  const int fd = platform::OpenLocalSocket();
  if (fd < 0) return false;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd);
    return false;
  }
  timeval tv{1, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  static const char kLine[] = "misc actv\n";
  if (::send(fd, kLine, sizeof kLine - 1, MSG_NOSIGNAL) > 0) {
    char buf[64];
    const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n > 0) answer->assign(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  return true;
}

}  // namespace

namespace {

// Creates `path` and its missing parents with mode 0700; a part that exists
// is left as it is.
bool MakeFolders(const std::string& path, std::string* error) {
  struct stat st;
  if (::stat(path.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return true;
    *error = path + " exists and is not a folder";
    return false;
  }
  const size_t slash = path.find_last_of('/');
  if (slash != std::string::npos && slash > 0 && !MakeFolders(path.substr(0, slash), error))
    return false;
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
    *error = Errno("cannot create " + path);
    return false;
  }
  return true;
}

}  // namespace

bool MakePrivateFolder(const std::string& path, std::string* error) {
  if (!MakeFolders(path, error)) return false;
  // The program sends nothing through a folder that is not private, so a
  // host listening in one would never hear from it.
  std::string why;
  if (!platform::IsPrivateEventFolder(path, &why)) {
    *error = path + " cannot carry events (" + why + "); leaving it alone";
    return false;
  }
  return true;
}

std::unique_ptr<Server> Server::Start(const std::string& folder, Handler handler, Log log,
                                      std::string* error) {
  std::unique_ptr<Server> s(new Server());
  s->folder_ = folder;
  s->path_ = folder + "/" + kSignature;
  s->handler_ = std::move(handler);
  s->log_ = std::move(log);
  if (!MakePrivateFolder(folder, error)) return nullptr;

  // The lock settles which of two hosts started at once may claim the name;
  // the probe below catches a listener that is not one of us.
  const std::string lock_path = s->path_ + ".lock";
  s->lock_fd_ = ::open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (s->lock_fd_ < 0) {
    *error = Errno("cannot open " + lock_path);
    return nullptr;
  }
  if (::flock(s->lock_fd_, LOCK_EX | LOCK_NB) != 0) {
    *error = errno == EWOULDBLOCK ? "another stand-in host is running (it holds " + lock_path + ")"
                                  : Errno("cannot lock " + lock_path);
    return nullptr;
  }

  struct stat st;
  if (::lstat(s->path_.c_str(), &st) == 0) {
    if (!S_ISSOCK(st.st_mode)) {
      *error = s->path_ + " exists and is not a socket; leaving it alone";
      return nullptr;
    }
    std::string answer;
    if (SomeoneListens(s->path_, &answer)) {
      *error = "another host is listening on " + s->path_ +
               (answer == "ok\n" ? " (it answers the activate event)" : "");
      return nullptr;
    }
    s->log_("removing the stale socket " + s->path_);
  }

  // Bound under a private name and renamed into place once it listens, so a
  // client never finds the name without a listener behind it.
  const std::string temp = folder + "/." + kSignature + "." + std::to_string(::getpid());
  sockaddr_un addr;
  if (!FillAddress(temp, &addr, error)) return nullptr;
  if (::lstat(temp.c_str(), &st) == 0) {
    if (!S_ISSOCK(st.st_mode)) {
      *error = temp + " exists and is not a socket; leaving it alone";
      return nullptr;
    }
    ::unlink(temp.c_str());
  }
  s->listen_fd_ = platform::OpenLocalSocket(platform::Blocking::kNo);
  if (s->listen_fd_ < 0) {
    *error = Errno("socket");
    return nullptr;
  }
  if (::bind(s->listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    *error = Errno("cannot bind " + temp);
    return nullptr;
  }
  if (::listen(s->listen_fd_, 64) != 0 || ::rename(temp.c_str(), s->path_.c_str()) != 0) {
    *error = Errno("cannot listen on " + s->path_);
    ::unlink(temp.c_str());
    return nullptr;
  }
  if (::lstat(s->path_.c_str(), &st) == 0) {
    s->dev_ = st.st_dev;
    s->ino_ = st.st_ino;
  }
  return s;
}

Server::~Server() {
  while (!connections_.empty()) Close(connections_.begin()->first);
  if (listen_fd_ >= 0) {
    ::close(listen_fd_);
    // Only our own socket: a later host may have claimed the name since.
    struct stat st;
    if (ino_ != 0 && ::lstat(path_.c_str(), &st) == 0 && st.st_dev == dev_ && st.st_ino == ino_)
      ::unlink(path_.c_str());
  }
  if (lock_fd_ >= 0) ::close(lock_fd_);
}

void Server::Accept() {
  for (;;) {
    const int fd = platform::AcceptConnection(listen_fd_, platform::Blocking::kNo);
    if (fd < 0) {
      if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) log_(Errno("accept"));
      if (errno == EINTR) continue;
      return;
    }
    connections_[fd].deadline = std::chrono::steady_clock::now() + kRequestTimeout;
    if (on_open) on_open(fd);
  }
}

void Server::Read(int fd) {
  auto it = connections_.find(fd);
  if (it == connections_.end()) return;
  Connection& c = it->second;
  char buf[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    if (n <= 0) {
      if (c.received > 0) log_("a client left before sending a whole request");
      Close(fd);
      return;
    }
    c.received += static_cast<size_t>(n);
    switch (c.parser.Feed(std::string_view(buf, static_cast<size_t>(n)))) {
      case RequestParser::kNeedMore:
        continue;
      case RequestParser::kBad: {
        const std::string why = "malformed request: " + c.parser.error();
        log_(why);
        Respond(fd, EncodeScriptReply(false, why));
        return;
      }
      case RequestParser::kDone:
        Respond(fd, handler_(c.parser.request()));
        return;
    }
  }
}

void Server::Respond(int fd, const std::string& bytes) {
  // The client waits for its answer, so a blocking write with a bound on
  // its time is enough; a client that stops reading costs at most that.
  (void)platform::SetBlocking(fd, platform::Blocking::kYes);
  timeval tv{5, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      log_(Errno("could not send the whole answer"));
      break;
    }
    done += static_cast<size_t>(n);
  }
  Close(fd);
}

void Server::Close(int fd) {
  if (connections_.erase(fd) == 0) return;
  if (on_close) on_close(fd);
  ::close(fd);
}

void Server::Expire() {
  const auto now = std::chrono::steady_clock::now();
  std::vector<int> late;
  for (const auto& [fd, c] : connections_)
    if (c.deadline <= now) late.push_back(fd);
  for (int fd : late) {
    log_("a client sent no whole request within " + std::to_string(kRequestTimeout.count()) +
         " s; dropped");
    Close(fd);
  }
}

bool Server::Poll(int timeout_ms, int extra_fd) {
  std::vector<pollfd> fds;
  fds.push_back({listen_fd_, POLLIN, 0});
  if (extra_fd >= 0) fds.push_back({extra_fd, POLLIN, 0});
  const auto now = std::chrono::steady_clock::now();
  for (const auto& [fd, c] : connections_) {
    fds.push_back({fd, POLLIN, 0});
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(c.deadline - now).count();
    if (left < timeout_ms) timeout_ms = static_cast<int>(left < 0 ? 0 : left + 1);
  }
  const int n = ::poll(fds.data(), fds.size(), timeout_ms);
  bool extra = false;
  if (n > 0) {
    for (const pollfd& p : fds) {
      if (!p.revents) continue;
      if (p.fd == listen_fd_) Accept();
      else if (p.fd == extra_fd) extra = true;
      else Read(p.fd);
    }
  }
  Expire();
  return extra;
}

}  // namespace standin
