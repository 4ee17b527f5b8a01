#pragma once

#include <QString>

#include <functional>
#include <vector>

namespace corvessa {

// One entry of a classic menu, a value: a command, a submenu or a separator.
// Menus are built as trees of these from the current state each time they
// open, then drawn by MenuRenderer (or written out by MenuDump for tests).
// The action runs on the main thread.
struct MenuNode {
    QString title;
    // A stable name for the entry ("start", "settings"), independent of the
    // interface language; empty when nothing needs to find the entry.
    QString identifier;
    // The entry carries a check state (shown as a check mark when checked).
    bool checkable = false;
    bool checked = false;
    bool enabled = true;
    // Key sequence text in QKeySequence's portable form ("Ctrl+,"); empty for none.
    QString keyText;
    std::function<void()> action;
    // A submenu entry lists its entries here (an empty submenu stays a submenu).
    bool isSubmenu = false;
    std::vector<MenuNode> submenu;
    // A submenu whose entries are built each time it opens (instead of `submenu`).
    std::function<std::vector<MenuNode>()> provider;
    bool separator = false;

    static MenuNode command(QString title, QString identifier, std::function<void()> action);
    static MenuNode menu(QString title, std::vector<MenuNode> entries);
    static MenuNode divider();

    // Builder-style setters for the less common fields.
    MenuNode& check(bool on);
    MenuNode& enable(bool on);
    MenuNode& key(QString text);

    // The first entry in this tree (this one or below) named `id`, or null.
    const MenuNode* find(const QString& id) const;
    static const MenuNode* find(const std::vector<MenuNode>& entries, const QString& id);
};

using MenuNodes = std::vector<MenuNode>;

} // namespace corvessa
