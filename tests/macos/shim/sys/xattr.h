// macOS's extended-attribute calls on top of Linux's, for running the
// macOS Finder-info code here: the position and options arguments must be
// 0, and an attribute "name" lives in Linux's user namespace as
// "user.name" (Linux keeps no other namespace for ordinary files).
#pragma once

#include_next <sys/xattr.h>

#include <cerrno>
#include <cstdint>
#include <string>

#define XATTR_FINDERINFO_NAME "com.apple.FinderInfo"

inline std::string ShimName(const char* name) { return std::string("user.") + name; }

inline ssize_t getxattr(const char* path, const char* name, void* value, size_t size,
                        uint32_t position, int options) {
  if (position != 0 || options != 0) return errno = EINVAL, -1;
  return ::getxattr(path, ShimName(name).c_str(), value, size);
}

inline int setxattr(const char* path, const char* name, const void* value, size_t size,
                    uint32_t position, int options) {
  if (position != 0 || options != 0) return errno = EINVAL, -1;
  return ::setxattr(path, ShimName(name).c_str(), value, size, 0);
}

inline int removexattr(const char* path, const char* name, int options) {
  if (options != 0) return errno = EINVAL, -1;
  return ::removexattr(path, ShimName(name).c_str());
}
