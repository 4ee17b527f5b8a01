#include "toolbar/BarView.h"

#include "model/RecorderModel.h"
#include "prefs/LocNotifier.h"
#include "prefs/Prefs.h"
#include "toolbar/CountdownRow.h"
#include "toolbar/FailedRow.h"
#include "toolbar/FinishingRow.h"
#include "toolbar/ReadyRow.h"
#include "toolbar/RecordingGlow.h"
#include "toolbar/RecordingRow.h"
#include "toolbar/SavedRow.h"
#include "toolbar/TipWindow.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QTimer>

namespace corvessa {

BarView::BarView(RecorderModel& model, Prefs& prefs, Services services, QWidget* parent)
    : GlassPanel(cornerRadius, margin, parent)
    , m_model(model)
    , m_prefs(prefs)
    , m_services(std::move(services))
    , m_elements(model, prefs, m_services, *this)
    , m_layout(new QHBoxLayout(this))
{
    setObjectName(QStringLiteral("bar"));
    m_layout->setSpacing(0);
    // Inside the card, which the panel's own contents margins already keep off the
    // shadow's margin.
    m_layout->setContentsMargins(12, 6, 12, 6);
    m_layout->setSizeConstraint(QLayout::SetFixedSize);
    m_glow = new RecordingGlow(this);
    m_glow->hide();

    connect(&m_model, &RecorderModel::changed, this, [this](RecorderModel::Field field) {
        if (field == RecorderModel::Field::elapsed) {
            if (m_rowView)
                m_rowView->elapsedChanged();
        } else {
            scheduleRebuild();
        }
    });
    connect(&m_prefs, &Prefs::changed, this, [this](Prefs::Key key) {
        using K = Prefs::Key;
        if (key == K::compactRecordingBar || key == K::focusMode || key == K::penTool || key == K::penColor
            || key == K::cameraMirrored || key == K::bindings)
            scheduleRebuild();
    });
    connect(&LocNotifier::instance(), &LocNotifier::languageChanged, this, [this] { scheduleRebuild(); });
    rebuild();
}

BarView::~BarView() = default;

BarView::Row BarView::rowFor(const RecorderPhase& phase, bool compact)
{
    using K = RecorderPhase::Kind;
    switch (phase.kind) {
    case K::ready:
        return Row::ready;
    case K::countdown:
        return Row::countdown;
    case K::recording:
    case K::paused:
        return compact ? Row::compact : Row::recording;
    case K::finishing:
        return Row::finishing;
    case K::saved:
        return Row::saved;
    case K::failed:
        return Row::failed;
    }
    return Row::ready;
}

QWidget* BarView::rangeItem(const QString& title, const QString& symbol, RangeMode mode, const QString& name) const
{
    return ReadyRow::rangeItem(m_elements, title, symbol, mode, name);
}

void BarView::scheduleRebuild()
{
    if (m_rebuildPending)
        return;
    m_rebuildPending = true;
    // Coalesces the changes of one turn, and never deletes a control from
    // inside its own click handler.
    QTimer::singleShot(0, this, [this] { rebuildWhenReleased(); });
}

void BarView::rebuildWhenReleased()
{
    if (!m_rebuildPending)
        return;
    // A control pressed but not yet released would lose its click with the
    // row it stands in (a status change arriving between the two halves of a
    // click): wait for the release.
    if (QGuiApplication::mouseButtons() != Qt::NoButton && underMouse()) {
        QTimer::singleShot(50, this, [this] { rebuildWhenReleased(); });
        return;
    }
    rebuild();
}

BarRow* BarView::makeRow(Row row)
{
    switch (row) {
    case Row::ready:
        return new ReadyRow(m_elements, this);
    case Row::countdown:
        return new CountdownRow(m_elements, this);
    case Row::recording:
    case Row::compact:
        return new RecordingRow(m_elements, row == Row::compact, this);
    case Row::finishing:
        return new FinishingRow(m_elements, this);
    case Row::saved:
        return new SavedRow(m_elements, [this] { scheduleRebuild(); }, this);
    case Row::failed:
        return new FailedRow(m_elements, this);
    }
    return new ReadyRow(m_elements, this);
}

void BarView::rebuild()
{
    m_rebuildPending = false;
    // Every control is built anew: one that comes in under a resting pointer
    // has not been hovered, and the one a tip stood for is gone.
    if (m_services.tips)
        m_services.tips->hideUntilPointerMoves();
    const Row row = rowFor(m_model.phase(), m_prefs.compactRecordingBar());
    if (!m_rowView || row != m_row) {
        if (m_rowView) {
            m_layout->removeWidget(m_rowView);
            // Off the bar at once; deleted later, as it may be running a handler.
            m_rowView->hide();
            m_rowView->setParent(nullptr);
            m_rowView->deleteLater();
        }
        m_row = row;
        m_rowView = makeRow(row);
        m_rowView->refresh();
        m_layout->addWidget(m_rowView, 0, Qt::AlignVCenter);
        // Shown now rather than on a later turn, so the bar takes the row's size at once.
        if (isVisible())
            m_rowView->show();
    } else {
        m_rowView->refresh();
    }
    const bool live = m_model.phase().isLive();
    m_glow->setPaused(m_model.phase().is(RecorderPhase::Kind::paused));
    m_glow->setVisible(live);
    m_layout->activate();
    reportSize();
}

void BarView::resizeEvent(QResizeEvent* event)
{
    GlassPanel::resizeEvent(event);
    m_glow->setGeometry(cardRect().toRect());
    m_glow->raise();
    reportSize();
}

void BarView::reportSize()
{
    const QSize now = size();
    if (now == m_reportedSize)
        return;
    m_reportedSize = now;
    if (sizeChanged)
        sizeChanged();
}

} // namespace corvessa
