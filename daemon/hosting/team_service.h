// The hosting service kept in one Subversion repository on a stock server
// (svnserve, Apache with mod_dav_svn, or a file:// repository), so that
// every hosting command is a Subversion operation from the client and
// nothing of ours runs on the server but its set-up and a hook script.
//
// Layout of the repository whose root URL the daemon is configured with:
//
//   /                       korvane:users: the service's users, one a line,
//                           set by the server only
//   /SPACE/                 a space; its files are the shared folder.
//     korvane:members       property: "USER<TAB>ROLE" lines, sorted
//     korvane:description   property: the description given at creation
//
// Clients change only a space's properties. The server's hook
// (scripts/korvane-hook) refuses a change of members whose author is not an
// owner of the space, names that break the rule of names (tools/names), and
// members anywhere but on a space's top folder; it renders the access rules
// the server enforces from the members, outside the repository, so that a
// space is read and changed by its members only and nobody else learns of
// it. Inviting with the role "none" removes a member.
#pragma once

#include "daemon/hosting/access_file.h"
#include "daemon/reply/results.h"

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
  bool ownWords = false;  // text is whole as it is (the server's hook's words)
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
