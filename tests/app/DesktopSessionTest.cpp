#include "app/DesktopSession.h"
#include "support/English.h"

#include <gtest/gtest.h>

using namespace corvessa;

namespace {

QProcessEnvironment environment(std::initializer_list<std::pair<const char*, const char*>> values)
{
    QProcessEnvironment env;
    for (const auto& [name, value] : values)
        env.insert(QString::fromLatin1(name), QString::fromLatin1(value));
    return env;
}

} // namespace

// Capture goes through X11, so in a Wayland session the interface must be on
// XWayland too: Qt's xcb platform, also over a desktop's blanket request for
// Wayland, but never over a platform chosen for another reason.
TEST(DesktopSession, AWaylandSessionRunsTheInterfaceOnXWayland)
{
    struct Case {
        QProcessEnvironment env;
        bool wayland;
        const char* platform;
    };
    const Case cases[] = {
        {environment({}), false, ""},
        {environment({{"XDG_SESSION_TYPE", "x11"}, {"DISPLAY", ":0"}}), false, ""},
        {environment({{"XDG_SESSION_TYPE", "x11"}, {"QT_QPA_PLATFORM", "wayland"}}), false, ""},
        {environment({{"XDG_SESSION_TYPE", "wayland"}}), true, "xcb"},
        {environment({{"XDG_SESSION_TYPE", "Wayland"}}), true, "xcb"},
        {environment({{"XDG_SESSION_TYPE", "tty"}, {"WAYLAND_DISPLAY", "wayland-0"}}), true, "xcb"},
        {environment({{"WAYLAND_DISPLAY", "wayland-0"}, {"QT_QPA_PLATFORM", "wayland"}}), true, "xcb"},
        {environment({{"WAYLAND_DISPLAY", "wayland-0"}, {"QT_QPA_PLATFORM", "wayland;xcb"}}), true, "xcb"},
        {environment({{"WAYLAND_DISPLAY", "wayland-0"}, {"QT_QPA_PLATFORM", "xcb"}}), true, ""},
        {environment({{"WAYLAND_DISPLAY", "wayland-0"}, {"QT_QPA_PLATFORM", "offscreen"}}), true, ""},
        {environment({{"WAYLAND_DISPLAY", ""}, {"XDG_SESSION_TYPE", ""}}), false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.env.toStringList().join(QLatin1Char(' ')).toStdString());
        EXPECT_EQ(DesktopSession::isWayland(c.env), c.wayland);
        EXPECT_EQ(DesktopSession::forcedPlatform(c.env), QLatin1String(c.platform));
    }
    test::useEnglish();
    EXPECT_EQ(DesktopSession::waylandNotice(), QStringLiteral("This is a Wayland session: recordings show only X11 windows."));
}
