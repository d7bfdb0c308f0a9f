// The youngest revision of each repository that folders in automatic sync
// belong to, asked for at most once a poll period whatever the number of
// folders in it. On the team service every space is a folder of the one
// team repository, so a machine with many spaces on one server asks it one
// cheap question a poll period, not one per space.
//
// A repository is known by its root URL and UUID, read from a working copy
// of it without the network. Each keeps one session open, made through the
// URL of a working copy of it (a person may read their spaces, not always
// the repository's top), and dropped after a failure so the next poll opens
// a fresh one. Every answer is numbered, so that a folder acts on each
// answer once.
#pragma once

#include "daemon/svn/svn_runtime.h"

#include <svn_ra.h>

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>

namespace korvane::server {

class RepositoryPoller {
 public:
  using Clock = std::chrono::steady_clock;
  struct Answer {
    long latest = -1;          // the youngest revision
    unsigned long number = 0;  // counts the answers; 0: none yet
  };

  // stopping cancels a poll under way.
  RepositoryPoller(const std::atomic<bool>& stopping, std::chrono::milliseconds period);

  // The repository of the working copy at path, "ROOT-URL UUID"; empty,
  // with the failure, when it cannot be read.
  std::string RepositoryOf(const std::string& path, std::optional<SvnFailure>& failure) const;

  // When the repository is next due to be asked (now when never asked).
  Clock::time_point NextPollAt(const std::string& repository) const;
  // What a failed poll met, to tell whom it concerns.
  struct Failure {
    SvnFailure failure;
    bool opening = false;  // the session could not be opened
    std::string through;   // the working copy the session was opened, or was to be opened, through
  };
  // Asks the repository for its youngest revision, opening its session
  // through the working copy at through first when none is open; the next
  // poll is due a poll period later whatever the outcome.
  std::optional<Failure> Poll(const std::string& repository, const std::string& through, Clock::time_point now);
  // The last answer of the repository (number 0: none yet).
  Answer LastAnswer(const std::string& repository) const;
  // Closes the repository's session; the next poll opens a new one.
  void Drop(const std::string& repository);
  // Forgets the repositories no folder belongs to any more.
  void Keep(const std::set<std::string>& repositories);

 private:
  struct Session {
    Pool pool;
    svn_ra_session_t* session = nullptr;
    std::string through;  // the working copy whose URL it was opened at
  };
  struct Repository {
    std::unique_ptr<Session> session;
    Clock::time_point nextPoll;
    Answer answer;
  };

  std::optional<SvnFailure> Open(Repository& repository, const std::string& through);

  const std::atomic<bool>& stopping_;
  const std::chrono::milliseconds period_;
  std::map<std::string, Repository> repositories_;
};

}  // namespace korvane::server
