// Files on macOS: the executable from dyld. (The type code lives in the
// Finder info, finder_info_macos.cpp.)
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include <mach-o/dyld.h>

#include "platform/files_system.h"

namespace platform::os {

std::string ExecutablePath() {
  uint32_t size = 0;
  (void)_NSGetExecutablePath(nullptr, &size);  // only asks for the size
  std::string path(size + 1, '\0');
  if (_NSGetExecutablePath(path.data(), &size) != 0) return std::string();
  path.resize(std::strlen(path.c_str()));
  // The path the program was started by, which may hold symbolic links or
  // "..": the bundle is found from the real one.
  if (char* real = ::realpath(path.c_str(), nullptr)) {
    path = real;
    std::free(real);
  }
  return path;
}

}  // namespace platform::os
