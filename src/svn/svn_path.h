// SVNPath: a file-system path in the canonical internal style Subversion
// works with (UTF-8, "/" separators), made from the library's wide text, and
// the working-copy queries asked about it.
#pragma once

#include "svn/working_copy.h"

#include <string>

struct svn_wc_status3_t;

namespace korvane::svn {

class SVNPool;

class SVNPath {
 public:
  SVNPath() = default;
  // The text up to its first NUL; a null pointer is the empty path.
  explicit SVNPath(const char16_t* path);
  explicit SVNPath(const std::u16string& path);
  SVNPath& operator=(const char16_t* path);

  // The canonical internal-style path; "" for the empty path.
  const char* GetInternalPath() const { return path_.c_str(); }
  // The path with the platform's separators; "." for the empty path.
  std::u16string GetLocalPath() const;

  // Whether a working copy records a node at this absolute path, deleted and
  // hidden nodes included. A path in a working copy that Subversion cannot
  // read (one that needs an upgrade, say) counts as versioned.
  bool IsVersioned(WorkingCopyCalls& calls = WorkingCopyCalls::Real()) const;

  // Reads the path's kind and, for a file or a folder, its status, copied
  // into resultPool and stored in *status (left as it is when there is
  // none). The result is IsVersioned's answer; a failed status read does not
  // change it.
  bool ReadStatus(SVNPool& resultPool, svn_wc_status3_t** status,
                  WorkingCopyCalls& calls = WorkingCopyCalls::Real()) const;

  // Whether the path is versioned in a working copy of the hosting service:
  // its repository root URL holds kHostingServiceFragment.
  bool IsHalcyraWorkingCopy(WorkingCopyCalls& calls = WorkingCopyCalls::Real()) const;

 private:
  std::string path_;
};

}  // namespace korvane::svn
