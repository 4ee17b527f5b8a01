#include "prefs/widgets/PasteGuard.h"

#include <QAbstractScrollArea>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QWidget>

namespace corvessa {

namespace {

bool selectionPastes()
{
    return QGuiApplication::clipboard()->supportsSelection();
}

} // namespace

PasteGuard::PasteGuard(QWidget* field) : QObject(field) {}

void PasteGuard::install(QWidget* field)
{
    auto* guard = new PasteGuard(field);
    field->installEventFilter(guard);
    // Keys go to the field, the mouse to its viewport.
    if (auto* area = qobject_cast<QAbstractScrollArea*>(field))
        area->viewport()->installEventFilter(guard);
}

bool PasteGuard::hasData(QClipboard::Mode mode)
{
    const QMimeData* data = QGuiApplication::clipboard()->mimeData(mode);
    return data && !data->formats().isEmpty();
}

bool PasteGuard::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (!key->matches(QKeySequence::Paste))
            return false;
        // As the text fields read it: Ctrl+Shift+Insert pastes the selection.
        const bool selection = selectionPastes() && key->key() == Qt::Key_Insert
            && key->modifiers() == (Qt::ControlModifier | Qt::ShiftModifier);
        return !hasData(selection ? QClipboard::Selection : QClipboard::Clipboard);
    }
    // The middle button pastes the selection when it is released.
    if (event->type() == QEvent::MouseButtonRelease && selectionPastes()
        && static_cast<QMouseEvent*>(event)->button() == Qt::MiddleButton)
        return !hasData(QClipboard::Selection);
    return QObject::eventFilter(watched, event);
}

} // namespace corvessa
