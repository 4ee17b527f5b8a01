#pragma once

#include "platform/FileReveal.h"

#include <QDBusConnection>

#include <functional>

namespace corvessa {

// Shows files selected in the desktop's file manager through
// org.freedesktop.FileManager1 ShowItems on the session bus. Where no file
// manager answers (or there is no bus), it opens the folders that hold them
// with the desktop's default handler instead (xdg-open). Each way taken, and
// its failure, is logged. Main thread.
class FileManagerReveal : public FileReveal {
public:
    // Opens a folder; false when nothing could.
    using FolderOpener = std::function<bool(const QUrl& folder)>;

    static inline const QString service = QStringLiteral("org.freedesktop.FileManager1");
    static inline const QString path = QStringLiteral("/org/freedesktop/FileManager1");
    static inline const QString interface = QStringLiteral("org.freedesktop.FileManager1");

    void showItems(const QStringList& paths, Done done) override;
    void openFolder(const QString& path) override;

    // The same on a given bus, with a given way to open a folder (tests).
    static void showItems(const QStringList& paths, const QDBusConnection& bus, FolderOpener openFolder, Done done = {});
};

} // namespace corvessa
