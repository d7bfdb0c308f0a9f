// The reference daemon as the tests run it: a process of its own, started
// from ../reference/KorvaneBkgProc beside the test program, with the test's
// private runtime, state, data and temporary folders. Tests talk to it
// through the library's exports.
#pragma once

#include "support/runtime_folder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace korvane::reference {

using namespace std::chrono_literals;

// One daemon process; killed and reaped at the end if it still runs.
class DaemonProcess {
 public:
  // Starts the program with the environment entries given before the test's own.
  explicit DaemonProcess(std::vector<std::string> environment);
  ~DaemonProcess();
  DaemonProcess(const DaemonProcess&) = delete;
  DaemonProcess& operator=(const DaemonProcess&) = delete;

  bool Running();
  // The exit status once the process ended within the limit (128 + N for
  // signal N); nothing while it still runs.
  std::optional<int> WaitForExit(std::chrono::milliseconds limit = 10s);
  void Kill(int signal);

 private:
  pid_t pid_ = -1;
  std::optional<int> status_;
};

// A test with its own runtime, state, data and temporary folders, and
// helpers for the exports it calls.
class ReferenceDaemonTest : public ::testing::Test {
 protected:
  ReferenceDaemonTest();
  ~ReferenceDaemonTest() override;

  // Starts a daemon without waiting for it, with NAME=value entries added
  // to its environment.
  std::unique_ptr<DaemonProcess> Start(std::vector<std::string> environment = {});
  // Starts a daemon and waits until it serves the pipe.
  std::unique_ptr<DaemonProcess> StartServing(std::vector<std::string> environment = {});
  // Whether something accepts connections on the pipe's socket.
  bool Served() const;

  std::string SocketPath() const;
  std::string StateFile(const std::string& name) const { return top_ + "/state/korvane/" + name; }
  // Where the daemon keeps the hosting service's spaces.
  std::string SpacesFolder() const { return top_ + "/data/korvane/spaces/svn.halcyra.com/svn"; }
  // A fresh folder (made) under the test's own folder; absolute.
  std::string Folder(const std::string& name) const;
  std::string TemporaryFolder() const { return top_ + "/tmp"; }

  // The activation list; "" when it is empty. Fails the test when the
  // daemon could not be asked.
  std::string Activations() const;
  // The status record, mode|text1|text2|text3|.
  std::string Status(const std::string& path) const;

  testing::ScopedRuntimeFolder runtime_;

 private:
  std::string top_;
};

// A test whose daemon serves from the start.
class ServingDaemonTest : public ReferenceDaemonTest {
 protected:
  void SetUp() override { daemon_ = StartServing(); }
  std::unique_ptr<DaemonProcess> daemon_;
};

// A socket connected to the pipe at socketPath; -1 when nothing accepts.
int Connect(const std::string& socketPath);

// ASCII text as the library's UTF-16.
std::u16string Wide(const std::string& text);
// Takes a text the library handed out and frees it; "" for null.
std::string Take(char* text);

// A file's whole content; empty when it cannot be read.
std::string ReadAll(const std::string& path);
// Checks until the condition holds or the limit passes; whether it held.
bool Eventually(const std::function<bool()>& condition, std::chrono::milliseconds limit = 20s);

}  // namespace korvane::reference
