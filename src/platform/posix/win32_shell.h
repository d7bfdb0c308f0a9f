// COM and the shell's side of the Windows API subset: GUIDs, HRESULTs, the
// interfaces a context-menu handler implements and uses (with the Windows
// vtable order), the shell's data object and file list, item lists, file
// attributes and folder listings.
#pragma once

#include "win32_menus.h"
#include "win32_registry.h"
#include "win32_types.h"

#include <cstring>

// ---- HRESULTs --------------------------------------------------------------
#define S_OK static_cast<HRESULT>(0)
#define S_FALSE static_cast<HRESULT>(1)
#define E_NOTIMPL static_cast<HRESULT>(0x80004001u)
#define E_NOINTERFACE static_cast<HRESULT>(0x80004002u)
#define E_POINTER static_cast<HRESULT>(0x80004003u)
#define E_FAIL static_cast<HRESULT>(0x80004005u)
#define E_OUTOFMEMORY static_cast<HRESULT>(0x8007000Eu)
#define E_INVALIDARG static_cast<HRESULT>(0x80070057u)
#define CLASS_E_NOAGGREGATION static_cast<HRESULT>(0x80040110u)
#define CLASS_E_CLASSNOTAVAILABLE static_cast<HRESULT>(0x80040111u)
#define SEVERITY_SUCCESS 0u
#define MAKE_HRESULT(severity, facility, code) \
  static_cast<HRESULT>((static_cast<DWORD>(severity) << 31) | (static_cast<DWORD>(facility) << 16) | (static_cast<DWORD>(code) & 0xFFFFu))
#define SUCCEEDED(hr) (static_cast<HRESULT>(hr) >= 0)
#define FAILED(hr) (static_cast<HRESULT>(hr) < 0)
#define HRESULT_CODE(hr) (static_cast<DWORD>(hr) & 0xFFFFu)

// ---- GUIDs -----------------------------------------------------------------
struct GUID {
  std::uint32_t Data1;
  std::uint16_t Data2;
  std::uint16_t Data3;
  std::uint8_t Data4[8];
};
using IID = GUID;
using CLSID = GUID;
using REFGUID = const GUID&;
using REFIID = const IID&;
using REFCLSID = const CLSID&;

inline bool IsEqualGUID(REFGUID a, REFGUID b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }
inline bool operator==(REFGUID a, REFGUID b) { return IsEqualGUID(a, b); }

inline constexpr IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_IClassFactory = {0x00000001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_IDataObject = {0x0000010E, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_IShellExtInit = {0x000214E8, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_IContextMenu = {0x000214E4, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// ---- Interfaces --------------------------------------------------------------
#define STDMETHODCALLTYPE
using HWND = void*;
using CHAR = char;
using LPCITEMIDLIST = const struct ITEMIDLIST*;
using PCIDLIST_ABSOLUTE = LPCITEMIDLIST;

struct IUnknown {
  virtual HRESULT QueryInterface(REFIID riid, void** object) = 0;
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;
};
using LPUNKNOWN = IUnknown*;

struct IClassFactory : IUnknown {
  virtual HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** object) = 0;
  virtual HRESULT LockServer(BOOL lock) = 0;
};

using CLIPFORMAT = WORD;
using HGLOBAL = void*;
#define CF_HDROP 15
#define DVASPECT_CONTENT 1u
#define TYMED_NULL 0u
#define TYMED_HGLOBAL 1u

struct DVTARGETDEVICE;
struct FORMATETC {
  CLIPFORMAT cfFormat;
  DVTARGETDEVICE* ptd;
  DWORD dwAspect;
  LONG lindex;
  DWORD tymed;
};
struct STGMEDIUM {
  DWORD tymed;
  union {
    HGLOBAL hGlobal;
    void* pstg;
  };
  IUnknown* pUnkForRelease;
};

struct IDataObject : IUnknown {
  virtual HRESULT GetData(FORMATETC* format, STGMEDIUM* medium) = 0;
  virtual HRESULT GetDataHere(FORMATETC* format, STGMEDIUM* medium) = 0;
  virtual HRESULT QueryGetData(FORMATETC* format) = 0;
  virtual HRESULT GetCanonicalFormatEtc(FORMATETC* in, FORMATETC* out) = 0;
  virtual HRESULT SetData(FORMATETC* format, STGMEDIUM* medium, BOOL release) = 0;
  virtual HRESULT EnumFormatEtc(DWORD direction, void** enumerator) = 0;
  virtual HRESULT DAdvise(FORMATETC* format, DWORD flags, void* sink, DWORD* connection) = 0;
  virtual HRESULT DUnadvise(DWORD connection) = 0;
  virtual HRESULT EnumDAdvise(void** enumerator) = 0;
};

struct IShellExtInit : IUnknown {
  virtual HRESULT Initialize(PCIDLIST_ABSOLUTE folder, IDataObject* dataObject, HKEY progIdKey) = 0;
};

struct POINT {
  LONG x;
  LONG y;
};

struct CMINVOKECOMMANDINFO {
  DWORD cbSize;
  DWORD fMask;
  HWND hwnd;
  LPCSTR lpVerb;
  LPCSTR lpParameters;
  LPCSTR lpDirectory;
  int nShow;
  DWORD dwHotKey;
  HANDLE hIcon;
};
using LPCMINVOKECOMMANDINFO = CMINVOKECOMMANDINFO*;

struct CMINVOKECOMMANDINFOEX {
  DWORD cbSize;
  DWORD fMask;
  HWND hwnd;
  LPCSTR lpVerb;
  LPCSTR lpParameters;
  LPCSTR lpDirectory;
  int nShow;
  DWORD dwHotKey;
  HANDLE hIcon;
  LPCSTR lpTitle;
  LPCWSTR lpVerbW;
  LPCWSTR lpParametersW;
  LPCWSTR lpDirectoryW;
  LPCWSTR lpTitleW;
  POINT ptInvoke;
};

#define CMIC_MASK_UNICODE 0x00004000u
#define CMF_NORMAL 0x0u
#define CMF_DEFAULTONLY 0x1u
#define CMF_VERBSONLY 0x2u
#define CMF_EXPLORE 0x4u
#define CMF_NOVERBS 0x8u
#define GCS_VERBA 0x0u
#define GCS_HELPTEXTA 0x1u
#define GCS_VALIDATEA 0x2u
#define GCS_VERBW 0x4u
#define GCS_HELPTEXTW 0x5u
#define GCS_VALIDATEW 0x6u

struct IContextMenu : IUnknown {
  virtual HRESULT QueryContextMenu(HMENU menu, UINT indexMenu, UINT idCmdFirst, UINT idCmdLast, UINT flags) = 0;
  virtual HRESULT InvokeCommand(CMINVOKECOMMANDINFO* info) = 0;
  virtual HRESULT GetCommandString(UINT_PTR idCmd, UINT type, UINT* reserved, CHAR* name, UINT cchMax) = 0;
};

HRESULT CoLockObjectExternal(LPUNKNOWN unknown, BOOL lock, BOOL lastUnlockReleases);

// ---- Global memory and the shell's file list ---------------------------------
#define GMEM_MOVEABLE 0x0002u
#define GMEM_ZEROINIT 0x0040u
#define GHND (GMEM_MOVEABLE | GMEM_ZEROINIT)

HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes);
LPVOID GlobalLock(HGLOBAL memory);
BOOL GlobalUnlock(HGLOBAL memory);
HGLOBAL GlobalFree(HGLOBAL memory);
void ReleaseStgMedium(STGMEDIUM* medium);

struct DROPFILES {
  DWORD pFiles;  // offset of the file list from the start of this block
  POINT pt;
  BOOL fNC;
  BOOL fWide;
};
using HDROP = void*;
UINT DragQueryFileW(HDROP drop, UINT index, LPWSTR file, UINT capacity);

// ---- Item lists, file attributes, folder listings, text -------------------------
struct SHITEMID {
  WORD cb;
  BYTE abID[1];
};
struct ITEMIDLIST {
  SHITEMID mkid;
};
using PIDLIST_ABSOLUTE = ITEMIDLIST*;

// Item lists for file-system paths; a list the stand-in makes for anything
// else (ILCreateVirtualForTesting) has no path, as a virtual folder has none.
PIDLIST_ABSOLUTE ILCreateFromPathW(LPCWSTR path);
PIDLIST_ABSOLUTE ILCreateVirtualForTesting();
void ILFree(PIDLIST_ABSOLUTE list);
BOOL SHGetPathFromIDListW(PCIDLIST_ABSOLUTE list, LPWSTR path);

#define INVALID_FILE_ATTRIBUTES 0xFFFFFFFFu
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010u
#define FILE_ATTRIBUTE_NORMAL 0x00000080u
#define FILE_ATTRIBUTE_REPARSE_POINT 0x00000400u
DWORD GetFileAttributesW(LPCWSTR path);
BOOL PathIsDirectoryW(LPCWSTR path);
LPWSTR PathCombineW(LPWSTR destination, LPCWSTR directory, LPCWSTR file);

struct FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
};
struct WIN32_FIND_DATAW {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD dwReserved0;
  DWORD dwReserved1;
  WCHAR cFileName[MAX_PATH];
  WCHAR cAlternateFileName[14];
};
// Lists a folder: the pattern is the folder's path followed by "/*".
HANDLE FindFirstFileW(LPCWSTR pattern, WIN32_FIND_DATAW* data);
BOOL FindNextFileW(HANDLE find, WIN32_FIND_DATAW* data);
BOOL FindClose(HANDLE find);

int lstrcmpW(LPCWSTR a, LPCWSTR b);
int lstrcmpA(LPCSTR a, LPCSTR b);

#define CP_UTF8 65001u
int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wide, int wideLength, LPSTR narrow, int narrowSize,
                        LPCSTR defaultChar, BOOL* usedDefault);
int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR narrow, int narrowLength, LPWSTR wide, int wideSize);
