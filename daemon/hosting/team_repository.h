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
#include "daemon/hosting/hosting_backend.h"

#include <atomic>
#include <string>

namespace korvane::server {

// The service at root URL, reached with the daemon's Subversion client as
// user, who owns the spaces made without an owner. Names follow the rule of
// names (tools/names); a space name is taken in its normal form (NFC).
class TeamRepository final : public HostingBackend {
 public:
  TeamRepository(std::string rootUrl, std::string user, const std::atomic<bool>& stopping)
      : root_(std::move(rootUrl)), user_(std::move(user)), stopping_(stopping) {}

  std::string SpaceUrl(const std::string& space) const override;
  // Only the server knows which spaces this user may read.
  bool MayHold(const std::string&) const override { return true; }
  std::string LogPlace() const override { return " on " + root_; }

  HostingAnswer ListSpaces() override;
  HostingAnswer ShowSpace(const std::string& space) override;
  HostingAnswer CreateSpace(const std::string& space, const std::string& description,
                            const std::string& owner) override;
  HostingAnswer FindUsers() override;
  // ROLE "none" removes user.
  HostingAnswer Invite(const std::string& space, const std::string& user, const std::string& role) override;

 private:
  const std::string root_;
  const std::string user_;
  const std::atomic<bool>& stopping_;
};

}  // namespace korvane::server
