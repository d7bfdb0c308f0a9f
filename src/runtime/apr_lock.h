// The recursive lock of a daemon link and its scoped holder.
#pragma once

struct apr_pool_t;
struct apr_thread_mutex_t;

namespace korvane::runtime {

// A nested (recursive) APR mutex in an unmanaged pool of its own.
class AprCriticalSection {
 public:
  AprCriticalSection();
  ~AprCriticalSection();
  AprCriticalSection(const AprCriticalSection&) = delete;
  AprCriticalSection& operator=(const AprCriticalSection&) = delete;

 private:
  friend class AprLock;
  static int OnPoolCleared(void* section);

  apr_pool_t* pool_ = nullptr;
  apr_thread_mutex_t* mutex_ = nullptr;
};

// Holds a section's mutex for its lifetime.
class AprLock {
 public:
  explicit AprLock(AprCriticalSection& section);
  ~AprLock();
  AprLock(const AprLock&) = delete;
  AprLock& operator=(const AprLock&) = delete;

 private:
  apr_thread_mutex_t* mutex_;
};

}  // namespace korvane::runtime
