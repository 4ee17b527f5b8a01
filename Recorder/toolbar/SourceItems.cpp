#include "toolbar/SourceItems.h"

#include "model/RecorderModel.h"
#include "toolbar/BarElements.h"
#include "toolbar/kit/IconTile.h"
#include "toolbar/kit/LEDBar.h"
#include "toolbar/SourceMenus.h"
#include "toolbar/SourceVisual.h"
#include "toolbar/kit/SymbolView.h"
#include "toolbar/kit/VMeter.h"

#include <QFontMetricsF>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace corvessa {

namespace {

QColor tintColour(SourceVisual::Tint tint, const QColor& primary, const QColor& secondary)
{
    switch (tint) {
    case SourceVisual::Tint::warning:
        return SourceVisual::warningColour();
    case SourceVisual::Tint::orange:
        return IconTile::orange();
    case SourceVisual::Tint::primary:
        return primary;
    case SourceVisual::Tint::secondary:
        return secondary;
    }
    return primary;
}

// The icon, the name and the dot meter of an audio source item.
QWidget* audioContent(const SourceVisual& v, Meters& meters, bool isMic, QWidget* text, const QColor& iconColour)
{
    auto* content = new QWidget;
    auto* row = new QHBoxLayout(content);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(6);
    row->addWidget(new SymbolView(v.symbol, 18, iconColour));
    auto* column = new QVBoxLayout;
    column->setSpacing(3);
    column->setContentsMargins(0, 0, 0, 0);
    column->addWidget(text);
    const SourceVisual::Meter meter = v.meter.value_or(SourceVisual::Meter{});
    column->addWidget(new LEDBar(meters, isMic, meter.muted, meter.active, 7));
    row->addLayout(column);
    return content;
}

} // namespace

SourceItems::SourceItems(const BarElements& elements)
    : m_elements(elements)
{
}

int SourceItems::nameWidth(const QString& text) const
{
    QFont f = m_elements.font();
    f.setPointSizeF(12);
    return std::clamp(int(std::ceil(QFontMetricsF(f).horizontalAdvance(text))) + 2, 54, 104);
}

SourceItems::FittedName SourceItems::fitName(const QString& text, const QFont& font, int width)
{
    // A label never reaches its edge: two points for the anti-aliased last glyph.
    const double room = width - 2;
    QFont f = font;
    for (double points = namePoints; points >= smallestNamePoints; points -= 0.5) {
        f.setPointSizeF(points);
        if (QFontMetricsF(f).horizontalAdvance(text) <= room)
            return {text, points};
    }
    f.setPointSizeF(smallestNamePoints);
    return {QFontMetricsF(f).elidedText(text, Qt::ElideRight, room), smallestNamePoints};
}

QLabel* SourceItems::nameLabel(const QString& text, const QColor& colour) const
{
    const int width = nameWidth(text);
    QFont base = m_elements.font();
    base.setPointSizeF(namePoints);
    const FittedName fitted = fitName(text, base, width);
    auto* label = static_cast<QLabel*>(m_elements.textLabel(fitted.text, fitted.points, colour, 0, false));
    label->setFixedWidth(width);
    return label;
}

int SourceItems::itemWidth(const QString& text) const
{
    // Icon, gap and name: a wide interface font may need more than the item's
    // usual 98 pt.
    return std::max(98, SymbolView::frame + 6 + nameWidth(text) + 8);
}

QWidget* SourceItems::cameraItem() const
{
    RecorderModel& model = m_elements.model();
    const QColor primary = m_elements.primary();
    const QColor secondary = m_elements.secondary();
    const SourceVisual v = SourceVisual::camera(model);
    auto* content = new QWidget;
    auto* row = new QHBoxLayout(content);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(6);
    auto* glyph = new SymbolView(v.symbol, 18, tintColour(v.iconTint, primary, secondary));
    if (!v.badge.isEmpty())
        glyph->setBadge(v.badge, 8, IconTile::orange());
    row->addWidget(glyph);
    row->addWidget(nameLabel(v.text, tintColour(v.textTint, primary, secondary)));
    QWidget* tile = m_elements.menuTile(content, itemWidth(v.text), [&model] { return SourceMenus::camera(model); },
                                        QStringLiteral("Camera"));
    tile->setObjectName(QStringLiteral("camera"));
    return tile;
}

QWidget* SourceItems::micItem() const
{
    RecorderModel& model = m_elements.model();
    const QColor primary = m_elements.primary();
    const QColor secondary = m_elements.secondary();
    const SourceVisual v = SourceVisual::microphone(model);
    QWidget* content = audioContent(v, model.meters(), true,
                                    nameLabel(v.text, tintColour(v.textTint, primary, secondary)),
                                    tintColour(v.iconTint, primary, secondary));
    QWidget* tile = m_elements.menuTile(content, itemWidth(v.text),
                                        [&model] { return SourceMenus::microphone(model); },
                                        QStringLiteral("Microphone"));
    tile->setObjectName(QStringLiteral("mic"));
    return tile;
}

QWidget* SourceItems::systemItem() const
{
    RecorderModel& model = m_elements.model();
    const QColor primary = m_elements.primary();
    const QColor secondary = m_elements.secondary();
    const SourceVisual v = SourceVisual::systemAudio(model);
    QWidget* content = audioContent(v, model.meters(), false,
                                    nameLabel(v.text, tintColour(v.textTint, primary, secondary)),
                                    tintColour(v.iconTint, primary, secondary));
    QWidget* tile = m_elements.menuTile(content, itemWidth(v.text),
                                        [&model] { return SourceMenus::systemAudio(model); },
                                        QStringLiteral("System Audio"));
    tile->setObjectName(QStringLiteral("system"));
    return tile;
}

QWidget* SourceItems::compactAudio(bool isMic) const
{
    RecorderModel& model = m_elements.model();
    const SourceVisual v = isMic ? SourceVisual::compactMic(model) : SourceVisual::compactSystem(model);
    auto* content = new QWidget;
    auto* row = new QHBoxLayout(content);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(6);
    row->addWidget(new SymbolView(v.symbol, 17, tintColour(v.iconTint, m_elements.primary(), m_elements.secondary())));
    const SourceVisual::Meter meter = v.meter.value_or(SourceVisual::Meter{});
    row->addWidget(new VMeter(model.meters(), isMic, meter.muted, meter.active));
    QWidget* tile = m_elements.menuTile(
        content, 44,
        isMic ? std::function<MenuRows()>([&model] { return SourceMenus::microphone(model); })
              : std::function<MenuRows()>([&model] { return SourceMenus::systemAudio(model); }),
        isMic ? QStringLiteral("Microphone") : QStringLiteral("System Audio"));
    tile->setObjectName(isMic ? QStringLiteral("compactMic") : QStringLiteral("compactSystem"));
    return tile;
}

} // namespace corvessa
