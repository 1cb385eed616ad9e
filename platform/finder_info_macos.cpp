// The file type on macOS: the first four bytes of the file's Finder info,
// the 32-byte extended attribute com.apple.FinderInfo (then the creator in
// bytes 4-7, and Finder flags and places).
#include <array>
#include <string>

#include <sys/xattr.h>

#include "platform/files_system.h"

namespace platform::os {

namespace {

constexpr const char* kFinderInfo = XATTR_FINDERINFO_NAME;  // "com.apple.FinderInfo"
using FinderInfo = std::array<char, 32>;

// The file's Finder info; all zero when it has none.
FinderInfo ReadFinderInfo(const std::string& path) {
  FinderInfo info{};
  (void)::getxattr(path.c_str(), kFinderInfo, info.data(), info.size(), 0, 0);
  return info;
}

}  // namespace

std::string FileTypeCode(const std::string& path) {
  FinderInfo info = ReadFinderInfo(path);
  if (info[0] == 0 && info[1] == 0 && info[2] == 0 && info[3] == 0) return std::string();
  return std::string(info.data(), 4);
}

void SetFileTypeCode(const std::string& path, const std::string& code) {
  // A type code is four bytes: a shorter one is padded with spaces, as type
  // codes are; a longer one is no type code and changes nothing.
  if (code.size() > 4) return;
  FinderInfo info = ReadFinderInfo(path);
  for (size_t i = 0; i < 4; ++i) info[i] = code.empty() ? '\0' : i < code.size() ? code[i] : ' ';
  bool all_zero = true;
  for (char c : info) all_zero = all_zero && c == 0;
  // Finder info that says nothing is no Finder info. Where the file system
  // cannot keep it, nothing happens.
  if (all_zero) {
    (void)::removexattr(path.c_str(), kFinderInfo, 0);
  } else {
    (void)::setxattr(path.c_str(), kFinderInfo, info.data(), info.size(), 0, 0);
  }
}

}  // namespace platform::os
