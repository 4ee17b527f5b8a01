#pragma once

#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <sys/types.h>

namespace corvessa::test {

// A helper program run by a test (a sound server, a player). It is killed when
// the test program dies, and terminated when the object goes.
class ChildProcess {
public:
    // Starts `program` (a name looked up in PATH, or a path). `environment`, when
    // given, replaces the inherited one. Output goes to `logPath` (appended), or
    // nowhere. Null when the program cannot be found or started.
    static std::unique_ptr<ChildProcess> start(const QString& program, const QStringList& arguments,
                                               const std::optional<QStringList>& environment = std::nullopt,
                                               const QString& logPath = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return m_pid; }
    bool isRunning();
    // The wait status once it ended.
    std::optional<int> status() const { return m_status; }
    // Waits up to `timeoutMs` for it to end on its own.
    bool waitFinished(int timeoutMs);
    // SIGTERM, then SIGKILL after `graceMs`; reaps it.
    void terminate(int graceMs = 2000);

private:
    explicit ChildProcess(pid_t pid) : m_pid(pid) {}

    pid_t m_pid;
    std::optional<int> m_status;
};

} // namespace corvessa::test
