// Registry value objects: one value (a number or a text) of one key under a
// root, read when the object is made and kept for the object's life.
#pragma once

#include "platform/windows_api.h"

#include <cstddef>
#include <string>

namespace korvane::runtime {

// What every value object has, whatever its type: where the value lives, the
// outcome of the latest registry call, and whether the value was found.
template <typename S>
class CRegBaseCommon {
 public:
  virtual ~CRegBaseCommon() = default;

  virtual const typename S::value_type* TextOf(const S& text) const = 0;
  virtual std::size_t LengthOf(const S& text) const = 0;
  // The system's message for LastError(), empty when there is none.
  virtual S LastErrorText() const;

  DWORD LastError() const { return lastError_; }
  // The latest read found the value.
  bool Exists() const { return exists_; }
  const S& SubKey() const { return subKey_; }
  const S& ValueName() const { return valueName_; }

 protected:
  CRegBaseCommon(HKEY base, bool force, DWORD extraRights) : baseKey_(base), extraRights_(extraRights), force_(force) {}

  HKEY baseKey_;
  S valueName_;
  S subKey_;
  DWORD lastError_ = ERROR_SUCCESS;
  DWORD extraRights_;  // added to the rights a read asks for
  bool read_ = false;  // the key was opened once
  bool force_;         // every use reads again
  bool exists_ = false;
};

extern template class CRegBaseCommon<std::u16string>;

// The common base for UTF-16 names: the key path is split at its last
// backslash into the subkey and the value name.
class CRegStdBase : public CRegBaseCommon<std::u16string> {
 public:
  const char16_t* TextOf(const std::u16string& text) const override { return text.c_str(); }
  std::size_t LengthOf(const std::u16string& text) const override { return text.size(); }

 protected:
  CRegStdBase(const std::u16string& keyPath, bool force, HKEY base, DWORD extraRights);
};

// A value of type T with its default.
template <typename T, typename Base>
class CRegTypedBase : public Base {
 public:
  // The value: the one read before, unless the force flag asks for a new
  // read or the lookup interval has passed.
  const T& Value();

 protected:
  CRegTypedBase(const std::u16string& keyPath, const T& defaultValue, bool force, HKEY base, DWORD extraRights)
      : Base(keyPath, force, base, extraRights), value_(defaultValue), default_(defaultValue) {}

  // Opens the key and reads the value; the default when it is absent.
  void Read();
  virtual bool ReadFromKey(HKEY key, T& value) = 0;
  virtual bool WriteToKey(HKEY key, const T& value) = 0;

  T value_;
  T default_;
  DWORD lastRead_ = 0;                  // GetTickCount() of the latest read
  DWORD lookupInterval_ = 0xFFFFFFFFu;  // milliseconds a read stays valid; this value: for ever
};

// A number value: any value whose data fits in 4 bytes.
template <typename Base>
class CRegDWORDCommon : public CRegTypedBase<DWORD, Base> {
 public:
  // Reads the value at once.
  CRegDWORDCommon(const std::u16string& keyPath, DWORD defaultValue, bool force = false, HKEY base = HKEY_CURRENT_USER,
                  DWORD extraRights = 0);

 protected:
  bool ReadFromKey(HKEY key, DWORD& value) override;
  bool WriteToKey(HKEY key, const DWORD& value) override;
};

// A text value: the data up to its first NUL, whatever its stored type.
template <typename Base>
class CRegStringCommon : public CRegTypedBase<std::u16string, Base> {
 public:
  // Reads the value at once.
  CRegStringCommon(const std::u16string& keyPath, const std::u16string& defaultValue, bool force = false,
                   HKEY base = HKEY_CURRENT_USER, DWORD extraRights = 0);

 protected:
  bool ReadFromKey(HKEY key, std::u16string& value) override;
  bool WriteToKey(HKEY key, const std::u16string& value) override;
};

extern template class CRegTypedBase<DWORD, CRegStdBase>;
extern template class CRegTypedBase<std::u16string, CRegStdBase>;
extern template class CRegDWORDCommon<CRegStdBase>;
extern template class CRegStringCommon<CRegStdBase>;

using CRegDWORD = CRegDWORDCommon<CRegStdBase>;
using CRegString = CRegStringCommon<CRegStdBase>;

}  // namespace korvane::runtime
