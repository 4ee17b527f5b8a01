#pragma once

#include "platform/FileReveal.h"

#include <QDBusConnection>

#include <functional>

namespace corvessa {

// Shows files selected in the desktop's file manager through
// org.freedesktop.FileManager1 ShowItems on the session bus. Where no file
// manager answers, it opens the folders that hold them instead. Main thread.
class FileManagerReveal : public FileReveal {
public:
    using FolderOpener = std::function<bool(const QUrl& folder)>;
    // How it went: true when the file manager took the request.
    using Done = std::function<void(bool viaFileManager)>;

    static inline const QString service = QStringLiteral("org.freedesktop.FileManager1");
    static inline const QString path = QStringLiteral("/org/freedesktop/FileManager1");
    static inline const QString interface = QStringLiteral("org.freedesktop.FileManager1");

    void showItems(const QStringList& paths) override;
    void openFolder(const QString& path) override;

    // The same on a given bus, with a given way to open a folder (tests).
    static void showItems(const QStringList& paths, const QDBusConnection& bus, FolderOpener openFolder, Done done = {});
};

} // namespace corvessa
