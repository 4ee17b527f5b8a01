#include "platform/core/InstanceScope.h"
#include "platform/dbus/SocketSingleInstance.h"

#include "platform/core/XdgPaths.h"
#include "support/TempHome.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <QRegularExpression>

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
    EXPECT_EQ(SocketSingleInstance::defaultPath(QString()), home.file(QStringLiteral("run/corvessa.sock")));
    EXPECT_EQ(SocketSingleInstance::defaultPath(QStringLiteral("display_3")),
              home.file(QStringLiteral("run/corvessa-display_3.sock")));
    qunsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(SocketSingleInstance::defaultPath(QString()), QDir(XdgPaths::logDir()).filePath(QStringLiteral("corvessa.sock")));
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

namespace {

// One program per user and display: the screens of one display share it,
// other displays (another X session of the same user) have their own.
TEST(InstanceScope, OnePerDisplay)
{
    struct Case {
        const char* display;
        const char* scope;
    };
    const Case cases[] = {{"", ""},
                          {":0", "display_0"},
                          {":0.1", "display_0"},
                          {":10", "display_10"},
                          {"host.example:10.0", "display_host_example_10"},
                          {"unix:1", "display_unix_1"}};
    for (const Case& c : cases)
        EXPECT_EQ(corvessa::InstanceScope::forDisplay(QString::fromUtf8(c.display)), QString::fromUtf8(c.scope)) << c.display;
    // Whatever DISPLAY holds, the scope is a valid bus name element and file name.
    for (const char* odd : {"::", "/tmp/x:0", "host:0.0.0", "\xc3\xa9:1", ":99999999999999999999999999999999999999999999999999999999999999999999999999999999999999999999999999999999999999999999999999999999999999"}) {
        const QString scope = corvessa::InstanceScope::forDisplay(QString::fromUtf8(odd));
        EXPECT_LE(scope.size(), 120) << odd;
        EXPECT_TRUE(QRegularExpression(QStringLiteral("^display_[A-Za-z0-9_]*$")).match(scope).hasMatch()) << odd;
    }
}

} // namespace
