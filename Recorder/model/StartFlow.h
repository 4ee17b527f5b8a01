#pragma once

#include "engine/RecorderEngineConfig.h"
#include "platform/DisplayInfo.h"
#include "platform/core/Scheduler.h"

#include <QDateTime>
#include <QString>

#include <optional>

namespace corvessa {

class RecorderModel;

// The start of a recording: the checks of target, access and folder, the
// 3-2-1 countdown with its sounds, the settle delay, the movie's name and the
// engine's configuration, and the engine's start off the main thread. At most
// one start is under way. Main thread.
class StartFlow {
public:
    explicit StartFlow(RecorderModel& model);

    // Only from an idle phase with no start under way.
    void record();
    // Cancels a countdown (or the start cue after it) before the engine is
    // asked to start; false when there is none to cancel.
    bool cancelCountdown();
    // From record() until the recording runs or the start gave up.
    bool inFlight() const { return m_inFlight; }
    // The movie the last start named.
    const QString& outputFile() const { return m_outputFile; }
    bool chooseInitialSaveFolder();
    // "Corvessa 2024-03-05 14.07.09[ Screen].mov" in `folder`, with " 2", " 3"...
    // before the extension while such a file exists.
    static QString outputPath(const QString& folder, const QDateTime& start, bool separateCamera);

private:
    void run();
    void countdownStep(int n, std::optional<DisplayInfo> screen);
    void settleAndLaunch();
    void launch();
    void settled();
    RecorderEngineConfig makeConfig();

    RecorderModel& m_model;
    bool m_inFlight = false;
    bool m_engineStarting = false; // from launch() until the engine answered
    QString m_outputFile;
    Scheduler::TimerRef m_timer; // the next countdown step, or the launch after the settle delay
};

} // namespace corvessa
