#pragma once

#include <QHashFunctions>
#include <QString>

#include <cstddef>
#include <functional>

namespace corvessa {

// A one-line warning shown beside the toolbar while its condition holds: a
// symbol name ("headphones", "mic.slash") and the translated message. Lists of
// hints are compared whole to decide whether the hint panel must be rebuilt.
struct Hint {
    QString icon;
    QString text;

    bool operator==(const Hint&) const = default;
};

// Combines icon, then text.
inline size_t qHash(const Hint& hint, size_t seed = 0) noexcept
{
    return qHashMulti(seed, hint.icon, hint.text);
}

} // namespace corvessa

template <>
struct std::hash<corvessa::Hint> {
    size_t operator()(const corvessa::Hint& hint) const noexcept { return corvessa::qHash(hint); }
};
