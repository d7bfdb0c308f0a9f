// A Subversion repository for tests, made with the svnadmin and svn programs
// in a temporary folder of its own, with a working copy checked out of it.
#pragma once

#include <string>
#include <vector>

namespace korvane::testing {

class SvnRepository {
 public:
  // Makes a fresh temporary folder; creates the repository at `location`
  // inside it (a relative path, its folders made as needed); commits `tree`
  // to it (relative paths: one ending in "/" is a folder, any other a file);
  // checks it out into the folder's "wc". Throws std::runtime_error, with the
  // programs' output, when a step fails.
  SvnRepository(const std::string& location, const std::vector<std::string>& tree);
  ~SvnRepository();  // removes the folder
  SvnRepository(const SvnRepository&) = delete;
  SvnRepository& operator=(const SvnRepository&) = delete;

  // Absolute paths with "/" separators, no trailing separator.
  const std::string& Folder() const { return folder_; }
  const std::string& WorkingCopy() const { return workingCopy_; }
  // The repository root as a file:// URL.
  const std::string& Url() const { return url_; }

  // Runs the svn program with these arguments, each passed as it is.
  // Throws std::runtime_error, with the output, when it fails.
  void Svn(const std::vector<std::string>& arguments) const;

 private:
  void Run(const std::string& command) const;

  std::string folder_;
  std::string url_;
  std::string workingCopy_;
};

}  // namespace korvane::testing
