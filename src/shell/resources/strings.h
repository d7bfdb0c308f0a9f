// The string table of the library: the menu texts and their help texts, by
// resource id. The one list for both builds: the Windows resource script
// makes its STRINGTABLE from it, the Linux build compiles it into the
// library. Each user defines KORVANE_STRING(id, text) before including this
// file; the texts are plain literals, so each user adds its own prefix.
// (No include guard: the list is meant to be expanded more than once.)
KORVANE_STRING(102, "Use Korvane dialogs")
KORVANE_STRING(103, "Activates using Korvane dialogs")
KORVANE_STRING(104, "Use TortoiseSVN dialogs")
KORVANE_STRING(105, "Activates using TortoiseSVN dialogs")
KORVANE_STRING(106, "Automatic commit and update")
KORVANE_STRING(107, "Activates using automatic commit and update")
KORVANE_STRING(108, "Deactivate")
KORVANE_STRING(109, "Deactivates Korvane on previously activated selected folder.")
KORVANE_STRING(110, "Korvane")
KORVANE_STRING(111, "Displays Korvane activation options.")
KORVANE_STRING(112, "Share on Halcyra")
KORVANE_STRING(113, "Shares the selected folder on Halcyra.")
KORVANE_STRING(114, "Checkout")
KORVANE_STRING(115, "Creates a new working copy")
KORVANE_STRING(116, "Share with team member")
KORVANE_STRING(117, "Shares the selected folder with a team member.")
KORVANE_STRING(118, "Checkout from Halcyra")
KORVANE_STRING(119, "Checks out a working copy from Halcyra")
