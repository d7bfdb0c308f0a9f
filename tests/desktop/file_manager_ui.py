"""Drives a file manager through its accessibility tree (AT-SPI), as a
person with a keyboard and a mouse does: selects a file's cell, opens its
context menu (Shift+F10 opens GNOME Files' popover; Nemo takes a
right-click), reads the product's entries there and activates one.

    file_manager_ui.py entries APP NAME         the entries for the cell NAME, as JSON
    file_manager_ui.py background APP           the entries of the folder's background
    file_manager_ui.py activate APP NAME TEXT   runs the entry TEXT for the cell NAME
    file_manager_ui.py emblems APP NAME         the number of emblems the cell NAME shows
    file_manager_ui.py dump APP

GTK keeps hidden menu items in the tree, so the product's submenu is found
by its contents: the menu page or menu holding an item named "Korvane" as
its back item (GTK 4) or whose parent item is "Korvane" (GTK 3).
"""
import json
import subprocess
import sys
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi  # noqa: E402

PRODUCT = "Korvane"
WAIT = 60.0
APP = ""
ITEM_ROLES = ("menu item", "check menu item", "radio menu item")


def children(node):
    try:
        return [c for c in (node.get_child_at_index(i) for i in range(node.get_child_count())) if c is not None]
    except Exception:
        return []


def walk(node, depth=0):
    yield node, depth
    for child in children(node):
        yield from walk(child, depth + 1)


def role(node):
    try:
        return node.get_role_name()
    except Exception:
        return "?"


def name(node):
    try:
        return node.get_name() or ""
    except Exception:
        return ""


def application(app_name):
    deadline = time.time() + WAIT
    while time.time() < deadline:
        for app in children(Atspi.get_desktop(0)):
            if app_name in name(app).lower():
                return app
        time.sleep(0.3)
    sys.exit(f"{app_name} does not show in the accessibility tree")


def find(app, predicate, wait=WAIT):
    deadline = time.time() + wait
    while True:
        for node, _ in walk(app):
            if predicate(node):
                return node
        if time.time() >= deadline:
            return None
        time.sleep(0.3)


def xdotool(*arguments):
    subprocess.run(["xdotool", *arguments], check=True)


def extents(node):
    # GTK 4 reports no screen coordinates; its window sits at the display's
    # origin here (no window manager), so window coordinates are the screen's.
    kind = Atspi.CoordType.WINDOW if APP == "nautilus" else Atspi.CoordType.SCREEN
    return node.get_extents(kind)


def centre(node):
    box = extents(node)
    return box.x + box.width // 2, box.y + box.height // 2


def cell(app, file_name):
    found = find(app, lambda n: name(n) == file_name and role(n) in ("filler", "table cell", "icon", "label"))
    if found is None:
        sys.exit(f"no cell named {file_name}")
    return found


def open_menu(app, app_name, file_name):
    if file_name is None:
        # The background: a click on the view's empty space, below the cells.
        # The folder's view: the largest table (the sidebar is one too).
        views = [n for n, _ in walk(app) if role(n) in ("tree table", "table", "layered pane", "canvas")]
        if not views:
            sys.exit("no view of the folder")
        view = max(views, key=lambda n: extents(n).width * extents(n).height)
        box = extents(view)
        x, y = box.x + box.width // 2, box.y + box.height - 20
    else:
        x, y = centre(cell(app, file_name))
    xdotool("mousemove", str(x), str(y), "click", "1")
    time.sleep(0.7)
    if app_name == "nautilus":
        xdotool("key", "--clearmodifiers", "shift+F10")
    else:
        xdotool("click", "3")
    time.sleep(1.5)


def visible(node):
    try:
        return node.get_state_set().contains(Atspi.StateType.VISIBLE)
    except Exception:
        return False


def product_items(app):
    """The product's menu items, in menu order; None when the menu has no
    product entry."""
    # GTK 3 (Nemo): the popup is a window of its own, where the submenu
    # "Korvane" is a menu holding the items (the menu bar has one too).
    for popup in children(app):
        if role(popup) != "window":
            continue
        for node, _ in walk(popup):
            if role(node) == "menu" and name(node) == PRODUCT:
                return [c for c in children(node) if role(c) in ITEM_ROLES and visible(c)]
    for node, _ in walk(app):
        items = [c for c in children(node) if role(c) in ITEM_ROLES]
        # GTK 3: the item "Korvane" holds its submenu.
        if role(node) in ITEM_ROLES and name(node) == PRODUCT:
            menus = [c for c in children(node) if role(c) == "menu"]
            if menus:
                return [c for c in children(menus[0]) if role(c) in ITEM_ROLES]
        # GTK 4: a page of the popover starts with its back item "Korvane".
        if items and name(items[0]) == PRODUCT and role(node) != "menu" and any(
                role(c) in ITEM_ROLES for c in children(node)) and len(items) > 1:
            return items[1:]
    return None


def gtk4_page_items(app):
    for node, _ in walk(app):
        if role(node) != "panel":
            continue
        items = [n for n, _ in walk(node) if role(n) in ITEM_ROLES]
        if len(items) > 1 and name(items[0]) == PRODUCT and all(name(i) != "Open" for i in items):
            return items[1:]
    return None


def entries(app, app_name, file_name):
    open_menu(app, app_name, file_name)
    deadline = time.time() + 10
    while time.time() < deadline:
        items = product_items(app) or gtk4_page_items(app)
        if items is not None:
            return items
        time.sleep(0.5)
    return []


def emblems(app, file_name):
    found = cell(app, file_name)
    holder = found if role(found) != "label" else found.get_parent()
    return sum(1 for n, _ in walk(holder) if role(n) in ("image", "icon") and name(n) != "GtkPicture") 


def main():
    global APP
    command, app_name = sys.argv[1], sys.argv[2]
    APP = app_name
    app = application(app_name)
    if command == "dump":
        for node, depth in walk(app):
            print("  " * depth + f"{role(node)}: {name(node)!r}")
    elif command == "entries":
        print(json.dumps([name(i) for i in entries(app, app_name, sys.argv[3])]))
        xdotool("key", "Escape")
    elif command == "background":
        print(json.dumps([name(i) for i in entries(app, app_name, None)]))
        xdotool("key", "Escape")
    elif command == "activate":
        items = [i for i in entries(app, app_name, sys.argv[3]) if name(i) == sys.argv[4]]
        if not items:
            sys.exit(f"no entry {sys.argv[4]} for {sys.argv[3]}")
        action = items[0].get_action_iface()
        action.do_action(0)
        print("activated")
    elif command == "open":
        open_menu(app, app_name, sys.argv[3] if len(sys.argv) > 3 else None)
        for node, depth in walk(app):
            print("  " * depth + f"{role(node)}: {name(node)!r}")
    elif command == "emblems":
        print(emblems(app, sys.argv[3]))


if __name__ == "__main__":
    main()
