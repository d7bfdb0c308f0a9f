// What the working-copy queries on SVNPath ask Subversion, behind a seam so
// that tests can produce answers a real working copy cannot give on demand,
// and how a kind read decides whether a path is versioned.
#pragma once

#include <apr_errno.h>
#include <svn_types.h>

#include <optional>

struct apr_pool_t;
struct svn_wc_context_t;

namespace korvane::svn {

// The two Subversion calls the queries make. Real() forwards to Subversion;
// tests derive from it to script either call.
class WorkingCopyCalls {
 public:
  static WorkingCopyCalls& Real();

  virtual ~WorkingCopyCalls() = default;

  // svn_wc_context_create with the default configuration.
  virtual svn_error_t* CreateContext(svn_wc_context_t** context, apr_pool_t* resultPool, apr_pool_t* scratchPool);
  // svn_wc_read_kind2, counting deleted and hidden nodes as present.
  virtual svn_error_t* ReadKind(svn_node_kind_t* kind, svn_wc_context_t* context, const char* absolutePath,
                                apr_pool_t* scratchPool);
};

// The outcome of a kind read: the code of its first error when it failed,
// otherwise the kind it read.
struct KindRead {
  std::optional<apr_status_t> error;
  svn_node_kind_t kind = svn_node_none;
};

// Whether a kind read shows a versioned node. "Not a working copy", "not a
// file" and "path not found" say no; any other Subversion error says the path
// is in a working copy that could not be read, which counts as versioned; a
// system error says nothing is known. Without an error, any kind but none is
// versioned.
bool IsVersionedKind(const KindRead& read);

}  // namespace korvane::svn
