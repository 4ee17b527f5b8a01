#include "tools/PenPalettePanel.h"

#include "platform/FloatingSurfaces.h"
#include "platform/OutsideClickMonitor.h"
#include "prefs/Prefs.h"
#include "toolbar/FloatingMenu.h"
#include "toolbar/kit/FloatingWindow.h"
#include "tools/PaletteView.h"

#include <QGuiApplication>
#include <QScreen>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <utility>

namespace corvessa {

PenPalettePanel::PenPalettePanel(std::shared_ptr<FloatingSurfaces> surfaces,
                                 std::shared_ptr<OutsideClickMonitor> clicks, std::function<double()> clock,
                                 std::function<void(int)> choose)
    : m_kit(surfaces ? std::move(surfaces) : FloatingSurfaces::current())
    , m_clicks(clicks ? std::move(clicks) : OutsideClickMonitor::current())
    , m_clock(std::move(clock))
    , m_choose(std::move(choose))
{
    if (!m_clock) {
        m_clock = [] {
            return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
        };
    }
    if (!m_choose)
        m_choose = [](int index) { Prefs::shared().setPenColor(index); };
}

PenPalettePanel::~PenPalettePanel()
{
    dismiss();
}

PenPalettePanel& PenPalettePanel::shared()
{
    // Never destroyed: its window must not outlive the application object.
    static auto* palette = new PenPalettePanel;
    return *palette;
}

void PenPalettePanel::open(const QRect& anchor)
{
    const double now = m_clock();
    if (isOpen()) {
        // A second press on the swatch closes it, as a press outside would.
        m_guard.closedByOutsideClick(now, m_anchor);
        dismiss();
        return;
    }
    if (!m_guard.blocks(now, anchor))
        show(anchor);
}

void PenPalettePanel::show(const QRect& anchor)
{
    dismiss();
    m_anchor = anchor;
    m_shownAt = m_clock();

    auto* window = new PaletteView([this](int index) {
        m_choose(index);
        dismiss();
    }, Prefs::shared().penColor());
    m_kit.prepare(window, {SurfaceLevel::popUpMenu, true, false});

    const QRect visible = FloatingMenu::visibleFrameFor(anchor);
    window->setGeometry(QRect(placedOrigin(visible, anchor, window->size(), PaletteView::margin), window->size()));
    m_kit.showOnlyCard(window, window->cardRect(), PaletteView::cornerRadius);
    // Left unregistered: the palette is never recorded.
    m_kit.showOnTop(window);
    m_window = window;

    if (m_clicks) {
        m_subscription = m_clicks->observe([this](const QPointF& position, int button) {
            // Wheel turns are no presses.
            if (button < 4 || button > 7)
                outsidePress(position);
        });
    }
}

void PenPalettePanel::outsidePress(const QPointF& position)
{
    if (!m_window)
        return;
    // The card, not its transparent margin: that takes no clicks, and it
    // reaches over the swatch.
    const int m = PaletteView::margin;
    if (m_window->geometry().adjusted(m, m, -m, -m).contains(position.toPoint()))
        return;
    // The screen-wide report of the swatch press that opened the palette may
    // come after the palette is up.
    const double since = m_clock() - m_shownAt;
    if (m_anchor.contains(position.toPoint()) && since >= 0 && since < echoWindow)
        return;
    m_guard.closedByOutsideClick(m_clock(), m_anchor);
    dismiss();
}

void PenPalettePanel::dismiss()
{
    m_subscription.reset();
    if (QWidget* window = m_window) {
        m_window = nullptr;
        window->hide();
        // The click that closes it may be its own.
        window->deleteLater();
    }
}

QPoint PenPalettePanel::placedOrigin(const QRect& visible, const QRect& anchor, const QSize& size, int margin)
{
    const double w = size.width();
    const double h = size.height();
    const QRectF vf(visible);
    const QRectF a(anchor);
    double x = a.center().x() - w / 2;
    const double roomAbove = a.top() - vf.top();
    const double roomBelow = vf.bottom() - a.bottom();
    const double above = a.top() - gap - h + margin;
    const double below = a.bottom() + gap - margin;
    double y = (h + gap <= roomAbove || roomBelow <= roomAbove) ? above : below;

    const double lowX = vf.left() + gap - margin;
    const double highX = std::max(lowX, vf.right() - w - gap + margin);
    x = std::min(std::max(x, lowX), highX);
    const double lowY = vf.top() + gap - margin;
    const double highY = std::max(lowY, vf.bottom() - h - gap + margin);
    y = std::min(std::max(y, lowY), highY);
    return QPoint(int(std::lround(x)), int(std::lround(y)));
}

} // namespace corvessa
