#include "support/PrivateBus.h"

#include "platform/core/XdgPaths.h"
#include "platform/dbus/FileManagerReveal.h"
#include "support/TempHome.h"

#include <QDBusConnection>
#include <QFile>
#include <QObject>
#include <QTest>

#include <gtest/gtest.h>

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
        return [this](const QUrl& folder) {
            opened << folder;
            return handlerOpens;
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
