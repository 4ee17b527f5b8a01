#pragma once

#include "model/Meters.h"

#include <QColor>
#include <QPointer>
#include <QWidget>

namespace corvessa {


// What the three level meters share: which channel they show (microphone or
// system audio), whether it is muted (then the level before the gain shows, in
// orange), and a redraw whenever the published meters change or the
// once-a-second tick lets a hold or clip lamp time out. Main thread.
class MeterView : public QWidget {
public:
    bool isMic() const { return m_isMic; }
    bool isMuted() const { return m_muted; }
    void setMuted(bool muted);
    // Whether the source is on (HMeter is always active).
    bool isActive() const { return m_active; }
    void setActive(bool active);

    // The meter read (silent once the store is gone), the level shown (before
    // the gain when muted) and whether its clip lamp is lit now.
    ChannelMeter meter() const;
    float shownLevel() const;
    bool clipLit() const;

    // The meter colours (system orange, red, yellow, green).
    static QColor orange();
    static QColor red();
    static QColor yellow();
    static QColor green();
    // The colour of a lit step whose threshold is `g` (0 ... 1): red above 0.9,
    // yellow above 0.7, else green.
    static QColor levelColour(double g);
    static QColor withOpacity(QColor c, double opacity);

protected:
    MeterView(Meters& meters, bool isMic, bool muted, bool active, QWidget* parent);

    Meters* meters() const { return m_meters; }
    // The palette's text colour at `opacity`; secondary() is the dimmer text.
    QColor primary(double opacity = 1) const;
    QColor secondary(double opacity = 1) const;

private:
    QPointer<Meters> m_meters;
    bool m_isMic;
    bool m_muted;
    bool m_active;
};

} // namespace corvessa
