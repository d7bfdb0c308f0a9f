// The hosting service kept in one Subversion repository on a stock server
// (svnserve, Apache with mod_dav_svn, or a file:// repository), so that
// every hosting command is a Subversion operation from the client and
// nothing of ours runs on the server but its set-up and a hook script.
//
// Layout of the repository whose root URL the daemon is configured with:
//
//   /korvane-access         the server's access file (authz), in the
//                           repository itself: [groups] korvane-users lists
//                           the service's users; [/] lets signed-in users
//                           make spaces; one [/SPACE] section per space
//                           gives its members (readers "r", others "rw")
//                           and nobody else anything.
//   /SPACE/                 a space; its files are the shared folder.
//     korvane:members       property: "USER<TAB>ROLE" lines, sorted
//     korvane:description   property: the description given at creation
//
// A space and its access section change in one commit; the server's
// pre-commit hook (scripts/korvane-pre-commit) refuses a commit whose
// author is not the owner of a space whose members or access it changes,
// and one whose access section does not follow its members.
#pragma once

#include "access_file.h"
#include "results.h"

#include <atomic>
#include <map>
#include <string>
#include <vector>

namespace korvane::server::team {

// What came of one operation; on failure text says why.
struct Answer {
  Result result = Result::Done;
  std::string text;
  std::vector<std::string> lines;
};

// The service at root URL, reached with the daemon's Subversion client.
class Service {
 public:
  Service(std::string rootUrl, const std::atomic<bool>& stopping) : root_(std::move(rootUrl)), stopping_(stopping) {}

  std::string SpaceUrl(const std::string& space) const;
  Answer ListSpaces();
  // text: the youngest revision that changed the space; lines: members.
  Answer ShowSpace(const std::string& space);
  Answer CreateSpace(const std::string& space, const std::string& description, const std::string& owner);
  Answer FindUsers();
  Answer Invite(const std::string& space, const std::string& user, const std::string& role);

 private:
  const std::string root_;
  const std::atomic<bool>& stopping_;
};

}  // namespace korvane::server::team
