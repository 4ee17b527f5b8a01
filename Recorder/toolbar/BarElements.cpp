#include "toolbar/BarElements.h"

#include "model/RecorderModel.h"
#include "prefs/Loc.h"
#include "toolbar/BarSideCard.h"
#include "toolbar/FloatingMenu.h"
#include "toolbar/kit/IconTile.h"
#include "toolbar/PopupMenuArea.h"
#include "toolbar/kit/Symbols.h"
#include "toolbar/kit/SymbolView.h"
#include "toolbar/TapOrHold.h"
#include "toolbar/kit/TileButton.h"
#include "toolbar/kit/WrappedText.h"
#include "toolbar/TipModifier.h"

#include <QFontMetricsF>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QScreen>
#include <QWindow>

#include <cmath>

namespace corvessa {

BarElements::BarElements(RecorderModel& model, Prefs& prefs, const BarServices& services, const QWidget& bar)
    : m_model(model)
    , m_prefs(prefs)
    , m_services(services)
    , m_bar(bar)
{
}

QColor BarElements::red()
{
    return QColor::fromRgbF(1.0f, 0.23f, 0.19f);
}

QColor BarElements::green()
{
    return QColor::fromRgbF(0.2f, 0.78f, 0.35f);
}

QColor BarElements::primary() const
{
    return m_bar.palette().color(QPalette::WindowText);
}

QFont BarElements::font() const
{
    return m_bar.font();
}

QColor BarElements::secondary() const
{
    QColor c = primary();
    c.setAlphaF(0.5f);
    return c;
}

int BarElements::rowRoom() const
{
    int width = 0;
    if (m_services.screenWidth) {
        width = m_services.screenWidth();
    } else {
        const QScreen* screen = m_bar.window() && m_bar.window()->windowHandle()
            ? m_bar.window()->windowHandle()->screen()
            : QGuiApplication::primaryScreen();
        width = screen ? screen->availableGeometry().width() : 0;
    }
    // The row sits 12 pt inside the card on either side.
    return width - 2 * int(BarSideCard::edgeInset) - 2 * 12;
}

void BarElements::tip(QWidget* control, const QString& english, std::optional<HotKeyAction> action) const
{
    control->setAccessibleName(Loc::text(english));
    if (m_services.tips)
        TipModifier::attach(control, *m_services.tips, Loc::text(english), action);
}

TileButton* BarElements::icon(const QString& symbol, bool selected, const QColor& tint, double size,
                              std::function<void()> action, const QString& name) const
{
    auto painter = Symbols::painter(symbol, size);
    auto* tile = new TileButton(
        [painter, tint](QPainter& p, const QRectF& box, const QColor& colour) {
            painter(p, box, tint.isValid() ? tint : colour);
        },
        40, std::move(action));
    tile->setSelected(selected);
    tile->setObjectName(name);
    return tile;
}

TileButton* BarElements::actionLabel(const QString& symbol, const QString& title, std::function<void()> action,
                                     const QString& name) const
{
    QFont font = m_bar.font();
    font.setPointSizeF(13);
    const double w = QFontMetricsF(font).horizontalAdvance(title);
    const int width = std::max(int(std::ceil(w)) + 16 + 7 + 28, 76);
    auto glyph = Symbols::painter(symbol, 16);
    auto* tile = new TileButton(
        [glyph, title, font, w](QPainter& p, const QRectF& box, const QColor&) {
            // The tile centres a 24 pt box; the label is laid out from the
            // tile's own centre instead.
            const double tileMid = box.center().x();
            const double total = 16 + 7 + w;
            const double left = tileMid - total / 2;
            const QColor text = QGuiApplication::palette().color(QPalette::WindowText);
            glyph(p, QRectF(left, box.center().y() - 8, 16, 16), text);
            p.setFont(font);
            p.setPen(text);
            p.drawText(QRectF(left + 16 + 7, box.top() - 6, w + 1, box.height() + 12),
                       Qt::AlignVCenter | Qt::AlignLeft | Qt::TextSingleLine, title);
        },
        width, std::move(action));
    tile->setObjectName(name);
    return tile;
}

QWidget* BarElements::divider() const
{
    auto* line = new QWidget;
    line->setFixedSize(1 + 8, 20);
    line->setAttribute(Qt::WA_TransparentForMouseEvents);
    line->setAttribute(Qt::WA_TranslucentBackground);
    // Painted by a child so the padding stays clear.
    auto* bar = new QWidget(line);
    bar->setGeometry(4, 0, 1, 20);
    bar->setAutoFillBackground(true);
    QPalette pal = bar->palette();
    QColor c = pal.color(QPalette::WindowText);
    c.setAlphaF(0.18f);
    pal.setColor(QPalette::Window, c);
    bar->setPalette(pal);
    return line;
}

QWidget* BarElements::textLabel(const QString& text, double points, const QColor& colour, int maxWidth,
                                bool wraps) const
{
    QFont f = m_bar.font();
    f.setPointSizeF(points);
    if (wraps) {
        auto* label = new WrappedText(text, f, colour, maxWidth);
        label->setAttribute(Qt::WA_TransparentForMouseEvents);
        return label;
    }
    auto* label = new QLabel(text);
    label->setFont(f);
    QPalette pal = label->palette();
    pal.setColor(QPalette::WindowText, colour);
    label->setPalette(pal);
    label->setAttribute(Qt::WA_TransparentForMouseEvents);
    label->setWordWrap(false);
    return label;
}

QWidget* BarElements::glyphBox(const QString& symbol, const QColor& colour) const
{
    auto* box = new QWidget;
    box->setFixedSize(40, 36);
    box->setAttribute(Qt::WA_TransparentForMouseEvents);
    auto* glyph = new SymbolView(symbol, 20, colour, box);
    glyph->move((40 - SymbolView::frame) / 2, (36 - SymbolView::frame) / 2);
    return box;
}

QWidget* BarElements::closeButton(const QString& tipText) const
{
    QColor secondary = m_bar.palette().color(QPalette::WindowText);
    secondary.setAlphaF(0.5f);
    auto* button = icon(QStringLiteral("xmark"), false, secondary, 15, [&model = m_model] { model.backToReady(); },
                        QStringLiteral("close"));
    tip(button, tipText);
    return button;
}

QWidget* BarElements::noticeLine(double maxWidth) const
{
    const auto& notice = m_model.screenNotice() ? m_model.screenNotice() : m_model.cameraNotice();
    if (!notice)
        return nullptr;
    QWidget* text = textLabel(*notice, 12, IconTile::orange(), int(maxWidth), true);
    text->setObjectName(QStringLiteral("notice"));
    return text;
}

QWidget* BarElements::menuTile(QWidget* content, int width, std::function<MenuRows()> specs, const QString& name) const
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

void BarElements::tapOrHold(QWidget* control, std::function<void()> tap, std::function<void(const QRect&)> hold) const
{
    if (!m_services.scheduler)
        return;
    if (!hold)
        hold = [](const QRect&) {};
    auto* input = new TapOrHold(*m_services.scheduler, std::move(tap), std::move(hold), control);
    // The tile passes its children's presses to itself; this one takes them.
    input->setAttribute(Qt::WA_TransparentForMouseEvents, false);
    input->setGeometry(control->rect());
}

} // namespace corvessa
