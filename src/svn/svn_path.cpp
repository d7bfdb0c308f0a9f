// Building SVNPath from wide text and giving it back in local style. Each
// step allocates in a scratch pool freed on the way out.
#include "svn/svn_path.h"

#include "svn/svn_pool.h"
#include "text/utf_convert.h"

#include <svn_dirent_uri.h>
#include <svn_error.h>

namespace korvane::svn {
namespace {

// True when the call failed; its error chain is cleared either way.
bool Failed(svn_error_t* error) {
  if (error == nullptr) return false;
  svn_error_clear(error);
  return true;
}

std::string CanonicalInternalPath(std::u16string_view path) {
  const std::string utf8 = text::WideToUtf8(path);
  if (utf8.empty()) return {};

  SVNPool pool;
  // The checked forms: the plain ones abort the process on a path they
  // cannot canonicalize, and this text comes from callers. Such a path
  // becomes the empty path.
  const char* internal = nullptr;
  if (Failed(svn_dirent_internal_style_safe(&internal, nullptr, utf8.c_str(), pool, pool))) return {};
  const char* canonical = nullptr;
  if (Failed(svn_dirent_canonicalize_safe(&canonical, nullptr, internal, pool, pool))) return {};
  std::string result(canonical);
  // A bare drive ("D:") means that drive's root.
  if (result.size() == 2 && result[1] == ':') result.insert(2, 1, '/');
  return result;
}

}  // namespace

SVNPath::SVNPath(const char16_t* path) {
  if (path != nullptr) path_ = CanonicalInternalPath(path);
}

SVNPath::SVNPath(const std::u16string& path) : path_(CanonicalInternalPath(path)) {}

SVNPath& SVNPath::operator=(const char16_t* path) {
  path_ = path != nullptr ? CanonicalInternalPath(path) : std::string();
  return *this;
}

std::u16string SVNPath::GetLocalPath() const {
  SVNPool pool;
  return text::Utf8ToWide(svn_dirent_local_style(path_.c_str(), pool));
}

}  // namespace korvane::svn
