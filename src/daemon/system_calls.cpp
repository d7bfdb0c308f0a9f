#include "daemon/system_calls.h"

namespace korvane::daemon {

SystemCalls& SystemCalls::Real() {
  static SystemCalls real;
  return real;
}

}  // namespace korvane::daemon
