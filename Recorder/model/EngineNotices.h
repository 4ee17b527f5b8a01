#pragma once

#include "model/Hint.h"
#include "platform/core/Scheduler.h"

#include <QString>

#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace corvessa {

class RecorderModel;

// The recorder model's notices: what the engine's and the camera's event lines
// show the user, the short-lived hint and the standing hints. The lines are
// told apart by one table, tested in its order, the first matching rule acting.
// Main thread.
class EngineNotices {
public:
    enum class Test { equals, startsWith, contains };
    enum class Effect {
        none,              // only logged
        screenUnavailable, // the fixed text of a lost screen
        clearScreenNotice,
        screenNotice,      // the line itself, translated
        trackLeftOut,      // the same, and the movie is saved with a warning: it lacks the track
        soundMissing,      // the line itself, translated, as the sound notice
        stopWithNotice,    // the line as the screen notice, then the ordinary stop
        audioMixUnavailable,
        cameraDisconnected,
        cameraNotice,      // the line itself, translated
        saveFailed,
    };
    struct Rule {
        Test test;
        std::string_view words;
        Effect effect;
    };
    // The rules in the order they are tested.
    static std::span<const Rule> rules();
    // What `line` does: the effect of the first rule it matches.
    static Effect classify(const QString& line);

    explicit EngineNotices(RecorderModel& model);

    // Logs the line, then acts on it.
    void handle(const QString& line);

    const std::optional<QString>& screenNotice() const { return m_screenNotice; }
    // Seconds of sound missing from the movie just saved and its camera files,
    // as the engine said them; it travels with the screen notice (and its
    // change signal).
    const std::optional<QString>& soundNotice() const { return m_soundNotice; }
    // A track the user asked for (the microphone) was left out of the recording;
    // cleared with the screen notice.
    bool trackLeftOut() const { return m_trackLeftOut; }
    // Clears the screen and the sound notice.
    void clearScreenNotice();
    const std::optional<QString>& hint() const { return m_hint; }
    // Shows a hint for 7 s.
    void flash(const QString& text);
    // Shows a hint that stays until dismissHint(): one the user must have read.
    void tell(const QString& text);
    void dismissHint();
    // Whether the hint shown stays until dismissed.
    bool hintStays() const { return m_hint && m_hintStays; }
    // The writer's reason when it failed during the recording, handed out once.
    std::optional<QString> takeSaveFailure();

    std::vector<Hint> hints() const;
    bool echoRisk() const;
    bool micNoSignal() const;

private:
    // Whether the notice changed (and said so).
    bool setScreenNotice(const std::optional<QString>& text);
    // The line as the screen notice, unless a save is under way with one standing.
    bool showTrackNotice(const QString& line);
    void setHint(const std::optional<QString>& text, bool stays);

    RecorderModel& m_model;
    std::optional<QString> m_screenNotice;
    std::optional<QString> m_soundNotice;
    bool m_trackLeftOut = false;
    std::optional<QString> m_hint;
    bool m_hintStays = false;
    Scheduler::TimerRef m_hintClear;
    std::optional<QString> m_saveFailure; // the writer's reason, when it failed mid-recording
};

} // namespace corvessa
