#include "support/shell_items.h"

#include "platform/posix/data_object.h"
#include "platform/posix/wide_path.h"

namespace korvane::testing {

std::u16string WidePath(const std::string& path) { return posix::WidePath(path); }

std::string NarrowPath(const std::u16string& path) { return posix::NarrowPath(path.c_str()); }

IDataObject* FileListDataObject(const std::vector<std::u16string>& names) {
  IDataObject* object = nullptr;
  posix::CreateFileListDataObject(names, &object);
  return object;
}

PIDLIST_ABSOLUTE VirtualFolderItem() { return ILCreateVirtualForTesting(); }

}  // namespace korvane::testing
