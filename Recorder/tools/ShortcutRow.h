#pragma once

#include "tools/ShortcutItem.h"

#include <QString>

#include <vector>

namespace corvessa {

// One line of the shortcut hints: a symbol name, a translated title and the
// shortcuts that matter for it. Equal when everything in it is equal.
struct ShortcutRow {
    QString icon;
    QString title;
    std::vector<ShortcutItem> items;
    bool operator==(const ShortcutRow&) const = default;
};

} // namespace corvessa
