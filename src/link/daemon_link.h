// CDaemonLink: one client of the daemon's pipe, made for one exported call
// or one menu action. It opens up to two connections on first use: the
// request channel (a frame out, one reply message back, in one overlapped
// transaction) and the notification channel (one-way frames, ended by the
// close frame when the link goes away).
#pragma once

#include "link/daemon_error.h"
#include "link/path_status.h"
#include "link/exchange.h"
#include "link/system_calls.h"
#include "link/time_limits.h"
#include "platform/windows_api.h"
#include "protocol/commands.h"
#include "runtime/apr_lock.h"

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korvane::link {

using protocol::Command;
using protocol::kPipeName;

// How a replying command opens its channel: only the status query may start
// a daemon that is not running.
enum class ChannelOpening { ExistingDaemon, StartDaemonIfMissing };

class CDaemonLink {
 public:
  // A link opens nothing until it is used. The system calls default to the
  // real ones; tests pass a scripted set.
  explicit CDaemonLink(HMODULE module, SystemCalls& calls = SystemCalls::Real());
  ~CDaemonLink();
  CDaemonLink(const CDaemonLink&) = delete;
  CDaemonLink& operator=(const CDaemonLink&) = delete;

  bool StartDaemon();
  bool StopDaemon();
  bool GetActivations(std::string& list);
  bool GetStatus(const std::u16string& path, PathStatusInfo& status);
  bool ActivatePath(const std::u16string& path, std::int32_t mode);
  bool DeactivatePath(const std::u16string& path);
  bool IsVersioned(const std::u16string& path);
  bool Checkout(const std::u16string& url, const std::u16string& path, std::int32_t mode);
  bool RenameLDir(const std::u16string& directory, DaemonError& record);
  bool CreateRepo(const std::u16string& repository, DaemonError& record);
  bool OpenRepo(const std::u16string& repository, DaemonError& record);
  bool SvnCheckoutWait(const std::u16string& first, const std::u16string& second, DaemonError& record);
  bool CopyToRepo(const std::u16string& first, const std::u16string& second, DaemonError& record);
  bool SvnAdd(const std::u16string& path, DaemonError& record);
  bool SvnCommit(const std::u16string& path, DaemonError& record);
  bool RemoveLDir(const std::u16string& first, const std::u16string& second, DaemonError& record);
  bool RemoveTmpDir(const std::u16string& directory, DaemonError& record);
  bool RestoreLDir(const std::u16string& first, const std::u16string& second, DaemonError& record);
  bool ListSpaces(const std::u16string& arg1, const std::u16string& arg2, std::string& out1, std::string& out2,
                  std::string& out3);
  bool ShowSpace(const std::u16string& arg1, const std::u16string& arg2, const std::u16string& arg3,
                 std::string& out1, std::string& out2, std::string& out3);
  bool CreateSpace(const std::u16string& arg1, const std::u16string& arg2, const std::u16string& arg3,
                   const std::u16string& arg4, std::string& out1, std::string& out2, std::string& out3);
  bool GetErrorText(const std::string& key, std::string& errorText);
  bool FindUsers(const std::u16string& arg1, const std::u16string& arg2, std::string& out1, std::string& out2,
                 std::string& out3);
  bool Invite(const std::u16string& arg1, const std::u16string& arg2, const std::u16string& arg3,
              const std::u16string& arg4, std::string& out1, std::string& out2, std::string& out3);

  // The context menu's sharing actions: one-way commands on a folder.
  bool ShareFolder(const std::u16string& path);
  bool ShareWithTeam(const std::u16string& path);
  bool CheckoutFromService(const std::u16string& path);

  // Writes a one-way frame with the path's canonical text.
  bool PostPathCommand(const std::u16string& path, Command command);

  // The daemon executable beside the library's own file; empty when that
  // path cannot be formed.
  std::u16string GetDaemonPath();
  // Starts a process, without waiting for it; true when it was created.
  bool LaunchProcess(const std::u16string& application, LPWSTR commandLine, LPCWSTR currentDirectory);

  // The request channel and its event are open.
  bool EnsurePipeOpen();
  // Opens one channel (at most two attempts, a 50 ms wait after a busy one)
  // and puts it in message read mode; an open channel is trusted as it is.
  // A pipe served by another user's process is refused at once, with the
  // thread's last error ERROR_ACCESS_DENIED.
  bool InternalEnsurePipeOpen(HANDLE& channel);
  // EnsurePipeOpen; when that fails and startDaemon is set, starts the
  // daemon (at most once per 10 s in the whole process, never below medium
  // integrity) and tries the pipe for up to 1000 ms. Not while another
  // user's process holds the pipe's name: a daemon started then could not
  // serve it, so the call fails at once with ERROR_ACCESS_DENIED.
  bool EnsurePipeOpenWithRetry(bool startDaemon);
  // Whether the latest open found the pipe served by another user's process
  // (the name is machine-wide, and that user's daemon may hold it).
  bool PipeHeldByAnotherUser() const { return pipeHeldByAnotherUser_; }

  // Sends one frame on the request channel and reads its reply, waiting at
  // most the limit of the class for a reply that is not there at once.
  Exchange TransactCommand(Command command, std::optional<std::string_view> payload, TimeLimitClass limitClass,
                           ChannelOpening opening = ChannelOpening::ExistingDaemon);

  // Reads the rest of a reply message into text, up to its first NUL.
  // Nonzero on success.
  BOOL ReadPipeStringData(std::string& text);

  // Writes a one-way frame on the notification channel.
  bool PostCommand(std::string_view payload, Command command);

  // Closes the request channel and its event; the next command reopens them.
  void ClosePipe();
  // Sends the close frame on the notification channel and closes it.
  void CloseNotifyPipe();

  // The mandatory integrity level of this process (medium when unknown).
  DWORD GetIntegrityLevel();

 private:
  // The unlocked halves of EnsurePipeOpen, ClosePipe and CloseNotifyPipe,
  // for callers that hold the lock already or own the link alone.
  bool OpenRequestChannel();
  void CloseRequestChannel();
  void SendCloseFrameAndClose();

  bool RunRepositoryCommand(Command command, std::initializer_list<const std::u16string*> arguments,
                            DaemonError& record);
  bool RunHostingCommand(Command command, std::initializer_list<const std::u16string*> arguments, std::string& out1,
                         std::string& out2, std::string& out3);
  Exchange Transact(const std::string& frame, TimeLimitClass limitClass);
  Exchange ReadRestOfReply(char firstByte);
  Exchange Fail(ExchangeEnd end, DWORD systemError);
  void CloseChannel(HANDLE& channel);

  HMODULE module_;
  HANDLE request_ = INVALID_HANDLE_VALUE;
  OVERLAPPED overlapped_{};
  HANDLE event_ = nullptr;
  HANDLE notify_ = INVALID_HANDLE_VALUE;
  bool pipeHeldByAnotherUser_ = false;
  runtime::AprCriticalSection lock_;
  SystemCalls& calls_;
};

}  // namespace korvane::link
