#pragma once

#include <QString>
#include <QWidget>

namespace corvessa {

// The elapsed time of the recording row. Laid out over an invisible
// "00:00:00" so its width does not jump while the digits change: it is as wide
// as the wider of the two, at its ideal width horizontally and following the
// parent vertically. The value is shown as given; screen readers get only the
// value. Drawn in the palette's window-text colour. Main thread.
class RecordingTimeLabel : public QWidget {
public:
    static constexpr int fontSize = 15;

    explicit RecordingTimeLabel(const QString& value = {}, QWidget* parent = nullptr);

    QString value() const { return m_value; }
    void setValue(const QString& value);

    // The sample that sets the least width (translated: some languages write
    // other digits).
    static QString sample();

    // "HH:MM:SS" for a number of seconds, fractions dropped; hours keep going
    // past 99. Input that is no time (negative, not finite, or beyond a 64-bit
    // count of seconds) shows "00:00:00".
    static QString time(double seconds);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_value;
};

} // namespace corvessa
