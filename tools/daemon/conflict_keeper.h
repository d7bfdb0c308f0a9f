// Settles the conflicts an update leaves in a working copy so that nothing
// a person wrote is lost and automatic sync can go on: the other side's
// version takes the name, and the local one is kept beside it under a name
// a person understands at a glance, "NAME (conflict, HOST, 2026-12-07
// 10.42).EXT". Text and binary files, edit against edit, edit against
// delete, delete against edit, two adds of one name, and a folder renamed
// on one side while a file in it changes on the other all end the same
// way: the local version is copied aside (when there is one), the conflict
// is marked resolved, the path is reverted to what the update brought, and
// a local leftover that the update did not bring is removed (its copy
// stays). A folder the other side renamed (which reaches Subversion as a
// delete and an add) is found by its files' names and bytes, and the
// rename wins: each locally changed file of the old folder goes into the
// renamed one, beside the file it changes as its conflict copy (in its
// place when the file is not there), and no copy of the old folder is
// left. Subversion's
// conflict files go with the resolution, so they are never committed; the
// copies aside are new files, committed next.
#pragma once

#include <svn_client.h>

#include <string>
#include <vector>

namespace korvane::server {

struct KeptConflict {
  std::string path;  // the conflicted path, which now holds the other side's version
  std::string kept;  // where the local version is, empty when there was none (a local delete)
};

// The name beside path for its local version: the stem, then "(conflict,
// HOST, DATE TIME)", then the extension of a file; " 2", " 3", ... before
// the closing parenthesis when the name is taken.
std::string ConflictName(const std::string& path, bool isFile, const std::string& host, const std::string& when);

// Settles every conflict in the working copy at folder; what was kept is
// appended to kept. An error ends the settling; what was kept stays kept.
svn_error_t* SettleConflicts(const std::string& folder, std::vector<KeptConflict>& kept, svn_client_ctx_t* client,
                             apr_pool_t* pool);

}  // namespace korvane::server
