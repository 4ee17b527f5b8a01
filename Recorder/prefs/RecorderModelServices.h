#pragma once

#include "capture/ScreenVideoCapabilities.h"

#include <optional>

namespace corvessa {

// What the preferences code asks of the recorder model. The model library sits
// above this one, so the model implements this interface and registers itself
// once it exists; until then shared() is null and callers fall back on their own
// (a profile is then saved and loaded without any of the model's values).
// Main thread only.
//
// The profile members have do-nothing defaults only so that test stand-ins stay
// small; the recorder model overrides every one of them.
class RecorderModelServices {
public:
    virtual ~RecorderModelServices() = default;

    // Capabilities of the display that will be recorded; none while unknown.
    virtual std::optional<ScreenVideoCapabilities> screenCapabilities() const = 0;

    // ---- What travels with a profile (ProfileStore) ----

    // Whether the phase is an idle one (ready, saved or failed). A profile load
    // changes the model only then.
    virtual bool isIdle() const { return false; }

    // The gains in decibels. Setting one only publishes it; gainChanged() then
    // stores the gains and hands them to the engine.
    virtual double micGainDB() const { return 0; }
    virtual void setMicGainDB(double) {}
    virtual double sysGainDB() const { return 0; }
    virtual void setSysGainDB(double) {}
    virtual void gainChanged() {}

    // Mute the speakers while recording; the setter stores it and applies it.
    virtual bool muteSpeakers() const { return false; }
    virtual void setMuteSpeakers(bool) {}
    // Record the system audio; the setter stores it.
    virtual bool systemAudio() const { return false; }
    virtual void setSystemAudio(bool) {}

    // The remembered per-device formats: make the sizes and rates now in the
    // preferences the current display's and camera's choices, or put the
    // remembered choices back into the preferences. Each does nothing outside an
    // idle phase or while its device is unknown.
    virtual void applyProfileVideoChoices() {}
    virtual void restoreScreenChoice() {}
    virtual void restoreCameraChoice() {}

    // The registered model, or null.
    static RecorderModelServices* shared();
    // Registers the model (null unregisters). The caller keeps ownership and
    // unregisters before the object goes away.
    static void setShared(RecorderModelServices* services);
};

} // namespace corvessa
