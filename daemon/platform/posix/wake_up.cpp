#include "daemon/platform/wake_up.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace korvane::server {

WakeUp::WakeUp() : handle_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
  if (handle_ < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
}

WakeUp::~WakeUp() { close(static_cast<int>(handle_)); }

void WakeUp::Raise() {
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t written = write(static_cast<int>(handle_), &one, sizeof one);
}

std::uint64_t WakeUp::Take() {
  std::uint64_t count = 0;
  return read(static_cast<int>(handle_), &count, sizeof count) == sizeof count ? count : 0;
}

bool WaitReady(NativeHandle watched, const WakeUp& wakeUp, std::chrono::milliseconds limit, bool& watchedReady,
               std::string& problem) {
  pollfd descriptors[] = {{static_cast<int>(watched), POLLIN, 0}, {static_cast<int>(wakeUp.Handle()), POLLIN, 0}};
  if (poll(descriptors, 2, static_cast<int>(std::max<long long>(limit.count(), 0))) < 0 && errno != EINTR) {
    problem = std::strerror(errno);
    return false;
  }
  watchedReady = (descriptors[0].revents & POLLIN) != 0;
  return true;
}

}  // namespace korvane::server
