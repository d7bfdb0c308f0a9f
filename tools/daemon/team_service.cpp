#include "team_service.h"

#include "svn_runtime.h"

#include <svn_delta.h>
#include <svn_path.h>
#include <svn_props.h>
#include <svn_ra.h>
#include <svn_string.h>

#include <algorithm>
#include <optional>
#include <set>
#include <sstream>

namespace korvane::server::team {

namespace {

constexpr char kLogMessage[] = "Hosting change by Korvane";
// Two people changing the access file at once: the later commit is out of
// date and is made again on the new head, a few times at most.
constexpr int kCommitTries = 5;

Result ResultOf(const SvnFailure& failure) {
  switch (failure.code) {
    case SVN_ERR_RA_NOT_AUTHORIZED:
    case SVN_ERR_AUTHZ_UNREADABLE:
    case SVN_ERR_AUTHZ_UNWRITABLE:
    case SVN_ERR_AUTHZ_ROOT_UNREADABLE:
    case SVN_ERR_AUTHZ_PARTIALLY_READABLE:
    case SVN_ERR_REPOS_HOOK_FAILURE:
    case SVN_ERR_AUTHN_FAILED:
      return Result::NotAllowed;
    case SVN_ERR_FS_NOT_FOUND:
    case SVN_ERR_FS_NOT_DIRECTORY:
      return Result::NotFound;
    case SVN_ERR_FS_ALREADY_EXISTS:
      return Result::AlreadyExists;
    case SVN_ERR_CANCELLED:
      return Result::Cancelled;
    default:
      return Result::SubversionFailed;
  }
}

Answer Refused(const SvnFailure& failure) { return {ResultOf(failure), failure.message, {}}; }

// A session on the service's root for one operation.
struct Session {
  Pool pool;
  svn_client_ctx_t* client = nullptr;
  svn_ra_session_t* ra = nullptr;
  std::optional<SvnFailure> failure;

  Session(const std::string& root, const std::atomic<bool>& stopping) {
    client = ClientContext(stopping, kLogMessage, pool, failure);
    if (client != nullptr) {
      failure = TakeError(svn_client_open_ra_session2(&ra, root.c_str(), nullptr, client, pool, pool));
    }
  }

  svn_error_t* ReadFile(const char* path, std::string& text, svn_revnum_t& revision) {
    svn_stringbuf_t* buffer = svn_stringbuf_create_empty(pool);
    SVN_ERR(svn_ra_get_file(ra, path, SVN_INVALID_REVNUM, svn_stream_from_stringbuf(buffer, pool), &revision, nullptr,
                            pool));
    text.assign(buffer->data, buffer->len);
    return SVN_NO_ERROR;
  }

  svn_error_t* Property(const std::string& path, const char* name, std::string& value, svn_revnum_t& revision) {
    apr_hash_t* properties = nullptr;
    SVN_ERR(svn_ra_get_dir2(ra, nullptr, &revision, &properties, path.c_str(), SVN_INVALID_REVNUM, 0, pool));
    const auto* found = static_cast<const svn_string_t*>(apr_hash_get(properties, name, APR_HASH_KEY_STRING));
    value = found != nullptr ? std::string(found->data, found->len) : std::string();
    return SVN_NO_ERROR;
  }

  // One commit: the space made (create) or opened, its properties set, and
  // the access file replaced by access.
  svn_error_t* Commit(const std::string& space, bool create, const std::map<std::string, std::string>& properties,
                      const std::string& access, svn_revnum_t base) {
    apr_hash_t* revisionProperties = apr_hash_make(pool);
    apr_hash_set(revisionProperties, SVN_PROP_REVISION_LOG, APR_HASH_KEY_STRING, svn_string_create(kLogMessage, pool));
    const svn_delta_editor_t* editor = nullptr;
    void* edit = nullptr;
    SVN_ERR(svn_ra_get_commit_editor3(ra, &editor, &edit, revisionProperties, nullptr, nullptr, nullptr, FALSE, pool));
    svn_error_t* error = Edit(editor, edit, space, create, properties, access, base);
    if (error != SVN_NO_ERROR) return svn_error_compose_create(error, editor->abort_edit(edit, pool));
    return editor->close_edit(edit, pool);
  }

 private:
  svn_error_t* Edit(const svn_delta_editor_t* editor, void* edit, const std::string& space, bool create,
                    const std::map<std::string, std::string>& properties, const std::string& access,
                    svn_revnum_t base) {
    void* root = nullptr;
    void* folder = nullptr;
    SVN_ERR(editor->open_root(edit, base, pool, &root));
    if (create) {
      SVN_ERR(editor->add_directory(space.c_str(), root, nullptr, SVN_INVALID_REVNUM, pool, &folder));
    } else {
      SVN_ERR(editor->open_directory(space.c_str(), root, base, pool, &folder));
    }
    for (const auto& [name, value] : properties) {
      SVN_ERR(editor->change_dir_prop(folder, name.c_str(), svn_string_ncreate(value.data(), value.size(), pool), pool));
    }
    SVN_ERR(editor->close_directory(folder, pool));
    void* file = nullptr;
    svn_txdelta_window_handler_t handler = nullptr;
    void* handlerBaton = nullptr;
    SVN_ERR(editor->open_file(kAccessFile, root, base, pool, &file));
    SVN_ERR(editor->apply_textdelta(file, nullptr, pool, &handler, &handlerBaton));
    SVN_ERR(svn_txdelta_send_string(svn_string_ncreate(access.data(), access.size(), pool), handler, handlerBaton,
                                    pool));
    SVN_ERR(editor->close_file(file, nullptr, pool));
    return editor->close_directory(root, pool);
  }
};

bool IsOutOfDate(const SvnFailure& failure) {
  return failure.code == SVN_ERR_FS_TXN_OUT_OF_DATE || failure.code == SVN_ERR_FS_CONFLICT ||
         failure.code == SVN_ERR_RA_OUT_OF_DATE;
}

}  // namespace

std::string Service::SpaceUrl(const std::string& space) const {
  Pool pool;
  return root_ + "/" + svn_path_uri_encode(space.c_str(), pool);
}

Answer Service::ListSpaces() {
  Session session(root_, stopping_);
  if (session.failure) return Refused(*session.failure);
  apr_hash_t* entries = nullptr;
  if (auto failure = TakeError(svn_ra_get_dir2(session.ra, &entries, nullptr, nullptr, "", SVN_INVALID_REVNUM,
                                               SVN_DIRENT_KIND, session.pool))) {
    return Refused(*failure);
  }
  Answer answer;
  for (apr_hash_index_t* each = apr_hash_first(session.pool, entries); each != nullptr; each = apr_hash_next(each)) {
    const auto* entry = static_cast<const svn_dirent_t*>(apr_hash_this_val(each));
    if (entry->kind == svn_node_dir) answer.lines.emplace_back(static_cast<const char*>(apr_hash_this_key(each)));
  }
  std::sort(answer.lines.begin(), answer.lines.end());
  return answer;
}

Answer Service::ShowSpace(const std::string& space) {
  Session session(root_, stopping_);
  if (session.failure) return Refused(*session.failure);
  std::string members;
  svn_revnum_t revision = SVN_INVALID_REVNUM;
  svn_dirent_t* entry = nullptr;
  std::optional<SvnFailure> failure =
      TakeError(svn_ra_stat(session.ra, space.c_str(), SVN_INVALID_REVNUM, &entry, session.pool));
  if (!failure && (entry == nullptr || entry->kind != svn_node_dir)) {
    return {Result::NotFound, "no space is named " + space + " that this user may read", {}};
  }
  if (!failure) failure = TakeError(session.Property(space, kMembersProperty, members, revision));
  if (failure) return Refused(*failure);
  Answer answer{Result::Done, std::to_string(entry->created_rev), {}};
  for (const auto& [user, role] : ParseMembers(members)) answer.lines.push_back(user + '\t' + role);
  return answer;
}

Answer Service::CreateSpace(const std::string& space, const std::string& description, const std::string& owner) {
  for (int attempt = 1;; ++attempt) {
    Session session(root_, stopping_);
    if (session.failure) return Refused(*session.failure);
    std::string text;
    svn_revnum_t base = SVN_INVALID_REVNUM;
    if (auto failure = TakeError(session.ReadFile(kAccessFile, text, base))) return Refused(*failure);
    svn_node_kind_t kind = svn_node_none;
    if (auto failure = TakeError(svn_ra_check_path(session.ra, space.c_str(), base, &kind, session.pool))) {
      return Refused(*failure);
    }
    if (kind != svn_node_none) return {Result::AlreadyExists, "the space " + space + " exists", {}};
    AccessFile access(text);
    const std::map<std::string, std::string> members{{owner, "owner"}};
    access.AddUser(owner);
    access.SetSpace(space, members);
    std::map<std::string, std::string> properties{{kMembersProperty, RenderMembers(members)}};
    if (!description.empty()) properties[kDescriptionProperty] = description;
    std::optional<SvnFailure> failure = TakeError(session.Commit(space, true, properties, access.Render(), base));
    if (!failure) return {};
    if (!IsOutOfDate(*failure) || attempt == kCommitTries) return Refused(*failure);
  }
}

Answer Service::FindUsers() {
  Session session(root_, stopping_);
  if (session.failure) return Refused(*session.failure);
  std::string text;
  svn_revnum_t revision = SVN_INVALID_REVNUM;
  if (auto failure = TakeError(session.ReadFile(kAccessFile, text, revision))) return Refused(*failure);
  return {Result::Done, {}, AccessFile(text).Users()};
}

Answer Service::Invite(const std::string& space, const std::string& user, const std::string& role) {
  for (int attempt = 1;; ++attempt) {
    Session session(root_, stopping_);
    if (session.failure) return Refused(*session.failure);
    std::string text, members;
    svn_revnum_t base = SVN_INVALID_REVNUM, revision = SVN_INVALID_REVNUM;
    if (auto failure = TakeError(session.ReadFile(kAccessFile, text, base))) return Refused(*failure);
    svn_node_kind_t kind = svn_node_none;
    std::optional<SvnFailure> failure =
        TakeError(svn_ra_check_path(session.ra, space.c_str(), base, &kind, session.pool));
    if (!failure && kind != svn_node_dir) return {Result::NotFound, "no space is named " + space, {}};
    if (!failure) failure = TakeError(session.Property(space, kMembersProperty, members, revision));
    if (failure) return Refused(*failure);
    std::map<std::string, std::string> parsed = ParseMembers(members);
    parsed[user] = role;
    AccessFile access(text);
    access.AddUser(user);
    access.SetSpace(space, parsed);
    failure = TakeError(session.Commit(space, false, {{kMembersProperty, RenderMembers(parsed)}}, access.Render(),
                                       std::max(base, revision)));
    if (!failure) return {};
    if (!IsOutOfDate(*failure) || attempt == kCommitTries) return Refused(*failure);
  }
}

}  // namespace korvane::server::team
