#include "support/PrivateBus.h"

#include "platform/core/XdgPaths.h"
#include "platform/dbus/FileManagerReveal.h"
#include "support/TempHome.h"

#include <QDBusConnection>
#include <QFile>
#include <QObject>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

using namespace corvessa;
using corvessa::test::PrivateBus;

namespace {

class FakeFileManager : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")

public:
    QStringList shown;

public slots:
    void ShowItems(const QStringList& uris, const QString& startupId)
    {
        Q_UNUSED(startupId);
        shown << uris;
    }
};

struct Outcome {
    bool handlerOpens = true; // whether the desktop's default handler opens folders
    QList<QUrl> opened;
    std::optional<bool> shown;

    FileManagerReveal::FolderOpener opener()
    {
        return [this](const QUrl& folder, std::function<void(bool)> done) {
            opened << folder;
            done(handlerOpens);
        };
    }
    FileManagerReveal::Done done()
    {
        return [this](bool s) { shown = s; };
    }
};

QStringList revealLines()
{
    QFile log(XdgPaths::logFile());
    if (!log.open(QIODevice::ReadOnly))
        return {};
    QStringList out;
    for (const QByteArray& line : log.readAll().split('\n')) {
        if (line.contains("[reveal]"))
            out << QString::fromUtf8(line).section(QLatin1Char(' '), 1); // without the time stamp
    }
    return out;
}

const QStringList kFiles{QStringLiteral("/home/u/Videos/Rec 1.mov"), QStringLiteral("/home/u/Videos/Rec 1 Camera.mov"),
                         QStringLiteral("/tmp/other.mov")};

} // namespace

TEST(FileReveal, FoldersAreListedOnce)
{
    EXPECT_EQ(FileReveal::folders(kFiles),
              (QList<QUrl>{QUrl::fromLocalFile(QStringLiteral("/home/u/Videos")), QUrl::fromLocalFile(QStringLiteral("/tmp"))}));
    EXPECT_TRUE(FileReveal::folders({}).isEmpty());
}

// Each way taken is logged; the request counts as shown when the default
// handler opened every folder, and as failed when it opened none or some.
TEST(FileReveal, WithoutABusItOpensTheFoldersAndSaysHowItWent)
{
    test::TempHome home;
    for (const bool handlerOpens : {true, false}) {
        Outcome out{handlerOpens};
        FileManagerReveal::showItems(kFiles, PrivateBus::nowhere(), out.opener(), out.done());
        EXPECT_EQ(out.opened, FileReveal::folders(kFiles));
        EXPECT_EQ(out.shown, handlerOpens);
    }
    EXPECT_EQ(revealLines(),
              (QStringList{QStringLiteral("[reveal] no session bus; opened /home/u/Videos with the desktop's default handler"),
                           QStringLiteral("[reveal] no session bus; opened /tmp with the desktop's default handler"),
                           QStringLiteral("[reveal] no session bus; could not open /home/u/Videos with the desktop's default handler"),
                           QStringLiteral("[reveal] no session bus; could not open /tmp with the desktop's default handler")}));
}

TEST(FileReveal, WithoutAFileManagerItOpensTheFolders)
{
    PrivateBus bus;
    if (!bus.available())
        GTEST_SKIP() << "no dbus-daemon";
    test::TempHome home;
    for (const bool handlerOpens : {true, false}) {
        Outcome out{handlerOpens};
        FileManagerReveal::showItems(kFiles, bus.connect(), out.opener(), out.done());
        EXPECT_TRUE(QTest::qWaitFor([&] { return out.shown.has_value(); }, 10000));
        EXPECT_EQ(out.shown, handlerOpens);
        EXPECT_EQ(out.opened, FileReveal::folders(kFiles));
    }
    const QStringList lines = revealLines();
    ASSERT_EQ(lines.size(), 4);
    EXPECT_TRUE(lines[0].startsWith(QStringLiteral("[reveal] no file manager answered (org.freedesktop.DBus.Error.ServiceUnknown); opened ")))
        << lines[0].toStdString();
    EXPECT_TRUE(lines[3].contains(QStringLiteral("could not open /tmp"))) << lines[3].toStdString();
}

// Starting xdg-open says nothing: without a handler for folders (a bare window
// manager) it exits 3, and the reveal must then report a failure, not an
// opened folder. Here a stand-in xdg-open first in PATH exits as told.
TEST(FileReveal, TheOpenersExitStatusSaysWhetherTheFolderOpened)
{
    test::TempHome home;
    QTemporaryDir bin;
    ASSERT_TRUE(bin.isValid());
    const QString opener = bin.filePath(QStringLiteral("xdg-open"));
    {
        QFile script(opener);
        ASSERT_TRUE(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\necho \"$1\" >> \"$(dirname \"$0\")/asked\"\nexit \"$(cat \"$(dirname \"$0\")/status\")\"\n");
        ASSERT_TRUE(script.setPermissions(script.permissions() | QFileDevice::ExeOwner));
    }
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(bin.path()) + ':' + path);
    const auto reveal = [&](const QByteArray& status, const std::function<void(FileReveal::Done)>& ask) {
        QFile statusFile(bin.filePath(QStringLiteral("status")));
        EXPECT_TRUE(statusFile.open(QIODevice::WriteOnly | QIODevice::Truncate));
        statusFile.write(status);
        statusFile.close();
        std::optional<bool> shown;
        ask([&](bool s) { shown = s; });
        EXPECT_TRUE(QTest::qWaitFor([&] { return shown.has_value(); }, 20000));
        return shown.value_or(true);
    };
    const auto showItems = [](FileReveal::Done done) {
        FileManagerReveal::showItems(kFiles, PrivateBus::nowhere(), FileManagerReveal::openWithDesktop, std::move(done));
    };
    const auto openFolder = [](FileReveal::Done done) { FileManagerReveal().openFolder(QStringLiteral("/home/u/Videos"), std::move(done)); };
    EXPECT_FALSE(reveal("3", showItems));
    EXPECT_TRUE(reveal("0", showItems));
    EXPECT_FALSE(reveal("3", openFolder));
    EXPECT_TRUE(reveal("0", openFolder));
    // No xdg-open at all.
    qputenv("PATH", QFile::encodeName(bin.path()));
    QFile::remove(opener);
    EXPECT_FALSE(reveal("0", openFolder));
    qputenv("PATH", path);

    QFile asked(bin.filePath(QStringLiteral("asked")));
    ASSERT_TRUE(asked.open(QIODevice::ReadOnly));
    // The folders of one request are opened side by side.
    QList<QByteArray> folders = asked.readAll().split('\n');
    std::sort(folders.begin(), folders.end());
    EXPECT_EQ(folders, (QList<QByteArray>{"", "/home/u/Videos", "/home/u/Videos", "/home/u/Videos", "/home/u/Videos", "/tmp", "/tmp"}));
    const QStringList lines = revealLines();
    EXPECT_EQ(lines.filter(QStringLiteral("xdg-open exited with 3")).size(), 3);
    EXPECT_EQ(lines.filter(QStringLiteral("could not open /home/u/Videos with the desktop's default handler")).size(), 3);
    EXPECT_EQ(lines.filter(QStringLiteral("xdg-open could not be started")).size(), 1);
}

TEST(FileReveal, AsksTheFileManagerToSelectTheFiles)
{
    PrivateBus bus;
    if (!bus.available())
        GTEST_SKIP() << "no dbus-daemon";
    FakeFileManager manager;
    QDBusConnection service = bus.connect();
    ASSERT_TRUE(service.registerService(FileManagerReveal::service));
    ASSERT_TRUE(service.registerObject(FileManagerReveal::path, &manager, QDBusConnection::ExportAllSlots));

    Outcome out;
    FileManagerReveal::showItems(kFiles, bus.connect(), out.opener(), out.done());
    EXPECT_TRUE(QTest::qWaitFor([&] { return out.shown.has_value(); }, 10000));
    EXPECT_EQ(out.shown, true);
    EXPECT_TRUE(out.opened.isEmpty());
    EXPECT_EQ(manager.shown, (QStringList{QStringLiteral("file:///home/u/Videos/Rec%201.mov"),
                                          QStringLiteral("file:///home/u/Videos/Rec%201%20Camera.mov"),
                                          QStringLiteral("file:///tmp/other.mov")}));
    service.unregisterObject(FileManagerReveal::path);
}

#include "FileManagerRevealTest.moc"
