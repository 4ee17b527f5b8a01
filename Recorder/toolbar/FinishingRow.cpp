#include "toolbar/FinishingRow.h"

#include "prefs/Loc.h"
#include "toolbar/BarElements.h"

#include <QHBoxLayout>
#include <QProgressBar>

namespace corvessa {

void FinishingRow::build()
{
    add(m_elements.glyphBox(QStringLiteral("hourglass"), m_elements.secondary()));
    auto* box = new QWidget;
    box->setObjectName(QStringLiteral("saving"));
    box->setMinimumSize(140, 36);
    auto* row = new QHBoxLayout(box);
    row->setContentsMargins(8, 0, 8, 0);
    row->setSpacing(8);
    auto* busy = new QProgressBar;
    busy->setRange(0, 0);
    busy->setTextVisible(false);
    busy->setFixedSize(32, 6);
    row->addWidget(busy);
    row->addWidget(m_elements.textLabel(Loc::text(QStringLiteral("Saving…")), 13, m_elements.primary(), 0, false));
    add(box);
}

} // namespace corvessa
