#include "app/MenuDump.h"

namespace corvessa {

namespace {

void write(const MenuNodes& entries, int depth, QString& out)
{
    for (const MenuNode& entry : entries) {
        out += QString(depth * 2, QLatin1Char(' ')) + MenuDump::line(entry) + QLatin1Char('\n');
        if (entry.isSubmenu)
            write(entry.provider ? entry.provider() : entry.submenu, depth + 1, out);
    }
}

} // namespace

QString MenuDump::line(const MenuNode& entry)
{
    if (entry.separator)
        return QStringLiteral("---");
    QString text = entry.title;
    if (entry.isSubmenu)
        text += QStringLiteral(" >");
    if (entry.checkable)
        text += entry.checked ? QStringLiteral("  [x]") : QStringLiteral("  [ ]");
    if (!entry.enabled)
        text += QStringLiteral("  (disabled)");
    if (!entry.keyText.isEmpty())
        text += QStringLiteral("  <") + entry.keyText + QLatin1Char('>');
    return text;
}

QString MenuDump::dump(const MenuNodes& entries)
{
    QString out;
    write(entries, 0, out);
    return out;
}

} // namespace corvessa
