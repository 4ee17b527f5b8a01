#pragma once

#include <QColor>
#include <QString>

#include <optional>

namespace corvessa {

class RecorderModel;

// What a source control shows, worked out from the model alone: the icon, its
// colour, the short text and the level meter's state. The toolbar's camera,
// microphone and system-audio items and the compact audio controls draw from
// it. A value; built on the main thread.
struct SourceVisual {
    // Colours by role; the widget maps primary and secondary to its palette.
    enum class Tint { warning, orange, primary, secondary };
    struct Meter {
        bool muted = false;
        bool active = false;
        bool operator==(const Meter&) const = default;
    };

    QString symbol;
    Tint iconTint = Tint::secondary;
    // Empty for the compact controls, which show no text.
    QString text;
    Tint textTint = Tint::secondary;
    // Drawn over the icon's bottom-trailing corner in orange; empty for none.
    QString badge;
    // The level meter beside the audio sources; none for the camera.
    std::optional<Meter> meter;

    bool operator==(const SourceVisual&) const = default;

    // A source without permission: a fixed yellow-orange, never the palette's.
    static QColor warningColour() { return QColor::fromRgbF(1.0f, 0.78f, 0.0f, 1.0f); }

    // Device names of 7 or more characters (user-perceived ones, so accents
    // and emoji count once) become their first 6 and "…".
    static QString shortName(const QString& name);

    static SourceVisual camera(const RecorderModel& m);
    static SourceVisual microphone(const RecorderModel& m);
    static SourceVisual systemAudio(const RecorderModel& m);
    // The compact row's audio controls: icon and meter only.
    static SourceVisual compactMic(const RecorderModel& m);
    static SourceVisual compactSystem(const RecorderModel& m);
};

} // namespace corvessa
