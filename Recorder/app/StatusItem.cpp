#include "app/StatusItem.h"

#include "app/FloatingStatusMenu.h"
#include "app/StatusIcon.h"
#include "platform/core/RecorderLog.h"
#include "platform/core/Scheduler.h"
#include "prefs/Loc.h"
#include "toolbar/FloatingMenu.h"
#include "toolbar/kit/FloatingWindow.h"

#include <QApplication>
#include <QCursor>
#include <QMenu>
#include <QWindow>

namespace corvessa {

namespace {

// The pointer anchor's side: about an icon's size, so a second click on the
// same icon meets the menu's anchor.
constexpr int pointerAnchorSide = 24;
// How long after the menu closed a press on the icon counts as the one that
// closed it.
constexpr qint64 reopenGuardMs = 150;
// The longest the release of the press that asks for the menu is awaited.
constexpr int releaseWaitMs = 500;

QString toolTip(bool busy)
{
    return busy ? Loc::text(QStringLiteral("Corvessa is recording")) : Loc::text(QStringLiteral("Corvessa"));
}

} // namespace

StatusItem::StatusItem(Setup setup)
    : m_setup(std::move(setup))
    , m_menu(std::make_unique<QMenu>())
    , m_icon(std::make_unique<QSystemTrayIcon>())
{
    connect(m_menu.get(), &QMenu::aboutToShow, this, [this] { fillMenu(); });
    m_icon->setIcon(StatusIcon::idle());
    m_icon->setToolTip(toolTip(false));
    // The menu is not handed to the tray: some trays pop it up under the
    // pointer on the press, where a quick release chooses its first row.
    connect(m_menu.get(), &QMenu::aboutToHide, this, [this] { m_menuClosed.start(); });
    connect(m_icon.get(), &QSystemTrayIcon::activated, this, &StatusItem::activated);
    m_releaseWait.setSingleShot(true);
    m_releaseWait.setInterval(releaseWaitMs);
    connect(&m_releaseWait, &QTimer::timeout, this, &StatusItem::popUpMenu);
}

StatusItem::~StatusItem()
{
    m_icon->hide();
}

bool StatusItem::show()
{
    const bool tray = QSystemTrayIcon::isSystemTrayAvailable();
    if (!tray)
        RecorderLog::write(QStringLiteral("[tray] no system tray: the status item is not shown"));
    m_icon->show();
    return tray;
}

void StatusItem::configure(const RecorderPhase& phase)
{
    const bool busy = phase.isActive();
    const QString tip = toolTip(busy);
    if (m_icon->toolTip() != tip)
        m_icon->setToolTip(tip);
    if (busy == m_busy)
        return;
    m_busy = busy;
    m_icon->setIcon(busy ? StatusIcon::rec() : StatusIcon::idle());
    if (busy) {
        m_menu->hide();
    } else {
        if (FloatingMenu* menu = floating())
            menu->dismiss();
    }
}

void StatusItem::activated(QSystemTrayIcon::ActivationReason reason)
{
    // Every press counts: the second of two quick ones comes as a double click.
    if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::Context
        || reason == QSystemTrayIcon::DoubleClick)
        clicked();
}

void StatusItem::clicked()
{
    if (!m_busy) {
        // The press on the icon that closed the menu does not open it again.
        if (m_menu->isVisible() || m_releaseWait.isActive()
            || (m_menuClosed.isValid() && m_menuClosed.elapsed() < reopenGuardMs))
            return;
        // The tray reports the press. A menu up before its release can take
        // that release for a click of its own and close (a quick tap): it
        // opens once the release has been seen.
        qApp->installEventFilter(this);
        m_releaseWait.start();
        return;
    }
    FloatingMenu* menu = floating();
    if (!menu || !m_setup.clock)
        return;
    FloatingStatusMenu::toggle(*menu, m_setup.clock->now(), anchor(), m_setup.floatingRows);
}

bool StatusItem::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseButtonRelease && m_releaseWait.isActive()) {
        m_releaseWait.stop();
        qApp->removeEventFilter(this);
        QTimer::singleShot(0, this, &StatusItem::popUpMenu);
    }
    return QObject::eventFilter(watched, event);
}

void StatusItem::popUpMenu()
{
    qApp->removeEventFilter(this);
    m_releaseWait.stop();
    if (m_busy || m_menu->isVisible())
        return;
    // Beside the icon, or beside the pointer: never under it.
    const QRect icon = m_icon->geometry();
    m_menu->popup(icon.isValid() && !icon.isEmpty() ? icon.bottomLeft() + QPoint(0, 1) : QCursor::pos() + QPoint(2, 2));
}

QRect StatusItem::anchor() const
{
    const QRect icon = m_icon->geometry();
    if (icon.isValid() && !icon.isEmpty())
        return icon;
    QRect r(0, 0, pointerAnchorSide, pointerAnchorSide);
    r.moveCenter(QCursor::pos());
    return r;
}

void StatusItem::fillMenu()
{
    m_menu->clear();
    if (m_setup.fillStatusMenu)
        m_setup.fillStatusMenu(*m_menu);
    FloatingWindow::track(m_menu.get(), m_setup.registerWindow);
}

FloatingMenu* StatusItem::floating() const
{
    return m_setup.floatingMenu ? m_setup.floatingMenu : FloatingMenu::shared();
}

} // namespace corvessa
