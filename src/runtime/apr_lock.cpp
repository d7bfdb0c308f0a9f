// The section's pool clears both fields when APR destroys it first (at
// apr_terminate), so the destructor never frees them twice.
#include "runtime/apr_lock.h"

#include <apr_pools.h>
#include <apr_thread_mutex.h>

namespace korvane::runtime {

AprCriticalSection::AprCriticalSection() {
  apr_pool_create_unmanaged_ex(&pool_, nullptr, nullptr);
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
