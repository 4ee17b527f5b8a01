#include "app/AppShell.h"
#include "platform/DialogPlacement.h"
#include "platform/PlatformLoader.h"
#include "platform/PowerOffNotice.h"
#include "platform/SingleInstance.h"
#include "prefs/Loc.h"

#include <QApplication>

#include <cstdio>

using namespace corvessa;

int main(int argc, char** argv)
{
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    Loc::load();

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Corvessa"));
    QApplication::setDesktopFileName(QStringLiteral("corvessa"));
    // Closing a window never ends the program; only Quit does.
    QApplication::setQuitOnLastWindowClosed(false);

    // "--action <id>" asks the running program to do something (the launcher's
    // actions); a plain launch asks it to show itself.
    QString message = QStringLiteral("reopen");
    const QStringList args = QApplication::arguments();
    if (const qsizetype i = args.indexOf(QStringLiteral("--action")); i >= 0 && i + 1 < args.size())
        message = QStringLiteral("action:") + args[i + 1];

    AppShell* shell = nullptr;
    const auto instance = SingleInstance::current();
    if (!instance->claim([&shell](const QString& text) {
            if (shell)
                shell->handleMessage(text);
        })) {
        const bool delivered = instance->send(message);
        std::fprintf(stderr, delivered ? "Corvessa is already running.\n"
                                       : "Corvessa is already running but did not answer.\n");
        return 0;
    }

    DialogPlacement::setWindowHints(PlatformLoader::loadWindowHints());
    AppShell appShell;
    shell = &appShell;
    appShell.start();
    if (message != QLatin1String("reopen"))
        appShell.handleMessage(message);
    const int status = app.exec();
    shell = nullptr;
    // Their sockets and bus objects must go while the application still exists.
    SingleInstance::setCurrent(nullptr);
    PowerOffNotice::setCurrent(nullptr);
    return status;
}
