// macOS: no limit of its own for one argument; all of them with the
// environment within ARG_MAX (1 MiB on current systems), which is also what
// osascript accepts.
#include <unistd.h>

#include "platform/exec_limits.h"

namespace platform::detail {

ExecLimits SystemExecLimits() {
  const long max = ::sysconf(_SC_ARG_MAX);
  const size_t in_all = max > 0 ? static_cast<size_t>(max) : size_t{256} << 10;
  return ExecLimits{in_all, in_all};
}

}  // namespace platform::detail
