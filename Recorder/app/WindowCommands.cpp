#include "app/WindowCommands.h"

#include "prefs/widgets/PasteGuard.h"

#include <QApplication>
#include <QMetaObject>
#include <QWidget>

namespace corvessa {

namespace {

// Ordinary framed windows and dialogs; the floating panels and menus are not
// minimised, zoomed or raised from here.
bool isFramedWindow(const QWidget* w)
{
    const Qt::WindowType type = w->windowType();
    return w->isVisible() && (type == Qt::Window || type == Qt::Dialog)
        && !w->windowFlags().testFlag(Qt::FramelessWindowHint);
}

} // namespace

bool WindowCommands::edit(const QByteArray& method)
{
    QWidget* w = QApplication::focusWidget();
    if (!w || w->metaObject()->indexOfMethod(method + "()") < 0)
        return false;
    // Edit › Paste goes past the field's own guard.
    if (method == "paste" && !PasteGuard::hasData(QClipboard::Clipboard))
        return false;
    return QMetaObject::invokeMethod(w, method.constData());
}

void WindowCommands::minimize()
{
    if (QWidget* w = QApplication::activeWindow())
        w->showMinimized();
}

void WindowCommands::zoom()
{
    QWidget* w = QApplication::activeWindow();
    if (!w)
        return;
    if (w->isMaximized())
        w->showNormal();
    else
        w->showMaximized();
}

void WindowCommands::closeWindow()
{
    if (QWidget* w = QApplication::activeWindow())
        w->close();
}

void WindowCommands::bringAllToFront()
{
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (isFramedWindow(w))
            w->raise();
    }
}

void WindowCommands::hideAll()
{
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (isFramedWindow(w))
            w->showMinimized();
    }
}

} // namespace corvessa
