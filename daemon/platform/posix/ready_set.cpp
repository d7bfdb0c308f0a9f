#include "daemon/platform/ready_set.h"

#include <cerrno>
#include <cstring>
#include <system_error>
#include <utility>
#include <vector>

#include <sys/epoll.h>
#include <unistd.h>

namespace korvane::server {

namespace {

constexpr std::pair<std::uint32_t, std::uint32_t> kEpollEvents[] = {
    {kReadable, EPOLLIN}, {kWritable, EPOLLOUT}, {kHungUp, EPOLLHUP}, {kFailed, EPOLLERR}};

std::uint32_t ToEpoll(std::uint32_t events) {
  std::uint32_t epoll = 0;
  for (const auto& [readiness, bit] : kEpollEvents) {
    if (events & readiness) epoll |= bit;
  }
  return epoll;
}

std::uint32_t FromEpoll(std::uint32_t epoll) {
  std::uint32_t events = 0;
  for (const auto& [readiness, bit] : kEpollEvents) {
    if (epoll & bit) events |= readiness;
  }
  return events;
}

}  // namespace

ReadySet::ReadySet() : handle_(epoll_create1(EPOLL_CLOEXEC)) {
  if (handle_ < 0) throw std::system_error(errno, std::generic_category(), "epoll_create1");
}

ReadySet::~ReadySet() { close(handle_); }

bool ReadySet::Add(NativeHandle handle, std::uint64_t id, std::uint32_t events) {
  epoll_event event{ToEpoll(events), {.u64 = id}};
  return epoll_ctl(handle_, EPOLL_CTL_ADD, handle, &event) == 0;
}

void ReadySet::AddOrThrow(NativeHandle handle, std::uint64_t id, std::uint32_t events) {
  if (!Add(handle, id, events)) throw std::system_error(errno, std::generic_category(), "epoll_ctl");
}

bool ReadySet::Change(NativeHandle handle, std::uint64_t id, std::uint32_t events) {
  epoll_event event{ToEpoll(events), {.u64 = id}};
  return epoll_ctl(handle_, EPOLL_CTL_MOD, handle, &event) == 0;
}

void ReadySet::Remove(NativeHandle handle) { epoll_ctl(handle_, EPOLL_CTL_DEL, handle, nullptr); }

int ReadySet::Wait(ReadyHandle* ready, int capacity, int limitMs, std::string& problem) {
  // Only the loop's own thread waits; the buffer keeps its size between waits.
  thread_local std::vector<epoll_event> events;
  if (events.size() < static_cast<std::size_t>(capacity)) events.resize(capacity);
  const int count = epoll_wait(handle_, events.data(), capacity, limitMs);
  if (count < 0) {
    if (errno == EINTR) return 0;
    problem = std::string("epoll_wait failed: ") + std::strerror(errno);
    return -1;
  }
  for (int i = 0; i < count; ++i) ready[i] = {events[i].data.u64, FromEpoll(events[i].events)};
  return count;
}

}  // namespace korvane::server
