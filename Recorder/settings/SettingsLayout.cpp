#include "settings/SettingsLayout.h"

#include "prefs/Loc.h"
#include "settings/SettingsPane.h"

#include <QApplication>
#include <QFont>
#include <QFontMetricsF>
#include <QPainter>
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

void SettingsLayout::paintPreviewCard(QPainter& painter, const QWidget& widget, const QRectF& rect)
{
    QColor faint = widget.palette().color(QPalette::WindowText);
    faint.setAlphaF(0.06);
    painter.setPen(Qt::NoPen);
    painter.setBrush(faint);
    painter.drawRoundedRect(rect, previewRadius, previewRadius);
}

} // namespace corvessa
