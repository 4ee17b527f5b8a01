// The camera, microphone and system-audio items and the compact audio controls.
#include "toolbar/BarView.h"

#include "model/RecorderModel.h"
#include "prefs/Loc.h"
#include "toolbar/FloatingMenu.h"
#include "toolbar/IconTile.h"
#include "toolbar/LEDBar.h"
#include "toolbar/PopupMenuArea.h"
#include "toolbar/SourceMenus.h"
#include "toolbar/SourceVisual.h"
#include "toolbar/SymbolView.h"
#include "toolbar/VMeter.h"

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

} // namespace

QWidget* BarView::menuTile(QWidget* content, int width, std::function<MenuRows()> specs, const QString& name)
{
    auto* tile = new IconTile({}, width);
    auto* row = new QHBoxLayout(tile);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    row->addStretch();
    row->addWidget(content, 0, Qt::AlignVCenter);
    row->addStretch();
    content->setAttribute(Qt::WA_TransparentForMouseEvents);
    for (QWidget* child : content->findChildren<QWidget*>())
        child->setAttribute(Qt::WA_TransparentForMouseEvents);
    if (m_services.menu && m_services.scheduler) {
        FloatingMenu* menu = m_services.menu;
        auto* area = new PopupMenuArea(*menu, *m_services.scheduler,
                                       [menu, specs](const QRect& anchor, const QRect& avoiding) {
                                           menu->show(specs(), specs, anchor, avoiding);
                                       },
                                       Loc::text(name), tile);
        area->setGeometry(0, 0, width, IconTile::height);
        area->raise();
    }
    tip(tile, name);
    return tile;
}

int BarView::nameWidth(const QString& text) const
{
    QFont f = font();
    f.setPointSizeF(12);
    return std::clamp(int(std::ceil(QFontMetricsF(f).horizontalAdvance(text))) + 2, 54, 104);
}

BarView::FittedName BarView::fitName(const QString& text, const QFont& font, int width)
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

QLabel* BarView::nameLabel(const QString& text, const QColor& colour)
{
    const int width = nameWidth(text);
    QFont base = font();
    base.setPointSizeF(namePoints);
    const FittedName fitted = fitName(text, base, width);
    auto* label = static_cast<QLabel*>(textLabel(fitted.text, fitted.points, colour, 0, 1));
    label->setFixedWidth(width);
    return label;
}

int BarView::itemWidth(const QString& text) const
{
    // Icon, gap and name: a wide interface font may need more than the item's
    // usual 98 pt.
    return std::max(98, SymbolView::frame + 6 + nameWidth(text) + 8);
}

QWidget* BarView::cameraItem()
{
    const SourceVisual v = SourceVisual::camera(m_model);
    auto* content = new QWidget;
    auto* row = new QHBoxLayout(content);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(6);
    auto* glyph = new SymbolView(v.symbol, 18, tintColour(v.iconTint, primary(), secondary()));
    if (!v.badge.isEmpty())
        glyph->setBadge(v.badge, 8, IconTile::orange());
    row->addWidget(glyph);
    row->addWidget(nameLabel(v.text, tintColour(v.textTint, primary(), secondary())));
    QWidget* tile = menuTile(content, itemWidth(v.text), [this] { return SourceMenus::camera(m_model); },
                             QStringLiteral("Camera"));
    tile->setObjectName(QStringLiteral("camera"));
    return tile;
}

namespace {

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

QWidget* BarView::micItem()
{
    const SourceVisual v = SourceVisual::microphone(m_model);
    QWidget* content = audioContent(v, m_model.meters(), true,
                                    nameLabel(v.text, tintColour(v.textTint, primary(), secondary())),
                                    tintColour(v.iconTint, primary(), secondary()));
    QWidget* tile = menuTile(content, itemWidth(v.text), [this] { return SourceMenus::microphone(m_model); },
                             QStringLiteral("Microphone"));
    tile->setObjectName(QStringLiteral("mic"));
    return tile;
}

QWidget* BarView::systemItem()
{
    const SourceVisual v = SourceVisual::systemAudio(m_model);
    QWidget* content = audioContent(v, m_model.meters(), false,
                                    nameLabel(v.text, tintColour(v.textTint, primary(), secondary())),
                                    tintColour(v.iconTint, primary(), secondary()));
    QWidget* tile = menuTile(content, itemWidth(v.text), [this] { return SourceMenus::systemAudio(m_model); },
                             QStringLiteral("System Audio"));
    tile->setObjectName(QStringLiteral("system"));
    return tile;
}

QWidget* BarView::compactAudio(bool isMic)
{
    const SourceVisual v = isMic ? SourceVisual::compactMic(m_model) : SourceVisual::compactSystem(m_model);
    auto* content = new QWidget;
    auto* row = new QHBoxLayout(content);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(6);
    row->addWidget(new SymbolView(v.symbol, 17, tintColour(v.iconTint, primary(), secondary())));
    const SourceVisual::Meter meter = v.meter.value_or(SourceVisual::Meter{});
    row->addWidget(new VMeter(m_model.meters(), isMic, meter.muted, meter.active));
    QWidget* tile = menuTile(content, 44,
                             isMic ? std::function<MenuRows()>([this] { return SourceMenus::microphone(m_model); })
                                   : std::function<MenuRows()>([this] { return SourceMenus::systemAudio(m_model); }),
                             isMic ? QStringLiteral("Microphone") : QStringLiteral("System Audio"));
    tile->setObjectName(isMic ? QStringLiteral("compactMic") : QStringLiteral("compactSystem"));
    return tile;
}

} // namespace corvessa
