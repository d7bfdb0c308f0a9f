#include "daemon/hosting/team_repository.h"

#include "names.h"
#include "daemon/svn/svn_runtime.h"
#include "daemon/svn/withdrawn_access.h"

#include <svn_delta.h>
#include <svn_path.h>
#include <svn_props.h>
#include <svn_ra.h>
#include <svn_string.h>

#include <algorithm>
#include <optional>
#include <set>
#include <sstream>

namespace korvane::server {

using team::kDescriptionProperty;
using team::kMembersProperty;
using team::kUsersProperty;
using team::ParseMembers;
using team::RenderMembers;

namespace {

constexpr char kLogMessage[] = "Hosting change by Korvane";
// Two people changing a space's members at once: the later commit is out of
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

// The words of the server's hook in a refusal ("Korvane: ..." lines), if
// it refused.
std::optional<std::string> HookWords(const SvnFailure& failure) {
  constexpr std::string_view kMark = "Korvane: ";
  const std::size_t start = failure.message.find(kMark);
  if (start == std::string::npos) return std::nullopt;
  const std::size_t from = start + kMark.size();
  std::string words = failure.message.substr(from, failure.message.find_first_of("\n;", from) - from);
  while (!words.empty() && (words.back() == ' ' || words.back() == '\r')) words.pop_back();
  return words;
}

HostingAnswer Refused(const SvnFailure& failure) {
  if (std::optional<std::string> words = HookWords(failure)) {
    const bool taken = words->find(" is taken ") != std::string::npos;
    return {taken ? Result::AlreadyExists : Result::NotAllowed, *words, {}, true};
  }
  if (IsCredentialFailure(failure)) {
    return {Result::NotAllowed, "the service refused the credential, or none is stored: run `korvane login` (" +
                                    failure.message + ")", {}, true};
  }
  return {ResultOf(failure), failure.message, {}};
}

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

  // One commit: the space made (create) or opened, and its properties set.
  svn_error_t* Commit(const std::string& space, bool create, const std::map<std::string, std::string>& properties,
                      svn_revnum_t base) {
    apr_hash_t* revisionProperties = apr_hash_make(pool);
    apr_hash_set(revisionProperties, SVN_PROP_REVISION_LOG, APR_HASH_KEY_STRING, svn_string_create(kLogMessage, pool));
    const svn_delta_editor_t* editor = nullptr;
    void* edit = nullptr;
    SVN_ERR(svn_ra_get_commit_editor3(ra, &editor, &edit, revisionProperties, nullptr, nullptr, nullptr, FALSE, pool));
    svn_error_t* error = Edit(editor, edit, space, create, properties, base);
    if (error != SVN_NO_ERROR) return svn_error_compose_create(error, editor->abort_edit(edit, pool));
    return editor->close_edit(edit, pool);
  }

 private:
  svn_error_t* Edit(const svn_delta_editor_t* editor, void* edit, const std::string& space, bool create,
                    const std::map<std::string, std::string>& properties, svn_revnum_t base) {
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
    return editor->close_directory(root, pool);
  }
};

bool IsOutOfDate(const SvnFailure& failure) {
  return failure.code == SVN_ERR_FS_TXN_OUT_OF_DATE || failure.code == SVN_ERR_FS_CONFLICT ||
         failure.code == SVN_ERR_RA_OUT_OF_DATE;
}

}  // namespace

std::string TeamRepository::SpaceUrl(const std::string& space) const {
  Pool pool;
  return root_ + "/" + svn_path_uri_encode(space.c_str(), pool);
}

HostingAnswer TeamRepository::ListSpaces() {
  Session session(root_, stopping_);
  if (session.failure) return Refused(*session.failure);
  apr_hash_t* entries = nullptr;
  if (auto failure = TakeError(svn_ra_get_dir2(session.ra, &entries, nullptr, nullptr, "", SVN_INVALID_REVNUM,
                                               SVN_DIRENT_KIND, session.pool))) {
    return Refused(*failure);
  }
  HostingAnswer answer;
  for (apr_hash_index_t* each = apr_hash_first(session.pool, entries); each != nullptr; each = apr_hash_next(each)) {
    const auto* entry = static_cast<const svn_dirent_t*>(apr_hash_this_val(each));
    if (entry->kind == svn_node_dir) answer.lines.emplace_back(static_cast<const char*>(apr_hash_this_key(each)));
  }
  std::sort(answer.lines.begin(), answer.lines.end());
  return answer;
}

HostingAnswer TeamRepository::ShowSpace(const std::string& space) {
  Session session(root_, stopping_);
  if (session.failure) return Refused(*session.failure);
  std::string members;
  svn_revnum_t revision = SVN_INVALID_REVNUM;
  svn_dirent_t* entry = nullptr;
  std::optional<SvnFailure> failure =
      TakeError(svn_ra_stat(session.ra, space.c_str(), SVN_INVALID_REVNUM, &entry, session.pool));
  // A space this user may not read answers as one that does not exist:
  // nobody learns the names of spaces they are not in.
  if ((!failure && (entry == nullptr || entry->kind != svn_node_dir)) ||
      (failure && IsAccessWithdrawn(*failure))) {
    return {Result::NotFound, "no space is named " + space + " that this user may read", {}};
  }
  if (!failure) failure = TakeError(session.Property(space, kMembersProperty, members, revision));
  if (failure) return Refused(*failure);
  HostingAnswer answer{Result::Done, std::to_string(entry->created_rev), {}};
  for (const auto& [user, role] : ParseMembers(members)) answer.lines.push_back(user + '\t' + role);
  return answer;
}

HostingAnswer TeamRepository::CreateSpace(const std::string& space, const std::string& description,
                                          const std::string& given) {
  const std::string& owner = given.empty() ? user_ : given;
  if (std::string problem = UserProblem(owner); !problem.empty()) return {Result::BadArguments, problem, {}};
  for (int attempt = 1;; ++attempt) {
    Session session(root_, stopping_);
    if (session.failure) return Refused(*session.failure);
    svn_revnum_t base = SVN_INVALID_REVNUM;
    svn_node_kind_t kind = svn_node_none;
    std::optional<SvnFailure> failure = TakeError(svn_ra_get_latest_revnum(session.ra, &base, session.pool));
    if (!failure) failure = TakeError(svn_ra_check_path(session.ra, space.c_str(), base, &kind, session.pool));
    if (failure) return Refused(*failure);
    if (kind != svn_node_none) return {Result::AlreadyExists, "the space " + space + " exists", {}};
    std::map<std::string, std::string> properties{{kMembersProperty, RenderMembers({{owner, "owner"}})}};
    if (!description.empty()) properties[kDescriptionProperty] = description;
    failure = TakeError(session.Commit(space, true, properties, base));
    if (!failure) return {};
    if (!IsOutOfDate(*failure) || attempt == kCommitTries) return Refused(*failure);
  }
}

HostingAnswer TeamRepository::FindUsers() {
  Session session(root_, stopping_);
  if (session.failure) return Refused(*session.failure);
  std::string users;
  svn_revnum_t revision = SVN_INVALID_REVNUM;
  if (auto failure = TakeError(session.Property("", kUsersProperty, users, revision))) return Refused(*failure);
  HostingAnswer answer;
  std::stringstream in(users);
  for (std::string user; std::getline(in, user);) {
    if (!names::UserNameProblem(user)) answer.lines.push_back(user);
  }
  std::sort(answer.lines.begin(), answer.lines.end());
  return answer;
}

HostingAnswer TeamRepository::Invite(const std::string& given, const std::string& user, const std::string& role) {
  if (!names::IsRole(role) && role != names::kNoRole) {
    return {Result::BadArguments, "\"" + role + "\" is not a role: owner, member, reader, or none to remove", {}};
  }
  const std::string space = names::Normalised(given).value_or(given);
  for (int attempt = 1;; ++attempt) {
    Session session(root_, stopping_);
    if (session.failure) return Refused(*session.failure);
    std::string members;
    svn_revnum_t base = SVN_INVALID_REVNUM;
    svn_node_kind_t kind = svn_node_none;
    std::optional<SvnFailure> failure = TakeError(svn_ra_get_latest_revnum(session.ra, &base, session.pool));
    if (!failure) failure = TakeError(svn_ra_check_path(session.ra, space.c_str(), base, &kind, session.pool));
    if ((!failure && kind != svn_node_dir) || (failure && IsAccessWithdrawn(*failure))) {
      return {Result::NotFound, "no space is named " + space + " that this user may read", {}};
    }
    svn_revnum_t revision = SVN_INVALID_REVNUM;
    if (!failure) failure = TakeError(session.Property(space, kMembersProperty, members, revision));
    if (failure) return Refused(*failure);
    std::map<std::string, std::string> parsed = ParseMembers(members);
    if (role == names::kNoRole) {
      if (parsed.erase(user) == 0) return {Result::NotFound, user + " is not a member of " + space, {}};
    } else {
      parsed[user] = role;
    }
    failure = TakeError(session.Commit(space, false, {{kMembersProperty, RenderMembers(parsed)}}, revision));
    if (!failure) return {};
    if (!IsOutOfDate(*failure) || attempt == kCommitTries) return Refused(*failure);
  }
}

}  // namespace korvane::server
