#include "toolbar/HintView.h"

#include "toolbar/kit/Symbols.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include <cmath>
#include <utility>

namespace corvessa {

HintView::HintView(std::vector<Hint> items, QWidget* parent)
    : GlassPanel(cornerRadius, margin, parent), m_items(std::move(items))
{
    auto* rows = new QVBoxLayout(this);
    rows->setContentsMargins(padX, padY, padX, padY);
    rows->setSpacing(rowSpacing);
    rows->setSizeConstraint(QLayout::SetFixedSize);
    const QColor primary = palette().color(QPalette::WindowText);
    for (const Hint& hint : m_items) {
        auto* row = new QHBoxLayout;
        row->setSpacing(iconSpacing);
        auto* icon = new QLabel(this);
        icon->setObjectName(QStringLiteral("hintIcon"));
        icon->setPixmap(Symbols::pixmap(hint.icon, iconPoints, primary, devicePixelRatioF()));
        icon->setFixedSize(int(std::ceil(iconPoints)), int(std::ceil(iconPoints)));
        auto* text = new QLabel(hint.text, this);
        text->setObjectName(QStringLiteral("hintText"));
        text->setTextFormat(Qt::PlainText);
        QFont font = text->font();
        font.setPointSizeF(textPoints);
        text->setFont(font);
        row->addWidget(icon, 0, Qt::AlignVCenter);
        row->addWidget(text, 0, Qt::AlignVCenter);
        rows->addLayout(row);
        rows->setAlignment(row, Qt::AlignLeft);
    }
    adjustSize();
}

} // namespace corvessa
