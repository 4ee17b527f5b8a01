#include "app/SignalBridge.h"
#include "platform/DialogPlacement.h"
#include "platform/PlatformLoader.h"
#include "prefs/Loc.h"

#include <QApplication>
#include <QKeySequence>
#include <QPushButton>
#include <QShortcut>
#include <QVBoxLayout>
#include <QWidget>

#include <cstdio>

using namespace corvessa;

int main(int argc, char** argv)
{
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    Loc::load();

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Corvessa"));
    QApplication::setDesktopFileName(QStringLiteral("corvessa"));
    QApplication::setQuitOnLastWindowClosed(true);
    DialogPlacement::setWindowHints(PlatformLoader::loadWindowHints());

    SignalBridge signalBridge;
    QObject::connect(&signalBridge, &SignalBridge::received, &app, [](int) { QApplication::quit(); });

    QWidget window;
    window.setWindowTitle(Loc::text(QStringLiteral("Corvessa")));
    auto* layout = new QVBoxLayout(&window);
    auto* quit = new QPushButton(Loc::text(QStringLiteral("Quit Corvessa")), &window);
    layout->addWidget(quit);
    QObject::connect(quit, &QPushButton::clicked, &app, &QApplication::quit);
    auto* shortcut = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q), &window);
    QObject::connect(shortcut, &QShortcut::activated, &app, &QApplication::quit);
    window.show();

    return app.exec();
}
