#include "settings/SettingRow.h"

#include "settings/SettingsLayout.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPalette>
#include <QVBoxLayout>

namespace corvessa {

SettingRow::SettingRow(const QString& title, const QString& desc, QWidget* control, QWidget* parent)
    : QWidget(parent)
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 5, 0, 5);
    row->setSpacing(spacing);

    m_title = new QLabel(title, this);
    m_title->setWordWrap(true);
    m_title->setFixedWidth(titleWidth);
    m_title->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    row->addWidget(m_title, 0, Qt::AlignTop);

    auto* column = new QVBoxLayout;
    column->setSpacing(4);
    column->setContentsMargins(0, 0, 0, 0);
    if (control)
        column->addWidget(control, 0, Qt::AlignLeft);
    m_desc = new QLabel(this);
    m_desc->setWordWrap(true);
    QFont callout = m_desc->font();
    callout.setPixelSize(12);
    m_desc->setFont(callout);
    SettingsLayout::greyText(m_desc);
    column->addWidget(m_desc);
    row->addLayout(column, 1);
    setDesc(desc);
}

void SettingRow::setDesc(const QString& desc)
{
    m_desc->setText(desc);
    m_desc->setVisible(!desc.isEmpty());
}

QString SettingRow::title() const
{
    return m_title->text();
}

QString SettingRow::desc() const
{
    return m_desc->text();
}

} // namespace corvessa
