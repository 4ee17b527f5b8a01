#include "toolbar/FloatingMenuView.h"

#include "toolbar/FloatingMenuItem.h"
#include "toolbar/GainSliderRow.h"
#include "toolbar/kit/GlassBackground.h"

#include <QFontDatabase>
#include <QFrame>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

#include <algorithm>

namespace corvessa {

namespace {

// The card's two shadows: a wide soft one that lifts it off the screen and a
// tight one that outlines its edge.
struct Shadow {
    double opacity;
    double radius;
    double offsetY;
};
constexpr Shadow shadows[] = {{0.26, 16, 9}, {0.16, 2.5, 1}};
// Rings per shadow; enough that the steps do not show.
constexpr int shadowRings = 8;

void paintShadow(QPainter& p, const QRectF& card, double cornerRadius, const Shadow& s)
{
    const QRectF dropped = card.translated(0, s.offsetY);
    for (int i = 0; i < shadowRings; ++i) {
        // Rings from the blur's outer edge inwards, each adding its share, so
        // the darkness grows towards the card like a blurred edge.
        const double grow = s.radius * (0.5 - double(i) / shadowRings);
        const double r = std::max(0.0, cornerRadius + grow);
        QPainterPath ring;
        ring.addRoundedRect(dropped.adjusted(-grow, -grow, grow, grow), r, r);
        p.fillPath(ring, QColor::fromRgbF(0, 0, 0, float(s.opacity / shadowRings)));
    }
}

} // namespace

QFont FloatingMenuView::textFont(int points, bool monospaced)
{
    QFont font = monospaced ? QFontDatabase::systemFont(QFontDatabase::FixedFont) : QFont();
    font.setPixelSize(points);
    return font;
}

QColor FloatingMenuView::primaryColour(const QPalette& palette)
{
    return palette.color(QPalette::Active, QPalette::WindowText);
}

QColor FloatingMenuView::secondaryColour(const QPalette& palette)
{
    QColor c = primaryColour(palette);
    c.setAlphaF(float(c.alphaF() * secondaryStrength));
    return c;
}

QLabel* FloatingMenuView::secondaryLabel(const QString& text, int points, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setFont(textFont(points));
    QPalette pal = label->palette();
    pal.setColor(QPalette::WindowText, secondaryColour(pal));
    label->setPalette(pal);
    return label;
}

FloatingMenuView::FloatingMenuView(const MenuRows& specs, std::function<void()> dismiss,
                                   std::optional<int> maximumContentHeight, QWidget* parent)
    : GlassPanel(cornerRadius, margin, parent)
{
    setBaseOpacity(GlassBackground::menuOpacity);
    auto* list = new QWidget;
    auto* stack = new QVBoxLayout(list);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(rowSpacing);
    for (const MenuRow& spec : specs) {
        QWidget* row = makeRow(spec, dismiss, list);
        m_rows.push_back(row);
        stack->addWidget(row);
    }
    list->setMinimumWidth(minimumCardWidth - 2 * padding);

    auto* card = new QVBoxLayout(this);
    card->setContentsMargins(padding, padding, padding, padding);
    card->setSizeConstraint(QLayout::SetFixedSize);
    if (maximumContentHeight) {
        m_scroll = new QScrollArea(this);
        m_scroll->setFrameShape(QFrame::NoFrame);
        m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        m_scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
        m_scroll->setWidgetResizable(true);
        m_scroll->setWidget(list);
        // Let the glass show through.
        for (QWidget* w : {static_cast<QWidget*>(m_scroll), m_scroll->viewport(), list})
            w->setAutoFillBackground(false);
        m_scroll->setFixedSize(list->sizeHint().width() + m_scroll->verticalScrollBar()->sizeHint().width(),
                               *maximumContentHeight);
        card->addWidget(m_scroll);
    } else {
        list->setParent(this);
        card->addWidget(list);
    }
    card->activate();
    resize(sizeHint());
}

QWidget* FloatingMenuView::makeRow(const MenuRow& spec, const std::function<void()>& dismiss, QWidget* parent)
{
    if (const MenuRow::Item* item = spec.asItem())
        return new FloatingMenuItem(*item, dismiss, parent);
    if (const MenuRow::Note* note = spec.asNote()) {
        QLabel* label = secondaryLabel(note->text, notePoints, parent);
        label->setContentsMargins(notePadX, notePadY, notePadX, notePadY);
        return label;
    }
    if (const MenuRow::Slider* slider = spec.asSlider())
        return new GainSliderRow(slider->title, slider->get, slider->set, parent);
    auto* separator = new QWidget(parent);
    auto* pad = new QVBoxLayout(separator);
    pad->setContentsMargins(0, separatorPad, 0, separatorPad);
    auto* line = new QFrame(separator);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Plain);
    QPalette pal = line->palette();
    pal.setColor(QPalette::WindowText, secondaryColour(pal));
    line->setPalette(pal);
    pad->addWidget(line);
    return separator;
}

void FloatingMenuView::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing, true);
    const QRectF card = cardRect();
    const double radius = GlassBackground::usableRadius(card, cornerRadius);
    // The shadows stay off the card.
    QPainterPath outside;
    outside.addRect(QRectF(rect()));
    QPainterPath shape;
    shape.addRoundedRect(card, radius, radius);
    p.save();
    p.setClipPath(outside.subtracted(shape));
    for (const Shadow& s : shadows)
        paintShadow(p, card, radius, s);
    p.restore();
    GlassBackground::paint(p, card, cornerRadius, baseOpacity());
}

} // namespace corvessa
