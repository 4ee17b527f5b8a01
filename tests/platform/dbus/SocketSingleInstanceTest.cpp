#include "platform/dbus/SocketSingleInstance.h"

#include "platform/core/XdgPaths.h"
#include "support/TempHome.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace corvessa;
using corvessa::test::TempHome;

namespace {

sockaddr_un addressOf(const QString& path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray bytes = QFile::encodeName(path);
    std::memcpy(address.sun_path, bytes.constData(), size_t(bytes.size()));
    return address;
}

// Writes raw bytes to whoever listens at the path, as a foreign or broken client would.
void writeRaw(const QString& path, const QByteArray& bytes)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_un address = addressOf(path);
    ASSERT_EQ(::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)), 0);
    ASSERT_EQ(::write(fd, bytes.constData(), size_t(bytes.size())), bytes.size());
    ::close(fd);
}

} // namespace

TEST(SocketSingleInstance, ALaterLaunchHandsItsMessageToTheFirst)
{
    TempHome home;
    const QString path = home.file(QStringLiteral("corvessa.sock"));
    auto first = std::make_unique<SocketSingleInstance>(path);
    SocketSingleInstance later(path);
    QStringList received;
    ASSERT_TRUE(first->claim([&](const QString& message) { received << message; }));
    EXPECT_FALSE(later.claim([](const QString&) {}));

    EXPECT_TRUE(later.send(QStringLiteral("reopen")));
    EXPECT_TRUE(later.send(QStringLiteral("action:record-screen")));
    EXPECT_TRUE(QTest::qWaitFor([&] { return received.size() >= 2; }, 10000));
    // Looking for a holder while claiming carried no message.
    EXPECT_EQ(received, (QStringList{QStringLiteral("reopen"), QStringLiteral("action:record-screen")}));

    first.reset();
    EXPECT_FALSE(QFile::exists(path)) << "the holder cleans up";
    EXPECT_FALSE(later.send(QStringLiteral("reopen")));
    EXPECT_TRUE(later.claim([](const QString&) {}));
}

TEST(SocketSingleInstance, TakesOverTheSocketOfADeadInstance)
{
    TempHome home;
    const QString path = home.file(QStringLiteral("corvessa.sock"));
    {
        // Bound and never unlinked, as a crashed instance leaves it.
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        const sockaddr_un address = addressOf(path);
        ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)), 0);
        ::close(fd);
    }
    SocketSingleInstance instance(path);
    QStringList received;
    ASSERT_TRUE(instance.claim([&](const QString& message) { received << message; }));
    EXPECT_TRUE(instance.isListening());
    EXPECT_TRUE(SocketSingleInstance(path).send(QStringLiteral("reopen")));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !received.isEmpty(); }, 10000));
    EXPECT_EQ(received, QStringList{QStringLiteral("reopen")});
}

TEST(SocketSingleInstance, LivesInTheRuntimeFolderElseTheStateFolder)
{
    TempHome home;
    qputenv("XDG_RUNTIME_DIR", home.file(QStringLiteral("run")).toLocal8Bit());
    EXPECT_EQ(SocketSingleInstance::defaultPath(), home.file(QStringLiteral("run/corvessa.sock")));
    qunsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(SocketSingleInstance::defaultPath(), QDir(XdgPaths::logDir()).filePath(QStringLiteral("corvessa.sock")));
    SocketSingleInstance instance;
    EXPECT_TRUE(instance.claim([](const QString&) {}));
    EXPECT_TRUE(instance.isListening()) << "the state folder is made when missing";
}

TEST(SocketSingleInstance, NonsenseIsRefusedAndNothingIsLost)
{
    TempHome home;
    // Not a socket at the path: left alone, and the program runs unguarded.
    const QString file = home.file(QStringLiteral("corvessa.sock"));
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("keep me");
    }
    SocketSingleInstance squatted(file);
    EXPECT_TRUE(squatted.claim([](const QString&) {}));
    EXPECT_FALSE(squatted.isListening());
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), "keep me");

    SocketSingleInstance tooLong(home.file(QString(200, QLatin1Char('x'))));
    EXPECT_TRUE(tooLong.claim([](const QString&) {}));
    EXPECT_FALSE(tooLong.send(QStringLiteral("reopen")));

    const QString path = home.file(QStringLiteral("good.sock"));
    SocketSingleInstance holder(path);
    QStringList received;
    ASSERT_TRUE(holder.claim([&](const QString& message) { received << message; }));
    EXPECT_FALSE(SocketSingleInstance(path).send(QString(SocketSingleInstance::maxMessageBytes + 1, QLatin1Char('a'))));
    writeRaw(path, QByteArray(SocketSingleInstance::maxMessageBytes + 10, 'a') + '\n');
    writeRaw(path, "cut off before its line feed");
    writeRaw(path, "\xff\xfe bytes\n");
    EXPECT_TRUE(SocketSingleInstance(path).send(QStringLiteral("reopen")));
    EXPECT_TRUE(QTest::qWaitFor([&] { return received.contains(QStringLiteral("reopen")); }, 10000));
    EXPECT_FALSE(received.contains(QStringLiteral("cut off before its line feed")));
    for (const QString& message : received)
        EXPECT_LE(message.size(), SocketSingleInstance::maxMessageBytes);
}
