// The stand-in host scripts: installed as getcontents.scpt, applyCS.scpt
// and applyPS.scpt, it tells which one it is from its own file name, hands
// its arguments to the running stand-in host and prints the answer.
//
//   getcontents.scpt | applyCS.scpt S E STYLE A1 A2 FLAG | applyPS.scpt L STYLE A1 A2 FLAG
//   vm-standin-script NAME ARG...
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/posix_io.h"
#include "platform/scripting.h"
#include "standin/protocol.h"

namespace {

std::string g_name = "stand-in script";

int Fail(const std::string& why) {
  std::fprintf(stderr, "%s: %s\n", g_name.c_str(), why.c_str());
  return 1;
}

std::string ScriptName(const char* argv0) {
  std::string name = argv0;
  const size_t slash = name.find_last_of('/');
  if (slash != std::string::npos) name.erase(0, slash + 1);
  const std::string ext = ".scpt";
  if (name.size() > ext.size() && name.compare(name.size() - ext.size(), ext.size(), ext) == 0)
    name.resize(name.size() - ext.size());
  return name;
}

}  // namespace

int main(int argc, char** argv) {
  std::string script = ScriptName(argc > 0 ? argv[0] : "");
  int first_arg = 1;
  if (script != "getcontents" && script != "applyCS" && script != "applyPS") {
    if (argc < 2) {
      std::fprintf(stderr, "usage: %s SCRIPT-NAME [ARGUMENT...]\n", script.c_str());
      return 2;
    }
    script = argv[1];
    first_arg = 2;
  }
  g_name = script;
  std::vector<std::string> args(argv + first_arg, argv + argc);

  const std::string path = platform::AppleEventFolder() + "/" + standin::kSignature;
  sockaddr_un addr;
  std::memset(&addr, 0, sizeof addr);
  addr.sun_family = AF_UNIX;
  if (path.size() >= sizeof addr.sun_path) return Fail(path + ": socket path too long");
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  const int fd = platform::OpenLocalSocket();
  if (fd < 0) return Fail(std::string("socket: ") + std::strerror(errno));
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
    return Fail("no stand-in host is running (cannot connect to " + path + ": " + std::strerror(errno) +
                ")");
  timeval tv{60, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);

  const std::string request = standin::EncodeScriptRequest(script, args);
  size_t done = 0;
  while (done < request.size()) {
    const ssize_t n = ::send(fd, request.data() + done, request.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return Fail(std::string("cannot send the request: ") + std::strerror(errno));
    done += static_cast<size_t>(n);
  }
  std::string answer;
  char buf[65536];
  for (;;) {
    const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Fail(std::string("no answer from the stand-in host: ") + std::strerror(errno));
    if (n == 0) break;
    answer.append(buf, static_cast<size_t>(n));
  }
  ::close(fd);

  bool ok = false;
  std::string text;
  if (!standin::ParseScriptReply(answer, &ok, &text)) return Fail("the stand-in host gave no proper answer");
  // The result is one line more than the text: the caller drops one final LF.
  if (!ok) text = "refused: " + text;
  text += '\n';
  if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0)
    return Fail("cannot write the answer");
  return 0;
}
