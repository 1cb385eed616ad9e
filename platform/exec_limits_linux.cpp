// Linux: one argument may hold 32 pages (MAX_ARG_STRLEN); all of them with
// the environment a quarter of the stack limit, at most 6 MiB and at least
// 128 KiB (ARG_MAX).
#include <algorithm>

#include <sys/resource.h>
#include <unistd.h>

#include "platform/exec_limits.h"

namespace platform::detail {

ExecLimits SystemExecLimits() {
  const long page = ::sysconf(_SC_PAGESIZE);
  ExecLimits limits;
  limits.per_argument = 32 * static_cast<size_t>(page > 0 ? page : 4096);
  size_t in_all = size_t{6} << 20;
  rlimit stack{};
  if (::getrlimit(RLIMIT_STACK, &stack) == 0 && stack.rlim_cur != RLIM_INFINITY)
    in_all = std::min<size_t>(in_all, stack.rlim_cur / 4);
  limits.in_all = std::max<size_t>(in_all, size_t{128} << 10);
  return limits;
}

}  // namespace platform::detail
