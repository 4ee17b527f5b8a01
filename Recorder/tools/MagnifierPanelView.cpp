#include "tools/MagnifierPanelView.h"

#include "prefs/Loc.h"
#include "prefs/Prefs.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QToolButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QVBoxLayout>

#include <cmath>
#include <utility>

namespace corvessa {

namespace {

// A row of exclusive buttons: the segmented picker of the card.
QButtonGroup* segments(QWidget* owner, QHBoxLayout* row, const QStringList& titles)
{
    auto* group = new QButtonGroup(owner);
    group->setExclusive(true);
    row->setSpacing(0);
    for (int i = 0; i < titles.size(); ++i) {
        auto* button = new QToolButton; button->setText(Loc::text(titles[i]));
        button->setCheckable(true);
        button->setFocusPolicy(Qt::NoFocus);
        button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        group->addButton(button, i);
        row->addWidget(button);
    }
    return group;
}

QLabel* caption(const QString& text = {})
{
    auto* label = new QLabel(text);
    QFont font = label->font();
    font.setPointSizeF(font.pointSizeF() * 0.85);
    label->setFont(font);
    label->setForegroundRole(QPalette::PlaceholderText);
    label->setWordWrap(true);
    return label;
}

} // namespace

MagnifierPanelView::MagnifierPanelView(Prefs& prefs, std::function<void(int mode)> setFocusMode, QWidget* parent)
    : GlassPanel(cornerRadius, margin, parent)
    , m_prefs(prefs)
    , m_setFocusMode(std::move(setFocusMode))
{
    auto* column = new QVBoxLayout(this);
    // Inside the glass panel's own margin.
    column->setContentsMargins(padding, padding, padding, padding);
    column->setSpacing(12);

    auto* modeRow = new QHBoxLayout;
    m_mode = segments(this, modeRow, {QStringLiteral("Follow Cursor"), QStringLiteral("Select Region")});
    column->addLayout(modeRow);
    connect(m_mode, &QButtonGroup::idClicked, this, [this](int mode) {
        if (m_setFocusMode)
            m_setFocusMode(mode);
        else
            m_prefs.setFocusMode(mode);
        refresh();
    });

    auto* sizeBox = new QVBoxLayout;
    sizeBox->setSpacing(4);
    auto* sizeRow = new QHBoxLayout;
    sizeRow->addWidget(new QLabel(Loc::text(QStringLiteral("Magnifier Area Size"))));
    sizeRow->addStretch(1);
    m_factor = new QLabel;
    QFont mono = m_factor->font();
    mono.setStyleHint(QFont::Monospace);
    mono.setFamily(QStringLiteral("monospace"));
    m_factor->setFont(mono);
    sizeRow->addWidget(m_factor);
    sizeBox->addLayout(sizeRow);
    m_size = new QSlider(Qt::Horizontal);
    m_size->setRange(smallestArea, largestArea);
    m_size->setFocusPolicy(Qt::NoFocus);
    sizeBox->addWidget(m_size);
    m_zoomKeys = caption();
    sizeBox->addWidget(m_zoomKeys);
    column->addLayout(sizeBox);
    connect(m_size, &QSlider::valueChanged, this, [this](int hundredths) { m_prefs.setFocusFrac(hundredths / 100.0); });

    auto* speedRow = new QHBoxLayout;
    speedRow->addWidget(new QLabel(Loc::text(QStringLiteral("Zoom Animation Speed"))));
    speedRow->addStretch(1);
    auto* speedButtons = new QHBoxLayout;
    m_speed = segments(this, speedButtons,
                       {QStringLiteral("Fast"), QStringLiteral("Medium"), QStringLiteral("Slow")});
    speedRow->addLayout(speedButtons);
    column->addLayout(speedRow);
    connect(m_speed, &QButtonGroup::idClicked, this, [this](int speed) { m_prefs.setFocusSpeed(speed); });

    m_outline = new QCheckBox(Loc::text(QStringLiteral("Magnifier Area Outline")));
    m_outline->setFocusPolicy(Qt::NoFocus);
    column->addWidget(m_outline);
    connect(m_outline, &QCheckBox::toggled, this, [this](bool on) { m_prefs.setFocusLive(on); });

    auto* divider = new QFrame;
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Plain);
    column->addWidget(divider);

    m_shortcuts = caption();
    column->addWidget(m_shortcuts);
    m_regionShortcut = caption();
    column->addWidget(m_regionShortcut);

    connect(&m_prefs, &Prefs::changed, this, [this] { refresh(); });
    refresh();
    // Wider where the texts need it (fonts and languages differ).
    setMinimumWidth(cardWidth + 2 * (margin + padding));
    adjustSize();
}

QString MagnifierPanelView::factorText(double fraction)
{
    if (!std::isfinite(fraction) || fraction <= 0)
        return QString();
    return QString::asprintf("%.1f×", 1 / fraction);
}

QString MagnifierPanelView::keyText(HotKeyAction action) const
{
    const auto binding = KeyBinding::bound(m_prefs.bindings(), action);
    return binding ? binding->display() : QString();
}

QAbstractButton* MagnifierPanelView::modeButton(int mode) const
{
    return m_mode->button(mode);
}

void MagnifierPanelView::refresh()
{
    const int mode = m_prefs.focusMode();
    if (QAbstractButton* b = m_mode->button(mode))
        b->setChecked(true);
    if (QAbstractButton* b = m_speed->button(m_prefs.focusSpeed()))
        b->setChecked(true);
    {
        // Showing the value is no change of it.
        const QSignalBlocker quiet(m_size);
        m_size->setValue(int(std::lround(m_prefs.focusFrac() * 100)));
    }
    m_factor->setText(factorText(m_prefs.focusFrac()));
    m_zoomKeys->setText(keyText(HotKeyAction::zoomIn) + QStringLiteral(" / ") + keyText(HotKeyAction::zoomOut));
    {
        const QSignalBlocker quiet(m_outline);
        m_outline->setChecked(m_prefs.focusLive());
    }
    m_shortcuts->setText(Loc::text(QStringLiteral("Toggle Magnifier")) + QLatin1Char(' ') + keyText(HotKeyAction::focus)
                         + QStringLiteral("   ·   ") + Loc::text(QStringLiteral("Switch Magnifier Mode"))
                         + QLatin1Char(' ') + keyText(HotKeyAction::focusMode));
    m_regionShortcut->setText(Loc::text(QStringLiteral("Re-select Magnifier Region")) + QLatin1Char(' ')
                              + keyText(HotKeyAction::focusReselect));
    const bool region = mode == 1;
    if (m_regionShortcut->isVisibleTo(this) != region) {
        m_regionShortcut->setVisible(region);
        adjustSize();
    }
}

} // namespace corvessa
