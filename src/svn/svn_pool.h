// SVNPool: one APR pool for one piece of work, freed when it goes out of
// scope.
#pragma once

struct apr_pool_t;

namespace korvane::svn {

// A top-level pool (not a child of the root pool) drawing on the root pool's
// shared allocator.
class SVNPool {
 public:
  // Throws std::bad_alloc when no pool can be made: the allocator could not
  // be created, or APR has already been taken down.
  SVNPool();
  // Destroys the pool unless APR already has (the allocator is gone then).
  ~SVNPool();
  SVNPool(const SVNPool&) = delete;
  SVNPool& operator=(const SVNPool&) = delete;

  operator apr_pool_t*() const { return pool_; }

 private:
  apr_pool_t* pool_ = nullptr;
};

}  // namespace korvane::svn
