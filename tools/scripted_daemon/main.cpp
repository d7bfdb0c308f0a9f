// KorvaneBkgProc for tests: the test server as a scripted daemon, a process of its
// own, so that tests exercise the library's real start and stop of its daemon.
//
// It serves the pipe that KORVANE_TEST_PIPE names, by default the well-known
// \\.\pipe\DalvDaemonCommand. (On POSIX each test's runtime folder already
// makes that name the test's own; on Windows each test process has a pipe
// name of its own.)
//
// KORVANE_TEST_DAEMON_SCRIPT names the script, one answer a line (# starts a
// comment; a code is decimal, hexadecimal after 0x, or the operation name
// of a command of the protocol table, such as svnCommit; HEX is the reply's
// bytes, "-" or nothing for an empty reply):
//   CODE reply [HEX [DELAY_MS]]
// The stop request 254 gets an empty reply and stops the daemon; every code
// the script does not name is ignored. (Tests that script failures use the
// test server in their own process.)
//
// KORVANE_TEST_DAEMON_LOG names a file that gets one line per event, each
// appended with a single write so that concurrent daemons do not mix lines:
//   start PID                 listening
//   frame PID CONNID HEX      a packet on connection CONNID (1, 2, ...; "-"
//                             for an empty packet)
//   close PID CONNID          the client, or the daemon's stop, ended the connection
//   stop PID                  every connection closed, the pipe gone
//   duplicate PID | error PID TEXT
// A second daemon on a pipe that is already served leaves at once with
// status 0 after logging "duplicate": it tries to connect first (so the
// serving daemon logs a connection that closes without frames), then takes
// a start lock named after the pipe (the lock file .NAME.lock beside the
// socket on POSIX, a named mutex on Windows), which also settles two daemons
// started at once. SIGTERM, SIGINT and SIGHUP (on Windows the console's
// Ctrl+C, Ctrl+Break and close) stop the daemon as the stop request does.
#include "scripted_platform.h"
#include "protocol/commands.h"
#include "support/test_server.h"
#include "support/test_pipe_name.h"

#include <charconv>
#include <chrono>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <variant>

namespace {

using korvane::test_daemon::LogFile;
using korvane::test_daemon::StopSignal;
using korvane::testing::Answer;
using korvane::testing::TestServerEvent;
using korvane::testing::TestServerOptions;
using korvane::testing::TestServer;

class Log {
 public:
  explicit Log(const std::optional<std::filesystem::path>& path)
      : file_(path), pid_(std::to_string(korvane::test_daemon::CurrentProcessId())) {}

  // One line: the event, this process's id, then the details.
  void Write(std::string_view event, const std::string& details = {}) const {
    std::string line = std::string(event) + " " + pid_;
    if (!details.empty()) line += " " + details;
    line += '\n';
    file_.Append(line);
  }

 private:
  LogFile file_;
  std::string pid_;
};

std::string Hex(std::string_view bytes) {
  if (bytes.empty()) return "-";
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  for (unsigned char byte : bytes) {
    text.push_back(kDigits[byte >> 4]);
    text.push_back(kDigits[byte & 15]);
  }
  return text;
}

std::optional<std::string> Unhex(std::string_view text) {
  if (text == "-") return std::string();
  if (text.size() % 2 != 0) return std::nullopt;
  std::string bytes;
  for (std::size_t i = 0; i < text.size(); i += 2) {
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data() + i, text.data() + i + 2, value, 16);
    if (error != std::errc() || end != text.data() + i + 2) return std::nullopt;
    bytes.push_back(static_cast<char>(value));
  }
  return bytes;
}

template <typename Number>
std::optional<Number> ParseNumber(std::string_view text) {
  int base = 10;
  if (text.starts_with("0x") || text.starts_with("0X")) {
    text.remove_prefix(2);
    base = 16;
  }
  Number value{};
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// A code by number or by the operation name the protocol table gives it.
std::optional<std::uint32_t> ParseCode(std::string_view text) {
  if (const korvane::protocol::CommandInfo* command = korvane::protocol::FindOperation(text)) {
    return korvane::protocol::CodeOf(command->command);
  }
  return ParseNumber<std::uint32_t>(text);
}

using Script = std::map<std::uint32_t, Answer>;

// One script line into the script; false when it is malformed.
bool ParseLine(const std::string& line, Script& script) {
  std::istringstream words(line.substr(0, line.find('#')));
  std::string codeText, action, hex, delay, extra;
  if (!(words >> codeText)) return true;  // blank or comment only
  words >> action >> hex >> delay >> extra;
  const std::optional<std::uint32_t> code = ParseCode(codeText);
  const std::optional<std::string> bytes = Unhex(hex.empty() ? "-" : hex);
  const std::optional<unsigned> wait = delay.empty() ? 0u : ParseNumber<unsigned>(delay);
  if (!code || action != "reply" || !bytes || !wait || !extra.empty()) return false;
  script[*code] = Answer::Reply(*bytes, std::chrono::milliseconds(*wait));
  return true;
}

// The script, or the text of what is wrong with it.
std::variant<Script, std::string> LoadScript(const std::optional<std::filesystem::path>& path) {
  Script script{{TestServer::kStopCode, Answer::Reply("")}};
  if (!path) return script;
  std::ifstream file(*path);
  if (!file) return "cannot read script " + path->string();
  std::string line;
  for (int number = 1; std::getline(file, line); ++number) {
    if (!ParseLine(line, script)) return "script line " + std::to_string(number) + ": " + line;
  }
  return script;
}

// The pipe to serve: the test's own when it names one.
std::string PipeName() {
  const char* name = std::getenv("KORVANE_TEST_PIPE");
  return name != nullptr && *name != '\0' ? name : korvane::testing::kWellKnownPipeName;
}

}  // namespace

int main() {
  const Log log(korvane::test_daemon::PathFromEnvironment("KORVANE_TEST_DAEMON_LOG"));
  const StopSignal stop;

  auto loaded = LoadScript(korvane::test_daemon::PathFromEnvironment("KORVANE_TEST_DAEMON_SCRIPT"));
  if (const std::string* problem = std::get_if<std::string>(&loaded)) {
    log.Write("error", *problem);
    return 2;
  }
  Script& script = std::get<Script>(loaded);

  const std::string pipeName = PipeName();
  if (!korvane::test_daemon::ClaimPipe(pipeName)) {
    log.Write("duplicate");
    return 0;
  }

  try {
    TestServerOptions options{.pipeName = pipeName, .answers = std::move(script)};
    options.observer = [&log, &stop](const TestServerEvent& event) {
      switch (event.kind) {
        case TestServerEvent::Kind::kFrame:
          log.Write("frame", std::to_string(event.connection) + " " + Hex(event.frame));
          break;
        case TestServerEvent::Kind::kClosed:
          log.Write("close", std::to_string(event.connection));
          break;
        case TestServerEvent::Kind::kHandled:
          if (korvane::testing::FrameCode(event.frame) == TestServer::kStopCode) {
            stop.Raise();
          }
          break;
      }
    };
    const TestServer daemon(std::move(options));
    log.Write("start");
    stop.Wait();
  } catch (const std::exception& error) {
    log.Write("error", error.what());
    return 1;
  }
  log.Write("stop");
  return 0;
}
