#include "daemon/platform/windows/private_access.h"

#include <aclapi.h>
#include <sddl.h>

#include <cwchar>

namespace korvane::server::windows {

std::vector<BYTE> UserOfToken(HANDLE token) {
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  if (size < sizeof(TOKEN_USER)) return {};
  std::vector<BYTE> user(size);
  if (!GetTokenInformation(token, TokenUser, user.data(), size, &size)) return {};
  return user;
}

PSID OwnUser() {
  static std::vector<BYTE> user = [] {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return std::vector<BYTE>{};
    std::vector<BYTE> read = UserOfToken(token);
    CloseHandle(token);
    return read;
  }();
  return user.empty() ? nullptr : reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
}

PrivateAccess::PrivateAccess(DWORD access, bool inherited) {
  wchar_t* sid = nullptr;
  if (OwnUser() == nullptr || !ConvertSidToStringSidW(OwnUser(), &sid)) return;
  wchar_t mask[16];
  std::swprintf(mask, std::size(mask), L"0x%lx", static_cast<unsigned long>(access));
  // P: protected, nothing inherited from the parent; OICI: files and folders
  // made inside inherit it.
  const std::wstring sddl = std::wstring(L"D:P(A;") + (inherited ? L"OICI" : L"") + L";" + mask + L";;;" + sid + L")";
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
  const bool owned = owner != nullptr && OwnUser() != nullptr && EqualSid(owner, OwnUser());
  LocalFree(descriptor);
  return owned;
}

}  // namespace korvane::server::windows
