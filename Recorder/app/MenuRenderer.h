#pragma once

#include "app/MenuNode.h"

#include <functional>

class QMenu;
class QMenuBar;

namespace corvessa {

// Draws menu trees as Qt menus. Each entry becomes one QAction whose title,
// check state, enabling and key text follow the entry; its action runs when
// chosen. Ampersands in titles are shown as they are. Main thread.
class MenuRenderer {
public:
    MenuRenderer() = delete;

    // Replaces the menu's entries by `entries`.
    static void render(QMenu* menu, const MenuNodes& entries);
    // Replaces the bar's menus by `entries` (each a submenu).
    static void render(QMenuBar* bar, const MenuNodes& entries);
    // Rebuilds the menu from `provider` each time it is about to show (and
    // once now, so its key texts are there from the start).
    static void attach(QMenu* menu, std::function<MenuNodes()> provider);
};

} // namespace corvessa
