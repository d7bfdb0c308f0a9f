// The process-wide root of the library's pools: one allocator, shared under a
// mutex by every SVNPool and owned by the root pool, which APR destroys at
// apr_terminate.
#pragma once

#include <atomic>

struct apr_allocator_t;
struct apr_pool_t;

namespace korvane::svn {

class RootPool {
 public:
  // The holder, made on first use (thread-safe).
  static RootPool& Instance();

  RootPool(const RootPool&) = delete;
  RootPool& operator=(const RootPool&) = delete;

  // The shared allocator. Null when it could not be made, and from the moment
  // APR destroys the root pool: pools made from it are gone then too.
  apr_allocator_t* Allocator() const { return allocator_.load(std::memory_order_acquire); }
  apr_pool_t* Pool() const { return pool_; }

 private:
  RootPool();
  // Leaves the root pool to APR; only withdraws the cleanup that would
  // otherwise write into this object after it is gone.
  ~RootPool();

  static int OnRootPoolDestroyed(void* holder);

  // Atomic because the thread that terminates APR clears it while others
  // may be reading it.
  std::atomic<apr_allocator_t*> allocator_{nullptr};
  apr_pool_t* pool_ = nullptr;
};

}  // namespace korvane::svn
