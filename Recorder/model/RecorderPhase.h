#pragma once

#include <QString>

namespace corvessa {

// Where a recording stands. Idle phases (ready, saved, failed) allow device,
// target and format changes; recording and paused are live; countdown and
// finishing are neither.
struct RecorderPhase {
    enum class Kind { countdown, saved, failed, ready, recording, paused, finishing };

    Kind kind = Kind::ready;
    int count = 0;   // countdown: the number on screen (0 while the folder is settled)
    QString url;     // saved: the movie's path
    QString message; // failed: the translated message

    static RecorderPhase countdown(int n) { return {Kind::countdown, n, {}, {}}; }
    static RecorderPhase saved(const QString& path) { return {Kind::saved, 0, path, {}}; }
    static RecorderPhase failed(const QString& text) { return {Kind::failed, 0, {}, text}; }
    static RecorderPhase ready() { return {}; }
    static RecorderPhase recording() { return {Kind::recording, 0, {}, {}}; }
    static RecorderPhase paused() { return {Kind::paused, 0, {}, {}}; }
    static RecorderPhase finishing() { return {Kind::finishing, 0, {}, {}}; }

    bool is(Kind k) const { return kind == k; }
    bool isIdle() const { return kind == Kind::ready || kind == Kind::saved || kind == Kind::failed; }
    bool isActive() const { return !isIdle(); }
    bool isLive() const { return kind == Kind::recording || kind == Kind::paused; }

    bool operator==(const RecorderPhase&) const = default;
};

} // namespace corvessa
