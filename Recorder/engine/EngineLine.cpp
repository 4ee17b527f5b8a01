#include "engine/EngineLine.h"

#include <QStringList>

namespace corvessa {

namespace {

const QString kValue = QStringLiteral("%@");

} // namespace

QString EngineLine::operator()(std::initializer_list<QString> values) const
{
    // Split first, so that nothing a value brings is taken for a placeholder.
    const QStringList parts = QString::fromUtf8(m_text).split(kValue);
    QString line = parts.front();
    auto value = values.begin();
    for (qsizetype i = 1; i < parts.size(); ++i) {
        if (value != values.end())
            line += *value++;
        line += parts[i];
    }
    return line;
}

QString EngineLine::prefix() const
{
    return QString::fromUtf8(m_text).section(kValue, 0, 0);
}

QString EngineLine::reason(const std::optional<RecorderError>& error)
{
    return error && !error->message.isEmpty() ? error->message : QStringLiteral("?");
}

} // namespace corvessa
