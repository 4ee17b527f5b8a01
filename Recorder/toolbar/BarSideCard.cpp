#include "toolbar/BarSideCard.h"

#include "platform/DisplayList.h"
#include "platform/FloatingSurfaces.h"
#include "platform/core/ScreenCoordinates.h"
#include "toolbar/BarPlacement.h"
#include "toolbar/kit/FloatingWindow.h"
#include "toolbar/kit/GlassPanel.h"
#include "toolbar/ToolbarPanel.h"

#include <QWidget>

#include <algorithm>
#include <cmath>
#include <vector>

namespace corvessa {

BarSideCard::Surroundings BarSideCard::of(const ToolbarPanel& panel)
{
    const GlobalRect frame = panel.frame();
    const std::vector<DisplayInfo> displays = DisplayList::current()->displays();
    const DisplayInfo* screen = BarPlacement::barScreen(displays, frame);
    if (!screen)
        screen = BarPlacement::primary(displays);
    return {BarPlacement::barOf(frame), screen ? screen->visibleFrame : GlobalRect()};
}

GlobalPoint BarSideCard::origin(const GlobalRect& bar, const QSizeF& card, const GlobalRect& visible, double gap)
{
    double y = bar.top() + gap;
    if (visible.top() < y + card.height())
        y = bar.bottom() - card.height() - gap;
    double x = bar.center().x - card.width() / 2;
    x = std::max(x, visible.left() + edgeInset);
    x = std::min(x, visible.right() - card.width() - edgeInset);
    return {x, y};
}

GlobalPoint BarSideCard::origin(const GlobalRect& bar, const QSizeF& card, const GlobalRect& visible, double gap,
                                const std::vector<GlobalRect>& clear)
{
    const GlobalPoint first = origin(bar, card, visible, gap);
    const bool above = first.y >= bar.top();
    for (const bool up : {above, !above}) {
        double y = up ? bar.top() + gap : bar.bottom() - card.height() - gap;
        // Past one cover after another on this side, while on the screen.
        for (size_t step = 0; step <= clear.size(); ++step) {
            const GlobalRect placed(GlobalPoint{first.x, y}, card);
            const auto cover = std::find_if(clear.begin(), clear.end(),
                                            [&](const GlobalRect& c) { return c.intersects(placed); });
            if (cover == clear.end()) {
                if (visible.isEmpty() || (placed.top() <= visible.top() && placed.bottom() >= visible.bottom()))
                    return {first.x, y};
                break;
            }
            y = up ? cover->top() + gap : cover->bottom() - card.height() - gap;
        }
    }
    return first;
}

void BarSideCard::moveTo(QWidget* card, const GlobalPoint& origin)
{
    if (!card)
        return;
    const QPointF topLeft = ToolbarPanel::coordinates().fromGlobal(GlobalRect(origin, QSizeF(card->size()))).topLeft();
    card->move(int(std::lround(topLeft.x())), int(std::lround(topLeft.y())));
}

QWidget* BarSideCard::makeWindow(const FloatingKit& kit)
{
    auto* card = new QWidget;
    card->setAttribute(Qt::WA_TranslucentBackground);
    card->setAttribute(Qt::WA_TransparentForMouseEvents);
    FloatingSurfaces::Options options;
    options.level = SurfaceLevel::floating;
    options.clickThrough = true;
    kit.prepare(card, options);
    kit.track(card);
    return card;
}

void BarSideCard::setContent(QWidget* card, GlassPanel* view, const FloatingKit& kit)
{
    view->move(0, 0);
    view->show();
    card->resize(view->size());
    kit.showOnlyCard(card, view->cardRect(), view->cornerRadius());
}

void BarSideCard::reveal(QWidget* card, const FloatingKit& kit)
{
    if (card->isVisible())
        return;
    kit.showOnTop(card);
}

} // namespace corvessa
