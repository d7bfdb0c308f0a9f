// The repository and local-directory exports. Each hands out the record's
// text, code|operation|message|systemError|detail|, which carries the
// daemon's verdict; 1 means only that the daemon was reached and answered.
#include "korvane/korvane.h"

#include "api/export_guard.h"
#include "api/hand_out.h"
#include "api/text_argument.h"
#include "link/daemon_link.h"
#include "runtime/module_handle.h"

namespace {

using korvane::api::TextArgument;
using korvane::link::CDaemonLink;
using korvane::link::DaemonError;

// Runs one repository operation of a fresh link on the caller's texts. The
// output address is required: without it the work is done but the result
// is 0, since the verdict cannot reach the caller.
template <typename Operation, typename... Texts>
int32_t RunRepositoryExport(Operation operation, char** result, Texts... texts) {
  return korvane::api::Guarded([&] {
    CDaemonLink link(korvane::runtime::ModuleHandle());
    DaemonError record;
    if (!(link.*operation)(TextArgument(texts)..., record)) return false;
    return result != nullptr && korvane::api::Delivered(korvane::api::HandOutText(result, record.text));
  });
}

}  // namespace

extern "C" KORVANE_API int32_t Korvane_RenameLDir(const KorvaneChar* arg1, char** result) {
  return RunRepositoryExport(&CDaemonLink::RenameLDir, result, arg1);
}
extern "C" KORVANE_API int32_t Korvane_CreateRepo(const KorvaneChar* arg1, char** result) {
  return RunRepositoryExport(&CDaemonLink::CreateRepo, result, arg1);
}
extern "C" KORVANE_API int32_t Korvane_OpenRepo(const KorvaneChar* arg1, char** result) {
  return RunRepositoryExport(&CDaemonLink::OpenRepo, result, arg1);
}
extern "C" KORVANE_API int32_t Korvane_SvnCheckoutWait(const KorvaneChar* arg1, const KorvaneChar* arg2,
                                                       char** result) {
  return RunRepositoryExport(&CDaemonLink::SvnCheckoutWait, result, arg1, arg2);
}
extern "C" KORVANE_API int32_t Korvane_CopyToRepo(const KorvaneChar* arg1, const KorvaneChar* arg2, char** result) {
  return RunRepositoryExport(&CDaemonLink::CopyToRepo, result, arg1, arg2);
}
extern "C" KORVANE_API int32_t Korvane_SvnAdd(const KorvaneChar* arg1, char** result) {
  return RunRepositoryExport(&CDaemonLink::SvnAdd, result, arg1);
}
extern "C" KORVANE_API int32_t Korvane_SvnCommit(const KorvaneChar* arg1, char** result) {
  return RunRepositoryExport(&CDaemonLink::SvnCommit, result, arg1);
}
extern "C" KORVANE_API int32_t Korvane_RemoveLDir(const KorvaneChar* arg1, const KorvaneChar* arg2, char** result) {
  return RunRepositoryExport(&CDaemonLink::RemoveLDir, result, arg1, arg2);
}
extern "C" KORVANE_API int32_t Korvane_RemoveTmpDir(const KorvaneChar* arg1, char** result) {
  return RunRepositoryExport(&CDaemonLink::RemoveTmpDir, result, arg1);
}
extern "C" KORVANE_API int32_t Korvane_RestoreLDir(const KorvaneChar* arg1, const KorvaneChar* arg2,
                                                   char** result) {
  return RunRepositoryExport(&CDaemonLink::RestoreLDir, result, arg1, arg2);
}
