#include <cstdlib>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

#include "platform/scripting.h"

namespace platform {

std::string AppleEventFolder() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime && *runtime) return std::string(runtime) + "/appleevents";
  return "/tmp/appleevents-" + std::to_string(getuid());
}

bool IsPrivateEventFolder(const std::string& folder, std::string* why) {
  auto refuse = [why](const char* reason) {
    if (why) *why = reason;
    return false;
  };
  struct stat st;
  // The folder itself, not what a link of that name points to: a link in
  // /tmp can be anybody's.
  if (::lstat(folder.c_str(), &st) != 0) return refuse("it does not exist");
  if (S_ISLNK(st.st_mode)) return refuse("it is a symbolic link");
  if (!S_ISDIR(st.st_mode)) return refuse("it is not a folder");
  if (st.st_uid != ::geteuid()) return refuse("another user owns it");
  if (st.st_mode & (S_IWGRP | S_IWOTH)) return refuse("others may write to it");
  return true;
}

}  // namespace platform
