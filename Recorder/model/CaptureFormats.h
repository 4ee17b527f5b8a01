#pragma once

#include "capture/ScreenVideoCapabilities.h"
#include "capture/VideoDeviceChoice.h"
#include "model/RangeMode.h"

#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

namespace corvessa {

class RecorderModel;

// The recorder model's capture formats: what the screen target offers, the
// device keys, and the choice remembered per display, range mode and camera,
// kept in step with the active preferences. Choices are written to the store
// only by the user, a profile and the one-time migration; restoring never
// writes. Main thread.
class CaptureFormats {
public:
    explicit CaptureFormats(RecorderModel& model);

    const std::optional<ScreenVideoCapabilities>& screenCapabilities() const { return m_screenCapabilities; }
    const std::optional<QString>& screenPreferenceKey() const { return m_screenPreferenceKey; }
    bool canEditScreenFormat() const;
    bool canEditCameraFormat() const;
    void refreshScreenCapabilities(bool force);
    void restoreScreenChoice();
    void restoreCameraChoice();
    void setScreenSize(int shortSide);
    void setScreenRate(int fps);
    void setCameraSize(const QString& sizeID);
    void setCameraRate(double rate);
    void applyProfileVideoChoices();
    // Older format settings become the current devices' choices, once.
    void migrate();
    // "screen:" + the display's uuid (its number when it has none) + ":" + the mode.
    QString screenKey(uint32_t display, RangeMode mode) const;
    static QString cameraKey(const QString& cameraID);
    // A choice into the active preferences.
    void applyScreen(const VideoDeviceChoice& choice);
    void applyCamera(const VideoDeviceChoice& choice);

private:
    void clear();
    // Idle, with a screen target and its key.
    bool screenChoiceOpen() const;
    // The user's choice, when `value` is offered: remembered for the target and applied.
    void chooseScreen(const std::vector<int>& offered, int value, const VideoDeviceChoice& choice);

    RecorderModel& m_model;
    std::optional<ScreenVideoCapabilities> m_screenCapabilities;
    std::optional<QString> m_screenPreferenceKey; // belongs to m_screenCapabilities
};

} // namespace corvessa
