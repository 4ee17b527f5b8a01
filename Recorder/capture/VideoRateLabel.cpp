#include "capture/VideoRateLabel.h"

#include <cmath>

namespace corvessa {

QString videoRateLabel(double rate, const TextLookup& text)
{
    const QString number =
        std::isfinite(rate) && rate == std::trunc(rate) ? QString::number(rate, 'f', 0) : QString::number(rate, 'f', 2);
    const QString english = QString::fromLatin1(videoRateLabelKey);
    QString tmpl = text ? text(english) : QString();
    if (tmpl.isEmpty())
        tmpl = english;

    // The table's fill rule: the first "%@" takes the number, any further one
    // nothing, then "%%" becomes "%".
    static const QString placeholder = QStringLiteral("%@");
    QString result;
    qsizetype from = 0;
    bool filled = false;
    for (qsizetype at; (at = tmpl.indexOf(placeholder, from)) >= 0; from = at + placeholder.size()) {
        result += QStringView(tmpl).mid(from, at - from);
        if (!filled)
            result += number;
        filled = true;
    }
    result += QStringView(tmpl).mid(from);
    result.replace(QStringLiteral("%%"), QStringLiteral("%"));
    return result;
}

} // namespace corvessa
