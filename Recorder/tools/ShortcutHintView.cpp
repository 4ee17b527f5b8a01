#include "tools/ShortcutHintView.h"

#include "toolbar/kit/Symbols.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace corvessa {

namespace {

constexpr double iconPoints = 10;
constexpr double titlePoints = 11;
constexpr double keyPoints = 10.5;
constexpr double labelPoints = 11;

QLabel* textLabel(const QString& text, double points, bool medium, const QColor& colour, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    QFont font = label->font();
    font.setPointSizeF(points);
    if (medium)
        font.setWeight(QFont::Medium);
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
    return label;
}

} // namespace

ShortcutHintView::ShortcutHintView(std::vector<ShortcutRow> rows, int maxWidth, QWidget* parent)
    : GlassPanel(cornerRadius, margin, parent), m_rows(std::move(rows))
{
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(padX, padY, padX, padY);
    stack->setSpacing(rowSpacing);
    stack->setSizeConstraint(QLayout::SetFixedSize);
    QColor primary = palette().color(QPalette::WindowText);
    primary.setAlphaF(0.72f);
    QColor plate = palette().color(QPalette::WindowText);
    plate.setAlphaF(0.09f);
    const QString plateStyle = QStringLiteral("QLabel { background: rgba(%1, %2, %3, %4); border-radius: 4px; "
                                              "padding: 1px 4px; }")
                                   .arg(plate.red())
                                   .arg(plate.green())
                                   .arg(plate.blue())
                                   .arg(plate.alpha());
    // Room for a line inside the card's padding and margin.
    const int room = maxWidth > 0 ? maxWidth - 2 * (margin + padX) : std::numeric_limits<int>::max();
    for (const ShortcutRow& r : m_rows) {
        auto* head = new QWidget(this);
        auto* headLine = new QHBoxLayout(head);
        headLine->setContentsMargins(0, 0, 0, 0);
        headLine->setSpacing(innerSpacing);
        auto* icon = new QLabel(head);
        icon->setObjectName(QStringLiteral("shortcutIcon"));
        icon->setPixmap(Symbols::pixmap(r.icon, iconPoints, primary, devicePixelRatioF()));
        icon->setFixedSize(int(std::ceil(iconPoints)), int(std::ceil(iconPoints)));
        headLine->addWidget(icon, 0, Qt::AlignVCenter);
        QLabel* title = textLabel(r.title, titlePoints, true, primary, head);
        title->setObjectName(QStringLiteral("shortcutTitle"));
        headLine->addWidget(title, 0, Qt::AlignVCenter);

        std::vector<QWidget*> items;
        for (const ShortcutItem& item : r.items) {
            auto* pair = new QWidget(this);
            auto* pairLine = new QHBoxLayout(pair);
            pairLine->setContentsMargins(0, 0, 0, 0);
            pairLine->setSpacing(innerSpacing);
            if (!item.key.isEmpty()) {
                QLabel* cap = textLabel(item.key, keyPoints, true, primary, pair);
                cap->setObjectName(QStringLiteral("shortcutKey"));
                cap->setStyleSheet(plateStyle);
                pairLine->addWidget(cap, 0, Qt::AlignVCenter);
            }
            QLabel* label = textLabel(item.label, labelPoints, false, primary, pair);
            label->setObjectName(QStringLiteral("shortcutLabel"));
            pairLine->addWidget(label, 0, Qt::AlignVCenter);
            items.push_back(pair);
        }

        // One line while it fits; the items that do not go on further lines,
        // under the first item, or from the left when even that is too narrow.
        const int headWidth = head->sizeHint().width();
        int widest = 0;
        for (QWidget* item : items)
            widest = std::max(widest, item->sizeHint().width());
        const int indent = headWidth + itemSpacing + widest <= room ? headWidth + itemSpacing : 0;
        auto* line = new QHBoxLayout;
        line->setSpacing(itemSpacing);
        line->addWidget(head);
        int used = headWidth; // where the line's next item would start, less the spacing
        for (QWidget* item : items) {
            const int width = item->sizeHint().width();
            if (used > indent && used + itemSpacing + width > room) {
                stack->addLayout(line);
                stack->setAlignment(line, Qt::AlignLeft);
                line = new QHBoxLayout;
                line->setSpacing(itemSpacing);
                line->setContentsMargins(indent, 0, 0, 0);
                line->addWidget(item);
                used = indent + width;
                continue;
            }
            line->addWidget(item);
            used += itemSpacing + width;
        }
        stack->addLayout(line);
        stack->setAlignment(line, Qt::AlignLeft);
    }
    adjustSize();
}

} // namespace corvessa
