#include "platform/scripting.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <system_error>
#include <thread>
#include <utility>

#include <climits>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/exec_limits.h"
#include "platform/posix_io.h"
#include "platform/quit_signals.h"
#include "platform/scripting_internal.h"
#include "platform/text.h"

extern char** environ;

namespace platform {

namespace {

void ReportScriptFailure(const std::string& path, const std::string& what) {
  WriteDiagnosticLine("ExecuteAppleScript: " + PrintableInLine(path) + ": " + what + "\n");
}

// Spawns argv[0] in a session (and so a process group) of its own, with
// stdin on /dev/null, stdout on `out_fd` and stderr shared; returns the pid
// or -errno. `argv` ends with nullptr.
pid_t Spawn(const std::vector<const char*>& argv, int out_fd) {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attr);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out_fd, STDOUT_FILENO);
  // Descriptors the process opened without close-on-exec stay out of the
  // script.
  short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSID;
  KeepOnlyStandardStreams(&actions, &flags);
  // The program ignores SIGPIPE, and a caller may ignore or block more; an
  // ignored signal would stay ignored across exec. The script starts with
  // every signal at its default and none blocked. Every signal means every
  // bit: glibc's sigfillset leaves out the two signals it keeps for itself,
  // and its posix_spawn then hands those on ignored.
  sigset_t none, every;
  sigemptyset(&none);
  std::memset(&every, 0xff, sizeof every);
  sigdelset(&every, SIGKILL);
  sigdelset(&every, SIGSTOP);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &every);
  // Its own session: its process id is its group's, so that a script that
  // runs too long is ended together with whatever it started, and no
  // terminal the program was started from stops it for writing to standard
  // error (job control with tostop) or sends it the terminal's signals.
  posix_spawnattr_setflags(&attr, flags);

  pid_t pid = -1;
  int rc = posix_spawn(&pid, argv[0], &actions, &attr, const_cast<char* const*>(argv.data()),
                       environ);
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  return rc == 0 ? pid : -rc;
}

// The end of a child process as something poll can wait for, without
// reaping it: the system's process descriptor where it has one (Linux),
// else a thread that waits for the end and then closes its end of a pipe.
// The process stays a zombie until Reap, so its id, and the id of its group,
// cannot pass to another process while we may still signal them.
class ExitWatch {
 public:
  explicit ExitWatch(pid_t pid) : pid_(pid) {
    fd_ = OpenProcessExitFd(pid);
    if (fd_ >= 0) return;
    int fds[2];
    if (!OpenPipe(fds)) throw std::system_error(errno, std::generic_category(), "pipe");
    fd_ = fds[0];
    const int done = fds[1];
    try {
      thread_ = std::thread([pid, done] {
        siginfo_t info;
        while (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) != 0 &&
               errno == EINTR) {
        }
        ::close(done);
      });
    } catch (...) {
      ::close(done);
      ::close(fd_);
      throw;
    }
  }
  ExitWatch(const ExitWatch&) = delete;
  ExitWatch& operator=(const ExitWatch&) = delete;
  ~ExitWatch() {
    if (!reaped_) {
      KillGroup();
      Reap(nullptr);
    }
    ::close(fd_);
  }

  // Readable once the process has ended.
  int fd() const { return fd_; }
  // Ends the process and every process of its group.
  void KillGroup() const { ::kill(-pid_, SIGKILL); }
  // Waits for the process's end and takes its status; false when it was
  // lost (reaped elsewhere).
  bool Reap(int* status) {
    reaped_ = true;
    if (thread_.joinable()) thread_.join();
    int ignored = 0;
    while (::waitpid(pid_, status ? status : &ignored, 0) < 0) {
      if (errno != EINTR) return false;
    }
    return true;
  }

 private:
  pid_t pid_;
  int fd_ = -1;
  bool reaped_ = false;
  std::thread thread_;
};

// Reads one piece of what is waiting on the non-blocking fd into `out`, so
// that `out` holds at most `most` bytes; false once the pipe has reached
// its end or failed, true while more may come.
bool ReadSome(int fd, std::string& out, size_t most) {
  char buffer[65536];
  const size_t room = most > out.size() ? most - out.size() : 0;
  for (;;) {
    ssize_t n = ::read(fd, buffer, std::min(sizeof buffer, room));
    if (n > 0) {
      const size_t need = out.size() + static_cast<size_t>(n);
      // The usual doubling, but never past `most`: near the ceiling it
      // would take twice the memory the output may have.
      if (need > out.capacity()) out.reserve(std::min(std::max(need, 2 * out.capacity()), most));
      out.append(buffer, static_cast<size_t>(n));
      return true;
    }
    if (n < 0 && errno == EINTR) continue;
    return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
  }
}

// What lies in the pipe now, and nothing that arrives later: a process the
// script left behind may go on writing. At most `most` bytes in all.
void ReadBuffered(int fd, std::string& out, size_t most) {
  int waiting = 0;
  if (::ioctl(fd, FIONREAD, &waiting) != 0 || waiting <= 0) return;
  const size_t goal = std::min(out.size() + static_cast<size_t>(waiting), most);
  for (size_t before = 0; out.size() < goal && out.size() != before;) {
    before = out.size();
    if (!ReadSome(fd, out, goal)) break;
  }
}

std::string Seconds(std::chrono::milliseconds t) {
  if (t.count() % 1000 == 0) return std::to_string(t.count() / 1000) + " s";
  return std::to_string(t.count()) + " ms";
}

std::string Bytes(size_t n) {
  if (n > 0 && n % (size_t{1} << 20) == 0) return std::to_string(n >> 20) + " MiB";
  if (n > 0 && n % (size_t{1} << 10) == 0) return std::to_string(n >> 10) + " KiB";
  return std::to_string(n) + (n == 1 ? " byte" : " bytes");
}

struct Finished {
  enum { kExited, kTimedOut, kTooMuch, kQuitting, kLost } how;
  int status = 0;  // the wait status, or errno when lost
};

// Reads the script's output while it runs, until the script itself ends
// (not until the output ends: a process it left behind may hold the pipe),
// or ends the script's whole group once `timeout` has passed or the output
// has passed `ceiling` bytes, or at once when the program is asked to quit.
// `out` never holds more than ceiling + 1 bytes.
Finished Collect(pid_t pid, int out_fd, std::chrono::milliseconds timeout, size_t ceiling,
                 std::string& out) {
  // One byte past the ceiling tells it was passed.
  const size_t most = ceiling < SIZE_MAX ? ceiling + 1 : ceiling;
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + timeout;
  ExitWatch watch(pid);
  ::fcntl(out_fd, F_SETFL, ::fcntl(out_fd, F_GETFL) | O_NONBLOCK);
  bool output_open = true;
  bool ended = false;
  bool quitting = false;
  while (!ended && !quitting) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) break;
    pollfd fds[3] = {{watch.fd(), POLLIN, 0},
                     {output_open ? out_fd : -1, POLLIN, 0},
                     {detail::QuitSignalFd(), POLLIN, 0}};
    const int wait_ms = static_cast<int>(std::min<long long>(left.count(), 1'000'000));
    const int n = ::poll(fds, 3, wait_ms);
    if (n < 0 && errno != EINTR) break;
    if (n <= 0) continue;
    if (fds[1].revents && output_open) output_open = ReadSome(out_fd, out, most);
    if (out.size() > ceiling) break;
    ended = fds[0].revents != 0;
    quitting = !ended && fds[2].revents != 0;
  }
  if (ended && output_open && out.size() <= ceiling) ReadBuffered(out_fd, out, most);
  Finished result{Finished::kExited};
  if (out.size() > ceiling) {
    watch.KillGroup();
    result.how = Finished::kTooMuch;
  } else if (!ended) {
    watch.KillGroup();
    result.how = quitting ? Finished::kQuitting : Finished::kTimedOut;
  }
  if (!watch.Reap(&result.status)) {
    result.how = Finished::kLost;
    result.status = errno;
  }
  return result;
}

}  // namespace

ScriptArgumentRoom ScriptArgumentRoomNow() {
  const detail::ExecLimits limits = detail::SystemExecLimits();
  // The program's own name (osascript), the script's path and the name the
  // system keeps of the program, each at most a path's length.
  size_t taken = 3 * ScriptValueCost(PATH_MAX) + sizeof(char*);
  for (char** e = environ; *e; ++e) taken += ScriptValueCost(std::strlen(*e));
  ScriptArgumentRoom room;
  room.per_value = limits.per_argument > 0 ? limits.per_argument - 1 : 0;
  room.in_all = limits.in_all > taken ? limits.in_all - taken : 0;
  return room;
}

namespace detail {

std::string ExecuteAppleScript(const std::shared_ptr<FolderItem>& script,
                               const std::vector<Variant>& values,
                               std::chrono::milliseconds timeout, size_t output_ceiling) {
  const std::string path = Deref(script, "script file").NativePath();
  // The program is quitting: nothing new starts.
  if (detail::QuitSignalArrived()) return std::string();
  // The values are passed where they lie, not copied: a position list can be
  // large. argv cannot carry a NUL byte, so a value ends at its first NUL.
  std::vector<const char*> args;
  args.reserve(values.size() + 3);
#ifdef __APPLE__
  args.push_back("/usr/bin/osascript");
#endif
  args.push_back(path.c_str());
  for (const Variant& v : values) args.push_back(v.StringValue().c_str());
  args.push_back(nullptr);

  int fds[2];
  if (!OpenPipe(fds)) {
    ReportScriptFailure(path, std::string("cannot start: ") + std::strerror(errno));
    return std::string();
  }
  pid_t pid = Spawn(args, fds[1]);
  ::close(fds[1]);
  if (pid < 0) {
    ::close(fds[0]);
    ReportScriptFailure(path, std::string("cannot start: ") + std::strerror(static_cast<int>(-pid)));
    return std::string();
  }

  std::string out;
  Finished finished{Finished::kLost};
  try {
    finished = Collect(pid, fds[0], timeout, output_ceiling, out);
  } catch (const std::system_error& e) {
    // Nothing could watch the script (no thread, no pipe): it ends at once.
    ::kill(-pid, SIGKILL);
    while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    ::close(fds[0]);
    ReportScriptFailure(path, std::string("cannot wait for it: ") + e.what());
    return std::string();
  } catch (...) {
    ::close(fds[0]);
    throw;
  }
  ::close(fds[0]);

  const int status = finished.status;
  if (finished.how == Finished::kTimedOut) {
    ReportScriptFailure(path, "timed out after " + Seconds(timeout) + "; ended it");
    return std::string();
  }
  if (finished.how == Finished::kQuitting) {
    ReportScriptFailure(path, "ended it because the program is quitting");
    return std::string();
  }
  if (finished.how == Finished::kTooMuch) {
    ReportScriptFailure(path, "wrote more than " + Bytes(output_ceiling) + "; ended it");
    return std::string();
  }
  if (finished.how == Finished::kLost) {
    ReportScriptFailure(path, std::string("lost: ") + std::strerror(status));
    return std::string();
  }
  if (WIFSIGNALED(status)) {
    int sig = WTERMSIG(status);
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 32))
    const char* name = sigabbrev_np(sig);
#else
    const char* name = nullptr;
#endif
    ReportScriptFailure(path, "killed by signal " + std::to_string(sig) +
                                  (name ? std::string(" (SIG") + name + ")" : std::string()));
    return std::string();
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    ReportScriptFailure(path, "exited with status " + std::to_string(WEXITSTATUS(status)));
    return std::string();
  }
  if (!out.empty() && out.back() == '\n') out.pop_back();
  if (IsValidUtf8(out)) return out;
  return ToValidUtf8(out);
}

}  // namespace detail

std::string ExecuteAppleScript(const std::shared_ptr<FolderItem>& script,
                               const std::vector<Variant>& values) {
  return detail::ExecuteAppleScript(script, values, detail::kScriptTimeout,
                                    detail::kScriptOutputCeiling);
}

// ---- Apple events ----

AppleEvent::AppleEvent(std::string event_class, std::string event_id, std::string target)
    : class_(std::move(event_class)), id_(std::move(event_id)), target_(std::move(target)) {}

std::shared_ptr<AppleEvent> NewAppleEvent(const std::string& event_class,
                                          const std::string& event_id,
                                          const std::string& target_signature) {
  return std::make_shared<AppleEvent>(event_class, event_id, target_signature);
}

}  // namespace platform
