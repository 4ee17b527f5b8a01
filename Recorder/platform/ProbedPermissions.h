#pragma once

#include "platform/Permissions.h"

#include <functional>
#include <mutex>

namespace corvessa {

// Permissions read from the system at each ask: one probe per kind (the
// loader gives the backends' own; a kind without a probe is granted, as for a
// synthetic backend). Nothing is ever "not determined" and a request asks
// nobody: it answers the access as it is now. Settings panes do not exist on
// Linux; a request for one is logged and handed to the opener, which tests
// and the program may set. Thread-safe; probes run on the asking thread.
class ProbedPermissions : public Permissions {
public:
    using Probe = std::function<Access()>;
    using SettingsOpener = std::function<void(const QString& pane)>;

    struct Probes {
        Probe screen;
        Probe microphone;
        Probe camera;
    };

    explicit ProbedPermissions(Probes probes, SettingsOpener opener = {});

    Access access(Kind kind) override;
    // Calls `done` at once, on the calling thread.
    void request(Kind kind, std::function<void(Access)> done) override;
    void openSettings(const QString& pane) override;

    void setSettingsOpener(SettingsOpener opener);

private:
    const Probes m_probes;
    std::mutex m_mutex; // guards m_opener
    SettingsOpener m_opener;
};

} // namespace corvessa
