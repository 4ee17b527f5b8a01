#include "toolbar/TipView.h"

#include <QHBoxLayout>
#include <QLabel>

namespace corvessa {

namespace {
// Dimmer text for the key, as the other secondary texts of the toolbar.
constexpr double secondaryStrength = 0.5;

QLabel* makeLabel(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    QFont font = label->font();
    font.setPointSizeF(TipView::fontPoints);
    label->setFont(font);
    label->setTextFormat(Qt::PlainText);
    return label;
}
} // namespace

TipView::TipView(const QString& name, const std::optional<QString>& key, QWidget* parent)
    : GlassPanel(cornerRadius, margin, parent)
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(padX, padY, padX, padY);
    row->setSpacing(spacing);
    row->setSizeConstraint(QLayout::SetFixedSize);
    m_name = makeLabel(name, this);
    row->addWidget(m_name, 0, Qt::AlignVCenter);
    if (key && !key->isEmpty()) {
        m_key = makeLabel(*key, this);
        QPalette pal = m_key->palette();
        QColor c = pal.color(QPalette::WindowText);
        c.setAlphaF(float(c.alphaF() * secondaryStrength));
        pal.setColor(QPalette::WindowText, c);
        m_key->setPalette(pal);
        row->addWidget(m_key, 0, Qt::AlignVCenter);
    }
}

QString TipView::name() const
{
    return m_name->text();
}

QString TipView::keyText() const
{
    return m_key ? m_key->text() : QString();
}

} // namespace corvessa
