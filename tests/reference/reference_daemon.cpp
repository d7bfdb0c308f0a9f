#include "reference_daemon.h"

#include "korvane/korvane.h"
#include "platform/posix/pipe_path.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>
#include <thread>

#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace korvane::reference {

namespace fs = std::filesystem;

DaemonProcess::DaemonProcess(std::vector<std::string> environment) {
  const auto own = static_cast<std::ptrdiff_t>(environment.size());
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    const auto same = [&](const std::string& set) { return text.starts_with(set.substr(0, set.find('=') + 1)); };
    if (std::none_of(environment.begin(), environment.begin() + own, same)) environment.push_back(text);
  }
  std::vector<char*> envp;
  for (std::string& entry : environment) envp.push_back(entry.data());
  envp.push_back(nullptr);
  const std::string program =
      (fs::read_symlink("/proc/self/exe").parent_path() / ".." / "reference" / "KorvaneBkgProc").string();
  char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
  const int error = posix_spawn(&pid_, program.c_str(), nullptr, nullptr, argv, envp.data());
  if (error != 0) throw std::system_error(error, std::generic_category(), "posix_spawn " + program);
}

DaemonProcess::~DaemonProcess() {
  if (Running()) Kill(SIGKILL);
  WaitForExit();
}

bool DaemonProcess::Running() {
  int waited = 0;
  if (status_ || waitpid(pid_, &waited, WNOHANG) != pid_) return !status_;
  status_ = WIFEXITED(waited) ? WEXITSTATUS(waited) : 128 + WTERMSIG(waited);
  return false;
}

std::optional<int> DaemonProcess::WaitForExit(std::chrono::milliseconds limit) {
  Eventually([this] { return !Running(); }, limit);
  return status_;
}

void DaemonProcess::Kill(int signal) { ::kill(pid_, signal); }

// The test's folders lie apart from the runtime folder, which the daemon
// guards as one of its own.
ReferenceDaemonTest::ReferenceDaemonTest() : top_("/tmp/korvane-reference-XXXXXX") {
  if (mkdtemp(top_.data()) == nullptr) throw std::system_error(errno, std::generic_category(), "mkdtemp");
  Folder("state");
  Folder("tmp");
}

ReferenceDaemonTest::~ReferenceDaemonTest() {
  // Whatever still serves this test's pipe stops with it.
  if (Served()) Korvane_StopDaemon();
  std::error_code ignored;
  fs::remove_all(top_, ignored);
}

// The daemon's folders are the test's own; automatic commits follow a
// change after a short quiet period.
std::unique_ptr<DaemonProcess> ReferenceDaemonTest::Start(std::vector<std::string> environment) {
  environment.insert(environment.end(), {"XDG_STATE_HOME=" + top_ + "/state", "TMPDIR=" + top_ + "/tmp",
                                         "XDG_DATA_HOME=" + top_ + "/data", "KORVANE_COMMIT_QUIET_MS=200"});
  return std::make_unique<DaemonProcess>(std::move(environment));
}

std::unique_ptr<DaemonProcess> ReferenceDaemonTest::StartServing(std::vector<std::string> environment) {
  auto daemon = Start(std::move(environment));
  EXPECT_TRUE(Eventually([this] { return Served(); })) << "the daemon did not serve its pipe";
  return daemon;
}

std::string ReferenceDaemonTest::SocketPath() const { return *posix::PipeSocketPath(R"(\\.\pipe\DalvDaemonCommand)"); }

int Connect(const std::string& socketPath) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
  const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) return fd;
  close(fd);
  return -1;
}

bool ReferenceDaemonTest::Served() const {
  const int probe = Connect(SocketPath());
  if (probe >= 0) close(probe);
  return probe >= 0;
}

std::string ReferenceDaemonTest::Folder(const std::string& name) const {
  const std::string path = top_ + "/" + name;
  fs::create_directories(path);
  return path;
}

std::string ReferenceDaemonTest::Activations() const {
  char* list = nullptr;
  EXPECT_EQ(Korvane_GetActivations(&list), 1);
  return Take(list);
}

std::string ReferenceDaemonTest::Status(const std::string& path) const {
  char* status = nullptr;
  EXPECT_EQ(Korvane_GetStatus(Wide(path).c_str(), &status), 1);
  return Take(status);
}

std::u16string Wide(const std::string& text) { return std::u16string(text.begin(), text.end()); }

std::string Take(char* text) {
  std::string taken = text != nullptr ? text : "";
  std::free(text);
  return taken;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool Eventually(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(5ms);
  }
  return true;
}

}  // namespace korvane::reference
