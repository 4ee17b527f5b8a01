#pragma once

#include "app/MenuContext.h"
#include "app/MenuNode.h"
#include "prefs/HotKeyAction.h"

namespace corvessa {

// Builds the program's classic menus from the current state: the tray's status
// menu, the main menu bar's menus with its "Recording" menu, and the launcher's
// (Dock) menu. Each call builds anew, so titles, checks, enabling and key texts
// follow the recorder, the preferences and the interface language of the
// moment. Actions that need a phase check it again when chosen, so a menu left
// open across a phase change cannot start a second recording. Main thread.
class MenuBuilders {
public:
    explicit MenuBuilders(MenuContext context);

    const MenuContext& context() const { return m_context; }

    MenuNodes statusMenu() const;
    MenuNodes recordingMenu() const;
    MenuNodes dockMenu() const;
    // The menu bar: the application menu, "Edit", "Recording" (filled when it
    // opens), "Window" and "Help".
    MenuNodes mainMenu() const;

    // Pause/continue, stop, restart, cancel while a recording runs; otherwise
    // start and, `withRange`, the three targets.
    MenuNodes recordingItems(bool withRange) const;
    MenuNodes magnifierItems() const;

    // The key text of an action's binding ("" when it has none that a menu can show).
    QString keyFor(HotKeyAction action) const;

    // Fixed key texts; command is Ctrl on Linux.
    static constexpr const char* settingsKey = "Ctrl+,";
    static constexpr const char* quitKey = "Ctrl+Q";

private:
    bool busy() const;
    bool running() const;
    MenuNode toggleBarItem(bool withKey) const;
    MenuNode penItem() const;
    MenuNode focusItem() const;
    MenuNode prompterItem() const;
    MenuNode cameraFullScreenItem() const;
    MenuNode resolutionMenu() const;
    MenuNode cursorMenu() const;
    // Brings a hidden toolbar into view.
    static void showBar(const MenuContext& c);

    MenuContext m_context;
};

} // namespace corvessa
