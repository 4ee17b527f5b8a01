#pragma once

#include <QString>

namespace corvessa {

// The teleprompter's settings that travel with a profile. The teleprompter
// lives in the tools library above this one, so it implements this interface
// and registers itself when it is created. Until then the settings are read
// from and written to the user-defaults keys the teleprompter reads at its
// creation, so a profile applied early is still in force once it exists.
// Setters store exactly what they are given. Main thread only.
class TeleprompterServices {
public:
    static inline const QString speedKey = QStringLiteral("prompterSpeed");
    static inline const QString opacityKey = QStringLiteral("prompterOpacity");
    static inline const QString fontSizeKey = QStringLiteral("prompterFont");
    static constexpr double defaultSpeed = 40;
    static constexpr double defaultOpacity = 0.85;
    static constexpr double defaultFontSize = 26;

    virtual ~TeleprompterServices() = default;

    // Scrolling speed in points per second.
    virtual double speed() const = 0;
    virtual void setSpeed(double value) = 0;
    // The panel's alpha; setting it also applies it to the panel when shown.
    virtual double opacity() const = 0;
    virtual void setOpacity(double value) = 0;
    // The script's font size in points.
    virtual double fontSize() const = 0;
    virtual void setFontSize(double value) = 0;

    // The registered teleprompter, or null.
    static TeleprompterServices* shared();
    // Registers the teleprompter (null unregisters). The caller keeps ownership
    // and unregisters before the object goes away.
    static void setShared(TeleprompterServices* services);

    // The current values: the registered teleprompter's, else the stored ones
    // (a missing or non-number value gives the default).
    static double currentSpeed();
    static double currentOpacity();
    static double currentFontSize();
    // Assigns through the registered teleprompter, else stores the value.
    static void assignSpeed(double value);
    static void assignOpacity(double value);
    static void assignFontSize(double value);
};

} // namespace corvessa
