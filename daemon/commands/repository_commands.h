// The repository and local-directory commands (codes 9 to 18) and the
// background checkout (8). Each runs on a thread of its own and answers
// with a verdict code|operation|message|systemError|detail (results.h):
// detail holds the result on success and the result's key on failure;
// systemError holds the Subversion or APR error number, or errno.
//
//   9  renameLDir PATH         moves the folder aside within its parent, to
//                              "NAME (old)", "NAME (old 2)", ...; detail:
//                              the new path
//  10  createRepo PATH         creates an FSFS repository at a local path or
//                              file:// URL (the folder must be missing or
//                              empty); detail: the repository's URL
//  11  openRepo PATH           opens the repository that holds the local path
//                              or file:// URL; detail: its root URL; the
//                              message names the youngest revision
//  12  svnCheckoutWait URL|PATH|  checks out the head of URL into PATH;
//                              detail: the revision
//  13  copyToRepo FOLDER|URL|  imports the folder's contents to URL; detail:
//                              the new revision
//  14  svnAdd PATH|            schedules PATH and everything unversioned in
//                              it for addition; detail: PATH
//  15  svnCommit PATH|         commits every change under PATH; detail: the
//                              new revision, empty when nothing changed
//  16  removeLDir PATH|KEY|    moves the folder to removed/KEY in the state
//                              folder, remembering where it was (an empty
//                              KEY is made up); detail: KEY. Across file
//                              systems the move copies, checks and only then
//                              removes (folder_move.h)
//  17  removeTmpDir PATH|      deletes a folder inside the temporary folder
//                              ($TMPDIR, or /tmp) for good; detail: PATH
//  18  restoreLDir PATH|KEY|   moves removed/KEY back to PATH (empty: where
//                              it was removed from); detail: the path
//   8  checkout URL|PATH|MODE  (one-way) checks out, then activates PATH in
//                              MODE when it is 1 to 3
//
// Paths are absolute; "|" separates arguments and cannot occur in them.
// No command moves, deletes or writes into the daemon's own folders
// (own_folders.h): such a request is refused with NOT_ALLOWED.
#pragma once

#include "daemon/commands/commands.h"

namespace korvane::server {

Handling RenameLocalDirectory(DaemonContext& context, const std::optional<std::string>& payload);
Handling CreateRepository(DaemonContext& context, const std::optional<std::string>& payload);
Handling OpenRepository(DaemonContext& context, const std::optional<std::string>& payload);
Handling CheckoutAndWait(DaemonContext& context, const std::optional<std::string>& payload);
Handling CopyToRepository(DaemonContext& context, const std::optional<std::string>& payload);
Handling AddToWorkingCopy(DaemonContext& context, const std::optional<std::string>& payload);
Handling CommitWorkingCopy(DaemonContext& context, const std::optional<std::string>& payload);
Handling RemoveLocalDirectory(DaemonContext& context, const std::optional<std::string>& payload);
Handling RemoveTemporaryDirectory(DaemonContext& context, const std::optional<std::string>& payload);
Handling RestoreLocalDirectory(DaemonContext& context, const std::optional<std::string>& payload);
Handling CheckoutInBackground(DaemonContext& context, const std::optional<std::string>& payload);

}  // namespace korvane::server
