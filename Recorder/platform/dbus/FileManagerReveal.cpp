#include "platform/dbus/FileManagerReveal.h"

#include "platform/core/RecorderLog.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QFileInfo>
#include <QProcess>
#include <QTimer>

#include <memory>
#include <utility>

namespace corvessa {

namespace {

// A file manager started by bus activation can take a few seconds to answer.
constexpr int kCallTimeoutMs = 10000;

void log(const QString& line)
{
    RecorderLog::write(QStringLiteral("[reveal] ") + line);
}

void openLogged(const QUrl& folder, const FileManagerReveal::FolderOpener& open, const QString& why,
                std::function<void(bool)> done)
{
    open(folder, [folder, why, done = std::move(done)](bool opened) {
        log(QStringLiteral("%1; %2 %3 with the desktop's default handler")
                .arg(why, opened ? QStringLiteral("opened") : QStringLiteral("could not open"), folder.toLocalFile()));
        if (done)
            done(opened);
    });
}

// The fallback: every folder opened by the desktop's default handler, all at
// once. Tells, when the last has answered, whether each one was.
void openFolders(const QStringList& paths, const FileManagerReveal::FolderOpener& open, const QString& why,
                 FileReveal::Done done)
{
    const QList<QUrl> folders = FileReveal::folders(paths);
    struct Tally {
        qsizetype left;
        bool all = true;
        FileReveal::Done done;
    };
    auto tally = std::make_shared<Tally>(Tally{folders.size(), true, std::move(done)});
    for (const QUrl& folder : folders) {
        openLogged(folder, open, why, [tally](bool opened) {
            tally->all = tally->all && opened;
            if (--tally->left == 0 && tally->done)
                tally->done(tally->all);
        });
    }
}

} // namespace

void FileManagerReveal::openWithDesktop(const QUrl& folder, std::function<void(bool opened)> done)
{
    // QDesktopServices would say only that xdg-open started; its exit status
    // says whether a handler took the folder (3 when none is there).
    auto* opener = new QProcess;
    opener->setProgram(QStringLiteral("xdg-open"));
    opener->setArguments({folder.isLocalFile() ? folder.toLocalFile() : folder.toString()});
    opener->setStandardInputFile(QProcess::nullDevice());
    opener->setStandardOutputFile(QProcess::nullDevice());
    opener->setStandardErrorFile(QProcess::nullDevice());
    auto once = std::make_shared<std::function<void(bool)>>(std::move(done));
    const auto tell = [once](bool opened) {
        if (const auto d = std::exchange(*once, nullptr))
            d(opened);
    };
    QObject::connect(opener, &QProcess::finished, opener, [opener, tell](int code, QProcess::ExitStatus status) {
        if (code != 0 || status != QProcess::NormalExit)
            log(QStringLiteral("xdg-open %1 %2").arg(status == QProcess::NormalExit ? QStringLiteral("exited with")
                                                                                    : QStringLiteral("died of signal"))
                    .arg(code));
        tell(code == 0 && status == QProcess::NormalExit);
        opener->deleteLater();
    });
    QObject::connect(opener, &QProcess::errorOccurred, opener, [opener, tell](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart)
            return;
        log(QStringLiteral("xdg-open could not be started (%1)").arg(opener->errorString()));
        tell(false);
        opener->deleteLater();
    });
    QTimer::singleShot(openerPatienceMs, opener, [tell] { tell(true); });
    opener->start();
}

void FileManagerReveal::showItems(const QStringList& paths, Done done)
{
    showItems(paths, QDBusConnection::sessionBus(), openWithDesktop, std::move(done));
}

void FileManagerReveal::openFolder(const QString& path, Done done)
{
    openLogged(QUrl::fromLocalFile(path), openWithDesktop, QStringLiteral("a folder to show"), std::move(done));
}

void FileManagerReveal::showItems(const QStringList& paths, const QDBusConnection& bus, FolderOpener openFolder, Done done)
{
    if (paths.isEmpty()) {
        if (done)
            done(false);
        return;
    }
    if (!bus.isConnected()) {
        openFolders(paths, openFolder, QStringLiteral("no session bus"), std::move(done));
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
                         watcher->deleteLater();
                         if (watcher->isError()) {
                             openFolders(paths, openFolder,
                                         QStringLiteral("no file manager answered (%1)").arg(watcher->error().name()), done);
                             return;
                         }
                         log(QStringLiteral("the file manager shows %1 file(s)").arg(paths.size()));
                         if (done)
                             done(true);
                     });
}

} // namespace corvessa
