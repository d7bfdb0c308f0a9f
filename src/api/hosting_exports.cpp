// The hosting-service exports. Their result is the daemon call's alone:
// null output addresses are skipped, and a buffer that cannot be allocated
// leaves its output null.
#include "korvane/korvane.h"

#include "api/export_guard.h"
#include "api/hand_out.h"
#include "api/text_argument.h"
#include "link/daemon_link.h"
#include "runtime/module_handle.h"

namespace {

using korvane::api::HandOutText;
using korvane::api::TextArgument;
using korvane::link::CDaemonLink;

struct Outputs {
  std::string texts[3];

  void HandOut(char** out1, char** out2, char** out3) const {
    HandOutText(out1, texts[0]);
    HandOutText(out2, texts[1]);
    HandOutText(out3, texts[2]);
  }
};

// Runs one hosting operation of a fresh link on the caller's texts and hands
// its three outputs out when it answered.
template <typename Operation, typename... Texts>
int32_t RunHostingExport(Operation operation, char** out1, char** out2, char** out3, Texts... texts) {
  return korvane::api::Guarded([&] {
    CDaemonLink link(korvane::runtime::ModuleHandle());
    Outputs outputs;
    if (!(link.*operation)(TextArgument(texts)..., outputs.texts[0], outputs.texts[1], outputs.texts[2])) {
      return false;
    }
    outputs.HandOut(out1, out2, out3);
    return true;
  });
}

}  // namespace

extern "C" KORVANE_API int32_t Korvane_ListSpaces(const KorvaneChar* arg1, const KorvaneChar* arg2, char** out1,
                                                  char** out2, char** out3) {
  return RunHostingExport(&CDaemonLink::ListSpaces, out1, out2, out3, arg1, arg2);
}

extern "C" KORVANE_API int32_t Korvane_ShowSpace(const KorvaneChar* arg1, const KorvaneChar* arg2,
                                                 const KorvaneChar* arg3, char** out1, char** out2, char** out3) {
  return RunHostingExport(&CDaemonLink::ShowSpace, out1, out2, out3, arg1, arg2, arg3);
}

extern "C" KORVANE_API int32_t Korvane_CreateSpace(const KorvaneChar* arg1, const KorvaneChar* arg2,
                                                   const KorvaneChar* arg3, const KorvaneChar* arg4, char** out1,
                                                   char** out2, char** out3) {
  return RunHostingExport(&CDaemonLink::CreateSpace, out1, out2, out3, arg1, arg2, arg3, arg4);
}

extern "C" KORVANE_API int32_t Korvane_FindUsers(const KorvaneChar* arg1, const KorvaneChar* arg2, char** out1,
                                                 char** out2, char** out3) {
  return RunHostingExport(&CDaemonLink::FindUsers, out1, out2, out3, arg1, arg2);
}

extern "C" KORVANE_API int32_t Korvane_Invite(const KorvaneChar* arg1, const KorvaneChar* arg2,
                                              const KorvaneChar* arg3, const KorvaneChar* arg4, char** out1,
                                              char** out2, char** out3) {
  return RunHostingExport(&CDaemonLink::Invite, out1, out2, out3, arg1, arg2, arg3, arg4);
}
