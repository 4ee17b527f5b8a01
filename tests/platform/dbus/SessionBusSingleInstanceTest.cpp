#include "support/PrivateBus.h"

#include "platform/dbus/SessionBusSingleInstance.h"
#include "support/TempHome.h"

#include <QDBusMessage>

#include <gtest/gtest.h>

#include <memory>

using namespace corvessa;
using corvessa::test::PrivateBus;

TEST(SessionBusSingleInstance, ALaterLaunchHandsItsMessageToTheFirst)
{
    PrivateBus bus;
    if (!bus.available())
        GTEST_SKIP() << "no dbus-daemon";
    auto first = std::make_unique<SessionBusSingleInstance>(bus.connect());
    SessionBusSingleInstance later(bus.connect());
    QStringList received;
    bool laterReceived = false;
    ASSERT_TRUE(first->claim([&](const QString& message) { received << message; }));
    EXPECT_FALSE(later.claim([&](const QString&) { laterReceived = true; }));

    EXPECT_TRUE(later.send(QStringLiteral("reopen")));
    EXPECT_TRUE(later.send(QStringLiteral("action:record-screen")));
    EXPECT_EQ(received, (QStringList{QStringLiteral("reopen"), QStringLiteral("action:record-screen")}));

    // Only Message is exported: QObject's own slots stay off the bus.
    QDBusMessage destroy = QDBusMessage::createMethodCall(first->service(), SessionBusSingleInstance::path,
                                                          QString(), QStringLiteral("deleteLater"));
    EXPECT_EQ(bus.connect().call(destroy, QDBus::BlockWithGui).type(), QDBusMessage::ErrorMessage);

    // When the first quits, the next launch holds the session.
    first.reset();
    EXPECT_FALSE(later.send(QStringLiteral("reopen")));
    EXPECT_TRUE(later.claim([&](const QString&) { laterReceived = true; }));
    EXPECT_FALSE(laterReceived);
}

TEST(SessionBusSingleInstance, EachDisplayHasItsOwn)
{
    PrivateBus bus;
    if (!bus.available())
        GTEST_SKIP() << "no dbus-daemon";
    SessionBusSingleInstance first(bus.connect(), QStringLiteral("display_0"));
    SessionBusSingleInstance otherDisplay(bus.connect(), QStringLiteral("display_10"));
    SessionBusSingleInstance sameDisplay(bus.connect(), QStringLiteral("display_0"));
    ASSERT_TRUE(first.claim([](const QString&) {}));
    EXPECT_TRUE(otherDisplay.claim([](const QString&) {}));
    EXPECT_FALSE(sameDisplay.claim([](const QString&) {}));
    EXPECT_EQ(first.service(), QStringLiteral("io.corvessa.Corvessa.display_0"));
}

TEST(SessionBusSingleInstance, WithoutABusTheProgramStillRuns)
{
    corvessa::test::TempHome home; // for the log line
    SessionBusSingleInstance alone(PrivateBus::nowhere());
    EXPECT_TRUE(alone.claim([](const QString&) {}));
    EXPECT_FALSE(alone.send(QStringLiteral("reopen")));
}
