// The pipe's ends as the ready set sees them. The listener and each accepted
// connection register under their handle; a ready set that is given such a
// handle ties the end's pipe instances to its completion port and asks the
// end what it is ready for, rather than waiting on the handle itself.
#pragma once

#include "daemon/platform/native_handle.h"
#include "daemon/platform/pipe_connection.h"

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace korvane::server::windows {

class PipeEnd {
 public:
  virtual ~PipeEnd() = default;
  // Ties its pipe instances to the port (for good, as the system does);
  // false when they are tied to another one.
  virtual bool Bind(HANDLE port) = 0;
  // Takes in what finished I/O has brought and says what the end is ready
  // for (Readiness bits). Nothing waits.
  virtual std::uint32_t Poll() = 0;
  virtual bool Closed() const = 0;
};

void RegisterPipeEnd(NativeHandle handle, std::shared_ptr<PipeEnd> end);
std::shared_ptr<PipeEnd> FindPipeEnd(NativeHandle handle);
void ForgetPipeEnd(NativeHandle handle);

// The completion key of pipe I/O; a ready set's other keys count up from 1.
inline constexpr ULONG_PTR kPipeIoKey = 0;

// One instance of the message-mode pipe: created listening, it carries one
// client's connection once a client opens it. While connected it always has
// one read posted or one whole message waiting, so the message is there to
// take (or the end of the connection is known) when the ready set reports
// it; a send is one overlapped write of a copy of the packet.
class PipeInstance final : public PipeEnd, public std::enable_shared_from_this<PipeInstance> {
 public:
  // Instances of one listener count themselves in live, open or not.
  static std::shared_ptr<PipeInstance> Create(const std::wstring& name, SECURITY_ATTRIBUTES* security, bool first,
                                              std::shared_ptr<std::atomic<std::size_t>> live);
  ~PipeInstance() override;
  PipeInstance(const PipeInstance&) = delete;
  PipeInstance& operator=(const PipeInstance&) = delete;

  HANDLE Handle() const { return pipe_; }

  // Listening: waits for a client once bound; Connected() tells when one
  // came (or came before it was bound).
  void StartListening();
  bool Connected();

  bool Bind(HANDLE port) override;
  std::uint32_t Poll() override;
  bool Closed() const override { return state_ == State::Closed; }

  Arrival Receive(char* into, std::size_t capacity, std::size_t& size, bool peek);
  Sending Send(std::string_view packet);
  void MakeRoom(std::size_t bytes) { room_ = bytes; }
  // Cancels what is pending and closes the instance; a message already
  // written stays for the client to read.
  void Close();

 private:
  enum class State { Created, Listening, Connected, Ended, Closed };

  PipeInstance(HANDLE pipe, HANDLE inbound, HANDLE outbound, std::shared_ptr<std::atomic<std::size_t>> live);
  void CloseWithin(DWORD waitMs);
  void TakeFinishedIo();
  void FinishConnect();
  void OnConnected();
  void BeginMessage();
  void ReadInto(char* into, std::size_t size);
  void FinishRead();
  void ReadRestOfMessage();
  void FinishWrite();
  static void Reset(OVERLAPPED& overlapped);

  HANDLE pipe_;
  HANDLE port_ = nullptr;
  State state_ = State::Created;
  OVERLAPPED inbound_{};   // the connect, then each read
  OVERLAPPED outbound_{};  // each write
  bool reading_ = false;
  bool readingKept_ = false;  // the posted read fills message_, not the discarded tail
  bool hasMessage_ = false;   // a whole message waits in message_
  std::string message_;       // its first bytes, up to kMaxKept
  std::size_t kept_ = 0;      // bytes of it in message_
  std::size_t size_ = 0;      // its real size
  bool writing_ = false;
  std::string outgoing_;
  std::size_t room_;
  std::shared_ptr<std::atomic<std::size_t>> live_;
};

}  // namespace korvane::server::windows
