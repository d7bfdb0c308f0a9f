// CreateProcessW: the new process is started detached, in its own session,
// through an intermediate process that is reaped at once, so no zombie is
// ever left in the host. Its standard streams are /dev/null, it inherits no
// other descriptor, and it gets the caller's environment and current folder
// unless told otherwise. Between fork and exec only async-signal-safe calls
// are made: the host may have other threads.
#include "errno_to_win32.h"
#include "kernel_object.h"
#include "wide_path.h"
#include "win32_calls.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <new>
#include <string>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace korvane::posix {
namespace {

class ProcessObject final : public KernelObject {};

bool ReadExactly(int fd, void* buffer, std::size_t size) {
  auto* bytes = static_cast<char*>(buffer);
  std::size_t done = 0;
  while (done < size) {
    ssize_t got = read(fd, bytes + done, size - done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    done += static_cast<std::size_t>(got);
  }
  return true;
}

void CloseDescriptorsFrom(int first) {
  if (syscall(SYS_close_range, first, ~0u, 0) == 0) return;
  for (int fd = first; fd < 1024; ++fd) close(fd);
}

[[noreturn]] void RunDaemonChild(const char* path, char* const argv[], char* const envp[], const char* folder,
                                 int report) {
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  // The report pipe moves out of the standard streams' way, then to 3.
  report = fcntl(report, F_DUPFD_CLOEXEC, 3);
  int null = open("/dev/null", O_RDWR);
  if (null >= 0) {
    dup2(null, STDIN_FILENO);
    dup2(null, STDOUT_FILENO);
    dup2(null, STDERR_FILENO);
  }
  if (report != 3) {
    dup2(report, 3);
    fcntl(3, F_SETFD, FD_CLOEXEC);
  }
  CloseDescriptorsFrom(4);
  int error = 0;
  if (folder != nullptr && chdir(folder) != 0) {
    error = errno;
  } else {
    execve(path, argv, envp);
    error = errno;
  }
  (void)!write(3, &error, sizeof error);
  _exit(127);
}

// Starts path detached. The pid of the new process on success; -1 with
// errno set otherwise.
pid_t StartDetached(const std::string& path, const std::string* folder) {
  char* const argv[] = {const_cast<char*>(path.c_str()), nullptr};
  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) return -1;

  pid_t intermediate = fork();
  if (intermediate < 0) {
    int error = errno;
    close(report[0]);
    close(report[1]);
    errno = error;
    return -1;
  }
  if (intermediate == 0) {
    close(report[0]);
    setsid();
    pid_t daemon = fork();
    if (daemon == 0) RunDaemonChild(path.c_str(), argv, environ, folder ? folder->c_str() : nullptr, report[1]);
    int outcome = daemon < 0 ? -errno : daemon;
    (void)!write(report[1], &outcome, sizeof outcome);
    _exit(0);
  }

  close(report[1]);
  while (waitpid(intermediate, nullptr, 0) < 0 && errno == EINTR) {
  }
  int outcome = 0;
  int execError = 0;
  pid_t result;
  if (!ReadExactly(report[0], &outcome, sizeof outcome)) {
    result = -1;
    errno = ECHILD;
  } else if (outcome < 0) {
    result = -1;
    errno = -outcome;
  } else if (ReadExactly(report[0], &execError, sizeof execError)) {
    result = -1;  // the exec failed; the daemon process already exited
    errno = execError;
  } else {
    result = outcome;  // the report pipe closed on a successful exec
  }
  close(report[0]);
  return result;
}

}  // namespace
}  // namespace korvane::posix

using namespace korvane::posix;

BOOL CreateProcessW(LPCWSTR applicationName, LPWSTR, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL, DWORD,
                    LPVOID environment, LPCWSTR currentDirectory, LPSTARTUPINFOW, LPPROCESS_INFORMATION info) {
  if (applicationName == nullptr || applicationName[0] == 0) return Fail(ERROR_PATH_NOT_FOUND);
  if (environment != nullptr) return Fail(ERROR_NOT_SUPPORTED);  // only the caller's environment is passed on
  std::string path;
  std::string folder;
  try {
    path = NarrowPath(applicationName);
    if (currentDirectory != nullptr) folder = NarrowPath(currentDirectory);
  } catch (const std::bad_alloc&) {
    return Fail(ERROR_NOT_ENOUGH_MEMORY);
  }
  pid_t pid = StartDetached(path, currentDirectory != nullptr ? &folder : nullptr);
  if (pid < 0) return FailWithErrno(errno);
  if (info != nullptr) {
    info->hProcess = new (std::nothrow) ProcessObject;
    info->hThread = new (std::nothrow) ProcessObject;
    info->dwProcessId = static_cast<DWORD>(pid);
    info->dwThreadId = static_cast<DWORD>(pid);
  }
  return TRUE;
}
