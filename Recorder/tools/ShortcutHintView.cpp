#include "tools/ShortcutHintView.h"

#include "toolbar/kit/Symbols.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include <cmath>
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

ShortcutHintView::ShortcutHintView(std::vector<ShortcutRow> rows, QWidget* parent)
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
    for (const ShortcutRow& r : m_rows) {
        auto* line = new QHBoxLayout;
        line->setSpacing(itemSpacing);
        auto* head = new QHBoxLayout;
        head->setSpacing(innerSpacing);
        auto* icon = new QLabel(this);
        icon->setObjectName(QStringLiteral("shortcutIcon"));
        icon->setPixmap(Symbols::pixmap(r.icon, iconPoints, primary, devicePixelRatioF()));
        icon->setFixedSize(int(std::ceil(iconPoints)), int(std::ceil(iconPoints)));
        head->addWidget(icon, 0, Qt::AlignVCenter);
        QLabel* title = textLabel(r.title, titlePoints, true, primary, this);
        title->setObjectName(QStringLiteral("shortcutTitle"));
        head->addWidget(title, 0, Qt::AlignVCenter);
        line->addLayout(head);
        for (const ShortcutItem& item : r.items) {
            auto* pair = new QHBoxLayout;
            pair->setSpacing(innerSpacing);
            if (!item.key.isEmpty()) {
                QLabel* cap = textLabel(item.key, keyPoints, true, primary, this);
                cap->setObjectName(QStringLiteral("shortcutKey"));
                cap->setStyleSheet(plateStyle);
                pair->addWidget(cap, 0, Qt::AlignVCenter);
            }
            QLabel* label = textLabel(item.label, labelPoints, false, primary, this);
            label->setObjectName(QStringLiteral("shortcutLabel"));
            pair->addWidget(label, 0, Qt::AlignVCenter);
            line->addLayout(pair);
        }
        stack->addLayout(line);
        stack->setAlignment(line, Qt::AlignLeft);
    }
    adjustSize();
}

} // namespace corvessa
