#pragma once

#include "platform/Permissions.h"

#include <QString>

namespace corvessa {

// Screen access on X11: granted when the display can be reached and offers
// what capture needs (Composite, Damage, XFixes and a 32-bit BGRX root), the
// same checks a capture stream makes when it starts. Any thread; each probe
// is a short connection of its own.
class X11ScreenAccess {
public:
    // displayName: e.g. ":1"; empty means $DISPLAY.
    static Permissions::Access probe(const QString& displayName = {});
};

} // namespace corvessa
