// Each step runs the installed program through the shell, with its output
// kept in a log beside the repository for the error message.
#include "support/svn_repository.h"

#include "support/shell_command.h"

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace korvane::testing {
namespace {

namespace fs = std::filesystem;

// The text as one word of a /bin/sh command line.
std::string ShellQuoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// A new, empty folder under the shared temporary folder, with a random
// name: one that exists already is taken as a failure.
fs::path MakeUniqueFolder() {
  std::random_device seed;
  const fs::path folder = SharedTemporaryFolder() / ("korvane-svn-" + std::to_string(seed()) + std::to_string(seed()));
  if (!fs::create_directory(folder)) throw std::runtime_error(folder.string() + " exists already");
  return fs::canonical(folder);
}

}  // namespace

SvnRepository::SvnRepository(const std::string& location, const std::vector<std::string>& tree) {
  const fs::path folder = MakeUniqueFolder();
  folder_ = folder.generic_string();
  try {
    const fs::path repository = folder / location;
    fs::create_directories(repository.parent_path());
    const std::string repositoryPath = ShellPath(repository.generic_string());
    url_ = (repositoryPath.front() == '/' ? "file://" : "file:///") + repositoryPath;

    const fs::path seed = folder / "seed";
    fs::create_directory(seed);
    for (const std::string& entry : tree) {
      if (!entry.empty() && entry.back() == '/') {
        fs::create_directories(seed / entry);
      } else {
        fs::create_directories((seed / entry).parent_path());
        std::ofstream(seed / entry) << entry << '\n';
      }
    }
    workingCopy_ = (folder / "wc").generic_string();

    Run("svnadmin create " + ShellQuoted(repositoryPath));
    Svn({"import", "-m", "Initial tree", ShellPath(seed.generic_string()), url_});
    Svn({"checkout", url_, workingCopy_});
    fs::remove_all(seed);
  } catch (...) {
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    throw;
  }
}

SvnRepository::~SvnRepository() {
  std::error_code ignored;
  fs::remove_all(folder_, ignored);
}

void SvnRepository::Svn(const std::vector<std::string>& arguments) const {
  // A configuration folder of its own keeps the user's settings out.
  std::string command =
      "svn --non-interactive --quiet --config-dir " + ShellQuoted(ShellPath(folder_ + "/config"));
  for (const std::string& argument : arguments) command.append(" ").append(ShellQuoted(ShellPath(argument)));
  Run(command);
}

void SvnRepository::Run(const std::string& command) const {
  const std::string log = folder_ + "/commands.log";
  if (RunShellCommand(command + " >" + ShellQuoted(ShellPath(log)) + " 2>&1") == 0) return;
  std::ifstream output(log);
  std::ostringstream message;
  message << "failed: " << command << '\n' << output.rdbuf();
  throw std::runtime_error(message.str());
}

}  // namespace korvane::testing
