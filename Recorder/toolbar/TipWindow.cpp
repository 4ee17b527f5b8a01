#include "toolbar/TipWindow.h"

#include "platform/FloatingSurfaces.h"
#include "toolbar/kit/FloatingWindow.h"

#include "prefs/KeyBinding.h"
#include "prefs/Prefs.h"
#include "toolbar/TipView.h"

#include <QApplication>
#include <QCursor>
#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QWindow>

#include <algorithm>

namespace corvessa {

namespace {
std::optional<QString> boundKeyText(HotKeyAction action)
{
    const KeyBindingMap& bindings = Prefs::shared().bindings();
    const auto it = bindings.find(action);
    if (it == bindings.end())
        return std::nullopt;
    return it->second.display();
}
} // namespace

TipWindow::TipWindow(Scheduler& scheduler, FloatingKit kit, KeyText keyText, Pointer pointer)
    : m_scheduler(scheduler)
    , m_kit(std::move(kit))
    , m_keyText(keyText ? std::move(keyText) : KeyText(&boundKeyText))
    , m_pointer(pointer ? std::move(pointer) : Pointer([] { return QCursor::pos(); }))
{
}

TipWindow::~TipWindow()
{
    if (m_monitoring && qApp)
        qApp->removeEventFilter(this);
}

void TipWindow::schedule(const QString& name, std::optional<HotKeyAction> action, Anchor anchor)
{
    hide();
    m_tip = {name, action, std::move(anchor)};
    m_pending = true;
    if (m_restingAt && m_pointer() != *m_restingAt)
        m_restingAt.reset();
    // Under a pointer that has not moved since its control came in, the delay
    // starts with the first move (seen by the check).
    if (!m_restingAt)
        startDelay();
    startChecking();
    if (!m_monitoring && qApp) {
        // Installed once and kept: it only watches and never eats an event.
        qApp->installEventFilter(this);
        m_monitoring = true;
    }
}

void TipWindow::hide()
{
    m_pending = false;
    m_work.reset();
    // Still watched for the move a resting pointer waits for: a pointer that
    // leaves and comes back to the same spot has moved all the same.
    if (!m_restingAt)
        m_check.reset();
    m_view.reset();
    m_tip = {};
}

void TipWindow::hideUntilPointerMoves()
{
    hide();
    m_restingAt = m_pointer();
    startChecking();
}

void TipWindow::startChecking()
{
    // The timers die with this object, so their tasks never outlive it.
    if (!m_check)
        m_check = m_scheduler.every(pointerCheck, pointerCheck / 5, [this] { checkPointer(); });
}

void TipWindow::startDelay()
{
    m_work = m_scheduler.after(delay, [this] { delayEnded(); });
}

void TipWindow::delayEnded()
{
    // Shown only for a control that is still there and still under the pointer.
    const std::optional<QRect> anchor = anchorUnderPointer();
    if (!anchor) {
        hide();
        return;
    }
    m_pending = false;
    show(m_tip.name, m_tip.action, *anchor);
}

void TipWindow::checkPointer()
{
    const bool moved = m_restingAt && m_pointer() != *m_restingAt;
    if (moved)
        m_restingAt.reset();
    if (!m_pending && !m_view) {
        if (!m_restingAt)
            m_check.reset();
        return;
    }
    if (!anchorUnderPointer()) {
        hide();
        return;
    }
    // The first move over a control that came in under the pointer: its rest starts now.
    if (moved && m_pending)
        startDelay();
}

std::optional<QRect> TipWindow::anchorUnderPointer() const
{
    const std::optional<QRect> anchor = m_tip.anchor ? m_tip.anchor() : std::nullopt;
    if (!anchor || !anchor->contains(m_pointer()))
        return std::nullopt;
    return anchor;
}

bool TipWindow::eventFilter(QObject*, QEvent* event)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::KeyPress:
    case QEvent::Wheel:
        if (m_pending || m_view)
            hide();
        break;
    default:
        break;
    }
    return false;
}

void TipWindow::show(const QString& name, std::optional<HotKeyAction> action, const QRect& anchor)
{
    m_view.reset();
    const std::optional<QString> key = action ? m_keyText(*action) : std::nullopt;
    auto view = std::make_unique<TipView>(name, key);
    m_kit.prepare(view.get(), {SurfaceLevel::popUpMenu, true, true});
    view->setAttribute(Qt::WA_TransparentForMouseEvents);
    view->adjustSize();

    const QPoint pointer = m_pointer();
    QList<QRect> screens;
    const QList<QScreen*> all = QGuiApplication::screens();
    for (QScreen* s : all)
        screens.append(s->geometry());
    const int index = screenIndex(anchor, pointer, screens, int(all.indexOf(QGuiApplication::primaryScreen())));
    const QRect visible = index >= 0 ? all[index]->availableGeometry() : QRect();
    view->move(placedOrigin(anchor, view->size(), visible));

    m_kit.track(view.get());
    // Only the card shows, also where no compositing manager runs.
    m_kit.showOnlyCard(view.get(), view->cardRect(), TipView::cornerRadius);
    m_kit.showOnTop(view.get());
    m_view = std::move(view);
}

QPoint TipWindow::placedOrigin(const QRect& anchor, const QSize& size, const QRect& visible)
{
    int y = anchor.top() - gap - size.height();
    if (y < visible.top())
        y = anchor.top() + anchor.height() + gap;
    const int centred = anchor.left() + (anchor.width() - size.width()) / 2;
    const int x = std::min(visible.left() + visible.width() - size.width() - gap,
                           std::max(centred, visible.left() + gap));
    return {x, y};
}

int TipWindow::screenIndex(const QRect& anchor, const QPoint& pointer, const QList<QRect>& screens, int primary)
{
    for (int i = 0; i < screens.size(); ++i) {
        if (screens[i].intersects(anchor) || screens[i].contains(pointer))
            return i;
    }
    return primary >= 0 && primary < screens.size() ? primary : -1;
}

} // namespace corvessa
