#pragma once

#include "app/MenuNode.h"

#include <QString>

namespace corvessa {

// A menu tree as text, one entry a line, so a test can compare a whole menu
// at once. A submenu's entries follow it, indented by two spaces:
//
//   Pause Recording  <Ctrl+Alt+p>
//   ---
//   Screen Resolution >
//     Native · 1920×1080  [x]
//   Record Window  [ ]  (disabled)
//
// "[x]" or "[ ]" marks an entry with a check state, "(disabled)" a disabled one,
// "<...>" the key text.
class MenuDump {
public:
    MenuDump() = delete;
    static QString dump(const MenuNodes& entries);
    // One line of the dump, without indentation.
    static QString line(const MenuNode& entry);
};

} // namespace corvessa
