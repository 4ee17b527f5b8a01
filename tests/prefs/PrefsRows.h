#pragma once

#include "prefs/PrefsTable.h"

#include <QJsonValue>

#include <variant>

namespace corvessa::test {

// Values for walking the settings table.
class PrefsRows {
public:
    using Row = PrefsTable::Row;
    using Value = Prefs::Value;

    // Two values within a row's range (and accepted by a profile), each
    // differing from the other; `first` also differs from the default.
    static Value pick(const Row& row, bool first)
    {
        if (const bool* flag = std::get_if<bool>(&row.fallback))
            return first != *flag;
        if (const int* whole = std::get_if<int>(&row.fallback)) {
            const int a = *whole == int(row.hi) ? int(row.lo) : int(row.hi);
            return first ? a : (a == int(row.hi) ? int(row.lo) : int(row.hi));
        }
        if (std::holds_alternative<QString>(row.fallback))
            return QString::fromLatin1(first ? "1920x1080" : "640x480");
        const double quarter = (row.hi - row.lo) / 4;
        return first ? row.lo + quarter : row.hi - quarter;
    }

    // The same number in the row's type.
    static Value typed(const Row& row, double v)
    {
        if (std::holds_alternative<int>(row.fallback))
            return int(v);
        return v;
    }

    static QJsonValue json(const Value& value)
    {
        return std::visit([](const auto& v) { return QJsonValue(v); }, value);
    }
};

} // namespace corvessa::test
