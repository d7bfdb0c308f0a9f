// Reading one registry value into a value object.
#include "runtime/registry_value.h"

#include <memory>
#include <type_traits>
#include <vector>

namespace korvane::runtime {
namespace {

// The rights every read asks for: the value and the key's security
// descriptor (0x20001 with no extra rights).
constexpr DWORD kReadRights = KEY_QUERY_VALUE | READ_CONTROL;
constexpr DWORD kUserDefaultLanguage = 0x400;

struct LocalFreeDeleter {
  void operator()(WCHAR* memory) const { LocalFree(memory); }
};

// Closes a key that a read leaves early, out of memory.
struct KeyCloser {
  void operator()(HKEY key) const { RegCloseKey(key); }
};
using OwnedKey = std::unique_ptr<std::remove_pointer_t<HKEY>, KeyCloser>;

}  // namespace

template <typename S>
S CRegBaseCommon<S>::LastErrorText() const {
  WCHAR* text = nullptr;
  DWORD length =
      FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, lastError_, kUserDefaultLanguage, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
  std::unique_ptr<WCHAR, LocalFreeDeleter> owned(text);
  if (length == 0 || text == nullptr) return S();
  return S(reinterpret_cast<const typename S::value_type*>(text), length);
}

template class CRegBaseCommon<std::u16string>;

CRegStdBase::CRegStdBase(const std::u16string& keyPath, bool force, HKEY base, DWORD extraRights)
    : CRegBaseCommon<std::u16string>(base, force, extraRights) {
  std::size_t slash = keyPath.rfind(u'\\');
  if (slash == std::u16string::npos) {
    valueName_ = keyPath;  // a bare value name: a value of the root itself
  } else {
    subKey_ = keyPath.substr(0, slash);
    valueName_ = keyPath.substr(slash + 1);
  }
}

template <typename T, typename Base>
const T& CRegTypedBase<T, Base>::Value() {
  bool fresh =
      this->read_ && !this->force_ && (lookupInterval_ == 0xFFFFFFFFu || GetTickCount() - lastRead_ < lookupInterval_);
  if (fresh) {
    this->lastError_ = ERROR_SUCCESS;
  } else {
    Read();
  }
  return value_;
}

template <typename T, typename Base>
void CRegTypedBase<T, Base>::Read() {
  value_ = default_;
  this->exists_ = false;
  HKEY key = nullptr;
  this->lastError_ = static_cast<DWORD>(RegOpenKeyExW(this->baseKey_, reinterpret_cast<LPCWSTR>(this->subKey_.c_str()),
                                                      0, this->extraRights_ | kReadRights, &key));
  if (this->lastError_ == ERROR_SUCCESS) {
    OwnedKey owned(key);
    this->read_ = true;
    T scratch = default_;
    if (ReadFromKey(key, scratch)) {
      this->exists_ = true;
      value_ = std::move(scratch);
    }
    this->lastError_ = static_cast<DWORD>(RegCloseKey(owned.release()));
  }
  lastRead_ = GetTickCount();
}

template class CRegTypedBase<DWORD, CRegStdBase>;
template class CRegTypedBase<std::u16string, CRegStdBase>;

template <typename Base>
CRegDWORDCommon<Base>::CRegDWORDCommon(const std::u16string& keyPath, DWORD defaultValue, bool force, HKEY base,
                                       DWORD extraRights)
    : CRegTypedBase<DWORD, Base>(keyPath, defaultValue, force, base, extraRights) {
  this->Read();
}

// One query into 4 bytes. The stored type is not looked at: any value whose
// data fits is the number, and longer data (a QWORD) counts as absent.
template <typename Base>
bool CRegDWORDCommon<Base>::ReadFromKey(HKEY key, DWORD& value) {
  DWORD type = REG_NONE;
  DWORD size = sizeof value;
  this->lastError_ = static_cast<DWORD>(RegQueryValueExW(key, reinterpret_cast<LPCWSTR>(this->valueName_.c_str()),
                                                         nullptr, &type, reinterpret_cast<BYTE*>(&value), &size));
  return this->lastError_ == ERROR_SUCCESS;
}

// The registry here is read only and nothing in the library writes a
// setting, so writing is not supported.
template <typename Base>
bool CRegDWORDCommon<Base>::WriteToKey(HKEY, const DWORD&) {
  this->lastError_ = ERROR_NOT_SUPPORTED;
  return false;
}

template <typename Base>
CRegStringCommon<Base>::CRegStringCommon(const std::u16string& keyPath, const std::u16string& defaultValue, bool force,
                                         HKEY base, DWORD extraRights)
    : CRegTypedBase<std::u16string, Base>(keyPath, defaultValue, force, base, extraRights) {
  this->Read();
}

// The size first, then the data into a zeroed buffer of as many UTF-16 units
// as the data has bytes: twice what it needs, so a text stored without its
// NUL still ends inside the buffer. The stored type is not looked at; an
// expandable text is taken as it is written.
template <typename Base>
bool CRegStringCommon<Base>::ReadFromKey(HKEY key, std::u16string& value) {
  auto name = reinterpret_cast<LPCWSTR>(this->valueName_.c_str());
  DWORD type = REG_NONE;
  DWORD size = 0;
  this->lastError_ = static_cast<DWORD>(RegQueryValueExW(key, name, nullptr, &type, nullptr, &size));
  if (this->lastError_ != ERROR_SUCCESS) return false;
  if (size == 0) {
    value.clear();
    return true;
  }
  std::vector<char16_t> buffer(size, u'\0');
  this->lastError_ =
      static_cast<DWORD>(RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size));
  if (this->lastError_ != ERROR_SUCCESS) return false;
  std::size_t length = 0;
  while (length < buffer.size() && buffer[length] != u'\0') ++length;
  value.assign(buffer.data(), length);
  return true;
}

// Read only, as for numbers.
template <typename Base>
bool CRegStringCommon<Base>::WriteToKey(HKEY, const std::u16string&) {
  this->lastError_ = ERROR_NOT_SUPPORTED;
  return false;
}

template class CRegDWORDCommon<CRegStdBase>;
template class CRegStringCommon<CRegStdBase>;

}  // namespace korvane::runtime
