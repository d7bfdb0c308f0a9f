// The section's pool clears both fields when APR destroys it first (at
// apr_terminate), so the destructor never frees them twice.
#include "runtime/apr_lock.h"

#include <apr_allocator.h>
#include <apr_pools.h>
#include <apr_thread_mutex.h>

namespace korvane::runtime {

namespace {

constexpr apr_size_t kSectionMemoryKeptFree = 256 * 1024;

// Every lock draws its pool from one allocator that keeps freed blocks for
// the next link. An allocator of its own would map fresh pages for each link
// and unmap them again, which in a host with many threads makes every core
// flush its address translations. The allocator lives as long as the
// process, guarded by its own mutex. Null (APR makes one per pool) when it
// cannot be made.
apr_allocator_t* SectionAllocator() {
  static apr_allocator_t* const allocator = [] {
    apr_allocator_t* created = nullptr;
    apr_pool_t* owner = nullptr;
    apr_thread_mutex_t* mutex = nullptr;
    if (apr_allocator_create(&created) != APR_SUCCESS) return static_cast<apr_allocator_t*>(nullptr);
    if (apr_pool_create_unmanaged_ex(&owner, nullptr, created) != APR_SUCCESS ||
        apr_thread_mutex_create(&mutex, APR_THREAD_MUTEX_DEFAULT, owner) != APR_SUCCESS) {
      return static_cast<apr_allocator_t*>(nullptr);  // left behind: a few bytes, once
    }
    apr_allocator_max_free_set(created, kSectionMemoryKeptFree);
    apr_allocator_owner_set(created, owner);
    apr_allocator_mutex_set(created, mutex);
    return created;
  }();
  return allocator;
}

}  // namespace

AprCriticalSection::AprCriticalSection() {
  apr_pool_create_unmanaged_ex(&pool_, nullptr, SectionAllocator());
  apr_thread_mutex_create(&mutex_, APR_THREAD_MUTEX_NESTED, pool_);
  apr_pool_cleanup_register(pool_, this, &AprCriticalSection::OnPoolCleared, apr_pool_cleanup_null);
  apr_pool_tag(pool_, "critical section");
}

AprCriticalSection::~AprCriticalSection() {
  if (mutex_ != nullptr) apr_thread_mutex_destroy(mutex_);
  if (pool_ != nullptr) apr_pool_destroy(pool_);
}

int AprCriticalSection::OnPoolCleared(void* section) {
  auto* self = static_cast<AprCriticalSection*>(section);
  self->pool_ = nullptr;
  self->mutex_ = nullptr;
  return APR_SUCCESS;
}

// A section whose mutex could not be made (APR not running) locks nothing
// rather than crash the host.
AprLock::AprLock(AprCriticalSection& section) : mutex_(section.mutex_) {
  if (mutex_ != nullptr) apr_thread_mutex_lock(mutex_);
}

AprLock::~AprLock() {
  if (mutex_ != nullptr) apr_thread_mutex_unlock(mutex_);
}

}  // namespace korvane::runtime
