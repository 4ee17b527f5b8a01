#include "toolbar/BarRow.h"

#include <QHBoxLayout>
#include <QLayoutItem>

namespace corvessa {

BarRow::BarRow(const BarElements& elements, QWidget* parent)
    : QWidget(parent)
    , m_elements(elements)
    , m_layout(new QHBoxLayout(this))
{
    m_layout->setSpacing(2);
    m_layout->setContentsMargins(0, 0, 0, 0);
}

void BarRow::refresh()
{
    while (QLayoutItem* item = m_layout->takeAt(0)) {
        if (QWidget* w = item->widget()) {
            // Off the bar at once; deleted later, as it may be running a handler.
            w->hide();
            w->setParent(nullptr);
            w->deleteLater();
        }
        delete item;
    }
    build();
    m_layout->activate();
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
