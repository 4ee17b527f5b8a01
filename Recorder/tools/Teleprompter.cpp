#include "tools/Teleprompter.h"

#include "platform/DisplayList.h"
#include "platform/FloatingSurfaces.h"
#include "platform/QtScreenLayout.h"
#include "platform/core/ScreenCoordinates.h"
#include "platform/core/UserDefaults.h"
#include "toolbar/BarPlacement.h"
#include "toolbar/kit/FloatingWindow.h"
#include "tools/PrompterEditor.h"
#include "tools/PrompterPanel.h"

#include <QJsonArray>
#include <QScrollBar>
#include <QTextEdit>
#include <QWindow>

#include <algorithm>
#include <cmath>
#include <utility>

namespace corvessa {

namespace {

double stored(const UserDefaults& d, const QString& key, double fallback)
{
    return d.doubleValue(key).value_or(fallback);
}

// A point this far inside a saved frame's top-left corner must lie on a
// display for the frame to be used again.
constexpr double kSavedProbe = 10;
// The panel's frame is stored this long after the last move or resize.
constexpr int kFrameSaveDelayMs = 400;

} // namespace

Teleprompter::Teleprompter(Setup setup) : Teleprompter(std::move(setup), UserDefaults::standard()) {}

Teleprompter::Teleprompter(Setup setup, UserDefaults& defaults)
    : m_setup(std::move(setup))
    , m_defaults(defaults)
    , m_speed(sanitizedSpeed(stored(defaults, speedKey, defaultSpeed)))
    , m_opacity(sanitizedOpacity(stored(defaults, opacityKey, defaultOpacity)))
    , m_fontSize(sanitizedFontSize(stored(defaults, fontSizeKey, defaultFontSize)))
    , m_text(storable(defaults.string(textKey).value_or(QString())))
{
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(int(std::lround(tickSeconds * 1000)));
    connect(&m_timer, &QTimer::timeout, this, [this] { tick(); });
    m_frameSave.setSingleShot(true);
    m_frameSave.setInterval(kFrameSaveDelayMs);
    connect(&m_frameSave, &QTimer::timeout, this, [this] { storeFrame(); });
    m_textSave.setSingleShot(true);
    m_textSave.setInterval(textSaveDelayMs);
    connect(&m_textSave, &QTimer::timeout, this, [this] { saveText(); });
    TeleprompterServices::setShared(this);
}

Teleprompter::~Teleprompter()
{
    if (TeleprompterServices::shared() == this)
        TeleprompterServices::setShared(nullptr);
    if (m_frameSave.isActive())
        storeFrame();
    saveText();
    delete m_panel;
}

double Teleprompter::sanitizedSpeed(double value)
{
    if (!std::isfinite(value))
        return defaultSpeed;
    return std::max(value, 0.0);
}

double Teleprompter::sanitizedOpacity(double value)
{
    if (!std::isfinite(value))
        return defaultOpacity;
    return std::clamp(value, minOpacity, 1.0);
}

double Teleprompter::sanitizedFontSize(double value)
{
    if (!std::isfinite(value))
        return defaultFontSize;
    return std::clamp(value, minFontSize, maxFontSize);
}

void Teleprompter::setSpeed(double value)
{
    m_speed = sanitizedSpeed(value);
    m_defaults.setDouble(speedKey, m_speed);
    emit changed();
}

void Teleprompter::setOpacity(double value)
{
    m_opacity = sanitizedOpacity(value);
    m_defaults.setDouble(opacityKey, m_opacity);
    emit changed();
}

void Teleprompter::setFontSize(double value)
{
    m_fontSize = sanitizedFontSize(value);
    m_defaults.setDouble(fontSizeKey, m_fontSize);
    emit changed();
}

void Teleprompter::setText(const QString& text)
{
    if (text == m_text)
        return;
    m_text = text;
    // Every keystroke would rewrite the whole settings file.
    m_textUnsaved = true;
    m_textSave.start();
}

void Teleprompter::saveText()
{
    if (!m_textUnsaved)
        return;
    m_textUnsaved = false;
    m_textSave.stop();
    m_defaults.setString(textKey, storable(m_text));
}

QString Teleprompter::storable(const QString& text)
{
    return PrompterEditor::fitted(text, maxTextLength);
}

void Teleprompter::show()
{
    if (!m_panel)
        createPanel();
    m_panel->setWindowOpacity(m_opacity);
    setShown(true);
    // During a recording the recorded program keeps the keyboard.
    const bool recording = m_setup.recordingActive && m_setup.recordingActive();
    m_panel->setAttribute(Qt::WA_ShowWithoutActivating, recording);
    m_panel->show();
    m_panel->raise();
    m_setup.kit.raise(m_panel);
    if (!recording) {
        m_panel->activateWindow();
        m_panel->editor()->setFocus();
    }
}

void Teleprompter::hide()
{
    setPlaying(false);
    saveText();
    if (m_panel && m_panel->isVisible()) {
        if (m_frameSave.isActive()) {
            m_frameSave.stop();
            storeFrame();
        }
        m_panel->hide();
    }
    setShown(false);
}

void Teleprompter::setShown(bool shown)
{
    if (shown == m_shown)
        return;
    m_shown = shown;
    if (onShownChanged)
        onShownChanged(shown);
}

void Teleprompter::setPlaying(bool playing)
{
    if (playing == m_playing)
        return;
    m_playing = playing;
    if (playing) {
        m_last.start();
        m_timer.start();
    } else {
        m_timer.stop();
    }
    emit changed();
}

void Teleprompter::rewind()
{
    m_offset = 0;
    m_shownOffset = 0;
    if (m_panel)
        m_panel->editor()->verticalScrollBar()->setValue(0);
}

void Teleprompter::tick()
{
    // The real time since the last step, so the speed holds when ticks are late.
    const double seconds = double(m_last.nsecsElapsed()) / 1e9;
    m_last.restart();
    advance(seconds);
}

void Teleprompter::advance(double seconds)
{
    if (!m_panel)
        return;
    QScrollBar* bar = m_panel->editor()->verticalScrollBar();
    // The user scrolled, or the text was laid out anew: go on from there.
    if (bar->value() != m_shownOffset)
        m_offset = bar->value();
    const double end = std::max(bar->maximum(), 0);
    const double step = std::isfinite(seconds) && seconds > 0 ? seconds * m_speed : 0;
    m_offset = std::min(end, m_offset + step);
    // The bar counts whole points; the fraction stays in m_offset, so slow
    // speeds (40 pt/s is 0.67 pt a tick) still move.
    m_shownOffset = int(std::floor(m_offset));
    bar->setValue(m_shownOffset);
    if (m_offset >= end - endSlack)
        setPlaying(false);
}

GlobalRect Teleprompter::restoredFrame() const
{
    const std::vector<DisplayInfo> displays = DisplayList::current()->displays();
    if (const auto saved = m_defaults.array(frameKey); saved && saved->size() == 4) {
        const GlobalRect frame((*saved)[0].toDouble(NAN), (*saved)[1].toDouble(NAN), (*saved)[2].toDouble(NAN),
                               (*saved)[3].toDouble(NAN));
        const bool finite = std::isfinite(frame.x()) && std::isfinite(frame.y()) && std::isfinite(frame.width())
            && std::isfinite(frame.height());
        const GlobalPoint probe{frame.left() + kSavedProbe, frame.top() - kSavedProbe};
        const bool onScreen = std::any_of(displays.begin(), displays.end(),
                                          [&](const DisplayInfo& d) { return d.frame.contains(probe); });
        if (finite && onScreen)
            return {frame.bottomLeft(), QSizeF(std::max(frame.width(), minWidth), std::max(frame.height(), minHeight))};
    }
    const DisplayInfo* main = BarPlacement::primary(displays);
    const GlobalRect visible = main ? main->visibleFrame : GlobalRect();
    return {visible.center().x - defaultWidth / 2, visible.top() - defaultHeight - 20, defaultWidth, defaultHeight};
}

void Teleprompter::storeFrame()
{
    if (!m_panel)
        return;
    const GlobalRect frame = QtScreenLayout::current().toGlobalRect(QRectF(m_panel->geometry()));
    m_defaults.setArray(frameKey, QJsonArray{frame.x(), frame.y(), frame.width(), frame.height()});
}

void Teleprompter::createPanel()
{
    m_panel = new PrompterPanel(*this);
    m_setup.kit.prepare(m_panel, FloatingSurfaces::Options{SurfaceLevel::floating, false, false});
    // Unlike the other surfaces, the script's editor takes the keyboard.
    m_panel->setWindowFlag(Qt::WindowDoesNotAcceptFocus, false);
    const QRect geometry = QtScreenLayout::current().fromGlobal(restoredFrame()).toRect();
    m_panel->setGeometry(geometry);
    m_setup.kit.track(m_panel);
    m_panel->onGeometryChanged = [this] { m_frameSave.start(); };
}

} // namespace corvessa
