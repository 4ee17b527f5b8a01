#pragma once

#include <QColor>
#include <QString>

#include <array>

namespace corvessa {

// The pen's twelve fixed colours, opaque, in sRGB. Every colour lookup clamps its
// index: a negative index means the first entry, one past the end the last.
class PenPalette {
public:
    struct Entry {
        const char* name; // English name, also the translation key
        double r;
        double g;
        double b;
    };

    static constexpr int count = 12;

    PenPalette() = delete;

    static const std::array<Entry, count>& colors();

    static int clampedIndex(int index);
    static const Entry& entry(int index);
    static QColor color(int index);
    // The colour's name in the interface language.
    static QString name(int index);
};

} // namespace corvessa
