#include "platform/core/Resources.h"

#include <QDir>
#include <QFile>

namespace corvessa {

QString Resources::path(const QString& relative)
{
    return QStringLiteral(":/") + relative;
}

bool Resources::exists(const QString& relative)
{
    return QFile::exists(path(relative));
}

std::optional<QByteArray> Resources::bytes(const QString& relative)
{
    QFile f(path(relative));
    if (!f.open(QIODevice::ReadOnly))
        return std::nullopt;
    return f.readAll();
}

QStringList Resources::list(const QString& folder)
{
    return QDir(path(folder)).entryList(QDir::Files, QDir::Name);
}

} // namespace corvessa
