#pragma once

#include "settings/SettingRow.h"

#include <QColor>
#include <QRectF>
#include <QString>

#include <optional>
#include <utility>

class QPainter;
class QWidget;

namespace corvessa {

// The width every settings pane is laid out at: wide enough for the tab bar's
// ten titles in the current language, never below 680 points (measured once per
// language), and the colours and warning lines the panes share. Main thread.
class SettingsLayout {
public:
    SettingsLayout() = delete;

    static constexpr double minimumWidth = 680;
    // Height of the page area under the tabs; longer panes scroll.
    static constexpr int pageHeight = 480;
    // Title column of a row plus the gap before its control.
    static constexpr int controlIndent = SettingRow::titleWidth + SettingRow::spacing;

    static double windowWidth();

    // The orange of warnings and of messages that need action.
    static inline const QColor orange{255, 149, 0};
    // Sets `widget`'s text colour.
    static void setTextColour(QWidget* widget, const QColor& colour);
    // Greys `widget`'s text: its text takes its placeholder colour.
    static void greyText(QWidget* widget);
    // A new box of `parent`: the orange `symbol` at `symbolSize` points, then
    // `text` wrapping beside it in orange, without margins.
    static QWidget* warningLine(const QString& symbol, int symbolSize, const QString& text, QWidget* parent);
    // Scrolls the page that holds `widget` until all of it shows, once what
    // changed in its layout (it was just shown, its text rewrapped) is in
    // place. Nothing for a hidden widget or one on no scrolling page.
    static void bringIntoView(QWidget* widget);

    // Corner radius of the cards the previews draw on.
    static constexpr double previewRadius = 12;
    // A preview's faint card: `widget`'s text colour at 6 % over `rect`.
    static void paintPreviewCard(QPainter& painter, const QWidget& widget, const QRectF& rect);

    // The width for tab titles of these measured widths (points).
    template <typename Widths>
    static double widthFor(const Widths& titleWidths);

private:
    static std::optional<std::pair<QString, double>> s_widthCache;
};

} // namespace corvessa

#include <algorithm>
#include <cmath>

template <typename Widths>
double corvessa::SettingsLayout::widthFor(const Widths& titleWidths)
{
    // Each tab: its title plus the item's margins, at least 52, plus the gap.
    double sum = 0;
    for (double w : titleWidths)
        sum += std::max(std::ceil(w) + 26, 52.0) + 4;
    return std::max(std::ceil(sum + 60), minimumWidth);
}
