// The recording row, the compact row and the tools they share with the ready row.
#include "toolbar/BarView.h"

#include "engine/compositor/PenPalette.h"
#include "model/RecorderModel.h"
#include "prefs/HotKeyAction.h"
#include "prefs/Loc.h"
#include "prefs/Prefs.h"
#include "toolbar/AnchorClick.h"
#include "toolbar/FloatingMenu.h"
#include "toolbar/IconTile.h"
#include "toolbar/RecordingRowTexts.h"
#include "toolbar/RecordingTimeLabel.h"
#include "toolbar/StatusGlyphView.h"
#include "toolbar/SymbolView.h"
#include "toolbar/TapOrHold.h"
#include "toolbar/TileButton.h"
#include "toolbar/TipModifier.h"
#include "toolbar/TipWindow.h"
#include "toolbar/ToolMenu.h"

#include <QHBoxLayout>
#include <QPainter>

namespace corvessa {

namespace {

// The pen colour swatch: a white-ringed dot of the current colour.
class PenSwatch : public QWidget {
public:
    explicit PenSwatch(QColor colour)
        : m_colour(colour)
    {
        setFixedSize(28, 36);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const QRectF dot(width() / 2.0 - 8, height() / 2.0 - 8, 16, 16);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor::fromRgbF(0, 0, 0, 0.35f));
        p.drawEllipse(dot.adjusted(-1, -1, 1, 1));
        p.setBrush(m_colour);
        p.setPen(QPen(Qt::white, 2));
        p.drawEllipse(dot);
    }

private:
    QColor m_colour;
};

} // namespace

void BarView::buildLive(bool compact)
{
    add(layoutToggle());
    add(recordingStatus());
    const bool paused = m_model.phase().is(RecorderPhase::Kind::paused);
    auto* pause = icon(paused ? QStringLiteral("play.fill") : QStringLiteral("pause.fill"), paused, primary(), 18,
                       [this] { m_model.togglePause(); }, QStringLiteral("pause"));
    tip(pause, paused ? QStringLiteral("Continue Recording") : QStringLiteral("Pause Recording"), HotKeyAction::pause);
    add(pause);
    auto* stop = icon(QStringLiteral("stop.fill"), false, red(), 18, [this] { m_model.requestStop(); },
                      QStringLiteral("stop"));
    tip(stop, QStringLiteral("Stop Recording"), HotKeyAction::stop);
    add(stop);
    if (compact) {
        add(divider());
        add(compactAudio(true));
        add(compactAudio(false));
        add(divider());
        add(toolsButton());
        return;
    }
    const auto discard = [this](bool restart) {
        return [this, restart] {
            if (m_model.phase().isLive() && m_services.confirmDiscard)
                m_services.confirmDiscard(restart);
        };
    };
    auto* restart = icon(QStringLiteral("arrow.counterclockwise"), false, primary(), 18, discard(true),
                         QStringLiteral("restart"));
    tip(restart, QStringLiteral("Restart Recording"), HotKeyAction::restart);
    add(restart);
    auto* cancel = icon(QStringLiteral("trash"), false, primary(), 18, discard(false), QStringLiteral("cancel"));
    tip(cancel, QStringLiteral("Cancel Recording"), HotKeyAction::cancel);
    add(cancel);
    add(divider());
    add(cameraItem());
    add(micItem());
    add(systemItem());
    if (QWidget* notice = noticeLine(220, 2))
        add(notice);
    add(divider());
    add(toolsCluster());
}

QWidget* BarView::noticeLine(double maxWidth, int maxLines)
{
    const auto& notice = m_model.screenNotice() ? m_model.screenNotice() : m_model.cameraNotice();
    if (!notice)
        return nullptr;
    QWidget* text = textLabel(*notice, 12, IconTile::orange(), int(maxWidth), maxLines);
    text->setObjectName(QStringLiteral("notice"));
    return text;
}

QWidget* BarView::layoutToggle()
{
    const RecorderPhase& phase = m_model.phase();
    const bool compact = m_prefs.compactRecordingBar();
    auto* toggle = icon(RecordingRowTexts::layoutToggleSymbol(phase, compact), false, secondary(), 13, [this] {
        if (m_services.menu)
            m_services.menu->dismiss();
        if (m_services.tips)
            m_services.tips->hide();
        m_prefs.setCompactRecordingBar(!m_prefs.compactRecordingBar());
    }, QStringLiteral("layout"));
    const QString text = RecordingRowTexts::layoutToggleText(phase, compact);
    toggle->setAccessibleName(text);
    if (m_services.tips)
        TipModifier::attach(toggle, *m_services.tips, text);
    return toggle;
}

QWidget* BarView::recordingStatus()
{
    const bool paused = m_model.phase().is(RecorderPhase::Kind::paused);
    auto* box = new QWidget;
    box->setObjectName(QStringLiteral("status"));
    box->setFixedHeight(36);
    auto* row = new QHBoxLayout(box);
    row->setContentsMargins(8, 0, 8, 0);
    row->setSpacing(6);
    row->addWidget(new StatusGlyphView(RecordingRowTexts::statusGlyph(paused, m_model.currentPauseTier())));
    auto* time = new RecordingTimeLabel(RecordingTimeLabel::time(m_model.elapsed()));
    QPalette pal = time->palette();
    pal.setColor(QPalette::WindowText, paused ? secondary() : primary());
    time->setPalette(pal);
    row->addWidget(time);
    m_time = time;
    m_statusBox = box;
    box->setAccessibleName(paused ? m_model.pauseStatusAccessibilityLabel() : Loc::text(QStringLiteral("Recording status")));
    box->setAccessibleDescription(RecordingTimeLabel::time(m_model.elapsed()));
    if (m_services.tips) {
        TipModifier::attach(box, *m_services.tips,
                            paused ? m_model.pauseStatusTooltip() : Loc::text(QStringLiteral("Pause mode details")));
    }
    return box;
}

QWidget* BarView::toolsCluster()
{
    auto* box = new QWidget;
    auto* row = new QHBoxLayout(box);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(2);
    row->addWidget(magnifierButton());
    row->addWidget(penControls());
    row->addWidget(prompterButton());
    return box;
}

void BarView::tapOrHold(QWidget* control, std::function<void()> tap, std::function<void(const QRect&)> hold)
{
    if (!m_services.scheduler)
        return;
    if (!hold)
        hold = [](const QRect&) {};
    auto* input = new TapOrHold(*m_services.scheduler, std::move(tap), std::move(hold), control);
    // The tile passes its children's presses to itself; this one takes them.
    input->setAttribute(Qt::WA_TransparentForMouseEvents, false);
    input->setGeometry(control->rect());
}

QWidget* BarView::magnifierButton()
{
    const bool region = m_prefs.focusMode() == 1;
    const bool on = m_model.focusOn();
    TileButton* button = icon(region ? QStringLiteral("plus.viewfinder") : QStringLiteral("plus.magnifyingglass"), on,
                              on ? IconTile::orange() : secondary(), 17, {}, QStringLiteral("magnifier"));
    tip(button, region ? QStringLiteral("Magnifier · Select Region") : QStringLiteral("Magnifier"), HotKeyAction::focus);
    // A hold opens the magnifier's settings card beside the button.
    tapOrHold(button, [this] {
        if (m_services.tools.tapMagnifier)
            m_services.tools.tapMagnifier();
        else if (m_services.tools.toggleFocus)
            m_services.tools.toggleFocus();
    }, [this](const QRect& anchor) {
        if (m_services.tools.openMagnifierPanel)
            m_services.tools.openMagnifierPanel(anchor);
    });
    return button;
}

QWidget* BarView::penControls()
{
    auto* box = new QWidget;
    auto* row = new QHBoxLayout(box);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    const bool on = m_model.penOn();
    TileButton* pen = icon(RecordingRowTexts::penSymbol(m_prefs.penTool()), on, on ? IconTile::orange() : secondary(),
                           17, {}, QStringLiteral("pen"));
    tip(pen, QStringLiteral("Pen"), HotKeyAction::pen);
    // A hold opens the pen-tool menu.
    tapOrHold(
        pen,
        [this] {
            if (m_services.tools.setPen)
                m_services.tools.setPen(!m_model.penOn());
        },
        [this](const QRect& anchor) {
            if (m_services.tools.showPenMenu)
                m_services.tools.showPenMenu(anchor);
        });
    row->addWidget(pen);
    auto* swatch = new PenSwatch(PenPalette::color(PenPalette::clampedIndex(m_prefs.penColor())));
    swatch->setObjectName(QStringLiteral("penColor"));
    tip(swatch, QStringLiteral("Pen Color"));
    auto* click = new AnchorClick([this](const QRect& anchor) {
        if (m_services.tools.openPenPalette)
            m_services.tools.openPenPalette(anchor);
    }, swatch);
    click->setGeometry(swatch->rect());
    row->addWidget(swatch);
    return box;
}

QWidget* BarView::prompterButton()
{
    const bool shown = m_services.tools.teleprompterShown && m_services.tools.teleprompterShown();
    auto* button = icon(QStringLiteral("text.justify.left"), shown, shown ? IconTile::orange() : secondary(), 17, [this] {
        if (m_services.tools.toggleTeleprompter)
            m_services.tools.toggleTeleprompter();
    }, QStringLiteral("prompter"));
    tip(button, QStringLiteral("Teleprompter"), HotKeyAction::prompter);
    return button;
}

QWidget* BarView::toolsButton()
{
    const bool active = m_model.focusOn() || m_model.penOn();
    auto* glyph = new SymbolView(QStringLiteral("wand.and.sparkles"), 17, active ? IconTile::orange() : secondary());
    QWidget* tile = menuTile(glyph, 40, [this] { return ToolMenu::tools(m_model, m_services.tools); },
                             QStringLiteral("Tools"));
    tile->setObjectName(QStringLiteral("tools"));
    return tile;
}

} // namespace corvessa
