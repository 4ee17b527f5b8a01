#include "support/PrivateBus.h"

#include "platform/dbus/FileManagerReveal.h"

#include <QDBusConnection>
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
    QList<QUrl> opened;
    std::optional<bool> viaFileManager;

    FileManagerReveal::FolderOpener opener()
    {
        return [this](const QUrl& folder) {
            opened << folder;
            return true;
        };
    }
    FileManagerReveal::Done done()
    {
        return [this](bool via) { viaFileManager = via; };
    }
};

const QStringList kFiles{QStringLiteral("/home/u/Videos/Rec 1.mov"), QStringLiteral("/home/u/Videos/Rec 1 Camera.mov"),
                         QStringLiteral("/tmp/other.mov")};

} // namespace

TEST(FileReveal, FoldersAreListedOnce)
{
    EXPECT_EQ(FileReveal::folders(kFiles),
              (QList<QUrl>{QUrl::fromLocalFile(QStringLiteral("/home/u/Videos")), QUrl::fromLocalFile(QStringLiteral("/tmp"))}));
    EXPECT_TRUE(FileReveal::folders({}).isEmpty());
}

TEST(FileReveal, WithoutABusItOpensTheFolders)
{
    Outcome out;
    FileManagerReveal::showItems(kFiles, PrivateBus::nowhere(), out.opener(), out.done());
    EXPECT_EQ(out.opened, FileReveal::folders(kFiles));
    EXPECT_EQ(out.viaFileManager, false);
}

TEST(FileReveal, WithoutAFileManagerItOpensTheFolders)
{
    PrivateBus bus;
    if (!bus.available())
        GTEST_SKIP() << "no dbus-daemon";
    Outcome out;
    FileManagerReveal::showItems(kFiles, bus.connect(), out.opener(), out.done());
    EXPECT_TRUE(QTest::qWaitFor([&] { return out.viaFileManager.has_value(); }, 10000));
    EXPECT_EQ(out.viaFileManager, false);
    EXPECT_EQ(out.opened, FileReveal::folders(kFiles));
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
    EXPECT_TRUE(QTest::qWaitFor([&] { return out.viaFileManager.has_value(); }, 10000));
    EXPECT_EQ(out.viaFileManager, true);
    EXPECT_TRUE(out.opened.isEmpty());
    EXPECT_EQ(manager.shown, (QStringList{QStringLiteral("file:///home/u/Videos/Rec%201.mov"),
                                          QStringLiteral("file:///home/u/Videos/Rec%201%20Camera.mov"),
                                          QStringLiteral("file:///tmp/other.mov")}));
    service.unregisterObject(FileManagerReveal::path);
}

#include "FileManagerRevealTest.moc"
