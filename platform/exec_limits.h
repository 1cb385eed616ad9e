// The system's limits on the argument list of a new program, one source
// file per system.
#pragma once

#include <cstddef>

namespace platform::detail {

struct ExecLimits {
  size_t per_argument = 0;  // bytes of one argument, its NUL included
  size_t in_all = 0;        // arguments and environment together: their
                            // bytes, NULs and pointers
};

ExecLimits SystemExecLimits();

}  // namespace platform::detail
