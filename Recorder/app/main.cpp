#include "app/AppShell.h"
#include "app/DesktopSession.h"
#include "app/LaunchArguments.h"
#include "platform/DialogPlacement.h"
#include "platform/widgets/DialogFrames.h"
#include "platform/PlatformLoader.h"
#include "platform/SingleInstance.h"
#include "platform/core/ProcessServices.h"
#include "prefs/Loc.h"

#include <QApplication>
#include <QIcon>
#include <QTimer>

#include <csignal>
#include <cstdio>

using namespace corvessa;

int main(int argc, char** argv)
{
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    // A write to a socket whose other end is gone (the X server, the sound
    // server) must fail with EPIPE, which the connection's owner handles,
    // rather than kill the program before it can finish a recording.
    std::signal(SIGPIPE, SIG_IGN);
    Loc::load();
    // Capture goes through X11: in a Wayland session the interface joins it on XWayland.
    DesktopSession::chooseInterfacePlatform();

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Corvessa"));
    QApplication::setDesktopFileName(QStringLiteral("corvessa"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/corvessa.png")));
    // Closing a window never ends the program; only Quit does.
    QApplication::setQuitOnLastWindowClosed(false);

    // Every process-wide service ends before the application object does,
    // whichever way main is left (a later launch returns early).
    ProcessServices::Scope services;

    // "--action <id>" asks the running program to do something (the launcher's
    // actions); a plain launch asks it to show itself.
    const LaunchArguments launch = LaunchArguments::parse(QApplication::arguments());
    if (!launch.error.isEmpty()) {
        std::fprintf(stderr, "corvessa: %s\n", qPrintable(launch.error));
        return 2;
    }
    const QString message = launch.message();

    AppShell* shell = nullptr;
    const auto instance = SingleInstance::current();
    if (!instance->claim([&shell](const QString& text) {
            // Answered first, run afterwards: an action may open a question
            // that waits for the user, and the launch that sent it must not.
            if (shell)
                QTimer::singleShot(0, shell, [shell, text] { shell->handleMessage(text); });
        })) {
        const bool delivered = instance->send(message);
        std::fprintf(stderr, delivered ? "Corvessa is already running.\n"
                                       : "Corvessa is already running but did not answer.\n");
        return 0;
    }

    DialogPlacement::setWindowHints(PlatformLoader::loadWindowHints());
    DialogFrames::install();
    ProcessServices::atEnd([] {
        DialogPlacement::setWindowHints(nullptr);
        DialogPlacement::setRegistrar({});
    });
    AppShell appShell;
    shell = &appShell;
    appShell.start();
    // A first launch with an action runs it once the start-up has settled.
    if (message != QLatin1String("reopen"))
        QTimer::singleShot(500, &appShell, [&appShell, message] { appShell.handleMessage(message); });
    const int status = app.exec();
    shell = nullptr;
    return status;
}
