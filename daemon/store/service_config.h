// The daemon's own configuration: $XDG_CONFIG_HOME/korvane/daemon.conf
// (default ~/.config/korvane/daemon.conf), "KEY = VALUE" lines, "#" starts
// a comment line. It names the hosting service and how to reach it:
//
//   service = svn://team.example:3690/svn.halcyra.com/svn/team
//   subversion-config = /home/ann/.korvane-svn   (optional)
//   user = ann                                   (optional)
//
// Without "service" the embedded local service serves, as it always did.
// "service" is the root URL of the team repository (file://, svn:// or
// http://); it must hold "svn.halcyra.com/svn/" so that the library knows
// its working copies. Credentials are never kept here: Subversion takes
// them from its own credential store in "subversion-config" (by default the
// user's ~/.subversion). "user" is the name the service knows this user by
// (by default the login name); a new space names it as its owner.
#pragma once

#include <optional>
#include <string>

namespace korvane::server {

struct ServiceConfig {
  std::string url;               // empty: the embedded service
  std::string subversionConfig;  // empty: Subversion's default folder
  std::string user;

  bool IsRemote() const { return !url.empty(); }
};

// The configuration file's path, from the environment (user_folders.h has
// the rule); empty when no folder is known, which reads as no configuration.
std::string ServiceConfigFile();

// Reads file; a missing file is the default configuration. Lines that do
// not parse and unknown keys are named in problems (one a line) and left out.
ServiceConfig ReadServiceConfig(const std::string& file, std::string& problems);

}  // namespace korvane::server
