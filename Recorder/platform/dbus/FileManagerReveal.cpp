#include "platform/dbus/FileManagerReveal.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QFileInfo>

namespace corvessa {

namespace {

// A file manager started by bus activation can take a few seconds to answer.
constexpr int kCallTimeoutMs = 10000;

void openFolders(const QStringList& paths, const FileManagerReveal::FolderOpener& open)
{
    for (const QUrl& folder : FileReveal::folders(paths))
        open(folder);
}

bool openWithDesktop(const QUrl& folder)
{
    return QDesktopServices::openUrl(folder);
}

} // namespace

void FileManagerReveal::showItems(const QStringList& paths)
{
    showItems(paths, QDBusConnection::sessionBus(), openWithDesktop);
}

void FileManagerReveal::openFolder(const QString& path)
{
    openWithDesktop(QUrl::fromLocalFile(path));
}

void FileManagerReveal::showItems(const QStringList& paths, const QDBusConnection& bus, FolderOpener openFolder, Done done)
{
    if (paths.isEmpty()) {
        if (done)
            done(false);
        return;
    }
    if (!bus.isConnected()) {
        openFolders(paths, openFolder);
        if (done)
            done(false);
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
                         const bool ok = !watcher->isError();
                         if (!ok)
                             openFolders(paths, openFolder);
                         if (done)
                             done(ok);
                         watcher->deleteLater();
                     });
}

} // namespace corvessa
