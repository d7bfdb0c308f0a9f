#include "daemon/sync/repository_poller.h"

#include "daemon/sync/sync_commit.h"

#include <svn_dirent_uri.h>

namespace korvane::server {

RepositoryPoller::RepositoryPoller(const std::atomic<bool>& stopping, std::chrono::milliseconds period)
    : stopping_(stopping), period_(period) {}

std::string RepositoryPoller::RepositoryOf(const std::string& path, std::optional<SvnFailure>& failure) const {
  Pool pool;
  const char* root = nullptr;
  const char* uuid = nullptr;
  const char* absolute = nullptr;
  if (svn_client_ctx_t* client = ClientContext(stopping_, "", pool, failure)) {
    failure = TakeError(svn_dirent_get_absolute(&absolute, path.c_str(), pool));
    if (!failure) failure = TakeError(svn_client_get_repos_root(&root, &uuid, absolute, client, pool, pool));
  }
  if (failure) return {};
  if (root == nullptr || uuid == nullptr) {
    failure = SvnFailure{SVN_ERR_WC_NOT_WORKING_COPY, path + " is not a working copy of a repository"};
    return {};
  }
  return std::string(root) + " " + uuid;
}

RepositoryPoller::Clock::time_point RepositoryPoller::NextPollAt(const std::string& repository) const {
  const auto known = repositories_.find(repository);
  return known == repositories_.end() ? Clock::time_point{} : known->second.nextPoll;
}

std::optional<SvnFailure> RepositoryPoller::Open(Repository& repository, const std::string& through) {
  auto session = std::make_unique<Session>();
  std::optional<SvnFailure> failure;
  if (svn_client_ctx_t* client = SyncContext(stopping_, session->pool, failure)) {
    const char* url = nullptr;
    failure = TakeError(svn_client_url_from_path2(&url, through.c_str(), client, session->pool, session->pool));
    if (!failure && url == nullptr) {
      failure = SvnFailure{SVN_ERR_ENTRY_MISSING_URL, through + " has no URL in its working copy"};
    }
    if (!failure) {
      failure = TakeError(svn_client_open_ra_session2(&session->session, url, through.c_str(), client,
                                                      session->pool, session->pool));
    }
  }
  if (!failure) {
    session->through = through;
    repository.session = std::move(session);
  }
  return failure;
}

std::optional<RepositoryPoller::Failure> RepositoryPoller::Poll(const std::string& repository,
                                                                const std::string& through, Clock::time_point now) {
  Repository& polled = repositories_[repository];
  polled.nextPoll = now + period_;
  if (!polled.session) {
    if (auto failure = Open(polled, through)) return Failure{*failure, true, through};
  }
  svn_revnum_t latest = SVN_INVALID_REVNUM;
  Pool pool;
  if (auto failure = TakeError(svn_ra_get_latest_revnum(polled.session->session, &latest, pool))) {
    Failure failed{*failure, false, polled.session->through};
    polled.session.reset();
    return failed;
  }
  polled.answer.latest = latest;
  ++polled.answer.number;
  return std::nullopt;
}

RepositoryPoller::Answer RepositoryPoller::LastAnswer(const std::string& repository) const {
  const auto known = repositories_.find(repository);
  return known == repositories_.end() ? Answer{} : known->second.answer;
}

void RepositoryPoller::Drop(const std::string& repository) {
  if (const auto known = repositories_.find(repository); known != repositories_.end()) known->second.session.reset();
}

void RepositoryPoller::Keep(const std::set<std::string>& repositories) {
  std::erase_if(repositories_, [&](const auto& entry) { return !repositories.contains(entry.first); });
}

}  // namespace korvane::server
