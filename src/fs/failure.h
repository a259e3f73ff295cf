#pragma once

#include <cerrno>

// The handler result for a failed call. A callee that failed without setting
// errno must not turn into a success, so that case reads as EIO.
inline int failure_result() {
  return errno != 0 ? -errno : -EIO;
}
