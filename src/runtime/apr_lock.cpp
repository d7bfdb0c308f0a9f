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
// flush its address translations. The allocator is guarded by its own mutex
// and goes away with the module's static objects, after the last link.
class SectionAllocator {
 public:
  // Null when it cannot be made: APR then makes one per pool.
  static apr_allocator_t* Get() {
    static SectionAllocator shared;
    return shared.allocator_;
  }

  SectionAllocator(const SectionAllocator&) = delete;
  SectionAllocator& operator=(const SectionAllocator&) = delete;

 private:
  SectionAllocator() {
    apr_allocator_t* allocator = nullptr;
    apr_thread_mutex_t* mutex = nullptr;
    if (apr_allocator_create(&allocator) != APR_SUCCESS) return;
    if (apr_pool_create_unmanaged_ex(&owner_, nullptr, allocator) != APR_SUCCESS) {
      apr_allocator_destroy(allocator);
      owner_ = nullptr;
      return;
    }
    apr_allocator_owner_set(allocator, owner_);  // destroying the owner destroys the allocator
    if (apr_thread_mutex_create(&mutex, APR_THREAD_MUTEX_DEFAULT, owner_) != APR_SUCCESS) return;
    apr_allocator_max_free_set(allocator, kSectionMemoryKeptFree);
    apr_allocator_mutex_set(allocator, mutex);
    allocator_ = allocator;
  }
  ~SectionAllocator() {
    if (owner_ != nullptr) apr_pool_destroy(owner_);
  }

  apr_pool_t* owner_ = nullptr;
  apr_allocator_t* allocator_ = nullptr;
};

}  // namespace

AprCriticalSection::AprCriticalSection() {
  apr_pool_create_unmanaged_ex(&pool_, nullptr, SectionAllocator::Get());
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
