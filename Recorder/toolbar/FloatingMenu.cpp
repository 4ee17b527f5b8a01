#include "toolbar/FloatingMenu.h"

#include "prefs/HotKeyCenter.h"
#include "toolbar/FloatingMenuView.h"
#include "toolbar/kit/FloatingWindow.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QScreen>
#include <QWidget>

#include <algorithm>
#include <cmath>

namespace corvessa {

namespace {

FloatingMenu* g_shared = nullptr;

// X numbers the wheel as buttons 4 to 7; scrolling is not a click.
bool isWheel(int button)
{
    return button >= 4 && button <= 7;
}

int xButton(Qt::MouseButton button)
{
    switch (button) {
    case Qt::LeftButton:
        return 1;
    case Qt::RightButton:
        return 3;
    default:
        return 0;
    }
}

// Exclusive right and bottom edges, as the placement arithmetic wants them.
int right(const QRect& r)
{
    return r.x() + r.width();
}
int bottom(const QRect& r)
{
    return r.y() + r.height();
}

} // namespace

FloatingMenu::FloatingMenu(Scheduler& clock, FloatingKit kit, std::shared_ptr<OutsideClickMonitor> clicks)
    : m_clock(clock)
    , m_kit(std::move(kit))
    , m_clicks(std::move(clicks))
{
    // Installed once and kept: it only looks, and only while a menu is open.
    if (qApp)
        qApp->installEventFilter(this);
}

FloatingMenu::~FloatingMenu()
{
    if (g_shared == this)
        g_shared = nullptr;
    if (qApp)
        qApp->removeEventFilter(this);
    // Nothing may keep a way back to this menu (Escape's hold).
    tellOpen(false);
    m_subscription.reset();
    delete m_window.data();
}

FloatingMenu* FloatingMenu::shared()
{
    return g_shared;
}

void FloatingMenu::setShared(FloatingMenu* menu)
{
    g_shared = menu;
}

QString FloatingMenu::signatureOf(const MenuRows& specs)
{
    const auto flag = [](bool b) { return b ? QStringLiteral("true") : QStringLiteral("false"); };
    QStringList parts;
    for (const MenuRow& spec : specs) {
        if (const MenuRow::Item* i = spec.asItem())
            parts << QStringLiteral("item|") + i->title + u'|' + flag(i->checked) + u'|' + flag(i->enabled) + u'|'
                    + flag(i->dim);
        else if (const MenuRow::Note* n = spec.asNote())
            parts << QStringLiteral("note|") + n->text;
        else if (const MenuRow::Slider* s = spec.asSlider())
            parts << QStringLiteral("slider|") + s->title;
        else
            parts << QStringLiteral("-");
    }
    return parts.join(u'/');
}

QPoint FloatingMenu::placedOrigin(const QRect& visible, const QRect& anchor, const QRect& measured, const QSize& size)
{
    const int margin = FloatingMenuView::margin;
    const int w = size.width();
    const int h = size.height();
    // The transparent margin may leave the screen; the card stays `gap` inside.
    const int lowest = visible.x() + gap - margin;
    const int highest = right(visible) - w - gap + margin;
    const int wanted = int(std::lround(anchor.x() + anchor.width() / 2.0 - w / 2.0));
    const int x = std::min(std::max(lowest, highest), std::max(wanted, lowest));

    const int roomAbove = measured.y() - visible.y();
    const int roomBelow = bottom(visible) - bottom(measured);
    const int y = roomAbove >= roomBelow ? measured.y() - gap - h + margin : bottom(measured) + gap - margin;
    return {x, y};
}

std::optional<int> FloatingMenu::scrollHeight(const QRect& visible, const QRect& measured, int cardHeight)
{
    const int roomAbove = measured.y() - visible.y();
    const int roomBelow = bottom(visible) - bottom(measured);
    const int room = std::max(std::max(roomAbove, roomBelow) - gap, 0);
    if (room >= cardHeight)
        return std::nullopt;
    return std::max(room - 2 * FloatingMenuView::padding, minimumScrollHeight);
}

QRect FloatingMenu::visibleFrameFor(const QRect& anchor)
{
    for (QScreen* screen : QGuiApplication::screens()) {
        if (screen->geometry().intersects(anchor))
            return screen->availableGeometry();
    }
    if (QScreen* primary = QGuiApplication::primaryScreen())
        return primary->availableGeometry();
    return {};
}

void FloatingMenu::show(MenuRows specs, MenuProvider provider, const QRect& anchor, std::optional<QRect> avoiding)
{
    closeWindow();
    m_anchorRect = anchor;
    m_avoid = avoiding;
    m_provider = std::move(provider);
    m_signature = signatureOf(specs);

    auto* window = new QWidget;
    window->setAttribute(Qt::WA_TranslucentBackground);
    m_kit.prepare(window, {SurfaceLevel::popUpMenu, true, false});
    m_window = window;
    build(specs);
    m_kit.present(window);

    if (m_clicks) {
        QPointer<FloatingMenu> self(this);
        m_subscription = m_clicks->observe([self](const QPointF& position, int button) {
            if (self)
                self->monitorPressed(position, button);
        });
    }
    tellOpen(true);
}

void FloatingMenu::build(const MenuRows& rows)
{
    QPointer<FloatingMenu> self(this);
    const auto close = [self] {
        if (self)
            self->dismiss();
    };
    const QRect visible = visibleFrameFor(m_anchorRect);
    auto* view = new FloatingMenuView(rows, close, std::nullopt, m_window);
    if (const auto height = scrollHeight(visible, measured(), view->height() - 2 * FloatingMenuView::margin)) {
        delete view;
        view = new FloatingMenuView(rows, close, height, m_window);
    }
    ++m_builds;

    if (FloatingMenuView* old = this->view()) {
        // Deferred: a row of the old content may be the one calling.
        old->hide();
        old->deleteLater();
    }
    m_view = view;
    view->move(0, 0);
    view->show();
    m_window->setGeometry(QRect(placedOrigin(visible, m_anchorRect, measured(), view->size()), view->size()));
    m_kit.showOnlyCard(m_window, view->cardRect(), FloatingMenuView::cornerRadius);
}

void FloatingMenu::dismiss()
{
    closeWindow();
    tellOpen(false);
}

void FloatingMenu::closeOnEscape(HotKeyCenter& keys)
{
    onOpenChanged = [this, &keys](bool open) {
        keys.setMenuEscape(open ? std::function<void()>([this] { dismiss(); }) : std::function<void()>());
    };
}

void FloatingMenu::tellOpen(bool open)
{
    if (open == m_toldOpen)
        return;
    m_toldOpen = open;
    // A copy: the watcher may replace itself.
    if (const std::function<void(bool)> watcher = onOpenChanged)
        watcher(open);
}

void FloatingMenu::closeWindow()
{
    m_subscription.reset();
    m_view = nullptr;
    if (QWidget* window = m_window) {
        m_window = nullptr;
        window->hide();
        // Deferred: the press or the row that closes the menu may be inside it.
        window->deleteLater();
    }
    m_provider = {};
    m_signature.clear();
}

void FloatingMenu::refresh()
{
    if (!isVisible() || !m_provider)
        return;
    const MenuProvider provider = m_provider;
    const MenuRows rows = provider();
    const QString signature = signatureOf(rows);
    if (signature == m_signature || !isVisible())
        return;
    m_signature = signature;
    build(rows);
}

bool FloatingMenu::isVisible() const
{
    return m_window && m_window->isVisible();
}

bool FloatingMenu::isShowingFor(const QRect& anchor) const
{
    return isVisible() && m_anchorRect.intersects(anchor);
}

bool FloatingMenu::dismissIfShowing(const QRect& rect)
{
    if (!isShowingFor(rect))
        return false;
    m_closed.closedByOutsideClick(m_clock.now(), m_anchorRect);
    dismiss();
    return true;
}

void FloatingMenu::pressed(const QPointF& position)
{
    if (!m_window || m_window->frameGeometry().contains(position.toPoint()))
        return;
    m_closed.closedByOutsideClick(m_clock.now(), m_anchorRect);
    dismiss();
}

void FloatingMenu::monitorPressed(const QPointF& position, int button)
{
    if (isWheel(button))
        return;
    if (m_ownPress) {
        const OwnPress own = *m_ownPress;
        const double since = m_clock.now() - own.at;
        if (own.button == button && (own.position - position).manhattanLength() <= 2 && since >= 0
            && since < echoWindow) {
            // Already handled when our window got it.
            m_ownPress.reset();
            return;
        }
    }
    pressed(position);
}

bool FloatingMenu::eventFilter(QObject*, QEvent* event)
{
    if (event->type() != QEvent::MouseButtonPress && event->type() != QEvent::MouseButtonDblClick)
        return false;
    const auto* mouse = static_cast<QMouseEvent*>(event);
    const int button = xButton(mouse->button());
    if (button == 0)
        return false;
    m_ownPress = OwnPress{mouse->globalPosition(), button, m_clock.now()};
    if (m_window)
        pressed(mouse->globalPosition());
    return false;
}

} // namespace corvessa
