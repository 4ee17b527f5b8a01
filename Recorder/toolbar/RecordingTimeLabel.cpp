#include "toolbar/RecordingTimeLabel.h"

#include "prefs/Loc.h"

#include <QFontDatabase>
#include <QFontMetricsF>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace corvessa {

RecordingTimeLabel::RecordingTimeLabel(const QString& value, QWidget* parent)
    : QWidget(parent)
    , m_value(value)
{
    // Every digit the same width, so the text does not shift while it counts.
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setPixelSize(fontSize);
    setFont(mono);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    setAccessibleName(m_value);
}

void RecordingTimeLabel::setValue(const QString& value)
{
    if (value == m_value)
        return;
    const int oldWidth = sizeHint().width();
    m_value = value;
    setAccessibleName(m_value);
    if (sizeHint().width() != oldWidth)
        updateGeometry();
    update();
}

QString RecordingTimeLabel::sample()
{
    return Loc::text(QStringLiteral("00:00:00"));
}

QString RecordingTimeLabel::time(double seconds)
{
    // 2^63: the first double past the largest 64-bit count.
    constexpr double limit = 9223372036854775808.0;
    if (!std::isfinite(seconds) || seconds < 0 || seconds >= limit)
        return QStringLiteral("00:00:00");
    const auto s = static_cast<std::int64_t>(seconds); // truncates toward zero
    const std::int64_t hours = s / 3600;
    const std::int64_t minutes = s / 60 - hours * 60;
    return QString::asprintf("%02lld:%02lld:%02lld", static_cast<long long>(hours), static_cast<long long>(minutes),
                             static_cast<long long>(s % 60));
}

QSize RecordingTimeLabel::sizeHint() const
{
    const QFontMetricsF fm(font());
    const double width = std::max(fm.horizontalAdvance(sample()), fm.horizontalAdvance(m_value));
    return QSize(int(std::ceil(width)), int(std::ceil(fm.height())));
}

void RecordingTimeLabel::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setPen(palette().color(QPalette::WindowText));
    p.drawText(rect(), Qt::AlignLeading | Qt::AlignVCenter | Qt::TextSingleLine, m_value);
}

} // namespace corvessa
