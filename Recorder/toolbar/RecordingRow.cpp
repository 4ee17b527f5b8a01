#include "toolbar/RecordingRow.h"

#include "model/RecorderModel.h"
#include "prefs/HotKeyAction.h"
#include "prefs/Loc.h"
#include "prefs/Prefs.h"
#include "toolbar/BarElements.h"
#include "toolbar/FloatingMenu.h"
#include "toolbar/RecordingRowTexts.h"
#include "toolbar/RecordingTimeLabel.h"
#include "toolbar/SourceItems.h"
#include "toolbar/StatusGlyphView.h"
#include "toolbar/kit/TileButton.h"
#include "toolbar/TipModifier.h"
#include "toolbar/TipWindow.h"
#include "toolbar/ToolControls.h"

#include <QHBoxLayout>

namespace corvessa {

RecordingRow::RecordingRow(const BarElements& elements, bool compact, QWidget* parent)
    : BarRow(elements, parent)
    , m_compact(compact)
{
}

void RecordingRow::build()
{
    RecorderModel& model = m_elements.model();
    m_time = nullptr;
    m_statusBox = nullptr;
    add(layoutToggle());
    add(recordingStatus());
    const bool paused = model.phase().is(RecorderPhase::Kind::paused);
    auto* pause = m_elements.icon(paused ? QStringLiteral("play.fill") : QStringLiteral("pause.fill"), paused,
                                  m_elements.primary(), 18, [&model] { model.togglePause(); }, QStringLiteral("pause"));
    m_elements.tip(pause, paused ? QStringLiteral("Continue Recording") : QStringLiteral("Pause Recording"),
                   HotKeyAction::pause);
    add(pause);
    auto* stop = m_elements.icon(QStringLiteral("stop.fill"), false, BarElements::red(), 18,
                                 [&model] { model.requestStop(); }, QStringLiteral("stop"));
    m_elements.tip(stop, QStringLiteral("Stop Recording"), HotKeyAction::stop);
    add(stop);
    const SourceItems sources(m_elements);
    const ToolControls tools(m_elements);
    if (m_compact) {
        add(m_elements.divider());
        add(sources.compactAudio(true));
        add(sources.compactAudio(false));
        add(m_elements.divider());
        add(tools.toolsButton());
        return;
    }
    const BarServices& services = m_elements.services();
    const auto discard = [&model, &services](bool restart) {
        return [&model, &services, restart] {
            if (model.phase().isLive() && services.confirmDiscard)
                services.confirmDiscard(restart);
        };
    };
    auto* restart = m_elements.icon(QStringLiteral("arrow.counterclockwise"), false, m_elements.primary(), 18,
                                    discard(true), QStringLiteral("restart"));
    m_elements.tip(restart, QStringLiteral("Restart Recording"), HotKeyAction::restart);
    add(restart);
    auto* cancel = m_elements.icon(QStringLiteral("trash"), false, m_elements.primary(), 18, discard(false),
                                   QStringLiteral("cancel"));
    m_elements.tip(cancel, QStringLiteral("Cancel Recording"), HotKeyAction::cancel);
    add(cancel);
    add(m_elements.divider());
    add(sources.cameraItem());
    add(sources.micItem());
    add(sources.systemItem());
    if (QWidget* notice = m_elements.noticeLine(220))
        add(notice);
    add(m_elements.divider());
    add(tools.toolsCluster());
}

void RecordingRow::elapsedChanged()
{
    const QString time = RecordingTimeLabel::time(m_elements.model().elapsed());
    if (m_time)
        m_time->setValue(time);
    if (m_statusBox)
        m_statusBox->setAccessibleDescription(time);
}

QWidget* RecordingRow::layoutToggle()
{
    const RecorderPhase& phase = m_elements.model().phase();
    Prefs& prefs = m_elements.prefs();
    const BarServices& services = m_elements.services();
    const bool compact = prefs.compactRecordingBar();
    auto* toggle = m_elements.icon(RecordingRowTexts::layoutToggleSymbol(phase, compact), false,
                                   m_elements.secondary(), 13, [&prefs, &services] {
        if (services.menu)
            services.menu->dismiss();
        if (services.tips)
            services.tips->hide();
        prefs.setCompactRecordingBar(!prefs.compactRecordingBar());
    }, QStringLiteral("layout"));
    const QString text = RecordingRowTexts::layoutToggleText(phase, compact);
    toggle->setAccessibleName(text);
    if (services.tips)
        TipModifier::attach(toggle, *services.tips, text);
    return toggle;
}

QWidget* RecordingRow::recordingStatus()
{
    RecorderModel& model = m_elements.model();
    const BarServices& services = m_elements.services();
    const bool paused = model.phase().is(RecorderPhase::Kind::paused);
    auto* box = new QWidget;
    box->setObjectName(QStringLiteral("status"));
    box->setFixedHeight(36);
    auto* row = new QHBoxLayout(box);
    row->setContentsMargins(8, 0, 8, 0);
    row->setSpacing(6);
    row->addWidget(new StatusGlyphView(RecordingRowTexts::statusGlyph(paused, model.currentPauseTier())));
    auto* time = new RecordingTimeLabel(RecordingTimeLabel::time(model.elapsed()));
    QPalette pal = time->palette();
    pal.setColor(QPalette::WindowText, paused ? m_elements.secondary() : m_elements.primary());
    time->setPalette(pal);
    row->addWidget(time);
    m_time = time;
    m_statusBox = box;
    box->setAccessibleName(paused ? model.pauseStatusAccessibilityLabel()
                                  : Loc::text(QStringLiteral("Recording status")));
    box->setAccessibleDescription(RecordingTimeLabel::time(model.elapsed()));
    if (services.tips) {
        TipModifier::attach(box, *services.tips,
                            paused ? model.pauseStatusTooltip() : Loc::text(QStringLiteral("Pause mode details")));
    }
    return box;
}

} // namespace corvessa
