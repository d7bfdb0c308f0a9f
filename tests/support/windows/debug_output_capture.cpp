// The debugger output of this process, read as a debug viewer reads it: the
// shared section DBWIN_BUFFER (the writer's process id, then the text) with
// the events DBWIN_BUFFER_READY (the reader is ready for the next record)
// and DBWIN_DATA_READY (a record is there). Writers take DBWinMutex around
// their wait for the buffer and their write.
#include "support/debug_output_capture.h"

#include "support/windows/windows_helpers.h"

#include "platform/windows_api.h"

#include <cstring>
#include <future>
#include <memory>
#include <stdexcept>
#include <thread>

namespace korvane::testing {
namespace {

constexpr DWORD kBufferSize = 4096;
// How long a capture waits for another process's to end, and how long
// Records() waits for the reader to take a record already written.
constexpr DWORD kExclusiveWaitMs = 60000;
constexpr DWORD kSyncWaitMs = 5000;

struct Buffer {
  DWORD processId;
  char text[kBufferSize - sizeof(DWORD)];
};

struct ViewUnmapper {
  void operator()(const void* view) const { ::UnmapViewOfFile(view); }
};

}  // namespace

struct DebugOutputCapture::Reader {
  explicit Reader(DebugOutputCapture* owner);
  ~Reader();
  void Run();
  void Sync() const;

  DebugOutputCapture* owner;
  // One capture at a time in the session: two readers would take each
  // other's records.
  UniqueHandle exclusive = Checked(::CreateMutexW(nullptr, FALSE, L"Local\\KorvaneDebugOutputCapture"), "capture lock");
  UniqueHandle writers = Checked(::CreateMutexW(nullptr, FALSE, L"DBWinMutex"), "DBWinMutex");
  UniqueHandle bufferReady =
      Checked(::CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_BUFFER_READY"), "DBWIN_BUFFER_READY");
  UniqueHandle dataReady = Checked(::CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_DATA_READY"), "DBWIN_DATA_READY");
  UniqueHandle section = Checked(
      ::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kBufferSize, L"DBWIN_BUFFER"),
      "DBWIN_BUFFER");
  std::unique_ptr<const Buffer, ViewUnmapper> view;
  UniqueHandle stop = Checked(::CreateEventW(nullptr, TRUE, FALSE, nullptr), "stop event");
  std::promise<bool> started;  // whether the reader got the buffer to itself
  std::thread thread;
};

DebugOutputCapture::Reader::Reader(DebugOutputCapture* captureOwner) : owner(captureOwner) {
  view.reset(static_cast<const Buffer*>(::MapViewOfFile(section.get(), FILE_MAP_READ, 0, 0, kBufferSize)));
  if (!view) ThrowLastError("DBWIN_BUFFER view");
  std::future<bool> reading = started.get_future();
  thread = std::thread(&Reader::Run, this);
  if (!reading.get()) {
    thread.join();
    throw std::runtime_error("another process is capturing debugger output");
  }
}

DebugOutputCapture::Reader::~Reader() {
  ::SetEvent(stop.get());
  thread.join();
}

// The exclusive mutex is taken and given back on this thread, which is what
// a mutex asks.
void DebugOutputCapture::Reader::Run() {
  const DWORD waited = ::WaitForSingleObject(exclusive.get(), kExclusiveWaitMs);
  const bool owned = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
  started.set_value(owned);
  if (!owned) return;
  const DWORD self = ::GetCurrentProcessId();
  const HANDLE handles[] = {stop.get(), dataReady.get()};
  for (;;) {
    ::SetEvent(bufferReady.get());
    if (::WaitForMultipleObjects(2, handles, FALSE, INFINITE) != WAIT_OBJECT_0 + 1) break;
    if (view->processId != self) continue;  // another process's output, which nobody here asked for
    std::string record(view->text, ::strnlen(view->text, sizeof(view->text)));
    // One record a line, as viewers show it and as the POSIX stand-in writes
    // it.
    if (record.empty() || record.back() != '\n') record += '\n';
    Append(record.c_str(), owner);
  }
  // A writer may have opened the buffer just now: let it through rather
  // than wait for a reader that is gone.
  ::SetEvent(bufferReady.get());
  ::ReleaseMutex(exclusive.get());
}

// OutputDebugStringA returns once its record is in the buffer, maybe before
// the reader took it. With DBWinMutex held no writer is under way, so the
// buffer is free again exactly when the reader has taken every record.
void DebugOutputCapture::Reader::Sync() const {
  const DWORD locked = ::WaitForSingleObject(writers.get(), kSyncWaitMs);
  if (locked != WAIT_OBJECT_0 && locked != WAIT_ABANDONED) return;
  if (::WaitForSingleObject(bufferReady.get(), kSyncWaitMs) == WAIT_OBJECT_0) ::SetEvent(bufferReady.get());
  ::ReleaseMutex(writers.get());
}

DebugOutputCapture::DebugOutputCapture() : reader_(std::make_unique<Reader>(this)) {}

DebugOutputCapture::~DebugOutputCapture() { reader_.reset(); }

void DebugOutputCapture::AwaitReader() const { reader_->Sync(); }

}  // namespace korvane::testing
