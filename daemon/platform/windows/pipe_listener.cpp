#include "daemon/platform/pipe_listener.h"

#include "daemon/base/environment.h"
#include "daemon/base/windows/system_text.h"
#include "daemon/platform/ready_set.h"
#include "daemon/platform/windows/pipe_instance.h"
#include "daemon/platform/windows/private_access.h"

#include "platform/pipe_server.h"

#include <algorithm>
#include <deque>
#include <system_error>
#include <vector>

namespace korvane::server {

namespace windows {

namespace {

// Instances that wait for clients at any time: a new one is made as each
// client connects, so a burst is not served in waves.
constexpr std::size_t kListening = 4;
// Instances at most, connected or listening; past it clients find the pipe
// busy until a connection closes. KORVANE_PIPE_INSTANCES sets another.
constexpr std::size_t kDefaultBound = 1024;

std::size_t InstanceBound() {
  return static_cast<std::size_t>(NumberFromEnvironment("KORVANE_PIPE_INSTANCES", kDefaultBound));
}

struct HandleCloser {
  void operator()(HANDLE handle) const { ::CloseHandle(handle); }
};
using UniqueHandle = std::unique_ptr<void, HandleCloser>;

// The user of the client at the other end, from the token it connected
// with (identification level is enough), or from its process.
std::vector<BYTE> ClientUser(HANDLE pipe) {
  if (::ImpersonateNamedPipeClient(pipe)) {
    HANDLE token = nullptr;
    const bool opened = ::OpenThreadToken(::GetCurrentThread(), TOKEN_QUERY, TRUE, &token);
    ::RevertToSelf();
    if (opened) {
      UniqueHandle owned(token);
      return UserOfToken(token);
    }
  }
  ULONG clientId = 0;
  if (!::GetNamedPipeClientProcessId(pipe, &clientId)) return {};
  UniqueHandle client(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, clientId));
  HANDLE token = nullptr;
  if (!client || !::OpenProcessToken(client.get(), TOKEN_QUERY, &token)) return {};
  UniqueHandle owned(token);
  return UserOfToken(token);
}

bool ClientIsOwnUser(HANDLE pipe) {
  const std::vector<BYTE> client = ClientUser(pipe);
  return !client.empty() && OwnUser() != nullptr &&
         ::EqualSid(reinterpret_cast<const TOKEN_USER*>(client.data())->User.Sid, OwnUser());
}

}  // namespace

// The pipe's listening side: the instances that wait for clients, and those
// a client has opened that the daemon has not accepted yet, oldest first.
class PipeListener final : public PipeEnd {
 public:
  explicit PipeListener(std::wstring name)
      : name_(std::move(name)), bound_(InstanceBound()), live_(std::make_shared<std::atomic<std::size_t>>(0)) {}

  // Makes the first instances; the first one claims the name.
  void Open() {
    if (security_.Attributes() == nullptr) {
      throw std::system_error(static_cast<int>(::GetLastError()), std::system_category(), "the pipe's access list");
    }
    for (std::size_t i = 0; i < std::min(kListening, bound_); ++i) {
      if (!AddInstance(i == 0) && i == 0) {
        // The first instance of a name that exists already: another user's
        // process holds it (this user's daemons take the start lock first).
        const DWORD error = ::GetLastError();
        if (error == ERROR_ACCESS_DENIED || error == ERROR_PIPE_BUSY) {
          throw PipeHeldByAnotherUser("another user's process holds the pipe " + Narrow(name_) + " (" +
                                      SystemMessage(error) + ")");
        }
        throw std::system_error(static_cast<int>(error), std::system_category(), "cannot serve the pipe");
      }
    }
  }

  bool Bind(HANDLE port) override {
    if (port_ != nullptr && port_ != port) return false;
    port_ = port;
    for (const auto& instance : listening_) {
      if (!instance->Bind(port)) return false;
      instance->StartListening();
    }
    return true;
  }

  std::uint32_t Poll() override {
    for (auto it = listening_.begin(); it != listening_.end();) {
      if ((*it)->Closed()) {
        it = listening_.erase(it);  // it could not listen
      } else if ((*it)->Connected()) {
        connected_.push_back(std::move(*it));
        it = listening_.erase(it);
      } else {
        ++it;
      }
    }
    while (listening_.size() < kListening && *live_ < bound_ && AddInstance(false)) {
    }
    return connected_.empty() ? 0u : std::uint32_t{kReadable};
  }

  bool Closed() const override { return closed_; }

  ClientAcceptor::Accepted Accept() {
    Poll();
    while (!connected_.empty()) {
      std::shared_ptr<PipeInstance> instance = std::move(connected_.front());
      connected_.pop_front();
      if (!ClientIsOwnUser(instance->Handle())) {
        // A client that has gone may leave no one to ask: it gave up while
        // queued.
        const bool gone = (instance->Poll() & kHungUp) != 0;
        instance->Close();
        if (gone) continue;
        return {ClientAcceptor::Outcome::OtherUser};
      }
      const NativeHandle handle = reinterpret_cast<NativeHandle>(instance->Handle());
      RegisterPipeEnd(handle, std::move(instance));
      return {ClientAcceptor::Outcome::Client, handle};
    }
    return {ClientAcceptor::Outcome::NoneWaiting};
  }

  // Closes every instance not accepted; connections live on.
  void Close() {
    for (const auto& instance : listening_) instance->Close();
    for (const auto& instance : connected_) instance->Close();
    listening_.clear();
    connected_.clear();
    closed_ = true;
  }

 private:
  bool AddInstance(bool first) {
    std::shared_ptr<PipeInstance> instance = PipeInstance::Create(name_, security_.Attributes(), first, live_);
    if (!instance) return false;
    if (port_ != nullptr) {
      if (!instance->Bind(port_)) return false;
      instance->StartListening();
    }
    listening_.push_back(std::move(instance));
    return true;
  }

  const std::wstring name_;
  const std::size_t bound_;
  PrivateAccess security_{GENERIC_ALL, false};  // the daemon's user alone may open it
  std::shared_ptr<std::atomic<std::size_t>> live_;  // instances open, accepted ones too
  HANDLE port_ = nullptr;
  std::vector<std::shared_ptr<PipeInstance>> listening_;
  std::deque<std::shared_ptr<PipeInstance>> connected_;
  bool closed_ = false;
};

namespace {

std::shared_ptr<PipeListener> FindListener(NativeHandle handle) {
  return std::dynamic_pointer_cast<PipeListener>(FindPipeEnd(handle));
}

}  // namespace

}  // namespace windows

bool Served(const std::string& path) {
  // An instance free, or every one busy: a server holds the name.
  const std::wstring name = windows::Wide(path);
  return ::WaitNamedPipeW(name.c_str(), 1) || ::GetLastError() == ERROR_SEM_TIMEOUT;
}

bool ServedByAnotherUser(const std::string& path) {
  const HANDLE pipe = ::CreateFileW(windows::Wide(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
  // An access list that keeps this user out: the owner-only pipe of another
  // user's daemon.
  if (pipe == INVALID_HANDLE_VALUE) return ::GetLastError() == ERROR_ACCESS_DENIED;
  const bool another = !platform::PipeServerIsCallingUser(pipe);
  ::CloseHandle(pipe);
  return another;
}

Listener Listen(const std::string& path) {
  auto listener = std::make_shared<windows::PipeListener>(windows::Wide(path));
  listener->Open();
  // The listener is named by a handle of its own: its instances come and go.
  HANDLE name = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (name == nullptr) {
    const DWORD error = ::GetLastError();
    listener->Close();
    throw std::system_error(static_cast<int>(error), std::system_category(), "cannot serve " + path);
  }
  const NativeHandle handle = reinterpret_cast<NativeHandle>(name);
  windows::RegisterPipeEnd(handle, std::move(listener));
  return {handle, path, 0};
}

void StopListening(Listener& listener) {
  if (listener.fd == kNoHandle) return;
  if (const auto found = windows::FindListener(listener.fd)) found->Close();
  windows::ForgetPipeEnd(listener.fd);
  ::CloseHandle(reinterpret_cast<HANDLE>(listener.fd));
  listener.fd = kNoHandle;
}

// Nothing is spare on Windows: handles do not run out as descriptors do.
bool AcceptsInConnectOrder() { return false; }

ClientAcceptor::ClientAcceptor() = default;

ClientAcceptor::~ClientAcceptor() = default;

ClientAcceptor::Accepted ClientAcceptor::Accept(const Listener& listener) {
  const auto found = windows::FindListener(listener.fd);
  return found ? found->Accept() : Accepted{Outcome::NoneWaiting};
}

}  // namespace korvane::server
