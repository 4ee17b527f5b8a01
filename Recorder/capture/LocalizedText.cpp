#include "capture/LocalizedText.h"

namespace corvessa {

QString localizedText(const TextLookup& text, const QString& english, const QStringList& args)
{
    QString tmpl = text ? text(english) : QString();
    if (tmpl.isEmpty())
        tmpl = english;
    static const QString placeholder = QStringLiteral("%@");
    QString result;
    qsizetype from = 0;
    qsizetype next = 0;
    for (qsizetype at; (at = tmpl.indexOf(placeholder, from)) >= 0; from = at + placeholder.size()) {
        result += QStringView(tmpl).mid(from, at - from);
        if (next < args.size())
            result += args[next++];
    }
    result += QStringView(tmpl).mid(from);
    result.replace(QStringLiteral("%%"), QStringLiteral("%"));
    return result;
}

} // namespace corvessa
