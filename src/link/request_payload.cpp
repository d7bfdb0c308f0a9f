#include "link/request_payload.h"

#include "svn/svn_path.h"
#include "text/utf_convert.h"

#include <cassert>

namespace korvane::link {

using protocol::PayloadShape;

std::optional<std::string> RequestPayload(const protocol::CommandInfo& command,
                                          std::span<const std::u16string* const> arguments) {
  assert(arguments.size() == static_cast<std::size_t>(command.arguments));
  if (command.payload == PayloadShape::None || arguments.size() == 0) return std::string();
  const std::u16string& first = *arguments.front();
  switch (command.payload) {
    case PayloadShape::LocalPath:
      // An empty path stays empty: Subversion's local style would turn it
      // into ".", the daemon's own folder.
      return first.empty() ? std::string() : text::WideToUtf8(svn::SVNPath(first).GetLocalPath());
    case PayloadShape::InternalPath:
      return svn::SVNPath(first).GetInternalPath();
    case PayloadShape::Plain:
      return text::WideToUtf8(first);
    case PayloadShape::None:
    case PayloadShape::Separated:
    case PayloadShape::Joined:
      break;
  }
  // The arguments are converted as one text, so that a "|" can never fall
  // inside a character.
  std::u16string text;
  bool leading = true;
  for (const std::u16string* argument : arguments) {
    if (argument->find(u'|') != std::u16string::npos) return std::nullopt;
    if (command.payload == PayloadShape::Joined && !leading) text += u'|';
    leading = false;
    text += *argument;
    if (command.payload == PayloadShape::Separated) text += u'|';
  }
  return text::WideToUtf8(text);
}

}  // namespace korvane::link
