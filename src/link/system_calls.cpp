#include "link/system_calls.h"

namespace korvane::link {

SystemCalls& SystemCalls::Real() {
  static SystemCalls real;
  return real;
}

}  // namespace korvane::link
