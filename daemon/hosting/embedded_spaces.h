// The hosting service, embedded: every space is an FSFS repository in the
// data folder's spaces/svn.halcyra.com/svn/SPACE, reached by its file://
// URL, and the service's users are a list kept beside them (spaces/users).
// A space's members and description lie in its conf/ folder
// (korvane-members, one "USER<TAB>ROLE" line each; korvane-description).
// A new space takes a name by the rule of names, like a team's, and is not
// made when a name differing only in case is taken.
#pragma once

#include "daemon/hosting/hosting_backend.h"

#include <mutex>
#include <string>

namespace korvane::server {

class EmbeddedSpaces final : public HostingBackend {
 public:
  explicit EmbeddedSpaces(const DaemonPaths& paths) : paths_(paths) {}

  std::string SpaceUrl(const std::string& space) const override;
  bool MayHold(const std::string& space) const override;
  std::string LogPlace() const override { return {}; }

  HostingAnswer ListSpaces() override;
  HostingAnswer ShowSpace(const std::string& space) override;
  // A space made without an owner has no members.
  HostingAnswer CreateSpace(const std::string& space, const std::string& description,
                            const std::string& owner) override;
  HostingAnswer FindUsers() override;
  // Roles are owner, member and reader; nobody is removed here.
  HostingAnswer Invite(const std::string& space, const std::string& user, const std::string& role) override;

 private:
  std::string Folder(const std::string& space) const;
  // Called with changes_ held; empty on success, otherwise what failed.
  std::string AddUser(const std::string& user);

  const DaemonPaths& paths_;
  // Changes of spaces, members and users are made one at a time.
  std::mutex changes_;
};

}  // namespace korvane::server
