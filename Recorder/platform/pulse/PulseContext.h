#pragma once

#include "platform/AudioInputError.h"
#include "platform/pulse/PulseHandles.h"

#include <QMap>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include <pulse/context.h>
#include <pulse/introspect.h>
#include <pulse/operation.h>
#include <pulse/stream.h>
#include <pulse/thread-mainloop.h>

namespace corvessa {

// One connection to the PulseAudio server: a threaded main loop and a context,
// owned together. The constructor connects and waits until the context is ready;
// the server is never spawned. Calls into libpulse must hold the loop lock
// (Lock); callbacks run on the loop's thread with the lock already held. Any
// thread, under that lock.
class PulseContext {
public:
    // How long a connection attempt may take before it counts as failed.
    static constexpr int connectTimeoutMs = 5000;

    // Why a connection could not be made: the step that failed and the server's
    // error code from it (PA_OK where the step has none), for callers that word
    // their own message. detail() is the server's text, as for any AudioInputError.
    class ConnectError : public AudioInputError {
    public:
        enum class Step {
            MainLoop, // the threaded main loop could not be made or started
            Context,  // the context could not be made
            Connect,  // the server refused or failed
            Timeout,  // the server did not answer within the time allowed
        };
        ConnectError(Step step, int code, const QString& detail)
            : AudioInputError(Stage::Connect, detail), m_step(step), m_code(code) {}
        Step step() const { return m_step; }
        int code() const { return m_code; }

    private:
        Step m_step;
        int m_code;
    };

    // The client is named `clientName` on the server. Throws ConnectError.
    explicit PulseContext(const QString& clientName, int timeoutMs = connectTimeoutMs);
    ~PulseContext();
    PulseContext(const PulseContext&) = delete;
    PulseContext& operator=(const PulseContext&) = delete;

    pa_context* context() const { return m_context.get(); }
    pa_threaded_mainloop* mainloop() const { return m_loop.get(); }

    // Holds the loop lock; a no-op on the loop's own thread, where it is held.
    class Lock {
    public:
        explicit Lock(const PulseContext& c);
        ~Lock();
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

    private:
        pa_threaded_mainloop* m_loop;
        bool m_held;
    };

    // Lock held, not on the loop thread. Waits until the operation is done and
    // releases it. False when it was cancelled or the connection failed meanwhile.
    bool await(pa_operation* op) const;
    // Lock held, not on the loop thread. Waits until `done()` holds, the connection
    // fails or the deadline passes; returns `done()`.
    bool waitUntil(const std::function<bool()>& done, int timeoutMs = -1) const;
    // Wakes the waiters (from a callback).
    void signal() const;
    // Lock held, not on the loop thread; `stream` is on this context and was just
    // connected. Waits until it is ready or has failed; true when ready. Every
    // later change of its state wakes the waiters too.
    bool waitForStream(pa_stream* stream) const;

    bool isReady() const;
    // The server's text for the last error on this connection.
    QString errorText() const;
    static QString errorText(int code);

    // What the server reports, copied out of its callbacks.
    struct SinkEntry {
        uint32_t index = 0;
        QString name, description, monitorSource, activePort, activePortDescription, driver;
        uint32_t ownerModule = 0;
        pa_sample_spec spec{};
        QMap<QString, QString> properties;
    };
    struct SourceEntry {
        uint32_t index = 0;
        QString name, description;
        uint32_t monitorOfSink = 0; // PA_INVALID_INDEX unless a monitor
        pa_sample_spec spec{};
        QMap<QString, QString> properties;
    };
    struct SinkInputEntry {
        uint32_t index = 0;
        uint32_t sink = 0;
        QMap<QString, QString> properties;
    };
    struct Defaults {
        QString sink, source;
    };

    // Queries and commands, lock held, not on the loop thread. Nothing (or
    // false) when the server refused or the connection failed; errorText() says why.
    std::optional<Defaults> defaults() const;
    std::optional<std::vector<SinkEntry>> sinks() const;
    std::optional<std::vector<SourceEntry>> sources() const;
    std::optional<std::vector<SinkInputEntry>> sinkInputs() const;
    std::optional<uint32_t> loadModule(const QString& name, const QString& arguments) const;
    bool unloadModule(uint32_t index) const;
    bool setDefaultSink(const QString& name) const;
    bool moveSinkInput(uint32_t input, uint32_t sink) const;
    bool moveSinkInput(uint32_t input, const QString& sink) const;

    static QMap<QString, QString> properties(const pa_proplist* list);

    // A success callback for operations: stores the result in `*(int*)userdata`
    // and wakes the waiters. `userdata` must point at a SuccessSlot.
    struct SuccessSlot {
        const PulseContext* owner = nullptr;
        int success = 0;
    };
    static void successCallback(pa_context*, int success, void* userdata);
    // The same for operations on a stream.
    static void streamSuccessCallback(pa_stream*, int success, void* userdata);

private:
    // Disconnects, stops the loop's thread, then lets go of the context and the loop.
    void close();

    PulseMainloopPtr m_loop;
    PulseContextPtr m_context;
};

} // namespace corvessa
