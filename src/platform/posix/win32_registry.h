// The registry calls of the subset, read only: each hive is a file in the
// text format of registry exports (registry.cpp says where and how).
#pragma once

#include "win32_types.h"

// A key handle: opaque, as on Windows. The two predefined roots are
// sign-extended 32-bit values, as in the Windows headers.
struct HKEY__;
using HKEY = HKEY__*;
using PHKEY = HKEY*;
using REGSAM = DWORD;
using LSTATUS = LONG;

#define HKEY_CURRENT_USER (reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(static_cast<LONG>(0x80000001))))
#define HKEY_LOCAL_MACHINE (reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(static_cast<LONG>(0x80000002))))

// Access rights.
#define KEY_QUERY_VALUE 0x0001u
#define READ_CONTROL 0x00020000u

// Value types.
#define REG_NONE 0u
#define REG_SZ 1u
#define REG_EXPAND_SZ 2u
#define REG_BINARY 3u
#define REG_DWORD 4u
#define REG_MULTI_SZ 7u
#define REG_QWORD 11u

// Opens root\subKey (root: a predefined root or an open key; a null or empty
// subKey opens root itself). ERROR_FILE_NOT_FOUND when the hive has no such
// key; the options and access rights are accepted and ignored, since nothing
// can be written.
LSTATUS RegOpenKeyExW(HKEY root, LPCWSTR subKey, DWORD options, REGSAM access, PHKEY result);

// One value of an open key (a null or empty name: the key's default value).
// With data null only the size (and type) is reported; when *dataSize is too
// small the result is ERROR_MORE_DATA and *dataSize the size needed.
LSTATUS RegQueryValueExW(HKEY key, LPCWSTR valueName, LPDWORD reserved, LPDWORD type, BYTE* data, LPDWORD dataSize);

LSTATUS RegCloseKey(HKEY key);
