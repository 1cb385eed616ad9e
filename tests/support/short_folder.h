// A short private folder (mode 0700) under /tmp, gone with the object: the
// place for a test's Unix sockets. A socket's whole path must fit a
// sockaddr_un (107 bytes on Linux), which a folder under the build folder of
// a clone in a deep folder does not.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

class ShortFolder {
 public:
  ShortFolder() {
    char pattern[] = "/tmp/vm-XXXXXX";
    if (::mkdtemp(pattern)) path_ = pattern;
  }
  ~ShortFolder() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  ShortFolder(const ShortFolder&) = delete;
  ShortFolder& operator=(const ShortFolder&) = delete;

  // Empty when no folder could be made.
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};
