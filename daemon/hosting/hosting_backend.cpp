#include "daemon/hosting/hosting_backend.h"

#include "names.h"
#include "daemon/hosting/embedded_spaces.h"
#include "daemon/hosting/team_repository.h"

namespace korvane::server {

std::string SpaceNameProblem(const std::string& name) {
  const std::optional<std::string> problem = names::SpaceNameProblem(name);
  return problem ? "\"" + name + "\" cannot name a space: " + *problem : std::string();
}

std::string UserProblem(const std::string& user) {
  const std::optional<std::string> problem = names::UserNameProblem(user);
  return problem ? "\"" + user + "\" cannot name a user: " + *problem : std::string();
}

std::unique_ptr<HostingBackend> ChooseHostingBackend(const ServiceConfig& service, const DaemonPaths& paths,
                                                     const std::atomic<bool>& stopping) {
  if (service.IsRemote()) return std::make_unique<TeamRepository>(service.url, service.user, stopping);
  return std::make_unique<EmbeddedSpaces>(paths);
}

}  // namespace korvane::server
