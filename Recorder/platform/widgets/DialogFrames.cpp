#include "platform/widgets/DialogFrames.h"

#include "platform/DialogPlacement.h"

#include <QApplication>
#include <QEvent>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <QWindow>

namespace corvessa {

void DialogFrames::install()
{
    static QPointer<DialogFrames> installed;
    if (!qApp || installed)
        return;
    installed = new DialogFrames(qApp);
    qApp->installEventFilter(installed);
}

bool DialogFrames::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::Show || !watched->isWidgetType())
        return false;
    auto* widget = static_cast<QWidget*>(watched);
    if (!widget->isWindow() || widget->windowType() != Qt::Dialog)
        return false;
    // A widget's show event comes after its native window is made and before
    // it is mapped: the frame is in place when the window manager first reads
    // it. Qt may still write its own frame hints while it shows a dialog whose
    // window was placed (and renewed) beforehand, so the frame is asked for
    // once more when the showing is over; window managers follow the change.
    DialogPlacement::frame(widget->windowHandle());
    // Without a title bar a message box says its title as its heading, its
    // text beneath (before the box lays itself out for showing).
    if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->informativeText().isEmpty()
        && !box->windowTitle().isEmpty() && box->text() != box->windowTitle()) {
        box->setInformativeText(box->text());
        box->setText(QStringLiteral("<b>%1</b>").arg(box->windowTitle().toHtmlEscaped()));
    }
    QTimer::singleShot(0, widget, [widget] {
        if (widget->isVisible())
            DialogPlacement::frame(widget->windowHandle());
    });
    return false;
}

} // namespace corvessa
