// The menus and pictures a handler makes go with it: counted through the
// POSIX menu layer's probes, which see every live menu and bitmap.
#include "shell/shell_fixture.h"

#include "platform/posix/menu_probes.h"
#include "support/svn_repository.h"

namespace korvane::shell {
namespace {

class MenuLifetime : public ShellTest {
 protected:
  testing::SvnRepository plain_{"repos/plain", {"sub/", "sub/file.txt"}};
};

TEST_F(MenuLifetime, MenusAndPicturesGoWithTheHandler) {
  const std::size_t menusBefore = posix::LiveMenuCount();
  const std::size_t picturesBefore = posix::LiveBitmapCount();
  IContextMenu* handler = HandlerFor(plain_.WorkingCopy());
  Query(handler);
  // The entry's picture: found only if the library's icon, registered for
  // its module, holds an image of exactly the small icon size.
  EXPECT_EQ(posix::LiveBitmapCount(), picturesBefore + 1);
  Query(handler);  // a second menu replaces the first
  handler->Release();
  handlers_.clear();
  NewShellMenu();
  EXPECT_EQ(posix::LiveMenuCount(), menusBefore);
  EXPECT_EQ(posix::LiveBitmapCount(), picturesBefore);
}

}  // namespace
}  // namespace korvane::shell
