// The outermost error says what failed; the deepest message says why, so
// that is the one kept.
#include "svn/svn_error.h"

#include <svn_error.h>

#include <memory>

namespace korvane::svn {
namespace {
struct ClearChain {
  void operator()(svn_error_t* error) const { svn_error_clear(error); }
};
}  // namespace

SVNError::SVNError(svn_error_t* error) {
  // Cleared on every way out, including a failed copy of the message.
  const std::unique_ptr<svn_error_t, ClearChain> chain(error);
  if (error == nullptr) return;
  code = error->apr_err;
  const char* deepest = nullptr;
  for (const svn_error_t* link = error; link != nullptr; link = link->child) {
    if (link->message != nullptr) deepest = link->message;
  }
  if (deepest != nullptr) message = deepest;
}

}  // namespace korvane::svn
