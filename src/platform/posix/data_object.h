// The shell's data object for a selection of files, as the shell hands it to
// a handler: CF_HDROP in global memory, a DROPFILES block with wide names.
#pragma once

#include "win32_shell.h"

#include <string>
#include <vector>

namespace korvane::posix {

// A new data object (one reference) offering the names as CF_HDROP.
HRESULT CreateFileListDataObject(const std::vector<std::u16string>& names, IDataObject** object);

}  // namespace korvane::posix
