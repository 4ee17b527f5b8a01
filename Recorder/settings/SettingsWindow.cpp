#include "settings/SettingsWindow.h"

#include "platform/QtScreenLayout.h"
#include "platform/core/ProcessServices.h"
#include "platform/core/RecorderLog.h"
#include "platform/core/ScreenCoordinates.h"
#include "prefs/LocNotifier.h"
#include "prefs/Prefs.h"
#include "settings/SettingsFrameWindow.h"
#include "toolbar/kit/FloatingWindow.h"

#include <QGuiApplication>
#include <QLocale>
#include <QScreen>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <utility>

namespace corvessa {

SettingsServices SettingsWindow::s_services;
QPointer<SettingsFrameWindow> SettingsWindow::s_window;

namespace {

QString number(double value)
{
    QString text = QString::number(value, 'g', QLocale::FloatingPointShortest);
    if (!text.contains(QLatin1Char('.')) && !text.contains(QLatin1Char('e')) && !text.contains(QLatin1Char('n')))
        text += QStringLiteral(".0");
    return text;
}

} // namespace

void SettingsWindow::configure(SettingsServices services)
{
    s_services = std::move(services);
    // Its services hold the program's tools (the pen's overlay among them):
    // they go, with the window, while the program still runs.
    static bool ending = false;
    if (!std::exchange(ending, true)) {
        ProcessServices::atEnd([] {
            ending = false;
            end();
        });
    }
    static bool following = false;
    if (!following) {
        following = true;
        // Queued: the language is usually chosen from inside this very window.
        QObject::connect(&LocNotifier::instance(), &LocNotifier::languageChanged, &LocNotifier::instance(),
                         [] { rebuild(); }, Qt::QueuedConnection);
    }
}

SettingsFrameWindow* SettingsWindow::window()
{
    return s_window.data();
}

void SettingsWindow::show(std::optional<SettingsPane> pane, std::optional<GlobalPoint> topCenter)
{
    if (!s_window) {
        auto* window = new SettingsFrameWindow(Prefs::shared(), s_services);
        FloatingWindow::track(window, s_services.registerWindow);
        if (s_services.addMenuBar)
            s_services.addMenuBar(window);
        s_window = window;
        // Invisible until placed after its first layout.
        window->setWindowOpacity(0);
        place(window, topCenter);
        replaceWhenMapped(window, topCenter, 0);
    }
    if (pane)
        s_window->selectPane(*pane);
    s_window->show();
    s_window->raise();
    s_window->activateWindow();
}

void SettingsWindow::replaceWhenMapped(SettingsFrameWindow* window, std::optional<GlobalPoint> topCenter,
                                       int attempt)
{
    // The window manager frames and may move a window when it maps it, so the
    // final placement waits for the window to be on screen (a turn of the
    // event loop at least, and at most about a second).
    constexpr int kAttempts = 50;
    constexpr int kRetryMs = 20;
    QTimer::singleShot(attempt == 0 ? 0 : kRetryMs, window,
                       [weak = QPointer<SettingsFrameWindow>(window), topCenter, attempt] {
                           if (!weak || weak != s_window)
                               return;
                           if (!weak->windowHandle()->isExposed() && attempt < kAttempts) {
                               replaceWhenMapped(weak, topCenter, attempt + 1);
                               return;
                           }
                           const GlobalRect before = globalFrame(weak);
                           place(weak, topCenter);
                           weak->setWindowOpacity(1);
                           const GlobalRect after = globalFrame(weak);
                           if (!(after == before))
                               RecorderLog::write(QStringLiteral("[settings] re-placed ") + frameText(before) +
                                                  QStringLiteral(" → ") + frameText(after));
                       });
}

void SettingsWindow::rebuild()
{
    if (s_window && s_window->isVisible()) {
        const SettingsPane pane = s_window->selectedPane();
        const GlobalRect frame = globalFrame(s_window);
        discard();
        show(pane, GlobalPoint{frame.center().x, frame.top()});
        return;
    }
    discard();
}

void SettingsWindow::end()
{
    delete s_window.data();
    s_services = {};
}

void SettingsWindow::discard()
{
    if (!s_window)
        return;
    SettingsFrameWindow* old = s_window;
    s_window = nullptr;
    if (old->isVisible())
        old->close();
    old->deleteLater();
}

GlobalRect SettingsWindow::globalFrame(const SettingsFrameWindow* window)
{
    return QtScreenLayout::current().toGlobalRect(QRectF(window->frameGeometry()));
}

void SettingsWindow::place(SettingsFrameWindow* window, std::optional<GlobalPoint> topCenter)
{
    const ScreenCoordinates coords = QtScreenLayout::current();
    std::vector<Screen> screens;
    for (QScreen* s : QGuiApplication::screens())
        screens.push_back(
            {coords.toGlobalRect(QRectF(s->geometry())), coords.toGlobalRect(QRectF(s->availableGeometry()))});
    std::optional<Screen> fallback;
    if (QScreen* primary = QGuiApplication::primaryScreen())
        fallback = Screen{coords.toGlobalRect(QRectF(primary->geometry())),
                          coords.toGlobalRect(QRectF(primary->availableGeometry()))};
    // A new window is centred on the main screen; one that keeps a place goes
    // to the screen under its top edge.
    const std::optional<Screen> screen = topCenter ? chosenScreen(*topCenter, screens, fallback) : fallback;

    // Until the window manager has framed the window its frame is unknown: room
    // is kept for a usual one, and the re-placement once it is framed uses the real one.
    const QMargins known = window->windowHandle() ? window->windowHandle()->frameMargins() : QMargins();
    const QMargins frame = known.isNull() ? frameAllowance : known;
    window->fitInto(screen ? QSizeF(screen->visible.width(), screen->visible.height()).toSize().shrunkBy(frame)
                           : QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX));
    const QSize size = window->size().grownBy(frame);
    if (!topCenter) {
        if (screen) {
            const GlobalRect v = screen->visible;
            const GlobalPoint topCentre{v.center().x, v.top() - std::max(0.0, (v.height() - size.height()) / 2)};
            const GlobalPoint origin = placedOrigin(QSizeF(size), topCentre, {*screen}, screen);
            window->move(coords.fromGlobal(GlobalRect(origin, QSizeF(size))).topLeft().toPoint());
        }
        return;
    }
    const GlobalPoint origin = placedOrigin(QSizeF(size), *topCenter, screens, fallback);
    const QRectF qt = coords.fromGlobal(GlobalRect(origin, QSizeF(size)));
    window->move(qt.topLeft().toPoint());
}

std::optional<SettingsWindow::Screen> SettingsWindow::chosenScreen(const GlobalPoint& topCenter,
                                                                   const std::vector<Screen>& screens,
                                                                   std::optional<Screen> fallback)
{
    const GlobalPoint probe{topCenter.x, topCenter.y - 10};
    for (const Screen& s : screens) {
        const GlobalRect& f = s.frame;
        if (probe.x >= f.left() && probe.x < f.right() && probe.y >= f.bottom() && probe.y < f.top())
            return s;
    }
    return fallback;
}

GlobalPoint SettingsWindow::placedOrigin(const QSizeF& size, const GlobalPoint& topCenter,
                                         const std::vector<Screen>& screens, std::optional<Screen> fallback)
{
    const double w = size.width();
    const double h = size.height();
    const double x = topCenter.x - w * 0.5;
    const double y = topCenter.y - h;
    const std::optional<Screen> chosen = chosenScreen(topCenter, screens, fallback);
    if (!chosen)
        return {x, y};
    const GlobalRect& v = chosen->visible;
    const double minX = v.left();
    const double maxX = v.right();
    const double minY = v.bottom();
    const double maxY = v.top();
    return {std::min(std::max(x, minX), std::max(minX, maxX - w)), std::min(std::max(y, minY), std::max(minY, maxY - h))};
}

QString SettingsWindow::frameText(const GlobalRect& frame)
{
    return QStringLiteral("(") + number(frame.x()) + QStringLiteral(", ") + number(frame.y()) + QStringLiteral(", ") +
           number(frame.width()) + QStringLiteral(", ") + number(frame.height()) + QStringLiteral(")");
}

} // namespace corvessa
