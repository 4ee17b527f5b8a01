#include "settings/SettingsLayout.h"

#include "prefs/Loc.h"
#include "settings/SettingsPane.h"
#include "toolbar/kit/Symbols.h"

#include <QApplication>
#include <QEvent>
#include <QFont>
#include <QFontMetricsF>
#include <QHBoxLayout>
#include <QLabel>
#include <QLayout>
#include <QPainter>
#include <QScrollArea>
#include <QWidget>

#include <vector>

namespace corvessa {

std::optional<std::pair<QString, double>> SettingsLayout::s_widthCache;

double SettingsLayout::windowWidth()
{
    const QString code = Loc::code();
    if (s_widthCache && s_widthCache->first == code)
        return s_widthCache->second;
    QFont font = QApplication::font();
    font.setPixelSize(12);
    const QFontMetricsF metrics(font);
    std::vector<double> widths;
    for (SettingsPane pane : SettingsPanes::allCases)
        widths.push_back(metrics.horizontalAdvance(SettingsPanes::title(pane)));
    const double width = widthFor(widths);
    s_widthCache = std::make_pair(code, width);
    return width;
}

void SettingsLayout::setTextColour(QWidget* widget, const QColor& colour)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, colour);
    widget->setPalette(palette);
}

void SettingsLayout::greyText(QWidget* widget)
{
    setTextColour(widget, widget->palette().color(QPalette::PlaceholderText));
}

QWidget* SettingsLayout::warningLine(const QString& symbol, int symbolSize, const QString& text, QWidget* parent)
{
    auto* box = new QWidget(parent);
    auto* line = new QHBoxLayout(box);
    line->setContentsMargins(0, 0, 0, 0);
    auto* icon = new QLabel(box);
    icon->setPixmap(Symbols::pixmap(symbol, symbolSize, orange, parent->devicePixelRatioF()));
    auto* label = new QLabel(text, box);
    label->setWordWrap(true);
    setTextColour(label, orange);
    line->addWidget(icon, 0, Qt::AlignTop);
    line->addWidget(label, 1);
    return box;
}

void SettingsLayout::bringIntoView(QWidget* widget)
{
    QScrollArea* scroll = nullptr;
    for (QWidget* w = widget->parentWidget(); w && !scroll; w = w->parentWidget())
        scroll = qobject_cast<QScrollArea*>(w);
    if (!scroll || !scroll->widget() || !widget->isVisible())
        return;
    // The layouts would settle on the next turn of the event loop; scrolling
    // now would aim at where the widget was. Lay out from its parent up to the
    // page, then let the scroll area size the page to that.
    for (QWidget* w = widget->parentWidget(); w; w = w->parentWidget()) {
        if (QLayout* layout = w->layout())
            layout->activate();
        if (w == scroll->widget())
            break;
    }
    QEvent relayout(QEvent::LayoutRequest);
    QCoreApplication::sendEvent(scroll, &relayout);
    scroll->ensureWidgetVisible(widget, 0, 8);
}

void SettingsLayout::paintPreviewCard(QPainter& painter, const QWidget& widget, const QRectF& rect)
{
    QColor faint = widget.palette().color(QPalette::WindowText);
    faint.setAlphaF(0.06);
    painter.setPen(Qt::NoPen);
    painter.setBrush(faint);
    painter.drawRoundedRect(rect, previewRadius, previewRadius);
}

} // namespace corvessa
