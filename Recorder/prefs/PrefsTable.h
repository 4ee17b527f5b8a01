#pragma once

#include "prefs/Prefs.h"

#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <optional>
#include <span>

namespace corvessa {

// One row per setting that is stored as a plain value: its user-defaults key,
// its default, how the stored value is checked at start-up (with the migration
// of older stored forms where there is one) and how a profile's value is
// checked. Prefs reads every row at start-up, and snapshot() and apply() walk
// the rows that travel with a profile, in table order, which is the order a
// profile is applied in. Three rows hold no Prefs setting: the teleprompter's
// values that travel with a profile, read and assigned through
// TeleprompterServices. Immutable; any thread.
class PrefsTable {
public:
    using Key = Prefs::Key;
    using Value = Prefs::Value;

    // How the stored value (the default when absent or of another type) becomes
    // the value at start-up.
    enum class Read {
        asStored,
        clamped,    // into [lo, hi]; not a number gives lo
        inRange,    // kept within [lo, hi], else the default
        atLeastLow, // below lo (or not a number) gives the default; then at most hi
        custom,     // Row::custom: a migration or a value derived from another
    };

    struct Row {
        // The setting, or none for a teleprompter value.
        std::optional<Key> key;
        // The user-defaults key; for a teleprompter value, the key it stores
        // itself under, which is also its name in a profile.
        const char* storeKey = "";
        // Its type is the setting's.
        Value fallback;
        Read read = Read::asStored;
        // The range: at start-up as `read` says; in a profile an integer must
        // lie within it and a number is clamped into it.
        double lo = 0;
        double hi = 0;
        bool inProfile = true;
        // Read::custom: the value at start-up, given the rows read before.
        Value (*custom)(const Prefs& soFar) = nullptr;
        // A profile check beyond the range, or a legacy key to fall back on.
        std::optional<Value> (*customProfile)(const Row& row, const QJsonObject& settings) = nullptr;
        // What a profile's value also sets, after the row's own setter.
        void (*alongside)(Prefs& prefs, const Value& value) = nullptr;
        // A teleprompter value.
        double (*outsideValue)() = nullptr;
        void (*outsideAssign)(double value) = nullptr;

        // The property name, also the key in a profile.
        QString name() const;
        // The value stored under the key, read with the setting's type; none
        // when absent or of another type.
        std::optional<Value> stored() const;
        // Writes a value of the setting's type under the key.
        void write(const Value& value) const;
        // The start-up value from the defaults store (may write a migration back).
        Value startValue(const Prefs& soFar) const;
        // The checked value of a profile, or none when absent, of another type
        // or out of range.
        std::optional<Value> profileValue(const QJsonObject& settings) const;
        // The current value, for a snapshot.
        QJsonValue current(const Prefs& prefs) const;
        // Assigns a checked profile value through the setter (or the
        // teleprompter), then what goes with it.
        void assign(Prefs& prefs, const Value& value) const;
    };

    static std::span<const Row> rows();
    // The row of a stored setting.
    static const Row& row(Key key);

    // The camera size id for a camera resolution: 16:9 above 480, else 640 x 480.
    static QString cameraSizeForRes(int res);
};

} // namespace corvessa
