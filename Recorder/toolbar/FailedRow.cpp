#include "toolbar/FailedRow.h"

#include "model/RecorderModel.h"
#include "toolbar/BarElements.h"

namespace corvessa {

void FailedRow::build()
{
    add(m_elements.glyphBox(QStringLiteral("exclamationmark.triangle.fill"), BarElements::red()));
    QWidget* message = m_elements.textLabel(m_elements.model().phase().message, 13, m_elements.primary(), 340, true);
    message->setObjectName(QStringLiteral("message"));
    message->setFixedHeight(std::max(message->height(), 36));
    add(message);
    add(m_elements.closeButton(QStringLiteral("OK")));
}

} // namespace corvessa
