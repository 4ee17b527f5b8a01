#include "toolbar/BarRow.h"

#include "toolbar/BarElements.h"
#include "toolbar/kit/WrappedText.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLayoutItem>
#include <QVBoxLayout>

#include <algorithm>

namespace corvessa {

BarRow::BarRow(const BarElements& elements, QWidget* parent)
    : QWidget(parent)
    , m_elements(elements)
    , m_layout(new QHBoxLayout)
    , m_below(new QHBoxLayout)
{
    auto* lines = new QVBoxLayout(this);
    lines->setContentsMargins(0, 0, 0, 0);
    lines->setSpacing(4);
    lines->addLayout(m_layout);
    lines->addLayout(m_below);
    m_layout->setSpacing(2);
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_below->setContentsMargins(0, 0, 0, 0);
}

void BarRow::refresh()
{
    for (QHBoxLayout* line : {m_layout, m_below}) {
        while (QLayoutItem* item = line->takeAt(0)) {
            if (QWidget* w = item->widget()) {
                // Off the bar at once; deleted later, as it may be running a handler.
                w->hide();
                w->setParent(nullptr);
                w->deleteLater();
            }
            delete item;
        }
    }
    build();
    layout()->activate();
    fitTexts(m_elements.rowRoom());
}

void BarRow::fitTexts(int room)
{
    const int excess = m_layout->sizeHint().width() - room;
    if (room <= 0 || excess <= 0)
        return;
    // WrappedText has no meta-object of its own: found among the labels.
    QList<WrappedText*> texts;
    for (QLabel* label : findChildren<QLabel*>()) {
        if (auto* text = dynamic_cast<WrappedText*>(label))
            texts << text;
    }
    int spare = 0;
    for (const WrappedText* text : texts)
        spare += std::max(0, text->width() - WrappedText::narrowest);
    if (excess <= spare) {
        // Narrower texts take more lines, down to a width that still reads as a sentence.
        int left = excess;
        for (WrappedText* text : texts) {
            const int narrower = std::max(WrappedText::narrowest, text->width() - left);
            left -= text->width() - narrower;
            text->setMaxWidth(narrower);
            if (left <= 0)
                break;
        }
    } else {
        // No room beside the controls: each text goes beneath them, with what
        // stands with it (its symbol, its close button), as wide as the row may be.
        for (WrappedText* text : texts) {
            QWidget* element = text;
            while (element->parentWidget() && element->parentWidget() != this)
                element = element->parentWidget();
            if (element->parentWidget() != this)
                continue;
            const int besides = element->sizeHint().width() - text->width();
            text->setMaxWidth(std::max(WrappedText::narrowest, room - besides));
            m_layout->removeWidget(element);
            m_below->addWidget(element, 0, Qt::AlignLeft | Qt::AlignVCenter);
        }
        m_below->addStretch();
    }
    layout()->activate();
}

void BarRow::add(QWidget* element)
{
    m_layout->addWidget(element, 0, Qt::AlignVCenter);
    // Shown now rather than on a later turn, as the layout would: the row then
    // takes its final size at once instead of growing control by control, each
    // step another resize for the window manager to carry out.
    if (isVisible() && !element->testAttribute(Qt::WA_WState_ExplicitShowHide))
        element->show();
}

} // namespace corvessa
