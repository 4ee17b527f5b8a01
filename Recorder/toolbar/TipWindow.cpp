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

TipWindow::TipWindow(Scheduler& scheduler, FloatingKit kit, KeyText keyText)
    : m_scheduler(scheduler)
    , m_kit(std::move(kit))
    , m_keyText(keyText ? std::move(keyText) : KeyText(&boundKeyText))
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
    m_pending = true;
    // The timer dies with this object, so the task never outlives it.
    m_work = m_scheduler.after(delay, [this, name, action, anchor = std::move(anchor)] {
        m_pending = false;
        show(name, action, anchor ? anchor() : std::nullopt);
    });
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
    m_view.reset();
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

void TipWindow::show(const QString& name, std::optional<HotKeyAction> action, std::optional<QRect> anchor)
{
    m_view.reset();
    const std::optional<QString> key = action ? m_keyText(*action) : std::nullopt;
    auto view = std::make_unique<TipView>(name, key);
    m_kit.prepare(view.get(), {SurfaceLevel::popUpMenu, true, true});
    view->setAttribute(Qt::WA_TransparentForMouseEvents);
    view->adjustSize();

    const QPoint pointer = QCursor::pos();
    const QRect a = anchor.value_or(QRect(pointer, QSize(0, 0)));
    QList<QRect> screens;
    const QList<QScreen*> all = QGuiApplication::screens();
    for (QScreen* s : all)
        screens.append(s->geometry());
    const int index = screenIndex(a, pointer, screens, int(all.indexOf(QGuiApplication::primaryScreen())));
    const QRect visible = index >= 0 ? all[index]->availableGeometry() : QRect();
    view->move(placedOrigin(a, view->size(), visible));

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
