// The stand-in host's end of the event socket: claims <folder>/ART5, takes
// one request per connection and writes back what the handler answers.
//
// It is driven from outside, so that it fits the headless poll loop and
// Qt's event loop alike: call Accept when the listening socket is readable,
// Read when a connection is, and Expire now and then.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include <sys/types.h>

#include "standin/protocol.h"

namespace standin {

class Server {
 public:
  // Gets a whole request and gives the bytes to send back.
  using Handler = std::function<std::string(const Request&)>;
  using Log = std::function<void(const std::string&)>;

  // Creates `folder` (mode 0700) when missing, takes the host's lock,
  // replaces a stale socket and listens. Refuses, with a message, when
  // another live instance holds the lock or answers on the socket, or when
  // something that is not a socket has the socket's name.
  static std::unique_ptr<Server> Start(const std::string& folder, Handler handler, Log log,
                                       std::string* error);
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  const std::string& SocketPath() const { return path_; }
  int ListenFd() const { return listen_fd_; }

  void Accept();
  void Read(int fd);
  void Expire();

  // One step of a poll loop over the server's sockets and `extra_fd`
  // (-1: none), waiting at most `timeout_ms`. True when extra_fd is readable.
  bool Poll(int timeout_ms, int extra_fd);

  // Told of each connection as it opens and closes (for event-loop hooks).
  std::function<void(int)> on_open, on_close;

  // How long a client may take to send its whole request.
  static constexpr std::chrono::seconds kRequestTimeout{10};

 private:
  struct Connection {
    RequestParser parser;
    std::chrono::steady_clock::time_point deadline;
    size_t received = 0;
  };
  Server() = default;
  void Respond(int fd, const std::string& bytes);
  void Close(int fd);

  std::string folder_, path_;
  int listen_fd_ = -1, lock_fd_ = -1;
  dev_t dev_ = 0;
  ino_t ino_ = 0;
  Handler handler_;
  Log log_;
  std::map<int, Connection> connections_;
};

// Creates `path` and its missing parents with mode 0700. False with a message
// when that fails, something else has the name, or the folder that is there
// is not private (platform::IsPrivateEventFolder).
bool MakePrivateFolder(const std::string& path, std::string* error);

}  // namespace standin
