// Mapping of Windows pipe names onto socket paths.
#include "pipe_path.h"

#include "user_folders.h"

#include <strings.h>

namespace korvane::posix {

std::string PipeFolder() { return *ProductFolder(UserFolder::Runtime); }

std::optional<std::string> PipeSocketPath(std::string_view pipeName) {
  constexpr std::string_view kPrefix = R"(\\.\pipe\)";
  if (pipeName.size() <= kPrefix.size() ||
      strncasecmp(pipeName.data(), kPrefix.data(), kPrefix.size()) != 0) {
    return std::nullopt;
  }
  std::string_view name = pipeName.substr(kPrefix.size());
  if (name == "." || name == ".." || name.find('/') != std::string_view::npos ||
      name.find('\0') != std::string_view::npos) {
    return std::nullopt;
  }
  return PipeFolder() + "/" + std::string(name);
}

}  // namespace korvane::posix
