#include "shell/menu_vocabulary.h"

namespace korvane::shell {

const MenuCommand& MenuCommandFor(UINT textId) {
  for (const MenuCommand& command : kMenuCommands) {
    if (command.textId == textId) return command;
  }
  return kMenuCommands[4];  // the product's own entry: does nothing
}

std::optional<MenuCommand> MenuCommandForVerb(const char* verb) {
  if (verb == nullptr || *verb == '\0') return std::nullopt;
  for (const MenuCommand& command : kMenuCommands) {
    if (*command.verb != '\0' && lstrcmpA(verb, command.verb) == 0) return command;
  }
  return std::nullopt;
}

std::optional<MenuCommand> MenuCommandForVerb(LPCWSTR verb) {
  if (verb == nullptr || *verb == 0) return std::nullopt;
  for (const MenuCommand& command : kMenuCommands) {
    std::u16string wide(command.verb, command.verb + std::char_traits<char>::length(command.verb));
    if (!wide.empty() && lstrcmpW(verb, reinterpret_cast<LPCWSTR>(wide.c_str())) == 0) return command;
  }
  return std::nullopt;
}

}  // namespace korvane::shell
