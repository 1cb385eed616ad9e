#include <cstdlib>
#include <string>

#include <unistd.h>

#include "platform/scripting.h"

namespace platform {

std::string AppleEventFolder() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime && *runtime) return std::string(runtime) + "/appleevents";
  return "/tmp/appleevents-" + std::to_string(getuid());
}

}  // namespace platform
