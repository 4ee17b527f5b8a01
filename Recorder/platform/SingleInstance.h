#pragma once

#include <QString>

#include <functional>
#include <memory>

namespace corvessa {

// One running program per user and X display: the first launch claims it,
// later launches hand it a message ("reopen", "action:<id>") and quit.
// Backends: SessionBusSingleInstance (a name on the session bus) and, where no
// session bus runs, SocketSingleInstance (a Unix socket in the runtime folder).
// Main thread.
class SingleInstance {
public:
    using OnMessage = std::function<void(const QString& message)>;

    virtual ~SingleInstance() = default;

    // True when no other instance runs: this one now holds the session, and the
    // messages of later launches reach `onMessage` on the main thread. False
    // when another instance holds it. Where the session cannot be claimed at all
    // it says so in the log and returns true, so the program still runs.
    virtual bool claim(OnMessage onMessage) = 0;
    // Hands the message to the instance holding the session; false when none took it.
    virtual bool send(const QString& message) = 0;

    // The process-wide service; setCurrent(nullptr) goes back to the automatic choice.
    static std::shared_ptr<SingleInstance> current();
    static void setCurrent(std::shared_ptr<SingleInstance> instance);
};

} // namespace corvessa
