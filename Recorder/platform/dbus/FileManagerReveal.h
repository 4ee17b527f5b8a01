#pragma once

#include "platform/FileReveal.h"

#include <QDBusConnection>

#include <functional>

namespace corvessa {

// Shows files selected in the desktop's file manager through
// org.freedesktop.FileManager1 ShowItems on the session bus. Where no file
// manager answers (or there is no bus), it opens the folders that hold them
// with the desktop's default handler instead: xdg-open, whose exit status says
// whether a handler took the folder. Each way taken, and its failure, is
// logged. Main thread.
class FileManagerReveal : public FileReveal {
public:
    // Opens a folder, then tells (once, on the main thread) whether it was.
    using FolderOpener = std::function<void(const QUrl& folder, std::function<void(bool opened)> done)>;

    // xdg-open that has not ended by then has started a handler that stays
    // (some run the file manager in the foreground): the folder counts as
    // opened, and the opener is left to run.
    static constexpr int openerPatienceMs = 8000;

    static inline const QString service = QStringLiteral("org.freedesktop.FileManager1");
    static inline const QString path = QStringLiteral("/org/freedesktop/FileManager1");
    static inline const QString interface = QStringLiteral("org.freedesktop.FileManager1");

    void showItems(const QStringList& paths, Done done) override;
    void openFolder(const QString& path, Done done) override;

    // The same on a given bus, with a given way to open a folder (tests).
    static void showItems(const QStringList& paths, const QDBusConnection& bus, FolderOpener openFolder, Done done = {});
    // Opens a folder with xdg-open found in PATH.
    static void openWithDesktop(const QUrl& folder, std::function<void(bool opened)> done);
};

} // namespace corvessa
