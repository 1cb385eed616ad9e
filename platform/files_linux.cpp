// Files on Linux: the type code in an extended attribute of its own, the
// executable from /proc.
#include <climits>
#include <string>

#include <sys/xattr.h>
#include <unistd.h>

#include "platform/files_system.h"

namespace platform::os {

namespace {
constexpr const char* kTypeAttribute = "user.mac.type";
}  // namespace

std::string FileTypeCode(const std::string& path) {
  char value[64];
  ssize_t n = ::getxattr(path.c_str(), kTypeAttribute, value, sizeof value);
  return n > 0 ? std::string(value, static_cast<size_t>(n)) : std::string();
}

void SetFileTypeCode(const std::string& path, const std::string& code) {
  // File systems without user attributes drop the type silently.
  if (code.empty()) {
    (void)::removexattr(path.c_str(), kTypeAttribute);
  } else {
    (void)::setxattr(path.c_str(), kTypeAttribute, code.data(), code.size(), 0);
  }
}

std::string ExecutablePath() {
  std::string path(PATH_MAX, '\0');
  for (;;) {
    ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size());
    if (n < 0) return std::string();
    if (static_cast<size_t>(n) < path.size()) {
      path.resize(static_cast<size_t>(n));
      return path;
    }
    path.resize(path.size() * 2);
  }
}

}  // namespace platform::os
