#pragma once

#include "platform/core/UserDefaults.h"
#include "prefs/Loc.h"

namespace corvessa::test {

// The program's texts in English, read from the bundled tables.
inline void useEnglish()
{
    Loc::setTableDirectory(QStringLiteral(":/lang"));
    UserDefaults::standard().setString(QStringLiteral("language"), QStringLiteral("en"));
    Loc::load();
}

} // namespace corvessa::test
