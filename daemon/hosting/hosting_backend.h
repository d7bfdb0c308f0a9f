// A hosting service as the hosting commands see it: its spaces, their
// members and the service's users. Two services implement it: the embedded
// spaces the daemon keeps in its data folder (embedded_spaces.h) and a
// team's repository on a server (team_repository.h). The daemon chooses one
// at start, from its configuration; the commands never ask which it is.
//
// Names reach a backend checked as far as the commands check them for
// every service (hosting_service.h); what a backend takes beyond that, it
// checks itself and refuses with BadArguments.
#pragma once

#include "daemon/platform/daemon_paths.h"
#include "daemon/reply/results.h"
#include "daemon/store/service_config.h"

#include <atomic>
#include <memory>
#include <string>
#include <vector>

namespace korvane::server {

// What came of one operation; on failure text says why.
struct HostingAnswer {
  Result result = Result::Done;
  std::string text;
  std::vector<std::string> lines;
  bool ownWords = false;  // text is whole as it is (the server's hook's words)
};

class HostingBackend {
 public:
  virtual ~HostingBackend() = default;

  // The URL a space is imported into and checked out from.
  virtual std::string SpaceUrl(const std::string& space) const = 0;
  // Whether a checkout of space may find it: false when the service knows
  // at once that no space has the name.
  virtual bool MayHold(const std::string& space) const = 0;
  // What the log adds to a change made on the service (" on URL"), empty
  // for the daemon's own.
  virtual std::string LogPlace() const = 0;

  // lines: the names of the spaces, sorted.
  virtual HostingAnswer ListSpaces() = 0;
  // text: the youngest revision that changed the space; lines: its members,
  // "USER<TAB>ROLE".
  virtual HostingAnswer ShowSpace(const std::string& space) = 0;
  // space is in its normal form and follows the rule of names; an empty
  // owner is the service's default owner, if it has one.
  virtual HostingAnswer CreateSpace(const std::string& space, const std::string& description,
                                    const std::string& owner) = 0;
  // lines: the service's users, sorted.
  virtual HostingAnswer FindUsers() = 0;
  // user follows the rule of names; the backend judges role.
  virtual HostingAnswer Invite(const std::string& space, const std::string& user, const std::string& role) = 0;
};

// Why a name cannot name a space or a user, in the words a refusal uses;
// empty when it can.
std::string SpaceNameProblem(const std::string& name);
std::string UserProblem(const std::string& user);

// The backend service names: the team repository at its URL, else the
// embedded spaces in the paths' data folder.
std::unique_ptr<HostingBackend> ChooseHostingBackend(const ServiceConfig& service, const DaemonPaths& paths,
                                                     const std::atomic<bool>& stopping);

}  // namespace korvane::server
