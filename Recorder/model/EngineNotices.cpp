#include "model/EngineNotices.h"

#include "capture/CameraCapture.h"
#include "engine/EngineLines.h"
#include "model/RecorderModel.h"
#include "prefs/Loc.h"

#include <algorithm>
#include <array>

namespace corvessa {

namespace {

using Test = EngineNotices::Test;
using Effect = EngineNotices::Effect;

// The words a line opens with, up to its first punctuation or value: how the
// table knows a line the engine (or the camera) sends.
constexpr std::string_view lead(std::string_view line)
{
    std::string_view words = line.substr(0, std::min(line.find_first_of(",(:"), line.find("%@")));
    while (!words.empty() && words.back() == ' ')
        words.remove_suffix(1);
    return words;
}

constexpr std::array<EngineNotices::Rule, 21> kRules{{
    {Test::equals, EngineLines::completed.text(), Effect::none},
    // Before the containment rules: a lost screen may also be "skipping".
    {Test::startsWith, lead(EngineLines::screenLost.text()), Effect::screenUnavailable},
    {Test::startsWith, lead(EngineLines::screenRestored.text()), Effect::clearScreenNotice},
    {Test::startsWith, lead(EngineLines::areaMoved.text()), Effect::screenNotice},
    // A track, the system audio or the microphone stopped or left out; the
    // recording goes on. Words from the middle of several lines. The
    // microphone's own lines come first: the movie is saved without it.
    {Test::contains, "write error", Effect::screenNotice},
    {Test::startsWith, lead(EngineLines::micDead.text()), Effect::trackLeftOut},
    {Test::startsWith, lead(EngineLines::micGone.text()), Effect::trackLeftOut},
    {Test::startsWith, lead(EngineLines::micCouldNotConnect.text()), Effect::trackLeftOut},
    {Test::contains, "skipping", Effect::screenNotice},
    {Test::contains, "will not be recorded", Effect::screenNotice},
    {Test::contains, "could not be enabled", Effect::screenNotice},
    {Test::contains, "of sound arrived too late", Effect::soundMissing},
    {Test::contains, "of sound could not be written", Effect::soundMissing},
    {Test::contains, "that part of the recording has no", Effect::screenNotice},
    {Test::startsWith, lead(EngineLines::lowDisk.text()), Effect::stopWithNotice},
    {Test::startsWith, lead(EngineLines::windowClosed.text()), Effect::stopWithNotice},
    // The engines of other versions said these; ours never does.
    {Test::startsWith, "Audio mix unavailable:", Effect::audioMixUnavailable},
    {Test::startsWith, "Microphone switched", Effect::clearScreenNotice},
    // Before any other camera line: a lost camera is no plain notice.
    {Test::startsWith, lead(CameraCapture::disconnectedLine), Effect::cameraDisconnected},
    {Test::startsWith, "Camera", Effect::cameraNotice},
    {Test::contains, lead(EngineLines::saveFailed.text()), Effect::saveFailed},
}};

bool matches(const EngineNotices::Rule& rule, const QString& line)
{
    const QLatin1String words(rule.words.data(), qsizetype(rule.words.size()));
    switch (rule.test) {
    case Test::equals:
        return line == words;
    case Test::startsWith:
        return line.startsWith(words);
    case Test::contains:
        return line.contains(words);
    }
    return false;
}

} // namespace

std::span<const EngineNotices::Rule> EngineNotices::rules()
{
    return kRules;
}

EngineNotices::Effect EngineNotices::classify(const QString& line)
{
    for (const Rule& rule : kRules) {
        if (matches(rule, line))
            return rule.effect;
    }
    return Effect::none;
}

EngineNotices::EngineNotices(RecorderModel& model) : m_model(model) {}

void EngineNotices::handle(const QString& line)
{
    if (m_model.m_deps.log)
        m_model.m_deps.log(line);
    switch (classify(line)) {
    case Effect::none:
        break;
    case Effect::screenUnavailable:
        setScreenNotice(Loc::text(QStringLiteral("The screen is unavailable. The image will freeze, and recording will "
                                                 "resume automatically when it's back.")));
        break;
    case Effect::clearScreenNotice:
        setScreenNotice(std::nullopt);
        break;
    case Effect::screenNotice:
        showTrackNotice(line);
        break;
    case Effect::trackLeftOut: {
        const bool fresh = !std::exchange(m_trackLeftOut, true);
        if (!showTrackNotice(line) && fresh)
            emit m_model.changed(RecorderModel::Field::screenNotice);
        break;
    }
    case Effect::soundMissing: {
        // The movie and each camera file tell what they lack, one line each:
        // all of them stay.
        const QString text = Loc::reverse(line);
        if (!m_soundNotice || !m_soundNotice->contains(text)) {
            m_soundNotice = m_soundNotice ? *m_soundNotice + QLatin1Char(' ') + text : text;
            emit m_model.changed(RecorderModel::Field::screenNotice);
        }
        break;
    }
    case Effect::stopWithNotice:
        setScreenNotice(Loc::reverse(line));
        m_model.stop();
        break;
    case Effect::audioMixUnavailable:
        setScreenNotice(Loc::text(QStringLiteral(
            "Audio could not be combined. Your original recording is saved with separate audio tracks.")));
        break;
    case Effect::cameraDisconnected:
        m_model.cameraDisconnected();
        break;
    case Effect::cameraNotice:
        m_model.setCameraNotice(Loc::reverse(line));
        break;
    case Effect::saveFailed:
        // Only a save under way can fail: a late line must not undo a saved
        // movie. A writer that fails during the recording stops the engine by
        // itself; the model then stops too and reports that reason.
        if (m_model.phase().is(RecorderPhase::Kind::finishing)) {
            m_model.setPhase(RecorderPhase::failed(Loc::reverse(line)));
        } else if (m_model.phase().isLive()) {
            m_saveFailure = Loc::reverse(line);
            m_model.stop();
        }
        break;
    }
}

bool EngineNotices::showTrackNotice(const QString& line)
{
    // What a save runs into (a drained disk, a track that broke at the end)
    // follows from what ended the recording: the first cause stays.
    if (m_screenNotice && m_model.phase().is(RecorderPhase::Kind::finishing))
        return false;
    return setScreenNotice(Loc::reverse(line));
}

bool EngineNotices::setScreenNotice(const std::optional<QString>& text)
{
    if (m_screenNotice == text)
        return false;
    m_screenNotice = text;
    emit m_model.changed(RecorderModel::Field::screenNotice);
    return true;
}

void EngineNotices::clearScreenNotice()
{
    const bool hadSound = std::exchange(m_soundNotice, std::nullopt).has_value();
    const bool hadTrack = std::exchange(m_trackLeftOut, false);
    if (!setScreenNotice(std::nullopt) && (hadSound || hadTrack))
        emit m_model.changed(RecorderModel::Field::screenNotice);
}

std::optional<QString> EngineNotices::takeSaveFailure()
{
    return std::exchange(m_saveFailure, std::nullopt);
}

void EngineNotices::setHint(const std::optional<QString>& text, bool stays)
{
    const bool changed = m_hint != text || (text && m_hintStays != stays);
    m_hint = text;
    m_hintStays = text && stays;
    if (changed)
        emit m_model.changed(RecorderModel::Field::hint);
}

void EngineNotices::flash(const QString& text)
{
    // A hint the user has yet to dismiss is not pushed away by a passing one.
    if (hintStays())
        return;
    setHint(text, false);
    m_hintClear = m_model.m_scheduler.after(RecorderModel::hintSeconds, m_model.guarded([this, text] {
        if (m_hint == text && !m_hintStays)
            setHint(std::nullopt, false);
    }));
}

void EngineNotices::tell(const QString& text)
{
    m_hintClear.reset();
    setHint(text, true);
}

void EngineNotices::dismissHint()
{
    m_hintClear.reset();
    setHint(std::nullopt, false);
}

std::vector<Hint> EngineNotices::hints() const
{
    std::vector<Hint> list;
    if (echoRisk()) {
        list.push_back({QStringLiteral("headphones"),
                        Loc::text(QStringLiteral("Speakers are on; microphone will pick up echo. Please wear headphones."))});
    }
    if (micNoSignal())
        list.push_back({QStringLiteral("mic.slash"), Loc::text(QStringLiteral("No microphone signal. Check if it's connected."))});
    return list;
}

bool EngineNotices::echoRisk() const
{
    const RecorderModel& m = m_model;
    if (!m.systemAudio() || m.muteSpeakers())
        return false;
    bool byPhase = false;
    if (m.phase().is(RecorderPhase::Kind::ready))
        byPhase = m.sysAuthorized() && m.micOn() && m.micAuthorized() && !m.micMuted();
    else if (m.phase().is(RecorderPhase::Kind::recording))
        byPhase = m.recSysStarted() && m.recMicStarted() && m.micOn() && !m.micMuted();
    const auto& builtIn = m.m_deps.isBuiltInSpeaker;
    return byPhase && (!builtIn || builtIn());
}

bool EngineNotices::micNoSignal() const
{
    const RecorderModel& m = m_model;
    bool byPhase = false;
    if (m.phase().is(RecorderPhase::Kind::ready))
        byPhase = m.micOn() && m.micAuthorized() && !m.micMuted();
    else if (m.phase().is(RecorderPhase::Kind::recording))
        byPhase = m.recMicStarted() && m.micOn() && !m.micMuted();
    return byPhase && m.m_meters->micSilentSeconds() >= RecorderModel::silentMicHintSeconds;
}

} // namespace corvessa
