#include "platform/dbus/FileManagerReveal.h"

#include "platform/core/RecorderLog.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QFileInfo>

namespace corvessa {

namespace {

// A file manager started by bus activation can take a few seconds to answer.
constexpr int kCallTimeoutMs = 10000;

void log(const QString& line)
{
    RecorderLog::write(QStringLiteral("[reveal] ") + line);
}

bool openLogged(const QUrl& folder, const FileManagerReveal::FolderOpener& open, const QString& why)
{
    const bool opened = open(folder);
    log(QStringLiteral("%1; %2 %3 with the desktop's default handler")
            .arg(why, opened ? QStringLiteral("opened") : QStringLiteral("could not open"), folder.toLocalFile()));
    return opened;
}

// The fallback: every folder opened by the desktop's default handler. True
// when each one was.
bool openFolders(const QStringList& paths, const FileManagerReveal::FolderOpener& open, const QString& why)
{
    bool all = true;
    for (const QUrl& folder : FileReveal::folders(paths))
        all = openLogged(folder, open, why) && all;
    return all;
}

bool openWithDesktop(const QUrl& folder)
{
    // Qt runs xdg-open (or the desktop's own opener); false when there is none.
    return QDesktopServices::openUrl(folder);
}

} // namespace

void FileManagerReveal::showItems(const QStringList& paths, Done done)
{
    showItems(paths, QDBusConnection::sessionBus(), openWithDesktop, std::move(done));
}

void FileManagerReveal::openFolder(const QString& path)
{
    openLogged(QUrl::fromLocalFile(path), openWithDesktop, QStringLiteral("a folder to show"));
}

void FileManagerReveal::showItems(const QStringList& paths, const QDBusConnection& bus, FolderOpener openFolder, Done done)
{
    if (paths.isEmpty()) {
        if (done)
            done(false);
        return;
    }
    if (!bus.isConnected()) {
        const bool opened = openFolders(paths, openFolder, QStringLiteral("no session bus"));
        if (done)
            done(opened);
        return;
    }
    QStringList uris;
    for (const QString& p : paths)
        uris << QUrl::fromLocalFile(QFileInfo(p).absoluteFilePath()).toString(QUrl::FullyEncoded);
    QDBusMessage call = QDBusMessage::createMethodCall(service, path, interface, QStringLiteral("ShowItems"));
    call << uris << QString(); // no startup notification id
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, kCallTimeoutMs));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [watcher, paths, openFolder = std::move(openFolder), done = std::move(done)] {
                         bool shown = !watcher->isError();
                         if (shown)
                             log(QStringLiteral("the file manager shows %1 file(s)").arg(paths.size()));
                         else
                             shown = openFolders(paths, openFolder,
                                                 QStringLiteral("no file manager answered (%1)").arg(watcher->error().name()));
                         if (done)
                             done(shown);
                         watcher->deleteLater();
                     });
}

} // namespace corvessa
