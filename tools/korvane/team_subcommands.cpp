#include "team_subcommands.h"

#include "daemon_place.h"
#include "text.h"

#include "korvane/korvane.h"
#include "daemon/store/service_config.h"
#include "names.h"

#include <apr_general.h>
#include <svn_auth.h>
#include <svn_client.h>
#include <svn_config.h>
#include <svn_dso.h>
#include <svn_hash.h>
#include <svn_pools.h>
#include <svn_ra.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>

#include <termios.h>
#include <unistd.h>

namespace korvane::cli {

namespace {

namespace fs = std::filesystem;

using HandedOut = std::unique_ptr<char, decltype(&std::free)>;

// ---- The password, from a person or a pipe ---------------------------------

// One line from standard input: typed without echo at a terminal, read as
// it is from a pipe.
std::optional<std::string> ReadPassword(const std::string& prompt) {
  const bool terminal = isatty(STDIN_FILENO) == 1;
  termios saved{};
  if (terminal) {
    std::cerr << prompt << std::flush;
    tcgetattr(STDIN_FILENO, &saved);
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
  }
  std::string line;
  const bool read = static_cast<bool>(std::getline(std::cin, line));
  if (terminal) {
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    std::cerr << '\n';
  }
  if (!read) return std::nullopt;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

// ---- Subversion, as its own tools use it -----------------------------------

struct Subversion {
  apr_pool_t* pool = nullptr;
  Subversion() {
    apr_initialize();
    pool = svn_pool_create(nullptr);
    svn_dso_initialize2();
  }
  ~Subversion() {
    svn_pool_destroy(pool);
    apr_terminate();
  }
};

std::string Message(svn_error_t* error) {
  std::string message;
  char buffer[512];
  for (svn_error_t* link = svn_error_purge_tracing(error); link != nullptr; link = link->child) {
    if (!message.empty()) message += "; ";
    message += link->message != nullptr ? link->message : svn_strerror(link->apr_err, buffer, sizeof buffer);
  }
  return message;
}

bool IsRefusal(svn_error_t* error) {
  for (svn_error_t* link = error; link != nullptr; link = link->child) {
    switch (link->apr_err) {
      case SVN_ERR_AUTHN_FAILED:
      case SVN_ERR_RA_NOT_AUTHORIZED:
      case SVN_ERR_AUTHN_CREDS_UNAVAILABLE:
      case SVN_ERR_AUTHN_NO_PROVIDER:
        return true;
      default:
        break;
    }
  }
  return false;
}

// Whether a desktop keyring can be reached: a session bus runs.
bool HasDesktopSession() {
  const char* bus = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  return bus != nullptr && *bus != '\0';
}

// Signs in at url as user with password; Subversion stores the credential
// once the service accepts it: in the desktop keyring when one runs (its
// gnome-keyring and kwallet providers), otherwise in its plain store.
svn_error_t* SignIn(const std::string& url, const std::string& configFolder, const std::string& user,
                    const std::string& password, apr_pool_t* pool) {
  SVN_ERR(svn_ra_initialize(pool));
  const char* folder = configFolder.empty() ? nullptr : configFolder.c_str();
  SVN_ERR(svn_config_ensure(folder, pool));
  apr_hash_t* configuration = nullptr;
  SVN_ERR(svn_config_get_config(&configuration, folder, pool));
  auto* config = static_cast<svn_config_t*>(svn_hash_gets(configuration, SVN_CONFIG_CATEGORY_CONFIG));
  if (config != nullptr && !HasDesktopSession()) {
    svn_config_set(config, SVN_CONFIG_SECTION_AUTH, SVN_CONFIG_OPTION_PASSWORD_STORES, "");
  }
  // The repository access layer takes this from the servers file, over the
  // parameter below; the person asked for the store by running login.
  if (auto* servers = static_cast<svn_config_t*>(svn_hash_gets(configuration, SVN_CONFIG_CATEGORY_SERVERS))) {
    svn_config_set(servers, SVN_CONFIG_SECTION_GLOBAL, SVN_CONFIG_OPTION_STORE_PLAINTEXT_PASSWORDS, SVN_CONFIG_TRUE);
  }
  svn_client_ctx_t* client = nullptr;
  SVN_ERR(svn_client_create_context2(&client, configuration, pool));
  apr_array_header_t* providers = nullptr;
  SVN_ERR(svn_auth_get_platform_specific_client_providers(&providers, config, pool));
  svn_auth_get_simple_provider2(&APR_ARRAY_PUSH(providers, svn_auth_provider_object_t*), nullptr, nullptr, pool);
  svn_auth_get_username_provider(&APR_ARRAY_PUSH(providers, svn_auth_provider_object_t*), pool);
  svn_auth_get_ssl_server_trust_file_provider(&APR_ARRAY_PUSH(providers, svn_auth_provider_object_t*), pool);
  svn_auth_open(&client->auth_baton, providers, pool);
  svn_auth_set_parameter(client->auth_baton, SVN_AUTH_PARAM_NON_INTERACTIVE, "");
  svn_auth_set_parameter(client->auth_baton, SVN_AUTH_PARAM_DEFAULT_USERNAME, apr_pstrdup(pool, user.c_str()));
  svn_auth_set_parameter(client->auth_baton, SVN_AUTH_PARAM_DEFAULT_PASSWORD, apr_pstrdup(pool, password.c_str()));
  svn_auth_set_parameter(client->auth_baton, SVN_AUTH_PARAM_STORE_PLAINTEXT_PASSWORDS, SVN_CONFIG_TRUE);
  if (folder != nullptr) svn_auth_set_parameter(client->auth_baton, SVN_AUTH_PARAM_CONFIG_DIR, folder);
  svn_ra_session_t* session = nullptr;
  SVN_ERR(svn_client_open_ra_session2(&session, url.c_str(), nullptr, client, pool, pool));
  svn_revnum_t youngest = SVN_INVALID_REVNUM;
  return svn_ra_get_latest_revnum(session, &youngest, pool);
}

// Where Subversion put user's password for the service at url: the plain
// store's file, made readable by its owner only, or nothing when a keyring
// holds it. Subversion finds its folder by its own rule.
std::optional<std::string> PlainStoreFile(const std::string& configFolder, const std::string& url,
                                          const std::string& user, apr_pool_t* pool) {
  const char* store = nullptr;
  svn_error_t* failure = svn_config_get_user_config_path(&store, configFolder.empty() ? nullptr : configFolder.c_str(),
                                                         "auth/svn.simple", pool);
  if (failure != SVN_NO_ERROR || store == nullptr) {
    svn_error_clear(failure);
    return std::nullopt;
  }
  const std::string folder = store;
  const std::string server = url.substr(0, url.find('/', url.find("://") + 3));
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
    std::ifstream in(entry.path());
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (text.find("<" + server) == std::string::npos || text.find("\n" + user + "\n") == std::string::npos) continue;
    fs::permissions(entry.path(), fs::perms::owner_read | fs::perms::owner_write, error);
    if (text.find("passtype\nV 6\nsimple\n") != std::string::npos) return entry.path().string();
  }
  return std::nullopt;
}

}  // namespace

bool RefusedSpaceName(const std::string& name, Report& report) {
  const std::string normal = names::Normalised(name).value_or(name);
  if (const std::optional<std::string> problem = names::SpaceNameProblem(normal)) {
    report.Fail(kWrongUse, "\"" + name + "\" cannot name a space: " + *problem);
    return true;
  }
  return false;
}

bool RefusedUserName(const std::string& name, Report& report) {
  if (const std::optional<std::string> problem = names::UserNameProblem(name)) {
    report.Fail(kWrongUse, "\"" + name + "\" cannot name a user: " + *problem);
    return true;
  }
  return false;
}

int RemoveMember(const Call& call, Report& report) {
  if (RefusedUserName(call["USER"], report)) return report.Finish();
  const std::u16string space = Utf16(call["SPACE"]), user = Utf16(call["USER"]), none = Utf16(names::kNoRole);
  char* out[3] = {};
  const int32_t result = Korvane_Invite(reinterpret_cast<const KorvaneChar*>(space.c_str()),
                                        reinterpret_cast<const KorvaneChar*>(user.c_str()),
                                        reinterpret_cast<const KorvaneChar*>(none.c_str()), nullptr, &out[0], &out[1],
                                        &out[2]);
  HandedOut owned[] = {HandedOut(out[0], &std::free), HandedOut(out[1], &std::free), HandedOut(out[2], &std::free)};
  if (result != 1) {
    report.Fail(kNoDaemon, NotRunningMessage());
    return report.Finish();
  }
  const std::string first = Clean(out[0]);
  if (first.empty()) {
    report.Fields()["errorKey"] = Clean(out[1]);
    report.Fail(kFailed, Clean(out[2]));
    return report.Finish();
  }
  report.Fields() = {{"space", call["SPACE"]}, {"user", call["USER"]}};
  report.Say("Removed " + call["USER"] + " from " + call["SPACE"] + ".");
  return report.Finish();
}

int Login(const Call& call, Report& report) {
  std::string problems;
  const server::ServiceConfig config = server::ReadServiceConfig(server::ServiceConfigFile(), problems);
  if (!config.IsRemote()) {
    report.Fail(kWrongUse, "No team service is configured: put \"service = URL\" in " + server::ServiceConfigFile());
    return report.Finish();
  }
  const std::string user = call.Has("USER") ? call["USER"] : config.user;
  if (RefusedUserName(user, report)) return report.Finish();
  const std::optional<std::string> password = ReadPassword("Password of " + user + " at " + config.url + ": ");
  if (!password) {
    report.Fail(kWrongUse, "No password was given (one line on standard input)");
    return report.Finish();
  }
  Subversion subversion;
  svn_error_t* error = SignIn(config.url, config.subversionConfig, user, *password, subversion.pool);
  report.Fields() = {{"service", config.url}, {"user", user}};
  if (error != SVN_NO_ERROR) {
    const bool refused = IsRefusal(error);
    const std::string message = Message(error);
    svn_error_clear(error);
    report.Fields()["accepted"] = false;
    const bool untrusted = message.find("certificate verification failed") != std::string::npos;
    report.Fail(kFailed, refused     ? "The service refused the password of " + user + " (" + message + ")"
                         : untrusted ? "The service's certificate is not trusted (" + message +
                                           "): list the team's ca.pem under ssl-authority-files in the [global] "
                                           "section of Subversion's servers file, or accept it once with `svn info " +
                                           config.url + "`"
                                     : "The service could not be asked: " + message);
    return report.Finish();
  }
  report.Fields()["accepted"] = true;
  const std::optional<std::string> plain = PlainStoreFile(config.subversionConfig, config.url, user, subversion.pool);
  report.Fields()["store"] = plain ? "plain" : "keyring";
  report.Say("The service accepted " + user + ".");
  report.Say(plain ? "No desktop keyring runs: the password is kept unencrypted in Subversion's plain store, " + *plain +
                         ", readable by you only."
                   : "The password is kept in the desktop keyring.");
  return report.Finish();
}

}  // namespace korvane::cli
