// The descriptor helpers: what a spawned child could inherit and whether a
// read can block is decided by these flags.
#include "platform/posix_io.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

using platform::Blocking;

void ExpectFlags(int fd, Blocking blocking, const std::string& what) {
  SCOPED_TRACE(what);
  ASSERT_GE(fd, 0) << std::strerror(errno);
  EXPECT_NE(::fcntl(fd, F_GETFD) & FD_CLOEXEC, 0) << "not close-on-exec";
  EXPECT_EQ((::fcntl(fd, F_GETFL) & O_NONBLOCK) != 0, blocking == Blocking::kNo);
}

TEST(PosixIoTest, EveryDescriptorIsCloseOnExecAndBlocksAsAsked) {
  char folder[] = "/tmp/posix-io-XXXXXX";
  ASSERT_NE(::mkdtemp(folder), nullptr);
  const std::string path = std::string(folder) + "/s";
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);

  for (Blocking b : {Blocking::kYes, Blocking::kNo}) {
    const std::string mode = b == Blocking::kNo ? " (non-blocking)" : " (blocking)";
    int fds[2];
    ASSERT_TRUE(platform::OpenPipe(fds, b));
    ExpectFlags(fds[0], b, "pipe read end" + mode);
    ExpectFlags(fds[1], b, "pipe write end" + mode);
    ::close(fds[0]);
    ::close(fds[1]);

    // The listener is non-blocking where the accepted socket is blocking,
    // and the other way round: the accepted one must not take it over.
    const Blocking other = b == Blocking::kNo ? Blocking::kYes : Blocking::kNo;
    int listener = platform::OpenLocalSocket(other);
    ExpectFlags(listener, other, "listener" + mode);
    ::unlink(path.c_str());
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(::listen(listener, 4), 0);
    int client = platform::OpenLocalSocket(b);
    ExpectFlags(client, b, "client" + mode);
    ASSERT_EQ(::connect(client, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    int accepted = platform::AcceptConnection(listener, b);
    ExpectFlags(accepted, b, "accepted" + mode);

    ASSERT_TRUE(platform::SetBlocking(accepted, other));
    ExpectFlags(accepted, other, "accepted, switched" + mode);
    ::close(accepted);
    ::close(client);
    ::close(listener);
  }
  ::unlink(path.c_str());
  ::rmdir(folder);
}

}  // namespace
