#include "toolbar/CountdownRow.h"

namespace corvessa {

void CountdownRow::build()
{
    auto* placeholder = new QWidget;
    placeholder->setFixedSize(1, 36);
    placeholder->setObjectName(QStringLiteral("placeholder"));
    add(placeholder);
}

} // namespace corvessa
