#include "daemon/platform/windows/private_access.h"

#include <aclapi.h>
#include <sddl.h>

#include <vector>

namespace korvane::server::windows {

namespace {

// The token's user: its SID, in a buffer that holds it.
std::vector<unsigned char> TokenUser() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
  DWORD size = 0;
  GetTokenInformation(token, ::TokenUser, nullptr, 0, &size);
  std::vector<unsigned char> buffer(size);
  if (size == 0 || !GetTokenInformation(token, ::TokenUser, buffer.data(), size, &size)) buffer.clear();
  CloseHandle(token);
  return buffer;
}

PSID SidOf(std::vector<unsigned char>& tokenUser) {
  return tokenUser.empty() ? nullptr : reinterpret_cast<TOKEN_USER*>(tokenUser.data())->User.Sid;
}

}  // namespace

PrivateAccess::PrivateAccess() {
  std::vector<unsigned char> user = TokenUser();
  wchar_t* sid = nullptr;
  if (SidOf(user) == nullptr || !ConvertSidToStringSidW(SidOf(user), &sid)) return;
  // P: protected, nothing inherited; OICI: files and folders made inside
  // inherit it; FA: full access.
  const std::wstring sddl = std::wstring(L"D:P(A;OICI;FA;;;") + sid + L")";
  LocalFree(sid);
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor_, nullptr)) {
    descriptor_ = nullptr;
    return;
  }
  attributes_ = {sizeof attributes_, descriptor_, FALSE};
}

PrivateAccess::~PrivateAccess() {
  if (descriptor_ != nullptr) LocalFree(descriptor_);
}

bool PrivateAccess::Apply(const std::wstring& path) {
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL list = nullptr;
  if (descriptor_ == nullptr || !GetSecurityDescriptorDacl(descriptor_, &present, &list, &defaulted)) return false;
  const DWORD error =
      SetNamedSecurityInfoW(const_cast<wchar_t*>(path.c_str()), SE_FILE_OBJECT,
                            DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr, nullptr, list, nullptr);
  SetLastError(error);
  return error == ERROR_SUCCESS;
}

bool OwnedByUser(const std::wstring& path) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                            &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  std::vector<unsigned char> user = TokenUser();
  const bool owned = owner != nullptr && SidOf(user) != nullptr && EqualSid(owner, SidOf(user));
  LocalFree(descriptor);
  return owned;
}

}  // namespace korvane::server::windows
