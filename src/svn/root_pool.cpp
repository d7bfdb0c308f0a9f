// The root pool is made once and never destroyed by the library: APR owns
// its end, and the cleanup below tells the holder when it has come.
#include "svn/root_pool.h"

#include <apr_allocator.h>
#include <apr_pools.h>
#include <apr_thread_mutex.h>
#include <svn_pools.h>

namespace korvane::svn {
namespace {
// Freed blocks the allocator keeps for reuse before handing memory back.
constexpr apr_size_t kMaxFreeBytes = 0x100000;
}  // namespace

RootPool& RootPool::Instance() {
  static RootPool instance;
  return instance;
}

RootPool::RootPool() {
  apr_allocator_t* allocator = nullptr;
  if (apr_allocator_create(&allocator) != APR_SUCCESS || allocator == nullptr) return;
  apr_allocator_max_free_set(allocator, kMaxFreeBytes);
  apr_pool_t* pool = svn_pool_create_ex(nullptr, allocator);
  apr_pool_tag(pool, "Root pool");
  apr_allocator_owner_set(allocator, pool);
  pool_ = pool;

  // Pools on many threads share the allocator; without its mutex it must not
  // be handed out at all.
  apr_thread_mutex_t* mutex = nullptr;
  if (apr_thread_mutex_create(&mutex, APR_THREAD_MUTEX_DEFAULT, pool) != APR_SUCCESS) return;
  apr_allocator_mutex_set(allocator, mutex);

  apr_pool_cleanup_register(pool, this, &RootPool::OnRootPoolDestroyed, apr_pool_cleanup_null);
  allocator_.store(allocator, std::memory_order_release);
}

RootPool::~RootPool() {
  if (Allocator() != nullptr) apr_pool_cleanup_kill(pool_, this, &RootPool::OnRootPoolDestroyed);
}

int RootPool::OnRootPoolDestroyed(void* holder) {
  static_cast<RootPool*>(holder)->allocator_.store(nullptr, std::memory_order_release);
  return APR_SUCCESS;
}

}  // namespace korvane::svn
