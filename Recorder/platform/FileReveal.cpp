#include "platform/FileReveal.h"

#include <QFileInfo>

namespace corvessa {

QList<QUrl> FileReveal::folders(const QStringList& paths)
{
    QList<QUrl> out;
    for (const QString& p : paths) {
        const QUrl folder = QUrl::fromLocalFile(QFileInfo(p).absolutePath());
        if (!out.contains(folder))
            out.append(folder);
    }
    return out;
}

} // namespace corvessa
