// Every SVNPool is a sibling of the root pool under APR's global pool, so
// apr_terminate destroys those still alive; a destructor that runs later
// must leave them alone.
#include "svn/svn_pool.h"

#include "svn/root_pool.h"

#include <apr_pools.h>
#include <svn_pools.h>

#include <new>

namespace korvane::svn {

SVNPool::SVNPool() {
  apr_allocator_t* allocator = RootPool::Instance().Allocator();
  // Without the shared allocator APR would fall back to its global pool,
  // which no longer exists once APR has been terminated.
  if (allocator == nullptr) throw std::bad_alloc();
  pool_ = svn_pool_create_ex(nullptr, allocator);
  apr_pool_tag(pool_, "SVNPool");
}

SVNPool::~SVNPool() {
  if (pool_ != nullptr && RootPool::Instance().Allocator() != nullptr) apr_pool_destroy(pool_);
  pool_ = nullptr;
}

}  // namespace korvane::svn
