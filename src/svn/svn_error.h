// SVNError: what the library keeps of a Subversion error chain once the
// chain itself has been cleared.
#pragma once

#include <apr_errno.h>

#include <exception>
#include <string>

struct svn_error_t;

namespace korvane::svn {

// Never thrown: it records a failure for the code that handles it.
class SVNError : public std::exception {
 public:
  // Takes ownership of the chain (null: no error) and clears all of it.
  explicit SVNError(svn_error_t* error);

  apr_status_t code = 0;  // the first error's code; 0 for no error
  std::string message;    // the deepest message in the chain; empty if none has one
};

}  // namespace korvane::svn
