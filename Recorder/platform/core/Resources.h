#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

namespace corvessa {

// The program's bundled files (translation tables, sounds, cursor art), compiled
// in as Qt resources under ":/". Paths are relative, e.g. "lang/de.json".
class Resources {
public:
    static QString path(const QString& relative);
    static bool exists(const QString& relative);
    // The file's bytes; nothing when it is missing or unreadable.
    static std::optional<QByteArray> bytes(const QString& relative);
    // The names of the files in a resource folder, sorted.
    static QStringList list(const QString& folder);
};

} // namespace corvessa
