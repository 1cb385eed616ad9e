// Descriptors opened the same way on every POSIX system: close-on-exec from
// the start, non-blocking when asked. Linux makes both flags part of the
// call that opens the descriptor; elsewhere (macOS) they are set right
// after it. Every caller goes through these, so the system calls that only
// Linux has live in one place.
#pragma once

#include <spawn.h>
#include <sys/types.h>

#include <string>

namespace platform {

enum class Blocking { kYes, kNo };

// pipe(): both ends close-on-exec. False with errno set on failure.
bool OpenPipe(int fds[2], Blocking blocking = Blocking::kYes);

// A Unix-domain stream socket, close-on-exec. Send on it with MSG_NOSIGNAL;
// where the system has SO_NOSIGPIPE (macOS) the socket carries that as well,
// so no write to it raises SIGPIPE. -1 with errno set on failure.
int OpenLocalSocket(Blocking blocking = Blocking::kYes);

// accept() on a listening socket; the new descriptor as OpenLocalSocket
// makes it. -1 with errno set when no connection is waiting or on failure.
int AcceptConnection(int listen_fd, Blocking blocking = Blocking::kYes);

// A descriptor that becomes readable when the child process `pid` ends,
// without reaping it (Linux's pidfd), close-on-exec; -1 with errno set where
// the system has none.
int OpenProcessExitFd(pid_t pid);

// Sets or clears O_NONBLOCK. False with errno set on failure.
bool SetBlocking(int fd, Blocking blocking);

// Adds to a spawn what keeps every descriptor other than the three standard
// ones out of the child where the system can do that, the ones opened
// without close-on-exec included. `flags` are the spawn attribute flags the
// caller is about to set.
void KeepOnlyStandardStreams(posix_spawn_file_actions_t* actions, short* flags);

// A path or name fit to stand inside a one-line message: control
// characters, which would break the line, are written as \xNN.
std::string PrintableInLine(const std::string& s);

// Writes one diagnostic line to standard error in one write, so that it
// arrives whole; a closed standard error is passed over.
void WriteDiagnosticLine(const std::string& line);

}  // namespace platform
