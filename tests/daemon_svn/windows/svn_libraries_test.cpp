// The cross-built Subversion libraries the daemon links on Windows: repositories
// used through file:// with each back end; a password kept in the DPAPI store.
#include "support/runtime_folder.h"

#include <svn_auth.h>
#include <svn_client.h>
#include <svn_config.h>
#include <svn_dirent_uri.h>
#include <svn_fs.h>
#include <svn_hash.h>
#include <svn_io.h>
#include <svn_pools.h>
#include <svn_ra.h>
#include <svn_repos.h>

#include <gtest/gtest.h>

#include <string>

namespace {

// The error chain's message ("" for none); clears the error.
std::string Failure(svn_error_t* error) {
  if (error == nullptr) return "";
  char buffer[512];
  const std::string message = std::string("svn: ") + svn_err_best_message(error, buffer, sizeof buffer);
  svn_error_clear(error);
  return message;
}
#define ASSERT_SVN(expression) ASSERT_EQ(Failure(expression), "")

class SubversionLibraries : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_EQ(apr_initialize(), APR_SUCCESS); }
  static void TearDownTestSuite() { apr_terminate(); }
  ~SubversionLibraries() override { svn_pool_destroy(pool_); }

  // An auth baton over `providers`, with its files in the test folder.
  svn_auth_baton_t* AuthBaton(std::initializer_list<svn_auth_provider_object_t*> providers) {
    apr_array_header_t* list = apr_array_make(pool_, 2, sizeof(svn_auth_provider_object_t*));
    for (svn_auth_provider_object_t* provider : providers) APR_ARRAY_PUSH(list, svn_auth_provider_object_t*) = provider;
    svn_auth_baton_t* baton = nullptr;
    svn_auth_open(&baton, list, pool_);
    svn_auth_set_parameter(baton, SVN_AUTH_PARAM_CONFIG_DIR, folder_.Path().c_str());
    svn_auth_set_parameter(baton, SVN_AUTH_PARAM_DEFAULT_USERNAME, "tester");
    return baton;
  }

  korvane::testing::ScopedRuntimeFolder folder_;
  apr_pool_t* pool_ = svn_pool_create(nullptr);
};

struct Committed { svn_revnum_t revision = SVN_INVALID_REVNUM; std::string author; };
svn_error_t* RecordCommit(const svn_commit_info_t* info, void* baton, apr_pool_t*) {
  *static_cast<Committed*>(baton) = {info->revision, info->author ? info->author : ""};
  return SVN_NO_ERROR;
}

TEST_F(SubversionLibraries, LoadersLinkEveryBackEnd) {
  svn_stringbuf_t* modules = svn_stringbuf_create_empty(pool_);
  ASSERT_SVN(svn_ra_print_modules(modules, pool_));
  ASSERT_SVN(svn_fs_print_modules(modules, pool_));
  for (const char* module : {"ra_local", "ra_svn", "fs_fs", "fs_x"})
    EXPECT_NE(std::string(modules->data).find(module), std::string::npos) << module;
}

TEST_F(SubversionLibraries, ImportCheckoutAndCommitThroughFileUrls) {
  svn_client_ctx_t* ctx = nullptr;
  ASSERT_SVN(svn_client_create_context2(&ctx, nullptr, pool_));
  svn_auth_provider_object_t* username = nullptr;
  svn_auth_get_username_provider(&username, pool_);
  ctx->auth_baton = AuthBaton({username});
  const svn_opt_revision_t head{svn_opt_revision_head, {}};
  for (const char* fs_type : {SVN_FS_TYPE_FSFS, SVN_FS_TYPE_FSX}) {
    SCOPED_TRACE(fs_type);
    const std::string root = folder_.Path() + "/" + fs_type, repository = root + "/repository",
                      source = root + "/source", file = root + "/wc/notes.txt";
    ASSERT_SVN(svn_io_make_dir_recursively(source.c_str(), pool_));
    ASSERT_SVN(svn_io_file_create((source + "/notes.txt").c_str(), "first\n", pool_));
    apr_hash_t* fs_config = apr_hash_make(pool_);
    svn_hash_sets(fs_config, SVN_FS_CONFIG_FS_TYPE, fs_type);
    svn_repos_t* repos = nullptr;
    ASSERT_SVN(svn_repos_create(&repos, repository.c_str(), nullptr, nullptr, nullptr, fs_config, pool_));
    const char* url = nullptr;
    ASSERT_SVN(svn_uri_get_file_url_from_dirent(&url, repository.c_str(), pool_));

    Committed commit;
    ASSERT_SVN(svn_client_import5(source.c_str(), url, svn_depth_infinity, FALSE, FALSE, FALSE, nullptr, nullptr,
                                  nullptr, RecordCommit, &commit, ctx, pool_));
    EXPECT_EQ(commit.revision, 1);

    svn_revnum_t checked_out = SVN_INVALID_REVNUM;
    ASSERT_SVN(svn_client_checkout3(&checked_out, url, (root + "/wc").c_str(), &head, &head, svn_depth_infinity,
                                    FALSE, FALSE, ctx, pool_));
    EXPECT_EQ(checked_out, 1);
    ASSERT_SVN(svn_io_write_atomic2(file.c_str(), "second\n", 7, nullptr, FALSE, pool_));
    apr_array_header_t* targets = apr_array_make(pool_, 1, sizeof(const char*));
    APR_ARRAY_PUSH(targets, const char*) = apr_pstrdup(pool_, (root + "/wc").c_str());
    ASSERT_SVN(svn_client_commit6(targets, svn_depth_infinity, FALSE, FALSE, TRUE, FALSE, FALSE, nullptr, nullptr,
                                  RecordCommit, &commit, ctx, pool_));
    EXPECT_EQ(commit.revision, 2);
    EXPECT_EQ(commit.author, "tester");
    svn_stringbuf_t* contents = svn_stringbuf_create_empty(pool_);
    ASSERT_SVN(svn_client_cat3(nullptr, svn_stream_from_stringbuf(contents, pool_),
                               (url + std::string("/notes.txt")).c_str(), &head, &head, FALSE, ctx, pool_, pool_));
      EXPECT_STREQ(contents->data, "second\n");
  }
}

// Answers with the password the test expects back.
svn_error_t* AnswerPrompt(svn_auth_cred_simple_t** answer, void*, const char*, const char*, svn_boolean_t,
                          apr_pool_t* pool) {
  *answer = static_cast<svn_auth_cred_simple_t*>(apr_pcalloc(pool, sizeof **answer));
  **answer = {"tester", "s3cret-pass", TRUE};
  return SVN_NO_ERROR;
}

TEST_F(SubversionLibraries, DpapiStoreKeepsAPasswordEncrypted) {
  const char* realm = "<svn://127.0.0.1:3690> Team";
  svn_auth_provider_object_t *windows = nullptr, *prompt = nullptr;
  ASSERT_SVN(svn_auth_get_platform_specific_provider(&windows, "windows", "simple", pool_));
  ASSERT_NE(windows, nullptr) << "the DPAPI provider is not compiled in";
  svn_auth_get_simple_prompt_provider(&prompt, AnswerPrompt, nullptr, 0, pool_);
  ASSERT_SVN(svn_config_ensure(folder_.Path().c_str(), pool_));  // makes auth/svn.simple/
  void* credentials = nullptr;
  svn_auth_iterstate_t* state = nullptr;
  ASSERT_SVN(svn_auth_first_credentials(&credentials, &state, SVN_AUTH_CRED_SIMPLE, realm,
                                        AuthBaton({windows, prompt}), pool_));
  ASSERT_SVN(svn_auth_save_credentials(state, pool_));
  // On disk the password is only the DPAPI's encrypted blob.
  apr_hash_t* stored = nullptr;
  ASSERT_SVN(svn_config_read_auth_data(&stored, SVN_AUTH_CRED_SIMPLE, realm, folder_.Path().c_str(), pool_));
  ASSERT_NE(stored, nullptr) << "nothing was saved";
  auto value = [&](const char* key) {
    const auto* string = static_cast<const svn_string_t*>(svn_hash_gets(stored, key));
    return string ? std::string(string->data, string->len) : std::string();
  };
  EXPECT_EQ(value(SVN_CONFIG_AUTHN_PASSTYPE_KEY), "wincrypt");
  // Base64 of a DPAPI blob (well over 100 bytes), never the 11-byte password.
  EXPECT_GT(value(SVN_CONFIG_AUTHN_PASSWORD_KEY).size(), 100u);
  // Read back by the DPAPI provider alone.
  ASSERT_SVN(svn_auth_first_credentials(&credentials, &state, SVN_AUTH_CRED_SIMPLE, realm, AuthBaton({windows}),
                                        pool_));
  ASSERT_NE(credentials, nullptr);
  EXPECT_STREQ(static_cast<svn_auth_cred_simple_t*>(credentials)->username, "tester");
  EXPECT_STREQ(static_cast<svn_auth_cred_simple_t*>(credentials)->password, "s3cret-pass");
}

}  // namespace
