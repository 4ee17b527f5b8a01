#pragma once

#include <QDBusConnection>
#include <QStringList>
#include <QUrl>

#include <functional>

namespace corvessa {

// Shows files selected in the desktop's file manager through
// org.freedesktop.FileManager1 ShowItems on the session bus. Where no file
// manager answers, it opens the folders that hold them instead.
class FileReveal {
public:
    using FolderOpener = std::function<bool(const QUrl& folder)>;
    // How it went: true when the file manager took the request.
    using Done = std::function<void(bool viaFileManager)>;

    static inline const QString service = QStringLiteral("org.freedesktop.FileManager1");
    static inline const QString path = QStringLiteral("/org/freedesktop/FileManager1");
    static inline const QString interface = QStringLiteral("org.freedesktop.FileManager1");

    FileReveal() = delete;

    // Main thread; returns at once.
    static void showItems(const QStringList& paths);
    // The same on a given bus, with a given way to open a folder (tests).
    static void showItems(const QStringList& paths, const QDBusConnection& bus, FolderOpener openFolder, Done done = {});

    // The folders holding the files, each once, in the order of the files.
    static QList<QUrl> folders(const QStringList& paths);
};

} // namespace corvessa
