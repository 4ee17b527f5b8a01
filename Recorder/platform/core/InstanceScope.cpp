#include "platform/core/InstanceScope.h"

#include <QRegularExpression>

namespace corvessa {

QString InstanceScope::current()
{
    return forDisplay(qEnvironmentVariable("DISPLAY"));
}

QString InstanceScope::forDisplay(const QString& display)
{
    QString name = display.trimmed();
    if (name.isEmpty())
        return {};
    // The screen number names a part of the same display.
    static const QRegularExpression screen(QStringLiteral("^(.*:\\d+)\\.\\d+$"));
    if (const auto match = screen.match(name); match.hasMatch())
        name = match.captured(1);
    QString key = QStringLiteral("display_");
    for (const QChar c : name)
        key += c.isLetterOrNumber() && c.unicode() < 128 ? c : QLatin1Char('_');
    // Bus name elements are short; a long host name is cut, the display number kept.
    constexpr int kMaxKey = 120;
    if (key.size() > kMaxKey)
        key = key.left(kMaxKey / 2) + key.right(kMaxKey / 2);
    return key.replace(QStringLiteral("__"), QStringLiteral("_"));
}

} // namespace corvessa
