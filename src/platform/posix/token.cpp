// The process token as far as the integrity level goes. POSIX has no
// integrity levels: every process runs at medium (0x2000), the level at which
// Windows lets a process start the daemon.
#include "errno_to_win32.h"
#include "kernel_object.h"
#include "win32_calls.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace korvane::posix {
namespace {

class TokenObject final : public KernelObject {};

// The layout of a SID with one sub-authority: S-1-16-RID, the mandatory label.
struct MandatoryLabelSid {
  BYTE revision;
  BYTE subAuthorityCount;
  BYTE identifierAuthority[6];
  DWORD subAuthority[1];
};

}  // namespace
}  // namespace korvane::posix

using namespace korvane::posix;

HANDLE GetCurrentProcess() { return INVALID_HANDLE_VALUE; }  // the pseudo handle, as on Windows

BOOL OpenProcessToken(HANDLE process, DWORD, PHANDLE token) {
  if (process != GetCurrentProcess() || token == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  *token = new (std::nothrow) TokenObject;
  return *token != nullptr ? TRUE : Fail(ERROR_NOT_ENOUGH_MEMORY);
}

BOOL GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS infoClass, LPVOID info, DWORD infoLength,
                         PDWORD returnLength) {
  if (ObjectFromHandle<TokenObject>(token) == nullptr) return Fail(ERROR_INVALID_HANDLE);
  if (infoClass != TokenIntegrityLevel || returnLength == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  const DWORD needed = sizeof(TOKEN_MANDATORY_LABEL) + sizeof(MandatoryLabelSid);
  *returnLength = needed;
  if (info == nullptr || infoLength < needed) return Fail(ERROR_INSUFFICIENT_BUFFER);

  auto* label = static_cast<TOKEN_MANDATORY_LABEL*>(info);
  auto* sid = reinterpret_cast<MandatoryLabelSid*>(label + 1);
  *sid = MandatoryLabelSid{1, 1, {0, 0, 0, 0, 0, 16}, {SECURITY_MANDATORY_MEDIUM_RID}};
  label->Label.Sid = sid;
  label->Label.Attributes = 0x20;  // SE_GROUP_INTEGRITY
  return TRUE;
}

PUCHAR GetSidSubAuthorityCount(PSID sid) { return &static_cast<MandatoryLabelSid*>(sid)->subAuthorityCount; }

PDWORD GetSidSubAuthority(PSID sid, DWORD index) { return &static_cast<MandatoryLabelSid*>(sid)->subAuthority[index]; }

HLOCAL LocalAlloc(UINT flags, SIZE_T bytes) {
  void* memory = (flags & LMEM_ZEROINIT) != 0 ? std::calloc(1, bytes == 0 ? 1 : bytes) : std::malloc(bytes == 0 ? 1 : bytes);
  if (memory == nullptr) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  return memory;
}

HLOCAL LocalFree(HLOCAL memory) {
  std::free(memory);
  return nullptr;
}
