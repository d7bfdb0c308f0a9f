#include "daemon/svn/svn_runtime.h"

#include "daemon/svn/withdrawn_access.h"

#include <apr_general.h>
#include <svn_auth.h>
#include <svn_config.h>
#include <svn_dirent_uri.h>
#include <svn_dso.h>
#include <svn_fs.h>
#include <svn_pools.h>
#include <svn_ra.h>
#include <svn_utf.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <string_view>

namespace korvane::server {

namespace {

apr_pool_t* globalPool = nullptr;
std::string configFolder;

svn_error_t* CancelWhenStopping(void* baton) {
  if (static_cast<const std::atomic<bool>*>(baton)->load()) {
    return svn_error_create(SVN_ERR_CANCELLED, nullptr, "The daemon is stopping");
  }
  return SVN_NO_ERROR;
}

svn_error_t* FixedLogMessage(const char** message, const char** temporaryFile, const apr_array_header_t*, void* baton,
                             apr_pool_t*) {
  *message = static_cast<const char*>(baton);
  *temporaryFile = nullptr;
  return SVN_NO_ERROR;
}

}  // namespace

bool StartSubversion(std::string& problem) {
  if (apr_initialize() != APR_SUCCESS) {
    problem = "APR could not be initialised";
    return false;
  }
  // A broken assertion inside the libraries becomes an error, never an
  // abort of the daemon.
  svn_error_set_malfunction_handler(svn_error_raise_on_malfunction);
  globalPool = svn_pool_create(nullptr);
  svn_utf_initialize2(TRUE, globalPool);
  // Each must run once before threads use the libraries.
  svn_error_t* error = svn_dso_initialize2();
  if (error == SVN_NO_ERROR) error = svn_fs_initialize(globalPool);
  if (error == SVN_NO_ERROR) error = svn_ra_initialize(globalPool);
  if (std::optional<SvnFailure> failure = TakeError(error)) {
    problem = "Subversion could not be initialised: " + failure->message;
    return false;
  }
  return true;
}

void EndSubversion() {
  svn_pool_destroy(globalPool);
  globalPool = nullptr;
  apr_terminate();
}

void SetSubversionConfigFolder(const std::string& folder) { configFolder = folder; }

bool SvnFailure::Has(apr_status_t wanted) const {
  return code == wanted || std::find(codes.begin(), codes.end(), wanted) != codes.end();
}

bool IsCredentialFailure(const SvnFailure& failure) {
  // Access refused to a path (a member removed) is no credential's fault,
  // nor is a server certificate that nobody trusted.
  if (IsAccessWithdrawn(failure) || failure.Has(SVN_ERR_RA_SERF_SSL_CERT_UNTRUSTED)) return false;
  static constexpr apr_status_t kRefusals[] = {SVN_ERR_AUTHN_FAILED, SVN_ERR_AUTHN_NO_PROVIDER,
                                               SVN_ERR_AUTHN_CREDS_UNAVAILABLE, SVN_ERR_RA_NOT_AUTHORIZED};
  if (std::any_of(std::begin(kRefusals), std::end(kRefusals), [&](apr_status_t c) { return failure.Has(c); })) {
    return true;
  }
  // serf's own authentication failures carry serf's codes, which are not
  // Subversion's and have no header here: only their words tell.
  return failure.message.find("uthentication") != std::string::npos ||
         failure.message.find("uthorization failed") != std::string::npos;
}

svn_error_t* RecordRevision(const svn_commit_info_t* info, void* baton, apr_pool_t*) {
  auto* record = static_cast<CommitRecord*>(baton);
  record->revision = info->revision;
  if (record->workingCopyClient != nullptr) record->workingCopyClient->cancel_func = nullptr;
  return SVN_NO_ERROR;
}

Pool::Pool() : pool_(svn_pool_create(nullptr)) {}
Pool::~Pool() { svn_pool_destroy(pool_); }

std::optional<SvnFailure> TakeError(svn_error_t* error) {
  if (error == SVN_NO_ERROR) return std::nullopt;
  SvnFailure failure{error->apr_err, {}};
  char buffer[512];
  for (svn_error_t* link = svn_error_purge_tracing(error); link != nullptr; link = link->child) {
    failure.codes.push_back(link->apr_err);
    const char* text = link->message != nullptr ? link->message : svn_strerror(link->apr_err, buffer, sizeof buffer);
    if (!failure.message.empty()) failure.message += "; ";
    failure.message += text;
  }
  svn_error_clear(error);
  if (failure.Has(SVN_ERR_RA_SERF_SSL_CERT_UNTRUSTED) ||
      failure.message.find("certificate verification failed") != std::string::npos) {
    failure.message +=
        "; the server's certificate is not trusted: list the team's ca.pem under ssl-authority-files in the "
        "[global] section of Subversion's servers file (~/.subversion/servers, or the subversion-config folder's), "
        "or accept the certificate for good once with `svn info URL`";
  }
  return failure;
}

// The user's Subversion configuration (servers: ssl-authority-files, proxies;
// config: password-stores), or an empty one when it cannot be read.
apr_hash_t* UserConfiguration(apr_pool_t* pool, std::optional<SvnFailure>& failure) {
  apr_hash_t* configuration = nullptr;
  if (TakeError(svn_config_get_config(&configuration, configFolder.empty() ? nullptr : configFolder.c_str(), pool))) {
    configuration = apr_hash_make(pool);
  }
  for (const char* category : {SVN_CONFIG_CATEGORY_SERVERS, SVN_CONFIG_CATEGORY_CONFIG}) {
    if (apr_hash_get(configuration, category, APR_HASH_KEY_STRING) != nullptr) continue;
    svn_config_t* empty = nullptr;
    failure = TakeError(svn_config_create2(&empty, FALSE, FALSE, pool));
    if (failure) return nullptr;
    apr_hash_set(configuration, category, APR_HASH_KEY_STRING, empty);
  }
  return configuration;
}

// Drops from the system's providers those that judge a server's
// certificate (on Windows, the certificate store's chain check): a server is
// trusted the same way on every system, through ssl-authority-files or a
// certificate accepted for good, and never by a chain check that cannot
// reach its root (Wine passes such chains).
void KeepOnlyCredentialStores(apr_array_header_t* providers) {
  int kept = 0;
  for (int i = 0; i < providers->nelts; ++i) {
    svn_auth_provider_object_t* provider = APR_ARRAY_IDX(providers, i, svn_auth_provider_object_t*);
    // The server-trust kind, and the authority kind Subversion's serf
    // layer asks for, whose name extends it.
    if (std::string_view(provider->vtable->cred_kind).starts_with(SVN_AUTH_CRED_SSL_SERVER_TRUST)) continue;
    APR_ARRAY_IDX(providers, kept++, svn_auth_provider_object_t*) = provider;
  }
  providers->nelts = kept;
}

// The credential providers of Subversion's own tools: the desktop keyrings
// (or Windows' DPAPI store) where the configuration allows them, the plain
// store, and the SSL providers, so that a certificate accepted with svn, or
// one signed by an authority in ssl-authority-files, is trusted.
apr_array_header_t* Providers(apr_hash_t* configuration, apr_pool_t* pool) {
  apr_array_header_t* providers = nullptr;
  auto* config = static_cast<svn_config_t*>(apr_hash_get(configuration, SVN_CONFIG_CATEGORY_CONFIG, APR_HASH_KEY_STRING));
  if (TakeError(svn_auth_get_platform_specific_client_providers(&providers, config, pool)) || providers == nullptr) {
    providers = apr_array_make(pool, 6, sizeof(svn_auth_provider_object_t*));
  }
  KeepOnlyCredentialStores(providers);
  svn_auth_get_username_provider(&APR_ARRAY_PUSH(providers, svn_auth_provider_object_t*), pool);
  svn_auth_get_simple_provider2(&APR_ARRAY_PUSH(providers, svn_auth_provider_object_t*), nullptr, nullptr, pool);
  svn_auth_get_ssl_server_trust_file_provider(&APR_ARRAY_PUSH(providers, svn_auth_provider_object_t*), pool);
  svn_auth_get_ssl_client_cert_file_provider(&APR_ARRAY_PUSH(providers, svn_auth_provider_object_t*), pool);
  svn_auth_get_ssl_client_cert_pw_file_provider2(&APR_ARRAY_PUSH(providers, svn_auth_provider_object_t*), nullptr,
                                                 nullptr, pool);
  return providers;
}

svn_client_ctx_t* ClientContext(const std::atomic<bool>& stopping, const char* logMessage, apr_pool_t* pool,
                                std::optional<SvnFailure>& failure) {
  apr_hash_t* configuration = UserConfiguration(pool, failure);
  if (configuration == nullptr) return nullptr;
  // A server that stops answering fails the work after the time-out rather
  // than holding a worker for ever. The svn:// protocol has no such option;
  // the stop watchdog bounds what it can hold up.
  auto* servers =
      static_cast<svn_config_t*>(apr_hash_get(configuration, SVN_CONFIG_CATEGORY_SERVERS, APR_HASH_KEY_STRING));
  svn_config_set(servers, SVN_CONFIG_SECTION_GLOBAL, SVN_CONFIG_OPTION_HTTP_TIMEOUT,
                 std::to_string(kNetworkTimeoutSeconds).c_str());
  svn_client_ctx_t* context = nullptr;
  failure = TakeError(svn_client_create_context2(&context, configuration, pool));
  if (failure) return nullptr;
  svn_auth_open(&context->auth_baton, Providers(configuration, pool), pool);
  svn_auth_set_parameter(context->auth_baton, SVN_AUTH_PARAM_NON_INTERACTIVE, "");
  if (!configFolder.empty()) {
    svn_auth_set_parameter(context->auth_baton, SVN_AUTH_PARAM_CONFIG_DIR, apr_pstrdup(pool, configFolder.c_str()));
  }
  // Credentials are only read from the store, never written into it.
  svn_auth_set_parameter(context->auth_baton, SVN_AUTH_PARAM_NO_AUTH_CACHE, "");
  context->cancel_func = CancelWhenStopping;
  context->cancel_baton = const_cast<std::atomic<bool>*>(&stopping);
  context->log_msg_func3 = FixedLogMessage;
  context->log_msg_baton3 = const_cast<char*>(logMessage);
  return context;
}

std::string RepositoryRootOf(const std::string& path, const std::atomic<bool>& stopping) {
  if (!svn_dirent_is_absolute(path.c_str())) return {};
  Pool pool;
  std::optional<SvnFailure> failure;
  svn_client_ctx_t* context = ClientContext(stopping, "", pool, failure);
  if (context == nullptr) return {};
  const char* canonical = svn_dirent_canonicalize(path.c_str(), pool);
  const char* root = nullptr;
  if (!TakeError(svn_client_get_repos_root(&root, nullptr, canonical, context, pool, pool)) && root != nullptr) {
    return root;
  }
  // An unversioned path inside a working copy has no root of its own: the
  // working copy's is given.
  const char* workingCopy = nullptr;
  if (TakeError(svn_client_get_wc_root(&workingCopy, canonical, context, pool, pool)) ||
      TakeError(svn_client_get_repos_root(&root, nullptr, workingCopy, context, pool, pool))) {
    return {};
  }
  return root != nullptr ? root : "";
}

}  // namespace korvane::server
