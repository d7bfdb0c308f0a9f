// IDaemon: what the library can ask of the product's daemon. CDaemonLink is
// its one implementation; operations are declared in the daemon's slot order.
#pragma once

#include "daemon/daemon_error.h"
#include "daemon/path_status.h"

#include <cstdint>
#include <string>

namespace korvane::daemon {

class IDaemon {
 public:
  virtual ~IDaemon() = default;

  // Does nothing; kept for the interface's layout.
  virtual bool Initialize() = 0;
  // Starts one more daemon process from the library's folder.
  virtual bool StartDaemon() = 0;
  // Asks the daemon to stop; true when the request was delivered.
  virtual bool StopDaemon() = 0;

  // Activation and status. One-way commands report only that their frame
  // was written; the status query alone starts a daemon that is missing.
  virtual bool GetActivations(std::string& list) = 0;
  virtual bool GetStatus(const std::u16string& path, PathStatusInfo& status) = 0;
  virtual bool ActivatePath(const std::u16string& path, std::int32_t mode) = 0;
  virtual bool DeactivatePath(const std::u16string& path) = 0;
  // A local working-copy check; never touches the pipe.
  virtual bool IsVersioned(const std::u16string& path) = 0;
  virtual bool Checkout(const std::u16string& url, const std::u16string& path, std::int32_t mode) = 0;

  // Repository and local-directory work: the daemon's verdict, or why none
  // came, goes into the record.
  virtual bool RenameLDir(const std::u16string& directory, DaemonError& record) = 0;
  virtual bool CreateRepo(const std::u16string& repository, DaemonError& record) = 0;
  virtual bool OpenRepo(const std::u16string& repository, DaemonError& record) = 0;
  virtual bool SvnCheckoutWait(const std::u16string& first, const std::u16string& second, DaemonError& record) = 0;
  virtual bool CopyToRepo(const std::u16string& first, const std::u16string& second, DaemonError& record) = 0;
  virtual bool SvnAdd(const std::u16string& path, DaemonError& record) = 0;
  virtual bool SvnCommit(const std::u16string& path, DaemonError& record) = 0;
  virtual bool RemoveLDir(const std::u16string& first, const std::u16string& second, DaemonError& record) = 0;
  virtual bool RemoveTmpDir(const std::u16string& directory, DaemonError& record) = 0;
  virtual bool RestoreLDir(const std::u16string& first, const std::u16string& second, DaemonError& record) = 0;

  // The hosting service: the first three reply fields come back as given.
  virtual bool ListSpaces(const std::u16string& arg1, const std::u16string& arg2, std::string& out1,
                          std::string& out2, std::string& out3) = 0;
  virtual bool ShowSpace(const std::u16string& arg1, const std::u16string& arg2, const std::u16string& arg3,
                         std::string& out1, std::string& out2, std::string& out3) = 0;
  virtual bool CreateSpace(const std::u16string& arg1, const std::u16string& arg2, const std::u16string& arg3,
                           const std::u16string& arg4, std::string& out1, std::string& out2, std::string& out3) = 0;

  // Asks the daemon for the error text that key selects. On an answer the
  // text replaces errorText (a close without a word leaves it as it was).
  virtual bool GetErrorText(const std::string& key, std::string& errorText) = 0;

  virtual bool FindUsers(const std::u16string& arg1, const std::u16string& arg2, std::string& out1,
                         std::string& out2, std::string& out3) = 0;
  virtual bool Invite(const std::u16string& arg1, const std::u16string& arg2, const std::u16string& arg3,
                      const std::u16string& arg4, std::string& out1, std::string& out2, std::string& out3) = 0;
};

}  // namespace korvane::daemon
