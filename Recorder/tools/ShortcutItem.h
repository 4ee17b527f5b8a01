#pragma once

#include <QString>

namespace corvessa {

// One shortcut in a hint row: the key combination as shown ("Ctrl+Alt+R", "esc", or
// empty for a plain note) and what it does, translated.
struct ShortcutItem {
    QString key;
    QString label;
    bool operator==(const ShortcutItem&) const = default;
};

} // namespace corvessa
