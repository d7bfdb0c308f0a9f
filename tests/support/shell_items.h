// What the shell hands a handler, made for a test: paths in the UTF-16 of
// the Windows calls, and the data object of a selection of files.
#pragma once

#include "platform/windows_api.h"

#include <string>
#include <vector>

namespace korvane::testing {

// A path of the test (UTF-8) in UTF-16, and back.
std::u16string WidePath(const std::string& path);
std::string NarrowPath(const std::u16string& path);

// A new data object (one reference) offering the names as CF_HDROP: a
// DROPFILES block with wide names in global memory, as the shell gives it.
IDataObject* FileListDataObject(const std::vector<std::u16string>& names);

// A new item list for a folder outside the file system (free it with
// ILFree): the shell's "This PC" on Windows.
PIDLIST_ABSOLUTE VirtualFolderItem();

}  // namespace korvane::testing
