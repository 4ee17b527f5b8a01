#pragma once

#include <QString>

#include <functional>
#include <memory>

namespace corvessa {

// Whether the program may use what it records: the screen, the microphones and
// the cameras. On Linux nobody prompts: access is what the system lets us open.
// The screen is granted when an X display with the extensions capture needs can
// be reached; the microphone when the sound server answers; the camera when its
// device node opens (a node refusing us is denied, and the log names the "video"
// group). Only the synthetic backend ever answers "not determined".
// Thread-safe; every answer is read afresh.
class Permissions {
public:
    enum class Access { notDetermined, denied, granted };
    enum class Kind { screen, microphone, camera };

    virtual ~Permissions() = default;

    virtual Access access(Kind kind) = 0;
    // Asks for access; `done` gets the answer, on any thread (the caller hops).
    virtual void request(Kind kind, std::function<void(Access)> done) = 0;
    // The system's privacy settings pane by its name ("Privacy_Microphone", ...).
    // Linux has no such panes: the request is logged and handed to the opener.
    virtual void openSettings(const QString& pane) = 0;

    bool granted(Kind kind) { return access(kind) == Access::granted; }

    // The process-wide service; unless one was installed, the one matching the
    // screen, audio and camera backends in use.
    static std::shared_ptr<Permissions> current();
    // Installs the process-wide service; null goes back to the automatic choice.
    static void setCurrent(std::shared_ptr<Permissions> permissions);
};

} // namespace corvessa
