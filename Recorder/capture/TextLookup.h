#pragma once

#include <QString>

#include <functional>

namespace corvessa {

// Looks up the interface text for an English key; the caller passes its
// translation (Loc::text in the program), so value code here needs no table.
using TextLookup = std::function<QString(const QString& english)>;

// Marks an English literal as an interface text kept in the translation tables,
// where it is defined away from the lookup that translates it.
constexpr const char* textKey(const char* english)
{
    return english;
}

} // namespace corvessa
